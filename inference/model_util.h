// Reading the model in place: vectors as runtime arrays, counts.
#ifndef INFERENCE_MODEL_UTIL_H_
#define INFERENCE_MODEL_UTIL_H_

#include <cstring>

#include "inference/common.h"
#include "inference/micro_context.h"
#include "inference/op_names.h"
#include "inference/schema.h"

namespace tflite {

// A zero-length array; never written, as it has no elements.
inline TfLiteIntArray* EmptyIntArray() {
  static const int kEmpty[1] = {0};
  return reinterpret_cast<TfLiteIntArray*>(const_cast<int*>(kEmpty));
}

// An int32 vector of the model as an array in place; absent = empty.
inline const TfLiteIntArray* AsIntArray(const flatbuffers::Vector<int32_t>* v) {
  return v == nullptr ? EmptyIntArray() : reinterpret_cast<const TfLiteIntArray*>(v);
}

// Element i of an int64 vector of the model. The verifier checks only the
// 4-byte alignment of the vector, so the element is copied, not loaded.
inline int64_t Int64At(const flatbuffers::Vector<int64_t>* v, unsigned i) {
  int64_t value = 0;
  std::memcpy(&value, reinterpret_cast<const uint8_t*>(v->Data()) + sizeof(int64_t) * i,
              sizeof(value));
  return value;
}

inline bool HasNegativeDim(const TfLiteIntArray& dims) {
  for (int i = 0; i < dims.size; ++i) {
    if (dims.data[i] < 0) return true;
  }
  return false;
}

inline unsigned OperatorCount(const SubGraph* subgraph) {
  return subgraph->operators() ? subgraph->operators()->size() : 0;
}

inline const char* NodeName(const NodeAndRegistration& node) {
  return BuiltinOperatorName(node.registration->builtin_code);
}

}  // namespace tflite

#endif  // INFERENCE_MODEL_UTIL_H_
