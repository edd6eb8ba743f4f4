// cuewatch: listens for a wake word in 16 kHz PCM on standard input.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "audio_frontend/frontend.h"
#include "audio_frontend/frontend_util.h"
#include "detector/audio_mix.h"
#include "detector/feature_layout.h"
#include "detector/feature_quantize.h"
#include "detector/feature_setup.h"
#include "detector/model_checks.h"
#include "detector/model_loader.h"
#include "detector/model_memory.h"
#include "detector/operators.h"
#include "detector/options.h"
#include "detector/score_ring.h"
#include "inference/micro_allocator.h"
#include "inference/micro_interpreter.h"
#include "inference/micro_resource_variables.h"
#include "inference/schema.h"

namespace {

constexpr uint64_t kPollPeriodChunks = 100;

volatile sig_atomic_t quit_requested = 0;

// The interpreter reads the model in place for the life of the process.
alignas(16) uint8_t model_buffer[kModelBufferSize];
alignas(16) uint8_t tensor_arena[kTensorArenaSize];

// Besides setting the flag, the handler points standard input at /dev/null.
// A signal that lands between the loop's flag test and its read would
// otherwise be lost while the read waits for audio that may never come; this
// way that read sees end of input and the run ends as on any stop. A signal
// during the read still makes it fail with EINTR. open, dup2 and close are
// async-signal-safe; a 0 from open means standard input was closed and /dev/null
// has just taken its place.
void on_quit_signal(int) {
  const int saved_errno = errno;
  quit_requested = 1;
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd > 0) {
    dup2(null_fd, 0);
    close(null_fd);
  }
  errno = saved_errno;
}

void install_signal_handlers() {
  // No SA_RESTART: a blocked read returns EINTR so the loop sees the flag.
  for (int signal_number : {SIGTERM, SIGINT}) {
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal_number, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
}

int report_error(const char* message) {
  fprintf(stderr, "cuewatch: %s\n", message);
  return 1;
}

enum class ChunkRead { kFull, kEnd, kError };

// Fills buffer with one whole chunk; a partial chunk at the end is dropped.
ChunkRead read_chunk(uint8_t* buffer, size_t chunk_bytes) {
  size_t bytes_read = 0;
  while (bytes_read < chunk_bytes) {
    if (quit_requested != 0) return ChunkRead::kEnd;
    const ssize_t n = read(0, buffer + bytes_read, chunk_bytes - bytes_read);
    if (n > 0) {
      bytes_read += static_cast<size_t>(n);
    } else if (n == 0) {
      return ChunkRead::kEnd;
    } else if (errno != EINTR) {
      return ChunkRead::kError;
    }
  }
  return ChunkRead::kFull;
}

double stream_seconds_at(uint64_t chunk_count) {
  return static_cast<double>(chunk_count) * static_cast<double>(kFramesPerChunk) /
         static_cast<double>(kSampleRate);
}

// Without any line due, a vanished reader would otherwise go unnoticed.
bool output_reader_gone() {
  struct pollfd output;
  output.fd = 1;
  output.events = 0;
  output.revents = 0;
  return poll(&output, 1, 0) >= 1 &&
         (output.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

void print_end_line(uint64_t chunk_count) {
  if (printf("end %.2f\n", stream_seconds_at(chunk_count)) >= 0) fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  DetectorOptions options;
  const char* message = parse_options(argc, argv, &options);
  if (message != nullptr) return report_error(message);

  install_signal_handlers();

  const tflite::Model* model = nullptr;
  size_t model_bytes = 0;
  message = load_model(options.model_path, model_buffer, kModelBufferSize, &model,
                       &model_bytes);
  if (message != nullptr) return report_error(message);

  static OperatorResolver op_resolver;
  if (!register_operators(op_resolver)) {
    return report_error("can't register the model's operations");
  }

  tflite::MicroAllocator* allocator = tflite::MicroAllocator::Create(
      tensor_arena, kTensorArenaSize, tflite::MemoryPlannerType::kGreedy);
  if (allocator == nullptr) return report_error("can't set up the model's memory");
  tflite::MicroResourceVariables* resource_variables =
      tflite::MicroResourceVariables::Create(allocator, kMaxResourceVariables);
  if (resource_variables == nullptr) {
    return report_error("can't set up the model's state");
  }

  static tflite::MicroInterpreter interpreter(model, op_resolver, allocator,
                                              resource_variables, nullptr);
  if (interpreter.AllocateTensors() != kTfLiteOk) {
    return report_error("the model doesn't fit in memory");
  }
  if (interpreter.inputs_size() != 1 || interpreter.outputs_size() != 1) {
    return report_error("the model doesn't have one input and one output");
  }
  TfLiteTensor* input = interpreter.input(0);
  TfLiteTensor* output = interpreter.output(0);
  message = check_model_tensors(*input, *output);
  if (message != nullptr) return report_error(message);
  const int feature_rows = input->dims->data[1];
  const float input_scale = input->params.scale;
  const int32_t input_zero_point = input->params.zero_point;

  FrontendState frontend_state;
  if (populate_feature_state(&frontend_state) == 0) {
    return report_error("can't set up the audio features");
  }

  const size_t used_bytes = interpreter.arena_used_bytes();
  if (printf("ready %.0f %.0f\n", static_cast<double>(model_bytes),
             static_cast<double>(used_bytes)) < 0 ||
      fflush(stdout) != 0) {
    return 0;
  }

  const size_t chunk_bytes = options.mono ? kMonoChunkBytes : kQuadChunkBytes;
  uint8_t* chunk_buffer = static_cast<uint8_t*>(::operator new(chunk_bytes));
  memset(chunk_buffer, 0, chunk_bytes);
  ScoreRing ring = score_ring_create(options.score_window);
  int32_t refractory_chunks = 0;

  int16_t chunk_samples[kFramesPerChunk];
  uint64_t chunk_count = 0;
  int rows_filled = 0;
  int status = 0;
  for (;;) {
    const ChunkRead chunk = read_chunk(chunk_buffer, chunk_bytes);
    if (chunk == ChunkRead::kError) {
      status = report_error("can't read the audio");
      break;
    }
    if (chunk == ChunkRead::kEnd) {
      print_end_line(chunk_count);
      break;
    }
    convert_chunk(chunk_buffer, options.mono, chunk_samples);
    ++chunk_count;
    if (chunk_count % kPollPeriodChunks == 0 && output_reader_gone()) break;

    size_t samples_read = 0;
    const FrontendOutput features = FrontendProcessSamples(
        &frontend_state, chunk_samples, kFramesPerChunk, &samples_read);
    count_down_refractory(&refractory_chunks);

    if (features.size == static_cast<size_t>(kFeatureCount)) {
      const double stream_seconds = stream_seconds_at(chunk_count);
      quantize_features(features.values, input_scale, input_zero_point,
                        input->data.int8 + rows_filled * kFeatureCount);
      ++rows_filled;
      if (rows_filled >= feature_rows) {
        if (interpreter.Invoke() != kTfLiteOk) {
          status = report_error("the model failed to run");
          break;
        }
        if (!update_detector(output->data.uint8[0], stream_seconds, options,
                             &ring, &refractory_chunks)) {
          break;
        }
        rows_filled = 0;
      }
    }
    if (quit_requested != 0) {
      print_end_line(chunk_count);
      break;
    }
  }

  FrontendFreeStateContents(&frontend_state);
  score_ring_release(&ring, options.score_window);
  ::operator delete(chunk_buffer, chunk_bytes);
  return status;
}
