#ifndef DETECTOR_SCORE_RING_H_
#define DETECTOR_SCORE_RING_H_

#include <cstdint>

#include "detector/options.h"

constexpr int32_t kRefractoryChunks = 100;  // 1 s of audio after a wake
constexpr float kScoreScale = 0.00390625f;  // 1/256

// The last score_window model scores.
struct ScoreRing {
  uint8_t* scores;  // score_window bytes
  int32_t next;     // slot of the next score
  int32_t filled;   // scores since the start or the last wake, at most score_window
};

// Allocates the ring's bytes zero-filled; score_ring_release gives them back.
ScoreRing score_ring_create(int score_window);
void score_ring_release(ScoreRing* ring, int score_window);

// Runs once for every complete chunk, before that chunk's score is judged.
void count_down_refractory(int32_t* refractory_chunks);

// Takes one model score: prints it when asked, enters it into the ring and
// prints a wake line when the armed ring's mean is above the cutoff.
// Returns false when a line couldn't be written, which ends the run quietly.
bool update_detector(uint8_t score, double stream_seconds,
                     const DetectorOptions& options, ScoreRing* ring,
                     int32_t* refractory_chunks);

#endif  // DETECTOR_SCORE_RING_H_
