// Arbitrary audio through the front end with the detector's configuration.
// The first byte picks the road: the detector's own (whole chunks mixed by
// convert_chunk, 160 samples a call, rows quantised) or raw samples in calls
// of any size, the caller looping over what was not read.

#include <cstdint>
#include <cstring>

#include "audio_frontend/frontend.h"
#include "audio_frontend/frontend_util.h"
#include "detector/audio_mix.h"
#include "detector/feature_layout.h"
#include "detector/feature_quantize.h"
#include "detector/feature_setup.h"
#include "fuzz/fuzz_check.h"

namespace {

void check_row(const FrontendOutput& output, uint32_t* sink) {
  if (output.size == 0) {
    if (output.values != nullptr) fuzz_fail("values without a row");
    return;
  }
  if (output.size != static_cast<size_t>(kFeatureCount) || output.values == nullptr) {
    fuzz_fail("a row that is not 40 values");
  }
  for (int k = 0; k < kFeatureCount; ++k) *sink += output.values[k];
}

void detector_road(FrontendState* state, bool mono, const uint8_t* data, size_t size,
                   uint32_t* sink) {
  const size_t chunk_bytes = mono ? kMonoChunkBytes : kQuadChunkBytes;
  int16_t samples[kFramesPerChunk];
  int8_t row[kFeatureCount];
  size_t chunks = 0;
  size_t rows = 0;
  for (size_t at = 0; at + chunk_bytes <= size; at += chunk_bytes) {
    convert_chunk(data + at, mono, samples);
    ++chunks;
    size_t read = 0;
    const FrontendOutput output =
        FrontendProcessSamples(state, samples, kFramesPerChunk, &read);
    if (read != static_cast<size_t>(kFramesPerChunk)) fuzz_fail("a chunk not read whole");
    check_row(output, sink);
    if (output.size != 0) {
      ++rows;
      quantize_features(output.values, 0.1f, -128, row);
      for (int8_t q : row) *sink += static_cast<uint8_t>(q);
    }
  }
  // A 30 ms window stepped by 10 ms: the first row comes with the third chunk.
  const size_t expected = chunks > 2 ? chunks - 2 : 0;
  if (rows != expected) fuzz_fail("rows are not one per chunk from the third on");
}

void raw_road(FrontendState* state, const uint8_t* data, size_t size, uint32_t* sink) {
  const size_t count = size / 2;
  int16_t* samples = new int16_t[count + 1];
  memcpy(samples, data, count * 2);
  uint32_t seed = count;
  size_t at = 0;
  while (at < count) {
    seed = seed * 1103515245u + 12345u;
    size_t call = (seed >> 16) % 1024;
    if (call > count - at) call = count - at;
    size_t read = 0;
    const FrontendOutput output = FrontendProcessSamples(state, samples + at, call, &read);
    if (read > call) fuzz_fail("more samples read than given");
    // A caller that loops over what was not read would spin forever.
    if (call > 0 && read == 0) fuzz_fail("samples offered and none read");
    check_row(output, sink);
    at += read;
  }
  delete[] samples;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FrontendState state;
  if (populate_feature_state(&state) == 0) fuzz_fail("front end set-up failed");
  uint32_t sink = 0;
  const uint8_t mode = data[0];
  if (mode & 1) {
    raw_road(&state, data + 1, size - 1, &sink);
  } else {
    detector_road(&state, (mode & 2) != 0, data + 1, size - 1, &sink);
  }
  FrontendFreeStateContents(&state);
  volatile uint32_t keep = sink;
  (void)keep;
  return 0;
}
