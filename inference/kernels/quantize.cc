#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

struct QuantizeData {
  arith::RequantizeParams requantize;
  float output_scale;
};

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(QuantizeData), 32, 32>());
}

bool IsInteger(TfLiteType type) {
  return type == kTfLiteInt8 || type == kTfLiteUInt8 || type == kTfLiteInt16 ||
         type == kTfLiteInt32;
}

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<QuantizeData*>(node->user_data);
  KERNEL_ENSURE_EQ(NumInputs(node), 1);
  KERNEL_ENSURE_EQ(NumOutputs(node), 1);
  const TfLiteTensor* input = GetInput(context, node, 0);
  const TfLiteTensor* output = GetOutput(context, node, 0);
  KERNEL_ENSURE(input != nullptr);
  KERNEL_ENSURE(output != nullptr);
  KERNEL_ENSURE(HasAffineQuantization(output));
  KERNEL_ENSURE_EQ(ScaleCount(output), 1);
  KERNEL_ENSURE(input->type == kTfLiteFloat32 || IsInteger(input->type));
  KERNEL_ENSURE(output->type == kTfLiteInt8 || output->type == kTfLiteInt16 ||
                output->type == kTfLiteInt32 || output->type == kTfLiteUInt8);
  if (IsInteger(input->type)) {
    KERNEL_ENSURE(arith::RequantizeMultiplier(input->params.scale, output->params.scale,
                                              &data->requantize.multiplier,
                                              &data->requantize.shift));
  }
  data->requantize.input_zero_point = input->params.zero_point;
  data->requantize.output_zero_point = output->params.zero_point;
  data->output_scale = output->params.scale;
  // Every input element is written to the output.
  KERNEL_ENSURE(ElementCount(*output->dims) >= ElementCount(*input->dims));
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const auto* data = static_cast<const QuantizeData*>(node->user_data);
  const arith::RequantizeParams& p = data->requantize;
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  const size_t n = static_cast<size_t>(ElementCount(*input->dims));
  const TfLitePtrUnion in = input->data;
  const TfLitePtrUnion out = output->data;
  switch (input->type) {
    case kTfLiteFloat32:
      if (output->type == kTfLiteInt8) {
        arith::QuantizeFloat(data->output_scale, p.output_zero_point, in.f, n, out.int8);
        return kTfLiteOk;
      }
      if (output->type == kTfLiteInt16) {
        arith::QuantizeFloat(data->output_scale, p.output_zero_point, in.f, n, out.i16);
        return kTfLiteOk;
      }
      break;
    case kTfLiteInt32:
      if (output->type == kTfLiteInt8) return arith::Requantize(p, in.i32, n, out.int8), kTfLiteOk;
      if (output->type == kTfLiteInt16) return arith::Requantize(p, in.i32, n, out.i16), kTfLiteOk;
      break;
    case kTfLiteInt16:
      if (output->type == kTfLiteInt8) return arith::Requantize(p, in.i16, n, out.int8), kTfLiteOk;
      if (output->type == kTfLiteInt16) return arith::Requantize(p, in.i16, n, out.i16), kTfLiteOk;
      if (output->type == kTfLiteInt32) return arith::Requantize(p, in.i16, n, out.i32), kTfLiteOk;
      break;
    case kTfLiteInt8:
      if (output->type == kTfLiteInt8) return arith::Requantize(p, in.int8, n, out.int8), kTfLiteOk;
      if (output->type == kTfLiteUInt8)
        return arith::Requantize(p, in.int8, n, out.uint8), kTfLiteOk;
      if (output->type == kTfLiteInt16) return arith::Requantize(p, in.int8, n, out.i16), kTfLiteOk;
      if (output->type == kTfLiteInt32) return arith::Requantize(p, in.int8, n, out.i32), kTfLiteOk;
      break;
    case kTfLiteUInt8:
      if (output->type == kTfLiteInt8)
        return arith::Requantize(p, in.uint8, n, out.int8), kTfLiteOk;
      break;
    default:
      break;
  }
  MicroPrintf("Input %s, output %s not supported.", TfLiteTypeGetName(input->type),
              TfLiteTypeGetName(output->type));
  return kTfLiteError;
}

}  // namespace

TFLMRegistration Register_QUANTIZE() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
