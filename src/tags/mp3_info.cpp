#include "mp3_info.h"

#include <algorithm>
#include <cstring>

#include "assertion.h"
#include "genre_names.h"
#include "text_conversion.h"

namespace plumo {

namespace {

// Chunk walks stop after this many chunks, so that a file of tiny or looping chunks cannot keep
// the reader busy.
constexpr int kMaxChunks = 256;

int32_t Be32(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
}

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0]);
}

bool Starts(const uint8_t* p, std::string_view magic) { return std::memcmp(p, magic.data(), magic.size()) == 0; }

int64_t Even(int64_t size) { return size + (size & 1); }

int64_t Pad128(int64_t size) { return (size + 127) / 128 * 128; }

// Removes trailing blanks and control characters (codes up to 32).
std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && static_cast<uint8_t>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// Up to n bytes, ending at the first NUL, trimmed; raw bytes.
std::string_view FixedBytes(const uint8_t* p, int64_t n) {
  const auto* begin = reinterpret_cast<const char*>(p);
  const std::string_view all(begin, static_cast<size_t>(n));
  return TrimRight(all.substr(0, all.find('\0')));
}

// 8-bit text to UTF-8, cut to at most limit bytes first (at a UTF-8 character boundary), so
// that the converted value stays within three times the limit.
std::string Convert(std::string_view bytes, size_t limit) {
  if (bytes.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<uint8_t>(bytes[cut]) & 0xC0) == 0x80) --cut;
    bytes = bytes.substr(0, cut);
  }
  return AnsiToUtf8(bytes);
}

// The part after the last NUL within n bytes (all of them without a NUL), trimmed.
std::string_view LastBytes(const uint8_t* p, int64_t n) {
  const std::string_view all(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
  const size_t nul = all.rfind('\0');
  return TrimRight(nul == std::string_view::npos ? all : all.substr(nul + 1));
}

// Decimal number of exactly `digits` ASCII digits; -1 when any byte is not a digit.
int64_t Digits(const uint8_t* p, int digits) {
  int64_t value = 0;
  for (int i = 0; i < digits; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    value = value * 10 + (p[i] - '0');
  }
  return value;
}

bool IsFrameIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

void TMP3Info::Clear() {
  FReader = nullptr;
  FFound = {};
  FFileName.clear();
  FAudioStart = 0;
  FAudioSize = kOpenSize;
  FMacDataStart = FMacDataSize = FMacDataEnd = FMacResSize = 0;
  FRiffDataStart = 0;
  FRiffDataSize = kOpenSize;
  FTagPos = FLyricsPos = 0;
  FRiffInfo.clear();
  FId3v1.clear();
  FId3v2.clear();
  FLyrics.clear();
}

void TMP3Info::SetReader(TMPStreamReader* reader) {
  Clear();
  FReader = reader;
}

const std::vector<std::string>& TMP3Info::Lines(TMP3InfoType kind) const {
  static const std::vector<std::string> kNone;
  switch (kind) {
    case mitID3V1: return FId3v1;
    case mitID3V2: return FId3v2;
    case mitRiff: return FRiffInfo;
    case mitLyrics: return FLyrics;
    case mitMacBin: break;
  }
  return kNone;
}

std::string TMP3Info::Value(const std::vector<std::string>& lines, std::string_view key) {
  for (const std::string& line : lines)
    if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '=')
      return line.substr(key.size() + 1);
  return {};
}

std::string TMP3Info::Longest(std::string_view id3v1Key, std::string_view id3v2Key, std::string_view riffKey) const {
  std::string best;
  size_t bestLength = 0;
  const auto consider = [&](TMP3InfoType kind, const std::vector<std::string>& lines, std::string_view key) {
    if (!FNeedInfoType.Contains(kind)) return;
    std::string value = Value(lines, key);
    const size_t length = Utf8Length(value);
    if (length > bestLength) {
      bestLength = length;
      best = std::move(value);
    }
  };
  consider(mitID3V1, FId3v1, id3v1Key);
  consider(mitID3V2, FId3v2, id3v2Key);
  consider(mitRiff, FRiffInfo, riffKey);
  return best;
}

std::string TMP3Info::Title() const {
  std::string title = Longest("TITLE", "TIT2", "INAM");
  if (title.empty()) title = FFileName.substr(FFileName.rfind('/') + 1);
  return title;
}

std::string TMP3Info::Artist() const { return Longest("ARTIST", "TPE1", "IART"); }

std::string TMP3Info::Album() const { return Longest("ALBUM", "TALB", "IPRD"); }

// Makes n bytes readable at the reader's Data(); false at the end of the stream or when n does
// not fit the reader's ring.
bool TMP3Info::Peek(int64_t n) { return n >= 0 && n <= FReader->Capacity() && FReader->Ensure(static_cast<int32_t>(n)); }

// Moves to an absolute position, within the buffered bytes when it can.
void TMP3Info::MoveTo(int64_t position) {
  const int64_t here = FReader->Position();
  if (position >= here && position - here <= FReader->Buffered())
    FReader->Skip(position - here);
  else
    FReader->Seek(position, soBeginning);
}

// Goes back to where a wrapper or tag that turned out unusable began. A non-seekable stream
// cannot go back: the audio then begins where the reader stands.
void TMP3Info::ReturnTo(int64_t start) {
  const int64_t here = FReader->Position();
  if (here == start) return;
  if (FReader->Seekable()) {
    FReader->Seek(start, soBeginning);
    return;
  }
  AudioBegins(here - start);
}

// The audio begins at the reader's position, tagBytes after where it was thought to begin.
void TMP3Info::AudioBegins(int64_t tagBytes) {
  FAudioStart = FReader->Position();
  if (FAudioSize != kOpenSize) FAudioSize = std::max<int64_t>(0, FAudioSize - tagBytes);
}

// Stored values are cut to a third of the reader's capacity before conversion, so that no value
// (and no conversion buffer) grows beyond the capacity.
int64_t TMP3Info::TextLimit() const { return std::max<int64_t>(1, FReader->Capacity() / 3); }

std::string TMP3Info::Text(std::string_view bytes) const { return Convert(bytes, static_cast<size_t>(TextLimit())); }

void TMP3Info::Add(std::vector<std::string>& lines, std::string_view key, std::string value) {
  if (lines.size() >= kMaxLines) return;
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append(1, '=').append(value);
  lines.push_back(std::move(line));
}

bool TMP3Info::ReadFront() {
  Assert(FReader != nullptr && FReader->Attached(), "TMP3Info needs an attached reader");
  FAudioStart = FReader->Position();
  ReadMacBinary();
  ReadRiff();
  ReadId3v2();
  return FReader->Ensure(1);
}

void TMP3Info::ReadMacBinary() {
  if (!Peek(128)) return;
  const uint8_t* p = FReader->Data();
  if (p[0] != 0 || p[74] != 0 || p[82] != 0 || p[1] < 1 || p[1] > 31) return;
  const int32_t dataSize = Be32(p + 83);
  const int32_t resSize = Be32(p + 87);
  if (dataSize < 0 || resSize < 0) return;
  FReader->Skip(128);
  FMacDataStart = FReader->Position();
  FMacDataSize = dataSize;
  FMacDataEnd = FMacDataStart + dataSize;
  FMacResSize = resSize;
  FAudioStart = FMacDataStart;
  FAudioSize = dataSize;
  FFound.Include(mitMacBin);
}

void TMP3Info::ReadRiff() {
  const int64_t start = FReader->Position();
  if (!Peek(12) || !Starts(FReader->Data(), "RIFF")) return;
  FReader->Skip(12);
  for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
    if (!Peek(8)) break;
    const uint8_t* p = FReader->Data();
    const int32_t size = Le32(p + 4);
    if (size < 1) break;
    if (Starts(p, "data")) {
      FReader->Skip(8);
      FRiffDataStart = FReader->Position();
      FRiffDataSize = size;
      FAudioStart = FRiffDataStart;
      FAudioSize = size;
      FFound.Include(mitRiff);
      return;
    }
    if (!FReader->Skip(8 + Even(size))) break;
  }
  ReturnTo(start);
}

void TMP3Info::ReadId3v2() {
  const int64_t start = FReader->Position();
  if (!Peek(10) || !Starts(FReader->Data(), "ID3")) return;
  const uint8_t* p = FReader->Data();
  // The size bytes are taken whole (not only their low seven bits), as the tag writers of the
  // time did; the sum cannot become negative.
  const int64_t size = (int64_t{p[6]} << 21) + (int64_t{p[7]} << 14) + (int64_t{p[8]} << 7) + p[9];
  if (size <= 0) return;
  const int64_t tagEnd = start + size + 10;
  const uint8_t version = p[3];
  const uint8_t flags = p[5];

  // Frames are read from version 3 tags without unsynchronisation only; the others, and tags
  // whose extended header cannot be used, are passed over whole.
  int64_t frameStart = -1;
  if (version == 3 && (flags & 0x80) == 0) {
    if ((flags & 0x40) == 0) {
      frameStart = start + 10;
    } else if (Peek(14)) {
      // The extended header's size field does not count its own four bytes.
      const int64_t extSize = Be32(FReader->Data() + 10);
      if (extSize >= 0 && extSize + 4 <= size) frameStart = start + 10 + 4 + extSize;
    }
  }

  if (frameStart >= 0 && FReader->Skip(frameStart - start)) {
    while (tagEnd - FReader->Position() >= 10) {
      if (!Peek(10)) break;
      const uint8_t* h = FReader->Data();
      // Padding, or bytes that cannot be a frame id: no more frames.
      if (!std::all_of(h, h + 4, IsFrameIdChar)) break;
      const int32_t frameSize = Be32(h + 4);
      if (frameSize <= 0) break;
      const int64_t total = int64_t{frameSize} + 10;
      if (total > tagEnd - FReader->Position()) break;  // the frame overruns the tag
      if (Peek(total)) {
        const uint8_t* frame = FReader->Data();
        StoreId3v2Frame(std::string_view(reinterpret_cast<const char*>(frame), 4), frame + 10, frameSize);
      }
      if (!FReader->Skip(total)) break;
    }
  }

  // Whatever the frames held, the tag's header states where it ends.
  const int64_t here = FReader->Position();
  if (here <= tagEnd && FReader->Skip(tagEnd - here)) {
    AudioBegins(size + 10);
    FFound.Include(mitID3V2);
  } else {
    ReturnTo(start);
  }
}

void TMP3Info::StoreId3v2Frame(std::string_view id, const uint8_t* body, int64_t size) {
  const uint8_t encoding = body[0];
  const uint8_t* text = body + 1;
  const int64_t textSize = size - 1;
  std::string value;
  if (id[0] == 'T' && encoding == 1)
    value = std::string(TrimRight(Utf16ToUtf8(text, static_cast<size_t>(std::min(textSize / 2, TextLimit())))));
  else if (id == "COMM" || id == "WXXX")
    value = Text(LastBytes(text, textSize));
  else
    value = Text(FixedBytes(text, textSize));
  Add(FId3v2, id, std::move(value));
}

bool TMP3Info::ReadEnd() {
  Assert(FReader != nullptr && FReader->Attached(), "TMP3Info needs an attached reader");
  if (!FReader->Seekable()) return false;
  const int64_t streamSize = FReader->Size();
  if (FAudioSize == kOpenSize) FAudioSize = std::max<int64_t>(0, streamSize - FAudioStart);
  if (FFound.Contains(mitRiff)) {
    try {
      ReadRiffInfo();
    } catch (const EStreamError&) {
      // RIFF INFO is optional; a stream failure there only means no INFO lines.
    }
  }
  ReadId3v1(streamSize);
  ReadLyrics3(streamSize);
  if (FFound.Contains(mitMacBin))
    FReader->Seek(std::min(streamSize, FMacDataStart + Pad128(FMacDataSize) + Pad128(FMacResSize)), soBeginning);
  BoundAudio(streamSize);
  return true;
}

void TMP3Info::ReadRiffInfo() {
  MoveTo(FRiffDataStart + Even(FRiffDataSize));
  for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
    if (!Peek(8)) return;
    const int32_t size = Le32(FReader->Data() + 4);
    if (size < 0) return;
    if (Starts(FReader->Data(), "LIST") && Peek(12) && Starts(FReader->Data() + 8, "INFO")) {
      const int64_t end = FReader->Position() + size + 8;
      FReader->Skip(12);
      for (int item = 0; item < kMaxChunks && end - FReader->Position() >= 8; ++item) {
        if (!Peek(8)) return;
        const std::string id = Text(FixedBytes(FReader->Data(), 4));
        const int32_t itemSize = Le32(FReader->Data() + 4);
        if (itemSize < 0 || id == "IID3") return;
        if (Peek(int64_t{itemSize} + 8)) {
          std::string value = Text(FixedBytes(FReader->Data() + 8, itemSize));
          if (!id.empty() && !value.empty()) Add(FRiffInfo, id, std::move(value));
        }
        if (!FReader->Skip(8 + Even(itemSize))) return;
      }
      return;
    }
    if (!FReader->Skip(8 + Even(size))) return;
  }
}

void TMP3Info::ReadId3v1(int64_t streamSize) {
  const int64_t end = FFound.Contains(mitMacBin) ? std::min(FMacDataEnd, streamSize) : streamSize;
  const int64_t pos = end - 128;
  if (pos < 0) return;
  MoveTo(pos);
  if (!Peek(128) || !Starts(FReader->Data(), "TAG")) return;
  const uint8_t* p = FReader->Data();
  Add(FId3v1, "TITLE", Text(FixedBytes(p + 3, 30)));
  Add(FId3v1, "ARTIST", Text(FixedBytes(p + 33, 30)));
  Add(FId3v1, "ALBUM", Text(FixedBytes(p + 63, 30)));
  Add(FId3v1, "YEAR", Text(FixedBytes(p + 93, 4)));
  Add(FId3v1, "COMMENT", Text(FixedBytes(p + 97, 30)));
  Add(FId3v1, "GENRE", std::string(Id3v1GenreName(p[127])));
  Add(FId3v1, "GENREIDX", std::to_string(p[127]));
  if (p[125] == 0) Add(FId3v1, "TRACK", std::to_string(p[126]));
  FTagPos = pos;
  FFound.Include(mitID3V1);
}

void TMP3Info::ReadLyrics3(int64_t streamSize) {
  const int64_t end = FFound.Contains(mitID3V1)   ? FTagPos
                      : FFound.Contains(mitMacBin) ? std::min(FMacDataEnd, streamSize)
                                                   : streamSize;
  const int64_t e = end - 9;
  if (e < 0) return;
  MoveTo(e);
  if (!Peek(9)) return;

  if (Starts(FReader->Data(), "LYRICSEND")) {
    // Version 1: the block begins with "LYRICSBEGIN" within 5100 bytes before the end mark.
    const int64_t length = std::min<int64_t>({e, 5100, FReader->Capacity()});
    const int64_t s = e - length;
    MoveTo(s);
    if (!Peek(length)) return;
    const std::string_view window(reinterpret_cast<const char*>(FReader->Data()), static_cast<size_t>(length));
    const size_t k = window.find("LYRICSBEGIN");
    if (k == std::string_view::npos) return;
    Add(FLyrics, "LYRICS", Text(window.substr(k + 11)));
    FLyricsPos = s + static_cast<int64_t>(k);
    FFound.Include(mitLyrics);
    return;
  }

  if (!Starts(FReader->Data(), "LYRICS200") || e < 6) return;
  // Version 2: a six-digit size before the end mark counts the block from "LYRICSBEGIN".
  const int64_t fieldsEnd = e - 6;
  MoveTo(fieldsEnd);
  if (!Peek(6)) return;
  const int64_t blockSize = Digits(FReader->Data(), 6);
  if (blockSize <= 0) return;
  const int64_t pos = fieldsEnd - blockSize;
  if (pos < 0) return;
  MoveTo(pos);
  if (!Peek(11) || !Starts(FReader->Data(), "LYRICSBEGIN")) return;
  FReader->Skip(11);
  while (FReader->Position() < fieldsEnd) {
    if (!Peek(8)) return;
    const uint8_t* f = FReader->Data();
    const int64_t length = Digits(f + 3, 5);
    if (length <= 0 || 8 + length > fieldsEnd - FReader->Position()) return;
    const std::string id = Text(std::string_view(reinterpret_cast<const char*>(f), 3));
    if (Peek(8 + length))
      Add(FLyrics, id, Text(std::string_view(reinterpret_cast<const char*>(FReader->Data() + 8), static_cast<size_t>(length))));
    if (!FReader->Skip(8 + length)) return;
  }
  if (FReader->Position() != fieldsEnd) return;
  FLyricsPos = pos;
  FFound.Include(mitLyrics);
}

// The audio ends at the stream's end and before the end tags.
void TMP3Info::BoundAudio(int64_t streamSize) {
  int64_t end = std::min(FAudioStart + FAudioSize, streamSize);
  if (FFound.Contains(mitID3V1) && FTagPos >= FAudioStart) end = std::min(end, FTagPos);
  if (FFound.Contains(mitLyrics) && FLyricsPos >= FAudioStart) end = std::min(end, FLyricsPos);
  FAudioSize = std::max<int64_t>(0, end - FAudioStart);
}

}  // namespace plumo
