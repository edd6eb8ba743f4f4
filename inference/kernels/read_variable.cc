#include <cstring>

#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_context.h"
#include "inference/micro_resource_variables.h"

namespace tflite {

namespace {

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  KERNEL_ENSURE_EQ(NumInputs(node), 1);
  KERNEL_ENSURE_EQ(NumOutputs(node), 1);
  // One temp view, as in the original runtime, whose temp use decides
  // whether a model fits.
  const TfLiteTensor* id = GetInput(context, node, 0);
  KERNEL_ENSURE(id != nullptr);
  KERNEL_ENSURE(GetEvalOutput(context, node, 0) != nullptr);
  KERNEL_ENSURE_TYPES_EQ(id->type, kTfLiteResource);
  KERNEL_ENSURE_EQ(ElementCount(*id->dims), 1);
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  if (context->resource_variables == nullptr) {
    MicroPrintf(
        "READ_VARIABLE requires resource variables. Please create ResourceVariables and "
        "pass it to the interpreter.");
    return kTfLiteError;
  }
  const TfLiteEvalTensor* handle = GetEvalInput(context, node, 0);
  KERNEL_ENSURE(handle->data.data != nullptr);
  int32_t id = 0;
  std::memcpy(&id, handle->data.data, sizeof(id));
  return context->resource_variables->Read(id, GetEvalOutput(context, node, 0));
}

}  // namespace

TFLMRegistration Register_READ_VARIABLE() {
  return {nullptr, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
