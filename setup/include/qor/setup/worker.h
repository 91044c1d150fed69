// The target folder and the extraction worker that fills it.
#pragma once

#include "qor/setup/error_codes.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace QorSetup {

extern const wchar_t kTargetFolderName[]; // "QorVTInst.tmp\"

// Makes the target folder and starts the worker; raises library errors.
void PrepareAndStartWorker(HWND window);
// Makes a new working folder at folder (ending in a backslash), with its
// parents, pins it and records it as the target folder. Whatever had that
// name before is moved aside first; when it cannot be, a uniquely named
// folder beside it is used. When running as an administrator only
// administrators and the system may write into it. Raises
// QorFs::kCreateFolderError when no folder can be made.
void MakeTargetFolder(const std::wstring& folder);
// The temporary folder the setup works in: the user's, or for an elevated
// run whose user folder lies on a volume without access lists, the system's.
std::wstring ChooseTemporaryFolder(const std::wstring& userTemp);
// Asks a running worker to stop and waits until it has ended.
void StopWorker();
// Raises kStopRequestedError once the window thread has asked the worker to stop.
void ThrowIfStopRequested();
// The text of whatever was caught, for the error box; never throws.
std::wstring DescribeCurrentException();

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
