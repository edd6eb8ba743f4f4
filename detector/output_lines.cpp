#include "detector/output_lines.h"

#include <cstdio>

bool print_and_flush(const char* format, double first, double second,
                     bool has_second) {
  const int written =
      has_second ? printf(format, first, second) : printf(format, first);
  if (written < 0) return false;
  return fflush(stdout) == 0;
}
