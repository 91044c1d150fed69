#include "qor/payload/extract_stream.h"

#include "archive_errors.h"
#include "bzip2_parallel.h"

#include "qor/payload/archive.h"
#include "qor/error/error.h"
#include "qor/payload/memory_block.h"
#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace QorArchiveFormat;

namespace QorPayload {

namespace {

std::wstring ToWide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

// Reads the archive from its decoded bytes as they arrive: the header and
// table first, then each entry's file is written while its bytes pass. An
// archive whose entries are not in ascending, non-overlapping order goes to
// memory whole and is read there as before. A fault of the archive or of the
// writing stops the writing but not the decoding, so that a damaged stream
// is still reported first, as when the whole stream was expanded before
// the archive was read.
class ArchiveStreamWriter : public QorPayload::ByteSink {
public:
  explicit ArchiveStreamWriter(EntryFiles& files) : files_(files) {}

  // A checkpoint before every few megabytes, whatever becomes of them: a
  // stop takes effect while a large file is written, or while a damaged
  // archive's bytes are still decoded.
  void Write(const char* data, std::size_t size) override {
    while (size > 0) {
      const std::size_t piece = std::min(size, kCheckpointBytes);
      files_.Checkpoint();
      WritePiece(data, piece);
      data += piece;
      size -= piece;
    }
  }

  // After the whole stream was decoded: the archive's own errors, in the
  // order the in-memory reader finds them.
  void Finish() {
    if (mode_ == kTable) {
      ParseTable(); // the stream may have ended before the next attempt was due
    }
    if (mode_ == kInMemory) {
      ExtractWhole();
      return;
    }
    if (!tableRead_) {
      RaiseCorrupted();
    }
    try {
      CheckEntryBounds(entries_, received_);
    } catch (QorPayload::Error* error) {
      delete error;
      RaiseCorrupted();
    }
    if (pending_) {
      throw pending_.release();
    }
    Advance(); // entries of no bytes at the very end
    if (pending_) {
      throw pending_.release();
    }
  }

private:
  enum Mode { kTable, kStreaming, kInMemory, kDraining };

  // One piece of decoded bytes, by what the archive's reading has come to.
  void WritePiece(const char* data, std::size_t size) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    switch (mode_) {
    case kTable:
      head_.insert(head_.end(), bytes, bytes + size);
      if (head_.size() >= nextParse_) {
        ParseTable();
      }
      return;
    case kStreaming:
      Pass(bytes, size);
      return;
    case kInMemory:
      if (!whole_->Append(data, size)) {
        // As the codec reports an output stream that cannot take more.
        QorError::RaiseError(QorCompressLib::kDecompressWriteError,
                             L"Unable to write to the output stream.");
      }
      return;
    case kDraining:
      received_ += size;
      return;
    }
  }

  // The archive held in memory: read (and its names checked) by
  // ArchiveReader, each entry written as ArchiveReader::Extract does, but
  // with the file writer of the streaming path.
  void ExtractWhole() {
    ArchiveReader reader;
    reader.LoadFromMemory(whole_->data(), whole_->size());
    for (unsigned int i = 0; i < reader.GetEntryCount(); ++i) {
      const ArchiveEntry& entry = reader.GetEntry(i);
      Open(entry.GetName());
      for (const auto& chunk : entry.GetChunks()) {
        WriteToFile(chunk->GetData(), chunk->GetSize());
      }
      file_.reset();
    }
  }

  // Parses what has arrived of the header and table. Each attempt starts
  // from the beginning, so the next waits until twice the bytes are there.
  void ParseTable() {
    std::uint64_t tableEnd = 0;
    try {
      if (!ReadTable(head_.data(), head_.size(), false, entries_, &tableEnd)) {
        nextParse_ = 2 * head_.size();
        return;
      }
    } catch (QorPayload::Error* error) {
      delete error; // the magic is wrong: Finish reports the archive as corrupted
      Drain(nullptr);
      return;
    }
    parsed_ = static_cast<std::size_t>(tableEnd);
    tableRead_ = true;
    Start();
  }

  // The table is complete: choose how to read the rest.
  void Start() {
    std::uint64_t cursor = parsed_;
    for (const EntryRecord& entry : entries_) {
      if (entry.offset < cursor) {
        // Out of order or overlapping: the bytes so far and all that follow
        // go to memory.
        whole_.reset(new QorCompressLib::MemoryBlock());
        mode_ = kInMemory;
        std::vector<unsigned char> head;
        head.swap(head_);
        Write(reinterpret_cast<const char*>(head.data()), head.size());
        return;
      }
      cursor = static_cast<std::uint64_t>(entry.offset) + entry.size;
    }
    try {
      std::vector<std::u16string> names;
      names.reserve(entries_.size());
      for (const EntryRecord& entry : entries_) {
        names.push_back(entry.name);
      }
      for (const EntryRecord& entry : entries_) {
        CheckEntryName(ToWide(entry.name));
      }
      std::u16string reason;
      if (FindNameClash(names, &reason)) {
        RaiseExtractError(ToWide(reason));
      }
    } catch (QorError::Exception* error) {
      Drain(error);
      return;
    }
    mode_ = kStreaming;
    received_ = parsed_;
    std::vector<unsigned char> rest(head_.begin() + static_cast<std::ptrdiff_t>(parsed_),
                                    head_.end());
    std::vector<unsigned char>().swap(head_);
    Pass(rest.data(), rest.size());
  }

  // Stops writing; keeps error (owned) for Finish.
  void Drain(QorError::Exception* error) {
    pending_.reset(error);
    file_.reset();
    if (mode_ == kTable) {
      received_ = head_.size();
      std::vector<unsigned char>().swap(head_);
    }
    mode_ = kDraining;
  }

  // Streams bytes that start at archive offset received_ into the entries'
  // files.
  void Pass(const unsigned char* bytes, std::size_t size) {
    try {
      while (size > 0) {
        Advance();
        if (next_ >= entries_.size()) {
          received_ += size;
          return;
        }
        const EntryRecord& entry = entries_[next_];
        if (received_ < entry.offset) {
          const std::size_t skip =
              static_cast<std::size_t>(std::min<std::uint64_t>(size, entry.offset - received_));
          bytes += skip;
          size -= skip;
          received_ += skip;
          continue;
        }
        const std::uint64_t end = static_cast<std::uint64_t>(entry.offset) + entry.size;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, end - received_));
        WriteToFile(bytes, take);
        bytes += take;
        size -= take;
        received_ += take;
      }
      Advance();
    } catch (QorError::Exception* error) {
      received_ += size;
      Drain(error);
    }
  }

  // Opens the next entry's file once its bytes begin, closes it once they
  // are all written; entries of no bytes are made here.
  void Advance() {
    while (next_ < entries_.size()) {
      const EntryRecord& entry = entries_[next_];
      if (received_ < entry.offset) {
        return;
      }
      if (!file_) {
        Open(ToWide(entry.name));
      }
      if (received_ < static_cast<std::uint64_t>(entry.offset) + entry.size) {
        return;
      }
      file_.reset();
      ++next_;
    }
  }

  void Open(const std::wstring& name) {
    files_.Checkpoint();
    file_ = files_.Create(name);
    if (!file_) {
      // The texts the standard file stream gave for these failures.
      RaiseExtractError(L"ios_base::failbit set");
    }
  }

  // Into the file Open made, with a checkpoint before every few megabytes.
  void WriteToFile(const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
      files_.Checkpoint();
      const DWORD piece = static_cast<DWORD>(std::min(size, kCheckpointBytes));
      DWORD written = 0;
      if (!::WriteFile(file_.get(), bytes, piece, &written, nullptr) || written != piece) {
        file_.reset();
        RaiseExtractError(L"ios_base::badbit set");
      }
      bytes += piece;
      size -= piece;
    }
  }

  EntryFiles& files_;
  Mode mode_ = kTable;
  std::vector<unsigned char> head_;
  std::size_t nextParse_ = 0;
  std::size_t parsed_ = 0;
  bool tableRead_ = false;
  std::vector<EntryRecord> entries_;
  std::size_t next_ = 0;
  std::uint64_t received_ = 0;
  Qor::UniqueFile file_;
  std::unique_ptr<QorCompressLib::MemoryBlock> whole_;
  std::unique_ptr<QorError::Exception> pending_;
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
                                   threads ? threads : DefaultDecodeThreads());
  writer.Finish();
}

void ExtractStream(const void* bytes, std::size_t size, const std::wstring& folder,
                   CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                   unsigned threads) {
  FolderFiles files(folder);
  ExtractStream(bytes, size, files, callback, context, step, threads);
}

} // namespace QorPayload
