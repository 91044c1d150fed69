// vtrpack's system interface on Windows.
#include "platform.h"

#include "qor/handle/critical_section.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"
#include "qor/fs/delete.h"
#include "qor/fs/folder_entries.h"

#include <shellapi.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace VtrPlatform {

namespace {

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

std::u16string FromWide(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

// The temporary outputs that an interrupt removes (temporary, final path).
// The lock is held while one is created, moved into place or removed, so an
// interrupt never comes between a file and its entry here; the interrupt
// keeps it to the end. Never destroyed: the interrupt's thread may still
// use them while the program ends.
Qor::CriticalSection& OutputsLock() {
  static Qor::CriticalSection* lock = new Qor::CriticalSection;
  return *lock;
}
std::vector<std::pair<std::wstring, std::wstring>>& Outputs() {
  static auto* outputs = new std::vector<std::pair<std::wstring, std::wstring>>;
  return *outputs;
}
volatile LONG lineOpen = 0;

// Under OutputsLock: the interrupt has nothing more to do for temporary.
void ForgetOutput(const std::wstring& temporary) {
  std::vector<std::pair<std::wstring, std::wstring>>& outputs = Outputs();
  for (auto it = outputs.begin(); it != outputs.end(); ++it) {
    if (it->first == temporary) {
      outputs.erase(it);
      return;
    }
  }
}

// UTF-8, as every other line of the tool (console.h); straight to the
// handle, past the C library's buffers and locks, which the interrupted
// thread may hold.
void WriteError(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI Interrupted(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  OutputsLock().Enter();
  std::wstring line = lineOpen ? L"\n" : L"";
  line += event == CTRL_C_EVENT       ? L"vtrpack: interrupted by Ctrl-C"
          : event == CTRL_BREAK_EVENT ? L"vtrpack: interrupted by Ctrl-Break"
                                      : L"vtrpack: interrupted: the console was closed";
  for (const auto& output : Outputs()) {
    // The file is open with delete sharing: it goes when the handle closes.
    const DWORD error = DeleteFileW(output.first.c_str()) ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND) {
      line += L"; nothing was written to " + output.second;
    } else {
      line += L"; " + Wide(ReasonLine(u"cannot remove " + FromWide(output.first),
                                      FromWide(QorWin32::DescribeSystemError(error)), error));
    }
  }
  WriteError(line + L"\n");
  // What the system's own handler ends a program with on these events.
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

// Opens path (a file or folder) for its identity only.
Qor::UniqueFile OpenToIdentify(const std::u16string& path, DWORD flags) {
  return Qor::UniqueFile(
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

} // namespace

void Fail(const std::u16string& reason) {
  throw Failure{reason};
}

std::u16string SystemReason(const char16_t* what, const std::u16string& file) {
  const DWORD error = GetLastError();
  return ReasonLine(what + file, FromWide(QorWin32::DescribeSystemError(error)), error);
}

std::vector<std::u16string> GetArguments(int, char**) {
  int count = 0;
  Qor::UniqueLocal argv(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &count)));
  std::vector<std::u16string> args;
  for (int i = 0; argv && i < count; ++i) {
    args.push_back(FromWide(reinterpret_cast<wchar_t**>(argv.get())[i]));
  }
  return args;
}

bool IsTerminal(std::FILE* stream) {
  HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
         GetConsoleMode(handle, &mode);
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
  if (!folder.empty() && (folder.back() == u'\\' || folder.back() == u'/')) {
    return folder + name;
  }
  return folder + u"\\" + name;
}

std::filesystem::path FileSystemPath(const std::u16string& path) {
  return std::filesystem::path(Wide(path));
}

void HandleInterrupts() {
  OutputsLock();
  Outputs();
  // A program started in a process group of its own begins with Ctrl-C
  // ignored; taking it back lets GenerateConsoleCtrlEvent reach the group.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(Interrupted, TRUE);
}

void SetLineOpen(bool open) {
  InterlockedExchange(&lineOpen, open ? 1 : 0);
}

void RandomBytes(unsigned char* bytes, std::size_t size) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
    Fail(SystemReason(u"cannot make a temporary name"));
  }
  const BOOL made = CryptGenRandom(provider, static_cast<DWORD>(size), bytes);
  CryptReleaseContext(provider, 0);
  if (!made) {
    Fail(SystemReason(u"cannot make a temporary name"));
  }
}

std::vector<FolderItem> ListFolder(const std::u16string& folder, bool followLinks) {
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      Fail(u"the folder " + folder + u" does not exist");
    }
    Fail(SystemReason(u"cannot open the folder ", folder));
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail(folder + u" is not a folder; pack takes the folder that holds the product's files");
  }
  std::vector<FolderItem> items;
  QorFs::FolderEntries entries(Wide(folder));
  for (const QorFs::FolderEntry& entry : entries) {
    FolderItem item{FromWide(entry.name()), FolderItem::Other, 0};
    DWORD kind = entry.attributes();
    if (kind & FILE_ATTRIBUTE_REPARSE_POINT) {
      item.kind = FolderItem::Link;
      if (followLinks) {
        const std::u16string path = JoinPath(folder, item.name);
        Qor::UniqueFile target = OpenToIdentify(path, 0);
        BY_HANDLE_FILE_INFORMATION info;
        if (!target || !GetFileInformationByHandle(target.get(), &info)) {
          Fail(SystemReason(u"cannot follow the link ", path));
        }
        kind = info.dwFileAttributes;
        item.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
      }
    } else {
      item.size = entry.size();
    }
    if (item.kind != FolderItem::Link || followLinks) {
      item.kind = (kind & FILE_ATTRIBUTE_DIRECTORY) ? FolderItem::Folder
                  : (kind & FILE_ATTRIBUTE_DEVICE)  ? FolderItem::Other
                                                    : FolderItem::File;
      if (item.kind != FolderItem::File) {
        item.size = 0;
      }
    }
    items.push_back(std::move(item));
  }
  // Also a listing that broke off part way fails, not only one that never began.
  if (entries.error() != ERROR_NO_MORE_FILES) {
    SetLastError(entries.error());
    Fail(SystemReason(u"cannot list the folder ", folder));
  }
  return items;
}

bool LiesIn(const std::u16string& path, const std::u16string& folder) {
  const std::size_t slash = path.find_last_of(u"\\/");
  std::u16string parent = slash == std::u16string::npos ? u"." : path.substr(0, slash + 1);
  if (slash == std::u16string::npos && path.size() >= 2 && path[1] == u':') {
    parent = path.substr(0, 2) + u"."; // "C:name": the current folder of drive C:
  }
  Qor::UniqueFile a = OpenToIdentify(parent, 0);
  Qor::UniqueFile b = OpenToIdentify(folder, 0);
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return a && b && GetFileInformationByHandle(a.get(), &ia) &&
         GetFileInformationByHandle(b.get(), &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

struct InputFile::Impl {
  Qor::UniqueFile file;
  std::u16string path;
  Qor::UniqueHandle mapping;
  Qor::UniqueMappedView view;
};

InputFile::InputFile(const std::u16string& path, Kind kind) : impl_(new Impl) {
  impl_->path = path;
  // A file to pack is opened as itself, not what a reparse point put there
  // since the listing leads to. Every file must be one on a disk (no pipe or
  // device, which could block).
  impl_->file.reset(CreateFileW(
      Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | (kind == PackedFile ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
      nullptr));
  if (!impl_->file) {
    Fail(SystemReason(u"cannot open ", path));
  }
  {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(impl_->file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(impl_->file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      Fail((kind == Regular ? u"cannot read " : u"cannot pack ") + path +
           u": it is not a regular file");
    }
    if (kind == PackedFile && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      Fail(u"cannot pack " + path +
           u": it is a symbolic link (pack follows links only with --follow-links)");
    }
  }
}

InputFile::~InputFile() = default;

std::uint64_t InputFile::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(impl_->file.get(), &size)) {
    Fail(SystemReason(u"cannot read ", impl_->path));
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(impl_->file.get(), buffer, want, &got, nullptr)) {
    Fail(SystemReason(u"cannot read ", impl_->path));
  }
  return got;
}

const std::u16string& InputFile::Path() const {
  return impl_->path;
}

const char* InputFile::MapView(std::size_t size) {
  if (!impl_->view) {
    impl_->mapping.reset(
        CreateFileMappingW(impl_->file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!impl_->mapping) {
      Fail(SystemReason(u"cannot read ", impl_->path));
    }
    impl_->view.reset(MapViewOfFile(impl_->mapping.get(), FILE_MAP_READ, 0, 0, size));
    if (!impl_->view) {
      Fail(SystemReason(u"cannot read ", impl_->path));
    }
  }
  return static_cast<const char*>(impl_->view.get());
}

struct OutputFile::Impl {
  std::u16string path;
  std::u16string temporary;
  Qor::UniqueFile file;
  bool committed = false;
};

OutputFile::OutputFile(const std::u16string& path) : impl_(new Impl) {
  impl_->path = path;
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail(u"the output " + path + u" is a folder; name the file to write");
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DEVICE)) {
    Fail(u"the output " + path + u" is not a regular file");
  }
  Qor::Locked lock(OutputsLock());
  impl_->temporary = CreateTemporaryBeside(path, [this](const std::u16string& temporary) {
    // Delete sharing: an interrupt on another thread can remove it while open.
    impl_->file.reset(CreateFileW(Wide(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (impl_->file) {
      return CreateResult::Created;
    }
    return GetLastError() == ERROR_FILE_EXISTS ? CreateResult::Exists : CreateResult::Failed;
  });
  Outputs().emplace_back(Wide(impl_->temporary), Wide(path));
}

OutputFile::~OutputFile() {
  impl_->file.reset();
  if (impl_->temporary.empty()) {
    return;
  }
  Qor::Locked lock(OutputsLock());
  if (!impl_->committed) {
    QorFs::DeleteFileAlways(Wide(impl_->temporary));
  }
  ForgetOutput(Wide(impl_->temporary));
}

void OutputFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    const BOOL wrote = WriteFile(impl_->file.get(), data, want, &written, nullptr);
    if (!wrote || written == 0) {
      if (wrote) {
        SetLastError(ERROR_WRITE_FAULT); // took nothing, yet reported no error
      }
      Fail(SystemReason(u"cannot write ", impl_->temporary));
    }
    data += written;
    size -= written;
  }
}

void OutputFile::WriteAt(std::uint64_t offset, const char* data, std::size_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  LARGE_INTEGER none = {};
  if (!SetFilePointerEx(impl_->file.get(), at, nullptr, FILE_BEGIN)) {
    Fail(SystemReason(u"cannot write ", impl_->temporary));
  }
  Write(data, size);
  if (!SetFilePointerEx(impl_->file.get(), none, nullptr, FILE_END)) {
    Fail(SystemReason(u"cannot write ", impl_->temporary));
  }
}

void OutputFile::TakeModeOf(const std::u16string&) {}

void OutputFile::Close() {
  if (impl_->file && !CloseHandle(impl_->file.release())) {
    Fail(SystemReason(u"cannot write ", impl_->temporary));
  }
}

void OutputFile::Commit() {
  Close();
  Qor::Locked lock(OutputsLock());
  if (!MoveFileExW(Wide(impl_->temporary).c_str(), Wide(impl_->path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    Fail(SystemReason(u"cannot write ", impl_->path));
  }
  impl_->committed = true;
  ForgetOutput(Wide(impl_->temporary));
}

} // namespace VtrPlatform
