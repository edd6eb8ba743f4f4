#ifndef INFERENCE_MICRO_OP_RESOLVER_H_
#define INFERENCE_MICRO_OP_RESOLVER_H_

#include "inference/common.h"

namespace tflite {

// Maps builtin operator codes to kernel registrations.
class MicroOpResolver {
 public:
  // Null when no kernel is registered for the code.
  virtual const TFLMRegistration* FindOp(int builtin_code) const = 0;
  virtual ~MicroOpResolver() = default;
};

}  // namespace tflite

#endif  // INFERENCE_MICRO_OP_RESOLVER_H_
