// What the installer's start checks beyond the folder's path: that the
// file held is the one the worker wrote, byte for byte, and that the
// process the system made runs that very file.
#pragma once

#include "qor/fs/file_identity.h"

#include <windows.h>

namespace QorSetup {

// Reads the file behind installer (held open, shared for reading only)
// through that handle and compares its digest with the one the worker
// made while writing it. Raises kFolderChangedError when they differ or
// the worker made none, kStartInstallerError when the file cannot be read
// or hashed.
void CheckInstallerBytes(HANDLE installer);

// What becomes of the new, suspended process.
enum class ImageVerdict {
  Resume,         // it runs the file held
  End,            // it runs another file, or which one cannot be told
  PathChecksOnly, // the system has no call to tell (Windows 2000)
};
// The verdict on a process whose image the system told as told and image,
// for the installer's file whose identity is held.
ImageVerdict JudgeStartedImage(QorFs::ImageIdentity told, const QorFs::FileIdentity& image,
                               const QorFs::FileIdentity& held);

// Where the system tells which file a process was started from (Windows XP
// and later), checks that the new process, still suspended, runs the file
// behind installer; otherwise ends the process, waits until it has ended,
// and raises kFolderChangedError. Where the system cannot tell (Windows
// 2000) it checks nothing: the checks of the path before and after the
// creation stand alone there.
void CheckStartedImage(HANDLE process, HANDLE installer);

} // namespace QorSetup
