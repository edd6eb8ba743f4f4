// Every reference model: the load outcome, the library's diagnostics, the
// model interface and the arena use; every reference invoke result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "inference/op_names.h"
#include "tests/inference/test_support.h"

namespace inference_test {
namespace {

const std::string kGolden = GOLDEN_DIR;

struct Expected {
  std::string name;
  std::map<std::string, std::string> fields;
  std::vector<std::string> lib;
};

std::vector<Expected> ReadModelResults() {
  std::vector<Expected> results;
  for (const std::string& line : ReadLines(kGolden + "/model_results.txt")) {
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      results.push_back(Expected{line.substr(1, line.size() - 2), {}, {}});
      continue;
    }
    const size_t colon = line.find(": ");
    if (results.empty() || colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    const std::string value = line.substr(colon + 2);
    if (key == "lib") {
      results.back().lib.push_back(value);
    } else {
      results.back().fields[key] = value;
    }
  }
  return results;
}

// The C escapes of lib_raw: \r \n \" \\.
std::string Unescape(const std::string& quoted) {
  std::string out;
  for (size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] != '\\') {
      out += quoted[i];
      continue;
    }
    const char c = quoted[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
  }
  return out;
}

std::string Describe(const TfLiteTensor* t) {
  std::string dims;
  for (int i = 0; i < t->dims->size; ++i) {
    dims += (i ? "," : "") + std::to_string(t->dims->data[i]);
  }
  char text[256];
  std::snprintf(text, sizeof(text), "type=%s dims=[%s] bytes=%zu scale=%.9g zero_point=%d",
                tflite::TfLiteTypeGetName(t->type), dims.c_str(), t->bytes,
                static_cast<double>(t->params.scale), static_cast<int>(t->params.zero_point));
  return text;
}

// Runs the loading procedure; returns the outcome as model_results names it.
std::string Load(Runtime& runtime, size_t file_bytes, std::string* log) {
  if (file_bytes >= (1u << 20)) return "FAIL at too_big";
  if (!runtime.Verify()) return "FAIL at verify";
  if (runtime.model()->version() != TFLITE_SCHEMA_VERSION) return "FAIL at version";
  if (!runtime.Create()) return "FAIL at create";
  TfLiteStatus status = kTfLiteError;
  StderrLines([&] { status = runtime.interpreter().AllocateTensors(); }, log);
  return status == kTfLiteOk ? "ok" : "FAIL at allocate_tensors";
}

TEST(GoldenModels, LoadAsTheReferenceDoes) {
  const std::vector<Expected> results = ReadModelResults();
  ASSERT_EQ(results.size(), 21u);
  for (const Expected& expected : results) {
    SCOPED_TRACE(expected.name);
    const std::vector<uint8_t> file = ReadFile(kGolden + "/models/" + expected.name);
    ASSERT_EQ(std::to_string(file.size()), expected.fields.at("file_bytes"));
    Runtime runtime(file);
    std::string log;
    const std::string outcome = Load(runtime, file.size(), &log);
    EXPECT_EQ(outcome, expected.fields.at("outcome"));
    if (outcome == "FAIL at verify" || outcome == "FAIL at version") continue;

    // Lines naming a source file and line are artefacts of the reference's
    // build; all others must match byte for byte.
    const auto raw = expected.fields.find("lib_raw");
    const std::string expected_raw = raw == expected.fields.end() ? "" : Unescape(raw->second);
    if (sizeof(void*) != 8 && expected_raw.find(", available") != std::string::npos) {
      // Smaller records leave more room: only the request is the same.
      const std::string request = expected_raw.substr(0, expected_raw.find(", available"));
      EXPECT_EQ(log.substr(0, request.size()), request);
    } else if (expected_raw.find(".cc:") == std::string::npos) {
      EXPECT_EQ(log, expected_raw);
    } else {
      const std::vector<std::string> lines = SplitLines(log);
      ASSERT_EQ(lines.size(), expected.lib.size()) << log;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (expected.lib[i].find(".cc:") == std::string::npos) {
          EXPECT_EQ(lines[i], expected.lib[i]);
        }
      }
    }
    EXPECT_TRUE(runtime.ModelUntouched());
    if (outcome != "ok") continue;

    tflite::MicroInterpreter& interpreter = runtime.interpreter();
    EXPECT_EQ(std::to_string(interpreter.inputs_size()), expected.fields.at("inputs_size"));
    EXPECT_EQ(std::to_string(interpreter.outputs_size()), expected.fields.at("outputs_size"));
    for (size_t i = 0; i < interpreter.inputs_size(); ++i) {
      EXPECT_EQ(Describe(interpreter.input(i)), expected.fields.at("input" + std::to_string(i)));
    }
    for (size_t i = 0; i < interpreter.outputs_size(); ++i) {
      EXPECT_EQ(Describe(interpreter.output(i)), expected.fields.at("output" + std::to_string(i)));
    }
    // The figures are those of a 64-bit build; smaller records elsewhere.
    const size_t used = interpreter.arena_used_bytes();
    const size_t reference = std::stoul(expected.fields.at("arena_used_bytes"));
    if (sizeof(void*) == 8) {
      EXPECT_EQ(used, reference);
    } else {
      EXPECT_LE(used, reference);
    }
  }
}

TEST(GoldenModels, TensorsOutOfRangeOrBeforeAllocationAreNull) {
  Runtime runtime(ReadFile(kGolden + "/models/stream_f1a.tflite"));
  ASSERT_TRUE(runtime.Create());
  tflite::MicroInterpreter& interpreter = runtime.interpreter();
  // The model's interface is known before allocation, its tensors are not.
  EXPECT_EQ(interpreter.inputs_size(), 1u);
  EXPECT_EQ(interpreter.outputs_size(), 1u);
  StderrLines([&] { EXPECT_EQ(interpreter.input(0), nullptr); });
  ASSERT_EQ(interpreter.AllocateTensors(), kTfLiteOk);
  // A second call keeps what the first one built.
  const size_t used = interpreter.arena_used_bytes();
  EXPECT_EQ(interpreter.AllocateTensors(), kTfLiteOk);
  EXPECT_EQ(interpreter.arena_used_bytes(), used);
  EXPECT_NE(interpreter.input(0), nullptr);
  std::vector<std::string> log = StderrLines([&] { EXPECT_EQ(interpreter.input(1), nullptr); });
  EXPECT_EQ(log, std::vector<std::string>{"Input index 1 out of range (length is 1)"});
  log = StderrLines([&] { EXPECT_EQ(interpreter.output(3), nullptr); });
  EXPECT_EQ(log, std::vector<std::string>{"Output index 3 out of range (length is 1)"});
  // Invoking leaves the arena use as it is.
  std::vector<uint8_t> output;
  ASSERT_EQ(runtime.Invoke(std::vector<uint8_t>(40, 0), &output), kTfLiteOk);
  EXPECT_EQ(interpreter.arena_used_bytes(), used);
}

// Building needs more than the final use: an arena of exactly that size
// holds the result but not the planning on the way.
TEST(GoldenModels, AnArenaOfTheFinalSizeIsTooSmallToBuildIn) {
  const std::vector<uint8_t> file = ReadFile(kGolden + "/models/err_base_valid.tflite");
  Runtime roomy(file);
  ASSERT_TRUE(roomy.Create());
  ASSERT_EQ(roomy.interpreter().AllocateTensors(), kTfLiteOk);
  const size_t used = roomy.interpreter().arena_used_bytes();

  Runtime tight(file, used);
  ASSERT_TRUE(tight.Create());
  TfLiteStatus status = kTfLiteOk;
  const std::vector<std::string> log =
      StderrLines([&] { status = tight.interpreter().AllocateTensors(); });
  EXPECT_EQ(status, kTfLiteError);
  const auto planning = std::find_if(log.begin(), log.end(), [](const std::string& line) {
    return line.rfind("Failed to allocate memory for memory planning", 0) == 0 ||
           line.rfind("Too many buffers", 0) == 0;
  });
  EXPECT_NE(planning, log.end()) << ::testing::PrintToString(log);
}

TEST(GoldenModels, InvokeGivesTheReferenceBytes) {
  int files = 0;
  for (const Expected& model : ReadModelResults()) {
    const std::string stem = model.name.substr(0, model.name.size() - 7);  // ".tflite"
    for (const std::string blocks : {"random", "extremes"}) {
      const std::vector<std::string> expected =
          ReadLines(kGolden + "/invoke/" + stem + "__" + blocks + ".txt");
      if (expected.empty()) continue;
      ++files;
      SCOPED_TRACE(stem + " on " + blocks);
      Runtime runtime(ReadFile(kGolden + "/models/" + model.name));
      ASSERT_TRUE(runtime.Create());
      ASSERT_EQ(runtime.interpreter().AllocateTensors(), kTfLiteOk);
      const std::vector<uint8_t> data = ReadFile(kGolden + "/blocks/" + blocks + "_12000.bin");
      const size_t block = runtime.interpreter().input(0)->bytes;
      // An empty input is invoked three times.
      const size_t count = block == 0 ? 3 : data.size() / block;
      ASSERT_EQ(count, expected.size());
      std::vector<uint8_t> output;
      for (size_t k = 0; k < count; ++k) {
        const std::vector<uint8_t> in(data.begin() + k * block, data.begin() + (k + 1) * block);
        ASSERT_EQ(runtime.Invoke(in, &output), kTfLiteOk);
        ASSERT_EQ(std::to_string(output[0]), expected[k]) << "block " << k;
      }
      EXPECT_TRUE(runtime.ModelUntouched());
    }
  }
  EXPECT_EQ(files, 20);
}

}  // namespace
}  // namespace inference_test
