// The synthesis window, matrixing, hybrid filterbank, alias-reduction and requantization kernels in
// AVX-512 form, for processors that have it: twice the lanes of the AVX2 forms, with the same
// operations on each lane in the same order (products and sums rounded apart, but for the window's
// exact products, fused as in the AVX2 form), so their values equal those of the scalar and AVX2
// forms bit for bit.
#include "kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 header makes its "undefined" vectors by self-initialisation, which -O3 then
// reports as (maybe) uninitialised wherever such an intrinsic is inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define PLUMO_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,fma")))
#endif

namespace plumo {

#ifdef PLUMO_AVX512

bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
                          __builtin_cpu_supports("fma");
  return has;
}

namespace {

// (a0, a1) + (first, b[15], b[14], ..., b[1]) over 16 lanes: the reversed partner sums shifted
// by one lane, with lane 0 of `first` entering at output 0.
PLUMO_AVX512 inline void AddReversed(__m512d a0, __m512d a1, __m512d b0, __m512d b1, __m512d first,
                                     __m512d& out0, __m512d& out1) {
  const __m512i high = _mm512_set_epi64(9, 10, 11, 12, 13, 14, 15, 0);
  const __m512i low = _mm512_set_epi64(1, 2, 3, 4, 5, 6, 7, 8);
  const __m512d s0 = _mm512_mask_blend_pd(0x01, _mm512_permutex2var_pd(b0, high, b1), first);
  const __m512d s1 = _mm512_permutex2var_pd(b0, low, b1);
  out0 = _mm512_add_pd(a0, s0);
  out1 = _mm512_add_pd(a1, s1);
}

// NaN lanes cleared to 0, then clipped to the 16-bit range and converted in the current rounding
// mode (round to nearest even): 16 sums as 16 int32 values.
PLUMO_AVX512 inline __m512i ClipConvert(__m512d a, __m512d b) {
  const __m512d lo = _mm512_set1_pd(-32768.0), hi = _mm512_set1_pd(32767.0);
  const __m512d an = _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(a, a, _CMP_ORD_Q), a);
  const __m512d bn = _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(b, b, _CMP_ORD_Q), b);
  const __m256i ia = _mm512_cvtpd_epi32(_mm512_min_pd(_mm512_max_pd(an, lo), hi));
  const __m256i ib = _mm512_cvtpd_epi32(_mm512_min_pd(_mm512_max_pd(bn, lo), hi));
  return _mm512_inserti64x4(_mm512_castsi256_si512(ia), ib, 1);
}

// The window sums of one slot (as in the AVX2 form, a whole ring block of 16 values per vector
// pair): pcm0 holds outputs 0 .. 15 and pcm1 outputs 16 .. 31, as int32 values in range.
[[gnu::always_inline]] PLUMO_AVX512 inline void WindowPcm(const SynthesisWindow& w, const RingValue* ring,
                                                          int position, __m512i& pcm0, __m512i& pcm1) {
  const RingValue* base = ring + position;  // the ring's repetition spares the wrapping
  __m512d el0, el1, eh0, eh1, ol0, ol1, oh0, oh1;
  for (int a = 0; a < 16; a += 2) {
    const RingValue* xe = base + 32 * a + 16;
    const RingValue* xo = base + 32 * (a + 1);
    const __m512d e0 = _mm512_loadu_pd(xe), e1 = _mm512_loadu_pd(xe + 8);
    const __m512d o0 = _mm512_loadu_pd(xo), o1 = _mm512_loadu_pd(xo + 8);
    const double* lo_e = &w.lo_wide[a][0];
    const double* hi_e = &w.hi_wide[a][0];
    const double* lo_o = &w.lo_wide[a + 1][0];
    const double* hi_o = &w.hi_wide[a + 1][0];
    if (a == 0) {
      el0 = _mm512_mul_pd(e0, _mm512_loadu_pd(lo_e)), el1 = _mm512_mul_pd(e1, _mm512_loadu_pd(lo_e + 8));
      eh0 = _mm512_mul_pd(e0, _mm512_loadu_pd(hi_e)), eh1 = _mm512_mul_pd(e1, _mm512_loadu_pd(hi_e + 8));
      ol0 = _mm512_mul_pd(o0, _mm512_loadu_pd(lo_o)), ol1 = _mm512_mul_pd(o1, _mm512_loadu_pd(lo_o + 8));
      oh0 = _mm512_mul_pd(o0, _mm512_loadu_pd(hi_o)), oh1 = _mm512_mul_pd(o1, _mm512_loadu_pd(hi_o + 8));
    } else {
      // Exact products (float times float), so each fused step equals product then sum.
      el0 = _mm512_fmadd_pd(e0, _mm512_loadu_pd(lo_e), el0), el1 = _mm512_fmadd_pd(e1, _mm512_loadu_pd(lo_e + 8), el1);
      eh0 = _mm512_fmadd_pd(e0, _mm512_loadu_pd(hi_e), eh0), eh1 = _mm512_fmadd_pd(e1, _mm512_loadu_pd(hi_e + 8), eh1);
      ol0 = _mm512_fmadd_pd(o0, _mm512_loadu_pd(lo_o), ol0), ol1 = _mm512_fmadd_pd(o1, _mm512_loadu_pd(lo_o + 8), ol1);
      oh0 = _mm512_fmadd_pd(o0, _mm512_loadu_pd(hi_o), oh0), oh1 = _mm512_fmadd_pd(o1, _mm512_loadu_pd(hi_o + 8), oh1);
    }
  }
  // Output 0's odd-age terms (ring value 16 of each odd age).
  double f = base[32 + 16] * w.first_wide[1];
  for (int a = 3; a < 16; a += 2) f = std::fma(base[32 * a + 16], w.first_wide[a], f);
  // Outputs 0 .. 15: el[j] + ol[16 - j] (output 0: el[0] + first); outputs 16 .. 31:
  // oh[i] + eh[16 - i] (output 16: oh[0] = 0 plus ol[0]).
  __m512d out0, out1, out2, out3;
  AddReversed(el0, el1, ol0, ol1, _mm512_set1_pd(f), out0, out1);
  AddReversed(oh0, oh1, eh0, eh1, ol0, out2, out3);
  pcm0 = ClipConvert(out0, out1);
  pcm1 = ClipConvert(out2, out3);
}

}  // namespace

PLUMO_AVX512 void WindowMonoAvx512(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  __m512i pcm0, pcm1;
  WindowPcm(w, ring, position, pcm0, pcm1);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest), _mm512_cvtepi32_epi16(pcm0));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + 16), _mm512_cvtepi32_epi16(pcm1));
}

// Every other sample (dest[0], dest[2], ..., dest[62]): the low halves of the int32 lanes, stored
// under a mask of the even 16-bit positions, so the other channel's samples in between and
// dest[63] (which may lie past the block) are left untouched.
PLUMO_AVX512 void WindowStereoAvx512(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  __m512i pcm0, pcm1;
  WindowPcm(w, ring, position, pcm0, pcm1);
  _mm512_mask_storeu_epi16(dest, 0x55555555u, pcm0);
  _mm512_mask_storeu_epi16(dest + 32, 0x55555555u, pcm1);
}

// Both channels of a slot (rings at the same position) as WindowPcm computes each, half a ring
// block at a time: each window coefficient is loaded once for both channels. dest takes the
// interleaved samples.
PLUMO_AVX512 void WindowPairAvx512(const SynthesisWindow& w, const RingValue* ring0, const RingValue* ring1,
                                   int position, int16_t* dest) {
  const RingValue* base[2] = {ring0 + position, ring1 + position};
  __m512d el[2][2], ol[2][2], eh[2][2], oh[2][2];
  for (int h = 0; h < 2; ++h) {
    __m512d el0, eh0, ol0, oh0, el1, eh1, ol1, oh1;
    for (int a = 0; a < 16; a += 2) {
      const __m512d e0 = _mm512_loadu_pd(base[0] + 32 * a + 16 + 8 * h);
      const __m512d o0 = _mm512_loadu_pd(base[0] + 32 * (a + 1) + 8 * h);
      const __m512d e1 = _mm512_loadu_pd(base[1] + 32 * a + 16 + 8 * h);
      const __m512d o1 = _mm512_loadu_pd(base[1] + 32 * (a + 1) + 8 * h);
      const __m512d lo_e = _mm512_loadu_pd(&w.lo_wide[a][8 * h]), hi_e = _mm512_loadu_pd(&w.hi_wide[a][8 * h]);
      const __m512d lo_o = _mm512_loadu_pd(&w.lo_wide[a + 1][8 * h]), hi_o = _mm512_loadu_pd(&w.hi_wide[a + 1][8 * h]);
      if (a == 0) {
        el0 = _mm512_mul_pd(e0, lo_e), el1 = _mm512_mul_pd(e1, lo_e);
        eh0 = _mm512_mul_pd(e0, hi_e), eh1 = _mm512_mul_pd(e1, hi_e);
        ol0 = _mm512_mul_pd(o0, lo_o), ol1 = _mm512_mul_pd(o1, lo_o);
        oh0 = _mm512_mul_pd(o0, hi_o), oh1 = _mm512_mul_pd(o1, hi_o);
      } else {
        // Exact products (float times float), so each fused step equals product then sum.
        el0 = _mm512_fmadd_pd(e0, lo_e, el0), el1 = _mm512_fmadd_pd(e1, lo_e, el1);
        eh0 = _mm512_fmadd_pd(e0, hi_e, eh0), eh1 = _mm512_fmadd_pd(e1, hi_e, eh1);
        ol0 = _mm512_fmadd_pd(o0, lo_o, ol0), ol1 = _mm512_fmadd_pd(o1, lo_o, ol1);
        oh0 = _mm512_fmadd_pd(o0, hi_o, oh0), oh1 = _mm512_fmadd_pd(o1, hi_o, oh1);
      }
    }
    el[0][h] = el0, eh[0][h] = eh0, ol[0][h] = ol0, oh[0][h] = oh0;
    el[1][h] = el1, eh[1][h] = eh1, ol[1][h] = ol1, oh[1][h] = oh1;
  }
  __m512i pcm[2][2];
  for (int c = 0; c < 2; ++c) {
    double f = base[c][32 + 16] * w.first_wide[1];
    for (int a = 3; a < 16; a += 2) f = std::fma(base[c][32 * a + 16], w.first_wide[a], f);
    __m512d out0, out1, out2, out3;
    AddReversed(el[c][0], el[c][1], ol[c][0], ol[c][1], _mm512_set1_pd(f), out0, out1);
    AddReversed(oh[c][0], oh[c][1], eh[c][0], eh[c][1], ol[c][0], out2, out3);
    pcm[c][0] = ClipConvert(out0, out1);
    pcm[c][1] = ClipConvert(out2, out3);
  }
  // Channel 0 in the low 16 bits of each 32-bit lane, channel 1 in the high ones (the values are in
  // range, so a shift and an OR interleave them).
  for (int k = 0; k < 2; ++k) {
    const __m512i lo = _mm512_and_si512(pcm[0][k], _mm512_set1_epi32(0xFFFF));
    _mm512_storeu_si512(dest + 32 * k, _mm512_or_si512(lo, _mm512_slli_epi32(pcm[1][k], 16)));
  }
}

namespace {
// Two floats broadcast as one 64-bit value.
PLUMO_AVX512 inline __m512 Pair(const float* p) {
  return _mm512_broadcast_f32x2(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)));
}
}  // namespace

PLUMO_AVX512 void Matrix32Avx512(const float* samples, int stride, RingValue* ring, int position) {
  const MatrixTable& t = GetMatrixTable();
  __m512 in0, in1;
  if (stride == 1) {
    in0 = _mm512_loadu_ps(samples);
    in1 = _mm512_loadu_ps(samples + 16);
  } else {
    // Every other value; the last block is loaded under a mask so nothing past samples[62] is read.
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    in0 = _mm512_permutex2var_ps(_mm512_loadu_ps(samples), even, _mm512_loadu_ps(samples + 16));
    in1 = _mm512_permutex2var_ps(_mm512_loadu_ps(samples + 32), even, _mm512_maskz_loadu_ps(0x7FFF, samples + 48));
  }
  // pairs[2k] = s[k] + s[31 - k], pairs[2k + 1] = s[k] - s[31 - k]: broadcast as one 64-bit
  // value, lane m of the vector holds the sum for even m and the difference for odd m.
  const __m512i reverse = _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  const __m512 b = _mm512_permutexvar_ps(reverse, in1);
  const __m512 sum = _mm512_add_ps(in0, b), diff = _mm512_sub_ps(in0, b);
  alignas(64) float pairs[32];
  const __m512i lower = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i upper = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  _mm512_store_ps(pairs, _mm512_permutex2var_ps(sum, lower, diff));
  _mm512_store_ps(pairs + 16, _mm512_permutex2var_ps(sum, upper, diff));
  __m512 even0 = _mm512_setzero_ps(), even1 = even0, odd0 = even0, odd1 = even0;
  for (int k = 0; k < 16; k += 2) {
    const __m512 p0 = Pair(pairs + 2 * k);
    const __m512 p1 = Pair(pairs + 2 * k + 2);
    even0 = _mm512_add_ps(even0, _mm512_mul_ps(_mm512_loadu_ps(&t.cols[k][0]), p0));
    even1 = _mm512_add_ps(even1, _mm512_mul_ps(_mm512_loadu_ps(&t.cols[k][16]), p0));
    odd0 = _mm512_add_ps(odd0, _mm512_mul_ps(_mm512_loadu_ps(&t.cols[k + 1][0]), p1));
    odd1 = _mm512_add_ps(odd1, _mm512_mul_ps(_mm512_loadu_ps(&t.cols[k + 1][16]), p1));
  }
  RingValue* out = ring + position;
  const __m512 s0 = _mm512_add_ps(even0, odd0), s1 = _mm512_add_ps(even1, odd1);
  const __m512d v[4] = {_mm512_cvtps_pd(_mm512_castps512_ps256(s0)), _mm512_cvtps_pd(_mm512_extractf32x8_ps(s0, 1)),
                        _mm512_cvtps_pd(_mm512_castps512_ps256(s1)), _mm512_cvtps_pd(_mm512_extractf32x8_ps(s1, 1))};
  for (int q = 0; q < 4; ++q) {
    _mm512_storeu_pd(out + 8 * q, v[q]);
    _mm512_storeu_pd(out + kRingSize + 8 * q, v[q]);
  }
}

// (GCC gives vector types the aliasing of their element type.)
using v8d = double __attribute__((vector_size(64)));

// The tables' constants hold four equal lanes: eight-lane products take the scalar.
template <>
struct LaneConstants<v8d> {
  [[gnu::always_inline]] static double Of(const HybridTables::Lanes4& c) { return c.v[0]; }
};

namespace {

// Eight sub-bands' 18 values, transposed: dst[k] holds value k of sub-bands 0 .. 7 in its lanes.
PLUMO_AVX512 inline void LoadTransposed(const float* base, __m512d dst[18]) {
  for (int k = 0; k < 16; k += 4) {
    __m256d half[2][4];
    for (int g = 0; g < 2; ++g) {
      const float* rows = base + 72 * g + k;
      __m128 r0 = _mm_loadu_ps(rows), r1 = _mm_loadu_ps(rows + 18);
      __m128 r2 = _mm_loadu_ps(rows + 36), r3 = _mm_loadu_ps(rows + 54);
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      half[g][0] = _mm256_cvtps_pd(r0), half[g][1] = _mm256_cvtps_pd(r1);
      half[g][2] = _mm256_cvtps_pd(r2), half[g][3] = _mm256_cvtps_pd(r3);
    }
    for (int i = 0; i < 4; ++i) dst[k + i] = _mm512_insertf64x4(_mm512_castpd256_pd512(half[0][i]), half[1][i], 1);
  }
  for (int k = 16; k < 18; ++k)
    dst[k] = _mm512_set_pd(base[126 + k], base[108 + k], base[90 + k], base[72 + k], base[54 + k], base[36 + k],
                           base[18 + k], base[k]);
}

// The inverse of LoadTransposed, rounding to float.
PLUMO_AVX512 inline void StoreTransposed(const __m512d src[18], float* base) {
  for (int k = 0; k < 16; k += 4) {
    __m256 f[4];
    for (int i = 0; i < 4; ++i) f[i] = _mm512_cvtpd_ps(src[k + i]);
    for (int g = 0; g < 2; ++g) {
      __m128 r0 = g ? _mm256_extractf128_ps(f[0], 1) : _mm256_castps256_ps128(f[0]);
      __m128 r1 = g ? _mm256_extractf128_ps(f[1], 1) : _mm256_castps256_ps128(f[1]);
      __m128 r2 = g ? _mm256_extractf128_ps(f[2], 1) : _mm256_castps256_ps128(f[2]);
      __m128 r3 = g ? _mm256_extractf128_ps(f[3], 1) : _mm256_castps256_ps128(f[3]);
      _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
      float* rows = base + 72 * g + k;
      _mm_storeu_ps(rows, r0);
      _mm_storeu_ps(rows + 18, r1);
      _mm_storeu_ps(rows + 36, r2);
      _mm_storeu_ps(rows + 54, r3);
    }
  }
  for (int k = 16; k < 18; ++k) {
    alignas(32) float lane[8];
    _mm256_store_ps(lane, _mm512_cvtpd_ps(src[k]));
    for (int r = 0; r < 8; ++r) base[18 * r + k] = lane[r];
  }
}

// Eight long sub-bands sb .. sb + 7 with the same window row, one per vector lane: LongBandX87 on
// transposed values.
PLUMO_AVX512 inline void LongGroup(const HybridTables& t, const HybridTables::Lanes4* window, float* lines,
                                   const float* previous, float* out, int sb) {
  __m512d x[18], prev[18], first[18], next[18];
  LoadTransposed(lines + 18 * sb, x);
  LoadTransposed(previous + 18 * sb, prev);
  LongBandX87<v8d>(t, window, reinterpret_cast<const v8d*>(x), reinterpret_cast<const v8d*>(prev),
                   reinterpret_cast<v8d*>(first), reinterpret_cast<v8d*>(next));
  for (int i = 0; i < 18; ++i) _mm256_storeu_ps(out + 32 * i + sb, _mm512_cvtpd_ps(first[i]));
  StoreTransposed(next, lines + 18 * sb);
}

}  // namespace

// The alias-reduction butterflies of each boundary in one step: the eight lines below it and,
// reversed, their eight partners above it, in double precision (products and sums rounded apart).
PLUMO_AVX512 void AliasReductionAvx512(float* x, int boundaries) {
  const HybridTables& t = GetHybridTables();
  // Coefficients in the order of the eight lines below a boundary (index 7 - i).
  alignas(64) double cs[8], ca[8];
  for (int j = 0; j < 8; ++j) cs[j] = t.alias_cs_d[7 - j], ca[j] = t.alias_ca_d[7 - j];
  const __m512d cs8 = _mm512_load_pd(cs), ca8 = _mm512_load_pd(ca);
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  for (int b = 1; b <= boundaries; ++b) {
    float* lo = x + 18 * b - 8;
    float* hi = x + 18 * b;
    const __m512d l = _mm512_cvtps_pd(_mm256_loadu_ps(lo));
    const __m512d h = _mm512_cvtps_pd(_mm256_permutevar8x32_ps(_mm256_loadu_ps(hi), reverse));  // partners
    const __m512d nl = _mm512_sub_pd(_mm512_mul_pd(l, cs8), _mm512_mul_pd(h, ca8));
    const __m512d nh = _mm512_add_pd(_mm512_mul_pd(h, cs8), _mm512_mul_pd(l, ca8));
    _mm256_storeu_ps(lo, _mm512_cvtpd_ps(nl));
    _mm256_storeu_ps(hi, _mm256_permutevar8x32_ps(_mm512_cvtpd_ps(nh), reverse));
  }
}

// Requantization (see RequantizeFn), sixteen lines a step, the last step under a mask (lanes past
// n read as 0 and are not stored): magnitudes below 16 (most of them) come from one register, the
// others from a gather; the sign is put back by its bit, then the factor applied.
PLUMO_AVX512 int32_t RequantizeRunAvx512(const int32_t* in, float* out, int n, float factor, const float* pow43) {
  const __m512 f = _mm512_set1_ps(factor);
  const __m512 small = _mm512_loadu_ps(pow43);
  const __m512i largest = _mm512_set1_epi32(8206), fifteen = _mm512_set1_epi32(15);
  const __m512i sign_mask = _mm512_set1_epi32(static_cast<int32_t>(0x80000000u));
  __m512i any = _mm512_setzero_si512();
  for (int i = 0; i < n; i += 16) {
    const __mmask16 lanes = n - i >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << (n - i)) - 1u);
    const __m512i v = _mm512_maskz_loadu_epi32(lanes, in + i);
    any = _mm512_or_si512(any, v);
    const __m512i a = _mm512_min_epu32(_mm512_abs_epi32(v), largest);
    __m512 m = _mm512_permutexvar_ps(a, small);
    const __mmask16 big = _mm512_cmpgt_epi32_mask(a, fifteen);
    if (big) m = _mm512_mask_i32gather_ps(m, big, a, pow43, 4);
    const __m512 signed_m = _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(m), _mm512_and_si512(v, sign_mask)));
    _mm512_mask_storeu_ps(out + i, lanes, _mm512_mul_ps(f, signed_m));
  }
  return _mm512_reduce_or_epi32(any);
}

// Layer II scaling (see Layer2ScaleFn), sixteen places a step, the last step's places past `to`
// left alone under a mask.
PLUMO_AVX512 void Layer2ScaleAvx512(const int32_t* values, const float* factors, const uint32_t* keep, float* out,
                                    int from, int to) {
  for (int s = 0; s < 36; ++s) {
    const float* factor = factors + 64 * (s / 12);
    const int32_t* value = values + 64 * s;
    float* slot = out + 64 * s;
    for (int j = from; j < to; j += 16) {
      const __mmask16 m = to - j >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << (to - j)) - 1u);
      const __m512 v = _mm512_cvtepi32_ps(_mm512_maskz_loadu_epi32(m, value + j));
      const __m512 f = _mm512_maskz_loadu_ps(m, factor + j);
      const __m512i k = _mm512_maskz_loadu_epi32(m, keep + j);
      _mm512_mask_storeu_ps(slot + j, m, _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(_mm512_mul_ps(f, v)), k)));
    }
  }
}

PLUMO_AVX512 int HybridAvx512(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                 int nonzero_lines, int previous_extent, int synth_subbands) {
  return HybridInGroups<8, LongGroup>(lines, previous, out, block_type, mixed, long_lines, nonzero_lines,
                                      previous_extent, synth_subbands);
}

#else  // no AVX-512 forms on this architecture

bool HasAvx512() { return false; }
void WindowMonoAvx512(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  WindowMonoAvx2(w, ring, position, dest);
}
void WindowStereoAvx512(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  WindowStereoAvx2(w, ring, position, dest);
}
void Matrix32Avx512(const float* samples, int stride, RingValue* ring, int position) {
  Matrix32Avx2(samples, stride, ring, position);
}
void WindowPairAvx512(const SynthesisWindow& w, const RingValue* ring0, const RingValue* ring1, int position,
                      int16_t* dest) {
  WindowPairAvx2(w, ring0, ring1, position, dest);
}
void AliasReductionAvx512(float* x, int boundaries) { AliasReductionAvx2(x, boundaries); }
void Layer2ScaleAvx512(const int32_t* values, const float* factors, const uint32_t* keep, float* out, int from,
                       int to) {
  Layer2ScaleAvx2(values, factors, keep, out, from, to);
}
int32_t RequantizeRunAvx512(const int32_t* in, float* out, int n, float factor, const float* pow43) {
  return RequantizeRunAvx2(in, out, n, factor, pow43);
}
int HybridAvx512(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                 int nonzero_lines, int previous_extent, int synth_subbands) {
  return HybridAvx2(lines, previous, out, block_type, mixed, long_lines, nonzero_lines, previous_extent,
                    synth_subbands);
}

#endif

}  // namespace plumo
