#include "qor/error/error.h"
#include "qor/error/error_codes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ios>
#include <memory>
#include <new>
#include <stdexcept>
#include <typeinfo>
#include <vector>

using QorError::Exception;

namespace {

std::unique_ptr<Exception> Catch(void (*raise)()) {
  try {
    raise();
  } catch (Exception* e) {
    return std::unique_ptr<Exception>(e);
  }
  return nullptr;
}

} // namespace

TEST(ErrorText, ConstructorMessageAndCode) {
  Exception e(21102, L"Archive is corrupted.");
  EXPECT_EQ(L"Archive is corrupted.\n", e.GetMessageText());
  EXPECT_EQ(L"[21102] Archive is corrupted.\n", e.GetFullText(true));
  EXPECT_EQ(L"Archive is corrupted.\n", e.GetFullText(false));
}

TEST(ErrorText, StoredTextShapes) {
  struct Case {
    const wchar_t* constructed; // null: no constructor message
    const wchar_t* appended;
    const wchar_t* expected;
  } cases[] = {
      {nullptr, L"", L""},
      {L"", L"", L"\n"},
      {nullptr, L"ab", L"ab\n"},
      {nullptr, L"one\ntwo", L"one\ntwo\n"},
      {nullptr, L"one\n\ntwo\n", L"one\n\ntwo\n"},
      {L"first", L"second", L"first\nsecond\n"},
  };
  for (const auto& c : cases) {
    Exception e(1, c.constructed);
    e.GetStream() << c.appended;
    EXPECT_EQ(c.expected, e.GetMessageText()) << c.appended;
  }
  Exception empty(7, nullptr);
  EXPECT_EQ(L"[7] ", empty.GetFullText(true));
}

TEST(ErrorText, RepeatedReadsAndLaterAppends) {
  Exception e(1, nullptr);
  e.GetStream() << L"a";
  e.GetStream() << L"b";
  EXPECT_EQ(L"ab\n", e.GetMessageText());
  EXPECT_EQ(L"ab\n", e.GetMessageText());
  e.GetStream() << L"c\nd";
  EXPECT_EQ(L"abc\nd\n", e.GetMessageText());
}

TEST(ErrorText, ThreeLevelChain) {
  auto* inner = new Exception(3, L"inner");
  auto* middle = new QorError::IoError(2, L"middle", inner);
  Exception outer(-1, L"outer", middle);
  EXPECT_EQ(L"[-1] outer\n\nCaused by: [2] middle\n\nCaused by: [3] inner\n",
            outer.GetFullText(true));
  EXPECT_EQ(L"outer\n\nCaused by: [2] middle\n\nCaused by: [3] inner\n", outer.GetFullText(false));
  EXPECT_EQ(L"outer\n", outer.GetMessageText());
}

TEST(ErrorText, RaiseHelpersThrowTheirClass) {
  auto e = Catch([] { QorError::RaiseErrorF(21014, L"Details: %s (%d)", L"x", 5); });
  ASSERT_TRUE(e);
  EXPECT_EQ(21014, e->GetCode());
  EXPECT_EQ(L"Details: x (5)\n", e->GetMessageText());

  e = Catch([] { QorError::RaiseUnknownError(133); });
  EXPECT_EQ(L"[133] Unknown error occured.\n", e->GetFullText(true));

  try {
    QorReg::RaiseRegError(112, L"reg");
  } catch (QorReg::RegError* r) {
    std::unique_ptr<Exception> owned(r);
    EXPECT_EQ(112, r->GetCode());
  }
  e = Catch([] { QorFs::RaiseFileError(401, L"file"); });
  EXPECT_NE(nullptr, dynamic_cast<QorFs::FileError*>(e.get()));
  try {
    QorError::RaiseIndexError(9, L"index");
  } catch (QorError::IndexError* i) {
    std::unique_ptr<Exception> owned(i);
    EXPECT_NE(nullptr, dynamic_cast<QorError::LogicError*>(i));
  }
}

TEST(MemoryErrorText, DefaultMessage) {
  QorError::MemoryError none(32, nullptr);
  EXPECT_EQ(L"Out of memory error.\n", none.GetMessageText());
  QorError::MemoryError empty(32, L"");
  EXPECT_EQ(L"\nOut of memory error.\n", empty.GetMessageText());
  QorError::MemoryError own(2002, L"SysAllocString() failed.");
  EXPECT_EQ(L"SysAllocString() failed.\n", own.GetMessageText());
}

TEST(MemoryErrorPool, SixteenSlotsThenHeapAndLowestSlotReuse) {
  ASSERT_EQ(0, QorError::MemoryErrorPoolInUse());
  std::vector<QorError::MemoryError*> pooled;
  for (int i = 0; i < 16; ++i) {
    pooled.push_back(new QorError::MemoryError(32, nullptr));
    EXPECT_TRUE(QorError::IsPooledMemoryError(pooled.back()));
  }
  EXPECT_EQ(16, QorError::MemoryErrorPoolInUse());
  auto* seventeenth = new QorError::MemoryError(32, nullptr);
  EXPECT_FALSE(QorError::IsPooledMemoryError(seventeenth));
  delete seventeenth;
  EXPECT_EQ(16, QorError::MemoryErrorPoolInUse());

  void* slot5 = pooled[5];
  void* slot9 = pooled[9];
  delete pooled[9];
  delete pooled[5];
  EXPECT_EQ(14, QorError::MemoryErrorPoolInUse());
  pooled[5] = new QorError::MemoryError(32, nullptr);
  EXPECT_EQ(slot5, static_cast<void*>(pooled[5]));
  pooled[9] = new QorError::MemoryError(32, nullptr);
  EXPECT_EQ(slot9, static_cast<void*>(pooled[9]));
  for (auto* e : pooled) {
    delete e;
  }
  EXPECT_EQ(0, QorError::MemoryErrorPoolInUse());
}

namespace {

struct Translation {
  const char* name;
  void (*raise)();
  int code;
  const std::type_info& type;
};

template <class E> void Throw() {
  throw E("what text");
}
void ThrowStreamFailure() {
  std::ifstream missing;
  missing.exceptions(std::ios::failbit);
  missing.open("Z:\\no\\such\\file");
}

} // namespace

TEST(StdErrorTranslation, TableRowByRow) {
  const Translation rows[] = {
      {"length_error", Throw<std::length_error>, QorError::kStdLengthError,
       typeid(QorError::LogicError)},
      {"domain_error", Throw<std::domain_error>, QorError::kStdDomainError,
       typeid(QorError::LogicError)},
      {"out_of_range", Throw<std::out_of_range>, QorError::kStdOutOfRangeError,
       typeid(QorError::LogicError)},
      {"invalid_argument", Throw<std::invalid_argument>, QorError::kStdInvalidArgumentError,
       typeid(QorError::LogicError)},
      {"logic_error", Throw<std::logic_error>, QorError::kStdLogicError,
       typeid(QorError::LogicError)},
      {"ios_base::failure", Throw<std::ios_base::failure>, QorError::kStdStreamFailureError,
       typeid(QorError::StreamError)},
      {"stream failure", ThrowStreamFailure, QorError::kStdStreamFailureError,
       typeid(QorError::StreamError)},
      {"range_error", Throw<std::range_error>, QorError::kStdRangeError,
       typeid(QorError::RuntimeError)},
      {"overflow_error", Throw<std::overflow_error>, QorError::kStdOverflowError,
       typeid(QorError::RuntimeError)},
      {"underflow_error", Throw<std::underflow_error>, QorError::kStdUnderflowError,
       typeid(QorError::RuntimeError)},
      {"runtime_error", Throw<std::runtime_error>, QorError::kStdRuntimeError,
       typeid(QorError::RuntimeError)},
      {"bad_alloc", [] { throw std::bad_alloc(); }, QorError::kStdBadAllocError,
       typeid(QorError::MemoryError)},
      {"bad_cast", [] { throw std::bad_cast(); }, QorError::kStdBadCastError,
       typeid(QorError::LogicError)},
      {"bad_typeid", [] { throw std::bad_typeid(); }, QorError::kStdBadTypeIdError,
       typeid(QorError::LogicError)},
      {"bad_exception", [] { throw std::bad_exception(); }, QorError::kStdBadExceptionError,
       typeid(QorError::LogicError)},
      {"exception", [] { throw std::exception(); }, QorError::kStdOtherExceptionError,
       typeid(QorError::Exception)},
  };
  for (const auto& row : rows) {
    std::unique_ptr<Exception> translated;
    std::string what;
    try {
      try {
        row.raise();
      } catch (const std::exception& e) {
        what = e.what();
        QorError::RaiseStdError(999, e);
      }
    } catch (Exception* e) {
      translated.reset(e);
    }
    ASSERT_TRUE(translated) << row.name;
    EXPECT_EQ(row.code, translated->GetCode()) << row.name;
    EXPECT_EQ(row.type, typeid(*translated)) << row.name;
    EXPECT_EQ(QorError::WidenWithCLocale(what.c_str()) + L"\n", translated->GetMessageText())
        << row.name;
  }
}

TEST(StdErrorTranslation, WhatTextKeptAndCauseAbsent) {
  try {
    try {
      throw std::runtime_error("disk gone");
    } catch (const std::exception& e) {
      QorError::RaiseStdError(1, e);
    }
  } catch (Exception* e) {
    std::unique_ptr<Exception> owned(e);
    EXPECT_EQ(L"[31] disk gone\n", e->GetFullText(true));
    EXPECT_EQ(nullptr, e->GetCause());
  }
}
