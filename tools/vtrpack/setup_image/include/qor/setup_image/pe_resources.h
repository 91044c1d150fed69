// Puts the setup's payload into a copy of the launcher program: a small
// writer of the resource section of a Windows program (PE) file, in standard
// C++ only, so that setups can be stamped on any build machine.
#pragma once

#include "qor/setup_image/branding.h"
#include "qor/setup_image/pe_layout.h"
#include "qor/setup_image/stamp_error.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace QorPe {

struct StampResult {
  // The base program was signed: its certificate table is not copied, since
  // the signature could not match the stamped program.
  bool droppedSignature = false;
  // The resources did not fit where they were and went into a new last section.
  bool movedResources = false;
};

// Where the stamped program goes: written front to back, then its checksum
// is put into bytes already written. The caller owns the file (a temporary
// one that it created and moves into place once the stamp succeeded).
class StampOutput {
public:
  virtual ~StampOutput() = default;
  virtual void Write(const unsigned char* data, std::size_t size) = 0;
  virtual void WriteAt(std::uint64_t offset, const unsigned char* data, std::size_t size) = 0;
};

// Told the bytes written so far and the output's whole size, as it grows.
using StampProgress = std::function<void(std::uint64_t written, std::uint64_t total)>;

// Writes to `output` a copy of the launcher `base` that carries the file
// `payload` as its resource type "ZUK", id 137, language neutral, replacing
// any earlier one and keeping every other resource but those `branding`
// replaces. The payload and the program's sections are copied in pieces. A
// base that is not a setup launcher, or that would cost without bound, is
// refused. Throws StampError; `output` may then hold a partial program.
StampResult StampPayload(const std::filesystem::path& base, const std::filesystem::path& payload,
                         const Branding& branding, StampOutput& output,
                         const StampProgress& progress = StampProgress());

// The same from a base and a payload that the caller holds in memory, each
// read or mapped through the one open that it checked; the names are for
// messages (UTF-8).
StampResult StampPayload(const std::string& baseName, const unsigned char* base,
                         std::size_t baseSize, const std::string& payloadName,
                         const unsigned char* payload, std::size_t payloadSize,
                         const Branding& branding, StampOutput& output,
                         const StampProgress& progress = StampProgress());

} // namespace QorPe
