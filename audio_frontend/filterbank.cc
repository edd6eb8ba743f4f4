#include "audio_frontend/filterbank.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "audio_frontend/embedded_tables.h"
#include "audio_frontend/setup_float.h"

namespace {

constexpr int kFilterbankBits = 12;

float FreqToMel(float freq) { return 1127.0f * log1pf(freq / 700.0f); }

// Mel frequencies of the band edges, computed on demand so that set-up
// needs no temporary buffer.
struct MelScale {
  float low;
  float spacing;
  float hz_per_bin;
};

MelScale MakeMelScale(const FilterbankConfig* config, int sample_rate,
                      int spectrum_size) {
  MelScale scale;
  scale.low = FreqToMel(config->lower_band_limit);
  const float high = FreqToMel(config->upper_band_limit);
  scale.spacing = (high - scale.low) / static_cast<float>(config->num_channels + 1);
  scale.hz_per_bin = 0.5f * static_cast<float>(sample_rate) /
                     (static_cast<float>(spectrum_size) - 1.0f);
  return scale;
}

// Upper edge of band i, the peak of channel i.
float CenterMel(const MelScale& scale, int band) {
  return scale.low + scale.spacing * static_cast<float>(band + 1);
}

float BinMel(const MelScale& scale, int bin) {
  return FreqToMel(static_cast<float>(bin) * scale.hz_per_bin);
}

int16_t QuantizeWeight(float weight) {
  const float quantized = floorf(weight * (1 << kFilterbankBits) + 0.5f);
  // Only degenerate band limits get here with a value int16 cannot hold.
  if (!(quantized >= -32768.0f && quantized <= 32767.0f)) return 0;
  return static_cast<int16_t>(quantized);
}

bool IsEmbeddedConfig(const FilterbankConfig* config, int sample_rate,
                      int spectrum_size) {
  return sample_rate == kEmbeddedSampleRate &&
         spectrum_size == kEmbeddedSpectrumSize &&
         config->num_channels == kEmbeddedNumChannels &&
         config->lower_band_limit == kEmbeddedLowerBandLimit &&
         config->upper_band_limit == kEmbeddedUpperBandLimit;
}

}  // namespace

FilterbankBands FilterbankComputeBands(const FilterbankConfig* config,
                                       int sample_rate, int spectrum_size,
                                       int* band_starts) {
  const MelScale scale = MakeMelScale(config, sample_rate, spectrum_size);
  // DC is always left out. A start past the spectrum is clamped to its end,
  // which fails set-up below as any band reaching past it does.
  const float first = 1.5f + config->lower_band_limit / scale.hz_per_bin;
  int bin = first < static_cast<float>(spectrum_size) ? static_cast<int>(first)
                                                      : spectrum_size;
  FilterbankBands bands;
  bands.start_index = bin;
  band_starts[0] = bin;
  for (int band = 0; band <= config->num_channels; ++band) {
    const float center = CenterMel(scale, band);
    while (bin < spectrum_size && BinMel(scale, bin) <= center) ++bin;
    band_starts[band + 1] = bin;
  }
  bands.end_index = bin;
  return bands;
}

void FilterbankComputeWeights(const FilterbankConfig* config, int sample_rate,
                              int spectrum_size, const int* band_starts,
                              int16_t* weights, int16_t* unweights) {
  const MelScale scale = MakeMelScale(config, sample_rate, spectrum_size);
  const int start_index = band_starts[0];
  for (int band = 0; band <= config->num_channels; ++band) {
    const float center = CenterMel(scale, band);
    const float previous = band == 0 ? scale.low : CenterMel(scale, band - 1);
    for (int bin = band_starts[band]; bin < band_starts[band + 1]; ++bin) {
      const float weight = (center - BinMel(scale, bin)) / (center - previous);
      weights[bin - start_index] = QuantizeWeight(weight);
      unweights[bin - start_index] = QuantizeWeight(1.0f - weight);
    }
  }
}

bool FilterbankPopulateState(const FilterbankConfig* config,
                             FilterbankState* state, int sample_rate,
                             int spectrum_size) {
  // Without these the band scan may not end and the weights divide by zero.
  if (config->num_channels < 1) {
    fprintf(stderr, "Filterbank channel count out of range\n");
    return false;
  }
  if (!(config->lower_band_limit >= 0.0f) ||
      !(config->upper_band_limit > config->lower_band_limit) ||
      !isfinite(config->upper_band_limit)) {
    fprintf(stderr, "Filterbank band limits out of range\n");
    return false;
  }

  const int num_channels = config->num_channels;
  const size_t num_bands = static_cast<size_t>(num_channels) + 1;
  state->num_channels = num_channels;
  state->band_starts = static_cast<int*>(calloc(num_bands + 1, sizeof(int)));
  state->work = static_cast<uint64_t*>(calloc(num_bands, sizeof(uint64_t)));
  state->signal = static_cast<uint32_t*>(calloc(num_channels, sizeof(uint32_t)));
  state->output = static_cast<uint16_t*>(calloc(num_channels, sizeof(uint16_t)));
  if (state->band_starts == nullptr || state->work == nullptr ||
      state->signal == nullptr || state->output == nullptr) {
    fprintf(stderr, "Failed to allocate channel buffers\n");
    return false;
  }

  const bool embedded = IsEmbeddedConfig(config, sample_rate, spectrum_size);
  if (embedded) {
    std::copy(kEmbeddedBandStarts, kEmbeddedBandStarts + kEmbeddedNumChannels + 2,
              state->band_starts);
    state->start_index = kEmbeddedStartIndex;
    state->end_index = kEmbeddedEndIndex;
  } else {
    const FilterbankBands bands = FilterbankComputeBands(
        config, sample_rate, spectrum_size, state->band_starts);
    state->start_index = bands.start_index;
    state->end_index = bands.end_index;
  }

  // One spare slot, so that bands without any bin still get buffers.
  const size_t num_weights = static_cast<size_t>(state->end_index - state->start_index) + 1;
  state->weights = static_cast<int16_t*>(calloc(num_weights, sizeof(int16_t)));
  state->unweights = static_cast<int16_t*>(calloc(num_weights, sizeof(int16_t)));
  if (state->weights == nullptr || state->unweights == nullptr) {
    fprintf(stderr, "Failed to allocate weights or unweights\n");
    return false;
  }
  if (embedded) {
    for (int i = 0; i < kEmbeddedEndIndex - kEmbeddedStartIndex; ++i) {
      state->weights[i] = kEmbeddedWeights[i];
      state->unweights[i] =
          static_cast<int16_t>((1 << kFilterbankBits) - kEmbeddedWeights[i]);
    }
  } else {
    FilterbankComputeWeights(config, sample_rate, spectrum_size,
                             state->band_starts, state->weights, state->unweights);
  }

  if (state->end_index >= spectrum_size) {
    fprintf(stderr, "Filterbank end_index is above spectrum size.\n");
    return false;
  }
  return true;
}

void FilterbankAccumulateChannels(FilterbankState* state,
                                  const FftComplexInt16* spectrum) {
  const int* band_starts = state->band_starts;
  const int16_t* weights = state->weights;
  const int16_t* unweights = state->unweights;
  uint64_t* work = state->work;
  // The unweighted sum of band i belongs to band i + 1's accumulator.
  uint64_t carried = 0;
  int bin = state->start_index;
  for (int band = 0; band <= state->num_channels; ++band) {
    uint64_t weighted = 0;
    uint64_t unweighted = 0;
    for (const int end = band_starts[band + 1]; bin < end; ++bin) {
      const int32_t real = spectrum[bin].real;
      const int32_t imag = spectrum[bin].imag;
      // In 32 unsigned bits: two -32768 parts would overflow int32.
      const uint64_t energy = static_cast<uint32_t>(real * real) +
                              static_cast<uint32_t>(imag * imag);
      // Widened as signed, so that sums stay modular for any weight.
      weighted += static_cast<uint64_t>(static_cast<int64_t>(*weights++)) * energy;
      unweighted += static_cast<uint64_t>(static_cast<int64_t>(*unweights++)) * energy;
    }
    work[band] = carried + weighted;
    carried = unweighted;
  }
}

uint32_t FilterbankRoundedSqrt(uint64_t value) {
  if (value == 0) return 0;
  constexpr uint64_t kMaxRoot = 0xFFFFFFFFu;
  // The double root is within one of the floor; settle it exactly.
  uint64_t root = static_cast<uint64_t>(sqrt(static_cast<double>(value)));
  if (root > kMaxRoot) root = kMaxRoot;
  while (root * root > value) --root;
  while (root < kMaxRoot && (root + 1) * (root + 1) <= value) ++root;
  // Rounding stops at 16 bits below 2^32 and at 32 bits above.
  const uint64_t cap = value < (uint64_t{1} << 32) ? 0xFFFFu : kMaxRoot;
  if (value - root * root > root && root != cap) ++root;
  return static_cast<uint32_t>(root);
}

uint32_t* FilterbankSqrt(FilterbankState* state, int scale_down_shift) {
  const uint64_t* work = state->work + 1;  // band 0 only falls into channel -1
  uint32_t* signal = state->signal;
  for (int i = 0; i < state->num_channels; ++i) {
    signal[i] = FilterbankRoundedSqrt(work[i]) >> scale_down_shift;
  }
  return signal;
}

void FilterbankReset(FilterbankState* state) {
  if (state->work == nullptr) return;
  std::fill_n(state->work, state->num_channels + 1, 0);
}

void FilterbankFreeStateContents(FilterbankState* state) {
  free(state->band_starts);
  free(state->weights);
  free(state->unweights);
  free(state->work);
  free(state->signal);
  free(state->output);
  state->band_starts = nullptr;
  state->weights = state->unweights = nullptr;
  state->work = nullptr;
  state->signal = nullptr;
  state->output = nullptr;
}
