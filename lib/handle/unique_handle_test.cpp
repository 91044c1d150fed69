#include "qor/handle/unique_handle.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// An application-defined code (bit 29 set), which no release ever reports.
constexpr DWORD kCallersError = 0x20001234;

// A release that sets the last error must not hide the caller's, whether the
// owner lets go through reset or by going out of scope.
template <class Owner> void ExpectReleaseKeepsLastError(const std::function<Owner()>& make) {
  {
    Owner owner = make();
    ASSERT_TRUE(owner.valid());
    SetLastError(kCallersError);
    owner.reset();
    EXPECT_EQ(kCallersError, GetLastError()) << "after reset";
    EXPECT_FALSE(owner.valid());
  }
  {
    Owner owner = make();
    ASSERT_TRUE(owner.valid());
    SetLastError(kCallersError);
  }
  EXPECT_EQ(kCallersError, GetLastError()) << "after destruction";
}

// A COM object whose release does work that leaves a last error behind, as
// one that closes a file may.
struct NoisyObject {
  ULONG Release() {
    ++releases;
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  int releases = 0;
};

TEST(Owners, KeepTheLastErrorWhenTheReleaseSetsOne) {
  // A handle that was closed already: closing it again fails and sets
  // ERROR_INVALID_HANDLE.
  auto staleHandle = [] {
    Qor::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event.get();
  };
  ASSERT_FALSE(CloseHandle(staleHandle()));
  ASSERT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  {
    SCOPED_TRACE("handle");
    ExpectReleaseKeepsLastError<Qor::UniqueHandle>(
        [&] { return Qor::UniqueHandle(staleHandle()); });
  }

  NoisyObject object;
  {
    SCOPED_TRACE("COM object");
    ExpectReleaseKeepsLastError<Qor::UniqueCom<NoisyObject>>(
        [&] { return Qor::UniqueCom<NoisyObject>(&object); });
  }
  EXPECT_EQ(2, object.releases); // once per owner, not again at destruction
}

TEST(Owners, KeepTheLastErrorWhenFreeingMemory) {
  {
    SCOPED_TRACE("LocalAlloc");
    ExpectReleaseKeepsLastError<Qor::UniqueLocal>(
        [] { return Qor::UniqueLocal(LocalAlloc(LMEM_FIXED, 16)); });
  }
  {
    SCOPED_TRACE("CoTaskMemAlloc");
    ExpectReleaseKeepsLastError<Qor::UniqueCoTaskMem<wchar_t>>(
        [] { return Qor::UniqueCoTaskMem<wchar_t>(static_cast<wchar_t*>(CoTaskMemAlloc(16))); });
  }
  {
    SCOPED_TRACE("BSTR");
    ExpectReleaseKeepsLastError<Qor::UniqueBstr>(
        [] { return Qor::UniqueBstr(SysAllocString(L"text")); });
  }
  {
    SCOPED_TRACE("SID");
    ExpectReleaseKeepsLastError<Qor::UniqueSid>([] {
      SID_IDENTIFIER_AUTHORITY world = {SECURITY_WORLD_SID_AUTHORITY};
      Qor::UniqueSid sid;
      AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, sid.put());
      return sid;
    });
  }
}

// Restoring the font of a device context that went away meanwhile fails and
// sets ERROR_INVALID_HANDLE; the scope must leave the caller's error.
TEST(Owners, SelectionScopeKeepsTheLastError) {
  HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
  HDC probe = CreateCompatibleDC(nullptr);
  ASSERT_NE(nullptr, probe);
  HGDIOBJ previous = SelectObject(probe, font);
  DeleteDC(probe);
  ASSERT_EQ(nullptr, SelectObject(probe, previous));
  ASSERT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(nullptr, dc);
  {
    Qor::SelectObjectScope use(dc, font);
    DeleteDC(dc);
    SetLastError(kCallersError);
  }
  EXPECT_EQ(kCallersError, GetLastError());
}

} // namespace
