// The benchmarks' clock: the performance counter, in seconds.
#pragma once

#include <windows.h>

namespace QorBench {

// A performance-counter value (this process's or one another process
// reported) in seconds.
inline double CounterSeconds(LONGLONG counts) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counts) / static_cast<double>(frequency.QuadPart);
}

inline double Now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return CounterSeconds(counter.QuadPart);
}

} // namespace QorBench
