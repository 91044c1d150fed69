// Codes of the errors the registry and settings-file functions raise. A
// key operation has a code for a library error it wraps and one for a
// standard exception or anything unknown; most use one code for both.
// Values never change; a few are shared on purpose, as marked.
#pragma once

namespace QorReg {

enum ErrorCode : int {
  // RegKey operations.
  kOpenKeyError = 101,
  kCreateKeyError = 102,
  kGetValueNamesError = 103,
  kDeleteValueError = 104,
  kSetStringError = 106,
  kSetBoolError = 107,
  kSetIntError = 108,
  kSetUIntError = 109,
  kSetBinaryError = 110,
  kStringWrongTypeError = 111,
  kGetStringError = 112,
  kBoolWrongTypeError = 113,
  kGetBoolError = 114,
  kIntWrongTypeError = 115,
  kGetIntError = 116,
  kUIntWrongTypeError = 117,
  kGetUIntError = 118,
  kBinaryWrongTypeError = 119,
  kGetBinaryError = 120,
  kGetSubKeyNamesError = 121,
  kDeleteSubKeyError = 123,
  kCloseKeyError = 124,
  kFlushKeyError = 125,
  kHasAccessError = 126,
  kMultiStringWrongTypeError = 127,
  kGetMultiStringError = 128,
  kGetStringWithDefaultError = 132,
  kEnumValueError = 143,
  kQueryInfoKeyError = 144,
  kOpenKeyWithAccessError = 151,
  kCreateKeyOtherError = 152,
  kCreateKeyWithAccessError = 153,
  kCreateKeyWithAccessOtherError = 154,
  kOpenKeyWithAccessOtherError = 155,
  kCreateEmptyKeyError = 156,
  kCreateEmptyKeyOtherError = 157,

  // IniFile.
  kIniFileMissingError = 133,
  kIniSetStringError = 134,
  kIniSetIntError = 135,
  kIniDeleteKeyError = 136,
  kIniDeleteSectionError = 137,
  kIniSectionMissingError = 138,
  kIniValueTooLongError = 139,
  kIniSectionListTooLongError = 140,
  kIniKeysSectionMissingError = 141,
  kIniKeyListTooLongError = 142,

  // Change tables; the values are shared with IniFile and CreateEmpty.
  kChangeWithoutRightsError = 133,
  kChangeArraySizeMismatchError = 134,
  kChangeUserSidMissingError = 157,

  // Wrappers of single registry calls, named after the call that failed.
  kRegOpenKeyExError = 2007,
  kRegCreateKeyExError = 2008,
  kRegDeleteValueError = 2010,
  kRegSetValueExError = 2011,
  kRegQueryValueExError = 2012,
  kRegEnumKeyExError = 2013,
  kRegDeleteKeyError = 2014,
  kRegFlushKeyError = 2015,
  kSHDeleteKeyError = 2016,
};

} // namespace QorReg
