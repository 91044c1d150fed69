// Process security: group membership, privileges, SID text and access rights.
#pragma once

#include <windows.h>

namespace QorOs {

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
