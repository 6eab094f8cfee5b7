// Decoding a whole MPEG audio stream without a sound device, through the player's own stream
// opening and frame production (TMP3Source): tags are skipped, the first frame is found, a VBR
// header frame is left out, and every later frame is taken or skipped as the player does.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "cue_track.h"
#include "decoder.h"
#include "equalizer.h"
#include "mp3_source.h"
#include "stream.h"

namespace plumo {

struct StreamInfo {
  FrameHeader header;   // the first audio frame's header
  OutputFormat format;  // the decoder's PCM format
  int bitrate = 0;      // of the first frame, bit/s
  int64_t data_start = 0;
  int64_t data_length = 0;
  TVbrHeader vbr = TVbrHeader::None;
  uint32_t vbr_frames = 0;  // frame count of a Xing or VBRI header, 0 when not given
  int64_t length_samples = -1;  // samples per channel played, -1 when unknown (a pipe)
  int64_t start_trim = 0;       // samples cut at the start (encoder and decoder delay)
  int64_t end_trim = 0;         // samples cut at the end (padding)
};

struct DecodeOptions {
  int channel_choice = kChannelsBoth;
  bool invert_polarity = false;
  // Equalizer band levels (0.2 dB units); empty leaves the equalizer off. In sub-band mode band i
  // is sub-band i; in frequency mode the bands spread from 60 Hz to 16 kHz.
  std::vector<int32_t> eq_levels = {};
  TMP3EqualizerMode eq_mode = memSubBand;
  // Off: every frame's PCM whole, the encoder's delay and padding included.
  bool gapless = true;
  // A station's stream: junk is passed over as the player does; a change of format, which one
  // output cannot hold, raises an error.
  bool live = false;
};

// Called with the PCM (16-bit little-endian, interleaved) of each frame, or of several frames
// together (see StreamDecoder::Decode).
using PcmSink = std::function<void(std::span<const uint8_t>)>;

// A stream opened for decoding. The stream must outlive this object.
class StreamDecoder {
 public:
  // Opens the stream; raises EUnknownFormat for data that is not (decodable) MPEG audio.
  StreamDecoder(Decoder& decoder, TStream& stream, bool seekable, const DecodeOptions& options);

  StreamInfo Info() const;
  const TMP3Source& Source() const { return FSource; }

  // Decodes every remaining frame into the sink; returns the number of frames produced.
  int DecodeAll(const PcmSink& sink) { return Decode(sink, -1); }
  // Decodes at most `samples` samples per channel (all that remain when negative). With
  // batch_bytes the PCM of successive frames is gathered and given to the sink in pieces of at
  // most that many bytes (at least one frame's); without, frame by frame.
  int Decode(const PcmSink& sink, int64_t samples, size_t batch_bytes = 0);
  // Moves to sample k (the first played sample is 0).
  void Seek(int64_t k);
  // Plays only that track of the stream (positions and length are then the track's).
  void SetTrack(const TTrackSpan& track) { FSource.SetTrack(track); }
  // Indexes every frame of a seekable stream now: Info then gives the exact length.
  void CompleteIndex() { FSource.CompleteIndex(); }

 private:
  TMP3Source FSource;
};

// Opens bytes held in memory (a seekable stream) and describes them.
StreamInfo OpenMpegStream(Decoder& decoder, std::span<const uint8_t> file, const DecodeOptions& options);

}  // namespace plumo
