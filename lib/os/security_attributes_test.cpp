#include "qor/env.h"
#include "qor/security.h"
#include "qor/unique_handle.h"

#include <gtest/gtest.h>

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
