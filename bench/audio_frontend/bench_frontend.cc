// Times FrontendProcessSamples on 160-sample calls over a recording and
// checks the rows against the recorded features.
//
//   bench_frontend AUDIO.raw FEATURES.txt PASSES
//
// PASSES 0 runs the check pass only (for instruction counting).
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio_frontend/frontend_util.h"
#include "detector/feature_setup.h"

namespace {

constexpr size_t kChunk = 160;

std::vector<int16_t> ReadSamples(const char* path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                      static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  }
  samples.resize(samples.size() / kChunk * kChunk);
  return samples;
}

std::string ReadText(const char* path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

double Seconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec * 1e-9;
}

// One pass over the samples; returns the rows as text when asked to.
void RunPass(FrontendState* state, const std::vector<int16_t>& samples,
             std::string* rows) {
  for (size_t start = 0; start < samples.size(); start += kChunk) {
    size_t read = 0;
    const FrontendOutput out =
        FrontendProcessSamples(state, samples.data() + start, kChunk, &read);
    if (rows == nullptr) continue;
    for (size_t i = 0; i < out.size; ++i) {
      *rows += std::to_string(out.values[i]);
      *rows += i + 1 < out.size ? ' ' : '\n';
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s AUDIO.raw FEATURES.txt PASSES\n", argv[0]);
    return 2;
  }
  const std::vector<int16_t> samples = ReadSamples(argv[1]);
  const std::string expected = ReadText(argv[2]);
  const int passes = atoi(argv[3]);

  FrontendState state;
  if (!populate_feature_state(&state)) return 1;

  std::string rows;
  RunPass(&state, samples, &rows);
  const bool identical = rows == expected;
  const size_t calls = samples.size() / kChunk;
  printf("calls per pass: %zu; output %s\n", calls,
         identical ? "identical to the features" : "DIFFERS from the features");

  if (passes > 0) {
    std::vector<double> per_call;
    for (int pass = 0; pass < passes; ++pass) {
      FrontendReset(&state);
      const double start = Seconds();
      RunPass(&state, samples, nullptr);
      per_call.push_back((Seconds() - start) / calls);
    }
    std::sort(per_call.begin(), per_call.end());
    printf("time per call over %d passes: min %.2f us, median %.2f us, max %.2f us\n",
           passes, per_call.front() * 1e6, per_call[per_call.size() / 2] * 1e6,
           per_call.back() * 1e6);
  }
  FrontendFreeStateContents(&state);
  return identical ? 0 : 1;
}
