#include "native_file.h"

#include "qor/error/system_library.h"

namespace QorFs {
namespace Detail {

namespace {

template <class Fn> Fn Lookup(HMODULE ntdll, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

NativeFileApi LoadNativeFileApi() {
  NativeFileApi api;
  // ntdll is in every process; the reference taken here is kept.
  HMODULE ntdll = QorWin32::LoadSystemLibrary(L"ntdll.dll");
  if (!ntdll) {
    return api;
  }
  api.createFile = Lookup<NativeFileApi::CreateFileFn>(ntdll, "NtCreateFile");
  api.setInformation = Lookup<NativeFileApi::SetInformationFn>(ntdll, "NtSetInformationFile");
  api.toNtPath = Lookup<NativeFileApi::ToNtPathFn>(ntdll, "RtlDosPathNameToNtPathName_U");
  api.freeString = Lookup<NativeFileApi::FreeStringFn>(ntdll, "RtlFreeUnicodeString");
  api.toDosError = Lookup<NativeFileApi::ToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
  api.queryVolume = Lookup<NativeFileApi::QueryVolumeFn>(ntdll, "NtQueryVolumeInformationFile");
  api.complete =
      api.createFile && api.setInformation && api.toNtPath && api.freeString && api.toDosError;
  return api;
}

} // namespace

const NativeFileApi& Native() {
  // Looked up once; the compiler guards the first use against a race.
  static const NativeFileApi api = LoadNativeFileApi();
  return api;
}

bool Failed(NTSTATUS status) {
  if (status >= 0) {
    return false;
  }
  SetLastError(Native().toDosError(status));
  return true;
}

namespace {
constexpr ULONG kBasicInformation = 4;        // FileBasicInformation
constexpr ULONG kDispositionInformation = 13; // FileDispositionInformation
} // namespace

bool DeleteOnClose(HANDLE handle) {
  const NativeFileApi& api = Native();
  if (!api.complete) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  IO_STATUS_BLOCK status = {};
  BOOLEAN remove = TRUE;
  return !Failed(
      api.setInformation(handle, &status, &remove, sizeof remove, kDispositionInformation));
}

bool SetAttributes(HANDLE handle, DWORD attributes) {
  const NativeFileApi& api = Native();
  if (!api.complete) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  FILE_BASIC_INFORMATION basic = {};
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  IO_STATUS_BLOCK status = {};
  return !Failed(api.setInformation(handle, &status, &basic, sizeof basic, kBasicInformation));
}

} // namespace Detail
} // namespace QorFs
