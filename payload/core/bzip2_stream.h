// The owner of one libbz2 stream: zeroed until its user starts it, ended
// with the function of its direction on every way out. Ending a stream that
// never started (or failed to) does nothing, so the user decides alone what
// a failed start means.
#pragma once

#include <bzlib.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace QorCompressLib {

class Bzip2Stream {
public:
  enum Direction { kCompress, kDecompress };

  explicit Bzip2Stream(Direction direction) : direction_(direction) {
    std::memset(&stream_, 0, sizeof(stream_));
  }
  ~Bzip2Stream() {
    if (direction_ == kCompress) {
      BZ2_bzCompressEnd(&stream_);
    } else {
      BZ2_bzDecompressEnd(&stream_);
    }
  }
  Bzip2Stream(const Bzip2Stream&) = delete;
  Bzip2Stream& operator=(const Bzip2Stream&) = delete;
  bz_stream& get() { return stream_; }

private:
  Direction direction_;
  bz_stream stream_;
};

// The memory of one thread's libbz2 streams, kept from stream to stream:
// libbz2 takes megabytes for each stream (7.6 MB to compress a level-9
// block; the block-parallel compressor still gives it the blocks its own
// encoder leaves) and frees them at its end, and a stream per block made
// the allocator hand that memory back to the system after each block and
// fault it in again for the next. Blocks of a size are handed out again
// once their stream has ended.
class Bzip2Memory {
public:
  Bzip2Memory() = default;
  Bzip2Memory(const Bzip2Memory&) = delete;
  Bzip2Memory& operator=(const Bzip2Memory&) = delete;
  ~Bzip2Memory() {
    for (const Block& block : blocks_) {
      std::free(block.data);
    }
  }

  // Makes stream (not started yet) take its memory from here.
  void Serve(bz_stream& stream) {
    stream.bzalloc = &Allocate;
    stream.bzfree = &Release;
    stream.opaque = this;
  }

private:
  struct Block {
    void* data;
    std::size_t size;
    bool used;
  };

  // Called by libbz2 (C): nothing may be thrown from here.
  static void* Allocate(void* self, int items, int size) {
    Bzip2Memory& memory = *static_cast<Bzip2Memory*>(self);
    const std::size_t bytes = static_cast<std::size_t>(items) * static_cast<std::size_t>(size);
    for (Block& block : memory.blocks_) {
      if (!block.used && block.size == bytes) {
        block.used = true;
        return block.data;
      }
    }
    void* data = std::malloc(bytes);
    if (data) {
      try {
        memory.blocks_.push_back(Block{data, bytes, true});
      } catch (const std::bad_alloc&) {
        std::free(data);
        return nullptr;
      }
    }
    return data;
  }

  static void Release(void* self, void* data) {
    for (Block& block : static_cast<Bzip2Memory*>(self)->blocks_) {
      if (block.data == data) {
        block.used = false;
        return;
      }
    }
  }

  std::vector<Block> blocks_;
};

} // namespace QorCompressLib
