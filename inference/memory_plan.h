// Step 6 of building the interpreter: where every tensor lives.
#ifndef INFERENCE_MEMORY_PLAN_H_
#define INFERENCE_MEMORY_PLAN_H_

#include "inference/common.h"
#include "inference/micro_context.h"

namespace tflite {

// Gives the variable tensors their storage, plans the other non-constant
// tensors of every subgraph in the head (online, greedy, around any offline
// offsets in the model's metadata) and sets their data pointers. Needs as
// much temp memory for the planning as the original runtime.
TfLiteStatus PlanMemory(TfLiteContext* context);

}  // namespace tflite

#endif  // INFERENCE_MEMORY_PLAN_H_
