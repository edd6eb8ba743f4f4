#include "inference/micro_allocator.h"

#include <new>

#include "inference/micro_log.h"

namespace tflite {

namespace {

uintptr_t AlignUp(uintptr_t value, size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

uintptr_t AlignDown(uintptr_t value, size_t alignment) { return value / alignment * alignment; }

uintptr_t Address(const uint8_t* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

constexpr size_t kArenaAlignment = 16;
// The original runtime keeps three objects here: the arena allocator, the
// planner and the model allocator.
constexpr size_t kAllocatorBytes =
    RecordBytes<sizeof(MicroAllocator), 72 + 72 + 72, 36 + 44 + 36>();

// Takes `bytes` below `tail` with the given alignment; 0 when the result
// would fall below `floor`. `missing` is set for the message.
uintptr_t TakeBelow(uintptr_t tail, uintptr_t floor, size_t bytes, size_t alignment,
                    size_t* missing) {
  if (bytes > tail - floor) {
    *missing = bytes - (tail - floor);
    return 0;
  }
  const uintptr_t result = AlignDown(tail - bytes, alignment);
  if (result < floor) {
    *missing = floor - result;
    return 0;
  }
  return result;
}

void PrintTailFailure(size_t bytes, size_t missing) {
  // "available" wraps around when the alignment padding alone is missing,
  // as in the original messages.
  MicroPrintf("Failed to allocate tail memory. Requested: %u, available %u, missing: %u",
              static_cast<unsigned>(bytes), static_cast<unsigned>(bytes - missing),
              static_cast<unsigned>(missing));
}

}  // namespace

MicroAllocator::MicroAllocator(uint8_t* start, uint8_t* end, uint8_t* tail)
    : start_(start), end_(end), head_end_(start), temp_end_(start), tail_(tail) {}

MicroAllocator* MicroAllocator::Create(uint8_t* tensor_arena, size_t arena_size,
                                       MemoryPlannerType) {
  if (tensor_arena == nullptr) return nullptr;
  const uintptr_t raw = Address(tensor_arena);
  const uintptr_t start = AlignUp(raw, kArenaAlignment);
  if (start - raw > arena_size) {
    PrintTailFailure(kAllocatorBytes, kAllocatorBytes);
    return nullptr;
  }
  const uintptr_t end = raw + arena_size;
  size_t missing = 0;
  const uintptr_t self = TakeBelow(end, start, kAllocatorBytes, kRecordAlignment, &missing);
  if (self == 0) {
    PrintTailFailure(kAllocatorBytes, missing);
    return nullptr;
  }
  uint8_t* base = tensor_arena + (start - raw);
  return new (reinterpret_cast<void*>(self))
      MicroAllocator(base, tensor_arena + arena_size, tensor_arena + (self - raw));
}

size_t MicroAllocator::used_bytes() const {
  const uint8_t* low = head_end_ > temp_end_ ? head_end_ : temp_end_;
  return static_cast<size_t>(low - start_) + static_cast<size_t>(end_ - tail_);
}

void* MicroAllocator::AllocatePersistent(size_t bytes, size_t alignment) {
  const uint8_t* low = head_end_ > temp_end_ ? head_end_ : temp_end_;
  size_t missing = 0;
  const uintptr_t result = TakeBelow(Address(tail_), Address(low), bytes, alignment, &missing);
  if (result == 0) {
    PrintTailFailure(bytes, missing);
    return nullptr;
  }
  tail_ = start_ + (result - Address(start_));
  return tail_;
}

size_t MicroAllocator::AvailableTemp(size_t alignment) const {
  const uintptr_t low = AlignUp(Address(temp_end_), alignment);
  const uintptr_t high = AlignDown(Address(tail_), alignment);
  return low > high ? 0 : high - low;
}

void* MicroAllocator::AllocateTemp(size_t bytes, size_t alignment) {
  const uintptr_t aligned = AlignUp(Address(temp_end_), alignment);
  const size_t available = aligned > Address(tail_) ? 0 : Address(tail_) - aligned;
  if (bytes > available) {
    MicroPrintf("Failed to allocate temp memory. Requested: %u, available %u, missing: %u",
                static_cast<unsigned>(bytes), static_cast<unsigned>(available),
                static_cast<unsigned>(bytes - available));
    return nullptr;
  }
  uint8_t* result = start_ + (aligned - Address(start_));
  temp_end_ = result + bytes;
  return result;
}

void MicroAllocator::ResetTemp() { temp_end_ = head_end_; }

bool MicroAllocator::ResizeHead(size_t bytes) {
  const size_t available = static_cast<size_t>(tail_ - start_);
  if (bytes > available) {
    MicroPrintf("Failed to resize buffer. Requested: %u, available %u, missing: %u",
                static_cast<unsigned>(bytes), static_cast<unsigned>(available),
                static_cast<unsigned>(bytes - available));
    return false;
  }
  head_end_ = start_ + bytes;
  temp_end_ = head_end_;
  return true;
}

}  // namespace tflite
