// Layer III against the ISO conformance references and ffmpeg's decodes of the samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decoded_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

using test::BestOffset;
using test::CompareFrom;
using test::Decoded;
using test::DecodeBytes;
using test::DecodeFile;

// One channel of an interleaved signal.
std::vector<int16_t> Channel(const std::vector<int16_t>& pcm, int channels, int channel) {
  std::vector<int16_t> out;
  for (size_t i = static_cast<size_t>(channel); i < pcm.size(); i += static_cast<size_t>(channels)) out.push_back(pcm[i]);
  return out;
}

// A reference written frame by frame in each frame's own channel count, as for a stream that
// switches between one and two channels, as a one-channel stream plays it: a two-channel frame's
// channels mixed at half amplitude each.
std::vector<int16_t> MonoPerFrame(const std::vector<uint8_t>& bits, const std::vector<int16_t>& ref,
                                  size_t samples_per_channel) {
  std::vector<int16_t> out;
  size_t pos = 0, at = 0;
  while (pos + 4 <= bits.size()) {
    FrameHeader h;
    const int length = ParseFrameHeader(bits.data() + pos, 0, h);
    if (length <= 0) break;
    const size_t channels = static_cast<size_t>(HeaderChannels(h));
    for (size_t i = 0; i < samples_per_channel && at + i * channels + channels - 1 < ref.size(); ++i) {
      const size_t k = at + i * channels;
      out.push_back(channels == 1 ? ref[k] : static_cast<int16_t>(std::lround((ref[k] + ref[k + 1]) / 2.0)));
    }
    at += samples_per_channel * channels;
    pos += static_cast<size_t>(PaddedFrameLength(h, length));
  }
  return out;
}

// The frames next to a change between one and two channels. There the reference's second channel
// carries the history it had before the change (or none), while a one-channel stream plays the
// mix from one history: these frames are left out of the comparisons.
std::vector<size_t> SwitchFrames(const std::vector<uint8_t>& bits) {
  std::vector<int> channels;
  for (size_t pos = 0; pos + 4 <= bits.size();) {
    FrameHeader h;
    const int length = ParseFrameHeader(bits.data() + pos, 0, h);
    if (length <= 0) break;
    channels.push_back(HeaderChannels(h));
    pos += static_cast<size_t>(PaddedFrameLength(h, length));
  }
  std::vector<size_t> out;
  for (size_t k = 0; k < channels.size(); ++k)
    if ((k > 0 && channels[k - 1] != channels[k]) || (k + 1 < channels.size() && channels[k + 1] != channels[k]))
      out.push_back(k);
  return out;
}

// Zeroes frame k of a one-channel signal starting at `at`.
void Blank(std::vector<int16_t>& pcm, size_t at, size_t frame, size_t k) {
  const size_t from = std::min(pcm.size(), at + k * frame);
  std::fill(pcm.begin() + static_cast<std::ptrdiff_t>(from),
            pcm.begin() + static_cast<std::ptrdiff_t>(std::min(pcm.size(), from + frame)), int16_t{0});
}

struct Vector {
  const char* name;
  int reference_channels;  // 0: each frame's own count
};

class Layer3Conformance : public testing::TestWithParam<Vector> {};

TEST_P(Layer3Conformance, MatchesTheReference) {
  const Vector v = GetParam();
  const std::string base = test::DataPath(std::string("conformance/") + v.name);
  const Decoded d = DecodeFile(base + ".bit");
  const int channels = d.info.format.channels;
  EXPECT_EQ(d.pcm.size(), static_cast<size_t>(d.frames) * d.info.format.samples_per_frame);

  std::vector<int16_t> ref = test::ReadPcm16(base + ".pcm");
  // A stream that switches between one and two channels keeps the format of its first frame; a
  // one-channel output then carries both channels mixed.
  if (v.reference_channels == 0)
    ref = MonoPerFrame(test::ReadFile(base + ".bit"), ref,
                               static_cast<size_t>(d.info.format.samples_per_frame / channels));
  else if (v.reference_channels != channels)
    ref = Channel(ref, v.reference_channels, 0);
  // Frames whose main data lies before the start of the stream come out as silence here, while
  // the reference leaves them out: align on whole frames.
  const size_t frame = static_cast<size_t>(d.info.format.samples_per_frame / channels);
  const size_t offset = BestOffset(d.pcm, ref, channels, frame, 4 * frame);
  std::vector<int16_t> ours = d.pcm;
  if (v.reference_channels == 0)
    for (size_t k : SwitchFrames(test::ReadFile(base + ".bit"))) Blank(ours, offset, frame, k), Blank(ref, 0, frame, k);
  const test::PcmComparison c = CompareFrom(ours, ref, channels, offset, 0);
  test::PrintFullBandRow(v.name, c);
  EXPECT_GT(c.frames, 0u);
  // A mixed reference is rounded twice (its channels, then their mean): about 1 dB more noise.
  EXPECT_GE(c.psnr_db, v.reference_channels == 0 ? 98.0 : 100.0) << "offset " << offset;
  EXPECT_LE(c.max_difference, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Layer3Conformance,
                         testing::Values(Vector{"l3-compl", 1}, Vector{"l3-he_32khz", 1}, Vector{"l3-he_44khz", 1},
                                         Vector{"l3-he_mode", 0}, Vector{"l3-hecommon", 2}, Vector{"l3-si", 1},
                                         Vector{"l3-si_block", 1}, Vector{"l3-si_huff", 1},
                                         Vector{"l3-sin1k0db", 2}, Vector{"M2L3_bitrate_16_all", 1},
                                         Vector{"M2L3_bitrate_22_all", 1}, Vector{"M2L3_compl24", 1},
                                         Vector{"l3-test46", 2}),
                         [](const testing::TestParamInfo<Vector>& i) {
                           std::string n = i.param.name;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

// A stream that switches between one and two channels must not click or replay stale data at a
// switch: every single frame away from a switch matches the reference, a two-channel frame's
// channels mixed.
TEST(Layer3Conformance, EveryFrameOfAChannelSwitchingStreamMatches) {
  const std::string base = test::DataPath("conformance/l3-he_mode");
  const Decoded d = DecodeFile(base + ".bit");
  const int channels = d.info.format.channels;
  const size_t frame = static_cast<size_t>(d.info.format.samples_per_frame / channels);
  const std::vector<int16_t> ours = Channel(d.pcm, channels, 0);
  const std::vector<int16_t> ref = MonoPerFrame(test::ReadFile(base + ".bit"), test::ReadPcm16(base + ".pcm"), frame);
  const size_t offset = BestOffset(ours, ref, 1, frame, 4 * frame);
  ASSERT_GT(ours.size(), offset);
  const size_t n = std::min(ours.size() - offset, ref.size());
  const int16_t* a = ours.data() + offset;
  const int16_t* b = ref.data();
  const std::vector<size_t> switches = SwitchFrames(test::ReadFile(base + ".bit"));
  int frames_checked = 0;
  for (size_t start = 0; start + frame <= n; start += frame, ++frames_checked) {
    if (std::find(switches.begin(), switches.end(), start / frame) != switches.end()) continue;
    double squared = 0;
    for (size_t i = start; i < start + frame; ++i) {
      const double e = a[i] - b[i];
      squared += e * e;
    }
    const double psnr = squared == 0 ? 200.0 : 10 * std::log10(32767.0 * 32767.0 * frame / squared);
    EXPECT_GE(psnr, 90.0) << "frame " << start / frame;
  }
  EXPECT_GT(frames_checked, 20);
}

TEST(Layer3Conformance, FreeFormatIsRefused) {
  Decoder decoder;
  EXPECT_THROW(OpenMpegStream(decoder, test::ReadFile(test::DataPath("conformance/l3-he_free.bit")), {}),
               EUnknownFormat);
}

TEST(Layer3Samples, MatchFfmpegDecodes) {
  int checked = 0;
  for (const test::ManifestRow& row : test::ReadSamplesManifest()) {
    if (row.at("layer") != "3" || row.at("ref_pcm").empty() || row.at("file").rfind("dmg_", 0) == 0) continue;
    if (row.at("bitrate_kind") == "free") continue;
    SCOPED_TRACE(row.at("file"));
    const Decoded d = DecodeFile(test::DataPath("samples/" + row.at("file")));
    const int channels = d.info.format.channels;
    const std::vector<int16_t> ref = test::ReadPcm16(test::DataPath("samples/" + row.at("ref_pcm")));
    // Both drop the encoder's delay and padding a LAME tag gives: the samples line up one to one.
    EXPECT_EQ(d.pcm.size(), ref.size());
    // The first frames may refer to reservoir bytes from before the stream: they play as silence
    // here while ffmpeg decodes what it has, so the comparison starts four frames in and leaves out
    // the last frame.
    const size_t frame = static_cast<size_t>(d.info.format.samples_per_frame / channels);
    std::vector<int16_t> ours = d.pcm;
    ours.resize(ours.size() - std::min(ours.size(), frame * channels));
    const test::PcmComparison c = CompareFrom(ours, ref, channels, 0, 4 * frame);
    test::PrintFullBandRow(row.at("file"), c);
    EXPECT_GE(c.psnr_db, 100.0);
    EXPECT_LE(c.max_difference, 1.0);
    ++checked;
  }
  EXPECT_GE(checked, 12);
}

TEST(Layer3Channels, MonoChoicesAreMeanLeftAndRight) {
  // A stereo stream without intensity stereo.
  test::ExpectMonoChoicesAreMeanLeftAndRight(test::ReadFile(test::DataPath("samples/l3_m1_48k_192_dual.mp3")), 2.0);
}


// Byte offsets of the frames of a constant-rate stream without tags.
std::vector<size_t> FrameOffsets(const std::vector<uint8_t>& bytes) {
  std::vector<size_t> offsets;
  size_t pos = 0;
  FrameHeader h;
  for (int length; pos + 4 <= bytes.size() && (length = ParseFrameHeader(bytes.data() + pos, 0, h)) > 0;
       pos += static_cast<size_t>(PaddedFrameLength(h, length)))
    offsets.push_back(pos);
  return offsets;
}

// Writes an n-bit big-endian field at a bit position.
void SetBits(std::vector<uint8_t>& bytes, size_t bit, int n, uint32_t value) {
  for (int i = n - 1; i >= 0; --i, ++bit) {
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    bytes[bit / 8] = static_cast<uint8_t>((value >> i) & 1 ? bytes[bit / 8] | mask : bytes[bit / 8] & ~mask);
  }
}

struct Damage {
  const char* name;
  // Damages frame `f` of a two-channel MPEG-1 stream without CRC; returns the first frame that must
  // decode exactly as in the clean stream again.
  std::function<size_t(std::vector<uint8_t>&, const std::vector<size_t>&, size_t f)> apply;
};

// Side information of a two-channel MPEG-1 frame: main_data_begin (9 bits) at bit 32, then private
// bits (3), scfsi (8); each granule and channel then starts with part2_3_length (12) and
// big_values (9), 59 bits per granule and channel.
constexpr size_t kFirstGranuleBit = 32 + 9 + 3 + 8;
constexpr size_t kGranuleBits = 59;

class Layer3SideInfoDamage : public testing::TestWithParam<Damage> {};

TEST_P(Layer3SideInfoDamage, DecodingResumesAfterTheDamage) {
  const std::vector<uint8_t> clean_bytes =
      test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  const std::vector<size_t> offsets = FrameOffsets(clean_bytes);
  ASSERT_GT(offsets.size(), 40u);
  const Decoded clean = DecodeBytes(clean_bytes);
  ASSERT_EQ(clean.info.format.channels, 2);
  const size_t frame_samples = static_cast<size_t>(clean.info.format.samples_per_frame);
  for (size_t f : {size_t{1}, size_t{12}, size_t{25}}) {
    SCOPED_TRACE(f);
    std::vector<uint8_t> bytes = clean_bytes;
    const size_t recovered = GetParam().apply(bytes, offsets, f);
    const Decoded d = DecodeBytes(bytes);
    ASSERT_EQ(d.pcm.size(), clean.pcm.size());
    const size_t from = recovered * frame_samples;
    // The damage is audible where it was made (the first frames are too quiet to tell)...
    if (f > 1) {
      EXPECT_FALSE(std::equal(d.pcm.begin() + static_cast<std::ptrdiff_t>(f * frame_samples),
                              d.pcm.begin() + static_cast<std::ptrdiff_t>(from),
                              clean.pcm.begin() + static_cast<std::ptrdiff_t>(f * frame_samples)));
    }
    // ...and gone a few frames later.
    EXPECT_TRUE(std::equal(d.pcm.begin() + static_cast<std::ptrdiff_t>(from), d.pcm.end(),
                           clean.pcm.begin() + static_cast<std::ptrdiff_t>(from)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Layer3SideInfoDamage,
    testing::Values(
        Damage{"BigValuesBeyond288",
               [](std::vector<uint8_t>& b, const std::vector<size_t>& o, size_t f) {
                 for (size_t g = 0; g < 4; ++g) SetBits(b, o[f] * 8 + kFirstGranuleBit + g * kGranuleBits + 12, 9, 511);
                 return f + 2;
               }},
        Damage{"Part23LengthTooLong",
               [](std::vector<uint8_t>& b, const std::vector<size_t>& o, size_t f) {
                 SetBits(b, o[f] * 8 + kFirstGranuleBit, 12, 4095);
                 return f + 2;
               }},
        Damage{"Part23LengthTooShort",
               [](std::vector<uint8_t>& b, const std::vector<size_t>& o, size_t f) {
                 SetBits(b, o[f] * 8 + kFirstGranuleBit + kGranuleBits, 12, 3);
                 return f + 2;
               }},
        Damage{"MainDataBeginBeforeTheStream",
               [](std::vector<uint8_t>& b, const std::vector<size_t>& o, size_t f) {
                 SetBits(b, o[f] * 8 + 32, 9, 511);
                 return f + 2;
               }},
        Damage{"FrameOfGarbage",
               [](std::vector<uint8_t>& b, const std::vector<size_t>& o, size_t f) {
                 std::mt19937 rng(static_cast<uint32_t>(f));
                 for (size_t i = o[f] + 4; i < o[f + 1]; ++i) b[i] = static_cast<uint8_t>(rng());
                 // Later frames may take reservoir bytes from the garbage (511 bytes at most).
                 return f + 4;
               }}),
    [](const testing::TestParamInfo<Damage>& i) { return std::string(i.param.name); });

TEST(Layer3Damage, MutatedAndTruncatedStreamsAreHandled) {
  std::mt19937 rng(1208);
  for (const char* name : {"conformance/l3-si_block.bit", "conformance/M2L3_compl24.bit", "conformance/l3-hecommon.bit",
                           "samples/l3_m25_11k_32_joint.mp3", "samples/l3_m1_44k_128_joint_noinfo.mp3"}) {
    const std::vector<uint8_t> clean = test::ReadFile(test::DataPath(name));
    for (int round = 0; round < 30; ++round) {
      std::vector<uint8_t> bytes = clean;
      const int flips = 1 + static_cast<int>(rng() % 48);
      // Mostly inside the first bytes of frames, where side information and scale factors live.
      for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
      if (round % 3 == 0) bytes.resize(rng() % bytes.size());
      try {
        // Every frame whole (no delay or padding cut, which a mutated LAME tag could set anyhow).
        DecodeOptions whole;
        whole.gapless = false;
        const Decoded d = DecodeBytes(bytes, whole);
        EXPECT_EQ(d.pcm.size(), static_cast<size_t>(d.frames) * d.info.format.samples_per_frame);
      } catch (const EUnknownFormat&) {
      }
    }
  }
}

TEST(Layer3Damage, FirstFrameAfterSetupWithReservoirDataIsSilent) {
  // The stream starts mid-reservoir: its first frames refer to bytes before the stream.
  const Decoded d = DecodeBytes(test::ReadFile(test::DataPath("conformance/l3-sin1k0db.bit")));
  const size_t frame = static_cast<size_t>(d.info.format.samples_per_frame);
  ASSERT_GT(d.pcm.size(), frame);
  for (size_t i = 0; i < frame; ++i) ASSERT_EQ(d.pcm[i], 0) << i;
}

}  // namespace
}  // namespace plumo
