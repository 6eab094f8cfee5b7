#include "stream_decode.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace plumo {
namespace {

constexpr size_t kSearchWindow = 4096;
constexpr int kMaxJunkRun = 4096;

// Size of an ID3v2 tag at the start of the data (header, body and footer), or 0.
size_t Id3v2Size(std::span<const uint8_t> d) {
  if (d.size() < 10 || d[0] != 'I' || d[1] != 'D' || d[2] != '3') return 0;
  if ((d[6] | d[7] | d[8] | d[9]) & 0x80) return 0;
  const size_t body = (size_t{d[6]} << 21) | (size_t{d[7]} << 14) | (size_t{d[8]} << 7) | d[9];
  const size_t footer = (d[5] & 0x10) ? 10 : 0;
  return std::min(d.size(), 10 + body + footer);
}

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Bytes the frame at p occupies when it belongs to the stream started by `first`, else <= 0.
int CheckFrameHeader(const uint8_t* first, const uint8_t* p, FrameHeader& h) {
  const int n = ParseFrameHeader(p, 0, h);
  if (n <= 0) return n;
  if (h.layer_code < 1 || h.layer_code > 3) return 0;
  if (!SameStream(first, p)) return 0;
  return PaddedFrameLength(h, n);
}

}  // namespace

StreamInfo OpenMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options) {
  StreamInfo info;
  info.data_start = Id3v2Size(file);
  info.data_length = file.size() - info.data_start;
  const std::span<const uint8_t> data = file.subspan(info.data_start);

  const int window = static_cast<int>(std::min(data.size(), kSearchWindow));
  int offset = 0;
  int bitrate = 0;
  FrameHeader h;
  if (FindFrameHeader(data.data(), window, h, bitrate, offset) <= 0) throw UnknownFormatError();
  info.data_start += static_cast<size_t>(offset);
  info.data_length -= static_cast<size_t>(offset);
  const uint8_t* first = file.data() + info.data_start;
  if (info.data_length < 4) throw UnknownFormatError();
  std::memcpy(info.reference_header, first, 4);

  const int length = CheckFrameHeader(first, first, h);
  if (length <= 0) throw UnknownFormatError();
  if (static_cast<size_t>(length) > info.data_length) throw UnknownFormatError();
  const int unpadded = ParseFrameHeader(first, 0, h);
  if (!decoder.Setup(h, unpadded, 0, 0, options.channel_choice & 3, 24000)) throw UnknownFormatError();
  decoder.SetPolarity(options.invert_polarity);
  info.header = h;
  info.bitrate = bitrate;
  info.format = decoder.GetOutputFormat();

  // A Xing or VBRI header frame describes the stream and is not played.
  size_t p = h.protection_bit == 0 ? 2 : 0;
  p += h.id == 1 ? (h.mode == 3 ? 21 : 36) : (h.mode == 3 ? 13 : 21);
  if (h.layer_code == 1 && p + 18 <= static_cast<size_t>(length)) {
    const uint8_t* q = first + p;
    bool header_frame = false;
    if (std::memcmp(q, "Xing", 4) == 0) {
      header_frame = true;
      const uint32_t flags = BigEndian32(q + 4);
      size_t at = 8;
      if (flags & 1) at += 4;
      if ((flags & 2) && p + at + 4 <= static_cast<size_t>(length)) {
        const uint32_t bytes = BigEndian32(q + at);
        if (bytes > 0) info.data_length = std::min<size_t>(info.data_length, bytes);
      }
    } else if (std::memcmp(q, "VBRI", 4) == 0) {
      header_frame = true;
      const uint32_t bytes = BigEndian32(q + 10);
      if (bytes > 0) info.data_length = std::min<size_t>(info.data_length, bytes);
    }
    if (header_frame) {
      info.data_start += static_cast<size_t>(length);
      info.data_length -= std::min(info.data_length, static_cast<size_t>(length));
    }
  }
  return info;
}

int DecodeOpenedStream(Decoder& decoder, std::span<const uint8_t> file, const StreamInfo& info, const PcmSink& sink) {
  const size_t end = std::min(file.size(), info.data_start + info.data_length);
  std::vector<uint8_t> pcm(static_cast<size_t>(decoder.PcmBytesPerFrame()));
  const uint8_t* first = info.reference_header;

  int produced_frames = 0;
  int junk = 0;
  size_t pos = info.data_start;
  while (pos < end) {
    if (end - pos < 4) break;
    FrameHeader h;
    const int length = CheckFrameHeader(first, file.data() + pos, h);
    if (length <= 0) {
      if (junk >= kMaxJunkRun) break;
      ++pos;
      ++junk;
      continue;
    }
    if (static_cast<size_t>(length) > end - pos) break;  // cut off by the end: not played
    const DecodeResult r = decoder.DecodeFrame(file.data() + pos, static_cast<size_t>(length), pcm.data());
    if (r.consumed <= 0) std::fill(pcm.begin(), pcm.end(), uint8_t{0});
    sink(pcm);
    ++produced_frames;
    pos += static_cast<size_t>(length);
    junk = 0;
  }
  return produced_frames;
}

StreamInfo DecodeMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options,
                            const PcmSink& sink, int* frames) {
  const StreamInfo info = OpenMpegStream(decoder, file, options);
  const int produced = DecodeOpenedStream(decoder, file, info, sink);
  if (frames) *frames = produced;
  return info;
}

}  // namespace plumo
