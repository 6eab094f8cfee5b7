// TMP3Player through SDL and a real PulseAudio server (null sink) that the test kills while a
// file plays: the loss is shown as a device failure, playback ends with merFailure, and with the
// server back the next Play works.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "player.h"
#include "pulse_server.h"
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

class SoundServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
    ASSERT_TRUE(server.Start()) << server.Log();
    // SDL's audio starts with the driver below, so it reaches this server only.
    server.UseInThisProcess();
    driver = platform::MakeSdlWaveDriver();
    ASSERT_TRUE(driver->Available());
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
  std::shared_ptr<platform::SdlWaveDriver> driver;
  std::unique_ptr<TMP3Player> player;
  std::vector<TMP3EndPlayReason> reasons;
  std::vector<std::string> shown;
};

TEST_F(SoundServerTest, LostServerEndsPlaybackWithTheDeviceTextAndPlayWorksWhenItIsBack) {
  player->SetFileName(LongFile(dir));
  ASSERT_EQ(player->Status(), mpsPlaying);
  ASSERT_TRUE(PumpUntil([&] { return player->Position() > 300; })) << "no sound reached the server";

  server.Kill();
  ASSERT_TRUE(PumpUntil([&] { return !reasons.empty(); })) << "the loss was not noticed";
  EXPECT_EQ(reasons, std::vector<TMP3EndPlayReason>{merFailure});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "SDL audio device removed(TSoundOut.WaveOutDone)");
  EXPECT_EQ(player->Status(), mpsStopped);
  EXPECT_EQ(player->Position(), 0);
  EXPECT_TRUE(player->Opened()) << "the file stays open for the next Play";

  // Without a server the device does not open, with SDL's text.
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

}  // namespace
}  // namespace plumo
