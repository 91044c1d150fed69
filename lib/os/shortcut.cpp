// Shell links, in a file of their own: the COM interface identifiers they
// need come from a library object that holds hundreds of others, which only
// programs that make shortcuts should carry.
#include "qor/os_utils.h"

#include <objbase.h>
#include <shlobj.h>

namespace QorOs {

bool CreateShortcut(const wchar_t* target, const wchar_t* linkFile, const wchar_t* description,
                    const wchar_t* workingFolder, const wchar_t* iconFile, int iconIndex) {
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link)))) {
    return false;
  }
  link->SetPath(target);
  link->SetDescription(description);
  if (workingFolder) {
    link->SetWorkingDirectory(workingFolder);
  }
  if (iconFile) {
    link->SetIconLocation(iconFile, iconIndex);
  }
  IPersistFile* file = nullptr;
  bool saved = false;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    saved = SUCCEEDED(file->Save(linkFile, TRUE));
    file->Release();
  }
  link->Release();
  return saved;
}

} // namespace QorOs
