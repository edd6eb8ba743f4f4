#include "inference/greedy_memory_planner.h"

#include <cstdint>

namespace tflite {

namespace {

bool LiveTogether(const PlannerBuffer& a, const PlannerBuffer& b) {
  return a.first <= b.last && b.first <= a.last;
}

}  // namespace

size_t PlanGreedy(PlannerBuffer* buffers, int count, int* order) {
  int placed_head = -1;  // the placed buffers as a list in offset order
  int64_t plan_size = 0;
  const auto place = [&](int index) {
    PlannerBuffer& buffer = buffers[index];
    // Insert after every placed buffer at an offset not above this one.
    int* link = &placed_head;
    while (*link != -1 && buffers[*link].offset <= buffer.offset) link = &buffers[*link].next;
    buffer.next = *link;
    *link = index;
    if (buffer.offset + buffer.size > plan_size) plan_size = buffer.offset + buffer.size;
  };
  for (int i = 0; i < count; ++i) {
    if (buffers[i].fixed) place(i);
  }

  // Reversed collection order, then a stable sort by size, largest first
  // (insertion sort: stable and needs no memory).
  int online = 0;
  for (int k = count - 1; k >= 0; --k) {
    if (buffers[k].fixed) continue;
    int j = online++;
    while (j > 0 && buffers[order[j - 1]].size < buffers[k].size) {
      order[j] = order[j - 1];
      --j;
    }
    order[j] = k;
  }

  for (int k = 0; k < online; ++k) {
    PlannerBuffer& buffer = buffers[order[k]];
    int64_t candidate = 0;
    for (int q = placed_head; q != -1; q = buffers[q].next) {
      const PlannerBuffer& other = buffers[q];
      if (!LiveTogether(buffer, other)) continue;
      if (other.offset - candidate >= buffer.size) break;
      if (other.offset + other.size > candidate) candidate = other.offset + other.size;
    }
    buffer.offset = candidate;
    place(order[k]);
  }
  return static_cast<size_t>(plan_size);
}

bool FixedBuffersDisjoint(const PlannerBuffer* buffers, int count, int* first, int* second) {
  for (int i = 0; i < count; ++i) {
    for (int j = i + 1; j < count && buffers[i].fixed; ++j) {
      const PlannerBuffer& a = buffers[i];
      const PlannerBuffer& b = buffers[j];
      if (b.fixed && LiveTogether(a, b) && a.offset < b.offset + b.size &&
          b.offset < a.offset + a.size) {
        *first = i;
        *second = j;
        return false;
      }
    }
  }
  return true;
}

}  // namespace tflite
