#include "detector/score_ring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Detector {
 public:
  Detector(int window, float cutoff, bool print_scores) {
    options_.model_path = "model.tflite";
    options_.cutoff = cutoff;
    options_.score_window = window;
    options_.mono = false;
    options_.print_scores = print_scores;
    ring_ = score_ring_create(window);
  }
  ~Detector() { score_ring_release(&ring_, options_.score_window); }

  // What standard output got for one model score.
  std::string feed(uint8_t score, double seconds = 1.23) {
    testing::internal::CaptureStdout();
    const bool go_on = update_detector(score, seconds, options_, &ring_, &refractory_);
    std::string lines = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(go_on);
    return lines;
  }
  std::string feed_all(const std::vector<int>& scores) {
    std::string lines;
    for (int score : scores) lines += feed(static_cast<uint8_t>(score));
    return lines;
  }
  void count_down(int chunks) {
    for (int i = 0; i < chunks; ++i) count_down_refractory(&refractory_);
  }

  const ScoreRing& ring() const { return ring_; }
  int32_t refractory() const { return refractory_; }

 private:
  DetectorOptions options_;
  ScoreRing ring_;
  int32_t refractory_ = 0;
};

TEST(UpdateDetector, WakesOnlyWhenTheFullRingsMeanIsAboveTheCutoff) {
  const struct {
    int window;
    float cutoff;
    std::vector<int> scores;
    std::string expected;
  } cases[] = {
      // 1216 / 5 / 256 equals 0.95f exactly: no wake.
      {5, 0.95f, {243, 243, 243, 243, 244}, ""},
      {5, 0.95f, {243, 243, 243, 244, 244}, "wake 1.23 0.951\n"},
      // The ring must be full first.
      {5, 0.95f, {255, 255, 255, 255}, ""},
      {5, 0.5f, {255, 255, 255, 255, 255}, "wake 1.23 0.996\n"},
      {50, 0.01f, std::vector<int>(49, 255), ""},
      {50, 0.99f, std::vector<int>(50, 255), "wake 1.23 0.996\n"},
      // Nothing reaches a cutoff of 1.
      {5, 1.0f, std::vector<int>(40, 255), ""},
      {1, 1.0f, std::vector<int>(40, 255), ""},
      // Window 1 judges every score on its own.
      {1, 0.95f, {243}, ""},
      {1, 0.95f, {244}, "wake 1.23 0.953\n"},
      // A full ring is judged again as it slides on.
      {3, 0.5f, {0, 0, 255, 255}, "wake 1.23 0.664\n"},
      {3, 0.66f, {0, 0, 255, 255, 0}, "wake 1.23 0.664\n"},
  };
  for (const auto& c : cases) {
    Detector detector(c.window, c.cutoff, false);
    EXPECT_EQ(detector.feed_all(c.scores), c.expected)
        << "window " << c.window << " cutoff " << c.cutoff << " scores " << c.scores.size();
  }
}

TEST(UpdateDetector, WakeClearsTheRingAndStartsThePause) {
  Detector detector(5, 0.7f, false);
  EXPECT_EQ(detector.feed_all({10, 30, 255, 255, 255}), "");  // 0.621
  ASSERT_EQ(detector.feed(255), "wake 1.23 0.820\n");         // 255 replaced 10
  EXPECT_EQ(detector.refractory(), kRefractoryChunks);
  EXPECT_EQ(detector.ring().filled, 0);
  EXPECT_EQ(detector.ring().next, 1);  // the wake doesn't move it
  for (int i = 0; i < 5; ++i) EXPECT_EQ(detector.ring().scores[i], 0) << "slot " << i;

  // Scores still go in during the pause, from the slot after the last one.
  EXPECT_EQ(detector.feed_all({1, 2, 3, 4, 5, 255, 255}), "");
  EXPECT_EQ(detector.ring().filled, 5);
  EXPECT_EQ(detector.ring().next, 3);
  const int expected_slots[] = {5, 255, 255, 3, 4};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(detector.ring().scores[i], expected_slots[i]);

  detector.count_down(kRefractoryChunks - 1);
  EXPECT_EQ(detector.feed(255), "");  // one chunk of the pause is left
  detector.count_down(1);
  EXPECT_EQ(detector.feed(255), "wake 1.23 0.801\n");  // 5 + 4 * 255
  detector.count_down(1000);
  EXPECT_EQ(detector.refractory(), 0);
}

TEST(UpdateDetector, ScoreLinesComeForEveryScoreAlsoDuringThePause) {
  Detector detector(1, 0.5f, true);
  EXPECT_EQ(detector.feed(0, 0.05), "score 0.05 0.000 0\n");
  EXPECT_EQ(detector.feed(128, 0.08), "score 0.08 0.500 128\n");
  EXPECT_EQ(detector.feed(129, 0.11), "score 0.11 0.504 129\nwake 0.11 0.504\n");
  EXPECT_EQ(detector.feed(255, 0.14), "score 0.14 0.996 255\n");
  EXPECT_EQ(detector.feed(255, 1234.56), "score 1234.56 0.996 255\n");
}

}  // namespace
