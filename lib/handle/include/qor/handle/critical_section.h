// The lock of the win32 thread model, which has no std::mutex: a critical
// section, a scope that holds it and one that lets it go for a while.
#pragma once

#include <windows.h>

namespace Qor {

class CriticalSection {
public:
  CriticalSection() { ::InitializeCriticalSection(&section_); }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }

private:
  CRITICAL_SECTION section_;
};

class Locked {
public:
  explicit Locked(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~Locked() { section_.Leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

private:
  CriticalSection& section_;
};

// The opposite of Locked, for work done without the lock inside a locked scope.
class Unlocked {
public:
  explicit Unlocked(CriticalSection& section) : section_(section) { section_.Leave(); }
  ~Unlocked() { section_.Enter(); }
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;

private:
  CriticalSection& section_;
};

} // namespace Qor
