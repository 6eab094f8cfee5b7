// MPEG audio frame headers: parsing, frame length and bit rate, sync search and free-format
// length measurement. Pure functions of their arguments.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plumo {

// The thirteen fields of a 4-byte frame header, in header order.
struct FrameHeader {
  int32_t sync_kind = 0;  // 0 none, 1 twelve-bit sync (MPEG-1/2), 2 eleven-bit sync (MPEG-2.5)
  int32_t id = 0;         // 1 MPEG-1, 0 low sampling frequencies
  int32_t layer_code = 0; // 3 Layer I, 2 Layer II, 1 Layer III, 0 reserved
  int32_t protection_bit = 0;
  int32_t bitrate_index = 0;
  int32_t sampling_frequency = 0;
  int32_t padding_bit = 0;
  int32_t private_bit = 0;
  int32_t mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int32_t mode_extension = 0;
  int32_t copyright = 0;
  int32_t original = 0;
  int32_t emphasis = 0;
};

// Derived stream parameters.
inline int LayerNumber(const FrameHeader& h) { return 4 - h.layer_code; }
inline int HeaderChannels(const FrameHeader& h) { return h.mode == 3 ? 1 : 2; }
// 10 = MPEG-1, 20 = MPEG-2, 25 = MPEG-2.5.
inline int MpegVersionTimes10(const FrameHeader& h) { return h.id == 1 ? 10 : (h.sync_kind == 2 ? 25 : 20); }
int SamplesPerFrame(const FrameHeader& h);
// Sampling rate in Hz (MPEG-2.5 rates are the halved LSF rates); 0 for the reserved code.
int SampleRateHz(const FrameHeader& h);

// Parses the header at bytes[0..3]; available is the number of readable bytes from bytes on (used
// only to measure a free-format stream). Returns the frame length without the padding slot; a
// result <= 0 means there is no valid header.
int ParseFrameHeader(const uint8_t* bytes, int available, FrameHeader& header);
// The length without the padding slot of a frame that names its bit rate (bitrate_index 1..14),
// from the header's id, layer, bit rate and sampling frequency.
int BitrateFrameLength(const FrameHeader& header);

// As ParseFrameHeader, and stores the frame's bit rate in bit/s (0 when the result is 0).
int ParseFrameHeaderAndBitrate(const uint8_t* bytes, int available, FrameHeader& header, int& bitrate);

// Parses the header at the first sync position in buffer[0..size). Stores that position in offset
// and returns ParseFrameHeaderAndBitrate's result there; returns 0 and leaves offset untouched when
// no sync pattern is found. Only the first sync position is examined.
int FindFrameHeader(const uint8_t* buffer, int size, FrameHeader& header, int& bitrate, int& offset);

// Measures the frame length of the free-format stream whose first header is at bytes[0].
int FindFreeFormatLength(const uint8_t* bytes, int available);

// The first two bytes at a and b are equal.
inline bool HeadersMatch(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && a[1] == b[1]; }

// Mask of the header bits (4 bytes read as a little-endian word) that stay constant in a stream.
constexpr uint32_t kSameStreamMask = 0x000CFEFF;
inline uint32_t HeaderWord(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline bool SameStream(const uint8_t* first, const uint8_t* current) {
  return (HeaderWord(first) & kSameStreamMask) == (HeaderWord(current) & kSameStreamMask);
}

// Bytes occupied by a frame: its unpadded length plus the padding slot (4 bytes in Layer I).
inline int PaddedFrameLength(const FrameHeader& h, int length) {
  return length + (h.padding_bit ? (h.layer_code == 3 ? 4 : 1) : 0);
}

}  // namespace plumo
