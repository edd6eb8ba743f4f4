#include "inference/builtin_options.h"
#include "inference/kernels/conv_common.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<ConvData*>(node->user_data);
  const auto* params = static_cast<const Conv2DOptionsData*>(node->builtin_data);
  const TfLiteTensor* input = nullptr;
  const TfLiteTensor* filter = nullptr;
  const TfLiteTensor* output = nullptr;
  if (ConvOperands(context, node, &input, &filter, &output) != kTfLiteOk) return kTfLiteError;
  KERNEL_ENSURE_TYPES_EQ(input->type, output->type);
  const TfLiteType in = input->type;
  const TfLiteType f = filter->type;
  KERNEL_ENSURE_MSG((in == kTfLiteFloat32 && f == kTfLiteFloat32) ||
                        (in == kTfLiteInt16 && f == kTfLiteInt8) ||
                        (in == kTfLiteInt8 && (f == kTfLiteInt8 || f == kTfLiteInt4)),
                    "Hybrid models are not supported on TFLite Micro.");
  if (in == kTfLiteInt8 || in == kTfLiteInt16) {
    KERNEL_ENSURE(HasAffineQuantization(filter));
    KERNEL_ENSURE(ScaleCount(filter) == 1 || ScaleCount(filter) == filter->dims->data[0]);
  }
  const ConvOptions options{params->padding,
                            params->stride_width,
                            params->stride_height,
                            params->dilation_width_factor,
                            params->dilation_height_factor,
                            0,
                            params->activation};
  if (ConvPrepareCommon(context, node, input, filter, output, options, 0, data) != kTfLiteOk) {
    return kTfLiteError;
  }
  // Only int8 activations with int8 weights are computed here.
  if (in != kTfLiteInt8) {
    MicroPrintf("Type %s (%d) not supported.", TfLiteTypeGetName(in), in);
    return kTfLiteError;
  }
  if (f != kTfLiteInt8) {
    MicroPrintf("Weight type %s (%d) not supported.", TfLiteTypeGetName(f), f);
    return kTfLiteError;
  }
  int input_shape[4], filter_shape[4], output_shape[4];
  Shape4(*input->dims, input_shape);
  Shape4(*filter->dims, filter_shape);
  Shape4(*output->dims, output_shape);
  KERNEL_ENSURE(arith::ConvShapesValid(data->params, input_shape, filter_shape, output_shape));
  const int32_t* bias = nullptr;
  const int depth_out = filter_shape[0] < output_shape[3] ? filter_shape[0] : output_shape[3];
  KERNEL_ENSURE(ConvBias(context, node, depth_out, &bias));
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  return ConvEval(context, node, arith::ConvPerChannel);
}

}  // namespace

TFLMRegistration Register_CONV_2D() {
  return {ConvInit, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
