#include "detector/score_ring.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "detector/output_lines.h"

ScoreRing score_ring_create(int score_window) {
  const size_t size = static_cast<size_t>(score_window);
  ScoreRing ring;
  ring.scores = static_cast<uint8_t*>(::operator new(size));
  memset(ring.scores, 0, size);
  ring.next = 0;
  ring.filled = 0;
  return ring;
}

void score_ring_release(ScoreRing* ring, int score_window) {
  ::operator delete(ring->scores, static_cast<size_t>(score_window));
  ring->scores = nullptr;
}

void count_down_refractory(int32_t* refractory_chunks) {
  if (*refractory_chunks > 0) --*refractory_chunks;
}

namespace {

float mean_score(const ScoreRing& ring, int score_window) {
  uint32_t sum = 0;
  for (int i = 0; i < score_window; ++i) sum += ring.scores[i];
  return static_cast<float>(sum) / static_cast<float>(score_window) * kScoreScale;
}

}  // namespace

bool update_detector(uint8_t score, double stream_seconds,
                     const DetectorOptions& options, ScoreRing* ring,
                     int32_t* refractory_chunks) {
  const int window = options.score_window;
  if (options.print_scores) {
    if (printf("score %.2f %.3f %d\n", stream_seconds,
               static_cast<double>(score) * static_cast<double>(kScoreScale),
               score) < 0) {
      return false;
    }
    if (fflush(stdout) != 0) return false;
  }

  ring->scores[ring->next] = score;
  if (ring->filled < window) ++ring->filled;
  ring->next = (ring->next + 1) % window;

  if (*refractory_chunks > 0 || ring->filled < window) return true;

  const float mean = mean_score(*ring, window);
  if (!(mean > options.cutoff)) return true;

  if (!print_and_flush("wake %.2f %.3f\n", stream_seconds,
                       static_cast<double>(mean), true)) {
    return false;
  }
  // The next mean must be made of scores that came after this wake.
  ring->filled = 0;
  memset(ring->scores, 0, static_cast<size_t>(window));
  *refractory_chunks = kRefractoryChunks;
  return true;
}
