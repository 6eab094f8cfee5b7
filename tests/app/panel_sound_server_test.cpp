// The panel playing through each real sound device (PulseAudio's own, SDL's) and a real
// PulseAudio server (null sink) that goes away in the middle of a file: the device's message is
// shown, and with the server back the panel plays again.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <fstream>
#include <ostream>

#include "forms.h"
#include "panel_form.h"
#include "pulse_server.h"
#include "pulse_wave_device.h"
#include "sdl_wave_device.h"
#include "test_support.h"

namespace plumo {
namespace {

// Pumps Qt's events until done(); false after the hang guard.
template <class F>
bool ProcessUntil(F done, int ms = 20000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

struct ServerDevice {
  const char* name;
  const char* lost_text;
};

void PrintTo(const ServerDevice& device, std::ostream* out) { *out << device.name; }

class PanelSoundServerTest : public ::testing::TestWithParam<ServerDevice> {};

TEST_P(PanelSoundServerTest, LostServerShowsTheDeviceMessageAndPlayingResumesWhenItIsBack) {
  if (!test::PulseServer::Installed()) GTEST_SKIP() << "pulseaudio is not installed";
  test::PulseServer server;
  ASSERT_TRUE(server.Start()) << server.Log();
  server.UseInThisProcess();
  test::TempDir dir;
  {
    const std::string sample = test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
    std::ofstream out(dir / "long.mp3", std::ios::binary);
    for (int i = 0; i < 8; ++i) out << sample;  // about twelve seconds
  }
  std::vector<std::string> errors;
  std::shared_ptr<platform::WaveDriver> driver;
  if (std::string(GetParam().name) == "pulse") {
    driver = platform::MakePulseWaveDriver();
  } else {
    driver = platform::MakeSdlWaveDriver();
  }
  TPlatform p(driver, dir / "plumo.INI",
              [&](const std::exception_ptr& e) { errors.push_back(ExceptionMessage(e)); });
  p.Timer1().stop();
  p.DropFiles({dir / "long.mp3"});
  ASSERT_EQ(p.MP3Player1().Status(), mpsPlaying);
  ASSERT_TRUE(ProcessUntil([&] { return p.MP3Player1().Position() > 300; }));

  server.Kill();
  ASSERT_TRUE(ProcessUntil([&] { return !errors.empty(); })) << "the loss was not shown";
  EXPECT_EQ(errors, std::vector<std::string>{GetParam().lost_text});
  EXPECT_TRUE(ProcessUntil([&] { return p.MP3Player1().Status() == mpsStopped; }));
  EXPECT_EQ(p.PlayState(), psPlaying) << "the panel's view stays until the user acts";

  ASSERT_TRUE(server.Start()) << server.Log();
  p.SpeedButton3Click();
  p.SpeedButton2MouseDown(Qt::LeftButton);
  for (int i = 0; i < 6; ++i) p.Timer1Timer();
  EXPECT_EQ(p.PlayState(), psPlaying);
  ASSERT_EQ(p.MP3Player1().Status(), mpsPlaying);
  EXPECT_TRUE(ProcessUntil([&] { return p.MP3Player1().Position() > 300; })) << "no sound after the server came back";
  EXPECT_EQ(errors.size(), 1u);
  p.StopPlay();
}

INSTANTIATE_TEST_SUITE_P(Devices, PanelSoundServerTest,
                         ::testing::Values(ServerDevice{"pulse", "Connection terminated(TSoundOut.WaveOutDone)"},
                                           ServerDevice{"sdl", "SDL audio device removed(TSoundOut.WaveOutDone)"}),
                         [](const ::testing::TestParamInfo<ServerDevice>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace plumo
