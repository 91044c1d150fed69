#include "guarded.h"

#include "qor/error/win32_error.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using ErrorPtr = std::unique_ptr<QorError::Exception>;

ErrorPtr RunGuarded(const std::function<void()>& body) {
  try {
    QorReg::Detail::Guarded(
        155, 151, [] { return std::wstring(L"Unable to open registry key K"); }, body);
  } catch (QorError::Exception* error) {
    return ErrorPtr(error);
  }
  return nullptr;
}

} // namespace

TEST(Guarded, ReturnsTheResultAndBuildsNoMessageOnSuccess) {
  bool messageBuilt = false;
  int result = QorReg::Detail::Guarded(
      1, 2,
      [&] {
        messageBuilt = true;
        return std::wstring();
      },
      [] { return 42; });
  EXPECT_EQ(42, result);
  EXPECT_FALSE(messageBuilt);
}

TEST(Guarded, EveryKindOfFailureBecomesALibraryError) {
  struct Case {
    const char* what;
    std::function<void()> body;
    std::wstring fullText;
    bool isRegError;
  };
  const std::wstring description = QorWin32::DescribeSystemError(5);
  const Case cases[] = {
      {"library error becomes the cause", [] { QorWin32::RaiseWin32Error(2007, nullptr, 5); },
       L"[155] Unable to open registry key K\n\nCaused by: [2007] [Win32] [5] " + description +
           L"\n",
       true},
      {"whole chains are kept",
       [] { QorReg::RaiseRegError(111, L"inner", new QorError::Exception(9, L"root")); },
       L"[155] Unable to open registry key K\n\nCaused by: [111] inner\n\nCaused by: [9] root\n",
       true},
      {"standard exception is translated", [] { throw std::length_error("too long"); },
       L"[6] too long\n", false},
      {"allocation failure", [] { throw std::bad_alloc(); }, L"[32] std::bad_alloc\n", false},
      {"anything else takes the second code", [] { throw 42; }, L"[151] Unknown error occured.\n",
       false},
  };
  for (const Case& c : cases) {
    ErrorPtr error = RunGuarded(c.body);
    ASSERT_TRUE(error) << c.what;
    EXPECT_EQ(c.fullText, error->GetFullText(true)) << c.what;
    EXPECT_EQ(c.isRegError, dynamic_cast<QorReg::RegError*>(error.get()) != nullptr) << c.what;
  }
}
