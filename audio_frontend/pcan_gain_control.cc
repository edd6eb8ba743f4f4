#include "audio_frontend/pcan_gain_control.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "audio_frontend/bits.h"
#include "audio_frontend/embedded_tables.h"
#include "audio_frontend/setup_float.h"

namespace {

constexpr int kPcanSnrBits = 12;

int16_t GainValue(uint32_t input, int input_bits, float strength, float offset,
                  int gain_bits) {
  // ldexpf scales exactly as dividing and multiplying by 1 << bits would,
  // without the undefined shifts for unusual bit counts.
  const float x = ldexpf(static_cast<float>(input), -input_bits);
  const float gain = ldexpf(1.0f, gain_bits) * powf(x + offset, -strength);
  if (gain > 32767) return 32767;
  return static_cast<int16_t>(gain + 0.5f);
}

bool IsEmbeddedConfig(const PcanGainControlConfig* config, int input_bits) {
  return input_bits == kEmbeddedPcanInputBits &&
         config->gain_bits == kEmbeddedPcanGainBits &&
         config->strength == kEmbeddedPcanStrength &&
         config->offset == kEmbeddedPcanOffset;
}

}  // namespace

void PcanComputeGainTable(const PcanGainControlConfig* config, int input_bits,
                          int16_t* gain_lut) {
  const float strength = config->strength;
  const float offset = config->offset;
  const int gain_bits = config->gain_bits;
  gain_lut[0] = GainValue(0, input_bits, strength, offset, gain_bits);
  gain_lut[1] = GainValue(1, input_bits, strength, offset, gain_bits);
  for (int interval = 2; interval <= 32; ++interval) {
    const uint32_t x0 = uint32_t{1} << (interval - 1);
    const uint32_t x1 = x0 + (x0 >> 1);
    const uint32_t x2 = interval == 32 ? 0xFFFFFFFFu : uint32_t{1} << interval;
    const int32_t y0 = GainValue(x0, input_bits, strength, offset, gain_bits);
    const int32_t y1 = GainValue(x1, input_bits, strength, offset, gain_bits);
    const int32_t y2 = GainValue(x2, input_bits, strength, offset, gain_bits);
    // y0 + a1 t + a2 t^2 meets y0, y1, y2 at t = 0, 1/2, 1.
    const int32_t diff1 = y1 - y0;
    const int32_t diff2 = y2 - y0;
    const int32_t a1 = 4 * diff1 - diff2;
    const int32_t a2 = diff2 - a1;
    int16_t* segment = gain_lut + 4 * interval - 6;
    segment[0] = static_cast<int16_t>(y0);
    segment[1] = static_cast<int16_t>(a1);
    segment[2] = static_cast<int16_t>(a2);
  }
}

bool PcanGainControlPopulateState(const PcanGainControlConfig* config,
                                  PcanGainControlState* state,
                                  const uint32_t* noise_estimate,
                                  int num_channels, int smoothing_bits,
                                  int input_correction_bits) {
  state->enable_pcan = config->enable_pcan;
  if (!state->enable_pcan) return true;
  state->noise_estimate = noise_estimate;
  state->num_channels = num_channels;
  state->snr_shift = config->gain_bits - input_correction_bits - kPcanSnrBits;
  const int input_bits = smoothing_bits - input_correction_bits;
  // A shift outside [0, 63] would be undefined, and a negative or
  // non-finite offset makes gains that are not numbers.
  if (state->snr_shift < 0 || state->snr_shift > 63 ||
      !(config->offset >= 0.0f) || !isfinite(config->offset) ||
      !isfinite(config->strength)) {
    fprintf(stderr, "PCAN settings out of range\n");
    return false;
  }

  state->gain_lut =
      static_cast<int16_t*>(calloc(kPcanGainTableSize, sizeof(int16_t)));
  if (state->gain_lut == nullptr) {
    fprintf(stderr, "Failed to allocate gain LUT\n");
    return false;
  }
  if (IsEmbeddedConfig(config, input_bits)) {
    std::copy(kEmbeddedGainTable, kEmbeddedGainTable + kPcanGainTableSize,
              state->gain_lut);
  } else {
    PcanComputeGainTable(config, input_bits, state->gain_lut);
  }
  return true;
}

int16_t PcanGain(const int16_t* gain_lut, uint32_t noise_estimate) {
  const uint32_t x = noise_estimate;
  if (x <= 2) return gain_lut[x];
  const int interval = BitLength32(x);
  const int16_t* segment = gain_lut + 4 * interval - 6;
  const int32_t y0 = segment[0];
  const int32_t a1 = segment[1];
  const int32_t a2 = segment[2];
  // The ten bits below the leading one.
  const int32_t t = static_cast<int32_t>(
      (interval < 11 ? x << (11 - interval) : x >> (interval - 11)) & 1023);
  // Signed shifts are arithmetic: they floor, which the table's negative
  // coefficients need.
  int32_t result = (a2 * t) >> 5;
  result += a1 * 32;
  result *= t;
  result = (result + (1 << 14)) >> 15;
  return static_cast<int16_t>(result + y0);
}

void PcanGainControlApply(const PcanGainControlState* state, uint32_t* signal) {
  const int16_t* gain_lut = state->gain_lut;
  const uint32_t* noise_estimate = state->noise_estimate;
  const int snr_shift = state->snr_shift;
  for (int i = 0; i < state->num_channels; ++i) {
    // A negative gain would wrap; no table gives one.
    const uint32_t gain = static_cast<uint32_t>(
        static_cast<int32_t>(PcanGain(gain_lut, noise_estimate[i])));
    const uint32_t snr = static_cast<uint32_t>(
        (static_cast<uint64_t>(signal[i]) * gain) >> snr_shift);
    // Squared below the knee, linear above; both give 64 at the knee.
    constexpr uint32_t kKnee = 8192;
    signal[i] = snr < kKnee ? (snr * snr) >> 20 : (snr >> 6) - 64;
  }
}

void PcanGainControlFreeStateContents(PcanGainControlState* state) {
  free(state->gain_lut);
  state->gain_lut = nullptr;
}
