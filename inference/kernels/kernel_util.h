// Helpers shared by the kernels' prepare and invoke functions.
#ifndef INFERENCE_KERNELS_KERNEL_UTIL_H_
#define INFERENCE_KERNELS_KERNEL_UTIL_H_

#include <cstddef>
#include <cstdint>

#include "inference/common.h"
#include "inference/micro_log.h"
#include "inference/op_names.h"

namespace tflite {

// Bytes per element for sizing; 0 for types that have no size.
size_t TypeSize(TfLiteType type);
// Product of the dimensions (1 for rank 0).
int64_t ElementCount(const TfLiteIntArray& dims);
// Element count times element size; 0 when a dimension is negative.
size_t TensorBytes(const TfLiteIntArray& dims, TfLiteType type);
inline size_t EvalTensorBytes(const TfLiteEvalTensor& t) { return TensorBytes(*t.dims, t.type); }

inline int NumInputs(const TfLiteNode* node) { return node->inputs->size; }
inline int NumOutputs(const TfLiteNode* node) { return node->outputs->size; }
inline int NumDimensions(const TfLiteTensor* t) { return t->dims->size; }

// Tensor index of the node's i-th input or output; -1 when absent.
int InputIndex(const TfLiteNode* node, int i);
int OutputIndex(const TfLiteNode* node, int i);

// Temp views for prepare (released after the op's prepare); null when absent.
TfLiteTensor* GetInput(TfLiteContext* context, const TfLiteNode* node, int i);
TfLiteTensor* GetOutput(TfLiteContext* context, const TfLiteNode* node, int i);
// The compact records for invoke; null when absent.
TfLiteEvalTensor* GetEvalInput(TfLiteContext* context, const TfLiteNode* node, int i);
TfLiteEvalTensor* GetEvalOutput(TfLiteContext* context, const TfLiteNode* node, int i);

// 16-aligned persistent memory; null after a message when exhausted.
void* AllocatePersistentBuffer(TfLiteContext* context, size_t bytes);

inline bool IsConstantTensor(const TfLiteTensor* t) { return t->allocation_type == kTfLiteMmapRo; }
inline bool HasAffineQuantization(const TfLiteTensor* t) {
  return t->quantization.type == kTfLiteAffineQuantization;
}
// Number of scales of an affine-quantised tensor, 0 otherwise.
inline int ScaleCount(const TfLiteTensor* t) {
  return HasAffineQuantization(t) ? t->quantization.params->scale->size : 0;
}

// Copies a rank-4 shape; false when the rank is not 4.
bool Shape4(const TfLiteIntArray& dims, int shape[4]);

// Value range of a quantised output type; false for any other type.
bool TypeRange(TfLiteType type, int32_t* qmin, int32_t* qmax);

}  // namespace tflite

// Kernel checks: print the failed condition and return kTfLiteError.
#define KERNEL_ENSURE(cond)                                                       \
  do {                                                                            \
    if (!(cond)) {                                                                \
      ::tflite::MicroPrintf("%s:%d %s was not true.", __FILE__, __LINE__, #cond); \
      return kTfLiteError;                                                        \
    }                                                                             \
  } while (0)

#define KERNEL_ENSURE_EQ(a, b)                                                           \
  do {                                                                                   \
    const long long kernel_a_ = (a);                                                     \
    const long long kernel_b_ = (b);                                                     \
    if (kernel_a_ != kernel_b_) {                                                        \
      ::tflite::MicroPrintf("%s:%d %s != %s (%lld != %lld)", __FILE__, __LINE__, #a, #b, \
                            kernel_a_, kernel_b_);                                       \
      return kTfLiteError;                                                               \
    }                                                                                    \
  } while (0)

#define KERNEL_ENSURE_TYPES_EQ(a, b)                                                         \
  do {                                                                                       \
    if ((a) != (b)) {                                                                        \
      ::tflite::MicroPrintf("%s:%d %s != %s (%s != %s)", __FILE__, __LINE__, #a, #b,         \
                            ::tflite::TfLiteTypeGetName(a), ::tflite::TfLiteTypeGetName(b)); \
      return kTfLiteError;                                                                   \
    }                                                                                        \
  } while (0)

#define KERNEL_ENSURE_MSG(cond, msg)                   \
  do {                                                 \
    if (!(cond)) {                                     \
      ::tflite::MicroPrintf("%s %s", __FILE__, (msg)); \
      return kTfLiteError;                             \
    }                                                  \
  } while (0)

#endif  // INFERENCE_KERNELS_KERNEL_UTIL_H_
