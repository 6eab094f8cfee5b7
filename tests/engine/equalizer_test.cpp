// The equalizer as a listener hears it: neutral at level 0, -20 dB at level -100 in both modes,
// on every layer; and the nearest-band choice of the frequency mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "equalizer.h"
#include "memory_stream.h"
#include "mp3_source.h"
#include "test_files.h"

namespace plumo {
namespace {

// Decodes a sample with the given equalizer settings (nothing when disabled) on a fresh decoder.
std::vector<int16_t> Decode(const std::string& name, const TEqualizerSettings* eq) {
  Decoder decoder;
  TMemoryStream stream(test::ReadFile(test::DataPath("samples/" + name)));
  TMP3Source source(decoder);
  source.Open(&stream, true);
  if (eq) {
    TEqualizerSettings settings = *eq;
    RebuildEqualizer(settings, source.SampleRate(), source.Layer(), decoder);
  }
  std::vector<uint8_t> frame(static_cast<size_t>(source.BytesPerFrame()));
  std::vector<int16_t> pcm;
  while (!source.AtEndOfData())
    if (source.ProduceFrame(frame.data()))
      for (size_t i = 0; i + 1 < frame.size(); i += 2) pcm.push_back(static_cast<int16_t>(frame[i] | frame[i + 1] << 8));
  return pcm;
}

double Rms(const std::vector<int16_t>& pcm) {
  double sum = 0;
  for (int16_t s : pcm) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / static_cast<double>(pcm.size()));
}

TEqualizerSettings Settings(TMP3EqualizerMode mode, int32_t level) {
  TEqualizerSettings eq;
  eq.enabled = true;
  eq.mode = mode;
  eq.levels.fill(level);
  SetEqualizerRange(eq, 60, 16000);
  return eq;
}

const char* const kFiles[] = {"l3_m1_44k_128_joint_noinfo.mp3", "l2_m1_44k_112_joint.mp2", "l3_m2_22k_32_mono.mp3"};

TEST(Equalizer, LevelZeroLeavesTheOutputUnchanged) {
  for (const char* name : kFiles) {
    SCOPED_TRACE(name);
    const std::vector<int16_t> plain = Decode(name, nullptr);
    for (TMP3EqualizerMode mode : {memSubBand, memFreq}) {
      const TEqualizerSettings eq = Settings(mode, 0);
      EXPECT_TRUE(Decode(name, &eq) == plain) << "mode " << int{mode};
    }
  }
}

TEST(Equalizer, LevelMinus100LowersTheOutputBy20Decibels) {
  for (const char* name : kFiles) {
    SCOPED_TRACE(name);
    const double plain = Rms(Decode(name, nullptr));
    for (TMP3EqualizerMode mode : {memSubBand, memFreq}) {
      const TEqualizerSettings eq = Settings(mode, -100);
      const double db = 20 * std::log10(Rms(Decode(name, &eq)) / plain);
      EXPECT_NEAR(db, -20.0, 0.5) << "mode " << int{mode};
    }
  }
}

TEST(Equalizer, LevelsBeyondTheRangeActAsItsEnds) {
  EXPECT_FLOAT_EQ(EqualizerGain(100), 10.0f);
  EXPECT_FLOAT_EQ(EqualizerGain(101), 10.0f);
  EXPECT_FLOAT_EQ(EqualizerGain(std::numeric_limits<int32_t>::max()), 10.0f);
  EXPECT_FLOAT_EQ(EqualizerGain(-100), 0.1f);
  EXPECT_FLOAT_EQ(EqualizerGain(std::numeric_limits<int32_t>::min()), 0.1f);
  // A huge level once made the gain infinite and the samples NaN.
  for (const char* name : kFiles) {
    SCOPED_TRACE(name);
    for (TMP3EqualizerMode mode : {memSubBand, memFreq}) {
      const TEqualizerSettings top = Settings(mode, 100), huge = Settings(mode, 100000);
      const TEqualizerSettings bottom = Settings(mode, -100), tiny = Settings(mode, -100000);
      EXPECT_TRUE(Decode(name, &huge) == Decode(name, &top)) << "mode " << int{mode};
      EXPECT_TRUE(Decode(name, &tiny) == Decode(name, &bottom)) << "mode " << int{mode};
    }
  }
}

TEST(Equalizer, SubbandModeMovesTheBandFrequenciesToTheSubbandCentres) {
  Decoder decoder;
  TEqualizerSettings eq;
  RebuildEqualizer(eq, 44100, 3, decoder);
  EXPECT_EQ(eq.frequencies[0], 345);  // 44100 / 64 * 0.5, rounded
  EXPECT_EQ(eq.frequencies[31], 21705);
  EXPECT_FALSE(decoder.SubbandEqualizerOn());
  eq.enabled = true;
  RebuildEqualizer(eq, 44100, 3, decoder);
  EXPECT_TRUE(decoder.SubbandEqualizerOn());
  EXPECT_FALSE(decoder.LineEqualizerOn());
}

TEST(Equalizer, FrequencyModeGivesEachLineTheNearestBand) {
  Decoder decoder;
  TEqualizerSettings eq;
  eq.enabled = true;
  eq.mode = memFreq;
  eq.count = 2;
  eq.frequencies[0] = 0;  // counts as 1 Hz
  eq.frequencies[1] = 1000;
  eq.levels[0] = 100;
  eq.levels[1] = -100;
  RebuildEqualizer(eq, 48000, 3, decoder);
  EXPECT_FALSE(decoder.SubbandEqualizerOn());
  ASSERT_TRUE(decoder.LineEqualizerOn());
  // Line k is centred on round(48000 / 1152 * (k + 0.5)) Hz: line 0 at 21 Hz, line 1 at 63 Hz.
  // 21 Hz is nearer to 1 Hz (ratio 21) than to 1000 Hz (ratio 48); 63 Hz is nearer to 1000 Hz.
  EXPECT_FLOAT_EQ(decoder.LineGains()[0], 10.0f);
  EXPECT_FLOAT_EQ(decoder.LineGains()[1], 0.1f);
  EXPECT_FLOAT_EQ(decoder.LineGains()[575], 0.1f);
  // Layers I and II take the same choice per sub-band.
  RebuildEqualizer(eq, 48000, 2, decoder);
  EXPECT_TRUE(decoder.SubbandEqualizerOn());
  EXPECT_FALSE(decoder.LineEqualizerOn());
  EXPECT_FLOAT_EQ(decoder.SubbandGains()[0], 0.1f);  // 375 Hz: nearer to 1000 Hz
}

}  // namespace
}  // namespace plumo
