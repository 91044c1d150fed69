// Test data made of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace QorTest {

// Bytes that bzip2 cannot shrink, so that expanding them takes a while; the
// same seed gives the same bytes.
inline std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

} // namespace QorTest
