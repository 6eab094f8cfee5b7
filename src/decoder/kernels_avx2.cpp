// The x87 kernels in AVX2 vector form with fused multiply-add, for processors that have both
// (chosen at kernel selection). They compute in double precision like the scalar forms in
// kernels.h; fused products, and for the hybrid filterbank a factored transform over four
// sub-bands at a time, make the sums differ from those in the last bits only. Sums are converted
// to PCM in the current rounding mode (round to nearest even) after clipping.
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

// Sums of one half of the window table (lo or hi) over the 16 ages: even ages into e, odd ages
// into o, in increasing age. The ring is 16-byte aligned.
PLUMO_AVX2 inline void WindowHalf(const double (*table)[16], const float* ring, int position, __m256d e[4],
                                  __m256d o[4]) {
  __m256d e0 = _mm256_setzero_pd(), e1 = e0, e2 = e0, e3 = e0;
  __m256d o0 = e0, o1 = e0, o2 = e0, o3 = e0;
  for (int a = 0; a < 16; a += 2) {
    const float* xe = ring + ((position + 32 * a) & (kRingSize - 1)) + 16;
    const float* xo = ring + ((position + 32 * (a + 1)) & (kRingSize - 1));
    const double* we = table[a];
    const double* wo = table[a + 1];
    e0 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xe)), _mm256_load_pd(we), e0);
    e1 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xe + 4)), _mm256_load_pd(we + 4), e1);
    e2 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xe + 8)), _mm256_load_pd(we + 8), e2);
    e3 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xe + 12)), _mm256_load_pd(we + 12), e3);
    o0 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xo)), _mm256_load_pd(wo), o0);
    o1 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xo + 4)), _mm256_load_pd(wo + 4), o1);
    o2 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xo + 8)), _mm256_load_pd(wo + 8), o2);
    o3 = _mm256_fmadd_pd(_mm256_cvtps_pd(_mm_load_ps(xo + 12)), _mm256_load_pd(wo + 12), o3);
  }
  e[0] = e0, e[1] = e1, e[2] = e2, e[3] = e3;
  o[0] = o0, o[1] = o1, o[2] = o2, o[3] = o3;
}

// a[0 .. 15] + (first, b[15], b[14], ..., b[1]): the reversed partner sums shifted by one lane,
// with `first` entering at output 0.
PLUMO_AVX2 inline void AddReversed(const __m256d a[4], const __m256d b[4], double first, __m256d out[4]) {
  // rev[q] = (b[4(3 - q) + 3], b[4(3 - q) + 2], b[4(3 - q) + 1], b[4(3 - q)])
  __m256d rev[4];
  for (int q = 0; q < 4; ++q) rev[q] = _mm256_permute4x64_pd(b[3 - q], 0x1B);
  // Shift right by one lane across the vectors: lane 0 takes the previous vector's lane 3.
  __m256d carry = _mm256_set1_pd(first);
  for (int q = 0; q < 4; ++q) {
    const __m256d shifted = _mm256_permute4x64_pd(rev[q], 0x90);  // (r0, r0, r1, r2)
    const __m256d shifted_in = _mm256_blend_pd(shifted, carry, 0x1);
    carry = _mm256_permute4x64_pd(rev[q], 0xFF);  // r3 in every lane
    out[q] = _mm256_add_pd(a[q], shifted_in);
  }
}

// Both halves in one pass over the ring: each ring value is widened once. Needs 16 accumulators
// besides the widened values, so it pays where AVX-512 provides 32 vector registers.
[[gnu::always_inline]] PLUMO_AVX2 inline void WindowBoth(const SynthesisWindow& w, const float* ring, int position,
                                                         __m256d el[4], __m256d ol[4], __m256d eh[4], __m256d oh[4]) {
  for (int q = 0; q < 4; ++q) el[q] = ol[q] = eh[q] = oh[q] = _mm256_setzero_pd();
  for (int a = 0; a < 16; a += 2) {
    const float* xe = ring + ((position + 32 * a) & (kRingSize - 1)) + 16;
    const float* xo = ring + ((position + 32 * (a + 1)) & (kRingSize - 1));
    for (int q = 0; q < 4; ++q) {
      const __m256d e = _mm256_cvtps_pd(_mm_load_ps(xe + 4 * q));
      const __m256d o = _mm256_cvtps_pd(_mm_load_ps(xo + 4 * q));
      el[q] = _mm256_fmadd_pd(e, _mm256_load_pd(&w.lo_wide[a][4 * q]), el[q]);
      eh[q] = _mm256_fmadd_pd(e, _mm256_load_pd(&w.hi_wide[a][4 * q]), eh[q]);
      ol[q] = _mm256_fmadd_pd(o, _mm256_load_pd(&w.lo_wide[a + 1][4 * q]), ol[q]);
      oh[q] = _mm256_fmadd_pd(o, _mm256_load_pd(&w.hi_wide[a + 1][4 * q]), oh[q]);
    }
  }
}

// The sums of output 0's odd-age terms, the combination of the halves and the PCM conversion.
[[gnu::always_inline]] PLUMO_AVX2 inline void FinishPcm(const SynthesisWindow& w, const float* ring, int position,
                                                        const __m256d el[4], const __m256d ol[4],
                                                        const __m256d eh[4], const __m256d oh[4], __m128i pcm[4]) {
  double f = 0.0;
  for (int a = 1; a < 16; a += 2)
    f = std::fma(static_cast<double>(ring[((position + 32 * a) & (kRingSize - 1)) + 16]),
                 static_cast<double>(w.first[a]), f);
  // Outputs 0 .. 15: el[j] + ol[16 - j] (output 0: el[0] + first); outputs 16 .. 31:
  // oh[i] + eh[16 - i] (output 16: oh[0] = 0 plus ol[0]).
  __m256d out[8];
  AddReversed(el, ol, f, out);
  AddReversed(oh, eh, _mm_cvtsd_f64(_mm256_castpd256_pd128(ol[0])), out + 4);
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
// kept. The blends cover dest[0 .. 47]; the last eight samples are stored one by one, since
// dest[63] may lie past the block (the right channel's pointer starts one sample in).
[[gnu::always_inline]] PLUMO_AVX2 inline void StoreStereo(const __m128i pcm[4], int16_t* dest) {
  const __m128i zero = _mm_setzero_si128();
  for (int q = 0; q < 3; ++q) {
    __m128i* p = reinterpret_cast<__m128i*>(dest + 16 * q);
    _mm_storeu_si128(p, _mm_blend_epi16(_mm_loadu_si128(p), _mm_unpacklo_epi16(pcm[q], zero), 0x55));
    _mm_storeu_si128(p + 1, _mm_blend_epi16(_mm_loadu_si128(p + 1), _mm_unpackhi_epi16(pcm[q], zero), 0x55));
  }
  alignas(16) int16_t last[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(last), pcm[3]);
  for (int j = 0; j < 8; ++j) dest[48 + 2 * j] = last[j];
}

// The 32 PCM samples of a slot, as 4 vectors of 8 int16 (round to nearest even, clipped).
PLUMO_AVX2 inline void WindowPcm(const SynthesisWindow& w, const float* ring, int position, __m128i pcm[4]) {
  __m256d el[4], ol[4], eh[4], oh[4];
  WindowHalf(w.lo_wide, ring, position, el, ol);
  WindowHalf(w.hi_wide, ring, position, eh, oh);
  FinishPcm(w, ring, position, el, ol, eh, oh, pcm);
}

}  // namespace

PLUMO_AVX2 void WindowMonoAvx2(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  __m128i pcm[4];
  WindowPcm(w, ring, position, pcm);
  StoreMono(pcm, dest);
}

PLUMO_AVX2 void WindowStereoAvx2(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  __m128i pcm[4];
  WindowPcm(w, ring, position, pcm);
  StoreStereo(pcm, dest);
}

// The same with AVX-512's 32 registers: one pass over the ring.
#define PLUMO_AVX512 __attribute__((target("avx2,fma,avx512f,avx512vl")))

bool HasAvx512() {
  static const bool has = HasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  return has;
}

PLUMO_AVX512 void WindowMonoAvx512(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  __m256d el[4], ol[4], eh[4], oh[4];
  __m128i pcm[4];
  WindowBoth(w, ring, position, el, ol, eh, oh);
  FinishPcm(w, ring, position, el, ol, eh, oh, pcm);
  StoreMono(pcm, dest);
}

PLUMO_AVX512 void WindowStereoAvx512(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  __m256d el[4], ol[4], eh[4], oh[4];
  __m128i pcm[4];
  WindowBoth(w, ring, position, el, ol, eh, oh);
  FinishPcm(w, ring, position, el, ol, eh, oh, pcm);
  StoreStereo(pcm, dest);
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
      e[q] = _mm256_fmadd_pd(_mm256_load_pd(ce + 4 * q), xe, e[q]);
      o[q] = _mm256_fmadd_pd(_mm256_load_pd(co + 4 * q), xo, o[q]);
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

// Four long sub-bands sb .. sb + 3 with the same window row, one per vector lane: the factored
// transform, windowing, overlap-add into out and the new overlap into lines.
PLUMO_AVX2 inline void LongGroup(const HybridTables& t, const double* window, float* lines, const float* previous,
                                 float* out, int sb) {
  __m256d x[18];
  LoadTransposed(lines + 18 * sb, x);
  __m256d a[9], b[9];
  for (int k = 0; k < 9; ++k) {
    const __m256d lo = _mm256_mul_pd(x[k], _mm256_set1_pd(t.dct18_scale[k]));
    const __m256d hi = _mm256_mul_pd(x[17 - k], _mm256_set1_pd(t.dct18_scale[17 - k]));
    a[k] = _mm256_add_pd(lo, hi);
    b[k] = _mm256_sub_pd(lo, hi);
  }
  __m256d e[10], o[9];
  for (int m = 0; m < 9; ++m) {
    e[m] = _mm256_mul_pd(a[0], _mm256_set1_pd(t.dct9_even[m][0]));
    o[m] = _mm256_mul_pd(b[0], _mm256_set1_pd(t.dct9_odd[m][0]));
  }
  for (int k = 1; k < 9; ++k)
    for (int m = 0; m < 9; ++m) {
      e[m] = _mm256_fmadd_pd(a[k], _mm256_set1_pd(t.dct9_even[m][k]), e[m]);
      o[m] = _mm256_fmadd_pd(b[k], _mm256_set1_pd(t.dct9_odd[m][k]), o[m]);
    }
  e[9] = _mm256_setzero_pd();
  __m256d y[18];
  for (int m = 0; m < 9; ++m) {
    y[2 * m] = _mm256_add_pd(e[m], o[m]);
    y[2 * m + 1] = _mm256_add_pd(o[m], e[m + 1]);
  }
  // Unfolded: x[j] = y[9 + j], x[9 + j] = -y[17 - j], x[18 + j] = -y[8 - j], x[27 + j] = -y[j].
  __m256d prev[18];
  LoadTransposed(previous + 18 * sb, prev);
  for (int j = 0; j < 9; ++j) {
    const __m256d first = _mm256_fmadd_pd(_mm256_set1_pd(window[j]), y[9 + j], prev[j]);
    const __m256d second = _mm256_fnmadd_pd(_mm256_set1_pd(window[9 + j]), y[17 - j], prev[9 + j]);
    _mm_storeu_ps(out + 32 * j + sb, _mm256_cvtpd_ps(first));
    _mm_storeu_ps(out + 32 * (9 + j) + sb, _mm256_cvtpd_ps(second));
  }
  __m256d overlap[18];
  for (int j = 0; j < 9; ++j) {
    overlap[j] = _mm256_mul_pd(_mm256_set1_pd(-window[18 + j]), y[8 - j]);
    overlap[9 + j] = _mm256_mul_pd(_mm256_set1_pd(-window[27 + j]), y[j]);
  }
  StoreTransposed(overlap, lines + 18 * sb);
}

}  // namespace

PLUMO_AVX2 int HybridAvx2(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                          int nonzero_lines, int previous_extent, int synth_subbands) {
  const HybridTables& t = GetHybridTables();
  const int L = (long_lines + 17) / 18, N = (nonzero_lines + 17) / 18, P = (previous_extent + 17) / 18;
  int sb = 0;
  // Groups of four sub-bands with one window row; the two lowest of a mixed block whose rows
  // differ, and the last few, one at a time.
  const int group_start = (mixed && block_type != 0) ? 2 : 0;
  const int row_all = block_type == 2 ? 0 : block_type;
  auto one = [&](int band) PLUMO_AVX2 {
    const int row = (block_type == 2 || (mixed && band < 2)) ? 0 : block_type;
    float* v = lines + 18 * band;
    const float* prev = previous + 18 * band;
    // A = y[9 .. 17] in acc[0 .. 2], B = y[0 .. 8] in acc[3 .. 5] (lanes 9 .. 11 are 0).
    // Even and odd inputs sum apart: twelve independent chains keep both FMA units busy.
    __m256d acc[6], odd[6];
    for (int q = 0; q < 6; ++q) acc[q] = odd[q] = _mm256_setzero_pd();
    for (int k = 0; k < 18; k += 2) {
      const __m256d xe = _mm256_set1_pd(v[k]), xo = _mm256_set1_pd(v[k + 1]);
      for (int q = 0; q < 6; ++q) {
        acc[q] = _mm256_fmadd_pd(_mm256_load_pd(&t.dct18_ab[k][4 * q]), xe, acc[q]);
        odd[q] = _mm256_fmadd_pd(_mm256_load_pd(&t.dct18_ab[k + 1][4 * q]), xo, odd[q]);
      }
    }
    for (int q = 0; q < 6; ++q) acc[q] = _mm256_add_pd(acc[q], odd[q]);
    // Windowed and unfolded: the first half added to the previous overlap, the second half the
    // next overlap.
    alignas(16) float first[24], overlap[24];
    for (int q = 0; q < 3; ++q) {
      const __m256d p = _mm256_cvtps_pd(_mm_loadu_ps(prev + 4 * q));
      const __m128 pr4 = _mm_loadu_ps(prev + 14 - 4 * q);
      const __m256d pr = _mm256_cvtps_pd(_mm_shuffle_ps(pr4, pr4, 0x1B));  // prev[17 - 4q - i]
      _mm_store_ps(first + 4 * q, _mm256_cvtpd_ps(_mm256_fmadd_pd(_mm256_load_pd(&t.unfold_a[row][4 * q]), acc[q], p)));
      _mm_store_ps(first + 12 + 4 * q,
                   _mm256_cvtpd_ps(_mm256_fmadd_pd(_mm256_load_pd(&t.unfold_ar[row][4 * q]), acc[q], pr)));
      _mm_store_ps(overlap + 4 * q, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_load_pd(&t.unfold_b[row][4 * q]), acc[3 + q])));
      _mm_store_ps(overlap + 12 + 4 * q,
                   _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_load_pd(&t.unfold_br[row][4 * q]), acc[3 + q])));
    }
    for (int j = 0; j < 9; ++j) {
      out[32 * j + band] = first[j];
      out[32 * (17 - j) + band] = first[12 + j];
      v[9 + j] = overlap[j];
      v[8 - j] = overlap[12 + j];
    }
  };
  for (; sb < std::min(group_start, L); ++sb) one(sb);
  for (; sb + 4 <= L; sb += 4) LongGroup(t, t.win_d[row_all], lines, previous, out, sb);
  for (; sb < L; ++sb) one(sb);
  return HybridTail<double>(t, lines, previous, out, sb, N, P, synth_subbands);
}

PLUMO_AVX2 void Matrix32Avx2(const float* samples, int stride, float* ring, int position) {
  const MatrixTable& t = GetMatrixTable();
  alignas(32) float in[32];
  if (stride == 1) {
    _mm256_store_ps(in, _mm256_loadu_ps(samples));
    _mm256_store_ps(in + 8, _mm256_loadu_ps(samples + 8));
    _mm256_store_ps(in + 16, _mm256_loadu_ps(samples + 16));
    _mm256_store_ps(in + 24, _mm256_loadu_ps(samples + 24));
  } else {
    for (int k = 0; k < 32; ++k) in[k] = samples[k * stride];
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
  float* out = ring + position;
  for (int q = 0; q < 4; ++q) _mm256_storeu_ps(out + 8 * q, _mm256_add_ps(acc_even[q], acc_odd[q]));
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
    const __m256d nl0 = _mm256_fnmadd_pd(h0, ca0, _mm256_mul_pd(l0, cs0));
    const __m256d nl1 = _mm256_fnmadd_pd(h1, ca1, _mm256_mul_pd(l1, cs1));
    const __m256d nh0 = _mm256_fmadd_pd(l0, ca0, _mm256_mul_pd(h0, cs0));
    const __m256d nh1 = _mm256_fmadd_pd(l1, ca1, _mm256_mul_pd(h1, cs1));
    _mm256_storeu_ps(lo, _mm256_set_m128(_mm256_cvtpd_ps(nl1), _mm256_cvtpd_ps(nl0)));
    _mm256_storeu_ps(hi, _mm256_permutevar8x32_ps(_mm256_set_m128(_mm256_cvtpd_ps(nh1), _mm256_cvtpd_ps(nh0)), reverse));
  }
}

PLUMO_AVX2 int32_t RequantizeRunAvx2(const int32_t* in, float* out, int n, float factor, const float* pow43) {
  const __m256i sign_mask = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
  const __m256i largest = _mm256_set1_epi32(8206);
  const __m256 f = _mm256_set1_ps(factor);
  // Magnitudes below 16 (most of them) come from two registers, the others from a gather.
  const __m256 small_lo = _mm256_loadu_ps(pow43), small_hi = _mm256_loadu_ps(pow43 + 8);
  const __m256i fifteen = _mm256_set1_epi32(15), seven = _mm256_set1_epi32(7);
  __m256i any = _mm256_setzero_si256();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    any = _mm256_or_si256(any, v);
    const __m256i a = _mm256_min_epu32(_mm256_abs_epi32(v), largest);
    __m256 m;
    if (_mm256_testz_si256(_mm256_cmpgt_epi32(a, fifteen), _mm256_cmpgt_epi32(a, fifteen))) {
      const __m256 high = _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, seven));
      m = _mm256_blendv_ps(_mm256_permutevar8x32_ps(small_lo, a), _mm256_permutevar8x32_ps(small_hi, a), high);
    } else {
      m = _mm256_i32gather_ps(pow43, a, 4);
    }
    const __m256 signed_m = _mm256_xor_ps(m, _mm256_castsi256_ps(_mm256_and_si256(v, sign_mask)));
    _mm256_storeu_ps(out + i, _mm256_mul_ps(f, signed_m));
  }
  __m128i any4 = _mm_or_si128(_mm256_castsi256_si128(any), _mm256_extracti128_si256(any, 1));
  any4 = _mm_or_si128(any4, _mm_shuffle_epi32(any4, 0x4E));
  any4 = _mm_or_si128(any4, _mm_shuffle_epi32(any4, 0xB1));
  int32_t result = _mm_cvtsi128_si32(any4);
  for (; i < n; ++i) {
    const int32_t v = in[i];
    const uint32_t sign = static_cast<uint32_t>(v) & 0x80000000u;
    uint32_t a = static_cast<uint32_t>(v < 0 ? -static_cast<int64_t>(v) : v);
    a = a < 8206u ? a : 8206u;
    uint32_t bits;
    std::memcpy(&bits, pow43 + a, sizeof bits);
    bits ^= sign;
    float m;
    std::memcpy(&m, &bits, sizeof m);
    out[i] = factor * m;
    result |= v;
  }
  return result;
}

#else  // no AVX2 forms on this architecture

bool HasAvx2() { return false; }
bool HasAvx512() { return false; }
void WindowMonoAvx512(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  WindowMonoPentium(w, ring, position, dest);
}
void WindowStereoAvx512(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  WindowStereoPentium(w, ring, position, dest);
}
void WindowMonoAvx2(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  WindowMonoPentium(w, ring, position, dest);
}
void WindowStereoAvx2(const SynthesisWindow& w, const float* ring, int position, int16_t* dest) {
  WindowStereoPentium(w, ring, position, dest);
}
void LongTransformAvx2(float* x) { LongTransformPentium(x); }
int HybridAvx2(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
               int nonzero_lines, int previous_extent, int synth_subbands) {
  return HybridPentium(lines, previous, out, block_type, mixed, long_lines, nonzero_lines, previous_extent,
                       synth_subbands);
}
void Matrix32Avx2(const float* samples, int stride, float* ring, int position) {
  Matrix32Scalar(samples, stride, ring, position);
}
int32_t RequantizeRunAvx2(const int32_t*, float*, int, float, const float*) { return 0; }
void AliasReductionAvx2(float* x, int boundaries) { AliasReductionX87(x, boundaries); }

#endif

}  // namespace plumo
