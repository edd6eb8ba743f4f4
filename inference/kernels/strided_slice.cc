#include <cstring>

#include "inference/builtin_options.h"
#include "inference/kernels/arithmetic.h"
#include "inference/kernels/kernel_util.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"

namespace tflite {

namespace {

constexpr int kMaxInputRank = 4;

void* Init(TfLiteContext* context, const char*, size_t) {
  return AllocatePersistentBuffer(context,
                                  RecordBytes<sizeof(arith::StridedSliceParams), 84, 84>());
}

// Reads `count` int32 values of a constant index tensor; false when it
// holds fewer bytes.
bool ReadIndices(const TfLiteTensor* tensor, int count, int32_t* values) {
  if (tensor->bytes < sizeof(int32_t) * static_cast<size_t>(count)) return false;
  if (count > 0) std::memcpy(values, tensor->data.data, sizeof(int32_t) * count);
  return true;
}

TfLiteStatus Prepare(TfLiteContext* context, TfLiteNode* node) {
  auto* data = static_cast<arith::StridedSliceParams*>(node->user_data);
  const auto* params = static_cast<const StridedSliceOptionsData*>(node->builtin_data);
  KERNEL_ENSURE_EQ(NumInputs(node), 4);
  KERNEL_ENSURE_EQ(NumOutputs(node), 1);
  const TfLiteTensor* input = GetInput(context, node, 0);
  const TfLiteTensor* begin = GetInput(context, node, 1);
  const TfLiteTensor* end = GetInput(context, node, 2);
  const TfLiteTensor* strides = GetInput(context, node, 3);
  const TfLiteTensor* output = GetOutput(context, node, 0);
  KERNEL_ENSURE(input != nullptr && begin != nullptr && end != nullptr && strides != nullptr);
  KERNEL_ENSURE(output != nullptr);
  const int rank = NumDimensions(input);
  KERNEL_ENSURE_MSG(rank <= kMaxInputRank, "input dim should not exceed 4");
  KERNEL_ENSURE_MSG(IsConstantTensor(begin), "Non-constant >begin< tensor is not supported");
  KERNEL_ENSURE_MSG(IsConstantTensor(end), "Non-constant >end< tensor is not supported");
  KERNEL_ENSURE_MSG(IsConstantTensor(strides), "Non-constant >strides< tensor is not supported");

  data->rank = rank;
  KERNEL_ENSURE(ReadIndices(begin, rank, data->begin));
  KERNEL_ENSURE(ReadIndices(end, rank, data->end));
  KERNEL_ENSURE(ReadIndices(strides, rank, data->strides));
  for (int i = 0; i < rank; ++i) {
    KERNEL_ENSURE_MSG(data->strides[i] != 0, "stride value has to be non-zero");
  }
  // Ellipsis and new-axis masks and the offset flag are not supported and
  // are ignored.
  data->begin_mask = params->begin_mask;
  data->end_mask = params->end_mask;
  data->shrink_axis_mask = params->shrink_axis_mask;

  int shape[arith::kStridedSliceMaxRank];
  int shape_rank = 0;
  KERNEL_ENSURE(arith::StridedSliceOutputShape(*data, input->dims->data, shape, &shape_rank));
  for (int i = 0; i < shape_rank && i < NumDimensions(output); ++i) {
    KERNEL_ENSURE_EQ(shape[i], output->dims->data[i]);
  }
  KERNEL_ENSURE_EQ(shape_rank, NumDimensions(output));
  // Elements are copied as they are.
  KERNEL_ENSURE_TYPES_EQ(input->type, output->type);
  return kTfLiteOk;
}

TfLiteStatus Invoke(TfLiteContext* context, TfLiteNode* node) {
  const auto* data = static_cast<const arith::StridedSliceParams*>(node->user_data);
  const TfLiteEvalTensor* input = GetEvalInput(context, node, 0);
  TfLiteEvalTensor* output = GetEvalOutput(context, node, 0);
  switch (output->type) {
    case kTfLiteFloat32:
    case kTfLiteInt8:
    case kTfLiteInt16:
    case kTfLiteInt32:
    case kTfLiteBool:
      arith::StridedSlice(*data, input->dims->data, TypeSize(output->type), input->data.data,
                          output->data.data);
      return kTfLiteOk;
    default:
      MicroPrintf("Type %s (%d) not supported.", TfLiteTypeGetName(input->type), input->type);
      return kTfLiteError;
  }
}

}  // namespace

TFLMRegistration Register_STRIDED_SLICE() {
  return {Init, nullptr, Prepare, Invoke, nullptr, 0, nullptr};
}

}  // namespace tflite
