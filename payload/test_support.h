// Helpers shared by the payload tests.
#pragma once

#include "qor/payload/archive.h"
#include "qor/payload/compressor.h"
#include "qor/error/error.h"
#include "qor/payload/memory_stream.h"
#include "qor/test/errors.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace PayloadTest {

using QorTest::Catch;

inline std::string Compress(const std::string& data) {
  QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
  std::istringstream in(data);
  std::ostringstream out;
  codec.Compress(in, out, nullptr, nullptr, 0);
  return out.str();
}

inline std::string Decompress(const std::string& data) {
  QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
  std::istringstream in(data);
  std::ostringstream out;
  codec.Decompress(in, out, nullptr, nullptr, 0);
  return out.str();
}

// Deterministic bytes (a small linear congruential generator).
class Random {
public:
  explicit Random(std::uint32_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_;
  }
  std::uint32_t Below(std::uint32_t n) { return n ? (Next() >> 8) % n : 0; }
  std::string Bytes(std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) {
      // The high bits: the low bits of this generator repeat quickly.
      c = static_cast<char>(Next() >> 24);
    }
    return s;
  }

private:
  std::uint32_t state_;
};

// A fresh folder under the temporary folder, removed with its files (one
// level of subfolders) at the end of the test.
class TempFolder {
public:
  TempFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
      path_ = std::wstring(temp) + L"payload_test_" + std::to_wstring(GetCurrentProcessId()) +
              L"_" + std::to_wstring(++counter) + L"\\";
      if (CreateDirectoryW(path_.c_str(), nullptr)) {
        break;
      }
    }
  }
  ~TempFolder() { RemoveTree(path_); }
  const std::wstring& path() const { return path_; }

  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") {
          continue;
        }
        std::wstring full = folder + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(full + L"\\");
        } else {
          SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileW(full.c_str());
        }
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
  }

  // Names directly in the folder (files and subfolders), sorted as found.
  std::vector<std::wstring> List(const std::wstring& sub = L"") const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path_ + sub + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
          names.push_back(name);
        }
      } while (FindNextFileW(find, &data));
      FindClose(find);
    }
    return names;
  }

private:
  std::wstring path_;
};

inline bool ReadFileBytes(const std::wstring& path, std::string& out) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  out.clear();
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    out.append(buffer, got);
  }
  CloseHandle(file);
  return true;
}

inline void WriteFileBytes(const std::wstring& path, const std::string& data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
}

// The launcher's whole-archive path: expand the payload into memory, read
// the archive there and write every entry into target. The library error's
// code, or 0.
inline int ExtractInMemory(const std::string& payload, const std::wstring& target) {
  QorCompressLib::MemoryOutputStream expanded;
  ArchiveReader reader;
  auto error = Catch([&] {
    QorCompressLib::MemoryInputStream in(payload.data(), payload.size());
    QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
    codec.Decompress(in, expanded, nullptr, nullptr, 1);
    reader.LoadFromMemory(expanded.data(), expanded.size());
    for (unsigned i = 0; i < reader.GetEntryCount(); ++i) {
      reader.Extract(i, target);
    }
  });
  return error ? error->GetCode() : 0;
}

} // namespace PayloadTest
