#include "tests/audio_frontend/frontend_test_util.h"

#include <fstream>
#include <sstream>

FrontendConfig SmallConfig() {
  FrontendConfig config;
  FrontendFillConfigWithDefaults(&config);
  config.filterbank.num_channels = 2;
  config.filterbank.lower_band_limit = 8.0f;
  config.filterbank.upper_band_limit = 450.0f;
  config.pcan_gain_control.enable_pcan = 1;
  return config;
}

ScopedFrontend::ScopedFrontend(const FrontendConfig& config, int sample_rate)
    : ok_(FrontendPopulateState(&config, &state_, sample_rate) == 1) {}

ScopedFrontend::~ScopedFrontend() { FrontendFreeStateContents(&state_); }

std::vector<TimedRow> RunChunks(FrontendState* state,
                                const std::vector<int16_t>& samples,
                                size_t chunk_size) {
  std::vector<TimedRow> rows;
  size_t chunk = 0;
  for (size_t start = 0; start < samples.size(); start += chunk_size) {
    ++chunk;
    size_t left = std::min(chunk_size, samples.size() - start);
    const int16_t* next = samples.data() + start;
    while (left > 0) {
      size_t read = 0;
      const FrontendOutput out = FrontendProcessSamples(state, next, left, &read);
      if (out.size != 0) rows.push_back({chunk, Row(out.values, out.values + out.size)});
      if (read == 0) break;
      next += read;
      left -= read;
    }
  }
  return rows;
}

std::string GoldenDir() { return GOLDEN_DIR; }

namespace {

int16_t MixFrame(const int16_t* frame) {
  const int32_t sum = int32_t{frame[0]} + frame[1] + frame[2] + frame[3];
  float value = static_cast<float>(sum) * 0.25f;
  value = value * 25.0f;
  if (value < -32768.0f) value = -32768.0f;
  if (value > 32767.0f) value = 32767.0f;
  return static_cast<int16_t>(value);
}

}  // namespace

std::vector<int16_t> ReadGoldenAudio(const std::string& name, int channels) {
  std::ifstream file(GoldenDir() + "/audio/" + name, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                          std::istreambuf_iterator<char>());
  std::vector<int16_t> raw(bytes.size() / 2);
  for (size_t i = 0; i < raw.size(); ++i) {
    raw[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                  static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  }
  if (channels == 1) return raw;
  std::vector<int16_t> mono(raw.size() / 4);
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = MixFrame(&raw[4 * i]);
  return mono;
}

std::vector<Row> ReadGoldenFeatures(const std::string& name) {
  std::ifstream file(GoldenDir() + "/features/" + name);
  std::vector<Row> rows;
  std::string line;
  while (std::getline(file, line)) {
    Row row;
    for (int64_t value : ParseInts(line)) row.push_back(static_cast<uint16_t>(value));
    rows.push_back(row);
  }
  return rows;
}

std::vector<int64_t> ParseInts(const std::string& text) {
  std::istringstream in(text);
  std::vector<int64_t> values;
  int64_t value;
  while (in >> value) values.push_back(value);
  return values;
}
