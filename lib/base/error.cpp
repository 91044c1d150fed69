#include "qor/error/error.h"
#include "qor/handle/critical_section.h"
#include "qor/error/error_codes.h"

#include "format_arguments.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ios>
#include <new>
#include <stdexcept>
#include <typeinfo>
#include <vector>

namespace QorError {

TextStream& TextStream::operator<<(long long value) {
  if (value < 0) {
    text_ += L'-';
    // Through unsigned arithmetic, so that the lowest value negates too.
    return *this << (0ULL - static_cast<unsigned long long>(value));
  }
  return *this << static_cast<unsigned long long>(value);
}

TextStream& TextStream::operator<<(unsigned long long value) {
  wchar_t digits[24];
  wchar_t* p = digits + 24;
  do {
    *--p = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value);
  text_.append(p, digits + 24);
  return *this;
}

Exception::Exception(int code, const wchar_t* message, Exception* cause)
    : code_(code), cause_(cause) {
  if (message) {
    message_ << message << L'\n';
  }
}

Exception::~Exception() {
  delete cause_;
}

void Exception::WriteStoredLines(TextStream& out) {
  // Line by line from the start each time: every line, the last one too,
  // ends in exactly one line break, and empty lines inside are kept.
  const std::wstring& stored = message_.str();
  std::size_t start = 0;
  while (start < stored.size()) {
    std::size_t end = stored.find(L'\n', start);
    if (end == std::wstring::npos) {
      end = stored.size();
    }
    out << stored.substr(start, end - start) << L'\n';
    out.flush();
    start = end + 1;
  }
}

void Exception::WriteMessage(TextStream& out) {
  WriteStoredLines(out);
}

void Exception::WriteFullText(TextStream& out, bool withCode) {
  if (withCode) {
    out << L"[" << code_ << L"] ";
  }
  WriteMessage(out);
  if (!cause_) {
    return;
  }
  out << L'\n';
  out.flush();
  out << L"Caused by: ";
  cause_->WriteFullText(out, true);
}

std::wstring Exception::GetMessageText() {
  TextStream out;
  WriteMessage(out);
  return out.str();
}

std::wstring Exception::GetFullText(bool withCode) {
  TextStream out;
  WriteFullText(out, withCode);
  return out.str();
}

// --- MemoryError and its pool ---------------------------------------------

namespace {

constexpr int kPoolSlots = 16;

struct alignas(16) PoolSlot {
  unsigned char bytes[sizeof(MemoryError)];
};

PoolSlot g_poolSlots[kPoolSlots];
unsigned g_poolMap = 0;
int g_poolInUse = 0;

// Created during static initialisation, before the entry runs.
Qor::CriticalSection g_poolLock;

bool InPool(const void* p) {
  auto* bytes = static_cast<const unsigned char*>(p);
  auto* begin = reinterpret_cast<const unsigned char*>(&g_poolSlots[0]);
  auto* end = reinterpret_cast<const unsigned char*>(&g_poolSlots[kPoolSlots]);
  return bytes >= begin && bytes < end;
}

} // namespace

MemoryError::MemoryError(int code, const wchar_t* message) : RuntimeError(code, message) {
  if (!message || !*message) {
    GetStream() << L"Out of memory error.";
  }
}

void* MemoryError::operator new(std::size_t size) {
  Qor::Locked guard(g_poolLock);
  if (size <= sizeof(PoolSlot) && g_poolInUse < kPoolSlots) {
    for (int i = 0; i < kPoolSlots; ++i) {
      if (!(g_poolMap & (1u << i))) {
        g_poolMap |= 1u << i;
        ++g_poolInUse;
        return &g_poolSlots[i];
      }
    }
  }
  return ::operator new(size);
}

void MemoryError::operator delete(void* p) {
  if (!p) {
    return;
  }
  Qor::Locked guard(g_poolLock);
  if (!InPool(p)) {
    ::operator delete(p);
    return;
  }
  auto index =
      (static_cast<unsigned char*>(p) - reinterpret_cast<unsigned char*>(&g_poolSlots[0])) /
      static_cast<std::ptrdiff_t>(sizeof(PoolSlot));
  g_poolMap &= ~(1u << index);
  --g_poolInUse;
}

int MemoryErrorPoolInUse() {
  Qor::Locked guard(g_poolLock);
  return g_poolInUse;
}

bool IsPooledMemoryError(const void* p) {
  return InPool(p);
}

// --- Raise helpers ----------------------------------------------------------

void RaiseError(int code, const wchar_t* message, Exception* cause) {
  throw new Exception(code, message, cause);
}

void RaiseErrorF(int code, const wchar_t* format, ...) {
  std::wstring text;
  QOR_FORMAT_ARGUMENTS(text, format, format);
  throw new Exception(code, text.c_str());
}

void RaiseUnknownError(int code) {
  throw new Exception(code, L"Unknown error occured.");
}

void RaiseMemoryError(int code, const wchar_t* message) {
  throw new MemoryError(code, message);
}

#define QOR_RAISE_HELPER(Name, Class)                                                              \
  void Name(int code, const wchar_t* message, Exception* cause) {                                  \
    throw new Class(code, message, cause);                                                         \
  }
QOR_RAISE_HELPER(RaiseLogicError, LogicError)
QOR_RAISE_HELPER(RaiseNulRefError, NulRefError)
QOR_RAISE_HELPER(RaiseIndexError, IndexError)
QOR_RAISE_HELPER(RaiseBadCastError, BadCastError)
QOR_RAISE_HELPER(RaiseBadTypeIdError, BadTypeIdError)
QOR_RAISE_HELPER(RaiseRangeError, RangeError)
QOR_RAISE_HELPER(RaiseInvariantError, InvariantError)
#undef QOR_RAISE_HELPER

std::wstring WidenWithCLocale(const char* text) {
  if (!text) {
    return std::wstring();
  }
  std::size_t needed = std::mbstowcs(nullptr, text, 0);
  if (needed == static_cast<std::size_t>(-1)) {
    // Not valid in the current locale: keep the bytes as Latin-1 characters.
    std::wstring wide;
    for (const char* p = text; *p; ++p) {
      wide += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    }
    return wide;
  }
  std::vector<wchar_t> buffer(needed + 1);
  std::mbstowcs(buffer.data(), text, needed + 1);
  return std::wstring(buffer.data(), needed);
}

namespace {

// libstdc++ of this compiler generation throws the pre-C++11-ABI stream
// failure, which a catch of std::ios_base::failure does not match.
bool IsStreamFailure(const std::exception& error) {
  if (dynamic_cast<const std::ios_base::failure*>(&error)) {
    return true;
  }
  return std::strcmp(typeid(error).name(), "NSt8ios_base7failureE") == 0;
}

template <class Error> [[noreturn]] void ThrowTranslated(int code, const std::wstring& text) {
  throw static_cast<Exception*>(new Error(code, text.c_str()));
}

} // namespace

void RaiseStdError(int /*operationCode*/, const std::exception& error) {
  const std::wstring text = WidenWithCLocale(error.what());
  if (dynamic_cast<const std::length_error*>(&error))
    ThrowTranslated<LogicError>(kStdLengthError, text);
  if (dynamic_cast<const std::domain_error*>(&error))
    ThrowTranslated<LogicError>(kStdDomainError, text);
  if (dynamic_cast<const std::out_of_range*>(&error))
    ThrowTranslated<LogicError>(kStdOutOfRangeError, text);
  if (dynamic_cast<const std::invalid_argument*>(&error))
    ThrowTranslated<LogicError>(kStdInvalidArgumentError, text);
  if (dynamic_cast<const std::logic_error*>(&error))
    ThrowTranslated<LogicError>(kStdLogicError, text);
  if (IsStreamFailure(error))
    ThrowTranslated<StreamError>(kStdStreamFailureError, text);
  if (dynamic_cast<const std::range_error*>(&error))
    ThrowTranslated<RuntimeError>(kStdRangeError, text);
  if (dynamic_cast<const std::overflow_error*>(&error))
    ThrowTranslated<RuntimeError>(kStdOverflowError, text);
  if (dynamic_cast<const std::underflow_error*>(&error))
    ThrowTranslated<RuntimeError>(kStdUnderflowError, text);
  if (dynamic_cast<const std::runtime_error*>(&error))
    ThrowTranslated<RuntimeError>(kStdRuntimeError, text);
  if (dynamic_cast<const std::bad_alloc*>(&error))
    RaiseMemoryError(kStdBadAllocError, text.c_str());
  if (dynamic_cast<const std::bad_cast*>(&error))
    ThrowTranslated<LogicError>(kStdBadCastError, text);
  if (dynamic_cast<const std::bad_typeid*>(&error))
    ThrowTranslated<LogicError>(kStdBadTypeIdError, text);
  if (dynamic_cast<const std::bad_exception*>(&error))
    ThrowTranslated<LogicError>(kStdBadExceptionError, text);
  ThrowTranslated<Exception>(kStdOtherExceptionError, text);
}

} // namespace QorError

namespace QorReg {
void RaiseRegError(int code, const wchar_t* message, QorError::Exception* cause) {
  throw new RegError(code, message, cause);
}
} // namespace QorReg

namespace QorFs {
void RaiseFileError(int code, const wchar_t* message, QorError::Exception* cause) {
  throw static_cast<QorError::Exception*>(new FileError(code, message, cause));
}
} // namespace QorFs
