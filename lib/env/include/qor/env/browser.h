// The installed web browser's version and release name, and a user's start
// and search pages.
#pragma once

#include "qor/reg/reg_key.h"

#include <string>

namespace QorEnv {

struct BrowserVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
  std::wstring name;
};

// Reads a "major.minor.build.revision" text as the browser's version and
// names the release. Missing parts count as 0.
BrowserVersion ParseBrowserVersion(const std::wstring& versionText);

// The release name of a 5.x or 6.x version: the exact row of the release
// table, else the last row of the same major.minor that the build and the
// revision both reach, else "Internet Explorer <major>.<minor>". numbers are
// the four parts as read; minor is the detected minor version.
std::wstring LookupBrowserReleaseName(const int numbers[4], int major, int minor);

// Start-up step: fills the browser facts of the environment record.
// (Declared in qor/env/env.h as well.)
void DetectBrowserVersion();

// "Start Page" followed by "|" and each secondary start page. Throws 512.
std::wstring GetStartPages(const std::wstring& user);
// "Search Page". Throws 513.
std::wstring GetSearchPage(const std::wstring& user);
std::wstring GetCurrentUserStartPages();
std::wstring GetCurrentUserSearchPage();

// The user's "Software\Microsoft\Internet Explorer\Main". Throws 540 (read)
// or 511 (writable).
void OpenBrowserSettings(const std::wstring& user, QorReg::RegKey& key, bool writable);

// The browser's virtualised copy of the user's settings. Throws 544 when the
// user's SID is unknown, 545 when the key cannot be opened.
void OpenVirtualizedUserSettings(const std::wstring& user, QorReg::RegKey& key);

} // namespace QorEnv
