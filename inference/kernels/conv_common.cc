#include "inference/kernels/conv_common.h"

#include "inference/builtin_options.h"
#include "inference/kernels/kernel_util.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

int ArithPadding(int kind) {
  switch (kind) {
    case kPaddingKindSame:
      return arith::kPaddingSame;
    case kPaddingKindValid:
      return arith::kPaddingValid;
    default:
      return -1;
  }
}

}  // namespace

TfLiteStatus ConvOperands(TfLiteContext* context, TfLiteNode* node, const TfLiteTensor** input,
                          const TfLiteTensor** filter, const TfLiteTensor** output) {
  const TfLiteTensor* output_tensor = GetOutput(context, node, 0);
  const TfLiteTensor* input_tensor = GetInput(context, node, 0);
  const TfLiteTensor* filter_tensor = GetInput(context, node, 1);
  KERNEL_ENSURE(output_tensor != nullptr);
  KERNEL_ENSURE(input_tensor != nullptr);
  KERNEL_ENSURE(filter_tensor != nullptr);
  KERNEL_ENSURE_EQ(NumDimensions(input_tensor), 4);
  KERNEL_ENSURE_EQ(NumDimensions(filter_tensor), 4);
  KERNEL_ENSURE_EQ(NumDimensions(output_tensor), 4);
  // A filter without elements computes nothing useful, and its other
  // dimensions are then unbounded by the model's size.
  KERNEL_ENSURE(ElementCount(*filter_tensor->dims) > 0);
  *input = input_tensor;
  *filter = filter_tensor;
  *output = output_tensor;
  return kTfLiteOk;
}

void* ConvInit(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(ConvData), 72, 56>());
}

bool ConvBias(TfLiteContext* context, TfLiteNode* node, int channels, const int32_t** bias) {
  *bias = nullptr;
  if (NumInputs(node) < 3 || InputIndex(node, 2) < 0) return true;
  const TfLiteEvalTensor* tensor = GetEvalInput(context, node, 2);
  // Read as int32 whatever its declared type.
  if (EvalTensorBytes(*tensor) < sizeof(int32_t) * static_cast<size_t>(channels)) return false;
  *bias = tensor->data.i32;
  return true;
}

TfLiteStatus ConvEval(TfLiteContext* context, TfLiteNode* node, ConvKernel kernel) {
  const auto* data = static_cast<const ConvData*>(node->user_data);
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  const TfLiteEvalTensor* filter = GetEvalInput(context, node, 1);
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  int input_shape[4], filter_shape[4], output_shape[4];
  Shape4(*input->dims, input_shape);
  Shape4(*filter->dims, filter_shape);
  Shape4(*output->dims, output_shape);
  const int32_t* bias = nullptr;
  ConvBias(context, node, 0, &bias);
  kernel(data->params, data->multipliers, data->shifts, input_shape, input->data.int8,
         filter_shape, filter->data.int8, bias, output_shape, output->data.int8);
  return kTfLiteOk;
}

TfLiteStatus ConvPrepareCommon(TfLiteContext* context, TfLiteNode* node, const TfLiteTensor* input,
                               const TfLiteTensor* filter, const TfLiteTensor* output,
                               const ConvOptions& options, int channel_dim, ConvData* data) {
  KERNEL_ENSURE(NumInputs(node) == 2 || NumInputs(node) == 3);
  KERNEL_ENSURE_EQ(NumOutputs(node), 1);

  const int channels = filter->dims->data[channel_dim];
  KERNEL_ENSURE(channels >= 0);
  data->multipliers = static_cast<int32_t*>(
      AllocatePersistentBuffer(context, sizeof(int32_t) * static_cast<size_t>(channels)));
  data->shifts = static_cast<int*>(
      AllocatePersistentBuffer(context, sizeof(int) * static_cast<size_t>(channels)));
  KERNEL_ENSURE(data->multipliers != nullptr && data->shifts != nullptr);
  // The original runtime takes its views of the operands once more after the
  // two arrays, the bias's too; their temp use decides whether a model fits.
  // A bias view that finds no room is let go, as there.
  input = GetInput(context, node, 0);
  KERNEL_ENSURE(input != nullptr);
  filter = GetInput(context, node, 1);
  KERNEL_ENSURE(filter != nullptr);
  GetInput(context, node, 2);
  output = GetOutput(context, node, 0);
  KERNEL_ENSURE(output != nullptr);

  const bool quantized = input->type == kTfLiteInt8 || input->type == kTfLiteInt16;
  if (quantized) {
    KERNEL_ENSURE(HasAffineQuantization(input));
    // The multipliers below read the filter's scales.
    KERNEL_ENSURE(HasAffineQuantization(filter));
    const int scales = ScaleCount(filter);
    if (scales > 1) {
      KERNEL_ENSURE(input->type == kTfLiteInt8 || input->type == kTfLiteInt16);
      KERNEL_ENSURE(filter->type == kTfLiteInt8 || filter->type == kTfLiteInt4);
      KERNEL_ENSURE_EQ(scales, channels);
      const int q_dim = filter->quantization.params->quantized_dimension;
      KERNEL_ENSURE(q_dim >= 0 && q_dim < NumDimensions(filter));
      KERNEL_ENSURE_EQ(filter->dims->data[q_dim], channels);
    }
  }

  arith::ConvParams& p = data->params;
  p.stride_height = options.stride_height;
  p.stride_width = options.stride_width;
  p.dilation_height = options.dilation_height;
  p.dilation_width = options.dilation_width;
  p.depth_multiplier = options.depth_multiplier;
  p.padding = arith::ComputePadding(
      ArithPadding(options.padding), input->dims->data[1], input->dims->data[2],
      filter->dims->data[1], filter->dims->data[2], options.stride_height, options.stride_width,
      options.dilation_height, options.dilation_width);
  if (quantized) {
    KERNEL_ENSURE(arith::PerChannelMultipliers(
        input->params.scale, filter->quantization.params->scale->data, ScaleCount(filter),
        output->params.scale, channels, data->multipliers, data->shifts));
    int32_t qmin = 0;
    int32_t qmax = 0;
    KERNEL_ENSURE(TypeRange(output->type, &qmin, &qmax));
    KERNEL_ENSURE(arith::ActivationBounds(options.activation, qmin, qmax, output->params.scale,
                                          output->params.zero_point, &p.output_min, &p.output_max));
    p.input_offset = static_cast<int32_t>(0u - static_cast<uint32_t>(input->params.zero_point));
    p.output_offset = output->params.zero_point;
  }
  return kTfLiteOk;
}

}  // namespace tflite
