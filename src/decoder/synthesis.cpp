// Polyphase synthesis (ISO/IEC 11172-3 synthesis sub-band filter) and 16-bit PCM output.
//
// Matrixing yields the standard's 64-value vector V; by its symmetries 32 values X[0..31]
// determine it (V[i] = X[16 + i] for i < 16, 0 at 16, -X[48 - i] up to 47, -X[i - 48] beyond), so
// each ring slot keeps those 32 values. The window kernels read the 16 most recent slots and fold
// the symmetry into a per-age window layout.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "decoder_context.h"
#include "synthesis_window_table.h"

namespace plumo {
namespace {

struct MatrixTable {
  alignas(64) float c[32][32];  // c[m][k] = cos((2k + 1) m pi / 64)
  MatrixTable() {
    for (int m = 0; m < 32; ++m)
      for (int k = 0; k < 32; ++k) c[m][k] = static_cast<float>(std::cos((2 * k + 1) * m * std::numbers::pi / 64.0));
  }
};

const MatrixTable& GetMatrixTable() {
  static const MatrixTable table;
  return table;
}

inline int16_t ToPcm(float v) {
  v = std::clamp(v, -32768.0f, 32767.0f);
  return static_cast<int16_t>(std::lrintf(v));
}

// Sums of the 16 ring slots for outputs 0..16 (lo) and 32 - j (hi[j], j = 1..15).
inline void WindowSums(const float* window_lo, const float* window_hi, const float* ring, int position, float lo[17],
                       float hi[16]) {
  for (int j = 0; j < 17; ++j) lo[j] = 0.0f;
  for (int j = 0; j < 16; ++j) hi[j] = 0.0f;
  for (int a = 0; a < 16; a += 2) {
    const float* x = ring + ((position + 32 * a) & (kRingSize - 1));
    const float* wl = window_lo + 17 * a;
    const float* wh = window_hi + 16 * a;
    for (int j = 0; j < 16; ++j) {
      lo[j] += x[16 + j] * wl[j];
      hi[j] += x[16 + j] * wh[j];
    }
  }
  for (int a = 1; a < 16; a += 2) {
    const float* x = ring + ((position + 32 * a) & (kRingSize - 1));
    const float* wl = window_lo + 17 * a;
    const float* wh = window_hi + 16 * a;
    for (int j = 0; j < 16; ++j) {
      lo[j] += x[16 - j] * wl[j];
      hi[j] += x[16 - j] * wh[j];
    }
    lo[16] += x[0] * wl[16];
  }
}

void WindowMono(const float* window, const float* ring, int position, int16_t* dest) {
  const SynthesisWindow& w = *reinterpret_cast<const SynthesisWindow*>(window);
  float lo[17], hi[16];
  WindowSums(&w.lo[0][0], &w.hi[0][0], ring, position, lo, hi);
  for (int j = 0; j <= 16; ++j) dest[j] = ToPcm(lo[j]);
  for (int j = 1; j < 16; ++j) dest[32 - j] = ToPcm(hi[j]);
}

void WindowStereo(const float* window, const float* ring, int position, int16_t* dest) {
  const SynthesisWindow& w = *reinterpret_cast<const SynthesisWindow*>(window);
  float lo[17], hi[16];
  WindowSums(&w.lo[0][0], &w.hi[0][0], ring, position, lo, hi);
  for (int j = 0; j <= 16; ++j) dest[2 * j] = ToPcm(lo[j]);
  for (int j = 1; j < 16; ++j) dest[2 * (32 - j)] = ToPcm(hi[j]);
}

// Matrixes one slot of one channel into its ring, windows it into PCM and steps the ring back.
inline void SynthesiseSlot(DecoderContext& ctx, const float* samples, int stride, int ring_index, int16_t* dest,
                           bool stereo_dest) {
  float* ring = ctx.ring[ring_index];
  int& pos = ctx.ring_pos[ring_index];
  Matrix32(samples, stride, ring, pos);
  const float* window = reinterpret_cast<const float*>(&ctx.window);
  if (stereo_dest)
    ctx.kernels.window_kernel_stereo(window, ring, pos, dest);
  else
    ctx.kernels.window_kernel_mono(window, ring, pos, dest);
  pos = (pos - 32) & (kRingSize - 1);
}

// Applies the sub-band equalizer, when on, to 32 samples taken with a stride; returns the samples
// to matrix and their stride.
inline const float* WithGains(const DecoderContext& ctx, const float* in, int& stride, float* scratch) {
  if (!ctx.subband_eq_on) return in;
  for (int sb = 0; sb < 32; ++sb) scratch[sb] = in[sb * stride] * ctx.subband_gains[sb];
  stride = 1;
  return scratch;
}

void Layer12Single(DecoderContext& ctx, const float* samples, int16_t* pcm, int slots) {
  float scratch[32];
  for (int t = 0; t < slots; ++t) {
    int stride = 1;
    const float* in = WithGains(ctx, samples + 64 * t, stride, scratch);
    SynthesiseSlot(ctx, in, stride, 0, pcm + 32 * t, false);
  }
}

void Layer12Both(DecoderContext& ctx, const float* samples, int16_t* pcm, int slots) {
  float scratch[32];
  for (int t = 0; t < slots; ++t) {
    for (int c = 0; c < 2; ++c) {
      int stride = 2;
      const float* in = WithGains(ctx, samples + 64 * t + c, stride, scratch);
      SynthesiseSlot(ctx, in, stride, c, pcm + 64 * t + c, true);
    }
  }
}

void Layer12Mixed(DecoderContext& ctx, const float* samples, int16_t* pcm, int slots) {
  float mixed[32];
  for (int t = 0; t < slots; ++t) {
    const float* s = samples + 64 * t;
    for (int sb = 0; sb < 32; ++sb) mixed[sb] = (s[2 * sb] + s[2 * sb + 1]) * 0.5f;
    SynthesiseSlot(ctx, mixed, 1, 0, pcm + 32 * t, false);
  }
}

template <int kChannel>
void Layer12OneOfTwo(DecoderContext& ctx, const float* samples, int16_t* pcm, int slots) {
  float scratch[32];
  for (int t = 0; t < slots; ++t) {
    int stride = 2;
    const float* in = WithGains(ctx, samples + 64 * t + kChannel, stride, scratch);
    SynthesiseSlot(ctx, in, stride, 0, pcm + 32 * t, false);
  }
}

void Layer3OneChannel(DecoderContext& ctx, const float* timeslots, int16_t* pcm, int /*channel*/) {
  float scratch[32];
  for (int t = 0; t < 18; ++t) {
    int stride = 1;
    const float* in = WithGains(ctx, timeslots + 32 * t, stride, scratch);
    SynthesiseSlot(ctx, in, stride, 0, pcm + 32 * t, false);
  }
}

void Layer3TwoChannels(DecoderContext& ctx, const float* timeslots, int16_t* pcm, int channel) {
  float scratch[32];
  for (int t = 0; t < 18; ++t) {
    int stride = 1;
    const float* in = WithGains(ctx, timeslots + 32 * t, stride, scratch);
    SynthesiseSlot(ctx, in, stride, channel, pcm + 64 * t + channel, true);
  }
}

}  // namespace

void Matrix32(const float* samples, int stride, float* ring, int position) {
  const MatrixTable& t = GetMatrixTable();
  float s[32];
  for (int k = 0; k < 32; ++k) s[k] = samples[k * stride];
  float* out = ring + position;
  for (int m = 0; m < 32; ++m) {
    float acc = 0.0f;
    for (int k = 0; k < 32; ++k) acc += t.c[m][k] * s[k];
    out[m] = acc;
  }
}

void BuildSynthesisWindow(SynthesisWindow& w) {
  auto d = [](int i) { return static_cast<float>(SynthesisWindowCoefficient(i)); };
  for (int a = 0; a < 16; ++a) {
    const float sign = (a & 1) ? -1.0f : 1.0f;
    for (int j = 0; j < 16; ++j) w.lo[a][j] = sign * d(j + 32 * a);
    w.lo[a][16] = (a & 1) ? -d(16 + 32 * a) : 0.0f;
    w.hi[a][0] = 0.0f;
    for (int j = 1; j < 16; ++j) w.hi[a][j] = -d(32 - j + 32 * a);
  }
}

void ResetSynthesis(DecoderContext& ctx) {
  std::memset(ctx.ring, 0, sizeof(ctx.ring));
  ctx.ring_pos[0] = ctx.ring_pos[1] = 0;
}

Layer12OutputFn SelectLayer12OutputStage(int v) {
  switch (v) {
    case 0: return Layer12Single;
    case 1: return Layer12Both;
    case 2: return Layer12Mixed;
    case 3: return Layer12OneOfTwo<0>;
    default: return Layer12OneOfTwo<1>;
  }
}

Layer3OutputFn SelectLayer3OutputStage(int output_channels) {
  return output_channels == 2 ? Layer3TwoChannels : Layer3OneChannel;
}

KernelSet PlainKernels() { return {WindowMono, WindowStereo}; }

}  // namespace plumo
