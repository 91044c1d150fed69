#include "qor/probe_low/low.h"

int Low() {
  return 1;
}
