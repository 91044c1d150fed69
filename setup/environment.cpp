#include "qor/setup/shell.h"

namespace QorSetup {

// The one place where the setup runs the library's start-up environment
// initialisation (OS check and the process-wide environment record). Its
// errors are reported by RunSetup.
//
// TODO(integration): call QorEnv::Initialize(false) here (#include
// "qor/env.h", link qor_env) once lib/env is on main.
void InitializeEnvironment() {}

} // namespace QorSetup
