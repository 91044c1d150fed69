// Small operating-system utilities: library versions, COM per thread,
// modules, shortcuts, the pointer and random numbers.
#pragma once

#include <windows.h>

namespace QorOs {

// The version of a library packed as major * 65536 + minor: from its
// DllGetVersion when it has one, otherwise from its file version (0x10000
// when it has none). 0 when the library cannot be loaded or DllGetVersion
// fails. A bare name is loaded from the system folder.
DWORD GetDllVersion(const wchar_t* moduleName);

// Initialises COM for the calling thread for the life of the object.
// Win32Error 538 with the HRESULT when the initialisation fails.
class ComScope {
public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool IsInitialised() const { return initialised_; }

private:
  bool initialised_ = false;
};

// Releases a loaded module until it is gone; false when it is still loaded
// after 20 releases.
bool UnloadModule(const wchar_t* moduleName);

// Writes a shell shortcut. workingFolder and iconFile may be null. COM must be
// initialised on the calling thread.
bool CreateShortcut(const wchar_t* target, const wchar_t* linkFile, const wchar_t* description,
                    const wchar_t* workingFolder, const wchar_t* iconFile, int iconIndex);

// Moves the pointer over the lower right corner of the screen, where the
// notification area lies, and leaves it near the centre.
void SweepPointer();

// A 32-bit random number: the C library's secure generator from Windows XP on,
// otherwise four rand values combined.
DWORD Random32();
// The combination used without the secure generator.
DWORD CombineRandom(int r1, int r2, int r3, int r4);

} // namespace QorOs
