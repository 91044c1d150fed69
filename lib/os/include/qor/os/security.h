// Process security: group membership, privileges, SID text and access rights.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <memory>

namespace QorOs {

// Security attributes that let every user open a named kernel object and,
// from Windows Vista on, low-integrity processes too.
class SecurityAttributes {
public:
  SecurityAttributes();
  SecurityAttributes(const SecurityAttributes&) = delete;
  SecurityAttributes& operator=(const SecurityAttributes&) = delete;

  // Gives the object a descriptor with a null access list and, on Vista or
  // later, the low integrity label. Returns whether the label was applied.
  // Win32Error 2003 / 2004 when the descriptor cannot be made.
  bool AllowAll();

  // The record to pass to create calls (not inheritable).
  SECURITY_ATTRIBUTES* GetAttributes() const { return attributes_.get(); }

private:
  // Released in reverse order: the label first, the record last.
  std::unique_ptr<SECURITY_ATTRIBUTES> attributes_;
  std::unique_ptr<SECURITY_DESCRIPTOR> descriptor_;
  Qor::UniqueLocal labelDescriptor_; // made by the SDDL conversion
};

// Whether the calling thread's token is in the built-in Administrators group.
bool IsAdministrator();

// Enables or disables one privilege of the process token. True also when the
// token does not hold the privilege at all (nothing changes then).
bool SetPrivilege(const wchar_t* name, bool enable);

// Whether the test could be made; held receives whether the privilege is enabled.
bool HasPrivilege(const wchar_t* name, bool& held);

// Writes the SID's standard text ("S-1-5-18"). textSize is in bytes; when too
// small it receives the needed size and the last error is 122.
bool SidToText(PSID sid, wchar_t* text, DWORD& textSize);

// Whether the key's access list grants the named user every bit of mask.
bool HasEffectiveRights(HKEY key, const wchar_t* trusteeName, ACCESS_MASK mask);

} // namespace QorOs
