// The tables computed at set-up must equal the embedded ones on every
// target: where they drift, the math library or the float code generation
// no longer matches the one the expected features were made with.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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

// Tables as setup_tables.py writes them, case by case.
struct TableCase {
  std::string name;
  size_t window_ms = 0;
  int channels = 0;
  float lower = 0, upper = 0;
  int sample_rate = 0;
  float pcan_offset = 0;
  std::map<std::string, std::vector<int64_t>> tables;
};

std::vector<TableCase> ReadTableCases() {
  std::ifstream file(SETUP_TABLES);
  std::vector<TableCase> cases;
  for (std::string line; std::getline(file, line);) {
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "case") {
      cases.emplace_back();
      std::getline(in >> std::ws, cases.back().name);
    } else if (key == "config" && !cases.empty()) {
      TableCase& c = cases.back();
      in >> c.window_ms >> c.channels >> c.lower >> c.upper >> c.sample_rate >> c.pcan_offset;
    } else if (!cases.empty()) {
      cases.back().tables[key] = ParseInts(line.substr(key.size()));
    }
  }
  return cases;
}

template <typename T>
std::vector<int64_t> Values(const T* data, size_t count) {
  return std::vector<int64_t>(data, data + count);
}

// Configurations that compute their tables rather than use the embedded
// ones, against the tables setup_tables.py derives from the set-up rules
// without this code. On armhf this also shows that the target's float code
// and C library compute them as the rules say.
TEST(Tables, ComputedTablesFollowTheSetUpRules) {
  const std::vector<TableCase> cases = ReadTableCases();
  ASSERT_FALSE(cases.empty()) << "no cases in " << SETUP_TABLES;
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    FrontendConfig config = feature_config();
    config.window.size_ms = c.window_ms;
    config.filterbank.num_channels = c.channels;
    config.filterbank.lower_band_limit = c.lower;
    config.filterbank.upper_band_limit = c.upper;
    config.pcan_gain_control.offset = c.pcan_offset;
    ScopedFrontend frontend(config, c.sample_rate);
    ASSERT_TRUE(frontend.ok());
    const FrontendState& state = *frontend.get();
    const FilterbankState& bank = state.filterbank;
    const size_t bins = static_cast<size_t>(bank.end_index - bank.start_index);
    EXPECT_EQ(Values(state.window.coefficients, state.window.size), c.tables.at("window"));
    EXPECT_EQ(Values(bank.band_starts, bank.num_channels + 2), c.tables.at("band_starts"));
    EXPECT_EQ(Values(bank.weights, bins), c.tables.at("weights"));
    EXPECT_EQ(Values(bank.unweights, bins), c.tables.at("unweights"));
    EXPECT_EQ(Values(state.pcan_gain_control.gain_lut, kPcanGainTableSize),
              c.tables.at("gain"));
  }
}

}  // namespace
