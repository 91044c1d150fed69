// The progress window's painting: the gradient with its two lines of text,
// and the bar with its percentage.
#pragma once

#include <windows.h>

namespace QorSetup {

struct Layout;

// The bar's place and size at 96 DPI; the layout scales them.
constexpr int kBarWidth = 275;
constexpr int kBarHeight = 20;
constexpr int kBarLeft = 10;
constexpr int kBarTop = 45;

// Gradient and the two lines of text over the rectangle, the text where
// the layout places it.
void PaintBackground(HDC dc, const RECT& client, HFONT font, const Layout& layout);
// The bar for fraction (0..1) at the layout's place and size; the pieces are
// the bitmap resources of module, stretched to the layout's bar height and
// cap and end widths, the bodies tiled.
void PaintBar(HDC dc, HINSTANCE module, double fraction, HFONT font, const Layout& layout);
// The same for the progress window, from the shell's state.
void PaintBackground(HWND window, HDC dc);
void PaintBar(HWND window, HDC dc);

} // namespace QorSetup
