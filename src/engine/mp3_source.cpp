#include "mp3_source.h"

#include <algorithm>
#include <cstring>

#include "assertion.h"

namespace plumo {
namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Upper bound of the PCM one frame produces (Layer II/III, two channels, 16 bits).
constexpr int kMaxPcmBytesPerFrame = 1152 * 2 * 2;

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
  FLameGain = {};
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

    FFormat = FDecoder.GetOutputFormat();
    FSampleRate = FFormat.sample_rate;
    FBytesPerFrame = FFormat.samples_per_frame * FFormat.bits_per_sample / 8;
    Assert(FBytesPerFrame > 0 && FBytesPerFrame <= kMaxPcmBytesPerFrame, "PCM bytes per frame within the buffer");
    ReadVbrHeader();
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
  int p = h.protection_bit == 0 ? 2 : 0;
  if (h.id == 1)
    p += h.mode == 3 ? 21 : 36;
  else
    p += h.mode == 3 ? 13 : 21;
  // Only bytes of the buffered first frame are looked at.
  const int available = std::min(FReader.Contiguous(), FPendingLength);
  const uint8_t* d = FReader.Data();
  auto has = [&](int at, int n) { return at >= 0 && at + n <= available; };
  // A byte count larger than the audio found between the tags would play the tags as sound.
  auto takeLength = [&](uint32_t word) {
    const int32_t bytes = static_cast<int32_t>(word);
    if (bytes > 0) FDataLength = std::min<int64_t>(FDataLength, bytes);
  };

  if (has(p, 8)) FLameGain = LameReplayGain(d + p, static_cast<size_t>(available - p));

  if (has(p, 8) && std::memcmp(d + p, "Xing", 4) == 0) {
    FVbrHeader = TVbrHeader::Xing;
    int at = p + 4;
    const uint32_t flags = BigEndian32(d + at);
    at += 4;
    if (flags & 1) {
      if (has(at, 4)) FVbrFrames = BigEndian32(d + at);
      at += 4;
    }
    if ((flags & 2) && has(at, 4)) takeLength(BigEndian32(d + at));
  } else if (has(p, 14) && std::memcmp(d + p, "VBRI", 4) == 0) {
    FVbrHeader = TVbrHeader::Vbri;
    takeLength(BigEndian32(d + p + 10));
    if (has(p + 14, 4)) FVbrFrames = BigEndian32(d + p + 14);
  } else {
    return;
  }

  // The header frame describes the stream and is never played.
  if (!FReader.Skip(FPendingLength)) throw EUnknownFormat();
  FDataStart += FPendingLength;
  if (FDataLength != kOpenLength) FDataLength -= FPendingLength;
  FPendingLength = 0;
}

void TMP3Source::MarkEndOfData() { FDataLength = FReader.Position() - FDataStart; }

void TMP3Source::Resync() {
  FPendingLength = 0;
  if (FResyncCount >= kMaxResync) {
    MarkEndOfData();
    return;
  }
  FReader.Skip(1);
  ++FResyncCount;
}

bool TMP3Source::ProduceFrame(uint8_t* pcm) {
  Assert(FReader.Attached(), "an attached reader during a decode step");
  if (AtEndOfData()) return false;
  if (FPendingLength <= 0) {
    if (!FReader.Ensure(4)) {
      MarkEndOfData();
      return false;
    }
    FPendingLength = CheckFrameHeader(FReader.Data(), FFrameHeader);
    if (FPendingLength <= 0) {
      Resync();
      return false;
    }
  }
  if (FReinitDecoder && !InitDecoder(FFrameHeader, FPendingLength)) {
    Resync();
    return false;
  }
  // A frame that runs past the end of the audio (into a tag, or cut off by the end of the file)
  // is not played.
  const int64_t left = FDataLength - (FReader.Position() - FDataStart);
  if (FPendingLength > left || !FReader.Ensure(FPendingLength)) {
    MarkEndOfData();
    return false;
  }
  const DecodeResult r = FDecoder.DecodeFrame(FReader.Data(), static_cast<size_t>(FPendingLength), pcm);
  FReader.Skip(FPendingLength);
  FPendingLength = 0;
  FResyncCount = 0;
  if (r.consumed <= 0) std::memset(pcm, 0, static_cast<size_t>(FBytesPerFrame));
  return true;
}

void TMP3Source::Rewind() {
  if (FReader.Attached() && FReader.Seekable()) FReader.Seek(FDataStart, soBeginning);
  FPendingLength = 0;
  FReinitDecoder = true;
}

}  // namespace plumo
