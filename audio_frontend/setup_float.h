#ifndef AUDIO_FRONTEND_SETUP_FLOAT_H_
#define AUDIO_FRONTEND_SETUP_FLOAT_H_

// The set-up tables must come out of single-precision arithmetic rounded
// operation by operation, as the expected features were made. Fused
// multiply-adds are kept out by -ffp-contract=off on this library.
#include <float.h>

#if FLT_EVAL_METHOD != 0
#error "set-up tables need float arithmetic without excess precision"
#endif
#ifdef __FAST_MATH__
#error "set-up tables must not be built with -ffast-math"
#endif

#endif  // AUDIO_FRONTEND_SETUP_FLOAT_H_
