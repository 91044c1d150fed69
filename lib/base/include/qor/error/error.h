// The library's error tree. Errors are thrown as pointers to heap objects;
// whoever catches one owns it and must delete it or pass it on as a cause.
#pragma once

#include <exception>
#include <string>

namespace QorError {

// A wide text that is appended to like a stream: what error messages are
// written into and read from. Deliberately not a std::wostream: a program
// that touches the standard streams links the whole locale machinery (some
// 700 kB in a static build), which the setup launcher must not carry.
class TextStream {
public:
  TextStream& operator<<(const wchar_t* text) {
    if (text) {
      text_ += text;
    }
    return *this;
  }
  TextStream& operator<<(const std::wstring& text) {
    text_ += text;
    return *this;
  }
  TextStream& operator<<(wchar_t c) {
    text_ += c;
    return *this;
  }
  // Signed decimal, no grouping or fill.
  TextStream& operator<<(long long value);
  TextStream& operator<<(unsigned long long value);
  TextStream& operator<<(int value) { return *this << static_cast<long long>(value); }
  TextStream& operator<<(long value) { return *this << static_cast<long long>(value); }
  TextStream& operator<<(unsigned value) { return *this << static_cast<unsigned long long>(value); }
  TextStream& operator<<(unsigned long value) {
    return *this << static_cast<unsigned long long>(value);
  }
  void flush() {}

  const std::wstring& str() const { return text_; }

private:
  std::wstring text_;
};

class Exception {
public:
  // message may be null; a non-null message is stored with one line break
  // after it. cause is taken over (it may be null).
  Exception(int code, const wchar_t* message, Exception* cause = nullptr);
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;
  virtual ~Exception();

  virtual void WriteMessage(TextStream& out);
  virtual void WriteFullText(TextStream& out, bool withCode);

  int GetCode() const { return code_; }
  TextStream& GetStream() { return message_; }
  Exception* GetCause() const { return cause_; }
  std::wstring GetMessageText();
  std::wstring GetFullText(bool withCode);

protected:
  // Writes the stored lines, each ended by exactly one line break.
  void WriteStoredLines(TextStream& out);

private:
  int code_;
  TextStream message_;
  Exception* cause_;
};

class RuntimeError : public Exception {
public:
  RuntimeError(int code, const wchar_t* message, Exception* cause = nullptr)
      : Exception(code, message, cause) {}
};

class IoError : public RuntimeError {
public:
  IoError(int code, const wchar_t* message, Exception* cause = nullptr)
      : RuntimeError(code, message, cause) {}
};

class StreamError : public IoError {
public:
  StreamError(int code, const wchar_t* message) : IoError(code, message) {}
};

// Out-of-memory errors come from a fixed pool of 16 slots, so that reporting
// an allocation failure does not itself need the heap.
class MemoryError : public RuntimeError {
public:
  MemoryError(int code, const wchar_t* message);
  static void* operator new(std::size_t size);
  static void operator delete(void* p);
};

class LogicError : public Exception {
public:
  LogicError(int code, const wchar_t* message, Exception* cause = nullptr)
      : Exception(code, message, cause) {}
};

#define QOR_LOGIC_ERROR_CLASS(Name)                                                                \
  class Name : public LogicError {                                                                 \
  public:                                                                                          \
    Name(int code, const wchar_t* message, Exception* cause = nullptr)                             \
        : LogicError(code, message, cause) {}                                                      \
  };
QOR_LOGIC_ERROR_CLASS(NulRefError)
QOR_LOGIC_ERROR_CLASS(IndexError)
QOR_LOGIC_ERROR_CLASS(BadCastError)
QOR_LOGIC_ERROR_CLASS(BadTypeIdError)
QOR_LOGIC_ERROR_CLASS(RangeError)
QOR_LOGIC_ERROR_CLASS(InvariantError)
#undef QOR_LOGIC_ERROR_CLASS

[[noreturn]] void RaiseError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseErrorF(int code, const wchar_t* format, ...);
[[noreturn]] void RaiseUnknownError(int code);
// Translates a standard exception into a library error (code from the
// translation table, whatever operationCode says) and throws it.
[[noreturn]] void RaiseStdError(int operationCode, const std::exception& error);
[[noreturn]] void RaiseMemoryError(int code, const wchar_t* message);
[[noreturn]] void RaiseLogicError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseNulRefError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseIndexError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseBadCastError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseBadTypeIdError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseRangeError(int code, const wchar_t* message, Exception* cause = nullptr);
[[noreturn]] void RaiseInvariantError(int code, const wchar_t* message, Exception* cause = nullptr);

// Widens a narrow text with the C library's multibyte conversion.
std::wstring WidenWithCLocale(const char* text);

// Pool state, for tests and diagnostics.
int MemoryErrorPoolInUse();
bool IsPooledMemoryError(const void* p);

} // namespace QorError

namespace QorReg {
class RegError : public QorError::IoError {
public:
  RegError(int code, const wchar_t* message, QorError::Exception* cause = nullptr)
      : IoError(code, message, cause) {}
};
[[noreturn]] void RaiseRegError(int code, const wchar_t* message,
                                QorError::Exception* cause = nullptr);
} // namespace QorReg

namespace QorFs {
class FileError : public QorError::IoError {
public:
  FileError(int code, const wchar_t* message, QorError::Exception* cause = nullptr)
      : IoError(code, message, cause) {}
};
// Thrown as the root class pointer.
[[noreturn]] void RaiseFileError(int code, const wchar_t* message,
                                 QorError::Exception* cause = nullptr);
} // namespace QorFs
