#ifndef AUDIO_FRONTEND_PCAN_GAIN_CONTROL_H_
#define AUDIO_FRONTEND_PCAN_GAIN_CONTROL_H_

#include <stdint.h>

struct PcanGainControlConfig {
  int enable_pcan;
  float strength;
  float offset;
  int gain_bits;
};

constexpr int kPcanGainTableSize = 125;

struct PcanGainControlState {
  int enable_pcan;
  const uint32_t* noise_estimate;  // the noise reduction's, not a copy
  int num_channels;
  int16_t* gain_lut;  // kPcanGainTableSize slots
  int32_t snr_shift;
};

// Slots 0 and 1 hold the gains of 0 and 1; interval i (2 ... 32, inputs with
// i significant bits) holds y0, a1, a2 of its quadratic at 4i-6 ... 4i-4.
void PcanComputeGainTable(const PcanGainControlConfig* config, int input_bits,
                          int16_t* gain_lut);

bool PcanGainControlPopulateState(const PcanGainControlConfig* config,
                                  PcanGainControlState* state,
                                  const uint32_t* noise_estimate,
                                  int num_channels, int smoothing_bits,
                                  int input_correction_bits);

// Gain for a noise estimate, interpolated from the table.
int16_t PcanGain(const int16_t* gain_lut, uint32_t noise_estimate);

// Applies the gain and the shrink curve to signal in place.
void PcanGainControlApply(const PcanGainControlState* state, uint32_t* signal);

void PcanGainControlFreeStateContents(PcanGainControlState* state);

#endif  // AUDIO_FRONTEND_PCAN_GAIN_CONTROL_H_
