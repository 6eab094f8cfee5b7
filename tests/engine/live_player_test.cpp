// TMP3Player on a live stream (a stand-in for a radio station that names its titles as the bytes
// pass): the titles and the station, no seeking and no length, and why playback ended; and on a
// network stream from the tests' own radio server that falls silent.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "child_process.h"
#include "file_stream.h"
#include "http_stream.h"
#include "live_stream.h"
#include "player.h"
#include "radio_server.h"
#include "simulated_wave_device.h"
#include "test_files.h"

namespace plumo {
namespace {

constexpr const char* kAddress = "http://radio.invalid/live.mp3";

// The bytes of a file passed out as a station would, the title changing at given offsets; at the
// end Read returns 0 and EndMessage says why.
class FakeLiveStream final : public TLiveStream {
 public:
  struct TitleAt {
    size_t offset;
    std::string title;
  };
  FakeLiveStream(std::vector<uint8_t> bytes, std::vector<TitleAt> titles, std::string end_message)
      : FBytes(std::move(bytes)), FTitles(std::move(titles)), FEndMessage(std::move(end_message)) {}

  int32_t Read(void* buffer, int32_t count) override {
    // Short reads, as from a socket, so the titles pass with the bytes they belong to.
    const size_t n = std::min({static_cast<size_t>(count), FBytes.size() - FAt, size_t{1000}});
    for (const TitleAt& t : FTitles)
      if (t.offset >= FAt && t.offset < FAt + std::max<size_t>(n, 1)) {
        {
          std::lock_guard lock(FLock);
          FTitle = t.title;
        }
        if (OnTitleChange) OnTitleChange();
      }
    std::memcpy(buffer, FBytes.data() + FAt, n);
    FAt += n;
    if (n == 0) {
      std::lock_guard lock(FLock);
      FEnded = true;
    }
    return static_cast<int32_t>(n);
  }
  int64_t Seek(int64_t, TSeekOrigin) override { throw EStreamError("cannot seek"); }
  int64_t Size() override { throw EStreamError("cannot seek"); }
  std::string Address() const override { return kAddress; }
  std::string StationName() const override { return "PLUMO Test Radio"; }
  std::string StreamTitle() const override {
    std::lock_guard lock(FLock);
    return FTitle;
  }
  // Its reads never wait.
  void Cancel() override {}
  std::string EndMessage() const override {
    std::lock_guard lock(FLock);
    return FEnded ? FEndMessage : "";
  }

 private:
  std::vector<uint8_t> FBytes;
  std::vector<TitleAt> FTitles;
  std::string FEndMessage;
  size_t FAt = 0;
  mutable std::mutex FLock;
  std::string FTitle;
  bool FEnded = false;
};

struct LiveRig {
  LiveRig() : player(platform::MakeSimulatedWaveDriver(Fast()), decoder) {
    player.SetAutoPlay(false);
    player.OnTitleChange = [this](TMP3Player* p) { titles.push_back(p->Title()); };
    player.OnEndPlay = [this](TMP3Player* p, TMP3EndPlayReason r) {
      reasons.push_back(r);
      end_messages.push_back(p->EndMessage());
    };
    player.ShowException = [this](const std::exception_ptr& e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& x) {
        shown.push_back(x.what());
      }
    };
  }
  static platform::SimulatedWaveOptions Fast() {
    platform::SimulatedWaveOptions o;
    o.real_time = false;
    return o;
  }
  // Pumps the window until playback has ended (false after the hang guard).
  bool PlayedToTheEnd() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (reasons.empty()) {
      if (std::chrono::steady_clock::now() > end) return false;
      player.Window().WaitForMessage(20);
      player.Window().ProcessMessages();
    }
    player.Window().ProcessMessages();
    return true;
  }

  Decoder decoder;
  TMP3Player player;
  std::vector<std::string> titles;
  std::vector<TMP3EndPlayReason> reasons;
  std::vector<std::string> end_messages;
  std::vector<std::string> shown;
};

std::vector<uint8_t> Sample(const std::string& name) { return test::ReadFile(test::DataPath("samples/" + name)); }

TEST(LivePlayer, TitlesFollowTheStationAndTheEndSaysWhy) {
  struct Case {
    const char* what;
    std::string end_message;  // the stream's
    std::string expected;     // the player's
  };
  const Case cases[] = {
      {"the connection was lost", std::string(kAddress) + ": connection lost", std::string(kAddress) + ": connection lost"},
      {"the station closed the stream", "", std::string(kAddress) + ": the station ended the stream"},
  };
  const std::vector<uint8_t> bytes = Sample("l3_m1_44k_128_joint_noinfo.mp3");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LiveRig r;
    auto stream = std::make_unique<FakeLiveStream>(
        bytes, std::vector<FakeLiveStream::TitleAt>{{0, "First Song"}, {bytes.size() / 2, "Second Song"}}, c.end_message);
    r.player.OpenStream(kAddress, std::move(stream), 0);
    EXPECT_EQ(r.player.FileName(), kAddress);
    EXPECT_TRUE(r.player.IsLive());
    EXPECT_FALSE(r.player.CanSeek());
    EXPECT_FALSE(r.player.EnabledCommands().Contains(mcmSeek));
    EXPECT_EQ(r.player.LengthSamples(), -1);
    EXPECT_EQ(r.player.LengthMicroseconds(), 0);
    // The first title came with the first bytes, read while opening; no tags: the station is
    // the album.
    EXPECT_EQ(r.player.Title(), "First Song");
    EXPECT_EQ(r.player.Album(), "PLUMO Test Radio");
    r.player.Play();
    ASSERT_TRUE(r.PlayedToTheEnd());
    EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merSuccessful});
    EXPECT_TRUE(r.shown.empty());
    EXPECT_EQ(r.end_messages, std::vector<std::string>{c.expected});
    EXPECT_EQ(r.player.EndMessage(), c.expected);
    // Close: a stream that cannot seek cannot be played again.
    EXPECT_FALSE(r.player.Opened());
    EXPECT_FALSE(r.player.IsLive());
    // Changes coalesce; the last one seen is the second title.
    ASSERT_FALSE(r.titles.empty());
    EXPECT_EQ(r.titles.back(), "Second Song");
  }
}

TEST(LivePlayer, AStreamThatEndsBeforeAnySoundFailsWithItsMessage) {
  // The LAME header frame and the start of the first audio frame, whose samples all lie within
  // the encoder's delay: the station drops the connection before a sample can be played.
  std::vector<uint8_t> bytes = Sample("l3_vbr_v6_xing_22k_mono.mp3");
  {
    Decoder decoder;
    TFileStream file(test::DataPath("samples/l3_vbr_v6_xing_22k_mono.mp3"));
    TMP3Source source(decoder);
    source.Open(&file, true);
    ASSERT_GT(source.StartTrim(), source.SamplesPerFrame());
    bytes.resize(static_cast<size_t>(source.DataStart()) + 100);
  }
  const std::string message = std::string(kAddress) + ": connection lost";
  LiveRig r;
  r.player.OpenStream(kAddress, std::make_unique<FakeLiveStream>(bytes, std::vector<FakeLiveStream::TitleAt>{}, message), 0);
  r.player.Play();
  ASSERT_TRUE(r.PlayedToTheEnd());
  EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merFailure});
  EXPECT_EQ(r.shown, std::vector<std::string>{message});
  EXPECT_EQ(r.player.EndMessage(), message);
  EXPECT_FALSE(r.player.Opened());
}

TEST(LivePlayer, JunkIsAGapAndANewFormatOpensTheDeviceAgain) {
  // 44.1 kHz stereo, 16 KB of junk, then 32 kHz mono (another layer too), as a fallback mount
  // sends: both parts are heard whole, each in its own format.
  const std::vector<uint8_t> first = Sample("l3_m1_44k_128_joint_noinfo.mp3"), second = Sample("l2_m1_32k_64_mono.mp2");
  std::vector<uint8_t> bytes = first;
  for (int k = 0; k < 16384; ++k) bytes.push_back(static_cast<uint8_t>((k * 7919 + 13) % 251));
  bytes.insert(bytes.end(), second.begin(), second.end());
  auto driver = platform::MakeSimulatedWaveDriver(LiveRig::Fast());
  Decoder decoder;
  TMP3Player player(driver, decoder);
  bool ended = false;
  player.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason) { ended = true; };
  player.OpenStream(kAddress, std::make_unique<FakeLiveStream>(bytes, std::vector<FakeLiveStream::TitleAt>{}, ""), 0);
  ASSERT_TRUE(test::PollUntil([&] {
    player.Window().ProcessMessages();
    return ended;
  }));
  const platform::SimulatedWaveStats stats = driver->Stats();
  EXPECT_EQ(stats.opens, 2);
  EXPECT_EQ(stats.last_format.sample_rate, 32000);
  EXPECT_EQ(stats.last_format.channels, 1);
  const size_t pcm = test::ReadFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.ref.pcm")).size() +
                     test::ReadFile(test::DataPath("samples/l2_m1_32k_64_mono.ref.pcm")).size();
  EXPECT_EQ(stats.bytes_played, pcm);
  EXPECT_EQ(player.EndMessage(), std::string(kAddress) + ": the station ended the stream");
}

using RadioServer = test::RadioServer;

TEST(LivePlayer, AnAddressThatGivesNoMpegAudioFailsToOpenWithTheReason) {
  const RadioServer server;
  struct Case {
    const char* path;
    std::string message;  // what the failure's message holds
  };
  const Case cases[] = {
      {"/html", "unknown MPEG Audio format."},
      {"/404", "404"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    LiveRig r;
    std::string message;
    try {
      r.player.SetFileName(server.Url(c.path));
    } catch (const std::exception& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_FALSE(r.player.Opened());
    EXPECT_EQ(r.player.FileName(), "");
  }
}

TEST(LivePlayer, WhileTheStationIsSilentNothingOnTheMainThreadWaitsForTheNetwork) {
  const RadioServer server;
  // 1.25 s of sound, then the station sends nothing more and keeps the connection open.
  const std::string address =
      server.Url("/stall?after=50000&file=" + test::DataPath("samples/l3_m1_48k_320_stereo.mp3"));
  struct Case {
    const char* what;
    std::function<void(TMP3Player&)> end;
  };
  const Case cases[] = {
      {"Stop", [](TMP3Player& p) { p.Stop(); }},
      {"Close", [](TMP3Player& p) { p.Close(); }},
      {"another open", [](TMP3Player& p) { p.OpenStream(static_cast<TStream*>(nullptr), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LiveRig r;
    // Silence ends the stream only after far longer than the hang guard below.
    THttpOptions options;
    options.StallTimeoutMs = 90000;
    auto stream = std::make_unique<THttpStream>(address, options);
    ASSERT_NO_THROW(stream->WaitReady());
    r.player.OpenStream(address, std::move(stream), 0);
    r.player.Play();
    // Two of the device's half-second buffers have been played: the rest of the sound is
    // decoded (a moment later) into the third, which it does not fill, and the decode thread
    // then waits in the stream's Read.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (r.player.Position() < 1000 && std::chrono::steady_clock::now() < end) {
      r.player.Window().WaitForMessage(20);
      r.player.Window().ProcessMessages();
    }
    ASSERT_GE(r.player.Position(), 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // A hang guard: neither a change of the decoder's set-up (under the decode lock) nor the end
    // may wait for the stream's own time-out.
    std::mutex lock;
    std::condition_variable ended;
    bool returned = false, hung = false;
    std::thread guard([&] {
      std::unique_lock l(lock);
      hung = !ended.wait_for(l, std::chrono::seconds(30), [&] { return returned; });
    });
    r.player.SetReplayGainMode(rgmTrack);
    r.player.SetInvertPolarity(true);
    c.end(r.player);
    {
      std::lock_guard l(lock);
      returned = true;
    }
    ended.notify_one();
    guard.join();
    EXPECT_FALSE(hung);
    ASSERT_TRUE(r.PlayedToTheEnd());
    EXPECT_EQ(r.reasons, std::vector<TMP3EndPlayReason>{merStoped});
    EXPECT_TRUE(r.shown.empty());
    EXPECT_EQ(r.player.EndMessage(), "");
    EXPECT_FALSE(r.player.Opened());
  }
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// plumo-play on stations as a user runs it: a stop signal ends it in any state, and a long title
// stays on its one line of a narrow terminal.
TEST(LivePlayTool, StopsAtOnceInEveryStateAndKeepsToOneLine) {
  const RadioServer server;
  const test::TempDir dir;
  const std::string file = test::DataPath("samples/l3_m1_44k_128_joint_info.mp3");
  const std::string live = server.Url("/stream?repeat=1&metaint=4000&titles=" + std::string(200, 'T') + "&file=" + file);
  const struct {
    std::string Address;
    int Signal;
  } cases[] = {{server.Url("/drip"), SIGINT}, {server.Url("/silent"), SIGTERM}, {live, SIGINT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Address);
    test::Child play({PLUMO_PLAY_TOOL, "--device", "null", c.Address}, {}, dir / "out.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(play.Running());
    play.Signal(c.Signal);
    // Within a second (with room for a slow machine), and quietly.
    EXPECT_EQ(play.Wait(2000), 0);
  }
  // A 40-column terminal: the title is cut to fit, and the line is redrawn in place.
  const std::string tmux = test::FindProgram("tmux");
  if (tmux.empty()) GTEST_SKIP() << "tmux is not installed";
  const std::string socket = dir / "tmux", run = tmux + " -S " + socket + " ";
  ASSERT_EQ(std::system((run + "new-session -d -x 40 -y 10 '" + PLUMO_PLAY_TOOL + " --device null \"" + live + "\"'").c_str()), 0);
  std::string screen;
  EXPECT_TRUE(test::PollUntil([&] {
    screen = test::Capture(run + "capture-pane -p");
    return screen.find("TTTT") != std::string::npos && screen.find("00:02") != std::string::npos;
  })) << screen;
  std::system((run + "kill-server").c_str());
  EXPECT_EQ(std::count(screen.begin(), screen.end(), 'T'), 40 - 1 - 7) << screen;
  EXPECT_EQ(screen.find("00:"), screen.rfind("00:")) << screen;
}

}  // namespace
}  // namespace plumo
