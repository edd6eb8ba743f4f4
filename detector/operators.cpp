#include "detector/operators.h"

bool register_operators(OperatorResolver& resolver) {
  return resolver.AddCallOnce(tflite::Register_CALL_ONCE()) == kTfLiteOk &&
         resolver.AddVarHandle(tflite::Register_VAR_HANDLE()) == kTfLiteOk &&
         resolver.AddReadVariable(tflite::Register_READ_VARIABLE()) == kTfLiteOk &&
         resolver.AddAssignVariable(tflite::Register_ASSIGN_VARIABLE()) == kTfLiteOk &&
         resolver.AddReshape(tflite::Register_RESHAPE()) == kTfLiteOk &&
         resolver.AddConcatenation(tflite::Register_CONCATENATION()) == kTfLiteOk &&
         resolver.AddStridedSlice(tflite::Register_STRIDED_SLICE()) == kTfLiteOk &&
         resolver.AddConv2D(tflite::Register_CONV_2D()) == kTfLiteOk &&
         resolver.AddDepthwiseConv2D(tflite::Register_DEPTHWISE_CONV_2D()) == kTfLiteOk &&
         resolver.AddSplitV(tflite::Register_SPLIT_V()) == kTfLiteOk &&
         resolver.AddFullyConnected(tflite::Register_FULLY_CONNECTED()) == kTfLiteOk &&
         resolver.AddLogistic(tflite::Register_LOGISTIC()) == kTfLiteOk &&
         resolver.AddQuantize(tflite::Register_QUANTIZE()) == kTfLiteOk;
}
