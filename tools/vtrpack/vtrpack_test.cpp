// Runs the built vtrpack.exe as its users do and checks what it leaves.
#include "qor/payload/archive.h"

#include "../../payload/test_support.h"
#include "qor/setup_image/pe_headers.h"
#include "qor/setup_image/pe_resources.h"
#include "platform.h"
#include "qor/error/win32_error.h"
#include "qor/os/file_version.h"
#include "qor/test/process.h"
#include "qor/test/text.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <imagehlp.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

using QorTest::ScratchFolder;

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
void ExpectOnly(const ScratchFolder& folder, std::vector<std::wstring> names) {
  auto listed = folder.List();
  std::sort(listed.begin(), listed.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, listed);
}

} // namespace

TEST(Vtrpack, HelpVersionAndUsageErrors) {
  Result help = RunTool(L"--help");
  EXPECT_EQ(0u, help.exitCode);
  EXPECT_NE(std::string::npos, help.output.find("pack [OPTIONS] FOLDER PAYLOAD"));
  EXPECT_NE(std::string::npos, help.output.find("stamp SETUP_EXE PAYLOAD OUT"));
  Result version = RunTool(L"--version");
  EXPECT_EQ(0u, version.exitCode);
  EXPECT_EQ(0u, version.output.find("vtrpack 1.")) << version.output;
  struct Case {
    const wchar_t* arguments;
    const char* message;
  } cases[] = {
      {L"frobnicate", "unknown command \"frobnicate\""},
      {L"pack onlyone", "\"pack\" takes 2 arguments"},
      {L"list", "\"list\" takes 1 argument ("},
      {L"pack --fast a b", "unknown option \"--fast\""},
  };
  for (const Case& c : cases) {
    Result r = RunTool(c.arguments);
    EXPECT_EQ(1u, r.exitCode) << c.arguments;
    EXPECT_NE(std::string::npos, r.output.find(c.message)) << r.output;
  }
  EXPECT_EQ(2u, RunTool(L"").exitCode);
}

TEST(Vtrpack, PackListCheckStamp) {
  ScratchFolder scratch;
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
  EXPECT_NE(std::string::npos, list.output.find("4 files, 140006 bytes ("));
  EXPECT_NE(std::string::npos, pack.output.find("Packed 4 files, 140006 bytes (")) << pack.output;

  Result check = RunTool(L"check " + Quote(payload));
  EXPECT_EQ(0u, check.exitCode) << check.output;

  // Stamp a copy of the launcher.
  const std::wstring setup = scratch.path() + L"setup.exe";
  Result stamp = RunTool(L"stamp " + Quote(QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE)) + L" " +
                         Quote(payload) + L" " + Quote(setup));
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

// Entries go in the order of the names' UTF-16 code units: a name beyond
// U+FFFF (a surrogate pair, D83D DE00) sorts before U+FF21, unlike in code
// point order.
TEST(Vtrpack, PacksInUtf16Order) {
  ScratchFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  const std::vector<std::wstring> names = {L"VTRInstaller.exe", L"a.txt", L"\u00e9.txt",
                                           L"\U0001F600.txt", L"\uFF21.txt"};
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    PayloadTest::WriteFileBytes(files + *it, "x");
  }
  const std::wstring payload = scratch.path() + L"p.zuk";
  Result r = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  ASSERT_EQ(0u, r.exitCode) << r.output;
  std::string packed;
  ASSERT_TRUE(PayloadTest::ReadFileBytes(payload, packed));
  const std::string archive = PayloadTest::Decompress(packed);
  ArchiveReader reader;
  reader.LoadFromMemory(archive.data(), archive.size());
  std::vector<std::wstring> order;
  for (unsigned i = 0; i < reader.GetEntryCount(); ++i) {
    order.push_back(reader.GetEntry(i).GetName());
  }
  EXPECT_TRUE(names == order);
}

TEST(Vtrpack, RefusalsLeaveNothingAtTheOutput) {
  ScratchFolder scratch;
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
  EXPECT_NE(std::string::npos,
            r.output.find("notarchive.bz2 is not a payload: it expands to something other"))
      << r.output;

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
  ScratchFolder scratch;
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
  ScratchFolder scratch;
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

// Mistakes in where to read and write are caught before anything is
// compressed, in one line that names the file.
TEST(Vtrpack, WrongPlacesAreRefusedFirst) {
  ScratchFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::WriteFileBytes(files + L"VTRInstaller.exe", "MZ");
  ASSERT_TRUE(CreateDirectoryW((scratch.path() + L"folder.zuk").c_str(), nullptr));
  struct Case {
    std::wstring arguments;
    const char* message;
  } cases[] = {
      {L"pack " + Quote(files + L"VTRInstaller.exe") + L" " + Quote(scratch.path() + L"p.zuk"),
       "VTRInstaller.exe is not a folder"},
      {L"pack " + Quote(files) + L" " + Quote(scratch.path() + L"folder.zuk"),
       "folder.zuk is a folder"},
      {L"pack " + Quote(files) + L" " + Quote(files + L"..\\files\\out.zuk"),
       "would lie in the folder"},
      {L"check " + Quote(files + L"VTRInstaller.exe"),
       "VTRInstaller.exe is not a payload: it is not a bzip2 stream"},
  };
  for (const Case& c : cases) {
    Result r = RunTool(c.arguments);
    EXPECT_EQ(1u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(c.message)) << r.output;
    EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
  }
  ExpectOnly(scratch, {L"files", L"folder.zuk"});
  EXPECT_EQ(1u, scratch.List(L"files\\").size());
}

// The names table through vtrpack.exe. The names the setup can write go in
// one payload and one folder, which check, list and pack take; each of the
// others makes check fail, and pack too where the system here lets the test
// create it; list shows a name with control characters escaped, on one
// line, and fails after the listing.
TEST(Vtrpack, NamesTableThroughPackCheckAndList) {
  auto count = [](const std::string& text) { return std::count(text.begin(), text.end(), '\n'); };
  auto plain = [](const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
      return (static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n') || c == 0x7F;
    });
  };
  ScratchFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::WriteFileBytes(files + L"VTRInstaller.exe", "MZ");
  const std::wstring payload = scratch.path() + L"payload.zuk";
  const std::wstring packed = scratch.path() + L"packed.zuk";
  auto writePayload = [&](const std::vector<std::wstring>& names) {
    ArchiveWriter writer;
    writer.AddEntry(L"VTRInstaller.exe", "MZ");
    for (const std::wstring& name : names) {
      writer.AddEntry(name, "payload");
    }
    PayloadTest::WriteFileBytes(payload, PayloadTest::Compress(writer.ToString()));
  };
  // Creates files + name (a name, not a path); true when the folder then
  // holds exactly that name.
  auto create = [&](const std::wstring& name) {
    HANDLE file = name.empty() || name.find_first_of(L"\\/") != std::wstring::npos
                      ? INVALID_HANDLE_VALUE
                      : CreateFileW((files + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    CloseHandle(file);
    const std::vector<std::wstring> listed = scratch.List(L"files\\");
    return std::find(listed.begin(), listed.end(), name) != listed.end();
  };

  std::vector<std::wstring> good;
  for (const PayloadTest::NameCase& c : PayloadTest::EntryNameCases()) {
    if (c.ok) {
      good.push_back(c.name);
      EXPECT_TRUE(create(c.name)) << c.name;
    }
  }
  writePayload(good);
  Result r = RunTool(L"check " + Quote(payload));
  EXPECT_EQ(0u, r.exitCode) << r.output;
  r = RunTool(L"list " + Quote(payload));
  EXPECT_EQ(0u, r.exitCode) << r.output;
  EXPECT_EQ(static_cast<long>(good.size() + 2), count(r.output)) << r.output;
  EXPECT_TRUE(plain(r.output)) << r.output;
  r = RunTool(L"pack " + Quote(files) + L" " + Quote(packed));
  EXPECT_EQ(0u, r.exitCode) << r.output;
  for (const std::wstring& name : good) {
    DeleteFileW((files + name).c_str());
  }

  for (const PayloadTest::NameCase& c : PayloadTest::EntryNameCases()) {
    if (c.ok) {
      continue;
    }
    writePayload({c.name});
    // list checks as check does, after the listing.
    const bool control =
        std::any_of(c.name.begin(), c.name.end(), [](wchar_t ch) { return ch < 0x20; });
    r = RunTool((control ? L"list " : L"check ") + Quote(payload));
    EXPECT_EQ(1u, r.exitCode) << r.output;
    if (control) {
      EXPECT_EQ(4, count(r.output)) << r.output;
      EXPECT_TRUE(plain(r.output)) << r.output;
    }
    if (create(c.name)) {
      r = RunTool(L"pack " + Quote(files) + L" " + Quote(packed));
      EXPECT_EQ(1u, r.exitCode) << c.name;
      DeleteFileW((files + c.name).c_str());
    }
  }
  ExpectOnly(scratch, {L"files", L"payload.zuk", L"packed.zuk"});
}

// Ctrl-C while packing or stamping: the temporary output goes, one line
// says so, and the program ends with the code the system gives a program
// that Ctrl-C ended.
TEST(Vtrpack, CtrlCLeavesNothing) {
  ScratchFolder scratch;
  const std::wstring files = scratch.path() + L"files\\";
  ASSERT_TRUE(CreateDirectoryW(files.c_str(), nullptr));
  PayloadTest::WriteFileBytes(files + L"VTRInstaller.exe", "MZ");
  // Enough that do not compress for seconds of work on one thread.
  PayloadTest::WriteFileBytes(files + L"data.bin", PayloadTest::Random(3).Bytes(40000000));
  // As large again compressed: checking it takes the stamp seconds.
  const std::wstring payload = scratch.path() + L"payload.zuk";
  Result packed = RunTool(L"pack " + Quote(files) + L" " + Quote(payload));
  ASSERT_EQ(0u, packed.exitCode) << packed.output;
  const std::wstring packOutput = scratch.path() + L"out.zuk";
  const std::wstring stampOutput = scratch.path() + L"out.exe";
  PayloadTest::WriteFileBytes(packOutput, "before");
  PayloadTest::WriteFileBytes(stampOutput, "before");
  // The tool's output, one file a case, kept apart from the outputs.
  ScratchFolder logs;
  struct Case {
    const char* what;
    std::wstring output;
    std::wstring arguments;
  } cases[] = {
      {"pack", packOutput, L"pack --threads 1 " + Quote(files) + L" " + Quote(packOutput)},
      // The stamp makes its output first, then checks the payload and
      // writes through the handle of that output.
      {"stamp", stampOutput,
       L"stamp " + Quote(QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE)) + L" " + Quote(payload) +
           L" " + Quote(stampOutput)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The event goes to the processes of a console in one process group: the
    // test takes a console of its own, ignores the event itself, and starts
    // the tool in a group of its own there. The console comes first: the
    // program that hosts it must not inherit the log's handle, which it may
    // keep a while after the console is let go.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    SetConsoleCtrlHandler(nullptr, TRUE);
    const std::wstring log = logs.path() + QorTest::Widen(c.what) + L".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    Qor::UniqueFile output(CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(output) << GetLastError();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    std::wstring command = QorTest::Quoted(ToolPath()) + L" " + c.arguments;
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE,
                               CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info));
    Qor::UniqueHandle process(info.hProcess);
    Qor::UniqueHandle thread(info.hThread);
    output.reset();
    // Once its temporary output is there, the work has begun.
    bool started = false;
    for (int i = 0; i < 600 && !started; ++i) {
      WIN32_FIND_DATAW found;
      HANDLE search = FindFirstFileW((c.output + L".vtrpack-*.tmp").c_str(), &found);
      started = search != INVALID_HANDLE_VALUE;
      if (started) {
        FindClose(search);
      } else if (WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) {
        break;
      }
    }
    EXPECT_TRUE(started);
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, info.dwProcessId)) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 60000));
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    EXPECT_EQ(static_cast<DWORD>(STATUS_CONTROL_C_EXIT), code);

    std::string said;
    ASSERT_TRUE(PayloadTest::ReadFileBytes(log, said));
    EXPECT_NE(std::string::npos,
              said.find("vtrpack: interrupted by Ctrl-C; nothing was written to " +
                        QorTest::Narrow(c.output)))
        << said;
    std::string kept;
    ASSERT_TRUE(PayloadTest::ReadFileBytes(c.output, kept));
    EXPECT_EQ("before", kept);
    ExpectOnly(scratch, {L"files", L"payload.zuk", L"out.zuk", L"out.exe"});
  }
}

// A system error's line: the system's text on one line, or the code when
// the system has none, as for codes that no message table holds.
TEST(VtrpackReason, OneLineAndNeverBare) {
  const DWORD unknown = 0x2000ABCD; // a code of an application's own
  const std::wstring noText = QorWin32::DescribeSystemError(unknown);
  EXPECT_EQ(L"", noText);
  const struct {
    std::u16string description;
    unsigned long code;
    std::u16string expected;
  } cases[] = {
      {u"Disk full.", ERROR_DISK_FULL, u"cannot write a.tmp: Disk full."},
      {u"There is not enough space\r\non the disk.\r\n", ERROR_DISK_FULL,
       u"cannot write a.tmp: There is not enough space  on the disk."},
      {u"", ERROR_DISK_FULL, u"cannot write a.tmp: system error 112"},
      {u" \r\n", ERROR_DISK_FULL, u"cannot write a.tmp: system error 112"},
      {std::u16string(noText.begin(), noText.end()), unknown,
       u"cannot write a.tmp: system error 536914893"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(c.expected == VtrPlatform::ReasonLine(u"cannot write a.tmp", c.description, c.code))
        << c.code;
  }
}

namespace {

using QorPe::DataDirectory;
using QorPe::kCertificateDirectory;
using QorPe::kResourceDirectory;
using QorPe::PeHeaders;
using QorPe::SectionHeader;

// A payload that the stamp accepts: an archive with the installer and some
// bytes that tell one payload from another.
std::string MakePayload(const std::string& filler) {
  ArchiveWriter writer;
  writer.AddEntry(L"VTRInstaller.exe", "MZ");
  writer.AddEntry(L"filler.bin", filler);
  return PayloadTest::Compress(writer.ToString());
}

std::string ReadProgram(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(PayloadTest::ReadFileBytes(path, bytes)) << QorTest::Narrow(path);
  return bytes;
}

// The headers of a program held in memory, through the stamper's own view;
// edits through it change `program`.
PeHeaders HeadersOf(std::string& program) {
  unsigned char* file = reinterpret_cast<unsigned char*>(&program[0]);
  return PeHeaders(file + PeHeaders::PeOffset(file));
}

std::string RawBytes(const std::string& program, const SectionHeader& section) {
  return program.substr(section.PointerToRawData().Get(), section.SizeOfRawData().Get());
}

// A copy of a program with a certificate table as signing tools append it:
// 8-byte aligned, at the end, found through its data directory.
std::string Signed(std::string program) {
  program.resize((program.size() + 7) / 8 * 8, '\0');
  const std::uint32_t at = static_cast<std::uint32_t>(program.size());
  std::string certificate = "\x08\x02\x00\x00\x00\x02\x02\x00"; // length, revision 2, PKCS#7
  certificate.resize(8);
  certificate += "A CERTIFICATE THAT MUST NOT SURVIVE";
  certificate.resize(0x208, '\x5A');
  program += certificate;
  const DataDirectory directory = HeadersOf(program).Directory(kCertificateDirectory);
  directory.VirtualAddress().Set(at);
  directory.Size().Set(static_cast<std::uint32_t>(certificate.size()));
  return program;
}

// Every resource of a program as the loader finds it, by "type/name/language".
using ResourceTree = std::map<std::wstring, std::string>;

std::wstring ResourceName(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name;
}

BOOL CALLBACK CollectLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language,
                              LONG_PTR tree) {
  HRSRC resource = FindResourceExW(module, type, name, language);
  std::string& data = (*reinterpret_cast<ResourceTree*>(
      tree))[ResourceName(type) + L"/" + ResourceName(name) + L"/" + std::to_wstring(language)];
  if (resource) {
    data.assign(static_cast<const char*>(LockResource(LoadResource(module, resource))),
                SizeofResource(module, resource));
  }
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR tree) {
  EnumResourceLanguagesW(module, type, name, CollectLanguage, tree);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR tree) {
  EnumResourceNamesW(module, type, CollectName, tree);
  return TRUE;
}

// `flags` picks the loader's way: as a data file it finds resources through
// the section table, as an image at their virtual addresses.
ResourceTree LoadResourceTree(const std::wstring& program, DWORD flags) {
  ResourceTree tree;
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, flags);
  EXPECT_TRUE(module) << GetLastError();
  if (module) {
    EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&tree));
    FreeLibrary(module);
  }
  return tree;
}

const DWORD kLoaderWays[] = {LOAD_LIBRARY_AS_DATAFILE, LOAD_LIBRARY_AS_IMAGE_RESOURCE};

// The checksum in the header is the one the system computes.
void ExpectChecksumRight(const std::wstring& program) {
  DWORD inHeader = 0, computed = 0;
  ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS),
            MapFileAndCheckSumW(program.c_str(), &inHeader, &computed));
  EXPECT_NE(0u, computed);
  EXPECT_EQ(computed, inHeader) << QorTest::Narrow(program);
}

// The section that starts at `address`, or -1.
int SectionAt(const PeHeaders& headers, std::uint32_t address) {
  for (std::uint32_t i = 0; i < headers.NumberOfSections().Get(); ++i) {
    if (headers.Section(i).VirtualAddress().Get() == address) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// What every stamp leaves: the base's resources with `payload` as the one
// ZUK, found alike by both of the loader's ways; every other section and
// data directory as in the base; the resources in a section of their own
// named .rsrc, either where the base had theirs or new and last (the old one
// then kept as .oldrsrc); no certificate table; the image's size and the
// checksum right.
void ExpectStamped(const std::wstring& basePath, const std::wstring& stampedPath,
                   const std::string& payload) {
  ResourceTree expected = LoadResourceTree(basePath, LOAD_LIBRARY_AS_DATAFILE);
  expected.erase(expected.lower_bound(L"ZUK/"), expected.lower_bound(L"ZUK0"));
  expected[L"ZUK/#137/0"] = payload;
  for (DWORD way : kLoaderWays) {
    const ResourceTree found = LoadResourceTree(stampedPath, way);
    EXPECT_EQ(expected.size(), found.size()) << "loaded with flags " << way;
    EXPECT_TRUE(expected == found) << "loaded with flags " << way;
  }

  std::string base = ReadProgram(basePath);
  std::string stamped = ReadProgram(stampedPath);
  const PeHeaders before = HeadersOf(base);
  const PeHeaders after = HeadersOf(stamped);
  const std::uint32_t directories = before.NumberOfRvaAndSizes().Get();
  ASSERT_EQ(directories, after.NumberOfRvaAndSizes().Get());
  for (std::uint32_t d = 0; d < directories; ++d) {
    if (d == kResourceDirectory) {
      continue;
    }
    const std::uint32_t address = before.Directory(d).VirtualAddress().Get();
    const std::uint32_t size = before.Directory(d).Size().Get();
    EXPECT_EQ(d == kCertificateDirectory ? 0 : address, after.Directory(d).VirtualAddress().Get())
        << "directory " << d;
    EXPECT_EQ(d == kCertificateDirectory ? 0 : size, after.Directory(d).Size().Get())
        << "directory " << d;
  }
  const int resources =
      SectionAt(after, after.Directory(kResourceDirectory).VirtualAddress().Get());
  ASSERT_GE(resources, 0);
  const SectionHeader section = after.Section(static_cast<std::uint32_t>(resources));
  EXPECT_EQ(".rsrc", section.Name());
  EXPECT_EQ(section.VirtualSize().Get(), after.Directory(kResourceDirectory).Size().Get());

  const std::uint32_t count = before.NumberOfSections().Get();
  const bool moved = after.NumberOfSections().Get() == count + 1;
  ASSERT_TRUE(moved || after.NumberOfSections().Get() == count);
  EXPECT_EQ(moved, static_cast<std::uint32_t>(resources) == count);
  const int oldResources =
      SectionAt(before, before.Directory(kResourceDirectory).VirtualAddress().Get());
  for (std::uint32_t i = 0; i < count; ++i) {
    if (static_cast<int>(i) == resources) {
      continue;
    }
    const SectionHeader was = before.Section(i), is = after.Section(i);
    EXPECT_EQ(moved && static_cast<int>(i) == oldResources ? ".oldrsrc" : was.Name(), is.Name());
    EXPECT_EQ(was.VirtualAddress().Get(), is.VirtualAddress().Get()) << was.Name();
    EXPECT_EQ(was.VirtualSize().Get(), is.VirtualSize().Get()) << was.Name();
    EXPECT_EQ(was.PointerToRawData().Get(), is.PointerToRawData().Get()) << was.Name();
    EXPECT_EQ(was.SizeOfRawData().Get(), is.SizeOfRawData().Get()) << was.Name();
    EXPECT_EQ(was.Characteristics().Get(), is.Characteristics().Get()) << was.Name();
    EXPECT_TRUE(RawBytes(base, was) == RawBytes(stamped, is)) << was.Name();
  }
  std::uint64_t imageEnd = 0;
  for (std::uint32_t i = 0; i < after.NumberOfSections().Get(); ++i) {
    const SectionHeader s = after.Section(i);
    imageEnd = std::max<std::uint64_t>(imageEnd, s.VirtualAddress().Get() + s.VirtualSize().Get());
  }
  const std::uint32_t alignment = after.SectionAlignment().Get();
  EXPECT_EQ((imageEnd + alignment - 1) / alignment * alignment, after.SizeOfImage().Get());
  ExpectChecksumRight(stampedPath);
}

Result Stamp(const std::wstring& base, const std::wstring& payload, const std::wstring& out) {
  return RunTool(L"stamp " + Quote(base) + L" " + Quote(payload) + L" " + Quote(out));
}

} // namespace

namespace {

// The view's fields are where the system's own structures have them, for
// reading and writing, in the layout of this build's programs (PE32+ in the
// 64-bit build, PE32 in the 32-bit one) and in the section table.
template <class NtHeaders> void ExpectFieldsWhereTheSystemHasThem(std::string& program) {
  const LONG peOffset = reinterpret_cast<const IMAGE_DOS_HEADER*>(program.data())->e_lfanew;
  const PeHeaders view = HeadersOf(program);
  auto nt = [&]() -> const NtHeaders& {
    return *reinterpret_cast<const NtHeaders*>(program.data() + peOffset);
  };
  auto section = [&](std::uint32_t i) -> const IMAGE_SECTION_HEADER& {
    return IMAGE_FIRST_SECTION(&nt())[i];
  };
  struct Named {
    std::string name;
    QorPe::Field field;
    std::size_t width;
    std::function<DWORD()> system;
  };
  std::vector<Named> fields;
#define SYSTEM_FIELD(viewField, member)                                                            \
  fields.push_back({#member, viewField, sizeof(member), [=] { return static_cast<DWORD>(member); }})
  SYSTEM_FIELD(view.NumberOfSections(), nt().FileHeader.NumberOfSections);
  SYSTEM_FIELD(view.SizeOfOptionalHeader(), nt().FileHeader.SizeOfOptionalHeader);
  SYSTEM_FIELD(view.Magic(), nt().OptionalHeader.Magic);
  SYSTEM_FIELD(view.SizeOfInitializedData(), nt().OptionalHeader.SizeOfInitializedData);
  SYSTEM_FIELD(view.SectionAlignment(), nt().OptionalHeader.SectionAlignment);
  SYSTEM_FIELD(view.FileAlignment(), nt().OptionalHeader.FileAlignment);
  SYSTEM_FIELD(view.SizeOfImage(), nt().OptionalHeader.SizeOfImage);
  SYSTEM_FIELD(view.SizeOfHeaders(), nt().OptionalHeader.SizeOfHeaders);
  SYSTEM_FIELD(view.CheckSum(), nt().OptionalHeader.CheckSum);
  SYSTEM_FIELD(view.NumberOfRvaAndSizes(), nt().OptionalHeader.NumberOfRvaAndSizes);
  for (std::uint32_t d = 0; d < nt().OptionalHeader.NumberOfRvaAndSizes; ++d) {
    SYSTEM_FIELD(view.Directory(d).VirtualAddress(),
                 nt().OptionalHeader.DataDirectory[d].VirtualAddress);
    SYSTEM_FIELD(view.Directory(d).Size(), nt().OptionalHeader.DataDirectory[d].Size);
  }
  for (std::uint32_t s = 0; s < nt().FileHeader.NumberOfSections; ++s) {
    SYSTEM_FIELD(view.Section(s).VirtualSize(), section(s).Misc.VirtualSize);
    SYSTEM_FIELD(view.Section(s).VirtualAddress(), section(s).VirtualAddress);
    SYSTEM_FIELD(view.Section(s).SizeOfRawData(), section(s).SizeOfRawData);
    SYSTEM_FIELD(view.Section(s).PointerToRawData(), section(s).PointerToRawData);
    SYSTEM_FIELD(view.Section(s).Characteristics(), section(s).Characteristics);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(section(s).Name),
                          strnlen(reinterpret_cast<const char*>(section(s).Name), 8)),
              view.Section(s).Name());
  }
#undef SYSTEM_FIELD
  for (const Named& f : fields) {
    EXPECT_EQ(f.system(), f.field.Get()) << f.name;
    // A write lands on the system's field and nowhere else.
    const std::string before = program;
    const DWORD marker = f.width == 2 ? 0xA55Au : 0xA55AC33Cu;
    f.field.Set(marker);
    EXPECT_EQ(marker, f.system()) << f.name;
    std::size_t changed = 0;
    for (std::size_t i = 0; i < program.size(); ++i) {
      changed += program[i] != before[i] ? 1 : 0;
    }
    EXPECT_LE(changed, f.width) << f.name;
    program = before;
  }
}

} // namespace

TEST(PeHeaders, FieldsAreWhereTheSystemHasThem) {
  struct Program {
    const char* what;
    std::wstring path;
  } programs[] = {
      {"launcher", QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE)},
      {"tool", ToolPath()},
  };
  for (const Program& p : programs) {
    SCOPED_TRACE(p.what);
    std::string program = ReadProgram(p.path);
    // Built for the machine these tests run on.
    EXPECT_EQ(sizeof(void*) == 8, HeadersOf(program).IsPe32Plus());
    if (HeadersOf(program).IsPe32Plus()) {
      ExpectFieldsWhereTheSystemHasThem<IMAGE_NT_HEADERS64>(program);
    } else {
      ExpectFieldsWhereTheSystemHasThem<IMAGE_NT_HEADERS32>(program);
    }
  }
}

TEST(PeLayout, PlacesTheResourceSection) {
  using QorPe::SectionSpan;
  // .text, .rsrc, .reloc as the linker lays them out; file alignment 0x200.
  const std::vector<SectionSpan> middle = {{0x1000, 0x3000, 0x400, 0x3000},
                                           {0x4000, 0x900, 0x3400, 0xA00},
                                           {0x5000, 0x80, 0x3E00, 0x200}};
  // The same with the resources last.
  const std::vector<SectionSpan> last = {{0x1000, 0x3000, 0x400, 0x3000},
                                         {0x4000, 0x900, 0x3400, 0xA00}};
  struct Case {
    const char* what;
    const std::vector<SectionSpan>& sections;
    int resources;
    std::uint64_t contentEnd, size;
    QorPe::SectionPlacement expected;
  } cases[] = {
      {"shrinks in place",
       middle,
       1,
       0x4000,
       0x500,
       {false, 0x4000, 0x3400, 0xA00, 0x4000, 0x4000}},
      {"just fits", middle, 1, 0x4000, 0xA00, {false, 0x4000, 0x3400, 0xA00, 0x4000, 0x4000}},
      {"grows: a new last section",
       middle,
       1,
       0x4000,
       0xA01,
       {true, 0x6000, 0x4000, 0xC00, 0x4000, 0x4C00}},
      {"none yet: a new last section, after the overlay",
       middle,
       -1,
       0x4123,
       0x10,
       {true, 0x6000, 0x4200, 0x200, 0x4123, 0x4400}},
      {"last and ending the file: rewritten there",
       last,
       1,
       0x3E00,
       0x5000,
       {false, 0x4000, 0x3400, 0x5000, 0x3400, 0x8400}},
      {"last, overlay behind: its bytes move to the end",
       last,
       1,
       0x3F00,
       0x5000,
       {false, 0x4000, 0x4000, 0x5000, 0x3F00, 0x9000}},
      {"last, overlay behind, still fits",
       last,
       1,
       0x3F00,
       0x100,
       {false, 0x4000, 0x3400, 0xA00, 0x3F00, 0x3F00}},
  };
  for (const Case& c : cases) {
    const QorPe::SectionPlacement p =
        QorPe::PlaceResourceSection(c.sections, c.resources, c.contentEnd, c.size, 0x1000, 0x200);
    EXPECT_EQ(c.expected.newSection, p.newSection) << c.what;
    EXPECT_EQ(c.expected.virtualAddress, p.virtualAddress) << c.what;
    EXPECT_EQ(c.expected.rawOffset, p.rawOffset) << c.what;
    EXPECT_EQ(c.expected.rawSize, p.rawSize) << c.what;
    EXPECT_EQ(c.expected.keptBaseBytes, p.keptBaseBytes) << c.what;
    EXPECT_EQ(c.expected.outputSize, p.outputSize) << c.what;
  }
  // Beyond what a 32-bit process can map.
  EXPECT_THROW(QorPe::PlaceResourceSection(middle, 1, 0x4000, 0x7FFFB000u, 0x1000, 0x200),
               QorPe::StampError);
}

TEST(PeLayout, ChecksumDoesNotDependOnHowTheFileIsCut) {
  PayloadTest::Random random(5);
  const std::string file = random.Bytes(10001); // odd: the last word has one byte
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  QorPe::PeChecksum whole;
  whole.Add(bytes, file.size());
  for (std::size_t piece : {1u, 3u, 4096u, 5001u}) {
    QorPe::PeChecksum cut;
    for (std::size_t at = 0; at < file.size(); at += piece) {
      cut.Add(bytes + at, std::min(piece, file.size() - at));
    }
    EXPECT_EQ(whole.Finish(), cut.Finish()) << piece;
  }
}

// Stamps launchers of each kind, stamps the result again, and looks at both
// as the loader, the system's checksum function and the headers show them.
TEST(VtrpackStamp, StampsAndRestampsAnyLauncher) {
  ScratchFolder scratch;
  const std::string first = MakePayload(PayloadTest::Random(1).Bytes(300000));
  const std::string second = MakePayload("small");
  const std::wstring firstPath = scratch.path() + L"first.zuk";
  const std::wstring secondPath = scratch.path() + L"second.zuk";
  PayloadTest::WriteFileBytes(firstPath, first);
  PayloadTest::WriteFileBytes(secondPath, second);
  struct Base {
    const wchar_t* what;
    std::wstring path;
  } bases[] = {
      // Resources in the middle of the image, .reloc behind them.
      {L"launcher", QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE)},
      // Already carries a payload, as the build makes it.
      {L"setup", QorTest::WindowsPath(VELTRANO_SETUP_EXE)},
  };
  for (const Base& base : bases) {
    SCOPED_TRACE(base.what);
    const std::wstring once = scratch.path() + base.what + L"-once.exe";
    const std::wstring twice = scratch.path() + base.what + L"-twice.exe";
    Result r = Stamp(base.path, firstPath, once);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ(std::string::npos, r.output.find("signature")) << r.output;
    ExpectStamped(base.path, once, first);
    r = Stamp(once, secondPath, twice);
    ASSERT_EQ(0u, r.exitCode) << r.output;
    ExpectStamped(once, twice, second);
    // The old payload was replaced, not kept beside the new one.
    const std::string twiceBytes = ReadProgram(twice);
    EXPECT_LE(twiceBytes.size(), ReadProgram(once).size());
    EXPECT_EQ(std::string::npos, twiceBytes.find(first.substr(first.size() / 2, 64)));
  }
  // Stamped in place: the program replaces itself.
  const std::wstring twice = scratch.path() + L"launcher-twice.exe";
  Result r = Stamp(twice, firstPath, twice);
  ASSERT_EQ(0u, r.exitCode) << r.output;
  EXPECT_TRUE(LoadResourceTree(twice, LOAD_LIBRARY_AS_DATAFILE)[L"ZUK/#137/0"] == first);
  ExpectChecksumRight(twice);

  // The launcher's own resources are among those that survive.
  HMODULE module = LoadLibraryExW(twice.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  wchar_t title[100] = {};
  EXPECT_GT(LoadStringW(module, 103, title, 100), 0);
  EXPECT_STREQ(L"Qor Veltrano Setup", title);
  EXPECT_TRUE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)));   // manifest
  EXPECT_TRUE(FindResourceW(module, MAKEINTRESOURCEW(108), MAKEINTRESOURCEW(14))); // icon group
  FreeLibrary(module);
}

// This build's launcher, signed or not, stamped three times over: the
// resources outgrow their section and go into a new last one; once last,
// they are rewritten where they are, smaller or larger. A signed base's
// certificate table cannot stay, since it signs other bytes: the stamp
// leaves it out and says so.
TEST(VtrpackStamp, MovesOrRewritesTheResourcesOfSignedAndUnsignedBases) {
  ScratchFolder scratch;
  const std::string large = MakePayload(PayloadTest::Random(2).Bytes(300000));
  const std::string small = MakePayload("small");
  const std::wstring largePath = scratch.path() + L"large.zuk";
  const std::wstring smallPath = scratch.path() + L"small.zuk";
  PayloadTest::WriteFileBytes(largePath, large);
  PayloadTest::WriteFileBytes(smallPath, small);
  struct Step {
    const wchar_t* name;
    const std::wstring& payloadPath;
    const std::string& payload;
    bool moves; // into a new last section
  } steps[] = {
      {L"large", largePath, large, true},
      {L"small", smallPath, small, false},
      {L"larger", largePath, large, false},
  };
  for (bool sign : {false, true}) {
    SCOPED_TRACE(sign ? "signed" : "unsigned");
    std::wstring base = QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE);
    for (const Step& step : steps) {
      SCOPED_TRACE(QorTest::Narrow(step.name));
      const std::wstring out =
          scratch.path() + (sign ? L"signed-" : L"unsigned-") + step.name + L".exe";
      if (sign) {
        const std::wstring signedBase = out + L".base.exe";
        PayloadTest::WriteFileBytes(signedBase, Signed(ReadProgram(base)));
        base = signedBase;
      }
      Result r = Stamp(base, step.payloadPath, out);
      ASSERT_EQ(0u, r.exitCode) << r.output;
      EXPECT_EQ(sign, r.output.find("Dropped the signature of") != std::string::npos) << r.output;
      ExpectStamped(base, out, step.payload);

      std::string before = ReadProgram(base);
      std::string after = ReadProgram(out);
      EXPECT_EQ(std::string::npos, after.find("A CERTIFICATE THAT MUST NOT SURVIVE"));
      const PeHeaders was = HeadersOf(before), is = HeadersOf(after);
      EXPECT_EQ(was.NumberOfSections().Get() + (step.moves ? 1 : 0), is.NumberOfSections().Get());
      if (!step.moves) {
        const std::uint32_t at = was.Directory(kResourceDirectory).VirtualAddress().Get();
        EXPECT_EQ(at, is.Directory(kResourceDirectory).VirtualAddress().Get());
        const int section = SectionAt(was, at);
        ASSERT_GE(section, 0);
        const auto index = static_cast<std::uint32_t>(section);
        EXPECT_EQ(was.Section(index).PointerToRawData().Get(),
                  is.Section(index).PointerToRawData().Get());
      }
      base = out;
    }
  }
}

namespace {

std::uint32_t AlignTo(std::size_t value, std::uint32_t alignment) {
  return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

unsigned char* BytesAt(std::string& bytes, std::size_t at) {
  return reinterpret_cast<unsigned char*>(&bytes[at]);
}

// A program of headers and one section that holds `tables` as its resource
// directory, in the layout of this build's programs: as small as a program
// gets, for bases crafted to cost.
std::string ProgramWithResources(const std::string& tables) {
  const std::uint32_t headersSize = 0x200, address = 0x1000;
  const std::uint32_t rawSize = AlignTo(tables.size(), 0x200);
  std::string program(headersSize + rawSize, '\0');
  program.replace(0, 2, "MZ");
  QorPe::Put32(BytesAt(program, 60), 64);
  program.replace(64, 4, std::string("PE\0\0", 4));
  const PeHeaders h(BytesAt(program, 64));
  const bool plus = sizeof(void*) == 8;
  h.NumberOfSections().Set(1);
  h.SizeOfOptionalHeader().Set((plus ? 112 : 96) + 16 * DataDirectory::kSize);
  h.Magic().Set(plus ? PeHeaders::kPe32Plus : PeHeaders::kPe32);
  h.SectionAlignment().Set(0x1000);
  h.FileAlignment().Set(0x200);
  h.SizeOfImage().Set(address + AlignTo(tables.size(), 0x1000));
  h.SizeOfHeaders().Set(headersSize);
  h.NumberOfRvaAndSizes().Set(16);
  h.Directory(kResourceDirectory).VirtualAddress().Set(address);
  h.Directory(kResourceDirectory).Size().Set(static_cast<std::uint32_t>(tables.size()));
  const SectionHeader section = h.Section(0);
  section.SetName(".rsrc");
  section.VirtualSize().Set(static_cast<std::uint32_t>(tables.size()));
  section.VirtualAddress().Set(address);
  section.SizeOfRawData().Set(rawSize);
  section.PointerToRawData().Set(headersSize);
  section.Characteristics().Set(SectionHeader::kInitializedData | SectionHeader::kMemoryRead);
  program.replace(headersSize, tables.size(), tables);
  return program;
}

// Resource tables written by hand, a directory at a time: its header at
// `at`, its entries (name field, target) after it.
void PutDirectory(std::string& tables, std::uint32_t at, std::uint32_t named,
                  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
  const std::size_t end =
      at + QorPe::ResourceDirectory::kSize + QorPe::ResourceEntry::kSize * entries.size();
  tables.resize(std::max(tables.size(), end), '\0');
  const QorPe::ResourceDirectory directory(BytesAt(tables, at));
  directory.NumberOfNamedEntries().Set(named);
  directory.NumberOfIdEntries().Set(static_cast<std::uint32_t>(entries.size()) - named);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const QorPe::ResourceEntry entry(
        BytesAt(tables, at + QorPe::ResourceDirectory::kSize + QorPe::ResourceEntry::kSize * i));
    entry.Name().Set(entries[i].first);
    entry.OffsetToData().Set(entries[i].second);
  }
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> Ids(std::uint32_t first, std::uint32_t count,
                                                         std::uint32_t target) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
  for (std::uint32_t id = first; id < first + count; ++id) {
    entries.push_back({id, target});
  }
  return entries;
}

// Thousands of distinct names, each thousands of characters long, that share
// their bytes: name k starts k units into one run of units.
std::string LongNamesSharingTheirBytes() {
  const std::uint32_t count = 8000;
  const std::uint32_t empty = QorPe::ResourceDirectory::kSize + QorPe::ResourceEntry::kSize * count;
  const std::uint32_t names = empty + QorPe::ResourceDirectory::kSize;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
  for (std::uint32_t k = 0; k < count; ++k) {
    entries.push_back({QorPe::kResourceFlag | (names + 2 * k), QorPe::kResourceFlag | empty});
  }
  std::string tables;
  PutDirectory(tables, 0, count, entries);
  PutDirectory(tables, empty, 0, {});
  tables.resize(names + 2 * 20000, '\0');
  for (std::uint32_t u = 0; u < 20000; ++u) {
    QorPe::Put16(BytesAt(tables, names + 2 * u), 2000 + u); // a length, and a character
  }
  return tables;
}

// `types` entries of one type, each a directory of `names` numbered names,
// each name one language of one small resource.
std::string NamesUnderEachType(std::uint32_t types, std::uint32_t names) {
  const std::uint32_t entry = QorPe::ResourceEntry::kSize, header = QorPe::ResourceDirectory::kSize;
  const std::uint32_t nameDirectories = header + entry * types;
  const std::uint32_t languages = nameDirectories + types * (header + entry * names);
  const std::uint32_t data = languages + header + entry;
  std::string tables;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> typeEntries;
  for (std::uint32_t t = 0; t < types; ++t) {
    const std::uint32_t at = nameDirectories + t * (header + entry * names);
    typeEntries.push_back({3, QorPe::kResourceFlag | at});
    // Numbered on from the previous type's: merged, the names do not repeat.
    PutDirectory(tables, at, 0, Ids(t * names, names, QorPe::kResourceFlag | languages));
  }
  PutDirectory(tables, 0, 0, typeEntries);
  PutDirectory(tables, languages, 0, {{0x409, data}});
  tables.resize(data + QorPe::ResourceDataEntry::kSize + 4, '\0');
  const QorPe::ResourceDataEntry leaf(BytesAt(tables, data));
  leaf.OffsetToData().Set(0x1000 + data + QorPe::ResourceDataEntry::kSize);
  leaf.Size().Set(4);
  return tables;
}

// The file offset of the launcher's resource directory.
std::uint32_t ResourceRoot(std::string& program) {
  const PeHeaders h = HeadersOf(program);
  const std::uint32_t rva = h.Directory(kResourceDirectory).VirtualAddress().Get();
  const SectionHeader s = h.Section(static_cast<std::uint32_t>(SectionAt(h, rva)));
  return s.PointerToRawData().Get() + (rva - s.VirtualAddress().Get());
}

} // namespace

// Bases that are not programs, are cut short, damaged, crafted to cost
// without bound, or not setup launchers: one line says why, and whatever was
// at the output before is still there.
TEST(VtrpackStamp, RefusesBrokenBasesAndKeepsTheOutput) {
  ScratchFolder scratch;
  const std::string launcher = ReadProgram(QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE));
  PayloadTest::WriteFileBytes(scratch.path() + L"p.zuk", MakePayload("x"));
  // The launcher with one field changed, in the layout of this build.
  auto edited = [&](const std::function<void(const PeHeaders&)>& edit) {
    std::string copy = launcher;
    edit(HeadersOf(copy));
    return copy;
  };
  std::string noPe = launcher;
  noPe[PeHeaders::PeOffset(reinterpret_cast<const unsigned char*>(launcher.data()))] = 'X';
  const auto size = static_cast<std::uint32_t>(launcher.size());
  // The launcher with another window class, and without its bar's bitmaps.
  std::string otherClass = launcher;
  const std::string className(reinterpret_cast<const char*>(u"QORINC.QORWARDEN"), 32);
  ASSERT_NE(std::string::npos, otherClass.find(className));
  for (std::size_t at = 0; (at = otherClass.find(className, at)) != std::string::npos;) {
    otherClass[at] = 'X';
  }
  std::string noBitmaps = launcher;
  const std::uint32_t root = ResourceRoot(noBitmaps);
  const QorPe::ResourceDirectory rootDirectory(BytesAt(noBitmaps, root));
  const std::uint32_t types =
      rootDirectory.NumberOfNamedEntries().Get() + rootDirectory.NumberOfIdEntries().Get();
  for (std::uint32_t i = 0; i < types; ++i) {
    const QorPe::ResourceEntry entry(BytesAt(noBitmaps, root + 16 + 8 * i));
    if (entry.Name().Get() == QorPe::kBitmapType) {
      entry.Name().Set(0x7F02);
    }
  }
  // A kilobyte that would make a program of 2 GB.
  std::string hugeAlignment = ProgramWithResources(std::string(16, '\0'));
  HeadersOf(hugeAlignment).FileAlignment().Set(0x80000000u);
  HeadersOf(hugeAlignment).SectionAlignment().Set(0x80000000u);
  ASSERT_EQ(1024u, hugeAlignment.size());

  struct Case {
    const wchar_t* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {L"text.exe", "just some text, not a program at all", "not a Windows program"},
      {L"mz.exe", "MZ", "not a Windows program"},
      {L"headers.exe", launcher.substr(0, 0x200), "cut short"},
      {L"half.exe", launcher.substr(0, launcher.size() / 2), "cut short"},
      {L"nope.exe", noPe, "PE header is missing"},
      {L"kind.exe", edited([](const PeHeaders& h) { h.Magic().Set(0x107); }), "unknown kind"},
      {L"optional.exe", edited([](const PeHeaders& h) {
         h.SizeOfOptionalHeader().Set(h.DirectoriesOffset() + DataDirectory::kSize);
       }),
       "data directories do not fit"},
      {L"directories.exe",
       edited([](const PeHeaders& h) { h.NumberOfRvaAndSizes().Set(kResourceDirectory); }),
       "no room for resources"},
      {L"resources.exe", edited([](const PeHeaders& h) {
         h.Directory(kResourceDirectory).VirtualAddress().Set(h.SizeOfImage().Get());
       }),
       "resources point outside its sections"},
      {L"certificate.exe", edited([&](const PeHeaders& h) {
         h.Directory(kCertificateDirectory).VirtualAddress().Set(size - 8);
         h.Directory(kCertificateDirectory).Size().Set(0x100);
       }),
       "certificate table runs past its end"},
      {L"huge-alignment.exe", hugeAlignment, "file alignment (2147483648 bytes)"},
      {L"small-alignment.exe", edited([](const PeHeaders& h) { h.FileAlignment().Set(256); }),
       "file alignment (256 bytes) is not a power of two from 512 bytes to 64 KB"},
      {L"section-alignment.exe",
       edited([](const PeHeaders& h) { h.SectionAlignment().Set(0x40000000u); }),
       "section alignment (1073741824 bytes)"},
      {L"long-names.exe", ProgramWithResources(LongNamesSharingTheirBytes()),
       "names longer than 65536 characters in all"},
      {L"many-entries.exe", ProgramWithResources(NamesUnderEachType(1, 40000)),
       "more than 16384 entries"},
      // Merged, their names would be 65536 in one directory, one too many for its count.
      {L"type-twice.exe", ProgramWithResources(NamesUnderEachType(2, 32768)),
       "more than 16384 entries"},
      {L"tool.exe", ReadProgram(ToolPath()), "is not a setup launcher"},
      {L"other-class.exe", otherClass,
       "is not a setup launcher: it lacks the window class name QORINC.QORWARDEN.SETUP.20"},
      {L"no-bitmaps.exe", noBitmaps, "it lacks the progress bar's bitmaps (129 to 134)"},
  };
  const std::wstring out = scratch.path() + L"out.exe";
  std::vector<std::wstring> names = {L"p.zuk", L"out.exe"};
  for (const Case& c : cases) {
    SCOPED_TRACE(QorTest::Narrow(c.name));
    PayloadTest::WriteFileBytes(scratch.path() + c.name, c.bytes);
    PayloadTest::WriteFileBytes(out, "what was here before");
    Result r = Stamp(scratch.path() + c.name, scratch.path() + L"p.zuk", out);
    EXPECT_NE(0u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(c.reason)) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(QorTest::Narrow(c.name))) << r.output;
    EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
    std::string kept;
    ASSERT_TRUE(PayloadTest::ReadFileBytes(out, kept));
    EXPECT_EQ("what was here before", kept);
    names.push_back(c.name);
  }
  ExpectOnly(scratch, names);
}

namespace {

// The stamp command with options before its three paths.
Result StampWith(const std::wstring& options, const std::wstring& base, const std::wstring& payload,
                 const std::wstring& out) {
  return RunTool(L"stamp " + options + L" " + Quote(base) + L" " + Quote(payload) + L" " +
                 Quote(out));
}

// The colour of an icon's top left pixel as the system draws it, 0xRRGGBB.
std::uint32_t IconColour(HMODULE module, int side) {
  HICON icon = static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(108), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
  EXPECT_TRUE(icon) << side;
  if (!icon) {
    return 0xFFFFFFFF;
  }
  ICONINFO info = {};
  EXPECT_TRUE(GetIconInfo(icon, &info));
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = side;
  format.bmiHeader.biHeight = -side; // top row first
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(side) * side);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(side, GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(side), pixels.data(),
                            &format, DIB_RGB_COLORS));
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  return pixels[0] & 0xFFFFFF;
}

// The resources of a program, by "type/name/language", of the types branding leaves alone.
ResourceTree Unbranded(const ResourceTree& tree) {
  ResourceTree kept;
  for (const auto& resource : tree) {
    const std::wstring type = resource.first.substr(0, resource.first.find(L'/'));
    if (type != L"#3" && type != L"#6" && type != L"#14" && type != L"#16") {
      kept.insert(resource);
    }
  }
  return kept;
}

std::size_t CountOfType(const ResourceTree& tree, const std::wstring& type) {
  return static_cast<std::size_t>(std::count_if(tree.begin(), tree.end(), [&](const auto& r) {
    return r.first.compare(0, type.size() + 1, type + L"/") == 0;
  }));
}

} // namespace

// The title, icon and version information go where the launcher and the
// system's readers find them: the window title and the class name in the
// string table, the icon's images drawn by the system in their own colours
// (none of the launcher's left), the version through GetFileVersionInfo.
// Everything else is as an unbranded stamp leaves it.
TEST(VtrpackStamp, BrandsTheTitleIconAndVersion) {
  ScratchFolder scratch;
  const std::wstring base = QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE);
  const std::string payload = MakePayload("branded");
  const std::wstring payloadPath = scratch.path() + L"p.zuk";
  PayloadTest::WriteFileBytes(payloadPath, payload);
  const std::wstring title = L"Contoso Widget \u2713 Setup \U0001F600";
  const std::wstring branded = scratch.path() + L"branded.exe";
  Result r = StampWith(L"--title " + Quote(title) + L" --icon " +
                           Quote(QorTest::WindowsPath(VELTRANO_TEST_ICON)) +
                           L" --version-info \"ProductName=Contoso Widget\""
                           L" --version-info companyname=Contoso"
                           L" --version-info FileVersion=2.5.17.3"
                           L" --version-info \"ProductVersion=2.5 beta\""
                           L" --version-info \"LegalCopyright=\u00a9 2024 Contoso\""
                           L" --version-info \"FileDescription=Contoso Widget Setup\"",
                       base, payloadPath, branded);
  ASSERT_EQ(0u, r.exitCode) << r.output;
  ExpectChecksumRight(branded);

  const ResourceTree before = LoadResourceTree(base, LOAD_LIBRARY_AS_DATAFILE);
  const ResourceTree after = LoadResourceTree(branded, LOAD_LIBRARY_AS_DATAFILE);
  ResourceTree expected = Unbranded(before);
  expected[L"ZUK/#137/0"] = payload;
  EXPECT_TRUE(expected == Unbranded(after));
  EXPECT_EQ(2u, CountOfType(after, L"#3")) << "the icon's two images, and none of the launcher's";
  EXPECT_EQ(1u, CountOfType(after, L"#14"));
  EXPECT_EQ(1u, CountOfType(after, L"#16"));

  HMODULE module = LoadLibraryExW(branded.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  wchar_t text[100] = {};
  EXPECT_EQ(static_cast<int>(title.size()), LoadStringW(module, 103, text, 100));
  EXPECT_EQ(title, text);
  EXPECT_GT(LoadStringW(module, 109, text, 100), 0);
  EXPECT_STREQ(L"QORINC.QORWARDEN.SETUP.20", text);
  EXPECT_EQ(0xFF0000u, IconColour(module, 16)); // red
  EXPECT_EQ(0x00FF00u, IconColour(module, 32)); // green
  FreeLibrary(module);

  QorFs::FileVersionInfo version(branded);
  EXPECT_EQ(L"040904b0", version.GetLanguageText());
  EXPECT_EQ(2u, version.GetMajor());
  EXPECT_EQ(5u, version.GetMinor());
  EXPECT_EQ(17u, version.GetBuild());
  EXPECT_EQ(3u, version.GetRevision());
  const std::pair<int, const wchar_t*> strings[] = {
      {QorFs::FileVersionInfo::ProductName, L"Contoso Widget"},
      {QorFs::FileVersionInfo::CompanyName, L"Contoso"},
      {QorFs::FileVersionInfo::FileVersion, L"2.5.17.3"},
      {QorFs::FileVersionInfo::ProductVersion, L"2.5 beta"},
      {QorFs::FileVersionInfo::LegalCopyright, L"\u00a9 2024 Contoso"},
      {QorFs::FileVersionInfo::FileDescription, L"Contoso Widget Setup"},
  };
  for (const auto& s : strings) {
    std::wstring value;
    EXPECT_TRUE(version.GetString(s.first, value)) << s.first;
    EXPECT_EQ(s.second, value);
  }
  std::wstring absent;
  EXPECT_FALSE(version.GetString(QorFs::FileVersionInfo::Comments, absent));
  // "2.5 beta" is no version number: the fixed part's product version stays 0.
  std::vector<BYTE> block(GetFileVersionInfoSizeW(branded.c_str(), nullptr));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(
      GetFileVersionInfoW(branded.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  EXPECT_EQ(0u, fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);
}

// The installer's silent switches go into string 110, beside the title and
// the class name; list and check of the stamped setup show them.
TEST(VtrpackStamp, StoresTheUnattendedArgumentsAndListShowsThem) {
  ScratchFolder scratch;
  const std::wstring base = QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE);
  const std::wstring payloadPath = scratch.path() + L"p.zuk";
  PayloadTest::WriteFileBytes(payloadPath, MakePayload("unattended"));
  const std::wstring plain = scratch.path() + L"plain.exe";
  const std::wstring stamped = scratch.path() + L"stamped.exe";
  ASSERT_EQ(0u, StampWith(L"", base, payloadPath, plain).exitCode);
  Result r =
      StampWith(L"--unattended-arguments \"/S /D=\\\"C:\\a b\\\"\"", base, payloadPath, stamped);
  ASSERT_EQ(0u, r.exitCode) << r.output;
  ExpectChecksumRight(stamped);
  const std::wstring expected = L"/S /D=\"C:\\a b\"";

  HMODULE module = LoadLibraryExW(stamped.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  wchar_t text[100] = {};
  EXPECT_EQ(static_cast<int>(expected.size()), LoadStringW(module, 110, text, 100));
  EXPECT_EQ(expected, text);
  EXPECT_GT(LoadStringW(module, 109, text, 100), 0);
  EXPECT_STREQ(L"QORINC.QORWARDEN.SETUP.20", text);
  FreeLibrary(module);

  const std::string shown = QorTest::Narrow(L"Unattended arguments: " + expected);
  for (const wchar_t* command : {L"list ", L"check "}) {
    Result listed = RunTool(command + Quote(stamped));
    EXPECT_EQ(0u, listed.exitCode) << listed.output;
    EXPECT_NE(std::string::npos, listed.output.find(shown)) << listed.output;
    EXPECT_NE(std::string::npos, listed.output.find(command[0] == L'l' ? "VTRInstaller.exe" : "OK"))
        << listed.output;
    Result none = RunTool(command + Quote(plain));
    EXPECT_EQ(0u, none.exitCode) << none.output;
    EXPECT_NE(std::string::npos, none.output.find("Unattended arguments: none")) << none.output;
  }
  // stamp itself takes only a payload, never a setup in its place.
  Result swapped = StampWith(L"", base, stamped, scratch.path() + L"again.exe");
  EXPECT_EQ(1u, swapped.exitCode) << swapped.output;
  EXPECT_NE(std::string::npos, swapped.output.find("is not a payload")) << swapped.output;
}

// Branding that the launcher has already changes no byte; a stamp without
// branding keeps what an earlier one gave; branding again replaces it whole.
TEST(VtrpackStamp, BrandingIsKeptReplacedOrWithoutEffect) {
  ScratchFolder scratch;
  const std::wstring base = QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE);
  const std::wstring payload = scratch.path() + L"p.zuk";
  PayloadTest::WriteFileBytes(payload, MakePayload("kept"));
  const std::wstring icon = QorTest::WindowsPath(VELTRANO_TEST_ICON);
  auto stamp = [&](const std::wstring& options, const std::wstring& from, const wchar_t* name) {
    const std::wstring out = scratch.path() + name;
    Result r = StampWith(options, from, payload, out);
    EXPECT_EQ(0u, r.exitCode) << r.output;
    return out;
  };
  const std::wstring plain = stamp(L"", base, L"plain.exe");
  const std::wstring own = stamp(L"--title \"Qor Veltrano Setup\" --icon " +
                                     Quote(QorTest::WindowsPath(VELTRANO_SETUP_ICON)),
                                 base, L"own.exe");
  EXPECT_TRUE(ReadProgram(plain) == ReadProgram(own));

  const std::wstring first = stamp(L"--title First --icon " + Quote(icon) +
                                       L" --version-info ProductName=First"
                                       L" --version-info FileVersion=1.2",
                                   base, L"first.exe");
  const std::wstring again = stamp(L"", first, L"again.exe");
  const ResourceTree firstTree = LoadResourceTree(first, LOAD_LIBRARY_AS_DATAFILE);
  ResourceTree againTree = LoadResourceTree(again, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_TRUE(firstTree == againTree);

  const std::wstring second =
      stamp(L"--icon " + Quote(icon) + L" --version-info ProductName=Second", again, L"second.exe");
  const ResourceTree secondTree = LoadResourceTree(second, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_EQ(2u, CountOfType(secondTree, L"#3"));
  EXPECT_EQ(1u, CountOfType(secondTree, L"#16"));
  QorFs::FileVersionInfo version(second);
  std::wstring value;
  EXPECT_TRUE(version.GetString(QorFs::FileVersionInfo::ProductName, value));
  EXPECT_EQ(L"Second", value);
  EXPECT_FALSE(version.GetString(QorFs::FileVersionInfo::FileVersion, value));
  EXPECT_EQ(0u, version.GetFileVersionMS());
  HMODULE module = LoadLibraryExW(second.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  wchar_t title[100] = {};
  LoadStringW(module, 103, title, 100);
  EXPECT_STREQ(L"First", title);
  FreeLibrary(module);
}

// Branding that cannot be carried out is refused before anything is done,
// in one line that says why; the output stays as it was.
TEST(VtrpackStamp, RefusesBrandingItCannotCarryOut) {
  ScratchFolder scratch;
  const std::wstring base = QorTest::WindowsPath(VELTRANO_SETUP_BASE_EXE);
  const std::wstring payload = scratch.path() + L"p.zuk";
  PayloadTest::WriteFileBytes(payload, MakePayload("x"));
  // The tests' icon: two images listed at 6 and 22, the first's bitmap at 38.
  const std::string icon = ReadProgram(QorTest::WindowsPath(VELTRANO_TEST_ICON));
  auto editedIcon = [&](std::size_t at, std::uint32_t value, int width) {
    std::string copy = icon;
    (width == 2 ? QorPe::Put16 : QorPe::Put32)(BytesAt(copy, at), value);
    return copy;
  };
  auto listedAs48 = [&] {
    std::string copy = icon;
    copy[6] = copy[7] = 48;
    return copy;
  };
  struct IconCase {
    const wchar_t* name;
    std::string bytes;
  } icons[] = {
      {L"text.ico", "not an icon"},
      {L"cursor.ico", editedIcon(2, 2, 2)},
      {L"none.ico", editedIcon(4, 0, 2)},
      {L"short-list.ico", icon.substr(0, 30)},
      {L"outside.ico", editedIcon(18, static_cast<std::uint32_t>(icon.size()), 4)},
      {L"depth.ico", editedIcon(38 + 14, 3, 2)},
      {L"cut.ico", editedIcon(14, 100, 4)},
      {L"listed.ico", listedAs48()},
  };
  for (const IconCase& c : icons) {
    PayloadTest::WriteFileBytes(scratch.path() + c.name, c.bytes);
  }
  const std::wstring longTitle(QorPe::kTitleLimit + 1, L'T');
  struct Case {
    std::wstring options;
    const char* reason;
  } cases[] = {
      {L"--title " + longTitle,
       "the title is 100 characters long; the setup's window shows at most 99"},
      {L"--title \"\"", "the title is empty"},
      {L"--version-info Colour=blue", "unknown version key \"Colour\"; the keys are CompanyName"},
      {L"--version-info ProductName", "version information is KEY=VALUE"},
      {L"--version-info ProductName=", "the version string ProductName is empty"},
      {L"--version-info ProductName=a --version-info PRODUCTNAME=b",
       "the version string ProductName is given twice"},
      {L"--version-info FileVersion=" + std::wstring(1025, L'1'),
       "the version string FileVersion is 1025 characters long; at most 1024"},
      {L"--unattended-arguments \"\"", "the unattended arguments are empty"},
      {L"--unattended-arguments " + std::wstring(1025, L'S'),
       "the unattended arguments are 1025 characters long; at most 1024"},
      {L"--colour blue", "unknown option \"--colour\""},
      {L"--icon " + Quote(scratch.path() + L"missing.ico"), "cannot open"},
      {L"--icon " + Quote(scratch.path() + L"text.ico"),
       "is not a usable icon: it is not an icon file"},
      {L"--icon " + Quote(scratch.path() + L"cursor.ico"), "it is a cursor, not an icon"},
      {L"--icon " + Quote(scratch.path() + L"none.ico"), "it holds no images"},
      {L"--icon " + Quote(scratch.path() + L"short-list.ico"), "its list of images is cut short"},
      {L"--icon " + Quote(scratch.path() + L"outside.ico"), "image 1 lies outside the file"},
      {L"--icon " + Quote(scratch.path() + L"depth.ico"),
       "image 1 is a bitmap of a kind icons do not use"},
      {L"--icon " + Quote(scratch.path() + L"cut.ico"), "image 1 is cut short"},
      {L"--icon " + Quote(scratch.path() + L"listed.ico"),
       "image 1 is 16x16 pixels, but the file lists it as 48x48"},
  };
  const std::wstring out = scratch.path() + L"out.exe";
  for (const Case& c : cases) {
    SCOPED_TRACE(QorTest::Narrow(c.options.substr(0, 80)));
    PayloadTest::WriteFileBytes(out, "what was here before");
    Result r = StampWith(c.options, base, payload, out);
    EXPECT_EQ(1u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find(c.reason)) << r.output;
    EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
    EXPECT_EQ("what was here before", ReadProgram(out));
  }
  // An option without its value, after the paths.
  Result r =
      RunTool(L"stamp " + Quote(base) + L" " + Quote(payload) + L" " + Quote(out) + L" --title");
  EXPECT_EQ(1u, r.exitCode) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("--title takes a value")) << r.output;
}

namespace {

// An icon file of one-pixel 32-bit bitmaps, each listed at `offsets`
// (0: right after the list and the images before it), with `used` as each
// bitmap's count of palette colours.
std::vector<unsigned char> OnePixelIcon(const std::vector<std::uint32_t>& offsets,
                                        std::uint32_t used = 0) {
  const std::size_t bitmap = 40 + 4 + 4; // header, the pixel's row, the mask's row
  std::vector<unsigned char> file(6 + 16 * offsets.size());
  QorPe::Put16(&file[2], 1);
  QorPe::Put16(&file[4], static_cast<std::uint32_t>(offsets.size()));
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::uint32_t at = offsets[i] ? offsets[i] : static_cast<std::uint32_t>(file.size());
    if (file.size() < at + bitmap) {
      file.resize(at + bitmap);
    }
    unsigned char* entry = &file[6 + 16 * i];
    entry[0] = entry[1] = 1;
    QorPe::Put16(entry + 4, 1);
    QorPe::Put16(entry + 6, 32);
    QorPe::Put32(entry + 8, static_cast<std::uint32_t>(bitmap));
    QorPe::Put32(entry + 12, at);
    if (at < 6 + 16 * offsets.size()) {
      continue; // over the list: its bytes stay the list's
    }
    unsigned char* header = &file[at];
    QorPe::Put32(header, 40);
    QorPe::Put32(header + 4, 1);
    QorPe::Put32(header + 8, 2);
    QorPe::Put16(header + 12, 1);
    QorPe::Put16(header + 14, 32);
    QorPe::Put32(header + 32, used);
  }
  return file;
}

} // namespace

// An icon costs no more than its file: images that share bytes with each
// other or with the list are refused, so that 64 images cannot each be the
// same 16 MB; nor is a palette beyond 8 bits a pixel taken.
TEST(VtrpackBranding, IconImagesApartAndWithoutPalettesBeyond8Bits) {
  std::vector<std::uint32_t> sixtyFour(64, 6 + 16 * 64);
  std::vector<unsigned char> large = OnePixelIcon({0});
  large.resize(QorPe::kIconFileLimit + 1);
  const struct {
    const char* name;
    std::vector<unsigned char> file;
    const char* refusal; // empty: taken
  } cases[] = {
      {"two images apart", OnePixelIcon({0, 0}), ""},
      {"two images, the same bytes", OnePixelIcon({38, 38}), "image 1 and image 2 overlap"},
      {"the second inside the first", OnePixelIcon({38, 40}), "image 1 and image 2 overlap"},
      {"listed in reverse, overlapping", OnePixelIcon({60, 38}), "image 1 and image 2 overlap"},
      {"64 images, the same bytes", OnePixelIcon(sixtyFour), "overlap"},
      {"an image over the list", OnePixelIcon({6}), "image 1 overlaps the list of images"},
      {"a palette at 32 bits", OnePixelIcon({0}, 1),
       "image 1 is a bitmap of a kind icons do not use"},
      {"larger than 16 MB", large, "it is larger than 16 MB"},
  };
  for (const auto& c : cases) {
    std::string refusal;
    try {
      QorPe::ReadIconFile(c.file, "test.ico");
    } catch (const QorPe::StampError& error) {
      refusal = error.what();
    }
    if (*c.refusal == '\0') {
      EXPECT_EQ("", refusal) << c.name;
    } else {
      EXPECT_NE(std::string::npos, refusal.find(c.refusal)) << c.name << ": " << refusal;
    }
  }
}
