// The state kernels reach through their TfLiteContext argument.
#ifndef INFERENCE_MICRO_CONTEXT_H_
#define INFERENCE_MICRO_CONTEXT_H_

#include "inference/common.h"

namespace tflite {

struct Model;
class MicroAllocator;
class MicroResourceVariables;

struct NodeAndRegistration {
  TfLiteNode node;
  const TFLMRegistration* registration;
};

struct SubgraphAllocations {
  TfLiteEvalTensor* tensors;
  NodeAndRegistration* nodes;
};

}  // namespace tflite

struct TfLiteContext {
  const tflite::Model* model;
  tflite::MicroAllocator* allocator;
  tflite::MicroResourceVariables* resource_variables;  // may be null
  tflite::SubgraphAllocations* subgraphs;
  int subgraph_count;
  // Tensor indices resolve in this subgraph's tensor list.
  int current_subgraph;
};

namespace tflite {

// A full view of tensor `tensor_index` of `subgraph`, in temp memory or (for
// the model's inputs and outputs) in the tail. Null after a message when the
// arena is exhausted.
TfLiteTensor* CreateTensorView(TfLiteContext* context, int subgraph, int tensor_index,
                               bool persistent);

// Runs every operator of the subgraph in order; the first failure ends it.
TfLiteStatus InvokeSubgraph(TfLiteContext* context, int subgraph_index);

}  // namespace tflite

#endif  // INFERENCE_MICRO_CONTEXT_H_
