// Loudness at the tools' edges, against ffmpeg's ebur128 filter as the independent reference: what
// plumo-decode --loudness reports for files made at test time, and the level of what plumo-play's
// WAV device wrote for files without gain tags (measured once, kept in the cache).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace plumo {
namespace {

std::string Dir() {
  const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
  const std::string dir = testing::TempDir() + t->test_suite_name() + "_" + t->name() + "/";
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  return dir;
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
    ::pclose(p);
  }
  return text;
}

struct TFigures {
  double integrated = NAN, range = NAN, peak = NAN;
};

// ffmpeg's summary: "I: -23.0 LUFS", "LRA: 5.1 LU", "Peak: -1.2 dBFS" (true peak).
TFigures Ffmpeg(const std::string& file) {
  const std::string s = Output("ffmpeg -nostats -hide_banner -i '" + file + "' -af ebur128=peak=true -f null - 2>&1");
  const auto after = [&](const std::string& key) {
    const size_t at = s.rfind(key);
    return at == std::string::npos ? NAN : std::atof(s.c_str() + at + key.size());
  };
  return {after(" I:"), after(" LRA:"), after(" Peak:")};
}

// The sox command that makes %.wav (every % is the file's path without extension) and the encoder.
struct TSource {
  const char* name;
  const char* sox;
  const char* encoder;
};
const TSource kSources[] = {
    {"pink_quiet", "sox -r 44100 -c 2 -n -b 16 %.wav synth 12 pinknoise vol 0.05", "lame --quiet --noreplaygain -b 128"},
    {"pink_loud", "sox -r 44100 -c 2 -n -b 16 %.wav synth 12 pinknoise vol 0.6", "lame --quiet --noreplaygain -b 128"},
    {"sweep", "sox -r 44100 -c 2 -n -b 16 %.wav synth 20 sine 20-20000 vol 0.5", "lame --quiet --noreplaygain -b 128"},
    // 0.6 s bursts and 1.4 s of silence: the gates drop the silences.
    {"bursts", "sox -r 44100 -c 2 -n -b 16 %.wav synth 0.6 pinknoise vol 0.4 pad 0 1.4 repeat 7", "lame --quiet --noreplaygain -b 160"},
    // Flat tops at -10 dBFS: clipped 20 dB over full scale, then lowered so that the encoder's
    // overshoots stay below full scale (the meter measures the 16-bit PCM the player plays).
    {"clipped", "sox -r 44100 -c 2 -n -b 16 %.wav synth 12 pinknoise gain 20 gain -10", "lame --quiet --noreplaygain -b 192"},
    {"mono_22k", "sox -r 22050 -c 1 -n -b 16 %.wav synth 12 pinknoise vol 0.3", "lame --quiet --noreplaygain -b 64"},
    {"layer2", "sox -r 48000 -c 2 -n -b 16 %.wav synth 12 pinknoise vol 0.2", "twolame --quiet -b 192"},
};

// Makes the source's file in dir; returns its path.
std::string Make(const std::string& dir, const TSource& s) {
  std::string sox = s.sox;
  for (size_t at; (at = sox.find('%')) != std::string::npos;) sox.replace(at, 1, dir + s.name);
  const std::string out = dir + s.name + (std::string(s.encoder).rfind("twolame", 0) == 0 ? ".mp2" : ".mp3");
  EXPECT_EQ(std::system(("(" + sox + ") 2>/dev/null && " + s.encoder + " '" + dir + s.name + ".wav' '" + out +
                         "' >/dev/null 2>&1")
                            .c_str()),
            0);
  return out;
}

TEST(Loudness, PlumoDecodeAgreesWithFfmpegOnEachKindOfFile) {
  const std::string dir = Dir();
  std::string files;
  std::vector<std::string> paths;
  for (const TSource& s : kSources) {
    paths.push_back(Make(dir, s));
    files += " '" + paths.back() + "'";
  }
  // A heading, one line per file ("I  LRA  TP  track  album  file"), then "(all)".
  std::istringstream table(Output(std::string(PLUMO_DECODE_TOOL) + " --loudness" + files));
  std::string line;
  std::getline(table, line);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(std::getline(table, line));
    TFigures ours;
    double track = 0, album = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf", &ours.integrated, &ours.range, &ours.peak, &track, &album), 5) << line;
    const TFigures ref = Ffmpeg(path);
    // ffmpeg prints one decimal.
    EXPECT_NEAR(ours.integrated, ref.integrated, 0.1 + 0.05);
    EXPECT_NEAR(ours.range, ref.range, 0.5 + 0.05);
    EXPECT_NEAR(ours.peak, ref.peak, 0.2 + 0.05);
    EXPECT_NEAR(track, -18 - ours.integrated, 0.011);
  }
  ASSERT_TRUE(std::getline(table, line));
  EXPECT_NE(line.find("\t(all)"), std::string::npos) << line;
}

// plumo-play in a gain mode on a file without gain tags: the first start plays it as it is and
// measures it; the second plays it at its measured gain from the cache, without measuring again.
TEST(Loudness, AnUntaggedFileIsMeasuredOnceAndPlaysAtItsMeasuredGain) {
  const struct {
    const char* name;
    TSource source;
    const char* mode;
    double integrated;  // of the second start; NAN: not checked
    double peak;        // the highest true peak of the second start; NAN: not checked
  } kCases[] = {
      {"track", kSources[0], "track", -18, NAN},
      {"auto, a single file", kSources[1], "auto", -18, NAN},
      // A quiet file with a near full-scale click: its gain is lowered to keep the peak at -1 dBTP.
      {"peak rule", {"click", "sox -r 44100 -c 2 -n -b 16 %q.wav synth 6 pinknoise vol 0.05 && sox -r 44100 -c 2 -n -b 16 %c.wav synth 0.005 sine 1000 vol 0.95 pad 3 && sox -m -v 1 %q.wav -v 1 %c.wav -b 16 %.wav", "lame --quiet --noreplaygain -b 128"}, "track", NAN, -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string dir = Dir();
    const std::string file = Make(dir, c.source);
    const TFigures plain = Ffmpeg(file);
    const std::string played = dir + "played.wav";
    const std::string play = "XDG_CACHE_HOME='" + dir + "cache' " + PLUMO_PLAY_TOOL + " --device wav:" + played +
                             " --replaygain " + c.mode + " '" + file + "' >/dev/null";
    ASSERT_EQ(std::system(play.c_str()), 0);
    EXPECT_NEAR(Ffmpeg(played).integrated, plain.integrated, 0.2);
    ASSERT_EQ(std::system(play.c_str()), 0);
    const TFigures second = Ffmpeg(played);
    if (!std::isnan(c.integrated)) {
      EXPECT_NEAR(second.integrated, c.integrated, 0.3);
    }
    if (!std::isnan(c.peak)) {
      EXPECT_LE(second.peak, c.peak + 0.2);
      EXPECT_GE(second.peak, c.peak - 0.5);
    }
    // One line: the second start found the file in the cache.
    std::ifstream cache(dir + "cache/plumo/loudness");
    const std::string lines((std::istreambuf_iterator<char>(cache)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 1);
  }
}

}  // namespace
}  // namespace plumo
