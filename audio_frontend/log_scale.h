#ifndef AUDIO_FRONTEND_LOG_SCALE_H_
#define AUDIO_FRONTEND_LOG_SCALE_H_

#include <stdint.h>

struct LogScaleConfig {
  int enable_log;
  int scale_shift;
};

struct LogScaleState {
  int enable_log;
  int scale_shift;
  int correction_bits;  // undoes the spectrum size's effect on the level
};

bool LogScalePopulateState(const LogScaleConfig* config, LogScaleState* state,
                           int correction_bits);

// Natural log in fixed point, scaled by 2^scale_shift; value must exceed 1.
uint32_t LogScaleLog(uint32_t value, int scale_shift);

// Turns the channel values into the output row, saturated to 16 bits.
void LogScaleApply(const LogScaleState* state, const uint32_t* signal,
                   int num_channels, uint16_t* output);

#endif  // AUDIO_FRONTEND_LOG_SCALE_H_
