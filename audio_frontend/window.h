#ifndef AUDIO_FRONTEND_WINDOW_H_
#define AUDIO_FRONTEND_WINDOW_H_

#include <stddef.h>
#include <stdint.h>

struct WindowConfig {
  size_t size_ms;
  size_t step_size_ms;
};

struct WindowState {
  size_t size;  // samples per window
  size_t step;  // samples per step
  int16_t* coefficients;  // Q12 Hann window
  int16_t* input;         // samples gathered for the next window
  size_t input_used;
  int16_t* output;        // the last windowed frame
  int16_t max_abs_output_value;
};

// Hann window sampled at half-sample offsets, Q12.
void WindowComputeCoefficients(size_t size, int16_t* coefficients);

bool WindowPopulateState(const WindowConfig* config, WindowState* state,
                         int sample_rate);

// Takes up to one window's worth of samples; returns true when a full window
// was gathered and windowed into state->output.
bool WindowProcessSamples(WindowState* state, const int16_t* samples,
                          size_t num_samples, size_t* num_samples_read);

void WindowReset(WindowState* state);
void WindowFreeStateContents(WindowState* state);

#endif  // AUDIO_FRONTEND_WINDOW_H_
