#include "qor/setup/state.h"

#include <optional>

namespace QorSetup {

// Shared between the threads without a lock: each must be a plain
// instruction on this processor, never a call into a locking runtime.
static_assert(std::atomic<double>::is_always_lock_free, "progress must be lock-free");
static_assert(std::atomic<bool>::is_always_lock_free, "stop request must be lock-free");
static_assert(std::atomic<WorkerOutcome>::is_always_lock_free, "outcome must be lock-free");
static_assert(std::atomic<wchar_t*>::is_always_lock_free, "failure text must be lock-free");

bool RunPhase::Start() {
  if (phase_ != Phase::Starting) {
    return false;
  }
  phase_ = Phase::Extracting;
  return true;
}

void RunPhase::FailureBoxOpened() {
  phase_ = Phase::FailureBoxOpen;
}

bool RunPhase::FailureBoxClosed() {
  phase_ = Phase::Failed;
  const bool heldBack = completionHeldBack_;
  completionHeldBack_ = false;
  return heldBack;
}

Completion RunPhase::OnCompletion(WorkerOutcome outcome, bool failureNoteQueued) {
  // Before the worker has finished, a completion note is forged: starting
  // the installer then would run it before its files are written.
  if (outcome == WorkerOutcome::Running || phase_ == Phase::Installing || phase_ == Phase::Ending) {
    return Completion::Ignore;
  }
  // The worker's failure note may still be queued behind a forged completion
  // note: the box comes first, then this note again.
  if (phase_ == Phase::FailureBoxOpen || (outcome == WorkerOutcome::Failed && failureNoteQueued)) {
    completionHeldBack_ = true;
    return Completion::HoldBack;
  }
  const bool failureShown = phase_ == Phase::Failed;
  if (outcome == WorkerOutcome::Succeeded) {
    phase_ = Phase::Installing;
    return Completion::StartInstaller;
  }
  phase_ = Phase::Ending;
  return outcome == WorkerOutcome::Failed && !failureShown ? Completion::ReportAndQuit
                                                           : Completion::CleanUpAndQuit;
}

namespace {

std::optional<SetupShell>& Storage() {
  static std::optional<SetupShell> shell(std::in_place);
  return shell;
}

} // namespace

SetupShell& Shell() {
  return *Storage();
}

void ResetShell() {
  Storage().emplace();
}

} // namespace QorSetup
