// The parts of the platform interface that are the same on every system.
#include "platform.h"

namespace VtrPlatform {

std::u16string
CreateTemporaryBeside(const std::u16string& path,
                      const std::function<CreateResult(const std::u16string&)>& createNew) {
  for (int attempt = 0;; ++attempt) {
    // Sixteen hex digits: nobody can put a file or link there in advance.
    unsigned char bytes[8] = {};
    RandomBytes(bytes, sizeof bytes);
    std::u16string temporary = path + u".vtrpack-";
    for (unsigned char b : bytes) {
      temporary += u"0123456789abcdef"[b >> 4];
      temporary += u"0123456789abcdef"[b & 15];
    }
    temporary += u".tmp";
    const CreateResult result = createNew(temporary);
    if (result == CreateResult::Created) {
      return temporary;
    }
    if (result != CreateResult::Exists || attempt == 8) {
      Fail(SystemReason(u"cannot create a file beside ", path));
    }
  }
}

const char* InputFile::Map(std::size_t& size) {
  const std::uint64_t whole = Size();
  if (whole > SIZE_MAX) {
    Fail(u"cannot read " + Path() + u": it is larger than this program can map");
  }
  size = static_cast<std::size_t>(whole);
  return size == 0 ? "" : MapView(size);
}

} // namespace VtrPlatform
