// The target folder and the extraction worker that fills it.
#pragma once

#include "qor/setup/error_codes.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace QorSetup {

extern const wchar_t kTargetFolderName[];      // "QorVTInst.tmp\"
extern const wchar_t kAdminOnlyFolderPrefix[]; // "QorVTInst-", then a secret part

// /extract: makes the folder (with its parents) and records it as where the
// files go; raises kExtractFolderError.
void MakeExtractFolder(const std::wstring& folder);
// Makes the target folder and starts the worker; raises library errors.
void PrepareAndStartWorker(HWND window);
// The target folder of a run that is not elevated: a new working folder at
// folder (ending in a backslash), made with its parents, pinned and
// recorded as the target folder. Whatever had that name before is moved
// aside first; when it cannot be, a folder with a secret name beside it is
// used. The folder is open to this user, SYSTEM and Administrators only,
// except on a volume that keeps no access lists (FAT):
// Shell().target.HasOwnAccessList() tells which. Raises
// QorFs::kCreateFolderError when no folder can be made.
void MakeTargetFolder(const std::wstring& folder);
// The target folder of an elevated run: a new folder with a secret name in
// systemTemp that only administrators and the system may open, made so in
// one step, pinned and recorded. Raises the reason when it cannot be made
// so; there is no weaker fallback.
void MakeAdminOnlyTargetFolder(const std::wstring& systemTemp);
// The user's temporary folder in its long form, ending in a backslash;
// raises kTempFolderError or kLongPathError.
std::wstring UserTemporaryFolder();
// The system's own temporary folder (%SystemRoot%\Temp\); raises
// kTempFolderError.
std::wstring SystemTemporaryFolder();
// Expands the payload in bytes[0, size) into the target folder, through
// the folder's handle, as the worker does: progress notes go to window,
// and the installer's identity is recorded as its file is made, and the
// digest of its bytes as they are written. Raises
// library errors, kStopRequestedError once the window asked to stop.
void ExtractPayload(const void* bytes, std::uint32_t size, HWND window);
// Asks a running worker to stop and waits until it has ended.
void StopWorker();
// Raises kStopRequestedError once the window thread has asked the worker to stop.
void ThrowIfStopRequested();
// The text of whatever was caught, for the error box, and the exit code it
// calls for; never throws.
std::wstring DescribeCurrentException(int* exitCode = nullptr);

} // namespace QorSetup

struct ProgressContext {
  std::uint32_t total; // compressed payload size in bytes
  HWND window;         // receives WM_SETUP_PROGRESS
};

// Stores processed / total (at most 1.0) as the progress fraction and posts
// WM_SETUP_PROGRESS; nonzero when the note was posted.
int ProgressCallback(std::uint32_t processed, void* context);

DWORD WINAPI ExtractionWorker(LPVOID window);
// The long form of a path (no trailing backslash); raises
// QorWin32::Win32Error QorSetup::kLongPathError.
std::wstring ToLongPath(const std::wstring& path);
