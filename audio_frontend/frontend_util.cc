#include "audio_frontend/frontend_util.h"

#include <stdio.h>
#include <string.h>

#include "audio_frontend/bits.h"

namespace {

constexpr int kFilterbankBits = 12;

}  // namespace

void FrontendFillConfigWithDefaults(struct FrontendConfig* config) {
  config->window.size_ms = 25;
  config->window.step_size_ms = 10;
  config->filterbank.num_channels = 32;
  config->filterbank.upper_band_limit = 7500.0f;
  config->filterbank.lower_band_limit = 125.0f;
  config->filterbank.output_scale_shift = 7;
  config->noise_reduction.smoothing_bits = 10;
  config->noise_reduction.even_smoothing = 0.025f;
  config->noise_reduction.odd_smoothing = 0.06f;
  config->noise_reduction.min_signal_remaining = 0.05f;
  config->pcan_gain_control.enable_pcan = 0;
  config->pcan_gain_control.strength = 0.95f;
  config->pcan_gain_control.offset = 80.0f;
  config->pcan_gain_control.gain_bits = 21;
  config->log_scale.enable_log = 1;
  config->log_scale.scale_shift = 6;
}

int FrontendPopulateState(const struct FrontendConfig* config,
                          struct FrontendState* state, int sample_rate) {
  memset(state, 0, sizeof(*state));

  if (!WindowPopulateState(&config->window, &state->window, sample_rate)) {
    fprintf(stderr, "Failed to populate window state\n");
    return 0;
  }
  if (!FftPopulateState(&state->fft, state->window.size)) {
    fprintf(stderr, "Failed to populate fft state\n");
    return 0;
  }
  const int spectrum_size = static_cast<int>(state->fft.fft_size / 2 + 1);
  if (!FilterbankPopulateState(&config->filterbank, &state->filterbank,
                               sample_rate, spectrum_size)) {
    fprintf(stderr, "Failed to populate filterbank state\n");
    return 0;
  }
  if (!NoiseReductionPopulateState(&config->noise_reduction,
                                   &state->noise_reduction,
                                   state->filterbank.num_channels)) {
    fprintf(stderr, "Failed to populate noise reduction state\n");
    return 0;
  }
  // Channel levels grow with the FFT size; later stages take that out.
  const int input_correction_bits =
      BitLength64(state->fft.fft_size) - 1 - kFilterbankBits / 2;
  if (!PcanGainControlPopulateState(
          &config->pcan_gain_control, &state->pcan_gain_control,
          state->noise_reduction.estimate, state->filterbank.num_channels,
          state->noise_reduction.smoothing_bits, input_correction_bits)) {
    fprintf(stderr, "Failed to populate pcan gain control state\n");
    return 0;
  }
  if (!LogScalePopulateState(&config->log_scale, &state->log_scale,
                             input_correction_bits)) {
    fprintf(stderr, "Failed to populate log scale state\n");
    return 0;
  }
  FrontendReset(state);
  return 1;
}

void FrontendFreeStateContents(struct FrontendState* state) {
  WindowFreeStateContents(&state->window);
  FftFreeStateContents(&state->fft);
  FilterbankFreeStateContents(&state->filterbank);
  NoiseReductionFreeStateContents(&state->noise_reduction);
  PcanGainControlFreeStateContents(&state->pcan_gain_control);
  memset(state, 0, sizeof(*state));
}
