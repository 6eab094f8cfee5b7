// Failures injected below the player: a stream that fails or reads short, a device that fails on
// open, on write, on pause or in the middle of playback. Each ends as it should, the player keeps
// working and the next file plays.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "memory_stream.h"
#include "player.h"
#include "simulated_wave_device.h"
#include "test_files.h"

namespace plumo {
namespace {

using platform::SimulatedWaveOptions;

// A file in memory that fails every read once `fail_after` bytes were read, and can cut every
// read short.
class FaultyStream final : public TStream {
 public:
  FaultyStream(std::vector<uint8_t> bytes, int64_t fail_after, int32_t max_read)
      : FInner(std::move(bytes)), FFailAfter(fail_after), FMaxRead(max_read) {}
  int32_t Read(void* buffer, int32_t count) override {
    if (FRead >= FFailAfter) throw EStreamError("read error injected at byte " + std::to_string(FRead));
    count = std::min<int32_t>(count, FMaxRead);
    count = static_cast<int32_t>(std::min<int64_t>(count, FFailAfter - FRead));
    const int32_t n = FInner.Read(buffer, count);
    FRead += n;
    return n;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return FInner.Seek(offset, origin); }
  int64_t Size() override { return FInner.Size(); }
  // Fails once n more bytes were read.
  void FailAfterMore(int64_t n) { FFailAfter = FRead + n; }

 private:
  TMemoryStream FInner;
  int64_t FFailAfter;
  int32_t FMaxRead;
  int64_t FRead = 0;
};

struct Rig {
  explicit Rig(SimulatedWaveOptions options) : driver(platform::MakeSimulatedWaveDriver(options)), player(driver, decoder) {
    player.SetAutoPlay(false);
    player.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason r) { reasons.push_back(r); };
    player.ShowException = [this](const std::exception_ptr& e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        shown.push_back(x.what());
      }
    };
  }
  bool PumpUntilEnded(size_t count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (reasons.size() < count) {
      if (std::chrono::steady_clock::now() > end) return false;
      player.Window().WaitForMessage(20);
      player.Window().ProcessMessages();
    }
    return true;
  }
  // Plays a shipped sample to its end; true when it ended successfully.
  bool PlaysNormally() {
    player.SetFileName(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
    player.Play();
    const size_t before = reasons.size();
    return PumpUntilEnded(before + 1) && reasons.back() == merSuccessful;
  }

  Decoder decoder;
  std::shared_ptr<platform::SimulatedWaveDriver> driver;
  TMP3Player player;
  std::vector<TMP3EndPlayReason> reasons;
  std::vector<std::string> shown;
};

SimulatedWaveOptions Fast() {
  SimulatedWaveOptions o;
  o.real_time = false;
  return o;
}

std::vector<uint8_t> Sample() { return test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3")); }

TEST(FaultInjection, AStreamThatFailsWhilePlayingEndsWithFailure) {
  Rig r(Fast());
  auto stream = std::make_unique<FaultyStream>(Sample(), 1 << 30, 1 << 30);
  FaultyStream* faulty = stream.get();
  r.player.OpenStream(std::move(stream), TMP3Player::kSeekable);
  // The failure comes after opening, while playing.
  faulty->FailAfterMore(5000);
  r.player.Play();
  ASSERT_TRUE(r.PumpUntilEnded(1));
  EXPECT_EQ(r.reasons[0], merFailure);
  ASSERT_EQ(r.shown.size(), 1u);
  EXPECT_NE(r.shown[0].find("read error injected"), std::string::npos);
  EXPECT_TRUE(r.PlaysNormally());
}

TEST(FaultInjection, AStreamThatFailsWhileOpeningLeavesThePlayerClosed) {
  Rig r(Fast());
  EXPECT_THROW(r.player.OpenStream(std::make_unique<FaultyStream>(Sample(), 100, 1 << 30), TMP3Player::kSeekable),
               EStreamError);
  EXPECT_FALSE(r.player.Opened());
  EXPECT_TRUE(r.PlaysNormally());
}

TEST(FaultInjection, ShortReadsPlayTheSameAsWholeReads) {
  Rig r(Fast());
  r.player.OpenStream(std::make_unique<FaultyStream>(Sample(), 1 << 30, 7), TMP3Player::kSeekable);
  r.player.Play();
  ASSERT_TRUE(r.PumpUntilEnded(1));
  EXPECT_EQ(r.reasons[0], merSuccessful);
}

TEST(FaultInjection, ADeviceThatFailsToOpenRaisesOnPlay) {
  SimulatedWaveOptions o = Fast();
  o.fail_open = platform::MMSYSERR_ALLOCATED;
  o.error_texts[platform::MMSYSERR_ALLOCATED] = "device busy";
  Rig r(o);
  r.player.SetFileName(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  try {
    r.player.Play();
    ADD_FAILURE() << "played";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "device busy(TSoundOut.Open:WaveOutOpen)");
  }
  EXPECT_EQ(r.player.Status(), mpsStopped);
}

TEST(FaultInjection, ADeviceThatFailsOnWriteEndsWithFailureAndPlaysAgain) {
  SimulatedWaveOptions o = Fast();
  o.fail_write_at = 2;
  o.error_texts[platform::MMSYSERR_ERROR] = "write refused";
  Rig r(o);
  r.player.SetFileName(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  r.player.Play();
  ASSERT_TRUE(r.PumpUntilEnded(1));
  EXPECT_EQ(r.reasons[0], merFailure);
  ASSERT_FALSE(r.shown.empty());
  EXPECT_EQ(r.shown[0], "write refused(TSoundOut.WaveWrite)");
  // Only the second write of each device fails: the next play fails the same way, cleanly.
  r.player.Play();
  ASSERT_TRUE(r.PumpUntilEnded(2));
  EXPECT_EQ(r.reasons[1], merFailure);
}

TEST(FaultInjection, ADeviceThatFailsToPauseKeepsPlaying) {
  SimulatedWaveOptions o;
  o.real_time = true;
  o.fail_pause = platform::MMSYSERR_NOTSUPPORTED;
  Rig r(o);
  r.player.SetFileName(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  r.player.Play();
  try {
    r.player.Pause();
    ADD_FAILURE() << "paused";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("(TSoundOut.Pause)"), std::string::npos) << e.what();
  }
  EXPECT_EQ(r.player.Status(), mpsPlaying);
  r.player.Stop();
  ASSERT_TRUE(r.PumpUntilEnded(1));
  EXPECT_EQ(r.reasons[0], merStoped);
}

TEST(FaultInjection, ADeviceThatFailsToCloseOnStopEndsThePlaybackAndThenRaises) {
  SimulatedWaveOptions o = Fast();
  o.fail_close_at = 1;
  o.error_texts[platform::MMSYSERR_ERROR] = "close refused";
  Rig r(o);
  r.player.SetFileName(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"));
  r.player.Play();
  try {
    r.player.Stop();
    ADD_FAILURE() << "stopped without an error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "close refused(TSoundOut.Close:WaveOutClose)");
  }
  EXPECT_EQ(r.player.Status(), mpsStopped);
  EXPECT_EQ(r.player.Position(), 0);
  ASSERT_TRUE(r.PumpUntilEnded(1));
  EXPECT_EQ(r.reasons[0], merFailure);
  EXPECT_TRUE(r.shown.empty());
  // Rewound: the next Play plays the whole stream, as much as the Play after it.
  uint64_t before = r.driver->Stats().bytes_played;
  r.player.Play();
  ASSERT_TRUE(r.PumpUntilEnded(2));
  EXPECT_EQ(r.reasons[1], merSuccessful);
  const uint64_t first = r.driver->Stats().bytes_played - before;
  before = r.driver->Stats().bytes_played;
  r.player.Play();
  ASSERT_TRUE(r.PumpUntilEnded(3));
  EXPECT_EQ(r.driver->Stats().bytes_played - before, first);
}

}  // namespace
}  // namespace plumo
