#ifndef AUDIO_FRONTEND_FFT_H_
#define AUDIO_FRONTEND_FFT_H_

#include <stddef.h>
#include <stdint.h>

// KissFFT's real-transform configuration, kept opaque so that users of the
// front end need not see KissFFT's headers.
struct kiss_fftr_state;

// Same layout as KissFFT's 16-bit complex value.
struct FftComplexInt16 {
  int16_t real;
  int16_t imag;
};

struct FftState {
  size_t fft_size;    // power of two, at least input_size
  size_t input_size;  // samples per window
  int16_t* input;     // fft_size samples; those past input_size stay zero
  FftComplexInt16* output;  // fft_size / 2 + 1 bins
  kiss_fftr_state* config;  // lives in scratch
  void* scratch;
  size_t scratch_size;
};

bool FftPopulateState(FftState* state, size_t input_size);

// Scales the frame up by 2^input_scale_shift (keeping the low 16 bits) and
// transforms it into state->output.
void FftCompute(FftState* state, const int16_t* input, int input_scale_shift);

void FftReset(FftState* state);
void FftFreeStateContents(FftState* state);

#endif  // AUDIO_FRONTEND_FFT_H_
