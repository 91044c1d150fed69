// Block-parallel bzip2 compression: each piece of data is compressed as a
// stream of its own (one block), by our block encoder or, for the blocks it
// leaves to libbz2, by libbz2, and that block's bits are copied into the
// joined stream (bzip2_format.h).
#include "qor/payload_core/bzip2_core.h"

#include "bzip2_block_encoder.h"
#include "bzip2_format.h"
#include "bzip2_stream.h"
#include "pack_threads.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace QorCompressLib {

namespace {

const int kBlockSize100k = 9;
const int kWorkFactor = 30;
// libbz2's fill limit for a block of 900 kB (its nblockMAX).
const std::uint32_t kBlockLimit = 100000 * kBlockSize100k - 19;
// Data read ahead of the written output, the piece being filled included
// (one piece alone may pass it: long runs make pieces of up to about 46 MB).
// With 6.3 MB of block encoder state per thread (and libbz2's 7.6 MB
// more while it compresses a repeating block) this keeps the whole near
// 10 MB per thread.
const std::size_t kInFlightBudget = 24u << 20;
const std::size_t kSinkPiece = 1u << 20;
using QorBzip2Format::kHeaderBits;
using QorBzip2Format::kMarkerBits;

[[noreturn]] void RaiseFailure(const char16_t* what) {
  QorPayload::RaiseError(kParallelCompressError, what);
}

// Where libbz2, given all the data in one call, ends each block. It stores
// the data run-length coded (runs of 4 to 255 equal bytes take 5 bytes) and
// ends a block once the coded runs reach its fill limit; the run that has
// just begun then opens the next block, unless it is the data's last byte.
class BlockCutter {
public:
  // Takes bytes until one starts a new block, and returns its index (that
  // byte then belongs to the new block), or size. endsData: the data's last
  // byte is the last of these.
  std::size_t FindStart(const unsigned char* bytes, std::size_t size, bool endsData) {
    std::uint32_t coded = coded_;
    unsigned char byte = byte_;
    std::uint32_t length = length_;
    std::size_t i = 0;
    for (; i < size; ++i) {
      const unsigned char next = bytes[i];
      if (length != 0 && next == byte && length < 255) {
        ++length;
        continue;
      }
      if (length != 0) {
        coded += length < 4 ? length : 5;
        if (coded >= kBlockLimit && !(endsData && i + 1 == size)) {
          coded = 0;
          byte = next;
          length = 1;
          break;
        }
      }
      byte = next;
      length = 1;
    }
    coded_ = coded;
    byte_ = byte;
    length_ = length;
    return i;
  }

private:
  std::uint32_t coded_ = 0; // run-length coded bytes of finished runs
  unsigned char byte_ = 0;
  std::uint32_t length_ = 0; // the open run
};

// The data of one block, kept in chunks of 1 MB: long runs make pieces of up
// to about 46 MB, which would otherwise be copied and over-allocated as they
// grow.
const std::size_t kChunk = 1u << 20;

struct Piece {
  std::vector<std::string> chunks;
  std::size_t size = 0;
  std::string compressed;
  bool failed = false;
  std::u16string failure;
  QorPackThreads::Semaphore done;

  void Append(const char* bytes, std::size_t count) {
    while (count > 0) {
      if (chunks.empty() || chunks.back().size() == kChunk) {
        chunks.emplace_back();
        chunks.back().reserve(kChunk);
      }
      const std::size_t take = std::min(count, kChunk - chunks.back().size());
      chunks.back().append(bytes, take);
      bytes += take;
      count -= take;
      size += take;
    }
  }
  void Clear() {
    std::vector<std::string>().swap(chunks);
    std::string().swap(compressed);
    size = 0;
  }
};

class CompressingStream {
public:
  explicit CompressingStream(Bzip2Memory& memory)
      : holder_(Bzip2Stream::kCompress), stream_(holder_.get()) {
    memory.Serve(stream_);
    started_ = BZ2_bzCompressInit(&stream_, kBlockSize100k, 0, kWorkFactor) == BZ_OK;
  }
  CompressingStream(const CompressingStream&) = delete;
  CompressingStream& operator=(const CompressingStream&) = delete;
  bool started() const { return started_; }

  // Feeds size bytes (BZ_RUN) or the last ones (BZ_FINISH); false on a
  // libbz2 failure.
  bool Feed(const char* data, std::size_t size, int action, std::string& out) {
    if (size == 0 && action == BZ_RUN) {
      return true; // libbz2 reports a run step without input as an error
    }
    stream_.next_in = const_cast<char*>(data);
    stream_.avail_in = static_cast<unsigned int>(size);
    char buffer[1 << 16];
    for (;;) {
      stream_.next_out = buffer;
      stream_.avail_out = sizeof buffer;
      const int result = BZ2_bzCompress(&stream_, action);
      out.append(buffer, sizeof buffer - stream_.avail_out);
      if (result < 0) {
        return false;
      }
      if (action == BZ_FINISH ? result == BZ_STREAM_END : stream_.avail_in == 0) {
        return true;
      }
    }
  }

private:
  Bzip2Stream holder_;
  bz_stream& stream_;
  bool started_;
};

// Compresses the piece as a stream of its own with libbz2. All but the last
// byte go in the run mode and the last byte finishes the stream, which
// gives the same block as libbz2 given the piece in one call: the block's
// fill limit is reached, if at all, only with the last byte.
bool CompressPieceWithLibbz2(Piece& piece) {
  // The blocks left to libbz2 are few: its memory is not kept for the next.
  Bzip2Memory memory;
  CompressingStream stream(memory);
  bool ok = stream.started();
  for (std::size_t i = 0; ok && i < piece.chunks.size(); ++i) {
    const std::string& chunk = piece.chunks[i];
    const bool last = i + 1 == piece.chunks.size();
    ok = stream.Feed(chunk.data(), chunk.size() - (last ? 1 : 0), BZ_RUN, piece.compressed);
    if (ok && last) {
      ok = stream.Feed(chunk.data() + chunk.size() - 1, 1, BZ_FINISH, piece.compressed);
    }
  }
  return ok;
}

// Compresses the piece as a stream of its own: with our block encoder,
// which makes libbz2's bytes, or with libbz2 for the blocks the encoder
// leaves to it. The piece's data goes as soon as it is compressed; the
// compressed block (at most about the block size, however long the piece)
// is made room for once.
void CompressPiece(Piece& piece, Bzip2BlockEncoder& encoder) {
  try {
    piece.compressed.reserve(kBlockLimit + kBlockLimit / 100 + 1024);
    encoder.Reset();
    for (const std::string& chunk : piece.chunks) {
      encoder.Add(reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size());
    }
    const bool ok = encoder.Finish(piece.compressed) == Bzip2BlockEncoder::kEncoded ||
                    CompressPieceWithLibbz2(piece);
    std::vector<std::string>().swap(piece.chunks);
    if (ok) {
      return;
    }
    piece.failure = u"The payload could not be compressed.";
  } catch (const std::bad_alloc&) {
    piece.failure = u"Not enough memory to compress the payload.";
  }
  piece.failed = true;
}

} // namespace

struct ParallelBzip2Compressor::State {
  State(QorPayload::ByteSink& target, unsigned threadCount, std::uint64_t total)
      : sink(target), writer(output), totalSize(total), threads(threadCount) {}

  QorPayload::ByteSink& sink;
  // The joined stream's whole bytes not yet given to the sink.
  std::vector<unsigned char> output;
  QorBzip2Format::BitWriter writer;
  std::uint64_t totalSize;
  std::uint64_t received = 0;
  unsigned threads;
  BlockCutter cutter;
  std::uint32_t combinedCrc = 0;
  Bzip2BlockEncoder encoder; // of the calling thread, when it compresses alone

  // Pieces in a ring, filled, compressed and joined in order.
  std::vector<std::unique_ptr<Piece>> ring;
  std::uint64_t submitted = 0; // pieces handed to the compressing threads
  std::uint64_t joined = 0;    // pieces copied into the output
  std::size_t inFlight = 0;    // data bytes of pieces submitted, not joined

  QorPackThreads::Mutex mutex;
  QorPackThreads::Semaphore queued; // one post per submitted piece or stop
  std::uint64_t taken = 0;          // guarded by mutex
  bool stopping = false;            // guarded by mutex
  QorPackThreads::ThreadGroup workers;

  Piece& Current() { return *ring[submitted % ring.size()]; }

  void Work() {
    Bzip2BlockEncoder encoder;
    for (;;) {
      queued.Wait();
      std::uint64_t index;
      {
        QorPackThreads::MutexLock lock(mutex);
        if (stopping) {
          return;
        }
        index = taken++;
      }
      Piece& piece = *ring[index % ring.size()];
      CompressPiece(piece, encoder);
      piece.done.Post();
    }
  }

  void Stop() {
    {
      QorPackThreads::MutexLock lock(mutex);
      stopping = true;
    }
    for (std::size_t i = 0; i < workers.size(); ++i) {
      queued.Post();
    }
    workers.Join();
  }

  void Submit() {
    Piece& piece = Current();
    inFlight += piece.size;
    ++submitted;
    if (workers.empty()) {
      CompressPiece(piece, encoder);
      piece.done.Post();
      JoinOldest();
    } else {
      queued.Post();
    }
    // The next piece's slot must be free, and the data ahead bounded.
    while (submitted - joined >= ring.size() ||
           (submitted > joined && inFlight >= kInFlightBudget)) {
      JoinOldest();
    }
  }

  void JoinOldest() {
    Piece& piece = *ring[joined % ring.size()];
    piece.done.Wait();
    if (piece.failed) {
      RaiseFailure(piece.failure.c_str());
    }
    AppendBlock(piece.compressed);
    inFlight -= piece.size;
    ++joined;
    piece.Clear();
  }

  // Copies the one block of a single-block stream.
  void AppendBlock(const std::string& stream) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    const std::uint64_t bits = static_cast<std::uint64_t>(stream.size()) * 8;
    if (stream.size() < 4 + 10 + 10 || QorBzip2Format::ReadLevel(bytes, stream.size()) == 0 ||
        QorBzip2Format::ReadBits(bytes, kHeaderBits, kMarkerBits) != QorBzip2Format::kBlockMarker) {
      RaiseFailure(u"The compressor made a block it cannot join.");
    }
    const std::uint32_t blockCrc = QorBzip2Format::ReadBits32(bytes, kHeaderBits + kMarkerBits);
    // The end marker and CRC end 0 to 7 zero padding bits before the end.
    std::uint64_t end = 0;
    int found = 0;
    for (int pad = 0; pad < 8; ++pad) {
      const std::uint64_t at = bits - pad - kMarkerBits - 32;
      if (QorBzip2Format::ReadBits(bytes, bits - pad, pad) == 0 &&
          QorBzip2Format::ReadBits(bytes, at, kMarkerBits) == QorBzip2Format::kEndMarker &&
          QorBzip2Format::ReadBits32(bytes, at + kMarkerBits) == blockCrc) {
        end = at;
        ++found;
      }
    }
    if (found != 1) {
      RaiseFailure(u"The compressor made a block it cannot join.");
    }
    writer.CopyBits(bytes, stream.size(), kHeaderBits, end - kHeaderBits);
    combinedCrc = QorBzip2Format::CombineCrc(combinedCrc, blockCrc);
    if (output.size() >= kSinkPiece) {
      Flush();
    }
  }

  void Flush() {
    if (!output.empty()) {
      sink.Write(reinterpret_cast<const char*>(output.data()), output.size());
      output.clear();
    }
  }
};

ParallelBzip2Compressor::ParallelBzip2Compressor(QorPayload::ByteSink& sink, unsigned threads,
                                                 std::uint64_t totalSize)
    : state_(new State(sink,
                       threads < 1             ? 1
                       : threads > kMaxThreads ? kMaxThreads
                                               : threads,
                       totalSize)) {
  State& s = *state_;
  const std::size_t slots = s.threads == 1 ? 1 : 2 * s.threads;
  for (std::size_t i = 0; i < slots; ++i) {
    s.ring.emplace_back(new Piece);
  }
  if (s.threads > 1) {
    s.workers.Start(s.threads, [&s] { s.Work(); });
  }
  s.writer.PutHeader(kBlockSize100k);
}

ParallelBzip2Compressor::~ParallelBzip2Compressor() {
  state_->Stop();
}

void ParallelBzip2Compressor::Write(const char* data, std::size_t size) {
  State& s = *state_;
  if (size > s.totalSize - s.received) {
    RaiseFailure(u"The payload's data is longer than announced.");
  }
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  const bool endsData = s.received + size == s.totalSize;
  std::size_t start = 0;
  for (std::size_t i = 0; i < size;) {
    i += s.cutter.FindStart(bytes + i, size - i, endsData);
    if (i == size) {
      break;
    }
    s.Current().Append(data + start, i - start);
    s.Submit();
    start = i++;
  }
  s.Current().Append(data + start, size - start);
  s.received += size;
  // The piece being filled counts against the data in flight too.
  while (s.submitted > s.joined && s.inFlight + s.Current().size >= kInFlightBudget) {
    s.JoinOldest();
  }
}

void ParallelBzip2Compressor::Finish() {
  State& s = *state_;
  if (s.received != s.totalSize) {
    RaiseFailure(u"The payload's data is shorter than announced.");
  }
  if (s.Current().size != 0) {
    s.Submit();
  }
  while (s.joined < s.submitted) {
    s.JoinOldest();
  }
  s.writer.PutEnd(s.combinedCrc);
  s.writer.Finish();
  s.Flush();
}

} // namespace QorCompressLib
