// Decoding a whole MPEG audio file held in memory, frame by frame, with the per-frame rules of
// the player's decode step: the first frame is found after an ID3v2 tag and leading junk within
// 4096 bytes; every later frame must match the first one's sync, version, layer and sampling
// frequency; junk is skipped a byte at a time and 4096 junk bytes in a row end the stream; a frame
// the decoder rejects becomes one frame of silence; a frame cut off by the end is not played.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>

#include "decoder.h"

namespace plumo {

// The text of every failure to recognise MPEG audio.
inline constexpr const char* kUnknownFormat = "unknown MPEG Audio format.";

class UnknownFormatError : public std::runtime_error {
 public:
  UnknownFormatError() : std::runtime_error(kUnknownFormat) {}
};

struct StreamInfo {
  FrameHeader header;   // the first audio frame's header
  OutputFormat format;  // the decoder's PCM format
  int bitrate = 0;      // of the first frame, bit/s
  size_t data_start = 0;
  size_t data_length = 0;
  uint8_t reference_header[4] = {};  // the first frame's header bytes, which every frame must match
};

struct DecodeOptions {
  int channel_choice = 0;  // 0 both, 1 mix, 2 left, 3 right
  bool invert_polarity = false;
};

// Called with each frame's PCM (16-bit little-endian, interleaved).
using PcmSink = std::function<void(std::span<const uint8_t>)>;

// Opens the stream: finds the first frame and sets up the decoder. Throws UnknownFormatError for
// data that is not (decodable) MPEG audio.
StreamInfo OpenMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options);

// Decodes every frame of a stream that OpenMpegStream opened into the sink; returns the number
// of frames produced.
int DecodeOpenedStream(Decoder& decoder, std::span<const uint8_t> file, const StreamInfo& info, const PcmSink& sink);

// Opens and decodes the whole stream into the sink; returns the stream's description and the
// number of frames produced.
StreamInfo DecodeMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options,
                            const PcmSink& sink, int* frames = nullptr);

}  // namespace plumo
