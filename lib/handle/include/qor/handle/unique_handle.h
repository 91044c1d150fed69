// Move-only owners of Windows handles and other resources, one policy per
// kind: the value that means "none" and the function that releases it.
// Closing keeps the thread's last error, so an error path can close its
// handles and still report the failure that led there.
#pragma once

#include <windows.h>
// CoTaskMemFree and SysFreeString.
#include <oleauto.h>

#include <utility>

namespace Qor {

namespace Detail {
// Puts the thread's last error back when it goes out of scope.
class KeepLastError {
public:
  KeepLastError() noexcept : error_(::GetLastError()) {}
  ~KeepLastError() { ::SetLastError(error_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

private:
  DWORD error_;
};
} // namespace Detail

template <class Policy> class UniqueAny {
public:
  using Type = typename Policy::Type;

  UniqueAny() noexcept : value_(Policy::Invalid()) {}
  explicit UniqueAny(Type value) noexcept : value_(value) {}
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) {
      reset(other.release());
    }
    return *this;
  }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  ~UniqueAny() { reset(); }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Policy::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(Type value = Policy::Invalid()) noexcept {
    if (valid()) {
      Detail::KeepLastError keep;
      Policy::Close(value_);
    }
    value_ = value;
  }
  Type release() noexcept { return std::exchange(value_, Policy::Invalid()); }
  // For functions that return a handle through an out-parameter.
  Type* put() noexcept {
    reset();
    return &value_;
  }

private:
  Type value_;
};

namespace Detail {
struct FileHandlePolicy {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct FindHandlePolicy {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) { ::FindClose(h); }
};
struct KernelHandlePolicy {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::CloseHandle(h); }
};
struct GdiObjectPolicy {
  using Type = HGDIOBJ;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeleteObject(h); }
};
struct MemoryDcPolicy {
  using Type = HDC;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::DeleteDC(h); }
};
struct LocalPolicy {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::LocalFree(h); }
};
struct MappedViewPolicy {
  using Type = const void*;
  static Type Invalid() { return nullptr; }
  static void Close(Type view) { ::UnmapViewOfFile(view); }
};
struct ModulePolicy {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::FreeLibrary(h); }
};
struct RegKeyPolicy {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(Type h) { ::RegCloseKey(h); }
};
template <class T> struct CoTaskMemPolicy {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static void Close(Type p) { ::CoTaskMemFree(p); }
};
struct SidPolicy {
  using Type = PSID;
  static Type Invalid() { return nullptr; }
  static void Close(Type sid) { ::FreeSid(sid); }
};
struct BstrPolicy {
  using Type = BSTR;
  static Type Invalid() { return nullptr; }
  static void Close(Type text) { ::SysFreeString(text); }
};
template <class Interface> struct ComPolicy {
  using Type = Interface*;
  static Type Invalid() { return nullptr; }
  static void Close(Type object) { object->Release(); }
};
} // namespace Detail

// Handles whose "none" is null: processes, threads, events, mutexes, mappings.
using UniqueHandle = UniqueAny<Detail::KernelHandlePolicy>;
// CreateFile's "none" is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueAny<Detail::FileHandlePolicy>;
using UniqueFind = UniqueAny<Detail::FindHandlePolicy>;
using UniqueGdiObject = UniqueAny<Detail::GdiObjectPolicy>;
using UniqueMemoryDc = UniqueAny<Detail::MemoryDcPolicy>;
// Memory from LocalAlloc, such as FormatMessage's buffers and the
// descriptors the SDDL conversions make.
using UniqueLocal = UniqueAny<Detail::LocalPolicy>;
using UniqueModule = UniqueAny<Detail::ModulePolicy>;
using UniqueMappedView = UniqueAny<Detail::MappedViewPolicy>;
using UniqueRegKey = UniqueAny<Detail::RegKeyPolicy>;
// Memory from the COM allocator, such as the paths the shell hands out.
template <class T = void> using UniqueCoTaskMem = UniqueAny<Detail::CoTaskMemPolicy<T>>;
// A SID made by AllocateAndInitializeSid.
using UniqueSid = UniqueAny<Detail::SidPolicy>;
using UniqueBstr = UniqueAny<Detail::BstrPolicy>;
// One reference to a COM object. CoCreateInstance and QueryInterface fill it
// through reinterpret_cast<void**>(owner.put()).
template <class Interface> using UniqueCom = UniqueAny<Detail::ComPolicy<Interface>>;

// A window device context obtained with GetDC, released with ReleaseDC.
class WindowDc {
public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_) {
      Detail::KeepLastError keep;
      ::ReleaseDC(window_, dc_);
    }
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context and restores the previous one.
class SelectObjectScope {
public:
  SelectObjectScope(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~SelectObjectScope() {
    if (previous_ && previous_ != HGDI_ERROR) {
      Detail::KeepLastError keep;
      ::SelectObject(dc_, previous_);
    }
  }
  SelectObjectScope(const SelectObjectScope&) = delete;
  SelectObjectScope& operator=(const SelectObjectScope&) = delete;

private:
  HDC dc_;
  HGDIOBJ previous_;
};

} // namespace Qor
