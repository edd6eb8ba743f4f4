#include "inference/parse_options.h"

#include <new>

#include "inference/builtin_codes.h"
#include "inference/builtin_options.h"
#include "inference/micro_log.h"

namespace tflite {

namespace {

int ConvertPadding(int schema_padding) {
  switch (schema_padding) {
    case Padding_SAME:
      return kPaddingKindSame;
    case Padding_VALID:
      return kPaddingKindValid;
    default:
      return kPaddingUnknown;
  }
}

int ConvertActivation(int schema_activation) {
  return schema_activation >= 0 && schema_activation <= 5 ? schema_activation : 0;
}

// The original runtime's option block sizes (see RecordBytes).
template <typename T, size_t bytes_on_64_bit, size_t bytes_on_32_bit>
T* AllocateOptions(MicroAllocator* allocator) {
  void* memory = allocator->AllocatePersistent(
      RecordBytes<sizeof(T), bytes_on_64_bit, bytes_on_32_bit>(), alignof(T));
  return memory == nullptr ? nullptr : new (memory) T();
}

}  // namespace

TfLiteStatus ParseOptions(const Operator* op, int code, MicroAllocator* allocator, void** data) {
  *data = nullptr;
  switch (code) {
    case kBuiltinConv2D: {
      auto* params = AllocateOptions<Conv2DOptionsData, 28, 28>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_Conv2DOptions()) {
        params->padding = ConvertPadding(o->padding());
        params->stride_width = o->stride_w();
        params->stride_height = o->stride_h();
        params->activation = ConvertActivation(o->fused_activation_function());
        params->dilation_width_factor = o->dilation_w_factor();
        params->dilation_height_factor = o->dilation_h_factor();
        if (!ConvertTensorType(o->quantized_bias_type(), &params->quantized_bias_type)) {
          return kTfLiteError;
        }
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinDepthwiseConv2D: {
      auto* params = AllocateOptions<DepthwiseConv2DOptionsData, 28, 28>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_DepthwiseConv2DOptions()) {
        params->padding = ConvertPadding(o->padding());
        params->stride_width = o->stride_w();
        params->stride_height = o->stride_h();
        params->depth_multiplier = o->depth_multiplier();
        params->activation = ConvertActivation(o->fused_activation_function());
        params->dilation_width_factor = o->dilation_w_factor();
        params->dilation_height_factor = o->dilation_h_factor();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinFullyConnected: {
      auto* params = AllocateOptions<FullyConnectedOptionsData, 16, 16>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_FullyConnectedOptions()) {
        params->activation = ConvertActivation(o->fused_activation_function());
        if (o->weights_format() != FullyConnectedOptionsWeightsFormat_DEFAULT &&
            o->weights_format() != FullyConnectedOptionsWeightsFormat_SHUFFLED4x16INT8) {
          MicroPrintf("Unhandled fully-connected weights format.");
          return kTfLiteError;
        }
        params->weights_format = o->weights_format();
        params->keep_num_dims = o->keep_num_dims();
        params->asymmetric_quantize_inputs = o->asymmetric_quantize_inputs();
        if (!ConvertTensorType(o->quantized_bias_type(), &params->quantized_bias_type)) {
          return kTfLiteError;
        }
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinReshape: {
      auto* params = AllocateOptions<ReshapeOptionsData, 36, 36>(allocator);
      if (params == nullptr) return kTfLiteError;
      const auto* o = op->builtin_options_as_ReshapeOptions();
      if (o != nullptr && o->new_shape() != nullptr) {
        const auto* shape = o->new_shape();
        if (shape->size() > static_cast<unsigned>(kReshapeMaxDimensions)) {
          MicroPrintf("Found too many dimensions in the input array of operation 'reshape'.\n");
          return kTfLiteError;
        }
        params->num_dimensions = static_cast<int>(shape->size());
        for (unsigned i = 0; i < shape->size(); ++i) params->shape[i] = shape->Get(i);
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinConcatenation: {
      auto* params = AllocateOptions<ConcatenationOptionsData, 8, 8>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_ConcatenationOptions()) {
        params->axis = o->axis();
        params->activation = ConvertActivation(o->fused_activation_function());
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinStridedSlice: {
      auto* params = AllocateOptions<StridedSliceOptionsData, 24, 24>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_StridedSliceOptions()) {
        params->begin_mask = o->begin_mask();
        params->end_mask = o->end_mask();
        params->ellipsis_mask = o->ellipsis_mask();
        params->new_axis_mask = o->new_axis_mask();
        params->shrink_axis_mask = o->shrink_axis_mask();
        params->offset = o->offset();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinSplitV: {
      auto* params = AllocateOptions<SplitVOptionsData, 4, 4>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_SplitVOptions()) {
        params->num_splits = o->num_splits();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinCallOnce: {
      auto* params = AllocateOptions<CallOnceOptionsData, 4, 4>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_CallOnceOptions()) {
        params->init_subgraph_index = o->init_subgraph_index();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinVarHandle: {
      auto* params = AllocateOptions<VarHandleOptionsData, 16, 8>(allocator);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_VarHandleOptions()) {
        params->container = o->container() ? o->container()->c_str() : nullptr;
        params->shared_name = o->shared_name() ? o->shared_name()->c_str() : nullptr;
      }
      *data = params;
      return kTfLiteOk;
    }
    default:
      return kTfLiteOk;
  }
}

bool ConvertTensorType(int schema_type, TfLiteType* type) {
  // Schema values 0..22 map to the runtime values in schema order.
  static const TfLiteType kTypes[] = {
      kTfLiteFloat32, kTfLiteFloat16,      kTfLiteInt32,     kTfLiteUInt8,     kTfLiteInt64,
      kTfLiteString,  kTfLiteBool,         kTfLiteInt16,     kTfLiteComplex64, kTfLiteInt8,
      kTfLiteFloat64, kTfLiteComplex128,   kTfLiteUInt64,    kTfLiteResource,  kTfLiteVariant,
      kTfLiteUInt32,  kTfLiteUInt16,       kTfLiteInt4,      kTfLiteBFloat16,  kTfLiteInt2,
      kTfLiteUInt4,   kTfLiteFloat8E4M3FN, kTfLiteFloat8E5M2};
  if (schema_type < 0 || schema_type >= static_cast<int>(sizeof(kTypes) / sizeof(kTypes[0]))) {
    MicroPrintf("Unsupported data type %d in tensor\n", schema_type);
    return false;
  }
  *type = kTypes[schema_type];
  return true;
}

}  // namespace tflite
