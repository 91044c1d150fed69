#include "qor/probe_high/high.h"
#include "qor/probe_low/low.h"

int High() {
  return Low() + 1;
}
