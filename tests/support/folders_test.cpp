// The scratch-folder fixture itself: every other test trusts it to make a
// folder of its own and to take away all of it, and nothing else.
#include "qor/test/folders.h"
#include "qor/test/host_links.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using QorTest::ScratchFolder;

std::string Narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(ScratchFolder, FreshUniqueAndNamedAfterTheTest) {
  ScratchFolder first;
  ScratchFolder second;
  ASSERT_FALSE(first.path().empty());
  EXPECT_NE(first.path(), second.path());
  for (const ScratchFolder* folder : {&first, &second}) {
    const std::wstring& path = folder->path();
    EXPECT_EQ(L'\\', path.back());
    const DWORD attributes = GetFileAttributesW(path.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << Narrow(path);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(folder->List().empty());
    EXPECT_NE(std::wstring::npos, path.find(L"\\ScratchFolder.FreshUniqueAndNamedAfterTheTest-" +
                                            std::to_wstring(GetCurrentProcessId()) + L"-"))
        << Narrow(path);
  }
  // Under the temporary folder, in its long form.
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  wchar_t longTemp[MAX_PATH];
  ASSERT_GT(GetLongPathNameW(temp, longTemp, MAX_PATH), 0u);
  EXPECT_EQ(0u, first.path().find(longTemp)) << Narrow(first.path());

  // Under a given parent, with or without its final backslash.
  const std::wstring parent = first.path().substr(0, first.path().size() - 1);
  ScratchFolder inner(parent);
  EXPECT_EQ(first.path(), inner.path().substr(0, first.path().size()));
  EXPECT_EQ(std::wstring::npos, inner.path().find(L"\\\\"));
}

TEST(ScratchFolder, HelpersWriteReadListAndMakeFolders) {
  ScratchFolder folder;
  const std::string bytes("a\0b\r\n", 5);
  EXPECT_EQ(folder.path() + L"a.bin", folder.Write(L"a.bin", bytes));
  EXPECT_EQ(bytes, folder.Read(L"a.bin"));
  EXPECT_EQ(folder.path() + L"sub\\", folder.MakeFolder(L"sub"));
  folder.Write(L"sub\\b.txt", "", FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(GetFileAttributesW((folder.path() + L"sub\\b.txt").c_str()) &
              FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(std::vector<std::wstring>{L"b.txt"}, folder.List(L"sub\\"));
  EXPECT_EQ(2u, folder.List().size());
  EXPECT_TRUE(folder.Exists(L"sub\\b.txt"));
  EXPECT_FALSE(folder.Exists(L"missing"));
  EXPECT_EQ("", folder.Read(L"missing"));
  EXPECT_TRUE(folder.List(L"missing\\").empty());
}

TEST(ScratchFolder, RemovesEverythingReadOnlyIncluded) {
  std::wstring path;
  {
    ScratchFolder folder;
    path = folder.path();
    folder.MakeFolder(L"a");
    folder.MakeFolder(L"a\\b");
    folder.Write(L"top.txt", "1", FILE_ATTRIBUTE_READONLY);
    folder.Write(L"a\\b\\deep.txt", "2", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(SetFileAttributesW((path + L"a\\b").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  }
  EXPECT_FALSE(Exists(path)) << Narrow(path);

  // A test may remove the folder itself first.
  {
    ScratchFolder folder;
    path = folder.path();
    ASSERT_TRUE(RemoveDirectoryW(path.c_str()));
  }
  EXPECT_FALSE(Exists(path));
}

TEST(ScratchFolder, MovedOwnershipAndKeep) {
  std::wstring path;
  {
    ScratchFolder outer;
    {
      ScratchFolder folder;
      path = folder.path();
      outer = std::move(folder);
      EXPECT_TRUE(folder.path().empty());
    }
    EXPECT_TRUE(Exists(path)) << "the moved-from object leaves it alone";
    EXPECT_EQ(path, outer.path());
  }
  EXPECT_FALSE(Exists(path));

  {
    ScratchFolder folder;
    path = folder.path();
    folder.Write(L"kept.txt", "for a look afterwards");
    folder.Keep();
  }
  EXPECT_TRUE(Exists(path + L"kept.txt"));
  QorTest::RemoveTree(path);
  EXPECT_FALSE(Exists(path));
}

namespace {

// Host symbolic links, made on request by tests/support/host_links.sh (see
// the fs_host_links test); skipped when run without it.
class ScratchFolderLinks : public ::testing::Test {
protected:
  void SetUp() override {
    if (!links_.available()) {
      GTEST_SKIP() << "needs the link helper: run through tests/support/host_links.sh";
    }
    requests_ = links_.folder();
  }
  bool MakeLink(const std::wstring& link, const std::wstring& target) {
    return links_.MakeLink(link, target);
  }

  QorTest::HostLinks links_;
  std::wstring requests_;
};

} // namespace

TEST_F(ScratchFolderLinks, LinksInsideAreNeverFollowed) {
  // The targets lie on the helper's side (drive Z:), where links can point.
  ScratchFolder outside(requests_);
  outside.MakeFolder(L"full");
  outside.MakeFolder(L"full\\inner");
  outside.Write(L"full\\a.txt", "kept");
  outside.Write(L"full\\b.txt", "kept", FILE_ATTRIBUTE_READONLY);
  outside.Write(L"full\\inner\\c.txt", "kept");
  // An empty folder is what a delete through the link could take with it.
  outside.MakeFolder(L"empty");
  std::wstring path;
  {
    ScratchFolder folder(requests_);
    path = folder.path();
    folder.MakeFolder(L"sub");
    folder.Write(L"sub\\x.txt", "goes");
    folder.Write(L"y.txt", "goes", FILE_ATTRIBUTE_READONLY);
    for (const wchar_t* name : {L"full", L"empty"}) {
      ASSERT_TRUE(MakeLink(path + L"sub\\" + name, outside.path() + name));
      ASSERT_TRUE(GetFileAttributesW((path + L"sub\\" + name).c_str()) &
                  FILE_ATTRIBUTE_REPARSE_POINT);
    }
  }
  EXPECT_EQ("kept", outside.Read(L"full\\a.txt"));
  EXPECT_EQ("kept", outside.Read(L"full\\b.txt"));
  EXPECT_EQ("kept", outside.Read(L"full\\inner\\c.txt"));
  EXPECT_TRUE(GetFileAttributesW((outside.path() + L"full\\b.txt").c_str()) &
              FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(outside.Exists(L"empty"));
  // Everything else goes. The links themselves go where the system deletes a
  // link as itself; Wine reaches the target instead, so there they stay, and
  // with them their folders.
  EXPECT_FALSE(Exists(path + L"y.txt"));
  EXPECT_FALSE(Exists(path + L"sub\\x.txt"));
  if (!Exists(path + L"sub\\full") && !Exists(path + L"sub\\empty")) {
    EXPECT_FALSE(Exists(path));
  }
}
