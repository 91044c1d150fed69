// Start-up steps whose modules are not part of this library yet. Until they
// are, the browser facts and the profiles root keep their initial values
// (zero and empty). A module that provides one of these functions replaces
// its definition here.
#include "qor/env.h"

namespace QorEnv {

// Step 11 of Initialize: the installed browser's version and release name.
void DetectBrowserVersion() {}

// Step 14 of Initialize: the folder that holds all user profiles.
void ComputeProfilesRoot(bool /*skipProfileLookup*/) {}

} // namespace QorEnv
