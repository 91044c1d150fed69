#include "qor/os/file_version.h"
#include "qor/os/error_codes.h"

#include "qor/error/error.h"
#include "qor/error/system_library.h"
#include "qor/error/win32_error.h"

#include <exception>
#include <new>

namespace QorFs {

namespace {

using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

[[noreturn]] void RaiseVersionError(int code, const std::wstring& fileName,
                                    QorError::Exception* cause) {
  auto* error = new FileError(code, nullptr, cause);
  error->GetStream() << L"Unable to determine file version of " << fileName;
  throw static_cast<QorError::Exception*>(error);
}

} // namespace

FileVersionInfo::FileVersionInfo(const wchar_t* fileName) {
  try {
    DWORD size = QorWin32::CheckedGetFileVersionInfoSize(fileName);
    fileName_ = fileName;
    block_.reset(new BYTE[size]);
    QorWin32::CheckedGetFileVersionInfo(fileName, size, block_.get());
  } catch (QorError::Exception* cause) {
    RaiseVersionError(QorOs::kReadVersionInfoError, fileName, cause);
  } catch (const std::exception& error) {
    QorError::RaiseStdError(QorOs::kReadVersionInfoOtherError, error);
  } catch (...) {
    QorError::RaiseUnknownError(QorOs::kReadVersionInfoOtherError);
  }
}

bool FileVersionInfo::Query(const wchar_t* subBlock, void*& value, UINT& length) const {
  auto query = QorWin32::GetSystemFunction<VerQueryValueFn>(L"version.dll", "VerQueryValueW");
  value = nullptr;
  length = 0;
  return query && query(block_.get(), subBlock, &value, &length) && value;
}

const VS_FIXEDFILEINFO& FileVersionInfo::Fixed() const {
  void* value = nullptr;
  UINT length = 0;
  if (!Query(L"\\", value, length) || length < sizeof(VS_FIXEDFILEINFO)) {
    RaiseVersionError(QorOs::kFixedVersionInfoError, fileName_, nullptr);
  }
  return *static_cast<const VS_FIXEDFILEINFO*>(value);
}

DWORD FileVersionInfo::GetFileVersionMS() const {
  return Fixed().dwFileVersionMS;
}
DWORD FileVersionInfo::GetFileVersionLS() const {
  return Fixed().dwFileVersionLS;
}
DWORD FileVersionInfo::GetMajor() const {
  return HIWORD(Fixed().dwFileVersionMS);
}
DWORD FileVersionInfo::GetMinor() const {
  return LOWORD(Fixed().dwFileVersionMS);
}
DWORD FileVersionInfo::GetBuild() const {
  return HIWORD(Fixed().dwFileVersionLS);
}
DWORD FileVersionInfo::GetRevision() const {
  return LOWORD(Fixed().dwFileVersionLS);
}

bool FileVersionInfo::HasVersionInfo(const wchar_t* fileName) {
  try {
    QorWin32::CheckedGetFileVersionInfoSize(fileName);
    return true;
  } catch (QorError::Exception* error) {
    delete error;
    return false;
  }
}

} // namespace QorFs
