// The decoder's equalizer tables: sub-band gains before matrixing in every output stage but the
// Layers I and II mix, line gains on the Layer III spectrum only, each while its switch is on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "decoded_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

// Left 1 kHz sine, right white noise, dual channel, 48 kHz: 1 kHz lies in sub-band 1 (750 ..
// 1500 Hz), which holds Layer III lines 18 .. 35.
const char* const kLayer2 = "samples/l2_m1_48k_256_dual.mp2";
const char* const kLayer3 = "samples/l3_m1_48k_192_dual.mp3";

test::Decoded Decode(const char* name, int channels, const std::function<void(Decoder&)>& prepare) {
  return test::DecodeFileWith(test::DataPath(name), prepare, test::WithChannels(channels));
}

void NoChange(Decoder&) {}

std::function<void(Decoder&)> SubbandGains(float gain, int from = 0, int to = 32) {
  return [=](Decoder& d) {
    for (int i = from; i < to; ++i) d.SubbandGains()[i] = gain;
    d.SetSubbandEqualizerOn(true);
  };
}

std::function<void(Decoder&)> LineGains(float gain, int from = 0, int to = 576) {
  return [=](Decoder& d) {
    for (int i = from; i < to; ++i) d.LineGains()[i] = gain;
    d.SetLineEqualizerOn(true);
  };
}

// Every sample of `half` is half the sample of `full`, within rounding.
void ExpectHalf(const test::Decoded& half, const test::Decoded& full, const std::string& what) {
  ASSERT_EQ(half.pcm.size(), full.pcm.size()) << what;
  ASSERT_GT(full.pcm.size(), 0u) << what;
  int worst = 0;
  bool loud = false;
  for (size_t i = 0; i < full.pcm.size(); ++i) {
    worst = std::max(worst, static_cast<int>(std::abs(2 * half.pcm[i] - full.pcm[i])));
    loud = loud || std::abs(full.pcm[i]) > 1000;
  }
  EXPECT_TRUE(loud) << what;
  EXPECT_LE(worst, 2) << what;
}

// Decoding `name` with `gains` set halves every sample of decoding it without them.
void ExpectGainsHalve(const char* name, int channels, const std::function<void(Decoder&)>& gains) {
  ExpectHalf(Decode(name, channels, gains), Decode(name, channels, NoChange),
             "channel choice " + std::to_string(channels));
}

// RMS of channel c (of `channels`) after the first 4608 sample frames.
double Rms(const test::Decoded& d, int channels, int c) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = 4608 * static_cast<size_t>(channels) + static_cast<size_t>(c); i < d.pcm.size();
       i += static_cast<size_t>(channels), ++n)
    sum += static_cast<double>(d.pcm[i]) * d.pcm[i];
  return n ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

double Db(double a, double b) { return 20 * std::log10(a / b); }

TEST(EqualizerTables, NanOrInfiniteGainsGiveSilenceOrFullScaleNeverUndefinedSamples) {
  // NaN samples are written as 0; infinite ones as full scale or, where they cancel, as 0.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  auto expect = [](const test::Decoded& d, bool nan_gains) {
    ASSERT_GT(d.pcm.size(), 0u);
    for (int16_t s : d.pcm) {
      if (nan_gains)
        ASSERT_EQ(s, 0);
      else
        ASSERT_TRUE(s == 0 || s == 32767 || s == -32768) << s;
    }
  };
  for (int channels : {kChannelsBoth, kChannelsLeft}) {
    SCOPED_TRACE(channels);
    expect(Decode(kLayer2, channels, SubbandGains(nan)), true);
    expect(Decode(kLayer2, channels, SubbandGains(inf)), false);
    expect(Decode(kLayer3, channels, SubbandGains(nan)), true);
    expect(Decode(kLayer3, channels, SubbandGains(inf)), false);
    expect(Decode(kLayer3, channels, LineGains(nan)), true);
    expect(Decode(kLayer3, channels, LineGains(inf)), false);
  }
}

TEST(EqualizerTables, StartAtUnityWithBothSwitchesOff) {
  Decoder d;
  EXPECT_FALSE(d.SubbandEqualizerOn());
  EXPECT_FALSE(d.LineEqualizerOn());
  for (int i = 0; i < 32; ++i) EXPECT_EQ(d.SubbandGains()[i], 1.0f) << i;
  for (int i = 0; i < 576; ++i) EXPECT_EQ(d.LineGains()[i], 1.0f) << i;
  d.SetSubbandEqualizerOn(true);
  d.SetLineEqualizerOn(true);
  EXPECT_TRUE(d.SubbandEqualizerOn());
  EXPECT_TRUE(d.LineEqualizerOn());
}

TEST(EqualizerTables, SubbandGainsActInEveryLayer2StageButTheMix) {
  for (int channels : {kChannelsBoth, kChannelsLeft, kChannelsRight}) {
    ExpectGainsHalve(kLayer2, channels, SubbandGains(0.5f));
  }
  EXPECT_EQ(Decode(kLayer2, kChannelsMix, SubbandGains(0.5f)).pcm, Decode(kLayer2, kChannelsMix, NoChange).pcm);
}

TEST(EqualizerTables, SubbandGainsActInEveryLayer3Stage) {
  for (int channels : {kChannelsBoth, kChannelsMix, kChannelsLeft, kChannelsRight}) {
    ExpectGainsHalve(kLayer3, channels, SubbandGains(0.5f));
  }
}

TEST(EqualizerTables, LineGainsActOnLayer3Only) {
  for (int channels : {kChannelsBoth, kChannelsMix, kChannelsLeft}) {
    ExpectGainsHalve(kLayer3, channels, LineGains(0.5f));
  }
  EXPECT_EQ(Decode(kLayer2, kChannelsBoth, LineGains(0.0f)).pcm, Decode(kLayer2, kChannelsBoth, NoChange).pcm);
}

TEST(EqualizerTables, GainsActOnlyWhileTheirSwitchIsOn) {
  auto off = [](std::function<void(Decoder&)> set) {
    return [set](Decoder& d) {
      set(d);
      d.SetSubbandEqualizerOn(false);
      d.SetLineEqualizerOn(false);
    };
  };
  EXPECT_EQ(Decode(kLayer3, kChannelsBoth, off(SubbandGains(0.0f))).pcm, Decode(kLayer3, kChannelsBoth, NoChange).pcm);
  EXPECT_EQ(Decode(kLayer3, kChannelsBoth, off(LineGains(0.0f))).pcm, Decode(kLayer3, kChannelsBoth, NoChange).pcm);
  EXPECT_EQ(Decode(kLayer2, kChannelsBoth, off(SubbandGains(0.0f))).pcm, Decode(kLayer2, kChannelsBoth, NoChange).pcm);
}

// A gain acts on its own sub-band or line: silencing the 1 kHz sine's sub-band (or its lines)
// removes it, silencing other ones leaves it.
TEST(EqualizerTables, EachGainActsOnItsOwnFrequencies) {
  struct Case {
    const char* file;
    std::function<void(Decoder&)> own, other;
  };
  const Case cases[] = {
      {kLayer2, SubbandGains(0.0f, 1, 2), SubbandGains(0.0f, 3, 32)},
      {kLayer3, SubbandGains(0.0f, 1, 2), SubbandGains(0.0f, 3, 32)},
      {kLayer3, LineGains(0.0f, 18, 36), LineGains(0.0f, 54, 576)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const double plain = Rms(Decode(c.file, kChannelsBoth, NoChange), 2, 0);
    ASSERT_GT(plain, 1000.0);
    EXPECT_LT(Db(Rms(Decode(c.file, kChannelsBoth, c.own), 2, 0), plain), -20.0);
    EXPECT_NEAR(Db(Rms(Decode(c.file, kChannelsBoth, c.other), 2, 0), plain), 0.0, 0.5);
  }
}

}  // namespace
}  // namespace plumo
