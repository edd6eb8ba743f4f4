#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

const int kRankZero[1] = {0};

// The output shape is the output tensor's own; the shape input and the
// options are not consulted.
TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  KERNEL_ENSURE(NumInputs(node) == 1 || NumInputs(node) == 2);
  KERNEL_ENSURE_EQ(NumOutputs(node), 1);
  const TfLiteTensor* input = GetInput(context, node, 0);
  const TfLiteTensor* output = GetOutput(context, node, 0);
  KERNEL_ENSURE(input != nullptr);
  KERNEL_ENSURE(output != nullptr);
  TfLiteEvalTensor* eval_output = GetEvalOutput(context, node, 0);
  const TfLiteIntArray& dims = *eval_output->dims;
  if (NumInputs(node) == 1 && dims.size == 1 && dims.data[0] == 0) {
    // A legacy spelling of a scalar output.
    eval_output->dims = reinterpret_cast<TfLiteIntArray*>(const_cast<int*>(kRankZero));
  } else {
    int stretch = 0;
    for (int i = 0; i < dims.size; ++i) stretch += dims.data[i] == -1 ? 1 : 0;
    KERNEL_ENSURE(stretch <= 1);
    if (stretch == 1) {
      // The resolved shape is a copy; the model's shape vector stays as is.
      auto* resolved = static_cast<TfLiteIntArray*>(
          AllocatePersistentBuffer(context, sizeof(int) * (1 + static_cast<size_t>(dims.size))));
      KERNEL_ENSURE(resolved != nullptr);
      resolved->size = dims.size;
      for (int i = 0; i < dims.size; ++i) resolved->data[i] = dims.data[i];
      KERNEL_ENSURE(
          arith::ResolveReshapeDims(ElementCount(*input->dims), resolved->data, resolved->size));
      eval_output->dims = resolved;
    }
  }
  KERNEL_ENSURE_TYPES_EQ(input->type, output->type);
  KERNEL_ENSURE_EQ(ElementCount(*input->dims), ElementCount(*eval_output->dims));
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  const size_t bytes = EvalTensorBytes(*input);
  if (bytes > 0) arith::ReshapeCopy(input->data.data, bytes, output->data.data);
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_RESHAPE() {
  return {nullptr, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
