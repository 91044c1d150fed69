#include "qor/private_folder.h"

#include "qor/error.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

using QorFs::PathKind;

namespace {

class FreshFolderTest : public ::testing::Test {
protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    parent_ = std::wstring(temp) + L"veltrano-fresh-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(parent_.c_str(), nullptr);
    folder_ = parent_ + L"\\Work.tmp\\";
  }
  void TearDown() override { RemoveAll(parent_); }
  static void RemoveAll(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
          RemoveAll(path + L"\\" + name);
        }
      } while (FindNextFileW(search, &entry));
      FindClose(search);
      RemoveDirectoryW(path.c_str());
    } else {
      DeleteFileW(path.c_str());
    }
  }
  void Write(const std::wstring& path, bool readOnly = false) {
    std::ofstream(path.c_str()) << "planted";
    if (readOnly) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
  }
  static bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  static bool IsEmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
      return false;
    }
    int count = 0;
    do {
      ++count;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return count == 2; // "." and ".."
  }

  std::wstring parent_;
  std::wstring folder_;
};

} // namespace

TEST(PathKinds, ReparsePointsAreLinksWhateverElseTheyAre) {
  struct Case {
    DWORD attributes;
    PathKind kind;
    bool plainFile;
  } cases[] = {
      {INVALID_FILE_ATTRIBUTES, PathKind::Missing, false},
      {FILE_ATTRIBUTE_NORMAL, PathKind::File, true},
      {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, PathKind::File, true},
      {FILE_ATTRIBUTE_DIRECTORY, PathKind::Folder, false},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, PathKind::Link, false},
      {FILE_ATTRIBUTE_REPARSE_POINT, PathKind::Link, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.kind, QorFs::ClassifyAttributes(c.attributes)) << c.attributes;
    WIN32_FIND_DATAW entry = {};
    entry.dwFileAttributes = c.attributes;
    if (c.attributes != INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(c.plainFile, QorFs::IsPlainFile(entry)) << c.attributes;
    }
  }
}

TEST_F(FreshFolderTest, LeftoversAndPlantedFilesAreGone) {
  ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
  Write(folder_ + L"VTRInstaller.exe");
  Write(folder_ + L"version.dll", true);
  CreateDirectoryW((folder_ + L"sub").c_str(), nullptr);
  Write(folder_ + L"sub\\deep.dll", true);
  SetFileAttributesW((folder_ + L"sub").c_str(), FILE_ATTRIBUTE_READONLY);

  QorFs::FolderIdentity identity = QorFs::CreateFreshFolder(folder_, nullptr);
  EXPECT_TRUE(identity.valid);
  EXPECT_TRUE(IsEmptyFolder(folder_));
}

TEST_F(FreshFolderTest, MissingFolderOrAFileInTheWay) {
  QorFs::FolderIdentity identity = QorFs::CreateFreshFolder(folder_, nullptr);
  EXPECT_TRUE(identity.valid);
  EXPECT_TRUE(IsEmptyFolder(folder_));
  RemoveDirectoryW(folder_.c_str());

  Write(parent_ + L"\\Work.tmp", true);
  QorFs::CreateFreshFolder(folder_, nullptr);
  EXPECT_TRUE(IsEmptyFolder(folder_));
}

TEST_F(FreshFolderTest, UnusableParentRaises422) {
  try {
    QorFs::CreateFreshFolder(parent_ + L"\\missing\\Work.tmp\\", nullptr);
    FAIL() << "no error";
  } catch (QorError::Exception* e) {
    std::unique_ptr<QorError::Exception> owned(e);
    EXPECT_EQ(422, e->GetCode());
    EXPECT_NE(std::wstring::npos, e->GetMessageText().find(L"Unable to create directory " +
                                                           parent_ + L"\\missing\\Work.tmp\\"));
  }
}

TEST_F(FreshFolderTest, CleanUpDeletesPlainFilesOnlyInTheSameFolder) {
  QorFs::FolderIdentity identity = QorFs::CreateFreshFolder(folder_, nullptr);
  Write(folder_ + L"a.txt");
  Write(folder_ + L"b.dll");
  EXPECT_TRUE(QorFs::CleanFreshFolder(folder_, identity));
  EXPECT_FALSE(Exists(folder_)); // emptied, then removed

  identity = QorFs::CreateFreshFolder(folder_, nullptr);
  CreateDirectoryW((folder_ + L"sub").c_str(), nullptr);
  Write(folder_ + L"sub\\kept.txt");
  Write(folder_ + L"c.txt");
  EXPECT_TRUE(QorFs::CleanFreshFolder(folder_, identity));
  EXPECT_FALSE(Exists(folder_ + L"c.txt"));
  EXPECT_TRUE(Exists(folder_ + L"sub\\kept.txt")); // subfolders are left alone
}

TEST_F(FreshFolderTest, CleanUpOfAnotherFolderDeletesNothing) {
  QorFs::CreateFreshFolder(folder_, nullptr);
  Write(folder_ + L"a.txt");
  QorFs::FolderIdentity other;
  ASSERT_TRUE(QorFs::GetFolderIdentity(parent_, other));
  EXPECT_FALSE(QorFs::CleanFreshFolder(folder_, other));
  EXPECT_TRUE(Exists(folder_ + L"a.txt"));
  EXPECT_FALSE(QorFs::CleanFreshFolder(parent_ + L"\\missing\\", other));
  EXPECT_FALSE(QorFs::CleanFreshFolder(folder_, QorFs::FolderIdentity()));
  EXPECT_TRUE(Exists(folder_ + L"a.txt"));
}

TEST_F(FreshFolderTest, AdminOnlyAccessList) {
  QorFs::AdminOnlySecurity security;
  ASSERT_NE(nullptr, security.Get());
  wchar_t* sddl = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      security.Get()->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
      nullptr));
  EXPECT_EQ(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", std::wstring(sddl));
  LocalFree(sddl);

  QorFs::CreateFreshFolder(folder_, security.Get());
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
    GTEST_SKIP() << "Wine does not keep access lists of files and folders";
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  std::wstring path = folder_.substr(0, folder_.size() - 1);
  ASSERT_EQ(ERROR_SUCCESS,
            GetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor));
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
  std::wstring text = sddl;
  LocalFree(sddl);
  LocalFree(descriptor);
  EXPECT_EQ(L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", text);
}
