#include "qor/env.h"
#include "qor/security.h"
#include "qor/win32_error.h"

#include <sddl.h>

namespace QorOs {

namespace {
// Low integrity, no write up: low-integrity processes may open the object.
const wchar_t kLowIntegrityLabel[] = L"S:(ML;;NW;;;LW)";
} // namespace

SecurityAttributes::SecurityAttributes() : attributes_(new SECURITY_ATTRIBUTES) {
  attributes_->nLength = sizeof(SECURITY_ATTRIBUTES);
  attributes_->lpSecurityDescriptor = nullptr;
  attributes_->bInheritHandle = FALSE;
}

SecurityAttributes::~SecurityAttributes() {
  if (labelDescriptor_) {
    LocalFree(labelDescriptor_);
  }
  delete descriptor_;
  delete attributes_;
}

bool SecurityAttributes::AllowAll() {
  // A second call starts afresh; the earlier label goes with the earlier
  // descriptor.
  auto* descriptor = new SECURITY_DESCRIPTOR;
  ZeroMemory(descriptor, sizeof(*descriptor));
  attributes_->lpSecurityDescriptor = nullptr;
  delete descriptor_;
  descriptor_ = descriptor;
  if (labelDescriptor_) {
    LocalFree(labelDescriptor_);
    labelDescriptor_ = nullptr;
  }

  if (!InitializeSecurityDescriptor(descriptor_, SECURITY_DESCRIPTOR_REVISION)) {
    QorWin32::RaiseWin32Error(2003, nullptr, GetLastError());
  }
  if (!SetSecurityDescriptorDacl(descriptor_, TRUE, nullptr, FALSE)) {
    QorWin32::RaiseWin32Error(2004, L"Unable to adjust security attributes.", GetLastError());
  }

  bool labelled = false;
  if (QorEnv::IsVistaOrLater() &&
      ConvertStringSecurityDescriptorToSecurityDescriptorW(kLowIntegrityLabel, SDDL_REVISION_1,
                                                           &labelDescriptor_, nullptr)) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL sacl = nullptr;
    if (GetSecurityDescriptorSacl(labelDescriptor_, &present, &sacl, &defaulted)) {
      labelled = SetSecurityDescriptorSacl(descriptor_, present, sacl, FALSE) != FALSE;
    }
  }
  attributes_->lpSecurityDescriptor = descriptor_;
  return labelled;
}

} // namespace QorOs
