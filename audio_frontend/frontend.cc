#include "audio_frontend/frontend.h"

#include "audio_frontend/bits.h"

struct FrontendOutput FrontendProcessSamples(struct FrontendState* state,
                                             const int16_t* samples,
                                             size_t num_samples,
                                             size_t* num_samples_read) {
  FrontendOutput output = {nullptr, 0};
  if (!WindowProcessSamples(&state->window, samples, num_samples, num_samples_read)) {
    return output;
  }
  // Scale the frame up to use all 16 bits in the FFT, and the roots back down.
  const int input_shift =
      15 - BitLength32(static_cast<uint32_t>(state->window.max_abs_output_value));
  FftCompute(&state->fft, state->window.output, input_shift);
  FilterbankAccumulateChannels(&state->filterbank, state->fft.output);
  uint32_t* signal = FilterbankSqrt(&state->filterbank, input_shift);
  NoiseReductionApply(&state->noise_reduction, signal);
  if (state->pcan_gain_control.enable_pcan) {
    PcanGainControlApply(&state->pcan_gain_control, signal);
  }
  const int num_channels = state->filterbank.num_channels;
  LogScaleApply(&state->log_scale, signal, num_channels, state->filterbank.output);
  output.values = state->filterbank.output;
  output.size = static_cast<size_t>(num_channels);
  return output;
}

void FrontendReset(struct FrontendState* state) {
  WindowReset(&state->window);
  FftReset(&state->fft);
  FilterbankReset(&state->filterbank);
  NoiseReductionReset(&state->noise_reduction);
}
