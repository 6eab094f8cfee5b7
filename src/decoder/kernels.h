// The kernel variants behind the decoder's kernel slots, and the tables they share. Internal to
// the decoder.
//
// The x87-named variants compute in double precision and convert sums to PCM with round to
// nearest even and clipping; every form of them, scalar or vector, gives exactly the same values:
// the same operations in the same order, each rounded on its own (the decoder is built without
// multiply-add fusing; the vector windows fuse only products of two floats, which are exact in
// double precision, so the fused sum is the same). The 3DNow!-named variants compute in single
// precision and convert by the 3DNow! rule (sums <= 0 lowered by 1, truncated toward zero,
// saturated).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "decoder_context.h"

namespace plumo {

// Constant tables of the hybrid filterbank, built once.
struct HybridTables {
  float alias_cs[8], alias_ca[8];
  double alias_cs_d[8], alias_ca_d[8];
  float win[4][36];              // IMDCT windows by block type (row 2: the short window)
  double dct18[18][18];          // cos(pi (2n + 1)(2k + 1) / 72), [n][k]
  float dct18_f[18][18];
  alignas(32) double dct18_cols[18][20];  // [k][n], n padded to 20 with zeros
  // The factored 18-point DCT-IV: with u[k] = x[k] dct18_scale[k] (1 / (2 cos((2k + 1) pi / 72))),
  // a[k] = u[k] + u[17 - k] and b[k] = u[k] - u[17 - k] (k < 9), E = dct9_even a and
  // O = dct9_odd b, y[2m] = E[m] + O[m] and y[2m + 1] = O[m] + E[m + 1] (E[9] = 0).
  double dct18_scale[18];
  double dct9_even[9][9];  // cos(m (2k + 1) pi / 18), [m][k]
  double dct9_odd[9][9];   // cos((2m + 1)(2k + 1) pi / 36), [m][k]
  double win_d[4][36];     // win in double precision
  // The constants of the long IMDCT of the x87 family, each repeated over four lanes for the
  // vector form (which then multiplies by them straight from memory).
  struct Lanes4 {
    alignas(32) double v[4];
  };
  Lanes4 dct18_scale_v[18];
  Lanes4 dct9_even_v[9][4];
  Lanes4 dct9_odd_v[9][9];
  Lanes4 win_v[4][36];
  double dct6[6][6];             // cos(pi (2n + 1)(2k + 1) / 24), [n][k]
  float dct6_f[6][6];
  HybridTables();
};
const HybridTables& GetHybridTables();

// The window row of a long sub-band.
inline const float* LongWindowRow(const HybridTables& t, int block_type, bool mixed, int sb) {
  return t.win[(block_type == 2 || (mixed && sb < 2)) ? 0 : block_type];
}

// --- PCM conversion rules ---------------------------------------------------------------------

// Every rule turns NaN (from infinite or NaN gains) into 0: converting it to an integer is undefined.
//
// Round to nearest even (the process's rounding mode), then clip.
inline int16_t PcmRoundClip(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return static_cast<int16_t>(std::nearbyint(v));
}

// The 3DNow! rule: sums <= 0 are lowered by 1, then truncated toward zero and saturated.
inline int16_t Pcm3DNow(float v) {
  if (std::isnan(v)) return 0;
  if (v <= 0.0f) v -= 1.0f;
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<int16_t>(v);
}

// --- Generic kernels in a given precision (R = double: x87 results, R = float: 3DNow! results) -

// The 18-point DCT-IV: even and odd inputs are summed separately, in increasing order, then added.
template <typename R>
inline void LongDct(const HybridTables& t, const float* in, R y[18]) {
  for (int n = 0; n < 18; ++n) {
    R even = 0, odd = 0;
    for (int k = 0; k < 18; k += 2) {
      if constexpr (sizeof(R) == sizeof(double)) {
        even += static_cast<R>(in[k]) * t.dct18_cols[k][n];
        odd += static_cast<R>(in[k + 1]) * t.dct18_cols[k + 1][n];
      } else {
        even += in[k] * t.dct18_f[n][k];
        odd += in[k + 1] * t.dct18_f[n][k + 1];
      }
    }
    y[n] = even + odd;
  }
}

// The 6-point DCT-IV of window w of a reordered short sub-band.
template <typename R>
inline void ShortDct(const HybridTables& t, const float* in, int w, R z[6]) {
  for (int n = 0; n < 6; ++n) {
    R acc = 0;
    for (int k = 0; k < 6; ++k) {
      if constexpr (sizeof(R) == sizeof(double))
        acc += static_cast<R>(in[3 * k + w]) * t.dct6[n][k];
      else
        acc += in[3 * k + w] * t.dct6_f[n][k];
    }
    z[n] = acc;
  }
}

// The 36 unfolded IMDCT outputs of a long sub-band from its DCT-IV.
template <typename R>
inline void UnfoldLong(const R y[18], R x[36]) {
  for (int j = 0; j < 9; ++j) {
    x[j] = y[9 + j];
    x[9 + j] = -y[17 - j];
    x[18 + j] = -y[8 - j];
    x[27 + j] = -y[j];
  }
}

// The windowed, overlapped 36-value block of a short sub-band (reordered input).
template <typename R>
inline void ShortBlock(const HybridTables& t, const float* in, R block[36]) {
  for (int i = 0; i < 36; ++i) block[i] = 0;
  for (int w = 0; w < 3; ++w) {
    R z[6];
    ShortDct<R>(t, in, w, z);
    R x[12];
    for (int j = 0; j < 3; ++j) {
      x[j] = z[3 + j];
      x[3 + j] = -z[5 - j];
      x[6 + j] = -z[2 - j];
      x[9 + j] = -z[j];
    }
    for (int i = 0; i < 12; ++i) block[6 + 6 * w + i] += x[i] * static_cast<R>(t.win[2][i]);
  }
}

// The window sums of one slot, all 32 outputs, in a fixed order shared by every variant of a
// precision: even and odd ages accumulate apart, in increasing age from the first product on,
// and are added at the end.
template <typename R>
inline void WindowSums(const SynthesisWindow& w, const RingValue* ring, int position, R out[32]) {
  R elo[16], ehi[16], olo[16], ohi[16];
  R f = 0;
  for (int a = 0; a < 16; a += 2) {
    const RingValue* xe = ring + ((position + 32 * a) & (kRingSize - 1));
    const RingValue* xo = ring + ((position + 32 * (a + 1)) & (kRingSize - 1));
    for (int i = 0; i < 16; ++i) {
      const R pel = static_cast<R>(xe[16 + i]) * static_cast<R>(w.lo[a][i]);
      const R peh = static_cast<R>(xe[16 + i]) * static_cast<R>(w.hi[a][i]);
      const R pol = static_cast<R>(xo[i]) * static_cast<R>(w.lo[a + 1][i]);
      const R poh = static_cast<R>(xo[i]) * static_cast<R>(w.hi[a + 1][i]);
      elo[i] = a == 0 ? pel : elo[i] + pel;
      ehi[i] = a == 0 ? peh : ehi[i] + peh;
      olo[i] = a == 0 ? pol : olo[i] + pol;
      ohi[i] = a == 0 ? poh : ohi[i] + poh;
    }
    const R pf = static_cast<R>(xo[16]) * static_cast<R>(w.first[a + 1]);
    f = a == 0 ? pf : f + pf;
  }
  out[0] = elo[0] + f;
  for (int j = 1; j < 16; ++j) out[j] = elo[j] + olo[16 - j];
  out[16] = olo[0];
  for (int i = 1; i < 16; ++i) out[16 + i] = ohi[i] + ehi[16 - i];
}

// --- Variants ---------------------------------------------------------------------------------

// Vector forms of the x87 family (AVX2; products and sums rounded apart, as in the scalar forms).
// Where present, the x87, Pentium and conditional-move slots all take them; elsewhere the scalar
// forms below.
bool HasAvx2();
int HybridAvx2(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
               int nonzero_lines, int previous_extent, int synth_subbands);
void LongTransformAvx2(float* x);
void WindowMonoAvx2(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowStereoAvx2(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowPairAvx2(const SynthesisWindow& w, const RingValue* ring0, const RingValue* ring1, int position,
                    int16_t* dest);
// Requantization (see RequantizeFn).
int32_t RequantizeRunScalar(const int32_t* in, float* out, int n, float factor, const float* pow43);
// Layer II scaling (see Layer2ScaleFn).
void Layer2ScaleScalar(const int32_t* values, const float* factors, const uint32_t* keep, float* out, int from, int to);
void Layer2ScaleAvx2(const int32_t* values, const float* factors, const uint32_t* keep, float* out, int from, int to);
void Layer2ScaleAvx512(const int32_t* values, const float* factors, const uint32_t* keep, float* out, int from,
                       int to);
int32_t RequantizeRunAvx2(const int32_t* in, float* out, int n, float factor, const float* pow43);
void AliasReductionAvx2(float* lines, int boundaries);

// AVX-512 forms of the window, matrixing, hybrid filterbank, requantization and alias-reduction
// kernels, taken instead of the AVX2 ones where present.
bool HasAvx512();
void WindowMonoAvx512(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowStereoAvx512(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowPairAvx512(const SynthesisWindow& w, const RingValue* ring0, const RingValue* ring1, int position,
                      int16_t* dest);
int HybridAvx512(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                 int nonzero_lines, int previous_extent, int synth_subbands);
int32_t RequantizeRunAvx512(const int32_t* in, float* out, int n, float factor, const float* pow43);
void AliasReductionAvx512(float* lines, int boundaries);

// Scalar x87 forms: the x87 alias reduction and short transform (used everywhere), the
// Pentium-scheduled hybrid filterbank and long transform (also the x87 ones without AVX2), and
// window kernels with branch clipping (Pentium, also x87 without AVX2) or conditional-move
// clipping.
void AliasReductionX87(float* lines, int boundaries);
void ShortTransformX87(float* x);
int HybridPentium(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                  int nonzero_lines, int previous_extent, int synth_subbands);
void LongTransformPentium(float* x);
void ShortTransformPentium(float* x);
void WindowMonoPentium(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowStereoPentium(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowMonoCmov(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowStereoCmov(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);

// 3DNow! and enhanced 3DNow! (single precision).
void AliasReduction3DNow(float* lines, int boundaries);
void AliasReductionE3DNow(float* lines, int boundaries);
int HybridE3DNow(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                 int nonzero_lines, int previous_extent, int synth_subbands);
void LongTransformE3DNow(float* x);
void ShortTransformE3DNow(float* x);
void WindowMono3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowStereo3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowMonoE3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);
void WindowStereoE3DNow(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest);

// The 32-point matrixing. By c[m][31 - k] = (-1)^m c[m][k] even outputs take the sums
// s[k] + s[31 - k] and odd outputs the differences, 16 products each, even and odd k summed apart.
// cols[k][m] = cos((2k + 1) m pi / 64) for k < 16.
struct MatrixTable {
  alignas(64) float cols[16][32];
  MatrixTable();
};
const MatrixTable& GetMatrixTable();
void Matrix32Scalar(const float* samples, int stride, RingValue* ring, int position);
void Matrix32Avx2(const float* samples, int stride, RingValue* ring, int position);
void Matrix32Avx512(const float* samples, int stride, RingValue* ring, int position);

// The end of every hybrid kernel, from sub-band sb on: short blocks up to sub-band N, then the
// sub-bands that only carry the previous overlap up to P, then zeros up to the synthesised
// count. Returns the new overlap extent in lines.
template <typename R>
int HybridTail(const HybridTables& t, float* lines, const float* previous, float* out, int sb, int N, int P,
               int synth_subbands) {
  for (; sb < N; ++sb) {
    float* v = lines + 18 * sb;
    R block[36];
    ShortBlock<R>(t, v, block);
    for (int i = 0; i < 18; ++i) out[32 * i + sb] = static_cast<float>(previous[18 * sb + i] + block[i]);
    for (int i = 0; i < 18; ++i) v[i] = static_cast<float>(block[18 + i]);
  }
  for (; sb < P; ++sb)
    for (int i = 0; i < 18; ++i) out[32 * i + sb] = previous[18 * sb + i];
  const int handled = sb;
  for (; sb < synth_subbands; ++sb)
    for (int i = 0; i < 18; ++i) out[32 * i + sb] = 0.0f;
  return 18 * handled;
}

// --- The long-block IMDCT of the x87 family -----------------------------------------------------
//
// T is double (one sub-band) or a GCC vector of doubles (one sub-band per lane); each lane
// computes exactly what the scalar form computes. The 18-point DCT-IV is factored (see
// HybridTables::dct18_scale); the even half, a 9-point DCT-II, uses the symmetry
// cos(m (2 (8 - k) + 1) pi / 18) = (-1)^m cos(m (2k + 1) pi / 18) of its coefficients. Writes the
// windowed first half plus the previous overlap to `first` and the windowed second half to `next`.
// A constant as a value of T (GCC gives vector types the aliasing of their element type). Vector
// types wider than the tables' four lanes specialise LaneConstants to give the scalar, which GCC
// spreads over every lane of the product.
template <typename T>
struct LaneConstants {
  [[gnu::always_inline]] static const T& Of(const HybridTables::Lanes4& c) { return *reinterpret_cast<const T*>(c.v); }
};
template <typename T>
[[gnu::always_inline]] inline decltype(auto) LaneConstant(const HybridTables::Lanes4& c) {
  return LaneConstants<T>::Of(c);
}

template <typename T>
[[gnu::always_inline]] inline void LongBandX87(const HybridTables& t, const HybridTables::Lanes4* window, const T* x,
                                               const T* prev, T* first, T* next) {
  T a[9], b[9];
  for (int k = 0; k < 9; ++k) {
    const T lo = x[k] * LaneConstant<T>(t.dct18_scale_v[k]);
    const T hi = x[17 - k] * LaneConstant<T>(t.dct18_scale_v[17 - k]);
    a[k] = lo + hi;
    b[k] = lo - hi;
  }
  // Even half: sums and differences of mirrored inputs.
  T s[4], d[4];
  for (int k = 0; k < 4; ++k) {
    s[k] = a[k] + a[8 - k];
    d[k] = a[k] - a[8 - k];
  }
  T e[9];
  e[0] = (((s[0] + s[1]) + s[2]) + s[3]) + a[4];
  for (int m = 1; m < 9; ++m) {
    const T* p = (m & 1) ? d : s;
    T acc = p[0] * LaneConstant<T>(t.dct9_even_v[m][0]);
    for (int k = 1; k < 4; ++k) acc = acc + p[k] * LaneConstant<T>(t.dct9_even_v[m][k]);
    // The middle input weighs cos(m pi / 2): 0 for odd m, +-1 for even m.
    if ((m & 3) == 2) acc = acc - a[4];
    if ((m & 3) == 0) acc = acc + a[4];
    e[m] = acc;
  }
  // Odd half: a 9-point DCT-IV.
  T o[9];
  for (int m = 0; m < 9; ++m) {
    T acc = b[0] * LaneConstant<T>(t.dct9_odd_v[m][0]);
    for (int k = 1; k < 9; ++k) acc = acc + b[k] * LaneConstant<T>(t.dct9_odd_v[m][k]);
    o[m] = acc;
  }
  T y[18];
  for (int m = 0; m < 8; ++m) {
    y[2 * m] = e[m] + o[m];
    y[2 * m + 1] = o[m] + e[m + 1];
  }
  y[16] = e[8] + o[8];
  y[17] = o[8];
  // Unfolded: x[j] = y[9 + j], x[9 + j] = -y[17 - j], x[18 + j] = -y[8 - j], x[27 + j] = -y[j]
  // (window rows 18 .. 35 are stored negated).
  for (int j = 0; j < 9; ++j) {
    first[j] = prev[j] + y[9 + j] * LaneConstant<T>(window[j]);
    first[9 + j] = prev[9 + j] - y[17 - j] * LaneConstant<T>(window[9 + j]);
    next[j] = y[8 - j] * LaneConstant<T>(window[18 + j]);
    next[9 + j] = y[j] * LaneConstant<T>(window[27 + j]);
  }
}

// One long sub-band of the x87-family hybrid filterbank in scalar form.
inline void LongSubbandX87(const HybridTables& t, const HybridTables::Lanes4* window, float* lines,
                           const float* previous, float* out, int sb) {
  float* v = lines + 18 * sb;
  double x[18], prev[18], first[18], next[18];
  for (int i = 0; i < 18; ++i) x[i] = v[i], prev[i] = previous[18 * sb + i];
  LongBandX87<double>(t, window, x, prev, first, next);
  for (int i = 0; i < 18; ++i) out[32 * i + sb] = static_cast<float>(first[i]);
  for (int i = 0; i < 18; ++i) v[i] = static_cast<float>(next[i]);
}

// The window row of a long sub-band for LongBandX87.
inline const HybridTables::Lanes4* LongWindowRowWide(const HybridTables& t, int block_type, bool mixed, int sb) {
  return t.win_v[(block_type == 2 || (mixed && sb < 2)) ? 0 : block_type];
}

// The hybrid filterbank of the vector forms: the two lowest sub-bands of a mixed block, whose
// window row may differ, one at a time in scalar form (the same values); then groups of kWidth
// long sub-bands with one window row through `group`, the last group on copies padded with zeros
// (only the real sub-bands' results are kept); then the tail.
using LongGroupFn = void (*)(const HybridTables& t, const HybridTables::Lanes4* window, float* lines,
                             const float* previous, float* out, int sb);
// Inlined into each vector form, so that it is compiled for that form's instruction set.
template <int kWidth, LongGroupFn group>
[[gnu::always_inline]] inline int HybridInGroups(float* lines, const float* previous, float* out, int block_type,
                                                   bool mixed, int long_lines, int nonzero_lines, int previous_extent,
                                                   int synth_subbands) {
  const HybridTables& t = GetHybridTables();
  const int L = (long_lines + 17) / 18, N = (nonzero_lines + 17) / 18, P = (previous_extent + 17) / 18;
  int sb = 0;
  const int group_start = (mixed && block_type != 0) ? 2 : 0;
  const HybridTables::Lanes4* row_all = t.win_v[block_type == 2 ? 0 : block_type];
  for (; sb < std::min(group_start, L); ++sb)
    LongSubbandX87(t, LongWindowRowWide(t, block_type, mixed, sb), lines, previous, out, sb);
  for (; sb + kWidth <= L; sb += kWidth) group(t, row_all, lines, previous, out, sb);
  if (sb < L) {
    const size_t count = static_cast<size_t>(L - sb);
    alignas(64) float in[18 * kWidth] = {}, prev[18 * kWidth] = {}, slots[18 * 32];
    std::memcpy(in, lines + 18 * sb, sizeof(float) * 18 * count);
    std::memcpy(prev, previous + 18 * sb, sizeof(float) * 18 * count);
    group(t, row_all, in, prev, slots, 0);
    std::memcpy(lines + 18 * sb, in, sizeof(float) * 18 * count);
    for (int i = 0; i < 18; ++i)
      for (size_t k = 0; k < count; ++k) out[32 * i + sb + static_cast<int>(k)] = slots[32 * i + k];
    sb = L;
  }
  return HybridTail<double>(t, lines, previous, out, sb, N, P, synth_subbands);
}

// The hybrid filterbank in precision R (shared by the scalar variants).
template <typename R>
int HybridGeneric(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                  int nonzero_lines, int previous_extent, int synth_subbands) {
  const HybridTables& t = GetHybridTables();
  const int L = (long_lines + 17) / 18, N = (nonzero_lines + 17) / 18, P = (previous_extent + 17) / 18;
  int sb = 0;
  for (; sb < L; ++sb) {
    const float* window = LongWindowRow(t, block_type, mixed, sb);
    float* v = lines + 18 * sb;
    R y[18], x[36];
    LongDct<R>(t, v, y);
    UnfoldLong<R>(y, x);
    for (int i = 0; i < 18; ++i)
      out[32 * i + sb] = static_cast<float>(previous[18 * sb + i] + static_cast<R>(window[i]) * x[i]);
    for (int i = 0; i < 18; ++i) v[i] = static_cast<float>(static_cast<R>(window[18 + i]) * x[18 + i]);
  }
  return HybridTail<R>(t, lines, previous, out, sb, N, P, synth_subbands);
}

}  // namespace plumo
