// How many processors this process may run on, for the codec's threads.
#pragma once

namespace QorPackThreads {

// At least 1.
unsigned CountProcessors();

} // namespace QorPackThreads
