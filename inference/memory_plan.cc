#include "inference/memory_plan.h"

#include <cstring>

#include "inference/builtin_codes.h"
#include "inference/builtin_options.h"
#include "inference/greedy_memory_planner.h"
#include "inference/kernels/kernel_util.h"
#include "inference/micro_allocator.h"
#include "inference/micro_log.h"
#include "inference/model_util.h"

namespace tflite {

namespace {

struct TensorLifetime {
  int first;
  int last;
};

// Planner bookkeeping at the original runtime's sizes, for the same verdict
// on whether a model fits: per subgraph, per tensor, per planned buffer.
constexpr size_t kPlanPerSubgraphBytes = RecordBytes<sizeof(int), 8, 4>();
constexpr size_t kPlanPerTensorBytes =
    RecordBytes<sizeof(TensorLifetime) + sizeof(int), 32, 24>();
constexpr size_t kPlanPerBufferBytes =
    RecordBytes<sizeof(PlannerBuffer) + sizeof(int), 40, 40>();

constexpr char kOfflinePlanName[] = "OfflineMemoryAllocation";
// Lifetime end of buffers that must never share memory with others.
constexpr int kWholeRun = 0x7fffffff;

// Scope walk of the lifetimes: one counter over the whole model, the
// subgraphs called by CALL_ONCE walked at the caller's position.
struct LifetimeWalk {
  const Model* model;
  const TfLiteContext* context;
  const int* tensor_base;  // index of each subgraph's first tensor
  TensorLifetime* lifetimes;
  int scope;
};

void MarkInputs(LifetimeWalk& w, int s, const TfLiteIntArray* list) {
  for (int k = 0; k < list->size; ++k) {
    if (list->data[k] < 0) continue;
    TensorLifetime& l = w.lifetimes[w.tensor_base[s] + list->data[k]];
    l.last = w.scope;
  }
}

void MarkOutputs(LifetimeWalk& w, int s, const TfLiteIntArray* list) {
  for (int k = 0; k < list->size; ++k) {
    if (list->data[k] < 0) continue;
    TensorLifetime& l = w.lifetimes[w.tensor_base[s] + list->data[k]];
    if (l.first == -1) l.first = w.scope;
    l.last = w.scope;
  }
}

// False (after a message) when the subgraphs call each other in a cycle:
// a chain of calls longer than the number of subgraphs repeats one.
bool WalkSubgraph(LifetimeWalk& w, int s, int depth) {
  if (depth > w.context->subgraph_count) {
    MicroPrintf("Subgraph %d calls itself", s);
    return false;
  }
  const SubGraph* subgraph = w.model->subgraphs()->Get(s);
  MarkOutputs(w, s, AsIntArray(subgraph->inputs()));  // start here unless produced earlier
  const unsigned op_count = OperatorCount(subgraph);
  for (unsigned i = 0; i < op_count; ++i) {
    const NodeAndRegistration& node = w.context->subgraphs[s].nodes[i];
    ++w.scope;
    for (int k = 0; k < node.node.outputs->size; ++k) {
      const int t = node.node.outputs->data[k];
      if (t >= 0 && w.lifetimes[w.tensor_base[s] + t].first == -1) {
        w.lifetimes[w.tensor_base[s] + t].first = w.scope;
      }
    }
    if (node.registration->builtin_code == kBuiltinCallOnce) {
      const int called =
          static_cast<const CallOnceOptionsData*>(node.node.builtin_data)->init_subgraph_index;
      if (called >= 0 && called < w.context->subgraph_count) {
        ++w.scope;
        if (!WalkSubgraph(w, called, depth + 1)) return false;
      }
    }
    MarkInputs(w, s, node.node.inputs);
    for (int k = 0; k < node.node.outputs->size; ++k) {
      const int t = node.node.outputs->data[k];
      if (t >= 0) w.lifetimes[w.tensor_base[s] + t].last = w.scope;
    }
  }
  MarkOutputs(w, s, AsIntArray(subgraph->outputs()));
  return true;
}

// The offline plan: a metadata entry naming a buffer of little-endian int32
// words [version, subgraphs, n, offset per tensor of all subgraphs]. Sets
// *offsets to the offset words, or null without such an entry; false after a
// message when the entry does not fit the model.
bool OfflineOffsets(const Model* model, int total_tensors, const uint8_t** offsets) {
  *offsets = nullptr;
  const auto* metadata = model->metadata();
  if (metadata == nullptr) return true;
  for (unsigned i = 0; i < metadata->size(); ++i) {
    const Metadata* entry = metadata->Get(i);
    if (entry->name() == nullptr || std::strcmp(entry->name()->c_str(), kOfflinePlanName) != 0) {
      continue;
    }
    const auto* buffers = model->buffers();
    const flatbuffers::Vector<uint8_t>* data =
        buffers != nullptr && entry->buffer() < buffers->size()
            ? buffers->Get(entry->buffer())->data()
            : nullptr;
    if (data == nullptr || data->size() < 3 * sizeof(int32_t)) {
      MicroPrintf("The offline memory plan refers to no usable buffer");
      return false;
    }
    int32_t count = 0;
    std::memcpy(&count, data->data() + 2 * sizeof(int32_t), sizeof(count));
    if (count != total_tensors) {
      MicroPrintf("Nbr of offline buffer offsets (%d) in metadata not equal nbr tensors (%d)\n",
                  count, total_tensors);
      return false;
    }
    if (data->size() < (3 + static_cast<size_t>(count)) * sizeof(int32_t)) {
      MicroPrintf("The offline memory plan is shorter than its tensor count");
      return false;
    }
    *offsets = data->data() + 3 * sizeof(int32_t);
    return true;
  }
  return true;
}

int32_t OfflineOffset(const uint8_t* offsets, int tensor) {
  int32_t offset = -1;
  if (offsets != nullptr) std::memcpy(&offset, offsets + 4 * tensor, sizeof(offset));
  return offset;
}

}  // namespace

TfLiteStatus PlanMemory(TfLiteContext* context) {
  const Model* model = context->model;
  MicroAllocator* allocator = context->allocator;
  const auto* subgraphs = model->subgraphs();
  const int subgraph_count = context->subgraph_count;
  int total_tensors = 0;
  for (int s = 0; s < subgraph_count; ++s) {
    total_tensors += static_cast<int>(subgraphs->Get(s)->tensors()->size());
  }

  // Bookkeeping in temp memory, in two blocks as in the original runtime:
  // per subgraph its first tensor index; per tensor its lifetime and
  // planned buffer.
  const size_t block_bytes[2] = {kPlanPerSubgraphBytes * subgraph_count,
                                 kPlanPerTensorBytes * total_tensors};
  void* blocks[2] = {nullptr, nullptr};
  for (int b = 0; b < 2; ++b) {
    blocks[b] = allocator->AllocateTemp(block_bytes[b], kRecordAlignment);
    if (blocks[b] == nullptr) {
      MicroPrintf("Failed to allocate memory for memory planning, %d bytes required",
                  static_cast<int>(block_bytes[b]));
      return kTfLiteError;
    }
  }
  int* tensor_base = static_cast<int*>(blocks[0]);
  TensorLifetime* lifetimes = static_cast<TensorLifetime*>(blocks[1]);
  int* buffer_of = reinterpret_cast<int*>(lifetimes + total_tensors);  // planned index or -1
  for (int s = 0, base = 0; s < subgraph_count; ++s) {
    tensor_base[s] = base;
    base += static_cast<int>(subgraphs->Get(s)->tensors()->size());
  }
  for (int t = 0; t < total_tensors; ++t) lifetimes[t] = TensorLifetime{-1, -1};

  const uint8_t* offline = nullptr;
  if (!OfflineOffsets(model, total_tensors, &offline)) return kTfLiteError;
  for (int t = 0; t < total_tensors; ++t) {
    if (OfflineOffset(offline, t) < -1) {
      MicroPrintf("Offline offset %d of tensor %d is negative", OfflineOffset(offline, t), t);
      return kTfLiteError;
    }
  }

  // Variable tensors live for the whole run: in the tail, or where the
  // offline plan puts them.
  for (int s = 0; s < subgraph_count; ++s) {
    const auto* tensors = subgraphs->Get(s)->tensors();
    for (unsigned t = 0; t < tensors->size(); ++t) {
      if (!tensors->Get(t)->is_variable()) continue;
      if (OfflineOffset(offline, tensor_base[s] + t) >= 0) continue;
      TfLiteEvalTensor& eval = context->subgraphs[s].tensors[t];
      const size_t bytes = TensorBytes(*eval.dims, eval.type);
      if (HasNegativeDim(*eval.dims) || TypeSize(eval.type) == 0) {
        MicroPrintf("Variable tensor %u of subgraph %d has no fixed size", t, s);
        return kTfLiteError;
      }
      eval.data.data = allocator->AllocatePersistent(bytes, 16);
      if (eval.data.data == nullptr) {
        MicroPrintf("Failed to allocate variable tensor of size %d", static_cast<int>(bytes));
        return kTfLiteError;
      }
    }
  }

  for (int s = 0; s < subgraph_count; ++s) {
    const SubGraph* subgraph = subgraphs->Get(s);
    const unsigned op_count = OperatorCount(subgraph);
    for (unsigned i = 0; i < op_count; ++i) {
      const TfLiteIntArray* list = AsIntArray(subgraph->operators()->Get(i)->intermediates());
      for (int k = 0; k < list->size; ++k) {
        if (list->data[k] < 0) continue;
        const TfLiteEvalTensor& eval = context->subgraphs[s].tensors[list->data[k]];
        const size_t bytes = TensorBytes(*eval.dims, eval.type);
        if (bytes != 0 || HasNegativeDim(*eval.dims)) {
          MicroPrintf("Does not support intermediate tensor with non-zero size: %d",
                      static_cast<int>(bytes));
          return kTfLiteError;
        }
      }
    }
  }

  // Which tensors the plan places.
  int planned = 0;
  for (int s = 0; s < subgraph_count; ++s) {
    const auto* tensors = subgraphs->Get(s)->tensors();
    for (unsigned t = 0; t < tensors->size(); ++t) {
      const TfLiteEvalTensor& eval = context->subgraphs[s].tensors[t];
      int& slot = buffer_of[tensor_base[s] + t];
      slot = -1;
      if (eval.data.data != nullptr) continue;
      if (TypeSize(eval.type) == 0) return kTfLiteError;  // no size: refused without a message
      if (HasNegativeDim(*eval.dims)) {
        MicroPrintf("Tensor %u of subgraph %d has no fixed size", t, s);
        return kTfLiteError;
      }
      if (TensorBytes(*eval.dims, eval.type) == 0) continue;
      slot = planned++;
    }
  }

  // The planner works in the 16-aligned room left between the bookkeeping
  // and the tail.
  const size_t capacity = allocator->AvailableTemp(16) / kPlanPerBufferBytes;
  if (static_cast<size_t>(planned) > capacity) {
    // Its working area has taken every free byte, up to the tail.
    allocator->AllocateTemp(allocator->AvailableTemp(1), 1);
    MicroPrintf("Too many buffers (max is %d)", static_cast<int>(capacity));
    return kTfLiteError;
  }
  auto* buffers =
      static_cast<PlannerBuffer*>(allocator->AllocateTemp(kPlanPerBufferBytes * planned, 16));
  int* order = reinterpret_cast<int*>(buffers + planned);

  LifetimeWalk walk{model, context, tensor_base, lifetimes, 0};
  if (!WalkSubgraph(walk, 0, 1)) return kTfLiteError;
  for (int s = 0; s < subgraph_count; ++s) {
    const auto* tensors = subgraphs->Get(s)->tensors();
    for (unsigned t = 0; t < tensors->size(); ++t) {
      if (tensors->Get(t)->is_variable() && OfflineOffset(offline, tensor_base[s] + t) >= 0) {
        lifetimes[tensor_base[s] + t] = TensorLifetime{0, kWholeRun};
      }
    }
  }

  for (int g = 0; g < total_tensors; ++g) {
    if (buffer_of[g] < 0) continue;
    int s = subgraph_count - 1;
    while (tensor_base[s] > g) --s;
    const TfLiteEvalTensor& eval = context->subgraphs[s].tensors[g - tensor_base[s]];
    const size_t bytes = TensorBytes(*eval.dims, eval.type);
    PlannerBuffer& b = buffers[buffer_of[g]];
    b.size = static_cast<int>((bytes + 15) / 16 * 16);
    b.first = lifetimes[g].first;
    b.last = lifetimes[g].last;
    b.offset = OfflineOffset(offline, g);
    b.fixed = b.offset >= 0;
    b.next = -1;
  }
  // An offline plan must not put tensors that are live together in the same bytes.
  int clash_a = 0;
  int clash_b = 0;
  if (!FixedBuffersDisjoint(buffers, planned, &clash_a, &clash_b)) {
    MicroPrintf("The offline memory plan overlaps planned buffers %d and %d", clash_a, clash_b);
    return kTfLiteError;
  }
  const size_t plan_size = PlanGreedy(buffers, planned, order);

  // The head is rebuilt from nothing: the request block goes, the plan comes.
  uint8_t* head = allocator->head_start();
  for (int g = 0, s = 0; g < total_tensors; ++g) {
    while (s + 1 < subgraph_count && tensor_base[s + 1] <= g) ++s;
    if (buffer_of[g] < 0) continue;
    context->subgraphs[s].tensors[g - tensor_base[s]].data.data =
        head + buffers[buffer_of[g]].offset;
  }
  allocator->ResetTemp();
  allocator->ResizeHead(0);
  if (!allocator->ResizeHead(plan_size)) return kTfLiteError;
  return kTfLiteOk;
}

}  // namespace tflite
