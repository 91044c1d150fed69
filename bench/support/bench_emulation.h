// Timings of a 32-bit program that runs under processor emulation measure
// the emulator, not the code.
#pragma once

#include <windows.h>

#include <cstdio>

namespace QorBench {

// True when this program runs under processor emulation: scripts/wine-run
// says so (VELTRANO_X86_EMULATION) for 32-bit programs on a host whose kernel
// cannot run them and that runs them under qemu-i386 instead.
inline bool RunsUnderEmulation() {
  wchar_t value[64];
  return sizeof(void*) == 4 &&
         GetEnvironmentVariableW(L"VELTRANO_X86_EMULATION", value, ARRAYSIZE(value)) > 0;
}

inline void SayEmulated(const char* program, const char* consequence) {
  std::fprintf(stderr,
               "%s: this 32-bit program runs under processor emulation (qemu-i386): its timings "
               "would measure the emulator, not the code, so %s. Measure the 64-bit flavour "
               "(build64/) on this host.\n",
               program, consequence);
}

// Called first by a benchmark whose figures are timings: under emulation it
// says why and returns true, and the benchmark ends without a figure.
inline bool RefuseEmulatedFigures(const char* program) {
  if (!RunsUnderEmulation()) {
    return false;
  }
  SayEmulated(program, "it reports none");
  return true;
}

} // namespace QorBench
