#include "qor/os/os_utils.h"
#include "qor/os/error_codes.h"

#include "qor/env/env.h"
#include "qor/error/error.h"
#include "qor/os/file_version.h"
#include "qor/env/locations.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include "qor/test/folders.h"

#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::wstring SystemFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\" + name;
}

} // namespace

TEST(GetDllVersion, FromDllGetVersionFileVersionOrNothing) {
  // shell32 and comctl32 report their own version.
  EXPECT_GE(QorOs::GetDllVersion(L"shell32.dll"), 0x60000u);
  EXPECT_GE(QorOs::GetDllVersion(L"comctl32.dll"), 0x40000u);
  // kernel32 has no DllGetVersion: its file version counts.
  ASSERT_EQ(nullptr, GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "DllGetVersion"));
  EXPECT_EQ(QorFs::FileVersionInfo(SystemFile(L"kernel32.dll")).GetFileVersionMS(),
            QorOs::GetDllVersion(L"kernel32.dll"));
  // A library without version information reads as 1.0.
  EXPECT_EQ(0x10000u,
            QorOs::GetDllVersion((QorEnv::GetModuleFolder() + L"os_test_noversion.dll").c_str()));
  EXPECT_EQ(0u, QorOs::GetDllVersion(L"qor_no_such_library.dll"));
}

TEST(GetDllVersion, BareNamesComeFromTheSystemFolderOnly) {
  // The library lies beside this program, not in the system folder.
  EXPECT_EQ(0u, QorOs::GetDllVersion(L"os_test_noversion.dll"));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"os_test_noversion.dll"));
}

TEST(GetDllVersion, ReleasesWhatItLoaded) {
  ASSERT_EQ(nullptr, GetModuleHandleW(L"gdiplus.dll"));
  EXPECT_NE(0u, QorOs::GetDllVersion(L"gdiplus.dll"));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"gdiplus.dll"));
}

TEST(ComScope, InitialisesForTheScopeAndReportsAConflict) {
  {
    QorOs::ComScope com;
    EXPECT_TRUE(com.IsInitialised());
    // The thread is in a single-threaded apartment now.
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  }
  // Released again: the thread may join the multithreaded apartment, and then
  // a scope cannot initialise it.
  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  try {
    QorOs::ComScope conflicting;
    ADD_FAILURE() << "no error for a thread in another apartment";
  } catch (QorError::Exception* error) {
    EXPECT_EQ(QorOs::kComInitializeError, error->GetCode());
    auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error);
    ASSERT_NE(nullptr, win32);
    EXPECT_EQ(static_cast<DWORD>(RPC_E_CHANGED_MODE), win32->GetSystemCode());
    delete error;
  }
  CoUninitialize();
}

TEST(UnloadModule, ReleasesEveryReference) {
  EXPECT_TRUE(QorOs::UnloadModule(L"os_test_noversion.dll"));
  const std::wstring path = QorEnv::GetModuleFolder() + L"os_test_noversion.dll";
  for (int i = 0; i < 3; ++i) {
    ASSERT_NE(nullptr, LoadLibraryW(path.c_str()));
  }
  EXPECT_TRUE(QorOs::UnloadModule(L"os_test_noversion.dll"));
  EXPECT_EQ(nullptr, GetModuleHandleW(L"os_test_noversion.dll"));
  // kernel32 can never be released by a program.
  EXPECT_FALSE(QorOs::UnloadModule(L"kernel32.dll"));
  EXPECT_NE(nullptr, GetModuleHandleW(L"kernel32.dll"));
}

TEST(CreateShortcut, WritesALinkThatReadsBack) {
  QorOs::ComScope com;
  QorTest::ScratchFolder scratch;
  const std::wstring link = scratch.path() + L"QorOsTest.lnk";
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_TRUE(QorOs::CreateShortcut(self, link.c_str(), L"Qor test shortcut",
                                    scratch.path().c_str(), self, 0));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(link.c_str()));

  Qor::UniqueCom<IShellLinkW> shellLink;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(shellLink.put())));
  Qor::UniqueCom<IPersistFile> file;
  ASSERT_EQ(S_OK, shellLink.get()->QueryInterface(IID_IPersistFile,
                                                  reinterpret_cast<void**>(file.put())));
  EXPECT_EQ(S_OK, file.get()->Load(link.c_str(), STGM_READ));
  wchar_t text[MAX_PATH] = {};
  EXPECT_EQ(S_OK, shellLink.get()->GetPath(text, MAX_PATH, nullptr, 0));
  EXPECT_EQ(0, lstrcmpiW(self, text));
  EXPECT_EQ(S_OK, shellLink.get()->GetDescription(text, MAX_PATH));
  EXPECT_EQ(std::wstring(L"Qor test shortcut"), text);
  file.reset();
  shellLink.reset();
  DeleteFileW(link.c_str());

  // A folder that does not exist cannot take the file.
  EXPECT_FALSE(
      QorOs::CreateShortcut(self, L"Q:\\no\\such\\folder\\x.lnk", L"", nullptr, nullptr, 0));
}

TEST(SweepPointer, EndsNearTheMiddle) {
  QorOs::SweepPointer();
  RECT screen;
  GetWindowRect(GetDesktopWindow(), &screen);
  POINT at;
  ASSERT_TRUE(GetCursorPos(&at));
  const int width = screen.right - screen.left;
  const int height = screen.bottom - screen.top;
  EXPECT_NEAR(32000 * width / 65536, at.x, 2);
  EXPECT_NEAR(32000 * height / 65536, at.y, 2);
}

TEST(Random32, VariesAndCombinesFourValues) {
  // Before the environment is known the four rand values are combined; from
  // Windows XP on the secure generator answers.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 && !QorEnv::IsInitialised()) {
      QorEnv::Initialize(true);
    }
    std::set<DWORD> seen;
    for (int i = 0; i < 16; ++i) {
      seen.insert(QorOs::Random32());
    }
    EXPECT_GT(seen.size(), 8u) << "pass " << pass;
  }

  const struct {
    int r1, r2, r3, r4;
    DWORD expected;
  } cases[] = {
      {0, 0, 0, 0, 0},
      {1, 2, 3, 4, 3 * 65536 + 7},
      {32767, 32767, 32767, 32767, 65534u * 65536u + 65534u},
      {0x8000, 0x8000, 0, 1, 1}, // wraps at 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, QorOs::CombineRandom(c.r1, c.r2, c.r3, c.r4));
  }
}
