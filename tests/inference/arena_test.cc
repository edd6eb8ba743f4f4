// The arena's regions and accounting, the greedy plan, and the interpreter's
// refusals that need no model file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "inference/greedy_memory_planner.h"
#include "inference/micro_allocator.h"
#include "inference/micro_mutable_op_resolver.h"
#include "inference/micro_resource_variables.h"
#include "tests/inference/test_support.h"

namespace inference_test {
namespace {

alignas(16) uint8_t arena[4096];

// What the original runtime keeps in the tail from the start: its arena
// allocator, planner and model allocator, 72 + 72 + 72 bytes aligned to 8
// on a 64-bit build, 36 + 44 + 36 aligned to 4 on a 32-bit one. These are
// the sizes of its structs, measured there and given by the arena design;
// nothing here can derive them, so they are stated as figures.
constexpr bool k64Bit = sizeof(void*) == 8;
constexpr size_t kCreateBytes = k64Bit ? 72 + 72 + 72 : 36 + 44 + 36;
constexpr size_t kCreateAlignment = k64Bit ? 8 : 4;
// The resource variables' table: its own record, then 40 / 20 bytes per
// entry, each 16-aligned.
constexpr size_t kVariablesRecordBytes = k64Bit ? 16 : 12;
constexpr size_t kVariableEntryBytes = k64Bit ? 40 : 20;

TEST(Allocator, CreateAlignsTheStartAndTakesItsRecordFromTheTail) {
  // The start is aligned up; the end stays where it is.
  tflite::MicroAllocator* a =
      tflite::MicroAllocator::Create(arena + 3, 1000, tflite::MemoryPlannerType::kGreedy);
  ASSERT_NE(a, nullptr);
  const uintptr_t end = reinterpret_cast<uintptr_t>(arena + 3 + 1000);
  EXPECT_EQ(a->used_bytes(), end - (end - kCreateBytes) / kCreateAlignment * kCreateAlignment);
  EXPECT_EQ(a->tail_bytes(), a->used_bytes());
  EXPECT_EQ(a->head_start(), arena + 16);
}

TEST(Allocator, RegionsAndUsedBytes) {
  tflite::MicroAllocator* a =
      tflite::MicroAllocator::Create(arena, 1024, tflite::MemoryPlannerType::kGreedy);
  ASSERT_NE(a, nullptr);
  const size_t base = a->used_bytes();
  // Tail allocations move down to their alignment.
  uint8_t* p = static_cast<uint8_t*>(a->AllocatePersistent(4, 4));
  uint8_t* q = static_cast<uint8_t*>(a->AllocatePersistent(8, 16));
  ASSERT_NE(p, nullptr);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(q) % 16, 0u);
  EXPECT_EQ(a->used_bytes(), static_cast<size_t>(arena + 1024 - q));
  const size_t tail = a->used_bytes();
  // Head and temp count by their highest end; temp goes with a reset.
  ASSERT_TRUE(a->ResizeHead(100));
  EXPECT_EQ(a->used_bytes(), tail + 100);
  ASSERT_NE(a->AllocateTemp(50, 16), nullptr);
  EXPECT_EQ(a->used_bytes(), tail + 112 + 50);
  a->ResetTemp();
  EXPECT_EQ(a->used_bytes(), tail + 100);
  EXPECT_GT(tail, base);
}

TEST(Allocator, TempRoomLiesBetweenTheEndsRoundedInwards) {
  tflite::MicroAllocator* a =
      tflite::MicroAllocator::Create(arena, 1024, tflite::MemoryPlannerType::kGreedy);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(a->AllocatePersistent(4, 4), nullptr);
  ASSERT_NE(a->AllocateTemp(20, 1), nullptr);
  const size_t tail = 1024 - a->tail_bytes();  // from the arena start
  ASSERT_NE(tail % 16, 0u);
  EXPECT_EQ(a->AvailableTemp(1), tail - 20);
  // The planner's working area: 16-aligned at both ends.
  EXPECT_EQ(a->AvailableTemp(16), tail / 16 * 16 - 32);
}

TEST(Allocator, RefusesCrossingRegionsWithTheReferenceMessages) {
  tflite::MicroAllocator* a =
      tflite::MicroAllocator::Create(arena, 1024, tflite::MemoryPlannerType::kGreedy);
  ASSERT_NE(a, nullptr);
  const size_t free_bytes = 1024 - a->used_bytes();
  std::vector<std::string> log = StderrLines([&] { EXPECT_FALSE(a->ResizeHead(free_bytes + 8)); });
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "Failed to resize buffer. Requested: " + std::to_string(free_bytes + 8) +
                        ", available " + std::to_string(free_bytes) + ", missing: 8");
  ASSERT_TRUE(a->ResizeHead(free_bytes - 16));
  log = StderrLines([&] { EXPECT_EQ(a->AllocatePersistent(32, 8), nullptr); });
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "Failed to allocate tail memory. Requested: 32, available 16, missing: 16");
  log = StderrLines([&] { EXPECT_EQ(a->AllocateTemp(17, 1), nullptr); });
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], "Failed to allocate temp memory. Requested: 17, available 16, missing: 1");
  EXPECT_NE(a->AllocateTemp(16, 1), nullptr);
}

TEST(Allocator, TooSmallArenasGiveNullNotACrash) {
  StderrLines([] {
    EXPECT_EQ(tflite::MicroAllocator::Create(arena, 16, tflite::MemoryPlannerType::kGreedy),
              nullptr);
    EXPECT_EQ(tflite::MicroAllocator::Create(nullptr, 4096, tflite::MemoryPlannerType::kGreedy),
              nullptr);
    // Room for the allocator and 8 bytes: not for the variables' table record.
    tflite::MicroAllocator* a = tflite::MicroAllocator::Create(arena, kCreateBytes + 8,
                                                               tflite::MemoryPlannerType::kGreedy);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(tflite::MicroResourceVariables::Create(a, 20), nullptr);
  });
}

TEST(ResourceVariables, WithoutRoomForItsEntriesATableHoldsNone) {
  // Room for the table's record, not for its 20 entries.
  const size_t size = 16 * 4 + 20 * kVariableEntryBytes;
  tflite::MicroAllocator* a =
      tflite::MicroAllocator::Create(arena, size, tflite::MemoryPlannerType::kGreedy);
  ASSERT_NE(a, nullptr);
  const size_t free_bytes = size - a->used_bytes();
  ASSERT_GE(free_bytes, kVariablesRecordBytes);
  const size_t after_record = (free_bytes - kVariablesRecordBytes) / 16 * 16;
  tflite::MicroResourceVariables* v = nullptr;
  std::vector<std::string> log =
      StderrLines([&] { v = tflite::MicroResourceVariables::Create(a, 20); });
  ASSERT_NE(v, nullptr);
  const size_t requested = 20 * kVariableEntryBytes;
  EXPECT_EQ(log, std::vector<std::string>{
                     "Failed to allocate tail memory. Requested: " + std::to_string(requested) +
                     ", available " + std::to_string(after_record) +
                     ", missing: " + std::to_string(requested - after_record)});
  EXPECT_EQ(a->used_bytes(), size - after_record);
  log = StderrLines([&] { EXPECT_EQ(v->CreateIdIfNoneFound(nullptr, "a"), -1); });
  EXPECT_EQ(log, std::vector<std::string>{"Failed to allocate resource variable. Maximum "
                                          "resource variable count (0) reached."});
}

TEST(ResourceVariables, NamesCapacityAndStorage) {
  tflite::MicroAllocator* a =
      tflite::MicroAllocator::Create(arena, 4096, tflite::MemoryPlannerType::kGreedy);
  tflite::MicroResourceVariables* v = tflite::MicroResourceVariables::Create(a, 3);
  ASSERT_NE(v, nullptr);
  const char kEmpty[] = "";
  EXPECT_EQ(v->CreateIdIfNoneFound(kEmpty, "a"), 0);
  // An absent container in the query matches any container, "" included;
  // a present one must be equal.
  EXPECT_EQ(v->CreateIdIfNoneFound(nullptr, "a"), 0);
  EXPECT_EQ(v->CreateIdIfNoneFound("c", "a"), 1);
  EXPECT_EQ(v->CreateIdIfNoneFound("c", "a"), 1);
  // A null shared name is a name of its own; no crash on the comparisons.
  EXPECT_EQ(v->CreateIdIfNoneFound(nullptr, nullptr), 2);
  EXPECT_EQ(v->CreateIdIfNoneFound(nullptr, nullptr), 2);
  const std::vector<std::string> log =
      StderrLines([&] { EXPECT_EQ(v->CreateIdIfNoneFound(nullptr, "d"), -1); });
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0],
            "Failed to allocate resource variable. Maximum resource variable count (3) reached.");

  // The first allocation sizes the storage and sets its default byte.
  int32_t zero_point_data[2] = {1, -5};
  TfLiteIntArray* zero_points = reinterpret_cast<TfLiteIntArray*>(zero_point_data);
  TfLiteAffineQuantization quantization{nullptr, zero_points, 0};
  TfLiteTensor value{};
  value.bytes = 6;
  value.quantization = {kTfLiteAffineQuantization, &quantization};
  ASSERT_EQ(v->Allocate(1, value, a), kTfLiteOk);
  EXPECT_EQ(v->bytes(1), 6u);
  value.bytes = 9;
  ASSERT_EQ(v->Allocate(1, value, a), kTfLiteOk);
  EXPECT_EQ(v->bytes(1), 6u);

  int dims_data[2] = {1, 6};
  int8_t stored[6];
  TfLiteEvalTensor out{};
  out.type = kTfLiteInt8;
  out.dims = reinterpret_cast<TfLiteIntArray*>(dims_data);
  out.data.int8 = stored;
  ASSERT_EQ(v->Read(1, &out), kTfLiteOk);
  EXPECT_EQ(std::vector<int8_t>(stored, stored + 6), std::vector<int8_t>(6, -5));
  int8_t fresh[6] = {1, 2, 3, 4, 5, 6};
  TfLiteEvalTensor in = out;
  in.data.int8 = fresh;
  ASSERT_EQ(v->Assign(1, in), kTfLiteOk);
  ASSERT_EQ(v->Read(1, &out), kTfLiteOk);
  EXPECT_EQ(std::memcmp(stored, fresh, 6), 0);
  v->ResetAll();
  ASSERT_EQ(v->Read(1, &out), kTfLiteOk);
  EXPECT_EQ(stored[0], -5);

  // Wrong ids and sizes are refused, never copied.
  StderrLines([&] {
    EXPECT_EQ(v->Read(7, &out), kTfLiteError);
    EXPECT_EQ(v->Read(-1, &out), kTfLiteError);
    EXPECT_EQ(v->Assign(0, in), kTfLiteError);  // no storage yet
    dims_data[1] = 5;
    EXPECT_EQ(v->Assign(1, in), kTfLiteError);
    EXPECT_EQ(v->Read(1, &out), kTfLiteError);
  });
}

TEST(OpResolver, EachOpOnceAndNoMoreThanItsSlots) {
  tflite::MicroMutableOpResolver<2> resolver;
  EXPECT_EQ(resolver.AddLogistic(tflite::Register_LOGISTIC()), kTfLiteOk);
  std::vector<std::string> log = StderrLines(
      [&] { EXPECT_EQ(resolver.AddLogistic(tflite::Register_LOGISTIC()), kTfLiteError); });
  EXPECT_EQ(log, (std::vector<std::string>{"Calling AddBuiltin with the same op more than ",
                                           "once is not supported (Op: #14)."}));
  EXPECT_EQ(resolver.AddQuantize(tflite::Register_QUANTIZE()), kTfLiteOk);
  log = StderrLines(
      [&] { EXPECT_EQ(resolver.AddReshape(tflite::Register_RESHAPE()), kTfLiteError); });
  EXPECT_EQ(log, (std::vector<std::string>{"Couldn't register builtin op #22, resolver size ",
                                           "is too small (2)."}));
  // Found by code, whatever the order of registration.
  ASSERT_NE(resolver.FindOp(114), nullptr);
  EXPECT_EQ(resolver.FindOp(114)->builtin_code, 114);
  EXPECT_EQ(resolver.FindOp(14)->builtin_code, 14);
  EXPECT_EQ(resolver.FindOp(22), nullptr);
}

struct PlanCase {
  const char* what;
  std::vector<tflite::PlannerBuffer> buffers;  // size, first, last
  std::vector<int64_t> offsets;
  size_t plan_size;
};

tflite::PlannerBuffer B(int size, int first, int last) { return {0, size, first, last, -1, false}; }
tflite::PlannerBuffer Fixed(int64_t offset, int size, int first, int last) {
  return {offset, size, first, last, -1, true};
}

TEST(GreedyPlanner, PlacesLargestFirstInTheLowestGap) {
  const std::vector<PlanCase> cases = {
      {"disjoint lifetimes share offset 0", {B(32, 0, 1), B(48, 2, 3)}, {0, 0}, 48},
      {"overlapping lifetimes stack, largest lowest", {B(16, 0, 2), B(48, 1, 3)}, {48, 0}, 64},
      {"equal sizes: the later buffer is placed first",
       {B(16, 0, 5), B(16, 0, 5), B(16, 0, 5)},
       {32, 16, 0},
       48},
      {"a gap between live buffers is reused",
       {B(64, 0, 4), B(32, 1, 1), B(64, 0, 4), B(32, 3, 3)},
       {64, 128, 0, 128},
       160},
      {"a buffer fits below a later-placed one when the gap allows",
       {B(96, 0, 1), B(96, 2, 3), B(48, 0, 3)},
       {0, 0, 96},
       144},
      {"unreached buffers (-1, -1) only meet each other",
       {B(16, -1, -1), B(16, -1, -1), B(16, 0, 0)},
       {16, 0, 0},
       32},
      {"fixed buffers stay; the others fit around them",
       {Fixed(16, 32, 0, 5), B(16, 0, 5), B(32, 0, 5)},
       {16, 0, 48},
       80},
  };
  for (PlanCase c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int> order(c.buffers.size());
    EXPECT_EQ(
        tflite::PlanGreedy(c.buffers.data(), static_cast<int>(c.buffers.size()), order.data()),
        c.plan_size);
    for (size_t i = 0; i < c.buffers.size(); ++i) EXPECT_EQ(c.buffers[i].offset, c.offsets[i]);
  }
}

}  // namespace
}  // namespace inference_test
