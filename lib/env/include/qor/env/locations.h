// Small location queries: the current folder, shell folders, this program's
// file, a user's temporary folder, logical drives and the mail store.
// Folders end in a backslash.
#pragma once

#include "qor/reg/reg_key.h"

#include <string>
#include <vector>

namespace QorEnv {

// Throws QorWin32::Win32Error 521.
std::wstring GetCurrentFolder();

// Created when missing. Throw 529, 531, 532 and 533.
std::wstring GetCommonProgramsFolder();
std::wstring GetProgramsFolder();
std::wstring GetCommonDesktopFolder();
std::wstring GetDesktopFolder();

// Without a leading "\\?\". Throw QorWin32::Win32Error 534.
std::wstring GetModuleFile();
// Up to and including the last backslash; empty when there is none.
std::wstring GetModuleFolder();

// The user's temporary folder, or empty when no safe one is known: one that
// is the current or the Windows folder, or whose path has neither "temp" nor
// "tmp" in it, is refused. Throws QorWin32::Win32Error 522 when the system
// names no temporary folder, and 421 (QorFs::ToLongPath) when the one it
// names does not exist.
std::wstring GetUserTempFolder(const std::wstring& user);

// Drive-type filter bits: 1 << the system's drive type (0 unknown to 6 RAM
// disk); AllDrives takes every drive.
enum DriveFilter : int {
  DriveUnknown = 1 << 0,
  DriveNoRoot = 1 << 1,
  DriveRemovable = 1 << 2,
  DriveFixed = 1 << 3,
  DriveRemote = 1 << 4,
  DriveOptical = 1 << 5,
  DriveRamDisk = 1 << 6,
  AllDrives = -1,
};

// Appends the root ("C:\") of every drive the filter accepts. Throws
// QorWin32::Win32Error 523.
void GetLogicalDrives(std::vector<std::wstring>& list, int filter);

namespace Detail {
bool DriveTypeAccepted(unsigned int driveType, int filter);
// The candidate, or empty when it is the current or Windows folder or has
// neither "temp" nor "tmp" in its path.
std::wstring CheckTempFolder(const std::wstring& candidate, const std::wstring& currentFolder,
                             const std::wstring& windowsFolder);
} // namespace Detail

struct MailStore {
  std::wstring userName;
  std::wstring identityKey;
  bool found = false;
  int clientMajor = 0;
  int clientMinor = 0;
  std::wstring clientKey;
  std::wstring storeRoot;
  std::wstring clientBaseKey;
  bool isNewerClient = false;
};

// "Identities\" followed by the default identity under root (a user's
// registry data).
std::wstring GetDefaultMailIdentity(const QorReg::RegKey& root);

// Where the mail client keeps the messages of the identity identityKey
// (a path under root).
void GetMailStore(const QorReg::RegKey& root, const std::wstring& identityKey, MailStore& record);

} // namespace QorEnv
