// Configuration defaults, set-up failures and their messages, and release.
#include <math.h>
#include <string.h>

#include <functional>
#include <string>

#include "gtest/gtest.h"
#include "tests/audio_frontend/frontend_test_util.h"

namespace {

TEST(Config, DefaultsFillEveryField) {
  FrontendConfig config;
  memset(&config, 0x5A, sizeof(config));
  FrontendFillConfigWithDefaults(&config);
  EXPECT_EQ(config.window.size_ms, 25u);
  EXPECT_EQ(config.window.step_size_ms, 10u);
  EXPECT_EQ(config.filterbank.num_channels, 32);
  EXPECT_EQ(config.filterbank.upper_band_limit, 7500.0f);
  EXPECT_EQ(config.filterbank.lower_band_limit, 125.0f);
  EXPECT_EQ(config.filterbank.output_scale_shift, 7);
  EXPECT_EQ(config.noise_reduction.smoothing_bits, 10);
  EXPECT_EQ(config.noise_reduction.even_smoothing, 0.025f);
  EXPECT_EQ(config.noise_reduction.odd_smoothing, 0.06f);
  EXPECT_EQ(config.noise_reduction.min_signal_remaining, 0.05f);
  EXPECT_EQ(config.pcan_gain_control.enable_pcan, 0);
  EXPECT_EQ(config.pcan_gain_control.strength, 0.95f);
  EXPECT_EQ(config.pcan_gain_control.offset, 80.0f);
  EXPECT_EQ(config.pcan_gain_control.gain_bits, 21);
  EXPECT_EQ(config.log_scale.enable_log, 1);
  EXPECT_EQ(config.log_scale.scale_shift, 6);
}

struct SetupCase {
  const char* name;
  std::function<void(FrontendConfig*)> change;
  int sample_rate;
  const char* messages;  // empty when set-up must succeed
};

// On a 32-bit target no window size reaches an allocation that must fail,
// and on a 64-bit one a huge channel count may be granted lazily.
void ExhaustMemory(FrontendConfig* config) {
  if (sizeof(size_t) == 8) {
    config->window.size_ms = SIZE_MAX / 16000;
  } else {
    config->filterbank.num_channels = 0x7FFFFFFE;
  }
}
const char* kExhaustedMessages = sizeof(size_t) == 8
    ? "Failed to allocate window coefficients\nFailed to populate window state\n"
    : "Failed to allocate channel buffers\nFailed to populate filterbank state\n";

// Drops the sanitizer's own warning about a refused allocation.
std::string WithoutSanitizerLines(const std::string& text) {
  std::string kept;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text.compare(start, 2, "==") != 0) kept += text.substr(start, end - start);
    start = end;
  }
  return kept;
}

const SetupCase kSetupCases[] = {
    {"detector config", [](FrontendConfig*) {}, 16000, ""},
    {"upper limit at Nyquist reaches past the spectrum",
     [](FrontendConfig* c) { c->filterbank.upper_band_limit = 8000.0f; }, 16000,
     "Filterbank end_index is above spectrum size.\nFailed to populate filterbank state\n"},
    {"upper limit just below Nyquist fits",
     [](FrontendConfig* c) { c->filterbank.upper_band_limit = 7999.0f; }, 16000, ""},
    {"lower limit beyond the spectrum",
     [](FrontendConfig* c) {
       c->filterbank.lower_band_limit = 1e30f;
       c->filterbank.upper_band_limit = 2e30f;
     },
     16000,
     "Filterbank end_index is above spectrum size.\nFailed to populate filterbank state\n"},
    {"step longer than the window",
     [](FrontendConfig* c) { c->window.step_size_ms = 31; }, 16000,
     "Window size or step out of range\nFailed to populate window state\n"},
    {"zero step", [](FrontendConfig* c) { c->window.step_size_ms = 0; }, 16000,
     "Window size or step out of range\nFailed to populate window state\n"},
    {"zero window", [](FrontendConfig* c) { c->window.size_ms = 0; }, 16000,
     "Window size or step out of range\nFailed to populate window state\n"},
    {"window size overflows", [](FrontendConfig* c) { c->window.size_ms = SIZE_MAX; },
     16000, "Window size or step out of range\nFailed to populate window state\n"},
    {"zero sample rate", [](FrontendConfig*) {}, 0,
     "Window size or step out of range\nFailed to populate window state\n"},
    {"negative sample rate", [](FrontendConfig*) {}, -16000,
     "Window size or step out of range\nFailed to populate window state\n"},
    {"one-sample window has no real FFT",
     [](FrontendConfig* c) {
       c->window.size_ms = 1;
       c->window.step_size_ms = 1;
     },
     1000, "Kiss memory sizing failed.\nFailed to populate fft state\n"},
    {"no channels", [](FrontendConfig* c) { c->filterbank.num_channels = 0; }, 16000,
     "Filterbank channel count out of range\nFailed to populate filterbank state\n"},
    {"negative lower limit",
     [](FrontendConfig* c) { c->filterbank.lower_band_limit = -1.0f; }, 16000,
     "Filterbank band limits out of range\nFailed to populate filterbank state\n"},
    {"limits in the wrong order",
     [](FrontendConfig* c) { c->filterbank.upper_band_limit = 125.0f; }, 16000,
     "Filterbank band limits out of range\nFailed to populate filterbank state\n"},
    {"infinite upper limit",
     [](FrontendConfig* c) { c->filterbank.upper_band_limit = INFINITY; }, 16000,
     "Filterbank band limits out of range\nFailed to populate filterbank state\n"},
    {"NaN lower limit",
     [](FrontendConfig* c) { c->filterbank.lower_band_limit = NAN; }, 16000,
     "Filterbank band limits out of range\nFailed to populate filterbank state\n"},
    {"smoothing shift of 32",
     [](FrontendConfig* c) { c->noise_reduction.smoothing_bits = 32; }, 16000,
     "Noise reduction settings out of range\nFailed to populate noise reduction state\n"},
    {"smoothing above one",
     [](FrontendConfig* c) { c->noise_reduction.odd_smoothing = 1.5f; }, 16000,
     "Noise reduction settings out of range\nFailed to populate noise reduction state\n"},
    {"negative floor fraction",
     [](FrontendConfig* c) { c->noise_reduction.min_signal_remaining = -0.1f; }, 16000,
     "Noise reduction settings out of range\nFailed to populate noise reduction state\n"},
    {"PCAN snr shift below zero",
     [](FrontendConfig* c) { c->pcan_gain_control.gain_bits = 14; }, 16000,
     "PCAN settings out of range\nFailed to populate pcan gain control state\n"},
    {"PCAN negative offset",
     [](FrontendConfig* c) { c->pcan_gain_control.offset = -1.0f; }, 16000,
     "PCAN settings out of range\nFailed to populate pcan gain control state\n"},
    {"PCAN settings unused when it is off",
     [](FrontendConfig* c) {
       c->pcan_gain_control.enable_pcan = 0;
       c->pcan_gain_control.gain_bits = 14;
     },
     16000, ""},
    {"log shift of 32", [](FrontendConfig* c) { c->log_scale.scale_shift = 32; }, 16000,
     "Log scale shift out of range\nFailed to populate log scale state\n"},
    {"log shift unused when the log is off",
     [](FrontendConfig* c) {
       c->log_scale.enable_log = 0;
       c->log_scale.scale_shift = 32;
     },
     16000, ""},
    {"allocation fails", ExhaustMemory, 16000, kExhaustedMessages},
};

TEST(Setup, ResultsAndMessages) {
  for (const SetupCase& c : kSetupCases) {
    SCOPED_TRACE(c.name);
    FrontendConfig config = feature_config();
    c.change(&config);
    FrontendState state;
    ::testing::internal::CaptureStderr();
    const int result = FrontendPopulateState(&config, &state, c.sample_rate);
    const std::string messages =
        WithoutSanitizerLines(::testing::internal::GetCapturedStderr());
    EXPECT_EQ(result, c.messages[0] == '\0' ? 1 : 0);
    EXPECT_EQ(messages, c.messages);
    if (result == 1) {
      // A state that set up must also run.
      const std::vector<int16_t> samples(1600, 1000);
      EXPECT_EQ(RunChunks(&state, samples, 160).size(), 8u);
    }
    FrontendFreeStateContents(&state);
  }
}

TEST(Release, FreeingTwiceAndUsingAFreedStateAreHarmless) {
  FrontendState state;
  const FrontendConfig config = feature_config();
  ASSERT_EQ(FrontendPopulateState(&config, &state, 16000), 1);
  FrontendFreeStateContents(&state);
  FrontendFreeStateContents(&state);
  const std::vector<int16_t> samples(480, 1000);
  size_t read = 99;
  const FrontendOutput out = FrontendProcessSamples(&state, samples.data(), 480, &read);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(out.size, 0u);
  FrontendReset(&state);
}

TEST(Release, AfterAFailedPopulate) {
  FrontendConfig config = feature_config();
  config.filterbank.upper_band_limit = 8000.0f;  // fails after allocating most buffers
  FrontendState state;
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(FrontendPopulateState(&config, &state, 16000), 0);
  ::testing::internal::GetCapturedStderr();
  FrontendReset(&state);
  FrontendFreeStateContents(&state);
}

}  // namespace
