#include <cstring>

#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_context.h"
#include "inference/micro_resource_variables.h"

namespace tflite {

namespace {

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  KERNEL_ENSURE_EQ(NumInputs(node), 2);
  KERNEL_ENSURE_EQ(NumOutputs(node), 0);
  // Only the value gets a temp view, as in the original runtime, whose temp
  // use decides whether a model fits.
  const TfLiteEvalTensor* id = GetEvalInput(context, node, 0);
  KERNEL_ENSURE(id != nullptr);
  KERNEL_ENSURE(id->type == kTfLiteResource || id->type == kTfLiteInt32);
  KERNEL_ENSURE_EQ(ElementCount(*id->dims), 1);
  const TfLiteTensor* value = GetInput(context, node, 1);
  KERNEL_ENSURE(value != nullptr);
  // Storage is sized by the first assignment prepared whose id is known now.
  MicroResourceVariables* variables = context->resource_variables;
  if (variables != nullptr && id->data.data != nullptr) {
    int32_t resource_id = 0;
    std::memcpy(&resource_id, id->data.data, sizeof(resource_id));
    if (variables->Allocate(resource_id, *value, context->allocator) != kTfLiteOk) {
      return kTfLiteError;
    }
    KERNEL_ENSURE_EQ(value->bytes, variables->bytes(resource_id));
  }
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  if (context->resource_variables == nullptr) {
    MicroPrintf(
        "ASSIGN_VARIABLE requires resource variables. Please create ResourceVariables "
        "and pass it to the interpreter.");
    return kTfLiteError;
  }
  const TfLiteEvalTensor* handle = GetEvalInput(context, node, 0);
  KERNEL_ENSURE(handle->data.data != nullptr);
  int32_t id = 0;
  std::memcpy(&id, handle->data.data, sizeof(id));
  return context->resource_variables->Assign(id, *GetEvalInput(context, node, 1));
}

}  // namespace

TFLMRegistration Register_ASSIGN_VARIABLE() {
  return {nullptr, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
