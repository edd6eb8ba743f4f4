// The tables computed at set-up must equal the embedded ones on every
// target: where they drift, the math library or the float code generation
// no longer matches the one the expected features were made with.
#include "audio_frontend/embedded_tables.h"
#include "gtest/gtest.h"
#include "tests/audio_frontend/frontend_test_util.h"

namespace {

TEST(Tables, ComputedWindowMatchesEmbedded) {
  std::vector<int16_t> window(kEmbeddedWindowSize);
  WindowComputeCoefficients(window.size(), window.data());
  EXPECT_EQ(window, std::vector<int16_t>(kEmbeddedWindow, kEmbeddedWindow + kEmbeddedWindowSize));
  // Float rounding lands index 17 exactly on 53.5, so the table is not
  // symmetric; in double it would be.
  EXPECT_EQ(window[17], 54);
  EXPECT_EQ(window[462], 53);
  for (int i = 238; i <= 241; ++i) EXPECT_EQ(window[i], 4096) << i;
}

TEST(Tables, ComputedFilterbankMatchesEmbedded) {
  const FrontendConfig config = feature_config();
  std::vector<int> band_starts(kEmbeddedNumChannels + 2);
  const FilterbankBands bands = FilterbankComputeBands(
      &config.filterbank, kEmbeddedSampleRate, kEmbeddedSpectrumSize, band_starts.data());
  EXPECT_EQ(bands.start_index, kEmbeddedStartIndex);
  EXPECT_EQ(bands.end_index, kEmbeddedEndIndex);
  EXPECT_EQ(band_starts, std::vector<int>(kEmbeddedBandStarts,
                                          kEmbeddedBandStarts + kEmbeddedNumChannels + 2));

  const int count = kEmbeddedEndIndex - kEmbeddedStartIndex;
  std::vector<int16_t> weights(count), unweights(count);
  FilterbankComputeWeights(&config.filterbank, kEmbeddedSampleRate, kEmbeddedSpectrumSize,
                           band_starts.data(), weights.data(), unweights.data());
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(kEmbeddedStartIndex + i);
    EXPECT_EQ(weights[i], kEmbeddedWeights[i]);
    EXPECT_EQ(unweights[i], 4096 - kEmbeddedWeights[i]);
  }
  // The two bins that a correctly rounded log1pf changes.
  EXPECT_EQ(weights[149 - kEmbeddedStartIndex], 2471);
  EXPECT_EQ(unweights[149 - kEmbeddedStartIndex], 1625);
  EXPECT_EQ(weights[221 - kEmbeddedStartIndex], 1401);
  EXPECT_EQ(unweights[221 - kEmbeddedStartIndex], 2695);
}

TEST(Tables, ComputedGainTableMatchesEmbedded) {
  const FrontendConfig config = feature_config();
  std::vector<int16_t> table(kPcanGainTableSize, 0);
  PcanComputeGainTable(&config.pcan_gain_control, kEmbeddedPcanInputBits, table.data());
  EXPECT_EQ(table, std::vector<int16_t>(kEmbeddedGainTable,
                                        kEmbeddedGainTable + kPcanGainTableSize));
  EXPECT_EQ(table[0], 32636);
  EXPECT_EQ(table[1], 32633);
}

TEST(Tables, DetectorConfigUsesTheEmbeddedTables) {
  ScopedFrontend frontend(feature_config(), 16000);
  ASSERT_TRUE(frontend.ok());
  const FrontendState* state = frontend.get();
  EXPECT_EQ(std::vector<int16_t>(state->window.coefficients,
                                 state->window.coefficients + kEmbeddedWindowSize),
            std::vector<int16_t>(kEmbeddedWindow, kEmbeddedWindow + kEmbeddedWindowSize));
  EXPECT_EQ(state->filterbank.start_index, 5);
  EXPECT_EQ(state->filterbank.end_index, 241);
  EXPECT_EQ(state->filterbank.weights[149 - 5], 2471);
  EXPECT_EQ(state->filterbank.unweights[221 - 5], 2695);
  EXPECT_EQ(std::vector<int16_t>(state->pcan_gain_control.gain_lut,
                                 state->pcan_gain_control.gain_lut + kPcanGainTableSize),
            std::vector<int16_t>(kEmbeddedGainTable, kEmbeddedGainTable + kPcanGainTableSize));
  EXPECT_EQ(state->pcan_gain_control.snr_shift, 6);
  EXPECT_EQ(state->log_scale.correction_bits, 3);
  EXPECT_EQ(state->noise_reduction.even_smoothing, 409);
  EXPECT_EQ(state->noise_reduction.odd_smoothing, 983);
  EXPECT_EQ(state->noise_reduction.min_signal_remaining, 819);
}

}  // namespace

namespace {

uint64_t Fnv1a(uint64_t hash, const void* data, size_t bytes) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < bytes; ++i) hash = (hash ^ p[i]) * 1099511628211u;
  return hash;
}

uint64_t HashTables(const FrontendState& state) {
  const FilterbankState& bank = state.filterbank;
  uint64_t hash = 1469598103934665603u;
  hash = Fnv1a(hash, state.window.coefficients, state.window.size * sizeof(int16_t));
  hash = Fnv1a(hash, bank.band_starts, (bank.num_channels + 2) * sizeof(int));
  const size_t weights = (bank.end_index - bank.start_index) * sizeof(int16_t);
  hash = Fnv1a(hash, bank.weights, weights);
  hash = Fnv1a(hash, bank.unweights, weights);
  return Fnv1a(hash, state.pcan_gain_control.gain_lut, kPcanGainTableSize * sizeof(int16_t));
}

// Configurations that compute their tables rather than use the embedded
// ones. The hashes were taken from the x86-64 build; the armhf build must
// reproduce them, so that features agree across targets here too.
TEST(Tables, ComputedTablesAgreeAcrossTargets) {
  const struct {
    const char* name;
    size_t window_ms;
    int channels;
    float lower, upper;
    int sample_rate;
    uint64_t hash;
  } cases[] = {
      {"library defaults", 25, 32, 125.0f, 7500.0f, 16000, 13073742031057742698u},
      {"8 kHz", 30, 40, 125.0f, 3800.0f, 8000, 6861911896231511715u},
      {"48 kHz", 30, 40, 60.0f, 20000.0f, 48000, 345456165444252703u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FrontendConfig config = feature_config();
    config.window.size_ms = c.window_ms;
    config.filterbank.num_channels = c.channels;
    config.filterbank.lower_band_limit = c.lower;
    config.filterbank.upper_band_limit = c.upper;
    config.pcan_gain_control.offset = 70.0f;
    ScopedFrontend frontend(config, c.sample_rate);
    ASSERT_TRUE(frontend.ok());
    EXPECT_EQ(HashTables(*frontend.get()), c.hash);
  }
}

}  // namespace
