// Writes reproducible filler files for sample and benchmark payloads:
//   make_sample_data text FILE BYTES     English-like words (compresses ~3:1)
//   make_sample_data binary FILE BYTES   pseudo-random bytes (incompressible)
//   make_sample_data zeros FILE BYTES    zero bytes (compresses to almost nothing)
// The same arguments always give the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::uint32_t state = 0x12345678u;

std::uint32_t Next() {
  // xorshift32: fast and the same everywhere
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return state;
}

const char* const kWords[] = {
    "the",       "setup",   "extracts", "files",   "needed",   "for",     "installation",
    "veltrano",  "product", "folder",   "archive", "progress", "window",  "temporary",
    "installer", "starts",  "and",      "waits",   "until",    "it",      "ends",
    "then",      "removes", "every",    "file",    "of",       "payload", "bzip2",
    "stream",    "entry",   "name",     "size",    "offset",   "bytes",   "memory",
    "a",         "in",      "to",       "is",      "with",     "when",    "system",
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_sample_data text|binary|zeros FILE BYTES\n");
    return 2;
  }
  const std::string kind = argv[1];
  const unsigned long long total = std::strtoull(argv[3], nullptr, 10);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "make_sample_data: cannot write %s\n", argv[2]);
    return 1;
  }
  std::string block;
  unsigned long long written = 0;
  const std::size_t words = sizeof kWords / sizeof kWords[0];
  int column = 0;
  while (written < total) {
    block.clear();
    while (block.size() < 65536) {
      if (kind == "text") {
        const char* word = kWords[Next() % words];
        block += word;
        column += static_cast<int>(std::strlen(word)) + 1;
        if (column > 70) {
          block += ".\r\n";
          column = 0;
        } else {
          block += ' ';
        }
      } else if (kind == "binary") {
        std::uint32_t v = Next();
        block.append(reinterpret_cast<const char*>(&v), 4);
      } else {
        block.append(4096, '\0');
      }
    }
    std::size_t n =
        static_cast<std::size_t>(std::min<unsigned long long>(block.size(), total - written));
    if (std::fwrite(block.data(), 1, n, out) != n) {
      std::fclose(out);
      return 1;
    }
    written += n;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
