// Runtime types shared by the interpreter, the kernels and the callers.
#ifndef INFERENCE_COMMON_H_
#define INFERENCE_COMMON_H_

#include <cstddef>
#include <cstdint>

typedef enum TfLiteStatus { kTfLiteOk = 0, kTfLiteError = 1 } TfLiteStatus;

typedef enum TfLiteType {
  kTfLiteNoType = 0,
  kTfLiteFloat32 = 1,
  kTfLiteInt32 = 2,
  kTfLiteUInt8 = 3,
  kTfLiteInt64 = 4,
  kTfLiteString = 5,
  kTfLiteBool = 6,
  kTfLiteInt16 = 7,
  kTfLiteComplex64 = 8,
  kTfLiteInt8 = 9,
  kTfLiteFloat16 = 10,
  kTfLiteFloat64 = 11,
  kTfLiteComplex128 = 12,
  kTfLiteUInt64 = 13,
  kTfLiteResource = 14,
  kTfLiteVariant = 15,
  kTfLiteUInt32 = 16,
  kTfLiteUInt16 = 17,
  kTfLiteInt4 = 18,
  kTfLiteBFloat16 = 19,
  kTfLiteInt2 = 20,
  kTfLiteUInt4 = 21,
  kTfLiteFloat8E4M3FN = 22,
  kTfLiteFloat8E5M2 = 23,
} TfLiteType;

// Layout-compatible with a FlatBuffers vector (length word, then elements),
// so model shape and scale vectors serve in place.
struct TfLiteIntArray {
  int size;
  int data[];
};

struct TfLiteFloatArray {
  int size;
  float data[];
};

struct TfLiteQuantizationParams {
  float scale;
  int32_t zero_point;
};

typedef enum TfLiteQuantizationType {
  kTfLiteNoQuantization = 0,
  kTfLiteAffineQuantization = 1,
} TfLiteQuantizationType;

struct TfLiteAffineQuantization {
  const TfLiteFloatArray* scale;
  TfLiteIntArray* zero_point;
  int32_t quantized_dimension;
};

struct TfLiteQuantization {
  TfLiteQuantizationType type;
  TfLiteAffineQuantization* params;
};

union TfLitePtrUnion {
  int32_t* i32;
  uint32_t* u32;
  int64_t* i64;
  uint64_t* u64;
  float* f;
  double* f64;
  char* raw;
  const char* raw_const;
  uint8_t* uint8;
  bool* b;
  int16_t* i16;
  uint16_t* ui16;
  int8_t* int8;
  void* data;
};

typedef enum TfLiteAllocationType {
  kTfLiteMemNone = 0,
  kTfLiteMmapRo = 1,  // constant, read in place from the model
  kTfLiteArenaRw = 2,
} TfLiteAllocationType;

// A full tensor view: kernels get these during prepare, callers for the
// model's inputs and outputs.
struct TfLiteTensor {
  TfLiteType type;
  TfLitePtrUnion data;
  TfLiteIntArray* dims;
  TfLiteQuantizationParams params;
  TfLiteQuantization quantization;
  size_t bytes;
  TfLiteAllocationType allocation_type;
  bool is_variable;
};

// The compact per-tensor record kept for the whole run and used at invoke.
struct TfLiteEvalTensor {
  TfLitePtrUnion data;
  TfLiteIntArray* dims;
  TfLiteType type;
};

struct TfLiteNode {
  const TfLiteIntArray* inputs;
  const TfLiteIntArray* outputs;
  void* user_data;     // the kernel's persistent state from init
  void* builtin_data;  // the parsed options
};

struct TfLiteContext;

struct TFLMRegistration {
  void* (*init)(TfLiteContext* context, const char* buffer, size_t length);
  void (*free)(TfLiteContext* context, void* buffer);
  TfLiteStatus (*prepare)(TfLiteContext* context, TfLiteNode* node);
  TfLiteStatus (*invoke)(TfLiteContext* context, TfLiteNode* node);
  void (*reset)(TfLiteContext* context, void* buffer);
  int32_t builtin_code;
  const char* custom_name;
};

#endif  // INFERENCE_COMMON_H_
