#ifndef DETECTOR_FEATURE_SETUP_H_
#define DETECTOR_FEATURE_SETUP_H_

#include "audio_frontend/frontend_util.h"

constexpr int kSampleRate = 16000;
constexpr int kFeatureWindowMs = 30;
constexpr int kFeatureStepMs = 10;

// The front end's settings: 40 features per 10 ms step, PCAN on.
FrontendConfig feature_config();

// Populates state with feature_config() at kSampleRate. Returns the
// library's result: 0 on failure.
int populate_feature_state(FrontendState* state);

#endif  // DETECTOR_FEATURE_SETUP_H_
