#include "native_file.h"

#include "qor/error/system_library.h"

#include <cstddef>
#include <cstring>

namespace QorFs {
namespace Detail {

namespace {

NativeFileApi LoadNativeFileApi() {
  NativeFileApi api;
  // ntdll is in every process; the reference taken here is kept.
  HMODULE ntdll = QorWin32::LoadSystemLibrary(L"ntdll.dll");
  if (!ntdll) {
    return api;
  }
  api.createFile = QorWin32::GetFunction<NativeFileApi::CreateFileFn>(ntdll, "NtCreateFile");
  api.setInformation =
      QorWin32::GetFunction<NativeFileApi::SetInformationFn>(ntdll, "NtSetInformationFile");
  api.queryDirectory =
      QorWin32::GetFunction<NativeFileApi::QueryDirectoryFn>(ntdll, "NtQueryDirectoryFile");
  api.toDosError =
      QorWin32::GetFunction<NativeFileApi::ToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
  api.queryVolume =
      QorWin32::GetFunction<NativeFileApi::QueryVolumeFn>(ntdll, "NtQueryVolumeInformationFile");
  api.complete = api.createFile && api.setInformation && api.queryDirectory && api.toDosError;
  return api;
}

bool Incomplete(const NativeFileApi& api) {
  if (!api.complete) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  }
  return !api.complete;
}

// One component that stays inside its folder: no separator, no stream, not
// "." or ".." (Wine would resolve those on the host's side).
bool IsSingleName(const std::wstring& name) {
  return !name.empty() && name.size() < 32767 && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:") == std::wstring::npos;
}

UNICODE_STRING Counted(const std::wstring& text) {
  UNICODE_STRING counted;
  counted.Buffer = const_cast<PWSTR>(text.c_str());
  counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  return counted;
}

constexpr ULONG kBasicInformation = 4;            // FileBasicInformation
constexpr ULONG kRenameInformation = 10;          // FileRenameInformation
constexpr ULONG kDispositionInformation = 13;     // FileDispositionInformation
constexpr ULONG kFullDirectoryInformation = 2;    // FileFullDirectoryInformation
constexpr ULONG kIdFullDirectoryInformation = 38; // FileIdFullDirectoryInformation, XP on
constexpr ULONG kVolumeAttributeInformation = 5;  // FileFsAttributeInformation
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
constexpr NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS kNotSupported = static_cast<NTSTATUS>(0xC00000BB);

struct RenameInformation {
  BOOLEAN replaceIfExists;
  HANDLE rootDirectory;
  ULONG nameLength;
  WCHAR name[1];
};

// FILE_FULL_DIR_INFORMATION and FILE_ID_FULL_DIR_INFORMATION, as far as read.
struct FullDirectoryEntry {
  ULONG next;
  ULONG index;
  LARGE_INTEGER times[4];
  LARGE_INTEGER endOfFile;
  LARGE_INTEGER allocation;
  ULONG attributes;
  ULONG nameLength;
  ULONG eaSize;
};
struct IdFullDirectoryEntry {
  FullDirectoryEntry full;
  LARGE_INTEGER id;
};
constexpr std::size_t kFullNameOffset = 68;
constexpr std::size_t kIdFullNameOffset = 80;
static_assert(sizeof(FullDirectoryEntry) >= kFullNameOffset, "FILE_FULL_DIR_INFORMATION");
static_assert(offsetof(IdFullDirectoryEntry, id) == 72, "FILE_ID_FULL_DIR_INFORMATION");

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

// One NtCreateFile, relative to root when one is given; never through a
// reparse point, synchronous. Null, with the last error set, on failure.
Qor::UniqueFile CreateNative(const NativeFileApi& api, HANDLE root, const std::wstring& name,
                             ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                             PSECURITY_DESCRIPTOR security) {
  UNICODE_STRING counted = Counted(name);
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &counted, OBJ_CASE_INSENSITIVE, root, security);
  IO_STATUS_BLOCK status = {};
  HANDLE handle = nullptr;
  const NTSTATUS result = api.createFile(
      &handle, access | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
      disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (Failed(result)) {
    return Qor::UniqueFile();
  }
  return Qor::UniqueFile(handle);
}

bool DeleteOnClose(HANDLE handle) {
  const NativeFileApi& api = Native();
  if (Incomplete(api)) {
    return false;
  }
  IO_STATUS_BLOCK status = {};
  BOOLEAN remove = TRUE;
  return !Failed(
      api.setInformation(handle, &status, &remove, sizeof remove, kDispositionInformation));
}

bool SetAttributes(HANDLE handle, DWORD attributes) {
  const NativeFileApi& api = Native();
  if (Incomplete(api)) {
    return false;
  }
  FILE_BASIC_INFORMATION basic = {};
  basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  IO_STATUS_BLOCK status = {};
  return !Failed(api.setInformation(handle, &status, &basic, sizeof basic, kBasicInformation));
}

Qor::UniqueFile OpenInside(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                           ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security) {
  const NativeFileApi& api = Native();
  if (Incomplete(api)) {
    return Qor::UniqueFile();
  }
  if (!IsSingleName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return Qor::UniqueFile();
  }
  return CreateNative(api, folder, name, access, share, disposition, options, security);
}

Qor::UniqueFile OpenByNativeName(const std::wstring& ntPath, ACCESS_MASK access, ULONG share,
                                 ULONG options) {
  const NativeFileApi& api = Native();
  if (Incomplete(api)) {
    return Qor::UniqueFile();
  }
  if (ntPath.empty() || ntPath[0] != L'\\' || ntPath.size() >= 32767) {
    SetLastError(ERROR_INVALID_NAME);
    return Qor::UniqueFile();
  }
  return CreateNative(api, nullptr, ntPath, access, share, FILE_OPEN, options, nullptr);
}

bool RenameInside(HANDLE handle, HANDLE folder, const std::wstring& name) {
  const NativeFileApi& api = Native();
  if (Incomplete(api)) {
    return false;
  }
  if (!IsSingleName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  const std::size_t bytes = name.size() * sizeof(wchar_t);
  std::vector<ULONGLONG> buffer((offsetof(RenameInformation, name) + bytes) / 8 + 1);
  RenameInformation* rename = reinterpret_cast<RenameInformation*>(buffer.data());
  rename->replaceIfExists = FALSE;
  rename->rootDirectory = folder;
  rename->nameLength = static_cast<ULONG>(bytes);
  std::memcpy(rename->name, name.data(), bytes);
  IO_STATUS_BLOCK status = {};
  return !Failed(api.setInformation(handle, &status, rename,
                                    static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)),
                                    kRenameInformation));
}

bool ListInside(HANDLE folder, std::vector<ListedEntry>& entries, const std::wstring& mask) {
  const NativeFileApi& api = Native();
  entries.clear();
  if (Incomplete(api)) {
    return false;
  }
  UNICODE_STRING counted = Counted(mask);
  std::vector<ULONGLONG> buffer(8192);
  const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG));
  // With file indexes where the file system lists them (not Windows 2000,
  // nor some network file systems).
  bool withIds = true;
  bool restart = true;
  for (;;) {
    IO_STATUS_BLOCK status = {};
    const ULONG kind = withIds ? kIdFullDirectoryInformation : kFullDirectoryInformation;
    const NTSTATUS result =
        api.queryDirectory(folder, nullptr, nullptr, nullptr, &status, buffer.data(), size, kind,
                           FALSE, mask.empty() ? nullptr : &counted, restart ? TRUE : FALSE);
    if (result == kNoMoreFiles || (restart && result == kNoSuchFile)) {
      return true;
    }
    if (restart && withIds &&
        (result == kInvalidInfoClass || result == kInvalidParameter || result == kNotImplemented)) {
      withIds = false;
      continue;
    }
    restart = false;
    if (Failed(result)) {
      return false;
    }
    const char* at = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const FullDirectoryEntry* raw = reinterpret_cast<const FullDirectoryEntry*>(at);
      const wchar_t* name =
          reinterpret_cast<const wchar_t*>(at + (withIds ? kIdFullNameOffset : kFullNameOffset));
      ListedEntry entry;
      entry.name.assign(name, raw->nameLength / sizeof(wchar_t));
      entry.attributes = raw->attributes;
      if (withIds) {
        entry.id =
            static_cast<ULONGLONG>(reinterpret_cast<const IdFullDirectoryEntry*>(at)->id.QuadPart);
      }
      if (entry.name != L"." && entry.name != L"..") {
        entries.push_back(std::move(entry));
      }
      if (raw->next == 0) {
        break;
      }
      at += raw->next;
    }
  }
}

DWORD VolumeFlags(HANDLE handle) {
  const NativeFileApi& api = Native();
  if (!api.queryVolume) {
    return 0;
  }
  // FILE_FS_ATTRIBUTE_INFORMATION: the flags come first, then the name's
  // limits and the file system's name, which may not fit and is not needed.
  ULONG information[64] = {};
  IO_STATUS_BLOCK status = {};
  const NTSTATUS result = api.queryVolume(handle, &status, information, sizeof information,
                                          kVolumeAttributeInformation);
  return result >= 0 || result == kBufferOverflow ? information[0] : 0;
}

} // namespace Detail
} // namespace QorFs
