// TMP3Info over the shipped tagged samples, driven by the samples' manifest.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "file_stream.h"
#include "tag_builder.h"
#include "test_files.h"
#include "text_conversion.h"

namespace plumo {
namespace {

struct TSample {
  std::string File;
  std::string Tags;
  std::string Title, Artist, Album;
  int64_t FirstFrame = 0;
  int64_t Bytes = 0;
};

// Rows of MANIFEST.tsv that list tags.
std::vector<TSample> TaggedSamples() {
  const std::vector<uint8_t> raw = test::ReadFile(test::DataPath("samples/MANIFEST.tsv"));
  std::istringstream text(std::string(raw.begin(), raw.end()));
  std::string line;
  std::getline(text, line);
  std::map<std::string, size_t> column;
  {
    std::istringstream header(line);
    std::string name;
    for (size_t i = 0; std::getline(header, name, '\t'); ++i) column[name] = i;
  }
  std::vector<TSample> samples;
  while (std::getline(text, line)) {
    std::vector<std::string> cells;
    std::istringstream row(line);
    for (std::string cell; std::getline(row, cell, '\t');) cells.push_back(cell);
    cells.resize(column.size());
    const std::string& tags = cells[column["tags"]];
    if (tags == "none" || tags == "-" || tags.empty()) continue;
    samples.push_back({cells[column["file"]], tags, cells[column["expected_title"]], cells[column["expected_artist"]],
                       cells[column["expected_album"]], std::stoll(cells[column["first_frame_offset"]]),
                       std::stoll(cells[column["file_bytes"]])});
  }
  return samples;
}

TMP3Info ExamineFile(const std::string& path, TFileStream& stream, TMPStreamReader& reader) {
  reader.Attach(&stream, true);
  TMP3Info info;
  info.SetReader(&reader);
  info.SetFileName(path);
  EXPECT_TRUE(info.ReadFront());
  EXPECT_TRUE(info.ReadEnd());
  return info;
}

// Where the audio of each tagged sample ends: before the ID3v1 tag, the Lyrics3 block, or the
// end of the RIFF data chunk or MacBinary data fork.
int64_t ExpectedAudioEnd(const TSample& s) {
  static const std::map<std::string, int64_t> kOtherEnds = {
      {"tag_lyrics3v1_id3v1.mp3", 16718},
      {"tag_lyrics3v2_id3v1.mp3", 16718},
      {"tag_riff_info.wav", 70 + 19644},
      {"tag_macbinary_id3v1.mp3", 128 + 16846 - 128},
  };
  if (const auto it = kOtherEnds.find(s.File); it != kOtherEnds.end()) return it->second;
  return s.Bytes - (s.Tags.find("id3v1") != std::string::npos ? 128 : 0);
}

TEST(Mp3InfoSamples, ManifestTitlesAndAudioRanges) {
  const std::vector<TSample> samples = TaggedSamples();
  ASSERT_GE(samples.size(), 15u);
  for (const TSample& s : samples) {
    SCOPED_TRACE(s.File);
    const std::string path = test::DataPath("samples/" + s.File);
    TFileStream stream(path);
    TMPStreamReader reader(65536);
    const TMP3Info info = ExamineFile(path, stream, reader);
    EXPECT_EQ(info.Title(), s.Title);
    EXPECT_EQ(info.Artist(), s.Artist);
    EXPECT_EQ(info.Album(), s.Album);
    EXPECT_EQ(info.AudioStart(), s.FirstFrame);
    EXPECT_EQ(info.AudioStart() + info.AudioSize(), ExpectedAudioEnd(s));
    if (info.Found().Contains(mitID3V1)) {
      EXPECT_LE(info.AudioStart() + info.AudioSize(), info.TagPos());
    }
    if (info.Found().Contains(mitLyrics)) {
      EXPECT_LE(info.AudioStart() + info.AudioSize(), info.LyricsPos());
    }
    for (const TMP3InfoType kind : {mitID3V1, mitID3V2, mitRiff, mitLyrics})
      for (const std::string& line : info.Lines(kind)) EXPECT_TRUE(IsValidUtf8(line)) << line;
  }
}

// Without seeking only the front is read, and the reader is left at the audio start.
TEST(Mp3InfoSamples, NonSeekableStreamsStopAtTheAudioStart) {
  for (const TSample& s : TaggedSamples()) {
    SCOPED_TRACE(s.File);
    test::TExamination exam(test::ReadFile(test::DataPath("samples/" + s.File)), false, 65536, 3000);
    EXPECT_TRUE(exam.Front);
    EXPECT_FALSE(exam.End);
    EXPECT_EQ(exam.Info.AudioStart(), s.FirstFrame);
    EXPECT_EQ(exam.PositionAfterFront, s.FirstFrame);
    EXPECT_TRUE(exam.Info.Id3v1().empty());
    if (s.Tags.rfind("id3v2.3", 0) == 0 && s.Title != s.File) {
      EXPECT_EQ(exam.Info.Title(), s.Title);
    }
  }
}

struct TOpened {
  explicit TOpened(const std::string& file)
      : Stream(test::DataPath("samples/" + file)), Reader(65536), Info(ExamineFile(file, Stream, Reader)) {}
  TFileStream Stream;
  TMPStreamReader Reader;
  TMP3Info Info;
};

using Lines = std::vector<std::string>;

TEST(Mp3InfoSamples, Id3v1Lines) {
  EXPECT_EQ(TOpened("tag_id3v1_1.mp3").Info.Id3v1(),
            (Lines{"TITLE=Bells at Dawn", "ARTIST=The Sample Players", "ALBUM=Shared Tag Tests", "YEAR=2003",
                   "COMMENT=ID3v1.1 with a track number", "GENRE=Rock", "GENREIDX=17", "TRACK=7"}));
  const TOpened sjis("tag_id3v1_sjis.mp3");
  EXPECT_EQ(TMP3Info::Value(sjis.Info.Id3v1(), "GENRE"), "JPop");
  EXPECT_EQ(TMP3Info::Value(sjis.Info.Id3v1(), "GENREIDX"), "146");
  EXPECT_EQ(TMP3Info::Value(TOpened("tag_id3v1_utf8.mp3").Info.Id3v1(), "GENRE"), "Electronic");
}

TEST(Mp3InfoSamples, Id3v2FramesAfterABigFrameAndWithAnExtendedHeader) {
  const TOpened big("tag_id3v23_bigframe.mp3");
  EXPECT_EQ(big.Info.Id3v2(),
            (Lines{"TIT2=A Rather Long Title That Does Not Fit Into ID3v1", "TPE1=Orchestra With A Long Name",
                   "TALB=Shared Tag Tests", "COMM=This comment comes after the 70 KB PRIV frame",
                   "WXXX=http://www.example.com/shared"}));
  EXPECT_TRUE(big.Info.Found().Contains(mitID3V2));
  EXPECT_TRUE(big.Info.Found().Contains(mitID3V1));

  const TOpened ext("tag_id3v23_exthdr.mp3");
  EXPECT_EQ(ext.Info.Id3v2(),
            (Lines{"TIT2=Extended Header Tag", "TPE1=Ext Header Artist", "TALB=Ext Header Album"}));
  EXPECT_EQ(ext.Info.AudioStart(), 617);

  EXPECT_EQ(TMP3Info::Value(TOpened("tag_id3v23_utf16.mp3").Info.Id3v2(), "TIT2"), "UTF-16 title: Café Ünïcode ♪");
}

// Version 2.4 and unsynchronised version 2.3 tags: frames read, the audio where it always began.
TEST(Mp3InfoSamples, Id3v24AndUnsynchronisedTagsAreReadAndSkippedWhole) {
  const TOpened v24("tag_id3v24.mp3");
  EXPECT_EQ(v24.Info.Found(), TMP3InfoTypes{mitID3V2});
  EXPECT_EQ(v24.Info.Id3v2(), (Lines{"TIT2=ID3v2.4 title (not read)", "TPE1=ID3v2.4 artist", "TALB=ID3v2.4 album",
                                     "TXXX=note / sizes are syncsafe in v2.4"}));
  EXPECT_EQ(v24.Info.AudioStart(), 436);

  // Frames other than text, COMM and WXXX lose their first byte, as if it were an encoding byte.
  const TOpened unsync("tag_id3v23_unsync.mp3");
  EXPECT_EQ(unsync.Info.Found(), TMP3InfoTypes{mitID3V2});
  EXPECT_EQ(unsync.Info.Id3v2(), (Lines{"TIT2=Unsynchronised Tag", "TPE1=Unsync Artist", "PRIV=sync-pattern-test"}));
  EXPECT_EQ(unsync.Info.AudioStart(), 217);
}

TEST(Mp3InfoSamples, LyricsRiffAndMacBinary) {
  const TOpened v1("tag_lyrics3v1_id3v1.mp3");
  ASSERT_EQ(v1.Info.Lyrics().size(), 1u);
  EXPECT_EQ(v1.Info.Lyrics()[0].rfind("LYRICS=Dawn is breaking over the hill\r\n", 0), 0u) << v1.Info.Lyrics()[0];
  EXPECT_EQ(v1.Info.LyricsPos(), 16718);
  EXPECT_EQ(TMP3Info::Value(v1.Info.Id3v1(), "GENRE"), "Speech");

  const TOpened v2("tag_lyrics3v2_id3v1.mp3");
  EXPECT_TRUE(v2.Info.Found().Contains(mitLyrics));
  EXPECT_EQ(v2.Info.LyricsPos(), 16718);
  EXPECT_EQ(TMP3Info::Value(v2.Info.Lyrics(), "IND"), "110");
  EXPECT_EQ(TMP3Info::Value(v2.Info.Lyrics(), "LYR"), "[00:00]First line\r\n[00:01]Second line");
  EXPECT_EQ(TMP3Info::Value(v2.Info.Lyrics(), "ETT"), "Lyrics Version Two With An Extended Title Field");

  const TOpened riff("tag_riff_info.wav");
  EXPECT_EQ(riff.Info.Found(), TMP3InfoTypes{mitRiff});
  EXPECT_EQ(riff.Info.RiffDataStart(), 70);
  EXPECT_EQ(riff.Info.RiffDataSize(), 19644);
  EXPECT_EQ(TMP3Info::Value(riff.Info.RiffInfo(), "ICMT"), "MPEG Layer III inside a WAVE file");
  EXPECT_EQ(riff.Info.RiffInfo().size(), 5u);

  const TOpened mac("tag_macbinary_id3v1.mp3");
  EXPECT_EQ(mac.Info.Found(), (TMP3InfoTypes{mitMacBin, mitID3V1}));
  EXPECT_EQ(mac.Info.MacDataStart(), 128);
  EXPECT_EQ(mac.Info.MacDataSize(), 16846);
  EXPECT_EQ(mac.Info.MacResSize(), 353);
  EXPECT_EQ(mac.Info.TagPos(), 16846);
  EXPECT_EQ(TMP3Info::Value(mac.Info.Id3v1(), "TRACK"), "3");
}

}  // namespace
}  // namespace plumo
