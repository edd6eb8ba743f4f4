#ifndef DETECTOR_FEATURE_SETUP_H_
#define DETECTOR_FEATURE_SETUP_H_

#include "audio_frontend/frontend.h"

constexpr int kSampleRate = 16000;
constexpr int kFeatureWindowMs = 30;
constexpr int kFeatureStepMs = 10;

// Configures the front end for 40 features per 10 ms step with PCAN on and
// populates state. Returns the library's result: 0 on failure.
int populate_feature_state(FrontendState* state);

#endif  // DETECTOR_FEATURE_SETUP_H_
