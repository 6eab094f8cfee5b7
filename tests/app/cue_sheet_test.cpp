// CUE sheets as rippers, DJ software and hand editors write them, odd and broken ones included:
// what the reader makes of each, and the entries a drop of a sheet or a folder gives.
#include "cue_sheet.h"

#include <gtest/gtest.h>

#include "file_stream.h"
#include "intake.h"
#include "test_support.h"

namespace plumo {
namespace {

// One line per track: number, file (in the sheet's folder), INDEX 01 .. end, INDEX 00, pregap
// and postgap in CD frames, title / performer, track gain; the sheet's texts first.
std::string Summary(const TCueSheet& s, const std::string& dir) {
  std::string out = s.Title + "|" + s.Performer + "|" + s.Date + "|" + s.Genre + "\n";
  for (const TCueTrack& t : s.Tracks) {
    const std::string file = t.File.rfind(dir + "/", 0) == 0 ? t.File.substr(dir.size() + 1) : t.File;
    out += std::to_string(t.Number) + " " + file + " " + std::to_string(t.Start) + ".." + std::to_string(t.End) + " i0=" +
           std::to_string(t.Index00) + " gap=" + std::to_string(t.Pregap) + "/" + std::to_string(t.Postgap) + " " +
           t.Title + " / " + t.Performer;
    if (t.Gain.TrackGain) out += " tg=" + std::to_string(*t.Gain.TrackGain).substr(0, 5);
    if (t.Gain.AlbumGain) out += " ag=" + std::to_string(*t.Gain.AlbumGain).substr(0, 5);
    out += "\n";
  }
  return out;
}

TEST(CueSheetTest, ReadsTheFormsSheetsComeIn) {
  const struct {
    const char* name;
    const char* text;
    const char* expected;
  } cases[] = {
      {"CR LF, a BOM, REM DATE/GENRE, INDEX 00 told, the performer inherited",
       "\xEF\xBB\xBFREM GENRE Trance\r\nREM DATE 2001\r\nPERFORMER \"DJ X\"\r\nTITLE \"Mix\"\r\nFILE \"a.mp3\" MP3\r\n"
       "  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    TITLE \"Two\"\r\n"
       "    PERFORMER \"Guest\"\r\n    INDEX 00 03:10:00\r\n    INDEX 01 03:12:37\r\n",
       "Mix|DJ X|2001|Trance\n1 a.mp3 0..14437 i0=-1 gap=0/0 One / DJ X\n2 a.mp3 14437..-1 i0=14250 gap=0/0 Two / Guest\n"},
      {"several FILEs: the track goes with the file of its INDEX 01; WAVE type, unquoted names",
       "FILE a.mp3 WAVE\nTRACK 1 AUDIO\nINDEX 01 00:00:00\nTRACK 2 AUDIO\nINDEX 00 01:00:00\nFILE b c.mp3 MP3\n"
       "INDEX 01 00:00:00\nTRACK 3 AUDIO\nINDEX 01 00:01:74\n",
       "|||\n1 a.mp3 0..-1 i0=-1 gap=0/0  / \n2 b c.mp3 0..149 i0=4500 gap=0/0  / \n3 b c.mp3 149..-1 i0=-1 gap=0/0  / \n"},
      {"absolute and Windows paths (a rip's drive letter: found by its name beside the sheet)",
       "FILE \"/abs/x.mp3\" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"C:\\Rips\\Album\\a.mp3\" MP3\n"
       "TRACK 02 AUDIO\nINDEX 01 00:00:00\nFILE \"sub\\d.mp3\" MP3\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n",
       "|||\n1 /abs/x.mp3 0..-1 i0=-1 gap=0/0  / \n2 a.mp3 0..-1 i0=-1 gap=0/0  / \n3 sub/d.mp3 0..-1 i0=-1 gap=0/0  / \n"},
      {"Windows-1252 text", "TITLE \"Caf\xE9\"\nFILE \"a.mp3\" MP3\nTRACK 01 AUDIO\nTITLE \"Na\xEFve\"\nINDEX 01 00:00:00\n",
       "Caf\xC3\xA9|||\n1 a.mp3 0..-1 i0=-1 gap=0/0 Na\xC3\xAFve / \n"},
      {"Shift-JIS text",
       "TITLE \"\x93\xFA\x96\x7B\x82\xCC\x89\xB9\x8A\x79\"\nFILE \"a.mp3\" MP3\nTRACK 01 AUDIO\n"
       "TITLE \"\x82\xA0\x82\xA2\x82\xA4\"\nINDEX 01 00:00:00\n",
       "\xE6\x97\xA5\xE6\x9C\xAC\xE3\x81\xAE\xE9\x9F\xB3\xE6\xA5\xBD|||\n"
       "1 a.mp3 0..-1 i0=-1 gap=0/0 \xE3\x81\x82\xE3\x81\x84\xE3\x81\x86 / \n"},
      {"ReplayGain: the album's for every track, a track's own; PREGAP and POSTGAP",
       "REM REPLAYGAIN_ALBUM_GAIN -7.50 dB\nREM REPLAYGAIN_ALBUM_PEAK 0.98\nFILE \"a.mp3\" MP3\nTRACK 01 AUDIO\n"
       "REM REPLAYGAIN_TRACK_GAIN -6.25 dB\nPREGAP 00:02:00\nINDEX 01 00:00:00\nPOSTGAP 00:00:30\nTRACK 02 AUDIO\n"
       "INDEX 01 00:10:00\n",
       "|||\n1 a.mp3 0..750 i0=-1 gap=150/30  /  tg=-6.25 ag=-7.50\n2 a.mp3 750..-1 i0=-1 gap=0/0  /  ag=-7.50\n"},
      {"broken lines and tracks are passed over",
       "TRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"a.mp3\" MP3\nTRACK xx AUDIO\nTRACK 02 AUDIO\nINDEX 01 00:61:00\n"
       "INDEX 01 1:2\nINDEX 01 00:00:75\nTRACK 03 AUDIO\nTITLE \"unterminated\nINDEX 01 00:05:00\nTRACK 04 AUDIO\n"
       "INDEX 01 00:04:00\nGARBAGE\n\"\nTRACK 05 AUDIO\nINDEX 01 00:06:00\nTRACK 06 AUDIO\nTITLE\nINDEX 01 99999:00:00\n"
       "INDEX 01 00:09:00\n",
       "|||\n3 a.mp3 375..450 i0=-1 gap=0/0 unterminated / \n5 a.mp3 450..449995500 i0=-1 gap=0/0  / \n"
       "6 a.mp3 449995500..-1 i0=-1 gap=0/0  / \n"},
      {"nothing: binary", "\x01\xFF\xFE\n\x80\r\r", "|||\n"},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Summary(ParseCueSheet(c.text, dir.Path()), dir.Path()), c.expected);
  }
  // CD frames to samples: 588 a frame at 44.1 kHz, the nearest sample elsewhere.
  EXPECT_EQ(CueFramesToSamples(247, 44100), 145236);
  EXPECT_EQ(CueFramesToSamples(247, 48000), 158080);
  EXPECT_EQ(CueFramesToSamples(247, 32000), 105387);
  std::string sheet;
  int32_t track = 0;
  EXPECT_TRUE(SplitCueEntry("/m/a b.CUE#12", sheet, track));
  EXPECT_EQ(sheet + " " + std::to_string(track), "/m/a b.CUE 12");
  EXPECT_FALSE(SplitCueEntry("/m/a.mp3#1", sheet, track));
  EXPECT_FALSE(SplitCueEntry("/m/a.cue#0", sheet, track));
}

// A sheet dropped, in a dropped folder (in place of the file it cuts), named by a playlist; a
// sheet whose file is missing gives nothing playable.
TEST(CueSheetTest, IntakeGivesTheTracksAsEntries) {
  test::TempDir dir;
  test::WriteFile(dir / "album.mp3", "x");
  test::WriteFile(dir / "b.mp3", "x");
  test::WriteFile(dir / "c.mp3", "x");
  const std::string two = "FILE \"b.mp3\" MP3\nTRACK 01 AUDIO\nTITLE \"B1\"\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n";
  test::WriteFile(dir / "b.cue", two);
  test::WriteFile(dir / "lost.cue", "FILE \"gone.mp3\" MP3\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  test::WriteFile(dir / "l.m3u", "c.mp3\nb.cue\nb.cue#2\n");
  const auto gather = [&](const std::string& name) { return Gather({dir / name}, dir.Path(), [](const std::string& p) {
                                                         return std::make_unique<TFileStream>(p);
                                                       }); };
  const std::string b1 = dir / "b.cue#1", b2 = dir / "b.cue#2";
  TIntake in = gather("b.cue");
  EXPECT_EQ(in.Entries, (std::vector<std::string>{b1, b2}));
  EXPECT_EQ(in.Titles[b1], "B1");
  EXPECT_EQ(PlayableName(b2, "/elsewhere"), b2);
  EXPECT_EQ(gather("").Entries, (std::vector<std::string>{dir / "album.mp3", b1, b2, dir / "c.mp3"}));
  EXPECT_EQ(gather("l.m3u").Entries, (std::vector<std::string>{dir / "c.mp3", b1, b2, b2}));
  in = gather("lost.cue");
  EXPECT_TRUE(in.Entries.empty());
  EXPECT_FALSE(in.Playable);
}

}  // namespace
}  // namespace plumo
