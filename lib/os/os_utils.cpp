#include "qor/os/os_utils.h"
#include "qor/os/error_codes.h"

#include "qor/env_record/record.h"
#include "qor/error/error.h"
#include "qor/os/file_version.h"
#include "qor/error/system_library.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>

namespace QorOs {

namespace {

// The record DllGetVersion fills (DLLVERSIONINFO, 20 bytes).
struct DllVersionRecord {
  DWORD size;
  DWORD major;
  DWORD minor;
  DWORD build;
  DWORD platform;
};
using DllGetVersionFn = HRESULT(CALLBACK*)(DllVersionRecord*);
using RandSFn = int(__cdecl*)(unsigned int*);

bool HasFolder(const wchar_t* name) {
  return std::wcspbrk(name, L"\\/:") != nullptr;
}

// A bare library name is loaded from the system folder only, so that a
// planted copy beside the program or in the current folder is never used.
HMODULE LoadForVersion(const wchar_t* moduleName) {
  return HasFolder(moduleName) ? LoadLibraryW(moduleName) : QorWin32::LoadSystemLibrary(moduleName);
}

DWORD VersionOfModule(HMODULE module, const wchar_t* moduleName) {
  auto getVersion = QorWin32::GetFunction<DllGetVersionFn>(module, "DllGetVersion");
  if (getVersion) {
    DllVersionRecord record;
    ZeroMemory(&record, sizeof(record));
    record.size = sizeof(record);
    if (FAILED(getVersion(&record))) {
      return 0;
    }
    return (record.major << 16) + record.minor;
  }
  // The file the module was loaded from: a bare name given to the version
  // functions would be searched for and could name another file.
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  const std::wstring file =
      length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring(moduleName);
  try {
    return QorFs::FileVersionInfo(file).GetFileVersionMS();
  } catch (QorError::Exception* error) {
    delete error;
    return 0x10000;
  }
}

void MovePointer(int x, int y, int width, int height, DWORD pauseMs) {
  mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, static_cast<DWORD>(x * 65536 / width),
              static_cast<DWORD>(y * 65536 / height), 0, 0);
  Sleep(pauseMs);
}

} // namespace

DWORD GetDllVersion(const wchar_t* moduleName) {
  HMODULE module = GetModuleHandleW(moduleName);
  // Only a library loaded here is released again.
  Qor::UniqueModule loaded;
  if (!module) {
    loaded.reset(LoadForVersion(moduleName));
    module = loaded.get();
    if (!module) {
      return 0;
    }
  }
  return VersionOfModule(module, moduleName);
}

ComScope::ComScope() {
  HRESULT result = CoInitialize(nullptr);
  if (FAILED(result)) {
    QorWin32::RaiseWin32Error(kComInitializeError, nullptr, static_cast<DWORD>(result));
  }
  initialised_ = true;
}

ComScope::~ComScope() {
  if (initialised_) {
    CoUninitialize();
  }
}

bool UnloadModule(const wchar_t* moduleName) {
  // Drops references that others took, so no owner of ours is involved.
  for (int releases = 0; releases < 20; ++releases) {
    HMODULE module = GetModuleHandleW(moduleName);
    if (!module) {
      return true;
    }
    FreeLibrary(module);
  }
  return GetModuleHandleW(moduleName) == nullptr;
}

void SweepPointer() {
  RECT screen;
  GetWindowRect(GetDesktopWindow(), &screen);
  RECT work = screen;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = screen.right - screen.left;
  const int height = screen.bottom - screen.top;
  if (width <= 0 || height <= 0) {
    return;
  }
  const int right = screen.right;
  const int bottom = screen.bottom;
  if (bottom - work.bottom >= 15) {
    // A task bar of at least 15 pixels at the bottom: one pass along it.
    for (int x = right - 15; x >= right - 250; x -= 15) {
      MovePointer(x, bottom - 10, width, height, 7);
    }
  } else {
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 32000, 65535, 0, 0);
    Sleep(200);
    for (int x = right - 15; x >= right - 150; x -= 15) {
      for (int y = bottom - 10; y >= bottom - 52; y -= 16) {
        MovePointer(x, y, width, height, 7);
      }
    }
    for (int x = right - 150; x >= right - 250; x -= 15) {
      MovePointer(x, bottom - 10, width, height, 7);
    }
  }
  mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 32000, 32000, 0, 0);
}

DWORD CombineRandom(int r1, int r2, int r3, int r4) {
  return (static_cast<DWORD>(r1) + static_cast<DWORD>(r2)) * 65536u + static_cast<DWORD>(r3) +
         static_cast<DWORD>(r4);
}

DWORD Random32() {
  if (QorEnv::GetOsId() >= QorEnv::WinXP) {
    // Looked up at run time: older C libraries lack it.
    auto randS = QorWin32::GetFunction<RandSFn>(GetModuleHandleW(L"msvcrt.dll"), "rand_s");
    unsigned int value = 0;
    if (randS && randS(&value) == 0) {
      return value;
    }
  }
  int r1 = std::rand();
  int r2 = std::rand();
  int r3 = std::rand();
  int r4 = std::rand();
  return CombineRandom(r1, r2, r3, r4);
}

} // namespace QorOs
