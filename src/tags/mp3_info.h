// TMP3Info: finds where the MPEG audio lies inside a file and collects the descriptive text
// stored around it (MacBinary and RIFF wrappers, ID3v2 at the front, RIFF INFO, ID3v1 and
// Lyrics3 and APEv2 at the end). It reads through the player's TMPStreamReader. Along the way it
// gathers the ReplayGain values the tags hold and the front cover picture.
//
// Use: SetReader(reader) once the reader is attached, ReadFront(), then (seekable streams)
// ReadEnd(); afterwards AudioStart()/AudioSize() bound the audio and Title()/Artist()/Album()
// answer the display texts. Reading tags never fails loudly: a damaged or missing tag is simply
// absent. All text is UTF-8; the 8-bit text of one tag is read in one charset, chosen over all
// its 8-bit fields together (EightBitCharset).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "replay_gain.h"
#include "stream_reader.h"

namespace plumo {

enum TMP3InfoType : uint8_t { mitID3V1, mitID3V2, mitRiff, mitMacBin, mitLyrics, mitApe };

// Set of TMP3InfoType members; member m is bit m.
class TMP3InfoTypes {
 public:
  constexpr TMP3InfoTypes() = default;
  constexpr TMP3InfoTypes(std::initializer_list<TMP3InfoType> members) {
    for (const TMP3InfoType m : members) Include(m);
  }
  static constexpr TMP3InfoTypes FromBits(uint8_t bits) {
    TMP3InfoTypes s;
    s.FBits = bits & 0x3F;
    return s;
  }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool Contains(TMP3InfoType m) const { return (FBits >> m) & 1; }
  constexpr void Include(TMP3InfoType m) { FBits = static_cast<uint8_t>(FBits | (1u << m)); }
  constexpr void Exclude(TMP3InfoType m) { FBits = static_cast<uint8_t>(FBits & ~(1u << m)); }
  constexpr bool Empty() const { return FBits == 0; }
  friend constexpr bool operator==(TMP3InfoTypes, TMP3InfoTypes) = default;

 private:
  uint8_t FBits = 0;
};

// An embedded picture: its picture type (3 is the front cover), MIME type or format as stored,
// and its bytes.
struct TPicture {
  uint8_t Type = 0;
  std::string Format;
  std::vector<uint8_t> Data;
};

// "JPEG" or "PNG" when the bytes begin as such an image does, else empty.
std::string_view PictureKind(const std::vector<uint8_t>& data);

class TMP3Info {
 public:
  // AudioSize and RiffDataSize while the size is not known (MaxInt).
  static constexpr int64_t kOpenSize = 2147483647;
  // At most this many lines are kept per list; further tag items are passed over.
  static constexpr size_t kMaxLines = 1024;
  // Pictures larger than this are passed over; an APEv2 tag larger than this is not read.
  static constexpr int64_t kMaxPicture = 16 * 1024 * 1024;

  TMP3Info() { Clear(); }

  // Forgets the reader and everything found; AudioSize and RiffDataSize become open.
  // NeedInfoType is kept.
  void Clear();
  // Clear, then examine through reader (not owned; nullptr only clears).
  void SetReader(TMPStreamReader* reader);
  TMPStreamReader* Reader() const { return FReader; }

  // Reads MacBinary, RIFF and ID3v2 at the reader's position and leaves the reader at the audio
  // start. True when at least one byte of audio follows.
  bool ReadFront();
  // Reads RIFF INFO, ID3v1 and Lyrics3 and bounds the audio so that it excludes every tag.
  // False (and nothing read) when the stream is not seekable. The reader's position is
  // undefined afterwards: seek it to AudioStart().
  bool ReadEnd();

  // The selected kinds' value: the longest of ID3v2, APEv2 and RIFF INFO (in this order on
  // ties), unless it is empty or a shorter start of the ID3v1 value; then the ID3v1 value.
  // Title falls back to FileName() without its folder.
  std::string Title() const;
  std::string Artist() const;
  std::string Album() const;

  TMP3InfoTypes NeedInfoType() const { return FNeedInfoType; }
  void SetNeedInfoType(TMP3InfoTypes types) { FNeedInfoType = types; }
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string fileName) { FFileName = std::move(fileName); }

  // Which kinds were found.
  TMP3InfoTypes Found() const { return FFound; }
  // Byte range of the audio. AudioSize is kOpenSize until known (after ReadEnd it is known).
  int64_t AudioStart() const { return FAudioStart; }
  int64_t AudioSize() const { return FAudioSize; }
  // MacBinary data fork (start, length, end) and resource fork length; valid with mitMacBin.
  int64_t MacDataStart() const { return FMacDataStart; }
  int64_t MacDataSize() const { return FMacDataSize; }
  int64_t MacDataEnd() const { return FMacDataEnd; }
  int64_t MacResSize() const { return FMacResSize; }
  // Contents of the RIFF "data" chunk; valid with mitRiff.
  int64_t RiffDataStart() const { return FRiffDataStart; }
  int64_t RiffDataSize() const { return FRiffDataSize; }
  // Offset of the ID3v1 tag (with mitID3V1), of the Lyrics3 block (with mitLyrics) and of the
  // APEv2 tag, its header included (with mitApe).
  int64_t TagPos() const { return FTagPos; }
  int64_t LyricsPos() const { return FLyricsPos; }
  int64_t ApePos() const { return FApePos; }

  // ReplayGain values of the ID3v2 and APEv2 tags (ID3v2 first).
  const TReplayGain& ReplayGain() const { return FReplayGain; }
  // The front cover (picture type 3), else the first picture; Data is empty without one.
  const TPicture& Picture() const { return FPicture; }

  // Tag lines "KEY=value", in file order, one list per kind:
  //  RiffInfo: the INFO chunk id as key (INAM, IART, IPRD, ICMT, ISFT, ...);
  //  Id3v1:    TITLE, ARTIST, ALBUM, YEAR, COMMENT, GENRE, GENREIDX and, for ID3v1.1, TRACK;
  //  Id3v2:    the frame id as key (TIT2, TPE1, TALB, COMM, WXXX, ...; version 2.2 ids under
  //            their later four-letter names); several values of a version 2.4 text frame are
  //            joined with " / "; frames larger than the reader's capacity, compressed and
  //            encrypted frames are not listed;
  //  Lyrics:   LYRICS for a version 1 block, the field ids (IND, LYR, ETT, EAR, EAL, ...) for
  //            version 2;
  //  Ape:      the item keys as stored (Title, Artist, Album, REPLAYGAIN_TRACK_GAIN, ...); several
  //            values of an item are joined with " / ", binary items show their size.
  // A list may hold lines of a kind that was not found (the tag broke off after them).
  const std::vector<std::string>& RiffInfo() const { return FRiffInfo; }
  const std::vector<std::string>& Id3v1() const { return FId3v1; }
  const std::vector<std::string>& Id3v2() const { return FId3v2; }
  const std::vector<std::string>& Lyrics() const { return FLyrics; }
  const std::vector<std::string>& Ape() const { return FApe; }
  // The list of a kind (mitMacBin has none: an empty list).
  const std::vector<std::string>& Lines(TMP3InfoType kind) const;

  // Value of the first line with the given key in lines; empty when there is none.
  static std::string Value(const std::vector<std::string>& lines, std::string_view key);

 private:
  bool Peek(int64_t n);
  void MoveTo(int64_t position);
  void ReturnTo(int64_t start);
  void AudioBegins(int64_t tagBytes);
  int64_t TextLimit() const;
  std::string Text(std::string_view bytes) const;
  void Add(std::vector<std::string>& lines, std::string_view key, std::string value);
  // Lines of the tag being read whose values are still 8-bit bytes: (line index, value offset).
  // The tag's 8-bit values are converted together once the tag is read (ConvertRaw).
  using TRawValues = std::vector<std::pair<size_t, size_t>>;
  void AddRaw(std::vector<std::string>& lines, TRawValues& raw, std::string_view key, std::string_view bytes);
  static void ConvertRaw(std::vector<std::string>& lines, const TRawValues& raw);
  std::string Choose(std::string_view id3v1Key, std::string_view id3v2Key, std::string_view apeKey,
                     std::string_view riffKey) const;
  void OfferPicture(TPicture picture);

  void ReadMacBinary();
  void ReadRiff();
  // Reads the ID3v2 tag at the reader's position; true when one was found and passed.
  bool ReadId3v2();
  void ReadId3v2Frames(uint8_t version, uint8_t flags, int64_t size, int64_t tagEnd, TRawValues& raw);
  void StoreId3v2Frame(std::string_view id, const uint8_t* body, size_t size, bool severalValues, TRawValues& raw);
  void ReadRiffInfo(TRawValues& raw);
  void ReadId3v1(int64_t end);
  void ReadLyrics3(int64_t end);
  void ReadApe(int64_t end);
  void ReadApeItems(int64_t itemsStart, int64_t itemsEnd, int64_t count, bool version2, TRawValues& raw);
  bool ReadLyrics3Fields(int64_t fieldsEnd, TRawValues& raw);
  void BoundAudio(int64_t streamSize);

  TMPStreamReader* FReader = nullptr;
  TMP3InfoTypes FFound;
  TMP3InfoTypes FNeedInfoType{mitID3V1, mitID3V2, mitRiff, mitApe};
  std::string FFileName;
  int64_t FAudioStart = 0;
  int64_t FAudioSize = kOpenSize;
  int64_t FMacDataStart = 0;
  int64_t FMacDataSize = 0;
  int64_t FMacDataEnd = 0;
  int64_t FMacResSize = 0;
  int64_t FRiffDataStart = 0;
  int64_t FRiffDataSize = kOpenSize;
  int64_t FTagPos = 0;
  int64_t FLyricsPos = 0;
  int64_t FApePos = 0;
  TReplayGain FReplayGain;
  TPicture FPicture;
  std::vector<std::string> FRiffInfo;
  std::vector<std::string> FId3v1;
  std::vector<std::string> FId3v2;
  std::vector<std::string> FLyrics;
  std::vector<std::string> FApe;
};

}  // namespace plumo
