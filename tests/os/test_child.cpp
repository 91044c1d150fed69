// A child program for the process tests: with an argument it exits at once
// with that code; otherwise it signals the tests' "ready" event, when there
// is one, and waits until it is ended.
#include "qor/handle/unique_handle.h"

#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc > 1) {
    return std::atoi(argv[1]);
  }
  Qor::UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, L"QorProcProbeReady"));
  if (ready) {
    SetEvent(ready.get());
    ready.reset();
  }
  Sleep(INFINITE);
  return 0;
}
