#ifndef INFERENCE_MICRO_RESOURCE_VARIABLES_H_
#define INFERENCE_MICRO_RESOURCE_VARIABLES_H_

#include <cstddef>
#include <cstdint>

#include "inference/common.h"

namespace tflite {

class MicroAllocator;

// The table of resource variables (the state of streaming models), kept in
// the arena's tail. Variables are named by (container, shared_name); their
// storage is sized by the first ASSIGN_VARIABLE prepared for them.
class MicroResourceVariables {
 public:
  // Null (after a message) when the arena cannot hold the table itself; a
  // table without room for its entries (also after a message) holds none.
  static MicroResourceVariables* Create(MicroAllocator* allocator, int num_variables);

  // The id of the variable so named, created if new; -1 (after a message)
  // when the table is full.
  int CreateIdIfNoneFound(const char* container, const char* shared_name);

  // Gives variable `id` storage of `value`'s size, filled with the default
  // byte taken from `value`, unless it has storage already.
  TfLiteStatus Allocate(int id, const TfLiteTensor& value, MicroAllocator* allocator);
  // Byte size of variable `id`'s storage; 0 when it has none.
  size_t bytes(int id) const;

  TfLiteStatus Assign(int id, const TfLiteEvalTensor& value);
  TfLiteStatus Read(int id, TfLiteEvalTensor* output) const;

  // Fills every variable with its default byte.
  void ResetAll();

 private:
  struct Variable {
    const char* container;
    const char* shared_name;
    void* storage;
    size_t bytes;
    int8_t default_value;
  };

  MicroResourceVariables(Variable* variables, int capacity)
      : variables_(variables), capacity_(capacity) {}

  bool ValidId(int id) const;

  Variable* variables_;
  int capacity_;
  int count_ = 0;

  friend struct ResourceVariableSizes;
};

}  // namespace tflite

#endif  // INFERENCE_MICRO_RESOURCE_VARIABLES_H_
