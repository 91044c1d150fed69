// The portable core of the payload: what the launcher and the payload
// builder share on every system (no Windows headers here). Text is UTF-16,
// as the archive stores names, whatever the size of wchar_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace QorPayload {

// A failure of the core: the library's error code and its message. Thrown
// by pointer, like the library's errors; the catcher owns it. The launcher's
// classes turn it into the matching library error.
class Error {
public:
  Error(int code, std::u16string message) : code_(code), message_(std::move(message)) {}
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  int GetCode() const { return code_; }
  const std::u16string& GetMessage() const { return message_; }

private:
  int code_;
  std::u16string message_;
};

[[noreturn]] void RaiseError(int code, std::u16string message);

// Where bytes come from and go to, in pieces.
class ByteSource {
public:
  virtual ~ByteSource() {}
  // Fills up to size bytes; returns 0 only at the end.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

class ByteSink {
public:
  virtual ~ByteSink() {}
  virtual void Write(const char* data, std::size_t size) = 0;
};

std::string ToUtf8(const std::u16string& text);
// False when bytes are not valid UTF-8 (text then holds what was decoded).
bool FromUtf8(const std::string& bytes, std::u16string& text);
std::u16string FromAscii(const char* text);
std::u16string ToDecimal(std::uint64_t value);

} // namespace QorPayload
