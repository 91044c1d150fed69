// Running other programs from tests: their output, and the Windows version
// Wine reports to them.
#pragma once

#include "qor/handle/unique_handle.h"
#include "qor/test/text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace QorTest {

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output; // standard output and error together
};

// Runs the command line (the program first) with no window, waits for it and
// returns its exit code and output. The output goes to a file rather than a
// pipe: Wine's helper processes that the program may start inherit its
// handles and would hold a pipe open after the program has ended.
inline RunResult RunCapturingOutput(std::wstring commandLine) {
  RunResult result;
  wchar_t temp[MAX_PATH];
  wchar_t outputFile[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, temp) || !GetTempFileNameW(temp, L"out", 0, outputFile)) {
    ADD_FAILURE() << "cannot name the output file: " << GetLastError();
    return result;
  }
  // Deleted when its last handle closes: helpers the program started may
  // still hold it after the program has ended, which a plain delete could
  // not get past, and the file would stay in the temporary folder.
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  Qor::UniqueFile output(
      CreateFileW(outputFile, GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!output) {
    ADD_FAILURE() << "cannot create the output file: " << GetLastError();
    DeleteFileW(outputFile);
    return result;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcess failed: " << GetLastError();
  } else {
    Qor::UniqueHandle process(info.hProcess);
    Qor::UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &result.exitCode);
  }
  // Read back through the same handle, which keeps the file until then.
  SetFilePointer(output.get(), 0, nullptr, FILE_BEGIN);
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(output.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    result.output.append(buffer, read);
  }
  return result;
}

inline std::wstring Quoted(const std::wstring& path) {
  return L"\"" + path + L"\"";
}

// Makes Wine report a given Windows version ("winxp", "win7", ...) to one
// program file name, for the life of the object.
class WineVersionOverride {
public:
  WineVersionOverride(const std::wstring& exeName, const wchar_t* version)
      : path_(L"Software\\Wine\\AppDefaults\\" + exeName) {
    Qor::UniqueRegKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.put(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.get(), L"Version", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(version),
                             static_cast<DWORD>((std::wcslen(version) + 1) * sizeof(wchar_t))));
  }
  ~WineVersionOverride() { RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str()); }
  WineVersionOverride(const WineVersionOverride&) = delete;
  WineVersionOverride& operator=(const WineVersionOverride&) = delete;

private:
  std::wstring path_;
};

} // namespace QorTest
