#include "qor/env/env.h"
#include "qor/os/security.h"
#include "qor/env/locations.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/folders.h"
#include "qor/test/process.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <string>
#include <vector>

namespace {

// The descriptor of a named event made with the attributes, as the system
// keeps it.
bool EventHasNullDacl(SECURITY_ATTRIBUTES* attributes, const wchar_t* name) {
  Qor::UniqueHandle event(CreateEventW(attributes, TRUE, FALSE, name));
  EXPECT_TRUE(event.valid());
  DWORD needed = 0;
  GetKernelObjectSecurity(event.get(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed ? needed : 1);
  if (!GetKernelObjectSecurity(event.get(), DACL_SECURITY_INFORMATION, buffer.data(), needed,
                               &needed)) {
    return false;
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted);
  return present && dacl == nullptr;
}

} // namespace

TEST(SecurityAttributes, FreshObjectHasNoDescriptor) {
  QorOs::SecurityAttributes attributes;
  SECURITY_ATTRIBUTES* record = attributes.GetAttributes();
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), record->nLength);
  EXPECT_EQ(nullptr, record->lpSecurityDescriptor);
  EXPECT_FALSE(record->bInheritHandle);
}

TEST(SecurityAttributes, AllowAllGivesNullDaclAndLabelFromVista) {
  QorOs::SecurityAttributes attributes;
  const bool labelled = attributes.AllowAll();
  EXPECT_EQ(QorEnv::IsVistaOrLater(), labelled);
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExW(&version));
  EXPECT_EQ(version.dwMajorVersion >= 6, labelled);
  // Started by BeforeVistaWithoutLabel: the version it asked Wine for.
  wchar_t expected[8] = {};
  if (GetEnvironmentVariableW(L"QOR_TEST_EXPECT_MAJOR", expected, 8)) {
    EXPECT_EQ(static_cast<DWORD>(_wtoi(expected)), version.dwMajorVersion);
  }
  auto* descriptor =
      static_cast<PSECURITY_DESCRIPTOR>(attributes.GetAttributes()->lpSecurityDescriptor);
  ASSERT_NE(nullptr, descriptor);
  EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));

  BOOL present = FALSE;
  BOOL defaulted = TRUE;
  PACL acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(nullptr, acl);
  EXPECT_FALSE(defaulted);

  ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor, &present, &acl, &defaulted));
  EXPECT_EQ(labelled, present != FALSE);
  if (labelled) {
    ASSERT_NE(nullptr, acl);
    ASSERT_EQ(1u, acl->AceCount);
    ACE_HEADER* ace = nullptr;
    ASSERT_TRUE(GetAce(acl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(0x11, ace->AceType); // mandatory label
  }

  EXPECT_TRUE(EventHasNullDacl(attributes.GetAttributes(), L"QorOsTestAllowAllEvent"));

  // A second call makes a fresh descriptor with the same content.
  EXPECT_EQ(labelled, attributes.AllowAll());
  descriptor = static_cast<PSECURITY_DESCRIPTOR>(attributes.GetAttributes()->lpSecurityDescriptor);
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(nullptr, acl);
}

// The same checks in a copy of this program that Wine tells it runs on
// Windows XP: no label then, and still a null access list.
TEST(SecurityAttributes, BeforeVistaWithoutLabel) {
  const std::wstring exeName = L"os_tests_as_winxp.exe";
  QorTest::ScratchFolder scratch;
  const std::wstring copy = scratch.path() + exeName;
  ASSERT_TRUE(CopyFileW(QorEnv::GetModuleFile().c_str(), copy.c_str(), FALSE));

  QorTest::RunResult run;
  {
    QorTest::WineVersionOverride version(exeName, L"winxp");
    SetEnvironmentVariableW(L"QOR_TEST_EXPECT_MAJOR", L"5");
    run = QorTest::RunCapturingOutput(
        QorTest::Quoted(copy) +
        L" --gtest_filter=SecurityAttributes.AllowAllGivesNullDaclAndLabelFromVista");
    SetEnvironmentVariableW(L"QOR_TEST_EXPECT_MAJOR", nullptr);
  }
  DeleteFileW(copy.c_str());
  EXPECT_EQ(0u, run.exitCode) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("[  PASSED  ] 1 test.")) << run.output;
}
