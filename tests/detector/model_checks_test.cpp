#include "detector/model_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

// A tensor whose dimension array holds exactly its rank, so reading a
// dimension beyond it trips the address sanitizer.
class Tensor {
 public:
  Tensor(TfLiteType type, std::vector<int> shape, float scale = 0.1f)
      : storage_(new int[1 + shape.size()]) {
    storage_[0] = static_cast<int>(shape.size());
    for (size_t i = 0; i < shape.size(); ++i) storage_[1 + i] = shape[i];
    tensor_ = TfLiteTensor{};
    tensor_.type = type;
    tensor_.dims = reinterpret_cast<TfLiteIntArray*>(storage_.get());
    tensor_.params.scale = scale;
    tensor_.params.zero_point = -128;
  }
  const TfLiteTensor& get() const { return tensor_; }

 private:
  std::unique_ptr<int[]> storage_;
  TfLiteTensor tensor_;
};

std::string result_of(const Tensor& input, const Tensor& output) {
  const char* message = check_model_tensors(input.get(), output.get());
  return message == nullptr ? "ok" : message;
}

TEST(CheckModelTensors, RefusesEveryOtherKindOfInputOrOutput) {
  const std::string kind = "the model's input or output isn't the expected kind";
  const std::string rows = "the model's input isn't the expected kind";
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* name;
    Tensor input;
    Tensor output;
    std::string expected;
  } cases[] = {
      {"accepted F=3", {kTfLiteInt8, {1, 3, 40}}, {kTfLiteUInt8, {1, 1}}, "ok"},
      {"accepted F=1", {kTfLiteInt8, {1, 1, 40}}, {kTfLiteUInt8, {1, 1}}, "ok"},
      {"accepted F=10", {kTfLiteInt8, {1, 10, 40}}, {kTfLiteUInt8, {1, 1}}, "ok"},
      {"NaN scale passes", {kTfLiteInt8, {1, 3, 40}, nan}, {kTfLiteUInt8, {1, 1}}, "ok"},
      {"float input", {kTfLiteFloat32, {1, 3, 40}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"uint8 input", {kTfLiteUInt8, {1, 3, 40}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"input rank 4", {kTfLiteInt8, {1, 3, 40, 1}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"input rank 1", {kTfLiteInt8, {40}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"input rank 0", {kTfLiteInt8, {}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"batch 2", {kTfLiteInt8, {2, 3, 40}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"32 features", {kTfLiteInt8, {1, 3, 32}}, {kTfLiteUInt8, {1, 1}}, kind},
      {"int8 output", {kTfLiteInt8, {1, 3, 40}}, {kTfLiteInt8, {1, 1}}, kind},
      {"output [1, 2]", {kTfLiteInt8, {1, 3, 40}}, {kTfLiteUInt8, {1, 2}}, kind},
      {"output [2, 1]", {kTfLiteInt8, {1, 3, 40}}, {kTfLiteUInt8, {2, 1}}, kind},
      {"output [1]", {kTfLiteInt8, {1, 3, 40}}, {kTfLiteUInt8, {1}}, kind},
      {"output [1, 1, 1]", {kTfLiteInt8, {1, 3, 40}}, {kTfLiteUInt8, {1, 1, 1}}, kind},
      {"F=0", {kTfLiteInt8, {1, 0, 40}}, {kTfLiteUInt8, {1, 1}}, rows},
      {"F=11", {kTfLiteInt8, {1, 11, 40}}, {kTfLiteUInt8, {1, 1}}, rows},
      {"F=49", {kTfLiteInt8, {1, 49, 40}}, {kTfLiteUInt8, {1, 1}}, rows},
      {"F=-1", {kTfLiteInt8, {1, -1, 40}}, {kTfLiteUInt8, {1, 1}}, rows},
      {"scale 0", {kTfLiteInt8, {1, 3, 40}, 0.0f}, {kTfLiteUInt8, {1, 1}}, rows},
      {"scale -0", {kTfLiteInt8, {1, 3, 40}, -0.0f}, {kTfLiteUInt8, {1, 1}}, rows},
      {"negative scale", {kTfLiteInt8, {1, 3, 40}, -0.5f}, {kTfLiteUInt8, {1, 1}}, rows},
      // The kind of input and output is tested before the number of rows.
      {"F=49 and int8 output", {kTfLiteInt8, {1, 49, 40}}, {kTfLiteInt8, {1, 1}}, kind},
      {"scale 0 and output [1]", {kTfLiteInt8, {1, 3, 40}, 0.0f}, {kTfLiteUInt8, {1}}, kind},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(result_of(c.input, c.output), c.expected) << c.name;
  }
}

}  // namespace
