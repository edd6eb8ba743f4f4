// Known answers of the small configuration, stage by stage, and of the
// detector's configuration on synthetic signals.
#include "audio_frontend/bits.h"
#include "gtest/gtest.h"
#include "tests/audio_frontend/frontend_test_util.h"

namespace {

template <typename T>
std::vector<int64_t> Values(const T* data, size_t count) {
  return std::vector<int64_t>(data, data + count);
}

std::vector<int64_t> Spectrum(const FftComplexInt16* bins, int first, int count) {
  std::vector<int64_t> pairs;
  for (int i = first; i < first + count; ++i) {
    pairs.push_back(bins[i].real);
    pairs.push_back(bins[i].imag);
  }
  return pairs;
}

// Runs the stages of one row by hand, checking each against the vector.
struct StageVector {
  size_t samples_read;
  int max_abs;
  int shift;
  int first_bin;
  std::string bins;  // (real, imag) pairs from first_bin
  int first_band;
  std::string accumulators;  // from first_band
  std::string roots;
  std::string reduced;
  std::string estimates;
  std::string pcan;
  std::string row;
};

void CheckStages(FrontendState* state, const std::vector<int16_t>& samples,
                 const StageVector& expected) {
  const int channels = state->filterbank.num_channels;
  size_t read = 0;
  ASSERT_TRUE(WindowProcessSamples(&state->window, samples.data(), samples.size(), &read));
  EXPECT_EQ(read, expected.samples_read);
  EXPECT_EQ(state->window.max_abs_output_value, expected.max_abs);
  const int shift =
      15 - BitLength32(static_cast<uint32_t>(state->window.max_abs_output_value));
  EXPECT_EQ(shift, expected.shift);

  FftCompute(&state->fft, state->window.output, shift);
  const std::vector<int64_t> bins = ParseInts(expected.bins);
  EXPECT_EQ(Spectrum(state->fft.output, expected.first_bin, bins.size() / 2), bins);

  FilterbankAccumulateChannels(&state->filterbank, state->fft.output);
  const std::vector<int64_t> accumulators = ParseInts(expected.accumulators);
  EXPECT_EQ(Values(state->filterbank.work + expected.first_band, accumulators.size()),
            accumulators);

  uint32_t* signal = FilterbankSqrt(&state->filterbank, shift);
  EXPECT_EQ(Values(signal, channels), ParseInts(expected.roots));
  NoiseReductionApply(&state->noise_reduction, signal);
  EXPECT_EQ(Values(signal, channels), ParseInts(expected.reduced));
  EXPECT_EQ(Values(state->noise_reduction.estimate, channels),
            ParseInts(expected.estimates));
  PcanGainControlApply(&state->pcan_gain_control, signal);
  EXPECT_EQ(Values(signal, channels), ParseInts(expected.pcan));
  uint16_t row[64];
  LogScaleApply(&state->log_scale, signal, channels, row);
  EXPECT_EQ(Values(row, channels), ParseInts(expected.row));
}

std::vector<int16_t> Repeat(const std::vector<int16_t>& period, size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = period[i % period.size()];
  return samples;
}

const std::vector<int16_t> kSmallInput =
    Repeat({0, 32767, 0, -32768}, 36);

TEST(SmallConfig, Tables) {
  ScopedFrontend frontend(SmallConfig(), kSmallSampleRate);
  ASSERT_TRUE(frontend.ok());
  FrontendState* state = frontend.get();
  EXPECT_EQ(state->window.size, 25u);
  EXPECT_EQ(state->window.step, 10u);
  EXPECT_EQ(state->fft.fft_size, 32u);
  EXPECT_EQ(Values(state->window.coefficients, 25),
            ParseInts("16 144 391 743 1176 1664 2177 2681 3145 3541 3843 4032 4096 "
                      "4032 3843 3541 3145 2681 2177 1664 1176 743 391 144 16"));
  const FilterbankState& bank = state->filterbank;
  EXPECT_EQ(bank.start_index, 1);
  EXPECT_EQ(bank.end_index, 15);
  EXPECT_EQ(Values(bank.band_starts, 4), ParseInts("1 5 9 15"));
  EXPECT_EQ(Values(bank.weights, 14),
            ParseInts("3277 2217 1200 222 3376 2468 1591 744 4020 3226 2456 1708 983 277"));
  EXPECT_EQ(Values(bank.unweights, 14),
            ParseInts("819 1879 2896 3874 720 1628 2505 3352 76 870 1640 2388 3113 3819"));
  EXPECT_EQ(state->log_scale.correction_bits, -1);
  EXPECT_EQ(state->pcan_gain_control.snr_shift, 10);
}

TEST(SmallConfig, FirstRowStageByStage) {
  ScopedFrontend frontend(SmallConfig(), kSmallSampleRate);
  ASSERT_TRUE(frontend.ok());
  StageVector expected;
  expected.samples_read = 25;
  expected.max_abs = 32256;
  expected.shift = 0;
  expected.first_bin = 0;
  expected.bins =
      "0 0 -10 9 -20 0 -9 -10 0 25 -119 119 -887 0 3000 3000 0 -6401 -3000 3000 "
      "886 0 118 119 0 25 9 -10 19 0 9 9 0 0";
  expected.first_band = 0;
  expected.accumulators = "1835887 61162970173 258694800000";
  expected.roots = "247311 508620";
  expected.reduced = "241137 478104";
  expected.estimates = "6321887 31248341";
  expected.pcan = "3578 1533";
  expected.row = "479 425";
  CheckStages(frontend.get(), kSmallInput, expected);
  EXPECT_EQ(Values(frontend.get()->window.output, 25),
            ParseInts("0 1151 0 -5944 0 13311 0 -21448 0 28327 0 -32256 0 32255 0 "
                      "-28328 0 21447 0 -13312 0 5943 0 -1152 0"));
}

TEST(SmallConfig, RowsThroughTheApi) {
  ScopedFrontend frontend(SmallConfig(), kSmallSampleRate);
  ASSERT_TRUE(frontend.ok());
  FrontendState* state = frontend.get();
  size_t read = 0;
  FrontendOutput out = FrontendProcessSamples(state, kSmallInput.data(), 36, &read);
  EXPECT_EQ(read, 25u);
  EXPECT_EQ(Values(out.values, out.size), ParseInts("479 425"));

  out = FrontendProcessSamples(state, kSmallInput.data() + 25, 11, &read);
  EXPECT_EQ(read, 10u);
  EXPECT_EQ(Values(out.values, out.size), ParseInts("436 378"));
  EXPECT_EQ(Values(state->noise_reduction.estimate, 2), ParseInts("12485754 60622165"));

  out = FrontendProcessSamples(state, kSmallInput.data() + 35, 1, &read);
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(out.size, 0u);
  EXPECT_EQ(out.values, nullptr);
}

const std::vector<int16_t> kSine1k = {0,     3061,  5657,  7391,  8000,  7391,
                                      5657,  3061,  0,     -3061, -5657, -7391,
                                      -8000, -7391, -5657, -3061};

TEST(DetectorConfig, SineFirstRowStageByStage) {
  ScopedFrontend frontend(feature_config(), 16000);
  ASSERT_TRUE(frontend.ok());
  StageVector expected;
  expected.samples_read = 480;
  expected.max_abs = 7997;
  expected.shift = 2;
  expected.first_bin = 30;
  expected.bins = "-76 -176 824 4016 0 -7496 -825 4016 75 -176";
  expected.first_band = 11;
  expected.accumulators = "5898076 50461359286 301571626390 16156255833";
  expected.roots =
      "0 0 0 0 0 0 0 5 44 147 607 56159 137288 31776 361 74 13 0 0 0 0 0 0 0 0 "
      "23 16 14 0 0 0 0 0 0 0 0 0 0 33 52";
  expected.reduced =
      "0 0 0 0 0 0 0 4 42 138 591 52789 133860 29869 351 69 12 0 0 0 0 0 0 0 0 "
      "21 15 13 0 0 0 0 0 0 0 0 0 0 32 48";
  expected.estimates =
      "0 0 0 0 0 0 0 307 1124 9031 15516 3450268 3509424 1952238 9228 4546 332 "
      "0 0 0 0 0 0 0 0 1413 409 860 0 0 0 0 0 0 0 0 0 0 843 3194";
  expected.pcan =
      "0 0 0 0 0 0 0 3 239 540 1893 1585 4053 1532 1458 324 33 0 0 0 0 0 0 0 0 "
      "83 51 35 0 0 0 0 0 0 0 0 0 0 172 231";
  expected.row =
      "0 0 0 0 0 0 0 203 484 536 616 605 665 602 599 503 357 0 0 0 0 0 0 0 0 "
      "416 385 361 0 0 0 0 0 0 0 0 0 0 463 481";
  CheckStages(frontend.get(), Repeat(kSine1k, 480), expected);
}

// Rows (1-based) of a signal fed in 160-sample chunks from a fresh state.
struct RowVector {
  size_t row;
  std::string values;
};

void CheckRows(const std::vector<int16_t>& samples, const std::vector<RowVector>& expected,
               size_t zero_from) {
  ScopedFrontend frontend(feature_config(), 16000);
  ASSERT_TRUE(frontend.ok());
  const std::vector<TimedRow> rows = RunChunks(frontend.get(), samples, 160);
  ASSERT_EQ(rows.size(), samples.size() / 160 - 2);
  for (const RowVector& want : expected) {
    EXPECT_EQ(Values(rows[want.row - 1].values.data(), 40), ParseInts(want.values))
        << "row " << want.row;
  }
  for (size_t k = zero_from; k <= rows.size(); ++k) {
    ASSERT_EQ(rows[k - 1].values, Row(40, 0)) << "row " << k;
  }
}

TEST(DetectorConfig, SineAdaptsAwayOddChannelsFirst) {
  CheckRows(Repeat(kSine1k, 160 * 100),
            {{1, "0 0 0 0 0 0 0 203 484 536 616 605 665 602 599 503 357 0 0 0 0 0 0 0 0 "
                 "416 385 361 0 0 0 0 0 0 0 0 0 0 463 481"},
             {2, "0 0 0 0 0 0 0 203 474 505 585 558 621 555 574 479 353 0 0 0 0 0 0 0 0 "
                 "398 381 342 0 0 0 0 0 0 0 0 0 0 454 459"},
             {3, "0 0 0 0 0 0 0 203 465 482 564 530 597 528 554 458 351 0 0 0 0 0 0 0 0 "
                 "379 368 325 0 0 0 0 0 0 0 0 0 0 445 442"},
             {10, "0 0 0 0 0 0 0 0 411 353 482 410 508 404 476 331 306 0 0 0 0 0 0 0 0 "
                  "274 322 222 0 0 0 0 0 0 0 0 0 0 388 322"},
             {40, "0 0 0 0 0 0 0 0 222 0 287 0 325 0 274 0 133 0 0 0 0 0 0 0 0 0 133 0 "
                  "0 0 0 0 0 0 0 0 0 0 222 0"}},
            85);
}

TEST(DetectorConfig, FullScaleDc) {
  CheckRows(std::vector<int16_t>(160 * 100, 32767),
            {{1, "643 587 619 561 550 446 0 0 0 0 0 0 0 0 0 0 0 488 544 439 454 511 523 "
                 "473 0 0 0 0 0 492 480 508 414 0 0 499 560 513 482 0"}},
            80);
}

TEST(DetectorConfig, SilenceStaysZero) {
  ScopedFrontend frontend(feature_config(), 16000);
  ASSERT_TRUE(frontend.ok());
  const std::vector<TimedRow> rows =
      RunChunks(frontend.get(), std::vector<int16_t>(160 * 20, 0), 160);
  ASSERT_EQ(rows.size(), 18u);
  for (const TimedRow& row : rows) EXPECT_EQ(row.values, Row(40, 0));
  EXPECT_EQ(Values(frontend.get()->noise_reduction.estimate, 40),
            std::vector<int64_t>(40, 0));
}

// One call of 480 samples, quiet but for the sample at the window's peak.
TEST(DetectorConfig, ImpulseAtThePeak) {
  const struct {
    int16_t sample;
    const char* row;
  } cases[] = {
      {32767, "649 597 651 597 652 597 652 597 653 596 653 596 653 596 653 597 653 "
              "597 653 598 653 599 653 599 654 600 655 600 656 600 656 600 657 600 "
              "657 600 657 600 657 599"},
      {-32767, "649 596 651 597 652 597 652 597 653 597 653 596 653 596 653 597 653 "
               "597 653 598 653 599 653 599 654 600 655 600 656 600 656 600 657 600 "
               "657 600 657 599 657 599"},
      // -32768 is not counted in the 16-bit peak, so the frame is shifted
      // up by 15 and the sample wraps to 0.
      {-32768, "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 "
               "0 0 0 0 0 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sample);
    ScopedFrontend frontend(feature_config(), 16000);
    ASSERT_TRUE(frontend.ok());
    std::vector<int16_t> samples(480, 0);
    samples[239] = c.sample;
    size_t read = 0;
    const FrontendOutput out =
        FrontendProcessSamples(frontend.get(), samples.data(), samples.size(), &read);
    EXPECT_EQ(read, 480u);
    ASSERT_EQ(out.size, 40u);
    EXPECT_EQ(Values(out.values, out.size), ParseInts(c.row));
  }
}

TEST(DetectorConfig, LoneMinimumAtEachFullWeightIndexIsIgnored) {
  for (int index = 238; index <= 241; ++index) {
    SCOPED_TRACE(index);
    ScopedFrontend frontend(feature_config(), 16000);
    ASSERT_TRUE(frontend.ok());
    std::vector<int16_t> samples(480, 0);
    samples[index] = -32768;
    size_t read = 0;
    const FrontendOutput out =
        FrontendProcessSamples(frontend.get(), samples.data(), samples.size(), &read);
    EXPECT_EQ(frontend.get()->window.output[index], -32768);
    EXPECT_EQ(frontend.get()->window.max_abs_output_value, 0);
    EXPECT_EQ(Values(out.values, out.size), std::vector<int64_t>(40, 0));
  }
}

}  // namespace
