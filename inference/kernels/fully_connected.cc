#include "inference/builtin_options.h"
#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

struct FullyConnectedData {
  arith::FullyConnectedParams params;
  int32_t multiplier;  // per-tensor weights
  int shift;
  int32_t* multipliers;  // per-channel weights; null otherwise
  int* shifts;
};

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(FullyConnectedData), 64, 48>());
}

int LastDim(const TfLiteIntArray& dims) { return dims.size > 0 ? dims.data[dims.size - 1] : 1; }

// Rows of the flat input and output: the output's elements per unit.
int64_t Batches(const TfLiteIntArray& output_dims) {
  int64_t batches = 1;
  for (int i = 0; i + 1 < output_dims.size; ++i) batches *= output_dims.data[i];
  return batches;
}

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<FullyConnectedData*>(node->user_data);
  const auto* params = static_cast<const FullyConnectedOptionsData*>(node->builtin_data);
  const TfLiteTensor* input = GetInput(context, node, 0);
  const TfLiteTensor* filter = GetInput(context, node, 1);
  const TfLiteTensor* bias = GetInput(context, node, 2);
  const TfLiteTensor* output = GetOutput(context, node, 0);
  KERNEL_ENSURE(input != nullptr);
  KERNEL_ENSURE(filter != nullptr);
  KERNEL_ENSURE(output != nullptr);
  KERNEL_ENSURE_TYPES_EQ(input->type, output->type);
  const TfLiteType in = input->type;
  const TfLiteType f = filter->type;
  if ((in == kTfLiteFloat32 && f != kTfLiteFloat32) ||
      (in == kTfLiteInt8 && f != kTfLiteInt8 && f != kTfLiteInt4) ||
      (in == kTfLiteInt16 && f != kTfLiteInt8)) {
    MicroPrintf("Input type: %s with filter type: %s not supported.", TfLiteTypeGetName(in),
                TfLiteTypeGetName(f));
    return kTfLiteError;
  }
  data->multipliers = nullptr;
  data->shifts = nullptr;
  if (in != kTfLiteFloat32) {
    const int scales = ScaleCount(filter);
    if (scales > 1) {
      KERNEL_ENSURE(in == kTfLiteInt8 || in == kTfLiteInt16);
      KERNEL_ENSURE(f != kTfLiteInt4);
      const int q_dim = filter->quantization.params->quantized_dimension;
      KERNEL_ENSURE(q_dim >= 0 && q_dim < NumDimensions(filter));
      KERNEL_ENSURE_EQ(scales, filter->dims->data[q_dim]);
      data->multipliers = static_cast<int32_t*>(
          AllocatePersistentBuffer(context, sizeof(int32_t) * static_cast<size_t>(scales)));
      data->shifts = static_cast<int*>(
          AllocatePersistentBuffer(context, sizeof(int) * static_cast<size_t>(scales)));
      KERNEL_ENSURE(data->multipliers != nullptr && data->shifts != nullptr);
      KERNEL_ENSURE(arith::PerChannelMultipliers(
          input->params.scale, filter->quantization.params->scale->data, scales,
          output->params.scale, scales, data->multipliers, data->shifts));
      // Every unit needs a multiplier of its own.
      KERNEL_ENSURE(LastDim(*output->dims) <= scales);
    } else {
      if (bias != nullptr) {
        KERNEL_ENSURE(arith::FullyConnectedBiasScaleMatches(
            input->params.scale, filter->params.scale, bias->params.scale, output->params.scale));
      }
      KERNEL_ENSURE(arith::FullyConnectedPerTensorMultiplier(
          input->params.scale, filter->params.scale, output->params.scale, &data->multiplier,
          &data->shift));
      KERNEL_ENSURE_EQ(filter->params.zero_point, 0);
    }
    int32_t qmin = 0;
    int32_t qmax = 0;
    KERNEL_ENSURE(TypeRange(output->type, &qmin, &qmax));
    KERNEL_ENSURE(arith::ActivationBounds(params->activation, qmin, qmax, output->params.scale,
                                          output->params.zero_point, &data->params.output_min,
                                          &data->params.output_max));
  }
  // Only int8 activations with int8 weights are computed here.
  if (in != kTfLiteInt8) {
    MicroPrintf("Input type %s (%d) not supported.", TfLiteTypeGetName(in), in);
    return kTfLiteError;
  }
  if (f != kTfLiteInt8) {
    MicroPrintf("Filter type %s (%d) not supported.", TfLiteTypeGetName(f), f);
    return kTfLiteError;
  }
  data->params.input_offset =
      static_cast<int32_t>(0u - static_cast<uint32_t>(input->params.zero_point));
  data->params.filter_offset = 0;
  data->params.output_offset = output->params.zero_point;

  // The input is read flat: it must hold every row the output asks for.
  const int64_t depth = LastDim(*filter->dims);
  const int64_t units = LastDim(*output->dims);
  const int64_t batches = Batches(*output->dims);
  KERNEL_ENSURE(NumDimensions(filter) >= 1 && NumDimensions(output) >= 1);
  KERNEL_ENSURE(ElementCount(*filter->dims) >= units * depth);
  KERNEL_ENSURE(ElementCount(*input->dims) >= batches * depth);
  if (bias != nullptr) KERNEL_ENSURE(bias->bytes >= sizeof(int32_t) * static_cast<size_t>(units));
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const auto* data = static_cast<const FullyConnectedData*>(node->user_data);
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  const TfLiteEvalTensor* filter = GetEvalInput(context, node, 1);
  const TfLiteEvalTensor* bias = GetEvalInput(context, node, 2);
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  const int depth = LastDim(*filter->dims);
  const int units = LastDim(*output->dims);
  const int batches = static_cast<int>(Batches(*output->dims));
  const int32_t* bias_data = bias != nullptr ? bias->data.i32 : nullptr;
  if (data->multipliers != nullptr) {
    arith::FullyConnectedPerChannel(data->params, data->multipliers, data->shifts, batches, depth,
                                    units, input->data.int8, filter->data.int8, bias_data,
                                    output->data.int8);
  } else {
    arith::FullyConnectedPerTensor(data->params, data->multiplier, data->shift, batches, depth,
                                   units, input->data.int8, filter->data.int8, bias_data,
                                   output->data.int8);
  }
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_FULLY_CONNECTED() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
