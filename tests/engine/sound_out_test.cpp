// TSoundOut over the simulated, WAV-file, SDL and a scripted device: buffer size, ring filling,
// free room, volume words, errors with their locations, closing, pausing, waking the decoder,
// position notifications and failures raised on the output thread.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "simulated_wave_device.h"
#include "sdl_wave_device.h"
#include "sound_out.h"
#include "wav_file_wave_device.h"

namespace plumo {
namespace {

using platform::MakeSimulatedWaveDriver;
using platform::SimulatedWaveOptions;

constexpr int32_t kHangGuardMs = 30000;

std::string StandardText(int result) {
  std::string text;
  EXPECT_TRUE(platform::StandardWaveErrorText(result, text));
  return text;
}

// Runs f and returns the EWaveOutError message it raised ("" when none was raised).
template <typename F>
std::string WaveErrorOf(F&& f) {
  try {
    f();
  } catch (const EWaveOutError& e) {
    return e.what();
  }
  return "";
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

void SetFormat(TSoundOut& out, int32_t rate, int32_t channels, int32_t bits) {
  out.SetSampleRate(rate);
  out.SetChannels(channels);
  out.SetBitsPerSample(bits);
}

TEST(TSoundOutFormatTest, BufferIsAQuarterOfTwoSecondsRoundedUpToFourBytes) {
  EXPECT_EQ(TSoundOut::ComputeBufferSize(44100, 2, 16), 88200);
  EXPECT_EQ(TSoundOut::ComputeBufferSize(48000, 2, 16), 96000);
  EXPECT_EQ(TSoundOut::ComputeBufferSize(22050, 1, 16), 22052);
  EXPECT_EQ(TSoundOut::ComputeBufferSize(22050, 1, 8), 11028);
  EXPECT_EQ(TSoundOut::ComputeBufferSize(8000, 1, 8), 4000);
  TSoundOut out(MakeSimulatedWaveDriver());
  EXPECT_EQ(out.BufferSize(), 88200);
  SetFormat(out, 22050, 1, 8);
  EXPECT_EQ(out.BufferSize(), 11028);
}

TEST(TSoundOutFormatTest, SettersIgnoreValuesOutsideTheirRange) {
  TSoundOut out(MakeSimulatedWaveDriver());
  EXPECT_EQ(out.SampleRate(), 44100);
  EXPECT_EQ(out.Channels(), 2);
  EXPECT_EQ(out.BitsPerSample(), 16);
  EXPECT_EQ(out.DeviceID(), -1);
  EXPECT_EQ(out.NotifyInterval(), -1);
  EXPECT_EQ(out.Balance(), 0);
  out.SetSampleRate(0);
  out.SetSampleRate(-8000);
  out.SetChannels(3);
  out.SetChannels(0);
  out.SetBitsPerSample(24);
  EXPECT_EQ(out.SampleRate(), 44100);
  EXPECT_EQ(out.Channels(), 2);
  EXPECT_EQ(out.BitsPerSample(), 16);
  SetFormat(out, 11025, 1, 8);
  EXPECT_EQ(out.SampleRate(), 11025);
  EXPECT_EQ(out.Channels(), 1);
  EXPECT_EQ(out.BitsPerSample(), 8);
}

TEST(TSoundOutRingTest, WriteTakesWhatFitsAndFreePercentFollowsTheRing) {
  auto driver = MakeSimulatedWaveDriver();
  TSoundOut out(driver);
  EXPECT_EQ(out.FreePercent(), 0);  // closed
  EXPECT_FALSE(out.CanWrite());
  const auto data = Pattern(5 * 88200);
  EXPECT_EQ(out.Write(data.data(), 1000), 0);

  out.Open();
  ASSERT_TRUE(out.Opened());
  EXPECT_EQ(out.FreePercent(), 100);
  out.Pause();  // nothing comes back from now on
  EXPECT_EQ(out.Write(data.data(), 44100), 44100);
  EXPECT_EQ(out.FreePercent(), 87);  // (4 * 88200 - 44100) * 100 / (4 * 88200) = 87.5
  EXPECT_EQ(out.QueuedCount(), 0);
  EXPECT_EQ(out.Write(data.data() + 44100, 5 * 88200 - 44100), 4 * 88200 - 44100);
  EXPECT_EQ(out.QueuedCount(), 4);
  EXPECT_EQ(out.FreePercent(), 0);
  EXPECT_FALSE(out.CanWrite());
  EXPECT_EQ(out.Write(data.data(), 10), 0);
  EXPECT_EQ(driver->Stats().buffers_written, 4u);
  out.Reset();
  out.Close();
  EXPECT_FALSE(out.Opened());
  EXPECT_EQ(driver->Stats().open_devices, 0);
}

TEST(TSoundOutRingTest, OpeningTwiceOpensTheDeviceOnce) {
  auto driver = MakeSimulatedWaveDriver();
  TSoundOut out(driver);
  out.Open();
  out.Open();
  EXPECT_EQ(driver->Stats().opens, 1);
  out.Close();
  out.Close();
  EXPECT_EQ(driver->Stats().closes, 1);
}

TEST(TSoundOutRingTest, ClosePlaysOutTheQueueAndThePartlyFilledBuffer) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false});
  TSoundOut out(driver);
  SetFormat(out, 22050, 1, 16);
  out.Open();
  const auto data = Pattern(22052 + 1000);
  EXPECT_EQ(out.Write(data.data(), static_cast<int32_t>(data.size())), static_cast<int32_t>(data.size()));
  out.Close();
  EXPECT_EQ(driver->Stats().bytes_played, data.size());
  EXPECT_EQ(driver->Stats().last_format.sample_rate, 22050);
  EXPECT_EQ(driver->Stats().last_format.channels, 1);
}

TEST(TSoundOutRingTest, WavDeviceReceivesExactlyWhatWasWrittenInOrder) {
  const std::string path =
      ::testing::TempDir() + "plumo_sound_out_" + std::to_string(::getpid()) + ".wav";
  const auto data = Pattern(3 * 22052 + 7777);
  {
    TSoundOut out(platform::MakeWavFileWaveDriver(path));
    SetFormat(out, 22050, 1, 16);
    out.Open();
    size_t offset = 0;
    size_t chunk = 1;
    while (offset < data.size()) {
      const size_t n = std::min(chunk, data.size() - offset);
      size_t taken = 0;
      while (taken < n) {
        taken += static_cast<size_t>(
            out.Write(data.data() + offset + taken, static_cast<int32_t>(n - taken)));
        if (taken < n) std::this_thread::yield();  // ring full: the device catches up
      }
      offset += n;
      chunk = chunk * 3 + 1;  // odd sizes that straddle buffer boundaries
    }
    out.Close();
  }
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(file.size(), 44 + data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 44));
  std::remove(path.c_str());
}

TEST(TSoundOutVolumeTest, VolumeAndBalanceMapToTheTwoChannelWords) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false});
  TSoundOut out(driver);
  EXPECT_EQ(out.Volume(), 100);
  out.SetBalance(-50);  // kept while closed, applied by Open
  out.Open();
  EXPECT_EQ(driver->Volume(-1), 0x8000FFFFu);  // right (65535 * 50 + 50) div 100 = 32768
  out.SetBalance(0);
  EXPECT_EQ(driver->Volume(-1), 0xFFFFFFFFu);
  out.SetBalance(-100);
  EXPECT_EQ(driver->Volume(-1), 0x0000FFFFu);  // right silent
  out.SetBalance(100);
  EXPECT_EQ(driver->Volume(-1), 0xFFFF0000u);  // left silent
  out.SetBalance(101);
  out.SetBalance(-101);
  EXPECT_EQ(out.Balance(), 100);
  out.SetBalance(0);
  out.SetVolume(50);
  EXPECT_EQ(driver->Volume(-1), 0x80008000u);  // (50 * 65535 + 50) div 100 = 32768
  out.SetVolume(0);
  EXPECT_EQ(driver->Volume(-1), 0u);
  out.SetVolume(101);
  out.SetVolume(-1);
  EXPECT_EQ(out.Volume(), 0);
  out.Close();
}

TEST(TSoundOutVolumeTest, DeviceVolumeIsReadFromTheLouderChannel) {
  auto driver = MakeSimulatedWaveDriver({.initial_volume = 0x40008000});
  TSoundOut out(driver);
  EXPECT_EQ(out.Volume(), 50);  // (32768 * 100 + 32767) div 65535
  EXPECT_EQ(out.GetWaveVolume(), 50);
  out.SetVolume(10);
  out.RefreshVolume();
  EXPECT_EQ(out.Volume(), 50);
}

TEST(TSoundOutVolumeTest, WhenTheQueryOpenFailsDeviceZeroIsAsked) {
  auto driver = MakeSimulatedWaveDriver(
      {.initial_volume = 0x00003333, .fail_query_open = platform::MMSYSERR_ALLOCATED});
  TSoundOut out(driver);
  EXPECT_EQ(out.GetWaveVolume(), 20);  // (13107 * 100 + 32767) div 65535
}

TEST(TSoundOutVolumeTest, UnsupportedVolumeIsIgnoredOtherFailuresRaise) {
  {
    auto driver = MakeSimulatedWaveDriver({.fail_set_volume = platform::MMSYSERR_NOTSUPPORTED});
    TSoundOut out(driver);
    out.Open();
    out.SetVolume(30);
    EXPECT_TRUE(out.Opened());
    out.Close();
  }
  {
    auto driver = MakeSimulatedWaveDriver({.fail_set_volume = platform::MMSYSERR_ERROR});
    TSoundOut out(driver);
    EXPECT_EQ(WaveErrorOf([&] { out.Open(); }),
              StandardText(platform::MMSYSERR_ERROR) + "(TSoundOut.SetVolumeToWaveDevice)");
    EXPECT_FALSE(out.Opened());
    EXPECT_EQ(driver->Stats().open_devices, 0);
  }
}

TEST(TSoundOutErrorTest, WithoutAnyDeviceVolumeIs100AndOpenRaises) {
  auto driver = MakeSimulatedWaveDriver({.num_devices = 0});
  TSoundOut out(driver);
  EXPECT_EQ(out.GetWaveVolume(), 100);
  EXPECT_EQ(out.Volume(), 100);
  EXPECT_EQ(WaveErrorOf([&] { out.Open(); }),
            StandardText(platform::MMSYSERR_BADDEVICEID) + "(TSoundOut.Open:WaveOutOpen)");
  EXPECT_FALSE(out.Opened());
  EXPECT_EQ(out.FreePercent(), 0);
  out.Close();
}

TEST(TSoundOutErrorTest, SdlWithoutAudioRaisesWithSdlsText) {
  ::setenv("SDL_AUDIODRIVER", "plumo-no-such-audio-driver", 1);
  TSoundOut out(platform::MakeSdlWaveDriver());
  ::unsetenv("SDL_AUDIODRIVER");
  EXPECT_EQ(out.GetWaveVolume(), 100);
  const std::string message = WaveErrorOf([&] { out.Open(); });
  EXPECT_NE(message.find("plumo-no-such-audio-driver"), std::string::npos) << message;
  EXPECT_TRUE(message.ends_with("(TSoundOut.Open:WaveOutOpen)")) << message;
}

TEST(TSoundOutErrorTest, MessageIsTheDeviceTextOrTheUnknownText) {
  SimulatedWaveOptions options;
  options.fail_open = 99;
  {
    TSoundOut out(MakeSimulatedWaveDriver(options));
    EXPECT_EQ(WaveErrorOf([&] { out.Open(); }),
              "unknown wave out API error.(TSoundOut.Open:WaveOutOpen)");
  }
  options.error_texts[99] = "The sound card went away.";
  {
    TSoundOut out(MakeSimulatedWaveDriver(options));
    EXPECT_EQ(WaveErrorOf([&] { out.Open(); }), "The sound card went away.(TSoundOut.Open:WaveOutOpen)");
  }
  options.error_texts[99] = std::string(300, 'x');
  {
    TSoundOut out(MakeSimulatedWaveDriver(options));
    EXPECT_EQ(WaveErrorOf([&] { out.Open(); }), std::string(127, 'x') + "(TSoundOut.Open:WaveOutOpen)");
  }
}

TEST(TSoundOutErrorTest, PauseAndUnpauseFailuresNameTheirLocation) {
  SimulatedWaveOptions options;
  options.fail_pause = platform::MMSYSERR_ERROR;
  options.fail_restart = platform::MMSYSERR_NOMEM;
  TSoundOut out(MakeSimulatedWaveDriver(options));
  out.Pause();  // closed: nothing to do
  out.Open();
  EXPECT_EQ(WaveErrorOf([&] { out.Pause(); }),
            StandardText(platform::MMSYSERR_ERROR) + "(TSoundOut.Pause)");
  EXPECT_EQ(WaveErrorOf([&] { out.Unpause(); }),
            StandardText(platform::MMSYSERR_NOMEM) + "(TSoundOut.Unpause)");
  out.Close();
}

TEST(TSoundOutErrorTest, RefusedBufferRaisesAndDoesNotBlockClosing) {
  auto driver = MakeSimulatedWaveDriver(
      {.real_time = false, .fail_write_at = 2, .fail_write_result = platform::MMSYSERR_NOMEM});
  TSoundOut out(driver);
  SetFormat(out, 8000, 1, 8);
  out.Open();
  const auto data = Pattern(3 * 4000);
  EXPECT_EQ(WaveErrorOf([&] { out.Write(data.data(), 3 * 4000); }),
            StandardText(platform::MMSYSERR_NOMEM) + "(TSoundOut.WaveWrite)");
  out.Close();  // waits only for the buffer the device took
  EXPECT_EQ(driver->Stats().bytes_played, 4000u);
}

TEST(TSoundOutCloseTest, CloseRightAfterResetReturnsWithEveryBufferBack) {
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  TSoundOut out(driver);
  out.Open();
  const auto data = Pattern(4 * 88200);
  ASSERT_EQ(out.Write(data.data(), 4 * 88200), 4 * 88200);  // two seconds queued
  out.Reset();
  out.Close();
  EXPECT_FALSE(out.Opened());
  EXPECT_EQ(out.QueuedCount(), 0);
  EXPECT_EQ(driver->Stats().open_devices, 0);
  EXPECT_LT(driver->Stats().buffers_played, 4u);
}

TEST(TSoundOutCloseTest, ClosingAPausedOutputDoesNotWaitForever) {
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  {
    TSoundOut out(driver);
    out.Open();
    out.Pause();
    const auto data = Pattern(3 * 88200 + 5);
    out.Write(data.data(), static_cast<int32_t>(data.size()));
    out.Close();
    EXPECT_EQ(driver->Stats().bytes_played, 0u);
    out.Open();
    out.Pause();
    out.Write(data.data(), static_cast<int32_t>(data.size()));
  }  // the destructor closes too
  EXPECT_EQ(driver->Stats().open_devices, 0);
}

TEST(TSoundOutPlaybackTest, PauseStopsTheDeviceAndDoneBytesFollowIt) {
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  TSoundOut out(driver);
  SetFormat(out, 8000, 1, 8);
  out.Open();
  out.Pause();
  const auto data = Pattern(800);  // 100 ms of sound
  ASSERT_EQ(out.Write(data.data(), 800), 800);
  out.Flush();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(out.GetDoneBytes(), 0);
  EXPECT_EQ(driver->Stats().bytes_played, 0u);
  out.Unpause();
  out.WaitAllDone();
  EXPECT_EQ(out.GetDoneBytes(), 800);
  EXPECT_EQ(out.GetDoneBytes(), 0);  // growth since the previous call
  out.Close();
  EXPECT_EQ(out.GetDoneBytes(), 0);
}

TEST(TSoundOutPlaybackTest, WakeEventIsSignalledOnceWhenRoomAppears) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false});
  TSoundOut out(driver);
  SetFormat(out, 8000, 1, 8);
  out.Open();
  TMPSimpleEvent wake;
  out.SetWakeEvent(&wake);  // room now: signalled at once
  EXPECT_EQ(wake.WaitFor(0), wrSignaled);
  wake.ResetEvent();

  out.Pause();
  const auto data = Pattern(4 * 4000);
  ASSERT_EQ(out.Write(data.data(), 4 * 4000), 4 * 4000);
  out.SetWakeEvent(&wake);
  EXPECT_EQ(wake.WaitFor(0), wrTimeout);  // full
  out.Unpause();
  EXPECT_EQ(wake.WaitFor(kHangGuardMs), wrSignaled);
  wake.ResetEvent();
  out.WaitAllDone();
  EXPECT_EQ(wake.WaitFor(0), wrTimeout);  // forgotten after the first signal
  out.Close();
}

TEST(TSoundOutPlaybackTest, PositionNotificationsAreRateLimitedAndComeFromTheOutputThread) {
  // Declared before the output: its thread may still call back while it is destroyed.
  std::mutex mutex;
  std::vector<std::chrono::steady_clock::time_point> calls;
  bool all_on_output_thread = true;
  auto driver = MakeSimulatedWaveDriver({.real_time = true});
  TSoundOut out(driver);
  SetFormat(out, 8000, 1, 8);
  out.SetOnPosition([&](TSoundOut* sender) {
    std::lock_guard lock(mutex);
    calls.push_back(std::chrono::steady_clock::now());
    all_on_output_thread = all_on_output_thread && sender->OutputThread().IsCurrentThread();
  });
  out.SetNotifyInterval(300);
  out.Open();
  const auto data = Pattern(8000);  // one second of sound in two buffers
  ASSERT_EQ(out.Write(data.data(), 8000), 8000);
  out.WaitAllDone();
  out.Close();
  std::lock_guard lock(mutex);
  // Time-outs 300 ms after each wake while buffers play, buffers coming back every 500 ms: a
  // buffer returning 200 ms after a time-out notification must not notify again.
  ASSERT_GE(calls.size(), 1u);
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_GE(calls[i] - calls[i - 1], std::chrono::milliseconds(250)) << "notification " << i;
  }
  EXPECT_TRUE(all_on_output_thread);
}

TEST(TSoundOutPlaybackTest, NoPositionNotificationsWithoutAnInterval) {
  auto driver = MakeSimulatedWaveDriver({.real_time = false});
  TSoundOut out(driver);
  SetFormat(out, 8000, 1, 8);
  std::atomic<int> calls{0};
  out.SetOnPosition([&](TSoundOut*) { ++calls; });
  out.Open();
  const auto data = Pattern(3 * 4000);
  out.Write(data.data(), 3 * 4000);
  out.Close();
  EXPECT_EQ(calls.load(), 0);
}

TEST(TSoundOutPlaybackTest, DeviceFailureDuringPlaybackReachesOnExceptionOnTheOutputThread) {
  SimulatedWaveOptions options;
  options.real_time = false;
  options.fail_after_bytes = 10;
  options.fail_playback_result = platform::MMSYSERR_ERROR;
  options.error_texts[platform::MMSYSERR_ERROR] = "The sound device was removed.";
  TSoundOut out(MakeSimulatedWaveDriver(options));
  SetFormat(out, 8000, 1, 8);
  TMPSimpleEvent raised;
  std::string message;
  bool on_output_thread = false;
  TSoundOut* sender_seen = nullptr;
  out.SetOnException([&](TSoundOut* sender, std::exception_ptr e, bool& handled) {
    sender_seen = sender;
    on_output_thread = sender->OutputThread().IsCurrentThread();
    try {
      std::rethrow_exception(e);
    } catch (const EWaveOutError& x) {
      message = x.what();
    }
    handled = true;
    raised.SetEvent();
  });
  out.Open();
  const auto data = Pattern(2 * 4000);
  out.Write(data.data(), 2 * 4000);
  ASSERT_EQ(raised.WaitFor(kHangGuardMs), wrSignaled);
  EXPECT_EQ(message, "The sound device was removed.(TSoundOut.WaveOutDone)");
  EXPECT_EQ(sender_seen, &out);
  EXPECT_TRUE(on_output_thread);
  out.Close();  // the buffers still come back
}

// A device whose position the test sets, to follow counts past 32 bits.
class ScriptedDevice final : public platform::WaveDevice {
 public:
  explicit ScriptedDevice(std::shared_ptr<std::atomic<uint64_t>> position) : FPosition(std::move(position)) {}
  int Prepare(platform::WaveHeader&) override { return 0; }
  int Unprepare(platform::WaveHeader&) override { return 0; }
  int Write(platform::WaveHeader&) override { return platform::MMSYSERR_NOTSUPPORTED; }
  int Pause() override { return 0; }
  int Restart() override { return 0; }
  int Reset() override {
    FPosition->store(0);
    return 0;
  }
  int GetPosition(uint64_t& bytes) override {
    bytes = FPosition->load();
    return 0;
  }
  int GetVolume(uint32_t& volume) override {
    volume = 0xFFFFFFFF;
    return 0;
  }
  int SetVolume(uint32_t) override { return 0; }
  int Close() override { return 0; }

 private:
  std::shared_ptr<std::atomic<uint64_t>> FPosition;
};

class ScriptedDriver final : public platform::WaveDriver {
 public:
  std::shared_ptr<std::atomic<uint64_t>> position = std::make_shared<std::atomic<uint64_t>>(0);
  int NumDevices() override { return 1; }
  int Open(int, const platform::WaveFormat&, platform::WaveDoneCallback,
           std::unique_ptr<platform::WaveDevice>& device) override {
    device = std::make_unique<ScriptedDevice>(position);
    return 0;
  }
  int GetDeviceVolume(int, uint32_t& volume) override {
    volume = 0xFFFFFFFF;
    return 0;
  }
  bool ErrorText(int, std::string&) override { return false; }
};

TEST(TSoundOutPlaybackTest, DoneBytesKeepCountingPastTwoToThe31) {
  auto driver = std::make_shared<ScriptedDriver>();
  TSoundOut out(driver);
  out.Open();
  driver->position->store(3'000'000'000ULL);
  EXPECT_EQ(out.GetDoneBytes(), 3'000'000'000LL);
  driver->position->store(7'500'000'000ULL);  // past 2^32 too
  EXPECT_EQ(out.GetDoneBytes(), 4'500'000'000LL);
  out.Reset();  // the device starts again at 0
  driver->position->store(1000);
  EXPECT_EQ(out.GetDoneBytes(), 1000);
  out.Close();
}

TEST(TSoundOutSdlTest, PlaysThroughSdlsDummyDevice) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  auto driver = platform::MakeSdlWaveDriver();
  ::unsetenv("SDL_AUDIODRIVER");
  ASSERT_TRUE(driver->Available());
  TSoundOut out(driver);
  SetFormat(out, 8000, 1, 8);
  out.SetVolume(50);
  out.Open();
  const auto data = Pattern(800);
  ASSERT_EQ(out.Write(data.data(), 800), 800);
  out.Flush();
  out.WaitAllDone();
  EXPECT_EQ(out.GetDoneBytes(), 800);
  out.Close();
  uint32_t volume = 0;
  EXPECT_EQ(driver->GetDeviceVolume(-1, volume), 0);
  EXPECT_EQ(volume, 0x80008000u);
}

}  // namespace
}  // namespace plumo
