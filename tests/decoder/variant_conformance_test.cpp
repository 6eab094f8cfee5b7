// Every conformance vector decoded with every kernel set a decoder can be given: the selection for
// processors of each kind, and each set by name in each instruction-set form. The exact sets give
// the same PCM, byte for byte; the single-precision 3DNow! sets, whose PCM conversion floors
// instead of rounding (half a step lower on average), are held to accuracy targets of their own.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cpu.h"
#include "decoded_stream.h"
#include "decoder_context.h"
#include "kernels.h"
#include "test_files.h"

namespace plumo {
namespace {

using namespace cpu_flags;
using V = KernelVariant;

KernelChoice All(V v) { return {v, v, v, v, v, v}; }

struct KernelSetCase {
  std::string name;
  std::function<void(Decoder&)> select;
  bool exact;
};

std::vector<KernelSetCase> SelectableKernelSets() {
  std::vector<KernelSetCase> sets;
  // The selection for processors of every kind (on x86-64 those reporting 3DNow! included).
  const struct {
    const char* name;
    uint32_t flags;
  } processors[] = {
      {"x87", kFpu | kOtherVendor | kFamily6OrOther},
      {"Pentium", kFpu | kIntel | kFamily5 | kMmx},
      {"PentiumPro", kFpu | kIntel | kFamily6OrOther | kCmov},
      {"K6", kFpu | kAmd | kFamily5 | kMmx | k3DNow},
      {"Athlon", kFpu | kAmd | kFamily6OrOther | kMmx | k3DNow | kE3DNow | kEmmx | kCmov},
      {"this processor", DetectCpu()},
  };
  for (const auto& p : processors) {
    // Every x86-64 processor runs an exact set; elsewhere those with 3DNow! run its variants.
#if defined(__x86_64__)
    const bool exact = true;
#else
    const bool exact = ChooseKernels(p.flags).alias_reduction == V::kX87;
#endif
    sets.push_back({std::string("selection for ") + p.name, [f = p.flags](Decoder& d) { d.SelectKernels(f); }, exact});
  }
  // Each exact variant in each form, and the 3DNow! sets by name.
  for (KernelForm form : {KernelForm::kScalar, KernelForm::kAvx2, KernelForm::kAvx512}) {
    for (V v : {V::kX87, V::kPentium, V::kCmov})
      sets.push_back({std::string(KernelVariantName(v)) + " " + KernelFormName(form),
                      [v, form](Decoder& d) { d.SelectKernelSet(All(v), form); }, true});
  }
  for (V v : {V::k3DNow, V::kEnhanced3DNow})
    sets.push_back({KernelVariantName(v), [v](Decoder& d) { d.SelectKernelSet(All(v), KernelForm::kScalar); }, false});
  return sets;
}

struct Vector {
  const char* name;
  int reference_channels;  // 0: as decoded; -1: a reference whose channel count changes (not compared)
};
void PrintTo(const Vector& v, std::ostream* os) { *os << v.name; }

class KernelSets : public testing::TestWithParam<Vector> {};

TEST_P(KernelSets, ExactSetsGiveTheSamePcmAndTheOthersReachTheirTargets) {
  const Vector v = GetParam();
  const std::string base = test::DataPath(std::string("conformance/") + v.name);
  std::vector<int16_t> ref = test::ReadPcm16(base + ".pcm");
  const test::Decoded plain = test::DecodeFileWith(base + ".bit", [](Decoder& d) {
    d.SelectKernelSet(All(V::kX87), KernelForm::kScalar);
  });
  ASSERT_GT(plain.pcm.size(), 0u);
  const int channels = plain.info.format.channels;
  if (v.reference_channels > 0 && v.reference_channels != channels) {
    std::vector<int16_t> first;
    for (size_t i = 0; i < ref.size(); i += static_cast<size_t>(v.reference_channels)) first.push_back(ref[i]);
    ref = first;
  }
  const size_t frame = static_cast<size_t>(plain.info.format.samples_per_frame / channels);
  for (const KernelSetCase& set : SelectableKernelSets()) {
    SCOPED_TRACE(set.name);
    const test::Decoded d = test::DecodeFileWith(base + ".bit", set.select);
    if (set.exact) {
      EXPECT_TRUE(d.pcm == plain.pcm);
      continue;
    }
    if (v.reference_channels < 0) continue;
    // Flooring costs about 6 dB against rounding (about 93.3 dB here, against 110 to 135 dB), and
    // the conversion lowers sums <= 0 by one; no sample is off by more than one.
    const size_t offset = test::BestOffset(d.pcm, ref, channels, frame, 4 * frame);
    const test::PcmComparison c = test::CompareFrom(d.pcm, ref, channels, offset, 0);
    test::PrintFullBandRow(std::string(v.name) + " (" + set.name + ")", c);
    EXPECT_GT(c.frames, 0u);
    EXPECT_GE(c.psnr_db, 92.0);
    EXPECT_LE(c.max_difference, 1.0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, KernelSets,
    testing::Values(Vector{"l1-fl1", 0}, Vector{"l1-fl2", 0}, Vector{"l1-fl3", 0}, Vector{"l1-fl4", 0},
                    Vector{"l1-fl5", 0}, Vector{"l1-fl6", 0}, Vector{"l2-fl10", 0}, Vector{"l2-fl11", 0},
                    Vector{"l2-fl12", 0}, Vector{"l2-fl13", 0}, Vector{"l2-fl14", 0}, Vector{"l3-compl", 1},
                    Vector{"l3-he_32khz", 1}, Vector{"l3-he_44khz", 1}, Vector{"l3-he_mode", -1},
                    Vector{"l3-hecommon", 2}, Vector{"l3-si", 1}, Vector{"l3-si_block", 1}, Vector{"l3-si_huff", 1},
                    Vector{"l3-sin1k0db", 2}, Vector{"M2L3_bitrate_16_all", 1}, Vector{"M2L3_bitrate_22_all", 1},
                    Vector{"M2L3_compl24", 1}, Vector{"l3-test46", 2}),
    [](const testing::TestParamInfo<Vector>& i) {
      std::string n = i.param.name;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

// The selection of this processor is one of the exact sets, whatever it reports.
TEST(Variants, ThisProcessorsSelectionIsExact) {
  Decoder d;
  const KernelChoice mine = d.SelectedKernels();
  EXPECT_EQ(mine, ChooseKernels(SelectionFlags(DetectCpu())));
  EXPECT_NE(mine.alias_reduction, V::k3DNow);
  EXPECT_NE(mine.alias_reduction, V::kEnhanced3DNow);
  EXPECT_NE(mine.window_stereo, V::k3DNow);
  EXPECT_NE(mine.window_stereo, V::kEnhanced3DNow);
}

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

// Whole samples decoded with the scalar x87 forms in every kernel slot and with this processor's
// selection (the vector forms where it has them) give the same PCM, byte for byte.
TEST(Variants, ScalarAndSelectedX87KernelsGiveTheSamePcm) {
  for (const char* name : {"samples/l3_m1_44k_128_joint_noinfo.mp3", "samples/l3_m1_48k_192_dual.mp3",
                           "samples/l3_m25_11k_32_joint.mp3", "samples/l2_m1_48k_256_dual.mp2"}) {
    const std::string path = test::DataPath(name);
    const test::Decoded selected = test::DecodeFile(path);
    const test::Decoded scalar = test::DecodeFileWith(path, [](Decoder& d) {
      KernelSet& k = d.Context().kernels;
      k.matrix_kernel = Matrix32Scalar;
      k.requantize_kernel = RequantizeRunScalar;
      k.layer2_scale_kernel = Layer2ScaleScalar;
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
