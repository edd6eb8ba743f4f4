// The model format: tflite::Model, tflite::GetModel, tflite::VerifyModelBuffer.
#ifndef INFERENCE_SCHEMA_H_
#define INFERENCE_SCHEMA_H_

#include <flatbuffers/flatbuffers.h>

#include "inference/schema_generated.h"

#define TFLITE_SCHEMA_VERSION (3)

#endif  // INFERENCE_SCHEMA_H_
