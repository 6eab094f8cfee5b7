// TMP3Source: an MPEG audio stream opened for decoding. It holds the buffered reader, the tag
// reader and the stream's description, opens a stream (tags, first frame, decoder set-up, VBR
// header frame) and produces the stream's PCM one frame at a time with the per-frame rules of
// the player's decode step: junk is skipped a byte at a time, 4096 junk bytes in a row end the
// data, a frame the decoder rejects becomes one frame of silence, a frame cut off by the end of
// the audio is not played.
//
// Of each frame's PCM only the part that was encoded is played: the encoder's delay at the start
// (plus the decoder's own 529 samples) and its padding at the end, as a LAME tag or an iTunes
// iTunSMPB comment gives them, are cut off (ProducedOffset/ProducedBytes).
//
// A seekable stream opens with what its first frames and its VBR header say: the exact length
// from the header's frame count, else an estimate from the size and the first bit rate
// (LengthEstimated). Its frames are indexed as they are produced in order, and ahead of that by
// walking their headers (IndexAhead, or a seek beyond the index): the complete index gives the
// exact length (TakeLengthChange reports the change) and lets SeekSample start at any sample.
//
// The player owns one and drives it from its decode thread; plumo-decode drives one directly, so
// both turn a file into exactly the same PCM.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
// Info is the Xing layout that encoders write at the start of a CBR stream.
enum class TVbrHeader : uint8_t { None, Xing, Info, Vbri };

// A track within a stream: its played samples from First to End (End -1: to the stream's end),
// counted in 1/PerSecond seconds (0: in samples per channel) and taken to the nearest sample at
// the stream's rate; the silence played before and after it; and what stands for the tags'
// texts and ReplayGain values where given. Entry: the name the owner knows the track by.
struct TTrackSpan {
  int64_t First = 0;
  int64_t End = -1;
  int64_t LeadSilence = 0;
  int64_t TailSilence = 0;
  int32_t PerSecond = 0;
  std::string Entry;
  std::string Title;
  std::string Artist;
  std::string Album;
  TReplayGain Gain;
  // The whole stream, as it stands.
  bool Whole() const { return First == 0 && End < 0 && LeadSilence == 0 && TailSilence == 0; }
  friend bool operator==(const TTrackSpan&, const TTrackSpan&) = default;
};

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

  // The audio data (of the track, with its silence) has all been produced.
  bool AtEndOfData() const { return AudioEnded() && !CarryPending() && FTailLeft == 0; }
  // One step of frame production: true when a frame's PCM (BytesPerFrame bytes, silence for a
  // rejected frame) was written to pcm; false when junk was skipped or the end of the data was
  // found (then AtEndOfData holds).
  bool ProduceFrame(uint8_t* pcm);
  // After ProduceFrame returned true: the part of the frame's PCM to play. The delay at the start
  // and the padding at the end of the stream, and samples before a seek target, are cut off.
  // ProducedOffset: bytes into the pcm buffer (0 when nothing is cut); ProducedBytes: bytes to
  // play from there (BytesPerFrame when nothing is cut; may be 0).
  int32_t ProducedOffset() const { return FProducedOffset; }
  int32_t ProducedBytes() const { return FProducedBytes; }
  // Back to the first audio frame (seekable streams), with a decoder set-up before the next frame.
  void Rewind();

  // Whether SeekSample can be used: a seekable stream with audio frames. Any thread.
  bool CanSeek() const { return FLengthSamples.load() >= 0; }
  // Played samples (per channel) of the track (the whole stream unless SetTrack cut one, its
  // silence included); -1 when unknown (a stream that cannot seek).
  int64_t LengthSamples() const;
  // Played samples of the whole stream; -1 when unknown. Any thread.
  int64_t StreamLengthSamples() const { return FLengthSamples.load(); }
  // The length is an estimate (no frame count in a VBR header, the index not yet complete).
  bool LengthEstimated() const { return FLengthEstimated.load(); }
  // True once after the length changed from what opening gave (the index completed).
  bool TakeLengthChange() { return FLengthChanged.exchange(false); }
  // Walks frame headers ahead of the index, reading at most about `bytes` of the stream without
  // disturbing the buffered reading and without waiting for the network; false when the index
  // is complete or nothing more can be read now.
  bool IndexAhead(int64_t bytes);
  // Indexes every frame now.
  void CompleteIndex() { WalkIndex(INT64_MAX, INT64_MAX); }
  bool IndexComplete() const { return FIndexComplete; }

  // Plays only the track (after Open; positions are then the track's): starts at its first
  // sample. A span that does not fit the stream is clamped to it. The stream's frames are indexed
  // first, so that the track's bounds are exact from the start.
  void SetTrack(const TTrackSpan& track);
  const TTrackSpan& Track() const { return FTrack; }
  // The track's first and end sample in the stream (end: the stream's length when open-ended).
  int64_t TrackFirstSample() const { return FSpanFirst; }
  int64_t TrackEndSample() const { return FSpanEnd; }
  // Decoding goes on into next when its first sample is where decoding stops now and no
  // silence lies between them: the output is then the stream's continuous decode. The track stays
  // the current one (positions, length) until TakeTrack. False (nothing changed) otherwise.
  bool ContinueWith(const TTrackSpan& next);
  bool CanContinueWith(const TTrackSpan& next) const;
  // The track continued into (ContinueWith) is the current one now.
  void TakeTrack(const TTrackSpan& next);

  // Moves to sample k (0 = the first played sample; clamped to the length): the PCM produced
  // from here is bit for bit what a continuous decode produces from sample k on. Earlier frames
  // are decoded again to fill the bit reservoir and the filter histories, and their PCM is cut.
  // In a stream read over the network, a target beyond the frames that can be indexed without
  // waiting is reached where the VBR header's table (or the mean bit rate) puts it: near the
  // sample asked for, not exactly; positions are then approximate until the next exact seek.
  // Requires CanSeek().
  void SeekSample(int64_t k);
  // For any stream: samples before sample k are not played (those produced already stay played).
  // A stream that cannot seek thus starts at k, its frames before it decoded and cut.
  void PlayFrom(int64_t k);
  // Samples cut at the start (encoder delay plus decoder delay) and at the end (padding).
  int64_t StartTrim() const { return FStartTrim; }
  int64_t EndTrim() const { return FEndCutTo - FEndCutFrom; }
  // Samples per channel in one frame.
  int SamplesPerFrame() const { return FSamplesPerFrame; }
  // Frames found by the index so far.
  int64_t IndexedFrames() const { return static_cast<int64_t>(FFrameIndex.size()); }
  // Whether the encoder-delay and padding trim is applied (off: every frame is played whole).
  void SetGapless(bool on) { FGapless = on; }

  // A live stream (a station): junk never ends the data by its length, and frames of another
  // format (sample rate, channels, layer) that follow each other are taken as the station's new
  // format (TakeFormatChange). Only when no frame has come for give_up_ms does the data end,
  // with NoAudio().
  void SetLive(bool on, int32_t give_up_ms) {
    FLive = on;
    FGiveUpMs = give_up_ms;
  }
  // True once after ProduceFrame took a frame of a new format: Format() and SampleRate() are its.
  bool TakeFormatChange() { return std::exchange(FFormatChanged, false); }
  // The live stream's data ended because nothing in it was MPEG audio for too long.
  bool NoAudio() const { return FNoAudio; }

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
  // Where the encoder delay and padding came from.
  enum class TGaplessInfo : uint8_t { None, Lame, ITunes };
  TGaplessInfo GaplessInfo() const { return FGaplessInfo; }
  // The tags' ReplayGain values, the LAME tag's where the tags give none.
  TReplayGain ReplayGain() const;
  // The measured loudness's gains (empty when not measured) and whether its album plays in order.
  void SetMeasuredGain(const TReplayGain& gain, bool album_in_order) {
    FMeasuredGain = gain;
    FAlbumInOrder = album_in_order;
  }
  const TReplayGain& MeasuredGain() const { return FMeasuredGain; }
  bool AlbumInOrder() const { return FAlbumInOrder; }

 private:
  int FindFirstFrame(int& bitrate);
  void ReadVbrHeader();
  void ReadLameTag(const uint8_t* tag, int available);
  void ReadITunesGapless();
  int NextFrameLength();
  // Walks headers from the index's end until it holds more than `frames` frames, about `bytes`
  // were read or the data ends (then the index is complete).
  // With wait, the walk waits for bytes still on their way over the network; without, it
  // stops before them. True when it read anything.
  bool WalkIndex(int64_t frames, int64_t bytes, bool wait = true);
  // A seek beyond what can be indexed now: decoding goes on a few frames before where the VBR
  // header's table or the mean bit rate puts the raw sample target.
  void JumpNear(int64_t target);
  void AddToIndex(int64_t at, int length);
  void FinishIndex();
  void SetTrims();
  // The end cut and the length for a stream of `frames` frames.
  void SetLength(int64_t frames, bool estimated);
  void StartFrom(int64_t frame);
  void MarkEndOfData();
  void Resync();
  bool AudioEnded() const {
    return FReader.Position() - FDataStart >= FDataLength || FFrameNumber * FSamplesPerFrame >= FPlayTo;
  }
  // The rest of a frame cut at a track's end, to play once decoding continues into the next.
  bool CarryPending() const { return FCarryFrom >= 0 && FCarryFrom < FPlayTo; }
  // Sets the produced part of the frame whose first stream sample is a, from stream sample from.
  void SetProduced(int64_t a, int64_t from);
  // The stream sample (counted from the first frame's first sample) of played sample k.
  int64_t RawSample(int64_t k) const;
  // The stream sample where decoding stops for a played end sample.
  int64_t RawEnd(int64_t end) const;
  // A span's count in samples at this stream's rate.
  int64_t SpanSamples(int64_t value, int32_t per_second) const;
  // First and end played sample of a span at this stream's rate, clamped to the stream.
  void Resolve(const TTrackSpan& track, int64_t& first, int64_t& end) const;
  // Live streams: the frame at the reading position begins a stream of another format (its next
  // frame follows as its length says); the decoder is set up for it.
  bool AdoptNewFormat();
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
  bool FLive = false;
  bool FFormatChanged = false;
  bool FNoAudio = false;
  int32_t FGiveUpMs = 15000;
  std::chrono::steady_clock::time_point FLastFrame{};
  int FLayer = 0;
  int FSampleRate = 0;
  int FBytesPerFrame = 0;
  int FFirstBitrate = 0;
  bool FReinitDecoder = false;
  TVbrHeader FVbrHeader = TVbrHeader::None;
  uint32_t FVbrFrames = 0;
  // The Xing table: the byte (in 256ths of the audio) at each percent of the play time.
  std::array<uint8_t, 100> FToc{};
  bool FHasToc = false;
  // Decoding goes on from an estimated place: frames are numbered by estimate and not indexed,
  // and the first frame taken must be followed by another header.
  bool FOffIndex = false;
  bool FJumpSync = false;

  // The first frame's header and length: every decoder set-up uses them.
  FrameHeader FSetupHeader;
  int FSetupLength = 0;
  bool FGapless = true;
  TGaplessInfo FGaplessInfo = TGaplessInfo::None;
  int64_t FEncoderDelay = 0;  // from the tag, without the decoder's delay
  int64_t FPadding = 0;
  int64_t FTotalSamples = -1;  // iTunSMPB's sample count
  // Byte position and length of the audio frames found so far (seekable streams); the walk goes
  // on at FIndexEnd, FIndexResync junk bytes into a run of them.
  std::vector<int64_t> FFrameIndex;
  std::vector<uint16_t> FFrameLengths;
  int64_t FIndexEnd = 0;
  int FIndexResync = 0;
  bool FIndexComplete = false;
  int FSamplesPerFrame = 0;
  int FBytesPerSample = 0;
  // Samples before FStartTrim are not played, nor those in [FEndCutFrom, FEndCutTo).
  int64_t FStartTrim = 0;
  int64_t FEndCutFrom = 0;
  int64_t FEndCutTo = 0;
  std::atomic<int64_t> FLengthSamples{-1};
  std::atomic<bool> FLengthEstimated{false};
  std::atomic<bool> FLengthChanged{false};
  // Number of the next frame produced, and the first sample to play (the start trim or a seek target).
  int64_t FFrameNumber = 0;
  int64_t FPlayFrom = 0;
  int32_t FProducedOffset = 0;
  int32_t FProducedBytes = 0;
  TReplayGain FLameGain;
  // The track: its played samples [FSpanFirst, FSpanEnd); decoding stops at stream sample
  // FPlayTo (the track's end, or a later track's it continues into); silence still to play.
  TTrackSpan FTrack;
  bool FHasTrack = false;
  int64_t FSpanFirst = 0;
  int64_t FSpanEnd = -1;
  int64_t FPlayTo = INT64_MAX;
  int64_t FLead = 0;
  int64_t FTail = 0;
  int64_t FDecodeEnd = -1;
  // The silence after the track decoding stops at.
  int64_t FDecodeTail = 0;
  int64_t FLeadLeft = 0;
  int64_t FTailLeft = 0;
  // The last frame's first stream sample, and where its PCM was cut by FPlayTo (-1: not cut).
  int64_t FLastFrameStart = 0;
  int64_t FCarryFrom = -1;
  TReplayGain FMeasuredGain;
  bool FAlbumInOrder = false;
};

}  // namespace plumo
