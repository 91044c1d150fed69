// Runs the built vtrpack.exe as its users do and checks what it leaves.
#include "qor/archive.h"

#include "../../payload/test_support.h"
#include "qor/test_process.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using PayloadTest::TempFolder;

namespace {

using Result = QorTest::RunResult;

std::wstring ToolPath() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"vtrpack.exe";
}

Result RunTool(const std::wstring& arguments) {
  return QorTest::RunCapturingOutput(QorTest::Quoted(ToolPath()) + L" " + arguments);
}

std::wstring Quote(const std::wstring& path) {
  std::wstring p = path;
  if (!p.empty() && p.back() == L'\\') {
    p.pop_back();
  }
  return L"\"" + p + L"\"";
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The folder holds only the files named.
void ExpectOnly(const TempFolder& folder, std::vector<std::wstring> names) {
  auto listed = folder.List();
  std::sort(listed.begin(), listed.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, listed);
}

} // namespace

TEST(Vtrpack, HelpAndUsageErrors) {
  Result help = RunTool(L"--help");
  EXPECT_EQ(0u, help.exitCode);
  EXPECT_NE(std::string::npos, help.output.find("pack FOLDER PAYLOAD"));
  EXPECT_NE(std::string::npos, help.output.find("stamp SETUP_EXE PAYLOAD OUT"));
  for (const wchar_t* arguments : {L"", L"frobnicate", L"pack onlyone", L"list"}) {
    Result r = RunTool(arguments);
    EXPECT_NE(0u, r.exitCode) << arguments;
    EXPECT_FALSE(r.output.empty()) << arguments;
  }
}

TEST(Vtrpack, PackListCheckStamp) {
  TempFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::Random random(17);
  const std::string installer = random.Bytes(40000);
  PayloadTest::WriteFileBytes(files + L"VTRInstaller.exe", installer);
  PayloadTest::WriteFileBytes(files + L"b.dat", std::string(100000, 'b'));
  PayloadTest::WriteFileBytes(files + L"A \u00e9t\u00e9.txt", "summer");
  PayloadTest::WriteFileBytes(files + L"empty", "");

  const std::wstring payload = scratch.path() + L"payload.bz2";
  Result pack = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  ASSERT_EQ(0u, pack.exitCode) << pack.output;
  std::string packed;
  ASSERT_TRUE(PayloadTest::ReadFileBytes(payload, packed));

  // Reproducible, and exactly the files in name order.
  const std::wstring again = scratch.path() + L"again.bz2";
  ASSERT_EQ(0u, RunTool(L"pack " + Quote(files) + L" " + Quote(again)).exitCode);
  std::string packedAgain;
  ASSERT_TRUE(PayloadTest::ReadFileBytes(again, packedAgain));
  EXPECT_EQ(packed, packedAgain);
  const std::string archive = PayloadTest::Decompress(packed);
  ArchiveReader reader;
  reader.LoadFromMemory(archive.data(), archive.size());
  ASSERT_EQ(4u, reader.GetEntryCount());
  EXPECT_EQ(L"A \u00e9t\u00e9.txt", reader.GetEntry(0).GetName());
  EXPECT_EQ(L"VTRInstaller.exe", reader.GetEntry(1).GetName());
  EXPECT_EQ(L"b.dat", reader.GetEntry(2).GetName());
  EXPECT_EQ(L"empty", reader.GetEntry(3).GetName());
  EXPECT_EQ(0, std::memcmp(reader.GetEntry(1).GetChunks()[0]->GetData(), installer.data(),
                           installer.size()));

  Result list = RunTool(L"list " + Quote(payload));
  ASSERT_EQ(0u, list.exitCode) << list.output;
  EXPECT_NE(std::string::npos, list.output.find("40000  VTRInstaller.exe"));
  EXPECT_NE(std::string::npos, list.output.find("A \xc3\xa9t\xc3\xa9.txt"));
  EXPECT_NE(std::string::npos, list.output.find("4 entries, 140006 bytes"));

  Result check = RunTool(L"check " + Quote(payload));
  EXPECT_EQ(0u, check.exitCode) << check.output;

  // Stamp a copy of a program (vtrpack itself stands in for the launcher).
  const std::wstring setup = scratch.path() + L"setup.exe";
  Result stamp =
      RunTool(L"stamp " + Quote(ToolPath()) + L" " + Quote(payload) + L" " + Quote(setup));
  ASSERT_EQ(0u, stamp.exitCode) << stamp.output;
  HMODULE module = LoadLibraryExW(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  HRSRC resource = FindResourceExW(module, L"ZUK", MAKEINTRESOURCEW(137),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_TRUE(resource);
  ASSERT_EQ(packed.size(), SizeofResource(module, resource));
  const void* bytes = LockResource(LoadResource(module, resource));
  EXPECT_EQ(0, std::memcmp(bytes, packed.data(), packed.size()));
  FreeLibrary(module);
  ExpectOnly(scratch, {L"files", L"payload.bz2", L"again.bz2", L"setup.exe"});
}

TEST(Vtrpack, RefusalsLeaveNothingAtTheOutput) {
  TempFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::WriteFileBytes(files + L"readme.txt", "no installer here");
  const std::wstring payload = scratch.path() + L"out.bz2";

  // Missing installer first, then a subfolder beside it.
  Result r = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  EXPECT_NE(0u, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("VTRInstaller.exe")) << r.output;
  PayloadTest::WriteFileBytes(files + L"VTRInstaller.exe", "MZ");
  ASSERT_TRUE(CreateDirectoryW((files + L"sub").c_str(), nullptr));
  r = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  EXPECT_NE(0u, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("subfolder")) << r.output;
  RemoveDirectoryW((files + L"sub").c_str());
  // A name shaped like the installer's short name would land on the same file.
  PayloadTest::WriteFileBytes(files + L"VTRINS~1.EXE", "MZ planted");
  r = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  EXPECT_NE(0u, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("VTRINS~1.EXE")) << r.output;
  DeleteFileW((files + L"VTRINS~1.EXE").c_str());

  r = RunTool(L"pack " + Quote(scratch.path() + L"missing") + L" " + Quote(payload));
  EXPECT_NE(0u, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("does not exist")) << r.output;

  // Broken payloads: check, list and stamp refuse them with the codec's text.
  const std::wstring broken = scratch.path() + L"broken.bz2";
  PayloadTest::WriteFileBytes(broken, "BZh9 not really");
  for (const wchar_t* command : {L"check ", L"list "}) {
    r = RunTool(command + Quote(broken));
    EXPECT_NE(0u, r.exitCode);
    EXPECT_NE(std::string::npos, r.output.find("Unable to find the end of compressed stream"))
        << r.output;
  }
  const std::wstring notArchive = scratch.path() + L"notarchive.bz2";
  PayloadTest::WriteFileBytes(notArchive, PayloadTest::Compress("just some text, no archive"));
  r = RunTool(L"check " + Quote(notArchive));
  EXPECT_NE(0u, r.exitCode);
  EXPECT_NE(std::string::npos, r.output.find("Archive is corrupted.")) << r.output;

  ArchiveWriter writer;
  writer.AddEntry(L"..\\evil.exe", "x");
  writer.AddEntry(L"VTRInstaller.exe", "MZ");
  const std::wstring unsafe = scratch.path() + L"unsafe.bz2";
  PayloadTest::WriteFileBytes(unsafe, PayloadTest::Compress(writer.ToString()));
  const std::wstring setup = scratch.path() + L"setup.exe";
  for (const std::wstring& arguments :
       {L"check " + Quote(unsafe),
        L"stamp " + Quote(ToolPath()) + L" " + Quote(unsafe) + L" " + Quote(setup),
        L"stamp " + Quote(broken) + L" " + Quote(broken) + L" " + Quote(setup)}) {
    r = RunTool(arguments);
    EXPECT_NE(0u, r.exitCode) << r.output;
    EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
  }
  // A setup that is not a program.
  const std::wstring good = scratch.path() + L"good.bz2";
  ASSERT_EQ(0u, RunTool(L"pack " + Quote(files) + L" " + Quote(good)).exitCode);
  r = RunTool(L"stamp " + Quote(broken) + L" " + Quote(good) + L" " + Quote(setup));
  EXPECT_NE(0u, r.exitCode) << r.output;

  EXPECT_FALSE(Exists(payload));
  EXPECT_FALSE(Exists(setup));
  ExpectOnly(scratch, {L"files", L"broken.bz2", L"notarchive.bz2", L"unsafe.bz2", L"good.bz2"});
}

TEST(Vtrpack, SamePayloadOnEveryThreadCountInOneStreamTheLauncherExpands) {
  TempFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::Random random(29);
  ArchiveWriter writer; // the same files, in name order
  const std::pair<const wchar_t*, std::string> contents[] = {
      {L"VTRInstaller.exe", random.Bytes(40000)},
      {L"big.dat", random.Bytes(2500000)},
      {L"empty", ""},
      {L"zeros", std::string(1000000, '\0')},
  };
  for (const auto& file : contents) {
    PayloadTest::WriteFileBytes(files + file.first, file.second);
    writer.AddEntry(file.first, file.second);
  }
  const std::string archive = writer.ToString();
  // What libbz2 makes of the whole archive in one call.
  std::string expected(archive.size() + archive.size() / 100 + 700, '\0');
  unsigned int length = static_cast<unsigned int>(expected.size());
  ASSERT_EQ(BZ_OK,
            BZ2_bzBuffToBuffCompress(&expected[0], &length, const_cast<char*>(archive.data()),
                                     static_cast<unsigned int>(archive.size()), 9, 0, 30));
  expected.resize(length);
  for (const wchar_t* threads : {L"1", L"2", L"5"}) {
    const std::wstring payload = scratch.path() + L"payload" + threads + L".zuk";
    Result pack = RunTool(L"pack --threads " + std::wstring(threads) + L" " + Quote(files) + L" " +
                          Quote(payload));
    ASSERT_EQ(0u, pack.exitCode) << pack.output;
    std::string packed;
    ASSERT_TRUE(PayloadTest::ReadFileBytes(payload, packed));
    EXPECT_EQ(expected, packed) << threads << " threads";
  }
  // The launcher's sequential codec takes the joined blocks as one stream.
  EXPECT_EQ(archive, PayloadTest::Decompress(expected));
}

TEST(Vtrpack, AFileThatCannotBeReadLeavesNothingAtTheOutput) {
  TempFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::WriteFileBytes(files + L"VTRInstaller.exe", "MZ");
  PayloadTest::WriteFileBytes(files + L"locked.dat", std::string(3000000, 'x'));
  // Held open without sharing, as a running program holds its files.
  HANDLE holder = CreateFileW((files + L"locked.dat").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  const std::wstring payload = scratch.path() + L"payload.zuk";
  Result r = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  CloseHandle(holder);
  EXPECT_EQ(1u, r.exitCode) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("locked.dat")) << r.output;
  EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
  ExpectOnly(scratch, {L"files"});
}
