// Every row of every golden file, and the chunk that yields it.
#include <fstream>
#include <sstream>

#include "gtest/gtest.h"
#include "tests/audio_frontend/frontend_test_util.h"

namespace {

constexpr size_t kChunkSamples = 160;

struct AudioFile {
  std::string name;
  int channels;
  size_t frames;
};

std::vector<AudioFile> ReadManifest() {
  std::ifstream file(GoldenDir() + "/audio/manifest.tsv");
  std::vector<AudioFile> files;
  std::string line;
  std::getline(file, line);  // header
  while (std::getline(file, line)) {
    std::istringstream fields(line);
    AudioFile entry;
    fields >> entry.name >> entry.channels >> entry.frames;
    files.push_back(entry);
  }
  return files;
}

TEST(GoldenFeatures, EveryRowOfEveryFileAtItsChunk) {
  const std::vector<AudioFile> files = ReadManifest();
  ASSERT_EQ(files.size(), 24u);
  for (const AudioFile& file : files) {
    SCOPED_TRACE(file.name);
    std::vector<int16_t> samples = ReadGoldenAudio(file.name, file.channels);
    ASSERT_EQ(samples.size(), file.frames);
    samples.resize(samples.size() / kChunkSamples * kChunkSamples);  // whole chunks only
    const std::string stem = file.name.substr(0, file.name.size() - 4);
    const std::vector<Row> expected = ReadGoldenFeatures(stem + ".txt");
    ASSERT_EQ(expected.size(), samples.size() / kChunkSamples - 2);

    ScopedFrontend frontend(feature_config(), 16000);
    ASSERT_TRUE(frontend.ok());
    const std::vector<TimedRow> rows = RunChunks(frontend.get(), samples, kChunkSamples);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t k = 0; k < rows.size(); ++k) {
      ASSERT_EQ(rows[k].chunk, k + 3) << "row " << k + 1;
      ASSERT_EQ(rows[k].values, expected[k]) << "row " << k + 1;
    }
  }
}

}  // namespace
