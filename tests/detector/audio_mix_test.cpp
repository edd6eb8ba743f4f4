#include "detector/audio_mix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

void put_sample(std::vector<uint8_t>* chunk, int index, int16_t value) {
  const uint16_t bits = static_cast<uint16_t>(value);
  (*chunk)[2 * index] = static_cast<uint8_t>(bits & 0xff);
  (*chunk)[2 * index + 1] = static_cast<uint8_t>(bits >> 8);
}

struct QuadCase {
  int16_t channels[4];
  int16_t expected;
};

TEST(ConvertChunk, MixesFourChannelsWithTruncationAndClamping) {
  const QuadCase cases[] = {
      {{1000, 1000, 1000, 1000}, 25000},
      {{1, 0, 0, 0}, 6},          // 6.25
      {{-1, 0, 0, 0}, -6},        // toward zero, not down
      {{2, 0, 0, 0}, 12},         // 12.5 truncated, not rounded to even
      {{-3, 0, 0, 0}, -18},       // -18.75
      {{5242, 0, 0, 0}, 32762},
      {{5243, 0, 0, 0}, 32767},   // 32768.75 clamps
      {{-5242, 0, 0, 0}, -32762},
      {{-5243, 0, 0, 0}, -32768}, // -32768.75 clamps
      {{32767, 32767, 32767, 32767}, 32767},
      {{-32768, -32768, -32768, -32768}, -32768},
      {{0, 0, 0, 258}, 1612},     // high byte matters: 258 = 0x0102
      {{0, 0, -258, 0}, -1612},
      {{100, -100, 7, -7}, 0},
      {{30000, 30000, -30000, -29999}, 6},
  };
  // Each case sits in its own frame, so frame and channel offsets count too.
  std::vector<uint8_t> chunk(kQuadChunkBytes, 0);
  const int count = sizeof(cases) / sizeof(cases[0]);
  for (int i = 0; i < count; ++i) {
    for (int c = 0; c < 4; ++c) put_sample(&chunk, 4 * (10 * i) + c, cases[i].channels[c]);
  }
  int16_t samples[kFramesPerChunk];
  convert_chunk(chunk.data(), false, samples);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(samples[10 * i], cases[i].expected)
        << "channels " << cases[i].channels[0] << " " << cases[i].channels[1] << " "
        << cases[i].channels[2] << " " << cases[i].channels[3];
  }
  for (int i = 0; i < kFramesPerChunk; ++i) {
    if (i % 10 != 0 || i / 10 >= count) {
      EXPECT_EQ(samples[i], 0) << "frame " << i;
    }
  }
}

TEST(ConvertChunk, MonoPassesEverySampleUnchanged) {
  std::vector<uint8_t> chunk(kMonoChunkBytes, 0);
  std::vector<int16_t> expected(kFramesPerChunk);
  for (int i = 0; i < kFramesPerChunk; ++i) {
    expected[i] = static_cast<int16_t>(i * 409 - 32768);
  }
  expected[1] = 32767;
  expected[2] = -1;
  expected[3] = 258;
  for (int i = 0; i < kFramesPerChunk; ++i) put_sample(&chunk, i, expected[i]);
  int16_t samples[kFramesPerChunk];
  convert_chunk(chunk.data(), true, samples);
  for (int i = 0; i < kFramesPerChunk; ++i) EXPECT_EQ(samples[i], expected[i]) << "frame " << i;
}

}  // namespace
