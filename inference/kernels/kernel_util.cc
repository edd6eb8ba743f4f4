#include "inference/kernels/kernel_util.h"

#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

size_t TypeSize(TfLiteType type) {
  switch (type) {
    case kTfLiteUInt8:
    case kTfLiteInt8:
    case kTfLiteBool:
    case kTfLiteInt4:  // one byte per element for sizing, though packed
      return 1;
    case kTfLiteFloat16:
    case kTfLiteInt16:
    case kTfLiteUInt16:
    case kTfLiteBFloat16:
      return 2;
    case kTfLiteFloat32:
    case kTfLiteInt32:
    case kTfLiteUInt32:
    case kTfLiteResource:
      return 4;
    case kTfLiteInt64:
    case kTfLiteUInt64:
    case kTfLiteFloat64:
    case kTfLiteComplex64:
      return 8;
    case kTfLiteComplex128:
      return 16;
    default:
      return 0;
  }
}

int64_t ElementCount(const TfLiteIntArray& dims) {
  // Shapes are checked when the model is loaded: products of their
  // dimensions stay far inside int64.
  int64_t count = 1;
  for (int i = 0; i < dims.size; ++i) count *= dims.data[i];
  return count;
}

size_t TensorBytes(const TfLiteIntArray& dims, TfLiteType type) {
  for (int i = 0; i < dims.size; ++i) {
    if (dims.data[i] < 0) return 0;
  }
  return static_cast<size_t>(ElementCount(dims)) * TypeSize(type);
}

int InputIndex(const TfLiteNode* node, int i) {
  return i >= 0 && i < node->inputs->size ? node->inputs->data[i] : -1;
}

int OutputIndex(const TfLiteNode* node, int i) {
  return i >= 0 && i < node->outputs->size ? node->outputs->data[i] : -1;
}

namespace {

TfLiteTensor* TempView(TfLiteContext* context, int tensor_index) {
  if (tensor_index < 0) return nullptr;
  return CreateTensorView(context, context->current_subgraph, tensor_index, false);
}

TfLiteEvalTensor* EvalTensor(TfLiteContext* context, int tensor_index) {
  if (tensor_index < 0) return nullptr;
  return &context->subgraphs[context->current_subgraph].tensors[tensor_index];
}

}  // namespace

TfLiteTensor* GetInput(TfLiteContext* context, const TfLiteNode* node, int i) {
  return TempView(context, InputIndex(node, i));
}

TfLiteTensor* GetOutput(TfLiteContext* context, const TfLiteNode* node, int i) {
  return TempView(context, OutputIndex(node, i));
}

TfLiteEvalTensor* GetEvalInput(TfLiteContext* context, const TfLiteNode* node, int i) {
  return EvalTensor(context, InputIndex(node, i));
}

TfLiteEvalTensor* GetEvalOutput(TfLiteContext* context, const TfLiteNode* node, int i) {
  return EvalTensor(context, OutputIndex(node, i));
}

void* AllocatePersistentBuffer(TfLiteContext* context, size_t bytes) {
  return context->allocator->AllocatePersistent(bytes, 16);
}

bool TypeRange(TfLiteType type, int32_t* qmin, int32_t* qmax) {
  switch (type) {
    case kTfLiteInt8:
      *qmin = -128;
      *qmax = 127;
      return true;
    case kTfLiteUInt8:
      *qmin = 0;
      *qmax = 255;
      return true;
    case kTfLiteInt16:
      *qmin = -32768;
      *qmax = 32767;
      return true;
    default:
      return false;
  }
}

bool Shape4(const TfLiteIntArray& dims, int shape[4]) {
  if (dims.size != 4) return false;
  for (int i = 0; i < 4; ++i) shape[i] = dims.data[i];
  return true;
}

}  // namespace tflite
