// TMP3Info on hand-built files: text rules, title choice, ID3v1 details, UTF-16 frames.
#include <gtest/gtest.h>

#include "assertion.h"
#include "genre_names.h"
#include "tag_builder.h"
#include "text_conversion.h"

namespace plumo {
namespace {

using test::Append;
using test::Audio;
using test::Bytes;
using test::TExamination;
using test::operator+;

Bytes WithAudio(const Bytes& front, const Bytes& back = {}) {
  Bytes out = front;
  Append(out, Audio(3000));
  Append(out, back);
  return out;
}

TEST(TextConversion, EightBitTextBecomesUtf8) {
  EXPECT_EQ(AnsiToUtf8("plain"), "plain");
  EXPECT_EQ(AnsiToUtf8("Gr\xC3\xBC\xC3\x9F" "e"), "Grüße");                // valid UTF-8 stays
  EXPECT_EQ(AnsiToUtf8("\x83\x65\x83\x58\x83\x67"), "テスト");               // CP932
  EXPECT_EQ(AnsiToUtf8("Caf\xE9"), "Café");                                  // not CP932: Windows-1252
  EXPECT_EQ(AnsiToUtf8("\x80 \x81"), "€ \xEF\xBF\xBD");                      // unassigned 0x81
  EXPECT_FALSE(IsValidUtf8("\xC0\x80"));                                     // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));                                 // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE3\x83"));                                     // cut short
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x8E\xB5"));
}

TEST(TextConversion, Utf16ByteOrderMarksAndSurrogates) {
  const uint8_t le[] = {0xFF, 0xFE, 'A', 0, 0x6A, 0x26};
  EXPECT_EQ(Utf16ToUtf8(le, 3), "A♪");
  const uint8_t be[] = {0xFE, 0xFF, 0, 'A', 0x26, 0x6A};
  EXPECT_EQ(Utf16ToUtf8(be, 3), "A♪");
  const uint8_t plain[] = {'h', 0, 'i', 0, 0, 0, 'x', 0};
  EXPECT_EQ(Utf16ToUtf8(plain, 4), "hi");  // ends at the NUL
  const uint8_t pair[] = {0x3C, 0xD8, 0xB5, 0xDF, 0x00, 0xD8};
  EXPECT_EQ(Utf16ToUtf8(pair, 3), "\xF0\x9F\x8E\xB5\xEF\xBF\xBD");  // U+1F3B5, then a lone surrogate
}

TEST(Mp3InfoId3v1, TrackAndGenreRules) {
  TExamination track(WithAudio({}, test::Id3v1("T", "A", "B", 12, 7)), true);
  EXPECT_EQ(TMP3Info::Value(track.Info.Id3v1(), "TRACK"), "7");
  EXPECT_EQ(TMP3Info::Value(track.Info.Id3v1(), "GENRE"), "Other");
  EXPECT_EQ(TMP3Info::Value(track.Info.Id3v1(), "GENREIDX"), "12");

  TExamination noTrack(WithAudio({}, test::Id3v1("T", "A", "B", 200)), true);
  for (const std::string& line : noTrack.Info.Id3v1()) EXPECT_NE(line.rfind("TRACK=", 0), 0u);
  EXPECT_EQ(TMP3Info::Value(noTrack.Info.Id3v1(), "GENRE"), "");
  EXPECT_EQ(TMP3Info::Value(noTrack.Info.Id3v1(), "GENREIDX"), "200");

  EXPECT_EQ(Id3v1GenreName(147), "Synthpop");
  EXPECT_EQ(Id3v1GenreName(148), "");
  EXPECT_EQ(Id3v1GenreName(248), "Heavy Rock(J)");
  EXPECT_EQ(Id3v1GenreName(255), "Anime(J)");
}

TEST(Mp3InfoId3v1, FixedTextStopsAtNulAndLosesTrailingBlanks) {
  Bytes tag = test::Id3v1("Title   \t");
  tag[3 + 20] = 'Z';  // after the NUL: ignored
  TExamination exam(WithAudio({}, tag), true);
  EXPECT_EQ(exam.Info.Title(), "Title");
}

// UTF-8 text written into ID3v1 and cut at the field's 30 bytes: the partial last character is
// dropped and the rest reads as UTF-8. A lone 8-bit letter at the end stays a letter.
TEST(Mp3InfoId3v1, Utf8CutAtTheFieldsWidthLosesOnlyThePartialCharacter) {
  struct TCase {
    std::string_view Title, Artist;  // as written, before the cut
    std::string_view ReadTitle, ReadArtist;
  };
  const TCase kCases[] = {
      {"Пётр Ильич  Чайковский: Щелкунчик", "Tchaikovsky", "Пётр Ильич  Чайк", "Tchaikovsky"},
      {"宇多田ヒカル 初恋・花束を君に", "Party  🎉🎉🎉🎉🎉🎉🎉 Mix ok", "宇多田ヒカル 初恋・", "Party  🎉🎉🎉🎉🎉"},
      {"Ágætis byrjun – Sigur Rós  (Live)", "Sigur Rós", "Ágætis byrjun – Sigur Rós", "Sigur Rós"},
      {"Aux Champs-Elysees (Live) Caf\xE9", "Joe Dassin", "Aux Champs-Elysees (Live) Café", "Joe Dassin"},
  };
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Title);
    TExamination exam(WithAudio({}, test::Id3v1(c.Title, c.Artist)), true);
    EXPECT_EQ(TMP3Info::Value(exam.Info.Id3v1(), "TITLE"), c.ReadTitle);
    EXPECT_EQ(TMP3Info::Value(exam.Info.Id3v1(), "ARTIST"), c.ReadArtist);
  }
}

TEST(Mp3InfoTexts, SelectedKindsAnswerAndTitleFallsBackToTheFileName) {
  const Bytes front = test::Id3v2(test::TextFrame("TIT2", "A Title Longer Than Thirty Characters In All") +
                                  test::TextFrame("TPE1", "Same") + test::TextFrame("TALB", "Short"));
  TExamination exam(WithAudio(front, test::Id3v1("A Title Longer Than Thirty Cha", "Also", "Longer Album")), true);
  EXPECT_EQ(exam.Info.Title(), "A Title Longer Than Thirty Characters In All");
  EXPECT_EQ(exam.Info.Artist(), "Same");
  EXPECT_EQ(exam.Info.Album(), "Short");

  exam.Info.SetNeedInfoType({mitID3V1});
  EXPECT_EQ(exam.Info.Artist(), "Also");
  EXPECT_EQ(exam.Info.Album(), "Longer Album");
  exam.Info.SetNeedInfoType({});
  EXPECT_EQ(exam.Info.Title(), "fallback name.mp3");
  EXPECT_EQ(exam.Info.Artist(), "");
}

// ID3v1 holds a lossy 8-bit copy of what the ID3v2 or RIFF INFO tag says in full: the full value
// wins, also when the copy is as long, unless the full value is a cut-off start of the copy.
TEST(Mp3InfoTexts, TheFullTagsValueWinsOverItsId3v1Copy) {
  struct TCase {
    std::string_view Full;  // TIT2 (UTF-8 frame), or INAM in a RIFF file
    std::string_view Copy;  // ID3v1 title
    std::string_view Title;
  };
  const TCase kCases[] = {
      {"東京", "??", "東京"},
      {"Кино", "????", "Кино"},
      {"Győr", "GyQr", "Győr"},                 // low bytes of the code points
      {"Łódź", "A\xF3" "dz", "Łódź"},
      {"Same", "Also", "Same"},
      {"A Title Longer Than Thirty Characters In All", "A Title Longer Than Thirty Cha",
       "A Title Longer Than Thirty Characters In All"},
      {"Title Cut Sh", "Title Cut Short", "Title Cut Short"},  // the full tag was cut shorter
      {"", "Only In ID3v1", "Only In ID3v1"},
  };
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.Full);
    const Bytes front = c.Full.empty() ? Bytes{} : test::Id3v2(test::Frame24("TIT2", test::Body(3, c.Full)), 0, 4);
    TExamination id3(WithAudio(front, test::Id3v1(c.Copy)), true);
    EXPECT_EQ(id3.Info.Title(), c.Title);

    Bytes info;
    Append(info, "INFO");
    if (!c.Full.empty()) Append(info, test::Chunk("INAM", Bytes(c.Full.begin(), c.Full.end())));
    Bytes riff;
    Append(riff, "RIFF");
    test::AppendLe32(riff, 3100);
    Append(riff, "WAVE");
    TExamination wave(riff + test::Chunk("data", Audio(2000)) + test::Chunk("LIST", info) + test::Id3v1(c.Copy), true);
    EXPECT_EQ(wave.Info.Title(), c.Title);
  }
}

TEST(Mp3InfoId3v2, FrameValuesByKind) {
  Bytes utf16le{1, 0xFF, 0xFE};
  Append(utf16le, Bytes{'U', 0, 'n', 0, 'i', 0, 0x6A, 0x26, 0, 0});
  Bytes utf16be{1, 0xFE, 0xFF};
  Append(utf16be, Bytes{0, 'B', 0, 'E'});
  Bytes comm{0};
  Append(comm, std::string_view("eng\0desc\0the comment  ", 22));
  Bytes wxxx{0};
  Append(wxxx, std::string_view("home\0http://example.com/", 24));
  Bytes fixed{0};
  Append(fixed, std::string_view("Album\0junk", 10));
  const Bytes front =
      test::Id3v2(test::Frame("TIT2", utf16le) + test::Frame("TPE1", utf16be) + test::Frame("COMM", comm) +
                  test::Frame("WXXX", wxxx) + test::Frame("TALB", fixed), 40);
  TExamination exam(WithAudio(front), true);
  EXPECT_EQ(exam.Info.Id3v2(), (std::vector<std::string>{"TIT2=Uni♪", "TPE1=BE", "COMM=the comment",
                                                          "WXXX=http://example.com/", "TALB=Album"}));
  EXPECT_EQ(exam.Info.AudioStart(), static_cast<int64_t>(front.size()));
  EXPECT_EQ(exam.Info.AudioSize(), 3000);
}

TEST(Mp3InfoId3v2, FramesLargerThanTheRingArePassedOver) {
  const Bytes front = test::Id3v2(test::TextFrame("TIT2", "First") + test::TextFrame("PRIV", std::string(5000, 'p')) +
                                  test::TextFrame("TALB", "After"));
  TExamination exam(WithAudio(front), true, 1024);
  EXPECT_EQ(exam.Info.Id3v2(), (std::vector<std::string>{"TIT2=First", "TALB=After"}));
  EXPECT_EQ(exam.Info.AudioStart(), static_cast<int64_t>(front.size()));
}

TEST(Mp3InfoId3v2, AWalkThatBreaksOffStillEndsTheTagWhereItsHeaderSays) {
  Bytes frames = test::TextFrame("TIT2", "Kept");
  Append(frames, Bytes{0xFF, 0xFB, 0x90, 0x64, 1, 2, 3, 4, 5, 6, 7, 8});  // not a frame
  const Bytes front = test::Id3v2(frames, 100);
  TExamination exam(WithAudio(front), true);
  EXPECT_TRUE(exam.Info.Found().Contains(mitID3V2));
  EXPECT_EQ(exam.Info.Id3v2(), std::vector<std::string>{"TIT2=Kept"});
  EXPECT_EQ(exam.Info.AudioStart(), static_cast<int64_t>(front.size()));
}

TEST(Mp3InfoId3v2, ListsAreCapped) {
  Bytes frames;
  for (int i = 0; i < 1500; ++i) Append(frames, test::TextFrame("TXXX", "v"));
  TExamination exam(WithAudio(test::Id3v2(frames)), true);
  EXPECT_EQ(exam.Info.Id3v2().size(), TMP3Info::kMaxLines);
  EXPECT_TRUE(exam.Info.Found().Contains(mitID3V2));
}

TEST(Mp3InfoLyrics, Version1NeedsItsBeginMark) {
  Bytes back;
  Append(back, "LYRICSBEGINla la");
  Append(back, "LYRICSEND");
  TExamination found(WithAudio({}, back), true);
  EXPECT_EQ(found.Info.Lyrics(), std::vector<std::string>{"LYRICS=la la"});
  EXPECT_EQ(found.Info.AudioSize(), 3000);

  Bytes far;
  Append(far, "LYRICSBEGIN");
  Append(far, std::string(5100, 'x'));
  Append(far, "LYRICSEND");
  TExamination missing(WithAudio({}, far), true);
  EXPECT_FALSE(missing.Info.Found().Contains(mitLyrics));
  EXPECT_TRUE(missing.Info.Lyrics().empty());
}

TEST(Mp3InfoContract, ReaderRequiredAndNonSeekableEndReadsNothing) {
  TMP3Info info;
  EXPECT_THROW(info.ReadFront(), EAssertionFailed);
  EXPECT_THROW(info.ReadEnd(), EAssertionFailed);

  TExamination exam(WithAudio(test::Id3v2(test::TextFrame("TIT2", "x")), test::Id3v1("T")), false);
  EXPECT_TRUE(exam.Front);
  EXPECT_FALSE(exam.End);
  EXPECT_FALSE(exam.Info.Found().Contains(mitID3V1));
  EXPECT_EQ(exam.Info.AudioSize(), TMP3Info::kOpenSize);

  exam.Info.SetReader(&exam.Reader);  // a fresh examination forgets the last
  EXPECT_TRUE(exam.Info.Found().Empty());
  EXPECT_TRUE(exam.Info.Id3v2().empty());
  EXPECT_EQ(exam.Info.FileName(), "");
}

TEST(Mp3InfoContract, EmptyAndTinyFiles) {
  TExamination empty(Bytes{}, true);
  EXPECT_FALSE(empty.Front);
  EXPECT_TRUE(empty.End);
  EXPECT_EQ(empty.Info.AudioSize(), 0);
  TExamination three(Bytes{0xFF, 0xFB, 0x90}, true);
  EXPECT_TRUE(three.Front);
  EXPECT_EQ(three.Info.AudioSize(), 3);
}

}  // namespace
}  // namespace plumo
