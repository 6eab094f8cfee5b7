// Layer I and Layer II frame decoding (ISO/IEC 11172-3; ISO/IEC 13818-3 Table B.1 for Layer II at
// the low sampling frequencies): bit allocation, scale factors, grouped samples and dequantization
// into the interleaved sample buffer, then one call of the output stage.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "decoder_context.h"
#include "frame_header.h"
#include "kernels.h"
#include "layer12_tables.h"

namespace plumo {
namespace {

struct Tables {
  float scalefactor[64];   // 2^(-i/3) * 65536: the standard's table at 16-bit PCM scale
  float layer2_factor[17]; // 2 / steps for the quantization classes
  float layer1_factor[16]; // 2 / (2^b - 1) for b = 2..16 at index b - 1
  int16_t group3[32][3];
  int16_t group5[128][3];
  int16_t group9[1024][3];

  Tables() {
    for (int i = 0; i < 64; ++i) scalefactor[i] = static_cast<float>(std::pow(2.0, -i / 3.0) * 65536.0);
    for (int c = 0; c < 17; ++c) layer2_factor[c] = static_cast<float>(2.0 / kQuantSteps[c]);
    layer1_factor[0] = 0.0f;
    for (int b = 2; b <= 16; ++b) layer1_factor[b - 1] = static_cast<float>(2.0 / ((1 << b) - 1));
    FillGroups(group3, 3, 32);
    FillGroups(group5, 5, 128);
    FillGroups(group9, 9, 1024);
  }

  template <typename T>
  static void FillGroups(T (*table)[3], int n, int entries) {
    for (int c = 0; c < entries; ++c) {
      int v = c;
      for (int k = 0; k < 3; ++k) {
        table[c][k] = static_cast<T>(v % n - (n - 1) / 2);
        v /= n;
      }
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

// Header fields read again from the frame itself. Returns false unless it starts with the
// twelve-bit sync (MPEG-2.5 frames are refused by these layers) and names a bit rate (or free
// format) and a sampling frequency.
struct FrameFields {
  int id, protection_bit, bitrate_index, sampling_frequency, padding, mode, mode_extension;
};

bool ReadHeader(BitReader& br, FrameFields& f) {
  if (br.ReadBits(12) != 0xFFF) return false;
  f.id = static_cast<int>(br.ReadBits(1));
  br.ReadBits(2);  // layer
  f.protection_bit = static_cast<int>(br.ReadBits(1));
  f.bitrate_index = static_cast<int>(br.ReadBits(4));
  f.sampling_frequency = static_cast<int>(br.ReadBits(2));
  f.padding = static_cast<int>(br.ReadBits(1));
  br.ReadBits(1);  // private
  f.mode = static_cast<int>(br.ReadBits(2));
  f.mode_extension = static_cast<int>(br.ReadBits(2));
  br.ReadBits(4);  // copyright, original, emphasis
  if (f.protection_bit == 0) br.ReadBits(16);  // CRC, not verified
  return f.bitrate_index != 15 && f.sampling_frequency != 3;
}

// Sub-band bound below which both channels carry their own samples.
int JointBound(const FrameFields& f, int subbands) {
  return f.mode == 1 ? (f.mode_extension + 1) * 4 : subbands;
}

// The bytes the frame occupies, from its own bit rate and padding; free-format frames have the
// set-up's length.
int FrameLength(const DecoderContext& ctx, const FrameFields& f, int layer_code) {
  FrameHeader h;
  h.sync_kind = 1;
  h.id = f.id;
  h.layer_code = layer_code;
  h.bitrate_index = f.bitrate_index;
  h.sampling_frequency = f.sampling_frequency;
  h.padding_bit = f.padding;
  return PaddedFrameLength(h, f.bitrate_index == 0 ? ctx.frame_length : BitrateFrameLength(h));
}

// Where the frame's samples go. The output keeps the set-up's channel count: a one-channel frame
// in a two-channel stream is stored for both channels, a two-channel frame in a one-channel
// stream gives its first channel (its second goes to the upper half of each 64-float slot, which
// the one-channel output stage never reads).
struct SampleStore {
  int step;       // floats per sub-band in a slot: the set-up's channel count
  int offset[2];  // of each frame channel within its sub-band's floats
  int copy;       // 1 when a value is stored for both output channels, else 0

  SampleStore(int out_channels, int frame_channels)
      : step(out_channels),
        offset{0, out_channels == 2 ? 1 : 32},
        copy(out_channels == 2 && frame_channels == 1 ? 1 : 0) {}

  // The float of frame channel ch in sub-band sb within a slot.
  int Place(int sb, int ch) const { return step * sb + offset[ch]; }
  void Put(float* slot, int sb, int ch, float v) const {
    float* p = slot + Place(sb, ch);
    p[0] = v;
    p[copy] = v;
  }
  // Both channels of a joint-stereo sub-band (two-channel frames only).
  void PutPair(float* slot, int sb, float v0, float v1) const {
    float* p = slot + step * sb;
    p[0] = v0;
    p[offset[1]] = v1;
  }
};

// A two-channel frame in a stream set up for one channel plays both channels mixed, each at half
// amplitude: the second channel's samples (stored above the first's in each slot) are added in.
void MixIntoFirstChannel(float* samples, int slots, int subbands) {
  for (int s = 0; s < slots; ++s) {
    float* slot = samples + 64 * s;
    for (int sb = 0; sb < subbands; ++sb) slot[sb] = 0.5f * (slot[sb] + slot[32 + sb]);
  }
}

}  // namespace

void Layer2ScaleScalar(const int32_t* values, const float* factors, const uint32_t* keep, float* out, int from, int to) {
  for (int s = 0; s < 36; ++s) {
    const float* factor = factors + 64 * (s / 12);
    const int32_t* value = values + 64 * s;
    float* slot = out + 64 * s;
    for (int j = from; j < to; ++j)
      slot[j] = std::bit_cast<float>(std::bit_cast<uint32_t>(factor[j] * static_cast<float>(value[j])) & keep[j]);
  }
}

DecodeResult DecodeLayer1Frame(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm) {
  const Tables& t = GetTables();
  BitReader& br = ctx.frame_reader;
  br.Start(frame, size);
  FrameFields f{};
  if (!ReadHeader(br, f)) return {};

  const int nch = f.mode == 3 ? 1 : 2;
  const SampleStore store(ctx.stream_channels, nch);
  const int bound = nch == 2 ? JointBound(f, 32) : 32;
  const int synth = ctx.band_subbands;
  int alloc[2][32] = {};
  float scale[2][32] = {};

  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = static_cast<int>(br.ReadBits(4));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<int>(br.ReadBits(4));
    }
  }
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb]) scale[ch][sb] = t.scalefactor[br.ReadBits(6)];

  // Allocation value 15 is forbidden; it reads as 16 bits and dequantizes like 16-bit samples.
  float* out = ctx.samples;
  for (int s = 0; s < 12; ++s) {
    float* slot = out + 64 * s;
    for (int sb = 0; sb < 32; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch) {
          const int a = alloc[ch][sb];
          if (!a) continue;
          const int bits = a + 1;
          const int code = static_cast<int>(br.ReadBits(bits));
          if (sb < synth) {
            const float v = t.layer1_factor[bits - 1] * static_cast<float>(code - (1 << (bits - 1)) + 1);
            store.Put(slot, sb, ch, v * scale[ch][sb]);
          }
        }
      } else {
        const int a = alloc[0][sb];
        if (!a) continue;
        const int bits = a + 1;
        const int code = static_cast<int>(br.ReadBits(bits));
        if (sb < synth) {
          const float v = t.layer1_factor[bits - 1] * static_cast<float>(code - (1 << (bits - 1)) + 1);
          store.PutPair(slot, sb, v * scale[0][sb], v * scale[1][sb]);
        }
      }
    }
    // Sub-bands without allocation carry zero samples.
    for (int sb = 0; sb < synth; ++sb)
      for (int ch = 0; ch < nch; ++ch)
        if (!alloc[ch][sb]) store.Put(slot, sb, ch, 0.0f);
  }
  if (nch == 2 && ctx.stream_channels == 1) MixIntoFirstChannel(ctx.samples, 12, std::min(synth, 32));

  ctx.output_stage(ctx, ctx.samples, reinterpret_cast<int16_t*>(pcm), 12);
  return {FrameLength(ctx, f, 3), ctx.pcm_bytes_per_frame};
}

DecodeResult DecodeLayer2Frame(DecoderContext& ctx, const uint8_t* frame, size_t size, uint8_t* pcm) {
  const Tables& t = GetTables();
  BitReader& br = ctx.frame_reader;
  br.Start(frame, size);
  FrameFields f{};
  if (!ReadHeader(br, f)) return {};

  // The channel count, the joint-stereo bound and the allocation table are this frame's: a stream
  // may change between stereo and mono, or its bit rate may cross a table boundary.
  const int nch = f.mode == 3 ? 1 : 2;
  const int table_number =
      f.id == 0 ? 4 : kLayer2TableChoice[nch == 1 ? 1 : 0][f.sampling_frequency][f.bitrate_index];
  if (table_number < 0) return {};
  const LayerTwoTable& table = kLayer2Tables[table_number];
  const SampleStore store(ctx.stream_channels, nch);
  const int sblimit = table.sblimit;
  const int bound = nch == 2 ? std::min(JointBound(f, sblimit), sblimit) : sblimit;
  // Sub-bands from sblimit up to the synthesised count carry zero samples.
  const int synth = ctx.band_subbands;

  int cls[2][32] = {};  // quantization class per channel and sub-band, 0 = no allocation
  int scfsi[2][32] = {};
  float scale[2][32][3] = {};

  for (int sb = 0; sb < sblimit; ++sb) {
    const LayerTwoRow& row = table.rows[sb];
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) cls[ch][sb] = row.classes[br.ReadBits(row.nbal)];
    } else {
      cls[0][sb] = cls[1][sb] = row.classes[br.ReadBits(row.nbal)];
    }
  }
  for (int sb = 0; sb < sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (cls[ch][sb]) scfsi[ch][sb] = static_cast<int>(br.ReadBits(2));
  for (int sb = 0; sb < sblimit; ++sb) {
    for (int ch = 0; ch < nch; ++ch) {
      if (!cls[ch][sb]) continue;
      float* s = scale[ch][sb];
      switch (scfsi[ch][sb]) {
        case 0:
          s[0] = t.scalefactor[br.ReadBits(6)];
          s[1] = t.scalefactor[br.ReadBits(6)];
          s[2] = t.scalefactor[br.ReadBits(6)];
          break;
        case 1:
          s[0] = s[1] = t.scalefactor[br.ReadBits(6)];
          s[2] = t.scalefactor[br.ReadBits(6)];
          break;
        case 2:
          s[0] = s[1] = s[2] = t.scalefactor[br.ReadBits(6)];
          break;
        default:
          s[0] = t.scalefactor[br.ReadBits(6)];
          s[1] = s[2] = t.scalefactor[br.ReadBits(6)];
          break;
      }
    }
  }

  // The coded sub-bands in reading order, each with what its samples need: the grouped-code
  // table or the sample width, and the places of the samples it gives in a slot (none above the
  // synthesised sub-bands, two for a sub-band both channels share).
  struct Coded {
    const int16_t* groups;  // grouped classes: three values per code
    int bits;               // bits per code (grouped) or per sample
    int offset;             // ungrouped: the value subtracted from each sample
    int places;             // 0, 1 or 2: none above the synthesised sub-bands
    int place[2];
  };
  Coded coded[64];
  int n_coded = 0;
  // Per place in a slot: the factor of each part, and all ones where a sample lands (the other
  // places carry zero samples).
  alignas(64) float lane_factor[3][64] = {};
  alignas(64) uint32_t lane_keep[64] = {};
  auto add = [&](int sb, int c, int first_ch, int channels) {
    Coded& e = coded[n_coded++];
    e.groups = c == 1 ? &t.group3[0][0] : c == 2 ? &t.group5[0][0] : c == 4 ? &t.group9[0][0] : nullptr;
    e.bits = kQuantBits[c];
    e.offset = (1 << (e.bits - 1)) - 1;
    e.places = 0;
    if (sb >= synth) return;
    for (int k = 0; k < channels; ++k) {
      const int ch = first_ch + k;
      // A one-channel frame in a two-channel stream gives both output channels.
      for (int copy = 0; copy <= store.copy; ++copy) {
        const int place = store.Place(sb, ch) + copy;
        e.place[e.places++] = place;
        for (int p = 0; p < 3; ++p) lane_factor[p][place] = t.layer2_factor[c - 1] * scale[ch][sb][p];
        lane_keep[place] = ~0u;
      }
    }
  };
  for (int sb = 0; sb < sblimit; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch)
        if (cls[ch][sb]) add(sb, cls[ch][sb], ch, 1);
    } else if (cls[0][sb]) {
      add(sb, cls[0][sb], 0, 2);
    }
  }

  // The values of all twelve granules in reading order, each stored at its places; then every
  // slot scaled in one pass over its places, part by part (the same product per sample).
  int32_t(*values)[64] = ctx.layer2_values;
  WideBitReader wr(br);
  for (int gr = 0; gr < 12; ++gr) {
    int32_t* rows[3] = {values[3 * gr], values[3 * gr + 1], values[3 * gr + 2]};
    for (int n = 0; n < n_coded; ++n) {
      const Coded& e = coded[n];
      // At most three 16-bit samples per sub-band.
      wr.Ensure(48);
      int v[3];
      if (e.groups) {
        const int16_t* g = e.groups + 3 * wr.Take(e.bits);
        v[0] = g[0], v[1] = g[1], v[2] = g[2];
      } else {
        for (int k = 0; k < 3; ++k) v[k] = static_cast<int>(wr.Take(e.bits)) - e.offset;
      }
      for (int k = 0; k < e.places; ++k)
        for (int i = 0; i < 3; ++i) rows[i][e.place[k]] = v[i];
    }
  }
  // The places written: those of the output channels' floats below the synthesised count (both
  // channels' sub-bands side by side, or a one-channel stream's first channel and, from a
  // two-channel frame, its second above it).
  const int top = std::min(synth, 32);
  struct Span {
    int from, to;
  } spans[2] = {{0, store.step * top}, {0, 0}};
  if (store.offset[1] == 32 && nch == 2) spans[1] = {32, 32 + top};
  float* out = ctx.samples;
  for (const Span& span : spans)
    if (span.to > span.from)
      ctx.kernels.layer2_scale_kernel(&values[0][0], &lane_factor[0][0], lane_keep, out, span.from, span.to);
  // Channel 2's sub-bands without allocation at the top of a two-channel frame in a one-channel
  // stream are zero like the others, so the mix runs over every synthesised sub-band.
  if (nch == 2 && ctx.stream_channels == 1) MixIntoFirstChannel(out, 36, top);

  ctx.output_stage(ctx, ctx.samples, reinterpret_cast<int16_t*>(pcm), 36);
  return {FrameLength(ctx, f, 2), ctx.pcm_bytes_per_frame};
}

bool SetupLayer2Allocation(DecoderContext& ctx, const FrameHeader& h) {
  int table;
  if (h.id == 0) {
    table = 4;
  } else {
    table = kLayer2TableChoice[h.mode == 3 ? 1 : 0][h.sampling_frequency][h.bitrate_index];
  }
  if (table < 0) return false;
  ctx.alloc_table = table;
  ctx.sblimit = kLayer2Tables[table].sblimit;
  return true;
}

}  // namespace plumo
