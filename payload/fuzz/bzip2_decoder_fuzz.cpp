// Fuzzes our bzip2 block decoder against libbz2, the reference: whatever
// the bytes, the sequential expansion and the block-parallel one (walking
// blocks two ways and one way) accept exactly what libbz2 accepts, with the
// same bytes, and refuse the rest with 21026. The input is a stream when it
// starts with "BZh"; otherwise its first byte picks the level and the rest
// follows a block marker, so that mutations land in the block.
#include "qor/payload_core/bzip2_core.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

struct Outcome {
  bool accepted = false;
  std::string output;
};

// Long runs expand a few bytes a thousandfold: neither side goes past this.
const std::size_t kMaxOutput = 64u << 20;

Outcome Reference(const std::string& stream) {
  Outcome outcome;
  bz_stream z;
  std::memset(&z, 0, sizeof(z));
  Require(BZ2_bzDecompressInit(&z, 0, 0) == BZ_OK);
  z.next_in = const_cast<char*>(stream.data());
  z.avail_in = static_cast<unsigned int>(stream.size());
  std::vector<char> piece(1 << 16);
  for (;;) {
    z.next_out = piece.data();
    z.avail_out = static_cast<unsigned int>(piece.size());
    const int result = BZ2_bzDecompress(&z);
    const std::size_t produced = piece.size() - z.avail_out;
    outcome.output.append(piece.data(), produced);
    if (result == BZ_STREAM_END) {
      outcome.accepted = true;
      break;
    }
    if (result != BZ_OK || produced == 0 || outcome.output.size() > kMaxOutput) {
      break;
    }
  }
  BZ2_bzDecompressEnd(&z);
  return outcome;
}

class StringSink : public QorPayload::ByteSink {
public:
  void Write(const char* data, std::size_t size) override {
    bytes.append(data, size);
    if (bytes.size() > kMaxOutput) {
      throw 0;
    }
  }
  std::string bytes;
};

class StringSource : public QorPayload::ByteSource {
public:
  explicit StringSource(const std::string& bytes) : bytes_(bytes) {}
  std::size_t Read(char* buffer, std::size_t size) override {
    const std::size_t take = std::min<std::size_t>({size, bytes_.size() - at_, 1000});
    bytes_.copy(buffer, take, at_);
    at_ += take;
    return take;
  }

private:
  const std::string& bytes_;
  std::size_t at_ = 0;
};

// threads 0: sequential. Returns false when the output grew too long.
bool Ours(const std::string& stream, unsigned threads, Outcome& outcome) {
  StringSink sink;
  try {
    if (threads == 0) {
      StringSource source(stream);
      QorCompressLib::ExpandBzip2(source, sink);
    } else {
      QorCompressLib::ExpandBzip2Blocks(stream.data(), stream.size(), sink, nullptr, nullptr, 0,
                                        threads);
    }
    outcome.accepted = true;
  } catch (QorPayload::Error* error) {
    Require(error->GetCode() == QorCompressLib::kStreamEndMissing);
    delete error;
  } catch (int) {
    return false;
  }
  outcome.output = sink.bytes;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string stream(reinterpret_cast<const char*>(data), size);
  if (stream.compare(0, 3, "BZh") != 0) {
    if (size == 0) {
      return 0;
    }
    stream = std::string("BZh") + static_cast<char>('1' + data[0] % 9) +
             "\x31\x41\x59\x26\x53\x59" + stream.substr(1);
  }
  const Outcome expected = Reference(stream);
  if (expected.output.size() > kMaxOutput) {
    return 0;
  }
  for (unsigned threads : {0u, 1u, 2u, 5u}) {
    Outcome got;
    if (!Ours(stream, threads, got)) {
      return 0;
    }
    Require(got.accepted == expected.accepted);
    Require(!got.accepted || got.output == expected.output);
  }
  return 0;
}
