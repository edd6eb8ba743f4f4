#ifndef DETECTOR_MODEL_LOADER_H_
#define DETECTOR_MODEL_LOADER_H_

#include <cstddef>
#include <cstdint>

#include "inference/schema.h"

// Reads the model file into buffer in one go and verifies it in place.
// Returns the message to report, or nullptr with *model and *model_bytes set.
const char* load_model(const char* path, uint8_t* buffer, size_t buffer_size,
                       const tflite::Model** model, size_t* model_bytes);

#endif  // DETECTOR_MODEL_LOADER_H_
