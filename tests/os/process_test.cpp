#include "qor/os/process.h"

#include "qor/error/error.h"
#include "qor/env/locations.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Our child program under a name no other process has.
class ChildProgram {
public:
  ChildProgram() {
    path_ = folder_.path() + L"QorProcProbe.exe";
    EXPECT_TRUE(CopyFileW((QorEnv::GetModuleFolder() + L"os_test_child.exe").c_str(), path_.c_str(),
                          FALSE));
    ready_.reset(CreateEventW(nullptr, FALSE, FALSE, L"QorProcProbeReady"));
    EXPECT_TRUE(ready_.valid());
  }
  ~ChildProgram() {
    for (auto& p : started_) {
      TerminateProcess(p.get(), 1);
      WaitForSingleObject(p.get(), INFINITE);
    }
    started_.clear();
    DeleteFileW(path_.c_str());
  }

  // Starts the child; with an exit code it ends at once, otherwise it waits.
  DWORD Start(const wchar_t* exitCode = nullptr) {
    std::wstring commandLine = L"\"" + path_ + L"\"";
    if (exitCode) {
      commandLine += L" ";
      commandLine += exitCode;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
      ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
      return 0;
    }
    Qor::UniqueHandle thread(info.hThread);
    thread.reset(); // only the process is waited for
    started_.emplace_back(info.hProcess);
    // A waiting child has started up once it signals: only then is it listed
    // with its name and modules everywhere.
    if (!exitCode) {
      HANDLE both[] = {ready_.get(), info.hProcess};
      EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, both, FALSE, INFINITE));
    }
    return info.dwProcessId;
  }
  HANDLE Handle(size_t index) const { return started_[index].get(); }
  bool HasEnded(size_t index, DWORD waitMs = 0) const {
    return WaitForSingleObject(Handle(index), waitMs) == WAIT_OBJECT_0;
  }
  const std::wstring& Path() const { return path_; }

private:
  QorTest::ScratchFolder folder_;
  std::wstring path_;
  Qor::UniqueHandle ready_;
  std::vector<Qor::UniqueHandle> started_;
};

// No process has this id: ids are multiples of four.
constexpr DWORD kNoSuchProcess = 0x7FFFFFF1;

struct Seen {
  explicit Seen(DWORD id) : processId(id) {}
  DWORD processId;
  std::wstring name;
  bool found = false;
};

bool FindId(DWORD processId, const wchar_t* name, void* user) {
  auto* seen = static_cast<Seen*>(user);
  if (processId == seen->processId) {
    seen->found = true;
    seen->name = name;
    return false;
  }
  return true;
}

} // namespace

TEST(WaitOrTerminateProcess, MissingRunningAndEndedProcesses) {
  EXPECT_TRUE(QorOs::WaitOrTerminateProcess(kNoSuchProcess, 0, true));

  ChildProgram child;
  DWORD running = child.Start();
  EXPECT_FALSE(QorOs::WaitOrTerminateProcess(running, 0, false));
  EXPECT_FALSE(child.HasEnded(0));

  EXPECT_FALSE(QorOs::WaitOrTerminateProcess(running, 0, true));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.Handle(0), INFINITE));
  DWORD code = 1234;
  GetExitCodeProcess(child.Handle(0), &code);
  EXPECT_EQ(0u, code);

  DWORD quick = child.Start(L"5");
  EXPECT_TRUE(QorOs::WaitOrTerminateProcess(quick, INFINITE, false));
  GetExitCodeProcess(child.Handle(1), &code);
  EXPECT_EQ(5u, code);
}

TEST(EnumerateProcesses, SeesOwnProcessAndChildByName) {
  Seen self(GetCurrentProcessId());
  EXPECT_TRUE(QorOs::EnumerateProcesses(FindId, &self));
  EXPECT_TRUE(self.found);
  EXPECT_EQ(L"os_tests.exe", QorOs::LowerProcessName(self.name.c_str()));

  ChildProgram child;
  Seen started(child.Start());
  EXPECT_TRUE(QorOs::EnumerateProcesses(FindId, &started));
  EXPECT_TRUE(started.found);
  EXPECT_EQ(L"QorProcProbe.exe", started.name);
}

TEST(IsProcessRunning, AnyLetterCaseAndPartOfTheName) {
  EXPECT_FALSE(QorOs::IsProcessRunning(L"qorprocprobe"));
  ChildProgram child;
  DWORD id = child.Start();
  for (const wchar_t* name :
       {L"qorprocprobe.exe", L"QORPROCPROBE", L"qOrPrOcPr", L"ProcProbe.EXE"}) {
    EXPECT_TRUE(QorOs::IsProcessRunning(name)) << std::wstring(name).size();
  }
  EXPECT_FALSE(QorOs::IsProcessRunning(L"qorprocprobe2"));
  QorOs::WaitOrTerminateProcess(id, 0, true);
  WaitForSingleObject(child.Handle(0), INFINITE);
  EXPECT_FALSE(QorOs::IsProcessRunning(L"QorProcProbe"));
}

TEST(ProcessFilters, NamesFilterAndCollector) {
  ChildProgram child;
  DWORD first = child.Start();
  DWORD second = child.Start();

  const wchar_t* names[] = {L"no-such-program", L"procprobe"};
  QorOs::ProcessNamesFilter namesFilter(names, 2);
  EXPECT_TRUE(QorOs::EnumerateProcesses(QorOs::ProcessNamesFilter::Callback, &namesFilter));
  EXPECT_TRUE(namesFilter.found);
  EXPECT_EQ(L"qorprocprobe.exe", namesFilter.matchedName);

  // Searched names are taken as given: upper case finds nothing.
  QorOs::ProcessNameFilter upper(L"QORPROCPROBE");
  QorOs::EnumerateProcesses(QorOs::ProcessNameFilter::Callback, &upper);
  EXPECT_FALSE(upper.found);

  QorOs::ProcessCollector onlyFirst(L"qorprocprobe", true);
  QorOs::EnumerateProcesses(QorOs::ProcessCollector::Callback, &onlyFirst);
  EXPECT_EQ(1u, onlyFirst.processes.size());

  QorOs::ProcessCollector all(L"qorprocprobe");
  QorOs::EnumerateProcesses(QorOs::ProcessCollector::Callback, &all);
  ASSERT_EQ(2u, all.processes.size());
  EXPECT_EQ(2u, all.processes.count(L"qorprocprobe.exe"));
  std::vector<DWORD> ids;
  for (const auto& entry : all.processes) {
    ids.push_back(entry.second);
  }
  EXPECT_TRUE((ids == std::vector<DWORD>{first, second}) ||
              (ids == std::vector<DWORD>{second, first}));

  EXPECT_FALSE(all.WaitAll(0));
  EXPECT_TRUE(all.TerminateAll());
  // Termination completes asynchronously; give a loaded machine time.
  EXPECT_TRUE(child.HasEnded(0, 10000));
  EXPECT_TRUE(child.HasEnded(1, 10000));
  // All collected processes have ended.
  EXPECT_TRUE(all.WaitAll(0));

  QorOs::ProcessCollector none(L"qorprocprobe");
  QorOs::EnumerateProcesses(QorOs::ProcessCollector::Callback, &none);
  EXPECT_TRUE(none.processes.empty());
  EXPECT_TRUE(none.WaitAll(INFINITE));
  EXPECT_TRUE(none.TerminateAll());
}

TEST(ProcessFilters, CollectorWaitsForMoreProcessesThanOneWaitTakes) {
  // 66 ended processes, more than the 64 handles one system wait takes.
  ChildProgram child;
  QorOs::ProcessCollector ended(L"qorprocprobe");
  for (size_t i = 0; i < 66; ++i) {
    DWORD id = child.Start(L"0");
    ASSERT_NE(0u, id);
    ended.processes.emplace(L"qorprocprobe.exe", id);
    WaitForSingleObject(child.Handle(i), INFINITE);
  }
  // Our handles keep the ended processes openable; all are signalled.
  EXPECT_TRUE(ended.WaitAll(0));
  // One that still runs makes the wait fail, wherever it sits.
  ended.processes.emplace(L"zzz", GetCurrentProcessId());
  EXPECT_FALSE(ended.WaitAll(0));
}

TEST(ProcessImagePath, OfAChildAndOfNothing) {
  EXPECT_TRUE(QorOs::LoadProcessStatusApi());
  EXPECT_TRUE(QorOs::LoadProcessStatusApi());
  ChildProgram child;
  DWORD id = child.Start();
  std::wstring path = QorOs::GetProcessImagePath(id);
  EXPECT_EQ(QorOs::LowerProcessName(child.Path().c_str()), QorOs::LowerProcessName(path.c_str()));
  EXPECT_EQ(L"", QorOs::GetProcessImagePath(kNoSuchProcess));
}

TEST(LowerProcessName, AsciiAndBeyond) {
  EXPECT_EQ(L"abc-xyz_09.exe", QorOs::LowerProcessName(L"AbC-XyZ_09.EXE"));
  EXPECT_EQ(L"", QorOs::LowerProcessName(nullptr));
}

namespace {

// Stand-ins for the library calls: which libraries and functions this
// "system" has, and what the loader took and gave back.
struct FakeSystem {
  bool hasPsapi = true;
  bool hasVdmdbg = true;
  bool hasFunctions = true;
  int loads = 0;
  std::vector<std::wstring> held; // one name per reference taken and not released
};
FakeSystem g_fake;

HMODULE FakeLoad(const wchar_t* name) {
  ++g_fake.loads;
  const std::wstring text = name;
  const bool present = text == L"PSAPI.DLL" ? g_fake.hasPsapi : g_fake.hasVdmdbg;
  if (!present) {
    return nullptr;
  }
  g_fake.held.push_back(text);
  return reinterpret_cast<HMODULE>(text == L"PSAPI.DLL" ? 0x1000 : 0x2000);
}

INT_PTR WINAPI FakeFunction() {
  return 0;
}

FARPROC FakeFind(HMODULE, const char* function) {
  const bool missing = !g_fake.hasFunctions && std::string(function) == "VDMEnumTaskWOWEx";
  return missing ? nullptr : FakeFunction;
}

void FakeRelease(HMODULE module) {
  const std::wstring name =
      module == reinterpret_cast<HMODULE>(0x1000) ? L"PSAPI.DLL" : L"VDMDBG.DLL";
  auto it = std::find(g_fake.held.begin(), g_fake.held.end(), name);
  ASSERT_NE(g_fake.held.end(), it) << "released more often than loaded";
  g_fake.held.erase(it);
}

} // namespace

// A failure is not remembered: the next call tries again and succeeds once
// the system has what is needed. A library that loaded stays loaded while the
// other is missing; both go when a function is missing; once everything is
// found it stays, and nothing is loaded again.
TEST(ProcessStatusApi, RetriedUntilLoadedAndKeepsWhatLoaded) {
  struct Case {
    const char* name;
    bool psapi, vdmdbg, functions;
    std::vector<std::wstring> held; // after the failed call
  } cases[] = {
      {"VDMDBG.DLL missing", true, false, true, {L"PSAPI.DLL"}},
      {"PSAPI.DLL missing", false, true, true, {L"VDMDBG.DLL"}},
      {"both missing", false, false, true, {}},
      {"a function missing", true, true, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_fake = FakeSystem();
    g_fake.hasPsapi = c.psapi;
    g_fake.hasVdmdbg = c.vdmdbg;
    g_fake.hasFunctions = c.functions;
    QorOs::Detail::ProcessStatusLoader loader({FakeLoad, FakeFind, FakeRelease});
    EXPECT_FALSE(loader.Load());
    EXPECT_FALSE(loader.loaded());
    EXPECT_EQ(2, g_fake.loads);
    EXPECT_EQ(c.held, g_fake.held);

    // The system gains what it lacked: the next call loads.
    g_fake = FakeSystem();
    EXPECT_TRUE(loader.Load());
    EXPECT_TRUE(loader.loaded());
    EXPECT_TRUE(loader.functions().vdmEnumTaskWowEx);
    EXPECT_EQ(2, g_fake.loads);
    EXPECT_EQ((std::vector<std::wstring>{L"PSAPI.DLL", L"VDMDBG.DLL"}), g_fake.held);
    g_fake.hasPsapi = false;
    EXPECT_TRUE(loader.Load());
    EXPECT_EQ(2, g_fake.loads) << "loaded once, kept";
  }
}
