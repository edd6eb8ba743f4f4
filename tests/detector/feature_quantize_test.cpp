#include "detector/feature_quantize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

struct QuantizeCase {
  float scale;
  int32_t zero_point;
  uint16_t value;
  int8_t expected;
};

TEST(QuantizeFeatures, RoundsHalvesToEvenAndSaturatesTheSum) {
  const float tiny = 1e-38f;  // quotients far beyond any 32-bit integer
  const QuantizeCase cases[] = {
      {1.0f, 0, 64, 2},      // 2.5
      {1.0f, 0, 192, 8},     // 7.5
      {1.0f, 0, 320, 12},    // 12.5
      {1.0f, 0, 32, 1},      // 1.25
      {1.0f, 0, 96, 4},      // 3.75
      {1.0f, 0, 3264, 127},  // 127.5 rounds to 128, then saturates
      {1.0f, 0, 3263, 127},  // 127.46...
      {1.0f, 0, 65535, 127},
      {1.0f, -128, 0, -128},
      {1.0f, -128, 6528, 127},  // 255 - 128
      {1.0f, -128, 6502, 126},  // 253.98... rounds to 254
      {0.125f, -128, 8, -126},  // 2.5 goes to 2
      {0.125f, -128, 24, -120}, // 7.5 goes to 8
      {0.101960786f, -128, 100, -90},   // 38.31...
      {0.101960786f, -128, 255, -30},   // 97.69...
      {1.0f, 200, 0, 127},      // the zero point alone saturates
      {1.0f, -300, 0, -128},
      {1.0f, -300, 6528, -45},  // 255 - 300
      {1.0f, -300, 65535, 127}, // 2560 - 300
      {tiny, -128, 1, 127},
      {tiny, -2147483647 - 1, 1, 127},
      {tiny, 5, 0, 5},          // 0 stays 0 however small the scale
  };
  for (const QuantizeCase& c : cases) {
    uint16_t values[kFeatureCount] = {};
    values[17] = c.value;
    int8_t row[kFeatureCount];
    quantize_features(values, c.scale, c.zero_point, row);
    EXPECT_EQ(row[17], c.expected)
        << "value " << c.value << " scale " << c.scale << " zero point " << c.zero_point;
  }
}

TEST(QuantizeFeatures, WritesEveryElementInOrder) {
  uint16_t values[kFeatureCount];
  for (int k = 0; k < kFeatureCount; ++k) values[k] = static_cast<uint16_t>(k * 32);
  int8_t row[kFeatureCount];
  quantize_features(values, 0.5f, -100, row);
  for (int k = 0; k < kFeatureCount; ++k) {
    // k * 32 * 5/128 / 0.5 = 2.5 k, halves to even.
    const float exact = 2.5f * static_cast<float>(k);
    const int expected = static_cast<int>(std::nearbyint(exact)) - 100;
    EXPECT_EQ(row[k], expected > 127 ? 127 : expected) << "element " << k;
  }
  EXPECT_EQ(row[1], -98);  // 2.5
  EXPECT_EQ(row[3], -92);  // 7.5
}

TEST(QuantizeFeatures, NanScaleGivesTheZeroPointEverywhere) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  uint16_t values[kFeatureCount];
  for (int k = 0; k < kFeatureCount; ++k) values[k] = static_cast<uint16_t>(k * 1000);
  const struct {
    int32_t zero_point;
    int8_t expected;
  } cases[] = {{5, 5}, {-128, -128}, {300, 127}, {-300, -128}};
  for (const auto& c : cases) {
    int8_t row[kFeatureCount];
    quantize_features(values, nan, c.zero_point, row);
    for (int k = 0; k < kFeatureCount; ++k) {
      ASSERT_EQ(row[k], c.expected) << "zero point " << c.zero_point << " element " << k;
    }
  }
}

}  // namespace
