#include "tests/inference/test_support.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "detector/operators.h"

namespace inference_test {

namespace {

uint8_t* Align16(uint8_t* p) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 15) / 16 * 16);
}

// The detector's own registration, so that these tests run what it runs.
const tflite::MicroOpResolver& Resolver() {
  static OperatorResolver resolver;
  static const bool registered = register_operators(resolver);
  EXPECT_TRUE(registered);
  return resolver;
}

}  // namespace

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  if (hex == "-") return bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

Runtime::Runtime(const std::vector<uint8_t>& file, size_t arena_size)
    : original_(file),
      model_storage_(new uint8_t[file.size() + 16]),
      model_bytes_(Align16(model_storage_.get())),
      arena_storage_(new uint8_t[arena_size + 16]),
      arena_(Align16(arena_storage_.get())),
      arena_size_(arena_size) {
  if (!file.empty()) std::memcpy(model_bytes_, file.data(), file.size());
}

bool Runtime::Verify() const {
  flatbuffers::Verifier verifier(model_bytes_, original_.size());
  return tflite::VerifyModelBuffer(verifier);
}

bool Runtime::Create() {
  allocator_ =
      tflite::MicroAllocator::Create(arena_, arena_size_, tflite::MemoryPlannerType::kGreedy);
  if (allocator_ == nullptr) return false;
  tflite::MicroResourceVariables* variables =
      tflite::MicroResourceVariables::Create(allocator_, kMaxResourceVariables);
  if (variables == nullptr) return false;
  interpreter_.emplace(tflite::GetModel(model_bytes_), Resolver(), allocator_, variables);
  return true;
}

bool Runtime::ModelUntouched() const {
  return original_.empty() || std::memcmp(model_bytes_, original_.data(), original_.size()) == 0;
}

TfLiteStatus Runtime::Invoke(const std::vector<uint8_t>& data, std::vector<uint8_t>* output) {
  size_t offset = 0;
  for (size_t i = 0; i < interpreter_->inputs_size(); ++i) {
    TfLiteTensor* input = interpreter_->input(i);
    const size_t n = std::min(input->bytes, data.size() - std::min(offset, data.size()));
    if (n > 0) std::memcpy(input->data.raw, data.data() + offset, n);
    offset += n;
  }
  const TfLiteStatus status = interpreter_->Invoke();
  if (output != nullptr && interpreter_->outputs_size() > 0) {
    const TfLiteTensor* out = interpreter_->output(0);
    output->assign(out->data.uint8, out->data.uint8 + out->bytes);
  }
  return status;
}

}  // namespace inference_test
