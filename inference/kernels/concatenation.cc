#include "inference/builtin_options.h"
#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

constexpr int kMaxInputs = 10;
constexpr int kMaxDimensions = 6;

struct ConcatenationData {
  int axis;
  int outer;
  int inner;
};

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context, RecordBytes<sizeof(ConcatenationData), 40, 24>());
}

bool SupportedType(TfLiteType type) {
  return type == kTfLiteFloat32 || type == kTfLiteInt8 || type == kTfLiteInt16 ||
         type == kTfLiteInt32 || type == kTfLiteInt64 || type == kTfLiteBool;
}

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<ConcatenationData*>(node->user_data);
  const auto* params = static_cast<const ConcatenationOptionsData*>(node->builtin_data);
  const TfLiteTensor* input0 = GetInput(context, node, 0);
  const TfLiteTensor* output = GetOutput(context, node, 0);
  KERNEL_ENSURE(input0 != nullptr);
  KERNEL_ENSURE(output != nullptr);
  KERNEL_ENSURE_EQ(params->activation, 0);
  const TfLiteType type = input0->type;
  if (!SupportedType(type)) {
    MicroPrintf("Op Concatenation does not currently support Type '%s'.", TfLiteTypeGetName(type));
    return kTfLiteError;
  }
  KERNEL_ENSURE_TYPES_EQ(output->type, type);
  const int num_inputs = NumInputs(node);
  KERNEL_ENSURE(num_inputs <= kMaxInputs);

  // Input 0 gets a second view here, as in the original runtime, whose
  // temp use decides whether a model fits.
  const TfLiteTensor* inputs[kMaxInputs];
  for (int i = 0; i < num_inputs; ++i) {
    const TfLiteTensor* input = GetInput(context, node, i);
    KERNEL_ENSURE(input != nullptr);
    inputs[i] = input;
    KERNEL_ENSURE_TYPES_EQ(input->type, type);
    if (NumDimensions(input) > kMaxDimensions) {
      MicroPrintf(
          "Op Concatenation does not currently support num dimensions > %d Tensor has %d "
          "dimensions.",
          kMaxDimensions, NumDimensions(input));
      return kTfLiteError;
    }
    if (type == kTfLiteInt8) {
      // Inputs are copied, never requantised.
      if (static_cast<double>(input->params.scale) != static_cast<double>(output->params.scale)) {
        MicroPrintf(
            "%s:%d static_cast<double>(input->params.scale) != "
            "static_cast<double>(output->params.scale) (%.9g != %.9g)",
            __FILE__, __LINE__, static_cast<double>(input->params.scale),
            static_cast<double>(output->params.scale));
        return kTfLiteError;
      }
      KERNEL_ENSURE_EQ(input->params.zero_point, output->params.zero_point);
    } else if (type == kTfLiteInt16) {
      KERNEL_ENSURE_EQ(input->params.zero_point, 0);
    }
  }

  // Consistent shapes: otherwise the copies would run past the tensors.
  const int rank = NumDimensions(output);
  const int axis = params->axis >= 0 ? params->axis : params->axis + rank;
  KERNEL_ENSURE(axis >= 0 && axis < rank);
  int64_t axis_sum = 0;
  for (int i = 0; i < num_inputs; ++i) {
    const TfLiteTensor* input = inputs[i];
    KERNEL_ENSURE_EQ(NumDimensions(input), rank);
    for (int d = 0; d < rank; ++d) {
      if (d != axis) KERNEL_ENSURE_EQ(input->dims->data[d], output->dims->data[d]);
    }
    axis_sum += input->dims->data[axis];
  }
  KERNEL_ENSURE_EQ(axis_sum, output->dims->data[axis]);

  data->axis = axis;
  data->outer = 1;
  for (int d = 0; d < axis; ++d) data->outer *= output->dims->data[d];
  data->inner = 1;
  for (int d = axis + 1; d < rank; ++d) data->inner *= output->dims->data[d];
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const auto* data = static_cast<const ConcatenationData*>(node->user_data);
  const int num_inputs = NumInputs(node);
  const void* inputs[kMaxInputs];
  int axis_dims[kMaxInputs];
  for (int i = 0; i < num_inputs; ++i) {
    const TfLiteEvalTensor* input = GetEvalInput(context, node, i);
    inputs[i] = input->data.data;
    axis_dims[i] = input->dims->data[data->axis];
  }
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  arith::Concatenation(num_inputs, inputs, axis_dims, data->outer, data->inner,
                       TypeSize(output->type), output->data.data);
  return kTfLiteOk;
}

}  // namespace

TFLMRegistration Register_CONCATENATION() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
