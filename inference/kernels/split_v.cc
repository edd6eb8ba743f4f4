#include <cstring>

#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

constexpr int kMaxOutputs = 64;

// The axis from input 2, with the rank added when negative; false when
// there is no int32 value or the axis is outside the input.
bool ReadAxis(const void* data, size_t bytes, int rank, int* axis) {
  if (bytes < sizeof(int32_t)) return false;
  int32_t value = 0;
  std::memcpy(&value, data, sizeof(value));
  if (value < 0) value += rank;
  *axis = value;
  return value >= 0 && value < rank;
}

// Each output's extent along the axis is its own dimension; the
// size_splits input and num_splits are not consulted.
TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  KERNEL_ENSURE_EQ(NumInputs(node), 3);
  // Only the axis gets a temp view, as in the original runtime, whose temp
  // use decides whether a model fits; the rest is read from the records.
  const TfLiteTensor* axis_tensor = GetInput(context, node, 2);
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  KERNEL_ENSURE(input != nullptr);
  KERNEL_ENSURE(axis_tensor != nullptr);
  KERNEL_ENSURE_MSG(IsConstantTensor(axis_tensor), "Non-constant >axis< tensor is not supported");
  const int num_outputs = NumOutputs(node);
  KERNEL_ENSURE(num_outputs >= 1 && num_outputs <= kMaxOutputs);

  // The axis itself is checked at invoke; with a valid one the outputs must
  // tile the input exactly, or the copies would leave the tensors.
  const int rank = input->dims->size;
  int axis = 0;
  if (!ReadAxis(axis_tensor->data.data, axis_tensor->bytes, rank, &axis)) return kTfLiteOk;
  int64_t axis_sum = 0;
  for (int j = 0; j < num_outputs; ++j) {
    const TfLiteEvalTensor* output = GetEvalOutput(context, node, j);
    KERNEL_ENSURE(output != nullptr);
    KERNEL_ENSURE_TYPES_EQ(output->type, input->type);
    KERNEL_ENSURE_EQ(output->dims->size, rank);
    for (int d = 0; d < rank; ++d) {
      if (d != axis) KERNEL_ENSURE_EQ(output->dims->data[d], input->dims->data[d]);
    }
    axis_sum += output->dims->data[axis];
  }
  KERNEL_ENSURE_EQ(axis_sum, input->dims->data[axis]);
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  const TfLiteEvalTensor* axis_tensor = GetEvalInput(context, node, 2);
  const int rank = input->dims->size;
  int axis = 0;
  KERNEL_ENSURE(ReadAxis(axis_tensor->data.data, EvalTensorBytes(*axis_tensor), rank, &axis));
  switch (input->type) {
    case kTfLiteFloat32:
    case kTfLiteInt8:
    case kTfLiteInt16:
    case kTfLiteInt32:
      break;
    default:
      MicroPrintf("Type %s currently not supported.", TfLiteTypeGetName(input->type));
      return kTfLiteError;
  }
  const int num_outputs = NumOutputs(node);
  void* outputs[kMaxOutputs];
  int axis_dims[kMaxOutputs];
  for (int j = 0; j < num_outputs; ++j) {
    TfLiteEvalTensor* output = GetEvalOutput(context, node, j);
    outputs[j] = output->data.data;
    axis_dims[j] = output->dims->data[axis];
  }
  int outer = 1;
  for (int d = 0; d < axis; ++d) outer *= input->dims->data[d];
  int inner = 1;
  for (int d = axis + 1; d < rank; ++d) inner *= input->dims->data[d];
  arith::SplitV(input->data.data, num_outputs, outputs, axis_dims, outer, inner,
                TypeSize(input->type));
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_SPLIT_V() {
  return {nullptr, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
