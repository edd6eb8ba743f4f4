#ifndef INFERENCE_MICRO_ALLOCATOR_H_
#define INFERENCE_MICRO_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>

namespace tflite {

enum class MemoryPlannerType { kGreedy };

// Bytes taken in the arena for a bookkeeping record. 64-bit builds take the
// sizes of the original runtime's records, so that arena figures (and the
// verdict on whether a model fits) are the same; other builds take the
// record's own size, which is never larger.
constexpr size_t RecordBytes(size_t native_bytes, size_t bytes_on_64_bit) {
  return sizeof(void*) == 8 ? bytes_on_64_bit : native_bytes;
}

// Owns one caller-supplied arena, carved into three regions:
//   head: from the start up; the memory plan of the non-persistent tensors;
//   temp: just above the head, released after each prepare and each op;
//   tail: from the end down; persistent allocations, never released.
// The allocator itself lives in the arena's tail.
class MicroAllocator {
 public:
  // Null (after a message) when the arena cannot hold the allocator.
  static MicroAllocator* Create(uint8_t* tensor_arena, size_t arena_size,
                                MemoryPlannerType memory_planner_type);

  // max(head end, temp end) - start + (end - tail).
  size_t used_bytes() const;

  // Null (after a message) when the tail would cross the head or temp.
  void* AllocatePersistent(size_t bytes, size_t alignment);
  void* AllocateTemp(size_t bytes, size_t alignment);
  void ResetTemp();
  // Sets the head to `bytes` from the arena start; false after a message
  // when it would cross the tail. Temp must be empty.
  bool ResizeHead(size_t bytes);

  uint8_t* head_start() const { return start_; }
  // Free bytes for a temp allocation aligned to `alignment`.
  size_t AvailableTemp(size_t alignment) const;

  // Set while a model allocation has started and not finished planning.
  bool model_allocating() const { return model_allocating_; }
  void set_model_allocating(bool value) { model_allocating_ = value; }

 private:
  MicroAllocator(uint8_t* start, uint8_t* end, uint8_t* tail);

  uint8_t* start_;
  uint8_t* end_;
  uint8_t* head_end_;
  uint8_t* temp_end_;
  uint8_t* tail_;
  bool model_allocating_ = false;
};

}  // namespace tflite

#endif  // INFERENCE_MICRO_ALLOCATOR_H_
