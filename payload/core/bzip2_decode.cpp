#include "bzip2_decode.h"

#include "qor/payload_core/bzip2_core.h"

#include "bzip2_block_decoder.h"
#include "bzip2_format.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace QorCompressLib {

namespace {

using QorBzip2Format::kMarkerBits;

[[noreturn]] void RaiseStreamEndMissing() {
  QorPayload::RaiseError(kStreamEndMissing, kStreamEndMissingText);
}

const std::size_t kPiece = 1 << 16;

// A block's bits are first looked for this far ahead (its usual largest
// size, and its marker), and further only when it goes on.
std::uint64_t UsualBlockBytes(int level) {
  return QorBzip2Format::MaxBlockBits(level) / 8 + 16;
}

// The whole stream in memory.
class MemoryInput {
public:
  MemoryInput(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
  // Makes the bytes before byte offset end available, as far as there are.
  void Want(std::uint64_t) {}
  void Drop(std::uint64_t) {}
  bool Ended() const { return true; }
  const unsigned char* Data() const { return data_; }
  std::uint64_t First() const { return 0; }
  std::size_t Size() const { return size_; }

private:
  const unsigned char* data_;
  std::size_t size_;
};

// A window of a stream read piece by piece: the bytes from First() on,
// Size() of them.
class SourceInput {
public:
  explicit SourceInput(QorPayload::ByteSource& source)
      : source_(source), piece_(new char[kPiece]) {}
  void Want(std::uint64_t end) {
    while (!ended_ && first_ + window_.size() < end) {
      const std::size_t got = source_.Read(piece_.get(), kPiece);
      window_.insert(window_.end(), piece_.get(), piece_.get() + got);
      ended_ = got == 0;
    }
  }
  // Lets go of the bytes before byte offset before.
  void Drop(std::uint64_t before) {
    const std::size_t gone = static_cast<std::size_t>(before - first_);
    if (gone >= kPiece && gone * 2 >= window_.size()) {
      window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(gone));
      first_ = before;
    }
  }
  bool Ended() const { return ended_; }
  const unsigned char* Data() const { return window_.data(); }
  std::uint64_t First() const { return first_; }
  std::size_t Size() const { return window_.size(); }

private:
  QorPayload::ByteSource& source_;
  std::unique_ptr<char[]> piece_;
  std::vector<unsigned char> window_;
  std::uint64_t first_ = 0;
  bool ended_ = false;
};

// One stream from start to end: the output after its first skip bytes goes
// to sink.
template <class Input>
void Expand(Input& input, std::uint64_t skip, QorPayload::ByteSink& sink, ProgressSteps* progress) {
  input.Want(4);
  const int level = QorBzip2Format::ReadLevel(input.Data(), input.Size());
  if (level == 0) {
    RaiseStreamEndMissing();
  }
  std::unique_ptr<Bzip2BlockDecoder> decoder(new Bzip2BlockDecoder(true));
  std::unique_ptr<unsigned char[]> piece(new unsigned char[kPiece]);
  std::uint64_t position = QorBzip2Format::kHeaderBits;
  std::uint32_t combined = 0;
  for (;;) {
    const std::uint64_t headerEnd = position + kMarkerBits + 32;
    input.Want((headerEnd + 7) / 8);
    const std::uint64_t firstBit = input.First() * 8;
    if (headerEnd > firstBit + static_cast<std::uint64_t>(input.Size()) * 8) {
      RaiseStreamEndMissing();
    }
    const std::uint64_t marker =
        QorBzip2Format::ReadBits(input.Data(), position - firstBit, kMarkerBits);
    if (marker == QorBzip2Format::kEndMarker) {
      if (QorBzip2Format::ReadBits32(input.Data(), position + kMarkerBits - firstBit) != combined) {
        RaiseStreamEndMissing();
      }
      if (progress) {
        progress->Report((headerEnd + 7) / 8);
      }
      return;
    }
    if (marker != QorBzip2Format::kBlockMarker) {
      RaiseStreamEndMissing();
    }
    std::uint64_t reach = UsualBlockBytes(level);
    Bzip2BlockDecoder::Status status;
    for (;;) {
      input.Want(position / 8 + reach);
      const std::uint64_t limit = static_cast<std::uint64_t>(input.Size()) * 8;
      status = decoder->Read(input.Data(), input.Size(), position + kMarkerBits - firstBit, limit,
                             level);
      if (status != Bzip2BlockDecoder::kShort || input.Ended()) {
        break;
      }
      reach *= 2;
    }
    if (status != Bzip2BlockDecoder::kRead) {
      RaiseStreamEndMissing();
    }
    position = decoder->EndBit() + firstBit;
    if (progress) {
      progress->Report((position + 7) / 8);
    }
    while (const std::size_t produced = decoder->Produce(piece.get(), kPiece)) {
      const std::size_t dropped = static_cast<std::size_t>(std::min<std::uint64_t>(skip, produced));
      skip -= dropped;
      if (produced > dropped) {
        sink.Write(reinterpret_cast<const char*>(piece.get()) + dropped, produced - dropped);
      }
    }
    if (!decoder->Good()) {
      RaiseStreamEndMissing();
    }
    combined = QorBzip2Format::CombineCrc(combined, decoder->StoredCrc());
    input.Drop(position / 8);
  }
}

} // namespace

void ExpandBzip2(QorPayload::ByteSource& source, QorPayload::ByteSink& sink) {
  SourceInput input(source);
  Expand(input, 0, sink, nullptr);
}

void ExpandBzip2Memory(const unsigned char* data, std::size_t size, std::uint64_t skip,
                       QorPayload::ByteSink& sink, ProgressSteps& progress) {
  MemoryInput input(data, size);
  Expand(input, skip, sink, &progress);
}

} // namespace QorCompressLib
