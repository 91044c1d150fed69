#include "qor/setup/environment.h"

#include "qor/env/env.h"

namespace QorSetup {

// The one place where the setup runs the library's start-up environment
// initialisation (the OS check and the process-wide environment record).
// Its errors are reported by RunSetup.
void InitializeEnvironment() {
  QorEnv::Initialize(false);
}

} // namespace QorSetup
