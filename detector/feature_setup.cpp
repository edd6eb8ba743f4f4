#include "detector/feature_setup.h"

#include "detector/feature_layout.h"

FrontendConfig feature_config() {
  FrontendConfig config;
  FrontendFillConfigWithDefaults(&config);
  config.window.size_ms = kFeatureWindowMs;
  config.window.step_size_ms = kFeatureStepMs;
  config.filterbank.num_channels = kFeatureCount;
  config.filterbank.upper_band_limit = 7500.0f;
  config.filterbank.lower_band_limit = 125.0f;
  config.noise_reduction.smoothing_bits = 10;
  config.noise_reduction.even_smoothing = 0.025f;
  config.noise_reduction.odd_smoothing = 0.06f;
  config.noise_reduction.min_signal_remaining = 0.05f;
  config.pcan_gain_control.enable_pcan = 1;
  config.pcan_gain_control.strength = 0.95f;
  config.pcan_gain_control.offset = 80.0f;
  config.pcan_gain_control.gain_bits = 21;
  config.log_scale.enable_log = 1;
  config.log_scale.scale_shift = 6;
  return config;
}

int populate_feature_state(FrontendState* state) {
  const FrontendConfig config = feature_config();
  return FrontendPopulateState(&config, state, kSampleRate);
}
