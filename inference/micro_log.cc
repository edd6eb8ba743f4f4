#include "inference/micro_log.h"

#include <cstdarg>
#include <cstdio>

namespace tflite {

void MicroPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputs("\r\n", stderr);
}

}  // namespace tflite
