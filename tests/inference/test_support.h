// Loading models and running them the way the detector does, for tests.
#ifndef TESTS_INFERENCE_TEST_SUPPORT_H_
#define TESTS_INFERENCE_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "detector/model_memory.h"
#include "inference/micro_interpreter.h"

namespace inference_test {

std::vector<uint8_t> ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);
std::vector<uint8_t> FromHex(const std::string& hex);

// A model in a 16-byte aligned buffer of its own, with an interpreter set up
// as the detector's: its arena size, resource variables and operators.
class Runtime {
 public:
  explicit Runtime(const std::vector<uint8_t>& file, size_t arena_size = kTensorArenaSize);

  bool Verify() const;
  const tflite::Model* model() const { return tflite::GetModel(model_bytes_); }
  // Builds the interpreter; false when the arena cannot hold the allocator
  // and the variables' table.
  bool Create();
  tflite::MicroInterpreter& interpreter() { return *interpreter_; }
  const tflite::MicroAllocator& allocator() const { return *allocator_; }
  // The model buffer still holds the bytes that were loaded.
  bool ModelUntouched() const;

  // Writes `data` over the inputs in order, invokes, returns output 0.
  TfLiteStatus Invoke(const std::vector<uint8_t>& data, std::vector<uint8_t>* output);

 private:
  std::vector<uint8_t> original_;
  std::unique_ptr<uint8_t[]> model_storage_;
  uint8_t* model_bytes_;
  std::unique_ptr<uint8_t[]> arena_storage_;
  uint8_t* arena_;
  size_t arena_size_;
  tflite::MicroAllocator* allocator_ = nullptr;
  std::optional<tflite::MicroInterpreter> interpreter_;
};

// Lines written to stderr by `run`, split at LF with trailing CR removed.
template <typename Run>
std::vector<std::string> StderrLines(Run run, std::string* raw = nullptr);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace inference_test

#include <gtest/gtest.h>

namespace inference_test {

template <typename Run>
std::vector<std::string> StderrLines(Run run, std::string* raw) {
  testing::internal::CaptureStderr();
  run();
  const std::string text = testing::internal::GetCapturedStderr();
  if (raw != nullptr) *raw = text;
  return SplitLines(text);
}

}  // namespace inference_test

#endif  // TESTS_INFERENCE_TEST_SUPPORT_H_
