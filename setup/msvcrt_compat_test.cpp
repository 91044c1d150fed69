// The launcher's _fstat64 slot (msvcrt_compat.c), linked into this program as
// into the launcher: the file buffer must still see how much of a regular
// file is left, and a bad descriptor must still fail.
#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <io.h>
#include <string>
#include <sys/stat.h>

namespace {

// A file in folder, named in the narrow (ANSI) form that the C library's
// plain calls take.
std::string ScratchFile(const QorTest::ScratchFolder& folder) {
  const std::wstring wide = folder.path() + L"vtr_fstat_probe.bin";
  char narrow[MAX_PATH] = {};
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
  return narrow;
}

TEST(MsvcrtCompat, FileBufferSeesTheRestOfARegularFile) {
  QorTest::ScratchFolder scratch;
  const std::string path = ScratchFile(scratch);
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(70000, 'x');
  }
  {
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.is_open());
    // An empty buffer asks the file itself: that is the _fstat64 call.
    EXPECT_EQ(70000, in.rdbuf()->in_avail());
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file);
  struct _stat64 info = {};
  EXPECT_EQ(0, _fstat64(_fileno(file), &info));
  EXPECT_EQ(70000, info.st_size);
  EXPECT_EQ(_S_IFREG, info.st_mode & _S_IFMT);
  EXPECT_NE(0, info.st_mtime);
  std::fclose(file);
  std::remove(path.c_str());

  EXPECT_EQ(-1, _fstat64(-1, &info));
}

} // namespace
