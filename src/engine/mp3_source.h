// TMP3Source: an MPEG audio stream opened for decoding. It holds the buffered reader, the tag
// reader and the stream's description, opens a stream (tags, first frame, decoder set-up, VBR
// header frame) and produces the stream's PCM one frame at a time with the per-frame rules of
// the player's decode step: junk is skipped a byte at a time, 4096 junk bytes in a row end the
// data, a frame the decoder rejects becomes one frame of silence, a frame cut off by the end of
// the audio is not played.
//
// The player owns one and drives it from its decode thread; plumo-decode drives one directly, so
// both turn a file into exactly the same PCM.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "decoder.h"
#include "mp3_info.h"
#include "stream_reader.h"

namespace plumo {

// The text of every failure to recognise a stream as MPEG audio.
inline constexpr const char* kUnknownFormat = "unknown MPEG Audio format.";

class EUnknownFormat : public std::runtime_error {
 public:
  EUnknownFormat() : std::runtime_error(kUnknownFormat) {}
};

// What a VBR header frame at the start of the stream said.
enum class TVbrHeader : uint8_t { None, Xing, Vbri };

class TMP3Source {
 public:
  static constexpr int32_t kReaderCapacity = 65536;
  // DataLength of a stream that gives no length.
  static constexpr int64_t kOpenLength = 2147483647;
  // Junk bytes in a row after which the data counts as ended.
  static constexpr int kMaxResync = 4096;

  explicit TMP3Source(Decoder& decoder = ProcessDecoder());
  TMP3Source(const TMP3Source&) = delete;
  TMP3Source& operator=(const TMP3Source&) = delete;

  // Examines the stream (not owned; it must outlive the source or the next Close) and sets the
  // decoder up for it. Raises EUnknownFormat for data that is not MPEG audio; stream errors pass
  // through. The source is closed again on any failure.
  void Open(TStream* stream, bool seekable);
  // Detaches the reader and forgets the stream and everything found in it.
  void Close();
  bool Opened() const { return FReader.Attached(); }

  // Bytes the frame at bytes occupies when it belongs to this stream, else <= 0.
  int CheckFrameHeader(const uint8_t* bytes, FrameHeader& header) const;
  // A frame header (4 bytes read as a little-endian word) of the same stream as the first frame.
  bool SameStream(uint32_t word) const;
  // Sets the decoder up for the frame with this header and padded length n.
  bool InitDecoder(const FrameHeader& header, int n);

  // The audio data has all been produced.
  bool AtEndOfData() const { return FReader.Position() - FDataStart >= FDataLength; }
  // One step of frame production: true when a frame's PCM (BytesPerFrame bytes, silence for a
  // rejected frame) was written to pcm; false when junk was skipped or the end of the data was
  // found (then AtEndOfData holds).
  bool ProduceFrame(uint8_t* pcm);
  // Back to the first audio frame (seekable streams), with a decoder set-up before the next frame.
  void Rewind();

  // Channel choice and polarity handed to every decoder set-up (the player keeps both channels).
  void SetChannelChoice(int choice) { FChannelChoice = choice & 3; }

  TMPStreamReader& Reader() { return FReader; }
  const TMPStreamReader& Reader() const { return FReader; }
  TMP3Info& Info() { return FInfo; }
  const TMP3Info& Info() const { return FInfo; }
  Decoder& GetDecoder() { return FDecoder; }

  const FrameHeader& Header() const { return FFrameHeader; }
  OutputFormat Format() const { return FFormat; }
  int64_t DataStart() const { return FDataStart; }
  int64_t DataLength() const { return FDataLength; }
  uint32_t ReferenceHeader() const { return FReferenceHeader; }
  int Layer() const { return FLayer; }
  int SampleRate() const { return FSampleRate; }
  int BytesPerFrame() const { return FBytesPerFrame; }
  int FirstBitrate() const { return FFirstBitrate; }
  TVbrHeader VbrHeader() const { return FVbrHeader; }
  // Frame count from a Xing header (0 when it has none).
  uint32_t VbrFrames() const { return FVbrFrames; }
  // The tags' ReplayGain values, the LAME tag's where the tags give none.
  TReplayGain ReplayGain() const { return MergeReplayGain(FInfo.ReplayGain(), FLameGain); }

 private:
  int FindFirstFrame(int& bitrate);
  void ReadVbrHeader();
  void MarkEndOfData();
  void Resync();
  int PaddingSlot(const FrameHeader& header) const;

  Decoder& FDecoder;
  TMPStreamReader FReader{kReaderCapacity};
  TMP3Info FInfo;
  int FChannelChoice = 0;

  FrameHeader FFrameHeader;
  OutputFormat FFormat;
  int FPendingLength = 0;
  uint32_t FReferenceHeader = 0;
  int64_t FDataStart = 0;
  int64_t FDataLength = 0;
  int FResyncCount = 0;
  int FLayer = 0;
  int FSampleRate = 0;
  int FBytesPerFrame = 0;
  int FFirstBitrate = 0;
  bool FReinitDecoder = false;
  TVbrHeader FVbrHeader = TVbrHeader::None;
  uint32_t FVbrFrames = 0;
  TReplayGain FLameGain;
};

}  // namespace plumo
