#ifndef DETECTOR_AUDIO_MIX_H_
#define DETECTOR_AUDIO_MIX_H_

#include <cstdint>

constexpr int kFramesPerChunk = 160;
constexpr int kQuadChannels = 4;
constexpr int kQuadChunkBytes = kFramesPerChunk * kQuadChannels * 2;
constexpr int kMonoChunkBytes = kFramesPerChunk * 2;
constexpr float kMixGain = 25.0f;

// Turns one chunk of little-endian PCM (kMonoChunkBytes with mono, else
// kQuadChunkBytes of four interleaved channels) into kFramesPerChunk samples.
void convert_chunk(const uint8_t* chunk, bool mono, int16_t* samples);

#endif  // DETECTOR_AUDIO_MIX_H_
