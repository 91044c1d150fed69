// Table-driven registry work for a named user: probing a list of keys and
// applying a table of value and subkey changes. Rows under the current-user
// root are resolved to the named user's data under HKEY_USERS, not to the
// account that runs the process.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace QorReg {

// Names the user these services work for.
struct UserRecord {
  std::wstring accountName;
};

struct RegKeyRef {
  HKEY root;
  const wchar_t* subKey;
};

enum : std::uint32_t {
  ChangeDeleteValues = 0x1,
  ChangeDeleteSubKeys = 0x2,
  ChangeDeleteAllValues = 0x4,
  ChangeDeleteAllSubKeys = 0x8,
  ChangeSetValues = 0x10,
  ChangeCreateValues = 0x20,
  ChangeEmptyValues = 0x40,
  ChangeSkipWithoutRights = 0x10000000,
};

// names and second are null-terminated arrays (or null).
struct RegChange {
  HKEY root;
  const wchar_t* subKey;
  const wchar_t* const* names;
  const wchar_t* const* second;
  std::uint32_t flags;
};

// True at the first entry whose key exists. Current-user entries are looked
// up in the user's data under HKEY_USERS: RegError 157 when the user's SID is
// unknown, 101 when that data cannot be opened (not loaded).
bool AnyKeyExists(const RegKeyRef* refs, std::size_t count, const UserRecord& user);

// Applies the rows in order; rows are not atomic. Throws QorReg::RegError:
// 133 for a local-machine row without administrator rights, 134 when
// ChangeSetValues lacks data for a name, and for current-user rows 157 or 101
// as AnyKeyExists.
void ApplyRegistryChanges(const RegChange* rows, std::size_t count, const UserRecord& user);

namespace Detail {
enum class RowAccess { Apply, Skip, Refuse };
// Whether a row may be applied given the caller's administrator status.
RowAccess DecideRowAccess(HKEY root, std::uint32_t flags, bool isAdmin);
} // namespace Detail

} // namespace QorReg
