#include "console.h"

#include "platform.h"

#include "qor/payload_core/payload_core.h"

#include <algorithm>

namespace VtrConsole {

namespace {

const std::uint64_t kProgressThreshold = 8u << 20;

bool Hidden(char16_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
         (c >= 0x200B && c <= 0x200D) || c == 0xFEFF;
}

} // namespace

void Write(std::FILE* stream, const std::u16string& text) {
  const std::string bytes = QorPayload::ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

void Say(std::FILE* stream, const std::u16string& text) {
  Write(stream, Printable(text) + u"\n");
}

std::u16string Printable(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (!Hidden(c)) {
      out.push_back(c);
      continue;
    }
    const unsigned value = c;
    const int digits = value < 0x100 ? 2 : 4;
    out += digits == 2 ? u"\\x" : u"\\u";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
      out.push_back(u"0123456789ABCDEF"[(value >> shift) & 15]);
    }
  }
  return out;
}

std::u16string Count(std::uint64_t count, const std::u16string& noun,
                     const std::u16string& plural) {
  return QorPayload::ToDecimal(count) + u" " +
         (count == 1       ? noun
          : plural.empty() ? noun + u"s"
                           : plural);
}

ProgressLine::ProgressLine(const char16_t* label, std::uint64_t total)
    : label_(label), total_(total), shown_(total >= kProgressThreshold),
      terminal_(VtrPlatform::IsTerminal(stderr)) {}

ProgressLine::~ProgressLine() {
  // Left early (a failure): the failure's line starts on a line of its own.
  if (shown_ && terminal_ && last_ > 0 && last_ < 100) {
    Write(stderr, u"\n");
    VtrPlatform::SetLineOpen(false);
  }
}

void ProgressLine::Update(std::uint64_t done) {
  if (!shown_ || total_ == 0) {
    return;
  }
  const unsigned percent = static_cast<unsigned>(std::min<std::uint64_t>(100, done * 100 / total_));
  const unsigned step = terminal_ ? 1 : 25;
  if (percent / step * step <= last_ || percent < step) {
    return;
  }
  last_ = percent / step * step;
  if (terminal_) {
    VtrPlatform::SetLineOpen(true);
    Write(stderr, u"\r" + label_ + u": " + QorPayload::ToDecimal(last_) + u"%");
  } else {
    Write(stderr, label_ + u": " + QorPayload::ToDecimal(last_) + u"%\n");
  }
}

void ProgressLine::Done() {
  Update(total_);
  if (shown_ && terminal_ && last_ > 0) {
    Write(stderr, u"\n");
    VtrPlatform::SetLineOpen(false);
  }
  last_ = 100;
  shown_ = false;
}

} // namespace VtrConsole
