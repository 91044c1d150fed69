// The setup's start-up environment initialisation.
#pragma once

namespace QorSetup {

// The OS check and the process-wide environment record; raises library
// errors.
void InitializeEnvironment();

} // namespace QorSetup
