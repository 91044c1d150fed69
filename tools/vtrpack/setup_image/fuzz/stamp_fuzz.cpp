// Fuzz target: any bytes as the base of a stamp, with and without branding.
// A refusal (StampError) is an answer; a crash, any other exception, memory
// beyond the fuzzer's limits or an output larger than the inputs explain is
// a fault.
#include "qor/setup_image/pe_resources.h"

#include <cstdlib>

namespace {

// Counts what the stamp writes, and checks that it only rewrites bytes it wrote.
class CountingOutput : public QorPe::StampOutput {
public:
  void Write(const unsigned char*, std::size_t size) override { written += size; }
  void WriteAt(std::uint64_t offset, const unsigned char*, std::size_t size) override {
    if (offset > written || size > written - offset) {
      std::abort();
    }
  }
  std::uint64_t written = 0;
};

// An icon of one 1x1 image: a 32-bit bitmap with its mask.
std::vector<unsigned char> OnePixelIcon() {
  std::vector<unsigned char> file(6 + 16 + 40 + 4 + 4);
  auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      file[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
  };
  put(2, 1, 2);            // an icon
  put(4, 1, 2);            // of one image
  put(6, 1, 1);            // 1 pixel wide
  put(7, 1, 1);            // and high
  put(10, 1, 2);           // one plane
  put(12, 32, 2);          // 32 bits a pixel
  put(14, 48, 4);          // its bytes
  put(18, 22, 4);          // where they are
  put(22, 40, 4);          // the bitmap's header size
  put(26, 1, 4);           // width
  put(30, 2, 4);           // height, the mask's included
  put(34, 1, 2);           // planes
  put(36, 32, 2);          // bits a pixel
  put(62, 0xFF3366CCu, 4); // the pixel
  return file;
}

const QorPe::Branding& Branded() {
  static const QorPe::Branding branding = [] {
    QorPe::Branding b;
    QorPe::SetTitle(b, u"Fuzzed Setup");
    QorPe::AddVersionString(b, u"ProductVersion=1.2.3.4");
    QorPe::AddVersionString(b, u"ProductName=Fuzzed");
    b.icon = QorPe::ReadIconFile(OnePixelIcon(), "fuzz.ico");
    return b;
  }();
  return branding;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const unsigned char payload[100] = {'B', 'Z', 'h', '9'};
  const QorPe::Branding plain;
  for (const QorPe::Branding* branding : {&plain, &Branded()}) {
    CountingOutput output;
    try {
      QorPe::StampPayload("base.exe", data, size, "payload.zuk", payload, sizeof payload, *branding,
                          output);
    } catch (const QorPe::StampError&) {
      continue;
    }
    // The base's bytes, its resources once more, the payload, and the new
    // tables with their alignment: never more.
    if (output.written > 2 * std::uint64_t{size} + sizeof payload + (4u << 20)) {
      std::abort();
    }
  }
  return 0;
}
