#ifndef DETECTOR_OPERATORS_H_
#define DETECTOR_OPERATORS_H_

#include "inference/micro_mutable_op_resolver.h"

constexpr unsigned int kOperatorCount = 13;

using OperatorResolver = tflite::MicroMutableOpResolver<kOperatorCount>;

// Adds every operation a wake-word model may use to an empty resolver, in a
// fixed order. False if the resolver refuses one.
bool register_operators(OperatorResolver& resolver);

#endif  // DETECTOR_OPERATORS_H_
