// Parsing operator options and tensor types out of the model.
#ifndef INFERENCE_PARSE_OPTIONS_H_
#define INFERENCE_PARSE_OPTIONS_H_

#include "inference/common.h"
#include "inference/micro_allocator.h"
#include "inference/schema.h"

namespace tflite {

// The runtime type of a schema TensorType; false after a message for
// values outside the schema.
bool ConvertTensorType(int schema_type, TfLiteType* type);

// Parses the options of a builtin operator into persistent memory (all
// zero when absent or of another table). Sets *data to null for operators
// that read no options. Fails after the parser's message.
TfLiteStatus ParseOptions(const Operator* op, int code, MicroAllocator* allocator, void** data);

}  // namespace tflite

#endif  // INFERENCE_PARSE_OPTIONS_H_
