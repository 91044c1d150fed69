// The progress window's layout at a screen's DPI: every length of its
// 96-DPI design (window, font, text, bar) scaled by dpi / 96.
#pragma once

namespace QorSetup {

// The DPI the design is drawn for, and the range the window follows: below
// it the design stays as it is (the text would be too small to read), above
// it the largest scale Windows offers holds.
constexpr int kDesignDpi = 96;
constexpr int kLargestDpi = 480;

struct Layout {
  int dpi;                       // the DPI laid out for, within the range
  int windowWidth, windowHeight; // outer size
  int fontHeight;                // in pixels
  int textLeft, firstLineTop, secondLineTop;
  int barLeft, barTop, barWidth, barHeight;
  int capWidth; // the empty bar's end caps
  int endWidth; // the filled part's ends
};

// length (in pixels at 96 DPI) at dpi, rounded to the nearest pixel, halves
// up. Lengths are small: no overflow for any dpi of the range.
int ScaleToDpi(int length, int dpi);

// The layout for a screen of dpi; a dpi outside the range (a failed query
// gives 0) is taken as its nearer end.
Layout LayoutForDpi(int dpi);

} // namespace QorSetup
