// Times MicroInterpreter::Invoke on a model over raw input blocks and checks
// the first output byte of every block against the recorded results.
//
//   bench_invoke MODEL.tflite BLOCKS.bin RESULTS.txt PASSES
//
// PASSES 0 runs the check pass only (for instruction counting).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "detector/model_memory.h"
#include "detector/operators.h"
#include "inference/micro_allocator.h"
#include "inference/micro_interpreter.h"
#include "inference/micro_resource_variables.h"
#include "inference/schema.h"

namespace {

alignas(16) uint8_t model_buffer[kModelBufferSize];
alignas(16) uint8_t arena[kTensorArenaSize];

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
}

double Seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: bench_invoke MODEL BLOCKS RESULTS PASSES\n");
    return 2;
  }
  const std::vector<uint8_t> model_bytes = ReadFile(argv[1]);
  const std::vector<uint8_t> blocks = ReadFile(argv[2]);
  const std::vector<uint8_t> results = ReadFile(argv[3]);
  const int passes = atoi(argv[4]);
  if (model_bytes.empty() || model_bytes.size() > sizeof(model_buffer)) return 1;
  memcpy(model_buffer, model_bytes.data(), model_bytes.size());
  flatbuffers::Verifier verifier(model_buffer, model_bytes.size());
  if (!tflite::VerifyModelBuffer(verifier)) return 1;

  OperatorResolver resolver;
  if (!register_operators(resolver)) return 1;
  tflite::MicroAllocator* allocator = tflite::MicroAllocator::Create(
      arena, sizeof(arena), tflite::MemoryPlannerType::kGreedy);
  tflite::MicroResourceVariables* variables =
      tflite::MicroResourceVariables::Create(allocator, kMaxResourceVariables);
  tflite::MicroInterpreter interpreter(tflite::GetModel(model_buffer), resolver,
                                       allocator, variables);
  if (interpreter.AllocateTensors() != kTfLiteOk) return 1;
  TfLiteTensor* input = interpreter.input(0);
  TfLiteTensor* output = interpreter.output(0);
  const size_t block = input->bytes;
  if (block == 0) return 1;

  // The check pass: streaming state starts fresh, as when recorded.
  std::string got;
  size_t count = 0;
  for (size_t at = 0; at + block <= blocks.size(); at += block, ++count) {
    memcpy(input->data.raw, blocks.data() + at, block);
    if (interpreter.Invoke() != kTfLiteOk) return 1;
    got += std::to_string(output->data.uint8[0]) + "\n";
  }
  if (got != std::string(results.begin(), results.end())) {
    fprintf(stderr, "%s: outputs differ from %s\n", argv[1], argv[3]);
    return 1;
  }
  if (passes == 0) return 0;

  const double start = Seconds();
  for (int p = 0; p < passes; ++p) {
    for (size_t at = 0; at + block <= blocks.size(); at += block) {
      memcpy(input->data.raw, blocks.data() + at, block);
      interpreter.Invoke();
    }
  }
  const double elapsed = Seconds() - start;
  printf("%s: %zu invokes checked; %.2f us per Invoke; arena %zu bytes in use\n", argv[1],
         count, elapsed / (static_cast<double>(passes) * count) * 1e6,
         interpreter.arena_used_bytes());
  return 0;
}
