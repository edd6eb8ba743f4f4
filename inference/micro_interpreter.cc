#include "inference/micro_interpreter.h"

#include <cstring>
#include <new>

#include "inference/builtin_codes.h"
#include "inference/builtin_options.h"
#include "inference/greedy_memory_planner.h"
#include "inference/kernels/kernel_util.h"
#include "inference/micro_log.h"
#include "inference/op_names.h"

namespace tflite {

namespace {

// Arena records, at the original runtime's 64-bit sizes (see RecordBytes).
constexpr size_t kOptionAllocatorBytes = RecordBytes(2 * sizeof(void*), 16);
constexpr size_t kSubgraphBytes = RecordBytes(sizeof(SubgraphAllocations), 16);
constexpr size_t kEvalTensorBytes = RecordBytes(sizeof(TfLiteEvalTensor), 24);
constexpr size_t kNodeBytes = RecordBytes(sizeof(NodeAndRegistration), 64);
static_assert(sizeof(SubgraphAllocations) <= 16, "subgraph record too large");
static_assert(sizeof(TfLiteEvalTensor) <= 24, "tensor record too large");
static_assert(sizeof(NodeAndRegistration) <= 64, "node record too large");

// The head block the original runtime keeps for scratch-buffer requests:
// 16 bytes for each of 12 requests. No kernel here requests scratch memory.
constexpr size_t kRequestBlockBytes = 16 * 12;
// Planner bookkeeping of the original runtime, for the same verdict on
// whether a model fits: per subgraph, per tensor, per planned buffer.
constexpr size_t kPlanPerSubgraphBytes = 8;
constexpr size_t kPlanPerTensorBytes = 32;
constexpr size_t kPlanPerBufferBytes = 40;

struct TensorLifetime {
  int first;
  int last;
};
static_assert(sizeof(TensorLifetime) <= kPlanPerTensorBytes, "lifetime record too large");
static_assert(sizeof(PlannerBuffer) + sizeof(int) <= kPlanPerBufferBytes, "buffer too large");

constexpr char kOfflinePlanName[] = "OfflineMemoryAllocation";
// Lifetime end of buffers that must never share memory with others.
constexpr int kWholeRun = 0x7fffffff;

// Largest tensor accepted: keeps every size and product in range.
constexpr int64_t kMaxTensorBytes = int64_t{1} << 30;

const int kEmptyArray[1] = {0};

TfLiteIntArray* EmptyIntArray() {
  // Never written: zero-length arrays have no elements to write.
  return reinterpret_cast<TfLiteIntArray*>(const_cast<int*>(kEmptyArray));
}

const TfLiteIntArray* AsIntArray(const flatbuffers::Vector<int32_t>* v) {
  return v == nullptr ? EmptyIntArray() : reinterpret_cast<const TfLiteIntArray*>(v);
}

bool ConvertTensorType(int schema_type, TfLiteType* type) {
  // Schema values 0..22 map to the runtime values in schema order.
  static const TfLiteType kTypes[] = {
      kTfLiteFloat32, kTfLiteFloat16,   kTfLiteInt32,       kTfLiteUInt8,     kTfLiteInt64,
      kTfLiteString,  kTfLiteBool,      kTfLiteInt16,       kTfLiteComplex64, kTfLiteInt8,
      kTfLiteFloat64, kTfLiteComplex128, kTfLiteUInt64,     kTfLiteResource,  kTfLiteVariant,
      kTfLiteUInt32,  kTfLiteUInt16,    kTfLiteInt4,        kTfLiteBFloat16,  kTfLiteInt2,
      kTfLiteUInt4,   kTfLiteFloat8E4M3FN, kTfLiteFloat8E5M2};
  if (schema_type < 0 || schema_type >= static_cast<int>(sizeof(kTypes) / sizeof(kTypes[0]))) {
    MicroPrintf("Unsupported data type %d in tensor\n", schema_type);
    return false;
  }
  *type = kTypes[schema_type];
  return true;
}

int ConvertPadding(int schema_padding) {
  switch (schema_padding) {
    case Padding_SAME:
      return kPaddingKindSame;
    case Padding_VALID:
      return kPaddingKindValid;
    default:
      return kPaddingUnknown;
  }
}

int ConvertActivation(int schema_activation) {
  return schema_activation >= 0 && schema_activation <= 5 ? schema_activation : 0;
}

int OperatorBuiltinCode(const OperatorCode* code) {
  const int deprecated = code->deprecated_builtin_code();
  return code->builtin_code() > deprecated ? code->builtin_code() : deprecated;
}

// A shape is usable when every dimension is a size or -1 (resolved by
// RESHAPE) and the byte size of the known part stays in range.
bool ShapeValid(const TfLiteIntArray& dims, TfLiteType type) {
  int64_t bytes = TypeSize(type) > 0 ? static_cast<int64_t>(TypeSize(type)) : 1;
  for (int i = 0; i < dims.size; ++i) {
    if (dims.data[i] == 0) return true;
  }
  for (int i = 0; i < dims.size; ++i) {
    if (dims.data[i] < -1) return false;
    if (dims.data[i] > 0) {
      bytes *= dims.data[i];
      if (bytes > kMaxTensorBytes) return false;
    }
  }
  return true;
}

bool HasNegativeDim(const TfLiteIntArray& dims) {
  for (int i = 0; i < dims.size; ++i) {
    if (dims.data[i] < 0) return true;
  }
  return false;
}

template <typename T>
T* AllocateOptions(MicroAllocator* allocator, size_t bytes_on_64_bit) {
  static_assert(sizeof(T) <= 36, "options record too large");
  void* memory = allocator->AllocatePersistent(RecordBytes(sizeof(T), bytes_on_64_bit), alignof(T));
  return memory == nullptr ? nullptr : new (memory) T();
}

// Parses the options of a builtin operator into persistent memory. Sets
// *data to null for operators that read no options.
TfLiteStatus ParseOptions(const Operator* op, int code, MicroAllocator* allocator, void** data) {
  *data = nullptr;
  switch (code) {
    case kBuiltinConv2D: {
      auto* params = AllocateOptions<Conv2DOptionsData>(allocator, 28);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_Conv2DOptions()) {
        params->padding = ConvertPadding(o->padding());
        params->stride_width = o->stride_w();
        params->stride_height = o->stride_h();
        params->activation = ConvertActivation(o->fused_activation_function());
        params->dilation_width_factor = o->dilation_w_factor();
        params->dilation_height_factor = o->dilation_h_factor();
        if (!ConvertTensorType(o->quantized_bias_type(), &params->quantized_bias_type)) {
          return kTfLiteError;
        }
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinDepthwiseConv2D: {
      auto* params = AllocateOptions<DepthwiseConv2DOptionsData>(allocator, 28);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_DepthwiseConv2DOptions()) {
        params->padding = ConvertPadding(o->padding());
        params->stride_width = o->stride_w();
        params->stride_height = o->stride_h();
        params->depth_multiplier = o->depth_multiplier();
        params->activation = ConvertActivation(o->fused_activation_function());
        params->dilation_width_factor = o->dilation_w_factor();
        params->dilation_height_factor = o->dilation_h_factor();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinFullyConnected: {
      auto* params = AllocateOptions<FullyConnectedOptionsData>(allocator, 16);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_FullyConnectedOptions()) {
        params->activation = ConvertActivation(o->fused_activation_function());
        if (o->weights_format() != FullyConnectedOptionsWeightsFormat_DEFAULT &&
            o->weights_format() != FullyConnectedOptionsWeightsFormat_SHUFFLED4x16INT8) {
          MicroPrintf("Unhandled fully-connected weights format.");
          return kTfLiteError;
        }
        params->weights_format = o->weights_format();
        params->keep_num_dims = o->keep_num_dims();
        params->asymmetric_quantize_inputs = o->asymmetric_quantize_inputs();
        if (!ConvertTensorType(o->quantized_bias_type(), &params->quantized_bias_type)) {
          return kTfLiteError;
        }
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinReshape: {
      auto* params = AllocateOptions<ReshapeOptionsData>(allocator, 36);
      if (params == nullptr) return kTfLiteError;
      const auto* o = op->builtin_options_as_ReshapeOptions();
      if (o != nullptr && o->new_shape() != nullptr) {
        const auto* shape = o->new_shape();
        if (shape->size() > static_cast<unsigned>(kReshapeMaxDimensions)) {
          MicroPrintf("Found too many dimensions in the input array of operation 'reshape'.\n");
          return kTfLiteError;
        }
        params->num_dimensions = static_cast<int>(shape->size());
        for (unsigned i = 0; i < shape->size(); ++i) params->shape[i] = shape->Get(i);
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinConcatenation: {
      auto* params = AllocateOptions<ConcatenationOptionsData>(allocator, 8);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_ConcatenationOptions()) {
        params->axis = o->axis();
        params->activation = ConvertActivation(o->fused_activation_function());
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinStridedSlice: {
      auto* params = AllocateOptions<StridedSliceOptionsData>(allocator, 24);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_StridedSliceOptions()) {
        params->begin_mask = o->begin_mask();
        params->end_mask = o->end_mask();
        params->ellipsis_mask = o->ellipsis_mask();
        params->new_axis_mask = o->new_axis_mask();
        params->shrink_axis_mask = o->shrink_axis_mask();
        params->offset = o->offset();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinSplitV: {
      auto* params = AllocateOptions<SplitVOptionsData>(allocator, 4);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_SplitVOptions()) {
        params->num_splits = o->num_splits();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinCallOnce: {
      auto* params = AllocateOptions<CallOnceOptionsData>(allocator, 4);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_CallOnceOptions()) {
        params->init_subgraph_index = o->init_subgraph_index();
      }
      *data = params;
      return kTfLiteOk;
    }
    case kBuiltinVarHandle: {
      auto* params = AllocateOptions<VarHandleOptionsData>(allocator, 16);
      if (params == nullptr) return kTfLiteError;
      if (const auto* o = op->builtin_options_as_VarHandleOptions()) {
        params->container = o->container() ? o->container()->c_str() : nullptr;
        params->shared_name = o->shared_name() ? o->shared_name()->c_str() : nullptr;
      }
      *data = params;
      return kTfLiteOk;
    }
    default:
      return kTfLiteOk;
  }
}

const char* NodeName(const NodeAndRegistration& node) {
  return BuiltinOperatorName(node.registration->builtin_code);
}

unsigned OperatorCount(const SubGraph* subgraph) {
  return subgraph->operators() ? subgraph->operators()->size() : 0;
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
    MicroPrintf("MicroAllocator: Model allocation started before finishing previously allocated "
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
  if (PlanMemory() != kTfLiteOk) return kTfLiteError;
  if (CreateIoViews() != kTfLiteOk) return kTfLiteError;
  ResetVariables();
  return kTfLiteOk;
}

TfLiteStatus MicroInterpreter::StartAllocation() {
  if (allocator_->model_allocating()) {
    MicroPrintf("MicroAllocator: Model allocation started before finishing previously allocated "
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
  if (allocator_->AllocatePersistent(kOptionAllocatorBytes, 8) == nullptr) return fail();
  if (!allocator_->ResizeHead(kRequestBlockBytes)) return fail();

  const int count = static_cast<int>(subgraphs->size());
  void* records = allocator_->AllocatePersistent(kSubgraphBytes * count, 8);
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
    void* memory = allocator_->AllocatePersistent(bytes, 8);
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
            element <= 1 || reinterpret_cast<uintptr_t>(data->data()) % (element > 8 ? 8 : element) == 0;
        if (HasNegativeDim(*eval.dims) || data->size() < TensorBytes(*eval.dims, eval.type) ||
            !aligned) {
          MicroPrintf("Tensor %d of subgraph %d has constant data that does not match its shape",
                      t, s);
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
    void* memory = allocator_->AllocatePersistent(bytes, 8);
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
            MicroPrintf("Node %s (number %u) of subgraph %d refers to tensor %d, which does not "
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
      allocator_->ResetTemp();
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
            MicroPrintf("Op#%u (%s) of subgraph %u has dynamic tensor #%d\nDynamic tensors are "
                        "not supported",
                        i, NodeName(node), static_cast<unsigned>(s), outputs->data[k]);
            return kTfLiteError;
          }
        }
      }
    }
  }
  context_.current_subgraph = 0;
  return kTfLiteOk;
}

namespace {

// Scope walk of the lifetimes: one counter over the whole model, the
// subgraphs called by CALL_ONCE walked at the caller's position.
struct LifetimeWalk {
  const Model* model;
  const TfLiteContext* context;
  const int* tensor_base;   // index of each subgraph's first tensor
  int* walking;             // per subgraph: inside its walk
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

// False (after a message) when the subgraphs call each other in a cycle.
bool WalkSubgraph(LifetimeWalk& w, int s) {
  if (w.walking[s]) {
    MicroPrintf("Subgraph %d calls itself", s);
    return false;
  }
  w.walking[s] = 1;
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
        if (!WalkSubgraph(w, called)) return false;
      }
    }
    MarkInputs(w, s, node.node.inputs);
    for (int k = 0; k < node.node.outputs->size; ++k) {
      const int t = node.node.outputs->data[k];
      if (t >= 0) w.lifetimes[w.tensor_base[s] + t].last = w.scope;
    }
  }
  MarkOutputs(w, s, AsIntArray(subgraph->outputs()));
  w.walking[s] = 0;
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

TfLiteStatus MicroInterpreter::PlanMemory() {
  const auto* subgraphs = model_->subgraphs();
  const int subgraph_count = context_.subgraph_count;
  int total_tensors = 0;
  for (int s = 0; s < subgraph_count; ++s) {
    total_tensors += static_cast<int>(subgraphs->Get(s)->tensors()->size());
  }

  // Bookkeeping in temp memory: per subgraph its first tensor index and a
  // walk flag, per tensor its lifetime.
  const size_t info_bytes =
      RecordBytes(2 * sizeof(int), kPlanPerSubgraphBytes) * subgraph_count +
      RecordBytes(sizeof(TensorLifetime) + sizeof(int), kPlanPerTensorBytes) * total_tensors;
  auto* info = static_cast<uint8_t*>(allocator_->AllocateTemp(info_bytes, 16));
  if (info == nullptr) {
    MicroPrintf("Failed to allocate memory for memory planning, %d bytes required",
                static_cast<int>(info_bytes));
    return kTfLiteError;
  }
  int* tensor_base = reinterpret_cast<int*>(info);
  int* walking = tensor_base + subgraph_count;
  TensorLifetime* lifetimes = reinterpret_cast<TensorLifetime*>(walking + subgraph_count);
  int* buffer_of = reinterpret_cast<int*>(lifetimes + total_tensors);  // planned index or -1
  for (int s = 0, base = 0; s < subgraph_count; ++s) {
    tensor_base[s] = base;
    walking[s] = 0;
    base += static_cast<int>(subgraphs->Get(s)->tensors()->size());
  }
  for (int t = 0; t < total_tensors; ++t) lifetimes[t] = TensorLifetime{-1, -1};

  const uint8_t* offline = nullptr;
  if (!OfflineOffsets(model_, total_tensors, &offline)) return kTfLiteError;
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
      TfLiteEvalTensor& eval = context_.subgraphs[s].tensors[t];
      const size_t bytes = TensorBytes(*eval.dims, eval.type);
      if (HasNegativeDim(*eval.dims) || TypeSize(eval.type) == 0) {
        MicroPrintf("Variable tensor %u of subgraph %d has no fixed size", t, s);
        return kTfLiteError;
      }
      eval.data.data = allocator_->AllocatePersistent(bytes, 16);
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
        const TfLiteEvalTensor& eval = context_.subgraphs[s].tensors[list->data[k]];
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
      const TfLiteEvalTensor& eval = context_.subgraphs[s].tensors[t];
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

  const size_t buffer_bytes = RecordBytes(sizeof(PlannerBuffer) + sizeof(int), kPlanPerBufferBytes);
  const size_t capacity = allocator_->AvailableTemp(16) / buffer_bytes;
  if (static_cast<size_t>(planned) > capacity) {
    MicroPrintf("Too many buffers (max is %d)", static_cast<int>(capacity));
    return kTfLiteError;
  }
  auto* buffers = static_cast<PlannerBuffer*>(allocator_->AllocateTemp(buffer_bytes * planned, 16));
  int* order = reinterpret_cast<int*>(buffers + planned);

  LifetimeWalk walk{model_, &context_, tensor_base, walking, lifetimes, 0};
  if (!WalkSubgraph(walk, 0)) return kTfLiteError;
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
    const TfLiteEvalTensor& eval = context_.subgraphs[s].tensors[g - tensor_base[s]];
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
  uint8_t* head = allocator_->head_start();
  for (int g = 0, s = 0; g < total_tensors; ++g) {
    while (s + 1 < subgraph_count && tensor_base[s + 1] <= g) ++s;
    if (buffer_of[g] < 0) continue;
    context_.subgraphs[s].tensors[g - tensor_base[s]].data.data = head + buffers[buffer_of[g]].offset;
  }
  allocator_->ResetTemp();
  allocator_->ResizeHead(0);
  if (!allocator_->ResizeHead(plan_size)) return kTfLiteError;
  allocator_->set_model_allocating(false);
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
    const size_t bytes = RecordBytes(sizeof(TfLiteTensor*), 8) * count;
    void* memory = allocator_->AllocatePersistent(bytes, 16);
    if (memory == nullptr) {
      MicroPrintf("Failed to allocate memory for context->%s_tensors_, %d bytes required",
                  kinds[k], static_cast<int>(bytes));
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
        value = static_cast<int>(q->zero_point()->Get(0));
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
