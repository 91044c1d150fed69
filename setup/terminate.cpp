// What the launcher does when an exception escapes everything: end at once.
// The C++ runtime's default handler first prints the exception's demangled
// type to the error output, which a GUI program does not have; it also
// brings the whole name demangler (some 45 kB) into the program.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
} // namespace __gnu_cxx
