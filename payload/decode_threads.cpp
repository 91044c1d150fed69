#include "qor/payload/extract_stream.h"
#include "qor/payload_core/bzip2_core.h"
#include "qor/payload_core/processors.h"

#include <algorithm>

unsigned QorPayload::DefaultDecodeThreads() {
  return std::max(1u,
                  std::min(QorPackThreads::CountProcessors(), QorCompressLib::kMaxDecodeThreads));
}
