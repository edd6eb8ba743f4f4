#include "detector/audio_mix.h"

namespace {

int16_t sample_at(const uint8_t* bytes) {
  return static_cast<int16_t>(static_cast<uint16_t>(bytes[0]) |
                              static_cast<uint16_t>(bytes[1] << 8));
}

}  // namespace

void convert_chunk(const uint8_t* chunk, bool mono, int16_t* samples) {
  if (mono) {
    for (int i = 0; i < kFramesPerChunk; ++i) samples[i] = sample_at(chunk + 2 * i);
    return;
  }
  for (int i = 0; i < kFramesPerChunk; ++i) {
    const uint8_t* frame = chunk + 2 * kQuadChannels * i;
    const int32_t sum = sample_at(frame) + sample_at(frame + 2) +
                        sample_at(frame + 4) + sample_at(frame + 6);
    // Average, then gain, as two float multiplies: both are exact.
    float v = static_cast<float>(sum) * 0.25f;
    v = v * kMixGain;
    if (v > 32767.0f) v = 32767.0f;
    if (v < -32768.0f) v = -32768.0f;
    samples[i] = static_cast<int16_t>(v);
  }
}
