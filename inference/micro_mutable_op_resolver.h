#ifndef INFERENCE_MICRO_MUTABLE_OP_RESOLVER_H_
#define INFERENCE_MICRO_MUTABLE_OP_RESOLVER_H_

#include "inference/builtin_codes.h"
#include "inference/common.h"
#include "inference/kernels/micro_ops.h"
#include "inference/micro_log.h"
#include "inference/micro_op_resolver.h"

namespace tflite {

// A resolver with room for tOpCount kernels, each added once.
template <unsigned int tOpCount>
class MicroMutableOpResolver : public MicroOpResolver {
 public:
  const TFLMRegistration* FindOp(int builtin_code) const override {
    for (unsigned int i = 0; i < count_; ++i) {
      if (registrations_[i].builtin_code == builtin_code) return &registrations_[i];
    }
    return nullptr;
  }

  TfLiteStatus AddCallOnce(const TFLMRegistration& r) { return AddBuiltin(kBuiltinCallOnce, r); }
  TfLiteStatus AddVarHandle(const TFLMRegistration& r) { return AddBuiltin(kBuiltinVarHandle, r); }
  TfLiteStatus AddReadVariable(const TFLMRegistration& r) {
    return AddBuiltin(kBuiltinReadVariable, r);
  }
  TfLiteStatus AddAssignVariable(const TFLMRegistration& r) {
    return AddBuiltin(kBuiltinAssignVariable, r);
  }
  TfLiteStatus AddReshape(const TFLMRegistration& r) { return AddBuiltin(kBuiltinReshape, r); }
  TfLiteStatus AddConcatenation(const TFLMRegistration& r) {
    return AddBuiltin(kBuiltinConcatenation, r);
  }
  TfLiteStatus AddStridedSlice(const TFLMRegistration& r) {
    return AddBuiltin(kBuiltinStridedSlice, r);
  }
  TfLiteStatus AddConv2D(const TFLMRegistration& r) { return AddBuiltin(kBuiltinConv2D, r); }
  TfLiteStatus AddDepthwiseConv2D(const TFLMRegistration& r) {
    return AddBuiltin(kBuiltinDepthwiseConv2D, r);
  }
  TfLiteStatus AddSplitV(const TFLMRegistration& r) { return AddBuiltin(kBuiltinSplitV, r); }
  TfLiteStatus AddFullyConnected(const TFLMRegistration& r) {
    return AddBuiltin(kBuiltinFullyConnected, r);
  }
  TfLiteStatus AddLogistic(const TFLMRegistration& r) { return AddBuiltin(kBuiltinLogistic, r); }
  TfLiteStatus AddQuantize(const TFLMRegistration& r) { return AddBuiltin(kBuiltinQuantize, r); }

 private:
  TfLiteStatus AddBuiltin(int code, const TFLMRegistration& registration) {
    if (FindOp(code) != nullptr) {
      MicroPrintf("Calling AddBuiltin with the same op more than ");
      MicroPrintf("once is not supported (Op: #%d).", code);
      return kTfLiteError;
    }
    if (count_ >= tOpCount) {
      MicroPrintf("Couldn't register builtin op #%d, resolver size ", code);
      MicroPrintf("is too small (%d).", static_cast<int>(tOpCount));
      return kTfLiteError;
    }
    registrations_[count_] = registration;
    registrations_[count_].builtin_code = code;
    ++count_;
    return kTfLiteOk;
  }

  TFLMRegistration registrations_[tOpCount] = {};
  unsigned int count_ = 0;
};

}  // namespace tflite

#endif  // INFERENCE_MICRO_MUTABLE_OP_RESOLVER_H_
