// Expected values are derived by hand from the fixed-point definitions; each
// table row says how.
#include "inference/kernels/arithmetic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace tflite {
namespace arith {
namespace {

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kHalf = 1 << 30;  // 0.5 as a Q0.31 multiplier

struct BinaryCase {
  int32_t a;
  int32_t b;
  int32_t expected;
  const char* why;
};

TEST(FixedPoint, SaturatingRoundingDoublingHighMul) {
  const BinaryCase cases[] = {
      {kMin, kMin, kMax, "the one overflowing product saturates"},
      {3, kHalf, 2, "1.5 rounds away from zero"},
      {-3, kHalf, -1, "-1.5: nudge 1-2^30 makes the tie go toward zero"},
      {1, 1, 0, "(1 + 2^30) / 2^31 truncates to 0"},
      {kHalf, kHalf, 1 << 29, "2^60 / 2^31 = 2^29, +0.5 truncated"},
      {kMin, kMax, kMin + 1, "-2^31 + 0.5 + tiny truncates toward zero"},
      {kMin, kHalf, -kHalf, "-2^30 - 0.5 + tiny truncates toward zero"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(SaturatingRoundingDoublingHighMul(c.a, c.b), c.expected) << c.why;
  }
}

TEST(FixedPoint, RoundingDivideByPOT) {
  const BinaryCase cases[] = {
      {5, 1, 3, "2.5 -> 3"},
      {-5, 1, -3, "-2.5 -> -3 (ties away from zero)"},
      {-3, 1, -2, "-1.5 -> -2"},
      {7, 2, 2, "1.75 -> 2"},
      {-7, 2, -2, "-1.75 -> -2"},
      {6, 2, 2, "1.5 -> 2"},
      {-6, 2, -2, "-1.5 -> -2"},
      {-7, 0, -7, "exponent 0 is the identity"},
      {kMin, 31, -1, "-2^31 / 2^31 exactly"},
      {kHalf, 31, 1, "0.5 -> 1"},
      {-kHalf, 31, -1, "-0.5 -> -1"},
      {kMax, 31, 1, "just below 1"},
  };
  for (const BinaryCase& c : cases) {
    EXPECT_EQ(RoundingDivideByPOT(c.a, c.b), c.expected) << c.why;
  }
}

TEST(FixedPoint, MultiplyByQuantizedMultiplier) {
  struct Case {
    int32_t x;
    int32_t multiplier;
    int shift;
    int32_t expected;
    const char* why;
  } cases[] = {
      {100, kHalf, 1, 100, "0.5 * 2^1 is exactly 1"},
      {1, kHalf, -1, 1, "double rounding: 0.5 -> 1, then 0.5 -> 1"},
      {-1, kHalf, -1, 0, "-0.5 -> 0 in the high multiply, then 0"},
      {3, 1518500250, 2, 8, "12 * 0.70711 = 8.485 -> 8"},
      {kHalf, kHalf, 2, 0, "2^30 * 4 wraps to 0 in int32"},
      {1000, kHalf, -7, 4, "500 / 128 = 3.9 -> 4"},
      {-32768, kHalf, -7, -128, "-16384 / 128 exactly"},
      {kMin, kMin, 0, kMax, "saturation passes through"},
      {12345, 0, 0, 0, "a flushed multiplier gives 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MultiplyByQuantizedMultiplier(c.x, c.multiplier, c.shift),
              c.expected)
        << c.why;
  }
}

TEST(FixedPoint, QuantizeMultiplier) {
  struct Case {
    double d;
    int32_t multiplier;
    int shift;
    const char* why;
  } cases[] = {
      {0.0, 0, 0, "zero"},
      {1.0, kHalf, 1, "frexp(1) = 0.5 * 2^1"},
      {0.5, kHalf, 0, "power of two"},
      {0.25, kHalf, -1, "power of two"},
      {std::ldexp(1.0, 40), kHalf, 41, "no upper clamp on the shift"},
      {std::ldexp(1.0, -32), kHalf, -31, "2^-32 = 0.5 * 2^-31 is kept"},
      {std::ldexp(1.0, -33), 0, 0, "below 2^-32: flushed"},
      {1.0 - std::ldexp(1.0, -33), kHalf, 1,
       "q * 2^31 = 2^31 - 0.25 rounds to 2^31: halved, shift + 1"},
      {1.0 - std::ldexp(1.0, -31), kMax, 0, "q * 2^31 = 2^31 - 1 exactly"},
      {0.5 + std::ldexp(1.0, -32), kHalf + 1, 0,
       "q * 2^31 = 2^30 + 0.5 rounds away"},
      {-0.5, -kHalf, 0, "negative multipliers keep their sign"},
  };
  for (const Case& c : cases) {
    int32_t m = -7;
    int s = -7;
    ASSERT_TRUE(QuantizeMultiplier(c.d, &m, &s)) << c.why;
    EXPECT_EQ(m, c.multiplier) << c.why;
    EXPECT_EQ(s, c.shift) << c.why;
  }
  int32_t m = 0;
  int s = 0;
  EXPECT_FALSE(QuantizeMultiplier(std::nan(""), &m, &s));
  EXPECT_FALSE(QuantizeMultiplier(INFINITY, &m, &s));
}

// Scales 0.1f, 0.3f, 1.0f: the exact product of the two floats gives
// M = 2061584415 (shift -5); rounding the product to float first gives
// 2061584384. Both derived with exact rational arithmetic.
TEST(EffectiveScale, PerChannelIsDoubleAndPerTensorIsFloatProduct) {
  const float filter_scales[] = {0.3f, 0.6f};
  int32_t m[2];
  int s[2];
  ASSERT_TRUE(PerChannelMultipliers(0.1f, filter_scales, 2, 1.0f, 2, m, s));
  EXPECT_EQ(m[0], 2061584415);
  EXPECT_EQ(s[0], -5);
  EXPECT_EQ(m[1], 2061584415);  // 0.6f = 2 * 0.3f: same mantissa
  EXPECT_EQ(s[1], -4);

  // One filter scale serves every channel.
  int32_t m1[3];
  int s1[3];
  ASSERT_TRUE(PerChannelMultipliers(0.1f, filter_scales, 1, 1.0f, 3, m1, s1));
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(m1[c], 2061584415);
    EXPECT_EQ(s1[c], -5);
  }

  int32_t pm = 0;
  int ps = 0;
  ASSERT_TRUE(FullyConnectedPerTensorMultiplier(0.1f, 0.3f, 1.0f, &pm, &ps));
  EXPECT_EQ(pm, 2061584384);
  EXPECT_EQ(ps, -5);
}

TEST(EffectiveScale, PerTensorRefusals) {
  int32_t m = 0;
  int s = 0;
  EXPECT_FALSE(FullyConnectedPerTensorMultiplier(0.1f, -0.3f, 1.0f, &m, &s))
      << "negative product of scales";
  EXPECT_FALSE(FullyConnectedPerTensorMultiplier(0.1f, 0.3f, 0.0f, &m, &s))
      << "output scale 0 gives an infinite multiplier";
  EXPECT_FALSE(RequantizeMultiplier(0.5f, 0.0f, &m, &s));
  const float filter_scale = 0.3f;
  EXPECT_FALSE(PerChannelMultipliers(0.1f, &filter_scale, 1, 0.0f, 1, &m, &s));

  ASSERT_TRUE(RequantizeMultiplier(0.25f, 0.5f, &m, &s));
  EXPECT_EQ(m, kHalf);
  EXPECT_EQ(s, 0);
}

TEST(EffectiveScale, FullyConnectedBiasScaleCheck) {
  struct Case {
    float bias_scale;
    float output_scale;
    bool ok;
    const char* why;
  } cases[] = {
      {0.125f, 1.0f, true, "bias scale equals 0.5 * 0.25"},
      {0.135f, 1.0f, true, "|0.125 - 0.135| / 1 = 0.01"},
      {0.155f, 1.0f, false, "0.03 > 0.02"},
      {0.0f, 10.0f, true, "unquantised bias: 0.125 / 10 = 0.0125"},
      {0.0f, 1.0f, false, "unquantised bias: 0.125 / 1"},
      {0.125f, 0.0f, false, "0 / 0 is NaN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FullyConnectedBiasScaleMatches(0.5f, 0.25f, c.bias_scale,
                                             c.output_scale),
              c.ok)
        << c.why;
  }
}

TEST(ActivationBounds, Table) {
  struct Case {
    int activation;
    int32_t qmin, qmax;
    float scale;
    int32_t zero_point;
    int32_t min, max;
    const char* why;
  } cases[] = {
      {kActivationNone, -128, 127, 0.1f, -10, -128, 127, "type range"},
      {kActivationRelu, -128, 127, 0.1f, -10, -10, 127, "quant(0) = Z"},
      {kActivationRelu6, -128, 127, 0.1f, -10, -10, 50,
       "6 / 0.1f = 60 in float"},
      {kActivationReluN1To1, -128, 127, 0.1f, -10, -20, 0, "Z -/+ 10"},
      {kActivationRelu6, -128, 127, 0.01f, 0, 0, 127, "quant(6) = 600 > 127"},
      {kActivationReluN1To1, -128, 127, 0.4f, 0, -3, 3,
       "-1 / 0.4f is exactly -2.5 in float, rounded away"},
      {kActivationRelu, 0, 255, 0.1f, 0, 0, 255, "uint8"},
      {kActivationRelu6, -32768, 32767, 1.0f / 4096, 0, 0, 24576, "int16"},
      {4, -128, 127, 0.0f, 0, -128, 127, "TANH needs no quant(): scale 0 ok"},
      {17, -128, 127, 0.1f, 0, -128, 127, "unknown behaves as NONE"},
      {kActivationRelu, -128, 127, 1e-10f, 5, 5, 127,
       "quant(0) is fine even for a tiny scale"},
  };
  for (const Case& c : cases) {
    int32_t lo = 0;
    int32_t hi = 0;
    ASSERT_TRUE(ActivationBounds(c.activation, c.qmin, c.qmax, c.scale,
                                 c.zero_point, &lo, &hi))
        << c.why;
    EXPECT_EQ(lo, c.min) << c.why;
    EXPECT_EQ(hi, c.max) << c.why;
  }
}

TEST(ActivationBounds, Refusals) {
  struct Case {
    int activation;
    float scale;
    int32_t zero_point;
    const char* why;
  } cases[] = {
      {kActivationRelu, 0.0f, 0, "0 / 0 is NaN"},
      {kActivationRelu6, std::nanf(""), 0, "NaN scale"},
      {kActivationRelu6, 1e-10f, 0, "6e10 is outside int32"},
      {kActivationRelu, 0.1f, 200, "min 200 above max 127"},
      {kActivationRelu6, -0.1f, 0, "negative scale: max -60 below min 0"},
  };
  for (const Case& c : cases) {
    int32_t lo = 0;
    int32_t hi = 0;
    EXPECT_FALSE(ActivationBounds(c.activation, -128, 127, c.scale,
                                  c.zero_point, &lo, &hi))
        << c.why;
  }
}

TEST(Padding, Table) {
  struct Case {
    int padding;
    int in_h, in_w, k_h, k_w, st_h, st_w, dl_h, dl_w;
    int pad_h, pad_w;
    const char* why;
  } cases[] = {
      {kPaddingSame, 10, 10, 3, 4, 2, 2, 1, 1, 0, 1,
       "out 5; totals 4*2+3-10 = 1 (extra row at the bottom), 4*2+4-10 = 2"},
      {kPaddingSame, 5, 5, 3, 4, 1, 1, 1, 1, 1, 1,
       "totals 2 and 3 (odd: the extra column goes right)"},
      {kPaddingSame, 5, 5, 3, 3, 1, 1, 2, 1, 2, 1,
       "dilation 2: effective size 5, total 4"},
      {kPaddingValid, 5, 5, 3, 3, 1, 1, 1, 1, 0, 0, "VALID"},
      {kPaddingValid, 1, 1, 8, 8, 5, 5, 1, 1, 0, 0,
       "out = floor(-2 / 5) = -1, not the truncated 0 (which gives 1)"},
      {kPaddingSame, 0, 0, 3, 3, 1, 1, 1, 1, 1, 1, "empty input, total 2"},
      {kPaddingSame, 5, 5, 3, 3, 1, 0, 1, 1, 0, 0,
       "width stride 0: both axes 0"},
      {kPaddingSame, 5, 5, 3, 3, 1, 1, 0, 1, 0, 0,
       "height dilation 0: both axes 0, although width is valid"},
      {kPaddingSame, 5, -1, 3, 3, 1, 1, 1, 1, 0, 0, "negative input size"},
      {kPaddingSame, 5, 5, 0, 3, 1, 1, 1, 1, 0, 0, "empty filter"},
      {2, 5, 5, 3, 3, 1, 1, 1, 1, 0, 0, "unknown padding"},
  };
  for (const Case& c : cases) {
    const Padding p = ComputePadding(c.padding, c.in_h, c.in_w, c.k_h, c.k_w,
                                     c.st_h, c.st_w, c.dl_h, c.dl_w);
    EXPECT_EQ(p.height, c.pad_h) << c.why;
    EXPECT_EQ(p.width, c.pad_w) << c.why;
  }
}

// 0.1f = 13421773 * 2^-27, so d = 13421773 exactly: q = 13421773 / 2^24,
// multiplier q * 2^31 = 13421773 * 2^7, shift 24, radius floor(15 * 2^3).
TEST(Logistic, PrepareParameters) {
  struct Case {
    float scale;
    int32_t multiplier;
    int shift;
    int32_t radius;
    const char* why;
  } cases[] = {
      {0.1f, 1717986944, 24, 120, "see above"},
      {1.0f / 256, kHalf, 20, 1920, "d = 2^19 = 0.5 * 2^20"},
      {0.5f, kHalf, 27, 15, "d = 2^26"},
      {0.0f, 0, 0, 2013265920, "frexp(0) = (0, 0): radius 15 * 2^27"},
      {std::ldexp(1.0f, -30), kHalf, -2, kMax,
       "15 * 2^29 does not fit: never saturates"},
  };
  for (const Case& c : cases) {
    LogisticParams p;
    ASSERT_TRUE(LogisticPrepare(c.scale, 3, &p)) << c.why;
    EXPECT_EQ(p.input_zero_point, 3);
    EXPECT_EQ(p.input_multiplier, c.multiplier) << c.why;
    EXPECT_EQ(p.input_left_shift, c.shift) << c.why;
    EXPECT_EQ(p.input_range_radius, c.radius) << c.why;
  }
  LogisticParams p;
  EXPECT_FALSE(LogisticPrepare(std::nanf(""), 0, &p));
  EXPECT_FALSE(LogisticPrepare(INFINITY, 0, &p));
}

// Scale 0.5, zero point -10: v = x + 10 is rescaled to v / 2 in Q4.27
// (multiplier 2^30, shift 27) and the output is round(256 * sigma(v / 2))
// - 128, none of these near a rounding tie.
TEST(Logistic, Elements) {
  LogisticParams p;
  ASSERT_TRUE(LogisticPrepare(0.5f, -10, &p));
  ASSERT_EQ(p.input_range_radius, 15);
  struct Case {
    int8_t x;
    int8_t expected;
    const char* why;
  } cases[] = {
      {-10, 0, "v = 0: logistic 2^30 -> 128 - 128"},
      {-9, 31, "v = 1: 256 * sigma(0.5) = 159.35"},
      {-11, -31, "v = -1: 96.65"},
      {-8, 59, "v = 2: 187.15"},
      {-12, -59, "v = -2: 68.85"},
      {4, 127, "v = 14 = radius - 1: 255.77 -> 256 clamps to 127"},
      {-24, -128, "v = -14: 0.23 -> 0"},
      {5, 127, "v = radius saturates"},
      {-25, -128, "v = -radius saturates"},
      {127, 127, "far above"},
      {-128, -128, "far below"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogisticElement(p, c.x), c.expected) << c.why;
  }
  const int8_t in[3] = {-10, -9, -11};
  int8_t out[3] = {};
  Logistic(p, in, 3, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 31);
  EXPECT_EQ(out[2], -31);
}

TEST(Quantize, IntegerPairs) {
  // int8 -> uint8, equal scales (multiplier 2^30, shift 1 is exactly 1),
  // zero points -128 -> 0: x + 128.
  {
    const RequantizeParams p = {-128, 0, kHalf, 1};
    const int8_t in[] = {-128, 0, 127, -1};
    uint8_t out[4];
    Requantize(p, in, 4, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 128);
    EXPECT_EQ(out[2], 255);
    EXPECT_EQ(out[3], 127);
  }
  // int8 -> int8, s_in / s_out = 2: the left-shift path, then clamping.
  {
    const RequantizeParams p = {0, 0, kHalf, 2};
    const int8_t in[] = {50, 100, -100, -3};
    int8_t out[4];
    Requantize(p, in, 4, out);
    EXPECT_EQ(out[0], 100);
    EXPECT_EQ(out[1], 127);
    EXPECT_EQ(out[2], -128);
    EXPECT_EQ(out[3], -6);
  }
  // int8 -> int8, ratio 0.5: 1.5 -> 2 but -1.5 -> -1 (high-multiply ties).
  {
    const RequantizeParams p = {0, 0, kHalf, 0};
    const int8_t in[] = {3, -3};
    int8_t out[2];
    Requantize(p, in, 2, out);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[1], -1);
  }
  // uint8 -> int8, ratio 1, zero points 128 -> 0.
  {
    const RequantizeParams p = {128, 0, kHalf, 1};
    const uint8_t in[] = {0, 255};
    int8_t out[2];
    Requantize(p, in, 2, out);
    EXPECT_EQ(out[0], -128);
    EXPECT_EQ(out[1], 127);
  }
  // int16 -> int8, ratio 1/256 (2^30, -7): 1000 / 256 = 3.9 -> 4.
  {
    const RequantizeParams p = {0, 0, kHalf, -7};
    const int16_t in[] = {1000, -32768};
    int8_t out[2];
    Requantize(p, in, 2, out);
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[1], -128);
  }
  // int8 -> int32 and int8 -> int16: no clamping inside the wide range.
  {
    const RequantizeParams p = {0, 1000, kHalf, 1};
    const int8_t in[] = {-5};
    int32_t out32[1];
    int16_t out16[1];
    Requantize(p, in, 1, out32);
    Requantize(p, in, 1, out16);
    EXPECT_EQ(out32[0], 995);
    EXPECT_EQ(out16[0], 995);
  }
}

TEST(Quantize, FromFloat) {
  // Scale 0.5: x / 0.5 in float, rounded away from zero.
  const float in[] = {1.25f, -1.25f, 0.75f, 100.0f, std::nanf(""),
                      INFINITY, -INFINITY, 0.0f};
  const int8_t expected[] = {3, -3, 2, 127, 0, 127, -128, 0};
  int8_t out[8];
  QuantizeFloat(0.5f, 0, in, 8, out);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expected[i]) << "element " << i;

  const float in2[] = {0.0f, 20000.0f, -1.25f};
  int16_t out16[3];
  QuantizeFloat(0.5f, -10, in2, 3, out16);
  EXPECT_EQ(out16[0], -10);
  EXPECT_EQ(out16[1], 32767);
  EXPECT_EQ(out16[2], -13);
}

// Multiplier 2^30 with shift 1 passes accumulators through unchanged.
ConvParams IdentityConv() {
  ConvParams p = {};
  p.stride_height = 1;
  p.stride_width = 1;
  p.dilation_height = 1;
  p.dilation_width = 1;
  p.depth_multiplier = 1;
  p.output_min = -128;
  p.output_max = 127;
  return p;
}

// Input 2x2 [[2,3],[4,5]] with zero point 1 (real [[1,2],[3,4]]), filter
// 3x3 with weights 1..9 row by row, SAME (pad 1), bias 3. Output (0,0) sees
// only the taps 5,6,8,9 over 1,2,3,4: 77, + 3. Padding taps add nothing (a
// kernel that read them as raw 0 would add -1 per tap).
TEST(Conv, OutOfImageTapsAreSkipped) {
  ConvParams p = IdentityConv();
  p.padding = ComputePadding(kPaddingSame, 2, 2, 3, 3, 1, 1, 1, 1);
  ASSERT_EQ(p.padding.height, 1);
  p.input_offset = -1;
  const int in_shape[4] = {1, 2, 2, 1};
  const int8_t input[4] = {2, 3, 4, 5};
  const int f_shape[4] = {1, 3, 3, 1};
  const int8_t filter[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const int32_t bias[1] = {3};
  const int32_t m[1] = {kHalf};
  const int s[1] = {1};
  const int out_shape[4] = {1, 2, 2, 1};
  ASSERT_TRUE(ConvShapesValid(p, in_shape, f_shape, out_shape));
  int8_t out[4] = {};
  ConvPerChannel(p, m, s, in_shape, input, f_shape, filter, bias, out_shape,
                 out);
  // (0,1): 4*1+5*2+7*3+8*4; (1,0): 2*1+3*2+5*3+6*4; (1,1): 1+4+12+20.
  EXPECT_EQ(out[0], 80);
  EXPECT_EQ(out[1], 70);
  EXPECT_EQ(out[2], 50);
  EXPECT_EQ(out[3], 40);

  // Without a bias, multiplier 0.5 (2^30, shift 0), output zero point -100
  // and minimum -70: 38.5 -> 39, 33.5 -> 34, 23.5 -> 24, 18.5 -> 19.
  p.output_offset = -100;
  p.output_min = -70;
  const int s_half[1] = {0};
  ConvPerChannel(p, m, s_half, in_shape, input, f_shape, filter, nullptr,
                 out_shape, out);
  EXPECT_EQ(out[0], -61);
  EXPECT_EQ(out[1], -66);
  EXPECT_EQ(out[2], -70);
  EXPECT_EQ(out[3], -70);
}

// Input channels [1,2,3,4], filter depth 2: two groups of two filters.
// Filters 2 and 3 must read channels 2 and 3.
TEST(Conv, GroupedConvolution) {
  ConvParams p = IdentityConv();
  const int in_shape[4] = {1, 1, 1, 4};
  const int8_t input[4] = {1, 2, 3, 4};
  const int f_shape[4] = {4, 1, 1, 2};
  const int8_t filter[8] = {1, 1, 1, -1, 1, 1, 2, 0};
  const int32_t m[4] = {kHalf, kHalf, kHalf, kHalf};
  const int s[4] = {1, 1, 1, 1};
  const int out_shape[4] = {1, 1, 1, 4};
  ASSERT_TRUE(ConvShapesValid(p, in_shape, f_shape, out_shape));
  int8_t out[4] = {};
  ConvPerChannel(p, m, s, in_shape, input, f_shape, filter, nullptr, out_shape,
                 out);
  EXPECT_EQ(out[0], 3);   // 1 + 2
  EXPECT_EQ(out[1], -1);  // 1 - 2
  EXPECT_EQ(out[2], 7);   // 3 + 4
  EXPECT_EQ(out[3], 6);   // 2 * 3
}

// Row [1..5], filter [1, 10] with dilation 2 and stride 2, VALID: effective
// width 3, two outputs: 1 + 10*3 and 3 + 10*5.
TEST(Conv, DilationAndStride) {
  ConvParams p = IdentityConv();
  p.stride_width = 2;
  p.dilation_width = 2;
  const int in_shape[4] = {1, 1, 5, 1};
  const int8_t input[5] = {1, 2, 3, 4, 5};
  const int f_shape[4] = {1, 1, 2, 1};
  const int8_t filter[2] = {1, 10};
  const int32_t m[1] = {kHalf};
  const int s[1] = {1};
  const int out_shape[4] = {1, 1, 2, 1};
  int8_t out[2] = {};
  ConvPerChannel(p, m, s, in_shape, input, f_shape, filter, nullptr, out_shape,
                 out);
  EXPECT_EQ(out[0], 31);
  EXPECT_EQ(out[1], 53);
}

// Strides and dilations come from the model: positions beyond int range are
// simply outside the image (checked under UBSan for overflow).
TEST(Conv, HugeStridesAndDilations) {
  ConvParams p = IdentityConv();
  p.stride_width = 1 << 30;
  p.dilation_width = 1 << 30;
  const int in_shape[4] = {1, 1, 3, 1};
  const int8_t input[3] = {7, 8, 9};
  const int f_shape[4] = {1, 1, 3, 1};
  const int8_t filter[3] = {2, 50, 50};
  const int32_t m[1] = {kHalf};
  const int s[1] = {1};
  const int out_shape[4] = {1, 1, 3, 1};
  int8_t out[3] = {1, 1, 1};
  // Output x: taps at x * 2^30 + k * 2^30; only x = 0, k = 0 is inside.
  ConvPerChannel(p, m, s, in_shape, input, f_shape, filter, nullptr, out_shape,
                 out);
  EXPECT_EQ(out[0], 14);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);

  p.depth_multiplier = 1;
  const int dw_filter_shape[4] = {1, 1, 3, 1};
  DepthwiseConvPerChannel(p, m, s, in_shape, input, dw_filter_shape, filter,
                          nullptr, out_shape, out);
  EXPECT_EQ(out[0], 14);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 0);
}

TEST(Conv, ShapeValidation) {
  const ConvParams p = IdentityConv();
  struct Case {
    int in_depth, f_out, f_depth, out_depth;
    bool ok;
    const char* why;
  } cases[] = {
      {4, 8, 4, 8, true, "ordinary"},
      {4, 4, 2, 4, true, "two groups"},
      {4, 3, 2, 3, false, "3 filters over 2 groups would read channel 4"},
      {4, 8, 0, 8, false, "filter depth 0"},
      {2, 8, 4, 8, false, "filter deeper than the input: no group"},
  };
  for (const Case& c : cases) {
    const int in_shape[4] = {1, 3, 3, c.in_depth};
    const int f_shape[4] = {c.f_out, 1, 1, c.f_depth};
    const int out_shape[4] = {1, 3, 3, c.out_depth};
    EXPECT_EQ(ConvShapesValid(p, in_shape, f_shape, out_shape), c.ok) << c.why;
  }
}

// Input channels [3, 5], depth multiplier 2, filter [1, 2, 3, 4]: output
// channel oc = j + ic * 2 reads input channel ic.
TEST(Depthwise, DepthMultiplierChannelOrder) {
  ConvParams p = IdentityConv();
  p.depth_multiplier = 2;
  const int in_shape[4] = {1, 1, 1, 2};
  const int8_t input[2] = {3, 5};
  const int f_shape[4] = {1, 1, 1, 4};
  const int8_t filter[4] = {1, 2, 3, 4};
  const int32_t m[4] = {kHalf, kHalf, kHalf, kHalf};
  const int s[4] = {1, 1, 1, 1};
  const int out_shape[4] = {1, 1, 1, 4};
  ASSERT_TRUE(DepthwiseShapesValid(p, in_shape, f_shape, out_shape));
  int8_t out[4] = {};
  DepthwiseConvPerChannel(p, m, s, in_shape, input, f_shape, filter, nullptr,
                          out_shape, out);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[1], 6);
  EXPECT_EQ(out[2], 15);
  EXPECT_EQ(out[3], 20);
}

// Many channels, so several channel blocks are involved.
class DepthwiseWide : public ::testing::Test {
 protected:
  void Run(int in_depth, int multiplier, int height, Padding padding) {
    const int depth = in_depth * multiplier;
    ConvParams p = IdentityConv();
    p.depth_multiplier = multiplier;
    p.padding = padding;
    const int in_shape[4] = {1, height, 1, in_depth};
    const int out_shape[4] = {1, height, 1, depth};
    const std::vector<int32_t> m(depth, kHalf);
    const std::vector<int> s(depth, 1);
    out.assign(height * depth, 0);
    ASSERT_TRUE(DepthwiseShapesValid(p, in_shape, f_shape, out_shape));
    DepthwiseConvPerChannel(p, m.data(), s.data(), in_shape, input.data(),
                            f_shape, filter.data(), bias.data(), out_shape,
                            out.data());
  }
  int f_shape[4] = {};
  std::vector<int8_t> input, filter, out;
  std::vector<int32_t> bias;
};

// 3x1 SAME over 3 rows, 70 channels; every row holds x[c] = c % 7 - 3 and
// filter row ky weighs ky + 1. Row 0 sees weights 2,3 -> 5x, row 1 6x, row 2
// weights 1,2 -> 3x; bias c.
TEST_F(DepthwiseWide, SamePaddingAcrossChannelBlocks) {
  const int c_n = 70;
  input.resize(3 * c_n);
  for (int y = 0; y < 3; ++y)
    for (int c = 0; c < c_n; ++c) input[y * c_n + c] = c % 7 - 3;
  const int shape[4] = {1, 3, 1, c_n};
  std::memcpy(f_shape, shape, sizeof(shape));
  filter.resize(3 * c_n);
  for (int ky = 0; ky < 3; ++ky)
    for (int c = 0; c < c_n; ++c) filter[ky * c_n + c] = ky + 1;
  bias.resize(c_n);
  for (int c = 0; c < c_n; ++c) bias[c] = c;
  const Padding padding = ComputePadding(kPaddingSame, 3, 1, 3, 1, 1, 1, 1, 1);
  ASSERT_EQ(padding.height, 1);
  Run(c_n, 1, 3, padding);
  const int factor[3] = {5, 6, 3};
  for (int y = 0; y < 3; ++y) {
    for (int c = 0; c < c_n; ++c) {
      EXPECT_EQ(out[y * c_n + c], factor[y] * (c % 7 - 3) + c)
          << "row " << y << " channel " << c;
    }
  }
}

// 40 input channels x multiplier 2 = 80 outputs across the 64-channel block
// boundary; 1x1 filter +1 for even, -1 for odd output channels; input
// channel ic holds ic - 20, so output oc = +/-(oc / 2 - 20).
TEST_F(DepthwiseWide, MultiplierAcrossChannelBlocks) {
  input.resize(40);
  for (int ic = 0; ic < 40; ++ic) input[ic] = ic - 20;
  const int shape[4] = {1, 1, 1, 80};
  std::memcpy(f_shape, shape, sizeof(shape));
  filter.resize(80);
  for (int oc = 0; oc < 80; ++oc) filter[oc] = oc % 2 == 0 ? 1 : -1;
  bias.assign(80, 0);
  Run(40, 2, 1, Padding{0, 0});
  for (int oc = 0; oc < 80; ++oc) {
    const int v = oc / 2 - 20;
    EXPECT_EQ(out[oc], oc % 2 == 0 ? v : -v) << "channel " << oc;
  }
}

TEST(Depthwise, ShapeValidation) {
  ConvParams p = IdentityConv();
  const int in_shape[4] = {1, 3, 3, 4};
  const int f8[4] = {1, 3, 3, 8};
  const int out8[4] = {1, 3, 3, 8};
  const int out4[4] = {1, 3, 3, 4};
  p.depth_multiplier = 2;
  EXPECT_TRUE(DepthwiseShapesValid(p, in_shape, f8, out8));
  EXPECT_FALSE(DepthwiseShapesValid(p, in_shape, f8, out4))
      << "output channels differ from the filter's";
  p.depth_multiplier = 1;
  EXPECT_FALSE(DepthwiseShapesValid(p, in_shape, f8, out8))
      << "multiplier from the options disagrees with the shapes";
  p.depth_multiplier = 0;
  EXPECT_FALSE(DepthwiseShapesValid(p, in_shape, f8, out8))
      << "absent options give multiplier 0";
}

// Random shapes against the per-element formula with no hoisting at all,
// so the kernels' tap ranges, runs and channel blocks cannot drift from it.
class ConvFormula : public ::testing::Test {
 protected:
  int Rand(int lo, int hi) {  // inclusive; a fixed LCG keeps runs repeatable
    state = state * 1103515245u + 12345u;
    return lo + static_cast<int>((state >> 8) % static_cast<uint32_t>(hi - lo + 1));
  }
  std::vector<int8_t> Bytes(size_t n) {
    std::vector<int8_t> v(n);
    for (int8_t& b : v) b = static_cast<int8_t>(Rand(-128, 127));
    return v;
  }
  // Output size of one axis as the model would declare it.
  static int OutSize(int padding, int n, int k, int st, int dl) {
    const int eff = (k - 1) * dl + 1;
    return padding == kPaddingSame ? (n + st - 1) / st : (n - eff + st) / st;
  }
  ConvParams RandomParams(int padding, const int in[4], int k_h, int k_w) {
    ConvParams p = {};
    p.stride_height = Rand(1, 3);
    p.stride_width = Rand(1, 3);
    p.dilation_height = Rand(1, 3);
    p.dilation_width = Rand(1, 3);
    p.padding = ComputePadding(padding, in[1], in[2], k_h, k_w, p.stride_height,
                               p.stride_width, p.dilation_height,
                               p.dilation_width);
    p.input_offset = Rand(-127, 128);
    p.output_offset = Rand(-20, 20);
    p.output_min = Rand(-128, -60);
    p.output_max = Rand(60, 127);
    return p;
  }
  // One output element, straight from the definition.
  static int8_t Formula(const ConvParams& p, int32_t m, int s, const int in[4],
                        const int8_t* input, int k_h, int k_w, int oy, int ox,
                        int b, int in_channel, const int8_t* taps,
                        int tap_stride, int taps_per_position, int32_t bias) {
    int64_t acc = 0;
    for (int ky = 0; ky < k_h; ++ky) {
      for (int kx = 0; kx < k_w; ++kx) {
        const int iy = oy * p.stride_height - p.padding.height + p.dilation_height * ky;
        const int ix = ox * p.stride_width - p.padding.width + p.dilation_width * kx;
        if (iy < 0 || iy >= in[1] || ix < 0 || ix >= in[2]) continue;
        for (int i = 0; i < taps_per_position; ++i) {
          const int x = input[((b * in[1] + iy) * in[2] + ix) * in[3] + in_channel + i];
          acc += taps[(ky * k_w + kx) * tap_stride + i] * (x + p.input_offset);
        }
      }
    }
    const int32_t v = MultiplyByQuantizedMultiplier(
                          static_cast<int32_t>(acc + bias), m, s) +
                      p.output_offset;
    return static_cast<int8_t>(std::min(std::max(v, p.output_min), p.output_max));
  }
  uint32_t state = 12345;
};

TEST_F(ConvFormula, ConvMatchesDefinition) {
  for (int trial = 0; trial < 300; ++trial) {
    const int padding = Rand(0, 1);
    const int groups = Rand(1, 3);
    const int f_d = Rand(1, 5);
    const int in[4] = {Rand(1, 2), Rand(1, 7), Rand(1, 7), groups * f_d};
    const int k_h = Rand(1, 4);
    const int k_w = Rand(1, 4);
    const int co = groups * Rand(1, 3);
    ConvParams p = RandomParams(padding, in, k_h, k_w);
    const int out[4] = {in[0],
                        OutSize(padding, in[1], k_h, p.stride_height, p.dilation_height),
                        OutSize(padding, in[2], k_w, p.stride_width, p.dilation_width),
                        co};
    if (out[1] <= 0 || out[2] <= 0) continue;
    const int f[4] = {co, k_h, k_w, f_d};
    ASSERT_TRUE(ConvShapesValid(p, in, f, out));
    const std::vector<int8_t> input = Bytes(in[0] * in[1] * in[2] * in[3]);
    const std::vector<int8_t> filter = Bytes(co * k_h * k_w * f_d);
    std::vector<int32_t> bias(co), m(co);
    std::vector<int> s(co);
    for (int c = 0; c < co; ++c) {
      bias[c] = Rand(-3000, 3000);
      m[c] = kHalf + Rand(0, 1 << 20) * 1023;
      s[c] = Rand(-9, -5);
    }
    std::vector<int8_t> got(out[0] * out[1] * out[2] * co);
    ConvPerChannel(p, m.data(), s.data(), in, input.data(), f, filter.data(),
                   bias.data(), out, got.data());
    const int per_group = co / groups;
    for (int b = 0; b < out[0]; ++b)
      for (int oy = 0; oy < out[1]; ++oy)
        for (int ox = 0; ox < out[2]; ++ox)
          for (int oc = 0; oc < co; ++oc) {
            const int8_t want = Formula(
                p, m[oc], s[oc], in, input.data(), k_h, k_w, oy, ox, b,
                (oc / per_group) * f_d, filter.data() + oc * k_h * k_w * f_d,
                f_d, f_d, bias[oc]);
            ASSERT_EQ(got[((b * out[1] + oy) * out[2] + ox) * co + oc], want)
                << "trial " << trial << " at " << b << "," << oy << "," << ox
                << "," << oc;
          }
  }
}

TEST_F(ConvFormula, DepthwiseMatchesDefinition) {
  for (int trial = 0; trial < 300; ++trial) {
    const int padding = Rand(0, 1);
    const int mult = Rand(1, 3);
    const int in[4] = {Rand(1, 2), Rand(1, 6), Rand(1, 6),
                       trial % 10 == 0 ? Rand(30, 70) : Rand(1, 6)};
    const int k_h = Rand(1, 4);
    const int k_w = Rand(1, 4);
    const int co = in[3] * mult;
    ConvParams p = RandomParams(padding, in, k_h, k_w);
    p.depth_multiplier = mult;
    const int out[4] = {in[0],
                        OutSize(padding, in[1], k_h, p.stride_height, p.dilation_height),
                        OutSize(padding, in[2], k_w, p.stride_width, p.dilation_width),
                        co};
    if (out[1] <= 0 || out[2] <= 0) continue;
    const int f[4] = {1, k_h, k_w, co};
    ASSERT_TRUE(DepthwiseShapesValid(p, in, f, out));
    const std::vector<int8_t> input = Bytes(in[0] * in[1] * in[2] * in[3]);
    const std::vector<int8_t> filter = Bytes(k_h * k_w * co);
    std::vector<int32_t> bias(co), m(co);
    std::vector<int> s(co);
    for (int c = 0; c < co; ++c) {
      bias[c] = Rand(-3000, 3000);
      m[c] = kHalf + Rand(0, 1 << 20) * 1023;
      s[c] = Rand(-9, -5);
    }
    std::vector<int8_t> got(out[0] * out[1] * out[2] * co);
    DepthwiseConvPerChannel(p, m.data(), s.data(), in, input.data(), f,
                            filter.data(), bias.data(), out, got.data());
    for (int b = 0; b < out[0]; ++b)
      for (int oy = 0; oy < out[1]; ++oy)
        for (int ox = 0; ox < out[2]; ++ox)
          for (int ic = 0; ic < in[3]; ++ic)
            for (int j = 0; j < mult; ++j) {
              const int oc = j + ic * mult;
              const int8_t want =
                  Formula(p, m[oc], s[oc], in, input.data(), k_h, k_w, oy, ox,
                          b, ic, filter.data() + oc, co, 1, bias[oc]);
              ASSERT_EQ(got[((b * out[1] + oy) * out[2] + ox) * co + oc], want)
                  << "trial " << trial << " at " << b << "," << oy << ","
                  << ox << "," << oc;
            }
  }
}

// Input [1,2,3] with zero point 1 (real [0,1,2]); filter row [2,0,-1] with
// zero point 1 (real [1,-1,-2]); bias 10: 0 - 1 - 4 + 10 = 5, + Z_out 3.
// Ignoring the filter zero point would give -2 + 10 + 3 = 11.
TEST(FullyConnected, PerTensorUsesFilterZeroPoint) {
  const FullyConnectedParams p = {-1, -1, 3, -128, 127};
  const int8_t input[3] = {1, 2, 3};
  const int8_t filter[3] = {2, 0, -1};
  const int32_t bias[1] = {10};
  int8_t out[1] = {};
  FullyConnectedPerTensor(p, kHalf, 1, 1, 3, 1, input, filter, bias, out);
  EXPECT_EQ(out[0], 8);
}

// Two batches of depth 2 and two units; unit 1 has multiplier 0.5.
// Batch 0 [1,2]: unit 0 [1,1] -> 3, unit 1 [2,3] -> 8 / 2 = 4.
// Batch 1 [-4,5]: unit 0 -> 1, unit 1 -> 7 / 2 = 3.5 -> 4; bias [0, 0].
TEST(FullyConnected, PerChannelLayout) {
  const FullyConnectedParams p = {0, 0, 0, -128, 127};
  const int8_t input[4] = {1, 2, -4, 5};
  const int8_t filter[4] = {1, 1, 2, 3};
  const int32_t m[2] = {kHalf, kHalf};
  const int s[2] = {1, 0};
  int8_t out[4] = {};
  FullyConnectedPerChannel(p, m, s, 2, 2, 2, input, filter, nullptr, out);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[1], 4);
  EXPECT_EQ(out[2], 1);
  EXPECT_EQ(out[3], 4);

  // UINT8 outputs use bounds 0..255 and are stored as the same bytes.
  const FullyConnectedParams pu = {0, 0, 100, 0, 255};
  FullyConnectedPerChannel(pu, m, s, 2, 2, 2, input, filter, nullptr, out);
  EXPECT_EQ(static_cast<uint8_t>(out[0]), 103);
  EXPECT_EQ(static_cast<uint8_t>(out[1]), 104);
}

// Extreme inputs: the accumulator wraps like int32 and stays defined.
TEST(FullyConnected, LargeOffsetsWrap) {
  const FullyConnectedParams p = {kMax, 0, 0, -128, 127};
  const int8_t input[2] = {1, 1};
  const int8_t filter[2] = {1, 1};
  int8_t out[1] = {};
  // (1 + (2^31 - 1)) wraps to -2^31 twice: sum wraps to 0.
  FullyConnectedPerTensor(p, kHalf, 1, 1, 2, 1, input, filter, nullptr, out);
  EXPECT_EQ(out[0], 0);
}

TEST(Reshape, ResolveDims) {
  struct Case {
    int64_t elements;
    std::vector<int> dims;
    bool ok;
    std::vector<int> resolved;
    const char* why;
  } cases[] = {
      {12, {-1, 4}, true, {3, 4}, "leading -1"},
      {12, {2, -1, 2}, true, {2, 3, 2}, "middle -1"},
      {12, {-1, 5}, true, {2, 5}, "not divisible: count check fails later"},
      {12, {3, 4}, true, {3, 4}, "nothing to resolve"},
      {0, {0, -1}, false, {0, -1}, "product 0 would divide by zero"},
      {12, {-1, -1}, false, {-1, -1}, "two unknowns"},
  };
  for (Case& c : cases) {
    std::vector<int> dims = c.dims;
    EXPECT_EQ(ResolveReshapeDims(c.elements, dims.data(),
                                 static_cast<int>(dims.size())),
              c.ok)
        << c.why;
    if (c.ok) {
      EXPECT_EQ(dims, c.resolved) << c.why;
    }
  }
}

// [2,1,2] and [2,2,2] int16 along axis 1 -> [2,3,2]: outer 2, inner 2.
TEST(DataMovement, ConcatenationAndSplitV) {
  const int16_t a[4] = {100, 101, 102, 103};
  const int16_t b[8] = {200, 201, 202, 203, 204, 205, 206, 207};
  const void* inputs[2] = {a, b};
  const int axis_dims[2] = {1, 2};
  int16_t out[12] = {};
  Concatenation(2, inputs, axis_dims, 2, 2, sizeof(int16_t), out);
  const int16_t expected[12] = {100, 101, 200, 201, 202, 203,
                                102, 103, 204, 205, 206, 207};
  EXPECT_EQ(0, std::memcmp(out, expected, sizeof(out)));

  int16_t a2[4] = {};
  int16_t b2[8] = {};
  void* outputs[2] = {a2, b2};
  SplitV(expected, 2, outputs, axis_dims, 2, 2, sizeof(int16_t));
  EXPECT_EQ(0, std::memcmp(a2, a, sizeof(a)));
  EXPECT_EQ(0, std::memcmp(b2, b, sizeof(b)));
}

// An empty tensor has no storage: its null data must not be touched.
TEST(DataMovement, EmptyPartsHaveNoStorage) {
  const int8_t b[4] = {1, 2, 3, 4};
  const void* inputs[2] = {nullptr, b};
  const int axis_dims[2] = {0, 2};
  int8_t out[4] = {};
  Concatenation(2, inputs, axis_dims, 2, 1, 1, out);
  EXPECT_EQ(0, std::memcmp(out, b, sizeof(b)));

  int8_t b2[4] = {};
  void* outputs[2] = {nullptr, b2};
  SplitV(b, 2, outputs, axis_dims, 2, 1, 1);
  EXPECT_EQ(0, std::memcmp(b2, b, sizeof(b)));
}

// Input [3,4] holding 4 * row + col.
struct SliceCase {
  int32_t begin[2], end[2], strides[2];
  int32_t begin_mask, end_mask, shrink_mask;
  std::vector<int> out_dims;
  std::vector<int32_t> values;
  const char* why;
};

TEST(StridedSlice, Table) {
  const SliceCase cases[] = {
      {{0, 1}, {3, 3}, {1, 1}, 0, 0, 0, {3, 2}, {1, 2, 5, 6, 9, 10}, "plain"},
      {{-2, -3}, {-1, 4}, {1, 1}, 0, 0, 0, {1, 3}, {5, 6, 7},
       "negative begin/end add the dim: rows 1..2, cols 1..4"},
      {{2, 3}, {0, 0}, {-1, -2}, 0, 1, 0, {3, 2}, {11, 9, 7, 5, 3, 1},
       "negative strides; end mask gives -1 on rows; cols 3,1 (ceil 1.5)"},
      {{2, 2}, {2, 4}, {1, 1}, 1, 0, 0, {2, 2}, {2, 3, 6, 7},
       "begin mask on rows: 0"},
      {{0, 0}, {1, 0}, {1, -1}, 2, 0, 0, {1, 3}, {3, 2, 1},
       "begin mask with negative stride: dim - 1"},
      {{-10, 0}, {10, 1}, {1, 1}, 0, 0, 0, {3, 1}, {0, 4, 8},
       "begin/end clamp to [0, dim]"},
      {{1, 0}, {0, 0}, {1, 1}, 0, 2, 1, {4}, {4, 5, 6, 7},
       "shrink rows at 1, end mask on cols"},
      {{0, -1}, {0, 0}, {1, 1}, 0, 1, 2, {3}, {3, 7, 11},
       "shrink cols at -1 (= 3)"},
  };
  for (const SliceCase& c : cases) {
    int32_t input[12];
    for (int i = 0; i < 12; ++i) input[i] = i;
    StridedSliceParams p = {};
    p.rank = 2;
    for (int i = 0; i < 2; ++i) {
      p.begin[i] = c.begin[i];
      p.end[i] = c.end[i];
      p.strides[i] = c.strides[i];
    }
    p.begin_mask = c.begin_mask;
    p.end_mask = c.end_mask;
    p.shrink_axis_mask = c.shrink_mask;
    const int dims[2] = {3, 4};
    int out_dims[5] = {};
    int out_rank = -1;
    ASSERT_TRUE(StridedSliceOutputShape(p, dims, out_dims, &out_rank)) << c.why;
    EXPECT_EQ(std::vector<int>(out_dims, out_dims + out_rank), c.out_dims)
        << c.why;
    std::vector<int32_t> out(c.values.size(), -1);
    StridedSlice(p, dims, sizeof(int32_t), input, out.data());
    EXPECT_EQ(out, c.values) << c.why;
  }
}

TEST(StridedSlice, ShrinkOutsideTheAxisWritesNothing) {
  StridedSliceParams p = {};
  p.rank = 2;
  p.begin[0] = 5;  // clamps to 3 = dim: nothing to take
  p.end[1] = 4;
  p.strides[0] = p.strides[1] = 1;
  p.shrink_axis_mask = 1;
  const int dims[2] = {3, 4};
  int out_dims[5];
  int out_rank = 0;
  ASSERT_TRUE(StridedSliceOutputShape(p, dims, out_dims, &out_rank));
  EXPECT_EQ(out_rank, 1);
  EXPECT_EQ(out_dims[0], 4);
  int8_t input[12] = {};
  int8_t out[4] = {9, 9, 9, 9};
  StridedSlice(p, dims, 1, input, out);
  for (int8_t v : out) EXPECT_EQ(v, 9);
}

// Rank 4 [1,2,3,4] (value = flat index): the masks shift past the one
// prepended axis. begin mask on axis 2, shrink on axis 0, stride 2 on axis 3.
TEST(StridedSlice, Rank4MasksAndStride) {
  StridedSliceParams p = {};
  p.rank = 4;
  const int32_t begin[4] = {0, 1, 2, 1};
  const int32_t end[4] = {1, 2, 2, 4};
  for (int i = 0; i < 4; ++i) {
    p.begin[i] = begin[i];
    p.end[i] = end[i];
    p.strides[i] = i == 3 ? 2 : 1;
  }
  p.begin_mask = 4;
  p.shrink_axis_mask = 1;
  const int dims[4] = {1, 2, 3, 4};
  int out_dims[5];
  int out_rank = 0;
  ASSERT_TRUE(StridedSliceOutputShape(p, dims, out_dims, &out_rank));
  ASSERT_EQ(out_rank, 3);
  EXPECT_EQ(out_dims[0], 1);
  EXPECT_EQ(out_dims[1], 2);  // rows 0..1 of axis 2 (begin masked)
  EXPECT_EQ(out_dims[2], 2);  // 1, 3
  int8_t input[24];
  for (int i = 0; i < 24; ++i) input[i] = static_cast<int8_t>(i);
  int8_t out[4] = {};
  StridedSlice(p, dims, 1, input, out);
  // index = 12 * 1 + 4 * row + col
  EXPECT_EQ(out[0], 13);
  EXPECT_EQ(out[1], 15);
  EXPECT_EQ(out[2], 17);
  EXPECT_EQ(out[3], 19);
}

TEST(StridedSlice, Refusals) {
  StridedSliceParams p = {};
  p.rank = 2;
  p.end[0] = p.end[1] = 1;
  p.strides[0] = 1;
  p.strides[1] = 0;
  const int dims[2] = {3, 4};
  int out_dims[5];
  int out_rank = 0;
  EXPECT_FALSE(StridedSliceOutputShape(p, dims, out_dims, &out_rank))
      << "zero stride";
  p.strides[1] = 1;
  p.rank = 6;
  EXPECT_FALSE(StridedSliceOutputShape(p, dims, out_dims, &out_rank))
      << "rank above 5";
}

}  // namespace
}  // namespace arith
}  // namespace tflite
