// How calls take samples and yield rows, whatever the chunking.
#include "gtest/gtest.h"
#include "tests/audio_frontend/frontend_test_util.h"

namespace {

class Streaming : public ::testing::Test {
 protected:
  Streaming() : frontend_(feature_config(), 16000) {}
  void SetUp() override {
    ASSERT_TRUE(frontend_.ok());
    speech_ = ReadGoldenAudio("speech_hello.raw", 1);
    ASSERT_EQ(speech_.size(), 48640u);
  }
  FrontendState* state() { return frontend_.get(); }

  ScopedFrontend frontend_;
  std::vector<int16_t> speech_;
};

TEST_F(Streaming, FirstRowOnTheThirdChunk) {
  for (int call = 1; call <= 4; ++call) {
    size_t read = 0;
    const FrontendOutput out =
        FrontendProcessSamples(state(), speech_.data() + 160 * (call - 1), 160, &read);
    EXPECT_EQ(read, 160u) << call;
    if (call < 3) {
      EXPECT_EQ(out.values, nullptr) << call;
      EXPECT_EQ(out.size, 0u) << call;
    } else {
      EXPECT_NE(out.values, nullptr) << call;
      EXPECT_EQ(out.size, 40u) << call;
    }
  }
}

TEST_F(Streaming, ZeroLengthCallReadsNothing) {
  size_t read = 99;
  const FrontendOutput out = FrontendProcessSamples(state(), nullptr, 0, &read);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(out.values, nullptr);
  EXPECT_EQ(state()->window.input_used, 0u);
}

TEST_F(Streaming, OneBigCallTakesOnlyAWindow) {
  size_t read = 0;
  FrontendOutput out = FrontendProcessSamples(state(), speech_.data(), 16000, &read);
  EXPECT_EQ(read, 480u);
  EXPECT_EQ(out.size, 40u);
  out = FrontendProcessSamples(state(), speech_.data() + 480, 16000, &read);
  EXPECT_EQ(read, 160u);
  EXPECT_EQ(out.size, 40u);
}

TEST_F(Streaming, RowsDoNotDependOnChunking) {
  const std::vector<Row> expected = ReadGoldenFeatures("speech_hello.txt");
  for (size_t chunk : {1, 7, 479, 480, 1000, 48640}) {
    SCOPED_TRACE(chunk);
    ScopedFrontend fresh(feature_config(), 16000);
    ASSERT_TRUE(fresh.ok());
    const std::vector<TimedRow> rows = RunChunks(fresh.get(), speech_, chunk);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t k = 0; k < rows.size(); ++k) ASSERT_EQ(rows[k].values, expected[k]) << k;
  }
}

TEST_F(Streaming, ResetMidStreamActsAsAFreshState) {
  // Warm up the window and the noise estimates on other audio first.
  RunChunks(state(), std::vector<int16_t>(speech_.begin() + 16000, speech_.end()), 160);
  size_t read = 0;
  FrontendProcessSamples(state(), speech_.data(), 100, &read);  // part of a window
  FrontendReset(state());
  const std::vector<TimedRow> rows = RunChunks(state(), speech_, 160);
  const std::vector<Row> expected = ReadGoldenFeatures("speech_hello.txt");
  ASSERT_EQ(rows.size(), expected.size());
  for (size_t k = 0; k < rows.size(); ++k) {
    ASSERT_EQ(rows[k].chunk, k + 3);
    ASSERT_EQ(rows[k].values, expected[k]) << k;
  }
}

}  // namespace
