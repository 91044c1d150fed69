#include "identity_choice.h"
#include "native_file.h"

#include "qor/error/system_library.h"
#include "qor/handle/unique_handle.h"

#include <vector>

namespace QorFs {

namespace Detail {

namespace {

constexpr int kFileIdInfoClass = 18; // FileIdInfo of FILE_INFO_BY_HANDLE_CLASS

bool AllBytesAre(const BYTE (&bytes)[16], BYTE value) {
  for (BYTE byte : bytes) {
    if (byte != value) {
      return false;
    }
  }
  return true;
}

ULONGLONG Half(const BYTE* bytes) {
  ULONGLONG value = 0;
  for (int i = 7; i >= 0; --i) {
    value = (value << 8) | bytes[i];
  }
  return value;
}

// Asks for the 128-bit id. GetFileInformationByHandleEx came with Vista
// and its FileIdInfo class with Windows 8: both may be missing.
bool ReadIdInfo(HANDLE handle, FileIdInfo& info) {
  using QueryFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
  static const QueryFn query =
      QorWin32::GetSystemFunction<QueryFn>(L"kernel32.dll", "GetFileInformationByHandleEx");
  if (!query) {
    return false;
  }
  Qor::Detail::KeepLastError keep;
  return query(handle, kFileIdInfoClass, &info, sizeof info) != FALSE;
}

// The name the system recorded for the image of process, in its own form;
// NotOffered before Windows XP.
ImageIdentity ReadImageName(HANDLE process, std::wstring& name) {
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  static const QueryFn query =
      QorWin32::GetSystemFunction<QueryFn>(L"ntdll.dll", "NtQueryInformationProcess");
  constexpr ULONG kImageFileName = 27; // ProcessImageFileName, Windows XP on
  constexpr NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
  if (!query) {
    return ImageIdentity::NotOffered;
  }
  // A counted name and the name after it: room for the longest path.
  std::vector<ULONGLONG> buffer((sizeof(UNICODE_STRING) + 65536) / sizeof(ULONGLONG) + 1);
  ULONG returned = 0;
  const NTSTATUS status = query(process, kImageFileName, buffer.data(),
                                static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)), &returned);
  if (status == kInvalidInfoClass) {
    return ImageIdentity::NotOffered;
  }
  if (Failed(status)) {
    return ImageIdentity::Unknown;
  }
  const UNICODE_STRING* counted = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
  if (!counted->Buffer || counted->Length == 0) {
    return ImageIdentity::Unknown;
  }
  name.assign(counted->Buffer, counted->Length / sizeof(wchar_t));
  return ImageIdentity::Read;
}

} // namespace

FileIdentity ChooseIdentity(const IdentityFacts& facts) {
  FileIdentity identity;
  const BYTE(&id)[16] = facts.idInfo.id;
  if (facts.idInfoRead && !AllBytesAre(id, 0) && !AllBytesAre(id, 0xFF)) {
    identity.form = FileIdentity::Form::FileId128;
    identity.volumeSerial = facts.idInfo.volumeSerial;
    identity.index = Half(id);
    identity.indexHigh = Half(id + 8);
    identity.valid = true;
  } else if (facts.fileInfoRead) {
    identity.form = FileIdentity::Form::FileIndex;
    identity.volumeSerial = facts.fileInfo.dwVolumeSerialNumber;
    identity.index = FileIndex(facts.fileInfo);
    identity.valid = true;
  }
  return identity;
}

ULONGLONG FileIndex(const BY_HANDLE_FILE_INFORMATION& info) {
  return (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

} // namespace Detail

FileIdentity IdentityOf(HANDLE handle) {
  Detail::IdentityFacts facts;
  facts.idInfoRead = Detail::ReadIdInfo(handle, facts.idInfo);
  facts.fileInfoRead = GetFileInformationByHandle(handle, &facts.fileInfo) != FALSE;
  return Detail::ChooseIdentity(facts);
}

ImageIdentity ImageIdentityOf(HANDLE process, FileIdentity& identity) {
  identity = FileIdentity();
  std::wstring name;
  const ImageIdentity read = Detail::ReadImageName(process, name);
  if (read != ImageIdentity::Read) {
    return read;
  }
  Qor::UniqueFile image = Detail::OpenByNativeName(
      name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      FILE_NON_DIRECTORY_FILE);
  if (!image) {
    return ImageIdentity::Unknown;
  }
  identity = IdentityOf(image.get());
  return identity.valid ? ImageIdentity::Read : ImageIdentity::Unknown;
}

} // namespace QorFs
