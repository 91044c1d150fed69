// The progress window's painting: the gradient with its two lines of text,
// and the bar with its percentage.
#pragma once

#include <windows.h>

namespace QorSetup {

constexpr int kBarWidth = 275;
constexpr int kBarHeight = 20;
constexpr int kBarLeft = 10;
constexpr int kBarTop = 45;

// Gradient and the two lines of text over the rectangle.
void PaintBackground(HDC dc, const RECT& client, HFONT font);
// The bar for fraction (0..1) with its top left corner at (left, top);
// the pieces are the bitmap resources of module.
void PaintBar(HDC dc, HINSTANCE module, double fraction, HFONT font, int left, int top);
// The same for the progress window, from the shell's state.
void PaintBackground(HWND window, HDC dc);
void PaintBar(HWND window, HDC dc);

} // namespace QorSetup
