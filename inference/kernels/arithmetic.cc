#include "inference/kernels/arithmetic.h"

#include <gemmlowp/fixedpoint/fixedpoint.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tflite {
namespace arith {
namespace {

constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

// Accumulations wrap modulo 2^32, as int arithmetic does in practice; doing
// them in uint32 keeps that defined.
inline uint32_t Wrap(int32_t v) { return static_cast<uint32_t>(v); }
inline int32_t Unwrap(uint32_t v) { return static_cast<int32_t>(v); }

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
  return std::min(std::max(v, lo), hi);
}

// MultiplyByQuantizedMultiplier, inlined into the kernels' loops.
inline int32_t Rescale(int32_t x, int32_t multiplier, int shift) {
  const int left = shift > 0 ? shift : 0;
  const int right = shift > 0 ? 0 : -shift;
  // x * 2^left in wrapping int32 arithmetic.
  const int32_t shifted = left < 32 ? Unwrap(Wrap(x) << left) : 0;
  return gemmlowp::RoundingDivideByPOT(
      gemmlowp::SaturatingRoundingDoublingHighMul(shifted, multiplier), right);
}

inline int32_t Requantized(uint32_t acc, int32_t multiplier, int shift,
                           int32_t offset, int32_t lo, int32_t hi) {
  const int32_t scaled = Rescale(Unwrap(acc), multiplier, shift);
  return Clamp(Unwrap(Wrap(scaled) + Wrap(offset)), lo, hi);
}

// Floor division for a positive divisor.
inline int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}

// Padding of one axis; false when the axis is invalid.
bool AxisPadding(int padding, int n, int k, int stride, int dilation,
                 int* pad) {
  if ((padding != kPaddingSame && padding != kPaddingValid) || n < 0 ||
      k <= 0 || stride <= 0 || dilation <= 0) {
    return false;
  }
  const int64_t eff = static_cast<int64_t>(k - 1) * dilation + 1;
  const int64_t out = padding == kPaddingSame
                          ? FloorDiv(int64_t{n} + stride - 1, stride)
                          : FloorDiv(int64_t{n} + stride - eff, stride);
  if (out < 0) return false;
  const int64_t total = std::max<int64_t>(0, (out - 1) * stride + eff - n);
  *pad = static_cast<int>(std::min<int64_t>(total / 2, kInt32Max));
  return true;
}

// Tap positions in 64 bits: strides and dilations come from the model and
// may be anything.
inline int64_t TapOrigin(int out_index, int stride, int pad) {
  return int64_t{out_index} * stride - pad;
}
inline int64_t TapPosition(int64_t origin, int dilation, int k) {
  return origin + int64_t{dilation} * k;
}

// Taps k < taps whose position lies in [0, size): positions are linear in k,
// so they form one range [lo, hi).
void TapRange(int64_t origin, int dilation, int taps, int size, int* lo,
              int* hi) {
  auto inside = [&](int k) {
    const int64_t pos = TapPosition(origin, dilation, k);
    return pos >= 0 && pos < size;
  };
  int k = 0;
  while (k < taps && !inside(k)) ++k;
  *lo = k;
  while (k < taps && inside(k)) ++k;
  *hi = k;
}

// sum of f[i] * (x[i] + offset), wrapping. Modulo 2^32 that is
// sum(f * x) + offset * sum(f); the two plain sums vectorise, and blocks of
// at most 2^17 products of two int8 values cannot overflow an int32.
inline uint32_t OffsetDot(const int8_t* f, const int8_t* x, int n,
                          uint32_t offset) {
  constexpr int kBlock = 1 << 17;
  uint32_t dot = 0;
  uint32_t f_sum = 0;
  for (int start = 0; start < n; start += kBlock) {
    const int end = std::min(n, start + kBlock);
    int32_t block_dot = 0;
    int32_t block_f_sum = 0;
    for (int i = start; i < end; ++i) {
      block_dot += f[i] * x[i];
      block_f_sum += f[i];
    }
    dot += Wrap(block_dot);
    f_sum += Wrap(block_f_sum);
  }
  return dot + f_sum * offset;
}

template <typename In, typename Out>
void RequantizeLoop(const RequantizeParams& p, const In* in, size_t n,
                    Out* out) {
  const int32_t lo = std::numeric_limits<Out>::min();
  const int32_t hi = std::numeric_limits<Out>::max();
  const uint32_t in_offset = 0u - Wrap(p.input_zero_point);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = Wrap(static_cast<int32_t>(in[i])) + in_offset;
    out[i] = static_cast<Out>(
        Requantized(v, p.multiplier, p.shift, p.output_zero_point, lo, hi));
  }
}

template <typename Out>
void QuantizeFloatLoop(float scale, int32_t zero_point, const float* in,
                       size_t n, Out* out) {
  const int64_t lo = std::numeric_limits<Out>::min();
  const int64_t hi = std::numeric_limits<Out>::max();
  for (size_t i = 0; i < n; ++i) {
    const float r = std::round(in[i] / scale);
    // Saturate before converting: out-of-range conversions are undefined.
    int64_t q = 0;
    if (r >= 2147483648.0f) {
      q = kInt32Max;
    } else if (r < -2147483648.0f) {
      q = kInt32Min;
    } else if (!std::isnan(r)) {
      q = static_cast<int32_t>(r);
    }
    out[i] = static_cast<Out>(std::min(std::max(q + zero_point, lo), hi));
  }
}

}  // namespace

int32_t SaturatingRoundingDoublingHighMul(int32_t a, int32_t b) {
  return gemmlowp::SaturatingRoundingDoublingHighMul(a, b);
}

int32_t RoundingDivideByPOT(int32_t x, int exponent) {
  return gemmlowp::RoundingDivideByPOT(x, exponent);
}

int32_t MultiplyByQuantizedMultiplier(int32_t x, int32_t multiplier,
                                      int shift) {
  return Rescale(x, multiplier, shift);
}

bool QuantizeMultiplier(double d, int32_t* multiplier, int* shift) {
  if (!std::isfinite(d)) return false;
  if (d == 0.0) {
    *multiplier = 0;
    *shift = 0;
    return true;
  }
  int e = 0;
  const double q = std::frexp(d, &e);
  int64_t q_fixed = static_cast<int64_t>(std::round(q * 2147483648.0));
  if (q_fixed == (int64_t{1} << 31)) {
    q_fixed /= 2;
    ++e;
  }
  if (e < -31) {
    e = 0;
    q_fixed = 0;
  }
  *multiplier = static_cast<int32_t>(q_fixed);
  *shift = e;
  return true;
}

bool PerChannelMultipliers(float input_scale, const float* filter_scales,
                           int num_filter_scales, float output_scale,
                           int channels, int32_t* multipliers, int* shifts) {
  for (int c = 0; c < channels; ++c) {
    const float filter_scale = filter_scales[num_filter_scales == 1 ? 0 : c];
    const double d = static_cast<double>(input_scale) *
                     static_cast<double>(filter_scale) /
                     static_cast<double>(output_scale);
    if (!QuantizeMultiplier(d, &multipliers[c], &shifts[c])) return false;
  }
  return true;
}

bool FullyConnectedBiasScaleMatches(float input_scale, float filter_scale,
                                    float bias_scale, float output_scale) {
  const double product =
      static_cast<double>(input_scale) * static_cast<double>(filter_scale);
  const double diff = std::abs(product - static_cast<double>(bias_scale));
  return diff / static_cast<double>(output_scale) <= 0.02;
}

bool FullyConnectedPerTensorMultiplier(float input_scale, float filter_scale,
                                       float output_scale, int32_t* multiplier,
                                       int* shift) {
  const float product = input_scale * filter_scale;
  if (!(product >= 0.0f)) return false;
  return QuantizeMultiplier(
      static_cast<double>(product) / static_cast<double>(output_scale),
      multiplier, shift);
}

bool RequantizeMultiplier(float input_scale, float output_scale,
                          int32_t* multiplier, int* shift) {
  return QuantizeMultiplier(
      static_cast<double>(input_scale) / static_cast<double>(output_scale),
      multiplier, shift);
}

bool ActivationBounds(int activation, int32_t qmin, int32_t qmax,
                      float output_scale, int32_t output_zero_point,
                      int32_t* act_min, int32_t* act_max) {
  int64_t lo = qmin;
  int64_t hi = qmax;
  // quant(f) = Z + round_away(f / S), all in float; false unless an int32.
  auto quant = [&](float f, int64_t* q) {
    const float r = std::round(f / output_scale);
    if (!(r >= -2147483648.0f && r < 2147483648.0f)) return false;
    *q = int64_t{output_zero_point} + static_cast<int32_t>(r);
    return true;
  };
  int64_t q_lo = 0;
  int64_t q_hi = 0;
  switch (activation) {
    case kActivationRelu:
      if (!quant(0.0f, &q_lo)) return false;
      lo = std::max(lo, q_lo);
      break;
    case kActivationRelu6:
      if (!quant(0.0f, &q_lo) || !quant(6.0f, &q_hi)) return false;
      lo = std::max(lo, q_lo);
      hi = std::min(hi, q_hi);
      break;
    case kActivationReluN1To1:
      if (!quant(-1.0f, &q_lo) || !quant(1.0f, &q_hi)) return false;
      lo = std::max(lo, q_lo);
      hi = std::min(hi, q_hi);
      break;
    default:
      break;
  }
  if (lo > hi) return false;
  *act_min = static_cast<int32_t>(lo);
  *act_max = static_cast<int32_t>(hi);
  return true;
}

Padding ComputePadding(int padding, int in_height, int in_width,
                       int filter_height, int filter_width, int stride_height,
                       int stride_width, int dilation_height,
                       int dilation_width) {
  Padding result = {0, 0};
  int pad_w = 0;
  int pad_h = 0;
  if (AxisPadding(padding, in_width, filter_width, stride_width,
                  dilation_width, &pad_w) &&
      AxisPadding(padding, in_height, filter_height, stride_height,
                  dilation_height, &pad_h)) {
    result.height = pad_h;
    result.width = pad_w;
  }
  return result;
}

bool ConvShapesValid(const ConvParams&, const int input_shape[4],
                     const int filter_shape[4], const int output_shape[4]) {
  const int input_depth = input_shape[3];
  const int filter_depth = filter_shape[3];
  const int depth_out = std::min(filter_shape[0], output_shape[3]);
  if (filter_depth <= 0 || depth_out < 0) return false;
  const int groups = input_depth / filter_depth;
  return groups > 0 && depth_out % groups == 0;
}

bool DepthwiseShapesValid(const ConvParams& params, const int input_shape[4],
                          const int filter_shape[4],
                          const int output_shape[4]) {
  const int64_t depth =
      static_cast<int64_t>(input_shape[3]) * params.depth_multiplier;
  return params.depth_multiplier > 0 && depth > 0 &&
         filter_shape[3] == depth && output_shape[3] == depth;
}

void ConvPerChannel(const ConvParams& params, const int32_t* multipliers,
                    const int* shifts, const int input_shape[4],
                    const int8_t* input, const int filter_shape[4],
                    const int8_t* filter, const int32_t* bias,
                    const int output_shape[4], int8_t* output) {
  const int batches = std::min(input_shape[0], output_shape[0]);
  const int in_h = input_shape[1];
  const int in_w = input_shape[2];
  const int in_d = input_shape[3];
  const int k_h = filter_shape[1];
  const int k_w = filter_shape[2];
  const int f_d = filter_shape[3];
  const int out_h = output_shape[1];
  const int out_w = output_shape[2];
  const int out_d = output_shape[3];
  const int depth_out = std::min(filter_shape[0], out_d);
  if (depth_out <= 0) return;
  const int per_group = depth_out / (in_d / f_d);
  const uint32_t in_offset = Wrap(params.input_offset);
  const ptrdiff_t filter_oc_stride = static_cast<ptrdiff_t>(k_h) * k_w * f_d;
  const ptrdiff_t filter_row_stride = static_cast<ptrdiff_t>(k_w) * f_d;
  const ptrdiff_t in_row_stride = static_cast<ptrdiff_t>(in_w) * in_d;
  // Ungrouped, undilated rows of taps are one contiguous run in both the
  // input and the filter.
  const bool runs = f_d == in_d && params.dilation_width == 1;

  for (int b = 0; b < batches; ++b) {
    const int8_t* in_batch = input + b * in_h * in_row_stride;
    for (int oy = 0; oy < out_h; ++oy) {
      const int64_t y0 =
          TapOrigin(oy, params.stride_height, params.padding.height);
      int ky_lo = 0;
      int ky_hi = 0;
      TapRange(y0, params.dilation_height, k_h, in_h, &ky_lo, &ky_hi);
      int8_t* out_row =
          output + ((static_cast<ptrdiff_t>(b) * out_h + oy) * out_w) * out_d;
      for (int ox = 0; ox < out_w; ++ox) {
        const int64_t x0 =
            TapOrigin(ox, params.stride_width, params.padding.width);
        int kx_lo = 0;
        int kx_hi = 0;
        TapRange(x0, params.dilation_width, k_w, in_w, &kx_lo, &kx_hi);
        // No tap inside: the rows below would not even be addressable.
        const int rows_hi = kx_lo < kx_hi ? ky_hi : ky_lo;
        const int run = (kx_hi - kx_lo) * f_d;
        int8_t* out_px = out_row + static_cast<ptrdiff_t>(ox) * out_d;
        // Filters [g * per_group, (g + 1) * per_group) read input channels
        // [g * f_d, (g + 1) * f_d).
        const int8_t* in_group = in_batch;
        int group_end = per_group;
        for (int oc = 0; oc < depth_out; ++oc) {
          if (oc == group_end) {
            in_group += f_d;
            group_end += per_group;
          }
          const int8_t* f_oc = filter + oc * filter_oc_stride;
          uint32_t acc = 0;
          for (int ky = ky_lo; ky < rows_hi; ++ky) {
            const int iy =
                static_cast<int>(TapPosition(y0, params.dilation_height, ky));
            const int8_t* in_y = in_group + iy * in_row_stride;
            const int8_t* f_y = f_oc + ky * filter_row_stride;
            if (runs) {
              acc += OffsetDot(f_y + kx_lo * f_d,
                               in_y + (x0 + kx_lo) * in_d,
                               run, in_offset);
              continue;
            }
            for (int kx = kx_lo; kx < kx_hi; ++kx) {
              const int64_t ix = TapPosition(x0, params.dilation_width, kx);
              acc += OffsetDot(f_y + kx * f_d,
                               in_y + ix * in_d, f_d,
                               in_offset);
            }
          }
          if (bias != nullptr) acc += Wrap(bias[oc]);
          out_px[oc] = static_cast<int8_t>(
              Requantized(acc, multipliers[oc], shifts[oc],
                          params.output_offset, params.output_min,
                          params.output_max));
        }
      }
    }
  }
}

void DepthwiseConvPerChannel(const ConvParams& params,
                             const int32_t* multipliers, const int* shifts,
                             const int input_shape[4], const int8_t* input,
                             const int filter_shape[4], const int8_t* filter,
                             const int32_t* bias, const int output_shape[4],
                             int8_t* output) {
  const int batches = std::min(input_shape[0], output_shape[0]);
  const int in_h = input_shape[1];
  const int in_w = input_shape[2];
  const int in_d = input_shape[3];
  const int k_h = filter_shape[1];
  const int k_w = filter_shape[2];
  const int out_h = output_shape[1];
  const int out_w = output_shape[2];
  const int depth = output_shape[3];
  const int m = params.depth_multiplier;
  const uint32_t in_offset = Wrap(params.input_offset);
  const ptrdiff_t in_row_stride = static_cast<ptrdiff_t>(in_w) * in_d;
  const ptrdiff_t f_row_stride = static_cast<ptrdiff_t>(k_w) * depth;

  // Channels are accumulated in blocks so the tap loops stay outside and the
  // channel loop (contiguous in filter and output) stays innermost.
  constexpr int kBlock = 64;
  uint32_t acc[kBlock];
  for (int b = 0; b < batches; ++b) {
    const int8_t* in_batch = input + b * in_h * in_row_stride;
    for (int oy = 0; oy < out_h; ++oy) {
      const int64_t y0 =
          TapOrigin(oy, params.stride_height, params.padding.height);
      for (int ox = 0; ox < out_w; ++ox) {
        const int64_t x0 =
            TapOrigin(ox, params.stride_width, params.padding.width);
        int8_t* out_px =
            output +
            ((static_cast<ptrdiff_t>(b) * out_h + oy) * out_w + ox) * depth;
        for (int c0 = 0; c0 < depth; c0 += kBlock) {
          const int n = std::min(kBlock, depth - c0);
          const int block_ic = c0 / m;
          const int block_j = c0 % m;
          for (int i = 0; i < n; ++i) acc[i] = 0;
          for (int ky = 0; ky < k_h; ++ky) {
            const int64_t iy = TapPosition(y0, params.dilation_height, ky);
            if (iy < 0 || iy >= in_h) continue;
            for (int kx = 0; kx < k_w; ++kx) {
              const int64_t ix = TapPosition(x0, params.dilation_width, kx);
              if (ix < 0 || ix >= in_w) continue;
              const int8_t* in_px =
                  in_batch + iy * in_row_stride + ix * in_d;
              const int8_t* f = filter + ky * f_row_stride +
                                static_cast<ptrdiff_t>(kx) * depth + c0;
              if (m == 1) {
                const int8_t* in_c = in_px + c0;
                for (int i = 0; i < n; ++i) {
                  acc[i] += Wrap(f[i]) * (Wrap(in_c[i]) + in_offset);
                }
              } else {
                // Output channel c0 + i reads input channel (c0 + i) / m.
                int ic = block_ic;
                int j = block_j;
                for (int i = 0; i < n; ++i) {
                  acc[i] += Wrap(f[i]) * (Wrap(in_px[ic]) + in_offset);
                  if (++j == m) {
                    j = 0;
                    ++ic;
                  }
                }
              }
            }
          }
          for (int i = 0; i < n; ++i) {
            const int oc = c0 + i;
            uint32_t a = acc[i];
            if (bias != nullptr) a += Wrap(bias[oc]);
            out_px[oc] = static_cast<int8_t>(
                Requantized(a, multipliers[oc], shifts[oc],
                            params.output_offset, params.output_min,
                            params.output_max));
          }
        }
      }
    }
  }
}

void FullyConnectedPerChannel(const FullyConnectedParams& params,
                              const int32_t* multipliers, const int* shifts,
                              int batches, int depth, int units,
                              const int8_t* input, const int8_t* filter,
                              const int32_t* bias, int8_t* output) {
  const uint32_t in_offset = Wrap(params.input_offset);
  for (int b = 0; b < batches; ++b) {
    const int8_t* in = input + static_cast<ptrdiff_t>(b) * depth;
    for (int u = 0; u < units; ++u) {
      const int8_t* f = filter + static_cast<ptrdiff_t>(u) * depth;
      uint32_t acc = 0;
      for (int d = 0; d < depth; ++d) {
        acc += Wrap(f[d]) * (Wrap(in[d]) + in_offset);
      }
      if (bias != nullptr) acc += Wrap(bias[u]);
      output[static_cast<ptrdiff_t>(b) * units + u] = static_cast<int8_t>(
          Requantized(acc, multipliers[u], shifts[u], params.output_offset,
                      params.output_min, params.output_max));
    }
  }
}

void FullyConnectedPerTensor(const FullyConnectedParams& params,
                             int32_t multiplier, int shift, int batches,
                             int depth, int units, const int8_t* input,
                             const int8_t* filter, const int32_t* bias,
                             int8_t* output) {
  const uint32_t in_offset = Wrap(params.input_offset);
  const uint32_t f_offset = Wrap(params.filter_offset);
  for (int b = 0; b < batches; ++b) {
    const int8_t* in = input + static_cast<ptrdiff_t>(b) * depth;
    for (int u = 0; u < units; ++u) {
      const int8_t* f = filter + static_cast<ptrdiff_t>(u) * depth;
      uint32_t acc = 0;
      for (int d = 0; d < depth; ++d) {
        acc += (Wrap(f[d]) + f_offset) * (Wrap(in[d]) + in_offset);
      }
      if (bias != nullptr) acc += Wrap(bias[u]);
      output[static_cast<ptrdiff_t>(b) * units + u] = static_cast<int8_t>(
          Requantized(acc, multiplier, shift, params.output_offset,
                      params.output_min, params.output_max));
    }
  }
}

bool LogisticPrepare(float input_scale, int32_t input_zero_point,
                     LogisticParams* params) {
  if (!std::isfinite(input_scale)) return false;
  const double d = static_cast<double>(input_scale) * (1 << 27);
  int e = 0;
  const double q = std::frexp(d, &e);
  params->input_zero_point = input_zero_point;
  params->input_multiplier =
      static_cast<int32_t>(std::round(q * 2147483648.0));
  params->input_left_shift = e;
  if (e < -31) {
    // Scales below about 2^-59: every input rescales to 0.
    params->input_multiplier = 0;
    params->input_left_shift = 0;
  }
  // floor(15 * 2^27 / 2^e), saturated: scales below 2^-28 never saturate.
  const double radius = std::floor(std::ldexp(15.0 * (1 << 27), -e));
  params->input_range_radius =
      radius >= 2147483647.0 ? kInt32Max : static_cast<int32_t>(radius);
  return true;
}

int8_t LogisticElement(const LogisticParams& params, int8_t x) {
  const int32_t v = Unwrap(Wrap(x) - Wrap(params.input_zero_point));
  if (v <= -params.input_range_radius) return -128;
  if (v >= params.input_range_radius) return 127;
  const int32_t a =
      Rescale(v, params.input_multiplier, params.input_left_shift);
  using Input = gemmlowp::FixedPoint<int32_t, 4>;
  const int32_t r = gemmlowp::logistic(Input::FromRaw(a)).raw();
  return static_cast<int8_t>(
      Clamp(gemmlowp::RoundingDivideByPOT(r, 23) - 128, -128, 127));
}

void Logistic(const LogisticParams& params, const int8_t* input, size_t count,
              int8_t* output) {
  for (size_t i = 0; i < count; ++i) {
    output[i] = LogisticElement(params, input[i]);
  }
}

void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                int8_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                uint8_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                int16_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int8_t* in, size_t n,
                int32_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const uint8_t* in, size_t n,
                int8_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int16_t* in, size_t n,
                int8_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int16_t* in, size_t n,
                int16_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int16_t* in, size_t n,
                int32_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int32_t* in, size_t n,
                int8_t* out) {
  RequantizeLoop(p, in, n, out);
}
void Requantize(const RequantizeParams& p, const int32_t* in, size_t n,
                int16_t* out) {
  RequantizeLoop(p, in, n, out);
}

void QuantizeFloat(float output_scale, int32_t output_zero_point,
                   const float* in, size_t n, int8_t* out) {
  QuantizeFloatLoop(output_scale, output_zero_point, in, n, out);
}
void QuantizeFloat(float output_scale, int32_t output_zero_point,
                   const float* in, size_t n, int16_t* out) {
  QuantizeFloatLoop(output_scale, output_zero_point, in, n, out);
}

bool ResolveReshapeDims(int64_t input_elements, int* dims, int rank) {
  int unknown = -1;
  int64_t known = 1;
  for (int i = 0; i < rank; ++i) {
    if (dims[i] == -1) {
      if (unknown >= 0) return false;
      unknown = i;
    } else if (__builtin_mul_overflow(known, int64_t{dims[i]}, &known)) {
      return false;
    }
  }
  if (unknown < 0) return true;
  if (known == 0) return false;
  const int64_t resolved = input_elements / known;
  if (resolved < kInt32Min || resolved > kInt32Max) return false;
  dims[unknown] = static_cast<int>(resolved);
  return true;
}

void ReshapeCopy(const void* input, size_t bytes, void* output) {
  if (bytes != 0) std::memcpy(output, input, bytes);
}

void Concatenation(int num_inputs, const void* const* inputs,
                   const int* axis_dims, int outer, int inner,
                   size_t element_size, void* output) {
  uint8_t* out = static_cast<uint8_t*>(output);
  for (int k = 0; k < outer; ++k) {
    for (int i = 0; i < num_inputs; ++i) {
      const size_t bytes =
          static_cast<size_t>(axis_dims[i]) * inner * element_size;
      // Empty tensors have no storage at all.
      if (bytes == 0) continue;
      std::memcpy(out, static_cast<const uint8_t*>(inputs[i]) + k * bytes,
                  bytes);
      out += bytes;
    }
  }
}

void SplitV(const void* input, int num_outputs, void* const* outputs,
            const int* axis_dims, int outer, int inner, size_t element_size) {
  const uint8_t* in = static_cast<const uint8_t*>(input);
  for (int k = 0; k < outer; ++k) {
    for (int j = 0; j < num_outputs; ++j) {
      const size_t bytes =
          static_cast<size_t>(axis_dims[j]) * inner * element_size;
      if (bytes == 0) continue;
      std::memcpy(static_cast<uint8_t*>(outputs[j]) + k * bytes, in, bytes);
      in += bytes;
    }
  }
}

namespace {

struct SliceAxis {
  int dim;
  int start;
  int stop;
  int stride;
};

inline int ClampIndex(int64_t v, int dim, int stride) {
  const int64_t lo = stride > 0 ? 0 : -1;
  const int64_t hi = stride > 0 ? dim : int64_t{dim} - 1;
  return static_cast<int>(std::min(std::max(v, lo), hi));
}

// The five axes of the extended input: prepended axes of size 1 with full
// masks, then the given ones. Requires a valid rank.
void ExtendedAxes(const StridedSliceParams& p, const int* input_dims,
                  SliceAxis axes[kStridedSliceMaxRank]) {
  const int pad = kStridedSliceMaxRank - p.rank;
  const uint32_t full = (1u << pad) - 1u;
  const uint32_t begin_mask = (Wrap(p.begin_mask) << pad) | full;
  const uint32_t end_mask = (Wrap(p.end_mask) << pad) | full;
  const uint32_t shrink_mask = Wrap(p.shrink_axis_mask) << pad;
  for (int i = 0; i < kStridedSliceMaxRank; ++i) {
    SliceAxis& a = axes[i];
    const int src = i - pad;
    a.dim = src < 0 ? 1 : input_dims[src];
    a.stride = src < 0 ? 1 : p.strides[src];
    const int32_t begin = src < 0 ? 0 : p.begin[src];
    const int32_t end = src < 0 ? 1 : p.end[src];
    const uint32_t bit = 1u << i;

    if (begin_mask & bit) {
      a.start = a.stride > 0 ? 0 : a.dim - 1;
    } else {
      const int64_t b = begin < 0 ? int64_t{begin} + a.dim : begin;
      a.start = ClampIndex(b, a.dim, a.stride);
    }
    if (shrink_mask & bit) {
      a.stop = a.start >= a.dim ? a.start : a.start + 1;
    } else if (end_mask & bit) {
      a.stop = a.stride > 0 ? a.dim : -1;
    } else {
      const int64_t e = end < 0 ? int64_t{end} + a.dim : end;
      a.stop = ClampIndex(e, a.dim, a.stride);
    }
  }
}

// Number of indices start, start + stride, ... before stop.
inline int64_t VisitCount(int start, int stop, int stride) {
  if (stride > 0) {
    return stop > start ? (int64_t{stop} - start + stride - 1) / stride : 0;
  }
  return stop < start ? (int64_t{start} - stop - stride - 1) / -int64_t{stride}
                      : 0;
}

}  // namespace

bool StridedSliceOutputShape(const StridedSliceParams& params,
                             const int* input_dims, int* output_dims,
                             int* output_rank) {
  if (params.rank < 0 || params.rank > kStridedSliceMaxRank) return false;
  for (int i = 0; i < params.rank; ++i) {
    if (params.strides[i] == 0) return false;
  }
  SliceAxis axes[kStridedSliceMaxRank];
  ExtendedAxes(params, input_dims, axes);
  const int pad = kStridedSliceMaxRank - params.rank;
  int n = 0;
  for (int i = 0; i < params.rank; ++i) {
    if (params.shrink_axis_mask & (1 << i)) continue;
    const SliceAxis& a = axes[i + pad];
    const int start = a.dim == 0 ? 0 : a.start;
    const float size = std::ceil(static_cast<float>(a.stop - start) /
                                 static_cast<float>(a.stride));
    const int64_t exact = VisitCount(start, a.stop, a.stride);
    const int64_t dim = size > 0.0f ? static_cast<int64_t>(size) : 0;
    // The float formula decides acceptance; a disagreement with the exact
    // walk would write past the output.
    if (dim != exact) return false;
    output_dims[n++] = static_cast<int>(dim);
  }
  *output_rank = n;
  return true;
}

void StridedSlice(const StridedSliceParams& params, const int* input_dims,
                  size_t element_size, const void* input, void* output) {
  SliceAxis a[kStridedSliceMaxRank];
  ExtendedAxes(params, input_dims, a);
  size_t stride_of[kStridedSliceMaxRank];
  size_t s = element_size;
  for (int i = kStridedSliceMaxRank - 1; i >= 0; --i) {
    stride_of[i] = s;
    s *= static_cast<size_t>(std::max(a[i].dim, 0));
  }
  const uint8_t* in = static_cast<const uint8_t*>(input);
  uint8_t* out = static_cast<uint8_t*>(output);
  const int64_t inner_count = VisitCount(a[4].start, a[4].stop, a[4].stride);
  if (inner_count == 0) return;
  const bool contiguous = a[4].stride == 1;
  const size_t run_bytes = static_cast<size_t>(inner_count) * element_size;

  auto more = [](int index, const SliceAxis& ax) {
    return ax.stride > 0 ? index < ax.stop : index > ax.stop;
  };
  for (int i0 = a[0].start; more(i0, a[0]); i0 += a[0].stride) {
    const uint8_t* p0 = in + i0 * stride_of[0];
    for (int i1 = a[1].start; more(i1, a[1]); i1 += a[1].stride) {
      const uint8_t* p1 = p0 + i1 * stride_of[1];
      for (int i2 = a[2].start; more(i2, a[2]); i2 += a[2].stride) {
        const uint8_t* p2 = p1 + i2 * stride_of[2];
        for (int i3 = a[3].start; more(i3, a[3]); i3 += a[3].stride) {
          const uint8_t* p3 = p2 + i3 * stride_of[3];
          if (contiguous) {
            std::memcpy(out, p3 + a[4].start * element_size, run_bytes);
            out += run_bytes;
            continue;
          }
          for (int i4 = a[4].start; more(i4, a[4]); i4 += a[4].stride) {
            std::memcpy(out, p3 + i4 * element_size, element_size);
            out += element_size;
          }
        }
      }
    }
  }
}

}  // namespace arith
}  // namespace tflite
