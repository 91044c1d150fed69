// Extraction while the payload is decoded, against the in-memory path.
#include "qor/payload/extract_stream.h"

#include "test_support.h"

#include "qor/error/win32_error.h"

#include <gtest/gtest.h>

#include <algorithm>

using PayloadTest::Catch;
using PayloadTest::ExtractStreaming;
using PayloadTest::Random;
using QorTest::ScratchFolder;

namespace {

struct RawEntry {
  std::wstring name;
  std::uint32_t size;
  std::uint32_t offset; // from the end of the table
};

void PutU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

// An archive with the entries' data where the table says, in any order.
// namePadding zero units follow the first entry's name, to make the table
// that much longer.
std::string RawArchive(const std::vector<RawEntry>& entries, const std::string& data,
                       std::uint32_t namePadding = 0) {
  std::uint32_t tableSize = 2 * namePadding;
  for (const RawEntry& entry : entries) {
    tableSize += 4 + 2 * static_cast<std::uint32_t>(entry.name.size() + 1) + 8;
  }
  const std::uint32_t headerSize =
      static_cast<std::uint32_t>(QorArchiveFormat::kFixedHeaderSize) + tableSize;
  std::string out(QorArchiveFormat::kMagic, QorArchiveFormat::kMagicSize);
  PutU32(out, headerSize);
  PutU32(out, static_cast<std::uint32_t>(entries.size()));
  for (const RawEntry& entry : entries) {
    const std::uint32_t padding = &entry == &entries.front() ? namePadding : 0;
    PutU32(out, static_cast<std::uint32_t>(entry.name.size() + 1) + padding);
    for (wchar_t c : entry.name) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
    out.append(2 + 2 * static_cast<std::size_t>(padding), '\0');
    PutU32(out, entry.size);
    PutU32(out, headerSize + entry.offset);
  }
  return out + data;
}

std::string ReadOrMissing(const std::wstring& path) {
  std::string content;
  return PayloadTest::ReadFileBytes(path, content) ? content : "(missing)";
}

// A system call that fails (ERROR_PATH_NOT_FOUND), so that a stale system
// error is at hand.
void FailACall() {
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(L"C:\\no such folder\\no such file"));
}

// The entries' files in a folder, as the setup makes them, with a failing
// system call at every checkpoint; with readOnly, the files are opened for
// reading only, so that every write fails. stopAt: the checkpoint (counted
// from 1) that raises error 777, once.
class TestFiles : public QorPayload::EntryFiles {
public:
  explicit TestFiles(const std::wstring& folder, bool readOnly = false, unsigned stopAt = 0)
      : folder_(folder), readOnly_(readOnly), stopAt_(stopAt) {}
  Qor::UniqueFile Create(const std::wstring& name) override {
    return Qor::UniqueFile(CreateFileW((folder_ + name).c_str(),
                                       readOnly_ ? GENERIC_READ : GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  void Checkpoint() override {
    FailACall();
    if (++checkpoints_ == stopAt_) {
      QorError::RaiseError(777, L"stop");
    }
  }
  unsigned checkpoints() const { return checkpoints_; }

private:
  const std::wstring folder_;
  const bool readOnly_;
  const unsigned stopAt_;
  unsigned checkpoints_ = 0;
};

std::unique_ptr<QorError::Exception> Extract(const std::string& payload, TestFiles& files) {
  return Catch([&] {
    QorPayload::ExtractStream(payload.data(), payload.size(), files, nullptr, nullptr, 0, 2);
  });
}

} // namespace

TEST(ExtractStream, WritesEveryEntryWhetherInOrderOrNot) {
  Random random(3);
  const std::string a = random.Bytes(1500000);
  const std::string b(3000000, 'b');
  const std::string c = "third";
  struct Case {
    const char* name;
    std::string archive;
  } cases[] = {
      // Entries back to back, one of no bytes, one of no bytes at the very end.
      {"in order", RawArchive({{L"a.bin", 1500000, 0},
                               {L"empty", 0, 1500000},
                               {L"b.bin", 3000000, 1500000},
                               {L"c.txt", 5, 4500000},
                               {L"last", 0, 4500005}},
                              a + b + c)},
      // Gaps and trailing bytes are skipped.
      {"in order with gaps",
       RawArchive({{L"a.bin", 1500000, 10},
                   {L"empty", 0, 1500010},
                   {L"b.bin", 3000000, 1500020},
                   {L"c.txt", 5, 4500020},
                   {L"last", 0, 4500025}},
                  std::string(10, 'g') + a + std::string(10, 'g') + b + c + "trailing")},
      {"out of order", RawArchive({{L"c.txt", 5, 4500000},
                                   {L"empty", 0, 0},
                                   {L"b.bin", 3000000, 1500000},
                                   {L"a.bin", 1500000, 0},
                                   {L"last", 0, 4500005}},
                                  a + b + c)},
      // Two entries share bytes.
      {"overlapping", RawArchive({{L"a.bin", 1500000, 0},
                                  {L"empty", 0, 0},
                                  {L"b.bin", 3000000, 1500000},
                                  {L"c.txt", 5, 4500000},
                                  {L"last", 0, 4500000}},
                                 a + b + c)},
  };
  for (const Case& test : cases) {
    const std::string payload = PayloadTest::Compress(test.archive);
    for (unsigned threads : {1u, 3u}) {
      SCOPED_TRACE(std::string(test.name) + ", " + std::to_string(threads) + " threads");
      ScratchFolder folder;
      auto error = ExtractStreaming(payload, folder.path(), threads);
      ASSERT_FALSE(error) << error->GetCode();
      EXPECT_TRUE(ReadOrMissing(folder.path() + L"a.bin") == a);
      EXPECT_TRUE(ReadOrMissing(folder.path() + L"b.bin") == b);
      EXPECT_EQ(c, ReadOrMissing(folder.path() + L"c.txt"));
      EXPECT_EQ("", ReadOrMissing(folder.path() + L"empty"));
      EXPECT_EQ("", ReadOrMissing(folder.path() + L"last"));
      EXPECT_EQ(5u, folder.List().size());
    }
  }
}

TEST(ExtractStream, RefusesWhatTheInMemoryPathRefusesBeforeWritingNames) {
  const std::string data = "first" + std::string(200000, 's') + "third";
  struct Case {
    const char* name;
    std::string payload;
    int code;
    const wchar_t* text; // part of the message
    bool nothingWritten;
    bool folderInTheWay = false; // a folder b.txt exists in the target folder
  } cases[] = {
      {"unsafe name after a good one",
       PayloadTest::Compress(RawArchive(
           {{L"good.txt", 5, 0}, {L"..\\evil.txt", 200000, 5}, {L"c.txt", 5, 200005}}, data)),
       QorArchiveFormat::kExtractError, L"unsafe entry name \"..\\evil.txt\"", true},
      {"names that land on one file",
       PayloadTest::Compress(RawArchive(
           {{L"good.txt", 5, 0}, {L"b.txt", 200000, 5}, {L"GOOD.TXT", 5, 200005}}, data)),
       QorArchiveFormat::kExtractError, L"would be written to one file", true},
      {"entry past the end",
       PayloadTest::Compress(
           RawArchive({{L"good.txt", 5, 0}, {L"b.txt", 200000, 5}, {L"c.txt", 6, 200005}}, data)),
       QorArchiveFormat::kCorruptedError, L"Archive is corrupted.", false},
      {"not an archive", PayloadTest::Compress(std::string(5000, 'x')),
       QorArchiveFormat::kCorruptedError, L"Archive is corrupted.", true},
      {"table cut short",
       PayloadTest::Compress(
           RawArchive({{L"good.txt", 5, 0}, {L"b.txt", 200000, 5}}, data).substr(0, 60)),
       QorArchiveFormat::kCorruptedError, L"Archive is corrupted.", true},
      {"entry that cannot be created",
       PayloadTest::Compress(
           RawArchive({{L"good.txt", 5, 0}, {L"b.txt", 200000, 5}, {L"c.txt", 5, 200005}}, data)),
       QorArchiveFormat::kExtractError,
       L"Error while extracting file from archive. Details: ios_base::failbit set", false, true},
      {"damaged stream after a damaged table",
       [&] {
         std::string s = PayloadTest::Compress(std::string(5000, 'x'));
         s[s.size() - 3] ^= 0x10;
         return s;
       }(),
       QorCompressLib::kStreamEndMissing, L"Unable to find the end of compressed stream.", true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    auto prepare = [&](ScratchFolder& folder) {
      if (test.folderInTheWay) {
        ASSERT_TRUE(CreateDirectoryW((folder.path() + L"b.txt").c_str(), nullptr));
      }
    };
    ScratchFolder before;
    prepare(before);
    EXPECT_EQ(test.code, PayloadTest::ExtractInMemory(test.payload, before.path()));
    for (unsigned threads : {1u, 2u}) {
      ScratchFolder folder;
      prepare(folder);
      auto error = ExtractStreaming(test.payload, folder.path(), threads);
      ASSERT_TRUE(error);
      EXPECT_EQ(test.code, error->GetCode());
      EXPECT_NE(std::wstring::npos, error->GetMessageText().find(test.text))
          << error->GetMessageText().c_str();
      if (test.nothingWritten) {
        EXPECT_TRUE(folder.List().empty());
      }
    }
  }
}

// Archives stored out of order are expanded whole and then written by the
// same checks as ArchiveReader, but without its file stream: the same
// error, the same text and the same files on disk as the in-memory path.
TEST(ExtractStream, OutOfOrderArchivesFailAsTheInMemoryPathDoes) {
  const std::string data = "first" + std::string(200000, 's') + "third";
  struct Case {
    const char* name;
    std::vector<RawEntry> entries;
    bool folderInTheWay; // a folder c.txt exists in the target folder
  } cases[] = {
      {"unsafe name",
       {{L"c.txt", 5, 200005}, {L"..\\evil.txt", 200000, 5}, {L"a.txt", 5, 0}},
       false},
      {"names that land on one file",
       {{L"c.txt", 5, 200005}, {L"b.txt", 200000, 5}, {L"C.TXT", 5, 0}},
       false},
      {"entry past the end",
       {{L"c.txt", 5, 200005}, {L"b.txt", 200000, 5}, {L"a.txt", 6, 200005}},
       false},
      {"folder in the way", {{L"a.txt", 5, 200005}, {L"c.txt", 200000, 5}}, true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string payload = PayloadTest::Compress(RawArchive(test.entries, data));
    auto prepare = [&](ScratchFolder& folder) {
      if (test.folderInTheWay) {
        ASSERT_TRUE(CreateDirectoryW((folder.path() + L"c.txt").c_str(), nullptr));
      }
    };
    ScratchFolder before;
    prepare(before);
    auto expected = PayloadTest::ExtractInMemoryError(payload, before.path());
    ASSERT_TRUE(expected);
    for (unsigned threads : {1u, 2u}) {
      ScratchFolder folder;
      prepare(folder);
      auto error = ExtractStreaming(payload, folder.path(), threads);
      ASSERT_TRUE(error);
      EXPECT_EQ(expected->GetCode(), error->GetCode());
      if (expected->GetCode() == QorArchiveFormat::kExtractError) {
        // (The corrupted-archive error also names the thread's last system
        // error, which differs between the two paths.)
        EXPECT_EQ(expected->GetMessageText(), error->GetMessageText());
      }
      EXPECT_EQ(before.List(), folder.List());
      for (const std::wstring& name : before.List()) {
        EXPECT_EQ(ReadOrMissing(before.path() + name), ReadOrMissing(folder.path() + name));
      }
    }
  }
}

// The table is read again only once twice the bytes are there: a table that
// ends with the stream, between two such attempts, is still read, and the
// entry's data starts where the table's last record ends, however long its
// name field (here padded with zero units after the name).
TEST(ExtractStream, ReadsATableLongerThanTheDecodedPieces) {
  const std::uint32_t units = 350000; // about 700 KB of name field
  const std::uint32_t headerSize =
      static_cast<std::uint32_t>(QorArchiveFormat::kFixedHeaderSize) + 4 + 2 * units + 8;
  std::string archive(QorArchiveFormat::kMagic, QorArchiveFormat::kMagicSize);
  PutU32(archive, headerSize);
  PutU32(archive, 1);
  PutU32(archive, units);
  std::string name(2 * units, '\0');
  const std::string shortName = "a.txt";
  for (std::size_t i = 0; i < shortName.size(); ++i) {
    name[2 * i] = shortName[i];
  }
  archive += name;
  PutU32(archive, 5);
  PutU32(archive, headerSize);
  archive += "hello";
  const std::string payload = PayloadTest::Compress(archive);

  ScratchFolder before;
  ASSERT_EQ(0, PayloadTest::ExtractInMemory(payload, before.path()));
  ASSERT_EQ("hello", ReadOrMissing(before.path() + L"a.txt"));
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    ScratchFolder folder;
    auto error = ExtractStreaming(payload, folder.path(), threads);
    ASSERT_FALSE(error) << error->GetCode();
    EXPECT_EQ("hello", ReadOrMissing(folder.path() + L"a.txt"));
    EXPECT_EQ(1u, folder.List().size());
  }
}

// A fault of the archive's bytes is no failure of the system: its error has
// no system error, even right after a system call failed, on both paths.
TEST(ExtractStream, ArchiveFaultsCarryNoSystemError) {
  const std::string data = "first" + std::string(200000, 's') + "third";
  struct Case {
    const char* name;
    std::string archive;
  } cases[] = {
      {"not an archive", std::string(5000, 'x')},
      {"table cut short",
       RawArchive({{L"a.txt", 5, 0}, {L"b.txt", 200000, 5}}, data).substr(0, 60)},
      {"entry past the end",
       RawArchive({{L"a.txt", 5, 0}, {L"b.txt", 200000, 5}, {L"c.txt", 6, 200005}}, data)},
      {"entry past the end, out of order",
       RawArchive({{L"c.txt", 6, 200005}, {L"b.txt", 200000, 5}, {L"a.txt", 5, 0}}, data)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ScratchFolder folder;
    TestFiles files(folder.path());
    std::unique_ptr<QorError::Exception> errors[] = {
        Extract(PayloadTest::Compress(test.archive), files), Catch([&] {
          ArchiveReader reader;
          FailACall();
          reader.LoadFromMemory(test.archive.data(), test.archive.size());
        })};
    for (const auto& error : errors) {
      ASSERT_TRUE(error);
      EXPECT_EQ(nullptr, dynamic_cast<QorWin32::Win32Error*>(error.get()));
      EXPECT_EQ(L"[21010] Archive is corrupted.\n", error->GetFullText(true));
    }
  }
}

// A file that cannot be made or written: the in-memory path's words, caused
// by the system's error of that very call (not the stale one of the
// checkpoint before it), whether the archive is written as it arrives or
// from memory.
TEST(ExtractStream, FileFaultsCarryTheSystemErrorOfTheirCall) {
  const std::string data = "first" + std::string(200000, 's') + "third";
  const std::vector<RawEntry> inOrder = {
      {L"a.txt", 5, 0}, {L"b.txt", 200000, 5}, {L"c.txt", 5, 200005}};
  const std::vector<RawEntry> outOfOrder = {
      {L"c.txt", 5, 200005}, {L"b.txt", 200000, 5}, {L"a.txt", 5, 0}};
  struct Case {
    const char* name;
    const std::vector<RawEntry>& entries;
    bool readOnly; // otherwise b.txt is held open without sharing
    const wchar_t* details;
    DWORD systemCode;
  } cases[] = {
      {"made, in order", inOrder, false, L"ios_base::failbit set", ERROR_SHARING_VIOLATION},
      {"made, out of order", outOfOrder, false, L"ios_base::failbit set", ERROR_SHARING_VIOLATION},
      {"written, in order", inOrder, true, L"ios_base::badbit set", ERROR_ACCESS_DENIED},
      {"written, out of order", outOfOrder, true, L"ios_base::badbit set", ERROR_ACCESS_DENIED},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ScratchFolder folder;
    Qor::UniqueFile holder;
    if (!test.readOnly) {
      PayloadTest::WriteFileBytes(folder.path() + L"b.txt", "old");
      holder = Qor::UniqueFile(CreateFileW((folder.path() + L"b.txt").c_str(), GENERIC_READ, 0,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder);
    }
    TestFiles files(folder.path(), test.readOnly);
    auto error = Extract(PayloadTest::Compress(RawArchive(test.entries, data)), files);
    ASSERT_TRUE(error);
    EXPECT_EQ(QorArchiveFormat::kExtractError, error->GetCode());
    EXPECT_EQ(std::wstring(L"Error while extracting file from archive. Details: ") + test.details +
                  L"\n",
              error->GetMessageText());
    auto* cause = dynamic_cast<QorWin32::Win32Error*>(error->GetCause());
    ASSERT_NE(nullptr, cause);
    EXPECT_EQ(test.systemCode, cause->GetSystemCode());
    EXPECT_EQ(nullptr, cause->GetCause());
  }
}

// A stop raised by a checkpoint ends the extraction there, wherever it
// falls (before a file, while one is written, while the archive is held in
// memory or written from there): no checkpoint follows it.
TEST(ExtractStream, AStopEndsTheExtractionAtOnce) {
  const std::string big(9000000, 'b');
  const std::string archives[] = {
      RawArchive({{L"a.txt", 5, 0}, {L"b.bin", 9000000, 5}, {L"c.txt", 0, 9000005}}, "first" + big),
      RawArchive({{L"c.txt", 0, 9000005}, {L"b.bin", 9000000, 5}, {L"a.txt", 5, 0}}, "first" + big),
  };
  for (const std::string& archive : archives) {
    const std::string payload = PayloadTest::Compress(archive);
    ScratchFolder whole;
    TestFiles all(whole.path());
    ASSERT_FALSE(Extract(payload, all));
    const unsigned count = all.checkpoints();
    for (unsigned stopAt : {1u, 2u, 3u, count / 2, count - 1, count}) {
      SCOPED_TRACE(std::to_string(stopAt) + " of " + std::to_string(count));
      ScratchFolder folder;
      TestFiles files(folder.path(), false, stopAt);
      auto error = Extract(payload, files);
      ASSERT_TRUE(error);
      EXPECT_EQ(777, error->GetCode());
      EXPECT_EQ(stopAt, files.checkpoints());
    }
  }
}

// However long the table, and so however many bytes arrive while it is
// read, the streaming path writes what the in-memory path writes, in every
// order of the entries' data.
TEST(ExtractStream, LongTablesGiveTheInMemoryPathsFiles) {
  std::string a(6000000, 'a');
  for (std::size_t i = 0; i < a.size(); i += 1000) {
    a[i] = static_cast<char>(i / 1000);
  }
  const std::string b(1000000, 'b');
  const std::vector<RawEntry> orders[] = {
      {{L"a.bin", 6000000, 0},
       {L"empty", 0, 6000000},
       {L"b.bin", 1000000, 6000000},
       {L"last", 0, 7000000}},
      {{L"a.bin", 6000000, 10}, {L"b.bin", 1000000, 6000020}, {L"last", 0, 7000020}},
      {{L"b.bin", 1000000, 6000000}, {L"a.bin", 6000000, 0}, {L"empty", 0, 0}},
  };
  const std::string datas[] = {a + b, std::string(10, 'g') + a + std::string(10, 'g') + b, a + b};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    // About 9 MB of table, most of it the first name's padding.
    const std::string payload = PayloadTest::Compress(RawArchive(orders[i], datas[i], 4500000));
    ScratchFolder before;
    ASSERT_EQ(0, PayloadTest::ExtractInMemory(payload, before.path()));
    ScratchFolder folder;
    auto error = ExtractStreaming(payload, folder.path(), 2);
    ASSERT_FALSE(error) << error->GetCode();
    ASSERT_EQ(before.List(), folder.List());
    for (const std::wstring& name : before.List()) {
      EXPECT_TRUE(ReadOrMissing(before.path() + name) == ReadOrMissing(folder.path() + name));
    }
  }
}
