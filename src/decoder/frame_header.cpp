#include "frame_header.h"

#include <algorithm>

namespace plumo {
namespace {

// Sampling frequencies in units of 50 Hz, by id and sampling_frequency; -999 marks the reserved code.
constexpr int kFreq50[2][4] = {{441, 480, 320, -999}, {882, 960, 640, -999}};

// Bit rates in kbit/s by layer (I, II, III), id and bitrate_index.
constexpr int kBitrateKbps[3][2][16] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0}},
    {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
};

int Kbps(const FrameHeader& h) { return kBitrateKbps[3 - h.layer_code][h.id][h.bitrate_index]; }
int Freq50(const FrameHeader& h) { return kFreq50[h.id][h.sampling_frequency]; }

}  // namespace

int SamplesPerFrame(const FrameHeader& h) {
  switch (h.layer_code) {
    case 3: return 384;
    case 2: return 1152;
    case 1: return h.id == 1 ? 1152 : 576;
    default: return 0;
  }
}

int SampleRateHz(const FrameHeader& h) {
  const int f50 = Freq50(h);
  if (f50 <= 0) return 0;
  return h.sync_kind == 2 ? f50 * 25 : f50 * 50;
}

int ParseFrameHeader(const uint8_t* bytes, int available, FrameHeader& h) {
  available = std::min(available, 10000);
  h.sync_kind = 0;
  if (bytes[0] != 0xFF) return 0;
  const int nibble = bytes[1] >> 4;
  int kind;
  if (nibble == 0xF)
    kind = 1;
  else if (nibble == 0xE)
    kind = 2;
  else
    return 0;
  h.sync_kind = kind;
  h.id = (bytes[1] >> 3) & 1;
  h.layer_code = (bytes[1] >> 1) & 3;
  h.protection_bit = bytes[1] & 1;
  h.bitrate_index = bytes[2] >> 4;
  h.sampling_frequency = (bytes[2] >> 2) & 3;
  h.padding_bit = (bytes[2] >> 1) & 1;
  h.private_bit = bytes[2] & 1;
  h.mode = bytes[3] >> 6;
  h.mode_extension = (bytes[3] >> 4) & 3;
  h.copyright = (bytes[3] >> 3) & 1;
  h.original = (bytes[3] >> 2) & 1;
  h.emphasis = bytes[3] & 3;

  if (h.layer_code == 0) return 0;
  if (h.bitrate_index == 0) return FindFreeFormatLength(bytes, available);
  return BitrateFrameLength(h);
}

int BitrateFrameLength(const FrameHeader& h) {
  const int kbps = Kbps(h);
  const int f50 = Freq50(h);
  switch (h.layer_code) {
    case 3: return 4 * (240 * kbps / f50);
    case 2: return 2880 * kbps / f50;
    default:
      if (h.id == 0 && h.sync_kind == 1) return 1440 * kbps / f50;
      return 2880 * kbps / f50;
  }
}

int ParseFrameHeaderAndBitrate(const uint8_t* bytes, int available, FrameHeader& h, int& bitrate) {
  bitrate = 0;
  const int length = ParseFrameHeader(bytes, available, h);
  if (length == 0) return 0;
  if (h.bitrate_index > 0) {
    bitrate = Kbps(h) * 1000;
  } else {
    const int64_t f50 = Freq50(h);
    const int64_t len = length;
    int64_t b;
    switch (h.layer_code) {
      case 3: b = f50 * len * 1000 / 960; break;
      case 2: b = f50 * len * 1000 / 2880; break;
      default:
        if (h.id == 1)
          b = f50 * len * 1000 / 2880;
        else if (h.sync_kind == 1)
          b = f50 * len * 1000 / 1440;
        else
          b = f50 * len * 500 / 1440;
    }
    bitrate = static_cast<int>(b);
  }
  return length;
}

int FindFrameHeader(const uint8_t* buffer, int size, FrameHeader& header, int& bitrate, int& offset) {
  for (int i = 0; i + 1 < size; ++i) {
    if (buffer[i] == 0xFF && (buffer[i + 1] & 0xE0) == 0xE0) {
      offset = i;
      // A header needs four bytes; a sync pair at the very end has no room for the rest.
      if (size - i < 4) return 0;
      return ParseFrameHeaderAndBitrate(buffer + i, size - i, header, bitrate);
    }
  }
  return 0;
}

int FindFreeFormatLength(const uint8_t* bytes, int available) {
  const int slot = ((bytes[1] >> 1) & 3) == 3 ? 4 : 1;
  const int pad = (bytes[2] >> 1) & 1;
  const int limit = available - 3;
  int start = 24;
  for (;;) {
    int p = 0;
    for (int i = start; i < limit; ++i) {
      if (HeadersMatch(bytes, bytes + i)) {
        p = i;
        break;
      }
    }
    const int length = p - pad * slot;
    if (length <= 0) return 0;
    int q = 0;
    int n = 0;
    for (;;) {
      q += length + slot * ((bytes[q + 2] >> 1) & 1);
      if (q > limit) break;
      if (!HeadersMatch(bytes, bytes + q)) {
        n = -n;
        break;
      }
      ++n;
    }
    if (n > 0) return length;
    start = p + 1;
    if (start >= 2000) return 0;
  }
}

}  // namespace plumo
