#include "audio_frontend/window.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "audio_frontend/embedded_tables.h"
#include "audio_frontend/setup_float.h"

namespace {

constexpr int kFrontendWindowBits = 12;

// Samples in ms milliseconds; 0 if that overflows.
size_t MillisecondsToSamples(size_t ms, int sample_rate) {
  const size_t rate = static_cast<size_t>(sample_rate);
  if (ms > SIZE_MAX / rate) return 0;
  return ms * rate / 1000;
}

}  // namespace

void WindowComputeCoefficients(size_t size, int16_t* coefficients) {
  const float arg = static_cast<float>(M_PI) * 2.0f / static_cast<float>(size);
  for (size_t i = 0; i < size; ++i) {
    const float half_cosine = 0.5f * cosf(arg * (static_cast<float>(i) + 0.5f));
    const float value = 0.5f - half_cosine;
    coefficients[i] = static_cast<int16_t>(
        floorf(value * (1 << kFrontendWindowBits) + 0.5f));
  }
}

bool WindowPopulateState(const WindowConfig* config, WindowState* state,
                         int sample_rate) {
  // A step longer than the window would move samples from beyond the buffer,
  // and a zero step would yield rows forever without taking samples.
  if (sample_rate > 0) {
    state->size = MillisecondsToSamples(config->size_ms, sample_rate);
    state->step = MillisecondsToSamples(config->step_size_ms, sample_rate);
  }
  if (state->size == 0 || state->step == 0 || state->step > state->size) {
    fprintf(stderr, "Window size or step out of range\n");
    state->size = state->step = 0;
    return false;
  }

  state->coefficients =
      static_cast<int16_t*>(calloc(state->size, sizeof(*state->coefficients)));
  if (state->coefficients == nullptr) {
    fprintf(stderr, "Failed to allocate window coefficients\n");
    return false;
  }
  if (state->size == static_cast<size_t>(kEmbeddedWindowSize)) {
    std::copy(kEmbeddedWindow, kEmbeddedWindow + kEmbeddedWindowSize,
              state->coefficients);
  } else {
    WindowComputeCoefficients(state->size, state->coefficients);
  }

  state->input = static_cast<int16_t*>(calloc(state->size, sizeof(*state->input)));
  if (state->input == nullptr) {
    fprintf(stderr, "Failed to allocate window input\n");
    return false;
  }
  state->output = static_cast<int16_t*>(calloc(state->size, sizeof(*state->output)));
  if (state->output == nullptr) {
    fprintf(stderr, "Failed to allocate window output\n");
    return false;
  }
  return true;
}

bool WindowProcessSamples(WindowState* state, const int16_t* samples,
                          size_t num_samples, size_t* num_samples_read) {
  const size_t size = state->size;
  const size_t wanted = size - state->input_used;
  const size_t taken = std::min(num_samples, wanted);
  *num_samples_read = taken;
  if (taken != 0) {
    memcpy(state->input + state->input_used, samples, taken * sizeof(*samples));
    state->input_used += taken;
  }
  // size 0: a state never populated, or already freed.
  if (size == 0 || state->input_used < size) return false;

  const int16_t* coefficients = state->coefficients;
  const int16_t* input = state->input;
  int16_t* output = state->output;
  int16_t max_abs = 0;
  for (size_t i = 0; i < size; ++i) {
    const int16_t value = static_cast<int16_t>(
        (static_cast<int32_t>(input[i]) * coefficients[i]) >> kFrontendWindowBits);
    output[i] = value;
    // Magnitudes in 16 bits: -32768 stays negative and never counts.
    const int16_t magnitude = value < 0 ? static_cast<int16_t>(-value) : value;
    if (magnitude > max_abs) max_abs = magnitude;
  }
  state->max_abs_output_value = max_abs;

  memmove(state->input, state->input + state->step,
          (size - state->step) * sizeof(*state->input));
  state->input_used = size - state->step;
  return true;
}

void WindowReset(WindowState* state) {
  std::fill_n(state->input, state->input != nullptr ? state->size : 0, 0);
  std::fill_n(state->output, state->output != nullptr ? state->size : 0, 0);
  state->input_used = 0;
  state->max_abs_output_value = 0;
}

void WindowFreeStateContents(WindowState* state) {
  free(state->coefficients);
  free(state->input);
  free(state->output);
  state->coefficients = state->input = state->output = nullptr;
}
