#include "audio_frontend/noise_reduction.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "audio_frontend/setup_float.h"

namespace {

constexpr int kNoiseReductionBits = 14;

bool IsFraction(float value) { return value >= 0.0f && value <= 1.0f; }

}  // namespace

bool NoiseReductionPopulateState(const NoiseReductionConfig* config,
                                 NoiseReductionState* state, int num_channels) {
  // Shifts of 32 or more, and fractions outside [0, 1] converted to uint16,
  // would be undefined.
  if (config->smoothing_bits < 0 || config->smoothing_bits > 31 ||
      !IsFraction(config->even_smoothing) || !IsFraction(config->odd_smoothing) ||
      !IsFraction(config->min_signal_remaining)) {
    fprintf(stderr, "Noise reduction settings out of range\n");
    return false;
  }
  state->smoothing_bits = config->smoothing_bits;
  // Truncated, not rounded.
  state->even_smoothing =
      static_cast<uint16_t>(config->even_smoothing * (1 << kNoiseReductionBits));
  state->odd_smoothing =
      static_cast<uint16_t>(config->odd_smoothing * (1 << kNoiseReductionBits));
  state->min_signal_remaining = static_cast<uint16_t>(
      config->min_signal_remaining * (1 << kNoiseReductionBits));
  state->num_channels = num_channels;
  state->estimate = static_cast<uint32_t*>(calloc(num_channels, sizeof(uint32_t)));
  if (state->estimate == nullptr) {
    fprintf(stderr, "Failed to alloc estimate buffer\n");
    return false;
  }
  return true;
}

void NoiseReductionApply(NoiseReductionState* state, uint32_t* signal) {
  const int smoothing_bits = state->smoothing_bits;
  uint32_t* estimates = state->estimate;
  for (int i = 0; i < state->num_channels; ++i) {
    const uint32_t smoothing =
        (i & 1) == 0 ? state->even_smoothing : state->odd_smoothing;
    const uint32_t one_minus_smoothing = (1 << kNoiseReductionBits) - smoothing;
    const uint32_t scaled_up = signal[i] << smoothing_bits;
    const uint32_t estimate = static_cast<uint32_t>(
        (static_cast<uint64_t>(scaled_up) * smoothing +
         static_cast<uint64_t>(estimates[i]) * one_minus_smoothing) >>
        kNoiseReductionBits);
    estimates[i] = estimate;
    const uint32_t noise = std::min(estimate, scaled_up);
    const uint32_t floor = static_cast<uint32_t>(
        (static_cast<uint64_t>(signal[i]) * state->min_signal_remaining) >>
        kNoiseReductionBits);
    const uint32_t subtracted = (scaled_up - noise) >> smoothing_bits;
    signal[i] = std::max(subtracted, floor);
  }
}

void NoiseReductionReset(NoiseReductionState* state) {
  if (state->estimate == nullptr) return;
  std::fill_n(state->estimate, state->num_channels, 0);
}

void NoiseReductionFreeStateContents(NoiseReductionState* state) {
  free(state->estimate);
  state->estimate = nullptr;
}
