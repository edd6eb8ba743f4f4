#ifndef TESTS_AUDIO_FRONTEND_FRONTEND_TEST_UTIL_H_
#define TESTS_AUDIO_FRONTEND_FRONTEND_TEST_UTIL_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "audio_frontend/frontend_util.h"
#include "detector/feature_setup.h"

// The configuration of the reference features is the detector's own,
// feature_config().

// The small configuration of the known-answer vectors: 1 kHz, 25 ms window,
// 10 ms step, 2 channels from 8 to 450 Hz, PCAN on.
FrontendConfig SmallConfig();
constexpr int kSmallSampleRate = 1000;

// Owns a populated state for the length of a test.
class ScopedFrontend {
 public:
  ScopedFrontend(const FrontendConfig& config, int sample_rate);
  ~ScopedFrontend();
  ScopedFrontend(const ScopedFrontend&) = delete;
  ScopedFrontend& operator=(const ScopedFrontend&) = delete;
  FrontendState* get() { return &state_; }
  bool ok() const { return ok_; }

 private:
  FrontendState state_;
  bool ok_;
};

using Row = std::vector<uint16_t>;

// A row with the chunk (1-based) whose call produced it.
struct TimedRow {
  size_t chunk;
  Row values;
};

// Feeds samples in chunks of chunk_size, looping on unread samples within a
// chunk as a caller must, and collects every row.
std::vector<TimedRow> RunChunks(FrontendState* state,
                                const std::vector<int16_t>& samples,
                                size_t chunk_size);

std::string GoldenDir();

// Mono samples of a golden audio file; 4-channel files are mixed as the
// detector mixes them.
std::vector<int16_t> ReadGoldenAudio(const std::string& name, int channels);

std::vector<Row> ReadGoldenFeatures(const std::string& name);

// Parses space-separated integers.
std::vector<int64_t> ParseInts(const std::string& text);

#endif  // TESTS_AUDIO_FRONTEND_FRONTEND_TEST_UTIL_H_
