// The owner and access list of files and folders, as the tests read them
// back.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace QorTest {

inline bool RunningOnWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The owner and access list of the object at path in SDDL, read back
// through a handle with GetSecurityInfo; empty when they cannot be read.
inline std::wstring DescriptorText(const std::wstring& path) {
  HANDLE handle = CreateFileW(path.c_str(), READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return std::wstring();
  }
  const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = GetSecurityInfo(handle, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr,
                                     nullptr, &descriptor);
  CloseHandle(handle);
  wchar_t* text = nullptr;
  std::wstring result;
  if (read == ERROR_SUCCESS && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                   descriptor, SDDL_REVISION_1, parts, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

// Wine keeps no descriptors of files: it shows one made from the Unix mode
// that the given one was turned into, owned by the account that made it;
// there only entries for nobody but that account, SYSTEM and
// Administrators tell.
inline bool WineShowsOwnerSystemAndAdminsOnly(const std::wstring& sddl) {
  const std::size_t ownerEnd = sddl.find(L"D:");
  if (sddl.compare(0, 2, L"O:") != 0 || ownerEnd == std::wstring::npos) {
    return false;
  }
  const std::wstring owner = sddl.substr(2, ownerEnd - 2);
  bool any = false;
  for (std::size_t open = sddl.find(L'(', ownerEnd); open != std::wstring::npos;
       open = sddl.find(L'(', open + 1)) {
    const std::size_t close = sddl.find(L')', open);
    const std::wstring trustee =
        sddl.substr(sddl.rfind(L';', close) + 1, close - sddl.rfind(L';', close) - 1);
    if (trustee != owner && trustee != L"BA" && trustee != L"SY") {
      return false;
    }
    any = true;
  }
  return any;
}

// Whether a descriptor read back with DescriptorText is the one that lets
// only administrators and the system in. Windows keeps it as it was given.
inline bool ShowsAdminOnly(const std::wstring& sddl) {
  if (!RunningOnWine()) {
    return sddl == L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  }
  return WineShowsOwnerSystemAndAdminsOnly(sddl);
}

// The SID of the process's user in its text form; empty when it cannot be read.
inline std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return std::wstring();
  }
  std::vector<ULONGLONG> buffer(128);
  DWORD size = 0;
  const BOOL read = GetTokenInformation(token, TokenUser, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * 8), &size);
  CloseHandle(token);
  wchar_t* text = nullptr;
  if (!read ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return std::wstring();
  }
  std::wstring result = text;
  LocalFree(text);
  return result;
}

// Whether a descriptor read back with DescriptorText is the one that lets
// only the user, the system and administrators in, nothing inherited. On
// Wine (see above) the owner must be that user.
inline bool ShowsUserOnly(const std::wstring& sddl, const std::wstring& user) {
  if (user.empty()) {
    return false;
  }
  if (!RunningOnWine()) {
    const std::size_t dacl = sddl.find(L"D:");
    return dacl != std::wstring::npos &&
           sddl.substr(dacl) == L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  }
  return sddl.compare(0, 2 + user.size() + 2, L"O:" + user + L"D:") == 0 &&
         WineShowsOwnerSystemAndAdminsOnly(sddl);
}

} // namespace QorTest
