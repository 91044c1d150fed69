// The native file calls: they exist on every NT system (Windows 2000
// included), create a folder and open it in one step, and change or delete
// a file through a handle that is already open. Looked up at run time.
// Internal to lib/fs.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace QorFs {
namespace Detail {

struct NativeFileApi {
  using CreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
  using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  using ToNtPathFn = BOOLEAN(NTAPI*)(PCWSTR, PUNICODE_STRING, PWSTR*, PVOID);
  using FreeStringFn = VOID(NTAPI*)(PUNICODE_STRING);
  using ToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);
  using QueryVolumeFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

  CreateFileFn createFile = nullptr;
  SetInformationFn setInformation = nullptr;
  ToNtPathFn toNtPath = nullptr;
  FreeStringFn freeString = nullptr;
  ToDosErrorFn toDosError = nullptr;
  QueryVolumeFn queryVolume = nullptr;
  bool complete = false;
};

const NativeFileApi& Native();

// True (and the thread's last error set to the system's code) when status
// tells of a failure.
bool Failed(NTSTATUS status);

// Marks the object behind handle for deletion when the handle is closed.
bool DeleteOnClose(HANDLE handle);

// Sets the attributes of the object behind handle; the times stay.
bool SetAttributes(HANDLE handle, DWORD attributes);

} // namespace Detail
} // namespace QorFs
