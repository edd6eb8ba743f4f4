#include "inference/builtin_options.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

struct CallOnceData {
  int init_subgraph_index;
  bool has_run;
};

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(CallOnceData), 8, 8>());
}

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<CallOnceData*>(node->user_data);
  const auto* params = static_cast<const CallOnceOptionsData*>(node->builtin_data);
  data->init_subgraph_index = params->init_subgraph_index;
  data->has_run = false;
  KERNEL_ENSURE_EQ(NumInputs(node), 0);
  KERNEL_ENSURE_EQ(NumOutputs(node), 0);
  KERNEL_ENSURE(data->init_subgraph_index < context->subgraph_count);
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<CallOnceData*>(node->user_data);
  if (data->has_run) return kTfLiteOk;
  // A failed run is retried on the next invoke.
  if (InvokeSubgraph(context, data->init_subgraph_index) != kTfLiteOk) return kTfLiteError;
  data->has_run = true;
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_CALL_ONCE() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
