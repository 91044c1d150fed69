// Codes of the errors the threads, processes, security and version
// information functions raise. Values never change.
#pragma once

namespace QorOs {

enum ErrorCode : int {
  kReadVersionInfoError = 401,
  kReadVersionInfoOtherError = 402, // a standard exception or anything unknown
  kFixedVersionInfoError = 403,
  kOpenProcessToEndError = 516,
  kTerminateProcessError = 517,
  kWaitForProcessError = 518,
  kComInitializeError = 538,
  kCreateThreadError = 546,
  kSuspendThreadError = 547,
  kResumeThreadError = 548,
  kOpenThreadError = 549,
  kContentHashError = 560, // the system's cryptographic hash is missing or failed
  kReadForHashError = 561, // the file to hash cannot be read
  kInitializeSecurityDescriptorError = 2003,
  kSetSecurityDescriptorDaclError = 2004,
};

} // namespace QorOs
