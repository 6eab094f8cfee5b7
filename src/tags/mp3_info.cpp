#include "mp3_info.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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

// Text cut to at most limit bytes (at a UTF-8 character boundary), so that a converted value
// stays within three times the limit.
std::string_view CutText(std::string_view bytes, size_t limit) {
  if (bytes.size() <= limit) return bytes;
  size_t cut = limit;
  while (cut > 0 && (static_cast<uint8_t>(bytes[cut]) & 0xC0) == 0x80) --cut;
  return bytes.substr(0, cut);
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

int64_t Be24(const uint8_t* p) { return (int64_t{p[0]} << 16) | (int64_t{p[1]} << 8) | p[2]; }

int64_t SyncSafe(const uint8_t* p) {
  return (int64_t{p[0] & 0x7F} << 21) | (int64_t{p[1] & 0x7F} << 14) | (int64_t{p[2] & 0x7F} << 7) | (p[3] & 0x7F);
}

// Removes the zero byte that unsynchronisation put after every 0xFF.
void Resynchronise(std::vector<uint8_t>& bytes) {
  size_t out = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[out++] = bytes[i];
    if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0) ++i;
  }
  bytes.resize(out);
}

// Version 2.2 frame ids and the four-letter names they later became.
constexpr std::pair<std::string_view, std::string_view> kId3v22Names[] = {
    {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"EQU", "EQUA"}, {"ETC", "ETCO"},
    {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"LNK", "LINK"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"PIC", "APIC"},
    {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"},
    {"TBP", "TBPM"}, {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"},
    {"TEN", "TENC"}, {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"},
    {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"},
    {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"},
    {"TRC", "TSRC"}, {"TRD", "TRDA"}, {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"},
    {"TT2", "TIT2"}, {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"},
    {"ULT", "USLT"}, {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"},
    {"WPB", "WPUB"}, {"WXX", "WXXX"}};

std::string FrameName(std::string_view id) {
  for (const auto& [old, name] : kId3v22Names)
    if (old == id) return std::string(name);
  return std::string(id);
}

// Frames whose body begins with their contents rather than a text encoding byte: the URL frames
// (WXXX aside), and the frames that begin with an owner, address or identification. Other frames
// are taken to begin with an encoding byte, as text frames and unknown ones written like them do.
bool LacksEncodingByte(std::string_view id) {
  constexpr std::string_view kWithout[] = {"PRIV", "UFID", "POPM", "AENC", "ENCR", "GRID", "RVA2", "LINK"};
  return (id[0] == 'W' && id != "WXXX") || std::find(std::begin(kWithout), std::end(kWithout), id) != std::end(kWithout);
}

// Values separated by NUL, each trimmed, the empty ones left out, joined with " / "; at most
// limit bytes.
std::string JoinedBytes(const uint8_t* p, size_t n, size_t limit) {
  std::string out;
  const std::string_view all(reinterpret_cast<const char*>(p), n);
  for (size_t pos = 0; pos < all.size() && out.size() < limit;) {
    const size_t end = std::min(all.find('\0', pos), all.size());
    const std::string_view value = TrimRight(all.substr(pos, end - pos));
    if (!value.empty()) {
      if (!out.empty()) out.append(" / ");
      out.append(value.substr(0, limit - std::min(limit, out.size())));
    }
    pos = end + 1;
  }
  return out;
}

// UTF-16 values (each ending at an aligned pair of zero bytes) to UTF-8, joined with " / "; only
// the first unless several. A byte-order mark sets the order for its value and the ones after it.
// At most limit code units, each separator counted as one, so the text stays within three times
// the limit.
std::string Utf16Values(const uint8_t* p, size_t n, bool bigEndian, bool several, size_t limit) {
  std::string out;
  out.reserve(std::min(n / 2, limit) * 3);
  size_t budget = limit;
  for (size_t pos = 0; pos + 1 < n && budget > 0;) {
    size_t end = pos;
    while (end + 1 < n && (p[end] != 0 || p[end + 1] != 0)) end += 2;
    if (p[pos] == 0xFF && p[pos + 1] == 0xFE) bigEndian = false;
    if (p[pos] == 0xFE && p[pos + 1] == 0xFF) bigEndian = true;
    const size_t units = std::min((end - pos) / 2, budget - (out.empty() ? 0 : 1));
    const std::string value(TrimRight(Utf16ToUtf8(p + pos, units, bigEndian)));
    if (!value.empty()) {
      if (!out.empty()) {
        out.append(" / ");
        --budget;
      }
      out.append(value);
      budget -= units;
    }
    if (!several) break;
    pos = end + 2;
  }
  return out;
}

// Offset just after the UTF-16 NUL that ends a text starting at `from`; npos without one.
size_t AfterUtf16Nul(const uint8_t* p, size_t n, size_t from) {
  for (size_t k = from; k + 1 < n; k += 2)
    if (p[k] == 0 && p[k + 1] == 0) return k + 2;
  return std::string_view::npos;
}

// The bytes of an ID3v2 tag from the reader's position to the tag's end. With unsynchronisation of
// the whole tag every 0xFF 0x00 pair reads as 0xFF.
class TTagBytes {
 public:
  TTagBytes(TMPStreamReader& reader, int64_t end, bool unsync) : FReader(reader), FEnd(end), FUnsync(unsync) {}

  // Bytes of the file left before the tag's end (as many or more than can still be read).
  int64_t Left() const { return FEnd - FReader.Position(); }

  // The next n bytes (at most the reader's capacity) into out; false when the tag or the stream
  // ends first.
  bool Read(int64_t n, std::vector<uint8_t>& out) {
    out.clear();
    if (n > Left() || n > FReader.Capacity()) return false;
    if (!FUnsync) {
      if (!FReader.Ensure(static_cast<int32_t>(n))) return false;
      out.assign(FReader.Data(), FReader.Data() + n);
      return FReader.Skip(n);
    }
    out.reserve(static_cast<size_t>(n));
    return Take(n, &out);
  }

  // The next n bytes into out, read in parts of at most the reader's capacity; false when the tag
  // or the stream ends first.
  bool ReadAll(int64_t n, std::vector<uint8_t>& out) {
    out.clear();
    if (n > Left()) return false;
    out.reserve(static_cast<size_t>(n));
    if (FUnsync) return Take(n, &out);
    while (n > 0) {
      const int64_t part = std::min<int64_t>(n, FReader.Capacity());
      if (!FReader.Ensure(static_cast<int32_t>(part))) return false;
      out.insert(out.end(), FReader.Data(), FReader.Data() + part);
      FReader.Skip(part);
      n -= part;
    }
    return true;
  }

  // Passes n bytes; false when the tag or the stream ends first.
  bool Pass(int64_t n) {
    if (n > Left()) return false;
    return FUnsync ? Take(n, nullptr) : FReader.Skip(n);
  }

  // Whether a frame header (or padding, or the tag's end) could begin `offset` bytes ahead; true
  // when those bytes are beyond what the reader can show.
  bool FrameCouldStartAt(int64_t offset) {
    if (offset == Left()) return true;
    if (offset + 4 > Left()) return false;
    if (offset + 4 > FReader.Capacity() || !FReader.Ensure(static_cast<int32_t>(offset + 4))) return true;
    const uint8_t* q = FReader.Data() + offset;
    return q[0] == 0 || std::all_of(q, q + 4, IsFrameIdChar);
  }

 private:
  bool Take(int64_t n, std::vector<uint8_t>* out) {
    while (n > 0) {
      if (Left() <= 0) return false;
      if (!FReader.Fill(1)) return false;
      const uint8_t* p = FReader.Data();
      const int64_t available = std::min<int64_t>(FReader.Contiguous(), Left());
      int64_t used = 0;
      while (used < available && n > 0) {
        const uint8_t b = p[used++];
        if (FAfterFF && b == 0) {
          FAfterFF = false;
          continue;
        }
        FAfterFF = b == 0xFF;
        if (out) out->push_back(b);
        --n;
      }
      FReader.Skip(used);
    }
    return true;
  }

  TMPStreamReader& FReader;
  int64_t FEnd;
  bool FUnsync;
  bool FAfterFF = false;
};

// The description and value of a TXXX frame body, the value's first string only.
std::pair<std::string, std::string> UserText(const uint8_t* body, size_t size) {
  const uint8_t encoding = body[0];
  const uint8_t* p = body + 1;
  const size_t n = size - 1;
  constexpr size_t kLimit = 256;
  if (encoding == 1 || encoding == 2) {
    const size_t after = AfterUtf16Nul(p, n, 0);
    if (after == std::string_view::npos) return {};
    return {Utf16Values(p, after, encoding == 2, false, kLimit), Utf16Values(p + after, n - after, encoding == 2, false, kLimit)};
  }
  const std::string_view all(reinterpret_cast<const char*>(p), n);
  const size_t nul = all.find('\0');
  if (nul == std::string_view::npos) return {};
  return {std::string(TrimRight(all.substr(0, nul))), std::string(FixedBytes(p + nul + 1, static_cast<int64_t>(n - nul - 1)))};
}

// An APIC frame's picture (a PIC frame's in version 2.2, with a three-letter image format in place
// of the MIME type).
TPicture Id3v2Picture(bool version22, const uint8_t* body, size_t size) {
  TPicture picture;
  const std::string_view all(reinterpret_cast<const char*>(body), size);
  size_t at = 1;
  if (version22) {
    if (size < 5) return {};
    picture.Format = std::string(all.substr(1, 3));
    at = 4;
  } else {
    const size_t nul = all.find('\0', at);
    if (nul == std::string_view::npos) return {};
    picture.Format = std::string(all.substr(at, std::min<size_t>(nul - at, 64)));
    at = nul + 1;
  }
  if (at >= size) return {};
  picture.Type = body[at++];
  const bool utf16 = body[0] == 1 || body[0] == 2;
  const size_t after = utf16 ? AfterUtf16Nul(body, size, at) : all.find('\0', at);
  if (after == std::string_view::npos) return {};
  const size_t start = utf16 ? after : after + 1;
  picture.Data.assign(body + start, body + size);
  return picture;
}

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
  FTagPos = FLyricsPos = FApePos = 0;
  FRiffInfo.clear();
  FId3v1.clear();
  FId3v2.clear();
  FLyrics.clear();
  FApe.clear();
  FReplayGain = {};
  FPicture = {};
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
    case mitApe: return FApe;
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

std::string TMP3Info::Choose(std::string_view id3v1Key, std::string_view id3v2Key, std::string_view apeKey,
                             std::string_view riffKey) const {
  const auto value = [&](TMP3InfoType kind, const std::vector<std::string>& lines, std::string_view key) {
    return FNeedInfoType.Contains(kind) ? Value(lines, key) : std::string();
  };
  std::string full = value(mitID3V2, FId3v2, id3v2Key);
  std::string ape;
  // APEv2 keys are matched in any letter case ("Title", "TITLE").
  if (FNeedInfoType.Contains(mitApe))
    for (const std::string& line : FApe)
      if (line.size() > apeKey.size() && line[apeKey.size()] == '=' &&
          std::equal(apeKey.begin(), apeKey.end(), line.begin(),
                     [](char a, char b) { return a == (b >= 'a' && b <= 'z' ? b - 32 : b); })) {
        ape = line.substr(apeKey.size() + 1);
        break;
      }
  if (Utf8Length(ape) > Utf8Length(full)) full = std::move(ape);
  std::string riff = value(mitRiff, FRiffInfo, riffKey);
  if (Utf8Length(riff) > Utf8Length(full)) full = std::move(riff);
  std::string copy = value(mitID3V1, FId3v1, id3v1Key);
  // ID3v1 holds 30 bytes of 8-bit text: a copy as long as the full value has lost characters
  // rather than gained any. It wins only where the full value is a shorter start of it.
  const bool cutShorter = full.size() < copy.size() && copy.compare(0, full.size(), full) == 0;
  return full.empty() || cutShorter ? copy : full;
}

std::string TMP3Info::Title() const {
  std::string title = Choose("TITLE", "TIT2", "TITLE", "INAM");
  if (title.empty()) title = FFileName.substr(FFileName.rfind('/') + 1);
  return title;
}

std::string TMP3Info::Artist() const { return Choose("ARTIST", "TPE1", "ARTIST", "IART"); }

std::string TMP3Info::Album() const { return Choose("ALBUM", "TALB", "ALBUM", "IPRD"); }

// Keeps the first front cover, else the first picture.
void TMP3Info::OfferPicture(TPicture picture) {
  if (picture.Data.empty()) return;
  if (FPicture.Data.empty() || (picture.Type == 3 && FPicture.Type != 3)) FPicture = std::move(picture);
}

std::string_view PictureKind(const std::vector<uint8_t>& data) {
  constexpr uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF};
  constexpr uint8_t kPng[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (data.size() >= sizeof kJpeg && std::equal(std::begin(kJpeg), std::end(kJpeg), data.begin())) return "JPEG";
  if (data.size() >= sizeof kPng && std::equal(std::begin(kPng), std::end(kPng), data.begin())) return "PNG";
  return {};
}

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

std::string TMP3Info::Text(std::string_view bytes) const {
  return AnsiToUtf8(CutText(bytes, static_cast<size_t>(TextLimit())));
}

void TMP3Info::Add(std::vector<std::string>& lines, std::string_view key, std::string value) {
  if (lines.size() >= kMaxLines) return;
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append(1, '=').append(value);
  lines.push_back(std::move(line));
}

void TMP3Info::AddRaw(std::vector<std::string>& lines, TRawValues& raw, std::string_view key, std::string_view bytes) {
  if (lines.size() >= kMaxLines) return;
  raw.emplace_back(lines.size(), key.size() + 1);
  Add(lines, key, std::string(CutText(bytes, static_cast<size_t>(TextLimit()))));
}

void TMP3Info::ConvertRaw(std::vector<std::string>& lines, const TRawValues& raw) {
  std::vector<std::string_view> fields;
  fields.reserve(raw.size());
  for (const auto& [line, offset] : raw) fields.push_back(std::string_view(lines[line]).substr(offset));
  const TEightBitCharset charset = EightBitCharset(fields);
  for (const auto& [line, offset] : raw) {
    std::string value = EightBitToUtf8(std::string_view(lines[line]).substr(offset), charset);
    lines[line].replace(offset, std::string::npos, value);
  }
}

bool TMP3Info::ReadFront() {
  Assert(FReader != nullptr && FReader->Attached(), "TMP3Info needs an attached reader");
  FAudioStart = FReader->Position();
  ReadMacBinary();
  ReadRiff();
  // Some files carry several tags in a row (a tool added its own before the old one): the audio
  // begins after the last. Each tag passed moves the reader on, so this ends.
  while (ReadId3v2()) {
  }
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

bool TMP3Info::ReadId3v2() {
  const int64_t start = FReader->Position();
  if (!Peek(10) || !Starts(FReader->Data(), "ID3")) return false;
  const uint8_t* p = FReader->Data();
  // The size bytes are taken whole (not only their low seven bits), as the tag writers of the
  // time did; the sum cannot become negative.
  const int64_t size = (int64_t{p[6]} << 21) + (int64_t{p[7]} << 14) + (int64_t{p[8]} << 7) + p[9];
  if (size <= 0) return false;
  const int64_t tagEnd = start + size + 10;
  const uint8_t version = p[3];
  const uint8_t flags = p[5];

  // Frames are read from versions 2.2 to 2.4; other versions are passed over whole.
  if (version >= 2 && version <= 4) {
    FReader->Skip(10);
    TRawValues raw;
    try {
      ReadId3v2Frames(version, flags, size, tagEnd, raw);
    } catch (...) {
      ConvertRaw(FId3v2, raw);
      throw;
    }
    ConvertRaw(FId3v2, raw);
  }

  // Whatever the frames held, the tag's header states where it ends. A version 2.4 footer
  // ("3DI", ten bytes after that end) is left to the frame search, as before any frame was read.
  const int64_t here = FReader->Position();
  if (here <= tagEnd && FReader->Skip(tagEnd - here)) {
    AudioBegins(size + 10);
    FFound.Include(mitID3V2);
    return true;
  }
  ReturnTo(start);
  return false;
}

void TMP3Info::ReadId3v2Frames(uint8_t version, uint8_t flags, int64_t size, int64_t tagEnd, TRawValues& raw) {
  // Versions 2.2 and 2.3 unsynchronise the whole tag, and their sizes count the bytes as they
  // were before; version 2.4 unsynchronises frame by frame, its sizes count the stored bytes.
  const bool unsync = (flags & 0x80) != 0;
  TTagBytes bytes(*FReader, tagEnd, unsync && version < 4);
  std::vector<uint8_t> buffer;
  if ((flags & 0x40) != 0) {
    if (version == 2) return;  // a compressed tag
    if (!bytes.Read(4, buffer)) return;
    if (version == 3) {
      // The extended header's size does not count its own four bytes.
      const int64_t extSize = Be32(buffer.data());
      if (extSize < 0 || extSize + 4 > size || !bytes.Pass(extSize)) return;
    } else {
      const int64_t extSize = SyncSafe(buffer.data());
      if (extSize < 6 || extSize > size || !bytes.Pass(extSize - 4)) return;
    }
  }

  const int64_t headerSize = version == 2 ? 6 : 10;
  const size_t idSize = version == 2 ? 3 : 4;
  while (bytes.Left() >= headerSize) {
    if (!bytes.Read(headerSize, buffer)) break;
    const uint8_t* h = buffer.data();
    // Padding (a zero byte where an id begins), or bytes that cannot be a frame id: no more frames.
    if (!std::all_of(h, h + idSize, IsFrameIdChar)) break;
    const std::string id = FrameName(std::string_view(reinterpret_cast<const char*>(h), idSize));
    int64_t frameSize = 0;
    uint8_t format = 0;
    if (version == 2) {
      frameSize = Be24(h + 3);
    } else if (version == 3) {
      frameSize = Be32(h + 4);
      format = h[9];
    } else {
      format = h[9];
      // Sizes are sync-safe; some writers stored plain 32-bit sizes, which show by a byte above
      // 0x7F or by where the next frame begins.
      const int64_t plain = static_cast<uint32_t>(Be32(h + 4));
      frameSize = SyncSafe(h + 4);
      if (plain != frameSize &&
          (((h[4] | h[5] | h[6] | h[7]) & 0x80) != 0 ||
           (!bytes.FrameCouldStartAt(frameSize) && bytes.FrameCouldStartAt(plain))))
        frameSize = plain;
    }
    if (frameSize == 0) continue;  // an empty frame: the next one follows its header
    if (frameSize < 0 || frameSize > bytes.Left()) break;  // a frame that overruns the tag
    // A frame larger than the reader's capacity is read only for its picture, and not listed.
    const bool large = frameSize + headerSize > FReader->Capacity();
    if (large && (id != "APIC" || frameSize > kMaxPicture)) {
      if (!bytes.Pass(frameSize)) break;
      continue;
    }
    if (!(large ? bytes.ReadAll(frameSize, buffer) : bytes.Read(frameSize, buffer))) break;

    // Frame flags: compressed and encrypted frames are not read; a group byte, an encryption
    // method byte and a data length go before the frame's contents.
    size_t skip = 0;
    if (version == 3) {
      if ((format & 0xC0) != 0) continue;
      skip = (format & 0x20) ? 1 : 0;
    } else if (version == 4) {
      if ((format & 0x0C) != 0) continue;
      if ((format & 0x02) != 0 || unsync) Resynchronise(buffer);
      skip = ((format & 0x40) ? 1 : 0) + ((format & 0x01) ? 4 : 0);
    }
    if (skip >= buffer.size()) continue;
    const uint8_t* body = buffer.data() + skip;
    const size_t bodySize = buffer.size() - skip;
    if (id == "APIC") OfferPicture(Id3v2Picture(version == 2, body, bodySize));
    if (id == "TXXX") {
      const auto [name, value] = UserText(body, bodySize);
      TakeReplayGainItem(FReplayGain, name, value);
    }
    if (id == "RVA2") TakeRva2(FReplayGain, body, bodySize);
    if (!large) StoreId3v2Frame(id, body, bodySize, version == 4, raw);
  }
}

// Stores one frame's value. Text frames and COMM/WXXX in 8-bit text join the tag's 8-bit values;
// other frames are converted on their own.
void TMP3Info::StoreId3v2Frame(std::string_view id, const uint8_t* body, size_t size, bool severalValues,
                               TRawValues& raw) {
  const uint8_t encoding = body[0];
  const uint8_t* text = body + 1;
  const size_t textSize = size - 1;
  const bool utf16 = encoding == 1 || encoding == 2;
  const size_t limit = static_cast<size_t>(TextLimit());
  const auto addEightBit = [&](std::string_view bytes) {
    if (encoding == 3 && IsValidUtf8(bytes))
      Add(FId3v2, id, std::string(CutText(bytes, limit)));
    else
      AddRaw(FId3v2, raw, id, bytes);
  };
  if (id[0] == 'T') {
    if (utf16)
      Add(FId3v2, id, Utf16Values(text, textSize, encoding == 2, severalValues, limit));
    else if (severalValues)
      addEightBit(JoinedBytes(text, textSize, limit));
    else
      addEightBit(FixedBytes(text, static_cast<int64_t>(textSize)));
  } else if (id == "COMM" || id == "WXXX") {
    if (!utf16) {
      addEightBit(LastBytes(text, static_cast<int64_t>(textSize)));
      return;
    }
    // The description, after COMM's language code, ends with a UTF-16 NUL; then comes the
    // comment in UTF-16, or WXXX's address in 8-bit text.
    const size_t after = AfterUtf16Nul(text, textSize, id == "COMM" ? 3 : 0);
    if (after == std::string_view::npos)
      Add(FId3v2, id, "");
    else if (id == "COMM")
      Add(FId3v2, id, Utf16Values(text + after, textSize - after, encoding == 2, false, limit));
    else
      AddRaw(FId3v2, raw, id, FixedBytes(text + after, static_cast<int64_t>(textSize - after)));
  } else if (LacksEncodingByte(id)) {
    Add(FId3v2, id, Text(FixedBytes(body, static_cast<int64_t>(size))));
  } else {
    Add(FId3v2, id, Text(FixedBytes(text, static_cast<int64_t>(textSize))));
  }
}

bool TMP3Info::ReadEnd() {
  Assert(FReader != nullptr && FReader->Attached(), "TMP3Info needs an attached reader");
  if (!FReader->Seekable()) return false;
  const int64_t streamSize = FReader->Size();
  if (FAudioSize == kOpenSize) FAudioSize = std::max<int64_t>(0, streamSize - FAudioStart);
  if (FFound.Contains(mitRiff)) {
    TRawValues raw;
    try {
      ReadRiffInfo(raw);
    } catch (const EStreamError&) {
      // RIFF INFO is optional; a stream failure there only means no more INFO lines.
    }
    ConvertRaw(FRiffInfo, raw);
  }
  int64_t end = FFound.Contains(mitMacBin) ? std::min(FMacDataEnd, streamSize) : streamSize;
  ReadId3v1(end);
  if (FFound.Contains(mitID3V1)) end = FTagPos;
  // Before the ID3v1 tag (or at the end) lie an APEv2 tag and a Lyrics3 block, in either order;
  // some taggers append their APEv2 tag after an ID3v1 tag that was there.
  ReadApe(end);
  if (FFound.Contains(mitApe)) end = FApePos;
  if (FFound.Contains(mitApe) && !FFound.Contains(mitID3V1)) {
    ReadId3v1(end);
    if (FFound.Contains(mitID3V1)) end = FTagPos;
  }
  ReadLyrics3(end);
  if (!FFound.Contains(mitApe) && FFound.Contains(mitLyrics)) ReadApe(FLyricsPos);
  if (FFound.Contains(mitMacBin))
    FReader->Seek(std::min(streamSize, FMacDataStart + Pad128(FMacDataSize) + Pad128(FMacResSize)), soBeginning);
  BoundAudio(streamSize);
  return true;
}

void TMP3Info::ReadRiffInfo(TRawValues& raw) {
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
          const std::string_view value = FixedBytes(FReader->Data() + 8, itemSize);
          if (!id.empty() && !value.empty()) AddRaw(FRiffInfo, raw, id, value);
        }
        if (!FReader->Skip(8 + Even(itemSize))) return;
      }
      return;
    }
    if (!FReader->Skip(8 + Even(size))) return;
  }
}

// An ID3v1 tag that ends at end.
void TMP3Info::ReadId3v1(int64_t end) {
  const int64_t pos = end - 128;
  if (pos < 0) return;
  MoveTo(pos);
  if (!Peek(128) || !Starts(FReader->Data(), "TAG")) return;
  const uint8_t* p = FReader->Data();
  struct TField {
    std::string_view Key;
    int Offset, Width;
  };
  constexpr TField kFields[] = {{"TITLE", 3, 30}, {"ARTIST", 33, 30}, {"ALBUM", 63, 30}, {"YEAR", 93, 4}, {"COMMENT", 97, 30}};
  std::string_view values[std::size(kFields)];
  for (size_t i = 0; i < std::size(kFields); ++i) values[i] = FixedBytes(p + kFields[i].Offset, kFields[i].Width);
  // A writer that cut UTF-8 text at a field's width may have cut its last character in two. When
  // that is the only fault of the tag's text and the tag holds UTF-8 characters, the partial
  // characters are dropped and the tag reads as UTF-8. (A lone 8-bit letter in the last byte of
  // otherwise plain text stays a letter.)
  std::string_view whole[std::size(kFields)];
  bool cut = false;
  bool utf8 = true;
  bool nonAscii = false;
  for (size_t i = 0; i < std::size(kFields); ++i) {
    whole[i] = values[i].size() == static_cast<size_t>(kFields[i].Width) ? WithoutCutUtf8Character(values[i]) : values[i];
    cut |= whole[i].size() != values[i].size();
    utf8 &= IsValidUtf8(whole[i]);
    nonAscii |= std::any_of(whole[i].begin(), whole[i].end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; });
  }
  if (cut && utf8 && nonAscii)
    for (size_t i = 0; i < std::size(kFields); ++i) values[i] = TrimRight(whole[i]);
  TRawValues raw;
  for (size_t i = 0; i < std::size(kFields); ++i) AddRaw(FId3v1, raw, kFields[i].Key, values[i]);
  ConvertRaw(FId3v1, raw);
  Add(FId3v1, "GENRE", std::string(Id3v1GenreName(p[127])));
  Add(FId3v1, "GENREIDX", std::to_string(p[127]));
  if (p[125] == 0) Add(FId3v1, "TRACK", std::to_string(p[126]));
  FTagPos = pos;
  FFound.Include(mitID3V1);
}

// A Lyrics3 block that ends at end.
void TMP3Info::ReadLyrics3(int64_t end) {
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
    TRawValues raw;
    AddRaw(FLyrics, raw, "LYRICS", window.substr(k + 11));
    ConvertRaw(FLyrics, raw);
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
  TRawValues raw;
  bool complete = false;
  try {
    complete = ReadLyrics3Fields(fieldsEnd, raw);
  } catch (...) {
    ConvertRaw(FLyrics, raw);
    throw;
  }
  ConvertRaw(FLyrics, raw);
  if (!complete) return;
  FLyricsPos = pos;
  FFound.Include(mitLyrics);
}

// Lyrics3 version 2 fields up to fieldsEnd; true when they end exactly there.
bool TMP3Info::ReadLyrics3Fields(int64_t fieldsEnd, TRawValues& raw) {
  while (FReader->Position() < fieldsEnd) {
    if (!Peek(8)) return false;
    const uint8_t* f = FReader->Data();
    const int64_t length = Digits(f + 3, 5);
    if (length <= 0 || 8 + length > fieldsEnd - FReader->Position()) return false;
    const std::string id = Text(std::string_view(reinterpret_cast<const char*>(f), 3));
    if (Peek(8 + length))
      AddRaw(FLyrics, raw, id, std::string_view(reinterpret_cast<const char*>(FReader->Data() + 8), static_cast<size_t>(length)));
    if (!FReader->Skip(8 + length)) return false;
  }
  return FReader->Position() == fieldsEnd;
}

// The audio ends at the stream's end and before the end tags.
void TMP3Info::BoundAudio(int64_t streamSize) {
  int64_t end = std::min(FAudioStart + FAudioSize, streamSize);
  if (FFound.Contains(mitID3V1) && FTagPos >= FAudioStart) end = std::min(end, FTagPos);
  if (FFound.Contains(mitLyrics) && FLyricsPos >= FAudioStart) end = std::min(end, FLyricsPos);
  if (FFound.Contains(mitApe) && FApePos >= FAudioStart) end = std::min(end, FApePos);
  FAudioSize = std::max<int64_t>(0, end - FAudioStart);
}

// An APEv2 tag (version 1 or 2) whose footer ends at end, with its header when it has one.
void TMP3Info::ReadApe(int64_t end) {
  const int64_t footer = end - 32;
  if (footer < FAudioStart) return;
  MoveTo(footer);
  if (!Peek(32) || !Starts(FReader->Data(), "APETAGEX")) return;
  const uint8_t* f = FReader->Data();
  const uint32_t version = static_cast<uint32_t>(Le32(f + 8));
  // The size counts the items and the footer, not the header.
  const int64_t size = static_cast<uint32_t>(Le32(f + 12));
  const int64_t count = static_cast<uint32_t>(Le32(f + 16));
  const uint32_t flags = static_cast<uint32_t>(Le32(f + 20));
  if ((version != 1000 && version != 2000) || size < 32 || size > 2 * kMaxPicture) return;
  const int64_t items = end - size;
  if (items < FAudioStart) return;
  int64_t start = items;
  if (version == 2000 && (flags & 0x80000000u) != 0 && items - 32 >= FAudioStart) {
    MoveTo(items - 32);
    if (Peek(32) && Starts(FReader->Data(), "APETAGEX")) start = items - 32;
  }
  FApePos = start;
  FFound.Include(mitApe);
  TRawValues raw;
  try {
    ReadApeItems(items, footer, count, version == 2000, raw);
  } catch (...) {
    ConvertRaw(FApe, raw);
    throw;
  }
  ConvertRaw(FApe, raw);
}

// The items of an APEv2 tag between itemsStart and itemsEnd: a 32-bit value size, 32-bit flags,
// a key ending in NUL, the value. A damaged item ends the walk.
void TMP3Info::ReadApeItems(int64_t itemsStart, int64_t itemsEnd, int64_t count, bool version2, TRawValues& raw) {
  MoveTo(itemsStart);
  const size_t limit = static_cast<size_t>(TextLimit());
  for (int64_t i = 0; i < count && i < static_cast<int64_t>(kMaxLines) && itemsEnd - FReader->Position() >= 10; ++i) {
    const int64_t here = FReader->Position();
    const int64_t head = std::min<int64_t>(itemsEnd - here, 8 + 256);
    if (!Peek(head)) break;
    const uint8_t* p = FReader->Data();
    const int64_t valueSize = static_cast<uint32_t>(Le32(p));
    const uint32_t itemFlags = static_cast<uint32_t>(Le32(p + 4));
    const std::string_view field(reinterpret_cast<const char*>(p + 8), static_cast<size_t>(head - 8));
    const size_t nul = field.find('\0');
    if (nul == std::string_view::npos || nul == 0 ||
        !std::all_of(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(nul), [](char c) { return c >= 0x20 && c <= 0x7E; }))
      break;
    const std::string key(field.substr(0, nul));
    const int64_t valueStart = here + 8 + static_cast<int64_t>(nul) + 1;
    if (valueSize > itemsEnd - valueStart) break;
    MoveTo(valueStart);
    if (version2 && ((itemFlags >> 1) & 3) != 0) {
      // Binary data or a locator: only the front cover is read.
      Add(FApe, key, "(" + std::to_string(valueSize) + " bytes)");
      const bool cover = key.size() == 17 && std::equal(key.begin(), key.end(), "COVER ART (FRONT)", [](char a, char b) {
                           return (a >= 'a' && a <= 'z' ? a - 32 : a) == b;
                         });
      if (cover && ((itemFlags >> 1) & 3) == 1 && valueSize <= kMaxPicture) {
        std::vector<uint8_t> bytes;
        bytes.reserve(static_cast<size_t>(valueSize));
        for (int64_t left = valueSize; left > 0;) {
          const int64_t part = std::min<int64_t>(left, FReader->Capacity());
          if (!Peek(part)) return;
          bytes.insert(bytes.end(), FReader->Data(), FReader->Data() + part);
          FReader->Skip(part);
          left -= part;
        }
        // A file name ending in NUL goes before the picture.
        const auto nameEnd = std::find(bytes.begin(), bytes.end(), uint8_t{0});
        if (nameEnd != bytes.end()) {
          TPicture picture;
          picture.Type = 3;
          picture.Format.assign(bytes.begin(), bytes.begin() + std::min<std::ptrdiff_t>(nameEnd - bytes.begin(), 64));
          picture.Data.assign(nameEnd + 1, bytes.end());
          OfferPicture(std::move(picture));
        }
      }
    } else if (valueSize <= FReader->Capacity() && Peek(valueSize)) {
      const std::string value = JoinedBytes(FReader->Data(), static_cast<size_t>(valueSize), limit);
      TakeReplayGainItem(FReplayGain, key, value);
      if (IsValidUtf8(value))
        Add(FApe, key, std::string(CutText(value, limit)));
      else
        AddRaw(FApe, raw, key, value);
    }
    MoveTo(valueStart + valueSize);
  }
}

}  // namespace plumo
