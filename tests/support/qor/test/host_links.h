// Host symbolic links for tests run through tests/support/host_links.sh.
// Windows programs cannot make them under Wine: the script watches a request
// folder (named by VELTRANO_HOST_LINKS, on drive Z:) and makes each link on
// the host side.
#pragma once

#include "qor/test/folders.h"

#include <windows.h>

#include <string>

namespace QorTest {

class HostLinks {
public:
  HostLinks() {
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"VELTRANO_HOST_LINKS", folder, MAX_PATH)) {
      folder_ = std::wstring(folder) + L"\\";
    }
  }

  // False when the test does not run through the script: skip it then.
  bool available() const { return !folder_.empty(); }
  // The request folder, ending in a backslash. Links may point only to
  // places the host side can reach, such as folders made in here.
  const std::wstring& folder() const { return folder_; }

  // Makes link a host symbolic link to target; false when the script does
  // not answer within ten seconds.
  bool MakeLink(const std::wstring& link, const std::wstring& target) {
    const std::wstring name = folder_ + L"link" + std::to_wstring(++count_);
    const std::string request = std::string(link.begin(), link.end()) + "\n" +
                                std::string(target.begin(), target.end()) + "\n";
    if (!WriteFileBytes(name, request) || !MoveFileW(name.c_str(), (name + L".request").c_str())) {
      return false;
    }
    for (int waited = 0; waited < 10000; waited += 20) {
      if (GetFileAttributesW((name + L".done").c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
      }
      Sleep(20);
    }
    return false;
  }

private:
  std::wstring folder_;
  int count_ = 0;
};

} // namespace QorTest
