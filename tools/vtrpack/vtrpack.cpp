// vtrpack: builds, inspects and stamps the setup launcher's payload.
#include "qor/archive.h"
#include "qor/compressor.h"
#include "qor/error.h"
#include "qor/memory_stream.h"
#include "qor/unique_handle.h"
#include "qor/win32_error.h"

#include "pe_resources.h"

#include <shellapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

const wchar_t kInstaller[] = L"VTRInstaller.exe";
const wchar_t kUsage[] =
    L"Usage: vtrpack COMMAND ARGUMENTS\n"
    L"\n"
    L"Builds and inspects the payload that the Veltrano setup launcher carries.\n"
    L"\n"
    L"  pack FOLDER PAYLOAD           archive the files of FOLDER (sorted by name) and\n"
    L"                                compress them into PAYLOAD; FOLDER must hold\n"
    L"                                VTRInstaller.exe and no subfolders\n"
    L"  list PAYLOAD                  show the entries' names and sizes, and the totals\n"
    L"  check PAYLOAD                 expand and parse PAYLOAD as the setup would (in\n"
    L"                                memory, nothing written) and report any fault\n"
    L"  stamp SETUP_EXE PAYLOAD OUT   write a copy of SETUP_EXE to OUT that carries\n"
    L"                                PAYLOAD as its resource ZUK 137\n"
    L"  --help                        show this text\n"
    L"\n"
    L"Exit code 0 on success; otherwise one line on the error output says why.\n";

// A failure of the tool itself, with its one-line reason.
struct Failure {
  std::wstring reason;
};

[[noreturn]] void Fail(const std::wstring& reason) {
  throw Failure{reason};
}

void Write(FILE* stream, const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), stream);
  fflush(stream);
}

std::wstring FromUtf8(const std::string& text) {
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  return wide;
}

std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') {
      c = L' ';
    }
  }
  while (!text.empty() && text.back() == L' ') {
    text.pop_back();
  }
  return text;
}

std::wstring SystemReason(const std::wstring& what) {
  return what + L": " + OneLine(QorWin32::DescribeLastError());
}

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
    folder += L'\\';
  }
  return folder;
}

std::string ReadWholeFile(const std::wstring& path) {
  Qor::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    Fail(SystemReason(L"cannot open " + path));
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) {
    Fail(SystemReason(L"cannot read " + path));
  }
  if (size.QuadPart > 0x7FFFFFFF) {
    Fail(path + L" is too large for a payload");
  }
  std::string data(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < data.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1 << 20));
    if (!ReadFile(file.get(), &data[done], want, &got, nullptr) || got == 0) {
      Fail(SystemReason(L"cannot read " + path));
    }
    done += got;
  }
  return data;
}

// Writes to a temporary file beside the target and moves it into place only
// when everything succeeded, so a failure never leaves a half-written file.
class OutputFile {
public:
  explicit OutputFile(const std::wstring& path) : path_(path) {
    temporary_ = path + L".vtrpack-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  }
  ~OutputFile() {
    if (!committed_) {
      SetFileAttributesW(temporary_.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(temporary_.c_str());
    }
  }
  const std::wstring& temporary() const { return temporary_; }
  void Commit() {
    if (!MoveFileExW(temporary_.c_str(), path_.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
      Fail(SystemReason(L"cannot write " + path_));
    }
    committed_ = true;
  }

private:
  std::wstring path_;
  std::wstring temporary_;
  bool committed_ = false;
};

struct Progress {
  const wchar_t* label;
  std::uint32_t total;
  static int Show(std::uint32_t processed, void* context) {
    const Progress* self = static_cast<const Progress*>(context);
    const unsigned percent =
        self->total ? static_cast<unsigned>(100.0 * processed / self->total) : 100;
    wchar_t line[64];
    swprintf(line, 64, L"\r%ls: %u%%", self->label, std::min(percent, 100u));
    Write(stderr, line);
    return 1;
  }
};

// The launcher's path: expand into memory and parse.
struct Expanded {
  QorCompressLib::MemoryOutputStream stream;
  ArchiveReader reader;
};

void Expand(const std::string& payload, Expanded& expanded, bool showProgress) {
  QorCompressLib::MemoryInputStream in(payload.data(), payload.size());
  QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
  Progress progress{L"Expanding", static_cast<std::uint32_t>(payload.size())};
  const std::uint32_t step = static_cast<std::uint32_t>(payload.size() / 100);
  codec.Decompress(in, expanded.stream, showProgress && step ? &Progress::Show : nullptr, &progress,
                   step);
  if (showProgress && step) {
    Write(stderr, L"\n");
  }
  expanded.reader.LoadFromMemory(expanded.stream.data(), expanded.stream.size());
}

// Faults that the launcher would meet while extracting; empty when none.
std::wstring FindFault(const ArchiveReader& reader) {
  bool installer = false;
  for (unsigned i = 0; i < reader.GetEntryCount(); ++i) {
    const std::wstring& name = reader.GetEntry(i).GetName();
    std::wstring reason;
    if (!QorArchiveFormat::IsSafeEntryName(name, &reason)) {
      return L"entry " + std::to_wstring(i) + L" \"" + name + L"\": " + reason;
    }
    if (name.find_first_of(L"\\/") != std::wstring::npos) {
      return L"entry \"" + name + L"\" names a folder, which the setup does not create";
    }
    installer = installer || lstrcmpiW(name.c_str(), kInstaller) == 0;
  }
  if (!installer) {
    return std::wstring(L"the payload has no ") + kInstaller + L", so the setup could not start it";
  }
  return L"";
}

int Pack(const std::wstring& folderArgument, const std::wstring& payloadPath) {
  const std::wstring folder = WithSeparator(folderArgument);
  const DWORD attributes = GetFileAttributesW(folderArgument.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail(L"the folder " + folderArgument + L" does not exist");
  }
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  {
    Qor::UniqueFind find(FindFirstFileW((folder + L"*").c_str(), &data));
    if (!find) {
      Fail(SystemReason(L"cannot list the folder " + folderArgument));
    }
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        Fail(L"the folder " + folderArgument + L" holds the subfolder \"" + name +
             L"\"; the setup does not create folders, so a payload may hold only files");
      }
      names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
  }
  // Names in the order of their UTF-16 code units (wchar_t is one here), as
  // the archive stores them: the same payload from the same files anywhere.
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "names are UTF-16");
  std::sort(names.begin(), names.end());
  bool installer = false;
  for (const std::wstring& name : names) {
    std::wstring reason;
    if (!QorArchiveFormat::IsSafeEntryName(name, &reason)) {
      Fail(L"cannot pack \"" + name + L"\": " + reason);
    }
    installer = installer || lstrcmpiW(name.c_str(), kInstaller) == 0;
  }
  if (!installer) {
    Fail(L"the folder " + folderArgument + L" has no " + kInstaller +
         L", which the setup starts after extracting");
  }

  ArchiveWriter writer;
  for (const std::wstring& name : names) {
    writer.AddFile(name, folder + name);
  }
  QorCompressLib::MemoryOutputStream archive(static_cast<std::size_t>(writer.GetArchiveSize()));
  writer.WriteTo(archive);
  if (!archive.good()) {
    Fail(L"not enough memory for the archive");
  }
  OutputFile output(payloadPath);
  {
    std::ofstream out(output.temporary().c_str(), std::ios_base::binary | std::ios_base::trunc);
    if (!out) {
      Fail(L"cannot create " + output.temporary());
    }
    QorCompressLib::MemoryInputStream in(archive.data(), archive.size());
    QorCompressLib::Bzip2Compressor codec(9, 30, 8192);
    Progress progress{L"Compressing", static_cast<std::uint32_t>(archive.size())};
    // Only long runs show their progress.
    const bool show = archive.size() > (8u << 20);
    const std::uint32_t step = static_cast<std::uint32_t>(archive.size() / 100);
    codec.Compress(in, out, show ? &Progress::Show : nullptr, &progress, step);
    if (show) {
      Write(stderr, L"\n");
    }
    out.close();
    if (!out) {
      Fail(L"cannot write " + output.temporary());
    }
  }
  output.Commit();
  Write(stdout, L"Packed " + std::to_wstring(names.size()) + L" files, " +
                    std::to_wstring(archive.size()) + L" bytes, into " + payloadPath + L"\n");
  return 0;
}

int List(const std::wstring& payloadPath) {
  const std::string payload = ReadWholeFile(payloadPath);
  Expanded expanded;
  Expand(payload, expanded, false);
  std::uint64_t total = 0;
  for (unsigned i = 0; i < expanded.reader.GetEntryCount(); ++i) {
    const ArchiveEntry& entry = expanded.reader.GetEntry(i);
    wchar_t size[32];
    swprintf(size, 32, L"%12u  ", entry.GetSize());
    Write(stdout, size + entry.GetName() + L"\n");
    total += entry.GetSize();
  }
  Write(stdout, std::to_wstring(expanded.reader.GetEntryCount()) + L" entries, " +
                    std::to_wstring(total) + L" bytes (" + std::to_wstring(payload.size()) +
                    L" compressed)\n");
  return 0;
}

int Check(const std::wstring& payloadPath) {
  const std::string payload = ReadWholeFile(payloadPath);
  Expanded expanded;
  Expand(payload, expanded, payload.size() > (8u << 20));
  const std::wstring fault = FindFault(expanded.reader);
  if (!fault.empty()) {
    Fail(payloadPath + L": " + fault);
  }
  Write(stdout,
        payloadPath + L": OK, " + std::to_wstring(expanded.reader.GetEntryCount()) + L" entries\n");
  return 0;
}

int Stamp(const std::wstring& setupPath, const std::wstring& payloadPath,
          const std::wstring& outPath) {
  {
    // A payload the setup could not extract is never stamped.
    const std::string payload = ReadWholeFile(payloadPath);
    Expanded expanded;
    Expand(payload, expanded, false);
    const std::wstring fault = FindFault(expanded.reader);
    if (!fault.empty()) {
      Fail(payloadPath + L": " + fault);
    }
  }
  QorPe::StampResult result;
  try {
    result = QorPe::StampPayload(setupPath, payloadPath, outPath);
  } catch (const QorPe::StampError& error) {
    Fail(FromUtf8(error.what()));
  }
  if (result.droppedSignature) {
    Write(stdout, L"Dropped the signature of " + setupPath + L": sign " + outPath + L" again\n");
  }
  Write(stdout, L"Stamped " + payloadPath + L" into " + outPath + L"\n");
  return 0;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.size() < 2) {
    Write(stderr, kUsage);
    return 2;
  }
  const std::wstring& command = args[1];
  if (command == L"--help" || command == L"-h" || command == L"/?" || command == L"help") {
    Write(stdout, kUsage);
    return 0;
  }
  struct Command {
    const wchar_t* name;
    std::size_t arguments;
  } commands[] = {{L"pack", 2}, {L"list", 1}, {L"check", 1}, {L"stamp", 3}};
  for (const Command& c : commands) {
    if (command != c.name) {
      continue;
    }
    if (args.size() != c.arguments + 2) {
      Fail(std::wstring(L"\"") + c.name + L"\" takes " + std::to_wstring(c.arguments) +
           L" arguments (see vtrpack --help)");
    }
    if (command == L"pack") {
      return Pack(args[2], args[3]);
    }
    if (command == L"list") {
      return List(args[2]);
    }
    if (command == L"check") {
      return Check(args[2]);
    }
    return Stamp(args[2], args[3], args[4]);
  }
  Fail(L"unknown command \"" + command + L"\" (see vtrpack --help)");
}

} // namespace

int main() {
  int count = 0;
  Qor::UniqueLocal argv(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &count)));
  std::vector<std::wstring> args;
  for (int i = 0; i < count; ++i) {
    args.push_back(reinterpret_cast<wchar_t**>(argv.get())[i]);
  }
  try {
    return Run(args);
  } catch (const Failure& failure) {
    Write(stderr, L"vtrpack: " + failure.reason + L"\n");
  } catch (QorError::Exception* error) {
    const std::wstring text = OneLine(error->GetMessageText());
    delete error;
    Write(stderr, L"vtrpack: " + text + L"\n");
  } catch (const std::exception& error) {
    Write(stderr, L"vtrpack: " + QorError::WidenWithCLocale(error.what()) + L"\n");
  }
  return 1;
}
