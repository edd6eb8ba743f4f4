// Rounding, saturation and floor shifts of the per-row arithmetic.
#include <random>

#include "audio_frontend/embedded_tables.h"
#include "gtest/gtest.h"
#include "tests/audio_frontend/frontend_test_util.h"

namespace {

TEST(RoundedSqrt, RoundsToNearestWithinItsCaps) {
  const struct {
    uint64_t value;
    uint32_t root;
  } cases[] = {
      {0, 0},
      {1, 1},
      {2, 1},
      {3, 2},
      {6, 2},
      {7, 3},
      {4294836225u, 65535},           // 65535^2
      {4294901760u, 65535},           // 65535^2 + 65535: nearest is still 65535
      {4294901761u, 65535},           // would round to 65536, capped below 2^32
      {4294967295u, 65535},
      {4294967296u, 65536},           // 2^32: rounds in 32 bits from here on
      {(uint64_t{1} << 40) + (uint64_t{1} << 20), 1u << 20},
      {(uint64_t{1} << 40) + (uint64_t{1} << 20) + 1, (1u << 20) + 1},
      {18446744065119617025u, 4294967295u},  // (2^32 - 1)^2
      {18446744073709551615u, 4294967295u},  // 2^64 - 1: capped
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FilterbankRoundedSqrt(c.value), c.root) << c.value;
  }
}

// Floor root by bisection, independent of floating point.
uint64_t BisectFloorSqrt(uint64_t value) {
  uint64_t low = 0, high = uint64_t{1} << 32;
  while (high - low > 1) {
    const uint64_t mid = (low + high) / 2;
    if (mid <= value / mid) low = mid; else high = mid;
  }
  return low;
}

TEST(RoundedSqrt, MatchesExactRootsAcrossAllMagnitudes) {
  std::mt19937_64 random(1);
  for (int bits = 1; bits <= 64; ++bits) {
    for (int k = 0; k < 200; ++k) {
      uint64_t value = random() >> (64 - bits);
      // Squares and their neighbours are where a float estimate goes wrong.
      if (k % 3 == 1) {
        const uint64_t r = BisectFloorSqrt(value);
        value = r * r - (k % 2);
      }
      const uint64_t r = BisectFloorSqrt(value);
      const uint64_t cap = value < (uint64_t{1} << 32) ? 65535 : 4294967295u;
      const uint64_t expected = (value - r * r > r && r != cap) ? r + 1 : r;
      ASSERT_EQ(FilterbankRoundedSqrt(value), expected) << value;
    }
  }
}

TEST(PcanGain, InterpolationFloorsNegativeIntermediates) {
  // x = 3: (32 * -6 * 512 + 16384) / 2^15 = -2.5 must floor to -3, giving
  // g(3) = 32627 itself (truncation would give 32628).
  EXPECT_EQ(PcanGain(kEmbeddedGainTable, 3), 32627);
  EXPECT_EQ(PcanGain(kEmbeddedGainTable, 0), 32636);
  EXPECT_EQ(PcanGain(kEmbeddedGainTable, 2), 32630);
  // Interval ends meet the next interval's start.
  EXPECT_EQ(PcanGain(kEmbeddedGainTable, 4), 32624);
  EXPECT_EQ(PcanGain(kEmbeddedGainTable, 4294967295u), 0);

  // a2 * t / 32 = -1023 / 32 must floor to -32 (not -31) for the result to
  // floor from -500.01 to -501.
  int16_t table[kPcanGainTableSize] = {};
  const int interval = 11;  // x = 2047 has 11 bits, t = 1023
  table[4 * interval - 6] = 1000;
  table[4 * interval - 5] = -500;
  table[4 * interval - 4] = -1;
  EXPECT_EQ(PcanGain(table, 2047), 499);
}

TEST(PcanGainControl, SmallOutputsAndTheKnee) {
  ScopedFrontend frontend(feature_config(), 16000);
  ASSERT_TRUE(frontend.ok());
  PcanGainControlState pcan = frontend.get()->pcan_gain_control;
  // With a zero noise estimate the gain is 32636 and snr = s * 32636 >> 6.
  const uint32_t estimates[4] = {0, 0, 0, 0};
  pcan.noise_estimate = estimates;
  pcan.num_channels = 4;
  // snr 8191 (s = 16) squares to 63; 8192 and above go linear from 64.
  uint32_t signal[4] = {16, 17, 1000, 0};
  PcanGainControlApply(&pcan, signal);
  EXPECT_EQ(signal[0], 63u);    // snr 8159
  EXPECT_EQ(signal[1], 71u);    // snr 8668
  EXPECT_EQ(signal[2], 7903u);  // snr 509937
  EXPECT_EQ(signal[3], 0u);
}

TEST(LogScale, OutputsOfTheDetectorConfig) {
  LogScaleState log_state = {1, 6, 3};
  const struct {
    uint32_t value;
    uint16_t row;
  } cases[] = {
      {0, 0},
      {1, 133},   // 8 after the correction shift: ln 8 * 64
      {2, 177},
      {5967, 689},  // the interpolation step floors to -1 here; 0 would give 690
      {1u << 28, 1375},  // 2^31 after the shift: 31 ln 2 * 64
  };
  for (const auto& c : cases) {
    uint16_t row = 0;
    LogScaleApply(&log_state, &c.value, 1, &row);
    EXPECT_EQ(row, c.row) << c.value;
  }
}

TEST(LogScale, DisabledSaturatesTheRawValue) {
  LogScaleState log_state = {0, 6, 3};
  const uint32_t signal[3] = {1000, 65535, 70000};
  uint16_t row[3];
  LogScaleApply(&log_state, signal, 3, row);
  EXPECT_EQ(row[0], 1000);
  EXPECT_EQ(row[1], 65535);
  EXPECT_EQ(row[2], 65535);
}

}  // namespace
