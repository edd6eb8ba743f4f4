#ifndef DETECTOR_FEATURE_QUANTIZE_H_
#define DETECTOR_FEATURE_QUANTIZE_H_

#include <cstdint>

#include "detector/feature_layout.h"

constexpr float kFeatureScale = 0.0390625f;  // 5/128

// Quantises one front-end row of kFeatureCount values into row, the model
// input's int8 row, with the input tensor's scale and zero point.
void quantize_features(const uint16_t* values, float input_scale,
                       int32_t input_zero_point, int8_t* row);

#endif  // DETECTOR_FEATURE_QUANTIZE_H_
