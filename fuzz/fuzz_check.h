// A failed property in a harness: reported where sanitizer reports go, since
// the runs close standard error to keep library diagnostics out.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdlib>

[[noreturn]] inline void fuzz_fail(const char* what) {
  __sanitizer_report_error_summary(what);
  abort();
}
