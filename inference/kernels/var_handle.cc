#include "inference/builtin_options.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"
#include "inference/micro_resource_variables.h"

namespace tflite {

namespace {

// The resource id; the output tensor points at it.
struct VarHandleData {
  int32_t resource_id;
};

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(VarHandleData), 4, 4>());
}

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<VarHandleData*>(node->user_data);
  const auto* params = static_cast<const VarHandleOptionsData*>(node->builtin_data);
  if (context->resource_variables == nullptr) {
    MicroPrintf(
        "VAR_HANDLE requires resource variables. Please create ResourceVariables and "
        "pass it to the interpreter.");
    return kTfLiteError;
  }
  data->resource_id =
      context->resource_variables->CreateIdIfNoneFound(params->container, params->shared_name);
  if (data->resource_id < 0) return kTfLiteError;
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  KERNEL_ENSURE(output != nullptr);
  // The handle is one id: larger outputs would be read past it.
  KERNEL_ENSURE(ElementCount(*output->dims) <= 1 && TypeSize(output->type) <= sizeof(int32_t));
  output->data.i32 = &data->resource_id;
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<VarHandleData*>(node->user_data);
  GetEvalOutput(context, node, 0)->data.i32 = &data->resource_id;
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_VAR_HANDLE() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
