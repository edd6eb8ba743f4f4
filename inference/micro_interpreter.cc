#include "inference/micro_interpreter.h"

#include <cstring>
#include <new>

#include "inference/builtin_codes.h"
#include "inference/builtin_options.h"
#include "inference/kernels/kernel_util.h"
#include "inference/memory_plan.h"
#include "inference/micro_log.h"
#include "inference/model_util.h"
#include "inference/op_names.h"
#include "inference/parse_options.h"

namespace tflite {

namespace {

// Arena records, at the original runtime's sizes (see RecordBytes).
constexpr size_t kOptionAllocatorBytes = RecordBytes<2 * sizeof(void*), 16, 8>();
constexpr size_t kSubgraphBytes = RecordBytes<sizeof(SubgraphAllocations), 16, 8>();
constexpr size_t kEvalTensorBytes = RecordBytes<sizeof(TfLiteEvalTensor), 24, 12>();
constexpr size_t kNodeBytes = RecordBytes<sizeof(NodeAndRegistration), 64, 32>();
constexpr size_t kViewPointerBytes = RecordBytes<sizeof(TfLiteTensor*), 8, 4>();

// The head block the original runtime keeps for scratch-buffer requests:
// room for 12 requests. No kernel here requests scratch memory, so nothing
// of ours is kept there.
constexpr size_t kRequestBlockBytes = 12 * RecordBytes<0, 16, 12>();
// Largest tensor accepted: keeps every size and product in range.
constexpr int64_t kMaxTensorBytes = int64_t{1} << 30;

int OperatorBuiltinCode(const OperatorCode* code) {
  const int deprecated = code->deprecated_builtin_code();
  return code->builtin_code() > deprecated ? code->builtin_code() : deprecated;
}

// A shape is usable when every dimension is a size or -1 (resolved by
// RESHAPE) and the bytes of its non-zero dimensions stay in range, so that
// products of any of its dimensions do too.
bool ShapeValid(const TfLiteIntArray& dims, TfLiteType type) {
  int64_t bytes = TypeSize(type) > 0 ? static_cast<int64_t>(TypeSize(type)) : 1;
  for (int i = 0; i < dims.size; ++i) {
    if (dims.data[i] < -1) return false;
    if (dims.data[i] > 0) {
      bytes *= dims.data[i];
      if (bytes > kMaxTensorBytes) return false;
    }
  }
  return true;
}

}  // namespace

MicroInterpreter::MicroInterpreter(const Model* model, const MicroOpResolver& op_resolver,
                                   MicroAllocator* allocator,
                                   MicroResourceVariables* resource_variables,
                                   MicroProfilerInterface*)
    : model_(model),
      op_resolver_(op_resolver),
      allocator_(allocator),
      resource_variables_(resource_variables),
      context_{model, allocator, resource_variables, nullptr, 0, 0} {}

size_t MicroInterpreter::inputs_size() const {
  if (model_ == nullptr || model_->subgraphs() == nullptr || model_->subgraphs()->size() == 0) {
    return 0;
  }
  const auto* inputs = model_->subgraphs()->Get(0)->inputs();
  return inputs ? inputs->size() : 0;
}

size_t MicroInterpreter::outputs_size() const {
  if (model_ == nullptr || model_->subgraphs() == nullptr || model_->subgraphs()->size() == 0) {
    return 0;
  }
  const auto* outputs = model_->subgraphs()->Get(0)->outputs();
  return outputs ? outputs->size() : 0;
}

TfLiteTensor* MicroInterpreter::input(size_t index) {
  const size_t length = inputs_size();
  if (index >= length) {
    MicroPrintf("Input index %d out of range (length is %d)", static_cast<int>(index),
                static_cast<int>(length));
    return nullptr;
  }
  if (state_ != State::kAllocated) {
    MicroPrintf("Input %d is not available: the tensors are not allocated",
                static_cast<int>(index));
    return nullptr;
  }
  return input_views_[index];
}

TfLiteTensor* MicroInterpreter::output(size_t index) {
  const size_t length = outputs_size();
  if (index >= length) {
    MicroPrintf("Output index %d out of range (length is %d)", static_cast<int>(index),
                static_cast<int>(length));
    return nullptr;
  }
  if (state_ != State::kAllocated) {
    MicroPrintf("Output %d is not available: the tensors are not allocated",
                static_cast<int>(index));
    return nullptr;
  }
  return output_views_[index];
}

TfLiteStatus MicroInterpreter::AllocateTensors() {
  if (state_ == State::kAllocated) return kTfLiteOk;
  if (state_ == State::kFailed) {
    // A failed allocation leaves the arena half used: never build twice.
    MicroPrintf(
        "MicroAllocator: Model allocation started before finishing previously allocated "
        "model");
    MicroPrintf("Failed starting model allocation.\n");
    return kTfLiteError;
  }
  const TfLiteStatus status = Allocate();
  state_ = status == kTfLiteOk ? State::kAllocated : State::kFailed;
  return status;
}

TfLiteStatus MicroInterpreter::Allocate() {
  if (model_ == nullptr || allocator_ == nullptr) {
    MicroPrintf("The interpreter needs a model and an allocator");
    return kTfLiteError;
  }
  if (StartAllocation() != kTfLiteOk) return kTfLiteError;
  if (ResolveOperators() != kTfLiteOk) return kTfLiteError;
  if (InitOperators() != kTfLiteOk) return kTfLiteError;
  if (PrepareOperators() != kTfLiteOk) return kTfLiteError;
  if (PlanMemory(&context_) != kTfLiteOk) return kTfLiteError;
  allocator_->set_model_allocating(false);
  if (CreateIoViews() != kTfLiteOk) return kTfLiteError;
  ResetVariables();
  return kTfLiteOk;
}

TfLiteStatus MicroInterpreter::StartAllocation() {
  if (allocator_->model_allocating()) {
    MicroPrintf(
        "MicroAllocator: Model allocation started before finishing previously allocated "
        "model");
    MicroPrintf("Failed starting model allocation.\n");
    return kTfLiteError;
  }
  allocator_->set_model_allocating(true);
  const auto fail = []() {
    MicroPrintf("Failed starting model allocation.\n");
    return kTfLiteError;
  };

  const auto* subgraphs = model_->subgraphs();
  if (subgraphs == nullptr || subgraphs->size() == 0) {
    MicroPrintf("The model has no subgraph");
    return fail();
  }
  if (allocator_->AllocatePersistent(kOptionAllocatorBytes, kRecordAlignment) == nullptr) {
    return fail();
  }
  if (!allocator_->ResizeHead(kRequestBlockBytes)) return fail();

  const int count = static_cast<int>(subgraphs->size());
  void* records = allocator_->AllocatePersistent(kSubgraphBytes * count, kRecordAlignment);
  if (records == nullptr) {
    MicroPrintf("Failed to allocate memory for model metadata.");
    return fail();
  }
  context_.subgraphs = static_cast<SubgraphAllocations*>(records);
  context_.subgraph_count = count;

  const auto* buffers = model_->buffers();
  for (int s = 0; s < count; ++s) {
    const SubGraph* subgraph = subgraphs->Get(s);
    SubgraphAllocations& allocations = context_.subgraphs[s];
    allocations = SubgraphAllocations{nullptr, nullptr};
    const auto* tensors = subgraph->tensors();
    if (tensors == nullptr) {
      MicroPrintf("Subgraph %d has no tensors", s);
      return fail();
    }
    const int tensor_count = static_cast<int>(tensors->size());
    const size_t bytes = kEvalTensorBytes * tensor_count;
    void* memory = allocator_->AllocatePersistent(bytes, kRecordAlignment);
    if (memory == nullptr) {
      MicroPrintf("Failed to allocate memory for context->eval_tensors, %d bytes required",
                  static_cast<int>(bytes));
      return fail();
    }
    allocations.tensors = static_cast<TfLiteEvalTensor*>(memory);
    for (int t = 0; t < tensor_count; ++t) {
      const Tensor* tensor = tensors->Get(t);
      TfLiteEvalTensor& eval = allocations.tensors[t];
      eval = TfLiteEvalTensor{};
      if (!ConvertTensorType(tensor->type(), &eval.type)) {
        MicroPrintf("Failed to initialize tensor %d", t);
        return fail();
      }
      // Shape vectors serve in place as dimension arrays; the model is
      // never written.
      eval.dims = const_cast<TfLiteIntArray*>(AsIntArray(tensor->shape()));
      if (!ShapeValid(*eval.dims, eval.type)) {
        MicroPrintf("Tensor %d of subgraph %d has an unusable shape", t, s);
        MicroPrintf("Failed to initialize tensor %d", t);
        return fail();
      }
      if (buffers == nullptr || tensor->buffer() >= buffers->size()) {
        MicroPrintf("Tensor %d of subgraph %d refers to buffer %u, which does not exist", t, s,
                    tensor->buffer());
        MicroPrintf("Failed to initialize tensor %d", t);
        return fail();
      }
      const auto* data = buffers->Get(tensor->buffer())->data();
      // Variables get storage of their own; initial data is ignored.
      if (data != nullptr && data->size() > 0 && !tensor->is_variable()) {
        const size_t element = TypeSize(eval.type);
        const bool aligned =
            element <= 1 ||
            reinterpret_cast<uintptr_t>(data->data()) % (element > 8 ? 8 : element) == 0;
        if (HasNegativeDim(*eval.dims) || data->size() < TensorBytes(*eval.dims, eval.type) ||
            !aligned) {
          MicroPrintf("Tensor %d of subgraph %d has constant data that does not match its shape", t,
                      s);
          MicroPrintf("Failed to initialize tensor %d", t);
          return fail();
        }
        // Constant contents are only read.
        eval.data.data = const_cast<uint8_t*>(data->data());
      }
    }
    for (const auto* list : {subgraph->inputs(), subgraph->outputs()}) {
      const TfLiteIntArray* indices = AsIntArray(list);
      for (int i = 0; i < indices->size; ++i) {
        if (indices->data[i] < 0 || indices->data[i] >= tensor_count) {
          MicroPrintf("Subgraph %d lists tensor %d, which does not exist", s, indices->data[i]);
          return fail();
        }
      }
    }
    // Callers write the model's inputs, which must therefore not be constants.
    const TfLiteIntArray* inputs = AsIntArray(subgraph->inputs());
    for (int i = 0; s == 0 && i < inputs->size; ++i) {
      if (allocations.tensors[inputs->data[i]].data.data != nullptr) {
        MicroPrintf("Input %d of the model is a constant tensor", i);
        return fail();
      }
    }
  }
  for (int s = 0; s < count; ++s) {
    const size_t bytes = kNodeBytes * OperatorCount(subgraphs->Get(s));
    void* memory = allocator_->AllocatePersistent(bytes, kRecordAlignment);
    if (memory == nullptr) {
      MicroPrintf("Failed to allocate memory for node_and_registrations.");
      return fail();
    }
    context_.subgraphs[s].nodes = static_cast<NodeAndRegistration*>(memory);
  }
  return kTfLiteOk;
}

TfLiteStatus MicroInterpreter::ResolveOperators() {
  const auto* codes = model_->operator_codes();
  for (int s = 0; s < context_.subgraph_count; ++s) {
    const SubGraph* subgraph = model_->subgraphs()->Get(s);
    const int tensor_count = static_cast<int>(subgraph->tensors()->size());
    const unsigned op_count = OperatorCount(subgraph);
    for (unsigned i = 0; i < op_count; ++i) {
      const Operator* op = subgraph->operators()->Get(i);
      const unsigned index = op->opcode_index();
      if (codes == nullptr || index >= codes->size()) {
        MicroPrintf("Missing registration for opcode_index %d\n", static_cast<int>(index));
        return kTfLiteError;
      }
      const OperatorCode* opcode = codes->Get(index);
      const int code = OperatorBuiltinCode(opcode);
      const TFLMRegistration* registration = nullptr;
      if (code > kMaxBuiltinCode) {
        MicroPrintf("Op builtin_code out of range: %d.", code);
      } else if (code == kBuiltinCustom) {
        // No custom operators are ever registered.
        if (opcode->custom_code() == nullptr) {
          MicroPrintf("Operator with CUSTOM builtin_code has no custom_code.\n");
        }
      } else {
        registration = op_resolver_.FindOp(code);
        if (registration == nullptr) {
          MicroPrintf("Didn't find op for builtin opcode '%s'", BuiltinOperatorName(code));
        }
      }
      if (registration == nullptr) {
        MicroPrintf("Failed to get registration from op code %s\n ", BuiltinOperatorName(code));
        return kTfLiteError;
      }
      if (op->custom_options() != nullptr) {
        MicroPrintf("Unsupported behavior: found builtin operator %s with custom options.\n",
                    BuiltinOperatorName(code));
        return kTfLiteError;
      }
      NodeAndRegistration& node = context_.subgraphs[s].nodes[i];
      node = NodeAndRegistration{};
      node.registration = registration;
      node.node.inputs = AsIntArray(op->inputs());
      node.node.outputs = AsIntArray(op->outputs());
      if (ParseOptions(op, code, allocator_, &node.node.builtin_data) != kTfLiteOk) {
        return kTfLiteError;
      }
      for (const TfLiteIntArray* list :
           {node.node.inputs, node.node.outputs, AsIntArray(op->intermediates())}) {
        for (int k = 0; k < list->size; ++k) {
          if (list->data[k] < -1 || list->data[k] >= tensor_count) {
            MicroPrintf(
                "Node %s (number %u) of subgraph %d refers to tensor %d, which does not "
                "exist",
                BuiltinOperatorName(code), i, s, list->data[k]);
            return kTfLiteError;
          }
        }
      }
      // The model is never written: no operator may output into a constant.
      for (int k = 0; k < node.node.outputs->size; ++k) {
        const int t = node.node.outputs->data[k];
        if (t >= 0 && context_.subgraphs[s].tensors[t].data.data != nullptr) {
          MicroPrintf("Node %s (number %u) of subgraph %d writes into constant tensor %d",
                      BuiltinOperatorName(code), i, s, t);
          return kTfLiteError;
        }
      }
    }
  }
  return kTfLiteOk;
}

TfLiteStatus MicroInterpreter::InitOperators() {
  for (int s = 0; s < context_.subgraph_count; ++s) {
    context_.current_subgraph = s;
    const unsigned op_count = OperatorCount(model_->subgraphs()->Get(s));
    for (unsigned i = 0; i < op_count; ++i) {
      NodeAndRegistration& node = context_.subgraphs[s].nodes[i];
      if (node.registration->init == nullptr) continue;
      node.node.user_data = node.registration->init(&context_, nullptr, 0);
      if (node.node.user_data == nullptr) {
        MicroPrintf("Node %s (number %u) failed to initialize", NodeName(node), i);
        return kTfLiteError;
      }
    }
  }
  context_.current_subgraph = 0;
  return kTfLiteOk;
}

TfLiteStatus MicroInterpreter::PrepareOperators() {
  for (int s = 0; s < context_.subgraph_count; ++s) {
    context_.current_subgraph = s;
    const unsigned op_count = OperatorCount(model_->subgraphs()->Get(s));
    for (unsigned i = 0; i < op_count; ++i) {
      NodeAndRegistration& node = context_.subgraphs[s].nodes[i];
      TfLiteStatus status = kTfLiteOk;
      if (node.registration->prepare != nullptr) {
        status = node.registration->prepare(&context_, &node.node);
      }
      // The temp views of a prepare that fails stay counted, as in the
      // original runtime's figures after a failure.
      if (status != kTfLiteOk) {
        MicroPrintf("Node %s (number %u) failed to prepare with status %d", NodeName(node), i,
                    status);
        return kTfLiteError;
      }
      const TfLiteIntArray* outputs = node.node.outputs;
      for (int k = 0; k < outputs->size; ++k) {
        if (outputs->data[k] < 0) continue;
        const TfLiteIntArray& dims = *context_.subgraphs[s].tensors[outputs->data[k]].dims;
        if (dims.size == 1 && dims.data[0] == 0) continue;
        for (int d = 0; d < dims.size; ++d) {
          if (dims.data[d] <= 0) {
            MicroPrintf(
                "Op#%u (%s) of subgraph %u has dynamic tensor #%d\nDynamic tensors are "
                "not supported",
                i, NodeName(node), static_cast<unsigned>(s), outputs->data[k]);
            return kTfLiteError;
          }
        }
      }
      allocator_->ResetTemp();
    }
  }
  context_.current_subgraph = 0;
  return kTfLiteOk;
}

TfLiteStatus MicroInterpreter::CreateIoViews() {
  const SubGraph* main_graph = model_->subgraphs()->Get(0);
  const char* kinds[2] = {"input", "output"};
  TfLiteTensor*** views[2] = {&input_views_, &output_views_};
  const TfLiteIntArray* lists[2] = {AsIntArray(main_graph->inputs()),
                                    AsIntArray(main_graph->outputs())};
  for (int k = 0; k < 2; ++k) {
    const int count = lists[k]->size;
    const size_t bytes = kViewPointerBytes * count;
    void* memory = allocator_->AllocatePersistent(bytes, 16);
    if (memory == nullptr) {
      MicroPrintf("Failed to allocate memory for context->%s_tensors_, %d bytes required", kinds[k],
                  static_cast<int>(bytes));
      return kTfLiteError;
    }
    *views[k] = static_cast<TfLiteTensor**>(memory);
    for (int i = 0; i < count; ++i) {
      TfLiteTensor* view = CreateTensorView(&context_, 0, lists[k]->data[i], true);
      if (view == nullptr) {
        MicroPrintf("Failed to initialize %s tensor %d", kinds[k], i);
        return kTfLiteError;
      }
      (*views[k])[i] = view;
    }
  }
  return kTfLiteOk;
}

void MicroInterpreter::ResetVariables() {
  const auto* subgraphs = model_->subgraphs();
  for (int s = 0; s < context_.subgraph_count; ++s) {
    const auto* tensors = subgraphs->Get(s)->tensors();
    for (unsigned t = 0; t < tensors->size(); ++t) {
      const Tensor* tensor = tensors->Get(t);
      if (!tensor->is_variable()) continue;
      const TfLiteEvalTensor& eval = context_.subgraphs[s].tensors[t];
      int value = 0;
      const QuantizationParameters* q = tensor->quantization();
      if (eval.type == kTfLiteInt8 && q != nullptr && q->scale() != nullptr &&
          q->scale()->size() > 0 && q->zero_point() != nullptr && q->zero_point()->size() > 0) {
        value = static_cast<int>(Int64At(q->zero_point(), 0));
      }
      std::memset(eval.data.data, value, TensorBytes(*eval.dims, eval.type));
    }
  }
  if (resource_variables_ != nullptr) resource_variables_->ResetAll();
}

TfLiteStatus MicroInterpreter::Invoke() {
  if (state_ != State::kAllocated && AllocateTensors() != kTfLiteOk) return kTfLiteError;
  return InvokeSubgraph(&context_, 0);
}

TfLiteStatus InvokeSubgraph(TfLiteContext* context, int subgraph_index) {
  if (subgraph_index < 0 || subgraph_index >= context->subgraph_count) {
    MicroPrintf("Accessing subgraph %d but only %d subgraphs found", subgraph_index,
                context->subgraph_count);
    return kTfLiteError;
  }
  const int caller = context->current_subgraph;
  context->current_subgraph = subgraph_index;
  const SubGraph* subgraph = context->model->subgraphs()->Get(subgraph_index);
  const unsigned op_count = OperatorCount(subgraph);
  TfLiteStatus status = kTfLiteOk;
  for (unsigned i = 0; i < op_count && status == kTfLiteOk; ++i) {
    NodeAndRegistration& node = context->subgraphs[subgraph_index].nodes[i];
    status = node.registration->invoke(context, &node.node);
    context->allocator->ResetTemp();
    if (status != kTfLiteOk) {
      MicroPrintf("Node %s (number %d) failed to invoke with status %d", NodeName(node),
                  static_cast<int>(i), status);
    }
  }
  context->current_subgraph = caller;
  return status;
}

}  // namespace tflite
