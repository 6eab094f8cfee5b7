// The x87-named kernels in portable scalar code (double precision, round to nearest even with
// clipping), the hybrid filterbank's tables and the 32-point matrixing. Processors with AVX2 run
// the vector forms of kernels_avx2.cpp instead, which give exactly the same values.
#include <numbers>

#include "kernels.h"

namespace plumo {

HybridTables::HybridTables() {
  const double pi = std::numbers::pi;
  const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
  for (int i = 0; i < 8; ++i) {
    const double sq = std::sqrt(1.0 + c[i] * c[i]);
    alias_cs_d[i] = 1.0 / sq;
    alias_ca_d[i] = c[i] / sq;
    alias_cs[i] = static_cast<float>(alias_cs_d[i]);
    alias_ca[i] = static_cast<float>(alias_ca_d[i]);
  }
  for (int i = 0; i < 36; ++i) {
    const double s36 = std::sin(pi / 36.0 * (i + 0.5));
    win[0][i] = static_cast<float>(s36);
    win[1][i] = static_cast<float>(i < 18 ? s36 : i < 24 ? 1.0 : i < 30 ? std::sin(pi / 12.0 * (i - 18 + 0.5)) : 0.0);
    win[3][i] = static_cast<float>(i < 6 ? 0.0 : i < 12 ? std::sin(pi / 12.0 * (i - 6 + 0.5)) : i < 18 ? 1.0 : s36);
    win[2][i] = static_cast<float>(i < 12 ? std::sin(pi / 12.0 * (i + 0.5)) : 0.0);
  }
  for (int k = 0; k < 18; ++k)
    for (int n = 0; n < 20; ++n) dct18_cols[k][n] = 0.0;
  for (int n = 0; n < 18; ++n)
    for (int k = 0; k < 18; ++k) {
      dct18[n][k] = std::cos(pi * (2 * n + 1) * (2 * k + 1) / 72.0);
      dct18_f[n][k] = static_cast<float>(dct18[n][k]);
      dct18_cols[k][n] = dct18[n][k];
    }
  for (int k = 0; k < 18; ++k) dct18_scale[k] = 0.5 / std::cos((2 * k + 1) * pi / 72.0);
  for (int m = 0; m < 9; ++m)
    for (int k = 0; k < 9; ++k) {
      dct9_even[m][k] = std::cos(m * (2 * k + 1) * pi / 18.0);
      dct9_odd[m][k] = std::cos((2 * m + 1) * (2 * k + 1) * pi / 36.0);
    }
  for (int r = 0; r < 4; ++r)
    for (int i = 0; i < 36; ++i) win_d[r][i] = win[r][i];
  auto lanes = [](Lanes4& l, double v) { l.v[0] = l.v[1] = l.v[2] = l.v[3] = v; };
  for (int k = 0; k < 18; ++k) lanes(dct18_scale_v[k], dct18_scale[k]);
  for (int m = 0; m < 9; ++m) {
    for (int k = 0; k < 4; ++k) lanes(dct9_even_v[m][k], dct9_even[m][k]);
    for (int k = 0; k < 9; ++k) lanes(dct9_odd_v[m][k], dct9_odd[m][k]);
  }
  // The second half of each row negated: the unfolded values there are the negated transform.
  for (int r = 0; r < 4; ++r)
    for (int i = 0; i < 36; ++i) lanes(win_v[r][i], i < 18 ? win_d[r][i] : -win_d[r][i]);
  for (int n = 0; n < 6; ++n)
    for (int k = 0; k < 6; ++k) {
      dct6[n][k] = std::cos(pi * (2 * n + 1) * (2 * k + 1) / 24.0);
      dct6_f[n][k] = static_cast<float>(dct6[n][k]);
    }
}

const HybridTables& GetHybridTables() {
  static const HybridTables tables;
  return tables;
}

// --- Window kernels ----------------------------------------------------------------------------

void WindowMonoPentium(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  double sums[32];
  WindowSums<double>(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[j] = PcmRoundClip(sums[j]);
}

void WindowStereoPentium(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  double sums[32];
  WindowSums<double>(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[2 * j] = PcmRoundClip(sums[j]);
}

namespace {
// Clipping without branches (NaN becomes 0), then rounding in the current mode.
inline int16_t PcmClipRound(double v) {
  v = v == v ? v : 0.0;
  v = v < -32768.0 ? -32768.0 : v;
  v = v > 32767.0 ? 32767.0 : v;
  return static_cast<int16_t>(std::nearbyint(v));
}
}  // namespace

void WindowMonoCmov(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  double sums[32];
  WindowSums<double>(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[j] = PcmClipRound(sums[j]);
}

void WindowStereoCmov(const SynthesisWindow& w, const RingValue* ring, int position, int16_t* dest) {
  double sums[32];
  WindowSums<double>(w, ring, position, sums);
  for (int j = 0; j < 32; ++j) dest[2 * j] = PcmClipRound(sums[j]);
}

// --- Alias reduction -----------------------------------------------------------------------------

void AliasReductionX87(float* x, int boundaries) {
  const HybridTables& t = GetHybridTables();
  for (int b = 1; b <= boundaries; ++b) {
    float* lo = x + 18 * b - 1;
    float* hi = x + 18 * b;
    for (int i = 0; i < 8; ++i) {
      const double l = lo[-i], h = hi[i];
      lo[-i] = static_cast<float>(l * t.alias_cs_d[i] - h * t.alias_ca_d[i]);
      hi[i] = static_cast<float>(h * t.alias_cs_d[i] + l * t.alias_ca_d[i]);
    }
  }
}

// --- Transforms ----------------------------------------------------------------------------------

void LongTransformPentium(float* x) {
  double y[18];
  LongDct<double>(GetHybridTables(), x, y);
  for (int n = 0; n < 18; ++n) x[n] = static_cast<float>(y[n]);
}

void ShortTransformX87(float* x) {
  const HybridTables& t = GetHybridTables();
  double z[3][6];
  for (int w = 0; w < 3; ++w) ShortDct<double>(t, x, w, z[w]);
  for (int w = 0; w < 3; ++w)
    for (int n = 0; n < 6; ++n) x[6 * w + n] = static_cast<float>(z[w][n]);
}

void ShortTransformPentium(float* x) { ShortTransformX87(x); }

// --- Hybrid filterbank ---------------------------------------------------------------------------

int HybridPentium(float* lines, const float* previous, float* out, int block_type, bool mixed, int long_lines,
                  int nonzero_lines, int previous_extent, int synth_subbands) {
  const HybridTables& t = GetHybridTables();
  const int L = (long_lines + 17) / 18, N = (nonzero_lines + 17) / 18, P = (previous_extent + 17) / 18;
  int sb = 0;
  for (; sb < L; ++sb) LongSubbandX87(t, LongWindowRowWide(t, block_type, mixed, sb), lines, previous, out, sb);
  return HybridTail<double>(t, lines, previous, out, sb, N, P, synth_subbands);
}

// --- Matrixing -------------------------------------------------------------------------------------

MatrixTable::MatrixTable() {
  for (int k = 0; k < 16; ++k)
    for (int m = 0; m < 32; ++m) cols[k][m] = static_cast<float>(std::cos((2 * k + 1) * m * std::numbers::pi / 64.0));
}

const MatrixTable& GetMatrixTable() {
  static const MatrixTable table;
  return table;
}

void Matrix32Scalar(const float* samples, int stride, RingValue* ring, int position) {
  const MatrixTable& t = GetMatrixTable();
  float sum[16], diff[16];
  for (int k = 0; k < 16; ++k) {
    const float a = samples[k * stride], b = samples[(31 - k) * stride];
    sum[k] = a + b;
    diff[k] = a - b;
  }
  RingValue* out = ring + position;
  for (int m = 0; m < 32; ++m) {
    const float* p = (m & 1) ? diff : sum;
    float even = 0.0f, odd = 0.0f;
    for (int k = 0; k < 16; k += 2) {
      even += t.cols[k][m] * p[k];
      odd += t.cols[k + 1][m] * p[k + 1];
    }
    out[m] = out[kRingSize + m] = static_cast<RingValue>(even + odd);
  }
}

}  // namespace plumo
