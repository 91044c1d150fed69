// Writing an entry with the standard file streams, kept apart from the
// reader so that programs that write entries otherwise do not link the
// streams.
#include "qor/payload/archive.h"

#include "archive_errors.h"

#include "qor/error/error.h"

#include <exception>
#include <fstream>

using namespace QorArchiveFormat;

using QorPayload::RaiseExtractError;

void ArchiveReader::Extract(unsigned int index, const std::wstring& folder) {
  // Its name was checked when the archive was loaded.
  const ArchiveEntry& entry = GetEntry(index);
  const std::wstring path = folder + entry.GetName();
  std::ofstream out;
  std::wstring details;
  try {
    out.exceptions(std::ios_base::failbit | std::ios_base::badbit);
    out.open(path.c_str(), std::ios_base::out | std::ios_base::binary | std::ios_base::trunc);
    for (const auto& chunk : entry.GetChunks()) {
      if (chunk->GetSize() > 0) {
        out.write(reinterpret_cast<const char*>(chunk->GetData()), chunk->GetSize());
      }
    }
    // Flush here so that a failure to write the last bytes is reported;
    // only the closing itself goes unchecked.
    out.flush();
    return;
  } catch (const std::exception& error) {
    // This library's stream failure has neither the usual type nor the
    // usual text: describe it by the state that failed.
    const std::ios_base::iostate state = out.rdstate();
    if (state & std::ios_base::badbit) {
      details = L"ios_base::badbit set";
    } else if (state & std::ios_base::failbit) {
      details = L"ios_base::failbit set";
    } else {
      details = QorError::WidenWithCLocale(error.what());
    }
  }
  RaiseExtractError(details);
}
