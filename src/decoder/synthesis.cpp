// Polyphase synthesis (ISO/IEC 11172-3 synthesis sub-band filter) and 16-bit PCM output.
//
// Matrixing yields the standard's 64-value vector V; by its symmetries 32 values X[0..31]
// determine it (V[i] = X[16 + i] for i < 16, 0 at 16, -X[48 - i] up to 47, -X[i - 48] beyond), so
// each ring slot keeps those 32 values. The window kernels read the 16 most recent slots and fold
// the symmetry into a per-age window layout.
#include <algorithm>
#include <cstring>

#include "decoder_context.h"
#include "synthesis_window_table.h"

namespace plumo {
namespace {

// Matrixes one slot of one channel into its ring, windows it into PCM and steps the ring back.
inline void SynthesiseSlot(DecoderContext& ctx, const float* samples, int stride, int ring_index, int16_t* dest,
                           bool stereo_dest) {
  RingValue* ring = ctx.ring[ring_index];
  int& pos = ctx.ring_pos[ring_index];
  ctx.kernels.matrix_kernel(samples, stride, ring, pos);
  if (stereo_dest)
    ctx.kernels.window_kernel_stereo(ctx.window, ring, pos, dest);
  else
    ctx.kernels.window_kernel_mono(ctx.window, ring, pos, dest);
  pos = (pos - 32) & (kRingSize - 1);
}

// Matrixes one slot of each channel into its ring and windows both at once into interleaved PCM
// (the rings stand at the same position).
inline void SynthesisePairSlot(DecoderContext& ctx, const float* first, int first_stride, const float* second,
                               int second_stride, int16_t* dest) {
  const int pos = ctx.ring_pos[0];
  ctx.kernels.matrix_kernel(first, first_stride, ctx.ring[0], pos);
  ctx.kernels.matrix_kernel(second, second_stride, ctx.ring[1], pos);
  ctx.kernels.window_kernel_pair(ctx.window, ctx.ring[0], ctx.ring[1], pos, dest);
  ctx.ring_pos[0] = ctx.ring_pos[1] = (pos - 32) & (kRingSize - 1);
}

bool CanPair(const DecoderContext& ctx) {
  return ctx.kernels.window_kernel_pair != nullptr && ctx.ring_pos[0] == ctx.ring_pos[1];
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

// Both channels slot by slot through the pair kernels where there are any; else one channel at a
// time, as for Layer III: the second channel's partial loads of the PCM blocks then come long after
// the first channel's stores, not right behind them.
void Layer12Both(DecoderContext& ctx, const float* samples, int16_t* pcm, int slots) {
  float scratch[32];
  if (CanPair(ctx)) {
    // Both channels together: the pair kernel writes whole PCM blocks.
    float scratch_second[32];
    for (int t = 0; t < slots; ++t) {
      int stride0 = 2, stride1 = 2;
      const float* in0 = WithGains(ctx, samples + 64 * t, stride0, scratch);
      const float* in1 = WithGains(ctx, samples + 64 * t + 1, stride1, scratch_second);
      SynthesisePairSlot(ctx, in0, stride0, in1, stride1, pcm + 64 * t);
    }
    return;
  }
  for (int c = 0; c < 2; ++c) {
    for (int t = 0; t < slots; ++t) {
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

void BuildSynthesisWindow(SynthesisWindow& w) {
  auto d = [](int i) { return static_cast<float>(SynthesisWindowCoefficient(i)); };
  for (int a = 0; a < 16; ++a) {
    // Coefficient of output j (0 .. 16) and of output 32 - j (1 .. 15) at this age; odd ages
    // read the ring block backwards and carry the sign of the matrixing's symmetry.
    float lo[17], hi[16];
    const float sign = (a & 1) ? -1.0f : 1.0f;
    for (int j = 0; j < 16; ++j) lo[j] = sign * d(j + 32 * a);
    lo[16] = (a & 1) ? -d(16 + 32 * a) : 0.0f;
    hi[0] = 0.0f;
    for (int j = 1; j < 16; ++j) hi[j] = -d(32 - j + 32 * a);
    if ((a & 1) == 0) {
      for (int i = 0; i < 16; ++i) w.lo[a][i] = lo[i], w.hi[a][i] = hi[i];
      w.first[a] = 0.0f;
    } else {
      for (int i = 0; i < 16; ++i) w.lo[a][i] = lo[16 - i];
      w.hi[a][0] = 0.0f;
      for (int i = 1; i < 16; ++i) w.hi[a][i] = hi[16 - i];
      w.first[a] = lo[0];
    }
  }
  WidenSynthesisWindow(w);
}

void WidenSynthesisWindow(SynthesisWindow& w) {
  for (int a = 0; a < 16; ++a)
    for (int i = 0; i < 16; ++i) w.lo_wide[a][i] = w.lo[a][i], w.hi_wide[a][i] = w.hi[a][i];
  for (int a = 0; a < 16; ++a) w.first_wide[a] = w.first[a];
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

bool Layer3BothChannels(DecoderContext& ctx, const float* first, const float* second, int16_t* pcm) {
  if (!CanPair(ctx)) return false;
  float scratch0[32], scratch1[32];
  for (int t = 0; t < 18; ++t) {
    int stride0 = 1, stride1 = 1;
    const float* in0 = WithGains(ctx, first + 32 * t, stride0, scratch0);
    const float* in1 = WithGains(ctx, second + 32 * t, stride1, scratch1);
    SynthesisePairSlot(ctx, in0, stride0, in1, stride1, pcm + 64 * t);
  }
  return true;
}

Layer3OutputFn SelectLayer3OutputStage(int output_channels) {
  return output_channels == 2 ? Layer3TwoChannels : Layer3OneChannel;
}

}  // namespace plumo
