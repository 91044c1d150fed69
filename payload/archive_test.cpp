#include "qor/payload/archive.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using PayloadTest::Catch;
using QorTest::ScratchFolder;

namespace {

void PutU32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
}

void PutName(std::string& s, const std::wstring& units) {
  for (wchar_t c : units) {
    s.push_back(static_cast<char>(c & 0xFF));
    s.push_back(static_cast<char>(c >> 8));
  }
}

std::string Header(std::uint32_t count) {
  std::string s(QorArchiveFormat::kMagic, QorArchiveFormat::kMagicSize);
  PutU32(s, 0); // header size: not read
  PutU32(s, count);
  return s;
}

// Writer -> compressor -> decompressor into memory -> reader -> files.
struct Expanded {
  QorCompressLib::MemoryOutputStream stream;
  ArchiveReader reader;
};

std::unique_ptr<Expanded> Expand(const ArchiveWriter& writer) {
  std::ostringstream archive;
  writer.WriteTo(archive);
  const std::string packed = PayloadTest::Compress(archive.str());
  std::unique_ptr<Expanded> result(new Expanded);
  QorCompressLib::MemoryInputStream in(packed.data(), packed.size());
  QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
  codec.Decompress(in, result->stream, nullptr, nullptr, 0);
  result->reader.LoadFromMemory(result->stream.data(), result->stream.size());
  return result;
}

void ExpectCorrupted(const std::string& archive, const char* what) {
  ArchiveReader reader;
  auto error = Catch([&] { reader.LoadFromMemory(archive.data(), archive.size()); });
  ASSERT_TRUE(error) << what;
  EXPECT_EQ(QorArchiveFormat::kCorruptedError, error->GetCode()) << what;
  EXPECT_NE(std::wstring::npos, error->GetMessageText().find(L"Archive is corrupted.")) << what;
  EXPECT_EQ(0u, reader.GetEntryCount()) << what;
}

} // namespace

TEST(ArchiveWriter, LayoutOfTwoEntries) {
  ArchiveWriter writer;
  writer.AddEntry(L"123456789", "abc");  // 10 units with the zero
  writer.AddEntry(L"12345678901", "de"); // 12 units
  EXPECT_EQ(105u, writer.GetHeaderSize());
  const std::string a = writer.ToString();
  ASSERT_EQ(110u, a.size());
  EXPECT_EQ(0, std::memcmp(a.data(), "QorZuravazevezu.Archive.ZUKA\0", 29));
  std::string expected = Header(2);
  expected.replace(29, 4, std::string("\x69\0\0\0", 4));
  PutU32(expected, 10);
  PutName(expected, std::wstring(L"123456789") + L'\0');
  PutU32(expected, 3);
  PutU32(expected, 105);
  PutU32(expected, 12);
  PutName(expected, std::wstring(L"12345678901") + L'\0');
  PutU32(expected, 2);
  PutU32(expected, 108);
  expected += "abcde";
  EXPECT_EQ(expected, a);
}

TEST(ArchiveRoundTrip, WriterCodecReaderFiles) {
  struct Item {
    std::wstring name;
    std::string data;
  };
  PayloadTest::Random random(5);
  const std::vector<std::vector<Item>> archives = {
      {},
      {{L"empty.txt", ""}},
      {{L"VTRInstaller.exe", random.Bytes(50000)},
       {L"\u00e9t\u00e9 \u65e5\u672c\u8a9e \U0001F600.dat", "unicode"},
       {L"zero.bin", std::string(70000, '\0')}},
  };
  for (const auto& items : archives) {
    ArchiveWriter writer;
    for (const Item& item : items) {
      writer.AddEntry(item.name, item.data);
    }
    auto expanded = Expand(writer);
    ArchiveReader& reader = expanded->reader;
    EXPECT_TRUE(reader.IsBorrowed());
    ASSERT_EQ(items.size(), reader.GetEntryCount());
    ScratchFolder folder;
    for (unsigned i = 0; i < reader.GetEntryCount(); ++i) {
      EXPECT_EQ(items[i].name, reader.GetEntry(i).GetName());
      EXPECT_EQ(items[i].data.size(), reader.GetEntry(i).GetSize());
      ASSERT_EQ(1u, reader.GetEntry(i).GetChunks().size());
      EXPECT_EQ(reader.GetEntry(i).GetSize(), reader.GetEntry(i).GetChunks()[0]->GetCapacity());
      reader.Extract(i, folder.path());
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::string content;
      ASSERT_TRUE(PayloadTest::ReadFileBytes(folder.path() + items[i].name, content));
      EXPECT_EQ(items[i].data, content);
    }
    EXPECT_EQ(items.size(), folder.List().size());
  }
}

TEST(ArchiveReader, NameEndsAtTheFirstZeroUnit) {
  std::string a = Header(1);
  PutU32(a, 6);
  PutName(a, std::wstring(L"ab") + L'\0' + L'\0' + L"cd");
  PutU32(a, 2);
  PutU32(a, static_cast<std::uint32_t>(a.size() + 4));
  a += "xy";
  ArchiveReader reader;
  reader.LoadFromMemory(a.data(), a.size());
  ASSERT_EQ(1u, reader.GetEntryCount());
  EXPECT_EQ(L"ab", reader.GetEntry(0).GetName());
  ScratchFolder folder;
  reader.Extract(0, folder.path());
  std::string content;
  ASSERT_TRUE(PayloadTest::ReadFileBytes(folder.path() + L"ab", content));
  EXPECT_EQ("xy", content);
}

TEST(ArchiveReader, EntriesLocatedOnlyByOffset) {
  // Data before the table end and shared between entries is still read.
  std::string a = Header(2);
  PutU32(a, 2);
  PutName(a, std::wstring(L"a") + L'\0');
  PutU32(a, 4);
  PutU32(a, 0); // the magic's first bytes
  PutU32(a, 2);
  PutName(a, std::wstring(L"b") + L'\0');
  PutU32(a, 0);
  PutU32(a, static_cast<std::uint32_t>(a.size() + 4)); // empty entry at the very end
  ArchiveReader reader;
  reader.LoadFromMemory(a.data(), a.size());
  ScratchFolder folder;
  reader.Extract(0, folder.path());
  reader.Extract(1, folder.path());
  std::string content;
  ASSERT_TRUE(PayloadTest::ReadFileBytes(folder.path() + L"a", content));
  EXPECT_EQ("QorZ", content);
  ASSERT_TRUE(PayloadTest::ReadFileBytes(folder.path() + L"b", content));
  EXPECT_EQ("", content);
}

TEST(ArchiveReader, RejectsWhatIsNotAnArchiveOrRunsPastTheBuffer) {
  ExpectCorrupted("", "empty");
  ExpectCorrupted(Header(0).substr(0, 36), "shorter than the header");
  std::string noZero = Header(0);
  noZero[28] = 'A';
  ExpectCorrupted(noZero, "29th byte not zero");
  std::string wrongMagic = Header(0);
  wrongMagic[3] = 'z';
  ExpectCorrupted(wrongMagic, "magic");
  ExpectCorrupted(Header(1), "table missing");
  ExpectCorrupted(Header(0xFFFFFFFFu) + std::string(64, '\0'), "huge count");

  std::string a = Header(1);
  PutU32(a, 3);
  ExpectCorrupted(a + "a\0b", "name cut short");
  std::string huge = Header(1);
  PutU32(huge, 0x80000001u); // 2 x n wraps to 2 in 32 bits
  ExpectCorrupted(huge + std::string(40, 'x'), "name length overflow");
  PutName(a, std::wstring(L"ab") + L'\0');
  ExpectCorrupted(a + std::string(7, '\0'), "size and offset cut short");

  const std::uint32_t dataAt = static_cast<std::uint32_t>(a.size() + 8);
  struct Case {
    std::uint32_t size, offset;
    const char* what;
  } cases[] = {
      {5, dataAt, "data runs past the end"},
      {1, dataAt + 4, "offset past the end"},
      {0x20, 0xFFFFFFF0u, "offset + size wraps in 32 bits"},
      {0xFFFFFFFFu, 1, "size wraps"},
  };
  for (const Case& c : cases) {
    std::string bad = a;
    PutU32(bad, c.size);
    PutU32(bad, c.offset);
    bad += "1234";
    ExpectCorrupted(bad, c.what);
  }
  // The same record with fitting numbers loads.
  std::string good = a;
  PutU32(good, 4);
  PutU32(good, dataAt);
  good += "1234";
  ArchiveReader reader;
  reader.LoadFromMemory(good.data(), good.size());
  EXPECT_EQ(1u, reader.GetEntryCount());
}

TEST(ArchiveReader, EmptyArchiveAndReload) {
  ArchiveWriter writer;
  writer.AddEntry(L"one", "1");
  const std::string one = writer.ToString();
  const std::string none = Header(0);
  ArchiveReader reader;
  EXPECT_EQ(0u, reader.GetEntryCount());
  EXPECT_FALSE(reader.IsBorrowed());
  reader.LoadFromMemory(one.data(), one.size());
  EXPECT_EQ(1u, reader.GetEntryCount());
  reader.LoadFromMemory(none.data(), none.size());
  EXPECT_EQ(0u, reader.GetEntryCount());
}

TEST(ArchiveReader, UnopenableTargetFailsWithFailbitAndReaderStaysUsable) {
  ArchiveWriter writer;
  writer.AddEntry(L"first.txt", "1");
  writer.AddEntry(L"locked.txt", "new");
  writer.AddEntry(L"last.txt", "3");
  const std::string a = writer.ToString();
  ArchiveReader reader;
  reader.LoadFromMemory(a.data(), a.size());
  const std::wstring failbit =
      L"Error while extracting file from archive. Details: ios_base::failbit set\n";

  enum Kind { ReadOnly, OpenWithoutSharing, Folder };
  for (Kind kind : {ReadOnly, OpenWithoutSharing, Folder}) {
    ScratchFolder folder;
    const std::wstring locked = folder.path() + L"locked.txt";
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (kind == Folder) {
      ASSERT_TRUE(CreateDirectoryW(locked.c_str(), nullptr));
    } else {
      PayloadTest::WriteFileBytes(locked, "old");
    }
    if (kind == ReadOnly) {
      ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
      // Wine keeps the attribute as a file permission, which an
      // administrator (root) account passes: nothing to test there.
      HANDLE probe = CreateFileW(locked.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
      if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        continue;
      }
    }
    if (kind == OpenWithoutSharing) {
      holder = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    }
    reader.Extract(0, folder.path());
    auto error = Catch([&] { reader.Extract(1, folder.path()); });
    ASSERT_TRUE(error) << kind;
    EXPECT_EQ(QorArchiveFormat::kExtractError, error->GetCode());
    EXPECT_EQ(failbit, error->GetMessageText()) << kind;
    EXPECT_EQ(nullptr, error->GetCause());
    if (holder != INVALID_HANDLE_VALUE) {
      CloseHandle(holder);
    }
    if (kind != Folder) {
      std::string content;
      ASSERT_TRUE(PayloadTest::ReadFileBytes(locked, content));
      EXPECT_EQ("old", content) << kind;
    }
    // The reader is unchanged and goes on with the next entry.
    reader.Extract(2, folder.path());
    EXPECT_EQ(3u, folder.List().size());
  }

  // A folder that does not exist fails the same way.
  ScratchFolder folder;
  auto error = Catch([&] { reader.Extract(0, folder.path() + L"missing\\"); });
  ASSERT_TRUE(error);
  EXPECT_EQ(failbit, error->GetMessageText());
}

TEST(ArchiveReader, IndexOutOfRangeIsRefused) {
  const std::string a = Header(0);
  ArchiveReader reader;
  reader.LoadFromMemory(a.data(), a.size());
  ScratchFolder folder;
  for (unsigned index : {0u, 1u, 0xFFFFFFFFu}) {
    auto error = Catch([&] { reader.Extract(index, folder.path()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(QorArchiveFormat::kExtractError, error->GetCode());
    EXPECT_TRUE(dynamic_cast<QorError::IndexError*>(error.get()));
  }
  EXPECT_TRUE(folder.List().empty());
}

// The names table: a name passes the check exactly when the table says the
// setup can write it, and every refusal says why.
TEST(ArchiveEntryNames, SafetyTable) {
  for (const PayloadTest::NameCase& c : PayloadTest::EntryNameCases()) {
    std::wstring reason;
    EXPECT_EQ(c.ok, QorArchiveFormat::IsSafeEntryName(c.name, &reason)) << c.name;
    EXPECT_EQ(c.ok, reason.empty()) << c.name;
  }
}

// Sets of names that land on one file in a Windows folder must be refused
// together; names that merely look alike must not be.
TEST(ArchiveEntryNames, NameClashTable) {
  struct Case {
    std::vector<std::wstring> names;
    bool clash;
  } cases[] = {
      {{L"VTRInstaller.exe", L"readme.txt"}, false},
      {{L"a.txt", L"A.TXT"}, true},
      {{L"same.txt", L"same.txt"}, true},
      {{L"VTRInstaller.exe", L"VTRInstaller.exe."}, true},
      {{L"VTRInstaller.exe", L"vtrinstaller.exe . ."}, true},
      {{L"setup", L"SETUP "}, true},
      {{L"\u00e9t\u00e9.txt", L"\u00c9T\u00c9.TXT"}, true},
      {{L"\u0434\u0430\u043d\u043d\u044b\u0435", L"\u0414\u0410\u041d\u041d\u042b\u0415"}, true},
      // Letter case by Unicode's full simple upper-case mapping, as NTFS's.
      {{L"\u0561.txt", L"\u0531.txt"}, true}, // Armenian
      {{L"\u03ac", L"\u0386"}, true},         // Greek with tonos
      {{L"\u0461", L"\u0460"}, true},         // Cyrillic omega
      {{L"\u01c6", L"\u01c5"}, true},         // a title-case letter
      {{L"\u00df", L"\u1e9e"}, false},        // no simple upper case
      {{L"[a]", L"{a}"}, false},
      {{L"\U00010428", L"\U00010400"}, false}, // beyond the basic plane
      {{L"VTRInstaller.exe", L"VTRINS~1.EXE"}, true},
      {{L"VTRInstaller.exe", L"vt1A2B~1.exe"}, true},
      {{L"VTRINS~1.EXE", L"VTRInstaller.exe"}, true},
      {{L"My Long Name.txt", L"MYLONG~2.TXT"}, true},
      {{L"\u00e9l\u00e8ve-long.txt", L"__EVE-~1.TXT"}, true},
      // Not the same extension, or the long name needs no short alias.
      {{L"VTRInstaller.exe", L"VTRINS~1.DLL"}, false},
      {{L"ABC.TXT", L"AB~1.TXT"}, false},
      {{L"readme.txt", L"RE~1.TXT"}, false},
      {{L"a~1.txt", L"b~1.txt"}, false},
      {{L"name~x.txt", L"namelong.txt.bak"}, false},
      {{}, false},
      // "_" in an alias stands for any character the short form cannot hold.
      {{L"+lus sign.txt", L"_L~1.TXT"}, true},
      {{L"plus sign.t+t", L"PL~1.T_T"}, true},
      {{L"plus sign.t+t", L"PL~1.TXT"}, false},
      // An alias-shaped name that is itself long is no alias of itself.
      {{L"a+~1.txt"}, false},
      {{L"a+~1.txt", L"A+~1.TXT"}, true},
      // The same among many: found wherever it lies.
      {{L"0.txt", L"1.txt", L"2.txt", L"3.txt", L"4.txt", L"5.txt", L"6.txt", L"2.TXT"}, true},
  };
  for (const Case& c : cases) {
    std::wstring reason;
    EXPECT_EQ(c.clash, QorArchiveFormat::FindNameClash(c.names, &reason))
        << (c.names.empty() ? L"" : c.names[0]) << L" / "
        << (c.names.size() > 1 ? c.names[1] : L"");
    EXPECT_EQ(c.clash, !reason.empty());
  }
}

TEST(ArchiveReader, EntriesLandingOnOneFileAreRefusedBeforeWriting) {
  ScratchFolder sandbox;
  ArchiveWriter writer;
  writer.AddEntry(L"VTRInstaller.exe", "checked installer");
  writer.AddEntry(L"VTRINSTALLER.EXE", "replacement");
  const std::string a = writer.ToString();
  ArchiveReader reader;
  auto error = Catch([&] { reader.LoadFromMemory(a.data(), a.size()); });
  ASSERT_TRUE(error);
  EXPECT_EQ(QorArchiveFormat::kExtractError, error->GetCode());
  EXPECT_EQ(0u, error->GetMessageText().find(L"Error while extracting file from archive. Details: "
                                             L"the entries \"VTRInstaller.exe\" and"))
      << error->GetMessageText();
  EXPECT_EQ(0u, reader.GetEntryCount());
  EXPECT_TRUE(sandbox.List().empty());
}

// Each name of the table beside the installer, through both of the
// launcher's readers: written under exactly that name, or refused with the
// reader's error before anything is written.
TEST(ArchiveReader, NamesTableThroughBothReaders) {
  const std::wstring refusal =
      L"Error while extracting file from archive. Details: unsafe entry name";
  for (const PayloadTest::NameCase& c : PayloadTest::EntryNameCases()) {
    ArchiveWriter writer;
    writer.AddEntry(L"VTRInstaller.exe", "MZ");
    writer.AddEntry(c.name, "payload");
    const std::string payload = PayloadTest::Compress(writer.ToString());
    for (bool streaming : {false, true}) {
      SCOPED_TRACE(streaming ? "streaming" : "in memory");
      ScratchFolder target;
      auto error = streaming ? PayloadTest::ExtractStreaming(payload, target.path(), 2)
                             : PayloadTest::ExtractInMemoryError(payload, target.path());
      if (!c.ok) {
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(QorArchiveFormat::kExtractError, error->GetCode()) << c.name;
        EXPECT_EQ(0u, error->GetMessageText().find(refusal)) << error->GetMessageText();
        EXPECT_TRUE(target.List().empty()) << c.name;
        continue;
      }
      ASSERT_FALSE(error) << c.name << L": " << error->GetMessageText();
      auto listed = target.List();
      std::sort(listed.begin(), listed.end());
      std::vector<std::wstring> expected = {L"VTRInstaller.exe", c.name};
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(expected, listed);
      std::string content;
      ASSERT_TRUE(PayloadTest::ReadFileBytes(target.path() + c.name, content)) << c.name;
      EXPECT_EQ("payload", content);
    }
  }
}
