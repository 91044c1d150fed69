// Wrong on purpose: a file of the lower folder reaching up.
#include "qor/probe_high/high.h"
#include "qor/probe_low/low.h"

int LowTest() {
  return High() - Low();
}
