#include "native_file.h"

#include "qor/error/system_library.h"

namespace QorFs {
namespace Detail {

const NativeFileApi& Native() {
  static NativeFileApi api;
  static bool known = false;
  if (!known) {
    using QorWin32::GetSystemFunction;
    api.createFile = GetSystemFunction<NativeFileApi::CreateFileFn>(L"ntdll.dll", "NtCreateFile");
    api.setInformation =
        GetSystemFunction<NativeFileApi::SetInformationFn>(L"ntdll.dll", "NtSetInformationFile");
    api.toNtPath =
        GetSystemFunction<NativeFileApi::ToNtPathFn>(L"ntdll.dll", "RtlDosPathNameToNtPathName_U");
    api.freeString =
        GetSystemFunction<NativeFileApi::FreeStringFn>(L"ntdll.dll", "RtlFreeUnicodeString");
    api.toDosError =
        GetSystemFunction<NativeFileApi::ToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
    api.queryVolume = GetSystemFunction<NativeFileApi::QueryVolumeFn>(
        L"ntdll.dll", "NtQueryVolumeInformationFile");
    api.complete =
        api.createFile && api.setInformation && api.toNtPath && api.freeString && api.toDosError;
    known = true;
  }
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
