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
    if (row.at("layer") == "-" || row.at("bitrate_kind") == "free") continue;
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
  // Every error line names its file.
  EXPECT_NE(r.errors.find("plumo-play: " + test::DataPath("samples/dmg_not_mpeg_png.mp3") + ": unknown MPEG Audio format.\n"),
            std::string::npos)
      << r.errors;
  EXPECT_NE(r.errors.find("plumo-play: /nonexistent.mp3: "), std::string::npos) << r.errors;
  const std::string decoded = TempPath("plumo_decoded.wav");
  ASSERT_EQ(Shell(std::string(PLUMO_DECODE_TOOL) + " " + good + " " + decoded).status, 0);
  EXPECT_TRUE(test::ReadFile(played) == test::ReadFile(decoded));
}

TEST(PlayTool, PipesAndFifosPlayWhatTheDecoderWritesForTheFile) {
  const std::string played = TempPath("plumo_played.wav");
  const std::string decoded = TempPath("plumo_decoded.wav");
  const std::string fifo = TempPath("plumo_fifo");
  std::remove(fifo.c_str());
  ASSERT_EQ(Shell("mkfifo " + fifo).status, 0);
  const std::string play = std::string(PLUMO_PLAY_TOOL) + " --device wav:" + played + " ";
  struct Way {
    const char* what;
    std::string command;  // FILE stands for the file
  };
  const Way ways[] = {
      {"standard input", play + "/dev/stdin <FILE"},
      {"a pipe", "cat FILE | " + play + "/dev/stdin"},
      {"a FIFO", "cat FILE >" + fifo + " & " + play + fifo},
  };
  // With the LAME tag's delay and padding trimmed, with an ID3v2 tag before the audio, Layer II.
  for (const char* name : {"l3_m1_44k_128_joint_info.mp3", "tag_id3v24.mp3", "l2_m1_44k_112_joint.mp2"}) {
    const std::string file = test::DataPath(std::string("samples/") + name);
    ASSERT_EQ(Shell(std::string(PLUMO_DECODE_TOOL) + " " + file + " " + decoded).status, 0);
    for (const Way& way : ways) {
      SCOPED_TRACE(std::string(name) + " through " + way.what);
      std::remove(played.c_str());
      std::string command = way.command;
      for (size_t at; (at = command.find("FILE")) != std::string::npos;) command.replace(at, 4, file);
      const ShellRun r = Shell(command + " >/dev/null");
      EXPECT_EQ(r.status, 0) << r.errors;
      EXPECT_TRUE(test::ReadFile(played) == test::ReadFile(decoded));
    }
  }
  std::remove(fifo.c_str());
}

// Runs plumo-play on a terminal (script's pseudo-terminal), with standard error on it too, and
// with the size of the files it writes limited to limit bytes (0: no limit), as a full disk would.
struct TerminalRun {
  int status;
  std::string output;  // standard output and error as the terminal received them
};

TerminalRun OnTerminal(const std::string& args, uint64_t limit = 0) {
  std::string command = std::string(PLUMO_PLAY_TOOL) + " " + args;
  // Past the limit a write fails with EFBIG instead of ending the program.
  if (limit > 0) command = "trap '' XFSZ; exec prlimit --fsize=" + std::to_string(limit) + " " + command;
  const std::string out = TempPath("plumo_play_terminal.txt");
  const ShellRun r = Shell("script -qec \"sh -c \\\"" + command + "\\\"\" /dev/null >" + out);
  std::ifstream in(out, std::ios::binary);
  return {r.status, std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())};
}

const char* const kSecond = "l3_m1_44k_128_joint_noinfo.mp3";  // 1.54 s

TEST(PlayTool, TheLastLineOfAFileShowsItsFinalTime) {
  const std::string played = TempPath("plumo_played.wav");
  const TerminalRun r = OnTerminal("--device wav:" + played + " " + test::DataPath(std::string("samples/") + kSecond));
  EXPECT_EQ(r.status, 0) << r.output;
  // The line is redrawn after a carriage return; what stands when it ends is the final time.
  EXPECT_NE(r.output.find(std::string("\r00:01  ") + kSecond + "\033[K\r\n"), std::string::npos) << r.output;
}

TEST(PlayTool, ADeviceFailingToCloseIsReportedAndTheNextFilePlays) {
  const std::string sample = test::DataPath(std::string("samples/") + kSecond);
  const std::string decoded = TempPath("plumo_decoded.wav");
  ASSERT_EQ(Shell(std::string(PLUMO_DECODE_TOOL) + " " + sample + " " + decoded).status, 0);
  const uint64_t size = std::filesystem::file_size(decoded);
  // Every byte but the last fits: the end of the sound stays in the file's buffer until the
  // device closes, so the close is what fails.
  const std::string played = TempPath("plumo_played.wav");
  // The missing file between the two keeps the second from following the first in the open
  // device: the device closes after the first.
  const TerminalRun r = OnTerminal("--device wav:" + played + " " + sample + " /nonexistent.mp3 " + sample, size - 1);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_EQ(r.output.find("terminate"), std::string::npos) << r.output;
  const size_t failed = r.output.find("plumo-play: " + sample + ": " + played + ": File too large(TSoundOut.Close:WaveOutClose)\r\n");
  ASSERT_NE(failed, std::string::npos) << r.output;
  // Both files ended on their final time, the second after the failure of the first.
  const std::string ended = std::string("\r00:01  ") + kSecond + "\033[K\r\n";
  EXPECT_NE(r.output.find(ended), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(ended, failed), std::string::npos) << r.output;
}

}  // namespace
}  // namespace plumo
