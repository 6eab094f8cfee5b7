// plumo-play as a user runs it: what reaches the WAV device is exactly what plumo-decode writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

// A file in the temporary folder owned by the running test (tests run in parallel).
std::string TempPath(const std::string& name) {
  const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
  return testing::TempDir() + t->test_suite_name() + "_" + t->name() + "_" + name;
}

struct ShellRun {
  int status;
  std::string errors;
};

ShellRun Shell(const std::string& command) {
  const std::string err = TempPath("plumo_play_stderr.txt");
  const int raw = std::system((command + " 2>" + err).c_str());
  std::ifstream in(err);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
          std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
}

// The files every player must play: normal samples and the conformance vectors.
std::vector<std::string> PlayableFiles() {
  std::vector<std::string> files;
  for (const test::ManifestRow& row : test::ReadSamplesManifest()) {
    const std::string name = row.at("file");
    if (row.at("layer") == "-" || row.at("bitrate_kind") == "free" || name == "dmg_false_sync_first.mp3") continue;
    files.push_back(test::DataPath("samples/" + name));
  }
  for (const auto& entry : std::filesystem::directory_iterator(test::DataPath("conformance"))) {
    const std::string path = entry.path().string();
    // The player refuses free-format streams.
    if (entry.path().extension() == ".bit" && path.find("free") == std::string::npos) files.push_back(path);
  }
  return files;
}

TEST(PlayTool, TheWavDeviceReceivesExactlyWhatTheDecoderWrites) {
  const std::string played = TempPath("plumo_played.wav");
  const std::string decoded = TempPath("plumo_decoded.wav");
  const std::vector<std::string> files = PlayableFiles();
  ASSERT_GT(files.size(), 60u);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::remove(played.c_str());
    const ShellRun play = Shell(std::string(PLUMO_PLAY_TOOL) + " --device wav:" + played + " '" + file + "' >/dev/null");
    EXPECT_EQ(play.status, 0) << play.errors;
    ASSERT_EQ(Shell(std::string(PLUMO_DECODE_TOOL) + " '" + file + "' " + decoded).status, 0);
    EXPECT_TRUE(test::ReadFile(played) == test::ReadFile(decoded));
  }
}

TEST(PlayTool, ErrorsAreReportedAndTheNextFilePlays) {
  const std::string played = TempPath("plumo_played.wav");
  const std::string good = test::DataPath("samples/playlists/pl_one.mp3");
  const ShellRun r = Shell(std::string(PLUMO_PLAY_TOOL) + " --device wav:" + played + " " +
                      test::DataPath("samples/dmg_not_mpeg_png.mp3") + " /nonexistent.mp3 " + good + " >/dev/null");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.errors.find("unknown MPEG Audio format.\n"), std::string::npos) << r.errors;
  EXPECT_NE(r.errors.find("/nonexistent.mp3"), std::string::npos) << r.errors;
  const std::string decoded = TempPath("plumo_decoded.wav");
  ASSERT_EQ(Shell(std::string(PLUMO_DECODE_TOOL) + " " + good + " " + decoded).status, 0);
  EXPECT_TRUE(test::ReadFile(played) == test::ReadFile(decoded));
}

}  // namespace
}  // namespace plumo
