// Sound: the tool's test program includes what it links itself.
#include "qor/probe_image/image.h"
#include "qor/probe_low/low.h"
#include "tool.h"

int ToolTest() {
  return Tool() - Image() - Low();
}
