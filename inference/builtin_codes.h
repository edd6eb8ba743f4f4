#ifndef INFERENCE_BUILTIN_CODES_H_
#define INFERENCE_BUILTIN_CODES_H_

namespace tflite {

// Builtin operator codes of the model format that the runtime handles.
enum BuiltinCode : int {
  kBuiltinAdd = 0,
  kBuiltinConcatenation = 2,
  kBuiltinConv2D = 3,
  kBuiltinDepthwiseConv2D = 4,
  kBuiltinFullyConnected = 9,
  kBuiltinLogistic = 14,
  kBuiltinReshape = 22,
  kBuiltinCustom = 32,
  kBuiltinStridedSlice = 45,
  kBuiltinSplitV = 102,
  kBuiltinQuantize = 114,
  kBuiltinIf = 118,
  kBuiltinWhile = 119,
  kBuiltinCallOnce = 129,
  kBuiltinVarHandle = 142,
  kBuiltinReadVariable = 143,
  kBuiltinAssignVariable = 144,
};

}  // namespace tflite

#endif  // INFERENCE_BUILTIN_CODES_H_
