// Operator options as the kernels read them, parsed once from the model.
// Absent options (or options of another table) leave every field zero.
#ifndef INFERENCE_BUILTIN_OPTIONS_H_
#define INFERENCE_BUILTIN_OPTIONS_H_

#include "inference/common.h"

namespace tflite {

enum PaddingKind { kPaddingUnknown = 0, kPaddingKindSame = 1, kPaddingKindValid = 2 };

// Activations keep the model's values 0..5 (NONE, RELU, RELU_N1_TO_1, RELU6,
// TANH, SIGN_BIT); other values become NONE.

struct Conv2DOptionsData {
  int padding;
  int stride_width;
  int stride_height;
  int activation;
  int dilation_width_factor;
  int dilation_height_factor;
  TfLiteType quantized_bias_type;
};

struct DepthwiseConv2DOptionsData {
  int padding;
  int stride_width;
  int stride_height;
  int depth_multiplier;
  int activation;
  int dilation_width_factor;
  int dilation_height_factor;
};

struct FullyConnectedOptionsData {
  int activation;
  int weights_format;
  bool keep_num_dims;
  bool asymmetric_quantize_inputs;
  TfLiteType quantized_bias_type;
};

constexpr int kReshapeMaxDimensions = 8;

struct ReshapeOptionsData {
  int shape[kReshapeMaxDimensions];
  int num_dimensions;
};

struct ConcatenationOptionsData {
  int axis;
  int activation;
};

struct StridedSliceOptionsData {
  int begin_mask;
  int end_mask;
  int ellipsis_mask;
  int new_axis_mask;
  int shrink_axis_mask;
  bool offset;
};

struct SplitVOptionsData {
  int num_splits;
};

struct CallOnceOptionsData {
  int init_subgraph_index;
};

struct VarHandleOptionsData {
  const char* container;    // null when absent
  const char* shared_name;  // null when absent
};

}  // namespace tflite

#endif  // INFERENCE_BUILTIN_OPTIONS_H_
