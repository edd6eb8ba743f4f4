#ifndef AUDIO_FRONTEND_BITS_H_
#define AUDIO_FRONTEND_BITS_H_

#include <stdint.h>

// Number of significant bits: 0 for 0, 1 for 1, 10 for 512.
inline int BitLength32(uint32_t n) { return n == 0 ? 0 : 32 - __builtin_clz(n); }
inline int BitLength64(uint64_t n) { return n == 0 ? 0 : 64 - __builtin_clzll(n); }

#endif  // AUDIO_FRONTEND_BITS_H_
