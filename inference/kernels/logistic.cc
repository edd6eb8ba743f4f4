#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(arith::LogisticParams), 16, 16>());
}

// The int8 output scale is taken to be 1/256 and is not checked.
TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<arith::LogisticParams*>(node->user_data);
  const TfLiteTensor* input = GetInput(context, node, 0);
  const TfLiteTensor* output = GetOutput(context, node, 0);
  KERNEL_ENSURE(input != nullptr);
  KERNEL_ENSURE(output != nullptr);
  KERNEL_ENSURE_TYPES_EQ(input->type, output->type);
  if (input->type == kTfLiteInt8) {
    KERNEL_ENSURE_EQ(output->params.zero_point, -128);
  } else if (input->type == kTfLiteInt16) {
    KERNEL_ENSURE_EQ(input->params.zero_point, 0);
    KERNEL_ENSURE_EQ(output->params.zero_point, 0);
    KERNEL_ENSURE(output->params.scale == 1.0f / 32768);
  }
  // Only int8 is computed here.
  if (input->type != kTfLiteInt8) {
    MicroPrintf("Input %s, output %s not supported.", TfLiteTypeGetName(input->type),
                TfLiteTypeGetName(output->type));
    return kTfLiteError;
  }
  KERNEL_ENSURE_EQ(ElementCount(*input->dims), ElementCount(*output->dims));
  KERNEL_ENSURE(arith::LogisticPrepare(input->params.scale, input->params.zero_point, data));
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const auto* data = static_cast<const arith::LogisticParams*>(node->user_data);
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  arith::Logistic(*data, input->data.int8, static_cast<size_t>(ElementCount(*input->dims)),
                  output->data.int8);
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_LOGISTIC() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
