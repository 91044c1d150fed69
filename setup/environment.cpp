#include "qor/setup/environment.h"

#if VELTRANO_SETUP_WITH_ENV
#include "qor/env.h"
#endif

namespace QorSetup {

// The one place where the setup runs the library's start-up environment
// initialisation (the OS check and the process-wide environment record).
// Its errors are reported by RunSetup. The call is compiled in when the
// build has lib/env (target qor_env, see setup/CMakeLists.txt).
void InitializeEnvironment() {
#if VELTRANO_SETUP_WITH_ENV
  QorEnv::Initialize(false);
#endif
}

} // namespace QorSetup
