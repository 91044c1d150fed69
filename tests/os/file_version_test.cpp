#include "qor/os/file_version.h"
#include "qor/os/error_codes.h"
#include "qor/error/error_codes.h"

#include "qor/error/error.h"
#include "qor/env/locations.h"
#include "qor/error/win32_error.h"

#include <gtest/gtest.h>

#include <string>

TEST(FileVersionInfo, ReadsOurOwnResource) {
  QorFs::FileVersionInfo info(QorEnv::GetModuleFolder() + L"os_test_child.exe");
  EXPECT_EQ(6u * 65536u + 0u, info.GetFileVersionMS());
  EXPECT_EQ(2900u * 65536u + 5512u, info.GetFileVersionLS());
  EXPECT_EQ(6u, info.GetMajor());
  EXPECT_EQ(0u, info.GetMinor());
  EXPECT_EQ(2900u, info.GetBuild());
  EXPECT_EQ(5512u, info.GetRevision());
  EXPECT_EQ(L"040904e4", info.GetLanguageText());

  const struct {
    int index;
    const wchar_t* value; // null: missing
  } strings[] = {
      {QorFs::FileVersionInfo::ProductName, L"Qor Child Probe"},
      {QorFs::FileVersionInfo::CompanyName, L"Qor Test Works"},
      {QorFs::FileVersionInfo::FileVersion, L"6.0.2900.5512"},
      {QorFs::FileVersionInfo::Comments, nullptr},
      {QorFs::FileVersionInfo::SpecialBuild, nullptr},
      {-1, nullptr},
      {12, nullptr},
  };
  for (const auto& s : strings) {
    std::wstring value = L"unchanged";
    EXPECT_EQ(s.value != nullptr, info.GetString(s.index, value)) << s.index;
    EXPECT_EQ(s.value ? s.value : L"unchanged", value) << s.index;
  }
}

TEST(FileVersionInfo, WithoutTranslationListUsesDefaultLanguage) {
  QorFs::FileVersionInfo info(QorEnv::GetModuleFolder() + L"os_test_plainres.dll");
  EXPECT_EQ(L"040904b0", info.GetLanguageText());
  std::wstring value;
  EXPECT_TRUE(info.GetString(QorFs::FileVersionInfo::ProductName, value));
  EXPECT_EQ(L"Qor Plain Resource", value);
  EXPECT_EQ(1u, info.GetMajor());
  EXPECT_EQ(4u, info.GetRevision());
}

TEST(FileVersionInfo, FilesWithoutResourceFail) {
  const std::wstring files[] = {QorEnv::GetModuleFolder() + L"os_test_noversion.dll",
                                QorEnv::GetModuleFolder() + L"no_such_file.dll"};
  for (const auto& file : files) {
    EXPECT_FALSE(QorFs::FileVersionInfo::HasVersionInfo(file.c_str()));
    try {
      QorFs::FileVersionInfo info(file);
      ADD_FAILURE() << "no error";
    } catch (QorError::Exception* error) {
      EXPECT_EQ(QorOs::kReadVersionInfoError, error->GetCode());
      EXPECT_NE(nullptr, dynamic_cast<QorFs::FileError*>(error));
      EXPECT_EQ(L"Unable to determine file version of " + file + L"\n", error->GetMessageText());
      auto* cause = dynamic_cast<QorWin32::Win32Error*>(error->GetCause());
      ASSERT_NE(nullptr, cause);
      EXPECT_EQ(QorError::kGetFileVersionInfoSizeError, cause->GetCode());
      EXPECT_NE(0u, cause->GetSystemCode());
      delete error;
    }
  }
  EXPECT_TRUE(QorFs::FileVersionInfo::HasVersionInfo(
      (QorEnv::GetModuleFolder() + L"os_test_child.exe").c_str()));
}
