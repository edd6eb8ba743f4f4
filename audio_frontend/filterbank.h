#ifndef AUDIO_FRONTEND_FILTERBANK_H_
#define AUDIO_FRONTEND_FILTERBANK_H_

#include <stddef.h>
#include <stdint.h>

#include "audio_frontend/fft.h"

struct FilterbankConfig {
  int num_channels;
  float upper_band_limit;
  float lower_band_limit;
  int output_scale_shift;  // accepted but never used
};

// Band i covers the spectrum bins [band_starts[i], band_starts[i + 1]) for
// i = 0 ... num_channels. A bin of band i feeds channel i - 1 with its weight
// and channel i with its unweight.
struct FilterbankState {
  int num_channels;
  int start_index;  // first bin used
  int end_index;    // one past the last bin used
  int* band_starts;     // num_channels + 2 entries
  int16_t* weights;     // Q12, one per bin from start_index to end_index
  int16_t* unweights;
  uint64_t* work;       // band accumulators, num_channels + 1
  uint32_t* signal;     // one value per channel, carried through the stages
  uint16_t* output;     // the row handed out
};

struct FilterbankBands {
  int start_index;
  int end_index;
};

// Computes the bands: band_starts gets num_channels + 2 entries. Bins are
// scanned no further than spectrum_size, so end_index == spectrum_size means
// the bands reach past the spectrum.
FilterbankBands FilterbankComputeBands(const FilterbankConfig* config,
                                       int sample_rate, int spectrum_size,
                                       int* band_starts);

// Triangle weights for the bins of the bands, end_index - start_index each.
void FilterbankComputeWeights(const FilterbankConfig* config, int sample_rate,
                              int spectrum_size, const int* band_starts,
                              int16_t* weights, int16_t* unweights);

bool FilterbankPopulateState(const FilterbankConfig* config,
                             FilterbankState* state, int sample_rate,
                             int spectrum_size);

// Fills state->work with the weighted band energies of the spectrum.
void FilterbankAccumulateChannels(FilterbankState* state,
                                  const FftComplexInt16* spectrum);

// Rounded square root of each channel's accumulator, shifted down to undo
// the FFT input scaling; returns state->signal.
uint32_t* FilterbankSqrt(FilterbankState* state, int scale_down_shift);

// Square root rounded to nearest, but never up to 65536 from below 2^32,
// nor to 2^32.
uint32_t FilterbankRoundedSqrt(uint64_t value);

void FilterbankReset(FilterbankState* state);
void FilterbankFreeStateContents(FilterbankState* state);

#endif  // AUDIO_FRONTEND_FILTERBANK_H_
