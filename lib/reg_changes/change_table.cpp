// Registry change tables and key probes for a named user.
#include "qor/reg_changes/change_table.h"
#include "qor/reg/error_codes.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/env/profiles.h"
#include "qor/reg/reg_key.h"

#include <string>

namespace QorReg {

namespace {

// The user's data under HKEY_USERS, opened for reading.
void OpenUserRoot(const UserRecord& user, RegKey& key) {
  std::wstring sid;
  bool found = false;
  QorError::Exception* cause = nullptr;
  try {
    found = QorEnv::GetUserSid(user.accountName, sid);
  } catch (QorError::Exception* error) {
    cause = error;
  }
  if (!found || sid.empty()) {
    std::wstring message = L"Unable to find the user's security identifier: " + user.accountName;
    RaiseRegError(kChangeUserSidMissingError, message.c_str(), cause);
  }
  delete cause;
  // The plain open: a failure is the read open's 101.
  key.Open(HKEY_USERS, sid);
}

bool IsCurrentUserRoot(HKEY root) {
  return root == HKEY_CURRENT_USER;
}

// A missing array counts as empty.
const wchar_t* EntryAt(const wchar_t* const* array, std::size_t index) {
  return array ? array[index] : nullptr;
}

void SetValues(RegKey& key, const RegChange& row) {
  const bool empty = (row.flags & ChangeEmptyValues) != 0;
  const bool create = (row.flags & ChangeCreateValues) != 0;
  for (std::size_t i = 0; EntryAt(row.names, i); ++i) {
    const wchar_t* data = L"";
    if (!empty) {
      // Stops at the first missing entry, so a shorter array is never read
      // past its end.
      data = EntryAt(row.second, i);
      if (!data) {
        std::wstring message =
            L"Array size mismatch while processing key '" + std::wstring(row.subKey) + L"'";
        RaiseRegError(kChangeArraySizeMismatchError, message.c_str());
      }
    }
    if (!create && !key.ValueExists(row.names[i])) {
      continue;
    }
    key.SetString(row.names[i], data);
  }
}

void ApplyRow(const RegChange& row, const UserRecord& user) {
  RegKey userRoot;
  HKEY root = row.root;
  if (IsCurrentUserRoot(root)) {
    OpenUserRoot(user, userRoot);
    root = userRoot.GetHandle();
  }
  if (!RegKey::KeyExists(root, row.subKey)) {
    return;
  }
  const bool isAdmin = row.root == HKEY_LOCAL_MACHINE ? QorEnv::IsUserAdmin() : true;
  switch (Detail::DecideRowAccess(row.root, row.flags, isAdmin)) {
  case Detail::RowAccess::Skip:
    return;
  case Detail::RowAccess::Refuse: {
    std::wstring message = L"Can't change the key 'HKEY_LOCAL_MACHINE\\" +
                           std::wstring(row.subKey) + L"' because do not have sufficient rights.";
    RaiseRegError(kChangeWithoutRightsError, message.c_str());
  }
  case Detail::RowAccess::Apply:
    break;
  }

  RegKey key(root, row.subKey, RegKey::AccessAll);
  if (row.flags & ChangeSetValues) {
    SetValues(key, row);
  } else if (row.flags & ChangeDeleteAllSubKeys) {
    key.DeleteAllSubKeys(false);
  } else if (row.flags & ChangeDeleteSubKeys) {
    for (std::size_t i = 0; EntryAt(row.second, i); ++i) {
      key.DeleteSubKey(row.second[i], true);
    }
  }
  if (row.flags & ChangeDeleteAllValues) {
    key.DeleteAllValues(false);
  } else if (row.flags & ChangeDeleteValues) {
    for (std::size_t i = 0; EntryAt(row.names, i); ++i) {
      key.DeleteValue(row.names[i]);
    }
  }
}

} // namespace

namespace Detail {
RowAccess DecideRowAccess(HKEY root, std::uint32_t flags, bool isAdmin) {
  if (root != HKEY_LOCAL_MACHINE || isAdmin) {
    return RowAccess::Apply;
  }
  return (flags & ChangeSkipWithoutRights) ? RowAccess::Skip : RowAccess::Refuse;
}
} // namespace Detail

bool AnyKeyExists(const RegKeyRef* refs, std::size_t count, const UserRecord& user) {
  for (std::size_t i = 0; i < count; ++i) {
    RegKey userRoot;
    HKEY root = refs[i].root;
    if (IsCurrentUserRoot(root)) {
      OpenUserRoot(user, userRoot);
      root = userRoot.GetHandle();
    }
    if (RegKey::KeyExists(root, refs[i].subKey)) {
      return true;
    }
  }
  return false;
}

void ApplyRegistryChanges(const RegChange* rows, std::size_t count, const UserRecord& user) {
  for (std::size_t i = 0; i < count; ++i) {
    ApplyRow(rows[i], user);
  }
}

} // namespace QorReg
