#ifndef INFERENCE_GREEDY_MEMORY_PLANNER_H_
#define INFERENCE_GREEDY_MEMORY_PLANNER_H_

#include <cstddef>
#include <cstdint>

namespace tflite {

// One buffer to place: its size and the scopes [first, last] in which it is
// live. Two buffers may share bytes only when their scopes do not intersect.
struct PlannerBuffer {
  int64_t offset;  // given when fixed, else set by PlanGreedy
  int size;
  int first;
  int last;
  int next;  // internal: the next placed buffer in offset order
  bool fixed;
};

// Keeps the fixed buffers at their offsets, then places the others largest
// first (ties: the later buffer first), each at the lowest offset that fits
// between the live buffers placed before it. `order` is scratch space for
// `count` entries. Returns the plan size.
size_t PlanGreedy(PlannerBuffer* buffers, int count, int* order);

// False when two fixed buffers live at the same time share bytes; sets
// *first and *second to their indices.
bool FixedBuffersDisjoint(const PlannerBuffer* buffers, int count, int* first, int* second);

}  // namespace tflite

#endif  // INFERENCE_GREEDY_MEMORY_PLANNER_H_
