// Scratch folders for tests: one fixture, written against the plain system
// calls so that it judges the library's file code without sharing any of it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace QorTest {

namespace Detail {

// A search handle closed at the end of the scope.
class FindGuard {
public:
  FindGuard(const std::wstring& pattern, WIN32_FIND_DATAW& entry)
      : handle_(FindFirstFileW(pattern.c_str(), &entry)) {}
  ~FindGuard() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      FindClose(handle_);
    }
  }
  FindGuard(const FindGuard&) = delete;
  FindGuard& operator=(const FindGuard&) = delete;
  bool found() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAW& entry) { return FindNextFileW(handle_, &entry) != 0; }

private:
  HANDLE handle_;
};

inline bool IsDots(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// The running test as "Suite.Name", or the program's name outside a test;
// only characters that are safe in a file name.
inline std::wstring CurrentLabel() {
  std::wstring label;
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info) {
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    label.assign(name.begin(), name.end());
  } else {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    label = module;
    label = label.substr(label.find_last_of(L"\\/") + 1);
    label = label.substr(0, label.rfind(L'.'));
  }
  for (wchar_t& c : label) {
    const bool safe = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                      (c >= L'0' && c <= L'9') || c == L'.' || c == L'_' || c == L'-';
    if (!safe) {
      c = L'_';
    }
  }
  // Room is left for what the tests build inside.
  const std::size_t kMaxLabel = 64;
  return label.substr(0, kMaxLabel);
}

// The temporary folder in its long form, ending in a backslash.
inline std::wstring TemporaryFolder() {
  wchar_t temp[MAX_PATH] = {};
  DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) {
    return std::wstring();
  }
  wchar_t full[MAX_PATH] = {};
  length = GetLongPathNameW(temp, full, MAX_PATH);
  std::wstring folder = length > 0 && length < MAX_PATH ? full : temp;
  if (folder.back() != L'\\') {
    folder += L'\\';
  }
  return folder;
}

// Deletes the link (reparse point) at path itself, never what it leads to.
// Opened as itself, a link must say so: Wine opens what a host link leads to
// even then, and deleting by name there would delete the target (an empty
// folder, or a file). Such a link is left where it is.
inline void DeleteLink(const std::wstring& path, DWORD attributes) {
  HANDLE handle = CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool itself = GetFileInformationByHandle(handle, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  CloseHandle(handle);
  if (!itself) {
    return;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

} // namespace Detail

// Removes folder (with or without a final backslash) and everything below
// it, read-only entries included. A link (any reparse point) is never
// entered, so nothing outside the folder is touched; it is deleted itself
// where the system can do that safely. A folder that is not there is no
// error.
inline void RemoveTree(std::wstring folder) {
  if (!folder.empty() && folder.back() == L'\\') {
    folder.pop_back();
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    Detail::DeleteLink(folder, attributes);
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return;
  }
  folder += L'\\';
  SetFileAttributesW(folder.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  std::vector<std::wstring> folders;
  {
    WIN32_FIND_DATAW entry;
    Detail::FindGuard search(folder + L"*", entry);
    if (search.found()) {
      do {
        if (Detail::IsDots(entry.cFileName)) {
          continue;
        }
        const std::wstring path = folder + entry.cFileName;
        const DWORD kind = entry.dwFileAttributes;
        if (kind & FILE_ATTRIBUTE_REPARSE_POINT) {
          // Its attributes are left alone too: setting them may reach the
          // target.
          Detail::DeleteLink(path, kind);
        } else if (kind & FILE_ATTRIBUTE_DIRECTORY) {
          folders.push_back(path + L"\\");
        } else {
          if (kind & FILE_ATTRIBUTE_READONLY) {
            SetFileAttributesW(path.c_str(), kind & ~FILE_ATTRIBUTE_READONLY);
          }
          DeleteFileW(path.c_str());
        }
      } while (search.Next(entry));
    }
  }
  for (const std::wstring& sub : folders) {
    RemoveTree(sub);
  }
  RemoveDirectoryW(folder.c_str());
}

// The names directly in folder (ending in a backslash), files and subfolders,
// in the order the system lists them; empty when it cannot be listed.
inline std::vector<std::wstring> ListEntries(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  Detail::FindGuard search(folder + L"*", entry);
  if (search.found()) {
    do {
      if (!Detail::IsDots(entry.cFileName)) {
        names.push_back(entry.cFileName);
      }
    } while (search.Next(entry));
  }
  return names;
}

// The whole content of the file at path; false when it cannot be opened.
inline bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  bytes.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    bytes.append(buffer, got);
  }
  CloseHandle(file);
  return true;
}

// Makes (or replaces) the file at path with exactly bytes, then gives it
// attributes; false when any step fails.
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes,
                           DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool wrote =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  CloseHandle(file);
  return wrote &&
         (attributes == FILE_ATTRIBUTE_NORMAL || SetFileAttributesW(path.c_str(), attributes));
}

// A fresh, empty folder of the running test, removed with everything in it
// when the object ends. Its name is the test's ("Suite.Name"), the process
// id and a number, so tests in parallel programs never meet.
class ScratchFolder {
public:
  // Under the temporary folder.
  ScratchFolder() : ScratchFolder(Detail::TemporaryFolder()) {}
  // Under parent (with or without a final backslash), which must exist.
  explicit ScratchFolder(std::wstring parent) {
    if (!parent.empty() && parent.back() != L'\\') {
      parent += L'\\';
    }
    static LONG counter = 0;
    const std::wstring stem =
        parent + Detail::CurrentLabel() + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const std::wstring candidate = stem + std::to_wstring(InterlockedIncrement(&counter));
      if (CreateDirectoryW(candidate.c_str(), nullptr)) {
        path_ = candidate + L"\\";
        return;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) {
        break;
      }
    }
    ADD_FAILURE() << "cannot make a scratch folder under "
                  << std::string(parent.begin(), parent.end()) << ": " << GetLastError();
  }
  ~ScratchFolder() {
    if (!path_.empty()) {
      RemoveTree(path_);
    }
  }
  ScratchFolder(ScratchFolder&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
  }
  ScratchFolder& operator=(ScratchFolder&& other) noexcept {
    if (this != &other) {
      if (!path_.empty()) {
        RemoveTree(path_);
      }
      path_ = std::move(other.path_);
      other.path_.clear();
    }
    return *this;
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, ending in a backslash; empty when it could not be made.
  const std::wstring& path() const { return path_; }

  // Leaves the folder where it is when the object ends (to look at after a
  // failed run).
  void Keep() { path_.clear(); }

  // Makes the subfolder at relative (its parent must exist) and returns its
  // path with a final backslash.
  std::wstring MakeFolder(const std::wstring& relative) const {
    std::wstring folder = path_ + relative;
    if (!folder.empty() && folder.back() == L'\\') {
      folder.pop_back();
    }
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr))
        << std::string(folder.begin(), folder.end()) << ": " << GetLastError();
    return folder + L"\\";
  }

  // Writes the file at relative with exactly bytes and returns its path.
  std::wstring Write(const std::wstring& relative, const std::string& bytes,
                     DWORD attributes = FILE_ATTRIBUTE_NORMAL) const {
    const std::wstring file = path_ + relative;
    EXPECT_TRUE(WriteFileBytes(file, bytes, attributes))
        << std::string(file.begin(), file.end()) << ": " << GetLastError();
    return file;
  }

  // The content of the file at relative; empty when it cannot be read.
  std::string Read(const std::wstring& relative) const {
    std::string bytes;
    ReadFileBytes(path_ + relative, bytes);
    return bytes;
  }

  // Whether anything (file, folder or link) is at relative.
  bool Exists(const std::wstring& relative) const {
    return GetFileAttributesW((path_ + relative).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // The names directly in the subfolder relative (ending in a backslash,
  // or empty for the folder itself), in the order the system lists them.
  std::vector<std::wstring> List(const std::wstring& relative = L"") const {
    return ListEntries(path_ + relative);
  }

private:
  std::wstring path_;
};

} // namespace QorTest
