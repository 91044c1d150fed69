#include "qor/setup/worker.h"
#include "qor/setup/error_codes.h"

#include "qor/setup/exit_codes.h"
#include "qor/setup/launch.h"
#include "qor/setup/messages.h"
#include "qor/setup/run_log.h"
#include "qor/setup/state.h"
#include "qor/setup/window.h"

#include "qor/error/error.h"
#include "qor/payload/archive.h"
#include "qor/payload/extract_stream.h"
#include "qor/fs/fs.h"
#include "qor/fs/private_folder.h"
#include "qor/os/content_hash.h"
#include "qor/env/env.h"
#include "qor/error/win32_error.h"
#include "qor/text/path.h"

#include "resource.h"

#include <algorithm>
#include <cwchar>
#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace QorSetup {

const wchar_t kTargetFolderName[] = L"QorVTInst.tmp\\";
const wchar_t kAdminOnlyFolderPrefix[] = L"QorVTInst-";

namespace {

// The volume that holds path, for messages; path itself when unknown.
std::wstring VolumeOf(const std::wstring& path) {
  wchar_t volume[MAX_PATH] = {};
  return ::GetVolumePathNameW(path.c_str(), volume, MAX_PATH) ? std::wstring(volume) : path;
}

// Logs the archive's table and refuses, before the first byte is written,
// files that cannot fit on folder's volume for this user.
void CheckTable(const std::wstring& folder, const std::vector<QorPayload::ListedEntry>& entries) {
  ULONGLONG needed = 0;
  for (const QorPayload::ListedEntry& entry : entries) {
    LogLine(L"Entry: %s, %I64u bytes", entry.name.c_str(), entry.size);
    needed += entry.size;
  }
  LogLine(L"Files: %u, %I64u bytes in all", static_cast<unsigned>(entries.size()), needed);
  ULARGE_INTEGER available = {}, total = {}, free = {};
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, &total, &free)) {
    LogLine(L"The free space of %s is unknown; extracting all the same", folder.c_str());
    return;
  }
  LogLine(L"Free space for this user on %s: %I64u bytes", VolumeOf(folder).c_str(),
          available.QuadPart);
  if (available.QuadPart < needed) {
    QorError::RaiseErrorF(kNotEnoughSpaceError,
                          L"There is not enough space on %s to extract the files: they need %I64u "
                          L"bytes, and %I64u bytes are free. Nothing was written.",
                          VolumeOf(folder).c_str(), needed, available.QuadPart);
  }
}

// The entries' files, made through the target folder's handle. The
// installer's identity is taken from the file as it is made, and a digest
// of its bytes as they are written, so that its start can tell it from any
// file put in its place, or written over it, later.
class TargetFiles : public QorPayload::EntryFiles {
public:
  Qor::UniqueFile Create(const std::wstring& name) override {
    LogLine(L"Writing %s", name.c_str());
    Qor::UniqueFile file = Shell().target.CreateNewFile(name);
    writingInstaller_ = false;
    // The installer by the name rule's own letter case, started later
    // under the name it was made with.
    if (file && QorArchiveFormat::NamesOneFile(name, kInstallerFileName)) {
      Shell().worker.installer = QorFs::IdentityOf(file.get());
      Shell().worker.installerName = name;
      installerHash_.reset(new QorOs::ContentHasher());
      writingInstaller_ = true;
    }
    return file;
  }
  void Written(const unsigned char* bytes, std::size_t size) override {
    if (writingInstaller_) {
      installerHash_->Add(bytes, size);
    }
  }
  void Checkpoint() override { ThrowIfStopRequested(); }
  void TableRead(const std::vector<QorPayload::ListedEntry>& entries) override {
    CheckTable(Shell().target.path(), entries);
  }
  // Once every file is written.
  void Finish() {
    if (installerHash_) {
      Shell().worker.installerDigest = installerHash_->Finish();
    }
  }

private:
  std::unique_ptr<QorOs::ContentHasher> installerHash_;
  bool writingInstaller_ = false;
};

// /extract: each file made new by its path in the folder the caller named;
// a file already there is never replaced, and the run names it.
class ExtractFolderFiles : public QorPayload::EntryFiles {
public:
  Qor::UniqueFile Create(const std::wstring& name) override {
    const std::wstring path = Shell().extractFolder + name;
    LogLine(L"Writing %s", path.c_str());
    Qor::UniqueFile file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD error = ::GetLastError();
    if (!file && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
      RaiseExists(path, error);
    }
    return file;
  }
  void Checkpoint() override { ThrowIfStopRequested(); }
  void TableRead(const std::vector<QorPayload::ListedEntry>& entries) override {
    CheckTable(Shell().extractFolder, entries);
    // Every name first: a run that would meet a file writes none.
    for (const QorPayload::ListedEntry& entry : entries) {
      const std::wstring path = Shell().extractFolder + entry.name;
      if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        RaiseExists(path, ERROR_FILE_EXISTS);
      }
    }
  }

private:
  [[noreturn]] static void RaiseExists(const std::wstring& path, DWORD error) {
    QorWin32::RaiseWin32ErrorF(kEntryFileExistsError,
                               L"The file %s exists already. The setup overwrites nothing.", error,
                               path.c_str());
  }
};

// Expands the payload resource and writes its entries into the target
// folder. Raises library errors.
void ExtractPayloadResource(HWND window) {
  HMODULE module = Shell().instance ? Shell().instance : ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(IDR_PAYLOAD), L"ZUK");
  if (!resource) {
    QorWin32::RaiseLastWin32ErrorF(kArchiveMissingError, L"Archive is missing.");
  }
  const DWORD size = ::SizeofResource(module, resource);
  if (size == 0) {
    QorWin32::RaiseLastWin32ErrorF(kArchiveSizeError, L"Archive is corrupted.");
  }
  HGLOBAL loaded = ::LoadResource(module, resource);
  if (!loaded) {
    QorWin32::RaiseLastWin32ErrorF(kArchiveLoadError, L"Archive is corrupted.");
  }
  const void* bytes = ::LockResource(loaded);
  if (!bytes) {
    QorWin32::RaiseLastWin32ErrorF(kArchiveLockError, L"Archive is corrupted.");
  }
  ExtractPayload(bytes, size, window);
}

// A copy of text for WM_SETUP_FAILED, or null when there is no memory left.
wchar_t* CopyForMessage(const std::wstring& text) {
  wchar_t* copy = new (std::nothrow) wchar_t[text.size() + 1];
  if (copy) {
    std::wmemcpy(copy, text.c_str(), text.size() + 1);
  }
  return copy;
}

} // namespace

std::wstring DescribeCurrentException(int* exitCode) {
  int unused = 0;
  int& code = exitCode ? *exitCode : unused;
  code = kExitSetupFailed;
  try {
    try {
      throw;
    } catch (QorError::Exception* e) {
      std::unique_ptr<QorError::Exception> owned(e);
      code = ExitCodeFor(*e);
      return e->GetMessageText();
    } catch (const std::bad_alloc&) {
      return L"Not enough memory to extract the files.";
    } catch (const std::exception& e) {
      try {
        QorError::RaiseStdError(kWorkerStdExceptionError, e);
      } catch (QorError::Exception* translated) {
        std::unique_ptr<QorError::Exception> owned(translated);
        return translated->GetMessageText();
      }
    } catch (...) {
    }
  } catch (...) {
  }
  return L"Unknown error occured.";
}

void ExtractPayload(const void* bytes, std::uint32_t size, HWND window) {
  // The resource is read where the system mapped it, not copied first, and
  // each file is written while the payload is decoded, on every processor:
  // only a few blocks of expanded bytes are held at any time.
  ProgressContext context = {size, window};
  // At least 1: a payload under 100 bytes would otherwise give a step of 0.
  const std::uint32_t step = std::max<std::uint32_t>(1, size / 100);
  const DWORD start = ::GetTickCount();
  if (Shell().extractFolder.empty()) {
    TargetFiles files;
    QorPayload::ExtractStream(bytes, size, files, ProgressCallback, &context, step);
    files.Finish();
  } else {
    ExtractFolderFiles files;
    QorPayload::ExtractStream(bytes, size, files, ProgressCallback, &context, step);
  }
  LogLine(L"Extracted in %lu ms", static_cast<unsigned long>(::GetTickCount() - start));
}

void MakeExtractFolder(const std::wstring& folder) {
  wchar_t full[MAX_PATH * 2];
  const DWORD length = ::GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
  if (length == 0 || length >= MAX_PATH * 2) {
    QorWin32::RaiseLastWin32ErrorF(kExtractFolderError, L"Unable to use the folder %s",
                                   folder.c_str());
  }
  const std::wstring path = QorString::WithTrailingBackslash(std::wstring(full, length));
  try {
    QorFs::CreateDirectories(path);
  } catch (QorError::Exception* e) {
    std::unique_ptr<QorError::Exception> owned(e);
    QorError::RaiseError(kExtractFolderError, e->GetMessageText().c_str());
  }
  if (!QorFs::IsDirectory(path)) {
    QorWin32::RaiseWin32ErrorF(kExtractFolderError, L"Unable to use the folder %s", ERROR_DIRECTORY,
                               path.c_str());
  }
  Shell().extractFolder = path;
}

void MakeTargetFolder(const std::wstring& folder) {
  // The parents as they are (the temporary folder normally exists), then a
  // working folder of our own: its name is fixed and lies in a folder that
  // other programs of the user can write to.
  QorFs::CreateDirectories(QorString::FolderPart(QorString::WithoutTrailingBackslash(folder)));
  Shell().target = QorFs::MakeWorkingFolder(folder);
}

void MakeAdminOnlyTargetFolder(const std::wstring& systemTemp) {
  Shell().target = QorFs::MakeAdminOnlyFolder(systemTemp, kAdminOnlyFolderPrefix);
}

std::wstring UserTemporaryFolder() {
  DWORD length = ::GetTempPathW(0, nullptr);
  std::vector<wchar_t> buffer;
  for (;;) {
    if (length == 0) {
      QorWin32::RaiseLastWin32ErrorF(kTempFolderError, L"Unable to find Windows Temp folder");
    }
    buffer.assign(length + 1, L'\0');
    DWORD got = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (got == 0) {
      QorWin32::RaiseLastWin32ErrorF(kTempFolderError, L"Unable to find Windows Temp folder");
    }
    if (got < buffer.size()) {
      break;
    }
    length = got; // the variable changed in between: ask again with its new size
  }
  std::wstring folder = ToLongPath(buffer.data());
  while (!folder.empty() && folder.back() == L' ') {
    folder.pop_back();
  }
  return QorString::WithTrailingBackslash(folder);
}

std::wstring SystemTemporaryFolder() {
  wchar_t windows[MAX_PATH];
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    QorWin32::RaiseLastWin32ErrorF(kTempFolderError, L"Unable to find Windows Temp folder");
  }
  return QorString::WithTrailingBackslash(std::wstring(windows, length)) + L"Temp\\";
}

void ThrowIfStopRequested() {
  if (Shell().worker.stopRequested.load()) {
    QorError::RaiseError(kStopRequestedError, L"The setup was closed while extracting the files.");
  }
}

void StopWorker() {
  WorkerLink& worker = Shell().worker;
  if (!worker.thread) {
    return;
  }
  // The worker checks this between files and every few megabytes of
  // expanded output, and releases everything on its way out.
  worker.stopRequested.store(true);
  ::WaitForSingleObject(worker.thread.get(), INFINITE);
  worker.thread.reset();
}

void PrepareAndStartWorker(HWND window) {
  // An elevated run works where programs with the user's rights can change
  // nothing: not the folder, not any folder above it (the user's own
  // temporary folder and its parents are the user's to re-point).
  const std::wstring& extract = Shell().options.extractFolder;
  if (!extract.empty()) {
    MakeExtractFolder(extract);
    LogLine(L"Extracting into %s", Shell().extractFolder.c_str());
  } else if (QorEnv::IsUserAdmin()) {
    MakeAdminOnlyTargetFolder(SystemTemporaryFolder());
  } else {
    MakeTargetFolder(UserTemporaryFolder() + kTargetFolderName);
  }
  if (extract.empty()) {
    LogLine(L"Working folder: %s", Shell().target.path().c_str());
    if (!Shell().target.HasOwnAccessList()) {
      // FAT and the like: nothing to protect the folder with.
      LogLine(L"The working folder's volume keeps no access lists: the folder is as open as its "
              L"parent");
    }
  }

  WorkerLink& worker = Shell().worker;
  worker.thread.reset(::CreateThread(nullptr, 0, ExtractionWorker, window, 0, nullptr));
  if (!worker.thread) {
    Shell().SetExitCode(kExitSetupFailed);
    ShowMessage(window, L"Unable to extract the files.", L"Error", MB_OK | MB_ICONERROR);
    CleanUp(); // the folder made above is still empty
    ::PostQuitMessage(0);
  }
}

} // namespace QorSetup

int ProgressCallback(std::uint32_t processed, void* context) {
  // Called regularly while the payload is expanded: one more place where a
  // stop request takes effect.
  QorSetup::ThrowIfStopRequested();
  const ProgressContext* progress = static_cast<const ProgressContext*>(context);
  double fraction = static_cast<double>(processed) / static_cast<double>(progress->total);
  // A total of 0 gives infinity or NaN: both end up as a full bar.
  QorSetup::Shell().worker.progress.store(fraction < 1.0 ? fraction : 1.0);
  return ::PostMessageW(progress->window, WM_SETUP_PROGRESS, 0, 0) ? 1 : 0;
}

DWORD WINAPI ExtractionWorker(LPVOID parameter) {
  using QorSetup::WorkerOutcome;
  HWND window = static_cast<HWND>(parameter);
  QorSetup::WorkerLink& link = QorSetup::Shell().worker;
  WorkerOutcome outcome = WorkerOutcome::Succeeded;
  std::wstring text;
  int exitCode = QorSetup::kExitSetupFailed;
  try {
    link.progress.store(0.0);
    QorSetup::ExtractPayloadResource(window);
  } catch (...) {
    // Library errors and standard exceptions (an allocation failure while
    // the output grows, say) end the same way: one failure note, unless the
    // window asked us to stop.
    try {
      text = QorSetup::DescribeCurrentException(&exitCode);
    } catch (...) {
    }
    outcome = link.stopRequested.load() ? WorkerOutcome::Stopped : WorkerOutcome::Failed;
  }
  if (outcome == WorkerOutcome::Failed) {
    link.failureExitCode.store(exitCode);
    // Without memory for the text there is no note: the window thread then
    // reports the failure from the outcome alone.
    if (wchar_t* copy = QorSetup::CopyForMessage(text)) {
      link.pendingFailureText.store(copy);
      if (!::PostMessageW(window, WM_SETUP_FAILED, 0, reinterpret_cast<LPARAM>(copy))) {
        // Taken back only if the window has not taken it meanwhile (a note
        // forged with its address): whoever wins the exchange frees it.
        wchar_t* expected = copy;
        if (link.pendingFailureText.compare_exchange_strong(expected, nullptr)) {
          delete[] copy;
        }
      }
    }
  }
  // Last: whoever sees the worker finished also sees its note on its way.
  link.outcome.store(outcome);
  ::PostMessageW(window, WM_SETUP_EXTRACTED, 0, 0);
  return 0;
}

std::wstring ToLongPath(const std::wstring& path) {
  return QorFs::ToLongPath(path, QorSetup::kLongPathError,
                           L"Unable to convert short path name to long");
}
