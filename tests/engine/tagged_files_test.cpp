// Files as real taggers (lame, mutagen, mp3gain) leave them, at the tools' edges. ReplayGain as a
// listener hears it: the level of what plumo-play's WAV device wrote against plumo-decode's output
// of the same file, for every place a gain is stored and every mode. APEv2 tags and pictures: never
// played, listed by plumo-decode --info.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_files.h"

namespace plumo {
namespace {

std::string TempPath(const std::string& name) {
  const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
  return testing::TempDir() + t->test_suite_name() + "_" + t->name() + "_" + name;
}

int RunShell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string Output(const std::string& command) {
  const std::string out = TempPath("output.txt");
  RunShell(command + " >" + out);
  std::ifstream in(out);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Root mean square of the 16-bit samples of a WAV file's "data" chunk.
double Rms(const std::string& wav) {
  const std::vector<uint8_t> bytes = test::ReadFile(wav);
  size_t at = 12;
  while (at + 8 <= bytes.size() && std::string(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4) != "data")
    at += 8 + (bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | size_t{bytes[at + 7]} << 24);
  double sum = 0;
  size_t n = 0;
  for (size_t i = at + 8; i + 1 < bytes.size(); i += 2, ++n) {
    const double s = static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8);
    sum += s * s;
  }
  return n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

// LAME's own output: a -6 dBFS tone whose LAME tag holds a track gain of -8.2 dB and no peak.
const std::string kLameFile = "samples/l3_m1_44k_128_joint_info.mp3";
constexpr double kLameGain = -8.2;

struct TCase {
  const char* name;
  // Python (mutagen) that tags the file f; empty for the file as LAME wrote it.
  const char* tagger;
  double track;  // expected dB in Track mode
  double album;  // expected dB in Album mode
};

// Each source of a gain, and which one wins.
const TCase kCases[] = {
    {"lame tag only (album falls back to track)", "", kLameGain, kLameGain},
    {"TXXX in any letter case, beating the LAME tag",
     "from mutagen.id3 import ID3,TXXX\n"
     "t=ID3();t.add(TXXX(encoding=3,desc='replaygain_track_gain',text=['-3.10 dB']))\n"
     "t.add(TXXX(encoding=1,desc='REPLAYGAIN_ALBUM_GAIN',text=['+2.00 dB']));t.save(f,v2_version=3)",
     -3.1, 2.0},
    {"TXXX album gain only (track falls back to album)",
     "from mutagen.id3 import ID3,TXXX\n"
     "t=ID3();t.add(TXXX(encoding=0,desc='REPLAYGAIN_ALBUM_GAIN',text=['-4.5 dB']));t.save(f,v2_version=4)",
     kLameGain, -4.5},
    {"RVA2 track and album, master volume",
     "from mutagen.id3 import ID3,RVA2\n"
     "t=ID3();t.add(RVA2(desc='track',channel=2,gain=9,peak=0.1));t.add(RVA2(desc='track',channel=1,gain=-6.5,peak=0.6))\n"
     "t.add(RVA2(desc='album',channel=1,gain=-1.0,peak=0.6));t.save(f,v2_version=4)",
     -6.5, -1.0},
    {"APEv2 items",
     "from mutagen.apev2 import APEv2\n"
     "t=APEv2();t['Replaygain_Track_Gain']='-2.25 dB';t['REPLAYGAIN_ALBUM_GAIN']='-5.00 dB';t.save(f)",
     -2.25, -5.0},
    {"the peak limits the gain to -1 dBTP (+10 dB, peak 0.8: +0.94 dB)",
     "from mutagen.apev2 import APEv2\n"
     "t=APEv2();t['REPLAYGAIN_TRACK_GAIN']='+10.00 dB';t['REPLAYGAIN_TRACK_PEAK']='0.800000';t.save(f)",
     20 * std::log10(0.891251 / 0.8), 20 * std::log10(0.891251 / 0.8)},
};

// Level of plumo-play's output in a mode against plumo-decode's output, in dB.
double PlayedGain(const std::string& file, const std::string& mode) {
  const std::string played = TempPath("played.wav");
  const std::string decoded = TempPath("decoded.wav");
  std::remove(played.c_str());
  // Gains without a peak have the measured one from the second start on (a cache of the test's own).
  EXPECT_EQ(RunShell("XDG_CACHE_HOME=" + TempPath("cache") + " " + PLUMO_PLAY_TOOL + " --device wav:" + played + " --replaygain " + mode + " '" + file + "' >/dev/null"), 0);
  EXPECT_EQ(RunShell(std::string(PLUMO_DECODE_TOOL) + " '" + file + "' " + decoded), 0);
  return 20 * std::log10(Rms(played) / Rms(decoded));
}

TEST(ReplayGain, EachSourceAndModeSetsTheLevelTheWavDeviceWrites) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string file = TempPath("tagged.mp3");
    std::filesystem::copy_file(test::DataPath(kLameFile), file, std::filesystem::copy_options::overwrite_existing);
    if (*c.tagger) {
      const std::string script = TempPath("tag.py");
      std::ofstream(script) << "f='" << file << "'\n" << c.tagger << "\n";
      ASSERT_EQ(RunShell("/usr/bin/python3 " + script), 0);
    }
    EXPECT_NEAR(PlayedGain(file, "off"), 0.0, 0.01);
    EXPECT_NEAR(PlayedGain(file, "track"), c.track, 0.1);
    EXPECT_NEAR(PlayedGain(file, "album"), c.album, 0.1);
  }
}

// mp3gain analyses a file without a LAME tag and stores its findings in an APEv2 tag; Track mode
// plays at the gain it reports.
TEST(ReplayGain, Mp3gainsTagIsPlayedAtTheGainItReports) {
  const std::string file = TempPath("mp3gain.mp3");
  std::filesystem::copy_file(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), file,
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(RunShell("mp3gain -q -s a '" + file + "' >/dev/null 2>&1"), 0);
  // "File\tMP3 gain\tdB gain\t..." then one line for the file.
  const std::string table = Output("mp3gain -o -s c '" + file + "'");
  const size_t line = table.find(file + "\t");
  ASSERT_NE(line, std::string::npos) << table;
  const size_t tab1 = table.find('\t', line + file.size() + 1);
  const double reported = std::atof(table.c_str() + tab1 + 1);
  ASSERT_GT(std::fabs(reported), 1.0) << table;
  EXPECT_NEAR(PlayedGain(file, "track"), reported, 0.1);
}

// An APEv2 tag with a cover, between the audio and an ID3v1 tag, behind an ID3v2 tag: the file
// decodes to exactly the samples of the untagged file, and --info lists the tag and the picture.
TEST(TaggedFiles, AnApev2TagIsListedAndNeverPlayed) {
  const std::string plain = test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3");
  const std::string file = TempPath("ape.mp3");
  std::filesystem::copy_file(plain, file, std::filesystem::copy_options::overwrite_existing);
  const std::string script = TempPath("tag.py");
  std::ofstream(script) << "f='" << file << "'\n"
                        << "from mutagen.id3 import ID3,TPE1\n"
                           "t=ID3();t.add(TPE1(encoding=3,text=['V1 Artist']));t.save(f,v1=2)\n"
                           "from mutagen.apev2 import APEv2,APEValue,BINARY\n"
                           "png=b'\\x89PNG\\r\\n\\x1a\\n'+bytes(range(256))*40\n"
                           "a=APEv2();a['Title']='Ape title';a['Cover Art (Front)']=APEValue(b'front.png\\0'+png,BINARY);a.save(f)\n";
  ASSERT_EQ(RunShell("/usr/bin/python3 " + script), 0);
  const std::string info = Output(std::string(PLUMO_DECODE_TOOL) + " --info '" + file + "'");
  EXPECT_NE(info.find("[APEv2]\n  Title=Ape title\n  Cover Art (Front)=(10258 bytes)\n"), std::string::npos) << info;
  EXPECT_NE(info.find("[ID3v1]\n"), std::string::npos) << info;
  EXPECT_NE(info.find("picture: PNG, 10248 bytes, picture type 3 (front cover)\n"), std::string::npos) << info;
  EXPECT_NE(info.find("title: Ape title\nartist: V1 Artist\n"), std::string::npos) << info;
  const std::string plainInfo = Output(std::string(PLUMO_DECODE_TOOL) + " --info '" + plain + "'");
  const auto audioLine = [](const std::string& text) { return text.substr(text.find("audio: "), text.find(" from ") - text.find("audio: ")); };
  EXPECT_EQ(audioLine(info), audioLine(plainInfo));
  const std::string tagged = TempPath("tagged.pcm");
  const std::string untagged = TempPath("untagged.pcm");
  ASSERT_EQ(RunShell(std::string(PLUMO_DECODE_TOOL) + " '" + file + "' " + tagged), 0);
  ASSERT_EQ(RunShell(std::string(PLUMO_DECODE_TOOL) + " '" + plain + "' " + untagged), 0);
  const std::vector<uint8_t> samples = test::ReadFile(untagged);
  EXPECT_GT(samples.size(), 100000u);
  EXPECT_TRUE(test::ReadFile(tagged) == samples);
}

}  // namespace
}  // namespace plumo
