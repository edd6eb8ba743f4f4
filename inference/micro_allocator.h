#ifndef INFERENCE_MICRO_ALLOCATOR_H_
#define INFERENCE_MICRO_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>

namespace tflite {

enum class MemoryPlannerType { kGreedy };

// Bytes taken in the arena for a bookkeeping record: the size of the
// original runtime's record on a 64-bit and on a 32-bit build, so that arena
// figures (and the verdict on whether a model fits) are the same on both.
// `own_bytes`, what this runtime keeps there, must fit in it.
template <size_t own_bytes, size_t bytes_on_64_bit, size_t bytes_on_32_bit>
constexpr size_t RecordBytes() {
  static_assert(sizeof(void*) == 8 || sizeof(void*) == 4, "only 64-bit and 32-bit builds");
  constexpr size_t bytes = sizeof(void*) == 8 ? bytes_on_64_bit : bytes_on_32_bit;
  static_assert(own_bytes <= bytes, "record larger than the arena bytes it stands for");
  return bytes;
}

// The original runtime aligns its bookkeeping records as pointers: to 8
// bytes on 64-bit builds, to 4 on 32-bit ones.
constexpr size_t kRecordAlignment = alignof(void*);

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
  // The tail's part of it: end - tail.
  size_t tail_bytes() const { return static_cast<size_t>(end_ - tail_); }

  // Null (after a message) when the tail would cross the head or temp.
  void* AllocatePersistent(size_t bytes, size_t alignment);
  void* AllocateTemp(size_t bytes, size_t alignment);
  void ResetTemp();
  // Sets the head to `bytes` from the arena start; false after a message
  // when it would cross the tail. Temp must be empty.
  bool ResizeHead(size_t bytes);

  uint8_t* head_start() const { return start_; }
  // Free bytes between the temp end and the tail, both rounded inwards to
  // `alignment`.
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
