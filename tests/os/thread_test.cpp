#include "qor/os/thread.h"
#include "qor/os/error_codes.h"

#include "qor/error/error.h"
#include "qor/handle/unique_handle.h"
#include "qor/error/win32_error.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

class RecordingThread : public QorOs::Thread {
public:
  DWORD Run() override {
    ran = true;
    return 7;
  }
  volatile bool ran = false;
};

class ThrowingThread : public QorOs::Thread {
public:
  enum Kind { LibraryError, StandardError, Integer, Normal };
  explicit ThrowingThread(Kind kind) : kind_(kind) {}
  DWORD Run() override {
    switch (kind_) {
    case LibraryError:
      throw new QorError::Exception(42, L"forty-two");
    case StandardError:
      throw std::runtime_error("standard");
    case Integer:
      throw 5;
    default:
      return 3;
    }
  }

private:
  Kind kind_;
};

DWORD ExitCodeOf(QorOs::Thread& thread) {
  DWORD code = 0xDEAD;
  EXPECT_TRUE(GetExitCodeThread(thread.GetHandle(), &code));
  return code;
}

} // namespace

TEST(Thread, StartsSuspendedAndRunsAfterFirstResume) {
  RecordingThread thread;
  ASSERT_NE(nullptr, thread.GetHandle());
  EXPECT_NE(0u, thread.GetId());
  EXPECT_FALSE(thread.ran);
  EXPECT_FALSE(thread.Wait(0));
  EXPECT_EQ(1u, thread.Resume());
  EXPECT_EQ(WAIT_OBJECT_0, thread.Join());
  EXPECT_TRUE(thread.ran);
  EXPECT_EQ(7u, ExitCodeOf(thread));
  EXPECT_TRUE(thread.Wait(0));
}

TEST(Thread, ExitCodeOfWhatEscapesRun) {
  const struct {
    ThrowingThread::Kind kind;
    DWORD exitCode;
  } cases[] = {
      {ThrowingThread::LibraryError, 42},
      {ThrowingThread::StandardError, 10},
      {ThrowingThread::Integer, 10},
      {ThrowingThread::Normal, 3},
  };
  for (const auto& c : cases) {
    ThrowingThread thread(c.kind);
    thread.Resume();
    thread.Join();
    EXPECT_EQ(c.exitCode, ExitCodeOf(thread)) << "kind " << c.kind;
  }
}

TEST(Thread, SuspendCountsAndTerminateBeforeRun) {
  // Many rounds: killing a thread that never ran brings the process down only
  // now and then, and sometimes only a while later.
  for (int round = 0; round < 300; ++round) {
    RecordingThread thread;
    ASSERT_EQ(1u, thread.Suspend());
    ASSERT_EQ(2u, thread.Resume());
    thread.Terminate(99);
    EXPECT_TRUE(thread.Wait(0)) << "round " << round;
    EXPECT_FALSE(thread.ran);
    EXPECT_EQ(99u, ExitCodeOf(thread));
  }
}

TEST(Thread, TerminateWhileRunning) {
  class BlockedThread : public QorOs::Thread {
  public:
    DWORD Run() override {
      SetEvent(started.get());
      WaitForSingleObject(never.get(), INFINITE);
      finished = true;
      return 7;
    }
    Qor::UniqueHandle started{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Qor::UniqueHandle never{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    volatile bool finished = false;
  } thread;
  thread.Resume();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.started.get(), 10000));
  thread.Terminate(98);
  EXPECT_EQ(WAIT_OBJECT_0, thread.Join());
  EXPECT_FALSE(thread.finished);
  EXPECT_EQ(98u, ExitCodeOf(thread));
}

TEST(Thread, AttachesToAnExistingThread) {
  QorOs::Thread current(GetCurrentThreadId());
  EXPECT_EQ(GetCurrentThreadId(), current.GetId());
  EXPECT_NE(nullptr, current.GetHandle());
  EXPECT_FALSE(current.Wait(0));

  try {
    QorOs::Thread missing(0xFFFFFFF0u);
    ADD_FAILURE() << "no error for a missing thread";
  } catch (QorError::Exception* error) {
    EXPECT_EQ(QorOs::kOpenThreadError, error->GetCode());
    auto* win32 = dynamic_cast<QorWin32::Win32Error*>(error);
    ASSERT_NE(nullptr, win32);
    EXPECT_NE(0u, win32->GetSystemCode());
    const std::wstring first =
        L"[Win32] [" + std::to_wstring(win32->GetSystemCode()) + L"] Invalid thread.\n";
    EXPECT_EQ(first, error->GetMessageText().substr(0, first.size()));
    delete error;
  }
}

TEST(Thread, DuplicateCurrentThreadHandleIsReal) {
  Qor::UniqueHandle handle(QorOs::Thread::DuplicateCurrentThreadHandle());
  ASSERT_TRUE(handle.valid());
  EXPECT_NE(GetCurrentThread(), handle.get());
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(handle.get(), &code));
  EXPECT_EQ(STILL_ACTIVE, code);
}
