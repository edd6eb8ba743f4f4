#ifndef DETECTOR_OPTIONS_H_
#define DETECTOR_OPTIONS_H_

constexpr float kDefaultCutoff = 0.95f;
constexpr int kDefaultScoreWindow = 5;
constexpr int kMaxScoreWindow = 50;

constexpr const char* kUsageText =
    "usage: cuewatch model.tflite [--mono] [--scores] [--cutoff 0.95] [--window 5]";

struct DetectorOptions {
  const char* model_path;  // points into argv
  float cutoff;
  int score_window;
  bool mono;
  bool print_scores;
};

// Fills options from the command line; returns the message to report, or
// nullptr when the options are usable.
const char* parse_options(int argc, char** argv, DetectorOptions* options);

#endif  // DETECTOR_OPTIONS_H_
