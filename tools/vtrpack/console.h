// What vtrpack writes to its standard streams: lines in which no name can
// steer the terminal, counts with their plurals, and the live progress that
// every long command shows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace VtrConsole {

// text as UTF-8, as it stands.
void Write(std::FILE* stream, const std::u16string& text);
// One line: text with its control characters shown as escapes, then a
// line break.
void Say(std::FILE* stream, const std::u16string& text);
// text with every control character (C0, DEL, C1) and every character that
// reorders or hides text (bidirectional controls, zero-width marks) written
// as \xNN or \uNNNN, so that a name cannot draw on the terminal or pass for
// another line.
std::u16string Printable(const std::u16string& text);
// "1 file", "2 files"; plural is noun + "s" unless given.
std::u16string Count(std::uint64_t count, const std::u16string& noun,
                     const std::u16string& plural = std::u16string());

// A live percentage on the error output when it is a terminal; in a log, a
// line at each quarter. Work under 8 MB is too quick to show.
class ProgressLine {
public:
  ProgressLine(const char16_t* label, std::uint64_t total);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;
  void Update(std::uint64_t done);
  // Shows 100 % and ends the line.
  void Done();

private:
  std::u16string label_;
  std::uint64_t total_;
  bool shown_;
  bool terminal_;
  unsigned last_ = 0;
};

} // namespace VtrConsole
