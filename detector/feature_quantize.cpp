#include "detector/feature_quantize.h"

#include <cmath>

void quantize_features(const uint16_t* values, float input_scale,
                       int32_t input_zero_point, int8_t* row) {
  for (int k = 0; k < kFeatureCount; ++k) {
    float x = static_cast<float>(values[k]) * kFeatureScale;
    x = x / input_scale;
    // Halves go to even in the default rounding mode, which is never changed.
    float r = std::nearbyint(x);
    if (std::isnan(r)) r = 0.0f;
    // The sum is formed in double so a huge quotient still saturates.
    const double q = static_cast<double>(r) + input_zero_point;
    row[k] = q > 127.0 ? 127 : q < -128.0 ? -128 : static_cast<int8_t>(q);
  }
}
