#include "qor/payload/extract_stream.h"

#include "archive_errors.h"
#include "bzip2_parallel.h"

#include "qor/payload/archive.h"
#include "qor/error/error.h"
#include "qor/payload/memory_block.h"
#include "qor/payload_core/processors.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace QorArchiveFormat;

namespace QorPayload {

namespace {

using ErrorPtr = std::unique_ptr<QorError::Exception>;

std::wstring ToWide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

// An entry's file that the system could not make or write: the in-memory
// path's words for it (details), caused by the system's error of that call
// when the call reported one.
ErrorPtr EntryFileError(const wchar_t* details, DWORD systemCode) {
  const std::wstring text = ExtractErrorText(details);
  ErrorPtr cause;
  if (systemCode != 0) {
    cause.reset(new QorWin32::Win32Error(kExtractError, nullptr, systemCode));
    cause->GetStream() << QorWin32::DescribeSystemError(systemCode);
  }
  return ErrorPtr(new QorError::Exception(kExtractError, text.c_str(), cause.release()));
}

// The texts the standard file stream gives for these failures.
ErrorPtr CreateEntryFile(EntryFiles& files, const std::wstring& name, Qor::UniqueFile& file) {
  Qor::UniqueFile made = files.Create(name);
  if (!made) {
    return EntryFileError(L"ios_base::failbit set", ::GetLastError());
  }
  file = std::move(made);
  return nullptr;
}

ErrorPtr WriteEntryFile(EntryFiles& files, HANDLE file, const unsigned char* bytes,
                        std::size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min(size, kCheckpointBytes));
    DWORD written = 0;
    if (!::WriteFile(file, bytes, piece, &written, nullptr)) {
      return EntryFileError(L"ios_base::badbit set", ::GetLastError());
    }
    if (written != piece) {
      return EntryFileError(L"ios_base::badbit set", 0); // no system error to give
    }
    files.Written(bytes, piece);
    bytes += piece;
    size -= piece;
  }
  return nullptr;
}

// True when each entry's data begins at or after the end of the previous
// one's (the first at or after tableEnd): the entries can then be written
// while their bytes pass.
bool InStreamOrder(const std::vector<EntryRecord>& table, std::uint64_t tableEnd) {
  std::uint64_t cursor = tableEnd;
  for (const EntryRecord& entry : table) {
    if (entry.offset < cursor) {
      return false;
    }
    cursor = static_cast<std::uint64_t>(entry.offset) + entry.size;
  }
  return true;
}

// The in-memory reader's checks of the names, in its order: each name, then
// names that land on one file.
ErrorPtr CheckNames(const std::vector<EntryRecord>& table) {
  try {
    std::vector<std::u16string> names;
    names.reserve(table.size());
    for (const EntryRecord& entry : table) {
      CheckEntryName(ToWide(entry.name));
      names.push_back(entry.name);
    }
    std::u16string reason;
    if (FindNameClash(names, &reason)) {
      RaiseExtractError(ToWide(reason));
    }
  } catch (QorError::Exception* error) {
    return ErrorPtr(error);
  }
  return nullptr;
}

void TellTable(EntryFiles& files, const std::vector<EntryRecord>& table) {
  std::vector<ListedEntry> entries;
  entries.reserve(table.size());
  for (const EntryRecord& entry : table) {
    entries.push_back(ListedEntry{ToWide(entry.name), entry.size});
  }
  files.TableRead(entries);
}

// Reads the archive from its decoded bytes as they arrive: the header and
// table first, then each entry's file is written while its bytes pass. An
// archive whose entries are not in stream order goes to memory whole and is
// read there as ArchiveReader reads it. A fault of the archive or of the
// writing stops the writing but not the decoding, so that a damaged stream
// is still reported first, as when the whole stream was expanded before
// the archive was read. A stop raised by a checkpoint ends everything at
// once.
class ArchiveStreamWriter : public QorPayload::ByteSink {
public:
  explicit ArchiveStreamWriter(EntryFiles& files) : files_(files) {}

  // A checkpoint before every few megabytes, whatever becomes of them: a
  // stop takes effect while a large file is written, or while a damaged
  // archive's bytes are still decoded.
  void Write(const char* data, std::size_t size) override {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    while (size > 0) {
      const std::size_t piece = std::min(size, kCheckpointBytes);
      files_.Checkpoint();
      Take(bytes, piece);
      bytes += piece;
      size -= piece;
    }
  }

  // After the whole stream was decoded: the archive's own errors, in the
  // order the in-memory reader finds them.
  void Finish() {
    if (stage_ == Stage::kTable) {
      ReadTableSoFar(); // the stream may have ended before the next attempt was due
    }
    if (stage_ == Stage::kInMemory) {
      ExtractWhole();
      return;
    }
    if (!tableRead_) {
      RaiseCorrupted();
    }
    try {
      CheckEntryBounds(table_, received_);
    } catch (QorPayload::Error* error) {
      delete error;
      RaiseCorrupted();
    }
    ReachEntries(); // entries of no bytes at the very end
    if (fault_) {
      throw fault_.release();
    }
  }

private:
  enum class Stage {
    kTable,    // every byte so far is in head_, the table not yet whole
    kEntries,  // bytes go to the entries' files, or are only counted once none is left
    kInMemory, // entries out of stream order: every byte goes to whole_
  };

  // One piece of decoded bytes, at most kCheckpointBytes.
  void Take(const unsigned char* bytes, std::size_t size) {
    switch (stage_) {
    case Stage::kTable:
      head_.insert(head_.end(), bytes, bytes + size);
      if (head_.size() >= nextTableAttempt_) {
        ReadTableSoFar();
      }
      return;
    case Stage::kEntries:
      WriteEntries(bytes, size);
      return;
    case Stage::kInMemory:
      AppendWhole(bytes, size);
      return;
    }
  }

  // Reads what has arrived of the header and table. Each attempt starts
  // from the beginning, so the next waits until twice the bytes are there.
  void ReadTableSoFar() {
    std::uint64_t tableEnd = 0;
    try {
      if (!ReadTable(head_.data(), head_.size(), false, table_, &tableEnd)) {
        nextTableAttempt_ = 2 * head_.size();
        return;
      }
    } catch (QorPayload::Error* error) {
      delete error; // the magic is wrong: Finish reports the archive as corrupted
      received_ = head_.size();
      std::vector<unsigned char>().swap(head_);
      Stop(nullptr);
      return;
    }
    tableRead_ = true;
    std::vector<unsigned char> head;
    head.swap(head_);
    const unsigned char* bytes = head.data();
    std::size_t size = head.size();
    if (!InStreamOrder(table_, tableEnd)) {
      // The bytes so far and all that follow go to memory.
      stage_ = Stage::kInMemory;
      whole_.reset(new QorCompressLib::MemoryBlock());
    } else if (ErrorPtr fault = CheckNames(table_)) {
      received_ = size;
      Stop(std::move(fault));
      return;
    } else {
      TellTable(files_, table_);
      stage_ = Stage::kEntries;
      received_ = tableEnd;
      bytes += static_cast<std::size_t>(tableEnd);
      size -= static_cast<std::size_t>(tableEnd);
    }
    // The bytes held so far go on as if they arrived now, with the
    // checkpoints they would have had.
    while (size > 0) {
      const std::size_t piece = std::min(size, kCheckpointBytes);
      if (stage_ == Stage::kInMemory) {
        AppendWhole(bytes, piece);
      } else {
        WriteEntries(bytes, piece);
      }
      bytes += piece;
      size -= piece;
      if (size > 0) {
        files_.Checkpoint();
      }
    }
  }

  void AppendWhole(const unsigned char* bytes, std::size_t size) {
    if (!whole_->Append(bytes, size)) {
      // As the codec reports an output stream that cannot take more.
      const std::u16string text = QorCompressLib::kWriteFailedText;
      QorError::RaiseError(QorCompressLib::kDecompressWriteError,
                           std::wstring(text.begin(), text.end()).c_str());
    }
  }

  // Streams bytes that start at archive offset received_ into the entries'
  // files, skipping the bytes between entries.
  void WriteEntries(const unsigned char* bytes, std::size_t size) {
    for (;;) {
      ReachEntries();
      if (next_ == table_.size() || size == 0) {
        break;
      }
      const EntryRecord& entry = table_[next_];
      std::size_t step = 0;
      if (received_ < entry.offset) {
        step = static_cast<std::size_t>(std::min<std::uint64_t>(size, entry.offset - received_));
      } else {
        const std::uint64_t end = static_cast<std::uint64_t>(entry.offset) + entry.size;
        step = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - received_));
        if (ErrorPtr fault = WriteEntryFile(files_, file_.get(), bytes, step)) {
          Stop(std::move(fault));
        }
      }
      bytes += step;
      size -= step;
      received_ += step;
    }
    received_ += size;
  }

  // Opens the next entry's file once its bytes begin, closes it once they
  // are all written; entries of no bytes are made here.
  void ReachEntries() {
    while (next_ < table_.size()) {
      const EntryRecord& entry = table_[next_];
      if (received_ < entry.offset) {
        return;
      }
      if (!file_) {
        files_.Checkpoint();
        if (ErrorPtr fault = CreateEntryFile(files_, ToWide(entry.name), file_)) {
          Stop(std::move(fault));
          return;
        }
      }
      if (received_ < static_cast<std::uint64_t>(entry.offset) + entry.size) {
        return;
      }
      file_.reset();
      ++next_;
    }
  }

  // Stops writing: no entry is left, the bytes that follow are only
  // counted. fault (may be null) waits for Finish.
  void Stop(ErrorPtr fault) {
    fault_ = std::move(fault);
    file_.reset();
    next_ = table_.size();
    stage_ = Stage::kEntries;
  }

  // The archive held in memory: read (and its names checked) by
  // ArchiveReader, each entry written as ArchiveReader::Extract does, but
  // with the file writer of the streaming path.
  void ExtractWhole() {
    ArchiveReader reader;
    reader.LoadFromMemory(whole_->data(), whole_->size());
    std::vector<ListedEntry> entries;
    for (unsigned int i = 0; i < reader.GetEntryCount(); ++i) {
      entries.push_back(ListedEntry{reader.GetEntry(i).GetName(), reader.GetEntry(i).GetSize()});
    }
    files_.TableRead(entries);
    for (unsigned int i = 0; i < reader.GetEntryCount(); ++i) {
      const ArchiveEntry& entry = reader.GetEntry(i);
      files_.Checkpoint();
      Qor::UniqueFile file;
      if (ErrorPtr fault = CreateEntryFile(files_, entry.GetName(), file)) {
        throw fault.release();
      }
      for (const auto& chunk : entry.GetChunks()) {
        const unsigned char* bytes = chunk->GetData();
        std::size_t size = chunk->GetSize();
        while (size > 0) {
          const std::size_t piece = std::min(size, kCheckpointBytes);
          files_.Checkpoint();
          if (ErrorPtr fault = WriteEntryFile(files_, file.get(), bytes, piece)) {
            throw fault.release();
          }
          bytes += piece;
          size -= piece;
        }
      }
    }
  }

  EntryFiles& files_;
  Stage stage_ = Stage::kTable;
  // While the table is unread: every byte so far, and when to try again.
  std::vector<unsigned char> head_;
  std::size_t nextTableAttempt_ = 0;
  // Once it is read.
  bool tableRead_ = false;
  std::vector<EntryRecord> table_;
  // The archive offset of the next byte to arrive after the table.
  std::uint64_t received_ = 0;
  // The entry being written or next to be, and its file once open.
  std::size_t next_ = 0;
  Qor::UniqueFile file_;
  // Entries out of stream order: the whole archive so far.
  std::unique_ptr<QorCompressLib::MemoryBlock> whole_;
  // Why the writing stopped, reported by Finish after the archive's faults.
  ErrorPtr fault_;
};

// Each file by its path in a folder, replacing one of that name.
class FolderFiles : public EntryFiles {
public:
  explicit FolderFiles(const std::wstring& folder) : folder_(folder) {}
  Qor::UniqueFile Create(const std::wstring& name) override {
    const std::wstring path = folder_ + name;
    return Qor::UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  }

private:
  const std::wstring folder_;
};

} // namespace

void ExtractStream(const void* bytes, std::size_t size, EntryFiles& files,
                   CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                   unsigned threads) {
  ArchiveStreamWriter writer(files);
  QorCompressLib::DecompressBlocks(bytes, size, writer, callback, context, step,
                                   threads ? threads : QorPackThreads::DefaultDecodeThreads());
  writer.Finish();
}

void ExtractStream(const void* bytes, std::size_t size, const std::wstring& folder,
                   CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                   unsigned threads) {
  FolderFiles files(folder);
  ExtractStream(bytes, size, files, callback, context, step, threads);
}

} // namespace QorPayload
