// TMP3Player through each real sound device (PulseAudio's own, SDL's) and a real PulseAudio
// server (null sink) that the test kills while a file plays: the loss is shown as a device
// failure with the device's text, playback ends with merFailure, and with the server back the
// next Play works. And plumo-play on each device: what reaches the null sink is exactly what the
// WAV-file device writes, to the end of the last sample.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "player.h"
#include "pulse_server.h"
#include "pulse_wave_device.h"
#include "sdl_wave_device.h"
#include "test_files.h"

namespace plumo {
namespace {

// About twelve seconds of sound: copies of a shipped sample joined together.
std::string LongFile(const test::TempDir& dir) {
  const std::vector<uint8_t> sample = test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  const std::string path = dir / "long.mp3";
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < 8; ++i) out.write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
  return path;
}

// A device by name and the text it gives for a lost server.
struct ServerDevice {
  const char* name;
  std::shared_ptr<platform::WaveDriver> (*make)();
  const char* lost_text;
};

void PrintTo(const ServerDevice& device, std::ostream* out) { *out << device.name; }

std::shared_ptr<platform::WaveDriver> MakeSdl() { return platform::MakeSdlWaveDriver(); }
std::shared_ptr<platform::WaveDriver> MakePulse() { return platform::MakePulseWaveDriver(); }

const ServerDevice kServerDevices[] = {
    {"pulse", &MakePulse, "Connection terminated(TSoundOut.WaveOutDone)"},
    {"sdl", &MakeSdl, "SDL audio device removed(TSoundOut.WaveOutDone)"},
};

class SoundServerTest : public ::testing::TestWithParam<ServerDevice> {
 protected:
  void SetUp() override {
    if (!test::PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
    ASSERT_TRUE(server.Start()) << server.Log();
    // The device's sound system starts with the driver below, so it reaches this server only.
    server.UseInThisProcess();
    driver = GetParam().make();
    ASSERT_GE(driver->NumDevices(), 1);
    player = std::make_unique<TMP3Player>(driver, decoder);
    player->OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason r) { reasons.push_back(r); };
    player->ShowException = [this](const std::exception_ptr& e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        shown.push_back(x.what());
      }
    };
  }

  // Pumps the player's window until done(); false after the hang guard.
  bool PumpUntil(const std::function<bool()>& done, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      player->Window().WaitForMessage(20);
      player->Window().ProcessMessages();
    }
    return true;
  }

  test::PulseServer server;
  test::TempDir dir;
  Decoder decoder;
  std::shared_ptr<platform::WaveDriver> driver;
  std::unique_ptr<TMP3Player> player;
  std::vector<TMP3EndPlayReason> reasons;
  std::vector<std::string> shown;
};

TEST_P(SoundServerTest, LostServerEndsPlaybackWithTheDeviceTextAndPlayWorksWhenItIsBack) {
  player->SetFileName(LongFile(dir));
  ASSERT_EQ(player->Status(), mpsPlaying);
  ASSERT_TRUE(PumpUntil([&] { return player->Position() > 300; })) << "no sound reached the server";

  server.Kill();
  ASSERT_TRUE(PumpUntil([&] { return !reasons.empty(); })) << "the loss was not noticed";
  EXPECT_EQ(reasons, std::vector<TMP3EndPlayReason>{merFailure});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], GetParam().lost_text);
  EXPECT_EQ(player->Status(), mpsStopped);
  EXPECT_EQ(player->Position(), 0);
  EXPECT_TRUE(player->Opened()) << "the file stays open for the next Play";

  // Without a server the device does not open, with the sound system's text.
  EXPECT_THROW(
      {
        try {
          player->Play();
        } catch (const std::exception& e) {
          EXPECT_NE(std::string(e.what()).find("(TSoundOut.Open:WaveOutOpen)"), std::string::npos) << e.what();
          throw;
        }
      },
      std::exception);
  EXPECT_EQ(player->Status(), mpsStopped);

  ASSERT_TRUE(server.Start()) << server.Log();
  player->Play();
  ASSERT_EQ(player->Status(), mpsPlaying);
  ASSERT_TRUE(PumpUntil([&] { return player->Position() > 300; })) << "no sound after the server came back";
  player->Stop();
  ASSERT_TRUE(PumpUntil([&] { return reasons.size() == 2; }));
  EXPECT_EQ(reasons.back(), merStoped);
  EXPECT_EQ(shown.size(), 1u);
}

// Restarts in quick succession (as a burst of Next calls does) leave a position that follows the
// sound: once it moves, it goes on moving. (SDL's device tells its position a callback's worth at
// a time.)
class PulsePositionTest : public SoundServerTest {};

TEST_P(PulsePositionTest, PositionMovesOnAfterABurstOfRestarts) {
  // Pumps for ms, reading the position all the while as the panel's timer does.
  const auto pump_for = [&](int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    PumpUntil([&] { return player->Position() < 0 || std::chrono::steady_clock::now() >= end; });
  };
  const std::string file = LongFile(dir);
  player->SetFileName(file);
  pump_for(1500);
  for (int i = 0; i < 5; ++i) {
    if (i > 0) pump_for(150);
    if (i % 2) {
      player->SetFileName(file);
    } else {
      player->Stop();
      player->Play();
    }
  }
  ASSERT_TRUE(PumpUntil([&] { return player->Position() > 0; })) << "no sound after the restarts";
  std::vector<int32_t> readings{player->Position()};
  for (int i = 0; i < 8; ++i) {
    pump_for(200);
    readings.push_back(player->Position());
    EXPECT_GT(readings.back(), readings[readings.size() - 2]) << "readings 200 ms apart: " << testing::PrintToString(readings);
  }
}

// The bytes of a file from offset on.
std::vector<uint8_t> FileBytes(const std::string& path, size_t offset) {
  std::vector<uint8_t> bytes = test::ReadFile(path);
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(offset, bytes.size())));
  return bytes;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class NullSinkTest : public SoundServerTest {};

TEST_P(NullSinkTest, WhatReachesTheNullSinkIsExactlyWhatTheWavDeviceWrites) {
  if (test::FindProgram("parec").empty()) GTEST_SKIP() << "parec is not installed";
  const std::string file = test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3");
  const std::string reference = dir / "reference.wav";
  ASSERT_EQ(test::Child({PLUMO_PLAY_TOOL, "--device", "wav:" + reference, file}).Wait(), 0);
  // The null sink's monitor, in the format played (so nothing is converted), from before the
  // first sample until well after the last.
  const std::string recording = dir / "recording.raw";
  test::Child recorder({test::FindProgram("parec"), "-d", "plumo_null.monitor", "--raw", "--format=s16le",
                        "--rate=44100", "--channels=2"},
                       server.ClientEnvironment(), recording);
  ASSERT_TRUE(test::PollUntil([&] { return FileSize(recording) > 0; })) << "parec recorded nothing";
  ASSERT_EQ(test::Child({PLUMO_PLAY_TOOL, "--device", GetParam().name, file}, server.ClientEnvironment()).Wait(), 0);
  const int64_t played_out = FileSize(recording);
  ASSERT_TRUE(test::PollUntil([&] { return FileSize(recording) > played_out + 88200; }));
  recorder.Signal(SIGINT);
  recorder.Wait();

  // The sound is all there, sample for sample. Silent frames are left out on both sides: the
  // recorder adds them before and after, and a loaded machine may let a device run dry for a
  // moment, which is no fault of its own.
  const auto sounding = [](const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> kept;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
      if (bytes[i] | bytes[i + 1] | bytes[i + 2] | bytes[i + 3]) kept.insert(kept.end(), &bytes[i], &bytes[i + 4]);
    }
    return kept;
  };
  const std::vector<uint8_t> heard = sounding(FileBytes(recording, 0));
  const std::vector<uint8_t> expected = sounding(FileBytes(reference, 44));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(heard.size(), expected.size());
  const auto difference = std::mismatch(expected.begin(), expected.end(), heard.begin(), heard.end());
  EXPECT_EQ(difference.first - expected.begin(), static_cast<std::ptrdiff_t>(expected.size()))
      << "the first difference, of " << expected.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Devices, SoundServerTest, ::testing::ValuesIn(kServerDevices),
                         [](const ::testing::TestParamInfo<ServerDevice>& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Devices, PulsePositionTest, ::testing::Values(kServerDevices[0]),
                         [](const ::testing::TestParamInfo<ServerDevice>& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Devices, NullSinkTest, ::testing::ValuesIn(kServerDevices),
                         [](const ::testing::TestParamInfo<ServerDevice>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plumo
