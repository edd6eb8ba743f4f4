#include "inference/builtin_options.h"
#include "inference/kernels/conv_common.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<ConvData*>(node->user_data);
  const auto* params = static_cast<const DepthwiseConv2DOptionsData*>(node->builtin_data);
  const TfLiteTensor* input = nullptr;
  const TfLiteTensor* filter = nullptr;
  const TfLiteTensor* output = nullptr;
  if (ConvOperands(context, node, &input, &filter, &output) != kTfLiteOk) return kTfLiteError;
  const TfLiteType in = input->type;
  const TfLiteType f = filter->type;
  if (in == kTfLiteInt8) {
    KERNEL_ENSURE(HasAffineQuantization(filter));
    KERNEL_ENSURE(ScaleCount(filter) == 1 || ScaleCount(filter) == filter->dims->data[3]);
    KERNEL_ENSURE_EQ(ScaleCount(filter), filter->quantization.params->zero_point->size);
  }
  KERNEL_ENSURE_MSG(in == f || (in == kTfLiteInt8 && (f == kTfLiteInt4 || f == kTfLiteInt8)) ||
                        (in == kTfLiteInt16 && f == kTfLiteInt8),
                    "Hybrid models are not supported on TFLite Micro.");
  // Input and output types are not compared: an int8 input may give uint8
  // bytes, clamped to 0..255.
  const ConvOptions options{params->padding,
                            params->stride_width,
                            params->stride_height,
                            params->dilation_width_factor,
                            params->dilation_height_factor,
                            params->depth_multiplier,
                            params->activation};
  if (ConvPrepareCommon(context, node, input, filter, output, options, 3, data) != kTfLiteOk) {
    return kTfLiteError;
  }
  // Only int8 activations with int8 weights are computed here.
  if (in != kTfLiteInt8) {
    MicroPrintf("Input type %s (%d) not supported.", TfLiteTypeGetName(in), in);
    return kTfLiteError;
  }
  if (f != kTfLiteInt8) {
    MicroPrintf("Filter type %s (%d) for input type %s not supported.", TfLiteTypeGetName(f), f,
                TfLiteTypeGetName(in));
    return kTfLiteError;
  }
  KERNEL_ENSURE(output->type == kTfLiteInt8 || output->type == kTfLiteUInt8);
  int input_shape[4], filter_shape[4], output_shape[4];
  Shape4(*input->dims, input_shape);
  Shape4(*filter->dims, filter_shape);
  Shape4(*output->dims, output_shape);
  KERNEL_ENSURE(arith::DepthwiseShapesValid(data->params, input_shape, filter_shape, output_shape));
  const int32_t* bias = nullptr;
  KERNEL_ENSURE(ConvBias(context, node, output_shape[3], &bias));
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  return ConvEval(context, node, arith::DepthwiseConvPerChannel);
}

}  // namespace

TFLMRegistration Register_DEPTHWISE_CONV_2D() {
  return {ConvInit, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
