#include "installer_check.h"

#include "qor/setup/error_codes.h"
#include "qor/setup/state.h"

#include "qor/error/error.h"
#include "qor/fs/file_identity.h"
#include "qor/os/content_hash.h"

namespace QorSetup {

void CheckInstallerBytes(HANDLE installer) {
  const QorOs::ContentDigest& written = Shell().worker.installerDigest;
  QorOs::ContentDigest read;
  try {
    if (written.valid()) {
      read = QorOs::HashFile(installer, written.algorithm);
    }
  } catch (QorError::Exception* cause) {
    QorError::RaiseError(kStartInstallerError, L"Unable to start installation program.", cause);
  }
  if (read != written) {
    QorError::RaiseError(kFolderChangedError,
                         L"The installation program was changed by another program after it "
                         L"was extracted. The setup did not start it.");
  }
}

ImageVerdict JudgeStartedImage(QorFs::ImageIdentity told, const QorFs::FileIdentity& image,
                               const QorFs::FileIdentity& held) {
  switch (told) {
  case QorFs::ImageIdentity::NotOffered:
    return ImageVerdict::PathChecksOnly;
  case QorFs::ImageIdentity::Read:
    return image == held ? ImageVerdict::Resume : ImageVerdict::End;
  case QorFs::ImageIdentity::Unknown:
    break;
  }
  return ImageVerdict::End;
}

void CheckStartedImage(HANDLE process, HANDLE installer) {
  // The system tells the name it started the process by, as it resolved
  // it: a folder above re-pointed for the start and back afterwards leaves
  // that name leading to the other program's file.
  QorFs::FileIdentity image;
  const QorFs::ImageIdentity told = QorFs::ImageIdentityOf(process, image);
  if (JudgeStartedImage(told, image, QorFs::IdentityOf(installer)) != ImageVerdict::End) {
    return;
  }
  // Nothing of it has run: it was made suspended. Ended, it holds no file
  // of the folder any more once the wait is over.
  if (::TerminateProcess(process, 1)) {
    ::WaitForSingleObject(process, INFINITE);
  }
  QorError::RaiseError(kFolderChangedError,
                       L"The program the system started is not the installation program that "
                       L"the setup extracted. The setup ended it before it ran.");
}

} // namespace QorSetup
