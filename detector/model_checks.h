#ifndef DETECTOR_MODEL_CHECKS_H_
#define DETECTOR_MODEL_CHECKS_H_

#include "detector/feature_layout.h"
#include "inference/common.h"

// Tests that the model takes int8 [1, F, 40] with F in 1 to 10 and a positive
// input scale, and gives uint8 [1, 1]. Returns the message to report, or
// nullptr when the audio loop can use the tensors.
const char* check_model_tensors(const TfLiteTensor& input,
                                const TfLiteTensor& output);

#endif  // DETECTOR_MODEL_CHECKS_H_
