// Leftovers of elevated runs: the folders MakeAdminOnlyFolder makes (a
// prefix, then a secret part) that a crash, a power cut or a program still
// holding a file inside left in a shared folder, where nothing else would
// ever remove them.
#pragma once

#include <windows.h>

#include <string>

namespace QorFs {

// What is known of one entry of the shared folder when it is weighed.
struct LeftoverFacts {
  std::wstring name;
  DWORD attributes = 0;
  ULONGLONG created = 0; // times as FILETIME counts of 100 ns
  ULONGLONG lastWritten = 0;
  bool ownedAsExpected = false; // by Administrators, as MakeAdminOnlyFolder makes them
};

// True for a leftover to remove: named prefix followed by a secret part
// (kSecretPartLength letters and digits), a plain folder (no link, no
// file), owned as expected, made and last written more than a day before
// now. Anything else, including times after now, is left alone.
bool IsStaleLeftover(const LeftoverFacts& facts, const std::wstring& prefix, ULONGLONG now);

// Removes every stale leftover (IsStaleLeftover, owned by Administrators)
// directly in folder, each opened as itself through the folder's handle
// and removed whole without following a link, as RemoveTreeWithoutLinks
// does. Links are never opened; what is in use stays. Never raises a
// library error; returns how many leftovers went.
int RemoveStaleLeftovers(const std::wstring& folder, const std::wstring& prefix);

namespace Detail {
// The same with the owner that counts (a test's own account, where the
// system reports no other owner than the account that made a folder).
int RemoveStaleLeftovers(const std::wstring& folder, const std::wstring& prefix, PSID owner);
} // namespace Detail

} // namespace QorFs
