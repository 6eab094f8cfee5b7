// Layers I and II against the ISO conformance references and ffmpeg's decodes of the samples,
// the channel choices, polarity inversion, and damaged input.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "decoded_stream.h"
#include "test_files.h"

namespace plumo {
namespace {

using test::Decoded;
using test::DecodeBytes;
using test::DecodeFile;

// Complete frames of a clean stream, counted by walking its headers.
int CompleteFrames(const std::vector<uint8_t>& file) {
  size_t pos = 0;
  int frames = 0;
  while (pos + 4 <= file.size()) {
    FrameHeader h;
    const int length = ParseFrameHeader(file.data() + pos, 0, h);
    if (length <= 0) break;
    const size_t padded = static_cast<size_t>(PaddedFrameLength(h, length));
    if (pos + padded > file.size()) break;
    pos += padded;
    ++frames;
  }
  return frames;
}

class Layer12Conformance : public testing::TestWithParam<const char*> {};

TEST_P(Layer12Conformance, MatchesTheReference) {
  const std::string base = test::DataPath(std::string("conformance/") + GetParam());
  const std::vector<uint8_t> bits = test::ReadFile(base + ".bit");
  const Decoded d = DecodeBytes(bits);
  const int channels = d.info.format.channels;
  const int per_frame = d.info.format.samples_per_frame;
  EXPECT_EQ(d.frames, CompleteFrames(bits));
  EXPECT_EQ(d.pcm.size(), static_cast<size_t>(d.frames) * per_frame);

  const std::vector<int16_t> ref = test::ReadPcm16(base + ".pcm");
  const size_t common = std::min(d.pcm.size(), ref.size()) / channels;
  const test::PcmComparison c = test::ComparePcm(d.pcm, ref, channels, common);
  test::PrintFullBandRow(GetParam(), c);
  EXPECT_GT(c.frames, 0u);
  EXPECT_GE(c.psnr_db, 100.0) << GetParam();
  EXPECT_LE(c.max_difference, 1.0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Vectors, Layer12Conformance,
                         testing::Values("l1-fl1", "l1-fl2", "l1-fl3", "l1-fl4", "l1-fl5", "l1-fl6", "l2-fl10",
                                         "l2-fl11", "l2-fl12", "l2-fl13", "l2-fl14"),
                         [](const testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

TEST(Layer12Samples, MatchFfmpegDecodes) {
  int checked = 0;
  for (const test::ManifestRow& row : test::ReadSamplesManifest()) {
    if (row.at("layer") != "2" || row.at("ref_pcm").empty()) continue;
    SCOPED_TRACE(row.at("file"));
    const Decoded d = DecodeFile(test::DataPath("samples/" + row.at("file")));
    const int channels = d.info.format.channels;
    const std::vector<int16_t> ref = test::ReadPcm16(test::DataPath("samples/" + row.at("ref_pcm")));
    const size_t offset = test::BestOffset(d.pcm, ref, channels, 1, 2304);
    // Where ffmpeg dropped leading frames, its synthesis starts without their history: compare
    // from one frame later.
    const size_t settle = offset > 0 ? 1152 : 0;
    const test::PcmComparison c = test::CompareFrom(d.pcm, ref, channels, offset, settle);
    test::PrintFullBandRow(row.at("file"), c);
    EXPECT_GE(c.psnr_db, 100.0) << "offset " << offset << " max " << c.max_difference;
    EXPECT_LE(c.max_difference, 1.0) << "offset " << offset;
    ++checked;
  }
  EXPECT_GE(checked, 5);
}

TEST(Layer12Channels, MonoChoicesAreMeanLeftAndRight) {
  test::ExpectMonoChoicesAreMeanLeftAndRight(test::ReadFile(test::DataPath("conformance/l2-fl12.bit")), 1.0);
}

TEST(Layer12Polarity, InversionNegatesTheOutput) {
  const std::string path = test::DataPath("conformance/l1-fl2.bit");
  const Decoded normal = DecodeFile(path);
  const Decoded inverted = DecodeFile(path, test::WithInvertedPolarity());
  ASSERT_EQ(normal.pcm.size(), inverted.pcm.size());
  for (size_t i = 0; i < normal.pcm.size(); ++i) {
    if (normal.pcm[i] <= -32767) continue;  // -32768 cannot be negated without clipping
    ASSERT_NEAR(inverted.pcm[i], -normal.pcm[i], 1) << i;
  }
}

TEST(Layer12Damage, MutatedAndTruncatedStreamsAreHandled) {
  std::mt19937 rng(20261208);
  for (const char* name : {"l1-fl4", "l2-fl13", "l2-fl14", "l1-fl6"}) {
    const std::vector<uint8_t> clean = test::ReadFile(test::DataPath(std::string("conformance/") + name + ".bit"));
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> bytes = clean;
      const int flips = 1 + static_cast<int>(rng() % 64);
      for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
      if (round % 4 == 0) bytes.resize(rng() % bytes.size());
      if (round % 8 == 1) bytes.insert(bytes.begin() + static_cast<long>(rng() % bytes.size()), 5000, 0xFF);
      try {
        const Decoded d = DecodeBytes(bytes);
        EXPECT_EQ(d.pcm.size(), static_cast<size_t>(d.frames) * d.info.format.samples_per_frame);
      } catch (const EUnknownFormat&) {
      }
    }
  }
  // Pure noise, and frames whose headers claim every layer, rate and mode over noise.
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes(1 + rng() % 6000);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    for (size_t p = 0; p + 4 < bytes.size(); p += 1 + rng() % 700) {
      bytes[p] = 0xFF;
      bytes[p + 1] |= 0xE0;
    }
    try {
      DecodeBytes(bytes);
    } catch (const EUnknownFormat&) {
    }
  }
}

}  // namespace
}  // namespace plumo
