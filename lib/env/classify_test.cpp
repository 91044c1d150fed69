#include "qor/env/os_classify.h"

#include <gtest/gtest.h>

#include <string>

using namespace QorEnv;

namespace {

constexpr BYTE W = VER_NT_WORKSTATION;
constexpr BYTE DC = VER_NT_DOMAIN_CONTROLLER;
constexpr BYTE S = VER_NT_SERVER;

enum Flag { None = 0, X64 = 1, Tablet = 2, Media = 4, Starter = 8, R2 = 16 };

struct Row {
  BYTE productType;
  DWORD major, minor;
  WORD suite;
  int flags;
  bool hasCode;
  DWORD code;
  int expectProductType;
  int expectOsId;
  const wchar_t* expectEdition; // null: none
};

OsFacts FactsOf(const Row& r) {
  OsFacts f;
  f.productType = r.productType;
  f.majorVersion = r.major;
  f.minorVersion = r.minor;
  f.suiteMask = r.suite;
  f.is64Bit = r.flags & X64;
  f.tabletPc = r.flags & Tablet;
  f.mediaCenter = r.flags & Media;
  f.starter = r.flags & Starter;
  f.serverR2 = r.flags & R2;
  f.hasProductCode = r.hasCode;
  f.productCode = r.code;
  return f;
}

std::wstring Text(const wchar_t* s) {
  return s ? s : L"<none>";
}

} // namespace

TEST(ClassifyOs, EveryBranch) {
  const Row rows[] = {
      // Workstations.
      {W, 5, 0, 0, None, false, 0, 2, Win2000, L"Professional"},
      {W, 5, 1, 0, None, false, 0, 2, WinXP, L"Professional"},
      {W, 5, 1, 0x0200, None, false, 0, 2, WinXP, L"Home"},
      {W, 5, 1, 0x0040 | 0x0200, None, false, 0, 2, WinXP, L"Embedded"},
      {W, 5, 1, 0x0200, Tablet, false, 0, 2, WinXP, L"Tablet PC"},
      {W, 5, 1, 0, Tablet | Media, false, 0, 2, WinXP, L"Media Center"},
      {W, 5, 1, 0x0200, Tablet | Media | Starter, false, 0, 2, WinXP, L"Starter"},
      {W, 5, 2, 0, X64, false, 0, 2, WinXP64, L"Professional"},
      {W, 5, 2, 0x8000, X64, false, 0, 2, WinXP64, L"Professional"},
      {W, 5, 2, 0x8000, None, false, 0, 2, WinHomeServer, nullptr},
      {W, 5, 2, 0x8100, None, false, 0, 2, Unknown, nullptr},
      {W, 5, 2, 0, None, false, 0, 2, Unknown, nullptr},
      {W, 5, 3, 0, None, false, 0, 2, Unknown, nullptr},
      {W, 6, 0, 0, None, true, 0x01, 2, WinVista, L"Ultimate"},
      {W, 6, 0, 0, None, true, 0x06, 2, WinVista, L"Business"},
      {W, 6, 0, 0, None, false, 0, 2, WinVista, nullptr},
      {W, 6, 0, 0, None, true, 0x07, 2, WinVista, nullptr}, // a server code
      {W, 6, 1, 0, X64, true, 0x30, 2, Win7, L"Business"},
      {W, 6, 1, 0, None, true, 0x99, 2, Win7, nullptr},
      {W, 6, 2, 0, None, true, 0x01, 2, Newer, nullptr},
      {W, 6, 3, 0, None, false, 0, 2, Newer, nullptr},
      {W, 10, 0, 0, None, true, 0x30, 2, Newer, nullptr},
      // Servers and domain controllers.
      {S, 5, 0, 0, None, false, 0, 3, Win2000, L"Server"},
      {S, 5, 0, 0x0002, None, false, 0, 3, Win2000, L"Advanced Server"},
      {DC, 5, 0, 0x0082, None, false, 0, 3, Win2000, L"Datacenter Server"},
      {S, 5, 1, 0, None, false, 0, 3, Unknown, nullptr},
      {S, 5, 2, 0x8000, R2, false, 0, 3, WinHomeServer, nullptr},
      {S, 5, 2, 0, None, false, 0, 3, WinServer2003, L"Standard"},
      {S, 5, 2, 0x0110, R2, false, 0, 3, WinServer2003R2, L"Standard"},
      {DC, 5, 2, 0x0082 | 0x2000, None, false, 0, 3, WinServer2003, L"Datacetner"},
      {S, 5, 2, 0x0002 | 0x2000, None, false, 0, 3, WinServer2003, L"Enterprise"},
      {S, 5, 2, 0x2000 | 0x0400, R2, false, 0, 3, WinServer2003R2, L"Storage"},
      {S, 5, 2, 0x0400 | 0x4000, None, false, 0, 3, WinServer2003, L"Web"},
      {S, 5, 2, 0x4000, None, false, 0, 3, WinServer2003, L"Compute Cluster"},
      {S, 6, 0, 0, None, true, 0x08, 3, WinServer2008, L"Datacenter"},
      {S, 6, 0, 0, None, true, 0x01, 3, WinServer2008, nullptr}, // a workstation code
      {DC, 6, 1, 0, None, true, 0x13, 3, WinServer2008R2, L"Home"},
      {S, 6, 1, 0, None, false, 0, 3, WinServer2008R2, nullptr},
      {S, 6, 2, 0, None, true, 0x07, 3, Newer, nullptr},
      {S, 10, 0, 0, None, false, 0, 3, Newer, nullptr},
      // Any other product type sets nothing but the later-version rule.
      {0, 5, 1, 0, None, false, 0, 1, Unknown, nullptr},
      {0, 6, 1, 0, None, true, 0x01, 1, Unknown, nullptr},
      {4, 6, 2, 0, None, false, 0, 1, Newer, nullptr},
  };
  for (const auto& r : rows) {
    const OsClassification c = ClassifyOs(FactsOf(r));
    SCOPED_TRACE(testing::Message()
                 << "type " << int(r.productType) << " " << r.major << "." << r.minor << " suite "
                 << std::hex << r.suite << " flags " << r.flags << " code " << r.code);
    EXPECT_EQ(r.expectProductType, c.productType);
    EXPECT_EQ(r.expectOsId, c.osId);
    EXPECT_EQ(Text(r.expectEdition), Text(c.edition));
  }
}

TEST(ClassifyOs, ProductCodeIsAskedOnlyForVistaAndSeven) {
  const struct {
    BYTE type;
    DWORD major, minor;
    bool needed;
  } rows[] = {{W, 6, 0, true},  {W, 6, 1, true},  {S, 6, 0, true},   {DC, 6, 1, true},
              {W, 6, 2, false}, {S, 5, 2, false}, {W, 10, 0, false}, {0, 6, 1, false}};
  for (const auto& r : rows) {
    OsFacts f;
    f.productType = r.type;
    f.majorVersion = r.major;
    f.minorVersion = r.minor;
    EXPECT_EQ(r.needed, NeedsProductCode(f)) << int(r.type) << " " << r.major << "." << r.minor;
  }
}

TEST(ClassifyOs, ProductCodeTable) {
  const struct {
    bool server;
    DWORD code;
    const wchar_t* edition;
  } rows[] = {
      {false, 0x01, L"Ultimate"},
      {false, 0x1C, L"Ultimate"},
      {false, 0x47, L"Ultimate"},
      {false, 0x02, L"Home Basic"},
      {false, 0x05, L"Home Basic"},
      {false, 0x43, L"Home Basic"},
      {false, 0x03, L"Home Premium"},
      {false, 0x1A, L"Home Premium"},
      {false, 0x44, L"Home Premium"},
      {false, 0x04, L"Enterprise"},
      {false, 0x1B, L"Enterprise"},
      {false, 0x46, L"Enterprise"},
      {false, 0x06, L"Business"},
      {false, 0x10, L"Business"},
      {false, 0x30, L"Business"},
      {false, 0x31, L"Business"},
      {false, 0x45, L"Business"},
      {false, 0x0B, L"Starter"},
      {false, 0x2F, L"Starter"},
      {false, 0x42, L"Starter"},
      {false, 0xABCDABCD, L"Unknown Edition"},
      {false, 0x00, nullptr},
      {false, 0x07, nullptr},
      {false, 0x48, nullptr},
      {true, 0x07, L"Standard"},
      {true, 0x0D, L"Standard"},
      {true, 0x08, L"Datacenter"},
      {true, 0x0C, L"Datacenter"},
      {true, 0x0A, L"Enterprise"},
      {true, 0x0E, L"Enterprise"},
      {true, 0x09, L"Small Business"},
      {true, 0x18, L"Small Business"},
      {true, 0x19, L"Small Business"},
      {true, 0x11, L"Web"},
      {true, 0x12, L"Cluster"},
      {true, 0x13, L"Home"},
      {true, 0x14, L"Storage"},
      {true, 0x15, L"Storage"},
      {true, 0x17, L"Storage"},
      {true, 0x16, nullptr},
      {true, 0x01, nullptr},
      {true, 0xABCDABCD, nullptr},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Text(r.edition), Text(EditionFromProductCode(r.server, r.code)))
        << (r.server ? "server " : "workstation ") << std::hex << r.code;
  }
}

TEST(ComposeOsDisplayName, PartsAndSpacing) {
  const struct {
    int osId;
    const wchar_t* edition;
    bool x64;
    const wchar_t* servicePack;
    DWORD build;
    const wchar_t* expected;
  } rows[] = {
      {Win7, L"Ultimate", true, L"Service Pack 1", 7601,
       L"Windows 7 Ultimate x64 Service Pack 1 (Build 7601)"},
      {Win7, L"Business", false, L"", 7600, L"Windows 7 Professional  (Build 7600)"},
      {WinVista, L"Business", false, L"Service Pack 2", 6002,
       L"Windows Vista Business Service Pack 2 (Build 6002)"},
      {WinXP64, L"Professional", true, L"Service Pack 2", 3790,
       L"Windows XP Professional x64 Service Pack 2 (Build 3790)"},
      {WinHomeServer, nullptr, false, L"Service Pack 2", 3790,
       L"Windows Home Server Unknown Service Pack 2 (Build 3790)"},
      {WinServer2003, L"Datacetner", false, L"", 3790,
       L"Windows Server 2003 Datacetner  (Build 3790)"},
      {WinServer2003R2, L"Standard", false, L"Service Pack 2", 3790,
       L"Windows Server 2003 R2 Standard Service Pack 2 (Build 3790)"},
      {WinServer2008R2, L"Enterprise", true, L"", 7600,
       L"Windows Server 2008 R2 Enterprise x64  (Build 7600)"},
      {Newer, nullptr, false, L"", 19045, L"Unknown Windows OS Unknown  (Build 19045)"},
      {Unknown, nullptr, false, L"Service Pack 2", 3790,
       L"Unknown Windows OS Unknown Service Pack 2 (Build 3790)"},
      {Win2000, L"Professional", false, L"Service Pack 4", 2195,
       L"Windows 2000 Professional Service Pack 4 (Build 2195)"},
      {WinXP, L"Media Center", false, L"Service Pack 3", 2600,
       L"Windows XP Media Center Service Pack 3 (Build 2600)"},
      {WinServer2008, L"Web", false, L"Service Pack 2", 6002,
       L"Windows Server 2008 Web Service Pack 2 (Build 6002)"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.expected, ComposeOsDisplayName(r.osId, r.edition, r.x64, r.servicePack, r.build));
  }
}
