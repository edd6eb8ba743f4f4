#include "audio_frontend/fft.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "kiss_fftr.h"

#if !defined(FIXED_POINT) || FIXED_POINT != 16
#error "KissFFT must be used in 16-bit fixed point"
#endif

static_assert(sizeof(FftComplexInt16) == sizeof(kiss_fft_cpx) &&
                  offsetof(FftComplexInt16, real) == offsetof(kiss_fft_cpx, r) &&
                  offsetof(FftComplexInt16, imag) == offsetof(kiss_fft_cpx, i),
              "FftComplexInt16 must match kiss_fft_cpx");

namespace {

// KissFFT takes its length as an int; stay well inside it.
constexpr size_t kMaxFftSize = size_t{1} << 30;

}  // namespace

bool FftPopulateState(FftState* state, size_t input_size) {
  state->input_size = input_size;
  state->fft_size = 1;
  while (state->fft_size < input_size && state->fft_size < kMaxFftSize) {
    state->fft_size <<= 1;
  }
  const size_t spectrum_size = state->fft_size / 2 + 1;

  state->input = static_cast<int16_t*>(calloc(state->fft_size, sizeof(*state->input)));
  if (state->input == nullptr) {
    fprintf(stderr, "Failed to alloc fft input buffer\n");
    return false;
  }
  state->output = static_cast<FftComplexInt16*>(
      calloc(spectrum_size, sizeof(*state->output)));
  if (state->output == nullptr) {
    fprintf(stderr, "Failed to alloc fft output buffer\n");
    return false;
  }

  // Ask KissFFT for the size of its configuration, then place it in our own
  // buffer. An odd length (1) gets no size at all.
  size_t scratch_size = 0;
  if (state->fft_size < input_size ||
      kiss_fftr_alloc(static_cast<int>(state->fft_size), 0, nullptr,
                      &scratch_size) != nullptr ||
      scratch_size == 0) {
    fprintf(stderr, "Kiss memory sizing failed.\n");
    return false;
  }
  state->scratch = malloc(scratch_size);
  if (state->scratch == nullptr) {
    fprintf(stderr, "Failed to alloc fft scratch buffer\n");
    return false;
  }
  state->scratch_size = scratch_size;
  kiss_fftr_cfg config = kiss_fftr_alloc(static_cast<int>(state->fft_size), 0,
                                         state->scratch, &scratch_size);
  if (config != state->scratch) {
    fprintf(stderr, "Kiss memory preallocation strategy failed.\n");
    return false;
  }
  state->config = config;
  return true;
}

void FftCompute(FftState* state, const int16_t* input, int input_scale_shift) {
  int16_t* fft_input = state->input;
  for (size_t i = 0; i < state->input_size; ++i) {
    // Only the low 16 bits count: a -32768 the peak ignored may wrap.
    fft_input[i] = static_cast<int16_t>(static_cast<uint16_t>(input[i])
                                        << input_scale_shift);
  }
  kiss_fftr(state->config, fft_input, reinterpret_cast<kiss_fft_cpx*>(state->output));
}

void FftReset(FftState* state) {
  std::fill_n(state->input, state->input != nullptr ? state->fft_size : 0, 0);
  const size_t spectrum_size = state->output != nullptr ? state->fft_size / 2 + 1 : 0;
  std::fill_n(state->output, spectrum_size, FftComplexInt16{0, 0});
}

void FftFreeStateContents(FftState* state) {
  free(state->input);
  free(state->output);
  free(state->scratch);
  state->input = nullptr;
  state->output = nullptr;
  state->scratch = nullptr;
  state->config = nullptr;
}
