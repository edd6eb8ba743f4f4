#ifndef INFERENCE_KERNELS_MICRO_OPS_H_
#define INFERENCE_KERNELS_MICRO_OPS_H_

#include "inference/common.h"

namespace tflite {

TFLMRegistration Register_CALL_ONCE();
TFLMRegistration Register_VAR_HANDLE();
TFLMRegistration Register_READ_VARIABLE();
TFLMRegistration Register_ASSIGN_VARIABLE();
TFLMRegistration Register_RESHAPE();
TFLMRegistration Register_CONCATENATION();
TFLMRegistration Register_STRIDED_SLICE();
TFLMRegistration Register_CONV_2D();
TFLMRegistration Register_DEPTHWISE_CONV_2D();
TFLMRegistration Register_SPLIT_V();
TFLMRegistration Register_FULLY_CONNECTED();
TFLMRegistration Register_LOGISTIC();
TFLMRegistration Register_QUANTIZE();

}  // namespace tflite

#endif  // INFERENCE_KERNELS_MICRO_OPS_H_
