#ifndef INFERENCE_MICRO_LOG_H_
#define INFERENCE_MICRO_LOG_H_

namespace tflite {

// printf formatting onto standard error, then CR LF.
void MicroPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tflite

#endif  // INFERENCE_MICRO_LOG_H_
