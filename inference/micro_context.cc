#include "inference/micro_context.h"

#include <new>

#include "inference/kernels/kernel_util.h"
#include "inference/micro_allocator.h"
#include "inference/micro_log.h"
#include "inference/model_util.h"
#include "inference/schema.h"

namespace tflite {

namespace {

constexpr size_t kViewBytes = RecordBytes<sizeof(TfLiteTensor), 64, 40>();
constexpr size_t kQuantizationBytes = RecordBytes<sizeof(TfLiteAffineQuantization), 24, 12>();

void* Take(MicroAllocator* allocator, bool persistent, size_t bytes, size_t alignment) {
  return persistent ? allocator->AllocatePersistent(bytes, alignment)
                    : allocator->AllocateTemp(bytes, alignment);
}

// Affine quantisation needs both a scale and a zero point.
bool IsQuantized(const QuantizationParameters* q) {
  return q != nullptr && q->scale() != nullptr && q->scale()->size() > 0 &&
         q->zero_point() != nullptr && q->zero_point()->size() > 0;
}

}  // namespace

TfLiteTensor* CreateTensorView(TfLiteContext* context, int subgraph, int tensor_index,
                               bool persistent) {
  MicroAllocator* allocator = context->allocator;
  const Tensor* model_tensor =
      context->model->subgraphs()->Get(subgraph)->tensors()->Get(tensor_index);
  const TfLiteEvalTensor& eval = context->subgraphs[subgraph].tensors[tensor_index];

  void* memory = Take(allocator, persistent, kViewBytes, alignof(TfLiteTensor));
  if (memory == nullptr) {
    if (persistent) {
      MicroPrintf("Failed to allocate memory for persistent TfLiteTensor");
    } else {
      MicroPrintf("Failed to allocate temp. memory for tensor %d, subgraph %d", tensor_index,
                  subgraph);
    }
    return nullptr;
  }
  TfLiteTensor* view = new (memory) TfLiteTensor();
  view->type = eval.type;
  view->data = eval.data;
  view->dims = eval.dims;
  view->bytes = TensorBytes(*eval.dims, eval.type);
  view->is_variable = model_tensor->is_variable();
  const Buffer* buffer = context->model->buffers()->Get(model_tensor->buffer());
  const bool constant = buffer->data() != nullptr && buffer->data()->size() > 0;
  view->allocation_type = constant && !view->is_variable ? kTfLiteMmapRo : kTfLiteArenaRw;

  const QuantizationParameters* q = model_tensor->quantization();
  if (!IsQuantized(q)) return view;

  const int channels = static_cast<int>(q->scale()->size());
  auto* quantization = static_cast<TfLiteAffineQuantization*>(
      Take(allocator, persistent, kQuantizationBytes, alignof(TfLiteAffineQuantization)));
  auto* zero_points =
      quantization == nullptr
          ? nullptr
          : static_cast<TfLiteIntArray*>(Take(
                allocator, persistent, sizeof(int) + sizeof(int) * static_cast<size_t>(channels),
                alignof(TfLiteIntArray)));
  if (zero_points == nullptr) {
    if (persistent) {
      MicroPrintf(quantization == nullptr ? "Unable to allocate TfLiteAffineQuantization.\n"
                                          : "Unable to allocate quantization->zero_point.\n");
      MicroPrintf("Failed to populate a persistent TfLiteTensor struct from flatbuffer data!");
    } else {
      MicroPrintf("Failed to allocate temp. memory for tensor %d, subgraph %d", tensor_index,
                  subgraph);
    }
    return nullptr;
  }
  const auto* model_zero_points = q->zero_point();
  const bool per_channel_zero_points = model_zero_points->size() == q->scale()->size();
  zero_points->size = channels;
  for (int c = 0; c < channels; ++c) {
    zero_points->data[c] =
        static_cast<int32_t>(Int64At(model_zero_points, per_channel_zero_points ? c : 0));
  }
  quantization->scale = reinterpret_cast<const TfLiteFloatArray*>(q->scale());
  quantization->zero_point = zero_points;
  quantization->quantized_dimension = q->quantized_dimension();
  view->quantization.type = kTfLiteAffineQuantization;
  view->quantization.params = quantization;
  view->params.scale = q->scale()->Get(0);
  view->params.zero_point = zero_points->data[0];
  return view;
}

}  // namespace tflite
