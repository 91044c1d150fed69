// Expands a payload (a bzip2 stream holding an archive) and writes the
// archive's entries as their bytes arrive, decoding on several threads.
#pragma once

#include "qor/payload/compressor.h"
#include "qor/handle/unique_handle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace QorPayload {

// An entry as the archive's table lists it.
struct ListedEntry {
  std::wstring name;
  std::uint64_t size = 0;
};

// Where ExtractStream puts the entries' files.
class EntryFiles {
public:
  virtual ~EntryFiles() = default;
  // A new file for the entry called name (checked already), open for
  // writing; invalid, with the thread's last error set, when it cannot be
  // made.
  virtual Qor::UniqueFile Create(const std::wstring& name) = 0;
  // Called with each piece of bytes once it is written to the file that
  // Create made last, in order: every byte of that file passes here once.
  virtual void Written(const unsigned char* bytes, std::size_t size) {
    (void)bytes;
    (void)size;
  }
  // Called before each file and after every few megabytes of expanded
  // output; raising stops the extraction with that error.
  virtual void Checkpoint() {}
  // Called once, when the archive's table has been read and its names
  // checked, before the first file is made; raising stops the extraction
  // with that error, and nothing is written.
  virtual void TableRead(const std::vector<ListedEntry>& /*entries*/) {}
};

// The expanded bytes between two checkpoints at most.
constexpr std::size_t kCheckpointBytes = 4u << 20;

// Writes the entries of the payload in bytes[0, size) into files. callback
// (may be null) gets the count of compressed bytes consumed, on the calling
// thread, once per new multiple of step; when it raises, the extraction
// stops and the error goes on. threads: how many threads decode, the
// calling thread included (0: QorPackThreads::DefaultDecodeThreads()). Raises the codec's
// errors (21026 for a damaged stream) and the archive reader's (21010,
// 21014), with the same checks: every name is checked before any file is
// written. An archive whose entries are not stored in
// order is expanded whole in memory first.
void ExtractStream(const void* bytes, std::size_t size, EntryFiles& files,
                   CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                   unsigned threads = 0);
// The same into folder (which ends in a separator), each file made by its
// path, replacing one of that name.
void ExtractStream(const void* bytes, std::size_t size, const std::wstring& folder,
                   CQorCompressor::ProgressCallback callback, void* context, std::uint32_t step,
                   unsigned threads = 0);

} // namespace QorPayload
