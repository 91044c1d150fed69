#include "qor/setup/worker.h"
#include "qor/setup/error_codes.h"

#include "qor/setup/launch.h"
#include "qor/setup/messages.h"
#include "qor/setup/state.h"

#include "qor/error/error.h"
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

// The entries' files, made through the target folder's handle. The
// installer's identity is taken from the file as it is made, and a digest
// of its bytes as they are written, so that its start can tell it from any
// file put in its place, or written over it, later.
class TargetFiles : public QorPayload::EntryFiles {
public:
  Qor::UniqueFile Create(const std::wstring& name) override {
    Qor::UniqueFile file = Shell().target.CreateNewFile(name);
    writingInstaller_ = false;
    if (file && _wcsicmp(name.c_str(), kInstallerFileName) == 0) {
      Shell().worker.installer = QorFs::IdentityOf(file.get());
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

std::wstring DescribeCurrentException() {
  try {
    try {
      throw;
    } catch (QorError::Exception* e) {
      std::unique_ptr<QorError::Exception> owned(e);
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
  TargetFiles files;
  QorPayload::ExtractStream(bytes, size, files, ProgressCallback, &context, step);
  files.Finish();
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
  if (QorEnv::IsUserAdmin()) {
    MakeAdminOnlyTargetFolder(SystemTemporaryFolder());
  } else {
    MakeTargetFolder(UserTemporaryFolder() + kTargetFolderName);
  }

  WorkerLink& worker = Shell().worker;
  worker.thread.reset(::CreateThread(nullptr, 0, ExtractionWorker, window, 0, nullptr));
  if (!worker.thread) {
    ::MessageBoxW(window, L"Unable to extract the files.", L"Error", MB_OK | MB_ICONERROR);
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
  try {
    link.progress.store(0.0);
    QorSetup::ExtractPayloadResource(window);
  } catch (...) {
    // Library errors and standard exceptions (an allocation failure while
    // the output grows, say) end the same way: one failure note, unless the
    // window asked us to stop.
    try {
      text = QorSetup::DescribeCurrentException();
    } catch (...) {
    }
    outcome = link.stopRequested.load() ? WorkerOutcome::Stopped : WorkerOutcome::Failed;
  }
  if (outcome == WorkerOutcome::Failed) {
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
