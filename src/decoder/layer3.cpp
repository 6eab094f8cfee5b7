// Layer III frame decoding: side information, the main-data reservoir, scale factors, the
// granule driver with requantization and stereo processing, alias reduction, the hybrid
// filterbank (IMDCT, windows, overlap-add) and the channel stages that hand time slots to
// synthesis. ISO/IEC 11172-3 and, for the low sampling frequencies, ISO/IEC 13818-3.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include "decoder_context.h"
#include "huffman.h"
#include "kernels.h"
#include "layer3_tables.h"

namespace plumo {
namespace {

constexpr int kMainDataCompactAt = 6692;
constexpr int kLines = 576;

struct Layer3Tables {
  float gain[262];        // 2^((g - 210) / 4) * 32768 for g = -6 .. 255 at index g + 6
  float pow43[8207];      // |x|^(4/3)
  float sf_factor[2][64]; // 2^(-(1 + scale) / 2 * s)
  float subblock[8];      // 2^(-2 * sbg)
  float is_ratio[2][8][2];         // MPEG-1 intensity ratios; [ms][position][left, right]
  float lsf_is[2][2][64][2];       // LSF ratios; [intensity_scale][ms][position][left, right]

  Layer3Tables() {
    const double pi = std::numbers::pi;
    for (int g = -6; g <= 255; ++g) gain[g + 6] = static_cast<float>(std::pow(2.0, (g - 210) / 4.0) * 32768.0);
    for (int i = 0; i < 8207; ++i) pow43[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
    for (int s = 0; s < 2; ++s)
      for (int v = 0; v < 64; ++v) sf_factor[s][v] = static_cast<float>(std::pow(2.0, -(1.0 + s) / 2.0 * v));
    for (int i = 0; i < 8; ++i) subblock[i] = static_cast<float>(std::pow(2.0, -2.0 * i));
    for (int p = 0; p < 7; ++p) {
      const double t = std::tan(p * pi / 12.0);
      const double l = t / (1.0 + t), r = 1.0 / (1.0 + t);
      is_ratio[0][p][0] = static_cast<float>(l);
      is_ratio[0][p][1] = static_cast<float>(r);
      is_ratio[1][p][0] = static_cast<float>(l * std::numbers::sqrt2);
      is_ratio[1][p][1] = static_cast<float>(r * std::numbers::sqrt2);
    }
    is_ratio[0][7][0] = 1.0f, is_ratio[0][7][1] = 0.0f;
    is_ratio[1][7][0] = 1.0f, is_ratio[1][7][1] = 1.0f;
    for (int scale = 0; scale < 2; ++scale) {
      const double base = std::pow(2.0, -(1.0 + scale) / 4.0);
      for (int ms = 0; ms < 2; ++ms) {
        const double m = ms ? std::numbers::sqrt2 : 1.0;
        for (int p = 0; p < 64; ++p) {
          double l = 1.0, r = 1.0;
          if (p & 1)
            l = std::pow(base, (p + 1) / 2);
          else if (p)
            r = std::pow(base, p / 2);
          lsf_is[scale][ms][p][0] = static_cast<float>(l * m);
          lsf_is[scale][ms][p][1] = static_cast<float>(r * m);
        }
      }
    }
  }
};

const Layer3Tables& T() {
  static const Layer3Tables tables;
  return tables;
}

// ---------------------------------------------------------------------------------------------
// Hybrid filterbank.

// Adds a second channel's transform onto `out` and its overlap into the first channel's buffer.
int AddSecondChannel(const KernelSet& k, float* lines, float* first, float* out, int block_type, bool mixed,
                     int long_lines, int nonzero_lines) {
  const HybridTables& t = GetHybridTables();
  const int L = (long_lines + 17) / 18, N = (nonzero_lines + 17) / 18;
  int sb = 0;
  for (; sb < L; ++sb) {
    const float* window = LongWindowRow(t, block_type, mixed, sb);
    float* v = lines + 18 * sb;
    k.long_transform_kernel(v);
    float x[36];
    for (int j = 0; j < 9; ++j) {
      x[j] = v[9 + j];
      x[9 + j] = -v[17 - j];
      x[18 + j] = -v[8 - j];
      x[27 + j] = -v[j];
    }
    for (int i = 0; i < 18; ++i) out[32 * i + sb] += window[i] * x[i];
    for (int i = 0; i < 18; ++i) first[18 * sb + i] += window[18 + i] * x[18 + i];
  }
  for (; sb < N; ++sb) {
    float* v = lines + 18 * sb;
    k.short_transform_kernel(v);
    float block[36] = {};
    for (int w = 0; w < 3; ++w) {
      const float* z = v + 6 * w;
      float x[12];
      for (int j = 0; j < 3; ++j) {
        x[j] = z[3 + j];
        x[3 + j] = -z[5 - j];
        x[6 + j] = -z[2 - j];
        x[9 + j] = -z[j];
      }
      for (int i = 0; i < 12; ++i) block[6 + 6 * w + i] += x[i] * t.win[2][i];
    }
    for (int i = 0; i < 18; ++i) out[32 * i + sb] += block[i];
    for (int i = 0; i < 18; ++i) first[18 * sb + i] += block[18 + i];
  }
  return 18 * sb;
}

void InvertOddSubbands(float* out, int extent) {
  const int limit = 2 * ((extent + 17) / 36);
  for (int sb = 1; sb < limit; sb += 2)
    for (int t = 1; t < 18; t += 2) out[32 * t + sb] = -out[32 * t + sb];
}

// Long and total line counts of a channel's granule for the transform, within the decode limit.
void TransformCounts(const DecoderContext& ctx, int c, int parity, int& long_lines, int& count) {
  const Layer3State& s = ctx.l3;
  const GranuleInfo& gi = s.gi[parity][c];
  count = std::min(s.nonzero[c], s.decode_limit);
  if (gi.block_type != 2)
    long_lines = count;
  else
    long_lines = std::min(gi.mixed_block_flag ? 36 : 0, s.decode_limit);
}

void TransformChannel(DecoderContext& ctx, int c, int parity, float* timeslots) {
  Layer3State& s = ctx.l3;
  int long_lines, count;
  TransformCounts(ctx, c, parity, long_lines, count);
  s.overlap_extent[c][parity] =
      ctx.kernels.hybrid_kernel(GranuleBuffer(ctx, c, parity), GranuleBuffer(ctx, c, parity ^ 1), timeslots,
                   s.gi[parity][c].block_type, s.gi[parity][c].mixed_block_flag != 0, long_lines, count, s.overlap_extent[c][parity ^ 1],
                   ctx.synth_subbands);
}

void StageSingle(DecoderContext& ctx, int16_t* pcm, int parity, int c) {
  TransformChannel(ctx, c, parity, ctx.l3.timeslots);
  InvertOddSubbands(ctx.l3.timeslots, ctx.l3.overlap_extent[c][parity]);
  ctx.layer3_output_stage(ctx, ctx.l3.timeslots, pcm, 0);
}

void Stage0(DecoderContext& ctx, int16_t* pcm, int parity) { StageSingle(ctx, pcm, parity, 0); }
void Stage4(DecoderContext& ctx, int16_t* pcm, int parity) { StageSingle(ctx, pcm, parity, 1); }

// Both channels are transformed first, so that the vector kernels can synthesise them together.
void Stage1(DecoderContext& ctx, int16_t* pcm, int parity) {
  Layer3State& s = ctx.l3;
  float* timeslots[2] = {s.timeslots, s.timeslots_second};
  for (int c = 0; c < 2; ++c) {
    TransformChannel(ctx, c, parity, timeslots[c]);
    InvertOddSubbands(timeslots[c], s.overlap_extent[c][parity]);
  }
  if (ctx.output_channels == 2 && Layer3BothChannels(ctx, timeslots[0], timeslots[1], pcm)) return;
  for (int c = 0; c < 2; ++c) ctx.layer3_output_stage(ctx, timeslots[c], pcm, c);
}

// Both channels mixed into one (each already at half amplitude through the gain bias).
void Stage2(DecoderContext& ctx, int16_t* pcm, int parity) {
  Layer3State& s = ctx.l3;
  const GranuleInfo& g0 = s.gi[parity][0];
  const GranuleInfo& g1 = s.gi[parity][1];
  float* l0 = GranuleBuffer(ctx, 0, parity);
  float* l1 = GranuleBuffer(ctx, 1, parity);
  int extent;
  if (g0.block_type == g1.block_type && !g0.mixed_block_flag && !g1.mixed_block_flag) {
    const int n = std::min(std::max(s.nonzero[0], s.nonzero[1]), s.decode_limit);
    for (int i = 0; i < n; ++i) l0[i] += l1[i];
    extent = ctx.kernels.hybrid_kernel(l0, GranuleBuffer(ctx, 0, parity ^ 1), s.timeslots, g0.block_type, false,
                          g0.block_type == 2 ? 0 : n, n, s.overlap_extent[0][parity ^ 1], ctx.synth_subbands);
    s.overlap_extent[0][parity] = extent;
  } else {
    // Capped at the decode limit like every other stage: lines above it are not transformed.
    int long0, count0, long1, count1;
    TransformCounts(ctx, 0, parity, long0, count0);
    TransformCounts(ctx, 1, parity, long1, count1);
    const int e0 = ctx.kernels.hybrid_kernel(l0, GranuleBuffer(ctx, 0, parity ^ 1), s.timeslots, g0.block_type,
                                g0.mixed_block_flag != 0, long0, count0,
                                s.overlap_extent[0][parity ^ 1], ctx.synth_subbands);
    const int e1 = AddSecondChannel(ctx.kernels, l1, l0, s.timeslots, g1.block_type, g1.mixed_block_flag != 0, long1, count1);
    s.overlap_extent[1][parity] = e1;
    // The second channel's overlap was added into the first channel's buffer: carry the larger
    // extent there so none of it is dropped.
    extent = std::max(e0, e1);
    s.overlap_extent[0][parity] = extent;
  }
  InvertOddSubbands(s.timeslots, extent);
  ctx.layer3_output_stage(ctx, s.timeslots, pcm, 0);
}

// Left only (v = 3) is the single-channel stage on channel 0.
constexpr ChannelStageFn kChannelStages[5] = {Stage0, Stage1, Stage2, Stage0, Stage4};

// ---------------------------------------------------------------------------------------------
// Scale factors.

void ReadScalefactorsMpeg1(DecoderContext& ctx, int* sf, const GranuleInfo& gi, int scfsi, int granule, int channel) {
  BitReader& br = ctx.main_reader;
  const int slen1 = kSlen[gi.scalefac_compress][0], slen2 = kSlen[gi.scalefac_compress][1];
  if (gi.block_type == 2) {
    int band = 0;
    if (gi.mixed_block_flag) {
      for (int b = 0; b < 8; ++b) sf[b] = static_cast<int>(br.ReadBits(slen1));
      band = 3;
    }
    for (int b = band; b < 12; ++b) {
      const int bits = b < 6 ? slen1 : slen2;
      for (int w = 0; w < 3; ++w) sf[23 + 13 * w + b] = static_cast<int>(br.ReadBits(bits));
    }
    for (int w = 0; w < 3; ++w) sf[23 + 13 * w + 12] = 0;
    return;
  }
  static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
  const int* first = ctx.l3.scalefactors[0][channel];
  for (int g = 0; g < 4; ++g) {
    const bool share = granule == 1 && (scfsi & (8 >> g));
    const int bits = g < 2 ? slen1 : slen2;
    for (int b = kGroupStart[g]; b < kGroupStart[g + 1]; ++b)
      sf[b] = share ? first[b] : static_cast<int>(br.ReadBits(bits));
  }
  sf[21] = 0;
}

void ReadScalefactorsLsf(DecoderContext& ctx, int* sf, GranuleInfo& gi, bool intensity_right) {
  Layer3State& s = ctx.l3;
  BitReader& br = ctx.main_reader;
  const int sc = gi.scalefac_compress;
  int slen[4] = {0, 0, 0, 0};
  int table;
  gi.preflag = 0;
  if (!intensity_right) {
    if (sc < 400) {
      slen[0] = (sc >> 4) / 5, slen[1] = (sc >> 4) % 5, slen[2] = (sc % 16) >> 2, slen[3] = sc % 4;
      table = 0;
    } else if (sc < 500) {
      const int t = sc - 400;
      slen[0] = (t >> 2) / 5, slen[1] = (t >> 2) % 5, slen[2] = t % 4;
      table = 1;
    } else {
      const int t = sc - 500;
      slen[0] = t / 3, slen[1] = t % 3;
      table = 2;
      gi.preflag = 1;
    }
  } else {
    s.intensity_scale = sc % 2;
    const int i = sc >> 1;
    if (i < 180) {
      slen[0] = i / 36, slen[1] = (i % 36) / 6, slen[2] = (i % 36) % 6;
      table = 3;
    } else if (i < 244) {
      const int t = i - 180;
      slen[0] = (t >> 4) % 4, slen[1] = (t >> 2) % 4, slen[2] = t % 4;
      table = 4;
    } else {
      const int t = i - 244;
      slen[0] = t / 3, slen[1] = t % 3;
      table = 5;
    }
  }
  const int kind = gi.block_type != 2 ? 0 : (gi.mixed_block_flag ? 2 : 1);
  if (table == 2 && kind == 2) slen[0] = (sc - 500) / 3, slen[1] = (sc - 500) / 3, slen[2] = (sc - 500) % 3, slen[3] = 0;
  const auto& sizes = kLsfPartitionSizes[table][kind];
  if (intensity_right) {
    for (int p = 0; p < 3; ++p) s.is_partition_sizes[p] = sizes[p], s.is_slen[p] = slen[p];
  }
  std::fill(sf, sf + 62, 0);
  auto read = [&](int bits) { return bits ? static_cast<int>(br.ReadBits(bits)) : 0; };
  if (kind == 0) {
    int b = 0;
    for (int p = 0; p < 4; ++p)
      for (int n = 0; n < sizes[p] && b < 22; ++n) sf[b++] = read(slen[p]);
  } else {
    int band = 0;
    int p = 0;
    if (kind == 2) {
      for (int b = 0; b < 6; ++b) sf[b] = read(slen[0]);
      band = 3;
      p = 1;
    }
    for (; p < 4; ++p)
      for (int n = 0; n < sizes[p] && band < 13; ++n, ++band)
        for (int w = 0; w < 3; ++w) sf[23 + 13 * w + band] = read(slen[p]);
  }
}

// ---------------------------------------------------------------------------------------------
// Requantization.

// sign(v) |v|^(4/3) without branches. Huffman values stay below 8207 (15 plus 13 escape bits);
// larger magnitudes cannot occur and are held at the table's end.
inline float Pow43Signed(const float* pow43, int32_t v) {
  const uint32_t sign = static_cast<uint32_t>(v) & 0x80000000u;
  uint32_t a = static_cast<uint32_t>(v < 0 ? -static_cast<int64_t>(v) : v);
  a = a < 8206u ? a : 8206u;
  return std::bit_cast<float>(std::bit_cast<uint32_t>(pow43[a]) ^ sign);
}

}  // namespace

// out[i] = factor sign(in[i]) |in[i]|^(4/3) for i < n; returns the OR of the inputs.
int32_t RequantizeRunScalar(const int32_t* in, float* out, int n, float factor, const float* pow43) {
  int32_t any = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t v = in[i];
    out[i] = factor * Pow43Signed(pow43, v);
    any |= v;
  }
  return any;
}

namespace {

void Requantize(DecoderContext& ctx, int c, int parity) {
  const Layer3Tables& t = T();
  Layer3State& s = ctx.l3;
  const GranuleInfo& gi = s.gi[parity][c];
  const int* sf = s.scalefactors[parity][c];
  const int32_t* in = s.int_lines[c];
  float* out = GranuleBuffer(ctx, c, parity);
  RequantRecord& r = s.rq[c];
  const bool lsf = s.version != 0;
  const float g = t.gain[std::clamp(gi.global_gain, -6, 255) + 6];
  const int scale = gi.scalefac_scale;
  int nonzero = s.nonzero[c];

  r.last_band = -1;
  r.last_long_band = -1;
  r.last_short_band[0] = r.last_short_band[1] = r.last_short_band[2] = -1;
  if (gi.block_type != 2) {
    r.block_kind = 0, r.first_short_band = 12, r.long_bands = 22;
  } else if (gi.mixed_block_flag) {
    r.block_kind = 1, r.first_short_band = 3, r.long_bands = lsf ? 6 : 8;
  } else {
    r.block_kind = 1, r.first_short_band = 0, r.long_bands = 0;
  }

  int done = 0;
  for (int b = 0; b < r.long_bands && done < nonzero; ++b) {
    const int start = s.long_start[b], end = s.long_start[b + 1];
    const int exponent = sf[b] + (gi.preflag ? kPretab[b] : 0);
    const float factor = g * t.sf_factor[scale][std::min(exponent, 63)];
    if (ctx.kernels.requantize_kernel(in + start, out + start, end - start, factor, t.pow43)) r.last_band = b;
    done = end;
  }
  r.last_long_band = r.last_band;
  if (r.block_kind == 1) {
    const int base = 3 * s.short_start[r.first_short_band];
    // The long part of a mixed block ends early when its lines run out: the rest of it still holds
    // an earlier granule's overlap and must read as zero.
    for (int i = done; i < base; ++i) out[i] = 0.0f;
    float* scratch = s.scratch;
    int pos = base;
    for (int b = r.first_short_band; b < 13 && pos < nonzero; ++b) {
      const int width = s.short_start[b + 1] - s.short_start[b];
      for (int w = 0; w < 3; ++w) {
        const float gw = g * t.subblock[gi.subblock_gain[w] & 7];
        const float factor = gw * t.sf_factor[scale][std::min(sf[23 + 13 * w + b], 63)];
        int32_t any = 0;
        for (int k = 0; k < width; ++k) {
          const int32_t v = in[pos + w * width + k];
          scratch[3 * (s.short_start[b] + k) + w - base] = factor * Pow43Signed(t.pow43, v);
          any |= v;
        }
        if (any) r.last_short_band[w] = b;
      }
      pos += 3 * width;
    }
    std::memcpy(out + base, scratch, sizeof(float) * static_cast<size_t>(pos - base));
    nonzero = pos;
    r.last_band = std::max({r.last_short_band[0], r.last_short_band[1], r.last_short_band[2]});
  } else {
    nonzero = std::max(nonzero, done);
  }
  // Lines beyond the processed ones stay zero.
  for (int i = nonzero; i < kLines; ++i) out[i] = 0.0f;
  s.nonzero[c] = nonzero;
}

// End line of the right channel's last nonzero band.
int RightEndLine(const Layer3State& s) {
  const RequantRecord& r = s.rq[1];
  if (r.block_kind == 0) return r.last_band < 0 ? 0 : s.long_start[r.last_band + 1];
  int last = -1;
  for (int w = 0; w < 3; ++w) last = std::max(last, r.last_short_band[w]);
  if (last < 0) {
    // No short line: the long part of a mixed block may still hold lines.
    return r.long_bands && r.last_long_band >= 0 ? s.long_start[r.last_long_band + 1] : 0;
  }
  return 3 * s.short_start[last + 1];
}

// Calls fn(band, first line, end line) for each long band in [first, end), within the left
// channel's nonzero lines.
template <typename Fn>
void ForEachLongBandWithin(const Layer3State& s, int first, int end, Fn fn) {
  const int left_count = s.nonzero[0];
  for (int b = first; b < end; ++b) {
    const int start = s.long_start[b];
    if (start >= left_count) break;
    fn(b, start, std::min(s.long_start[b + 1], left_count));
  }
}

// The intensity-coded long bands: above the right channel's last nonzero band up to band 21 (the
// top one, without a position of its own) for long blocks. In a mixed block whose right channel
// has no nonzero short band the intensity region starts inside the long part: its bands above
// the last nonzero one are coded with the long positions (the short part then follows from its first band in every window).
template <typename Fn>
void ForEachIntensityLongBand(const Layer3State& s, Fn fn) {
  const RequantRecord& r = s.rq[1];
  if (r.block_kind == 0) {
    ForEachLongBandWithin(s, r.last_band + 1, 22, fn);
    return;
  }
  if (r.long_bands == 0) return;
  for (int w = 0; w < 3; ++w)
    if (r.last_short_band[w] >= 0) return;
  ForEachLongBandWithin(s, r.last_long_band + 1, r.long_bands, fn);
}

// The top band (long 21, short 12 in a window) carries no position of its own: it takes the one
// of the band below when that band is intensity-coded too (the right channel's last nonzero band
// lies below it). Otherwise an MPEG-1 top band is decoded as plain or middle/side stereo, and an
// LSF one with position 0 (both channels at full weight), as the reference decoders do.
bool TopBandTakesPosition(int last_nonzero_band, int below_top) { return last_nonzero_band < below_top; }

void IntensityMpeg1(DecoderContext& ctx, int parity) {
  const Layer3Tables& t = T();
  Layer3State& s = ctx.l3;
  float* L = GranuleBuffer(ctx, 0, parity);
  float* R = GranuleBuffer(ctx, 1, parity);
  const int* sf = s.scalefactors[parity][1];
  const int ms = s.ms ? 1 : 0;
  const RequantRecord& r = s.rq[1];
  const int left_count = s.nonzero[0];
  ForEachIntensityLongBand(s, [&](int b, int start, int end) {
    const int p = b < 21 ? std::min(sf[b], 7) : TopBandTakesPosition(r.last_band, 20) ? std::min(sf[20], 7) : 7;
    const float kl = t.is_ratio[ms][p][0], kr = t.is_ratio[ms][p][1];
    for (int i = start; i < end; ++i) {
      const float v = L[i];
      L[i] = v * kl;
      R[i] = v * kr;
    }
  });
  if (r.block_kind == 0) return;
  for (int w = 0; w < 3; ++w) {
    for (int b = std::max(r.last_short_band[w] + 1, r.first_short_band); b < 13; ++b) {
      const int width = s.short_start[b + 1] - s.short_start[b];
      const int* position = sf + 23 + 13 * w;
      const int p = b < 12 ? std::min(position[b], 7)
                           : TopBandTakesPosition(r.last_short_band[w], 11) ? std::min(position[11], 7) : 7;
      const float kl = t.is_ratio[ms][p][0], kr = t.is_ratio[ms][p][1];
      for (int k = 0; k < width; ++k) {
        const int i = 3 * (s.short_start[b] + k) + w;
        if (i >= left_count) break;
        const float v = L[i];
        L[i] = v * kl;
        R[i] = v * kr;
      }
    }
  }
}

// The illegal intensity position (2^slen - 1) of the partition that holds band b of the right
// channel. Bands past the three intensity partitions lie in a partition of slen 0 (the fourth of
// partition table 4), whose only position, 0, is the illegal one.
int LsfIllegalPosition(const Layer3State& s, int band, bool short_band, bool mixed) {
  int b = band;
  int p = 0;
  if (short_band && mixed) {
    b -= 3;  // the mixed block's short bands start at 3, in partition 1
    p = 1;
  }
  for (; p < 3; ++p) {
    if (b < s.is_partition_sizes[p]) return (1 << s.is_slen[p]) - 1;
    b -= s.is_partition_sizes[p];
  }
  return 0;
}

void IntensityLsf(DecoderContext& ctx, int parity) {
  const Layer3Tables& t = T();
  Layer3State& s = ctx.l3;
  float* L = GranuleBuffer(ctx, 0, parity);
  float* R = GranuleBuffer(ctx, 1, parity);
  const int* sf = s.scalefactors[parity][1];
  const int ms = s.ms ? 1 : 0;
  const RequantRecord& r = s.rq[1];
  const RequantRecord& rl = s.rq[0];
  auto apply = [&](int p, int illegal, int i) {
    const float v = L[i];
    if (p == illegal) {
      R[i] = ms ? v : 0.0f;
      return;
    }
    const float* k = t.lsf_is[s.intensity_scale][ms][std::min(p, 63)];
    L[i] = v * k[0];
    R[i] = v * k[1];
  };
  ForEachIntensityLongBand(s, [&](int b, int start, int end) {
    // from: the band whose position applies; -1: position 0, which is never the illegal one here.
    const int from = b < 21 ? b : TopBandTakesPosition(r.last_band, 20) ? 20 : -1;
    const int illegal = from < 0 ? -1 : LsfIllegalPosition(s, from, false, false);
    const int p = from < 0 ? 0 : sf[from];
    for (int i = start; i < end; ++i) apply(p, illegal, i);
  });
  if (r.block_kind == 0) return;
  const bool mixed = r.long_bands != 0;
  for (int w = 0; w < 3; ++w) {
    const int top = std::min(rl.last_short_band[w], 12);
    for (int b = std::max(r.last_short_band[w] + 1, r.first_short_band); b <= top; ++b) {
      const int width = s.short_start[b + 1] - s.short_start[b];
      const int from = b < 12 ? b : TopBandTakesPosition(r.last_short_band[w], 11) ? 11 : -1;
      const int illegal = from < 0 ? -1 : LsfIllegalPosition(s, from, true, mixed);
      const int p = from < 0 ? 0 : sf[23 + 13 * w + from];
      for (int k = 0; k < width; ++k) apply(p, illegal, 3 * (s.short_start[b] + k) + w);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Granule driver.

void DecodeGranule(DecoderContext& ctx, int16_t* pcm, int parity) {
  Layer3State& s = ctx.l3;
  const int N = s.decode_limit;
  for (int c = 0; c < s.channels; ++c) {
    GranuleInfo& gi = s.gi[parity][c];
    BitReader& br = ctx.main_reader;
    // Damaged part2_3_length values can move the start past the filled part of the reservoir:
    // the reader then sees no bytes at all (it reads zeros) rather than stale or foreign memory.
    const int start_byte = std::min(s.bit_position / 8, s.main_fill);
    const int skip = s.bit_position / 8 < s.main_fill ? s.bit_position % 8 : 0;
    br.Start(s.main_data + start_byte, static_cast<size_t>(s.main_fill - start_byte));
    br.SkipBits(skip);
    s.bit_position += gi.part2_3_length;
    const int end_bit = s.bit_position;
    const size_t end_byte = static_cast<size_t>((end_bit + 39) / 8 - start_byte);

    int* sf = s.scalefactors[parity][c];
    if (s.version == 0)
      ReadScalefactorsMpeg1(ctx, sf, gi, s.scfsi[c], parity, c);
    else
      ReadScalefactorsLsf(ctx, sf, gi, c == 1 && s.intensity);

    int32_t* lines = s.int_lines[c];
    const int v = std::min(2 * gi.big_values, N);
    // Region boundaries are long-band ends (36 and 576 for short blocks by their region counts).
    int r1 = s.long_start[std::min(gi.region0_count + 1, 22)];
    int r2 = s.long_start[std::min(gi.region0_count + gi.region1_count + 2, 22)];
    r1 = std::min(r1, v);
    r2 = std::min(r2, v);
    DecodeBigValues(br, end_byte, lines, r1, gi.table_select[0]);
    DecodeBigValues(br, end_byte, lines + r1, r2 - r1, gi.table_select[1]);
    DecodeBigValues(br, end_byte, lines + r2, v - r2, gi.table_select[2]);
    const int used = br.BitPosition() - skip;
    const int count1 =
        DecodeCount1(br, end_byte, lines + v, N - v, gi.part2_3_length - used, gi.count1table_select);
    int nonzero = v + count1;
    const int cap = gi.block_type == 2 ? s.short_cap : s.long_cap;
    for (int i = std::min(nonzero, cap); i < kLines; ++i) lines[i] = 0;
    if (br.BytePosition() > end_byte) {
      std::memset(lines, 0, sizeof(int32_t) * kLines);
      nonzero = 0;
    }
    s.nonzero[c] = std::min(nonzero, kLines);
  }

  for (int c = 0; c < s.channels; ++c) Requantize(ctx, c, parity);

  if (s.channels == 2) {
    float* L = GranuleBuffer(ctx, 0, parity);
    float* R = GranuleBuffer(ctx, 1, parity);
    if (s.ms) {
      const int n = s.intensity ? RightEndLine(s) : std::max(s.nonzero[0], s.nonzero[1]);
      for (int i = 0; i < n; ++i) {
        const float l = L[i], r = R[i];
        L[i] = l + r;
        R[i] = l - r;
      }
    }
    if (s.intensity) {
      if (s.version == 0)
        IntensityMpeg1(ctx, parity);
      else
        IntensityLsf(ctx, parity);
    }
    if (s.mode_extension != 0) s.nonzero[0] = s.nonzero[1] = std::max(s.nonzero[0], s.nonzero[1]);
  }

  for (int c = 0; c < s.channels; ++c) {
    const GranuleInfo& gi = s.gi[parity][c];
    if (s.rq[c].long_bands == 0) continue;
    const int k = (gi.block_type == 2 && gi.mixed_block_flag) ? 1 : std::min((s.nonzero[c] + 7) / 18, 31);
    ctx.kernels.alias_reduction_kernel(GranuleBuffer(ctx, c, parity), k);
    s.nonzero[c] = std::max(s.nonzero[c], 18 * k + 8);
  }

  if (ctx.line_eq_on) {
    for (int c = 0; c < s.channels; ++c) {
      float* x = GranuleBuffer(ctx, c, parity);
      for (int i = 0; i < s.nonzero[c]; ++i) x[i] *= ctx.line_gains[i];
    }
  }

  // A one-channel frame in a stream set up for two channels plays on both.
  if (s.channels == 1 && ctx.stream_channels == 2) {
    std::memcpy(GranuleBuffer(ctx, 1, parity), GranuleBuffer(ctx, 0, parity), sizeof(float) * kLines);
    s.nonzero[1] = s.nonzero[0];
    s.gi[parity][1] = s.gi[parity][0];
    s.rq[1] = s.rq[0];
  }
  // A two-channel frame in a stream set up for one channel plays both channels mixed (each at
  // half amplitude through the gain bias of the frame).
  if (s.channels == 2 && ctx.stream_channels == 1)
    Stage2(ctx, pcm, parity);
  else
    ctx.channel_stage(ctx, pcm, parity);
}

// ---------------------------------------------------------------------------------------------
// Frame decoders.

constexpr int kBitrateKbps[2][16] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
constexpr int kFreq50[2][4] = {{441, 480, 320, 0}, {882, 960, 640, 0}};

void ReadGranuleInfo(BitReader& br, GranuleInfo& gi, bool lsf, int gain_adjust) {
  gi.part2_3_length = static_cast<int>(br.ReadBits(12));
  gi.big_values = static_cast<int>(br.ReadBits(9));
  gi.global_gain = static_cast<int>(br.ReadBits(8)) + gain_adjust;
  gi.scalefac_compress = static_cast<int>(br.ReadBits(lsf ? 9 : 4));
  gi.window_switching_flag = static_cast<int>(br.ReadBits(1));
  if (gi.window_switching_flag) {
    gi.block_type = static_cast<int>(br.ReadBits(2));
    gi.mixed_block_flag = static_cast<int>(br.ReadBits(1));
    gi.table_select[0] = static_cast<int>(br.ReadBits(5));
    gi.table_select[1] = static_cast<int>(br.ReadBits(5));
    for (int w = 0; w < 3; ++w) gi.subblock_gain[w] = static_cast<int>(br.ReadBits(3));
    if (lsf && gi.block_type == 2)
      gi.region0_count = 5, gi.region1_count = 15;
    else
      gi.region0_count = 7, gi.region1_count = 13;
  } else {
    gi.block_type = 0;
    gi.mixed_block_flag = 0;
    for (int i = 0; i < 3; ++i) gi.table_select[i] = static_cast<int>(br.ReadBits(5));
    gi.subblock_gain[0] = gi.subblock_gain[1] = gi.subblock_gain[2] = 0;
    gi.region0_count = static_cast<int>(br.ReadBits(4));
    gi.region1_count = static_cast<int>(br.ReadBits(3));
  }
  gi.preflag = lsf ? 0 : static_cast<int>(br.ReadBits(1));
  gi.scalefac_scale = static_cast<int>(br.ReadBits(1));
  gi.count1table_select = static_cast<int>(br.ReadBits(1));
}

DecodeResult DecodeLayer3Common(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm, bool lsf) {
  Layer3State& s = ctx.l3;
  BitReader& br = ctx.main_reader;
  ++s.frame_counter;
  br.Start(frame, size);
  const uint32_t sync = br.ReadBits(12);
  if (!lsf) {
    if (sync != 0xFFF) return {};
  } else {
    if (sync == 0xFFF)
      s.mpeg25 = false;
    else if (sync == 0xFFE)
      s.mpeg25 = true;
    else
      return {};
  }
  const int id = static_cast<int>(br.ReadBits(1));
  br.ReadBits(2);
  const int protection_bit = static_cast<int>(br.ReadBits(1));
  const int bitrate_index = static_cast<int>(br.ReadBits(4));
  const int sampling_frequency = static_cast<int>(br.ReadBits(2));
  s.padding = static_cast<int>(br.ReadBits(1));
  br.ReadBits(1);
  s.mode = static_cast<int>(br.ReadBits(2));
  s.mode_extension = static_cast<int>(br.ReadBits(2));
  if (s.mode != 1) s.mode_extension = 0;
  br.ReadBits(4);
  s.crc_length = 0;
  if (protection_bit == 0) {
    br.ReadBits(16);
    s.crc_length = 2;
  }
  if (bitrate_index > 0 && bitrate_index < 15 && sampling_frequency < 3) {
    const int kbps = kBitrateKbps[lsf ? 0 : 1][bitrate_index];
    const int f50 = kFreq50[id][sampling_frequency];
    s.frame_length = (lsf && !s.mpeg25 ? 1440 : 2880) * kbps / f50;
  } else if (bitrate_index == 0) {
    s.frame_length = ctx.frame_length;
  } else {
    return {};
  }

  s.channels = s.mode == 3 ? 1 : 2;
  s.ms = (s.mode_extension & 2) != 0;
  s.intensity = (s.mode_extension & 1) != 0;
  const bool mixed = s.channels == 2 && ctx.stream_channels == 1;
  const int gain_adjust = s.gain_bias + (mixed ? -4 : 0) + (s.ms ? -2 : 0);
  int side_size;
  if (!lsf) {
    s.main_data_begin = static_cast<int>(br.ReadBits(9));
    s.private_bits = static_cast<int>(br.ReadBits(s.channels == 1 ? 5 : 3));
    for (int c = 0; c < s.channels; ++c) s.scfsi[c] = static_cast<int>(br.ReadBits(4));
    for (int g = 0; g < 2; ++g)
      for (int c = 0; c < s.channels; ++c) ReadGranuleInfo(br, s.gi[g][c], false, gain_adjust);
    side_size = s.channels == 1 ? 21 : 36;
  } else {
    s.main_data_begin = static_cast<int>(br.ReadBits(8));
    s.private_bits = static_cast<int>(br.ReadBits(s.channels == 1 ? 1 : 2));
    s.scfsi[0] = s.scfsi[1] = 0;
    for (int c = 0; c < s.channels; ++c) ReadGranuleInfo(br, s.gi[s.lsf_parity][c], true, gain_adjust);
    side_size = s.channels == 1 ? 13 : 21;
  }

  const int full_length = s.frame_length + s.padding;
  s.frame_start = s.main_fill - s.main_data_begin;
  if (s.main_fill > kMainDataCompactAt) {
    const int keep = std::min(s.main_data_begin, s.main_fill);
    std::memmove(s.main_data, s.main_data + s.main_fill - keep, static_cast<size_t>(keep));
    s.frame_start = keep - s.main_data_begin;
    s.main_fill = keep;
  }
  const int main_size = full_length - side_size - s.crc_length;
  if (main_size < 0 || main_size > Layer3State::kMainDataSize - s.main_fill) return {};
  // Only the bytes the frame really has are appended.
  const int offset = side_size + s.crc_length;
  const int available = static_cast<int>(std::min<size_t>(size, static_cast<size_t>(full_length))) - offset;
  const int copy = std::clamp(available, 0, main_size);
  std::memcpy(s.main_data + s.main_fill, frame + offset, static_cast<size_t>(copy));
  std::memset(s.main_data + s.main_fill + copy, 0, static_cast<size_t>(main_size - copy));
  s.main_fill += main_size;

  if (s.frame_start < 0) {
    std::memset(pcm, ctx.silence_byte, static_cast<size_t>(ctx.pcm_bytes_per_frame));
  } else {
    s.bit_position = s.frame_start * 8;
    int16_t* out = reinterpret_cast<int16_t*>(pcm);
    if (!lsf) {
      DecodeGranule(ctx, out, 0);
      DecodeGranule(ctx, out + ctx.pcm_bytes_per_granule / 2, 1);
    } else {
      DecodeGranule(ctx, out, s.lsf_parity);
    }
  }
  if (lsf) s.lsf_parity ^= 1;
  return {full_length, ctx.pcm_bytes_per_frame};
}

DecodeResult DecodeMpeg1Layer3(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm) {
  return DecodeLayer3Common(ctx, frame, size, pcm, false);
}

DecodeResult DecodeLsfLayer3(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm) {
  return DecodeLayer3Common(ctx, frame, size, pcm, true);
}

}  // namespace

float* GranuleBuffer(DecoderContext& ctx, int channel, int parity) {
  return ctx.samples + (channel * 2 + parity) * kLines;
}

int SetupLayer3(DecoderContext& ctx, const FrameHeader& h) {
  Layer3State& s = ctx.l3;
  s.version = h.id == 1 ? 0 : (h.sync_kind == 2 ? 2 : 1);
  const LongBandEnds& le = LongBandEndsFor(s.version, h.sampling_frequency);
  const ShortBandEnds& se = ShortBandEndsFor(s.version, h.sampling_frequency);
  s.long_start[0] = 0;
  for (int b = 0; b < 22; ++b) s.long_start[b + 1] = le[b];
  s.short_start[0] = 0;
  for (int b = 0; b < 13; ++b) s.short_start[b + 1] = se[b];

  // Every version decodes all 576 lines (long band 21 and short band 12 carry no scale factor and
  // are requantized with the gains alone), as far as the band limit lets sub-bands through.
  s.decode_limit = std::min(kLines, 18 * ctx.synth_subbands);
  s.long_cap = s.decode_limit;
  s.short_cap = s.decode_limit;
  ctx.synth_subbands = (s.decode_limit + 17) / 18;
  s.gain_bias = (ctx.stream_channels == 2 && ctx.channel_choice == kChannelsMix) ? -4 : 0;
  s.main_fill = 0;
  s.frame_start = 0;
  s.bit_position = 0;
  std::memset(s.overlap_extent, 0, sizeof(s.overlap_extent));
  s.timeslots.Clear();
  s.scratch.Clear();
  const int v = ctx.stream_channels == 1 ? 0 : ctx.channel_choice + 1;
  ctx.channel_stage = kChannelStages[v];
  ctx.layer3_frame_decoder = h.id == 1 ? DecodeMpeg1Layer3 : DecodeLsfLayer3;
  return 1;
}

}  // namespace plumo
