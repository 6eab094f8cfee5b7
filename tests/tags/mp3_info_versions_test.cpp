// TMP3Info on ID3v2.2, ID3v2.4 and unsynchronised ID3v2.3 tags built byte by byte: frame sizes,
// frame flags, text encodings, several values, UTF-16 comments, and the audio range.
#include <gtest/gtest.h>

#include "tag_builder.h"

namespace plumo {
namespace {

using test::Append;
using test::Audio;
using test::Body;
using test::Bytes;
using test::Frame;
using test::Frame22;
using test::Frame24;
using test::TExamination;
using test::Unsynchronised;
using test::operator+;
using Lines = std::vector<std::string>;

Bytes Utf16Le(std::u16string_view text, bool bom = true) {
  Bytes out;
  if (bom) Append(out, Bytes{0xFF, 0xFE});
  for (const char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

Bytes Utf16Be(std::u16string_view text, bool bom) {
  Bytes out;
  if (bom) Append(out, Bytes{0xFE, 0xFF});
  for (const char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c >> 8));
    out.push_back(static_cast<uint8_t>(c));
  }
  return out;
}

const Bytes kNul16{0, 0};

Bytes SyncSafe(uint32_t v) {
  Bytes out;
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back(static_cast<uint8_t>((v >> shift) & 0x7F));
  return out;
}

// The tag, then 3000 bytes of audio, optionally an ID3v1 tag.
struct TTagged {
  explicit TTagged(const Bytes& tag, const Bytes& back = {}, int32_t capacity = 65536)
      : Exam(tag + Audio(3000) + back, true, capacity), TagSize(static_cast<int64_t>(tag.size())) {}
  TExamination Exam;
  int64_t TagSize;
};

TEST(Mp3InfoId3v24, EncodingsSeveralValuesAndSyncSafeSizes) {
  Bytes album = Utf16Le(u"Disc One") + kNul16 + Utf16Be(u"\u00C9dition", true) + kNul16;
  Bytes genre = Utf16Be(u"Rock", false) + kNul16 + Utf16Be(u"Pop", false);
  const Bytes frames =
      Frame24("TIT2", Body(3, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x99\xAA  ")) +
      Frame24("TPE1", Body(3, std::string_view("Artist One\0Artist Two\0", 22))) +
      Frame24("TALB", Bytes{1} + album) + Frame24("TCON", Bytes{2} + genre) +
      Frame24("TPE2", Body(0, std::string(200, 'x'))) +  // sync-safe 200 = 00 00 01 48, plain 328
      Frame24("TDRC", Body(0, std::string_view("2024\0\0", 6)));
  const TTagged t(test::Id3v2(frames, 50, 4));
  EXPECT_EQ(t.Exam.Info.Id3v2(),
            (Lines{"TIT2=Grüße ♪", "TPE1=Artist One / Artist Two", "TALB=Disc One / Édition", "TCON=Rock / Pop",
                   "TPE2=" + std::string(200, 'x'), "TDRC=2024"}));
  EXPECT_TRUE(t.Exam.Info.Found().Contains(mitID3V2));
  EXPECT_EQ(t.Exam.Info.AudioStart(), t.TagSize);
  EXPECT_EQ(t.Exam.Info.AudioSize(), 3000);
}

TEST(Mp3InfoId3v24, FrameUnsynchronisationDataLengthGroupsAndUnreadableFrames) {
  const Bytes title = Bytes{1} + Utf16Le(u"\u00FF\u00FFs!");  // FF FE FF 00 FF 00 ...: false syncs
  const Bytes unsynced = Unsynchronised(title);
  ASSERT_GT(unsynced.size(), title.size());
  const Bytes frames = Frame24("TIT2", SyncSafe(static_cast<uint32_t>(title.size())) + unsynced, 0x03) +
                       Frame24("TPE1", Bytes{0x7F} + Body(0, "Grouped"), 0x40) +
                       Frame24("TALB", SyncSafe(40) + Bytes{0x78, 0x9C, 1, 2, 3}, 0x09) +  // compressed
                       Frame24("TCOM", Bytes{0x80} + Body(0, "secret"), 0x04) +              // encrypted
                       Frame24("TPE2", Body(0, "After"));
  const TTagged t(test::Id3v2(frames, 0, 4));
  EXPECT_EQ(t.Exam.Info.Id3v2(), (Lines{"TIT2=ÿÿs!", "TPE1=Grouped", "TPE2=After"}));
  EXPECT_EQ(t.Exam.Info.AudioStart(), t.TagSize);

  // The tag's unsynchronisation flag stands for every frame's.
  const TTagged whole(test::Id3v2(Frame24("TIT2", Unsynchronised(title)) + Frame24("TPE1", Body(0, "x")), 20, 4, 0x80));
  EXPECT_EQ(whole.Exam.Info.Id3v2(), (Lines{"TIT2=ÿÿs!", "TPE1=x"}));
  EXPECT_EQ(whole.Exam.Info.AudioStart(), whole.TagSize);
}

TEST(Mp3InfoId3v24, ExtendedHeaderFooterAndPlainFrameSizes) {
  // Extended header of six bytes (its size counts itself) and a footer; the audio starts where
  // the header's size says, the footer left to the frame search as always.
  Bytes tag = test::Id3v2(SyncSafe(6) + Bytes{1, 0} + Frame24("TIT2", Body(0, "Footed")), 0, 4, 0x50);
  const size_t headerAndFrames = tag.size();
  Append(tag, Bytes{'3', 'D', 'I', 4, 0, 0x50});
  Append(tag, Bytes(tag.begin() + 6, tag.begin() + 10));
  const TTagged footed(tag);
  EXPECT_EQ(footed.Exam.Info.Id3v2(), Lines{"TIT2=Footed"});
  EXPECT_EQ(footed.Exam.Info.AudioStart(), static_cast<int64_t>(headerAndFrames));

  const TTagged badExtended(test::Id3v2(SyncSafe(3) + Bytes{1, 0} + Frame24("TIT2", Body(0, "x")), 10, 4, 0x40));
  EXPECT_TRUE(badExtended.Exam.Info.Id3v2().empty());
  EXPECT_TRUE(badExtended.Exam.Info.Found().Contains(mitID3V2));
  EXPECT_EQ(badExtended.Exam.Info.AudioStart(), badExtended.TagSize);

  // Plain 32-bit frame sizes as some writers store them: 200 shows by a byte above 0x7F, 256 by
  // where the next frame begins.
  const Bytes frames = Frame("TIT2", Body(0, std::string(199, 't'))) + Frame("TPE1", Body(0, std::string(255, 'a'))) +
                       Frame24("TALB", Body(0, "Album"));
  const TTagged plain(test::Id3v2(frames, 30, 4));
  EXPECT_EQ(plain.Exam.Info.Id3v2(),
            (Lines{"TIT2=" + std::string(199, 't'), "TPE1=" + std::string(255, 'a'), "TALB=Album"}));
}

TEST(Mp3InfoId3v22, ThreeLetterIdsTakeTheirLaterNames) {
  Bytes comment{0};
  Append(comment, std::string_view("engabout\0The comment", 20));
  const Bytes frames = Frame22("TT2", Body(0, "Title Two")) + Frame22("TP1", Bytes{1} + Utf16Le(u"Art\u00EFst")) +
                       Frame22("TAL", Body(0, "Album")) + Frame22("COM", comment) + Frame22("TYE", Body(0, "1999")) +
                       Frame22("XYZ", Body(0, "own frame"));
  const TTagged t(test::Id3v2(frames, 16, 2));
  EXPECT_EQ(t.Exam.Info.Id3v2(), (Lines{"TIT2=Title Two", "TPE1=Artïst", "TALB=Album", "COMM=The comment",
                                        "TYER=1999", "XYZ=own frame"}));
  EXPECT_EQ(t.Exam.Info.Title(), "Title Two");
  EXPECT_EQ(t.Exam.Info.AudioStart(), t.TagSize);

  const TTagged unsync(test::Id3v2(Unsynchronised(Frame22("TT2", Bytes{1} + Utf16Le(u"\u00FF!"))), 0, 2, 0x80));
  EXPECT_EQ(unsync.Exam.Info.Id3v2(), Lines{"TIT2=ÿ!"});
  // A compressed version 2.2 tag: no frames, passed over whole.
  const TTagged compressed(test::Id3v2(frames, 0, 2, 0x40));
  EXPECT_TRUE(compressed.Exam.Info.Id3v2().empty());
  EXPECT_EQ(compressed.Exam.Info.AudioStart(), compressed.TagSize);
}

TEST(Mp3InfoId3v23, UnsynchronisedTagsAreRestoredBeforeTheWalk) {
  // Frame sizes count the restored bytes; a picture larger than the ring is passed over.
  Bytes picture(3000);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = i % 2 ? 0xE7 : 0xFF;
  Bytes ext{0, 0, 0, 6, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};  // extended header, padding size FFFFFFFF
  const Bytes frames = ext + Frame("TIT2", Bytes{1} + Utf16Le(u"\u00FF\u00FF")) + Frame("APIC", picture) +
                       Frame("TPE1", Body(0, "\xFF\xE9t\xE9")) + Frame("TALB", Body(0, "Album\xFF"));
  const Bytes stored = Unsynchronised(frames);
  const TTagged wide(test::Id3v2(stored, 40, 3, 0x80 | 0x40));
  EXPECT_EQ(wide.Exam.Info.Id3v2().size(), 4u);  // a ring that holds the picture lists it too
  const TTagged t(test::Id3v2(stored, 40, 3, 0x80 | 0x40), {}, 1024);
  EXPECT_EQ(t.Exam.Info.Id3v2(), (Lines{"TIT2=ÿÿ", "TPE1=ÿété", "TALB=Albumÿ"}));
  EXPECT_EQ(t.Exam.Info.AudioStart(), t.TagSize);
  EXPECT_EQ(t.Exam.Info.AudioSize(), 3000);

  // Through a pipe in small reads the same.
  TExamination pipe(test::Id3v2(stored, 40, 3, 0xC0) + Audio(100), false, 1024, 7);
  EXPECT_EQ(pipe.Info.Id3v2(), (Lines{"TIT2=ÿÿ", "TPE1=ÿété", "TALB=Albumÿ"}));
  EXPECT_EQ(pipe.PositionAfterFront, t.TagSize);
}

TEST(Mp3InfoId3v24, IsTheSameKindForTheTitleChoice) {
  const Bytes front = test::Id3v2(Frame24("TIT2", Body(3, "A Title Longer Than Thirty Characters In All")) +
                                      Frame24("TPE1", Body(3, "Same")) + Frame24("TALB", Body(3, "Short")),
                                  0, 4);
  TTagged t(front, test::Id3v1("A Title Longer Than Thirty Cha", "Also", "Longer Album"));
  TMP3Info& info = t.Exam.Info;
  EXPECT_EQ(info.Found(), (TMP3InfoTypes{mitID3V2, mitID3V1}));
  EXPECT_EQ(info.Title(), "A Title Longer Than Thirty Characters In All");
  EXPECT_EQ(info.Artist(), "Same");
  EXPECT_EQ(info.Album(), "Short");
  info.SetNeedInfoType({mitID3V1});
  EXPECT_EQ(info.Artist(), "Also");
  EXPECT_EQ(info.Album(), "Longer Album");
  EXPECT_EQ(info.AudioStart() + info.AudioSize(), t.TagSize + 3000);
}

TEST(Mp3InfoId3v2, Utf16CommentAndUrlDescriptionsEndAtTheirOwnTerminator) {
  // "A" is 41 00; with its terminator 41 00 00 00, the last zero byte is not where it ends.
  const Bytes comm = Bytes{1, 'e', 'n', 'g'} + Utf16Le(u"A") + kNul16 + Utf16Le(u"Comment \u266A") + kNul16;
  const Bytes commZeroInside = Bytes{1, 'e', 'n', 'g'} + Utf16Le(u"\u0100\u0200") + kNul16 + Utf16Le(u"Second");
  const Bytes commBe = Bytes{2, 'd', 'e', 'u'} + Utf16Be(u"d", false) + kNul16 + Utf16Be(u"Gr\u00FC\u00DFe", false);
  const Bytes wxxx = Bytes{1} + Utf16Le(u"Home") + kNul16 + Bytes{'h', 't', 't', 'p', ':', '/', '/', 'x', '.', 'o', 'r', 'g'};
  const Bytes open = Bytes{1, 'e', 'n', 'g'} + Utf16Le(u"no end");
  for (const uint8_t version : {3, 4}) {
    SCOPED_TRACE(version);
    const auto frame = [&](std::string_view id, const Bytes& body) { return version == 3 ? Frame(id, body) : Frame24(id, body); };
    const TTagged t(test::Id3v2(frame("COMM", comm) + frame("COMM", commZeroInside) + frame("COMM", commBe) +
                                    frame("WXXX", wxxx) + frame("COMM", open),
                                0, version));
    EXPECT_EQ(t.Exam.Info.Id3v2(), (Lines{"COMM=Comment ♪", "COMM=Second", "COMM=Grüße", "WXXX=http://x.org", "COMM="}));
  }
}

// An empty frame (size 0) is passed over; only a zero byte where an id begins starts the padding.
TEST(Mp3InfoId3v2, EmptyFramesArePassedOverAndOnlyAZeroByteStartsThePadding) {
  const Bytes empty;
  for (const uint8_t version : {2, 3, 4}) {
    SCOPED_TRACE(int{version});
    // Version 2.2 ids are the three-letter forms of the same frames.
    const auto frame = [&](std::string_view id22, std::string_view id, const Bytes& body) {
      return version == 2 ? Frame22(id22, body) : version == 3 ? Frame(id, body) : Frame24(id, body);
    };
    const Bytes frames = frame("TP1", "TPE1", empty) + frame("TT2", "TIT2", Body(0, "After One")) +
                         frame("TAL", "TALB", empty) + frame("TAL", "TALB", empty) +
                         frame("TCM", "TCOM", Body(0, "After Two"));
    const TTagged t(test::Id3v2(frames, 30, version), test::Id3v1("Back"));
    EXPECT_EQ(t.Exam.Info.Id3v2(), (Lines{"TIT2=After One", "TCOM=After Two"}));
    EXPECT_EQ(t.Exam.Info.Title(), "After One");
    EXPECT_EQ(t.Exam.Info.AudioStart(), t.TagSize);
    EXPECT_EQ(t.Exam.Info.AudioSize(), 3000);
  }
}

// URL frames, PRIV, UFID and POPM have no encoding byte: their text starts with the body's first byte.
TEST(Mp3InfoId3v2, FramesWithoutAnEncodingByteKeepTheirFirstCharacter) {
  const auto withData = [](std::string_view text, const Bytes& data) {
    Bytes out;
    Append(out, text);
    out.push_back(0);
    return out + data;
  };
  const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
  for (const uint8_t version : {2, 3, 4}) {
    SCOPED_TRACE(int{version});
    const auto frame = [&](std::string_view id22, std::string_view id, const Bytes& body) {
      return version == 2 ? Frame22(id22, body) : version == 3 ? Frame(id, body) : Frame24(id, body);
    };
    Bytes frames = frame("WAR", "WOAR", text("http://artist.example/")) + frame("WCM", "WCOM", text("shop.example")) +
                   frame("UFI", "UFID", withData("http://musicbrainz.org", text("1b2c-3d"))) +
                   frame("POP", "POPM", withData("rater@example.com", Bytes{0xFF, 0, 0, 0, 7})) +
                   frame("TT2", "TIT2", Body(0, "Title"));
    Lines expected{"WOAR=http://artist.example/", "WCOM=shop.example", "UFID=http://musicbrainz.org",
                   "POPM=rater@example.com", "TIT2=Title"};
    if (version > 2) {
      frames = frames + frame("", "PRIV", withData("WM/MediaClassPrimaryID", Bytes{0xBC, 0x7D, 0x60, 0xD1}));
      expected.push_back("PRIV=WM/MediaClassPrimaryID");
    }
    const TTagged t(test::Id3v2(frames, 0, version));
    EXPECT_EQ(t.Exam.Info.Id3v2(), expected);
  }
}

}  // namespace
}  // namespace plumo
