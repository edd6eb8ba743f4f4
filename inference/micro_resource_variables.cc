#include "inference/micro_resource_variables.h"

#include <cstring>
#include <new>

#include "inference/kernels/kernel_util.h"
#include "inference/micro_allocator.h"
#include "inference/micro_log.h"

namespace tflite {

struct ResourceVariableSizes {
  static constexpr size_t kTableBytes = RecordBytes<sizeof(MicroResourceVariables), 16, 12>();
  static constexpr size_t kVariableBytes =
      RecordBytes<sizeof(MicroResourceVariables::Variable), 40, 20>();
};

namespace {

// Null names are names of their own: equal only to null.
bool SameName(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

MicroResourceVariables* MicroResourceVariables::Create(MicroAllocator* allocator,
                                                       int num_variables) {
  if (allocator == nullptr || num_variables < 0) return nullptr;
  void* self = allocator->AllocatePersistent(ResourceVariableSizes::kTableBytes, 16);
  if (self == nullptr) return nullptr;
  void* table = allocator->AllocatePersistent(
      ResourceVariableSizes::kVariableBytes * static_cast<size_t>(num_variables), 16);
  // Without room for the entries the original runtime carries on with none,
  // after the message: models without variables still load.
  return new (self) MicroResourceVariables(static_cast<Variable*>(table),
                                           table == nullptr ? 0 : num_variables);
}

int MicroResourceVariables::CreateIdIfNoneFound(const char* container, const char* shared_name) {
  for (int i = 0; i < count_; ++i) {
    // An absent container in the query matches any container.
    const bool container_matches =
        container == nullptr || SameName(container, variables_[i].container);
    if (container_matches && SameName(shared_name, variables_[i].shared_name)) return i;
  }
  if (count_ >= capacity_) {
    MicroPrintf(
        "Failed to allocate resource variable. Maximum resource variable count (%d) "
        "reached.",
        capacity_);
    return -1;
  }
  variables_[count_] = Variable{container, shared_name, nullptr, 0, 0};
  return count_++;
}

bool MicroResourceVariables::ValidId(int id) const {
  if (id < 0 || id >= count_) {
    MicroPrintf("Attempting to read non-existent resource variable %d", id);
    return false;
  }
  return true;
}

TfLiteStatus MicroResourceVariables::Allocate(int id, const TfLiteTensor& value,
                                              MicroAllocator* allocator) {
  if (!ValidId(id)) return kTfLiteError;
  Variable& variable = variables_[id];
  if (variable.storage != nullptr) return kTfLiteOk;
  variable.storage = allocator->AllocatePersistent(value.bytes, 16);
  if (variable.storage == nullptr) {
    MicroPrintf("Failed to allocate resource buffer.");
    return kTfLiteError;
  }
  variable.bytes = value.bytes;
  variable.default_value = 0;
  if (value.quantization.type == kTfLiteAffineQuantization) {
    variable.default_value = static_cast<int8_t>(value.quantization.params->zero_point->data[0]);
  }
  std::memset(variable.storage, variable.default_value, variable.bytes);
  return kTfLiteOk;
}

size_t MicroResourceVariables::bytes(int id) const {
  if (id < 0 || id >= count_) return 0;
  return variables_[id].bytes;
}

TfLiteStatus MicroResourceVariables::Assign(int id, const TfLiteEvalTensor& value) {
  if (!ValidId(id)) return kTfLiteError;
  Variable& variable = variables_[id];
  if (variable.storage == nullptr) {
    MicroPrintf(
        "Attempting to assign from a TfLiteEvalTensor before the resource buffer has "
        "been allocated. Make sure to call AssignResourceVariable with a TfLiteTensor "
        "first.");
    return kTfLiteError;
  }
  const size_t value_bytes = EvalTensorBytes(value);
  if (value_bytes != variable.bytes) {
    MicroPrintf("Resource variable %d holds %u bytes, the assigned value has %u", id,
                static_cast<unsigned>(variable.bytes), static_cast<unsigned>(value_bytes));
    return kTfLiteError;
  }
  // An empty variable may come with no data at all; memcpy takes no null.
  if (variable.bytes > 0) std::memcpy(variable.storage, value.data.data, variable.bytes);
  return kTfLiteOk;
}

TfLiteStatus MicroResourceVariables::Read(int id, TfLiteEvalTensor* output) const {
  if (!ValidId(id)) return kTfLiteError;
  const Variable& variable = variables_[id];
  const size_t output_bytes = EvalTensorBytes(*output);
  if (variable.storage == nullptr || output_bytes != variable.bytes) {
    MicroPrintf("Resource variable %d holds %u bytes, the read needs %u", id,
                static_cast<unsigned>(variable.bytes), static_cast<unsigned>(output_bytes));
    return kTfLiteError;
  }
  if (variable.bytes > 0) std::memcpy(output->data.data, variable.storage, variable.bytes);
  return kTfLiteOk;
}

void MicroResourceVariables::ResetAll() {
  for (int i = 0; i < count_; ++i) {
    if (variables_[i].storage != nullptr) {
      std::memset(variables_[i].storage, variables_[i].default_value, variables_[i].bytes);
    }
  }
}

}  // namespace tflite
