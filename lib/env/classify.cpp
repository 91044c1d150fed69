#include "qor/env/os_classify.h"

#include "qor/text/text.h"

namespace QorEnv {

namespace {

constexpr WORD kSuiteEnterprise = 0x0002;
constexpr WORD kSuiteEmbedded = 0x0040;
constexpr WORD kSuiteDatacenter = 0x0080;
constexpr WORD kSuitePersonal = 0x0200;
constexpr WORD kSuiteBlade = 0x0400;
constexpr WORD kSuiteStorageServer = 0x2000;
constexpr WORD kSuiteComputeServer = 0x4000;
constexpr WORD kSuiteWhServer = 0x8000;

struct ProductEdition {
  DWORD code;
  const wchar_t* edition;
};

const ProductEdition kWorkstationEditions[] = {
    {0x01, L"Ultimate"},     {0x1C, L"Ultimate"},     {0x47, L"Ultimate"},
    {0x02, L"Home Basic"},   {0x05, L"Home Basic"},   {0x43, L"Home Basic"},
    {0x03, L"Home Premium"}, {0x1A, L"Home Premium"}, {0x44, L"Home Premium"},
    {0x04, L"Enterprise"},   {0x1B, L"Enterprise"},   {0x46, L"Enterprise"},
    {0x06, L"Business"},     {0x10, L"Business"},     {0x30, L"Business"},
    {0x31, L"Business"},     {0x45, L"Business"},     {0x0B, L"Starter"},
    {0x2F, L"Starter"},      {0x42, L"Starter"},      {0xABCDABCD, L"Unknown Edition"},
};

const ProductEdition kServerEditions[] = {
    {0x07, L"Standard"},       {0x0D, L"Standard"},
    {0x08, L"Datacenter"},     {0x0C, L"Datacenter"},
    {0x0A, L"Enterprise"},     {0x0E, L"Enterprise"},
    {0x09, L"Small Business"}, {0x18, L"Small Business"},
    {0x19, L"Small Business"}, {0x11, L"Web"},
    {0x12, L"Cluster"},        {0x13, L"Home"},
    {0x14, L"Storage"},        {0x15, L"Storage"},
    {0x17, L"Storage"},
};

const wchar_t* EditionFromFacts(bool server, const OsFacts& facts) {
  return facts.hasProductCode ? EditionFromProductCode(server, facts.productCode) : nullptr;
}

void ClassifyWorkstation(const OsFacts& facts, OsClassification& result) {
  result.productType = ProductWorkstation;
  const DWORD major = facts.majorVersion;
  const DWORD minor = facts.minorVersion;
  if (major == 5 && minor == 0) {
    result.osId = Win2000;
    result.edition = L"Professional";
  } else if (major == 5 && minor == 1) {
    result.osId = WinXP;
    if (facts.starter) {
      result.edition = L"Starter";
    } else if (facts.mediaCenter) {
      result.edition = L"Media Center";
    } else if (facts.tabletPc) {
      result.edition = L"Tablet PC";
    } else if (facts.suiteMask & kSuiteEmbedded) {
      result.edition = L"Embedded";
    } else if (facts.suiteMask & kSuitePersonal) {
      result.edition = L"Home";
    } else {
      result.edition = L"Professional";
    }
  } else if (major == 5 && minor == 2) {
    if (facts.is64Bit) {
      result.osId = WinXP64;
      result.edition = L"Professional";
    } else if (facts.suiteMask == kSuiteWhServer) {
      result.osId = WinHomeServer;
    }
  } else if (major == 6 && minor <= 1) {
    result.osId = minor == 0 ? WinVista : Win7;
    result.edition = EditionFromFacts(false, facts);
  } else if (major == 6) {
    result.osId = Newer;
  }
}

void ClassifyServer(const OsFacts& facts, OsClassification& result) {
  result.productType = ProductServer;
  const DWORD major = facts.majorVersion;
  const DWORD minor = facts.minorVersion;
  const WORD suite = facts.suiteMask;
  if (major == 5 && minor == 0) {
    result.osId = Win2000;
    if (suite & kSuiteDatacenter) {
      result.edition = L"Datacenter Server";
    } else if (suite & kSuiteEnterprise) {
      result.edition = L"Advanced Server";
    } else {
      result.edition = L"Server";
    }
  } else if (major == 5 && minor == 2) {
    if (suite == kSuiteWhServer) {
      result.osId = WinHomeServer;
      return;
    }
    result.osId = facts.serverR2 ? WinServer2003R2 : WinServer2003;
    if (suite & kSuiteDatacenter) {
      result.edition = L"Datacetner";
    } else if (suite & kSuiteEnterprise) {
      result.edition = L"Enterprise";
    } else if (suite & kSuiteStorageServer) {
      result.edition = L"Storage";
    } else if (suite & kSuiteBlade) {
      result.edition = L"Web";
    } else if (suite & kSuiteComputeServer) {
      result.edition = L"Compute Cluster";
    } else {
      result.edition = L"Standard";
    }
  } else if (major == 6 && minor <= 1) {
    result.osId = minor == 0 ? WinServer2008 : WinServer2008R2;
    result.edition = EditionFromFacts(true, facts);
  } else if (major == 6) {
    result.osId = Newer;
  }
}

} // namespace

bool NeedsProductCode(const OsFacts& facts) {
  const bool knownProductType = facts.productType == VER_NT_WORKSTATION ||
                                facts.productType == VER_NT_DOMAIN_CONTROLLER ||
                                facts.productType == VER_NT_SERVER;
  return knownProductType && facts.majorVersion == 6 && facts.minorVersion <= 1;
}

const wchar_t* EditionFromProductCode(bool server, DWORD productCode) {
  if (server) {
    for (const auto& e : kServerEditions) {
      if (e.code == productCode) {
        return e.edition;
      }
    }
  } else {
    for (const auto& e : kWorkstationEditions) {
      if (e.code == productCode) {
        return e.edition;
      }
    }
  }
  return nullptr;
}

OsClassification ClassifyOs(const OsFacts& facts) {
  OsClassification result;
  switch (facts.productType) {
  case VER_NT_WORKSTATION:
    ClassifyWorkstation(facts, result);
    break;
  case VER_NT_DOMAIN_CONTROLLER:
  case VER_NT_SERVER:
    ClassifyServer(facts, result);
    break;
  default:
    break;
  }
  if (result.osId == Unknown &&
      (facts.majorVersion > 6 || (facts.majorVersion == 6 && facts.minorVersion > 1))) {
    result.osId = Newer;
  }
  return result;
}

const wchar_t* GetOsIdText(int osId) {
  switch (osId) {
  case Win2000:
    return L"Windows 2000";
  case WinXP:
  case WinXP64:
    return L"Windows XP";
  case WinServer2003:
    return L"Windows Server 2003";
  case WinHomeServer:
    return L"Windows Home Server";
  case WinServer2003R2:
    return L"Windows Server 2003 R2";
  case WinVista:
    return L"Windows Vista";
  case WinServer2008:
    return L"Windows Server 2008";
  case Win7:
    return L"Windows 7";
  case WinServer2008R2:
    return L"Windows Server 2008 R2";
  default:
    return L"Unknown Windows OS";
  }
}

std::wstring ComposeOsDisplayName(int osId, const wchar_t* edition, bool is64Bit,
                                  const std::wstring& servicePackText, DWORD buildNumber) {
  std::wstring name = GetOsIdText(osId);
  name += L' ';
  std::wstring word = edition ? edition : L"Unknown";
  // Windows 7 renamed the Business edition.
  if (osId == Win7 && word == L"Business") {
    word = L"Professional";
  }
  name += word;
  if (is64Bit) {
    name += L" x64";
  }
  name += L' ';
  std::wstring build;
  QorString::Format(build, L"%s (Build %d)", servicePackText.c_str(),
                    static_cast<int>(buildNumber));
  name += build;
  return name;
}

} // namespace QorEnv
