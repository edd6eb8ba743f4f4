// The generated models of make_test_models.py: edge cases of the format, the
// graph and the kernels, and malformed models, each with what it must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/inference/test_support.h"

namespace inference_test {
namespace {

const std::string kModels = TEST_MODELS_DIR;

struct Case {
  std::string name;
  std::string outcome;
  std::vector<std::string> lines;  // after C unescaping and splitting at LF
  std::vector<std::pair<std::vector<uint8_t>, std::string>> invokes;  // expected hex or "-"
  bool sentinel = false;
  bool has_dims = false;
  std::vector<int> dims;
  std::string same_as;
  bool has_delta = false;
  long delta = 0;
  // Bytes in use above the tail after a failed allocation, 64-bit / 32-bit.
  size_t held_at_failure[2] = {0, 0};
};

Case ReadCase(const std::string& name) {
  Case c;
  c.name = name;
  for (const std::string& line : ReadLines(kModels + "/" + name + ".expect")) {
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "outcome") {
      in >> c.outcome;
    } else if (key == "line") {
      std::string text = line.substr(5);
      // "\n" inside a message is a line break of its own.
      for (size_t at; (at = text.find("\\n")) != std::string::npos;) {
        c.lines.push_back(text.substr(0, at));
        text = text.substr(at + 2);
      }
      c.lines.push_back(text);
    } else if (key == "invoke") {
      std::string data, expected;
      in >> data >> expected;
      c.invokes.emplace_back(FromHex(data), expected);
    } else if (key == "sentinel") {
      c.sentinel = true;
    } else if (key == "dims") {
      c.has_dims = true;
      std::string list;
      in >> list;
      std::istringstream items(list);
      for (std::string item; std::getline(items, item, ',');) c.dims.push_back(std::stoi(item));
    } else if (key == "same_as") {
      in >> c.same_as;
    } else if (key == "address_delta") {
      c.has_delta = true;
      in >> c.delta;
    } else if (key == "held_at_failure") {
      in >> c.held_at_failure[0] >> c.held_at_failure[1];
    }
  }
  return c;
}

void ExpectLinesPresent(const std::vector<std::string>& log, const std::vector<std::string>& want) {
  for (const std::string& line : want) {
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << "missing line: " << line;
  }
}

// The outputs of a fresh interpreter over the case's invokes.
std::vector<std::vector<uint8_t>> Outputs(const std::string& name, const Case& inputs_from) {
  Runtime runtime(ReadFile(kModels + "/" + name + ".tflite"));
  std::vector<std::vector<uint8_t>> outputs;
  if (!runtime.Create() || runtime.interpreter().AllocateTensors() != kTfLiteOk) return outputs;
  for (const auto& invoke : inputs_from.invokes) {
    std::vector<uint8_t> output;
    if (runtime.Invoke(invoke.first, &output) != kTfLiteOk) break;
    outputs.push_back(output);
  }
  return outputs;
}

void RunCase(const Case& c) {
  SCOPED_TRACE(c.name);
  Runtime runtime(ReadFile(kModels + "/" + c.name + ".tflite"));
  // Every case is well-formed as a FlatBuffer: refusals come from the runtime.
  ASSERT_TRUE(runtime.Verify());
  ASSERT_TRUE(runtime.Create());
  tflite::MicroInterpreter& interpreter = runtime.interpreter();

  TfLiteStatus status = kTfLiteOk;
  std::vector<std::string> log = StderrLines([&] { status = interpreter.AllocateTensors(); });
  if (c.outcome == "allocate") {
    EXPECT_EQ(status, kTfLiteError);
    EXPECT_FALSE(log.empty()) << "refused without a diagnostic";
    ExpectLinesPresent(log, c.lines);
    const size_t held = c.held_at_failure[sizeof(void*) == 8 ? 0 : 1];
    if (held != 0) {
      EXPECT_EQ(interpreter.arena_used_bytes() - runtime.allocator().tail_bytes(), held);
    }
    // A half-built interpreter stays refused and hands out no tensors.
    StderrLines([&] {
      EXPECT_EQ(interpreter.Invoke(), kTfLiteError);
      if (interpreter.inputs_size() > 0) {
        EXPECT_EQ(interpreter.input(0), nullptr);
      }
      if (interpreter.outputs_size() > 0) {
        EXPECT_EQ(interpreter.output(0), nullptr);
      }
    });
    EXPECT_TRUE(runtime.ModelUntouched());
    return;
  }
  ASSERT_EQ(status, kTfLiteOk) << ::testing::PrintToString(log);
  EXPECT_TRUE(log.empty()) << ::testing::PrintToString(log);
  if (c.has_dims) {
    const TfLiteIntArray* dims = interpreter.output(0)->dims;
    EXPECT_EQ(std::vector<int>(dims->data, dims->data + dims->size), c.dims);
  }
  if (c.has_delta) {
    EXPECT_EQ(interpreter.output(0)->data.raw - interpreter.input(0)->data.raw, c.delta);
  }
  for (const auto& invoke : c.invokes) {
    std::vector<uint8_t> before;
    if (c.sentinel) {
      TfLiteTensor* out = interpreter.output(0);
      std::fill(out->data.uint8, out->data.uint8 + out->bytes, 0xA5);
      before.assign(out->bytes, 0xA5);
    }
    std::vector<uint8_t> output;
    log = StderrLines([&] { status = runtime.Invoke(invoke.first, &output); });
    if (c.outcome == "invoke") {
      EXPECT_EQ(status, kTfLiteError);
      ExpectLinesPresent(log, c.lines);
      continue;
    }
    ASSERT_EQ(status, kTfLiteOk) << ::testing::PrintToString(log);
    if (invoke.second != "-") {
      EXPECT_EQ(output, FromHex(invoke.second));
    }
    if (c.sentinel) {
      EXPECT_EQ(output, before);
    }
  }
  if (!c.same_as.empty()) {
    const Case reference = ReadCase(c.same_as);
    const auto expected = Outputs(c.same_as, reference);
    ASSERT_EQ(expected.size(), reference.invokes.size());
    EXPECT_EQ(Outputs(c.name, reference), expected);
  }
  EXPECT_TRUE(runtime.ModelUntouched());
}

TEST(ModelCases, EachGivesWhatItMust) {
  const std::vector<std::string> names = ReadLines(kModels + "/manifest.txt");
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) RunCase(ReadCase(name));
}

}  // namespace
}  // namespace inference_test
