// vtrpack's system interface on Windows.
#include "platform.h"

#include "qor/error/unique_handle.h"
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

std::u16string OneLine(std::u16string text) {
  for (char16_t& c : text) {
    if (c == u'\r' || c == u'\n') {
      c = u' ';
    }
  }
  while (!text.empty() && text.back() == u' ') {
    text.pop_back();
  }
  return text;
}

} // namespace

void Fail(const std::u16string& reason) {
  throw Failure{reason};
}

std::u16string SystemReason(const std::u16string& what) {
  return what + u": " + OneLine(FromWide(QorWin32::DescribeLastError()));
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

unsigned CountProcessors() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
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

std::vector<FolderItem> ListFolder(const std::u16string& folder) {
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail(u"the folder " + folder + u" does not exist");
  }
  std::vector<FolderItem> items;
  QorFs::FolderEntries entries(Wide(folder));
  for (const QorFs::FolderEntry& entry : entries) {
    const bool isFolder = entry.IsFolder();
    items.push_back(FolderItem{FromWide(entry.name()), isFolder, isFolder ? 0 : entry.size()});
  }
  // Also a listing that broke off part way fails, not only one that never began.
  if (entries.error() != ERROR_NO_MORE_FILES) {
    SetLastError(entries.error());
    Fail(SystemReason(u"cannot list the folder " + folder));
  }
  return items;
}

struct InputFile::Impl {
  Qor::UniqueFile file;
  std::u16string path;
};

InputFile::InputFile(const std::u16string& path) : impl_(new Impl) {
  impl_->path = path;
  impl_->file.reset(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!impl_->file) {
    Fail(SystemReason(u"cannot open " + path));
  }
}

InputFile::~InputFile() = default;

std::uint64_t InputFile::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(impl_->file.get(), &size)) {
    Fail(SystemReason(u"cannot read " + impl_->path));
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(impl_->file.get(), buffer, want, &got, nullptr)) {
    Fail(SystemReason(u"cannot read " + impl_->path));
  }
  return got;
}

struct OutputFile::Impl {
  std::u16string path;
  std::u16string temporary;
  Qor::UniqueFile file;
  bool committed = false;
};

OutputFile::OutputFile(const std::u16string& path) : impl_(new Impl) {
  impl_->path = path;
  impl_->temporary = CreateTemporaryBeside(path, [this](const std::u16string& temporary) {
    impl_->file.reset(CreateFileW(Wide(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (impl_->file) {
      return CreateResult::Created;
    }
    return GetLastError() == ERROR_FILE_EXISTS ? CreateResult::Exists : CreateResult::Failed;
  });
}

OutputFile::~OutputFile() {
  impl_->file.reset();
  if (!impl_->committed && !impl_->temporary.empty()) {
    QorFs::DeleteFileAlways(Wide(impl_->temporary));
  }
}

const std::u16string& OutputFile::temporary() const {
  return impl_->temporary;
}

void OutputFile::Write(const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!WriteFile(impl_->file.get(), data, want, &written, nullptr) || written == 0) {
      Fail(SystemReason(u"cannot write " + impl_->temporary));
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
    Fail(SystemReason(u"cannot write " + impl_->temporary));
  }
  Write(data, size);
  if (!SetFilePointerEx(impl_->file.get(), none, nullptr, FILE_END)) {
    Fail(SystemReason(u"cannot write " + impl_->temporary));
  }
}

void OutputFile::Close() {
  if (impl_->file && !CloseHandle(impl_->file.release())) {
    Fail(SystemReason(u"cannot write " + impl_->temporary));
  }
}

void OutputFile::Commit() {
  Close();
  if (!MoveFileExW(Wide(impl_->temporary).c_str(), Wide(impl_->path).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    Fail(SystemReason(u"cannot write " + impl_->path));
  }
  impl_->committed = true;
}

} // namespace VtrPlatform
