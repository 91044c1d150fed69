// The native file calls: they exist on every NT system (Windows 2000
// included), create or open a file relative to a folder that is already
// open, list a folder through its handle, and rename or delete a file through
// a handle. Looked up at run time. Internal to lib/fs.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace QorFs {
namespace Detail {

struct NativeFileApi {
  using CreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
  using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
  using QueryDirectoryFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID,
                                            ULONG, ULONG, BOOLEAN, PUNICODE_STRING, BOOLEAN);
  using ToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);
  using QueryVolumeFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

  CreateFileFn createFile = nullptr;
  SetInformationFn setInformation = nullptr;
  QueryDirectoryFn queryDirectory = nullptr;
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

// Opens (or with FILE_CREATE, makes) name, one component without any
// separator, inside the folder behind folder: the path of that folder is
// never read again. The object at name is opened as itself, a link as a
// link (Wine alone opens the target of a host link: callers compare with
// the folder's listing). options are added to synchronous I/O; security
// applies to a new object. Invalid, with the thread's last error set, on
// failure.
Qor::UniqueFile OpenInside(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                           ULONG disposition, ULONG options,
                           PSECURITY_DESCRIPTOR security = nullptr);

// Opens the existing object at ntPath, a full name in the system's own
// form (\Device\HarddiskVolume1\... or \??\C:\...), as itself: a link as a
// link. Invalid, with the thread's last error set, on failure.
Qor::UniqueFile OpenByNativeName(const std::wstring& ntPath, ACCESS_MASK access, ULONG share,
                                 ULONG options);

// Renames the object behind handle (opened with DELETE) to name inside the
// folder behind folder; fails when the name is taken.
bool RenameInside(HANDLE handle, HANDLE folder, const std::wstring& name);

// One entry of a folder as its listing reports it.
struct ListedEntry {
  std::wstring name;
  DWORD attributes = 0;
  ULONGLONG id = 0; // the file index; 0 where the system lists none (Windows 2000)
};

// Lists the folder behind folder (opened for listing, synchronous I/O)
// through its handle, without "." and "..": every entry, or with a mask
// only those matching it. A handle keeps the mask of its first listing, so
// each listing takes a handle of its own. False when it cannot be listed.
bool ListInside(HANDLE folder, std::vector<ListedEntry>& entries,
                const std::wstring& mask = std::wstring());

// The file-system flags (FILE_PERSISTENT_ACLS and the like) of the volume
// that holds the object behind handle; 0 when unknown.
DWORD VolumeFlags(HANDLE handle);

} // namespace Detail
} // namespace QorFs
