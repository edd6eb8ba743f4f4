#ifndef AUDIO_FRONTEND_FRONTEND_UTIL_H_
#define AUDIO_FRONTEND_FRONTEND_UTIL_H_

#include "audio_frontend/frontend.h"

struct FrontendConfig {
  struct WindowConfig window;
  struct FilterbankConfig filterbank;
  struct NoiseReductionConfig noise_reduction;
  struct PcanGainControlConfig pcan_gain_control;
  struct LogScaleConfig log_scale;
};

void FrontendFillConfigWithDefaults(struct FrontendConfig* config);

// Fills *state from scratch and allocates its buffers. Returns 1, or 0 after
// printing what failed; the state may then be freed but not used.
int FrontendPopulateState(const struct FrontendConfig* config,
                          struct FrontendState* state, int sample_rate);

// Frees the buffers of the state (not the state itself) and clears it, so a
// second call or a call after a failed populate is harmless.
void FrontendFreeStateContents(struct FrontendState* state);

#endif  // AUDIO_FRONTEND_FRONTEND_UTIL_H_
