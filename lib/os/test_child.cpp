// A child program for the process tests: with an argument it exits at once
// with that code, otherwise it waits until it is ended.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc > 1) {
    return std::atoi(argv[1]);
  }
  Sleep(INFINITE);
  return 0;
}
