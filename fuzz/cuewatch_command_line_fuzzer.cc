// cuewatch's command line from arbitrary words: a refusal is one of the
// program's messages; an acceptance has one path from argv and values in range.

#include <cmath>
#include <cstring>

#include "detector/options.h"
#include "fuzz/argv_words.h"
#include "fuzz/fuzz_check.h"

namespace {

const char* const kMessages[] = {
    kUsageText,
    "--cutoff needs a number",
    "--window needs a whole number",
    "cutoff must be in (0, 1] and window in 1 to 50",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ArgvWords line;
  split_words(data, size, "cuewatch", &line);
  const int argc = static_cast<int>(line.words.size());
  DetectorOptions options;
  const char* message = parse_options(argc, line.argv.data(), &options);
  if (message != nullptr) {
    for (const char* known : kMessages) {
      if (strcmp(message, known) == 0) return 0;
    }
    fuzz_fail("a message the program doesn't have");
  }
  bool from_argv = false;
  for (int i = 1; i < argc; ++i) from_argv |= options.model_path == line.argv[i];
  if (!from_argv) fuzz_fail("the model path is not one of the words");
  if (options.model_path[0] == '-') fuzz_fail("an option taken as the path");
  if (!std::isfinite(options.cutoff) || !(options.cutoff > 0.0f) || options.cutoff > 1.0f)
    fuzz_fail("a cutoff outside (0, 1] accepted");
  if (options.score_window < 1 || options.score_window > kMaxScoreWindow)
    fuzz_fail("a window outside 1 to 50 accepted");
  return 0;
}
