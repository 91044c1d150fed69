// vtrpack: builds, inspects and stamps the setup launcher's payload. The
// same program on Windows and natively on Linux: the system's part is in
// platform.h.
#include "platform.h"

#include "pe_resources.h"

#include "qor/payload/archive_core.h"
#include "qor/payload/bzip2_core.h"
#include "qor/payload/payload_core.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using QorPayload::ToDecimal;
using VtrPlatform::Fail;

namespace {

const char16_t kInstaller[] = u"VTRInstaller.exe";
const char16_t kUsage[] =
    u"Usage: vtrpack COMMAND ARGUMENTS\n"
    u"\n"
    u"Builds and inspects the payload that the Veltrano setup launcher carries.\n"
    u"\n"
    u"  pack FOLDER PAYLOAD           archive the files of FOLDER (sorted by name) and\n"
    u"                                compress them into PAYLOAD; FOLDER must hold\n"
    u"                                VTRInstaller.exe and no subfolders\n"
    u"    --threads N                 (before FOLDER) compress on N threads, 1 to 16;\n"
    u"                                by default one per processor, at most 16\n"
    u"  list PAYLOAD                  show the entries' names and sizes, and the totals\n"
    u"  check PAYLOAD                 expand and parse PAYLOAD as the setup would\n"
    u"                                (nothing written) and report any fault\n"
    u"  stamp SETUP_EXE PAYLOAD OUT   write a copy of SETUP_EXE to OUT that carries\n"
    u"                                PAYLOAD as its resource ZUK 137\n"
    u"    --title TEXT                the window's title, at most 99 characters\n"
    u"    --icon FILE.ico             the setup's icon (all of the file's images)\n"
    u"    --version-info KEY=VALUE    a version string, KEY one of CompanyName,\n"
    u"                                FileDescription, FileVersion, LegalCopyright,\n"
    u"                                ProductName, ProductVersion; once for each\n"
    u"  --help                        show this text\n"
    u"\n"
    u"Exit code 0 on success; otherwise one line on the error output says why.\n";

// Payloads smaller than this pack and expand too fast to show progress.
const std::uint64_t kProgressThreshold = 8u << 20;
// The table of entries is read into memory; no real payload comes near this.
const std::size_t kMaxTableSize = 64u << 20;

void Write(std::FILE* stream, const std::u16string& text) {
  const std::string bytes = QorPayload::ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

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

// A live percentage on a terminal; in a log, a line at each quarter.
class ProgressLine {
public:
  ProgressLine(const char16_t* label, std::uint64_t total)
      : label_(label), total_(total), shown_(total >= kProgressThreshold),
        terminal_(VtrPlatform::IsTerminal(stderr)) {}
  void Update(std::uint64_t done) {
    if (!shown_ || total_ == 0) {
      return;
    }
    const unsigned percent =
        static_cast<unsigned>(std::min<std::uint64_t>(100, done * 100 / total_));
    const unsigned step = terminal_ ? 1 : 25;
    if (percent / step * step <= last_ || percent < step) {
      return;
    }
    last_ = percent / step * step;
    Write(stderr, (terminal_ ? u"\r" : u"") + label_ + u": " + ToDecimal(last_) + u"%" +
                      (terminal_ ? u"" : u"\n"));
  }
  void Done() {
    Update(total_);
    if (shown_ && terminal_ && last_ > 0) {
      Write(stderr, u"\n");
    }
  }

private:
  std::u16string label_;
  std::uint64_t total_;
  bool shown_;
  bool terminal_;
  unsigned last_ = 0;
};

class OutputSink : public QorPayload::ByteSink {
public:
  explicit OutputSink(VtrPlatform::OutputFile& file) : file_(file) {}
  void Write(const char* data, std::size_t size) override { file_.Write(data, size); }

private:
  VtrPlatform::OutputFile& file_;
};

int Pack(const std::u16string& folder, const std::u16string& payloadPath, unsigned threads) {
  std::vector<VtrPlatform::FolderItem> items = VtrPlatform::ListFolder(folder);
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
    if (item.isFolder) {
      Fail(u"the folder " + folder + u" holds the subfolder \"" + item.name +
           u"\"; the setup does not create folders, so a payload may hold only files");
    }
    std::u16string reason;
    if (!QorArchiveFormat::IsSafeEntryName(item.name, &reason)) {
      Fail(u"cannot pack \"" + item.name + u"\": " + reason);
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
  const std::string header = QorArchiveFormat::BuildHeader(names, sizes);
  std::uint64_t total = header.size();
  for (std::uint64_t size : sizes) {
    total += size;
  }

  VtrPlatform::OutputFile output(payloadPath);
  OutputSink sink(output);
  QorCompressLib::ParallelBzip2Compressor compressor(sink, threads, total);
  ProgressLine progress(u"Compressing", total);
  compressor.Write(header.data(), header.size());
  std::uint64_t done = header.size();
  std::vector<char> buffer(1u << 20);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string path = VtrPlatform::JoinPath(folder, names[i]);
    VtrPlatform::InputFile in(path);
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
  Write(stdout, u"Packed " + ToDecimal(names.size()) + u" files, " + ToDecimal(total) +
                    u" bytes, into " + payloadPath + u"\n");
  return 0;
}

class FileSource : public QorPayload::ByteSource {
public:
  FileSource(const std::u16string& path, bool showProgress)
      : file_(path), progress_(u"Expanding", showProgress ? file_.Size() : 0) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t got = file_.Read(buffer, size);
    read_ += got;
    progress_.Update(read_);
    return got;
  }
  void Done() { progress_.Done(); }
  std::uint64_t read() const { return read_; }

private:
  VtrPlatform::InputFile file_;
  ProgressLine progress_;
  std::uint64_t read_ = 0;
};

// Keeps the archive's table as the expanded bytes pass and counts the rest:
// the whole archive is never held in memory.
class ArchiveScan : public QorPayload::ByteSink {
public:
  void Write(const char* data, std::size_t size) override {
    length_ += size;
    if (complete_) {
      return;
    }
    head_.append(data, size);
    // The header-size field tells when the table should be there; it is not
    // trusted, only used to avoid parsing again and again.
    if (head_.size() < nextAttempt_ && head_.size() <= kMaxTableSize) {
      return;
    }
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(head_.data());
    complete_ = QorArchiveFormat::ReadTable(bytes, head_.size(), false, entries_);
    if (complete_) {
      std::string().swap(head_);
      return;
    }
    if (head_.size() > kMaxTableSize) {
      Fail(u"the archive's table of entries is larger than " + ToDecimal(kMaxTableSize >> 20) +
           u" MB");
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
      QorArchiveFormat::ReadTable(reinterpret_cast<const unsigned char*>(head_.data()),
                                  head_.size(), true, entries_);
      complete_ = true;
    }
    QorArchiveFormat::CheckEntryBounds(entries_, length_);
    std::vector<std::u16string> names;
    for (const QorArchiveFormat::EntryRecord& entry : entries_) {
      names.push_back(entry.name);
    }
    std::u16string clash;
    if (QorArchiveFormat::FindNameClash(names, &clash)) {
      QorPayload::RaiseError(QorArchiveFormat::kExtractError,
                             u"Error while extracting file from archive. Details: " + clash);
    }
  }

  const std::vector<QorArchiveFormat::EntryRecord>& entries() const { return entries_; }

private:
  std::string head_;
  std::uint64_t nextAttempt_ = QorArchiveFormat::kFixedHeaderSize;
  bool complete_ = false;
  std::vector<QorArchiveFormat::EntryRecord> entries_;
  std::uint64_t length_ = 0;
};

std::uint64_t Expand(const std::u16string& payloadPath, ArchiveScan& scan, bool showProgress) {
  FileSource source(payloadPath, showProgress);
  QorCompressLib::ExpandBzip2(source, scan);
  source.Done();
  scan.Finish();
  return source.read();
}

// Faults that the launcher would meet while extracting; empty when none.
std::u16string FindFault(const std::vector<QorArchiveFormat::EntryRecord>& entries) {
  bool installer = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::u16string& name = entries[i].name;
    std::u16string reason;
    if (!QorArchiveFormat::IsSafeEntryName(name, &reason)) {
      return u"entry " + ToDecimal(i) + u" \"" + name + u"\": " + reason;
    }
    if (name.find_first_of(u"\\/") != std::u16string::npos) {
      return u"entry \"" + name + u"\" names a folder, which the setup does not create";
    }
    installer = installer || IsInstallerName(name);
  }
  if (!installer) {
    return std::u16string(u"the payload has no ") + kInstaller +
           u", so the setup could not start it";
  }
  return u"";
}

int List(const std::u16string& payloadPath) {
  ArchiveScan scan;
  const std::uint64_t compressed = Expand(payloadPath, scan, false);
  std::uint64_t total = 0;
  for (const QorArchiveFormat::EntryRecord& entry : scan.entries()) {
    std::u16string size = ToDecimal(entry.size);
    size.insert(0, size.size() < 12 ? 12 - size.size() : 0, u' ');
    Write(stdout, size + u"  " + entry.name + u"\n");
    total += entry.size;
  }
  Write(stdout, ToDecimal(scan.entries().size()) + u" entries, " + ToDecimal(total) + u" bytes (" +
                    ToDecimal(compressed) + u" compressed)\n");
  return 0;
}

void CheckPayload(const std::u16string& payloadPath, bool showProgress, std::size_t* count) {
  ArchiveScan scan;
  Expand(payloadPath, scan, showProgress);
  const std::u16string fault = FindFault(scan.entries());
  if (!fault.empty()) {
    Fail(payloadPath + u": " + fault);
  }
  *count = scan.entries().size();
}

int Check(const std::u16string& payloadPath) {
  std::size_t count = 0;
  CheckPayload(payloadPath, true, &count);
  Write(stdout, payloadPath + u": OK, " + ToDecimal(count) + u" entries\n");
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

// --title, --icon and --version-info, wherever they stand after "stamp".
QorPe::Branding TakeBrandingOptions(std::vector<std::u16string>& args) {
  QorPe::Branding branding;
  for (std::size_t i = 2; i < args.size();) {
    const std::u16string option = args[i];
    if (option != u"--title" && option != u"--icon" && option != u"--version-info") {
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
      } else if (option == u"--icon") {
        QorPe::LoadIcon(branding, VtrPlatform::FileSystemPath(value), QorPayload::ToUtf8(value));
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
  // A payload the setup could not extract is never stamped.
  std::size_t count = 0;
  CheckPayload(payloadPath, true, &count);
  // The stamped program is written under our own unguessable temporary name
  // and moved into place only when it is complete.
  VtrPlatform::OutputFile output(outPath);
  StampSink sink(output);
  std::unique_ptr<ProgressLine> progress;
  QorPe::StampResult result;
  try {
    result = QorPe::StampPayload(VtrPlatform::FileSystemPath(setupPath),
                                 VtrPlatform::FileSystemPath(payloadPath), branding, sink,
                                 [&](std::uint64_t written, std::uint64_t total) {
                                   if (!progress) {
                                     progress.reset(new ProgressLine(u"Stamping", total));
                                   }
                                   progress->Update(written);
                                 });
  } catch (const QorPe::StampError& error) {
    FailStamp(error, u"cannot stamp " + outPath);
  }
  if (progress) {
    progress->Done();
  }
  output.Commit();
  if (result.droppedSignature) {
    Write(stdout, u"Dropped the signature of " + setupPath + u": sign " + outPath + u" again\n");
  }
  Write(stdout, u"Stamped " + payloadPath + u" into " + outPath + u"\n");
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
    Write(stderr, kUsage);
    return 2;
  }
  const std::u16string command = args[1];
  if (command == u"--help" || command == u"-h" || command == u"/?" || command == u"help") {
    Write(stdout, kUsage);
    return 0;
  }
  unsigned threads = std::min(VtrPlatform::CountProcessors(),
                              QorCompressLib::ParallelBzip2Compressor::kMaxThreads);
  if (command == u"pack" && args.size() >= 4 && args[2] == u"--threads") {
    threads = ParseThreads(args[3]);
    args.erase(args.begin() + 2, args.begin() + 4);
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
      Fail(std::u16string(u"\"") + c.name + u"\" takes " + ToDecimal(c.arguments) +
           u" arguments (see vtrpack --help)");
    }
    if (command == u"pack") {
      return Pack(args[2], args[3], threads);
    }
    if (command == u"list") {
      return List(args[2]);
    }
    if (command == u"check") {
      return Check(args[2]);
    }
    return Stamp(args[2], args[3], args[4], branding);
  }
  Fail(u"unknown command \"" + command + u"\" (see vtrpack --help)");
}

} // namespace

int main(int argc, char** argv) {
  try {
    return Run(VtrPlatform::GetArguments(argc, argv));
  } catch (const VtrPlatform::Failure& failure) {
    Write(stderr, u"vtrpack: " + failure.reason + u"\n");
  } catch (QorPayload::Error* error) {
    std::u16string text = error->GetMessage();
    delete error;
    Write(stderr, u"vtrpack: " + text + u"\n");
  } catch (const std::bad_alloc&) {
    Write(stderr, u"vtrpack: not enough memory\n");
  } catch (const std::exception& error) {
    std::u16string text;
    QorPayload::FromUtf8(error.what(), text);
    Write(stderr, u"vtrpack: " + text + u"\n");
  }
  return 1;
}
