// A CUE sheet over one encoded file, as the tools see it: three parts of a signal joined, lame
// encoded as one file, and a sheet at the cut points. Each track plumo-decode writes is exactly
// its slice of the whole file's decode, --info tells the exact starts and lengths, and what the
// WAV-file device receives from plumo-play playing the sheet is the whole decode, bit for bit;
// silence only where the sheet asks for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_files.h"

namespace plumo {
namespace {

std::vector<uint8_t> Bytes(const std::string& path, size_t skip = 0) {
  std::vector<uint8_t> b = test::ReadFile(path);
  b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(skip, b.size())));
  return b;
}

TEST(CueExactness, TracksAreSlicesOfTheWholeDecodeAndPlayJoinedWithoutASeam) {
  const struct {
    int rate;
    const char* lame;
    // The cut points in CD frames and the samples they stand for; silence after track 1 and
    // before track 2 (samples), asked for by POSTGAP and PREGAP.
    int64_t cut1, cut2, sample1, sample2, post, pre;
  } cases[] = {
      {44100, "-b 128", 247, 450, 145236, 264600, 0, 0},
      {48000, "-V 2", 247, 451, 158080, 288640, 0, 0},
      {44100, "-b 128", 247, 450, 145236, 264600, 30 * 588, 44100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    test::TempDir dir;
    const std::string rate = std::to_string(c.rate);
    const auto s = [](int64_t n) { return std::to_string(n) + "s"; };
    ASSERT_EQ(std::system(("cd " + dir.Path() + " && sox -n -r " + rate + " -c 2 -b 16 a.wav synth " + s(c.sample1) +
                           " sine 300-2000 vol 0.5 && sox -n -r " + rate + " -c 2 -b 16 b.wav synth " +
                           s(c.sample2 - c.sample1) + " square 660 vol 0.3 && sox -n -r " + rate +
                           " -c 2 -b 16 c.wav synth 2.5 pinknoise vol 0.4 && sox a.wav b.wav c.wav all.wav && lame --quiet " +
                           c.lame + " all.wav album.mp3")
                              .c_str()),
              0);
    const auto time = [](int64_t frames) {
      char t[16];
      std::snprintf(t, sizeof t, "%02d:%02d:%02d", static_cast<int>(frames / 75 / 60), static_cast<int>(frames / 75 % 60),
                    static_cast<int>(frames % 75));
      return std::string(t);
    };
    std::ofstream(dir / "album.cue") << "TITLE \"Album\"\nFILE \"album.mp3\" MP3\nTRACK 01 AUDIO\nTITLE One\nINDEX 01 00:00:00\n"
                                     << (c.post ? "POSTGAP 00:00:30\n" : "") << "TRACK 02 AUDIO\nTITLE Two\n"
                                     << (c.pre ? "PREGAP 00:01:00\n" : "") << "INDEX 00 " << time(c.cut1 - 10) << "\nINDEX 01 "
                                     << time(c.cut1) << "\nTRACK 03 AUDIO\nTITLE Three\nINDEX 01 " << time(c.cut2) << "\n";
    const std::string decode = PLUMO_DECODE_TOOL;
    ASSERT_EQ(std::system((decode + " " + dir / "album.mp3" + " " + dir / "whole.pcm").c_str()), 0);
    const std::vector<uint8_t> whole = Bytes(dir / "whole.pcm");
    const int64_t total = static_cast<int64_t>(whole.size()) / 4;
    const int64_t starts[] = {0, c.sample1, c.sample2, total};
    const std::string info = test::Capture(decode + " --info " + dir / "album.cue");
    std::vector<uint8_t> joined;
    for (int n = 1; n <= 3; ++n) {
      SCOPED_TRACE(n);
      const std::string out = dir / ("t" + std::to_string(n) + ".pcm");
      ASSERT_EQ(std::system((decode + " --track " + std::to_string(n) + " " + dir / "album.cue " + out).c_str()), 0);
      // The silence asked for, then the track's samples, then the silence asked for.
      std::vector<uint8_t> slice(static_cast<size_t>(n == 2 ? c.pre : 0) * 4);
      slice.insert(slice.end(), whole.begin() + starts[n - 1] * 4, whole.begin() + starts[n] * 4);
      const std::vector<uint8_t> after(static_cast<size_t>(n == 1 ? c.post : 0) * 4);
      slice.insert(slice.end(), after.begin(), after.end());
      EXPECT_TRUE(Bytes(out) == slice) << Bytes(out).size() << " bytes, the slice " << slice.size();
      joined.insert(joined.end(), slice.begin(), slice.end());
      EXPECT_NE(info.find("track " + std::to_string(n) + ": start " + std::to_string(starts[n - 1]) + ", length " +
                          std::to_string(static_cast<int64_t>(slice.size() / 4)) + " samples"),
                std::string::npos)
          << info;
    }
    const std::string played = dir / "played.wav";
    const std::string lines = test::Capture(std::string(PLUMO_PLAY_TOOL) + " --device wav:" + played + " " + dir / "album.cue");
    EXPECT_EQ(lines, "One\nTwo\nThree\n") << "one line per track";
    EXPECT_TRUE(Bytes(played, 44) == joined) << "the sheet played is the whole decode (with the silence asked for)";
  }
}

}  // namespace
}  // namespace plumo
