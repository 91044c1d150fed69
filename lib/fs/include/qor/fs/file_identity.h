// What a file or folder object is, apart from any name that leads to it.
#pragma once

#include <windows.h>

namespace QorFs {

// Identifies a file or folder object itself, not its path: the volume's
// serial and the object's 128-bit id where the system tells it (Windows 8
// and later), else the volume's 32-bit serial and the 64-bit file index,
// which FAT reuses and ReFS does not keep unique. Identities of the two
// forms never compare equal.
struct FileIdentity {
  enum class Form { None, FileIndex, FileId128 };
  Form form = Form::None;
  ULONGLONG volumeSerial = 0;
  ULONGLONG index = 0;     // the file index, or the lower half of the 128-bit id
  ULONGLONG indexHigh = 0; // the upper half of the 128-bit id
  bool valid = false;
  bool operator==(const FileIdentity& other) const {
    return valid && other.valid && form == other.form && volumeSerial == other.volumeSerial &&
           index == other.index && indexHigh == other.indexHigh;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The identity of the object behind handle; invalid when it cannot be read.
FileIdentity IdentityOf(HANDLE handle);

enum class ImageIdentity {
  Read,       // identity holds the identity of the process's image file
  Unknown,    // the system could not tell it, or the file cannot be opened
  NotOffered, // the system has no call for it (Windows 2000)
};
// The identity of the file the system started process from (Windows XP and
// later), as the system recorded it: the file its name leads to now, opened
// as itself, never through a link.
ImageIdentity ImageIdentityOf(HANDLE process, FileIdentity& identity);

} // namespace QorFs
