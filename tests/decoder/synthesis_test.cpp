#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "decoder.h"
#include "decoder_context.h"
#include "synthesis_window_table.h"

namespace plumo {
namespace {

// Runs the window kernels on a ring holding a single value against a window with a single unit
// coefficient, so the window sum for output 0 is exactly `value`.
int16_t ConvertThroughKernel(float value, bool stereo) {
  SynthesisWindow w{};
  w.lo[0][0] = 1.0f;
  WidenSynthesisWindow(w);
  alignas(64) RingValue ring[kRingStorage] = {};
  ring[64 + 16] = ring[kRingSize + 64 + 16] = value;
  int16_t out[64] = {};
  const KernelSet k = PlainKernels();
  (stereo ? k.window_kernel_stereo : k.window_kernel_mono)(w, ring, 64, out);
  return out[0];
}

TEST(Synthesis, PcmConversionRoundsToNearestEvenAndClips) {
  for (bool stereo : {false, true}) {
    EXPECT_EQ(ConvertThroughKernel(40000.3f, stereo), 32767);
    EXPECT_EQ(ConvertThroughKernel(-40000.0f, stereo), -32768);
    EXPECT_EQ(ConvertThroughKernel(0.5f, stereo), 0);
    EXPECT_EQ(ConvertThroughKernel(1.5f, stereo), 2);
    EXPECT_EQ(ConvertThroughKernel(-0.3f, stereo), 0);
    EXPECT_EQ(ConvertThroughKernel(-2.5f, stereo), -2);
    EXPECT_EQ(ConvertThroughKernel(32767.4f, stereo), 32767);
  }
}

TEST(Synthesis, WindowTableHasTheStandardsShape) {
  EXPECT_EQ(SynthesisWindowCoefficient(0), 0.0);
  EXPECT_NEAR(SynthesisWindowCoefficient(32), -0.000442505, 1e-9);
  EXPECT_NEAR(SynthesisWindowCoefficient(64), 0.003250122, 1e-9);
  EXPECT_NEAR(SynthesisWindowCoefficient(256), 1.144989014, 1e-9);
  // Mirror symmetry of the prototype filter.
  EXPECT_EQ(SynthesisWindowCoefficient(511), -SynthesisWindowCoefficient(1));
  EXPECT_EQ(SynthesisWindowCoefficient(448), SynthesisWindowCoefficient(64));
  EXPECT_EQ(SynthesisWindowCoefficient(257), -SynthesisWindowCoefficient(255));
}

TEST(Synthesis, MatrixingIsTheStandardsCosineTransform) {
  float s[32];
  for (int k = 0; k < 32; ++k) s[k] = static_cast<float>((k * 7919) % 201 - 100);
  alignas(64) RingValue ring[kRingStorage] = {};
  // The form a decoder on this processor runs.
  KernelsFor(KernelChoice{}).matrix_kernel(s, 1, ring, 96);
  for (int m = 0; m < 32; ++m) {
    double want = 0.0;
    for (int k = 0; k < 32; ++k) want += s[k] * std::cos((2 * k + 1) * m * 3.14159265358979323846 / 64.0);
    EXPECT_NEAR(ring[96 + m], want, 1e-3) << m;
    EXPECT_EQ(ring[kRingSize + 96 + m], ring[96 + m]) << m;
  }
}

TEST(Synthesis, PolarityNegatesTheWindowOnce) {
  Decoder d;
  const SynthesisWindow before = d.Context().window;
  d.SetPolarity(true);
  d.SetPolarity(true);
  EXPECT_EQ(d.GetPolarity(), 1);
  EXPECT_EQ(d.Context().window.lo[0][8], -before.lo[0][8]);
  EXPECT_EQ(d.Context().window.hi[3][5], -before.hi[3][5]);
  d.SetPolarity(false);
  EXPECT_EQ(d.GetPolarity(), 0);
  EXPECT_EQ(std::memcmp(&d.Context().window, &before, sizeof before), 0);
}

TEST(Synthesis, InvertedPolarityClipsLoudSlotsToTheNegativeLimit) {
  SynthesisWindow w{};
  w.lo[0][0] = -1.0f;  // a negated unit coefficient
  WidenSynthesisWindow(w);
  alignas(64) RingValue ring[kRingStorage] = {};
  ring[16] = ring[kRingSize + 16] = 40000.0f;
  int16_t out[32] = {};
  PlainKernels().window_kernel_mono(w, ring, 0, out);
  EXPECT_EQ(out[0], -32768);
}

// One Layer II frame (48 kHz, 384 kbit/s, stereo) with every allocation zero.
std::vector<uint8_t> SilentLayer2Frame() {
  std::vector<uint8_t> f(1152, 0);
  f[0] = 0xFF;
  f[1] = 0xFD;
  f[2] = 0xE4;
  f[3] = 0x00;
  return f;
}

TEST(Synthesis, Layer2FrameMovesTheRingBack128Values) {
  Decoder d;
  std::vector<uint8_t> f = SilentLayer2Frame();
  FrameHeader h;
  const int length = ParseFrameHeader(f.data(), 0, h);
  ASSERT_EQ(d.Setup(h, length, 0, 0, 0, 24000), 1);
  std::vector<uint8_t> pcm(static_cast<size_t>(d.PcmBytesPerFrame()), 0xAA);
  const DecodeResult r = d.DecodeFrame(f.data(), f.size(), pcm.data());
  EXPECT_EQ(r.consumed, 1152);
  EXPECT_EQ(r.produced, 4608);
  EXPECT_EQ(d.Context().ring_pos[0], (0 - 36 * 32) & 511);
  EXPECT_EQ(d.Context().ring_pos[1], 384);
  for (uint8_t b : pcm) ASSERT_EQ(b, 0);
}

}  // namespace
}  // namespace plumo
