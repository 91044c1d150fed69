// What vtrpack needs from the system it runs on, in one small interface with
// a Windows and a POSIX implementation. Paths and names are UTF-16 here;
// on POSIX systems file names are UTF-8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace VtrPlatform {

// A failure of the tool itself, with its one-line reason.
struct Failure {
  std::u16string reason;
};

[[noreturn]] void Fail(const std::u16string& reason);
// what, the file it concerns, ": " and the system's description of the last
// failed call. Reads the system's error first: nothing may run before it
// that could change it, so what is a literal and file an existing string.
std::u16string SystemReason(const char16_t* what, const std::u16string& file = std::u16string());

std::vector<std::u16string> GetArguments(int argc, char** argv);
bool IsTerminal(std::FILE* stream);
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
// A path for the standard library's file functions: UTF-16 on Windows, the
// UTF-8 bytes of the name elsewhere.
std::filesystem::path FileSystemPath(const std::u16string& path);

// From here on an interrupt (SIGINT, SIGTERM, SIGHUP; Ctrl-C, Ctrl-Break,
// closing the console) removes every temporary output, says so in one line
// on the error output and ends the program as the interrupt would have
// (128 + the signal's number in a shell; STATUS_CONTROL_C_EXIT on Windows).
// Called first thing, before any other thread starts.
void HandleInterrupts();
// Whether the error output's last line is unfinished (a live percentage):
// the interrupt's line then starts on a new one.
void SetLineOpen(bool open);

struct FolderItem {
  enum Kind { File, Folder, Link, Other };
  std::u16string name;
  Kind kind;
  std::uint64_t size;
};
// The items of folder, "." and ".." left out. A symbolic link (a reparse
// point on Windows) is listed as Link, or as what it leads to when
// followLinks is set. Fails, naming folder, when it is missing, is no folder
// or cannot be read.
std::vector<FolderItem> ListFolder(const std::u16string& folder, bool followLinks);

// True when the folder that holds path (which need not exist) is folder
// itself, however either is spelt.
bool LiesIn(const std::u16string& path, const std::u16string& folder);

class InputFile {
public:
  // None of them blocks: a FIFO or device is refused, not waited for.
  enum Kind {
    Regular,     // a regular file, also through links (a payload, a base, an icon)
    PackedFile,  // a regular file, no link
    PackedTarget // a regular file, also through links, refused as a file to pack
  };
  explicit InputFile(const std::u16string& path, Kind kind = Regular);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  std::uint64_t Size();
  // Up to size bytes; 0 at the end.
  std::size_t Read(char* buffer, std::size_t size);
  // The whole file as read-only memory, valid while this object lives, the
  // same bytes however the file changes meanwhile. On Windows a mapping
  // (the file is open without write or delete sharing, so it stays as it
  // is): a payload of gigabytes then costs the system's file cache rather
  // than this program's memory. Elsewhere a copy, read once: a mapping
  // there would change under us, and fault when another process cuts the
  // file short. Fails, naming the file, when it cannot be had (a 32-bit
  // program has no room for such a payload) or changed while it was read.
  const char* Map(std::size_t& size);

private:
  // The whole file of size bytes (at least 1) as memory; each system has its own.
  const char* MapView(std::size_t size);
  const std::u16string& Path() const;

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Writes to a temporary file beside the target and moves it into place only
// when everything succeeded, so a failure never leaves a half-written file.
// The temporary file gets a new, unguessable name ("PATH.vtrpack-" sixteen
// hex digits ".tmp") and is created by us (never an existing file or a link
// that someone put there in advance); an interrupt removes it. Fails at
// once when path is a folder or some other thing than a file.
class OutputFile {
public:
  explicit OutputFile(const std::u16string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  void Write(const char* data, std::size_t size);
  // Rewrites bytes already written; later writes go on at the end.
  void WriteAt(std::uint64_t offset, const char* data, std::size_t size);

  // The permission bits of the file at path, less the umask (POSIX; Windows
  // has none): a stamped launcher stays as executable as its base.
  void TakeModeOf(const std::u16string& path);
  // Moves the complete file into place; an interrupt from then on finds it
  // no longer temporary (one step under the interrupt's lock).
  void Commit();

private:
  // Ends writing; the file stays a temporary one until Commit.
  void Close();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// For the platform files: the line that SystemReason makes, what, ": " and
// the system's description of code folded onto one line; the code itself
// when the system has no text for it, so that no message ends in a colon.
inline std::u16string ReasonLine(const std::u16string& what, const std::u16string& description,
                                 unsigned long code) {
  std::u16string reason;
  for (char16_t c : description) {
    reason += c == u'\r' || c == u'\n' || c == u'\t' ? u' ' : c;
  }
  while (!reason.empty() && reason.back() == u' ') {
    reason.pop_back();
  }
  while (!reason.empty() && reason.front() == u' ') {
    reason.erase(0, 1);
  }
  if (reason.empty()) {
    reason = u"system error ";
    for (char c : std::to_string(code)) {
      reason += static_cast<char16_t>(c);
    }
  }
  return what + u": " + reason;
}

// Each system supplies random bytes and a way to create a file that must not
// exist yet; the naming and retrying are shared.
enum class CreateResult { Created, Exists, Failed };
// Fills bytes from the system's cryptographic generator.
void RandomBytes(unsigned char* bytes, std::size_t size);
// Creates a new file beside path under a random name through createNew,
// trying again while a name is taken; returns the name. On failure the
// system's last error still describes why createNew failed.
std::u16string
CreateTemporaryBeside(const std::u16string& path,
                      const std::function<CreateResult(const std::u16string&)>& createNew);

} // namespace VtrPlatform
