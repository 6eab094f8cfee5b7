// The conformance vectors decoded with each kernel variant forced by a synthetic processor. The
// x87-family variants reach the accuracy targets; the single-precision 3DNow! variants, whose PCM
// conversion floors instead of rounding (half a step lower on average), are held to their own.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "cpu.h"
#include "decoded_stream.h"
#include "decoder_context.h"
#include "kernels.h"
#include "test_files.h"

namespace plumo {
namespace {

using namespace cpu_flags;

struct Processor {
  const char* name;
  uint32_t flags;
  bool single_precision;
  bool scalar = false;  // the scalar x87 forms, which processors without AVX2 run
};

// Processors whose selection gives each variant: plain x87, Pentium-scheduled, conditional-move
// windows, 3DNow! (alias reduction and windows) and enhanced 3DNow! in every slot.
const Processor kProcessors[] = {
    {"x87", kFpu | kOtherVendor | kFamily6OrOther, false},
    {"Pentium", kFpu | kIntel | kFamily5 | kMmx, false},
    {"PentiumPro", kFpu | kIntel | kFamily6OrOther | kCmov, false},
    {"K6", kFpu | kAmd | kFamily5 | kMmx | k3DNow, true},
    {"Athlon", kFpu | kAmd | kFamily6OrOther | kMmx | k3DNow | kE3DNow | kEmmx | kCmov, true},
    {"ScalarX87", 0, false, true},
};

test::Decoded Decode(const Processor& p, const std::string& path) {
  if (!p.scalar) return test::DecodeFile(path, {}, p.flags);
  return test::DecodeFileWith(path, [](Decoder& d) {
    KernelSet& k = d.Context().kernels;
    k.alias_reduction_kernel = AliasReductionX87;
    k.hybrid_kernel = HybridPentium;
    k.long_transform_kernel = LongTransformPentium;
    k.short_transform_kernel = ShortTransformPentium;
    k.window_kernel_mono = WindowMonoCmov;
    k.window_kernel_stereo = WindowStereoPentium;
  });
}

void PrintTo(const Processor& p, std::ostream* os) { *os << p.name; }

// PSNR and largest low-passed difference the variants must reach.
void ExpectAccuracy(const Processor& p, const test::PcmComparison& c, const std::string& vector) {
  EXPECT_GT(c.frames, 0u);
  if (!p.single_precision) {
    EXPECT_GE(c.psnr_db, 100.0) << vector;
    EXPECT_LT(c.max_difference, 2.6) << vector;
  } else {
    // Flooring costs about 6 dB against rounding: about 93.5 dB on these vectors.
    EXPECT_GE(c.psnr_db, 92.0) << vector;
    EXPECT_LT(c.max_difference, 3.0) << vector;
  }
  testing::Test::RecordProperty(vector, testing::PrintToString(c.psnr_db));
}

struct Layer3Vector {
  const char* name;
  int reference_channels;
};
void PrintTo(const Layer3Vector& v, std::ostream* os) { *os << v.name; }

class Layer3Variants : public testing::TestWithParam<std::tuple<Processor, Layer3Vector>> {};

TEST_P(Layer3Variants, ReachTheAccuracyTargets) {
  const auto& [processor, vector] = GetParam();
  const std::string base = test::DataPath(std::string("conformance/") + vector.name);
  const test::Decoded d = Decode(processor, base + ".bit");
  const int channels = d.info.format.channels;
  std::vector<int16_t> ref = test::ReadPcm16(base + ".pcm");
  if (vector.reference_channels != channels) {
    std::vector<int16_t> first;
    for (size_t i = 0; i < ref.size(); i += static_cast<size_t>(vector.reference_channels)) first.push_back(ref[i]);
    ref = first;
  }
  const size_t frame = static_cast<size_t>(d.info.format.samples_per_frame / channels);
  const size_t offset = test::BestOffset(d.pcm, ref, channels, frame, 4 * frame);
  ExpectAccuracy(processor, test::CompareFrom(d.pcm, ref, channels, offset, 0), vector.name);
}

std::string Name(std::string n) {
  for (char& ch : n)
    if (ch == '-') ch = '_';
  return n;
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Layer3Variants,
    testing::Combine(testing::ValuesIn(kProcessors),
                     testing::Values(Layer3Vector{"l3-compl", 1}, Layer3Vector{"l3-he_32khz", 1},
                                     Layer3Vector{"l3-he_44khz", 1}, Layer3Vector{"l3-hecommon", 2},
                                     Layer3Vector{"l3-si", 1}, Layer3Vector{"l3-si_block", 1},
                                     Layer3Vector{"l3-si_huff", 1}, Layer3Vector{"l3-sin1k0db", 2},
                                     Layer3Vector{"M2L3_bitrate_16_all", 1}, Layer3Vector{"M2L3_bitrate_22_all", 1},
                                     Layer3Vector{"M2L3_compl24", 1})),
    [](const auto& i) {
      return std::string(std::get<0>(i.param).name) + "_" + Name(std::get<1>(i.param).name);
    });

class Layer12Variants : public testing::TestWithParam<std::tuple<Processor, const char*>> {};

TEST_P(Layer12Variants, ReachTheAccuracyTargets) {
  const auto& [processor, vector] = GetParam();
  const std::string base = test::DataPath(std::string("conformance/") + vector);
  const test::Decoded d = Decode(processor, base + ".bit");
  const int channels = d.info.format.channels;
  const std::vector<int16_t> ref = test::ReadPcm16(base + ".pcm");
  const size_t common = std::min(d.pcm.size(), ref.size()) / static_cast<size_t>(channels);
  ExpectAccuracy(processor, test::CompareLowPassed(d.pcm, ref, channels, common), vector);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Layer12Variants,
                         testing::Combine(testing::ValuesIn(kProcessors),
                                          testing::Values("l1-fl1", "l1-fl2", "l1-fl3", "l1-fl4", "l1-fl5", "l1-fl6",
                                                          "l2-fl10", "l2-fl11", "l2-fl12", "l2-fl13", "l2-fl14")),
                         [](const auto& i) { return std::string(std::get<0>(i.param).name) + "_" + Name(std::get<1>(i.param)); });

// The selection of this processor reaches the targets too (the plain conformance tests decode
// with it; this names it).
TEST(Variants, ThisProcessorsSelectionIsOneOfThem) {
  const KernelChoice mine = ChooseKernels(DetectCpu());
  bool found = false;
  for (const Processor& p : kProcessors) found = found || (!p.scalar && ChooseKernels(p.flags) == mine);
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// The equalizer switched on with every gain at 1.0 changes no sample, in either layer family.
TEST(Variants, AnEqualizerAtUnityGainLeavesThePcmBitExact) {
  for (const char* name : {"conformance/l3-sin1k0db.bit", "conformance/l2-fl12.bit", "samples/l3_m1_44k_128_joint_noinfo.mp3"}) {
    const std::string path = test::DataPath(name);
    const test::Decoded plain = test::DecodeFile(path);
    const test::Decoded equalized = test::DecodeFileWith(path, [](Decoder& d) {
      d.SetSubbandEqualizerOn(true);
      d.SetLineEqualizerOn(true);
    });
    ASSERT_GT(plain.pcm.size(), 0u) << name;
    EXPECT_EQ(plain.pcm, equalized.pcm) << name;
  }
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// Whole streams decoded with the scalar x87 forms in every kernel slot and with this processor's
// selection (the vector forms where it has AVX2) give the same PCM, byte for byte.
TEST(Variants, ScalarAndSelectedX87KernelsGiveTheSamePcm) {
  for (const char* name :
       {"conformance/l3-compl.bit", "conformance/l3-si_block.bit", "conformance/l3-hecommon.bit",
        "conformance/M2L3_compl24.bit", "conformance/l2-fl12.bit", "conformance/l1-fl3.bit",
        "samples/l3_m1_44k_128_joint_noinfo.mp3", "samples/l3_m1_48k_192_dual.mp3", "samples/l2_m1_48k_256_dual.mp2"}) {
    const std::string path = test::DataPath(name);
    const test::Decoded selected = test::DecodeFile(path);
    const test::Decoded scalar = test::DecodeFileWith(path, [](Decoder& d) {
      KernelSet& k = d.Context().kernels;
      k.alias_reduction_kernel = AliasReductionX87;
      k.hybrid_kernel = HybridPentium;
      k.long_transform_kernel = LongTransformPentium;
      k.short_transform_kernel = ShortTransformPentium;
      k.window_kernel_mono = WindowMonoPentium;
      k.window_kernel_stereo = WindowStereoPentium;
    });
    ASSERT_GT(selected.pcm.size(), 0u) << name;
    EXPECT_TRUE(selected.pcm == scalar.pcm) << name;
  }
}

}  // namespace
}  // namespace plumo
