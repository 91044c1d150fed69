// How a file's identity is chosen from what the system tells about it.
// Internal to lib/fs.
#pragma once

#include "qor/fs/file_identity.h"

#include <windows.h>

namespace QorFs {
namespace Detail {

// FILE_ID_INFO, as GetFileInformationByHandleEx fills it (Windows 8 on).
struct FileIdInfo {
  ULONGLONG volumeSerial;
  BYTE id[16]; // little-endian: the lower half first
};

// What the system told about one object: either answer may be missing.
struct IdentityFacts {
  bool idInfoRead = false; // the 128-bit id was asked for and given
  FileIdInfo idInfo = {};
  bool fileInfoRead = false; // GetFileInformationByHandle answered
  BY_HANDLE_FILE_INFORMATION fileInfo = {};
};

// The 128-bit id where it was given and names an object (neither all zeros
// nor all ones, which file systems without ids report); else the volume's
// serial and the file index; else an invalid identity.
FileIdentity ChooseIdentity(const IdentityFacts& facts);

// The 64-bit file index of what GetFileInformationByHandle told, as the
// folder listings give it.
ULONGLONG FileIndex(const BY_HANDLE_FILE_INFORMATION& info);

} // namespace Detail
} // namespace QorFs
