#include "qor/env_record/record.h"
#include "qor/os/error_codes.h"
#include "qor/os/security.h"
#include "qor/error/win32_error.h"

#include <sddl.h>

namespace QorOs {

namespace {
// Low integrity, no write up: low-integrity processes may open the object.
const wchar_t kLowIntegrityLabel[] = L"S:(ML;;NW;;;LW)";
} // namespace

SecurityAttributes::SecurityAttributes() : attributes_(std::make_unique<SECURITY_ATTRIBUTES>()) {
  attributes_->nLength = sizeof(SECURITY_ATTRIBUTES);
  attributes_->lpSecurityDescriptor = nullptr;
  attributes_->bInheritHandle = FALSE;
}

bool SecurityAttributes::AllowAll() {
  // A second call starts afresh; the earlier label goes with the earlier
  // descriptor.
  auto descriptor = std::make_unique<SECURITY_DESCRIPTOR>();
  attributes_->lpSecurityDescriptor = nullptr;
  descriptor_ = std::move(descriptor);
  labelDescriptor_.reset();

  if (!InitializeSecurityDescriptor(descriptor_.get(), SECURITY_DESCRIPTOR_REVISION)) {
    QorWin32::RaiseWin32Error(kInitializeSecurityDescriptorError, nullptr, GetLastError());
  }
  if (!SetSecurityDescriptorDacl(descriptor_.get(), TRUE, nullptr, FALSE)) {
    QorWin32::RaiseWin32Error(kSetSecurityDescriptorDaclError,
                              L"Unable to adjust security attributes.", GetLastError());
  }

  bool labelled = false;
  if (QorEnv::IsVistaOrLater() &&
      ConvertStringSecurityDescriptorToSecurityDescriptorW(kLowIntegrityLabel, SDDL_REVISION_1,
                                                           labelDescriptor_.put(), nullptr)) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = nullptr;
    if (GetSecurityDescriptorSacl(labelDescriptor_.get(), &present, &sacl, &defaulted)) {
      labelled = SetSecurityDescriptorSacl(descriptor_.get(), present, sacl, FALSE) != FALSE;
    }
  }
  attributes_->lpSecurityDescriptor = descriptor_.get();
  return labelled;
}

} // namespace QorOs
