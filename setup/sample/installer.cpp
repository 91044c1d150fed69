// VTRInstaller.exe of the sample payload: a stand-in for the product's real
// installer. It shows the files it finds beside itself for a few seconds.
//
// For tests, environment variables (inherited from the setup) change that:
//   VELTRANO_INSTALLER_REPORT=FILE  write the current directory, the command
//                                   line and the files beside it to FILE
//                                   (UTF-8, one "key=value" per line) and
//                                   show no window (unless ..._SHOW_MS is set)
//   VELTRANO_INSTALLER_WAIT=NAME    before ending, wait (at most 2 minutes)
//                                   until the named event is set
//   VELTRANO_INSTALLER_HOLD=NAME    start a copy of this program that keeps
//                                   the file NAME (beside it) open, without
//                                   delete sharing, for
//                                   VELTRANO_INSTALLER_HOLD_MS (default
//                                   30000) ms, and end at once
//   VELTRANO_INSTALLER_SHOW_MS=N    how long the window stays (default 4000)
//   VELTRANO_INSTALLER_EXIT=N       end with exit code N (default 0)
//   VELTRANO_INSTALLER_BROADCAST=1  before ending, send WM_SETTINGCHANGE to
//                                   every top-level window and wait for
//                                   each to answer, as installers do
#include "qor/handle/unique_handle.h"
#include "qor/fs/folder_entries.h"
#include "qor/text/path.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024];
  DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return QorString::FolderPart(std::wstring(path, n));
}

std::vector<std::wstring> FilesBeside() {
  std::vector<std::wstring> names;
  for (const QorFs::FolderEntry& entry : QorFs::FolderEntries(OwnFolder())) {
    if (!entry.IsFolder()) {
      names.push_back(entry.name());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

void WriteReport(const std::wstring& path, LONGLONG startCounter) {
  wchar_t cwd[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, cwd);
  std::wstring text = L"cwd=" + std::wstring(cwd) + L"\n";
  text += L"cmdline=" + std::wstring(GetCommandLineW()) + L"\n";
  for (const std::wstring& name : FilesBeside()) {
    text += L"file=" + name + L"\n";
  }
  // The performance counter is the same for every process, so a benchmark
  // can tell when this program started.
  text += L"start_qpc=" + std::to_wstring(startCounter) + L"\n";
  text += L"end\n";
  std::string bytes = Utf8(text);
  // Written under a temporary name and renamed, so a reader never sees half.
  std::wstring partial = path + L".part";
  {
    Qor::UniqueFile file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      return;
    }
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  } // closed before the rename
  MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The copy started with "--hold EVENT NAME": opens NAME without delete
// sharing, so that nobody can delete it, tells the starter through EVENT and
// keeps it open for a while.
int Hold(const std::wstring& arguments) {
  std::size_t space = arguments.find(L' ');
  if (space == std::wstring::npos) {
    return 1;
  }
  std::wstring eventName = arguments.substr(0, space);
  std::wstring name = arguments.substr(space + 1);
  Qor::UniqueFile file(CreateFileW((OwnFolder() + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  {
    Qor::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
    if (ready) {
      SetEvent(ready.get());
    }
  }
  std::wstring ms = Variable(L"VELTRANO_INSTALLER_HOLD_MS");
  Sleep(ms.empty() ? 30000 : static_cast<DWORD>(_wtoi(ms.c_str())));
  return 0;
}

void StartHolder(const std::wstring& name) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring eventName = L"VeltranoSampleHold" + std::to_wstring(GetCurrentProcessId());
  Qor::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  std::wstring commandLine = L"VTRInstaller.exe --hold " + eventName + L" " + name;
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(self, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    Qor::UniqueHandle child(process.hProcess);
    Qor::UniqueHandle childThread(process.hThread);
    HANDLE waits[2] = {ready.get(), child.get()};
    WaitForMultipleObjects(2, waits, FALSE, 30000);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_TIMER:
    DestroyWindow(window);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  case WM_PAINT: {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring text =
        L"Veltrano sample installer\n\nRunning in " + std::wstring(cwd) + L"\n\nFiles beside me:\n";
    for (const std::wstring& name : FilesBeside()) {
      text += L"    " + name + L"\n";
    }
    RECT area = {12, 10, client.right - 12, client.bottom - 10};
    DrawTextW(dc, text.c_str(), -1, &area, DT_LEFT | DT_NOPREFIX);
    EndPaint(window, &paint);
    return 0;
  }
  default:
    return DefWindowProcW(window, message, wParam, lParam);
  }
}

int ShowFiles(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  windowClass.lpszClassName = L"VeltranoSampleInstaller";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Veltrano sample installer",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 420, 240, nullptr, nullptr, instance, nullptr);
  if (!window) {
    return 0;
  }
  std::wstring ms = Variable(L"VELTRANO_INSTALLER_SHOW_MS");
  SetTimer(window, 1, ms.empty() ? 4000 : static_cast<UINT>(_wtoi(ms.c_str())), nullptr);
  ShowWindow(window, SW_SHOW);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  LARGE_INTEGER startCounter;
  QueryPerformanceCounter(&startCounter);
  std::wstring arguments = commandLine ? commandLine : L"";
  if (arguments.compare(0, 7, L"--hold ") == 0) {
    return Hold(arguments.substr(7));
  }
  std::wstring report = Variable(L"VELTRANO_INSTALLER_REPORT");
  if (!report.empty()) {
    WriteReport(report, startCounter.QuadPart);
  }
  if (report.empty() || !Variable(L"VELTRANO_INSTALLER_SHOW_MS").empty()) {
    ShowFiles(instance);
  }
  std::wstring hold = Variable(L"VELTRANO_INSTALLER_HOLD");
  if (!hold.empty()) {
    StartHolder(hold);
    return 0;
  }
  std::wstring wait = Variable(L"VELTRANO_INSTALLER_WAIT");
  if (!wait.empty()) {
    Qor::UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, wait.c_str()));
    if (event) {
      WaitForSingleObject(event.get(), 120000);
    }
  }
  if (!Variable(L"VELTRANO_INSTALLER_BROADCAST").empty()) {
    SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
  }
  std::wstring exitCode = Variable(L"VELTRANO_INSTALLER_EXIT");
  return exitCode.empty() ? 0 : _wtoi(exitCode.c_str());
}
