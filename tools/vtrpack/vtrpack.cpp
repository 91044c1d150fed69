// vtrpack: builds, inspects and stamps the setup launcher's payload. The
// same program on Windows and natively on Linux: the system's part is in
// platform.h, what it writes to the terminal in console.h.
#include "console.h"
#include "platform.h"

#include "qor/setup_image/pe_resources.h"

#include "qor/payload_core/archive_core.h"
#include "qor/payload_core/bzip2_core.h"
#include "qor/payload_core/payload_core.h"
#include "qor/payload_core/processors.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using QorPayload::ToDecimal;
using VtrConsole::Count;
using VtrConsole::Say;
using VtrPlatform::Fail;

namespace {

const char16_t kInstaller[] = u"VTRInstaller.exe";
const char16_t kUsage[] =
    u"Usage: vtrpack COMMAND ARGUMENTS\n"
    u"\n"
    u"Builds and inspects the payload that the Veltrano setup launcher carries.\n"
    u"\n"
    u"  pack [OPTIONS] FOLDER PAYLOAD archive the files of FOLDER (sorted by name) and\n"
    u"                                compress them into PAYLOAD; FOLDER must hold\n"
    u"                                VTRInstaller.exe and no subfolders\n"
    u"    --threads N                 compress on N threads, 1 to 16; by default\n"
    u"                                one per processor, at most 16\n"
    u"    --follow-links              pack the files that symbolic links lead to\n"
    u"                                (without it a link is refused)\n"
    u"  list [--threads N] PAYLOAD    show the entries' names and sizes, and the totals\n"
    u"                                (PAYLOAD may be a stamped setup: its unattended\n"
    u"                                arguments are shown too, by check as well)\n"
    u"  check [--threads N] PAYLOAD   expand and check PAYLOAD as the setup would\n"
    u"                                (nothing written) and report any fault; both\n"
    u"                                expand on N threads (by default one per\n"
    u"                                processor; more than 8 count as 8)\n"
    u"  stamp SETUP_EXE PAYLOAD OUT   write a copy of SETUP_EXE to OUT that carries\n"
    u"                                PAYLOAD as its resource ZUK 137\n"
    u"    --title TEXT                the window's title, at most 99 characters\n"
    u"    --icon FILE.ico             the setup's icon (all of the file's images)\n"
    u"    --version-info KEY=VALUE    a version string, KEY one of CompanyName,\n"
    u"                                FileDescription, FileVersion, LegalCopyright,\n"
    u"                                ProductName, ProductVersion; once for each\n"
    u"    --unattended-arguments TEXT the installer's arguments in /quiet and\n"
    u"                                /passive runs, such as \"/S /norestart\"\n"
    u"  --help                        show this text\n"
    u"  --version                     show the tool's version\n"
    u"\n"
    u"Exit code 0 on success; otherwise one line on the error output says why.\n";

// The table of entries is read into memory; no real payload comes near this.
const std::size_t kMaxTableSize = 64u << 20;

bool IsInstallerName(const std::u16string& name) {
  const std::u16string expected = kInstaller;
  if (name.size() != expected.size()) {
    return false;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    if (upper(name[i]) != upper(expected[i])) {
      return false;
    }
  }
  return true;
}

std::u16string Quoted(const std::u16string& name) {
  return u"\"" + name + u"\"";
}

class OutputSink : public QorPayload::ByteSink {
public:
  explicit OutputSink(VtrPlatform::OutputFile& file) : file_(file) {}
  void Write(const char* data, std::size_t size) override {
    file_.Write(data, size);
    written_ += size;
  }
  std::uint64_t written() const { return written_; }

private:
  VtrPlatform::OutputFile& file_;
  std::uint64_t written_ = 0;
};

struct Options {
  unsigned threads; // of pack, list and check
  bool followLinks = false;
};

int Pack(const std::u16string& folder, const std::u16string& payloadPath, const Options& options) {
  std::vector<VtrPlatform::FolderItem> items = VtrPlatform::ListFolder(folder, options.followLinks);
  // Names in the order of their UTF-16 code units: the same payload from the
  // same files, on every system.
  std::sort(items.begin(), items.end(),
            [](const VtrPlatform::FolderItem& a, const VtrPlatform::FolderItem& b) {
              return a.name < b.name;
            });
  std::vector<std::u16string> names;
  std::vector<std::uint64_t> sizes;
  bool installer = false;
  for (const VtrPlatform::FolderItem& item : items) {
    const std::u16string path = VtrPlatform::JoinPath(folder, item.name);
    switch (item.kind) {
    case VtrPlatform::FolderItem::Folder:
      Fail(u"the folder " + folder + u" holds the subfolder " + Quoted(item.name) +
           u"; the setup does not create folders, so a payload may hold only files");
    case VtrPlatform::FolderItem::Link:
      Fail(u"cannot pack " + path +
           u": it is a symbolic link (pack follows links only with --follow-links)");
    case VtrPlatform::FolderItem::Other:
      Fail(u"cannot pack " + path + u": it is not a regular file");
    case VtrPlatform::FolderItem::File:
      break;
    }
    std::u16string reason;
    if (!QorArchiveFormat::IsSafeEntryName(item.name, &reason)) {
      Fail(u"cannot pack " + Quoted(item.name) + u": " + reason);
    }
    installer = installer || IsInstallerName(item.name);
    names.push_back(item.name);
    sizes.push_back(item.size);
  }
  std::u16string clash;
  if (QorArchiveFormat::FindNameClash(names, &clash)) {
    Fail(u"cannot pack the folder " + folder + u": " + clash);
  }
  if (!installer) {
    Fail(u"the folder " + folder + u" has no " + kInstaller +
         u", which the setup starts after extracting");
  }
  // Else the payload, or a temporary file of it, would be packed next time.
  if (VtrPlatform::LiesIn(payloadPath, folder)) {
    Fail(u"the payload " + payloadPath + u" would lie in the folder " + folder +
         u" that is packed; write it somewhere else");
  }
  const std::string header = QorArchiveFormat::BuildHeader(names, sizes);
  std::uint64_t files = 0;
  for (std::uint64_t size : sizes) {
    files += size;
  }
  const std::uint64_t total = header.size() + files;

  VtrPlatform::OutputFile output(payloadPath);
  OutputSink sink(output);
  QorCompressLib::ParallelBzip2Compressor compressor(sink, options.threads, total);
  VtrConsole::ProgressLine progress(u"Compressing", total);
  compressor.Write(header.data(), header.size());
  std::uint64_t done = header.size();
  std::vector<char> buffer(1u << 20);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string path = VtrPlatform::JoinPath(folder, names[i]);
    VtrPlatform::InputFile in(path, options.followLinks ? VtrPlatform::InputFile::PackedTarget
                                                        : VtrPlatform::InputFile::PackedFile);
    std::uint64_t left = sizes[i];
    while (left > 0) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      const std::size_t got = in.Read(buffer.data(), want);
      if (got == 0) {
        break;
      }
      compressor.Write(buffer.data(), got);
      left -= got;
      done += got;
      progress.Update(done);
    }
    char extra;
    if (left != 0 || in.Read(&extra, 1) != 0) {
      Fail(u"the file " + path + u" changed while it was packed");
    }
  }
  compressor.Finish();
  progress.Done();
  output.Commit();
  Say(stdout, u"Packed " + Count(names.size(), u"file") + u", " + Count(files, u"byte") + u" (" +
                  ToDecimal(sink.written()) + u" compressed), into " + payloadPath);
  return 0;
}

// Whether bytes begin as a bzip2 stream does: "BZh" and a block size.
bool LooksLikeBzip2(std::string_view bytes) {
  return bytes.size() >= 4 && bytes.substr(0, 3) == "BZh" && bytes[3] >= '1' && bytes[3] <= '9';
}

int ShowProgress(std::uint32_t, void* context);

// The compressed bytes consumed, for the progress line (the callback gets
// their low 32 bits only).
class ExpandProgress {
public:
  explicit ExpandProgress(std::uint64_t total) : line_(u"Expanding", total) {}
  void Seen(std::uint32_t processed) {
    consumed_ += static_cast<std::uint32_t>(processed - last_);
    last_ = processed;
    line_.Update(consumed_);
  }
  void Done() { line_.Done(); }

private:
  VtrConsole::ProgressLine line_;
  std::uint64_t consumed_ = 0;
  std::uint32_t last_ = 0;
};

int ShowProgress(std::uint32_t processed, void* context) {
  static_cast<ExpandProgress*>(context)->Seen(processed);
  return 0;
}

// Keeps the archive's table as the expanded bytes pass and counts the rest:
// the whole archive is never held in memory.
class ArchiveScan : public QorPayload::ByteSink {
public:
  explicit ArchiveScan(const std::u16string& payloadPath) : payloadPath_(payloadPath) {}

  void Write(const char* data, std::size_t size) override {
    length_ += size;
    if (complete_) {
      return;
    }
    head_.append(data, size);
    if (head_.size() >= QorArchiveFormat::kMagicSize &&
        head_.compare(0, QorArchiveFormat::kMagicSize, QorArchiveFormat::kMagic,
                      QorArchiveFormat::kMagicSize) != 0) {
      Fail(payloadPath_ + u" is not a payload: it expands to something other than a setup's "
                          u"archive");
    }
    // The header-size field tells when the table should be there; it is not
    // trusted, only used to avoid parsing again and again.
    if (head_.size() < nextAttempt_ && head_.size() <= kMaxTableSize) {
      return;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(head_.data());
    complete_ = QorArchiveFormat::ReadTable(bytes, head_.size(), false, entries_, &tableEnd_);
    if (complete_) {
      std::string().swap(head_);
      return;
    }
    if (head_.size() > kMaxTableSize) {
      Fail(payloadPath_ + u" is damaged: its table of entries is larger than " +
           ToDecimal(kMaxTableSize >> 20) + u" MB");
    }
    std::uint64_t hint = 0;
    if (head_.size() >= QorArchiveFormat::kFixedHeaderSize) {
      for (int i = 3; i >= 0; --i) {
        hint = (hint << 8) | bytes[QorArchiveFormat::kMagicSize + i];
      }
    }
    nextAttempt_ =
        std::min<std::uint64_t>(std::max<std::uint64_t>(hint, 2 * head_.size()), kMaxTableSize + 1);
  }

  // Parses what is left and checks the table against the whole length, as
  // the setup's reader does.
  void Finish() {
    if (!complete_) {
      if (head_.size() < QorArchiveFormat::kMagicSize) {
        Fail(payloadPath_ + u" is not a payload: it expands to something other than a setup's "
                            u"archive");
      }
      QorArchiveFormat::ReadTable(reinterpret_cast<const unsigned char*>(head_.data()),
                                  head_.size(), true, entries_, &tableEnd_);
      complete_ = true;
    }
    QorArchiveFormat::CheckEntryBounds(entries_, length_);
  }

  const std::vector<QorArchiveFormat::EntryRecord>& entries() const { return entries_; }
  std::uint64_t tableEnd() const { return tableEnd_; }
  // list and check take a stamped setup too (stamp takes only a payload):
  // its payload is read, and its unattended arguments (empty when it has
  // none) are shown.
  bool acceptsSetup = false;
  bool fromSetup = false;
  std::u16string unattendedArguments;

private:
  std::u16string payloadPath_;
  std::string head_;
  std::uint64_t nextAttempt_ = QorArchiveFormat::kFixedHeaderSize;
  bool complete_ = false;
  std::vector<QorArchiveFormat::EntryRecord> entries_;
  std::uint64_t tableEnd_ = 0;
  std::uint64_t length_ = 0;
};

[[noreturn]] void FailStamp(const QorPe::StampError& error, const std::u16string& fallback);

// The payload at payloadPath, opened once and held whole (the
// block-parallel decoder looks ahead in it): what is checked is what is
// stamped.
struct Payload {
  explicit Payload(const std::u16string& path) : file(path) {
    std::size_t size = 0;
    const char* data = file.Map(size);
    bytes = std::string_view(data, size);
  }
  VtrPlatform::InputFile file;
  std::string_view bytes;
};

// The compressed payload in bytes: all of them, or, for a stamped setup
// when scan accepts one, its payload resource (and scan notes the setup's
// unattended arguments).
std::string_view PayloadOf(const std::u16string& payloadPath, std::string_view bytes,
                           ArchiveScan& scan) {
  if (!scan.acceptsSetup || bytes.substr(0, 2) != "MZ") {
    return bytes;
  }
  try {
    const QorPe::SetupContents setup =
        QorPe::ReadSetupContents(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                 QorPayload::ToUtf8(payloadPath));
    if (setup.launcher) {
      scan.fromSetup = true;
      scan.unattendedArguments = setup.unattendedArguments;
      return bytes.substr(static_cast<std::size_t>(setup.payloadOffset),
                          static_cast<std::size_t>(setup.payloadSize));
    }
  } catch (const QorPe::StampError& error) {
    FailStamp(error, payloadPath + u" is not a payload");
  }
  return bytes;
}

// Expands the payload at payloadPath, held in compressed, through scan on
// threads threads, with the launcher's decoder. Every fault names the file.
void Expand(const std::u16string& payloadPath, std::string_view compressed, ArchiveScan& scan,
            unsigned threads) {
  ExpandProgress progress(compressed.size());
  try {
    // About a thousand progress notes, whatever the size.
    const std::uint32_t step =
        static_cast<std::uint32_t>(std::max<std::uint64_t>(1, compressed.size() / 1000));
    QorCompressLib::ExpandBzip2Blocks(compressed.data(), compressed.size(), scan, &ShowProgress,
                                      &progress, step, threads);
    scan.Finish();
  } catch (QorPayload::Error* error) {
    const int code = error->GetCode();
    const std::u16string message = error->GetMessage();
    delete error;
    if (code == QorCompressLib::kStreamEndMissing && !LooksLikeBzip2(compressed)) {
      Fail(payloadPath + u" is not a payload: it is not a bzip2 stream");
    }
    if (code == QorCompressLib::kStreamEndMissing) {
      Fail(payloadPath + u" is damaged or cut short: " + message);
    }
    Fail(payloadPath + u" is damaged: " + message);
  }
  progress.Done();
}

// Faults that the launcher would meet while extracting, or that no payload
// the tools make has; empty when none.
std::u16string FindFault(const ArchiveScan& scan) {
  const std::vector<QorArchiveFormat::EntryRecord>& entries = scan.entries();
  std::u16string reason;
  if (QorArchiveFormat::FindOverlap(entries, scan.tableEnd(), &reason)) {
    return reason;
  }
  std::vector<std::u16string> names;
  names.reserve(entries.size());
  bool installer = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& name = entries[i].name;
    if (!QorArchiveFormat::IsSafeEntryName(name, &reason)) {
      return u"entry " + ToDecimal(i) + u" " + Quoted(name) + u": " + reason;
    }
    installer = installer || IsInstallerName(name);
    names.push_back(name);
  }
  if (QorArchiveFormat::FindNameClash(names, &reason)) {
    return reason;
  }
  if (!installer) {
    return std::u16string(u"the payload has no ") + kInstaller +
           u", so the setup could not start it";
  }
  return u"";
}

// For a stamped setup: what its quiet and passive runs pass the installer.
void SayUnattendedArguments(const ArchiveScan& scan) {
  if (scan.fromSetup) {
    Say(stdout, scan.unattendedArguments.empty()
                    ? std::u16string(u"Unattended arguments: none")
                    : u"Unattended arguments: " + scan.unattendedArguments);
  }
}

std::u16string Totals(const ArchiveScan& scan) {
  std::uint64_t bytes = 0;
  for (const QorArchiveFormat::EntryRecord& entry : scan.entries()) {
    bytes += entry.size;
  }
  return Count(scan.entries().size(), u"file") + u", " + Count(bytes, u"byte");
}

// Lists every entry, also of a payload that the setup could not extract;
// then its fault, if any, fails the command.
int List(const std::u16string& payloadPath, unsigned threads) {
  ArchiveScan scan(payloadPath);
  scan.acceptsSetup = true;
  const Payload payload(payloadPath);
  const std::string_view compressed = PayloadOf(payloadPath, payload.bytes, scan);
  Expand(payloadPath, compressed, scan, threads);
  for (const QorArchiveFormat::EntryRecord& entry : scan.entries()) {
    std::u16string size = ToDecimal(entry.size);
    size.insert(0, size.size() < 12 ? 12 - size.size() : 0, u' ');
    Say(stdout, size + u"  " + entry.name);
  }
  Say(stdout, Totals(scan) + u" (" + ToDecimal(compressed.size()) + u" compressed)");
  SayUnattendedArguments(scan);
  const std::u16string fault = FindFault(scan);
  if (!fault.empty()) {
    Fail(payloadPath + u": " + fault);
  }
  return 0;
}

void CheckPayload(const std::u16string& payloadPath, std::string_view compressed, ArchiveScan& scan,
                  unsigned threads = QorPackThreads::DefaultDecodeThreads()) {
  Expand(payloadPath, compressed, scan, threads);
  const std::u16string fault = FindFault(scan);
  if (!fault.empty()) {
    Fail(payloadPath + u": " + fault);
  }
}

int Check(const std::u16string& payloadPath, unsigned threads) {
  ArchiveScan scan(payloadPath);
  scan.acceptsSetup = true;
  const Payload payload(payloadPath);
  CheckPayload(payloadPath, PayloadOf(payloadPath, payload.bytes, scan), scan, threads);
  Say(stdout, payloadPath + u": OK, " + Totals(scan));
  SayUnattendedArguments(scan);
  return 0;
}

// The stamper's reason (UTF-8), or `fallback` should it not decode.
[[noreturn]] void FailStamp(const QorPe::StampError& error, const std::u16string& fallback) {
  std::u16string reason;
  if (!QorPayload::FromUtf8(error.what(), reason)) {
    reason = fallback;
  }
  Fail(reason);
}

// The stamp writes through the handle of the temporary file that we created.
class StampSink : public QorPe::StampOutput {
public:
  explicit StampSink(VtrPlatform::OutputFile& file) : file_(file) {}
  void Write(const unsigned char* data, std::size_t size) override {
    file_.Write(reinterpret_cast<const char*>(data), size);
  }
  void WriteAt(std::uint64_t offset, const unsigned char* data, std::size_t size) override {
    file_.WriteAt(offset, reinterpret_cast<const char*>(data), size);
  }

private:
  VtrPlatform::OutputFile& file_;
};

// The icon file at path, opened as every input is (never blocking, a
// regular file) and read up to just beyond the most an icon may have.
void LoadIcon(QorPe::Branding& branding, const std::u16string& path) {
  VtrPlatform::InputFile file(path);
  std::vector<unsigned char> bytes(
      static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), QorPe::kIconFileLimit + 1)));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t got =
        file.Read(reinterpret_cast<char*>(bytes.data()) + done, bytes.size() - done);
    if (got == 0) {
      break;
    }
    done += got;
  }
  bytes.resize(done);
  branding.icon = QorPe::ReadIconFile(bytes, QorPayload::ToUtf8(path));
}

// --title, --icon, --version-info and --unattended-arguments, wherever they
// stand after "stamp".
QorPe::Branding TakeBrandingOptions(std::vector<std::u16string>& args) {
  QorPe::Branding branding;
  for (std::size_t i = 2; i < args.size();) {
    const std::u16string option = args[i];
    if (option != u"--title" && option != u"--icon" && option != u"--version-info" &&
        option != u"--unattended-arguments") {
      if (option.compare(0, 2, u"--") == 0) {
        Fail(u"unknown option \"" + option + u"\" (see vtrpack --help)");
      }
      ++i;
      continue;
    }
    if (i + 1 == args.size()) {
      Fail(option + u" takes a value (see vtrpack --help)");
    }
    const std::u16string value = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i + 2));
    try {
      if (option == u"--title") {
        QorPe::SetTitle(branding, value);
      } else if (option == u"--unattended-arguments") {
        QorPe::SetUnattendedArguments(branding, value);
      } else if (option == u"--icon") {
        LoadIcon(branding, value);
      } else {
        QorPe::AddVersionString(branding, value);
      }
    } catch (const QorPe::StampError& error) {
      FailStamp(error, u"cannot use " + option + u" " + value);
    }
  }
  return branding;
}

// The one place that puts a payload into a launcher, the same on every system.
int Stamp(const std::u16string& setupPath, const std::u16string& payloadPath,
          const std::u16string& outPath, const QorPe::Branding& branding) {
  // The stamped program is written under our own unguessable temporary name
  // and moved into place only when it is complete. Made first, so that an
  // output that cannot be written fails before the payload is checked.
  VtrPlatform::OutputFile output(outPath);
  output.TakeModeOf(setupPath);
  // A payload the setup could not extract is never stamped; the bytes
  // checked are the bytes stamped.
  ArchiveScan scan(payloadPath);
  std::unique_ptr<Payload> payload(new Payload(payloadPath));
  CheckPayload(payloadPath, payload->bytes, scan);
  std::unique_ptr<VtrPlatform::InputFile> baseFile(new VtrPlatform::InputFile(setupPath));
  std::size_t baseSize = 0;
  const char* base = baseFile->Map(baseSize);
  StampSink sink(output);
  std::unique_ptr<VtrConsole::ProgressLine> progress;
  QorPe::StampResult result;
  try {
    result = QorPe::StampPayload(
        QorPayload::ToUtf8(setupPath), reinterpret_cast<const unsigned char*>(base), baseSize,
        QorPayload::ToUtf8(payloadPath),
        reinterpret_cast<const unsigned char*>(payload->bytes.data()), payload->bytes.size(),
        branding, sink, [&](std::uint64_t written, std::uint64_t total) {
          if (!progress) {
            progress.reset(new VtrConsole::ProgressLine(u"Stamping", total));
          }
          progress->Update(written);
        });
  } catch (const QorPe::StampError& error) {
    FailStamp(error, u"cannot stamp " + outPath);
  }
  if (progress) {
    progress->Done();
  }
  // Closed first: the output may take the place of either (a launcher
  // stamped in place).
  baseFile.reset();
  payload.reset();
  output.Commit();
  if (result.droppedSignature) {
    Say(stdout, u"Dropped the signature of " + setupPath + u": sign " + outPath + u" again");
  }
  Say(stdout, u"Stamped " + payloadPath + u" into " + outPath);
  return 0;
}

unsigned ParseThreads(const std::u16string& text) {
  unsigned value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9' || value > 1000) {
      value = 0;
      break;
    }
    value = value * 10 + (c - u'0');
  }
  if (value < 1 || value > QorCompressLib::ParallelBzip2Compressor::kMaxThreads) {
    Fail(u"--threads takes a number from 1 to " +
         ToDecimal(QorCompressLib::ParallelBzip2Compressor::kMaxThreads));
  }
  return value;
}

int Run(std::vector<std::u16string> args) {
  if (args.size() < 2) {
    VtrConsole::Write(stderr, kUsage);
    return 2;
  }
  const std::u16string command = args[1];
  if (command == u"--help" || command == u"-h" || command == u"/?" || command == u"help") {
    VtrConsole::Write(stdout, kUsage);
    return 0;
  }
  if (command == u"--version") {
    Say(stdout, u"vtrpack " + QorPayload::FromAscii(VELTRANO_VERSION));
    return 0;
  }
  Options options;
  options.threads = std::min(QorPackThreads::CountProcessors(),
                             QorCompressLib::ParallelBzip2Compressor::kMaxThreads);
  const bool threaded = command == u"pack" || command == u"list" || command == u"check";
  while (threaded && args.size() >= 3 && args[2].compare(0, 2, u"--") == 0) {
    if (args[2] == u"--threads" && args.size() >= 4) {
      options.threads = ParseThreads(args[3]);
      args.erase(args.begin() + 2, args.begin() + 4);
    } else if (command == u"pack" && args[2] == u"--follow-links") {
      options.followLinks = true;
      args.erase(args.begin() + 2);
    } else {
      Fail(u"unknown option " + Quoted(args[2]) + u" (see vtrpack --help)");
    }
  }
  QorPe::Branding branding;
  if (command == u"stamp") {
    branding = TakeBrandingOptions(args);
  }
  struct Command {
    const char16_t* name;
    std::size_t arguments;
  } commands[] = {{u"pack", 2}, {u"list", 1}, {u"check", 1}, {u"stamp", 3}};
  for (const Command& c : commands) {
    if (command != c.name) {
      continue;
    }
    if (args.size() != c.arguments + 2) {
      Fail(Quoted(c.name) + u" takes " + Count(c.arguments, u"argument") +
           u" (see vtrpack --help)");
    }
    if (command == u"pack") {
      return Pack(args[2], args[3], options);
    }
    if (command == u"list") {
      return List(args[2], options.threads);
    }
    if (command == u"check") {
      return Check(args[2], options.threads);
    }
    return Stamp(args[2], args[3], args[4], branding);
  }
  Fail(u"unknown command " + Quoted(command) + u" (see vtrpack --help)");
}

} // namespace

int main(int argc, char** argv) {
  try {
    VtrPlatform::HandleInterrupts();
    return Run(VtrPlatform::GetArguments(argc, argv));
  } catch (const VtrPlatform::Failure& failure) {
    Say(stderr, u"vtrpack: " + failure.reason);
  } catch (QorPayload::Error* error) {
    std::u16string text = error->GetMessage();
    delete error;
    Say(stderr, u"vtrpack: " + text);
  } catch (const std::bad_alloc&) {
    Say(stderr, u"vtrpack: not enough memory");
  } catch (const std::exception& error) {
    std::u16string text;
    QorPayload::FromUtf8(error.what(), text);
    Say(stderr, u"vtrpack: " + text);
  }
  return 1;
}
