#include "qor/fs_clean/clean_locations.h"

#include "qor/fs/fs.h"
#include "qor/env/profiles.h"

#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class LocationsTest : public ::testing::Test {
protected:
  void SetUp() override { scratch_.MakeFolder(L"sub"); }
  void File(const std::wstring& relative, const std::string& content) {
    scratch_.Write(relative, content);
  }
  bool Exists(const std::wstring& relative) const { return scratch_.Exists(relative); }

  QorTest::ScratchFolder scratch_;
  const std::wstring root_ = scratch_.path();
};

TEST_F(LocationsTest, AnyFolderExists) {
  const QorReg::UserRecord user{QorEnv::GetCurrentUserName()};
  const std::wstring missing = root_ + L"missing";
  const struct {
    QorFs::FolderProbe rows[2];
    std::size_t count;
    bool expected;
  } cases[] = {
      {{{-1, root_.c_str()}, {-1, L""}}, 1, true},
      {{{-1, missing.c_str()}, {-1, L""}}, 2, false}, // an empty path is no folder
      {{{-1, missing.c_str()}, {-1, root_.c_str()}}, 2, true},
      {{{QorEnv::FolderAppData, L""}, {-1, L""}}, 1, true},
      {{{QorEnv::FolderAppData, L"VeltranoNoSuchFolder"}, {-1, L""}}, 1, false},
      {{{-1, missing.c_str()}, {-1, L""}}, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, QorFs::AnyFolderExists(c.rows, c.count, user))
        << "row 0: " << c.rows[0].folderId << " count " << c.count;
  }
}

TEST_F(LocationsTest, DeletesMatchingFilesPerRow) {
  File(L"a.txt", "12345");
  File(L"B.TXT", "1");
  File(L"c.log", "1");
  File(L"sub\\d.txt", "1");
  File(L"keep.txt", "1");
  const std::wstring user = QorEnv::GetCurrentUserName();
  const wchar_t* texts[] = {L".*\\.txt", nullptr};
  const wchar_t* notB[] = {L"b\\.txt", L"keep\\.txt", nullptr};
  const wchar_t* upper[] = {L"[A-Z]\\.TXT", nullptr};
  const wchar_t* all[] = {L".*", nullptr};
  // Without a trailing backslash the path still names the folder.
  const std::wstring bare = root_.substr(0, root_.size() - 1);
  const QorFs::CleanLocation table[] = {
      {0, root_.c_str(), texts, notB},
      {-1, bare.c_str(), upper, nullptr},
      // Names nothing: must not fall back to the working folder.
      {0, L"", all, nullptr},
  };
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(root_.c_str());
  QorFs::DeleteStats stats;
  QorFs::DeleteLocations(table, 3, user, false, &stats);
  SetCurrentDirectoryW(previous);

  EXPECT_FALSE(Exists(L"a.txt"));
  EXPECT_FALSE(Exists(L"B.TXT")); // excluded case-insensitively, then matched by row 2
  EXPECT_TRUE(Exists(L"c.log"));
  EXPECT_TRUE(Exists(L"sub\\d.txt")); // no recursion
  EXPECT_TRUE(Exists(L"keep.txt"));
  EXPECT_EQ(2u, stats.entries);
  EXPECT_EQ(6u, stats.bytes);
}

TEST_F(LocationsTest, CaseSensitiveFiltersAndWipe) {
  File(L"B.TXT", "1");
  File(L"b.txt2", "1");
  File(L"x.txt", "12");
  const wchar_t* texts[] = {L".*\\.txt", nullptr};
  const wchar_t* upper[] = {L"b\\.TXT", nullptr};
  const QorFs::CleanLocation table[] = {
      {-1, root_.c_str(), texts, nullptr},
      {-1, root_.c_str(), upper, nullptr},
  };
  QorFs::DeleteStats stats;
  QorFs::WipeLocations(table, 2, L"", true, &stats);
  EXPECT_TRUE(Exists(L"B.TXT"));
  EXPECT_TRUE(Exists(L"b.txt2"));
  EXPECT_FALSE(Exists(L"x.txt"));
  EXPECT_EQ(1u, stats.entries);
}

TEST(LocationRoot, Table) {
  const struct {
    const wchar_t* special;
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"", L"", L""},
      {L"", nullptr, L""},
      {L"C:\\A\\", L"", L"C:\\A\\"},
      {L"C:\\A\\", L"B", L"C:\\A\\B\\"},
      {L"", L"C:\\D\\", L"C:\\D\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, QorFs::Detail::LocationRoot(c.special, c.path));
  }
}

} // namespace
