#ifndef INFERENCE_OP_NAMES_H_
#define INFERENCE_OP_NAMES_H_

#include "inference/common.h"

namespace tflite {

constexpr int kMaxBuiltinCode = 209;

// The schema name of a builtin operator code; "" outside 0..kMaxBuiltinCode.
const char* BuiltinOperatorName(int code);

// The printed name of a runtime type, "Unknown type" outside the enumeration.
const char* TfLiteTypeGetName(TfLiteType type);

}  // namespace tflite

#endif  // INFERENCE_OP_NAMES_H_
