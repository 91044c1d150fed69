#include "qor/env.h"
#include "qor/security.h"
#include "qor/unique_handle.h"

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
  EXPECT_EQ(12u, record->nLength);
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
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring exeName = L"os_tests_as_winxp.exe";
  const std::wstring copy = std::wstring(temp) + exeName;
  const std::wstring output = std::wstring(temp) + L"os_tests_as_winxp.txt";
  ASSERT_TRUE(CopyFileW(self, copy.c_str(), FALSE));

  const std::wstring keyPath = L"Software\\Wine\\AppDefaults\\" + exeName;
  {
    Qor::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, key.put(), nullptr));
    const wchar_t version[] = L"winxp";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.get(), L"Version", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(version), sizeof(version)));
  }
  DWORD exitCode = 0xFFFFFFFF;
  {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    Qor::UniqueFile out(CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(out.valid());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    std::wstring commandLine =
        L"\"" + copy +
        L"\" --gtest_filter=SecurityAttributes.AllowAllGivesNullDaclAndLabelFromVista";
    PROCESS_INFORMATION info = {};
    SetEnvironmentVariableW(L"QOR_TEST_EXPECT_MAJOR", L"5");
    BOOL started = CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableW(L"QOR_TEST_EXPECT_MAJOR", nullptr);
    ASSERT_TRUE(started);
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
  DeleteFileW(copy.c_str());

  std::string text;
  {
    // Wine's helper processes that the child started may still hold its
    // inherited handle for writing.
    Qor::UniqueFile in(CreateFileW(output.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096];
    DWORD read = 0;
    while (in.valid() && ReadFile(in.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
      text.append(buffer, read);
    }
  }
  DeleteFileW(output.c_str());
  EXPECT_EQ(0u, exitCode) << text;
  EXPECT_NE(std::string::npos, text.find("[  PASSED  ] 1 test.")) << text;
}
