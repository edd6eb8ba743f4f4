#include "audio_frontend/log_scale.h"

#include <stdio.h>

#include "audio_frontend/bits.h"

namespace {

constexpr int kLogSegmentsLog2 = 7;
constexpr int kLogScaleLog2 = 16;
constexpr uint32_t kLogCoeff = 45426;  // round(2^16 ln 2)

// (log2(1 + k/128) - k/128) in Q16 for k = 0 ... 128, and one padding entry.
const uint16_t kLogLut[130] = {
    0,    224,  442,  654,  861,  1063, 1259, 1450, 1636, 1817, 1992, 2163,
    2329, 2490, 2646, 2797, 2944, 3087, 3224, 3358, 3487, 3611, 3732, 3848,
    3960, 4068, 4172, 4272, 4368, 4460, 4549, 4633, 4714, 4791, 4864, 4934,
    5001, 5063, 5123, 5178, 5231, 5280, 5326, 5368, 5408, 5444, 5477, 5507,
    5533, 5557, 5578, 5595, 5610, 5622, 5631, 5637, 5640, 5641, 5638, 5633,
    5626, 5615, 5602, 5586, 5568, 5547, 5524, 5498, 5470, 5439, 5406, 5370,
    5332, 5291, 5249, 5203, 5156, 5106, 5054, 5000, 4944, 4885, 4825, 4762,
    4697, 4630, 4561, 4490, 4416, 4341, 4264, 4184, 4103, 4020, 3935, 3848,
    3759, 3668, 3575, 3481, 3384, 3286, 3186, 3084, 2981, 2875, 2768, 2659,
    2549, 2437, 2323, 2207, 2090, 1971, 1851, 1729, 1605, 1480, 1353, 1224,
    1094, 963,  830,  695,  559,  421,  282,  142,  0,    0};

// log2(value) - floor(log2(value)) in Q16, interpolated from the table.
uint32_t Log2FractionPart(uint32_t value, int log2_value) {
  uint32_t fraction = value - (uint32_t{1} << log2_value);
  fraction = log2_value < kLogScaleLog2 ? fraction << (kLogScaleLog2 - log2_value)
                                        : fraction >> (log2_value - kLogScaleLog2);
  const int segment_bits = kLogScaleLog2 - kLogSegmentsLog2;
  const uint32_t segment = fraction >> segment_bits;
  const int32_t c0 = kLogLut[segment];
  const int32_t c1 = kLogLut[segment + 1];
  const int32_t position = static_cast<int32_t>(fraction - (segment << segment_bits));
  // Floors: where the table falls this is -1, not 0.
  const int32_t relative = ((c1 - c0) * position) >> kLogScaleLog2;
  return static_cast<uint32_t>(static_cast<int32_t>(fraction) + c0 + relative);
}

}  // namespace

uint32_t LogScaleLog(uint32_t value, int scale_shift) {
  const int integer = BitLength32(value) - 1;
  const uint32_t log2 =
      (static_cast<uint32_t>(integer) << kLogScaleLog2) + Log2FractionPart(value, integer);
  const uint32_t loge = static_cast<uint32_t>(
      (static_cast<uint64_t>(kLogCoeff) * log2 + (1 << 15)) >> kLogScaleLog2);
  return ((loge << scale_shift) + (1 << 15)) >> kLogScaleLog2;
}

bool LogScalePopulateState(const LogScaleConfig* config, LogScaleState* state,
                           int correction_bits) {
  state->enable_log = config->enable_log;
  state->scale_shift = config->scale_shift;
  state->correction_bits = correction_bits;
  // Shifts of 32 or more are undefined.
  if (state->enable_log &&
      (config->scale_shift < 0 || config->scale_shift > 31 ||
       correction_bits < -31 || correction_bits > 31)) {
    fprintf(stderr, "Log scale shift out of range\n");
    return false;
  }
  return true;
}

void LogScaleApply(const LogScaleState* state, const uint32_t* signal,
                   int num_channels, uint16_t* output) {
  const int correction_bits = state->correction_bits;
  for (int i = 0; i < num_channels; ++i) {
    uint32_t value = signal[i];
    if (state->enable_log) {
      value = correction_bits < 0 ? value >> -correction_bits : value << correction_bits;
      value = value > 1 ? LogScaleLog(value, state->scale_shift) : 0;
    }
    output[i] = static_cast<uint16_t>(value < 0xFFFF ? value : 0xFFFF);
  }
}
