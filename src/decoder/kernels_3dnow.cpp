// The 3DNow!-named kernels: single-precision arithmetic and the 3DNow! PCM conversion rule (sums
// <= 0 lowered by 1, truncated toward zero, saturated). The enhanced variants compute the same
// values in the same order with four-wide vector arithmetic.
#include <cstring>

#include "kernels.h"

namespace plumo {
namespace {

using v4f = float __attribute__((vector_size(16)));

// The butterflies of one boundary in single precision; the enhanced variant reverses the lower
// half once (the swap of the 3DNow! extensions) instead of indexing it backwards.
inline void Butterflies(const HybridTables& t, float* lo_end, float* hi) {
  for (int i = 0; i < 8; ++i) {
    const float l = lo_end[-i], h = hi[i];
    lo_end[-i] = l * t.alias_cs[i] - h * t.alias_ca[i];
    hi[i] = h * t.alias_cs[i] + l * t.alias_ca[i];
  }
}

}  // namespace

void AliasReduction3DNow(float* x, int boundaries) {
  const HybridTables& t = GetHybridTables();
  for (int b = 1; b <= boundaries; ++b) Butterflies(t, x + 18 * b - 1, x + 18 * b);
}

void AliasReductionE3DNow(float* x, int boundaries) {
  const HybridTables& t = GetHybridTables();
  for (int b = 1; b <= boundaries; ++b) {
    float lo[8];
    for (int i = 0; i < 8; ++i) lo[i] = x[18 * b - 1 - i];
    float* hi = x + 18 * b;
    for (int q = 0; q < 8; q += 4) {
      v4f l, h, cs, ca;
      std::memcpy(&l, lo + q, sizeof l);
      std::memcpy(&h, hi + q, sizeof h);
      std::memcpy(&cs, t.alias_cs + q, sizeof cs);
      std::memcpy(&ca, t.alias_ca + q, sizeof ca);
      const v4f nl = l * cs - h * ca, nh = h * cs + l * ca;
      std::memcpy(lo + q, &nl, sizeof nl);
      std::memcpy(hi + q, &nh, sizeof nh);
    }
    for (int i = 0; i < 8; ++i) x[18 * b - 1 - i] = lo[i];
  }
}

int HybridE3DNow(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                 int nonzero_lines, int previous_extent, int synth_subbands) {
  return HybridGeneric<float>(lines, previous, out, block_type, mixed, long_lines, nonzero_lines, previous_extent,
                              synth_subbands);
}

void LongTransformE3DNow(float* x) {
  float y[18];
  LongDct<float>(GetHybridTables(), x, y);
  std::memcpy(x, y, sizeof y);
}

void ShortTransformE3DNow(float* x) {
  const HybridTables& t = GetHybridTables();
  float z[3][6];
  for (int w = 0; w < 3; ++w) ShortDct<float>(t, x, w, z[w]);
  std::memcpy(x, z, sizeof z);
}

void WindowMono3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  float sums[32];
  WindowSums<float>(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[j] = Pcm3DNow(sums[j]);
}

void WindowStereo3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  float sums[32];
  WindowSums<float>(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[2 * j] = Pcm3DNow(sums[j]);
}

namespace {

// WindowSums<float> with four outputs per operation.
void WindowSumsE3DNow(const SynthesisWindow& w, const RingValue* ring, int position, float out[32]) {
  v4f elo[4], ehi[4], olo[4], ohi[4];
  float f = 0.0f;
  for (int a = 0; a < 16; a += 2) {
    const RingValue* xe = ring + ((position + 32 * a) & (kRingSize - 1)) + 16;
    const RingValue* xo = ring + ((position + 32 * (a + 1)) & (kRingSize - 1));
#pragma GCC unroll 4
    for (int q = 0; q < 4; ++q) {
      const RingValue* pe = xe + 4 * q;
      const RingValue* po = xo + 4 * q;
      // The ring holds single-precision values: narrowing them is exact.
      const v4f e = {static_cast<float>(pe[0]), static_cast<float>(pe[1]), static_cast<float>(pe[2]),
                     static_cast<float>(pe[3])};
      const v4f o = {static_cast<float>(po[0]), static_cast<float>(po[1]), static_cast<float>(po[2]),
                     static_cast<float>(po[3])};
      v4f c;
      std::memcpy(&c, &w.lo[a][4 * q], sizeof c);
      elo[q] = a == 0 ? e * c : elo[q] + e * c;
      std::memcpy(&c, &w.hi[a][4 * q], sizeof c);
      ehi[q] = a == 0 ? e * c : ehi[q] + e * c;
      std::memcpy(&c, &w.lo[a + 1][4 * q], sizeof c);
      olo[q] = a == 0 ? o * c : olo[q] + o * c;
      std::memcpy(&c, &w.hi[a + 1][4 * q], sizeof c);
      ohi[q] = a == 0 ? o * c : ohi[q] + o * c;
    }
    const float pf = static_cast<float>(xo[16]) * w.first[a + 1];
    f = a == 0 ? pf : f + pf;
  }
  float el[16], eh[16], ol[16], oh[16];
  std::memcpy(el, elo, sizeof el);
  std::memcpy(eh, ehi, sizeof eh);
  std::memcpy(ol, olo, sizeof ol);
  std::memcpy(oh, ohi, sizeof oh);
  out[0] = el[0] + f;
  for (int j = 1; j < 16; ++j) out[j] = el[j] + ol[16 - j];
  out[16] = ol[0];
  for (int i = 1; i < 16; ++i) out[16 + i] = oh[i] + eh[16 - i];
}

}  // namespace

void WindowMonoE3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  float sums[32];
  WindowSumsE3DNow(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[j] = Pcm3DNow(sums[j]);
}

void WindowStereoE3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  float sums[32];
  WindowSumsE3DNow(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[2 * j] = Pcm3DNow(sums[j]);
}

}  // namespace plumo
