// Gapless playback: files of one format, made by lame from one continuous signal cut between
// frames, follow each other in the same open device, and what the device receives is what
// plumo-decode makes of each file, back to back; a change of format opens the device anew.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "player.h"
#include "simulated_wave_device.h"
#include "test_files.h"
#include "wav_file_wave_device.h"

namespace plumo {
namespace {

constexpr size_t kWavHeader = 44;

// A driver that counts the devices opened for playing.
class CountingDriver final : public platform::WaveDriver {
 public:
  explicit CountingDriver(std::shared_ptr<platform::WaveDriver> inner) : FInner(std::move(inner)) {}
  int NumDevices() override { return FInner->NumDevices(); }
  int Open(int id, const platform::WaveFormat& format, platform::WaveDoneCallback done,
           std::unique_ptr<platform::WaveDevice>& device) override {
    if (done) ++opens;
    return FInner->Open(id, format, std::move(done), device);
  }
  int GetDeviceVolume(int id, uint32_t& volume) override { return FInner->GetDeviceVolume(id, volume); }
  bool ErrorText(int result, std::string& text) override { return FInner->ErrorText(result, text); }
  int opens = 0;  // main thread only

 private:
  std::shared_ptr<platform::WaveDriver> FInner;
};

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// The test files, made once: a 3 s signal cut at samples 70001 and 100003 (no frame multiple),
// each part encoded CBR (with an Info frame) and VBR (with a Xing frame), and a 32 kHz mono file.
class GaplessPlayback : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string pattern = testing::TempDir() + "plumo_gapless_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern + "/";
    ASSERT_TRUE(Shell("cd " + dir + " && sox -n -r 44100 -c 2 -b 16 signal.wav synth 3 sine 110-3000 sine 440 vol 0.5"
                    " && sox signal.wav a.wav trim 0 70001s && sox signal.wav b.wav trim 70001s 30002s"
                    " && sox signal.wav -r 32000 -c 1 c.wav trim 0 1.3"
                    " && for p in a b c; do lame --quiet -b 128 $p.wav ${p}_cbr.mp3"
                    " && lame --quiet -V 4 $p.wav ${p}_vbr.mp3; done"));
  }
  static void TearDownTestSuite() { Shell("rm -rf " + dir); }

  // What plumo-decode writes for the file, without the WAV header.
  static std::vector<uint8_t> Decoded(const std::string& file) {
    const std::string out = dir + "decoded.wav";
    EXPECT_TRUE(Shell(std::string(PLUMO_DECODE_TOOL) + " " + file + " " + out));
    std::vector<uint8_t> data = test::ReadFile(out);
    data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min(kWavHeader, data.size())));
    return data;
  }

  static inline std::string dir;
};

TEST_F(GaplessPlayback, TheNextFileFollowsInTheOpenDeviceUnlessItsFormatDiffers) {
  struct Case {
    const char* first;
    const char* second;
    bool same_format;
  };
  for (const Case c : {Case{"a_cbr.mp3", "b_cbr.mp3", true}, Case{"a_vbr.mp3", "b_vbr.mp3", true},
                       Case{"a_cbr.mp3", "c_cbr.mp3", false}}) {
    SCOPED_TRACE(std::string(c.first) + " then " + c.second);
    const std::vector<std::string> files{dir + c.first, dir + c.second};
    std::vector<uint8_t> expected = Decoded(files[0]);
    const size_t first_bytes = expected.size();
    const std::vector<uint8_t> second = Decoded(files[1]);
    expected.insert(expected.end(), second.begin(), second.end());

    // The WAV-file device holds one format; a change of format is played by a simulated one.
    const std::string wav = dir + "played.wav";
    std::remove(wav.c_str());
    platform::SimulatedWaveOptions fast;
    fast.real_time = false;
    const auto simulated = platform::MakeSimulatedWaveDriver(fast);
    const auto driver = std::make_shared<CountingDriver>(
        c.same_format ? std::shared_ptr<platform::WaveDriver>(platform::MakeWavFileWaveDriver(wav)) : simulated);
    std::vector<std::string> events;
    {
      Decoder decoder;
      TMP3Player player(driver, decoder);
      // An owner as plumo-play is: the next entry follows, a file not chained is started anew.
      size_t index = 0, ahead = 0;
      bool done = false;
      player.OnGetNextFile = [&](TMP3Player*) { return ahead + 1 < files.size() ? files[++ahead] : std::string(); };
      player.OnTrackChange = [&](TMP3Player* p) {
        ++index;
        events.push_back("change to " + p->FileName() + " after " + std::to_string(p->EndPosition()) + " ms");
      };
      player.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason reason) {
        events.push_back("end " + std::to_string(reason));
        if (reason == merSuccessful && index + 1 < files.size()) {
          ahead = ++index;
          player.SetFileName(files[index]);
        } else {
          done = true;
        }
      };
      player.SetFileName(files[0]);
      // A hang guard, never a measure of speed.
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while (!done && std::chrono::steady_clock::now() < end) {
        player.Window().WaitForMessage(20);
        player.Window().ProcessMessages();
      }
      ASSERT_TRUE(done);
    }
    if (c.same_format) {
      // 44.1 kHz, two channels, 16 bits.
      const std::string change =
          "change to " + files[1] + " after " + std::to_string(first_bytes * 1000 / (44100 * 4)) + " ms";
      EXPECT_EQ(events, (std::vector<std::string>{change, "end 0"}));
      EXPECT_EQ(driver->opens, 1);
      std::vector<uint8_t> played = test::ReadFile(wav);
      ASSERT_GE(played.size(), kWavHeader);
      played.erase(played.begin(), played.begin() + kWavHeader);
      EXPECT_EQ(played.size(), expected.size());
      EXPECT_TRUE(played == expected);
      // plumo-play chains the files of its command line alike.
      std::remove(wav.c_str());
      ASSERT_TRUE(Shell(std::string(PLUMO_PLAY_TOOL) + " --device wav:" + wav + " " + files[0] + " " + files[1] +
                        " >/dev/null"));
      played = test::ReadFile(wav);
      ASSERT_GE(played.size(), kWavHeader);
      EXPECT_TRUE(std::vector<uint8_t>(played.begin() + kWavHeader, played.end()) == expected);
    } else {
      EXPECT_EQ(events, (std::vector<std::string>{"end 0", "end 0"}));
      EXPECT_EQ(driver->opens, 2);
      EXPECT_EQ(simulated->Stats().bytes_played, expected.size());
    }
  }
}

}  // namespace
}  // namespace plumo
