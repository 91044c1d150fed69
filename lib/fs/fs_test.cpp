#include "qor/fs/fs.h"
#include "qor/fs/error_codes.h"

#include "qor/error/error.h"
#include "qor/error/win32_error.h"

#include "qor/test/errors.h"
#include "qor/test/folders.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

using QorTest::Catch;

void WriteFile(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(QorTest::WriteFileBytes(path, bytes));
}

// A fresh folder (ending in a backslash) under the temporary folder.
class FsTest : public ::testing::Test {
protected:
  QorTest::ScratchFolder scratch_;
  const std::wstring root_ = scratch_.path();
};

} // namespace

TEST_F(FsTest, CreateDirectoriesMakesTheFoldersFollowedByABackslash) {
  ASSERT_TRUE(CreateDirectoryW((root_ + L"A").c_str(), nullptr));
  struct Case {
    const wchar_t* path;
    const wchar_t* made;    // must exist as a folder afterwards
    const wchar_t* notMade; // must not exist afterwards
  } cases[] = {
      {L"A\\B\\C\\", L"A\\B\\C", nullptr},
      {L"A\\D\\file.txt", L"A\\D", L"A\\D\\file.txt"},
      {L"A\\", L"A", nullptr}, // already there: nothing to do
      {L"E\\F", L"E", L"E\\F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << std::string(c.path, c.path + wcslen(c.path)));
    QorFs::CreateDirectories(root_ + c.path);
    EXPECT_TRUE(QorFs::IsDirectory(root_ + c.made));
    if (c.notMade) {
      EXPECT_FALSE(QorFs::Exists(root_ + c.notMade));
    }
  }
}

TEST_F(FsTest, CreateDirectoriesFailsWith422NamingTheFolder) {
  WriteFile(root_ + L"file", "x");
  auto e = Catch([&] { QorFs::CreateDirectories(root_ + L"file\\sub\\"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorFs::kCreateFolderError, e->GetCode());
  EXPECT_NE(std::wstring::npos,
            e->GetMessageText().find(L"Unable to create directory " + root_ + L"file\n"))
      << e->GetMessageText().c_str();
  EXPECT_TRUE(dynamic_cast<QorWin32::Win32Error*>(e.get()));

  // A drive that does not exist: the first component below it is named.
  wchar_t drive = 0;
  DWORD drives = GetLogicalDrives();
  for (wchar_t d = L'Q'; d <= L'Y'; ++d) {
    if (!(drives & (1u << (d - L'A')))) {
      drive = d;
      break;
    }
  }
  ASSERT_NE(0, drive);
  std::wstring missing = std::wstring(1, drive) + L":\\A\\";
  e = Catch([&] { QorFs::CreateDirectories(missing); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorFs::kCreateFolderError, e->GetCode());
  EXPECT_NE(std::wstring::npos, e->GetMessageText().find(std::wstring(1, drive) + L":\\A\n"));
}

TEST_F(FsTest, ExistenceAndSize) {
  WriteFile(root_ + L"five", "12345");
  WriteFile(root_ + L"empty", "");
  struct Case {
    const wchar_t* name;
    bool exists, isDirectory, isFile;
    std::uint64_t size;
  } cases[] = {
      {L"five", true, false, true, 5},
      {L"empty", true, false, true, 0},
      {L"", true, true, false, 0}, // the folder itself, with its trailing backslash
      {L"missing", false, false, false, 0},
  };
  for (const Case& c : cases) {
    std::wstring p = root_ + c.name;
    SCOPED_TRACE(testing::Message() << "name #" << (&c - cases));
    EXPECT_EQ(c.exists, QorFs::Exists(p));
    EXPECT_EQ(c.isDirectory, QorFs::IsDirectory(p));
    EXPECT_EQ(c.isFile, QorFs::IsFile(p));
    if (c.isFile || !c.exists) {
      EXPECT_EQ(c.size, QorFs::FileSize(p));
    }
  }
}

TEST_F(FsTest, ToLongPathExpandsShortComponents) {
  const std::wstring longName = root_ + L"A rather long folder name";
  ASSERT_TRUE(CreateDirectoryW(longName.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((longName + L"\\Another long one").c_str(), nullptr));
  wchar_t shortPath[MAX_PATH];
  DWORD n = GetShortPathNameW((longName + L"\\Another long one\\").c_str(), shortPath, MAX_PATH);
  ASSERT_GT(n, 0u);
  ASSERT_EQ(std::wstring::npos, std::wstring(shortPath).find(L"rather long"));
  EXPECT_EQ(longName + L"\\Another long one", QorFs::ToLongPath(shortPath));
  EXPECT_EQ(longName + L"\\Another long one", QorFs::ToLongPath(longName + L"\\Another long one"));
}

TEST(FsPaths, ToLongPathOfARootAndOfNothing) {
  EXPECT_EQ(L"C:", QorFs::ToLongPath(L"C:\\"));
  EXPECT_EQ(L"C:", QorFs::ToLongPath(L"C:"));
  EXPECT_EQ(L"", QorFs::ToLongPath(L""));
}

TEST_F(FsTest, ToLongPathOfAMissingComponentRaises421) {
  auto e = Catch([&] { QorFs::ToLongPath(root_ + L"nothing\\here"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorFs::kLongPathError, e->GetCode());
  EXPECT_NE(std::wstring::npos,
            e->GetMessageText().find(L"Unable to convert short path name to long"));
}

TEST_F(FsTest, GetCurrentDirFollowsTheProcess) {
  wchar_t previous[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
  // A directory longer than the first buffer takes the second query.
  std::wstring deep = root_;
  while (deep.size() < 300) {
    deep += L"a_long_component_name_for_depth\\";
  }
  QorFs::CreateDirectories(deep);
  for (const std::wstring& dir : {root_, deep}) {
    ASSERT_TRUE(SetCurrentDirectoryW(dir.c_str()));
    std::wstring expected = dir.substr(0, dir.size() - 1);
    EXPECT_EQ(expected, QorFs::GetCurrentDir());
  }
  SetCurrentDirectoryW(previous);
}

TEST(FsPaths, FileNamePart) {
  struct Case {
    const wchar_t* path;
    const wchar_t* name;
  } cases[] = {
      {L"C:\\A\\", L""},
      {L"file.txt", L"file.txt"},
      {L"C:\\A\\b.txt", L"b.txt"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.name), QorFs::FileNamePart(c.path));
  }
}

TEST_F(FsTest, MakeUniqueNameLiesInsideTheBaseFolder) {
  for (const std::wstring& base : {root_ + L"pre", root_ + L"pre   ", root_ + L"pre\\"}) {
    std::wstring name = QorFs::MakeUniqueName(base, 8);
    ASSERT_EQ(root_.size() + 4 + 8, name.size());
    EXPECT_EQ(root_ + L"pre\\", name.substr(0, root_.size() + 4));
    for (wchar_t ch : name.substr(root_.size() + 4)) {
      EXPECT_TRUE(iswalnum(ch) && ch < 128) << static_cast<int>(ch);
    }
    EXPECT_FALSE(QorFs::Exists(name));
  }
  // One random character from 62: with 61 taken, only the free one can come back.
  const wchar_t alphabet[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  ASSERT_TRUE(CreateDirectoryW((root_ + L"full").c_str(), nullptr));
  // File names are case-insensitive, so lower and upper share a slot: take
  // every digit and letter except 'q'/'Q'.
  for (const wchar_t* p = alphabet; *p; ++p) {
    if (*p != L'q' && *p != L'Q') {
      WriteFile(root_ + L"full\\" + *p, "");
    }
  }
  std::wstring only = QorFs::MakeUniqueName(root_ + L"full", 1);
  EXPECT_TRUE(only == root_ + L"full\\q" || only == root_ + L"full\\Q");

  auto e = Catch([&] { QorFs::MakeUniqueName(root_, 0); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorFs::kUniqueNameTooShortError, e->GetCode());
}

TEST_F(FsTest, FilesEqual) {
  std::string big(5000, 'x');
  std::string bigOther = big;
  bigOther[4500] = 'y';
  WriteFile(root_ + L"a", big);
  WriteFile(root_ + L"b", big);
  WriteFile(root_ + L"c", bigOther);
  WriteFile(root_ + L"d", big.substr(0, 4999));
  WriteFile(root_ + L"e", "");
  WriteFile(root_ + L"f", "");
  struct Case {
    const wchar_t *first, *second;
    bool equal;
  } cases[] = {
      {L"a", L"b", true},
      {L"a", L"c", false},
      {L"a", L"d", false},
      {L"e", L"f", true},
      {L"a", L"a", true},
      {L"a", L"missing", false},
      {L"missing", L"missing", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.equal, QorFs::FilesEqual(root_ + c.first, root_ + c.second))
        << "case #" << (&c - cases);
  }
}
