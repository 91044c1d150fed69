// Codes of the errors the error model raises itself: the translation of
// standard exceptions and the thin wrappers over single system calls.
// Values never change: callers and people compare them.
#pragma once

namespace QorError {

enum ErrorCode : int {
  // Standard exceptions turned into library errors, by kind.
  kStdLogicError = 2,
  kStdBadCastError = 3,
  kStdBadTypeIdError = 4,
  kStdBadExceptionError = 5,
  kStdLengthError = 6,
  kStdDomainError = 7,
  kStdOutOfRangeError = 8,
  kStdInvalidArgumentError = 9,
  kStdRuntimeError = 31,
  kStdBadAllocError = 32,
  kStdRangeError = 33,
  kStdOverflowError = 34,
  kStdUnderflowError = 35,
  kStdStreamFailureError = 36,
  kStdOtherExceptionError = 50,

  // Wrappers of QorWin32, named after the call that failed.
  kSysAllocStringNarrowError = 2001,
  kSysAllocStringError = 2002,
  kWaitForSingleObjectError = 2005,
  kSetFilePointerError = 2006,
  kExpandEnvironmentStringsError = 2017,
  kGetFileVersionInfoSizeError = 2018,
  kCreateEventError = 2019,
  kOpenEventError = 2020,
  kOpenFileMappingError = 2020, // one code for opening any named object
  kMapViewOfFileError = 2021,
  kCreateMutexError = 2022,
  kOpenMutexError = 2023,
  kOpenClipboardError = 2024,
  kEmptyClipboardError = 2025,
  kGetFileVersionInfoError = 2027,
  kReadFileError = 2028,
  kReleaseMutexError = 2029,
  kResetEventError = 2030,
  kSetEventError = 2031,
  kCreateFileMappingError = 2032,
};

} // namespace QorError
