#ifndef INFERENCE_MICRO_INTERPRETER_H_
#define INFERENCE_MICRO_INTERPRETER_H_

#include <cstddef>

#include "inference/common.h"
#include "inference/micro_allocator.h"
#include "inference/micro_context.h"
#include "inference/micro_op_resolver.h"
#include "inference/micro_resource_variables.h"
#include "inference/schema.h"

namespace tflite {

class MicroProfilerInterface;

// Runs a model read in place from its buffer, with every byte of working
// memory taken from the allocator's arena.
class MicroInterpreter {
 public:
  MicroInterpreter(const Model* model, const MicroOpResolver& op_resolver,
                   MicroAllocator* allocator, MicroResourceVariables* resource_variables = nullptr,
                   MicroProfilerInterface* profiler = nullptr);

  TfLiteStatus AllocateTensors();
  TfLiteStatus Invoke();

  size_t inputs_size() const;
  size_t outputs_size() const;
  // Null (after a message) when out of range or not allocated.
  TfLiteTensor* input(size_t index);
  TfLiteTensor* output(size_t index);

  size_t arena_used_bytes() const { return allocator_->used_bytes(); }

 private:
  enum class State { kNew, kAllocated, kFailed };

  TfLiteStatus Allocate();
  TfLiteStatus StartAllocation();
  TfLiteStatus ResolveOperators();
  TfLiteStatus InitOperators();
  TfLiteStatus PrepareOperators();
  TfLiteStatus CreateIoViews();
  void ResetVariables();

  const Model* model_;
  const MicroOpResolver& op_resolver_;
  MicroAllocator* allocator_;
  MicroResourceVariables* resource_variables_;
  TfLiteContext context_;
  State state_ = State::kNew;
  TfLiteTensor** input_views_ = nullptr;
  TfLiteTensor** output_views_ = nullptr;
};

}  // namespace tflite

#endif  // INFERENCE_MICRO_INTERPRETER_H_
