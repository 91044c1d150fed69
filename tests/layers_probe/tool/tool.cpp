// Wrong on purpose: the tool reaching for a library that only its test
// program links.
#include "tool.h"

#include "qor/probe_image/image.h"
#include "qor/probe_low/low.h"

int Tool() {
  return Image() + Low();
}
