#include "qor/fs/fs.h"
#include "qor/fs/error_codes.h"

#include "qor/fs/folder_entries.h"
#include "qor/error/error.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/system_library.h"
#include "qor/error/win32_error.h"
#include "qor/text/path.h"

#include <windows.h>
// The Windows 2000 generator's names, which WIN32_LEAN_AND_MEAN leaves out.
#include <wincrypt.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace QorFs {

namespace {

bool ReadAttributes(const std::wstring& path, DWORD& attributes) {
  attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES;
}

bool IsDriveOnly(const std::wstring& path) {
  return path.find(L':') != std::wstring::npos && path.find(L'\\') == std::wstring::npos;
}

const wchar_t kNameCharacters[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Fills bytes from the system's cryptographic generator: RtlGenRandom from
// Windows XP on, the base provider's generator on Windows 2000. Both are
// looked up, so that the program still loads where one is missing.
bool SystemRandom(unsigned char* bytes, ULONG size) {
  using GenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  static const GenRandomFn genRandom =
      QorWin32::GetSystemFunction<GenRandomFn>(L"advapi32.dll", "SystemFunction036");
  if (genRandom) {
    return genRandom(bytes, size) != FALSE;
  }
  using AcquireFn = BOOL(WINAPI*)(ULONG_PTR*, LPCWSTR, LPCWSTR, DWORD, DWORD);
  using GenerateFn = BOOL(WINAPI*)(ULONG_PTR, DWORD, BYTE*);
  using ReleaseFn = BOOL(WINAPI*)(ULONG_PTR, DWORD);
  static const AcquireFn acquire =
      QorWin32::GetSystemFunction<AcquireFn>(L"advapi32.dll", "CryptAcquireContextW");
  static const GenerateFn generate =
      QorWin32::GetSystemFunction<GenerateFn>(L"advapi32.dll", "CryptGenRandom");
  static const ReleaseFn release =
      QorWin32::GetSystemFunction<ReleaseFn>(L"advapi32.dll", "CryptReleaseContext");
  ULONG_PTR provider = 0;
  if (!acquire || !generate || !release ||
      !acquire(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  const bool filled = generate(provider, size, bytes) != FALSE;
  Qor::Detail::KeepLastError keep;
  release(provider, 0);
  return filled;
}

} // namespace

bool Exists(const std::wstring& path) {
  DWORD attributes;
  return ReadAttributes(path, attributes);
}

bool IsDirectory(const std::wstring& path) {
  DWORD attributes;
  return ReadAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::wstring& path) {
  DWORD attributes;
  return ReadAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CreateDirectories(const std::wstring& path) {
  if (IsDirectory(path)) {
    return;
  }
  std::wstring prefix = path;
  for (;;) {
    std::size_t cut = prefix.rfind(L'\\');
    if (cut == std::wstring::npos) {
      break;
    }
    prefix.erase(cut);
    if (IsDirectory(prefix)) {
      break;
    }
  }
  // A relative path whose first component is missing: that component has to
  // be made too (a drive such as "C:" never is).
  if (prefix.find(L'\\') == std::wstring::npos && !IsDriveOnly(prefix) && !prefix.empty() &&
      !IsDirectory(prefix)) {
    prefix.clear();
  }
  std::size_t b = prefix.size();
  std::size_t c = path.find(L'\\', prefix.empty() ? 0 : b + 1);
  while (c != std::wstring::npos) {
    prefix.append(path, b, c - b);
    if (!prefix.empty() && !::CreateDirectoryW(prefix.c_str(), nullptr)) {
      DWORD error = ::GetLastError();
      // Another process may have made it in the meantime.
      if (!(error == ERROR_ALREADY_EXISTS && IsDirectory(prefix))) {
        ::SetLastError(error);
        QorWin32::RaiseLastWin32ErrorF(kCreateFolderError, L"Unable to create directory %s",
                                       prefix.c_str());
      }
    }
    b = c;
    c = path.find(L'\\', c + 1);
  }
}

std::uint64_t FileSize(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  return LookUpEntry(path, data) ? EntrySize(data) : 0;
}

std::wstring ToLongPath(const std::wstring& path) {
  return ToLongPath(path, kLongPathError, L"Unable to convert short path name to long");
}

std::wstring ToLongPath(const std::wstring& path, int errorCode, const wchar_t* message) {
  if (path.empty()) {
    return std::wstring();
  }
  std::wstring rest = QorString::WithoutTrailingBackslash(path);
  std::wstring result;
  while (!rest.empty()) {
    if (IsDriveOnly(rest)) {
      return rest + result;
    }
    WIN32_FIND_DATAW data;
    if (!LookUpEntry(rest, data)) {
      QorWin32::RaiseLastWin32ErrorF(errorCode, L"%s", message);
    }
    result = L"\\" + std::wstring(data.cFileName) + result;
    std::size_t cut = rest.rfind(L'\\');
    if (cut == std::wstring::npos) {
      // A relative path: its first component needs no separator before it.
      return result.substr(1);
    }
    rest.erase(cut);
  }
  return result;
}

std::wstring GetCurrentDir() {
  wchar_t buffer[256];
  DWORD length = ::GetCurrentDirectoryW(255, buffer);
  if (length == 0) {
    QorWin32::RaiseLastWin32ErrorF(kCurrentFolderError, L"Unable to get the current directory.");
  }
  if (length < 256) {
    return std::wstring(buffer, length);
  }
  std::vector<wchar_t> large(length + 1);
  DWORD second = ::GetCurrentDirectoryW(length, large.data());
  if (second == 0) {
    QorWin32::RaiseLastWin32ErrorF(kCurrentFolderLongError,
                                   L"Unable to get the current directory.");
  }
  return std::wstring(large.data());
}

std::wstring FileNamePart(const std::wstring& path) {
  std::size_t cut = path.rfind(L'\\');
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::wstring MakeUniqueName(const std::wstring& base, int randomChars) {
  if (randomChars < 1) {
    // With no random part the loop could never leave an existing name.
    QorError::RaiseRangeError(kUniqueNameTooShortError,
                              L"A unique name needs at least one random character.");
  }
  std::wstring folder = base;
  while (!folder.empty() && folder.back() == L' ') {
    folder.pop_back();
  }
  folder = QorString::WithTrailingBackslash(folder, QorString::EmptyPath::StaysEmpty);
  std::wstring candidate;
  do {
    candidate = folder;
    for (int i = 0; i < randomChars; ++i) {
      candidate += kNameCharacters[std::rand() % 62];
    }
  } while (Exists(candidate));
  return candidate;
}

std::wstring MakeSecretName(int randomChars) {
  std::wstring name;
  unsigned char bytes[64];
  while (static_cast<int>(name.size()) < randomChars) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); // what is left when nothing else is
    if (!SystemRandom(bytes, sizeof bytes)) {
      QorWin32::RaiseLastWin32ErrorF(kSecretNameError,
                                     L"Unable to make a name that other programs cannot guess.");
    }
    for (unsigned char byte : bytes) {
      // 248 = 4 x 62: every character equally likely.
      if (byte < 248 && static_cast<int>(name.size()) < randomChars) {
        name += kNameCharacters[byte % 62];
      }
    }
  }
  return name;
}

bool FilesEqual(const std::wstring& first, const std::wstring& second) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  Qor::UniqueFile a(::CreateFileW(first.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  Qor::UniqueFile b(::CreateFileW(second.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!a || !b) {
    return false;
  }
  LARGE_INTEGER sizeA, sizeB;
  if (!::GetFileSizeEx(a.get(), &sizeA) || !::GetFileSizeEx(b.get(), &sizeB) ||
      sizeA.QuadPart != sizeB.QuadPart) {
    return false;
  }
  char blockA[1024];
  char blockB[1024];
  for (;;) {
    DWORD readA = 0;
    DWORD readB = 0;
    if (!::ReadFile(a.get(), blockA, sizeof blockA, &readA, nullptr) ||
        !::ReadFile(b.get(), blockB, sizeof blockB, &readB, nullptr)) {
      return false;
    }
    if (readA != readB || std::memcmp(blockA, blockB, readA) != 0) {
      return false;
    }
    if (readA == 0) {
      return true;
    }
  }
}

} // namespace QorFs
