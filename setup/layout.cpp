#include "qor/setup/layout.h"

#include "qor/setup/painting.h"
#include "qor/setup/window.h"

#include <algorithm>

namespace QorSetup {

int ScaleToDpi(int length, int dpi) {
  return (length * dpi + kDesignDpi / 2) / kDesignDpi;
}

Layout LayoutForDpi(int dpi) {
  dpi = std::min(std::max(dpi, kDesignDpi), kLargestDpi);
  auto scale = [dpi](int length) { return ScaleToDpi(length, dpi); };
  Layout layout;
  layout.dpi = dpi;
  layout.windowWidth = scale(kWindowWidth);
  layout.windowHeight = scale(kWindowHeight);
  layout.fontHeight = scale(16);
  layout.textLeft = scale(8);
  layout.firstLineTop = scale(5);
  layout.secondLineTop = scale(21);
  layout.barLeft = scale(kBarLeft);
  layout.barTop = scale(kBarTop);
  layout.barWidth = scale(kBarWidth);
  layout.barHeight = scale(kBarHeight);
  layout.capWidth = scale(6);
  layout.endWidth = scale(5);
  return layout;
}

} // namespace QorSetup
