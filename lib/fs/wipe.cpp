#include "qor/fs/fs_find.h"

#include "qor/fs/delete.h"
#include "qor/fs/folder_entries.h"
#include "qor/error/error.h"
#include "qor/handle/unique_handle.h"
#include "qor/text/path.h"

#include <cstdlib>
#include <vector>

namespace QorFs {

namespace {

WipePattern* g_defaultPattern = nullptr;

constexpr DWORD kWriteChunk = 65536;

bool WriteAll(HANDLE file, const unsigned char* bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

} // namespace

WipePattern* SetDefaultWipePattern(WipePattern* pattern) {
  WipePattern* previous = g_defaultPattern;
  g_defaultPattern = pattern;
  return previous;
}

WipePattern* GetDefaultWipePattern() {
  return g_defaultPattern;
}

bool ZeroThenRandomPattern::Write(HANDLE file, DWORD count, int pass) {
  std::vector<unsigned char> bytes(count);
  if (pass != 0) {
    for (auto& b : bytes) {
      b = static_cast<unsigned char>(std::rand() >> 4);
    }
  }
  return WriteAll(file, bytes.data(), count);
}

namespace {

// Overwrites the content pass by pass. Returns early on a failed write; a
// library error from the pattern propagates (the caller's handle closes it).
void Overwrite(HANDLE file, std::uint64_t size, std::uint32_t wipeFlags, WipePattern& pattern) {
  const int passes = pattern.GetPassCount();
  for (int pass = 0; pass < passes; ++pass) {
    if (!(wipeFlags & WipeSkipLastByte)) {
      LARGE_INTEGER last;
      last.QuadPart = static_cast<LONGLONG>(size - 1);
      if (!SetFilePointerEx(file, last, nullptr, FILE_BEGIN) || !pattern.Write(file, 1, pass)) {
        return;
      }
    }
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
      return;
    }
    for (std::uint64_t done = 0; done < size;) {
      const DWORD piece = static_cast<DWORD>(size - done < kWriteChunk ? size - done : kWriteChunk);
      if (!pattern.Write(file, piece, pass)) {
        return;
      }
      done += piece;
    }
  }
}

std::wstring ScrambledName(const std::wstring& current) {
  std::wstring name = QorString::FolderPart(current);
  for (int i = 0; i < 12; ++i) {
    name += static_cast<wchar_t>(L'a' + std::rand() % 26);
  }
  return name;
}

} // namespace

bool WipeFile(const std::wstring& path, const WIN32_FIND_DATAW* record, bool deleteAfterwards,
              std::uint32_t wipeFlags, WipePattern* pattern) {
  WIN32_FIND_DATAW found;
  if (!record) {
    if (!LookUpEntry(path, found)) {
      return false;
    }
    record = &found;
  }
  if (record->dwFileAttributes == INVALID_FILE_ATTRIBUTES ||
      (record->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  const std::uint64_t size = EntrySize(*record);
  // Writing through a link would overwrite whatever it points at.
  const bool isLink = (record->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;

  if (!isLink && (wipeFlags & (WipeOverwrite | WipeZeroTimes))) {
    Qor::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_WRITE_THROUGH, nullptr));
    if (file) {
      if ((wipeFlags & WipeOverwrite) && size > 0 && pattern) {
        Overwrite(file.get(), size, wipeFlags, *pattern);
      }
      if (wipeFlags & WipeZeroTimes) {
        FILETIME zero = {};
        SetFileTime(file.get(), &zero, &zero, &zero);
      }
    }
  }

  std::wstring current = path;
  if (wipeFlags & WipeRename) {
    for (int i = 0; i < 16; ++i) {
      const std::wstring next = ScrambledName(current);
      if (MoveFileW(current.c_str(), next.c_str())) {
        current = next;
      }
    }
  }
  if (!deleteAfterwards) {
    return false;
  }
  // A file that is already gone counts as deleted.
  if (DeleteFileAlways(current) || GetLastError() == ERROR_FILE_NOT_FOUND) {
    return true;
  }
  if (current != path) {
    MoveFileW(current.c_str(), path.c_str());
  }
  return false;
}

} // namespace QorFs
