#include "detector/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool parse_cutoff(const char* text, float* value) {
  char* end = nullptr;
  errno = 0;
  const float result = strtof(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(result)) {
    return false;
  }
  *value = result;
  return true;
}

bool parse_window(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long result = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  // On a 64-bit long strtol doesn't overflow at the int limits by itself.
  if (result < -2147483647L - 1 || result > 2147483647L) return false;
  *value = static_cast<int>(result);
  return true;
}

}  // namespace

const char* parse_options(int argc, char** argv, DetectorOptions* options) {
  if (argc < 2) return kUsageText;
  options->model_path = nullptr;
  options->cutoff = kDefaultCutoff;
  options->score_window = kDefaultScoreWindow;
  options->mono = false;
  options->print_scores = false;

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (strcmp(arg, "--mono") == 0) {
      options->mono = true;
    } else if (strcmp(arg, "--scores") == 0) {
      options->print_scores = true;
    } else if (strcmp(arg, "--cutoff") == 0 && has_value) {
      if (!parse_cutoff(argv[++i], &options->cutoff)) {
        return "--cutoff needs a number";
      }
    } else if (strcmp(arg, "--window") == 0 && has_value) {
      if (!parse_window(argv[++i], &options->score_window)) {
        return "--window needs a whole number";
      }
    } else if (arg[0] == '-') {
      return kUsageText;
    } else if (options->model_path != nullptr) {
      return kUsageText;
    } else {
      options->model_path = arg;
    }
  }
  if (options->model_path == nullptr) return kUsageText;

  if (!(options->cutoff > 0.0f && options->cutoff <= 1.0f) ||
      options->score_window < 1 || options->score_window > kMaxScoreWindow) {
    return "cutoff must be in (0, 1] and window in 1 to 50";
  }
  return nullptr;
}
