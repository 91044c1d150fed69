// Runs the built setup programs as a user would and checks, from outside,
// what they do: the folder they extract into, how they start the installer,
// the error boxes they show, what they leave behind and their exit codes.
#include "qor/payload/archive.h"
#include "qor/payload/compressor.h"
#include "qor/fs/fs.h"
#include "qor/payload/memory_stream.h"

#include "qor/test/bytes.h"
#include "qor/test/environment.h"
#include "qor/test/folders.h"
#include "qor/test/process.h"
#include "qor/test/security.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kClassName[] = L"QORINC.QORWARDEN.SETUP.20";
const wchar_t kCaption[] = L"Qor Veltrano Setup";
// Generous limits that only stop a hung run; nothing here measures speed.
const DWORD kRunLimitMs = 120000;

using QorTest::RandomBytes;
using QorTest::WindowsPath;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  return text;
}

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') {
    path.pop_back();
  }
  return path;
}

bool ReadBytes(const std::wstring& path, std::string& bytes) {
  return QorTest::ReadFileBytes(path, bytes);
}

void WriteBytes(const std::wstring& path, const std::string& bytes,
                DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  ASSERT_TRUE(QorTest::WriteFileBytes(path, bytes, attributes)) << GetLastError();
}

using QorTest::RemoveTree;

// Entries of a folder (ending in a backslash), -1 when it cannot be listed.
int CountEntries(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return -1;
  }
  return static_cast<int>(QorTest::ListEntries(folder).size());
}

// The system's temporary folder, where elevated runs extract.
std::wstring SystemTemp() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp\\";
}

// The folders of elevated runs in the system's temporary folder.
std::vector<std::wstring> ElevatedFolders() {
  std::vector<std::wstring> folders;
  for (const std::wstring& name : QorTest::ListEntries(SystemTemp())) {
    if (name.compare(0, 10, L"QorVTInst-") == 0) {
      folders.push_back(SystemTemp() + name + L"\\");
    }
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

// The built sample setup, or another build of it (a signed copy, say) named
// by VELTRANO_E2E_SETUP_EXE.
std::wstring SetupUnderTest() {
  wchar_t given[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"VELTRANO_E2E_SETUP_EXE", given, MAX_PATH)) {
    return given;
  }
  return WindowsPath(VELTRANO_SETUP_EXE);
}

// What the sample installer wrote about itself.
struct Report {
  bool present = false;
  std::wstring cwd;
  std::wstring commandLine;
  std::vector<std::wstring> files;
};

Report ReadReport(const std::wstring& path) {
  Report report;
  std::string bytes;
  if (!ReadBytes(path, bytes)) {
    return report;
  }
  report.present = true;
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
  std::wistringstream lines(text);
  std::wstring line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 4, L"cwd=") == 0) {
      report.cwd = line.substr(4);
    } else if (line.compare(0, 8, L"cmdline=") == 0) {
      report.commandLine = line.substr(8);
    } else if (line.compare(0, 5, L"file=") == 0) {
      report.files.push_back(line.substr(5));
    }
  }
  return report;
}

// A log the setup wrote (UTF-8), as text; empty when there is none.
std::wstring ReadLog(const std::wstring& path) {
  std::string bytes;
  if (!ReadBytes(path, bytes)) {
    return L"";
  }
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
  return text;
}

// A bzip2-compressed archive of the given entries.
std::string MakePayload(const std::vector<std::pair<std::wstring, std::string>>& entries) {
  ArchiveWriter writer;
  for (const auto& entry : entries) {
    writer.AddEntry(entry.first, entry.second);
  }
  return writer.ToString();
}

std::string Compress(const std::string& bytes) {
  std::istringstream input(bytes);
  std::ostringstream output;
  QorCompressLib::Bzip2Compressor compressor(9, 30, 8192);
  compressor.Compress(input, output, nullptr, nullptr, 1);
  return output.str();
}

std::string InstallerBytes() {
  std::string bytes;
  EXPECT_TRUE(ReadBytes(WindowsPath(VELTRANO_INSTALLER_EXE), bytes));
  return bytes;
}

struct Windows {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
  Windows* windows = reinterpret_cast<Windows*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == windows->processId) {
    windows->found.push_back(window);
  }
  return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
  Windows windows = {processId, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows.found;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  GetWindowTextW(window, text, 2048);
  return text;
}

// The message text of an error box: its static control that holds text.
std::wstring BoxText(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  if (text) {
    return TextOf(text);
  }
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    std::wstring t = TextOf(child);
    if (!t.empty()) {
      return t;
    }
  }
  return L"";
}

// How a setup runs: as the administrator the tests run as (Wine's account
// is one), or with the Administrators group only denying access, as a
// standard user's program runs.
enum class Rights { Elevated, Limited };

// The token of this process with the Administrators group for denying only.
HANDLE LimitedToken() {
  HANDLE own = nullptr;
  HANDLE limited = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own) &&
      AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                               0, 0, 0, 0, &administrators)) {
    SID_AND_ATTRIBUTES deny = {administrators, 0};
    CreateRestrictedToken(own, 0, 1, &deny, 0, nullptr, 0, nullptr, &limited);
  }
  if (administrators) {
    FreeSid(administrators);
  }
  if (own) {
    CloseHandle(own);
  }
  return limited;
}

// A running setup program with its own temporary folder.
class SetupRun {
public:
  // arguments follow the program's quoted path and one space; a suspended
  // run starts on Resume().
  SetupRun(const std::wstring& exe, const std::wstring& temp,
           const std::vector<std::wstring>& variables, Rights rights = Rights::Limited,
           const std::wstring& arguments = L"", bool suspended = false) {
    std::vector<wchar_t> block = QorTest::SetupEnvironment(temp, variables);

    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) {
      commandLine += L" " + arguments;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0);
    if (rights == Rights::Elevated) {
      started_ = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags,
                                block.data(), nullptr, &startup, &process_) != 0;
      return;
    }
    HANDLE token = LimitedToken();
    started_ =
        token && CreateProcessAsUserW(token, exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                                      flags, block.data(), nullptr, &startup, &process_) != 0;
    if (token) {
      CloseHandle(token);
    }
  }
  ~SetupRun() {
    if (started_) {
      if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
  }
  bool started() const { return started_; }
  void Resume() { ResumeThread(process_.hThread); }
  DWORD id() const { return process_.dwProcessId; }
  bool Ended(DWORD ms = 0) const { return WaitForSingleObject(process_.hProcess, ms) == 0; }

  // Until the program ends: answers every error box it shows with OK and
  // records the box texts; also notes whether any other window of it was
  // visible. Returns the exit code (0xFFFFFFFF when the limit ran out).
  DWORD Watch(DWORD limitMs = kRunLimitMs) {
    DWORD waited = 0;
    while (!Ended(50)) {
      waited += 50;
      if (waited > limitMs) {
        return 0xFFFFFFFF;
      }
      for (HWND window : TopLevelWindowsOf(id())) {
        if (!IsWindowVisible(window)) {
          continue;
        }
        if (ClassOf(window) == L"#32770") {
          if (std::find(answered_.begin(), answered_.end(), window) != answered_.end()) {
            continue;
          }
          answered_.push_back(window);
          boxes.push_back({TextOf(window), BoxText(window)});
          PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
        } else if (ClassOf(window) == kClassName) {
          sawProgressWindow = true;
        }
        sawAnyWindow = true;
      }
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  struct Box {
    std::wstring caption, text;
  };
  std::vector<Box> boxes;
  bool sawProgressWindow = false;
  bool sawAnyWindow = false; // a box or any other window, visible

private:
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
  std::vector<HWND> answered_;
};

// What another program of the user tries: as soon as the working folder
// exists, move it away and put its own folder with a planted library in its
// place, until the installer runs.
// An elevated run's folder is found as the one that was not there before.
struct SwapAttempt {
  std::wstring target, aside, report;
  std::vector<std::wstring> before; // elevated runs' folders before the run
  volatile LONG stop = 0;
  int attempts = 0;
  bool swapped = false;
};

DWORD WINAPI TrySwapFolder(LPVOID parameter) {
  SwapAttempt& o = *static_cast<SwapAttempt*>(parameter);
  while (!o.stop && !o.swapped && !QorFs::Exists(o.report)) {
    std::wstring target = o.target;
    if (target.empty()) {
      for (const std::wstring& folder : ElevatedFolders()) {
        if (std::find(o.before.begin(), o.before.end(), folder) == o.before.end()) {
          target = WithoutTrailingSlash(folder);
        }
      }
    }
    if (!target.empty() && QorFs::IsDirectory(target)) {
      ++o.attempts;
      if (MoveFileW(target.c_str(), o.aside.c_str())) {
        o.swapped = true;
        CreateDirectoryW(target.c_str(), nullptr);
        HANDLE dll = CreateFileW((target + L"\\planted.dll").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
        CloseHandle(dll);
      }
    }
    Sleep(1);
  }
  return 0;
}

// A test's own folder under the build, with a temporary folder for the setup.
// After a failure it stays there, to be looked at.
class E2eTest : public ::testing::Test {
protected:
  void SetUp() override {
    work_ = work_folder_.path();
    temp_ = work_folder_.MakeFolder(L"temp");
    target_ = temp_ + L"QorVTInst.tmp\\";
    report_ = work_ + L"report.txt";
  }
  void TearDown() override {
    if (HasFailure()) {
      work_folder_.Keep();
    }
  }

  static std::wstring WorkRoot() {
    const std::wstring root = WindowsPath(VELTRANO_E2E_WORK);
    CreateDirectoryW(root.c_str(), nullptr);
    return root;
  }

  // A copy of the payload-less launcher that carries payload, made with the
  // payload builder as a user would, with its branding `options`.
  std::wstring Stamp(const std::string& payload, const std::wstring& name,
                     const std::wstring& options = L"") {
    const std::wstring payloadFile = work_ + name + L".zuk";
    const std::wstring exe = work_ + name + L".exe";
    WriteBytes(payloadFile, payload);
    std::wstring commandLine = L"\"" + WindowsPath(VELTRANO_VTRPACK_EXE) + L"\" stamp " + options +
                               L" \"" + WindowsPath(VELTRANO_SETUP_BASE_EXE) + L"\" \"" +
                               payloadFile + L"\" \"" + exe + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &process)) {
      WaitForSingleObject(process.hProcess, kRunLimitMs);
      GetExitCodeProcess(process.hProcess, &code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    EXPECT_EQ(0u, code) << "vtrpack stamp failed";
    return exe;
  }

  // The builder refuses payloads that cannot be extracted; broken ones for
  // the failure cases go into their copy of the launcher directly.
  std::wstring StampBroken(const std::string& payload, const std::wstring& name) {
    const std::wstring exe = work_ + name + L".exe";
    EXPECT_TRUE(CopyFileW(WindowsPath(VELTRANO_SETUP_BASE_EXE).c_str(), exe.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    EXPECT_TRUE(update);
    std::string bytes = payload;
    EXPECT_TRUE(UpdateResourceW(update, L"ZUK", MAKEINTRESOURCEW(137),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), &bytes[0],
                                static_cast<DWORD>(bytes.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE));
    return exe;
  }

  std::wstring ReportVariable() const { return L"VELTRANO_INSTALLER_REPORT=" + report_; }

  // Nothing but the default logs of quiet and passive runs in the
  // temporary folder.
  bool ExtractedNothing() const {
    for (const std::wstring& name : QorTest::ListEntries(temp_)) {
      if (name.compare(0, 14, L"VeltranoSetup-") != 0) {
        return false;
      }
    }
    return true;
  }
  // The default logs in the temporary folder, one after the other.
  std::wstring ReadDefaultLogs() const {
    std::wstring text;
    for (const std::wstring& name : QorTest::ListEntries(temp_)) {
      if (name.compare(0, 14, L"VeltranoSetup-") == 0) {
        text += ReadLog(temp_ + name);
      }
    }
    return text;
  }

  // Waits for the installer's report (the installer is running then).
  // Until the report can be read, not only seen: under processor emulation
  // a run once found the report there but could not yet open it.
  bool WaitForReport() const {
    std::string bytes;
    for (DWORD waited = 0; waited < kRunLimitMs; waited += 50) {
      if (QorFs::Exists(report_) && ReadBytes(report_, bytes)) {
        return true;
      }
      Sleep(50);
    }
    return false;
  }

  // Waits until nothing holds files of the folder, then removes it.
  void RemoveWhenFree(const std::wstring& folder) {
    for (DWORD waited = 0; waited < kRunLimitMs && QorFs::Exists(folder); waited += 100) {
      RemoveTree(folder);
      Sleep(100);
    }
  }

  QorTest::ScratchFolder work_folder_{WorkRoot()};
  std::wstring work_, temp_, target_, report_;
};

// An event that the sample installer waits for before it ends.
class Gate {
public:
  Gate() : name_(L"VeltranoE2eGate" + std::to_wstring(GetCurrentProcessId())) {
    event_ = CreateEventW(nullptr, TRUE, FALSE, name_.c_str());
  }
  ~Gate() {
    Open();
    CloseHandle(event_);
  }
  std::wstring Variable() const { return L"VELTRANO_INSTALLER_WAIT=" + name_; }
  void Open() { SetEvent(event_); }

private:
  std::wstring name_;
  HANDLE event_;
};

// The screen's DPI that Wine gives every program started while this is in
// place (the LogPixels setting of the user's desktop); what was there before
// comes back afterwards. The tests run one at a time, so no other program
// of the suite starts meanwhile.
class ScreenDpi {
public:
  explicit ScreenDpi(DWORD dpi) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                        nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    DWORD size = sizeof previous_;
    DWORD type = 0;
    hadValue_ = RegQueryValueExW(key_, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&previous_),
                                 &size) == ERROR_SUCCESS &&
                type == REG_DWORD;
    set_ = RegSetValueExW(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                          sizeof dpi) == ERROR_SUCCESS;
  }
  ~ScreenDpi() {
    if (!key_) {
      return;
    }
    if (hadValue_) {
      RegSetValueExW(key_, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_),
                     sizeof previous_);
    } else {
      RegDeleteValueW(key_, kValue);
    }
    RegCloseKey(key_);
  }
  ScreenDpi(const ScreenDpi&) = delete;
  ScreenDpi& operator=(const ScreenDpi&) = delete;
  bool set() const { return set_; }

private:
  static constexpr const wchar_t* kValue = L"LogPixels";
  HKEY key_ = nullptr;
  DWORD previous_ = 0;
  bool hadValue_ = false;
  bool set_ = false;
};

} // namespace

TEST(BuiltSetup, CarriesItsResources) {
  HMODULE exe =
      LoadLibraryExW(WindowsPath(VELTRANO_SETUP_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(exe);
  wchar_t text[100] = {};
  ASSERT_GT(LoadStringW(exe, 103, text, 100), 0);
  EXPECT_STREQ(L"Qor Veltrano Setup", text);
  ASSERT_GT(LoadStringW(exe, 109, text, 100), 0);
  EXPECT_STREQ(kClassName, text);
  EXPECT_TRUE(FindResourceW(exe, MAKEINTRESOURCEW(108), MAKEINTRESOURCEW(14))); // RT_GROUP_ICON

  struct Piece {
    int id, width;
  } pieces[] = {{129, 1}, {130, 6}, {131, 6}, {132, 5}, {133, 5}, {134, 1}};
  for (const Piece& p : pieces) {
    HRSRC found = FindResourceW(exe, MAKEINTRESOURCEW(p.id), MAKEINTRESOURCEW(2)); // RT_BITMAP
    ASSERT_TRUE(found) << p.id;
    const BITMAPINFOHEADER* header =
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(exe, found)));
    ASSERT_TRUE(header);
    EXPECT_EQ(p.width, header->biWidth) << p.id;
    EXPECT_EQ(20, header->biHeight) << p.id;
    EXPECT_EQ(24, header->biBitCount) << p.id;
  }

  HRSRC payload = FindResourceW(exe, MAKEINTRESOURCEW(137), L"ZUK");
  ASSERT_TRUE(payload);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(exe, payload)));
  EXPECT_EQ(0, std::memcmp(bytes, "BZh9", 4)) << "a bzip2 stream with 900 kB blocks";

  HRSRC manifest = FindResourceW(exe, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
  ASSERT_TRUE(manifest);
  std::string xml(static_cast<const char*>(LockResource(LoadResource(exe, manifest))),
                  SizeofResource(exe, manifest));
  // The launcher names the processor it was built for, as this test was.
#ifdef _WIN64
  EXPECT_NE(std::string::npos, xml.find("processorArchitecture=\"amd64\""));
#else
  EXPECT_NE(std::string::npos, xml.find("processorArchitecture=\"X86\""));
#endif
  EXPECT_NE(std::string::npos, xml.find("version=\"1.0.0.0\""));
  EXPECT_NE(std::string::npos, xml.find("level=\"requireAdministrator\""));
  // It draws for the screen's DPI itself, so Windows does not stretch it:
  // for each monitor's DPI on Windows 10, for the system's before.
  EXPECT_NE(std::string::npos, xml.find(">PerMonitorV2</dpiAwareness>"));
  EXPECT_NE(std::string::npos, xml.find(">true</dpiAware>"));
  FreeLibrary(exe);
}

// A standard user's run extracts in the user's temporary folder, an
// elevated run in a new folder of its own in the system's.
TEST_F(E2eTest, InstallerRunsInTheTargetFolderWithItsBareName) {
  // The temporary folder is given in its short form: the target folder and
  // with it the installer's current directory are in the long form.
  const std::wstring longTemp = work_ + L"Temporary Files Of The User\\";
  QorFs::CreateDirectories(longTemp);
  wchar_t shortTemp[MAX_PATH];
  ASSERT_GT(GetShortPathNameW(longTemp.c_str(), shortTemp, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring::npos, std::wstring(shortTemp).find(L"Temporary Files"));

  for (Rights rights : {Rights::Limited, Rights::Elevated}) {
    SCOPED_TRACE(rights == Rights::Limited ? "limited" : "elevated");
    DeleteFileW(report_.c_str());
    const std::vector<std::wstring> before = ElevatedFolders();
    SetupRun run(SetupUnderTest(), shortTemp, {ReportVariable()}, rights);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(0u, run.Watch());
    EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
    EXPECT_TRUE(run.sawProgressWindow);

    Report report = ReadReport(report_);
    ASSERT_TRUE(report.present);
    const std::wstring cwd = Lower(WithoutTrailingSlash(report.cwd));
    if (rights == Rights::Limited) {
      EXPECT_EQ(Lower(longTemp + L"QorVTInst.tmp"), cwd) << report.cwd.c_str();
    } else {
      EXPECT_EQ(Lower(SystemTemp() + L"QorVTInst-"), cwd.substr(0, SystemTemp().size() + 10))
          << report.cwd.c_str();
    }
    EXPECT_EQ(L"VTRInstaller.exe", report.commandLine);
    std::vector<std::wstring> expected = {L"VTRInstaller.exe", L"license.txt", L"readme.txt",
                                          L"sample-data.txt"};
    std::sort(report.files.begin(), report.files.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, report.files);
    // After the installer has ended everything extracted is gone.
    EXPECT_FALSE(QorFs::Exists(report.cwd));
    EXPECT_EQ(0, CountEntries(longTemp));
    EXPECT_EQ(before, ElevatedFolders());
  }
}

// Every elevated run extracts into a folder of its own that only
// administrators and the system may open.
TEST_F(E2eTest, ElevatedRunsExtractIntoANewFolderForAdministratorsOnly) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "a"}})),
            L"elevated");
  const std::vector<std::wstring> before = ElevatedFolders();
  std::vector<std::wstring> used;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    DeleteFileW(report_.c_str());
    Gate gate;
    SetupRun setup(exe, temp_, {ReportVariable(), gate.Variable()}, Rights::Elevated);
    ASSERT_TRUE(setup.started());
    ASSERT_TRUE(WaitForReport());
    const std::wstring folder = ReadReport(report_).cwd;
    EXPECT_EQ(Lower(SystemTemp() + L"QorVTInst-"),
              Lower(folder.substr(0, SystemTemp().size() + 10)));
    EXPECT_TRUE(QorFs::IsFile(folder + L"\\a.txt"));
    const std::wstring shown = QorTest::DescriptorText(folder);
    EXPECT_TRUE(QorTest::ShowsAdminOnly(shown)) << std::string(shown.begin(), shown.end());
    EXPECT_TRUE(std::find(used.begin(), used.end(), Lower(folder)) == used.end());
    used.push_back(Lower(folder));
    gate.Open();
    EXPECT_EQ(0u, setup.Watch());
    EXPECT_TRUE(setup.boxes.empty());
    EXPECT_FALSE(QorFs::Exists(folder));
  }
  EXPECT_EQ(before, ElevatedFolders());
  EXPECT_EQ(0, CountEntries(temp_)) << "nothing in the user's temporary folder";
}

// Held for longer than the clean-up tries: the file and its folder stay, and
// the log names them; an elevated run has them removed at the next restart.
TEST_F(E2eTest, FileHeldOpenByTheInstallersChildStaysWithItsFolder) {
  const std::string payload = Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()},
                                                    {L"held.txt", "held open"},
                                                    {L"other.txt", "deleted"}}));
  const std::wstring exe = Stamp(payload, L"hold");
  for (Rights rights : {Rights::Limited, Rights::Elevated}) {
    SCOPED_TRACE(rights == Rights::Limited ? "limited" : "elevated");
    DeleteFileW(report_.c_str());
    const std::wstring log = work_ + L"hold.log";
    SetupRun run(exe, temp_,
                 {ReportVariable(), L"VELTRANO_INSTALLER_HOLD=held.txt",
                  L"VELTRANO_INSTALLER_HOLD_MS=20000"},
                 rights, L"/log \"" + log + L"\"");
    ASSERT_TRUE(run.started());
    EXPECT_EQ(0u, run.Watch());
    EXPECT_TRUE(run.boxes.empty());
    const Report report = ReadReport(report_);
    ASSERT_TRUE(report.present);
    const std::wstring folder = report.cwd + L"\\";
    EXPECT_TRUE(QorFs::IsFile(folder + L"held.txt"));
    EXPECT_FALSE(QorFs::Exists(folder + L"other.txt"));
    EXPECT_TRUE(QorFs::IsDirectory(folder));
    const std::wstring text = ReadLog(log);
    if (rights == Rights::Limited) {
      EXPECT_NE(std::wstring::npos, text.find(L"held.txt could not be removed"));
      EXPECT_NE(std::wstring::npos, text.find(L"QorVTInst.tmp\\ stays"));
    } else {
      EXPECT_NE(std::wstring::npos,
                text.find(L"held.txt is in use; it is removed at the next restart"));
      EXPECT_NE(std::wstring::npos, text.find(L"\\ is removed at the next restart"));
    }
    RemoveWhenFree(folder);
  }
}

TEST_F(E2eTest, SecondCopyShowsNothingAndEndsWith1618) {
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "a"}})), L"single");
  Gate gate;
  SetupRun first(exe, temp_, {ReportVariable(), gate.Variable()});
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(WaitForReport());
  ASSERT_TRUE(FindWindowW(kClassName, nullptr));

  const std::wstring secondReport = work_ + L"second.txt";
  SetupRun second(exe, temp_, {L"VELTRANO_INSTALLER_REPORT=" + secondReport});
  ASSERT_TRUE(second.started());
  EXPECT_EQ(1618u, second.Watch());
  EXPECT_TRUE(second.boxes.empty());
  EXPECT_FALSE(second.sawProgressWindow);
  EXPECT_FALSE(QorFs::Exists(secondReport));
  // The first copy's files are untouched by the second.
  EXPECT_TRUE(QorFs::IsFile(target_ + L"a.txt"));
  EXPECT_FALSE(first.Ended());

  gate.Open();
  EXPECT_EQ(0u, first.Watch());
  EXPECT_FALSE(QorFs::Exists(target_));
}

// Closed from outside while the installer runs: its files stay as long as
// it needs them, and go once it has ended.
TEST_F(E2eTest, CloseCommandWhileTheInstallerRunsCleansUpAfterIt) {
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "a"}})), L"close");
  Gate gate;
  SetupRun run(exe, temp_, {ReportVariable(), gate.Variable()});
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(WaitForReport());
  HWND window = FindWindowW(kClassName, nullptr);
  ASSERT_TRUE(window);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  ASSERT_EQ(run.id(), owner);
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(105, 0), 0);
  EXPECT_FALSE(IsWindow(window)) << "the window goes at once";
  EXPECT_FALSE(run.Ended(500)) << "the setup waits for the installer";
  EXPECT_TRUE(QorFs::IsFile(target_ + L"a.txt"));
  gate.Open();
  EXPECT_EQ(0u, run.Watch());
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_FALSE(QorFs::Exists(target_));
}

// WM_DESTROY or WM_QUIT from another program of the user ends the run like
// a close: during the extraction at once, while the installer runs after
// it; nothing extracted stays.
TEST_F(E2eTest, ForgedDestroyOrQuitLeavesNoExtractedFiles) {
  const std::wstring exe = Stamp(Compress(MakePayload({{L"bulk.bin", RandomBytes(12u << 20, 5)},
                                                       {L"VTRInstaller.exe", InstallerBytes()}})),
                                 L"forged-end");
  struct Case {
    const char* name;
    UINT message;
    bool installerRuns;
  } cases[] = {
      {"WM_DESTROY while extracting", WM_DESTROY, false},
      {"WM_QUIT while extracting", WM_QUIT, false},
      {"WM_DESTROY while the installer runs", WM_DESTROY, true},
      {"WM_QUIT while the installer runs", WM_QUIT, true},
  };
  const std::vector<std::wstring> before = ElevatedFolders();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(report_.c_str());
    Gate gate;
    SetupRun run(exe, temp_, {ReportVariable(), gate.Variable()}, Rights::Elevated);
    ASSERT_TRUE(run.started());
    HWND window = nullptr;
    for (int i = 0; i < 4000 && !(window && ElevatedFolders() != before); ++i) {
      Sleep(5);
      window = FindWindowW(kClassName, nullptr);
    }
    ASSERT_TRUE(window);
    if (c.installerRuns) {
      ASSERT_TRUE(WaitForReport());
    }
    if (c.message == WM_QUIT) {
      PostMessageW(window, WM_QUIT, 0, 0);
    } else {
      SendMessageW(window, WM_DESTROY, 0, 0);
    }
    if (c.installerRuns) {
      EXPECT_FALSE(run.Ended(500)) << "the setup waits for the installer";
      gate.Open();
    }
    EXPECT_EQ(c.installerRuns ? 0u : 1602u, run.Watch());
    EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
    EXPECT_EQ(c.installerRuns, QorFs::Exists(report_));
    EXPECT_EQ(before, ElevatedFolders()) << "nothing extracted stays";
  }
}

TEST_F(E2eTest, LeftoversInTheTargetFolderNeverReachTheInstaller) {
  // Files left there before, or planted by another program of the user: a
  // library the installer would load, a read-only file, a subfolder.
  QorFs::CreateDirectories(target_ + L"sub\\");
  WriteBytes(target_ + L"version.dll", "planted");
  WriteBytes(target_ + L"a.txt", "old");
  ASSERT_TRUE(SetFileAttributesW((target_ + L"a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  WriteBytes(target_ + L"sub\\inner.txt", "old");

  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "new"}})),
            L"leftovers");
  SetupRun run(exe, temp_, {ReportVariable()});
  ASSERT_TRUE(run.started());
  EXPECT_EQ(0u, run.Watch());
  EXPECT_TRUE(run.boxes.empty());
  Report report = ReadReport(report_);
  ASSERT_TRUE(report.present);
  std::sort(report.files.begin(), report.files.end());
  EXPECT_EQ((std::vector<std::wstring>{L"VTRInstaller.exe", L"a.txt"}), report.files);
  EXPECT_FALSE(QorFs::Exists(target_));
}

TEST_F(E2eTest, FailuresShowOneBoxCleanUpAndEndWithTheirCodes) {
  const std::string installer = InstallerBytes();
  struct Case {
    const char* name;
    std::string payload;
    const wchar_t* expectedText;
    bool tempIsAFile; // no folder at all can be made
    DWORD exitCode;
  } cases[] = {
      {"not bzip2", std::string(400, 'Z') + "this is not a compressed stream",
       L"Unable to find the end of compressed stream.", false, 1620},
      {"not an archive", Compress(std::string(5000, 'x') + "plain text, no archive"),
       L"Archive is corrupted.", false, 1620},
      // The second entry's name is one Windows cannot create: the archive is
      // refused before anything is written.
      {"entry that cannot be written",
       Compress(MakePayload(
           {{L"a.txt", "first"}, {L"a*b?.txt", "second"}, {L"VTRInstaller.exe", installer}})),
       L"Error while extracting file from archive. Details: unsafe entry name \"a*b?.txt\"", false,
       1620},
      // Also smaller than 100 bytes: the progress step must not be 0.
      {"tiny payload without installer", Compress(MakePayload({{L"a.txt", "x"}})),
       L"Unable to start installation program.", false, 1619},
      // No folder can be made at all: the error of the preparation is shown
      // like the worker's, with the system's reason.
      {"temporary folder is a file", Compress(MakePayload({{L"VTRInstaller.exe", installer}})),
       L"Unable to create directory", true, 1632},
  };
  ASSERT_LT(cases[3].payload.size(), 100u);
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(target_);
    DeleteFileW(report_.c_str());
    if (c.tempIsAFile) {
      RemoveTree(temp_);
      WriteBytes(WithoutTrailingSlash(temp_), "not a folder");
    }
    const std::wstring exe = StampBroken(c.payload, L"failure" + std::to_wstring(index++));
    SetupRun run(exe, temp_, {ReportVariable()});
    ASSERT_TRUE(run.started());
    EXPECT_EQ(c.exitCode, run.Watch());
    if (c.tempIsAFile) {
      DeleteFileW(WithoutTrailingSlash(temp_).c_str());
      QorFs::CreateDirectories(temp_);
    }
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kCaption, run.boxes[0].caption);
    EXPECT_NE(std::wstring::npos, run.boxes[0].text.find(c.expectedText))
        << run.boxes[0].text.c_str();
    EXPECT_EQ(std::wstring::npos, run.boxes[0].text.find(L"No more files"))
        << run.boxes[0].text.c_str();
    EXPECT_FALSE(QorFs::Exists(report_)) << "the installer was started";
    EXPECT_FALSE(QorFs::Exists(target_));
    EXPECT_EQ(0, CountEntries(temp_)) << "nothing left in the temporary folder";
  }
}

// The launcher decodes the payload's blocks on several threads: a damaged or
// cut stream fails as the sequential codec does, before the installer
// starts; bytes after a whole stream are ignored as the codec ignores them.
TEST_F(E2eTest, DamagedStreamsFailAsTheCodecDoes) {
  std::string text;
  std::uint32_t state = 5;
  while (text.size() < 1500000) {
    state = state * 1103515245u + 12345u;
    text += (state >> 28) < 8 ? "setup " : "payload\r\n";
  }
  const std::string good =
      Compress(MakePayload({{L"a.txt", text}, {L"VTRInstaller.exe", InstallerBytes()}}));
  auto damaged = [&](std::size_t at) {
    std::string s = good;
    s[at] = static_cast<char>(s[at] ^ 0x24);
    return s;
  };
  struct Case {
    const char* name;
    std::string payload;
    bool starts;
  } cases[] = {
      {"damaged block checksum", damaged(11), false},
      {"damaged stream checksum", damaged(good.size() - 3), false},
      {"cut in the middle", good.substr(0, good.size() / 2), false},
      {"bytes after the end", good + "more bytes after the stream", true},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(target_);
    DeleteFileW(report_.c_str());
    const std::wstring exe = StampBroken(c.payload, L"stream" + std::to_wstring(index++));
    SetupRun run(exe, temp_, {ReportVariable()});
    ASSERT_TRUE(run.started());
    EXPECT_EQ(c.starts ? 0u : 1620u, run.Watch());
    if (c.starts) {
      EXPECT_TRUE(run.boxes.empty());
      EXPECT_TRUE(ReadReport(report_).present);
    } else {
      ASSERT_EQ(1u, run.boxes.size());
      EXPECT_NE(std::wstring::npos,
                run.boxes[0].text.find(L"Unable to find the end of compressed stream."))
          << run.boxes[0].text.c_str();
      EXPECT_FALSE(QorFs::Exists(report_)) << "the installer was started";
    }
    EXPECT_FALSE(QorFs::Exists(target_));
  }
}

// Wine reports the Windows version that the prefix's settings name for a
// program's file name; the setup refuses versions before Windows 2000.
TEST_F(E2eTest, UnsupportedWindowsIsReportedAndEndsWith1150) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}})), L"old-windows-setup");
  for (const wchar_t* version : {L"nt40", L"win98"}) {
    SCOPED_TRACE(testing::Message()
                 << "version " << std::string(version, version + wcslen(version)));
    QorTest::WineVersionOverride reported(L"old-windows-setup.exe", version);
    SetupRun run(exe, temp_, {ReportVariable()});
    ASSERT_TRUE(run.started());
    DWORD code = run.Watch();
    EXPECT_EQ(1150u, code);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(kCaption, run.boxes[0].caption);
    EXPECT_NE(std::wstring::npos, run.boxes[0].text.find(L"Unable to determine OS version."))
        << run.boxes[0].text.c_str();
    EXPECT_FALSE(run.sawProgressWindow);
    EXPECT_FALSE(QorFs::Exists(target_));
    EXPECT_FALSE(QorFs::Exists(report_));
  }
}

// The oldest Windows the setup supports: on a reported Windows 2000 SP4 it
// extracts, starts the installer and cleans up as anywhere else.
TEST_F(E2eTest, Windows2000RunsTheWholeSetup) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "first"}})),
            L"win2000-setup");
  QorTest::WineVersionOverride reported(L"win2000-setup.exe", L"win2k");
  SetupRun run(exe, temp_, {ReportVariable()});
  ASSERT_TRUE(run.started());
  DWORD code = run.Watch();
  EXPECT_EQ(0u, code);
  EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
  EXPECT_TRUE(run.sawProgressWindow);
  Report report = ReadReport(report_);
  ASSERT_TRUE(report.present);
  std::sort(report.files.begin(), report.files.end());
  EXPECT_EQ((std::vector<std::wstring>{L"VTRInstaller.exe", L"a.txt"}), report.files);
  EXPECT_FALSE(QorFs::Exists(target_));
}

TEST_F(E2eTest, ForgedNotesDuringExtractionAreIgnored) {
  // A payload large enough that extraction is still running when the notes
  // arrive: an early completion note would start the installer before its
  // files exist, a forged failure note would free an arbitrary address.
  const std::string bulk = RandomBytes(24u << 20, 12345);
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"bulk.bin", bulk}, {L"VTRInstaller.exe", InstallerBytes()}})),
            L"forged");
  SetupRun run(exe, temp_, {ReportVariable()});
  ASSERT_TRUE(run.started());
  HWND window = nullptr;
  for (int i = 0; i < 400 && !window; ++i) {
    Sleep(25);
    for (HWND w : TopLevelWindowsOf(run.id())) {
      if (ClassOf(w) == kClassName) {
        window = w;
      }
    }
  }
  ASSERT_TRUE(window);
  PostMessageW(window, WM_USER + 57, 0, static_cast<LPARAM>(0x12345678));
  PostMessageW(window, WM_USER + 57, 0, 0);
  PostMessageW(window, WM_USER + 55, 0, 0);
  PostMessageW(window, WM_USER + 54, 0, 0);
  EXPECT_EQ(0u, run.Watch());
  EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
  Report report = ReadReport(report_);
  ASSERT_TRUE(report.present);
  std::sort(report.files.begin(), report.files.end());
  EXPECT_EQ((std::vector<std::wstring>{L"VTRInstaller.exe", L"bulk.bin"}), report.files);
  EXPECT_FALSE(QorFs::Exists(target_));
}

TEST_F(E2eTest, FullDiskIsACleanFailure) {
  // tests/e2e/full_disk.sh maps a small RAM disk to a drive letter and
  // names it here; the payload does not fit on it.
  wchar_t small[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"VELTRANO_E2E_SMALL_TEMP", small, MAX_PATH)) {
    GTEST_SKIP() << "needs a small disk: run through tests/e2e/full_disk.sh";
  }
  const std::string bulk = RandomBytes(6u << 20, 99);
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"bulk.bin", bulk}})),
            L"fulldisk");
  const std::wstring target = std::wstring(small) + L"QorVTInst.tmp";
  // The files are weighed against the free space before the first byte:
  // nothing is written, and the box and the log name the volume and both
  // sizes.
  const std::wstring log = work_ + L"fulldisk.log";
  SetupRun run(exe, small, {ReportVariable()}, Rights::Limited, L"/log \"" + log + L"\"");
  ASSERT_TRUE(run.started());
  EXPECT_EQ(112u, run.Watch());
  ASSERT_EQ(1u, run.boxes.size());
  EXPECT_EQ(L"Qor Veltrano Setup", run.boxes[0].caption);
  const std::wstring expected = L"There is not enough space on " + std::wstring(small) +
                                L" to extract the files: they need " +
                                std::to_wstring(InstallerBytes().size() + bulk.size()) +
                                L" bytes, and ";
  EXPECT_NE(std::wstring::npos, run.boxes[0].text.find(expected)) << run.boxes[0].text.c_str();
  EXPECT_NE(std::wstring::npos, ReadLog(log).find(expected));
  EXPECT_NE(std::wstring::npos, ReadLog(log).find(L"Exit code: 112"));
  EXPECT_EQ(std::wstring::npos, ReadLog(log).find(L"Writing ")) << "nothing was written";
  EXPECT_FALSE(ReadReport(report_).present); // the installer never started
  EXPECT_FALSE(QorFs::Exists(target));       // the empty folder removed
}

// Another program of the user watches for the working folder and tries to
// swap it for its own, with a planted library in it, while the payload is
// expanded.
TEST_F(E2eTest, AnotherProgramCannotSwapTheFolderDuringExtraction) {
  const std::wstring exe = Stamp(Compress(MakePayload({{L"bulk.bin", RandomBytes(4u << 20, 7)},
                                                       {L"VTRInstaller.exe", InstallerBytes()}})),
                                 L"swap");
  for (Rights rights : {Rights::Limited, Rights::Elevated}) {
    SCOPED_TRACE(rights == Rights::Limited ? "limited" : "elevated");
    DeleteFileW(report_.c_str());
    SwapAttempt other;
    other.target = rights == Rights::Limited ? WithoutTrailingSlash(target_) : std::wstring();
    // Beside it: a folder moves only within its volume.
    other.aside = (rights == Rights::Limited ? temp_ : SystemTemp()) + L"taken-by-another-program";
    other.report = report_;
    other.before = ElevatedFolders();
    HANDLE thread = CreateThread(nullptr, 0, TrySwapFolder, &other, 0, nullptr);
    ASSERT_TRUE(thread);
    SetupRun run(exe, temp_, {ReportVariable()}, rights);
    ASSERT_TRUE(run.started());
    const DWORD code = run.Watch();
    InterlockedExchange(&other.stop, 1);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(0u, code);
    EXPECT_GT(other.attempts, 0) << "the folder was never seen";
    EXPECT_FALSE(other.swapped);
    Report report = ReadReport(report_);
    if (report.present) {
      EXPECT_TRUE(run.boxes.empty());
      std::sort(report.files.begin(), report.files.end());
      EXPECT_EQ((std::vector<std::wstring>{L"VTRInstaller.exe", L"bulk.bin"}), report.files);
    }
    EXPECT_EQ(other.before, ElevatedFolders());
    RemoveTree(other.aside);
  }
}

TEST_F(E2eTest, LeftoverHeldOpenByAnotherProgramStillInstalls) {
  // The case of an installer whose child still holds one of its files.
  QorFs::CreateDirectories(target_);
  WriteBytes(target_ + L"held.txt", "old");
  HANDLE held = CreateFileW((target_ + L"held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "new"}})), L"busy");
  SetupRun run(exe, temp_, {ReportVariable()});
  ASSERT_TRUE(run.started());
  EXPECT_EQ(0u, run.Watch());
  EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
  Report report = ReadReport(report_);
  ASSERT_TRUE(report.present);
  std::sort(report.files.begin(), report.files.end());
  EXPECT_EQ((std::vector<std::wstring>{L"VTRInstaller.exe", L"a.txt"}), report.files);
  EXPECT_FALSE(QorFs::Exists(report.cwd)) << "the folder it ran from is cleaned up";
  char bytes[16] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(held, bytes, sizeof bytes, &got, nullptr));
  EXPECT_EQ("old", std::string(bytes, got));
  CloseHandle(held);
}

TEST_F(E2eTest, ClosingDuringExtractionStopsTheWorkerAndLeavesNothing) {
  const std::wstring exe = Stamp(Compress(MakePayload({{L"bulk.bin", RandomBytes(12u << 20, 3)},
                                                       {L"VTRInstaller.exe", InstallerBytes()}})),
                                 L"closing");
  struct Case {
    const char* name;
    UINT message;
    WPARAM wParam;
  } cases[] = {{"command 105", WM_COMMAND, MAKEWPARAM(105, 0)}, {"WM_CLOSE", WM_CLOSE, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetupRun run(exe, temp_, {ReportVariable()});
    ASSERT_TRUE(run.started());
    HWND window = nullptr;
    for (int i = 0; i < 2000 && !(window && QorFs::IsDirectory(target_)); ++i) {
      Sleep(5);
      window = FindWindowW(kClassName, nullptr);
    }
    ASSERT_TRUE(window);
    SendMessageW(window, c.message, c.wParam, 0);
    EXPECT_FALSE(IsWindow(window)) << "the window goes at once";
    EXPECT_EQ(1602u, run.Watch());
    EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
    EXPECT_FALSE(QorFs::Exists(report_)) << "the installer was started";
    EXPECT_EQ(0, CountEntries(temp_)) << "nothing left behind";
  }
}

// A setup branded when it was stamped shows its own title: its window is
// found by the new title, and the setup runs through as ever. (Wine shows
// no other process the icon of a window's class; vtrpack's tests load the
// branded icon from the program and look at its pixels.)
TEST_F(E2eTest, BrandedSetupShowsItsTitle) {
  const std::wstring title = L"Contoso Widget Setup \u2713";
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "a"}})), L"branded",
      L"--title \"" + title + L"\" --icon \"" + WindowsPath(VELTRANO_TEST_ICON) +
          L"\" --version-info \"ProductName=Contoso Widget\"");
  Gate gate;
  SetupRun run(exe, temp_, {ReportVariable(), gate.Variable()});
  ASSERT_TRUE(run.started());
  HWND window = nullptr;
  for (DWORD waited = 0; !window && waited < kRunLimitMs && !run.Ended(); waited += 25) {
    window = FindWindowW(kClassName, title.c_str());
    Sleep(window ? 0 : 25);
  }
  ASSERT_TRUE(window);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  EXPECT_EQ(run.id(), owner);
  EXPECT_EQ(title, TextOf(window));
  gate.Open();
  EXPECT_EQ(0u, run.Watch());
  EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
  EXPECT_TRUE(ReadReport(report_).present);
  EXPECT_FALSE(QorFs::Exists(target_));
}

// What a deployment tool sees: the installer's own exit code, whatever it
// is, and nothing on screen in a quiet run.
TEST_F(E2eTest, TheInstallersExitCodeIsTheSetups) {
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "a"}})), L"codes");
  for (DWORD code : {0u, 1u, 1603u, 3010u, 1641u}) {
    for (const wchar_t* arguments : {L"", L"/quiet"}) {
      SCOPED_TRACE(testing::Message() << code << " " << (*arguments ? "quiet" : "normal"));
      DeleteFileW(report_.c_str());
      SetupRun run(exe, temp_,
                   {ReportVariable(), L"VELTRANO_INSTALLER_EXIT=" + std::to_wstring(code)},
                   Rights::Limited, arguments);
      ASSERT_TRUE(run.started());
      EXPECT_EQ(code, run.Watch());
      EXPECT_TRUE(run.boxes.empty());
      EXPECT_EQ(*arguments == 0, run.sawProgressWindow);
      EXPECT_TRUE(ReadReport(report_).present);
      EXPECT_FALSE(QorFs::Exists(target_));
    }
  }
}

// /quiet shows nothing on any path, and its log says why it ended.
TEST_F(E2eTest, QuietRunsShowNothingAndTheLogNamesTheCause) {
  const std::string installer = InstallerBytes();
  struct Case {
    const char* name;
    std::string payload;
    std::vector<std::wstring> variables;
    bool tempIsAFile;
    DWORD exitCode;
    const wchar_t* logged;
  } cases[] = {
      {"success",
       Compress(MakePayload({{L"VTRInstaller.exe", installer}})),
       {},
       false,
       0,
       L"The installer ended with exit code 0"},
      {"failing installer",
       Compress(MakePayload({{L"VTRInstaller.exe", installer}})),
       {L"VELTRANO_INSTALLER_EXIT=1603"},
       false,
       1603,
       L"The installer ended with exit code 1603"},
      {"damaged payload",
       std::string(400, 'Z'),
       {},
       false,
       1620,
       L"Unable to find the end of compressed stream."},
      {"no installer",
       Compress(MakePayload({{L"a.txt", "x"}})),
       {},
       false,
       1619,
       L"Unable to start installation program. Error: File not found."},
      {"no working folder",
       Compress(MakePayload({{L"VTRInstaller.exe", installer}})),
       {},
       true,
       1632,
       L"Unable to create directory"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(report_.c_str());
    if (c.tempIsAFile) {
      RemoveTree(temp_);
      WriteBytes(WithoutTrailingSlash(temp_), "not a folder");
    }
    const std::wstring exe = StampBroken(c.payload, L"quiet" + std::to_wstring(index++));
    const std::wstring log = work_ + L"quiet.log";
    std::vector<std::wstring> variables = c.variables;
    variables.push_back(ReportVariable());
    SetupRun run(exe, temp_, variables, Rights::Limited, L"/quiet /log \"" + log + L"\"");
    ASSERT_TRUE(run.started());
    EXPECT_EQ(c.exitCode, run.Watch());
    if (c.tempIsAFile) {
      DeleteFileW(WithoutTrailingSlash(temp_).c_str());
      QorFs::CreateDirectories(temp_);
    }
    EXPECT_FALSE(run.sawAnyWindow);
    EXPECT_TRUE(run.boxes.empty());
    const std::wstring text = ReadLog(log);
    EXPECT_NE(std::wstring::npos, text.find(c.logged)) << std::string(text.begin(), text.end());
    EXPECT_NE(std::wstring::npos, text.find(L"Exit code: " + std::to_wstring(c.exitCode)));
    EXPECT_NE(std::wstring::npos, text.find(L"Command line: \"" + exe + L"\" /quiet /log"));
    EXPECT_FALSE(QorFs::Exists(target_));
  }
}

TEST_F(E2eTest, BadCommandLinesEndWith87AndStartNothing) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}})), L"badline");
  const std::wstring log = work_ + L"bad.log";
  struct Case {
    std::wstring arguments;
    const wchar_t* fault;
    bool box;
  } cases[] = {
      {L"/log", L"/log needs a file name.", true},
      {L"/extract", L"/extract needs a folder.", true},
      {L"/passive /q", L"/quiet and /passive cannot be given together.", false},
      {L"/quiet /log \"" + log + L"\" /EXTRACT", L"/EXTRACT needs a folder.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.arguments.begin(), c.arguments.end()));
    DeleteFileW(log.c_str());
    SetupRun run(exe, temp_, {ReportVariable()}, Rights::Limited, c.arguments);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(87u, run.Watch());
    EXPECT_FALSE(run.sawProgressWindow);
    ASSERT_EQ(c.box ? 1u : 0u, run.boxes.size());
    if (c.box) {
      EXPECT_NE(std::wstring::npos, run.boxes[0].text.find(c.fault)) << run.boxes[0].text.c_str();
    } else {
      EXPECT_FALSE(run.sawAnyWindow);
      EXPECT_NE(std::wstring::npos, (ReadLog(log) + ReadDefaultLogs()).find(c.fault));
    }
    EXPECT_FALSE(QorFs::Exists(report_));
    EXPECT_TRUE(ExtractedNothing());
  }
}

TEST_F(E2eTest, HelpListsTheSwitchesAndEndsWithZero) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}})), L"help");
  SetupRun shown(exe, temp_, {ReportVariable()}, Rights::Limited, L"/?");
  ASSERT_TRUE(shown.started());
  EXPECT_EQ(0u, shown.Watch());
  ASSERT_EQ(1u, shown.boxes.size());
  for (const wchar_t* text : {L"/quiet", L"/passive", L"/log FILE", L"/extract FOLDER", L"/?"}) {
    EXPECT_NE(std::wstring::npos, shown.boxes[0].text.find(text));
  }
  const std::wstring log = work_ + L"help.log";
  SetupRun quiet(exe, temp_, {ReportVariable()}, Rights::Limited, L"/q /help /l \"" + log + L"\"");
  ASSERT_TRUE(quiet.started());
  EXPECT_EQ(0u, quiet.Watch());
  EXPECT_FALSE(quiet.sawAnyWindow);
  EXPECT_NE(std::wstring::npos, ReadLog(log).find(L"/extract FOLDER"));
  EXPECT_FALSE(QorFs::Exists(report_));
}

// The caller's arguments reach the installer as written; a quiet or passive
// run puts the packager's unattended arguments first.
TEST_F(E2eTest, ArgumentsPassToTheInstallerAsWritten) {
  const std::string payload = Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}}));
  const std::wstring plain = Stamp(payload, L"plain");
  const std::wstring stamped =
      Stamp(payload, L"unattended", L"--unattended-arguments \"/S /norestart\"");
  struct Case {
    const wchar_t* name;
    std::wstring exe;
    std::wstring arguments;
    std::wstring installer;
  } cases[] = {
      {L"bare", plain, L"", L"VTRInstaller.exe"},
      {L"quotes and spaces", plain, L"INSTALLDIR=\"C:\\Program  Files\\X\" /S",
       L"VTRInstaller.exe INSTALLDIR=\"C:\\Program  Files\\X\" /S"},
      {L"after --", plain, L"/passive -- /quiet \"a b\"", L"VTRInstaller.exe /quiet \"a b\""},
      {L"unattended, quiet", stamped, L"/quiet", L"VTRInstaller.exe /S /norestart"},
      {L"unattended, passive, with more", stamped, L"/passive /D=\"x y\"",
       L"VTRInstaller.exe /S /norestart /D=\"x y\""},
      {L"unattended, not in a normal run", stamped, L"/D=x", L"VTRInstaller.exe /D=x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    DeleteFileW(report_.c_str());
    SetupRun run(c.exe, temp_, {ReportVariable()}, Rights::Limited, c.arguments);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(0u, run.Watch());
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(c.installer, ReadReport(report_).commandLine);
  }
}

// /extract writes the files and stops: nothing is started, nothing removed,
// and nothing already there is overwritten.
TEST_F(E2eTest, ExtractOnlyWritesTheFilesAndOverwritesNothing) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "new"}})),
            L"extract");
  const std::wstring fresh = work_ + L"fresh\\deeper\\";
  const std::wstring empty = work_ + L"empty\\";
  const std::wstring taken = work_ + L"taken\\";
  QorFs::CreateDirectories(empty);
  QorFs::CreateDirectories(taken);
  WriteBytes(taken + L"a.txt", "old");
  struct Case {
    const char* name;
    std::wstring folder;
    DWORD exitCode;
  } cases[] = {{"new folder", fresh, 0}, {"empty folder", empty, 0}, {"file there", taken, 80}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetupRun run(exe, temp_, {ReportVariable()}, Rights::Limited,
                 L"/passive /extract \"" + WithoutTrailingSlash(c.folder) + L"\"");
    ASSERT_TRUE(run.started());
    EXPECT_EQ(c.exitCode, run.Watch());
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(QorFs::Exists(report_)) << "the installer was started";
    std::string bytes;
    ASSERT_TRUE(ReadBytes(c.folder + L"a.txt", bytes));
    EXPECT_EQ(c.exitCode ? "old" : "new", bytes);
    EXPECT_EQ(c.exitCode == 0, QorFs::IsFile(c.folder + L"VTRInstaller.exe"))
        << "every name is looked at before the first file is written";
    EXPECT_TRUE(ExtractedNothing());
  }
  // The refusal names the file, in the box of a normal run.
  SetupRun shown(exe, temp_, {ReportVariable()}, Rights::Limited,
                 L"/extract \"" + WithoutTrailingSlash(taken) + L"\"");
  ASSERT_TRUE(shown.started());
  EXPECT_EQ(80u, shown.Watch());
  ASSERT_EQ(1u, shown.boxes.size());
  EXPECT_NE(std::wstring::npos, shown.boxes[0].text.find(taken + L"a.txt"))
      << shown.boxes[0].text.c_str();
}

// The default log of a quiet run is a new file in the user's temporary
// folder; a file planted under its name is left alone and the log goes to
// the next name.
TEST_F(E2eTest, TheDefaultLogIsAlwaysANewFile) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}})), L"defaultlog");
  SetupRun run(exe, temp_, {ReportVariable()}, Rights::Limited, L"/quiet", true);
  ASSERT_TRUE(run.started());
  const std::wstring stem = temp_ + L"VeltranoSetup-" + std::to_wstring(run.id());
  WriteBytes(stem + L".log", "planted");
  // A host link is what Wine makes of a symbolic link, where it can make one.
  using CreateLinkFn = BOOLEAN(WINAPI*)(const wchar_t*, const wchar_t*, DWORD);
  const CreateLinkFn createLink = reinterpret_cast<CreateLinkFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
  // Wine 8 answers the call without making anything: the link case runs
  // only where a link is really there.
  const bool linked =
      createLink && createLink((stem + L"-2.log").c_str(), (work_ + L"elsewhere.txt").c_str(), 0) &&
      GetFileAttributesW((stem + L"-2.log").c_str()) != INVALID_FILE_ATTRIBUTES;
  run.Resume();
  EXPECT_EQ(0u, run.Watch());
  EXPECT_FALSE(run.sawAnyWindow);
  std::string bytes;
  ASSERT_TRUE(ReadBytes(stem + L".log", bytes));
  EXPECT_EQ("planted", bytes);
  EXPECT_FALSE(QorFs::Exists(work_ + L"elsewhere.txt")) << "the log went through the link";
  const std::wstring log = stem + (linked ? L"-3.log" : L"-2.log");
  EXPECT_NE(std::wstring::npos, ReadLog(log).find(L"Exit code: 0"));
  EXPECT_TRUE(ReadReport(report_).present);
}

// An installer that sends to every window before it ends, while the setup
// was told to quit: the setup's window is gone by then and nothing hangs.
TEST_F(E2eTest, QuitWhileTheInstallerRunsNeverHangsItsBroadcast) {
  const std::wstring exe =
      Stamp(Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}})), L"broadcast");
  Gate gate;
  SetupRun run(exe, temp_,
               {ReportVariable(), gate.Variable(), L"VELTRANO_INSTALLER_BROADCAST=1",
                L"VELTRANO_INSTALLER_EXIT=3010"});
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(WaitForReport());
  HWND window = FindWindowW(kClassName, nullptr);
  ASSERT_TRUE(window);
  PostMessageW(window, WM_QUIT, 0, 0);
  EXPECT_FALSE(run.Ended(500)) << "the setup waits for the installer";
  gate.Open();
  EXPECT_EQ(3010u, run.Watch());
  EXPECT_FALSE(QorFs::Exists(target_));
}

// A file that a scanner holds for a moment is removed once it is let go; one
// held for longer stays and the log names it.
TEST_F(E2eTest, TheCleanUpWaitsForAFileHeldForAMoment) {
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"held.txt", "held open"}})),
      L"moment");
  const std::wstring log = work_ + L"moment.log";
  SetupRun run(
      exe, temp_,
      {ReportVariable(), L"VELTRANO_INSTALLER_HOLD=held.txt", L"VELTRANO_INSTALLER_HOLD_MS=1500"},
      Rights::Limited, L"/passive /log \"" + log + L"\"");
  ASSERT_TRUE(run.started());
  EXPECT_EQ(0u, run.Watch());
  EXPECT_FALSE(QorFs::Exists(target_));
  EXPECT_NE(std::wstring::npos, ReadLog(log).find(L"Clean-up: removed"));
}

// The window is laid out for the screen's DPI: the design's 300 x 100 at
// 96 DPI, 150 % and 200 % of it at 144 and 192 DPI, centred on the screen.
TEST_F(E2eTest, WindowIsLaidOutForTheScreensDpi) {
  const std::wstring exe = Stamp(
      Compress(MakePayload({{L"VTRInstaller.exe", InstallerBytes()}, {L"a.txt", "a"}})), L"dpi");
  struct Case {
    DWORD dpi;
    LONG width, height;
  } cases[] = {{96, 300, 100}, {144, 450, 150}, {192, 600, 200}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    ScreenDpi screen(c.dpi);
    ASSERT_TRUE(screen.set());
    DeleteFileW(report_.c_str());
    Gate gate;
    SetupRun run(exe, temp_, {ReportVariable(), gate.Variable()});
    ASSERT_TRUE(run.started());
    // Once the installer runs, the window has been shown, and hidden.
    ASSERT_TRUE(WaitForReport());
    HWND window = FindWindowW(kClassName, nullptr);
    ASSERT_TRUE(window);
    RECT place = {};
    ASSERT_TRUE(GetWindowRect(window, &place));
    EXPECT_EQ(c.width, place.right - place.left);
    EXPECT_EQ(c.height, place.bottom - place.top);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - c.width) / 2, place.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - c.height) / 2, place.top);
    gate.Open();
    EXPECT_EQ(0u, run.Watch());
    EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text.c_str();
    EXPECT_FALSE(QorFs::Exists(target_));
  }
}
