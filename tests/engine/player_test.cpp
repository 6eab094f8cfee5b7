// TMP3Player driven through its real threads and a simulated device: the end-of-play reasons,
// the order of events, position, pause, stop and play again, device failures, the property rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <pthread.h>
#include <time.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "file_stream.h"
#include "memory_stream.h"
#include "non_seekable_stream.h"
#include "child_process.h"
#include "cpu.h"
#include "player.h"
#include "simulated_wave_device.h"
#include "test_files.h"

namespace plumo {
namespace {

using platform::MakeSimulatedWaveDriver;
using platform::SimulatedWaveDriver;
using platform::SimulatedWaveOptions;

std::string SamplePath(const std::string& name) { return test::DataPath("samples/" + name); }

// The simulated devices, whose Reset takes a moment after handing the buffers back (as a real
// device's does while it waits for its playing thread).
class SlowResetDriver final : public platform::WaveDriver {
 public:
  explicit SlowResetDriver(std::shared_ptr<SimulatedWaveDriver> inner) : FInner(std::move(inner)) {}
  int NumDevices() override { return FInner->NumDevices(); }
  int Open(int id, const platform::WaveFormat& format, platform::WaveDoneCallback done,
           std::unique_ptr<platform::WaveDevice>& device) override {
    const int result = FInner->Open(id, format, std::move(done), device);
    if (device) device = std::make_unique<Device>(std::move(device));
    return result;
  }
  int GetDeviceVolume(int id, uint32_t& volume) override { return FInner->GetDeviceVolume(id, volume); }
  bool ErrorText(int result, std::string& text) override { return FInner->ErrorText(result, text); }

 private:
  class Device final : public platform::WaveDevice {
   public:
    explicit Device(std::unique_ptr<platform::WaveDevice> inner) : FDevice(std::move(inner)) {}
    int Prepare(platform::WaveHeader& h) override { return FDevice->Prepare(h); }
    int Unprepare(platform::WaveHeader& h) override { return FDevice->Unprepare(h); }
    int Write(platform::WaveHeader& h) override { return FDevice->Write(h); }
    int Pause() override { return FDevice->Pause(); }
    int Restart() override { return FDevice->Restart(); }
    int Reset() override {
      const int result = FDevice->Reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return result;
    }
    int GetPosition(uint64_t& bytes) override { return FDevice->GetPosition(bytes); }
    int GetVolume(uint32_t& volume) override { return FDevice->GetVolume(volume); }
    int SetVolume(uint32_t volume) override { return FDevice->SetVolume(volume); }
    int Close() override { return FDevice->Close(); }

   private:
    std::unique_ptr<platform::WaveDevice> FDevice;
  };
  std::shared_ptr<SimulatedWaveDriver> FInner;
};

// A player on a decoder of its own, recording its events in order.
struct Rig {
  explicit Rig(SimulatedWaveOptions options = Fast(), bool slow_reset = false)
      : driver(MakeSimulatedWaveDriver(options)),
        player(slow_reset ? std::make_shared<SlowResetDriver>(driver) : std::shared_ptr<platform::WaveDriver>(driver),
               decoder) {
    player.OnChangeStatus = [this](TMP3Player*) { events.push_back("status"); };
    player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason r) {
      events.push_back("end");
      reasons.push_back(r);
    };
    player.ShowException = [this](const std::exception_ptr& e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        shown.push_back(x.what());
      }
    };
  }
  static SimulatedWaveOptions Fast() {
    SimulatedWaveOptions o;
    o.real_time = false;
    return o;
  }
  // Pumps the player's window until the condition holds; false after the time-out (a hang guard,
  // never a measure of speed).
  bool PumpUntil(const std::function<bool()>& done, int seconds = 30) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      player.Window().WaitForMessage(20);
      player.Window().ProcessMessages();
    }
    return true;
  }
  void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      player.Window().WaitForMessage(10);
      player.Window().ProcessMessages();
    }
  }
  bool PlayedToTheEnd() {
    return PumpUntil([&] { return !reasons.empty(); });
  }

  Decoder decoder;
  std::shared_ptr<SimulatedWaveDriver> driver;
  TMP3Player player;
  std::vector<std::string> events;
  std::vector<TMP3EndPlayReason> reasons;
  std::vector<std::string> shown;
};

// PCM bytes the whole stream plays (without the encoder's delay and padding).
int64_t DecodedBytes(const std::string& path) {
  Decoder decoder;
  TFileStream stream(path);
  TMP3Source source(decoder);
  source.Open(&stream, true);
  std::vector<uint8_t> pcm(static_cast<size_t>(source.BytesPerFrame()));
  int64_t bytes = 0;
  while (!source.AtEndOfData())
    if (source.ProduceFrame(pcm.data())) bytes += source.ProducedBytes();
  return bytes;
}

TEST(Player, WithoutAStreamOnlyOpenIsEnabledAndCommandsDoNothing) {
  Rig r;
  EXPECT_EQ(r.player.EnabledCommands().Bits(), 1);
  r.player.Play();
  r.player.Pause();
  r.player.Resume();
  r.player.Stop();
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_EQ(r.player.Position(), 0);
  r.Pump(50);
  EXPECT_TRUE(r.reasons.empty());
  EXPECT_EQ(r.driver->Stats().opens, 0);
}

TEST(Player, PlaysAFileToItsEndAndReportsSuccessAfterTheStatusChange) {
  Rig r;
  const std::string path = SamplePath("l3_m1_44k_128_joint_info.mp3");
  r.player.SetFileName(path);
  EXPECT_EQ(r.player.Status(), mpsPlaying);
  EXPECT_EQ(r.player.EnabledCommands().Bits(), 0x01 | 0x02 | 0x08 | 0x10 | 0x40);
  ASSERT_TRUE(r.PlayedToTheEnd());
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
  // The last status change comes before the end of play.
  ASSERT_GE(r.events.size(), 2u);
  EXPECT_EQ(r.events.back(), "end");
  EXPECT_EQ(r.events[r.events.size() - 2], "status");
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_TRUE(r.player.Opened());
  EXPECT_EQ(r.player.FileName(), path);
  // Every decoded byte reached the device, once.
  EXPECT_EQ(static_cast<int64_t>(r.driver->Stats().bytes_played), DecodedBytes(path));
  EXPECT_EQ(r.player.Position(), 0);
}

TEST(Player, PositionAtTheEndIsTheDurationAndPauseHoldsIt) {
  SimulatedWaveOptions o;
  o.real_time = true;
  Rig r(o);
  const std::string path = SamplePath("l2_m1_44k_112_joint.mp2");
  const int64_t duration_ms = DecodedBytes(path) * 1000 / (44100 * 4);
  r.player.SetChangePosStep(100);
  int32_t last = 0;
  int position_events = 0;
  r.player.OnChangePosition = [&](TMP3Player* p) {
    ++position_events;
    if (p->Status() != mpsStopped) last = p->Position();
  };
  r.player.SetFileName(path);
  r.Pump(400);
  r.player.Pause();
  EXPECT_EQ(r.player.Status(), mpsPaused);
  EXPECT_EQ(r.player.EnabledCommands().Bits(), 0x01 | 0x02 | 0x08 | 0x20 | 0x40);
  const int32_t paused_at = r.player.Position();
  r.Pump(300);
  EXPECT_EQ(r.player.Position(), paused_at);
  r.player.Resume();
  ASSERT_TRUE(r.PumpUntil([&] {
    if (r.player.Status() != mpsStopped) last = std::max(last, r.player.Position());
    return !r.reasons.empty();
  }));
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
  // Within one buffer (500 ms) of the duration.
  EXPECT_NEAR(last, duration_ms, 500);
  EXPECT_GT(position_events, 2);
}

TEST(Player, PausedDecodingIdlesWithoutSpinning) {
  SimulatedWaveOptions o;
  o.real_time = true;
  Rig r(o);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  r.player.Pause();
  clockid_t clock;
  ASSERT_EQ(pthread_getcpuclockid(r.player.DecodeThread().NativeHandle(), &clock), 0);
  auto cpu_seconds = [&] {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
  };
  // The decode thread first fills the four buffers (slowly under a sanitizer); wait until it
  // has done so, then it must sleep.
  for (int i = 0; i < 100; ++i) {
    const double before = cpu_seconds();
    r.Pump(100);
    if (cpu_seconds() - before < 0.001) break;
  }
  const double cpu0 = cpu_seconds();
  const auto wall0 = std::chrono::steady_clock::now();
  r.Pump(1000);
  const double cpu = cpu_seconds() - cpu0;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  EXPECT_LT(cpu, 0.02 * wall);
  r.player.Stop();
  r.Pump(20);
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merStoped});
}

TEST(Player, PausedAfterTheLastFrameWasQueuedStopsAndResumes) {
  SimulatedWaveOptions o;
  o.real_time = true;
  Rig r(o);
  // 1.5 s of sound: the whole stream fits into the four buffers (three full, one partly).
  const std::string path = SamplePath("l3_m1_44k_128_joint_noinfo.mp3");
  r.player.SetAutoPlay(false);
  r.player.SetFileName(path);
  for (int round = 0; round < 2; ++round) {
    const uint64_t written = r.driver->Stats().buffers_written;
    r.player.Play();
    r.player.Pause();
    // The decode thread queues everything and then waits for the paused device to play it.
    ASSERT_TRUE(r.PumpUntil([&] { return r.driver->Stats().buffers_written == written + 4; }));
    r.Pump(50);
    EXPECT_EQ(r.player.Status(), mpsPaused);
    if (round == 0) {
      r.player.Stop();
      EXPECT_EQ(r.player.Status(), mpsStopped);
      ASSERT_TRUE(r.PumpUntil([&] { return r.reasons.size() == 1; }));
      EXPECT_EQ(r.reasons[0], merStoped);
    } else {
      r.player.Resume();
      ASSERT_TRUE(r.PumpUntil([&] { return r.reasons.size() == 2; }));
      EXPECT_EQ(r.reasons[1], merSuccessful);
    }
  }
}

TEST(Player, StopRewindsAndPlayStartsAtTheFirstFrameAgain) {
  Rig r;
  const std::string path = SamplePath("l3_m1_44k_128_joint_noinfo.mp3");
  r.player.SetFileName(path);
  r.player.Stop();
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_EQ(r.player.Position(), 0);
  r.Pump(20);
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merStoped});
  const uint64_t before = r.driver->Stats().bytes_played;
  r.player.Play();
  ASSERT_TRUE(r.PumpUntil([&] { return r.reasons.size() == 2; }));
  EXPECT_EQ(r.reasons[1], merSuccessful);
  EXPECT_EQ(static_cast<int64_t>(r.driver->Stats().bytes_played - before), DecodedBytes(path));
}

TEST(Player, SeekMovesPlaybackAndPositionAndPausedStaysPaused) {
  SimulatedWaveOptions o;
  o.real_time = true;
  Rig r(o);
  // 88200 samples (2 s) once the encoder's delay and padding are cut.
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  EXPECT_TRUE(r.player.CanSeek());
  EXPECT_EQ(r.player.LengthSamples(), 88200);
  r.player.Pause();
  EXPECT_TRUE(r.player.EnabledCommands().Contains(mcmSeek));
  r.player.Seek(66150);
  EXPECT_EQ(r.player.Status(), mpsPaused);
  EXPECT_EQ(r.player.Position(), 1500);
  r.Pump(200);
  EXPECT_EQ(r.player.Position(), 1500);
  const uint64_t before = r.driver->Stats().bytes_played;
  r.player.Resume();
  int32_t last = 0;
  ASSERT_TRUE(r.PumpUntil([&] {
    if (r.player.Status() != mpsStopped) last = std::max(last, r.player.Position());
    return !r.reasons.empty();
  }));
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
  // Exactly the samples from the target to the end, and a position that went on from there.
  EXPECT_EQ(r.driver->Stats().bytes_played - before, (88200u - 66150u) * 4);
  EXPECT_GT(last, 1500);
}

// Counts the bytes read through it.
struct TByteCount final : TStream {
  explicit TByteCount(TStream& inner) : inner(inner) {}
  int32_t Read(void* buffer, int32_t n) override { const int32_t got = inner.Read(buffer, n); bytes += got; return got; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return inner.Seek(offset, origin); }
  TStream& inner;
  std::atomic<int64_t> bytes{0};
};

// A long file without a VBR header opens on its first bytes with an estimated length; its frames
// are indexed behind the playback, and then the exact length replaces the estimate.
TEST(Player, OpensOnTheFirstBytesAndLearnsTheExactLengthBehindThePlayback) {
  Rig r;
  r.player.SetAutoPlay(false);
  const std::string path = SamplePath("l3_m1_44k_128_joint_noinfo.mp3");
  const std::vector<uint8_t> part = test::ReadFile(path);
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 100; ++i) bytes.insert(bytes.end(), part.begin(), part.end());
  TMemoryStream memory(bytes);
  TByteCount counted(memory);
  int changes = 0;
  r.player.OnLengthChange = [&](TMP3Player*) { ++changes; };
  r.player.OpenStream(&counted, TMP3Player::kSeekable);
  EXPECT_LT(counted.bytes.load(), static_cast<int64_t>(bytes.size() / 20));
  EXPECT_TRUE(r.player.LengthEstimated());
  r.player.Play();
  ASSERT_TRUE(r.PumpUntil([&] { return changes > 0; }));
  EXPECT_FALSE(r.player.LengthEstimated());
  EXPECT_EQ(r.player.LengthSamples(), 100 * DecodedBytes(path) / 4);
  // Closed before the streams it reads go.
  r.player.Close();
}

TEST(Player, AStreamThatCannotSeekIsClosedByStop) {
  Rig r;
  r.player.SetAutoPlay(false);
  TMemoryStream memory(test::ReadFile(SamplePath("l3_m1_44k_128_joint_noinfo.mp3")));
  r.player.OpenStream(std::make_unique<TNonSeekableStream>(memory), 0);
  EXPECT_EQ(r.player.EnabledCommands().Bits(), 0x01 | 0x02 | 0x04 | 0x80);
  r.player.Play();
  EXPECT_FALSE(r.player.EnabledCommands().Contains(mcmSeek));
  EXPECT_FALSE(r.player.CanSeek());
  EXPECT_EQ(r.player.LengthSamples(), -1);
  r.player.Stop();
  EXPECT_FALSE(r.player.Opened());
  EXPECT_EQ(r.player.FileName(), "");
}

TEST(Player, ADeviceFailureDuringPlaybackIsShownAndEndsWithFailure) {
  SimulatedWaveOptions o = Rig::Fast();
  o.fail_after_bytes = 100000;
  o.error_texts[platform::MMSYSERR_ERROR] = "the device went away";
  Rig r(o);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  ASSERT_TRUE(r.PlayedToTheEnd());
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merFailure});
  ASSERT_EQ(r.shown.size(), 1u);
  EXPECT_NE(r.shown[0].find("the device went away("), std::string::npos) << r.shown[0];
  EXPECT_EQ(r.player.Status(), mpsStopped);
  // The threads survive: the next Play works (the simulated fault repeats on every device,
  // so it fails the same way rather than hanging).
  r.player.Play();
  ASSERT_TRUE(r.PumpUntil([&] { return r.reasons.size() == 2; }));
  EXPECT_EQ(r.reasons[1], merFailure);
}

TEST(Player, AFailureToOpenTheDeviceLeavesThePlayerStopped) {
  SimulatedWaveOptions o = Rig::Fast();
  o.num_devices = 0;
  Rig r(o);
  r.player.SetAutoPlay(false);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  try {
    r.player.Play();
    ADD_FAILURE() << "played";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("(TSoundOut.Open:WaveOutOpen)"), std::string::npos) << e.what();
  }
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_TRUE(r.player.Opened());
}

TEST(Player, OpeningDataThatIsNotMpegAudioFailsAndCloses) {
  Rig r;
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  EXPECT_THROW(r.player.SetFileName(SamplePath("dmg_not_mpeg_png.mp3")), EUnknownFormat);
  EXPECT_FALSE(r.player.Opened());
  EXPECT_EQ(r.player.EnabledCommands().Bits(), 1);
  // The playing stream was stopped first.
  r.Pump(20);
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merStoped});
  EXPECT_THROW(r.player.SetFileName("/nonexistent/file.mp3"), EFOpenError);
}

TEST(Player, AFailedFirstOpenLeavesNoFileNameBehind) {
  Rig r;
  EXPECT_THROW(r.player.SetFileName(SamplePath("dmg_not_mpeg_png.mp3")), EUnknownFormat);
  EXPECT_FALSE(r.player.Opened());
  EXPECT_EQ(r.player.FileName(), "");
  EXPECT_EQ(r.player.Title(), "");
  // A file that cannot be opened at all keeps the name it was given.
  EXPECT_THROW(r.player.SetFileName("/nonexistent/file.mp3"), EFOpenError);
  EXPECT_EQ(r.player.FileName(), "/nonexistent/file.mp3");
}

TEST(Player, CommandsInTheStateTheyWouldReachDoNothing) {
  Rig r;
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  ASSERT_EQ(r.player.Status(), mpsPlaying);
  r.player.Play();
  r.player.Resume();
  EXPECT_EQ(r.player.Status(), mpsPlaying);
  r.player.Pause();
  r.player.Pause();
  r.player.Play();
  EXPECT_EQ(r.player.Status(), mpsPaused);
  const platform::SimulatedWaveStats stats = r.driver->Stats();
  EXPECT_EQ(stats.opens, 1);
  EXPECT_EQ(stats.pauses, 1);
  EXPECT_EQ(stats.restarts, 0);
  r.player.Stop();
  r.Pump(20);
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merStoped});
}

TEST(Player, AutoPlayStartsOnlyWhenSetToTrue) {
  Rig r;
  r.player.SetAutoPlay(false);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_noinfo.mp3"));
  r.player.SetAutoPlay(false);
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_EQ(r.driver->Stats().opens, 0);
  r.player.SetAutoPlay(true);
  EXPECT_EQ(r.player.Status(), mpsPlaying);
  ASSERT_TRUE(r.PlayedToTheEnd());
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
}

TEST(Player, VolumeZeroMutesOrAdoptsTheDeviceVolume) {
  SimulatedWaveOptions o = Rig::Fast();
  o.initial_volume = 0x80008000;  // half on both channels
  Rig r(o);
  r.player.SetRefreshVolumeFlag(true);
  r.player.SetVolume(0);
  EXPECT_EQ(r.player.Volume(), 50);
  r.player.SetRefreshVolumeFlag(false);
  r.player.SetVolume(0);
  EXPECT_EQ(r.player.Volume(), 0);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_noinfo.mp3"));
  ASSERT_EQ(r.player.Status(), mpsPlaying);
  EXPECT_EQ(r.driver->Volume(platform::kWaveMapper), 0u);
  // Applied to the open device at once.
  r.player.SetVolume(100);
  EXPECT_EQ(r.driver->Volume(platform::kWaveMapper), 0xFFFFFFFFu);
  r.player.Stop();
}

TEST(Player, EndSessionAndANullStreamClose) {
  Rig r;
  r.player.SetAutoPlay(false);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_noinfo.mp3"));
  r.player.EndSession();
  EXPECT_FALSE(r.player.Opened());
  EXPECT_EQ(r.player.FileName(), "");
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_noinfo.mp3"));
  r.player.SetAutoPlay(true);
  ASSERT_EQ(r.player.Status(), mpsPlaying);
  // Closes the playing stream; the Play that AutoPlay asks for then has nothing to play.
  r.player.OpenStream(static_cast<TStream*>(nullptr), 0);
  EXPECT_FALSE(r.player.Opened());
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_EQ(r.player.EnabledCommands().Bits(), 1);
  EXPECT_EQ(r.driver->Stats().opens, 1);
  r.Pump(20);
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merStoped});
}

TEST(Player, AStreamThatCannotSeekPlaysToItsEndAndCloses) {
  Rig r;
  const std::string path = SamplePath("l3_m1_44k_128_joint_noinfo.mp3");
  TMemoryStream memory(test::ReadFile(path));
  r.player.OpenStream(std::make_unique<TNonSeekableStream>(memory, 1000), 0);
  ASSERT_EQ(r.player.Status(), mpsPlaying);
  ASSERT_TRUE(r.PlayedToTheEnd());
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
  EXPECT_FALSE(r.player.Opened());
  EXPECT_EQ(static_cast<int64_t>(r.driver->Stats().bytes_played), DecodedBytes(path));
}

TEST(Player, DamagedDataEndsWithSuccessAfterTheCompleteFrames) {
  // Cut off in the middle of a frame; 5000 junk bytes in a row between two frames.
  for (const char* name : {"dmg_truncated_midframe.mp3", "dmg_junk5000_between_frames.mp3"}) {
    SCOPED_TRACE(name);
    Rig r;
    const std::string path = SamplePath(name);
    r.player.SetFileName(path);
    ASSERT_TRUE(r.PlayedToTheEnd());
    EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
    EXPECT_EQ(static_cast<int64_t>(r.driver->Stats().bytes_played), DecodedBytes(path));
  }
}

TEST(Player, TextsComeFromTheTagsOrTheFileName) {
  Rig r;
  r.player.SetAutoPlay(false);
  r.player.SetFileName(SamplePath("tag_id3v1_sjis.mp3"));
  EXPECT_EQ(r.player.Title(), "テスト");
  EXPECT_EQ(r.player.Artist(), "試験");
  EXPECT_EQ(r.player.Album(), "日本語アルバム");
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
  EXPECT_EQ(r.player.Title(), "l3_m1_44k_128_joint_info.mp3");
  EXPECT_EQ(r.player.Artist(), "");
  r.player.SetFileName("");
  EXPECT_FALSE(r.player.Opened());
}

TEST(Player, PropertiesIgnoreValuesOutOfRange) {
  Rig r;
  r.player.SetChangePosStep(99);
  EXPECT_EQ(r.player.ChangePosStep(), 400);
  r.player.SetChangePosStep(100);
  EXPECT_EQ(r.player.ChangePosStep(), 100);
  r.player.SetVolBalance(-101);
  EXPECT_EQ(r.player.VolBalance(), 0);
  r.player.SetVolBalance(-100);
  EXPECT_EQ(r.player.VolBalance(), -100);
  r.player.SetVolume(101);
  r.player.SetVolume(-1);
  EXPECT_EQ(r.player.Volume(), 100);
  r.player.SetVolume(0);
  EXPECT_EQ(r.player.Volume(), 0);
  r.player.SetRefreshVolumeFlag(true);
  r.player.SetVolume(0);  // takes the device's volume (full) instead of muting
  EXPECT_EQ(r.player.Volume(), 100);
  r.player.SetEqualizerCount(0);
  r.player.SetEqualizerCount(-3);
  EXPECT_EQ(r.player.EqualizerCount(), 6);
}

TEST(Player, EqualizerLevelsAreClampedToTheirRange) {
  Rig r;
  r.player.SetEqualizerLevel(3, 5000);
  EXPECT_EQ(r.player.EqualizerLevel(3), 100);
  r.player.SetEqualizerLevel(3, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(r.player.EqualizerLevel(3), -100);
  r.player.SetEqualizerLevel(3, 42);
  EXPECT_EQ(r.player.EqualizerLevel(3), 42);
}

TEST(Player, CapabilitiesAreLimitedToTheProcessorsAndChooseTheKernels) {
  Rig r;
  EXPECT_EQ(r.player.UsingCpuCapabilities(), CapabilitiesFromCpuFlags(DetectCpu()));
  r.player.SetUsingCpuCapabilities(kAllCpuCapabilities);
  EXPECT_EQ(r.player.UsingCpuCapabilities(), CapabilitiesFromCpuFlags(DetectCpu()));
  // Without any capability the kernels are those of the vendor and family alone.
  r.player.SetUsingCpuCapabilities(0);
  r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_noinfo.mp3"));
  EXPECT_EQ(r.decoder.SelectedKernels(), ChooseKernels(DetectCpu() & ~cpu_flags::kCapabilityBits));
  ASSERT_TRUE(r.PlayedToTheEnd());
}

TEST(Player, FrequencyBandsSpreadFrom60To16000Hz) {
  Rig r;
  r.player.SetEqualizerRange(60, 16000);  // ignored in sub-band mode
  EXPECT_EQ(r.player.EqualizerFrequency(0), 0);
  r.player.SetEqualizerMode(memFreq);
  for (auto [low, high] : {std::pair{0, 100}, {200, 100}, {60, 30000}}) r.player.SetEqualizerRange(low, high);
  EXPECT_EQ(r.player.EqualizerFrequency(0), 0);
  r.player.SetEqualizerRange(60, 16000);
  const std::vector<int32_t> expected{60, 183, 560, 1712, 5234, 16000};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r.player.EqualizerFrequency(i), expected[static_cast<size_t>(i)]) << i;
}

TEST(Player, ChangingTrackWhilePlayingNeverFailsOrEndsTheNextTrackEarly) {
  // The panel's order for a track change: stop, open the next file, play; at the real-time
  // pace, after a few ms of each track, long before any could end by itself. Tracks of
  // different formats (so different frame sizes), longer than the output's buffers (the decode
  // thread waits for room when the change comes) and shorter (it waits for the last sound).
  // The devices' reset takes a moment, so the output thread sees the buffers it hands back
  // while the player is still stopping.
  SimulatedWaveOptions o;
  o.real_time = true;
  Rig r(o, true);
  test::TempDir dir;
  std::vector<std::string> files;
  for (const char* name : {"l3_m1_44k_128_joint_noinfo.mp3", "l2_m2_16k_32_mono.mp2"}) {
    files.push_back(SamplePath(name));
    const std::vector<uint8_t> sample = test::ReadFile(SamplePath(name));
    files.push_back(dir / (std::string("long_") + name));
    std::ofstream out(files.back(), std::ios::binary);
    for (int i = 0; i < 4; ++i) out.write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
  }
  r.player.SetAutoPlay(false);
  constexpr int kChanges = 300;
  for (int i = 0; i < kChanges && r.shown.empty(); ++i) {
    r.player.Stop();
    r.player.SetFileName(files[static_cast<size_t>(i) % files.size()]);
    r.player.Play();
    ASSERT_EQ(r.player.Status(), mpsPlaying);
    r.Pump(i % 5);
  }
  r.player.Stop();
  r.Pump(20);
  EXPECT_EQ(r.shown, std::vector<std::string>{});
  EXPECT_EQ(std::count(r.reasons.begin(), r.reasons.end(), merSuccessful), 0);
  EXPECT_EQ(std::count(r.reasons.begin(), r.reasons.end(), merFailure), 0);
  EXPECT_FALSE(r.reasons.empty());
}

TEST(Player, DestroyingAPlayingPlayerStopsCleanly) {
  for (bool real_time : {false, true}) {
    SimulatedWaveOptions o;
    o.real_time = real_time;
    Rig r(o);
    r.player.SetFileName(SamplePath("l3_m1_44k_128_joint_info.mp3"));
    r.Pump(30);
  }
}

}  // namespace
}  // namespace plumo
