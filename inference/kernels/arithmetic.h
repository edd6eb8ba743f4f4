// Integer arithmetic and data movement of the kernels, free of runtime types.
//
// Prepare-time functions return false where the kernel must refuse the model.
// Invoke-time loops trust their arguments: the caller has validated shapes at
// prepare (see the *Valid functions) and passes buffers of the sizes implied.
// Shapes are NHWC int[4] arrays unless stated otherwise.
#ifndef INFERENCE_KERNELS_ARITHMETIC_H_
#define INFERENCE_KERNELS_ARITHMETIC_H_

#include <cstddef>
#include <cstdint>

namespace tflite {
namespace arith {

// ---- Fixed-point primitives -------------------------------------------------

int32_t SaturatingRoundingDoublingHighMul(int32_t a, int32_t b);
// Round to nearest, ties away from zero; 0 <= exponent <= 31.
int32_t RoundingDivideByPOT(int32_t x, int exponent);
// Double-rounding variant: shift > 0 shifts left before the high multiply
// (the product wraps in int32), shift < 0 divides afterwards; shift >= -31.
int32_t MultiplyByQuantizedMultiplier(int32_t x, int32_t multiplier, int shift);
// d == 0 gives (0, 0); multipliers below 2^-32 flush to (0, 0). Fails only
// for a non-finite d.
bool QuantizeMultiplier(double d, int32_t* multiplier, int* shift);

// ---- Effective multipliers (prepare) ----------------------------------------

// CONV_2D, DEPTHWISE_CONV_2D and per-channel FULLY_CONNECTED:
// d[c] = (double)s_in * (double)s_f[c] / (double)s_out for c < channels, with
// s_f[c] = filter_scales[0] when num_filter_scales == 1.
bool PerChannelMultipliers(float input_scale, const float* filter_scales,
                           int num_filter_scales, float output_scale,
                           int channels, int32_t* multipliers, int* shifts);
// Per-tensor FULLY_CONNECTED: |s_in*s_f - s_bias| / s_out <= 0.02 in double.
bool FullyConnectedBiasScaleMatches(float input_scale, float filter_scale,
                                    float bias_scale, float output_scale);
// Per-tensor FULLY_CONNECTED: d = (double)(s_in * s_f in float) / s_out.
// Fails when that float product is negative (or NaN) or d is not finite.
bool FullyConnectedPerTensorMultiplier(float input_scale, float filter_scale,
                                       float output_scale, int32_t* multiplier,
                                       int* shift);
// QUANTIZE between integer types: d = (double)s_in / (double)s_out.
bool RequantizeMultiplier(float input_scale, float output_scale,
                          int32_t* multiplier, int* shift);

// ---- Activation bounds (prepare) --------------------------------------------

// Schema ActivationFunctionType values; anything else behaves as NONE.
constexpr int kActivationNone = 0;
constexpr int kActivationRelu = 1;
constexpr int kActivationReluN1To1 = 2;
constexpr int kActivationRelu6 = 3;

// qmin/qmax: the output type's range (-128/127, 0/255, -32768/32767).
// Fails when a bound needed by the activation is not an int32 (NaN included)
// or the bounds cross.
bool ActivationBounds(int activation, int32_t qmin, int32_t qmax,
                      float output_scale, int32_t output_zero_point,
                      int32_t* act_min, int32_t* act_max);

// ---- Padding (prepare) ------------------------------------------------------

constexpr int kPaddingSame = 0;
constexpr int kPaddingValid = 1;

struct Padding {
  int height;
  int width;
};

// Padding from the input size; any invalid axis gives 0 for both.
Padding ComputePadding(int padding, int in_height, int in_width,
                       int filter_height, int filter_width, int stride_height,
                       int stride_width, int dilation_height,
                       int dilation_width);

// ---- CONV_2D / DEPTHWISE_CONV_2D (int8) -------------------------------------

struct ConvParams {
  int stride_height;
  int stride_width;
  int dilation_height;
  int dilation_width;
  Padding padding;
  int depth_multiplier;  // depthwise only
  int32_t input_offset;  // -input zero point
  int32_t output_offset;  // output zero point
  int32_t output_min;
  int32_t output_max;
};

// Filter [Co, KH, KW, Cf]: Cf > 0, groups = Ci / Cf > 0 and min(Co, Co') a
// multiple of groups (otherwise channels would be read outside the input).
bool ConvShapesValid(const ConvParams& params, const int input_shape[4],
                     const int filter_shape[4], const int output_shape[4]);
// Filter [1, KH, KW, Co]: Co == Co' == Ci * depth_multiplier > 0.
bool DepthwiseShapesValid(const ConvParams& params, const int input_shape[4],
                          const int filter_shape[4], const int output_shape[4]);

// bias may be null; multipliers/shifts have one entry per output channel.
void ConvPerChannel(const ConvParams& params, const int32_t* multipliers,
                    const int* shifts, const int input_shape[4],
                    const int8_t* input, const int filter_shape[4],
                    const int8_t* filter, const int32_t* bias,
                    const int output_shape[4], int8_t* output);
void DepthwiseConvPerChannel(const ConvParams& params,
                             const int32_t* multipliers, const int* shifts,
                             const int input_shape[4], const int8_t* input,
                             const int filter_shape[4], const int8_t* filter,
                             const int32_t* bias, const int output_shape[4],
                             int8_t* output);

// ---- FULLY_CONNECTED (int8) -------------------------------------------------

struct FullyConnectedParams {
  int32_t input_offset;   // -input zero point
  int32_t filter_offset;  // -filter zero point (per-tensor only)
  int32_t output_offset;  // output zero point
  int32_t output_min;
  int32_t output_max;
};

// input [batches, depth] and filter [units, depth] read flat; bias may be null.
void FullyConnectedPerChannel(const FullyConnectedParams& params,
                              const int32_t* multipliers, const int* shifts,
                              int batches, int depth, int units,
                              const int8_t* input, const int8_t* filter,
                              const int32_t* bias, int8_t* output);
void FullyConnectedPerTensor(const FullyConnectedParams& params,
                             int32_t multiplier, int shift, int batches,
                             int depth, int units, const int8_t* input,
                             const int8_t* filter, const int32_t* bias,
                             int8_t* output);

// ---- LOGISTIC (int8) --------------------------------------------------------

struct LogisticParams {
  int32_t input_zero_point;
  int32_t input_multiplier;
  int input_left_shift;
  int32_t input_range_radius;
};

// Fails for a non-finite input scale.
bool LogisticPrepare(float input_scale, int32_t input_zero_point,
                     LogisticParams* params);
int8_t LogisticElement(const LogisticParams& params, int8_t x);
void Logistic(const LogisticParams& params, const int8_t* input, size_t count,
              int8_t* output);

// ---- QUANTIZE ---------------------------------------------------------------

struct RequantizeParams {
  int32_t input_zero_point;
  int32_t output_zero_point;
  int32_t multiplier;
  int shift;
};

// The supported integer pairs; results clamp to the output type's range.
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                int8_t* out);
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                uint8_t* out);
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                int16_t* out);
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                int32_t* out);
void Requantize(const RequantizeParams& p, const uint8_t* in, size_t n,
                int8_t* out);
void Requantize(const RequantizeParams& p, const int16_t* in, size_t n,
                int8_t* out);
void Requantize(const RequantizeParams& p, const int16_t* in, size_t n,
                int16_t* out);
void Requantize(const RequantizeParams& p, const int16_t* in, size_t n,
                int32_t* out);
void Requantize(const RequantizeParams& p, const int32_t* in, size_t n,
                int8_t* out);
void Requantize(const RequantizeParams& p, const int32_t* in, size_t n,
                int16_t* out);

// round_away(x / scale) in float, + zero point, clamped; NaN quotients give
// the zero point.
void QuantizeFloat(float output_scale, int32_t output_zero_point,
                   const float* in, size_t n, int8_t* out);
void QuantizeFloat(float output_scale, int32_t output_zero_point,
                   const float* in, size_t n, int16_t* out);

// ---- RESHAPE ----------------------------------------------------------------

// Replaces the single -1 in dims (if any) by input_elements divided by the
// product of the other dims. Fails when that product is 0 or overflows, or
// there are several -1. The element counts still have to be compared
// afterwards.
bool ResolveReshapeDims(int64_t input_elements, int* dims, int rank);
void ReshapeCopy(const void* input, size_t bytes, void* output);

// ---- CONCATENATION / SPLIT_V ------------------------------------------------

// For k < outer, each input i in turn contributes axis_dims[i] * inner
// elements taken from offset k * axis_dims[i] * inner.
void Concatenation(int num_inputs, const void* const* inputs,
                   const int* axis_dims, int outer, int inner,
                   size_t element_size, void* output);
// The inverse: for k < outer, each output j in turn takes axis_dims[j] * inner
// elements from the input's running position.
void SplitV(const void* input, int num_outputs, void* const* outputs,
            const int* axis_dims, int outer, int inner, size_t element_size);

// ---- STRIDED_SLICE ----------------------------------------------------------

constexpr int kStridedSliceMaxRank = 5;

// begin/end/strides hold rank values (the constant tensors' contents).
struct StridedSliceParams {
  int rank;
  int32_t begin[kStridedSliceMaxRank];
  int32_t end[kStridedSliceMaxRank];
  int32_t strides[kStridedSliceMaxRank];
  int32_t begin_mask;
  int32_t end_mask;
  int32_t shrink_axis_mask;
};

// Output dims of the non-shrunk axes, in order, and their count. Fails for a
// zero stride, a rank outside [0, 5], or a size the exact element walk would
// not reproduce.
bool StridedSliceOutputShape(const StridedSliceParams& params,
                             const int* input_dims, int* output_dims,
                             int* output_rank);
void StridedSlice(const StridedSliceParams& params, const int* input_dims,
                  size_t element_size, const void* input, void* output);

}  // namespace arith
}  // namespace tflite

#endif  // INFERENCE_KERNELS_ARITHMETIC_H_
