// plumo-play on a real internet radio station: an Icecast 2 server of the test's own on 127.0.0.1,
// fed by ffmpeg, its titles changed through the server's admin interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "icecast_server.h"
#include "test_files.h"

namespace plumo {
namespace {

constexpr size_t kWavHeader = 44;
constexpr size_t kSecond = 44100 * 4;  // bytes of one second of the station's PCM

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<size_t>(size);
}

class Radio : public testing::Test {
 protected:
  // The station's programme: 20 s of two sweeping tones (no second is like another), encoded
  // without a LAME tag, so that any stretch of the stream's sound is found in the file's.
  static void SetUpTestSuite() {
    if (!test::IcecastServer::Installed()) return;
    FFiles = std::make_unique<test::TempDir>();
    const std::string wav = *FFiles / "programme.wav";
    FProgramme = *FFiles / "programme.mp3";
    FDecoded = *FFiles / "decoded.wav";
    const bool made =
        std::system(("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 20 sine 200-4000 sine 300-6000 vol 0.5").c_str()) == 0 &&
        std::system(("lame --quiet -t -b 128 " + wav + " " + FProgramme).c_str()) == 0 &&
        std::system((std::string(PLUMO_DECODE_TOOL) + " " + FProgramme + " " + FDecoded).c_str()) == 0;
    if (!made) FProgramme.clear();
  }
  static void TearDownTestSuite() { FFiles.reset(); }

  void SetUp() override {
    if (!test::IcecastServer::Installed()) GTEST_SKIP() << "icecast2, ffmpeg or curl is not installed";
    ASSERT_FALSE(FProgramme.empty()) << "sox, lame and plumo-decode make the programme";
    ASSERT_TRUE(FServer.Start()) << FServer.Log();
  }

  // plumo-play with the WAV-file device on args; standard output and error go to Output().
  std::unique_ptr<test::Child> Play(const std::string& address) {
    return std::make_unique<test::Child>(
        std::vector<std::string>{PLUMO_PLAY_TOOL, "--device", "wav:" + Played(), address},
        std::map<std::string, std::string>{}, FDir / "output.txt");
  }
  std::string Played() const { return FDir / "played.wav"; }
  std::string Output() const { return Slurp(FDir / "output.txt"); }

  static inline std::unique_ptr<test::TempDir> FFiles;
  static inline std::string FProgramme;
  static inline std::string FDecoded;
  test::TempDir FDir;
  test::IcecastServer FServer;
};

TEST_F(Radio, PlumoPlayPlaysTheStationFollowsItsTitlesAndEndsWhenTheSourceGoes) {
  ASSERT_TRUE(FServer.StartSource(FProgramme, "PLUMO Test Radio")) << FServer.Log();
  ASSERT_TRUE(FServer.SetTitle("First Song"));
  auto play = Play(FServer.Url());
  // The title the station names and the station, one line each (standard output is no terminal).
  ASSERT_TRUE(test::PollUntil([&] { return Output().find("First Song  (PLUMO Test Radio)\n") != std::string::npos; }))
      << Output() << FServer.Log();
  // Three seconds of sound have been played; then the title changes.
  ASSERT_TRUE(test::PollUntil([&] { return FileSize(Played()) > kWavHeader + 3 * kSecond; })) << Output();
  const std::string second = "Zweiter Titel – Ünïcode";
  ASSERT_TRUE(FServer.SetTitle(second));
  ASSERT_TRUE(test::PollUntil([&] { return Output().find(second + "  (PLUMO Test Radio)\n") != std::string::npos; }))
      << Output();
  // The encoder goes away: plumo-play ends by itself, saying why, with success.
  FServer.KillSource();
  EXPECT_EQ(play->Wait(), 0) << Output();
  const std::string output = Output();
  EXPECT_NE(output.find("\nplumo-play: " + FServer.Url() + ": "), std::string::npos) << output;

  // The sound is the programme's as plumo-decode gives it: a second of it, taken after the first
  // second (where a listener joining in mid-frame may hear the start of the stream differ), lies
  // in the decoded file as it stands.
  const std::string played = Slurp(Played());
  const std::string decoded = Slurp(FDecoded);
  ASSERT_GT(played.size(), kWavHeader + 3 * kSecond);
  EXPECT_EQ(played.compare(8, 28, decoded, 8, 28), 0) << "the same format";
  const std::string stretch = played.substr(kWavHeader + kSecond, kSecond);
  const size_t at = decoded.find(stretch, kWavHeader);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ((at - kWavHeader) % 4, 0u);
}

TEST_F(Radio, PlumoPlayPlaysOnWhenTheServerComesBack) {
  ASSERT_TRUE(FServer.StartSource(FProgramme)) << FServer.Log();
  auto play = Play(FServer.Url());
  ASSERT_TRUE(test::PollUntil([&] { return FileSize(Played()) > kWavHeader + kSecond; })) << Output();
  // The server goes away and comes back on its port: the refused connections are tried again.
  const int port = FServer.Port();
  FServer.Kill();
  ASSERT_TRUE(FServer.Start(port) && FServer.StartSource(FProgramme)) << FServer.Log();
  const size_t before = FileSize(Played());
  ASSERT_TRUE(test::PollUntil([&] { return FileSize(Played()) > before + 2 * kSecond; })) << Output();
  EXPECT_TRUE(play->Running()) << Output();
  play->Signal(SIGTERM);
  EXPECT_EQ(play->Wait(), 0) << Output();
}

TEST_F(Radio, AnAddressThatCannotBePlayedFailsWithOneLine) {
  ASSERT_TRUE(FServer.StartSource(FProgramme)) << FServer.Log();
  struct Case {
    const char* what;
    std::string address;
    std::string reason;  // within the message
  };
  // A port nothing listens on: the server's, once it is gone.
  const std::string closed = "http://127.0.0.1:" + std::to_string(FServer.Port()) + "/live.mp3";
  const Case cases[] = {
      {"no such mount", FServer.Url("/none.mp3"), "404"},
      {"nothing listens", closed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.address == closed) FServer.Kill();
    auto play = Play(c.address);
    EXPECT_EQ(play->Wait(), 1);
    const std::string output = Output();
    EXPECT_EQ(output.rfind("plumo-play: " + c.address + ": ", 0), 0u) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_NE(output.find(c.reason), std::string::npos) << output;
  }
}

}  // namespace
}  // namespace plumo
