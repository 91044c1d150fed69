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

  // Makes link a host symbolic link to target, or re-points the link that
  // is there; false when the script does not answer within ten seconds.
  bool MakeLink(const std::wstring& link, const std::wstring& target) {
    return Wait(Request(link, target));
  }

  // Asks for the same and returns at once, with the request's name for
  // Wait (empty when it cannot be asked): the link changes a few
  // milliseconds later, while the caller goes on.
  std::wstring Request(const std::wstring& link, const std::wstring& target) {
    // Unique in the process: the folder outlives each test's helper object.
    static LONG count = 0;
    const std::wstring name = folder_ + L"link" + std::to_wstring(InterlockedIncrement(&count));
    const std::string request = std::string(link.begin(), link.end()) + "\n" +
                                std::string(target.begin(), target.end()) + "\n";
    if (!WriteFileBytes(name, request) || !MoveFileW(name.c_str(), (name + L".request").c_str())) {
      return std::wstring();
    }
    return name;
  }

  // Waits (at most ten seconds) until the request is done.
  bool Wait(const std::wstring& request) {
    for (int waited = 0; !request.empty() && waited < 10000; waited += 5) {
      if (GetFileAttributesW((request + L".done").c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
      }
      Sleep(5);
    }
    return false;
  }

private:
  std::wstring folder_;
};

} // namespace QorTest
