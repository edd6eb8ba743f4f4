#ifndef AUDIO_FRONTEND_NOISE_REDUCTION_H_
#define AUDIO_FRONTEND_NOISE_REDUCTION_H_

#include <stdint.h>

struct NoiseReductionConfig {
  int smoothing_bits;
  float even_smoothing;
  float odd_smoothing;
  float min_signal_remaining;
};

struct NoiseReductionState {
  int smoothing_bits;
  uint16_t even_smoothing;  // Q14
  uint16_t odd_smoothing;
  uint16_t min_signal_remaining;
  int num_channels;
  uint32_t* estimate;  // per-channel noise estimate, scaled up by smoothing_bits
};

bool NoiseReductionPopulateState(const NoiseReductionConfig* config,
                                 NoiseReductionState* state, int num_channels);

// Updates the noise estimates and subtracts them from signal in place.
void NoiseReductionApply(NoiseReductionState* state, uint32_t* signal);

void NoiseReductionReset(NoiseReductionState* state);
void NoiseReductionFreeStateContents(NoiseReductionState* state);

#endif  // AUDIO_FRONTEND_NOISE_REDUCTION_H_
