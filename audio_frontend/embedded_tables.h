#ifndef AUDIO_FRONTEND_EMBEDDED_TABLES_H_
#define AUDIO_FRONTEND_EMBEDDED_TABLES_H_

#include <stdint.h>

// Set-up tables of the detector's configuration (16 kHz; 30 ms window;
// 40 channels from 125 to 7500 Hz; PCAN with strength 0.95, offset 80,
// 21 gain bits on 7 input bits), exactly as the expected features need them.
// Computing them depends on float rounding and on the C library's log1pf:
// a correctly rounded log1pf moves two weights by one, which changes rows.
// Embedding them keeps those features independent of the toolchain; the
// tests check that the computed tables agree on each target.

constexpr int kEmbeddedWindowSize = 480;
extern const int16_t kEmbeddedWindow[kEmbeddedWindowSize];

constexpr int kEmbeddedSampleRate = 16000;
constexpr int kEmbeddedSpectrumSize = 257;
constexpr int kEmbeddedNumChannels = 40;
constexpr float kEmbeddedLowerBandLimit = 125.0f;
constexpr float kEmbeddedUpperBandLimit = 7500.0f;
constexpr int kEmbeddedStartIndex = 5;
constexpr int kEmbeddedEndIndex = 241;
extern const int kEmbeddedBandStarts[kEmbeddedNumChannels + 2];
// Every unweight is 4096 minus its weight.
extern const int16_t kEmbeddedWeights[kEmbeddedEndIndex - kEmbeddedStartIndex];

constexpr int kEmbeddedPcanInputBits = 7;
constexpr int kEmbeddedPcanGainBits = 21;
constexpr float kEmbeddedPcanStrength = 0.95f;
constexpr float kEmbeddedPcanOffset = 80.0f;
extern const int16_t kEmbeddedGainTable[125];

#endif  // AUDIO_FRONTEND_EMBEDDED_TABLES_H_
