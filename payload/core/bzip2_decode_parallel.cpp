// Block-parallel bzip2 expansion: the blocks are found by their markers
// (bzip2_format.h) and decoded each on its own (bzip2_block_decoder.h) on a pool of
// threads, a few blocks ahead of the one the stream has reached; the calling
// thread checks each block's place in the chain and hands the output on in
// order. A marker pattern inside a block's data only costs a second try;
// a block with more of them than it is worth trying goes to the sequential
// decoder, which then expands the rest of the stream.
#include "qor/payload_core/bzip2_core.h"

#include "bzip2_block_decoder.h"
#include "bzip2_decode.h"
#include "bzip2_format.h"
#include "pack_threads.h"
#include "progress_steps.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <exception>
#include <list>
#include <memory>
#include <new>
#include <vector>

namespace QorCompressLib {

using QorBzip2Format::Marker;
using QorPackThreads::MutexLock;
using QorPackThreads::MutexUnlock;

namespace {

// A block's output up to this size is kept until its turn comes; a larger
// one (long runs expand a block to up to 46 MB) is only checked ahead and
// decoded again, straight to the sink, when its turn comes.
const std::size_t kKeptOutput = 2 * 1024 * 1024;
const std::size_t kPieceSize = 256 * 1024;
// How far ahead the marker search goes in one step.
const std::uint64_t kScanStepBits = 8ull * 1024 * 1024;
// How many later markers are tried as the end of a block that did not end
// at the first one (a marker pattern inside a block's data); with more, the
// rest of the stream is expanded sequentially.
const unsigned kMaxEndTries = 32;
// Up to this many threads, each decoder walks its blocks two ways at once
// (bzip2_block_decoder.h): with more, their memory would pass the bound of
// ExpandBzip2Blocks.
const unsigned kMaxTwoWayThreads = 4;
// The markers behind the stream's position are let go in batches of this many.
const std::size_t kMarkersKeptBehind = 4096;

[[noreturn]] void RaiseStreamEndMissing() {
  QorPayload::RaiseError(kStreamEndMissing, kStreamEndMissingText);
}

// No block is looked for beyond MaxBlockBits, so a block's decoding stays
// within a few megabytes whatever the input.
using QorBzip2Format::MaxBlockBits;

// What one decoding thread reuses from block to block: the decoder's
// memory (4.5 MB at level 9, 8.1 MB when it walks two ways) and the output
// piece. Allocating them afresh for every block costs page faults that,
// with several threads, wait on each other in the system.
struct Scratch {
  explicit Scratch(bool twoWays) : decoder(twoWays), piece(new unsigned char[kPieceSize]) {}

  Bzip2BlockDecoder decoder;
  std::unique_ptr<unsigned char[]> piece;
};

// Decodes the block in bits [startBit, endBit), giving each piece of output
// to take (which returns false to stop). True when the block decoded whole
// with a matching checksum and ended exactly at endBit; the output given
// before a false result is not to be trusted.
template <class Take>
bool DecodeBlock(const unsigned char* data, std::size_t size, int level, std::uint64_t startBit,
                 std::uint64_t endBit, Scratch& scratch, Take take) {
  Bzip2BlockDecoder& decoder = scratch.decoder;
  if (decoder.Read(data, size, startBit + QorBzip2Format::kMarkerBits, endBit, level) !=
          Bzip2BlockDecoder::kRead ||
      decoder.EndBit() != endBit) {
    return false;
  }
  char* const piece = reinterpret_cast<char*>(scratch.piece.get());
  while (const std::size_t produced = decoder.Produce(scratch.piece.get(), kPieceSize)) {
    if (!take(piece, produced)) {
      return false;
    }
  }
  return decoder.Good();
}

// A block decoded ahead. Its state, and the list it lies in, are guarded by
// the decoder's lock; the results (valid to kept) belong to the thread that
// decodes it while it runs, and are read by others only once it is done.
struct BlockTask {
  enum State { kQueued, kRunning, kDone };
  std::uint64_t startBit;
  std::uint64_t endBit;
  State state = kQueued;
  // Set under the lock, read by the decoding thread without it.
  std::atomic<bool> cancelled{false};
  bool valid = false;
  bool outOfMemory = false;
  // The output did not fit into kept: decode again when handing on.
  bool replay = false;
  std::uint64_t outputSize = 0;
  std::vector<char> kept;
};

// What the decoding threads wait on; made only when there are threads.
struct Signals {
  QorPackThreads::Event wake;
  QorPackThreads::Event finished;
};

class BlockDecoder {
public:
  BlockDecoder(const unsigned char* data, std::size_t size, int level, unsigned threads)
      : data_(data), size_(size), totalBits_(static_cast<std::uint64_t>(size) * 8), level_(level),
        maxBlockBits_(MaxBlockBits(level)), twoWays_(threads <= kMaxTwoWayThreads),
        scratch_(twoWays_) {
    // Without the threads' events (the system has none left) the calling
    // thread decodes alone, as it does when no thread can be started.
    if (threads > 1) {
      try {
        signals_.reset(new Signals);
      } catch (...) {
        threads = 1;
      }
    }
    window_ = threads + std::min(threads, 4u) + 1;
    if (signals_) {
      // The calling thread decodes too: threads - 1 more. Nothing may throw
      // once a thread runs, as the destructor that ends it would not run.
      workers_.Start(threads - 1, [this] { WorkerMain(); });
    }
  }

  ~BlockDecoder() { StopWorkers(); }

  BlockDecoder(const BlockDecoder&) = delete;
  BlockDecoder& operator=(const BlockDecoder&) = delete;

  void Run(QorPayload::ByteSink& sink, ProgressSteps& progress) {
    std::uint64_t position = QorBzip2Format::kHeaderBits;
    std::uint32_t combined = 0;
    for (;;) {
      Marker marker;
      if (!MarkerAt(position, marker)) {
        RaiseStreamEndMissing();
      }
      if (marker.end) {
        if (position + QorBzip2Format::kMarkerBits + 32 > totalBits_ ||
            QorBzip2Format::ReadBits32(data_, position + QorBzip2Format::kMarkerBits) != combined) {
          RaiseStreamEndMissing();
        }
        progress.Report((position + QorBzip2Format::kMarkerBits + 32 + 7) / 8);
        return;
      }
      if (position + QorBzip2Format::kMarkerBits + 32 > totalBits_) {
        RaiseStreamEndMissing();
      }
      const std::uint32_t blockCrc =
          QorBzip2Format::ReadBits32(data_, position + QorBzip2Format::kMarkerBits);
      std::unique_ptr<BlockTask> task = TakeHead(position);
      if (task->outOfMemory) {
        // A thread ran short of memory: the calling thread tries for itself,
        // and gives up only when memory has run out for it too.
        std::unique_ptr<BlockTask> again(new BlockTask);
        again->startBit = task->startBit;
        again->endBit = task->endBit;
        Decode(*again, scratch_);
        if (again->outOfMemory) {
          throw std::bad_alloc();
        }
        task = std::move(again);
      }
      std::uint64_t endBit = task->endBit;
      if (task->valid) {
        HandOn(*task, sink, progress);
      } else {
        if (!FindLaterEnd(position, task->endBit, endBit)) {
          // More marker patterns than are worth trying: the sequential
          // decoder expands the rest of the stream.
          StopWorkers();
          ExpandBzip2Memory(data_, size_, handedOn_, sink, progress);
          return;
        }
        BlockTask longer;
        longer.startBit = position;
        longer.endBit = endBit;
        Decode(longer, scratch_);
        if (longer.outOfMemory) {
          throw std::bad_alloc();
        }
        if (!longer.valid) {
          RaiseStreamEndMissing();
        }
        HandOn(longer, sink, progress);
      }
      combined = QorBzip2Format::CombineCrc(combined, blockCrc);
      MutexLock locked(lock_);
      if (task->kept.capacity() >= kKeptOutput && spareOutputs_.size() < window_) {
        task->kept.clear();
        spareOutputs_.push_back(std::move(task->kept));
      }
      position_ = endBit;
      ForgetMarkersBehind();
      Wake();
      position = endBit;
    }
  }

private:
  // Ends the threads (their tasks cancelled) and lets go of every task.
  void StopWorkers() {
    {
      MutexLock locked(lock_);
      stopping_ = true;
      for (auto& task : tasks_) {
        task->cancelled = true;
      }
      Wake();
    }
    workers_.Join();
    tasks_.clear();
    spareOutputs_.clear();
  }

  // Under the lock, for the threads.
  void Wake() {
    if (signals_) {
      signals_->wake.Set();
    }
  }

  void WorkerMain() {
    // Out of memory here only means one thread fewer: the calling thread
    // decodes whatever is left waiting. No task is left half taken.
    try {
      Work();
    } catch (...) {
    }
  }

  void Work() {
    Scratch scratch(twoWays_);
    MutexLock locked(lock_);
    for (;;) {
      if (stopping_) {
        return;
      }
      BlockTask* task = NextQueued();
      if (!task) {
        signals_->wake.Reset();
        MutexUnlock unlocked(lock_);
        signals_->wake.Wait();
        continue;
      }
      RunLocked(*task, scratch);
    }
  }

  // Decodes a queued task without the lock held, then marks it done.
  void RunLocked(BlockTask& task, Scratch& scratch) {
    task.state = BlockTask::kRunning;
    if (!spareOutputs_.empty()) {
      task.kept.swap(spareOutputs_.back());
      spareOutputs_.pop_back();
    }
    {
      MutexUnlock unlocked(lock_);
      Decode(task, scratch);
    }
    task.state = BlockTask::kDone;
    if (task.cancelled) {
      Forget(task);
    }
    if (signals_) {
      signals_->finished.Set();
      signals_->wake.Set();
    }
  }

  // Decodes task into task.kept (or only checks it when it does not fit).
  void Decode(BlockTask& task, Scratch& scratch) {
    try {
      bool fits = true;
      task.kept.reserve(kKeptOutput);
      task.valid = DecodeBlock(data_, size_, level_, task.startBit, task.endBit, scratch,
                               [&](const char* piece, std::size_t length) {
                                 if (task.cancelled) {
                                   return false;
                                 }
                                 task.outputSize += length;
                                 if (fits && task.kept.size() + length <= kKeptOutput) {
                                   task.kept.insert(task.kept.end(), piece, piece + length);
                                 } else if (fits) {
                                   fits = false;
                                   task.kept.clear();
                                 }
                                 return true;
                               }) &&
                   !task.cancelled;
      task.replay = !fits;
    } catch (const std::exception&) {
      task.valid = false;
      task.outOfMemory = true;
      std::vector<char>().swap(task.kept);
    }
  }

  void Forget(const BlockTask& task) {
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
      if (it->get() == &task) {
        tasks_.erase(it);
        return;
      }
    }
  }

  // The first task nobody decodes yet, dispatching more when there is room.
  BlockTask* NextQueued() {
    for (auto& task : tasks_) {
      if (task->state == BlockTask::kQueued && !task->cancelled) {
        return task.get();
      }
    }
    unsigned open = 0;
    for (auto& task : tasks_) {
      open += task->cancelled ? 0 : 1;
    }
    if (open >= window_) {
      return nullptr;
    }
    return Dispatch();
  }

  // A task for the next marker after the last dispatched one, or null when
  // there is none yet to give: past the end of the data, or at an end
  // marker the stream has not reached (it may well end there). The task
  // ends at the next marker, or where the longest block would end when
  // that comes first.
  BlockTask* Dispatch() {
    for (;;) {
      if (!EnsureMarker(nextMarker_)) {
        return nullptr;
      }
      const Marker marker = markers_[nextMarker_];
      if (marker.bit < position_) {
        ++nextMarker_;
        continue;
      }
      if (marker.end) {
        return nullptr; // passed over once the stream has gone beyond it
      }
      const std::uint64_t reach = marker.bit + maxBlockBits_;
      std::uint64_t end = std::min(totalBits_, reach);
      if (EnsureMarker(nextMarker_ + 1, reach)) {
        end = std::min(end, markers_[nextMarker_ + 1].bit);
      }
      ++nextMarker_;
      std::unique_ptr<BlockTask> task(new BlockTask);
      task->startBit = marker.bit;
      task->endBit = end;
      tasks_.push_back(std::move(task));
      return tasks_.back().get();
    }
  }

  void ScanStep() {
    const std::uint64_t to = std::min(totalBits_, scanned_ + kScanStepBits);
    QorBzip2Format::FindMarkers(data_, size_, scanned_, to, markers_);
    scanned_ = to;
  }

  // Scans on until markers_ has more than index entries or the search has
  // passed limit; false when it has not.
  bool EnsureMarker(std::size_t index, std::uint64_t limit = UINT64_MAX) {
    while (markers_.size() <= index) {
      if (scanned_ >= totalBits_ || scanned_ > limit) {
        return false;
      }
      ScanStep();
    }
    return true;
  }

  // Lets go of the markers behind the stream's position, under the lock: a
  // stream whose blocks hold marker patterns would otherwise keep one for
  // each, more in all than the stream's own size.
  void ForgetMarkersBehind() {
    const std::size_t behind = static_cast<std::size_t>(
        std::lower_bound(markers_.begin(), markers_.end(), position_,
                         [](const Marker& m, std::uint64_t b) { return m.bit < b; }) -
        markers_.begin());
    if (behind < kMarkersKeptBehind) {
      return;
    }
    markers_.erase(markers_.begin(), markers_.begin() + static_cast<std::ptrdiff_t>(behind));
    nextMarker_ = nextMarker_ > behind ? nextMarker_ - behind : 0;
  }

  bool MarkerAt(std::uint64_t bit, Marker& marker) {
    MutexLock locked(lock_);
    while (scanned_ <= bit && scanned_ < totalBits_) {
      ScanStep();
    }
    auto it = std::lower_bound(markers_.begin(), markers_.end(), bit,
                               [](const Marker& m, std::uint64_t b) { return m.bit < b; });
    if (it == markers_.end() || it->bit != bit) {
      return false;
    }
    marker = *it;
    return true;
  }

  // Waits for the task that starts at position (decoding others meanwhile)
  // and takes it out of the list.
  std::unique_ptr<BlockTask> TakeHead(std::uint64_t position) {
    MutexLock locked(lock_);
    for (;;) {
      for (auto it = tasks_.begin(); it != tasks_.end();) {
        BlockTask& task = **it;
        if (task.startBit < position && !task.cancelled) {
          task.cancelled = true;
        }
        if (task.cancelled && task.state != BlockTask::kRunning) {
          it = tasks_.erase(it);
          continue;
        }
        if (task.startBit == position && !task.cancelled && task.state == BlockTask::kDone) {
          std::unique_ptr<BlockTask> head = std::move(*it);
          tasks_.erase(it);
          Wake();
          return head;
        }
        ++it;
      }
      BlockTask* queued = NextQueued();
      if (queued) {
        RunLocked(*queued, scratch_);
        continue;
      }
      // Only a task that another thread decodes is waited for: alone, the
      // calling thread always finds the head queued or to be dispatched.
      if (!signals_) {
        RaiseStreamEndMissing();
      }
      signals_->finished.Reset();
      MutexUnlock unlocked(lock_);
      signals_->finished.Wait();
    }
  }

  // The end of a block at position that did not end at firstEnd: into end,
  // the first later marker at which it decodes whole, within one block's
  // reach. False when there are more markers within reach than are worth
  // trying; raises when the block ends at none of them.
  bool FindLaterEnd(std::uint64_t position, std::uint64_t firstEnd, std::uint64_t& end) {
    const std::uint64_t reach = position + maxBlockBits_;
    std::vector<std::uint64_t> ends;
    {
      MutexLock locked(lock_);
      std::size_t index = 0;
      for (;;) {
        if (!EnsureMarker(index, reach)) {
          break;
        }
        const Marker& marker = markers_[index++];
        if (marker.bit <= firstEnd) {
          continue;
        }
        if (marker.bit > reach) {
          break;
        }
        if (ends.size() == kMaxEndTries) {
          return false;
        }
        ends.push_back(marker.bit);
      }
    }
    for (std::uint64_t candidate : ends) {
      BlockTask trial;
      trial.startBit = position;
      trial.endBit = candidate;
      Decode(trial, scratch_);
      if (trial.outOfMemory) {
        throw std::bad_alloc();
      }
      if (trial.valid) {
        end = candidate;
        return true;
      }
    }
    RaiseStreamEndMissing();
  }

  // Gives a checked block's output to the sink, reporting progress as the
  // block's compressed bytes are passed.
  void HandOn(BlockTask& task, QorPayload::ByteSink& sink, ProgressSteps& progress) {
    const std::uint64_t firstByte = task.startBit / 8;
    const std::uint64_t bytes = (task.endBit + 7) / 8 - firstByte;
    std::uint64_t given = 0;
    auto give = [&](const char* piece, std::size_t length) {
      sink.Write(piece, length);
      handedOn_ += length;
      given += length;
      progress.Report(firstByte + (task.outputSize ? bytes * given / task.outputSize : bytes));
      return true;
    };
    if (!task.replay) {
      for (std::size_t at = 0; at < task.kept.size(); at += kPieceSize) {
        give(task.kept.data() + at, std::min(kPieceSize, task.kept.size() - at));
      }
      progress.Report(firstByte + bytes);
      return;
    }
    // Checked already: the same bytes come again.
    if (!DecodeBlock(data_, size_, level_, task.startBit, task.endBit, scratch_, give)) {
      RaiseStreamEndMissing();
    }
    progress.Report(firstByte + bytes);
  }

  const unsigned char* data_;
  const std::size_t size_;
  const std::uint64_t totalBits_;
  const int level_;
  const std::uint64_t maxBlockBits_;
  const bool twoWays_;
  // The calling thread's.
  Scratch scratch_;
  unsigned window_ = 1;
  std::unique_ptr<Signals> signals_;
  QorPackThreads::Mutex lock_;
  // Guarded by lock_.
  bool stopping_ = false;
  std::uint64_t position_ = QorBzip2Format::kHeaderBits;
  std::vector<Marker> markers_;
  std::uint64_t scanned_ = QorBzip2Format::kHeaderBits;
  std::size_t nextMarker_ = 0;
  std::list<std::unique_ptr<BlockTask>> tasks_;
  // Output buffers of blocks handed on, for the next blocks.
  std::vector<std::vector<char>> spareOutputs_;
  std::uint64_t handedOn_ = 0;
  // Last: the threads end before anything they use goes.
  QorPackThreads::ThreadGroup workers_;
};

} // namespace

void ExpandBzip2Blocks(const void* data, std::size_t size, QorPayload::ByteSink& sink,
                       ProgressFunction callback, void* context, std::uint32_t step,
                       unsigned threads) {
  ProgressSteps progress(callback, context, step);
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  const int level = bytes ? QorBzip2Format::ReadLevel(bytes, size) : 0;
  if (level == 0) {
    RaiseStreamEndMissing();
  }
  BlockDecoder decoder(bytes, size, level, QorPackThreads::DecodeThreads(threads));
  decoder.Run(sink, progress);
}

} // namespace QorCompressLib
