// Classification of the Windows version and edition, kept apart from the
// system queries so that every edition can be checked, including those no
// test machine runs.
#pragma once

#include "qor/env_record/record.h"

#include <windows.h>

#include <string>

namespace QorEnv {

// What the version query, the native system information, four system metrics
// and the product-info query report.
struct OsFacts {
  DWORD majorVersion = 0;
  DWORD minorVersion = 0;
  BYTE productType = 0; // VER_NT_WORKSTATION, VER_NT_DOMAIN_CONTROLLER, VER_NT_SERVER
  WORD suiteMask = 0;
  bool is64Bit = false;
  bool tabletPc = false;       // system metric 86
  bool mediaCenter = false;    // 87
  bool starter = false;        // 88
  bool serverR2 = false;       // 89
  bool hasProductCode = false; // the product-info query exists and succeeded
  DWORD productCode = 0;
};

struct OsClassification {
  int productType = ProductUnknown;
  int osId = Unknown;
  const wchar_t* edition = nullptr; // null: no edition word
};

// Whether the classification of these facts asks the product-info query.
bool NeedsProductCode(const OsFacts& facts);

OsClassification ClassifyOs(const OsFacts& facts);

// The edition word for a product code on a workstation or server; null when
// the code is not listed.
const wchar_t* EditionFromProductCode(bool server, DWORD productCode);

// "Windows 7", ...; "Unknown Windows OS" for Unknown, Newer and anything else.
const wchar_t* GetOsIdText(int osId);

std::wstring ComposeOsDisplayName(int osId, const wchar_t* edition, bool is64Bit,
                                  const std::wstring& servicePackText, DWORD buildNumber);

} // namespace QorEnv
