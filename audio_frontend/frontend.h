#ifndef AUDIO_FRONTEND_FRONTEND_H_
#define AUDIO_FRONTEND_FRONTEND_H_

#include <stddef.h>
#include <stdint.h>

#include "audio_frontend/fft.h"
#include "audio_frontend/filterbank.h"
#include "audio_frontend/log_scale.h"
#include "audio_frontend/noise_reduction.h"
#include "audio_frontend/pcan_gain_control.h"
#include "audio_frontend/window.h"

struct FrontendState {
  WindowState window;
  FftState fft;
  FilterbankState filterbank;
  NoiseReductionState noise_reduction;
  PcanGainControlState pcan_gain_control;
  LogScaleState log_scale;
};

// One row of features; values is null and size 0 when no row is ready. The
// values live in the state until the next call, reset or free.
struct FrontendOutput {
  const uint16_t* values;
  size_t size;
};

// Takes up to a window's worth of samples, setting *num_samples_read, and
// yields at most one row: the caller loops over whatever was not read.
struct FrontendOutput FrontendProcessSamples(struct FrontendState* state,
                                             const int16_t* samples,
                                             size_t num_samples,
                                             size_t* num_samples_read);

// Clears the streaming state, as after populating.
void FrontendReset(struct FrontendState* state);

#endif  // AUDIO_FRONTEND_FRONTEND_H_
