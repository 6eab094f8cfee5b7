// The x87 kernels in AVX2 vector form, for processors that have it (with FMA, which every AVX2
// processor has; chosen at kernel selection). They compute in double precision with exactly the
// operations of the scalar forms, in the same order and each rounded on its own, so their values
// equal those of the scalar forms bit for bit. The one fused multiply-add is in the synthesis
// window, whose products of two floats are exact in double precision: fusing one with the sum it
// enters rounds once, as the separate sum does. Sums are converted to PCM in the current rounding
// mode (round to nearest even) after clipping.
#include "kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PLUMO_AVX2 __attribute__((target("avx2,fma")))
#endif

namespace plumo {

#ifdef PLUMO_AVX2

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}

namespace {

// a[0 .. 15] + (first, b[15], b[14], ..., b[1]): the reversed partner sums shifted by one lane,
// with `first` entering at output 0.
PLUMO_AVX2 inline void AddReversed(const __m256d a[4], const __m256d b[4], __m256d first, __m256d out[4]) {
  // rev[q] = (b[4(3 - q) + 3], b[4(3 - q) + 2], b[4(3 - q) + 1], b[4(3 - q)])
  __m256d rev[4];
  for (int q = 0; q < 4; ++q) rev[q] = _mm256_permute4x64_pd(b[3 - q], 0x1B);
  // Shift right by one lane across the vectors: lane 0 takes the previous vector's lane 3.
  __m256d carry = first;
  for (int q = 0; q < 4; ++q) {
    const __m256d shifted = _mm256_permute4x64_pd(rev[q], 0x90);  // (r0, r0, r1, r2)
    const __m256d shifted_in = _mm256_blend_pd(shifted, carry, 0x1);
    carry = _mm256_permute4x64_pd(rev[q], 0xFF);  // r3 in every lane
    out[q] = _mm256_add_pd(a[q], shifted_in);
  }
}

// WindowSums<double> in one pass over the ring, half a ring block at a time: the even ages' lo
// and hi sums and the odd ages' lo and hi sums of eight outputs each take two accumulators, so
// every ring value is loaded once.
[[gnu::always_inline]] PLUMO_AVX2 inline void WindowPcm(const SynthesisWindow& w, const RingValue* ring,
                                                        int position, __m128i pcm[4]) {
  const RingValue* base = ring + position;  // the ring's repetition spares the wrapping
  __m256d el[4], ol[4], eh[4], oh[4];
  for (int h = 0; h < 2; ++h) {
    // Set by the first pass of the loop below; zeroed only so that no compiler takes them for unset.
    __m256d el0{}, el1{}, eh0{}, eh1{}, ol0{}, ol1{}, oh0{}, oh1{};
    for (int a = 0; a < 16; a += 2) {
      const RingValue* xe = base + 32 * a + 16 + 8 * h;
      const RingValue* xo = base + 32 * (a + 1) + 8 * h;
      __m256d e0 = _mm256_load_pd(xe), e1 = _mm256_load_pd(xe + 4);
      __m256d o0 = _mm256_load_pd(xo), o1 = _mm256_load_pd(xo + 4);
      // Each ring value is loaded once and used twice (the compiler would rather load it again).
      asm("" : "+x"(e0), "+x"(e1), "+x"(o0), "+x"(o1));
      const double* lo_e = &w.lo_wide[a][8 * h];
      const double* hi_e = &w.hi_wide[a][8 * h];
      const double* lo_o = &w.lo_wide[a + 1][8 * h];
      const double* hi_o = &w.hi_wide[a + 1][8 * h];
      if (a == 0) {
        el0 = _mm256_mul_pd(e0, _mm256_load_pd(lo_e)), el1 = _mm256_mul_pd(e1, _mm256_load_pd(lo_e + 4));
        eh0 = _mm256_mul_pd(e0, _mm256_load_pd(hi_e)), eh1 = _mm256_mul_pd(e1, _mm256_load_pd(hi_e + 4));
        ol0 = _mm256_mul_pd(o0, _mm256_load_pd(lo_o)), ol1 = _mm256_mul_pd(o1, _mm256_load_pd(lo_o + 4));
        oh0 = _mm256_mul_pd(o0, _mm256_load_pd(hi_o)), oh1 = _mm256_mul_pd(o1, _mm256_load_pd(hi_o + 4));
      } else {
        // Exact products (float times float), so each fused step equals product then sum.
        el0 = _mm256_fmadd_pd(e0, _mm256_load_pd(lo_e), el0), el1 = _mm256_fmadd_pd(e1, _mm256_load_pd(lo_e + 4), el1);
        eh0 = _mm256_fmadd_pd(e0, _mm256_load_pd(hi_e), eh0), eh1 = _mm256_fmadd_pd(e1, _mm256_load_pd(hi_e + 4), eh1);
        ol0 = _mm256_fmadd_pd(o0, _mm256_load_pd(lo_o), ol0), ol1 = _mm256_fmadd_pd(o1, _mm256_load_pd(lo_o + 4), ol1);
        oh0 = _mm256_fmadd_pd(o0, _mm256_load_pd(hi_o), oh0), oh1 = _mm256_fmadd_pd(o1, _mm256_load_pd(hi_o + 4), oh1);
      }
      // Keeps the loads of the next ages from being hoisted above these sums (and spilled).
      asm volatile("" ::: "memory");
    }
    el[2 * h] = el0, el[2 * h + 1] = el1, eh[2 * h] = eh0, eh[2 * h + 1] = eh1;
    ol[2 * h] = ol0, ol[2 * h + 1] = ol1, oh[2 * h] = oh0, oh[2 * h + 1] = oh1;
  }
  // Output 0's odd-age terms (ring value 16 of each odd age).
  double f = base[32 + 16] * w.first_wide[1];
  for (int a = 3; a < 16; a += 2) f = std::fma(base[32 * a + 16], w.first_wide[a], f);
  // Outputs 0 .. 15: el[j] + ol[16 - j] (output 0: el[0] + first); outputs 16 .. 31:
  // oh[i] + eh[16 - i] (output 16: oh[0] = 0 plus ol[0]).
  __m256d out[8];
  AddReversed(el, ol, _mm256_set1_pd(f), out);
  AddReversed(oh, eh, ol[0], out + 4);
  const __m256d lo = _mm256_set1_pd(-32768.0), hi = _mm256_set1_pd(32767.0);
  for (int q = 0; q < 4; ++q) {
    // NaN lanes are cleared to 0 first (the compare is false only for them).
    const __m256d an = _mm256_and_pd(out[2 * q], _mm256_cmp_pd(out[2 * q], out[2 * q], _CMP_ORD_Q));
    const __m256d bn = _mm256_and_pd(out[2 * q + 1], _mm256_cmp_pd(out[2 * q + 1], out[2 * q + 1], _CMP_ORD_Q));
    const __m256d a = _mm256_min_pd(_mm256_max_pd(an, lo), hi);
    const __m256d b = _mm256_min_pd(_mm256_max_pd(bn, lo), hi);
    pcm[q] = _mm_packs_epi32(_mm256_cvtpd_epi32(a), _mm256_cvtpd_epi32(b));
  }
}

[[gnu::always_inline]] PLUMO_AVX2 inline void StoreMono(const __m128i pcm[4], int16_t* dest) {
  for (int q = 0; q < 4; ++q) _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 8 * q), pcm[q]);
}

// Every other sample (dest[0], dest[2], ..., dest[62]): the other channel's samples in between are
// kept. Blends of 16-byte blocks cover dest[0 .. 47]; the last block starts one sample early, at
// dest[47], since dest[63] may lie past the block (the right channel's pointer starts one sample
// in), and takes the samples in its odd lanes.
[[gnu::always_inline]] PLUMO_AVX2 inline void StoreStereo(const __m128i pcm[4], int16_t* dest) {
  const __m128i zero = _mm_setzero_si128();
  for (int q = 0; q < 3; ++q) {
    __m128i* p = reinterpret_cast<__m128i*>(dest + 16 * q);
    _mm_storeu_si128(p, _mm_blend_epi16(_mm_loadu_si128(p), _mm_unpacklo_epi16(pcm[q], zero), 0x55));
    _mm_storeu_si128(p + 1, _mm_blend_epi16(_mm_loadu_si128(p + 1), _mm_unpackhi_epi16(pcm[q], zero), 0x55));
  }
  __m128i* p = reinterpret_cast<__m128i*>(dest + 47);
  _mm_storeu_si128(p, _mm_blend_epi16(_mm_loadu_si128(p), _mm_unpacklo_epi16(zero, pcm[3]), 0xAA));
  _mm_storeu_si128(p + 1, _mm_blend_epi16(_mm_loadu_si128(p + 1), _mm_unpackhi_epi16(zero, pcm[3]), 0xAA));
}

}  // namespace

PLUMO_AVX2 void WindowMonoAvx2(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  __m128i pcm[4];
  WindowPcm(w, ring, position, pcm);
  StoreMono(pcm, dest);
}

PLUMO_AVX2 void WindowStereoAvx2(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  __m128i pcm[4];
  WindowPcm(w, ring, position, pcm);
  StoreStereo(pcm, dest);
}

namespace {

// The window sums of one slot of both channels (same position in each ring) as WindowPcm
// computes them, a quarter ring block at a time: each window coefficient is loaded once for both
// channels, so loads do not outnumber the multiply-adds.
[[gnu::always_inline]] PLUMO_AVX2 inline void WindowPcmPair(const SynthesisWindow& w, const RingValue* ring0,
                                                            const RingValue* ring1, int position, __m128i pcm0[4],
                                                            __m128i pcm1[4]) {
  const RingValue* const base0 = ring0 + position;
  const RingValue* const base1 = ring1 + position;
  __m256d el[2][4], ol[2][4], eh[2][4], oh[2][4];
  for (int q = 0; q < 4; ++q) {
    // Set by the first pass of the loop below; zeroed only so that no compiler takes them for unset.
    __m256d el0{}, eh0{}, ol0{}, oh0{}, el1{}, eh1{}, ol1{}, oh1{};
    for (int a = 0; a < 16; a += 2) {
      __m256d e0 = _mm256_load_pd(base0 + 32 * a + 16 + 4 * q), o0 = _mm256_load_pd(base0 + 32 * (a + 1) + 4 * q);
      __m256d e1 = _mm256_load_pd(base1 + 32 * a + 16 + 4 * q), o1 = _mm256_load_pd(base1 + 32 * (a + 1) + 4 * q);
      // Loaded once, used twice; and no loads hoisted across ages (as in WindowPcm).
      asm("" : "+x"(e0), "+x"(e1), "+x"(o0), "+x"(o1));
      __m256d lo_e = _mm256_load_pd(&w.lo_wide[a][4 * q]), hi_e = _mm256_load_pd(&w.hi_wide[a][4 * q]);
      __m256d lo_o = _mm256_load_pd(&w.lo_wide[a + 1][4 * q]), hi_o = _mm256_load_pd(&w.hi_wide[a + 1][4 * q]);
      // Each coefficient is loaded once for both channels (the compiler would rather load it twice).
      asm("" : "+x"(lo_e), "+x"(hi_e), "+x"(lo_o), "+x"(hi_o));
      if (a == 0) {
        el0 = _mm256_mul_pd(e0, lo_e), el1 = _mm256_mul_pd(e1, lo_e);
        eh0 = _mm256_mul_pd(e0, hi_e), eh1 = _mm256_mul_pd(e1, hi_e);
        ol0 = _mm256_mul_pd(o0, lo_o), ol1 = _mm256_mul_pd(o1, lo_o);
        oh0 = _mm256_mul_pd(o0, hi_o), oh1 = _mm256_mul_pd(o1, hi_o);
      } else {
        el0 = _mm256_fmadd_pd(e0, lo_e, el0), el1 = _mm256_fmadd_pd(e1, lo_e, el1);
        eh0 = _mm256_fmadd_pd(e0, hi_e, eh0), eh1 = _mm256_fmadd_pd(e1, hi_e, eh1);
        ol0 = _mm256_fmadd_pd(o0, lo_o, ol0), ol1 = _mm256_fmadd_pd(o1, lo_o, ol1);
        oh0 = _mm256_fmadd_pd(o0, hi_o, oh0), oh1 = _mm256_fmadd_pd(o1, hi_o, oh1);
      }
      asm volatile("" ::: "memory");
    }
    el[0][q] = el0, eh[0][q] = eh0, ol[0][q] = ol0, oh[0][q] = oh0;
    el[1][q] = el1, eh[1][q] = eh1, ol[1][q] = ol1, oh[1][q] = oh1;
  }
  const __m256d lo = _mm256_set1_pd(-32768.0), hi = _mm256_set1_pd(32767.0);
  for (int c = 0; c < 2; ++c) {
    const RingValue* base = c == 0 ? base0 : base1;
    double f = base[32 + 16] * w.first_wide[1];
    for (int a = 3; a < 16; a += 2) f = std::fma(base[32 * a + 16], w.first_wide[a], f);
    __m256d out[8];
    AddReversed(el[c], ol[c], _mm256_set1_pd(f), out);
    AddReversed(oh[c], eh[c], ol[c][0], out + 4);
    __m128i* pcm = c == 0 ? pcm0 : pcm1;
    for (int q = 0; q < 4; ++q) {
      const __m256d an = _mm256_and_pd(out[2 * q], _mm256_cmp_pd(out[2 * q], out[2 * q], _CMP_ORD_Q));
      const __m256d bn = _mm256_and_pd(out[2 * q + 1], _mm256_cmp_pd(out[2 * q + 1], out[2 * q + 1], _CMP_ORD_Q));
      const __m256d a = _mm256_min_pd(_mm256_max_pd(an, lo), hi);
      const __m256d b = _mm256_min_pd(_mm256_max_pd(bn, lo), hi);
      pcm[q] = _mm_packs_epi32(_mm256_cvtpd_epi32(a), _mm256_cvtpd_epi32(b));
    }
  }
}

}  // namespace

PLUMO_AVX2 void WindowPairAvx2(const SynthesisWindow& w, const RingValue* ring0, const RingValue* ring1, int position,
                               int16_t* dest) {
  __m128i pcm0[4], pcm1[4];
  WindowPcmPair(w, ring0, ring1, position, pcm0, pcm1);
  for (int q = 0; q < 4; ++q) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 16 * q), _mm_unpacklo_epi16(pcm0[q], pcm1[q]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + 16 * q + 8), _mm_unpackhi_epi16(pcm0[q], pcm1[q]));
  }
}

namespace {

// LongDct<double>: 18 outputs (padded to 20) from 18 inputs, even and odd inputs summed apart.
PLUMO_AVX2 inline void LongDctAvx2(const HybridTables& t, const float* in, double* y) {
  __m256d e[5], o[5];
  for (int q = 0; q < 5; ++q) e[q] = o[q] = _mm256_setzero_pd();
  for (int k = 0; k < 18; k += 2) {
    const __m256d xe = _mm256_set1_pd(in[k]), xo = _mm256_set1_pd(in[k + 1]);
    const double* ce = t.dct18_cols[k];
    const double* co = t.dct18_cols[k + 1];
    for (int q = 0; q < 5; ++q) {
      e[q] = _mm256_add_pd(e[q], _mm256_mul_pd(xe, _mm256_load_pd(ce + 4 * q)));
      o[q] = _mm256_add_pd(o[q], _mm256_mul_pd(xo, _mm256_load_pd(co + 4 * q)));
    }
  }
  for (int q = 0; q < 5; ++q) _mm256_store_pd(y + 4 * q, _mm256_add_pd(e[q], o[q]));
}

}  // namespace

PLUMO_AVX2 void LongTransformAvx2(float* x) {
  alignas(32) double y[20];
  LongDctAvx2(GetHybridTables(), x, y);
  for (int n = 0; n < 18; ++n) x[n] = static_cast<float>(y[n]);
}

namespace {

// Four sub-bands' 18 values, transposed: dst[k] holds value k of sub-bands 0 .. 3 in its lanes.
PLUMO_AVX2 inline void LoadTransposed(const float* base, __m256d dst[18]) {
  for (int k = 0; k < 16; k += 4) {
    __m128 r0 = _mm_loadu_ps(base + k), r1 = _mm_loadu_ps(base + 18 + k);
    __m128 r2 = _mm_loadu_ps(base + 36 + k), r3 = _mm_loadu_ps(base + 54 + k);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    dst[k] = _mm256_cvtps_pd(r0);
    dst[k + 1] = _mm256_cvtps_pd(r1);
    dst[k + 2] = _mm256_cvtps_pd(r2);
    dst[k + 3] = _mm256_cvtps_pd(r3);
  }
  for (int k = 16; k < 18; ++k)
    dst[k] = _mm256_set_pd(base[54 + k], base[36 + k], base[18 + k], base[k]);
}

// The inverse of LoadTransposed, rounding to float.
PLUMO_AVX2 inline void StoreTransposed(const __m256d src[18], float* base) {
  for (int k = 0; k < 16; k += 4) {
    __m128 r0 = _mm256_cvtpd_ps(src[k]), r1 = _mm256_cvtpd_ps(src[k + 1]);
    __m128 r2 = _mm256_cvtpd_ps(src[k + 2]), r3 = _mm256_cvtpd_ps(src[k + 3]);
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    _mm_storeu_ps(base + k, r0);
    _mm_storeu_ps(base + 18 + k, r1);
    _mm_storeu_ps(base + 36 + k, r2);
    _mm_storeu_ps(base + 54 + k, r3);
  }
  for (int k = 16; k < 18; ++k) {
    alignas(16) float lane[4];
    _mm_store_ps(lane, _mm256_cvtpd_ps(src[k]));
    base[k] = lane[0], base[18 + k] = lane[1], base[36 + k] = lane[2], base[54 + k] = lane[3];
  }
}

using v4d = double __attribute__((vector_size(32), may_alias));

// Four long sub-bands sb .. sb + 3 with the same window row, one per vector lane: LongBandX87 on
// transposed values.
PLUMO_AVX2 inline void LongGroup(const HybridTables& t, const HybridTables::Lanes4* window, float* lines,
                                 const float* previous, float* out, int sb) {
  __m256d x[18], prev[18], first[18], next[18];
  LoadTransposed(lines + 18 * sb, x);
  LoadTransposed(previous + 18 * sb, prev);
  LongBandX87<v4d>(t, window, reinterpret_cast<const v4d*>(x), reinterpret_cast<const v4d*>(prev),
                   reinterpret_cast<v4d*>(first), reinterpret_cast<v4d*>(next));
  for (int i = 0; i < 18; ++i) _mm_storeu_ps(out + 32 * i + sb, _mm256_cvtpd_ps(first[i]));
  StoreTransposed(next, lines + 18 * sb);
}

}  // namespace

PLUMO_AVX2 int HybridAvx2(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
               int nonzero_lines, int previous_extent, int synth_subbands) {
  return HybridInGroups<4, LongGroup>(lines, previous, out, block_type, mixed, long_lines, nonzero_lines,
                                      previous_extent, synth_subbands);
}

PLUMO_AVX2 void Matrix32Avx2(const float* samples, int stride, RingValue* ring, int position) {
  const MatrixTable& t = GetMatrixTable();
  alignas(32) float in[32];
  if (stride == 1) {
    _mm256_store_ps(in, _mm256_loadu_ps(samples));
    _mm256_store_ps(in + 8, _mm256_loadu_ps(samples + 8));
    _mm256_store_ps(in + 16, _mm256_loadu_ps(samples + 16));
    _mm256_store_ps(in + 24, _mm256_loadu_ps(samples + 24));
  } else {
    // Every other value: the even lanes of each vector gathered to its lower half, then the
    // halves of two vectors joined. The last vector is loaded one value early so nothing past
    // samples[62] is read.
    const __m256i even = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i odd = _mm256_setr_epi32(1, 3, 5, 7, 0, 2, 4, 6);
    for (int q = 0; q < 4; ++q) {
      const __m256 a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(samples + 16 * q), even);
      const __m256 b = q < 3 ? _mm256_permutevar8x32_ps(_mm256_loadu_ps(samples + 16 * q + 8), even)
                             : _mm256_permutevar8x32_ps(_mm256_loadu_ps(samples + 16 * q + 7), odd);
      _mm256_store_ps(in + 8 * q, _mm256_permute2f128_ps(a, b, 0x20));
    }
  }
  // pairs[2k] = s[k] + s[31 - k], pairs[2k + 1] = s[k] - s[31 - k]: broadcast as one 64-bit
  // value, lane m of the vector holds the sum for even m and the difference for odd m.
  alignas(32) float pairs[32];
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  for (int h = 0; h < 2; ++h) {
    const __m256 a = _mm256_load_ps(in + 8 * h);
    const __m256 b = _mm256_permutevar8x32_ps(_mm256_load_ps(in + 24 - 8 * h), reverse);
    const __m256 sum = _mm256_add_ps(a, b), diff = _mm256_sub_ps(a, b);
    const __m256 lo = _mm256_unpacklo_ps(sum, diff), hi = _mm256_unpackhi_ps(sum, diff);
    _mm256_store_ps(pairs + 16 * h, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_store_ps(pairs + 16 * h + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
  }
  __m256 acc_even[4], acc_odd[4];
  for (int q = 0; q < 4; ++q) acc_even[q] = acc_odd[q] = _mm256_setzero_ps();
  for (int k = 0; k < 16; k += 2) {
    const __m256 p0 = _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(pairs + 2 * k)));
    const __m256 p1 = _mm256_castpd_ps(_mm256_broadcast_sd(reinterpret_cast<const double*>(pairs + 2 * k + 2)));
    for (int q = 0; q < 4; ++q) {
      acc_even[q] = _mm256_add_ps(acc_even[q], _mm256_mul_ps(_mm256_load_ps(&t.cols[k][8 * q]), p0));
      acc_odd[q] = _mm256_add_ps(acc_odd[q], _mm256_mul_ps(_mm256_load_ps(&t.cols[k + 1][8 * q]), p1));
    }
  }
  RingValue* out = ring + position;
  for (int q = 0; q < 4; ++q) {
    const __m256 sum = _mm256_add_ps(acc_even[q], acc_odd[q]);
    const __m256d lo = _mm256_cvtps_pd(_mm256_castps256_ps128(sum)), hi = _mm256_cvtps_pd(_mm256_extractf128_ps(sum, 1));
    _mm256_store_pd(out + 8 * q, lo);
    _mm256_store_pd(out + 8 * q + 4, hi);
    _mm256_store_pd(out + kRingSize + 8 * q, lo);
    _mm256_store_pd(out + kRingSize + 8 * q + 4, hi);
  }
}

PLUMO_AVX2 void AliasReductionAvx2(float* x, int boundaries) {
  const HybridTables& t = GetHybridTables();
  // Coefficients in the order of the eight lines below a boundary (index 7 - i).
  alignas(32) double cs[8], ca[8];
  for (int j = 0; j < 8; ++j) cs[j] = t.alias_cs_d[7 - j], ca[j] = t.alias_ca_d[7 - j];
  const __m256d cs0 = _mm256_load_pd(cs), cs1 = _mm256_load_pd(cs + 4);
  const __m256d ca0 = _mm256_load_pd(ca), ca1 = _mm256_load_pd(ca + 4);
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  for (int b = 1; b <= boundaries; ++b) {
    float* lo = x + 18 * b - 8;
    float* hi = x + 18 * b;
    const __m256 l = _mm256_loadu_ps(lo);
    const __m256 h = _mm256_permutevar8x32_ps(_mm256_loadu_ps(hi), reverse);  // partner of l[j]
    const __m256d l0 = _mm256_cvtps_pd(_mm256_castps256_ps128(l)), l1 = _mm256_cvtps_pd(_mm256_extractf128_ps(l, 1));
    const __m256d h0 = _mm256_cvtps_pd(_mm256_castps256_ps128(h)), h1 = _mm256_cvtps_pd(_mm256_extractf128_ps(h, 1));
    const __m256d nl0 = _mm256_sub_pd(_mm256_mul_pd(l0, cs0), _mm256_mul_pd(h0, ca0));
    const __m256d nl1 = _mm256_sub_pd(_mm256_mul_pd(l1, cs1), _mm256_mul_pd(h1, ca1));
    const __m256d nh0 = _mm256_add_pd(_mm256_mul_pd(h0, cs0), _mm256_mul_pd(l0, ca0));
    const __m256d nh1 = _mm256_add_pd(_mm256_mul_pd(h1, cs1), _mm256_mul_pd(l1, ca1));
    _mm256_storeu_ps(lo, _mm256_set_m128(_mm256_cvtpd_ps(nl1), _mm256_cvtpd_ps(nl0)));
    _mm256_storeu_ps(hi, _mm256_permutevar8x32_ps(_mm256_set_m128(_mm256_cvtpd_ps(nh1), _mm256_cvtpd_ps(nh0)), reverse));
  }
}

namespace {

// Eight lines of RequantizeRun: the requantized values and the OR of the inputs.
[[gnu::always_inline]] PLUMO_AVX2 inline __m256 RequantizeEight(__m256i v, __m256 f, const float* pow43) {
  const __m256i sign_mask = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
  const __m256i largest = _mm256_set1_epi32(8206);
  const __m256i fifteen = _mm256_set1_epi32(15), seven = _mm256_set1_epi32(7);
  const __m256i a = _mm256_min_epu32(_mm256_abs_epi32(v), largest);
  __m256 m;
  // Magnitudes below 16 (most of them) come from two registers, the others from a gather.
  const __m256i big = _mm256_cmpgt_epi32(a, fifteen);
  if (_mm256_testz_si256(big, big)) {
    const __m256 small_lo = _mm256_loadu_ps(pow43), small_hi = _mm256_loadu_ps(pow43 + 8);
    const __m256 high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, seven));
    m = _mm256_blendv_ps(_mm256_permutevar8x32_ps(small_lo, a), _mm256_permutevar8x32_ps(small_hi, a), high);
  } else {
    m = _mm256_i32gather_ps(pow43, a, 4);
  }
  const __m256 signed_m = _mm256_xor_ps(m, _mm256_castsi256_ps(_mm256_and_si256(v, sign_mask)));
  return _mm256_mul_ps(f, signed_m);
}

}  // namespace

PLUMO_AVX2 int32_t RequantizeRunAvx2(const int32_t* in, float* out, int n, float factor, const float* pow43) {
  const __m256 f = _mm256_set1_ps(factor);
  __m256i any = _mm256_setzero_si256();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    any = _mm256_or_si256(any, v);
    _mm256_storeu_ps(out + i, RequantizeEight(v, f, pow43));
  }
  if (i < n) {
    // The last one to seven lines through masked loads and stores (lanes past n read as 0).
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - i), lane);
    const __m256i v = _mm256_maskload_epi32(in + i, mask);
    any = _mm256_or_si256(any, v);
    _mm256_maskstore_ps(out + i, mask, RequantizeEight(v, f, pow43));
  }
  __m128i any4 = _mm_or_si128(_mm256_castsi256_si128(any), _mm256_extracti128_si256(any, 1));
  any4 = _mm_or_si128(any4, _mm_shuffle_epi32(any4, 0x4E));
  any4 = _mm_or_si128(any4, _mm_shuffle_epi32(any4, 0xB1));
  return _mm_cvtsi128_si32(any4);
}

// Layer II scaling (see Layer2ScaleFn), eight places a step, the last step's places past `to`
// left alone under a mask.
PLUMO_AVX2 void Layer2ScaleAvx2(const int32_t* values, const float* factors, const uint32_t* keep, float* out,
                                int from, int to) {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  for (int s = 0; s < 36; ++s) {
    const float* factor = factors + 64 * (s / 12);
    const int32_t* value = values + 64 * s;
    float* slot = out + 64 * s;
    for (int j = from; j < to; j += 8) {
      const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(to - j), lane);
      const __m256 v = _mm256_cvtepi32_ps(_mm256_maskload_epi32(value + j, mask));
      const __m256 f = _mm256_maskload_ps(factor + j, mask);
      const __m256 k = _mm256_castsi256_ps(_mm256_maskload_epi32(reinterpret_cast<const int*>(keep + j), mask));
      _mm256_maskstore_ps(slot + j, mask, _mm256_and_ps(_mm256_mul_ps(f, v), k));
    }
  }
}

#else  // no AVX2 forms on this architecture

bool HasAvx2() { return false; }
void WindowMonoAvx2(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  WindowMonoPentium(w, ring, position, dest);
}
void WindowStereoAvx2(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  WindowStereoPentium(w, ring, position, dest);
}
void WindowPairAvx2(const SynthesisWindow& w, const RingValue* ring0, const RingValue* ring1, int position,
                    int16_t* dest) {
  WindowStereoPentium(w, ring0, position, dest);
  WindowStereoPentium(w, ring1, position, dest + 1);
}
void LongTransformAvx2(float* x) { LongTransformPentium(x); }
int HybridAvx2(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
               int nonzero_lines, int previous_extent, int synth_subbands) {
  return HybridPentium(lines, previous, out, block_type, mixed, long_lines, nonzero_lines, previous_extent,
                       synth_subbands);
}
void Matrix32Avx2(const float* samples, int stride, RingValue* ring, int position) {
  Matrix32Scalar(samples, stride, ring, position);
}
int32_t RequantizeRunAvx2(const int32_t*, float*, int, float, const float*) { return 0; }
void Layer2ScaleAvx2(const int32_t* values, const float* factors, const uint32_t* keep, float* out, int from, int to) {
  Layer2ScaleScalar(values, factors, keep, out, from, to);
}
void AliasReductionAvx2(float* x, int boundaries) { AliasReductionX87(x, boundaries); }

#endif

}  // namespace plumo
