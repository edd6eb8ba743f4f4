#ifndef DETECTOR_FEATURE_LAYOUT_H_
#define DETECTOR_FEATURE_LAYOUT_H_

// One front-end row per 10 ms step; the model takes 1 to 10 rows per run.
constexpr int kFeatureCount = 40;
constexpr int kMaxFeatureRows = 10;

#endif  // DETECTOR_FEATURE_LAYOUT_H_
