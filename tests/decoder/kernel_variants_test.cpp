// Every kernel variant against the plain x87 one: the x87-family variants give the same values,
// the single-precision 3DNow! variants the same within the last bits of a float, and each
// converts to PCM by its own rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "decoder.h"
#include "decoder_context.h"
#include "kernels.h"

namespace plumo {
namespace {

using V = KernelVariant;

KernelSet All(V v) { return KernelsFor({v, v, v, v, v, v}); }

std::vector<float> RandomLines(uint32_t seed, size_t n, float scale) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-scale, scale);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

// Largest difference relative to the largest magnitude of the reference.
double RelativeError(const float* a, const float* b, size_t n) {
  double diff = 0, mag = 0;
  for (size_t i = 0; i < n; ++i) {
    diff = std::max(diff, std::abs(static_cast<double>(a[i]) - b[i]));
    mag = std::max(mag, std::abs(static_cast<double>(b[i])));
  }
  return mag > 0 ? diff / mag : diff;
}

TEST(KernelVariants, SlotsGetTheNamedVariants) {
  for (V v : {V::kX87, V::kPentium, V::kCmov, V::k3DNow, V::kEnhanced3DNow}) {
    const KernelSet k = All(v);
    EXPECT_NE(k.alias_reduction_kernel, nullptr);
    EXPECT_NE(k.hybrid_kernel, nullptr);
    EXPECT_NE(k.long_transform_kernel, nullptr);
    EXPECT_NE(k.short_transform_kernel, nullptr);
    EXPECT_NE(k.window_kernel_mono, nullptr);
    EXPECT_NE(k.window_kernel_stereo, nullptr);
  }
  // Slots without such a variant fall back to x87 and say so.
  const KernelChoice cmov = All(V::kCmov).choice;
  EXPECT_EQ(cmov.window_mono, V::kCmov);
  EXPECT_EQ(cmov.hybrid, V::kX87);
  EXPECT_EQ(cmov.alias_reduction, V::kX87);
  const KernelChoice k6 = All(V::k3DNow).choice;
  EXPECT_EQ(k6.alias_reduction, V::k3DNow);
  EXPECT_EQ(k6.long_transform, V::kX87);
  EXPECT_EQ(All(V::kPentium).choice.alias_reduction, V::kX87);
}

TEST(KernelVariants, AliasReductionIsTheStandardsButterfly) {
  const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
  const std::vector<float> in = RandomLines(1, 576, 30000.0f);
  for (V v : {V::kX87, V::k3DNow, V::kEnhanced3DNow}) {
    std::vector<float> x = in;
    All(v).alias_reduction_kernel(x.data(), 31);
    std::vector<float> want = in;
    for (int b = 1; b <= 31; ++b)
      for (int i = 0; i < 8; ++i) {
        const double sq = std::sqrt(1 + c[i] * c[i]), lo = in[18 * b - 1 - i], hi = in[18 * b + i];
        want[18 * b - 1 - i] = static_cast<float>(lo / sq - hi * c[i] / sq);
        want[18 * b + i] = static_cast<float>(hi / sq + lo * c[i] / sq);
      }
    EXPECT_LT(RelativeError(x.data(), want.data(), 576), v == V::kX87 ? 1e-7 : 1e-6) << KernelVariantName(v);
    // Boundaries 0 does nothing; a mixed block's single boundary touches lines 10 .. 25 only.
    std::vector<float> y = in;
    All(v).alias_reduction_kernel(y.data(), 0);
    EXPECT_EQ(y, in);
    All(v).alias_reduction_kernel(y.data(), 1);
    for (int i = 0; i < 576; ++i) {
      if (i < 10 || i > 25) {
        EXPECT_EQ(y[i], in[i]) << i;
      }
    }
  }
}

TEST(KernelVariants, TransformsAreTheDctIv) {
  const std::vector<float> in = RandomLines(2, 18, 20000.0f);
  std::vector<double> dct18(18), dct6(18);
  for (int n = 0; n < 18; ++n)
    for (int k = 0; k < 18; ++k) dct18[n] += in[k] * std::cos(std::numbers::pi * (2 * n + 1) * (2 * k + 1) / 72.0);
  for (int w = 0; w < 3; ++w)
    for (int n = 0; n < 6; ++n)
      for (int k = 0; k < 6; ++k)
        dct6[6 * w + n] += in[3 * k + w] * std::cos(std::numbers::pi * (2 * n + 1) * (2 * k + 1) / 24.0);
  auto check = [&](const char* name, TransformFn long_fn, TransformFn short_fn, double tolerance) {
    std::vector<float> l = in, s = in;
    long_fn(l.data());
    short_fn(s.data());
    const std::vector<float> lf(dct18.begin(), dct18.end()), sf(dct6.begin(), dct6.end());
    EXPECT_LT(RelativeError(l.data(), lf.data(), 18), tolerance) << name;
    EXPECT_LT(RelativeError(s.data(), sf.data(), 18), tolerance) << name;
  };
  // Double precision: within a float's rounding; single precision: within a few of its steps.
  check("x87", All(V::kX87).long_transform_kernel, All(V::kX87).short_transform_kernel, 1e-7);
  check("Pentium", All(V::kPentium).long_transform_kernel, All(V::kPentium).short_transform_kernel, 1e-7);
  check("Pentium scalar", LongTransformPentium, ShortTransformPentium, 1e-7);
  check("enhanced 3DNow!", All(V::kEnhanced3DNow).long_transform_kernel, All(V::kEnhanced3DNow).short_transform_kernel,
        2e-6);
}

// One granule through a hybrid kernel: the time slots and the new overlap.
struct HybridRun {
  std::vector<float> out, overlap;
  int extent;
};

HybridRun RunHybrid(HybridKernelFn fn, int block_type, bool mixed, int long_lines, int nonzero, int previous_extent) {
  std::vector<float> lines = RandomLines(3, 576, 8000.0f);
  std::fill(lines.begin() + nonzero, lines.end(), 0.0f);
  std::vector<float> previous = RandomLines(4, 576, 8000.0f);
  std::fill(previous.begin() + previous_extent, previous.end(), 0.0f);
  HybridRun r{std::vector<float>(576, 123.0f), {}, 0};
  r.extent = fn(lines.data(), previous.data(), r.out.data(), block_type, mixed, long_lines, nonzero, previous_extent, 32);
  r.overlap = lines;
  return r;
}

struct HybridCase {
  int block_type;
  bool mixed;
  int long_lines, nonzero, previous_extent;
};

TEST(KernelVariants, HybridVariantsAgree) {
  const HybridCase cases[] = {{0, false, 400, 400, 558}, {1, false, 300, 300, 100}, {3, false, 576, 576, 0},
                              {0, false, 576, 576, 576}, {2, false, 0, 576, 576},
                              {2, false, 0, 558, 540},   {2, true, 36, 300, 300},   {2, false, 0, 0, 0},
                              {0, false, 0, 0, 200}};
  for (const HybridCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "block type " << c.block_type << " mixed " << c.mixed << " lines "
                                    << c.nonzero << " previous " << c.previous_extent);
    const HybridRun x87 = RunHybrid(All(V::kX87).hybrid_kernel, c.block_type, c.mixed, c.long_lines, c.nonzero,
                                    c.previous_extent);
    // The scalar Pentium form (the vector forms serve the Pentium slot where AVX2 exists).
    const HybridRun pentium =
        RunHybrid(HybridPentium, c.block_type, c.mixed, c.long_lines, c.nonzero, c.previous_extent);
    const HybridRun amd = RunHybrid(All(V::kEnhanced3DNow).hybrid_kernel, c.block_type, c.mixed, c.long_lines,
                                    c.nonzero, c.previous_extent);
    EXPECT_EQ(x87.extent, 18 * std::max({(c.long_lines + 17) / 18, (c.nonzero + 17) / 18, (c.previous_extent + 17) / 18}));
    EXPECT_EQ(pentium.extent, x87.extent);
    EXPECT_EQ(amd.extent, x87.extent);
    // Both compute in double precision: the floats they store agree to the last bit or so.
    EXPECT_LT(RelativeError(pentium.out.data(), x87.out.data(), 576), 1e-7);
    EXPECT_LT(RelativeError(pentium.overlap.data(), x87.overlap.data(), 576), 1e-7);
    EXPECT_LT(RelativeError(amd.out.data(), x87.out.data(), 576), 2e-6);
    EXPECT_LT(RelativeError(amd.overlap.data(), x87.overlap.data(), 576), 2e-6);
    // All 32 sub-bands are written, the top one included.
    for (int t = 0; t < 18; ++t) EXPECT_NE(x87.out[32 * t + 31], 123.0f);
  }
}

TEST(KernelVariants, NoLinesAndNoOverlapGiveSilence) {
  for (V v : {V::kX87, V::kPentium, V::kEnhanced3DNow}) {
    const HybridRun r = RunHybrid(All(v).hybrid_kernel, 0, false, 0, 0, 0);
    EXPECT_EQ(r.extent, 0);
    for (int t = 0; t < 18; ++t)
      for (int sb = 0; sb < 32; ++sb) EXPECT_EQ(r.out[32 * t + sb], 0.0f);
  }
}

// A synthesis ring, aligned and repeated as the decoder keeps its rings.
struct alignas(64) AlignedRing {
  RingValue v[kRingStorage] = {};
  void Fill(const std::vector<float>& values) {
    for (int i = 0; i < kRingSize; ++i) v[i] = v[kRingSize + i] = values[static_cast<size_t>(i)];
  }
  void Set(int i, float value) { v[i] = v[kRingSize + i] = value; }
};

TEST(KernelVariants, WindowVariantsAgree) {
  Decoder d;
  const SynthesisWindow& w = d.Context().window;
  AlignedRing ring;
  ring.Fill(RandomLines(5, kRingSize, 6000.0f));
  int differing = 0;
  for (int position = 0; position < kRingSize; position += 32) {
    int16_t x87[64], pentium[64], cmov[64], selected_pentium[64], k6[64], athlon[64];
    All(V::kX87).window_kernel_mono(w, ring.v, position, x87);
    WindowMonoPentium(w, ring.v, position, pentium);
    WindowMonoCmov(w, ring.v, position, cmov);
    All(V::kCmov).window_kernel_mono(w, ring.v, position, selected_pentium);
    All(V::k3DNow).window_kernel_mono(w, ring.v, position, k6);
    All(V::kEnhanced3DNow).window_kernel_mono(w, ring.v, position, athlon);
    // Every form of the x87 family, scalar or vector, sums identically.
    EXPECT_EQ(std::memcmp(pentium, cmov, 64), 0) << position;
    EXPECT_EQ(std::memcmp(x87, pentium, 64), 0) << position;
    EXPECT_EQ(std::memcmp(x87, selected_pentium, 64), 0) << position;
    EXPECT_EQ(std::memcmp(k6, athlon, 64), 0) << position;
    int clipped = 0;
    for (int j = 0; j < 32; ++j) {
      EXPECT_LE(std::abs(x87[j] - pentium[j]), 1) << position << " " << j;
      differing += x87[j] != pentium[j];
      // The 3DNow! rule floors where round to nearest rounds: at most one apart.
      EXPECT_LE(std::abs(x87[j] - k6[j]), 1) << position << " " << j;
      clipped += x87[j] == 32767 || x87[j] == -32768;
    }
    EXPECT_LT(clipped, 32);
    // The stereo kernels write every other sample and leave the others alone; they touch nothing
    // past their last sample (the right channel's block ends there).
    for (V v : {V::kX87, V::kPentium, V::kCmov, V::k3DNow, V::kEnhanced3DNow}) {
      std::vector<int16_t> stereo(63, int16_t{-7});
      All(v).window_kernel_stereo(w, ring.v, position, stereo.data());
      const int16_t* mono = (v == V::k3DNow || v == V::kEnhanced3DNow) ? k6 : x87;
      for (int j = 0; j < 32; ++j) EXPECT_EQ(stereo[2 * j], mono[j]) << KernelVariantName(v) << " " << j;
      for (int j = 0; j < 31; ++j) EXPECT_EQ(stereo[2 * j + 1], -7) << KernelVariantName(v) << " " << j;
    }
    for (auto fn : {WindowStereoPentium, WindowStereoCmov}) {
      std::vector<int16_t> stereo(63, int16_t{-7});
      fn(w, ring.v, position, stereo.data());
      for (int j = 0; j < 32; ++j) EXPECT_EQ(stereo[2 * j], pentium[j]) << j;
      for (int j = 0; j < 31; ++j) EXPECT_EQ(stereo[2 * j + 1], -7) << j;
    }
  }
  EXPECT_EQ(differing, 0);
}

// Output 0 of a window with one unit coefficient at age 0 is the ring value itself.
int16_t Convert(WindowKernelFn fn, float value) {
  SynthesisWindow w{};
  w.lo[0][0] = 1.0f;
  WidenSynthesisWindow(w);
  AlignedRing ring{};
  ring.Set(64 + 16, value);
  int16_t out[32] = {};
  fn(w, ring.v, 64, out);
  return out[0];
}
int16_t Convert(V v, float value) { return Convert(All(v).window_kernel_mono, value); }

TEST(KernelVariants, X87ConversionRoundsToNearestEvenAndClips) {
  for (WindowKernelFn v : {All(V::kX87).window_kernel_mono, All(V::kPentium).window_kernel_mono,
                           All(V::kCmov).window_kernel_mono, static_cast<WindowKernelFn>(WindowMonoPentium),
                           static_cast<WindowKernelFn>(WindowMonoCmov)}) {
    EXPECT_EQ(Convert(v, 40000.3f), 32767);
    EXPECT_EQ(Convert(v, -40000.0f), -32768);
    EXPECT_EQ(Convert(v, 0.5f), 0);
    EXPECT_EQ(Convert(v, 1.5f), 2);
    EXPECT_EQ(Convert(v, 2.5f), 2);
    EXPECT_EQ(Convert(v, -0.3f), 0);
    EXPECT_EQ(Convert(v, -2.5f), -2);
    EXPECT_EQ(Convert(v, -0.0f), 0);
    EXPECT_EQ(Convert(v, 32767.4f), 32767);
    EXPECT_EQ(Convert(v, 32767.6f), 32767);
    EXPECT_EQ(Convert(v, -32768.6f), -32768);
    EXPECT_EQ(Convert(v, 1e30f), 32767);
  }
}

TEST(KernelVariants, The3DNowConversionFloorsAndLowersIntegersAtOrBelowZero) {
  for (V v : {V::k3DNow, V::kEnhanced3DNow}) {
    SCOPED_TRACE(KernelVariantName(v));
    EXPECT_EQ(Convert(v, 40000.3f), 32767);
    EXPECT_EQ(Convert(v, -40000.0f), -32768);
    EXPECT_EQ(Convert(v, 0.5f), 0);
    EXPECT_EQ(Convert(v, 1.5f), 1);
    EXPECT_EQ(Convert(v, 2.0f), 2);
    EXPECT_EQ(Convert(v, -0.3f), -1);
    EXPECT_EQ(Convert(v, 0.0f), -1);
    EXPECT_EQ(Convert(v, -2.0f), -3);
    EXPECT_EQ(Convert(v, -2.5f), -3);
    EXPECT_EQ(Convert(v, -32767.5f), -32768);
    EXPECT_EQ(Convert(v, -32768.0f), -32768);
    EXPECT_EQ(Convert(v, 32767.9f), 32767);
  }
}

TEST(KernelVariants, EveryConversionTurnsNanIntoZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Decoder d;
  AlignedRing ring;
  std::fill(std::begin(ring.v), std::end(ring.v), nan);
  auto expect_silence = [&](WindowKernelFn mono, WindowKernelFn stereo, const char* name) {
    EXPECT_EQ(Convert(mono, nan), 0) << name;
    int16_t out[64];
    std::fill(std::begin(out), std::end(out), int16_t{-7});
    mono(d.Context().window, ring.v, 32, out);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(out[j], 0) << name << " mono " << j;
    std::fill(std::begin(out), std::end(out), int16_t{-7});
    stereo(d.Context().window, ring.v, 32, out);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(out[2 * j], 0) << name << " stereo " << j;
  };
  for (V v : {V::kX87, V::kPentium, V::kCmov, V::k3DNow, V::kEnhanced3DNow})
    expect_silence(All(v).window_kernel_mono, All(v).window_kernel_stereo, KernelVariantName(v));
  expect_silence(WindowMonoPentium, WindowStereoPentium, "scalar Pentium");
  expect_silence(WindowMonoCmov, WindowStereoCmov, "scalar conditional-move");
}

TEST(KernelVariants, PolarityNegatesEveryVariantsSums) {
  Decoder d;
  AlignedRing ring;
  ring.Fill(RandomLines(6, kRingSize, 1000.0f));
  int16_t normal[32], inverted[32];
  All(V::kX87).window_kernel_mono(d.Context().window, ring.v, 96, normal);
  d.SetPolarity(true);
  All(V::kX87).window_kernel_mono(d.Context().window, ring.v, 96, inverted);
  for (int j = 0; j < 32; ++j) EXPECT_NEAR(inverted[j], -normal[j], 1) << j;
  d.SetPolarity(false);
  All(V::kX87).window_kernel_mono(d.Context().window, ring.v, 96, inverted);
  EXPECT_EQ(std::memcmp(normal, inverted, sizeof normal), 0);
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// The scalar and AVX2 forms of every x87-family kernel give the same bits: both round each
// product and each sum on their own, in the same order. Inputs are random at full scale, so a
// fused multiply-add or a reordered sum anywhere would show.
class ScalarAndVectorForms : public testing::Test {
 protected:
  void SetUp() override {
    if (!HasAvx2()) GTEST_SKIP() << "no AVX2 on this processor";
  }
  // The AVX2 form, and the AVX-512 form where the processor has it.
  template <typename Fn>
  static std::vector<Fn> VectorForms(Fn avx2, Fn avx512) {
    std::vector<Fn> forms{avx2};
    if (HasAvx512()) forms.push_back(avx512);
    return forms;
  }
};

TEST_F(ScalarAndVectorForms, WindowKernelsAgreeBitForBit) {
  Decoder d;
  for (bool inverted : {false, true}) {
    d.SetPolarity(inverted);
    const SynthesisWindow& w = d.Context().window;
    for (uint32_t seed = 10; seed < 14; ++seed) {
      AlignedRing ring;
      ring.Fill(RandomLines(seed, kRingSize, seed == 13 ? 90000.0f : 9000.0f));
      for (int position = 0; position < kRingSize; position += 32) {
        int16_t scalar[64];
        WindowMonoPentium(w, ring.v, position, scalar);
        for (WindowKernelFn fn : VectorForms(WindowMonoAvx2, WindowMonoAvx512)) {
          int16_t vector[64];
          fn(w, ring.v, position, vector);
          EXPECT_EQ(std::memcmp(scalar, vector, 64), 0) << seed << " " << position;
        }
        // The stereo kernels write the even samples only: the odd ones keep their marks.
        int16_t stereo[64];
        std::fill(std::begin(stereo), std::end(stereo), int16_t{5});
        WindowStereoPentium(w, ring.v, position, stereo);
        for (int j = 1; j < 64; j += 2) ASSERT_EQ(stereo[j], 5);
        for (WindowKernelFn fn : VectorForms(WindowStereoAvx2, WindowStereoAvx512)) {
          int16_t vector[64];
          std::fill(std::begin(vector), std::end(vector), int16_t{5});
          fn(w, ring.v, position, vector);
          EXPECT_EQ(std::memcmp(stereo, vector, 64 * 2), 0) << seed << " " << position;
        }
        // The pair kernels window two channels at once: the same samples as the stereo kernel
        // run on each channel's ring.
        AlignedRing second;
        second.Fill(RandomLines(seed + 100, kRingSize, 9000.0f));
        int16_t both[64];
        WindowStereoPentium(w, ring.v, position, both);
        WindowStereoPentium(w, second.v, position, both + 1);
        for (WindowPairFn fn : VectorForms(WindowPairAvx2, WindowPairAvx512)) {
          int16_t vector[64];
          fn(w, ring.v, second.v, position, vector);
          EXPECT_EQ(std::memcmp(both, vector, 64 * 2), 0) << seed << " " << position;
        }
      }
    }
  }
}

TEST_F(ScalarAndVectorForms, MatrixingAgreesBitForBit) {
  for (uint32_t seed = 20; seed < 30; ++seed) {
    const std::vector<float> s = RandomLines(seed, 64, 30000.0f);
    for (int stride : {1, 2}) {
      for (int offset = 0; offset < stride; ++offset) {
        AlignedRing scalar;
        Matrix32Scalar(s.data() + offset, stride, scalar.v, 224);
        for (Matrix32Fn fn : VectorForms(Matrix32Avx2, Matrix32Avx512)) {
          AlignedRing vector;
          fn(s.data() + offset, stride, vector.v, 224);
          EXPECT_EQ(std::memcmp(scalar.v, vector.v, sizeof scalar.v), 0) << seed << " " << stride << " " << offset;
          EXPECT_EQ(vector.v[224 + 5], vector.v[kRingSize + 224 + 5]);
        }
      }
    }
  }
}

TEST_F(ScalarAndVectorForms, HybridFilterbankAgreesBitForBit) {
  // Every block type, mixed blocks, and line counts that leave one to seven sub-bands over a
  // group of four or eight.
  const HybridCase cases[] = {{0, false, 576, 576, 576}, {0, false, 558, 558, 558}, {2, false, 0, 576, 558},
                              {0, false, 400, 400, 558}, {0, false, 37, 37, 0},
                              {0, false, 90, 90, 300},   {1, false, 300, 300, 100}, {3, false, 540, 540, 18},
                              {2, false, 0, 558, 540},   {2, true, 36, 300, 300},   {2, true, 36, 36, 558},
                              {1, true, 200, 200, 200},  {3, true, 559, 559, 559},
                              {0, false, 270, 270, 0},   {0, false, 110, 110, 110}, {2, true, 144, 200, 0}};
  for (const HybridCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "block type " << c.block_type << " mixed " << c.mixed << " lines "
                                    << c.nonzero << " previous " << c.previous_extent);
    const int nonzero = std::min(c.nonzero, 576), long_lines = std::min(c.long_lines, 576);
    const HybridRun scalar = RunHybrid(HybridPentium, c.block_type, c.mixed, long_lines, nonzero, c.previous_extent);
    for (HybridKernelFn fn : VectorForms<HybridKernelFn>(HybridAvx2, HybridAvx512)) {
      const HybridRun vector = RunHybrid(fn, c.block_type, c.mixed, long_lines, nonzero, c.previous_extent);
      EXPECT_EQ(scalar.extent, vector.extent);
      EXPECT_EQ(std::memcmp(scalar.out.data(), vector.out.data(), 576 * sizeof(float)), 0);
      EXPECT_EQ(std::memcmp(scalar.overlap.data(), vector.overlap.data(), 576 * sizeof(float)), 0);
    }
  }
}

TEST_F(ScalarAndVectorForms, TransformsAndAliasReductionAgreeBitForBit) {
  for (uint32_t seed = 30; seed < 40; ++seed) {
    const std::vector<float> in = RandomLines(seed, 576, 32000.0f);
    std::vector<float> scalar = in, vector = in;
    LongTransformPentium(scalar.data());
    LongTransformAvx2(vector.data());
    EXPECT_EQ(std::memcmp(scalar.data(), vector.data(), 18 * sizeof(float)), 0) << seed;
    scalar = in;
    AliasReductionX87(scalar.data(), 31);
    for (AliasReductionFn form : VectorForms<AliasReductionFn>(AliasReductionAvx2, AliasReductionAvx512)) {
      vector = in;
      form(vector.data(), 31);
      EXPECT_EQ(scalar, vector) << seed;
    }
  }
}

TEST_F(ScalarAndVectorForms, RequantizationAgreesBitForBit) {
  std::vector<float> pow43(8207);
  for (size_t i = 0; i < pow43.size(); ++i) pow43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
  std::mt19937 rng(41);
  for (int n = 0; n <= 40; ++n) {
    std::vector<int32_t> in(static_cast<size_t>(n) + 8);
    for (int32_t& v : in) {
      const int kind = static_cast<int>(rng() % 4);
      v = kind == 0 ? 0 : kind == 1 ? static_cast<int32_t>(rng() % 31) - 15 : static_cast<int32_t>(rng() % 20000) - 10000;
    }
    const float factor = std::ldexp(1.0f + static_cast<float>(rng() % 1000) / 1000.0f, static_cast<int>(rng() % 40) - 20);
    for (RequantizeFn form : VectorForms<RequantizeFn>(RequantizeRunAvx2, RequantizeRunAvx512)) {
      std::vector<float> out(in.size(), 7.0f);
      const int32_t any = form(in.data(), out.data(), n, factor, pow43.data());
      int32_t want_any = 0;
      for (int i = 0; i < n; ++i) {
        const int32_t v = in[static_cast<size_t>(i)];
        const float m = pow43[static_cast<size_t>(std::min<int64_t>(std::abs(static_cast<int64_t>(v)), 8206))];
        const float want = factor * (v < 0 ? -m : m);
        EXPECT_EQ(std::memcmp(&out[static_cast<size_t>(i)], &want, sizeof want), 0) << n << " " << i;
        want_any |= v;
      }
      EXPECT_EQ(any, want_any) << n;
      // Nothing past the run is written.
      for (size_t i = static_cast<size_t>(n); i < out.size(); ++i) EXPECT_EQ(out[i], 7.0f) << n << " " << i;
    }
  }
}

TEST_F(ScalarAndVectorForms, Layer2ScalingAgreesBitForBit) {
  std::mt19937 rng(42);
  std::vector<int32_t> values(36 * 64);
  for (int32_t& v : values) v = static_cast<int32_t>(rng() % 131071) - 65535;
  std::vector<float> factors(3 * 64);
  for (float& f : factors) f = std::ldexp(1.0f + static_cast<float>(rng() % 1000) / 1000.0f, static_cast<int>(rng() % 30) - 20);
  std::vector<uint32_t> keep(64);
  for (uint32_t& k : keep) k = rng() % 3 ? ~0u : 0u;
  // Places of two channels side by side, of one, and of a second channel above the first.
  for (const auto& [from, to] : {std::pair{0, 64}, {0, 54}, {0, 27}, {32, 59}, {32, 64}, {0, 1}}) {
    std::vector<float> want(36 * 64, 7.0f);
    Layer2ScaleScalar(values.data(), factors.data(), keep.data(), want.data(), from, to);
    for (Layer2ScaleFn form : VectorForms<Layer2ScaleFn>(Layer2ScaleAvx2, Layer2ScaleAvx512)) {
      std::vector<float> got(36 * 64, 7.0f);
      form(values.data(), factors.data(), keep.data(), got.data(), from, to);
      // Bit for bit, the places outside from .. to - 1 untouched.
      EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(float)), 0) << from << " " << to;
    }
  }
}

}  // namespace
}  // namespace plumo
