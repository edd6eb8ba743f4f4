#include "detector/model_checks.h"

namespace {

bool has_dims(const TfLiteTensor& tensor, int count) {
  return tensor.dims != nullptr && tensor.dims->size == count;
}

}  // namespace

const char* check_model_tensors(const TfLiteTensor& input,
                                const TfLiteTensor& output) {
  // Each dimension is read only once its rank has been confirmed.
  if (input.type != kTfLiteInt8 || !has_dims(input, 3) ||
      input.dims->data[0] != 1 || input.dims->data[2] != kFeatureCount ||
      output.type != kTfLiteUInt8 || !has_dims(output, 2) ||
      output.dims->data[0] != 1 || output.dims->data[1] != 1) {
    return "the model's input or output isn't the expected kind";
  }
  const int feature_rows = input.dims->data[1];
  // An ordered comparison: a NaN scale is let through.
  if (feature_rows < 1 || feature_rows > kMaxFeatureRows ||
      input.params.scale <= 0.0f) {
    return "the model's input isn't the expected kind";
  }
  return nullptr;
}
