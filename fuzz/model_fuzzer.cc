// Bytes as a cuewatch model file: loaded and verified as the program does,
// then the operators, arena, interpreter and tensor checks of its set-up and,
// for an accepted model, a few runs on rows taken from the input's tail.
// A model that allocates but fails the checks is still run once: the runtime
// must hold whatever a model asks of it.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "detector/feature_layout.h"
#include "detector/model_checks.h"
#include "detector/model_loader.h"
#include "detector/model_memory.h"
#include "detector/operators.h"
#include "fuzz/fuzz_check.h"
#include "inference/micro_allocator.h"
#include "inference/micro_interpreter.h"
#include "inference/micro_resource_variables.h"

namespace {

constexpr int kInvokes = 3;

alignas(16) uint8_t tensor_arena[kTensorArenaSize];

OperatorResolver& resolver() {
  static OperatorResolver op_resolver;
  static bool registered = register_operators(op_resolver);
  if (!registered) fuzz_fail("registration failed");
  return op_resolver;
}

bool in_arena(const void* data, size_t bytes) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  return p != nullptr && p >= tensor_arena && bytes <= kTensorArenaSize &&
         p + bytes <= tensor_arena + kTensorArenaSize;
}

// Fills bytes from the input's tail, which a model file may carry unread.
void fill_from_tail(uint8_t* target, size_t bytes, const uint8_t* data, size_t size,
                    size_t* cursor) {
  for (size_t i = 0; i < bytes; ++i) {
    target[i] = data[size - 1 - (*cursor % size)];
    ++*cursor;
  }
}

// The model file lives in memory; load_model opens it by name like any file.
const char* model_path() {
  static char path[64];
  if (path[0] == '\0') {
    const int fd = memfd_create("model", 0);
    if (fd < 0) fuzz_fail("no memfd");
    snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
  }
  return path;
}

void write_model_file(const uint8_t* data, size_t size) {
  const int fd = atoi(model_path() + strlen("/proc/self/fd/"));
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
    fuzz_fail("can't write the model file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size >= kModelBufferSize) return 0;
  write_model_file(data, size);

  // A buffer just one byte larger than the file, so that reading past the
  // model's bytes is caught rather than landing in zeros.
  void* buffer = nullptr;
  if (posix_memalign(&buffer, 16, size + 1) != 0) fuzz_fail("out of memory");
  const tflite::Model* model = nullptr;
  size_t model_bytes = 0;
  const char* message = load_model(model_path(), static_cast<uint8_t*>(buffer), size + 1,
                                    &model, &model_bytes);
  if (message != nullptr) {
    free(buffer);
    return 0;
  }
  if (model_bytes != size) fuzz_fail("model_bytes differs from the file size");

  memset(tensor_arena, 0, sizeof(tensor_arena));
  tflite::MicroAllocator* allocator = tflite::MicroAllocator::Create(
      tensor_arena, kTensorArenaSize, tflite::MemoryPlannerType::kGreedy);
  if (allocator == nullptr) fuzz_fail("no allocator over a 64 KiB arena");
  tflite::MicroResourceVariables* variables =
      tflite::MicroResourceVariables::Create(allocator, kMaxResourceVariables);
  if (variables == nullptr) fuzz_fail("no resource variables in a 64 KiB arena");

  tflite::MicroInterpreter interpreter(model, resolver(), allocator, variables, nullptr);
  if (interpreter.AllocateTensors() == kTfLiteOk) {
    if (interpreter.arena_used_bytes() > kTensorArenaSize) fuzz_fail("arena use above the arena");
    size_t cursor = 0;
    if (interpreter.inputs_size() == 1 && interpreter.outputs_size() == 1) {
      TfLiteTensor* input = interpreter.input(0);
      TfLiteTensor* output = interpreter.output(0);
      if (input == nullptr || output == nullptr) fuzz_fail("null tensor with one input and output");
      if (check_model_tensors(*input, *output) == nullptr) {
        // The detector writes F rows of 40 int8 values into the input in
        // place and reads one byte of the output after each run.
        const size_t row_bytes = static_cast<size_t>(input->dims->data[1]) * kFeatureCount;
        if (input->bytes != row_bytes || !in_arena(input->data.raw, row_bytes)) {
          fuzz_fail("accepted input is not its rows inside the arena");
        }
        if (output->data.raw == nullptr || output->bytes < 1) fuzz_fail("accepted output has no byte");
        for (int run = 0; run < kInvokes; ++run) {
          fill_from_tail(input->data.uint8, row_bytes, data, size, &cursor);
          if (interpreter.Invoke() != kTfLiteOk) break;
          volatile uint8_t score = output->data.uint8[0];
          (void)score;
        }
        free(buffer);
        return 0;
      }
    }
    // Outside the detector's path: every input the model has, whatever its kind.
    for (size_t i = 0; i < interpreter.inputs_size(); ++i) {
      TfLiteTensor* input = interpreter.input(i);
      if (input != nullptr && input->data.raw != nullptr && in_arena(input->data.raw, input->bytes)) {
        fill_from_tail(input->data.uint8, input->bytes, data, size, &cursor);
      }
    }
    interpreter.Invoke();
  }
  free(buffer);
  return 0;
}
