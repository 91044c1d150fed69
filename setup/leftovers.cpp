#include "qor/setup/launch.h"

#include "qor/setup/worker.h"

#include "qor/error/error.h"
#include "qor/fs/leftovers.h"
#include "qor/env/env.h"

#include <memory>

namespace QorSetup {

void RemoveElevatedLeftovers() {
  if (!QorEnv::IsUserAdmin()) {
    return; // it could neither have made them nor remove them
  }
  try {
    QorFs::RemoveStaleLeftovers(SystemTemporaryFolder(), kAdminOnlyFolderPrefix);
  } catch (QorError::Exception* e) {
    std::unique_ptr<QorError::Exception> owned(e); // no system folder: nothing to do
  } catch (...) {
  }
}

} // namespace QorSetup
