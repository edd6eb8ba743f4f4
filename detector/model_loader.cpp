#include "detector/model_loader.h"

#include <cstdio>

const char* load_model(const char* path, uint8_t* buffer, size_t buffer_size,
                       const tflite::Model** model, size_t* model_bytes) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return "can't open the model";
  const size_t bytes = fread(buffer, 1, buffer_size, file);
  const bool at_end = feof(file) != 0;
  fclose(file);
  // A file that fills the whole buffer never reaches end of file, so the
  // largest model accepted is one byte short of the buffer.
  if (bytes == 0 || !at_end) return "the model is empty or too big";

  flatbuffers::Verifier verifier(buffer, bytes);
  if (!tflite::VerifyModelBuffer(verifier)) return "the model file is damaged";

  const tflite::Model* root = tflite::GetModel(buffer);
  if (root->version() != TFLITE_SCHEMA_VERSION) {
    return "the model's format version isn't supported";
  }
  *model = root;
  *model_bytes = bytes;
  return nullptr;
}
