#include "qor/setup/dpi.h"

#include "qor/setup/layout.h"
#include "qor/setup/state.h"
#include "qor/setup/window.h"

#include "qor/error/system_library.h"
#include "qor/handle/unique_handle.h"

namespace QorSetup {

namespace {

// The shell's DPI and its font for it. A font that cannot be made leaves
// the one before.
void UseDpi(int dpi) {
  SetupShell& shell = Shell();
  shell.dpi = dpi;
  if (HFONT font = CreateTextFont(dpi)) {
    HFONT previous = shell.font;
    shell.font = font;
    if (previous) {
      ::DeleteObject(previous); // only ever selected while painting
    }
  }
}

void MoveWindowTo(HWND window, const RECT& place) {
  ::SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

int WindowDpi(HWND window) {
  using DpiForWindowFn = UINT(WINAPI*)(HWND);
  static const DpiForWindowFn dpiForWindow =
      QorWin32::GetSystemFunction<DpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
  if (dpiForWindow && window) {
    if (UINT dpi = dpiForWindow(window)) {
      return static_cast<int>(dpi);
    }
  }
  Qor::WindowDc screen(nullptr);
  return screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : kDesignDpi;
}

void FitToDpi(HWND window) {
  const Layout layout = LayoutForDpi(WindowDpi(window));
  UseDpi(layout.dpi);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - layout.windowWidth) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - layout.windowHeight) / 2;
  MoveWindowTo(window, {x, y, x + layout.windowWidth, y + layout.windowHeight});
}

void FollowDpiChange(HWND window, WPARAM wParam, LPARAM lParam) {
  const Layout layout = LayoutForDpi(LOWORD(wParam));
  RECT place = {};
  SIZE_T read = 0;
  const bool suggested =
      lParam &&
      ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(lParam), &place,
                          sizeof place, &read) &&
      read == sizeof place && place.right > place.left && place.bottom > place.top;
  if (!suggested) {
    RECT now = {};
    ::GetWindowRect(window, &now);
    const int x = now.left + (now.right - now.left - layout.windowWidth) / 2;
    const int y = now.top + (now.bottom - now.top - layout.windowHeight) / 2;
    place = {x, y, x + layout.windowWidth, y + layout.windowHeight};
  }
  UseDpi(layout.dpi);
  MoveWindowTo(window, place);
  ::InvalidateRect(window, nullptr, FALSE);
}

} // namespace QorSetup
