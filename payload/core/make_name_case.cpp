// Writes the case table of the entry-name rule (name_case.h) as C++ source:
// every UTF-16 code unit that has a simple uppercase mapping, with that
// mapping, in order. Taken at build time from the C library's Unicode case
// tables (its C.UTF-8 locale), which Debian keeps in step with Unicode; a
// build machine without them fails here rather than building a narrower
// rule.
//
//   make_name_case OUTPUT
#include <clocale>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int Fail(const std::string& text) {
  std::fprintf(stderr, "make_name_case: %s\n", text.c_str());
  return 1;
}

unsigned Upper(unsigned unit) {
  return static_cast<unsigned>(std::towupper(static_cast<std::wint_t>(unit)));
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    return Fail("usage: make_name_case OUTPUT");
  }
  if (!std::setlocale(LC_CTYPE, "C.UTF-8") && !std::setlocale(LC_CTYPE, "C.utf8")) {
    return Fail("the C library has no C.UTF-8 locale, whose case tables the name rule takes");
  }
  // Letters of several scripts: tables that lack any of them are not the
  // full mapping.
  const unsigned known[][2] = {{0x61, 0x41},   {0xE9, 0xC9},   {0x3AC, 0x386},
                               {0x461, 0x460}, {0x561, 0x531}, {0xFF41, 0xFF21}};
  for (const auto& pair : known) {
    if (Upper(pair[0]) != pair[1]) {
      return Fail("the C library's case tables lack letters that every Unicode version has");
    }
  }
  std::ostringstream table;
  std::size_t count = 0;
  for (unsigned unit = 0; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      continue; // halves of surrogate pairs: no case of their own
    }
    const unsigned upper = Upper(unit);
    if (upper == unit) {
      continue;
    }
    if (upper > 0xFFFF || (upper >= 0xD800 && upper <= 0xDFFF)) {
      return Fail("an upper case outside the basic multilingual plane");
    }
    char line[32];
    std::snprintf(line, sizeof line, "    {0x%04X, 0x%04X},\n", unit, upper);
    table << line;
    ++count;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << "// Made by make_name_case from the C library's Unicode case tables.\n"
         "#include \"name_case.h\"\n\n"
         "namespace QorArchiveFormat {\n"
         "namespace Detail {\n\n"
         "const CasePair kUpperCasePairs[] = {\n"
      << table.str()
      << "};\n"
         "const std::size_t kUpperCasePairCount = "
      << count
      << ";\n\n"
         "} // namespace Detail\n"
         "} // namespace QorArchiveFormat\n";
  out.close();
  if (!out) {
    return Fail(std::string("cannot write ") + argv[1]);
  }
  return 0;
}
