// Shell links, in a file of their own: the COM interface identifiers they
// need come from a library object that holds hundreds of others, which only
// programs that make shortcuts should carry.
#include "qor/os/os_utils.h"
#include "qor/handle/unique_handle.h"

#include <objbase.h>
#include <shlobj.h>

namespace QorOs {

bool CreateShortcut(const wchar_t* target, const wchar_t* linkFile, const wchar_t* description,
                    const wchar_t* workingFolder, const wchar_t* iconFile, int iconIndex) {
  Qor::UniqueCom<IShellLinkW> link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(link.put())))) {
    return false;
  }
  link.get()->SetPath(target);
  link.get()->SetDescription(description);
  if (workingFolder) {
    link.get()->SetWorkingDirectory(workingFolder);
  }
  if (iconFile) {
    link.get()->SetIconLocation(iconFile, iconIndex);
  }
  Qor::UniqueCom<IPersistFile> file;
  if (FAILED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) {
    return false;
  }
  return SUCCEEDED(file.get()->Save(linkFile, TRUE));
}

} // namespace QorOs
