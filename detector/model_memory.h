#ifndef DETECTOR_MODEL_MEMORY_H_
#define DETECTOR_MODEL_MEMORY_H_

#include <cstddef>

// What the detector gives a model: a buffer for its file, an arena for its
// tensors and room for its resource variables.
constexpr size_t kModelBufferSize = 1048576;
constexpr size_t kTensorArenaSize = 65536;
constexpr int kMaxResourceVariables = 20;

#endif  // DETECTOR_MODEL_MEMORY_H_
