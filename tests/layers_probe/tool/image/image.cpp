// Wrong on purpose: the library beneath the tool, in a folder inside the
// tool's, reaching up into the tool.
#include "qor/probe_image/image.h"

#include "../tool.h"

int Image() {
  return Tool() + 1;
}
