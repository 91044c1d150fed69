#include "qor/error/win32_error.h"
#include "qor/error/error_codes.h"
#include "qor/handle/unique_handle.h"

#include "qor/test/folders.h"

#include <gtest/gtest.h>

#include <memory>

using QorWin32::DescribeSystemError;
using QorWin32::Win32Error;

namespace {

template <class F> std::unique_ptr<Win32Error> CatchWin32(F raise) {
  try {
    raise();
  } catch (Win32Error* e) {
    return std::unique_ptr<Win32Error>(e);
  }
  return nullptr;
}

} // namespace

TEST(SystemDescription, LineBreaksFolded) {
  for (DWORD code : {0u, 2u, 3u, 5u, 6u, 122u}) {
    std::wstring d = DescribeSystemError(code);
    ASSERT_FALSE(d.empty()) << code;
    EXPECT_EQ(std::wstring::npos, d.find(L'\r')) << code;
    EXPECT_EQ(std::wstring::npos, d.find(L'\n')) << code;
  }
  // The usual text ends in CR LF, which leaves exactly one space.
  std::wstring d = DescribeSystemError(2);
  EXPECT_EQ(L' ', d.back());
  EXPECT_NE(L' ', d[d.size() - 2]);
  EXPECT_EQ(L"", DescribeSystemError(0x2000FFFF));
}

TEST(Win32ErrorText, LayoutsOfTheHelpers) {
  const std::wstring d2 = DescribeSystemError(2);
  const std::wstring d3 = DescribeSystemError(3);
  const std::wstring d6 = DescribeSystemError(6);

  auto e = CatchWin32([] {
    WaitForSingleObject(reinterpret_cast<HANDLE>(0x1234), 0);
    QorWin32::RaiseWin32Error(2005, nullptr, 0);
  });
  ASSERT_TRUE(e);
  EXPECT_EQ(6u, e->GetSystemCode());
  EXPECT_EQ(L"[Win32] [6] " + d6 + L"\n", e->GetMessageText());
  EXPECT_EQ(L"[2005] [Win32] [6] " + d6 + L"\n", e->GetFullText(true));

  e = CatchWin32([] { QorWin32::RaiseWin32Error(2012, L"Key missing", 2); });
  EXPECT_EQ(L"[Win32] [2] Key missing\n" + d2 + L"\n", e->GetMessageText());

  e = CatchWin32([] {
    SetLastError(3);
    QorWin32::RaiseLastWin32ErrorF(422, L"Unable to create directory %s", L"C:\\a\\b");
  });
  EXPECT_EQ(L"[Win32] [3] Unable to create directory C:\\a\\b\n\tError: " + d3 + L"\n",
            e->GetMessageText());

  e = CatchWin32([] {
    SetLastError(2);
    QorWin32::RaiseLastWin32ErrorF(21106, nullptr);
  });
  EXPECT_EQ(L"[Win32] [2] " + d2 + L"\n", e->GetMessageText());

  e = CatchWin32([] { QorWin32::RaiseWin32ErrorF(2011, L"Value %s", 5, L"v"); });
  EXPECT_EQ(5u, e->GetSystemCode());
  EXPECT_EQ(L"[Win32] [5] Value v\n\tError: " + DescribeSystemError(5) + L"\n",
            e->GetMessageText());
}

TEST(Win32ErrorText, EmptyDescriptions) {
  const DWORD unknown = 0x2000FFFF; // no text in the message table
  auto e = CatchWin32([] { QorWin32::RaiseWin32Error(1, L"M", 0x2000FFFF); });
  EXPECT_EQ(L"[Win32] [536936447] M\n", e->GetMessageText());
  e = CatchWin32([] { QorWin32::RaiseWin32Error(1, nullptr, 0x2000FFFF); });
  EXPECT_EQ(L"[Win32] [536936447] ", e->GetMessageText());
  e = CatchWin32([=] { QorWin32::RaiseWin32ErrorF(1, L"T", unknown); });
  EXPECT_EQ(L"[Win32] [536936447] T\n\tError: \n", e->GetMessageText());
  // System codes are written as signed numbers.
  e = CatchWin32([] { QorWin32::RaiseWin32Error(1, nullptr, 0x80070005); });
  EXPECT_EQ(0u, e->GetMessageText().find(L"[Win32] [-2147024891] "));
}

TEST(Win32ErrorText, ZeroSystemCodeUsesLastErrorEvenWhenZero) {
  auto e = CatchWin32([] {
    SetLastError(0);
    QorWin32::RaiseWin32Error(7, nullptr, 0);
  });
  EXPECT_EQ(L"[Win32] [0] " + DescribeSystemError(0) + L"\n", e->GetMessageText());
}

TEST(ThinWrappers, RaiseWithFixedCodes) {
  auto e =
      CatchWin32([] { QorWin32::CheckedWaitForSingleObject(reinterpret_cast<HANDLE>(0x1234), 0); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kWaitForSingleObjectError, e->GetCode());

  e = CatchWin32([] { QorWin32::CheckedGetFileVersionInfoSize(L"C:\\no\\such.dll"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kGetFileVersionInfoSizeError, e->GetCode());

  e = CatchWin32(
      [] { QorWin32::CheckedOpenEvent(EVENT_ALL_ACCESS, FALSE, L"VeltranoNoSuchEvent"); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kOpenEventError, e->GetCode());

  Qor::UniqueHandle first(
      QorWin32::CheckedCreateEvent(nullptr, TRUE, FALSE, L"VeltranoTestEvent", true));
  e = CatchWin32(
      [] { QorWin32::CheckedCreateEvent(nullptr, TRUE, FALSE, L"VeltranoTestEvent", true); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kCreateEventError, e->GetCode());
  EXPECT_EQ(183u, e->GetSystemCode());
  Qor::UniqueHandle again(
      QorWin32::CheckedCreateEvent(nullptr, TRUE, FALSE, L"VeltranoTestEvent", false));
  again.reset();
  first.reset();

  Qor::UniqueHandle mutex(QorWin32::CheckedCreateMutex(nullptr, FALSE, L"VeltranoTestMutex", true));
  e = CatchWin32([] { QorWin32::CheckedCreateMutex(nullptr, FALSE, L"VeltranoTestMutex", true); });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kCreateMutexError, e->GetCode());
  e = CatchWin32([&] { QorWin32::CheckedReleaseMutex(mutex.get()); }); // not owned
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kReleaseMutexError, e->GetCode());
}

TEST(ThinWrappers, SetFilePointerAllBitsLowWithoutError) {
  QorTest::ScratchFolder scratch;
  const std::wstring path = scratch.path() + L"veltrano-seek.bin";
  Qor::UniqueFile owned(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(owned.valid());
  HANDLE file = owned.get();
  // A low part of all bits set is a valid position when the last error is 0.
  LONG high = 1;
  EXPECT_EQ(0x1FFFFFFFFull, QorWin32::CheckedSetFilePointer(file, -1, &high, FILE_BEGIN));
  high = 1;
  EXPECT_EQ(0x100000010ull, QorWin32::CheckedSetFilePointer(file, 0x10, &high, FILE_BEGIN));
  auto e = CatchWin32([=] {
    LONG h = 0;
    QorWin32::CheckedSetFilePointer(file, -5, &h, FILE_BEGIN);
  });
  ASSERT_TRUE(e);
  EXPECT_EQ(QorError::kSetFilePointerError, e->GetCode());
}

TEST(ThinWrappers, ExpandsVariables) {
  SetEnvironmentVariableW(L"VELTRANO_X", L"abc");
  wchar_t buffer[64];
  EXPECT_EQ(6u, QorWin32::CheckedExpandEnvironmentStrings(L"<%VELTRANO_X%>", buffer, 64));
  EXPECT_STREQ(L"<abc>", buffer);
}

TEST(ThinWrappers, SysAllocString) {
  Qor::UniqueBstr wide(QorWin32::CheckedSysAllocString(L"abc"));
  EXPECT_EQ(3u, SysStringLen(wide.get()));
  Qor::UniqueBstr narrow(QorWin32::CheckedSysAllocString("hello"));
  EXPECT_STREQ(L"hello", narrow.get());
}
