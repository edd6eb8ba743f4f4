// Prepare and Invoke steps shared by CONV_2D and DEPTHWISE_CONV_2D.
#ifndef INFERENCE_KERNELS_CONV_COMMON_H_
#define INFERENCE_KERNELS_CONV_COMMON_H_

#include "inference/common.h"
#include "inference/kernels/arithmetic.h"

namespace tflite {

struct ConvData {
  arith::ConvParams params;
  int32_t* multipliers;  // per output channel
  int* shifts;
};

void* ConvInit(TfLiteContext* context, const char* buffer, size_t length);

// The output, input and filter operands, present, of rank 4 and with a
// non-empty filter.
TfLiteStatus ConvOperands(TfLiteContext* context, TfLiteNode* node, const TfLiteTensor** input,
                          const TfLiteTensor** filter, const TfLiteTensor** output);

// The options of a convolution as the shared steps need them.
struct ConvOptions {
  int padding;  // PaddingKind
  int stride_width;
  int stride_height;
  int dilation_width;
  int dilation_height;
  int depth_multiplier;
  int activation;
};

// The checks from the operand counts on, then padding, multipliers and
// bounds. `channel_dim` is the filter dimension holding the output channels.
TfLiteStatus ConvPrepareCommon(TfLiteContext* context, TfLiteNode* node, const TfLiteTensor* input,
                               const TfLiteTensor* filter, const TfLiteTensor* output,
                               const ConvOptions& options, int channel_dim, ConvData* data);

// The bias operand: null when absent; false when it is too short for
// `channels` int32 values.
bool ConvBias(TfLiteContext* context, TfLiteNode* node, int channels, const int32_t** bias);

// arith::ConvPerChannel or arith::DepthwiseConvPerChannel.
using ConvKernel = void (*)(const arith::ConvParams& params, const int32_t* multipliers,
                            const int* shifts, const int input_shape[4], const int8_t* input,
                            const int filter_shape[4], const int8_t* filter, const int32_t* bias,
                            const int output_shape[4], int8_t* output);

// Runs `kernel` on the node's operands with the parameters Prepare set.
TfLiteStatus ConvEval(TfLiteContext* context, TfLiteNode* node, ConvKernel kernel);

}  // namespace tflite

#endif  // INFERENCE_KERNELS_CONV_COMMON_H_
