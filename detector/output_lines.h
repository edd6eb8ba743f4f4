#ifndef DETECTOR_OUTPUT_LINES_H_
#define DETECTOR_OUTPUT_LINES_H_

// Prints a line of one number, or of two when has_second is set, on standard
// output and flushes it. Returns false when the line couldn't be written.
bool print_and_flush(const char* format, double first, double second,
                     bool has_second);

#endif  // DETECTOR_OUTPUT_LINES_H_
