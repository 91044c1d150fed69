// Test helpers for scratch folders.
#pragma once

#include <windows.h>

#include <string>

namespace QorTest {

// Removes folder (ending in a backslash) and everything below it, read-only
// entries included. For tests' own scratch folders only.
inline void RemoveTree(const std::wstring& folder) {
  SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(folder + name + L"\\");
      } else {
        SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((folder + name).c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

} // namespace QorTest
