#include "mp3_source.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "assertion.h"

namespace plumo {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Upper bound of the PCM one frame produces (Layer II/III, two channels, 16 bits).
constexpr int kMaxPcmBytesPerFrame = 1152 * 2 * 2;

// The decoder's own delay: the first encoded sample comes out this late (after the encoder's
// delay). The LAME tag's padding includes it.
constexpr int64_t kDecoderDelay = 529;

// Frames decoded again ahead of a seek target start at a multiple of this, so the synthesis
// filter's ring stands where it stood in a continuous decode (the output is then bit for bit).
constexpr int64_t kSeekAlign = 8;

// Largest back-reference of a Layer III frame into earlier frames' main data (MPEG-1: 9 bits).
constexpr int kMaxReservoir = 511;

// Frames decoded before the target of an estimated seek: they fill the bit reservoir and are cut.
constexpr int64_t kJumpLeadFrames = 8;

// The header walk reads the stream in blocks of this size.
constexpr int32_t kWalkBlock = 131072;

// Hexadecimal field of an iTunSMPB comment; false when it is not one.
bool HexField(const std::string& text, size_t& at, size_t digits, int64_t& value) {
  while (at < text.size() && text[at] == ' ') ++at;
  if (at + digits > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char c = text[at + i];
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else return false;
    value = value << 4 | v;
  }
  at += digits;
  return at == text.size() || text[at] == ' ';
}

}  // namespace

TMP3Source::TMP3Source(Decoder& decoder) : FDecoder(decoder) {}

int TMP3Source::PaddingSlot(const FrameHeader& header) const {
  if (!header.padding_bit) return 0;
  return FLayer == 1 ? 4 : 1;
}

int TMP3Source::CheckFrameHeader(const uint8_t* bytes, FrameHeader& header) const {
  // available = 0: a free-format frame has no length of its own and is refused.
  const int n = ParseFrameHeader(bytes, 0, header);
  if (n <= 0) return n;
  if (header.layer_code < 1 || header.layer_code > 3) return 0;
  if (!SameStream(HeaderWord(bytes))) return 0;
  return n + PaddingSlot(header);
}

bool TMP3Source::SameStream(uint32_t word) const {
  return (FReferenceHeader & kSameStreamMask) == (word & kSameStreamMask);
}

bool TMP3Source::InitDecoder(const FrameHeader& header, int n) {
  if (!FDecoder.Setup(header, n - PaddingSlot(header), 0, 0, FChannelChoice, 24000)) return false;
  FReinitDecoder = false;
  FResyncCount = 0;
  return true;
}

void TMP3Source::Close() {
  FReader.Detach();
  FInfo.Clear();
  FFrameHeader = FrameHeader{};
  FFormat = OutputFormat{};
  FPendingLength = 0;
  FReferenceHeader = 0;
  FDataStart = 0;
  FDataLength = 0;
  FResyncCount = 0;
  FLayer = 0;
  FSampleRate = 0;
  FBytesPerFrame = 0;
  FFirstBitrate = 0;
  FReinitDecoder = false;
  FVbrHeader = TVbrHeader::None;
  FVbrFrames = 0;
  FHasToc = false;
  FOffIndex = FJumpSync = false;
  FSetupHeader = FrameHeader{};
  FSetupLength = 0;
  FGaplessInfo = TGaplessInfo::None;
  FEncoderDelay = 0;
  FPadding = 0;
  FTotalSamples = -1;
  FFrameIndex.clear();
  FFrameLengths.clear();
  FIndexEnd = 0;
  FIndexResync = 0;
  FIndexComplete = false;
  FLengthEstimated = false;
  FLengthChanged = false;
  FSamplesPerFrame = 0;
  FBytesPerSample = 0;
  FStartTrim = 0;
  FEndCutFrom = 0;
  FEndCutTo = 0;
  FLengthSamples = -1;
  FFrameNumber = 0;
  FPlayFrom = 0;
  FProducedOffset = 0;
  FProducedBytes = 0;
  FLameGain = {};
  FTrack = TTrackSpan{};
  FHasTrack = false;
  FSpanFirst = 0;
  FSpanEnd = -1;
  FPlayTo = INT64_MAX;
  FLead = FTail = 0;
  FDecodeEnd = -1;
  FDecodeTail = 0;
  FLeadLeft = FTailLeft = 0;
  FCarryFrom = -1;
}

void TMP3Source::Open(TStream* stream, bool seekable) {
  Close();
  Assert(stream != nullptr, "Open needs a stream");
  try {
    FReader.Attach(stream, seekable);
    FInfo.SetReader(&FReader);
    if (seekable) {
      FInfo.ReadFront();
      FInfo.ReadEnd();
      FReader.Seek(FInfo.AudioStart(), soBeginning);
    } else {
      FInfo.ReadFront();
    }
    FDataStart = FInfo.AudioStart();
    FDataLength = seekable ? FInfo.AudioSize() : kOpenLength;

    // The first frame must start within the first 4096 buffered bytes.
    FReader.Ensure(4096);
    int bitrate = 0;
    const int offset = FindFirstFrame(bitrate);
    if (offset < 0) throw EUnknownFormat();
    FFirstBitrate = bitrate;
    if (offset > 0) {
      FDataStart += offset;
      if (FDataLength != kOpenLength) FDataLength -= offset;
      if (!FReader.Skip(offset)) throw EUnknownFormat();
      FReader.Ensure(1441);
      if (FReader.Contiguous() < 4) throw EUnknownFormat();
    }
    FReferenceHeader = HeaderWord(FReader.Data());

    // The padding slot depends on the layer, known only after parsing.
    ParseFrameHeader(FReader.Data(), 0, FFrameHeader);
    FLayer = 4 - FFrameHeader.layer_code;
    FPendingLength = CheckFrameHeader(FReader.Data(), FFrameHeader);
    if (FPendingLength <= 0 || FFrameHeader.layer_code < 1 || FFrameHeader.layer_code > 3) throw EUnknownFormat();
    FLayer = 4 - FFrameHeader.layer_code;
    const bool knownVersion =
        FFrameHeader.id == 1 || (FFrameHeader.id == 0 && (FFrameHeader.sync_kind == 1 || FFrameHeader.sync_kind == 2));
    if (!knownVersion) throw EUnknownFormat();
    if (!FReader.Ensure(FPendingLength) || !InitDecoder(FFrameHeader, FPendingLength)) throw EUnknownFormat();
    FSetupHeader = FFrameHeader;
    FSetupLength = FPendingLength;

    FFormat = FDecoder.GetOutputFormat();
    FSampleRate = FFormat.sample_rate;
    FBytesPerFrame = FFormat.samples_per_frame * FFormat.bits_per_sample / 8;
    Assert(FBytesPerFrame > 0 && FBytesPerFrame <= kMaxPcmBytesPerFrame, "PCM bytes per frame within the buffer");
    FSamplesPerFrame = FFormat.samples_per_frame / std::max(1, FFormat.channels);
    FBytesPerSample = FBytesPerFrame / FSamplesPerFrame;
    ReadVbrHeader();
    if (FGaplessInfo == TGaplessInfo::None) ReadITunesGapless();
    // The index starts at the first audio frame (the reading position).
    FIndexEnd = FReader.Position();
    SetTrims();
    // A LAME tag without a frame count cuts its padding from the end of all frames, and a first
    // frame without a bit rate gives no estimate: such streams are indexed whole now.
    const bool needs_count = FGapless && FGaplessInfo == TGaplessInfo::Lame && FVbrFrames == 0;
    if (seekable && (needs_count || FFirstBitrate <= 0)) CompleteIndex();
    FLengthChanged = false;
  } catch (...) {
    Close();
    throw;
  }
}

// The offset of the stream's first frame within the buffered bytes, or -1. A sync pattern counts
// as the first frame only when the next frame of the same stream follows right after it (or the
// audio ends there): tag text (a UTF-16 byte-order mark reads as FF FE, a Layer I header) and
// other stray FF Ex/FF Fx pairs are passed over.
int TMP3Source::FindFirstFrame(int& bitrate) {
  const int window = FReader.Contiguous();
  // Every candidate has its four header bytes within the window.
  for (int from = 0; from + 3 < window;) {
    FrameHeader h;
    int rate = 0, found = -1;
    const int n = FindFrameHeader(FReader.Data() + from, window - from - 2, h, rate, found);
    if (found < 0) return -1;
    const int at = from + found;
    from = at + 1;
    if (n <= 0 || h.layer_code < 1 || h.layer_code > 3 || (h.id == 0 && h.sync_kind != 1 && h.sync_kind != 2))
      continue;
    // A free-format frame has no length of its own and is not taken.
    if (ParseFrameHeader(FReader.Data() + at, 0, h) <= 0) continue;
    const int next = at + PaddedFrameLength(h, n);
    // The next header, read further when it lies beyond the buffered bytes.
    const bool more = next + 4 <= FReader.Contiguous() || (next + 4 <= FReader.Capacity() && FReader.Ensure(next + 4));
    if (!more) FReader.Compact();
    const uint8_t* d = FReader.Data();
    // The audio ends right after this frame: at the end of the stream or of the audio's range.
    const bool last = next == FDataLength || (!more && next == FReader.Buffered());
    FrameHeader following;
    if (last || (more && plumo::SameStream(d + at, d + next) && ParseFrameHeader(d + next, 0, following) > 0)) {
      bitrate = rate;
      return at;
    }
  }
  return -1;
}

void TMP3Source::ReadVbrHeader() {
  Assert(Opened(), "an open stream for the VBR header");
  const FrameHeader& h = FFrameHeader;
  // The Xing/Info table follows the side information; encoders differ on whether a CRC moves it,
  // so it is looked for at both places.
  int p = h.id == 1 ? (h.mode == 3 ? 21 : 36) : (h.mode == 3 ? 13 : 21);
  // Only bytes of the buffered first frame are looked at.
  const int available = std::min(FReader.Contiguous(), FPendingLength);
  const uint8_t* d = FReader.Data();
  auto has = [&](int at, int n) { return at >= 0 && at + n <= available; };
  auto xingAt = [&](int at) {
    return has(at, 8) && (std::memcmp(d + at, "Xing", 4) == 0 || std::memcmp(d + at, "Info", 4) == 0);
  };
  // VBRI stands 32 bytes after the header whatever the mode.
  constexpr int kVbri = 4 + 32;

  if (h.protection_bit == 0 && xingAt(p + 2)) p += 2;
  if (xingAt(p)) {
    FVbrHeader = std::memcmp(d + p, "Info", 4) == 0 ? TVbrHeader::Info : TVbrHeader::Xing;
    int at = p + 4;
    const uint32_t flags = BigEndian32(d + at);
    at += 4;
    if (flags & 1) {
      if (has(at, 4)) FVbrFrames = BigEndian32(d + at);
      at += 4;
    }
    // The byte count is not used: the audio runs to the end of the stream's frames.
    if (flags & 2) at += 4;
    if (flags & 4) {
      FHasToc = has(at, 100);
      if (FHasToc) std::memcpy(FToc.data(), d + at, FToc.size());
      at += 100;
    }
    if (flags & 8) at += 4;
    if (has(at, 24)) ReadLameTag(d + at, 24);
  } else if (has(kVbri, 18) && std::memcmp(d + kVbri, "VBRI", 4) == 0) {
    FVbrHeader = TVbrHeader::Vbri;
    FVbrFrames = BigEndian32(d + kVbri + 14);
  } else {
    return;
  }

  // The header frame describes the stream and is never played.
  if (!FReader.Skip(FPendingLength)) throw EUnknownFormat();
  FDataStart += FPendingLength;
  if (FDataLength != kOpenLength) FDataLength -= FPendingLength;
  FPendingLength = 0;
}

// The LAME extension after a Xing/Info table (also written by ffmpeg's encoder): 9 bytes of
// encoder name, then at byte 21 the 12-bit encoder delay and the 12-bit padding.
void TMP3Source::ReadLameTag(const uint8_t* tag, int available) {
  if (available < 24) return;
  const bool known = std::memcmp(tag, "LAME", 4) == 0 || std::memcmp(tag, "Lavc", 4) == 0 ||
                     std::memcmp(tag, "Lavf", 4) == 0;
  if (!known) return;
  FLameGain = LameReplayGain(tag, static_cast<size_t>(available));
  FEncoderDelay = tag[21] << 4 | tag[22] >> 4;
  FPadding = (tag[22] & 0x0F) << 8 | tag[23];
  FGaplessInfo = TGaplessInfo::Lame;
}

// iTunes keeps the delay, the padding and the sample count in an ID3v2 comment described as
// iTunSMPB: " 00000000 DDDDDDDD PPPPPPPP NNNNNNNNNNNNNNNN ...". The description is not kept with
// the comment, so the value's own shape is recognised.
void TMP3Source::ReadITunesGapless() {
  for (const std::string& line : FInfo.Id3v2()) {
    if (line.rfind("COMM=", 0) != 0) continue;
    const std::string text = line.substr(5);
    size_t at = 0;
    int64_t zero, delay, padding, total;
    if (!HexField(text, at, 8, zero) || !HexField(text, at, 8, delay) || !HexField(text, at, 8, padding) ||
        !HexField(text, at, 16, total) || total <= 0)
      continue;
    FEncoderDelay = delay;
    FPadding = padding;
    FTotalSamples = total;
    FGaplessInfo = TGaplessInfo::ITunes;
    return;
  }
}

// Walks the frame headers from the index's end, as ProduceFrame would take them, without
// decoding: junk is passed a byte at a time (kMaxResync in a row end the data), a frame that runs
// past the audio or the stream ends it. The stream is read directly in blocks and left where the
// reader expects it.
bool TMP3Source::WalkIndex(int64_t frame, int64_t bytes, bool wait) {
  if (FIndexComplete || !FReader.Attached() || !FReader.Seekable()) return false;
  TStream& stream = *FReader.Stream();
  struct Restore {
    TStream& stream;
    int64_t at;
    ~Restore() {
      try {
        stream.Seek(at, soBeginning);
      } catch (...) {
        // The reader's next read fails in its turn.
      }
    }
  } restore{stream, FReader.Position() + FReader.Buffered()};
  std::vector<uint8_t> block(kWalkBlock);
  int64_t p = FIndexEnd;
  int64_t block_at = p;
  int32_t filled = 0;
  int64_t read = 0;
  bool ended = false, waiting = false;
  stream.Seek(p, soBeginning);
  // The n bytes at p are in the block (p at or after its start); false at the end of the stream,
  // or (waiting) where the bytes have not come over the network yet.
  auto have = [&](int32_t n) {
    if (p + n <= block_at + filled) return true;
    const int32_t keep = static_cast<int32_t>(block_at + filled - p);
    std::memmove(block.data(), block.data() + (p - block_at), static_cast<size_t>(keep));
    block_at = p;
    filled = keep;
    while (filled < n) {
      int32_t want = kWalkBlock - filled;
      if (!wait) {
        const int64_t ready = stream.ReadyBytes();
        if (ready <= 0) {
          waiting = true;
          return false;
        }
        want = static_cast<int32_t>(std::min<int64_t>(want, ready));
      }
      const int32_t got = stream.Read(block.data() + filled, want);
      if (got <= 0) return false;
      filled += got;
      read += got;
    }
    return true;
  };
  while (static_cast<int64_t>(FFrameIndex.size()) <= frame && read < bytes) {
    if (p - FDataStart >= FDataLength || !have(4)) {
      ended = !waiting;
      break;
    }
    FrameHeader h;
    const int n = CheckFrameHeader(block.data() + (p - block_at), h);
    if (n <= 0) {
      if (FIndexResync >= kMaxResync) {
        ended = true;
        break;
      }
      ++p;
      ++FIndexResync;
      FIndexEnd = p;
      continue;
    }
    if (n > FDataLength - (p - FDataStart) || !have(n)) {
      ended = !waiting;
      break;
    }
    AddToIndex(p, n);
    p += n;
  }
  if (ended) {
    // Where the decoding finds the end of the data too.
    FDataLength = p - FDataStart;
    FinishIndex();
  }
  return read > 0;
}

void TMP3Source::AddToIndex(int64_t at, int length) {
  FFrameIndex.push_back(at);
  FFrameLengths.push_back(static_cast<uint16_t>(length));
  FIndexEnd = at + length;
  FIndexResync = 0;
}

void TMP3Source::FinishIndex() {
  FIndexComplete = true;
  const int64_t before = FLengthSamples.load();
  const bool estimated = FLengthEstimated.load();
  SetLength(static_cast<int64_t>(FFrameIndex.size()), false);
  if (before != FLengthSamples.load() || estimated) FLengthChanged = true;
}

bool TMP3Source::IndexAhead(int64_t bytes) {
  if (FIndexComplete || !FReader.Attached() || !FReader.Seekable()) return false;
  return WalkIndex(INT64_MAX, bytes, false) || FIndexComplete;
}

// Where the played samples begin, and the length as far as opening can tell: from a VBR
// header's frame count, else estimated from the audio's size at the first frame's bit rate.
void TMP3Source::SetTrims() {
  FStartTrim = 0;
  if (FGapless && FGaplessInfo != TGaplessInfo::None) FStartTrim = FEncoderDelay + kDecoderDelay;
  FPlayFrom = FStartTrim;
  if (!FReader.Seekable()) {
    SetLength(0, false);
  } else if (FVbrFrames > 0) {
    SetLength(FVbrFrames, false);
  } else {
    const double frame_bytes = static_cast<double>(FSamplesPerFrame) * FFirstBitrate / 8.0 / std::max(1, FSampleRate);
    SetLength(frame_bytes > 0 ? std::max<int64_t>(1, std::llround(FDataLength / frame_bytes)) : 0, true);
  }
}

void TMP3Source::SetLength(int64_t frames, bool estimated) {
  const int64_t spf = FSamplesPerFrame;
  const int64_t total = frames * spf;
  FEndCutFrom = FEndCutTo = 0;
  if (FGapless && FGaplessInfo == TGaplessInfo::Lame) {
    // The padding ends the frames the header counts (or, without a count, all frames); frames
    // beyond the count (streams joined together) are played whole.
    const int64_t counted = FVbrFrames > 0 ? FVbrFrames : frames;
    if (counted > 0) {
      FEndCutTo = counted * spf;
      FEndCutFrom = std::max(FStartTrim, FEndCutTo - std::max<int64_t>(0, FPadding - kDecoderDelay));
    }
  } else if (FGapless && FGaplessInfo == TGaplessInfo::ITunes) {
    FEndCutFrom = FStartTrim + FTotalSamples;
    FEndCutTo = total > 0 && !estimated && FIndexComplete ? std::max(FEndCutFrom, total) : INT64_MAX;
  }
  if (!FReader.Seekable() || frames <= 0) {
    FLengthSamples = -1;
    FLengthEstimated = false;
    return;
  }
  int64_t played = std::max<int64_t>(0, total - FStartTrim);
  if (FEndCutFrom < total) played -= std::min(FEndCutTo, total) - FEndCutFrom;
  FLengthSamples = std::max<int64_t>(0, played);
  FLengthEstimated = estimated;
  // Without a track the span is the whole stream.
  if (!FHasTrack) FSpanEnd = FDecodeEnd = FLengthSamples.load();
}

void TMP3Source::JumpNear(int64_t target) {
  const int64_t spf = FSamplesPerFrame;
  const int64_t total = std::max<int64_t>(1, FVbrFrames > 0 ? FVbrFrames : (FLengthSamples.load() + FStartTrim) / spf);
  const int64_t indexed = static_cast<int64_t>(FFrameIndex.size());
  const int64_t frame = std::clamp<int64_t>(target / spf - kJumpLeadFrames, indexed, std::max(indexed, total));
  const double percent = std::min(100.0, 100.0 * static_cast<double>(frame) / static_cast<double>(total));
  double share = percent / 100.0;
  if (FHasToc) {
    const int i = std::clamp(static_cast<int>(percent), 0, 99);
    const double a = FToc[static_cast<size_t>(i)], b = i < 99 ? FToc[static_cast<size_t>(i) + 1] : 256.0;
    share = (a + (b - a) * (percent - i)) / 256.0;
  }
  const int64_t at = FDataStart + static_cast<int64_t>(std::clamp(share, 0.0, 1.0) * static_cast<double>(FDataLength));
  FCarryFrom = -1;
  FPendingLength = 0;
  FResyncCount = 0;
  FReinitDecoder = true;
  FFrameNumber = frame;
  FOffIndex = FJumpSync = true;
  FReader.Seek(std::max(at, FIndexEnd), soBeginning);
}

void TMP3Source::StartFrom(int64_t frame) {
  FOffIndex = FJumpSync = false;
  FCarryFrom = -1;
  FPendingLength = 0;
  FResyncCount = 0;
  FReinitDecoder = true;
  FFrameNumber = frame;
  if (!FReader.Attached() || !FReader.Seekable()) return;
  if (frame < static_cast<int64_t>(FFrameIndex.size()))
    FReader.Seek(FFrameIndex[static_cast<size_t>(frame)], soBeginning);
  else if (FFrameIndex.empty())
    FReader.Seek(FDataStart, soBeginning);
  else
    FReader.Seek(FDataStart + FDataLength, soBeginning);
}

int64_t TMP3Source::RawSample(int64_t k) const {
  int64_t target = FStartTrim + std::max<int64_t>(0, k);
  // Past the padding of the counted frames, the frames after them.
  if (target >= FEndCutFrom && FEndCutFrom < FEndCutTo) {
    // An open-ended cut (its end not yet known) takes the target to the end.
    const int64_t gap = FEndCutTo - FEndCutFrom;
    target = target > INT64_MAX - gap ? INT64_MAX : target + gap;
  }
  return target;
}

int64_t TMP3Source::RawEnd(int64_t end) const {
  // The stream's end: every frame is read, as without a track.
  if (end < 0 || FLengthSamples < 0 || end >= FLengthSamples) return INT64_MAX;
  return RawSample(end);
}

void TMP3Source::PlayFrom(int64_t k) { FPlayFrom = std::max(FPlayFrom, RawSample(FSpanFirst + std::max<int64_t>(0, k))); }

int64_t TMP3Source::SpanSamples(int64_t value, int32_t per_second) const {
  if (value <= 0) return 0;
  if (per_second <= 0) return value;
  // The nearest sample (exact where the rate is a multiple of per_second).
  return (value * FSampleRate * 2 + per_second) / (2 * static_cast<int64_t>(per_second));
}

void TMP3Source::Resolve(const TTrackSpan& track, int64_t& first, int64_t& end) const {
  first = SpanSamples(track.First, track.PerSecond);
  end = track.End < 0 ? -1 : SpanSamples(track.End, track.PerSecond);
  if (const int64_t length = FLengthSamples.load(); length >= 0) {
    first = std::min(first, length);
    end = end < 0 ? length : std::clamp(end, first, length);
  } else if (end >= 0) {
    end = std::max(end, first);
  }
}

int64_t TMP3Source::LengthSamples() const {
  const int64_t length = FLengthSamples.load();
  if (length < 0 || !FHasTrack) return length;
  return FLead + (FSpanEnd - FSpanFirst) + FTail;
}

void TMP3Source::SetTrack(const TTrackSpan& track) {
  if (FReader.Seekable() && !FIndexComplete) CompleteIndex();
  FHasTrack = true;
  FTrack = track;
  Resolve(track, FSpanFirst, FSpanEnd);
  FLead = SpanSamples(track.LeadSilence, track.PerSecond);
  FTail = SpanSamples(track.TailSilence, track.PerSecond);
  Rewind();
}

bool TMP3Source::CanContinueWith(const TTrackSpan& next) const {
  // Silence between the two would overwrite the PCM of the frame the old end cut.
  if (!CanSeek() || FDecodeEnd < 0 || FDecodeEnd >= FLengthSamples || FDecodeTail > 0 ||
      SpanSamples(next.LeadSilence, next.PerSecond) > 0)
    return false;
  int64_t first = 0, end = 0;
  Resolve(next, first, end);
  return first == FDecodeEnd;
}

bool TMP3Source::ContinueWith(const TTrackSpan& next) {
  if (!CanContinueWith(next)) return false;
  int64_t first = 0, end = 0;
  Resolve(next, first, end);
  FDecodeEnd = end;
  FPlayTo = RawEnd(end);
  FDecodeTail = FTailLeft = SpanSamples(next.TailSilence, next.PerSecond);
  return true;
}

void TMP3Source::TakeTrack(const TTrackSpan& next) {
  FHasTrack = true;
  FTrack = next;
  Resolve(next, FSpanFirst, FSpanEnd);
  FLead = SpanSamples(next.LeadSilence, next.PerSecond);
  FTail = SpanSamples(next.TailSilence, next.PerSecond);
}

TReplayGain TMP3Source::ReplayGain() const {
  TReplayGain gain = MergeReplayGain(FInfo.ReplayGain(), FLameGain);
  // A track's own values (a sheet's) stand for the file's.
  const TReplayGain& own = FTrack.Gain;
  if (own.TrackGain) gain.TrackGain = own.TrackGain, gain.TrackPeak = own.TrackPeak;
  if (own.AlbumGain) gain.AlbumGain = own.AlbumGain, gain.AlbumPeak = own.AlbumPeak;
  return gain;
}

void TMP3Source::SeekSample(int64_t k) {
  Assert(CanSeek(), "a seekable stream to seek in");
  k = std::max<int64_t>(0, k);
  // The frames up to the target are indexed first (a track's are all indexed already); past the
  // end, all of them.
  if (!FIndexComplete) {
    FPlayFrom = 0;
    PlayFrom(k);
    WalkIndex(FPlayFrom / FSamplesPerFrame, INT64_MAX, false);
  }
  // Within the track: its lead silence, its samples, its tail silence. Until the index is
  // complete the stream's end is not known, nor a bound.
  if (FIndexComplete) k = std::min(k, LengthSamples());
  const int64_t span = FIndexComplete ? FSpanEnd - FSpanFirst : INT64_MAX / 2;
  FLeadLeft = std::max<int64_t>(0, FLead - k);
  const int64_t into = std::max<int64_t>(0, k - FLead);
  FTailLeft = FTail - std::max<int64_t>(0, into - span);
  FDecodeEnd = FSpanEnd;
  FDecodeTail = FTail;
  FPlayTo = RawEnd(FSpanEnd);
  FPlayFrom = RawSample(FSpanFirst + std::min(into, span));
  const int64_t target = FPlayFrom;
  const int64_t frames = static_cast<int64_t>(FFrameIndex.size());
  // Frames not yet over the network: decoding in order from the index would wait for all of
  // them, so the place is estimated.
  if (!FIndexComplete && target / FSamplesPerFrame > frames + kJumpLeadFrames) {
    JumpNear(target);
    return;
  }
  const int64_t f = std::min(target / FSamplesPerFrame, frames);
  // The frame before the target must decode exactly: for Layer III, with its bit reservoir filled
  // from frames before it; one more frame fills the filter histories (two for Layer I's short
  // frames).
  int64_t first = f - 2;
  if (FLayer == 3) {
    const int overhead = 4 + 2 + (FSetupHeader.id == 1 ? 32 : 17);
    int main_bytes = 0;
    while (first > 0 && main_bytes < kMaxReservoir + 1) {
      --first;
      main_bytes += std::max(0, FFrameLengths[static_cast<size_t>(first)] - overhead);
    }
    --first;
  }
  first = std::max<int64_t>(0, first) / kSeekAlign * kSeekAlign;
  StartFrom(first);
}
void TMP3Source::MarkEndOfData() { FDataLength = FReader.Position() - FDataStart; }

void TMP3Source::Resync() {
  FPendingLength = 0;
  if (FLive && FResyncCount >= kMaxResync) {
    // A gap in a station's stream is passed over; only a long stretch without audio ends it.
    const auto now = std::chrono::steady_clock::now();
    if (FLastFrame == std::chrono::steady_clock::time_point{}) FLastFrame = now;
    if (now - FLastFrame >= std::chrono::milliseconds(FGiveUpMs)) {
      FNoAudio = true;
      MarkEndOfData();
      return;
    }
  } else if (FResyncCount >= kMaxResync) {
    MarkEndOfData();
    return;
  }
  FReader.Skip(1);
  ++FResyncCount;
}

bool TMP3Source::AdoptNewFormat() {
  FrameHeader h;
  const uint8_t* d = FReader.Data();
  if (ParseFrameHeader(d, 0, h) <= 0 || h.layer_code < 1 || h.layer_code > 3) return false;
  if (!(h.id == 1 || (h.id == 0 && (h.sync_kind == 1 || h.sync_kind == 2)))) return false;
  const uint32_t word = HeaderWord(d);
  const int layer = 4 - h.layer_code;
  const int length = ParseFrameHeader(d, 0, h) + (h.padding_bit ? (layer == 1 ? 4 : 1) : 0);
  // The next frame's header must follow: one header alone is too often a chance pattern.
  if (!FReader.Ensure(std::min(length + 4, FReader.Capacity()))) return false;
  d = FReader.Data();
  FrameHeader next;
  if (FReader.Contiguous() < length + 4 || ParseFrameHeader(d + length, 0, next) <= 0 ||
      (HeaderWord(d + length) & kSameStreamMask) != (word & kSameStreamMask) ||
      ((d[length + 3] >> 6) == 3) != ((d[3] >> 6) == 3))
    return false;
  const uint32_t oldReference = FReferenceHeader;
  const int oldLayer = FLayer;
  FReferenceHeader = word;
  FLayer = layer;
  if (!InitDecoder(h, length)) {
    FReferenceHeader = oldReference;
    FLayer = oldLayer;
    FReinitDecoder = true;
    return false;
  }
  const OutputFormat format = FDecoder.GetOutputFormat();
  const int bytesPerFrame = format.samples_per_frame * format.bits_per_sample / 8;
  if (bytesPerFrame <= 0 || bytesPerFrame > kMaxPcmBytesPerFrame) {
    FReferenceHeader = oldReference;
    FLayer = oldLayer;
    FReinitDecoder = true;
    return false;
  }
  FSetupHeader = h;
  FSetupLength = length;
  FFormat = format;
  FSampleRate = format.sample_rate;
  FBytesPerFrame = bytesPerFrame;
  FSamplesPerFrame = format.samples_per_frame / std::max(1, format.channels);
  FBytesPerSample = FBytesPerFrame / FSamplesPerFrame;
  FFormatChanged = true;
  return true;
}

// The length of the frame at the reading position (> 0), 0 when junk was skipped, -1 at the end
// of the data.
int TMP3Source::NextFrameLength() {
  Assert(FReader.Attached(), "an attached reader during a decode step");
  if (AudioEnded()) return -1;
  if (FPendingLength <= 0) {
    if (!FReader.Ensure(4)) {
      MarkEndOfData();
      return -1;
    }
    FPendingLength = CheckFrameHeader(FReader.Data(), FFrameHeader);
    // In a live stream a frame of the same rate but another channel count is a new format too.
    const bool otherChannels =
        FLive && FPendingLength > 0 && ((FReader.Data()[3] >> 6) == 3) != ((FReferenceHeader >> 30) == 3);
    if (FLive && (FPendingLength <= 0 || otherChannels) && AdoptNewFormat())
      FPendingLength = CheckFrameHeader(FReader.Data(), FFrameHeader);
    else if (FPendingLength <= 0 || otherChannels) {
      Resync();
      return 0;
    }
    // After an estimated jump a header counts only with the next one where its length says.
    if (FJumpSync) {
      FrameHeader next;
      if (FReader.Ensure(FPendingLength + 4) && CheckFrameHeader(FReader.Data() + FPendingLength, next) <= 0) {
        FPendingLength = 0;
        Resync();
        return 0;
      }
      FJumpSync = false;
    }
  }
  // A frame that runs past the end of the audio (into a tag, or cut off by the end of the file)
  // is not played.
  const int64_t left = FDataLength - (FReader.Position() - FDataStart);
  if (FPendingLength > left || !FReader.Ensure(FPendingLength)) {
    MarkEndOfData();
    return -1;
  }
  return FPendingLength;
}

bool TMP3Source::ProduceFrame(uint8_t* pcm) {
  FProducedOffset = FProducedBytes = 0;
  // Decoding went on into the next track: first the rest of the frame cut at the old end (its
  // PCM is still in the buffer).
  if (FLeadLeft == 0 && CarryPending()) {
    SetProduced(FLastFrameStart, FCarryFrom);
    return true;
  }
  // The silence a track asks for before and after its samples, a frame's worth at a time.
  int64_t* silence = FLeadLeft > 0 ? &FLeadLeft : FTailLeft > 0 && AudioEnded() ? &FTailLeft : nullptr;
  if (silence) {
    const int64_t n = std::min<int64_t>(*silence, FSamplesPerFrame);
    std::memset(pcm, 0, static_cast<size_t>(n * FBytesPerSample));
    FProducedBytes = static_cast<int32_t>(n * FBytesPerSample);
    *silence -= n;
    return true;
  }
  // Frames taken in order past the index's end extend it, and their end completes it.
  const bool at_index_end = FReader.Seekable() && !FIndexComplete && !FOffIndex && FFrameNumber == IndexedFrames();
  const int n = NextFrameLength();
  if (n <= 0) {
    if (at_index_end && (n < 0 || AtEndOfData())) FinishIndex();
    return false;
  }
  // A rewind or a seek sets the decoder up as the opening did, with the first frame's header.
  if (FReinitDecoder && !InitDecoder(FSetupHeader, FSetupLength)) {
    Resync();
    return false;
  }
  if (at_index_end) AddToIndex(FReader.Position(), FPendingLength);
  const DecodeResult r = FDecoder.DecodeFrame(FReader.Data(), static_cast<size_t>(FPendingLength), pcm);
  FReader.Skip(FPendingLength);
  FPendingLength = 0;
  FResyncCount = 0;
  if (at_index_end && AtEndOfData()) FinishIndex();
  if (FLive) FLastFrame = std::chrono::steady_clock::now();
  if (r.consumed <= 0) std::memset(pcm, 0, static_cast<size_t>(FBytesPerFrame));

  SetProduced(FFrameNumber++ * FSamplesPerFrame, FPlayFrom);
  return true;
}

void TMP3Source::SetProduced(int64_t a, int64_t from) {
  // The samples of this frame that are played: from the start trim or seek target on, without
  // the padding, up to the track's end.
  const int64_t b = a + FSamplesPerFrame;
  int64_t lo = std::max(a, from), hi = b;
  if (lo < FEndCutTo && hi > FEndCutFrom) {
    if (lo < FEndCutFrom)
      hi = FEndCutFrom;
    else
      lo = std::min(b, FEndCutTo);
  }
  FLastFrameStart = a;
  FCarryFrom = -1;
  if (hi > FPlayTo) {
    hi = FPlayTo;
    FCarryFrom = std::max(lo, FPlayTo);
  }
  if (hi > lo) {
    FProducedOffset = static_cast<int32_t>((lo - a) * FBytesPerSample);
    FProducedBytes = static_cast<int32_t>((hi - lo) * FBytesPerSample);
  } else {
    FProducedOffset = static_cast<int32_t>(std::min(lo - a, b - a) * FBytesPerSample);
  }
}

void TMP3Source::Rewind() {
  // A track that starts within the stream starts where a seek to it starts.
  if (FSpanFirst > 0 && CanSeek()) {
    SeekSample(0);
    return;
  }
  if (FReader.Attached() && FReader.Seekable()) FReader.Seek(FDataStart, soBeginning);
  FOffIndex = FJumpSync = false;
  FPendingLength = 0;
  FResyncCount = 0;
  FReinitDecoder = true;
  FFrameNumber = 0;
  FCarryFrom = -1;
  FPlayFrom = RawSample(FSpanFirst);
  FDecodeEnd = FSpanEnd;
  FDecodeTail = FTail;
  FPlayTo = RawEnd(FSpanEnd);
  FLeadLeft = FLead;
  FTailLeft = FTail;
}

}  // namespace plumo
