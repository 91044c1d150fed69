#include "qor/fs/delete.h"
#include "qor/fs/folder_entries.h"

#include "qor/handle/unique_handle.h"
#include "qor/test/folders.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

namespace {

// A fresh folder (ending in a backslash) for each test.
class FolderEntriesTest : public ::testing::Test {
protected:
  void File(const std::wstring& name, DWORD size = 1, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    scratch_.Write(name, std::string(size, 'x'), attributes);
  }
  bool Exists(const std::wstring& name) const { return scratch_.Exists(name); }
  // Whether something still holds the folder open: a handle that shares
  // nothing can then not be had.
  bool FolderHeldOpen(const std::wstring& folder) const {
    Qor::UniqueFile alone(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, 0, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return !alone && GetLastError() == ERROR_SHARING_VIOLATION;
  }

  struct Seen {
    bool folder;
    std::uint64_t size;
  };
  static std::map<std::wstring, Seen> List(const std::wstring& folder) {
    std::map<std::wstring, Seen> seen;
    QorFs::FolderEntries entries(folder);
    EXPECT_TRUE(entries.opened()) << folder;
    for (const QorFs::FolderEntry& entry : entries) {
      EXPECT_STREQ(entry.name(), entry.data().cFileName);
      EXPECT_EQ(entry.attributes(), entry.data().dwFileAttributes);
      EXPECT_TRUE(seen.insert({entry.name(), Seen{entry.IsFolder(), entry.size()}}).second)
          << "listed twice";
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), entries.error());
    return seen;
  }

  QorTest::ScratchFolder scratch_;
  const std::wstring root_ = scratch_.path();
};

} // namespace

TEST_F(FolderEntriesTest, AnEmptyFolderOpensAndListsNothing) {
  QorFs::FolderEntries entries(root_);
  EXPECT_TRUE(entries.opened());
  int count = 0;
  for (const QorFs::FolderEntry& entry : entries) {
    ADD_FAILURE() << "listed " << entry.name();
    ++count;
  }
  EXPECT_EQ(0, count);
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), entries.error());
}

TEST_F(FolderEntriesTest, AMissingFolderOrAFileDoesNotOpen) {
  File(L"plain.txt");
  for (const std::wstring& folder :
       {root_ + L"missing\\", root_ + L"missing\\deeper", root_ + L"plain.txt\\"}) {
    QorFs::FolderEntries entries(folder);
    EXPECT_FALSE(entries.opened()) << folder;
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), entries.error()) << folder;
    EXPECT_NE(static_cast<DWORD>(ERROR_NO_MORE_FILES), entries.error()) << folder;
    for (const QorFs::FolderEntry& entry : entries) {
      ADD_FAILURE() << "listed " << entry.name();
    }
  }
  QorFs::FolderEntries missing(root_ + L"missing\\");
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), missing.error());
}

TEST_F(FolderEntriesTest, ListsNamesSizesAndFoldersButNotTheDots) {
  File(L"a.txt", 3);
  File(L"big.bin", 70000, FILE_ATTRIBUTE_READONLY);
  File(L".x", 1); // names that only begin with dots are ordinary names
  File(L"..y", 2);
  ASSERT_TRUE(CreateDirectoryW((root_ + L"sub").c_str(), nullptr));
  File(L"sub\\inner.txt"); // not listed: no recursion
  const std::map<std::wstring, Seen> seen = List(root_);
  ASSERT_EQ(5u, seen.size());
  EXPECT_FALSE(seen.at(L"a.txt").folder);
  EXPECT_EQ(3u, seen.at(L"a.txt").size);
  EXPECT_EQ(70000u, seen.at(L"big.bin").size);
  EXPECT_EQ(1u, seen.at(L".x").size);
  EXPECT_EQ(2u, seen.at(L"..y").size);
  EXPECT_TRUE(seen.at(L"sub").folder);
}

TEST_F(FolderEntriesTest, TheSeparatorAtTheEndIsOptional) {
  File(L"one.txt");
  ASSERT_TRUE(CreateDirectoryW((root_ + L"two").c_str(), nullptr));
  const std::map<std::wstring, Seen> expected = List(root_);
  ASSERT_EQ(2u, expected.size());
  const std::wstring bare = root_.substr(0, root_.size() - 1);
  for (const std::wstring& folder : {bare, bare + L"/"}) {
    const std::map<std::wstring, Seen> seen = List(folder);
    EXPECT_EQ(2u, seen.size()) << folder;
    EXPECT_TRUE(seen.count(L"one.txt") && seen.count(L"two")) << folder;
  }
  // An empty text is the current folder.
  wchar_t previous[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
  ASSERT_TRUE(SetCurrentDirectoryW(root_.c_str()));
  const std::map<std::wstring, Seen> current = List(L"");
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(2u, current.size());
  EXPECT_TRUE(current.count(L"one.txt") && current.count(L"two"));
}

TEST_F(FolderEntriesTest, TheSearchIsClosedAtTheEndAndAfterABreak) {
  File(L"a.txt");
  File(L"b.txt");
  File(L"c.txt");
  const std::wstring folder = root_.substr(0, root_.size() - 1);
  ASSERT_FALSE(FolderHeldOpen(folder));
  {
    QorFs::FolderEntries entries(root_);
    int seen = 0;
    for (const QorFs::FolderEntry& entry : entries) {
      EXPECT_NE(L'\0', entry.name()[0]);
      // The check sees the search's own handle.
      EXPECT_TRUE(FolderHeldOpen(folder));
      if (++seen == 2) {
        break;
      }
    }
    EXPECT_EQ(2, seen);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), entries.error()); // entries remained
  }
  EXPECT_FALSE(FolderHeldOpen(folder));
  {
    QorFs::FolderEntries entries(root_);
    int seen = 0;
    for (const QorFs::FolderEntry& entry : entries) {
      seen += entry.name()[0] != L'\0';
    }
    EXPECT_EQ(3, seen);
    // Let go of as soon as the last entry is read, while the object lives.
    EXPECT_FALSE(FolderHeldOpen(folder));
  }
}

TEST_F(FolderEntriesTest, LookUpEntryFindsExactlyThatName) {
  File(L"file.txt", 5);
  WIN32_FIND_DATAW data;
  ASSERT_TRUE(QorFs::LookUpEntry(root_ + L"file.txt", data));
  EXPECT_STREQ(L"file.txt", data.cFileName);
  EXPECT_EQ(5u, QorFs::EntrySize(data));
  SetLastError(0);
  EXPECT_FALSE(QorFs::LookUpEntry(root_ + L"missing.txt", data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FolderEntriesTest, DeleteFileAlwaysWhateverTheReadOnlyMark) {
  struct Case {
    const wchar_t* name;
    DWORD attributes;
  } cases[] = {
      {L"plain.txt", FILE_ATTRIBUTE_NORMAL},
      {L"readonly.txt", FILE_ATTRIBUTE_READONLY},
      {L"hidden.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
  };
  for (const Case& c : cases) {
    File(c.name, 1, c.attributes);
    EXPECT_TRUE(QorFs::DeleteFileAlways(root_ + c.name)) << c.name;
    EXPECT_FALSE(Exists(c.name)) << c.name;
  }
  SetLastError(0);
  EXPECT_FALSE(QorFs::DeleteFileAlways(root_ + L"missing.txt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FolderEntriesTest, DeleteFileAlwaysFailsCleanlyOnAFileHeldOpen) {
  for (DWORD attributes : {DWORD(FILE_ATTRIBUTE_NORMAL), DWORD(FILE_ATTRIBUTE_READONLY)}) {
    File(L"held.txt", 4, attributes);
    Qor::UniqueFile held(CreateFileW((root_ + L"held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    SetLastError(0);
    EXPECT_FALSE(QorFs::DeleteFileAlways(root_ + L"held.txt")) << attributes;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << attributes;
    EXPECT_TRUE(Exists(L"held.txt"));
    // The mark was cleared for the second try and stays cleared.
    EXPECT_FALSE(GetFileAttributesW((root_ + L"held.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    held.reset();
    EXPECT_TRUE(QorFs::DeleteFileAlways(root_ + L"held.txt"));
  }
}

TEST_F(FolderEntriesTest, RemoveFolderAlwaysRemovesOnlyEmptyFolders) {
  ASSERT_TRUE(CreateDirectoryW((root_ + L"empty").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((root_ + L"readonly").c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesW((root_ + L"readonly").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryW((root_ + L"full").c_str(), nullptr));
  File(L"full\\inside.txt");
  EXPECT_TRUE(QorFs::RemoveFolderAlways(root_ + L"empty"));
  EXPECT_TRUE(QorFs::RemoveFolderAlways(root_ + L"readonly"));
  EXPECT_FALSE(Exists(L"empty"));
  EXPECT_FALSE(Exists(L"readonly"));
  SetLastError(0);
  EXPECT_FALSE(QorFs::RemoveFolderAlways(root_ + L"full"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), GetLastError());
  EXPECT_TRUE(Exists(L"full\\inside.txt"));
}

TEST_F(FolderEntriesTest, DeleteOpenedAlwaysLeavesFilesWithOtherNamesAlone) {
  File(L"single.txt", 1, FILE_ATTRIBUTE_READONLY);
  File(L"shared.txt", 1, FILE_ATTRIBUTE_READONLY);
  const bool linked =
      CreateHardLinkW((root_ + L"other.txt").c_str(), (root_ + L"shared.txt").c_str(), nullptr);
  struct Case {
    const wchar_t* name;
    bool deleted;
  } cases[] = {{L"single.txt", true}, {L"shared.txt", false}};
  for (const Case& c : cases) {
    if (!c.deleted && !linked) {
      continue; // no hard links on this volume
    }
    Qor::UniqueFile handle(
        CreateFileW((root_ + c.name).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle.valid()) << c.name;
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(handle.get(), &info));
    EXPECT_EQ(c.deleted, QorFs::DeleteOpenedAlways(handle.get(), info)) << c.name;
    handle.reset();
    EXPECT_EQ(c.deleted, !Exists(c.name)) << c.name;
  }
  if (linked) {
    EXPECT_TRUE(GetFileAttributesW((root_ + L"other.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
  }
}
