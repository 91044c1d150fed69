// A thread whose work is a virtual operation.
#pragma once

#include "qor/handle/unique_handle.h"

#include <windows.h>

namespace QorOs {

class Thread {
public:
  // threadId 0 creates a new, suspended thread that runs Run after the first
  // Resume (Win32Error 546 on failure); any other id attaches to that existing
  // thread (Win32Error 549 when it cannot be opened).
  explicit Thread(DWORD threadId = 0, DWORD stackSize = 0);
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Closes the handle; neither waits for nor ends the thread.
  virtual ~Thread();

  // The thread's work; the result is its exit code. A library error that
  // escapes ends the thread with the error's code, anything else with 10.
  virtual DWORD Run();

  // Previous suspend count; Win32Error 548 / 547 when the call fails.
  DWORD Resume();
  DWORD Suspend();
  // True when the thread ended within the time.
  bool Wait(DWORD timeoutMs);
  // Waits without limit; the wait status.
  DWORD Join();
  // Ends the thread with the code. A thread made here that has not begun Run
  // yet is let go to end at once without running it, instead of being killed.
  void Terminate(DWORD exitCode);

  HANDLE GetHandle() const { return handle_.get(); }
  DWORD GetId() const { return id_; }

  // A real handle to the calling thread, for the caller to close; 0 on failure.
  static HANDLE DuplicateCurrentThreadHandle();

private:
  static DWORD WINAPI StartRoutine(void* self);

  enum : LONG { kNotStarted, kStarted, kCancelled };

  Qor::UniqueHandle handle_;
  DWORD id_ = 0;
  volatile LONG state_ = kStarted;
  DWORD cancelExitCode_ = 0;
};

} // namespace QorOs
