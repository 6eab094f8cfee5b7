// The play controller without a window: intakes, the playlist's rounds, the player's ends,
// stations and the commands the panel and the media controls give.
#include "play_controller.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "forms.h"
#include "icecast_server.h"
#include "radio_server.h"
#include "simulated_wave_device.h"
#include "test_support.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;

class PlayControllerTest : public ::testing::Test {
 protected:
  PlayControllerTest() {
    fs::create_directory(dir / "sub");
    test::CopyFile(test::DataPath("samples/playlists/pl_one.mp3"), dir / "one.mp3");
    test::CopyFile(test::DataPath("samples/playlists/pl_two.mp3"), dir / "two.mp3");
    test::CopyFile(test::DataPath("samples/playlists/sub/pl_three.mp3"), dir / "sub/three.mp3");
  }

  // A controller as the panel starts it: an empty playlist, stopped.
  std::unique_ptr<TPlayController> Start(bool real_time = true) {
    platform::SimulatedWaveOptions options;
    options.real_time = real_time;
    auto c = std::make_unique<TPlayController>(platform::MakeSimulatedWaveDriver(options));
    c->Report = [this](const std::exception_ptr& e) { errors.push_back(ExceptionMessage(e)); };
    c->OnContributed = [this](const std::vector<std::string>& names) {
      contributed.insert(contributed.end(), names.begin(), names.end());
    };
    c->Restore({}, {}, fs::current_path().string(), 0, 100);
    c->StopPlay();
    return c;
  }
  // Runs the event loop until done() (or the hang guard).
  template <class F>
  static void Until(F done) {
    QDeadlineTimer guard(10000);
    while (!done() && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  test::TempDir dir;
  std::vector<std::string> errors;
  std::vector<std::string> contributed;
};

TEST_F(PlayControllerTest, DroppedM3uIsReadAgainstItsOwnFolder) {
  test::CopyFile(test::DataPath("samples/playlists/mixed_crlf.m3u"), dir / "sub/list.M3U");
  test::CopyFile(dir / "one.mp3", dir / "sub/pl_one.mp3");
  auto p = Start();
  // one.mp3 first: the list's relative lines are still its own folder's, not that file's.
  p->TakeIn({dir / "one.mp3", dir / "sub/list.M3U"});
  const std::string d = dir.Path();
  EXPECT_EQ(p->PlayList(),
            (std::vector<std::string>{d + "/one.mp3", d + "/sub/pl_one.mp3", "http://example.com/stream/live.mp3",
                                      "/nonexistent/plumo-samples/absolute-missing.mp3",
                                      "C:\\Music\\Windows Folder\\missing.mp3", "\\\\fileserver\\share\\missing.mp3",
                                      d + "/sub/sub/pl_three.mp3", d + "/sub/missing_relative.mp3",
                                      d + "/sub/pl_two.mp3"}));
  EXPECT_EQ(p->CurrentDir(), dir / "sub");
  EXPECT_EQ(contributed.back(), dir / "sub/list.M3U");
  EXPECT_TRUE(errors.empty());
}

TEST_F(PlayControllerTest, AbsoluteAndRelativeM3uFromTheShippedPlaylists) {
  std::string text = test::ReadFile(test::DataPath("samples/playlists/absolute.m3u.in"));
  for (size_t at; (at = text.find("@DIR@")) != std::string::npos;) text.replace(at, 5, dir / "sub");
  test::WriteFile(dir / "sub/absolute.m3u", text);
  test::CopyFile(test::DataPath("samples/playlists/relative_lf.m3u"), dir / "relative.m3u");
  auto p = Start();
  p->TakeIn({dir / "one.mp3", dir / "relative.m3u", dir / "sub/absolute.m3u"});
  const std::vector<std::string>& list = p->PlayList();
  // The template's comment line is no entry.
  ASSERT_EQ(list.size(), 1u + 3u + 3u);
  EXPECT_EQ(list[1], dir / "pl_two.mp3");
  EXPECT_EQ(list[3], dir / "pl_one.mp3");
  EXPECT_EQ(list[4], dir / "sub/pl_one.mp3");
  EXPECT_EQ(list[6], dir / "sub/pl_two.mp3");
}

TEST_F(PlayControllerTest, M3u8WithBomExtinfAndFileUris) {
  fs::create_directories(dir / "Ünïcode Album");
  test::CopyFile(dir / "two.mp3", dir / "Ünïcode Album/Zwei Lieder.mp3");
  test::WriteFile(dir / "Ünïcode Album/list.m3u8",
                  "\xEF\xBB\xBF#EXTM3U\n#EXTINF:3,Zwei\nZwei Lieder.mp3\n#EXTINF:3,One\n"
                  "file://" + std::string(QUrl::fromLocalFile(QString::fromStdString(dir / "one.mp3")).path(QUrl::FullyEncoded).toUtf8()) +
                  "\nfile://" + std::string(QUrl::fromLocalFile(QString::fromStdString(dir / "Ünïcode Album/Zwei Lieder.mp3"))
                                                  .path(QUrl::FullyEncoded).toUtf8()) + "\n");
  auto p = Start();
  p->TakeIn({dir / "Ünïcode Album/list.m3u8"});
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "Ünïcode Album/Zwei Lieder.mp3", dir / "one.mp3",
                                                     dir / "Ünïcode Album/Zwei Lieder.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->Player().FileName(), dir / "Ünïcode Album/Zwei Lieder.mp3");
  p->Next();
  EXPECT_EQ(p->Player().FileName(), dir / "one.mp3");
  EXPECT_TRUE(errors.empty());
}

TEST_F(PlayControllerTest, NaturalEndSkipsMissingEntriesAndWrapsAround) {
  test::CopyFile(dir / "one.mp3", dir / "a.mp3");
  test::CopyFile(dir / "one.mp3", dir / "b.mp3");
  test::CopyFile(dir / "one.mp3", dir / "c.mp3");
  auto p = Start(/*real_time=*/false);
  p->TakeIn({dir / "a.mp3", dir / "b.mp3", dir / "c.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  fs::remove(dir / "b.mp3");
  fs::remove(dir / "c.mp3");
  std::vector<std::string> ended;
  auto handler = p->Player().OnEndPlay;
  p->Player().OnEndPlay = [&](TMP3Player* sender, TMP3EndPlayReason reason) {
    if (reason == merSuccessful && p->PlayState() == psPlaying) ended.push_back(sender->FileName());
    handler(sender, reason);
  };
  QDeadlineTimer guard(60000);
  while (ended.size() < 4 && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_GE(ended.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(ended.begin(), ended.begin() + 4),
            (std::vector<std::string>{dir / "a.mp3", dir / "two.mp3", dir / "sub/three.mp3", dir / "a.mp3"}));
  EXPECT_TRUE(errors.empty());
  // Stopped by the user: the next one does not follow.
  p->StopPlay();
  const std::string stopped_at = p->Player().FileName();
  QDeadlineTimer settle(300);
  while (!settle.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->Player().Status(), mpsStopped);
  EXPECT_EQ(p->Player().FileName(), stopped_at);
}

TEST_F(PlayControllerTest, AFailedOrStoppedEndIsNotFollowedByTheNext) {
  auto p = Start();
  p->TakeIn({dir / "one.mp3", dir / "two.mp3"});
  ASSERT_EQ(p->PlayState(), psPlaying);
  p->MP3Player1EndPlay(merFailure);
  p->MP3Player1EndPlay(merStoped);
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->PlayState(), psPlaying) << "the panel's view stays until the user acts";
  EXPECT_EQ(p->Player().FileName(), dir / "one.mp3");
  // A successful end while paused is not followed either.
  p->PausePlay();
  p->MP3Player1EndPlay(merSuccessful);
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->PlayState(), psPaused);
}

TEST_F(PlayControllerTest, AllEntriesGoneShowsTheProgramName) {
  auto p = Start();
  p->TakeIn({dir / "one.mp3", dir / "two.mp3"});
  p->StopPlay();
  fs::remove(dir / "one.mp3");
  fs::remove(dir / "two.mp3");
  p->PlayPause();
  EXPECT_EQ(p->Title(), "*** PLUMO ***");
  EXPECT_EQ(p->Player().FileName(), "");
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->NowIndex(), 0);
}

// An entry that cannot be opened (an address nothing listens on, a file that is not MPEG audio)
// is said once and the next entry plays; coming round again it is passed over without a word.
// A round in which nothing plays stops as a playlist of missing files does.
TEST_F(PlayControllerTest, EntriesThatCannotBeOpenedAreSaidOnceAndPassedOver) {
  test::WriteFile(dir / "broken.mp3", std::string(4096, 'x'));
  const std::string closed = test::UnusedLoopbackAddress() + "/live";
  test::WriteFile(dir / "radio.m3u", closed + "\nbroken.mp3\none.mp3\n");
  auto p = Start(/*real_time=*/false);
  std::vector<std::string> ended;
  auto handler = p->Player().OnEndPlay;
  p->Player().OnEndPlay = [&](TMP3Player* sender, TMP3EndPlayReason reason) {
    if (reason == merSuccessful) ended.push_back(sender->FileName());
    handler(sender, reason);
  };
  p->TakeIn({dir / "radio.m3u"});
  Until([&] { return ended.size() >= 2; });
  EXPECT_EQ(ended, (std::vector<std::string>{dir / "one.mp3", dir / "one.mp3"}));
  ASSERT_EQ(errors.size(), 2u) << "each said once";
  EXPECT_NE(errors[0].find(closed), std::string::npos) << errors[0];
  EXPECT_EQ(errors[1], std::string(dir / "broken.mp3") + ": MPEG オーディオではありません");
  EXPECT_EQ(p->PlayState(), psPlaying);

  p->StopPlay();
  fs::remove(dir / "one.mp3");
  p->PlayPause();
  Until([&] { return p->Title() == "*** PLUMO ***"; });
  EXPECT_EQ(p->Title(), "*** PLUMO ***");
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->Player().FileName(), "");
  EXPECT_EQ(errors.size(), 2u);
}

// A station (a real Icecast server of the test's own on 127.0.0.1) is connected to off the main
// thread and played; its titles reach the display. Stop, pause, the next entry or quitting while
// a station does not answer gives it up at once, without a word.
TEST_F(PlayControllerTest, StationsConnectOffTheMainThreadAndStopNextOrQuitGiveThemUp) {
  if (!test::IcecastServer::Installed()) GTEST_SKIP() << "icecast2, ffmpeg or curl is not installed";
  // 320 kbit/s: the server's burst and the read-ahead hold little time, so titles follow soon.
  test::LongCopy(test::DataPath("samples/l3_m1_48k_320_stereo.mp3"), dir / "station.mp3");
  test::IcecastServer server;
  ASSERT_TRUE(server.Start()) << server.Log();
  ASSERT_TRUE(server.StartSource(dir / "station.mp3", "Loopback FM")) << server.Log();
  auto p = Start();
  p->TakeIn({server.Url()});
  EXPECT_TRUE(p->Connecting());
  EXPECT_EQ(p->Title(), "[PLAY]接続中… " + server.Url());
  Until([&] { return p->Player().Status() == mpsPlaying; });
  ASSERT_EQ(p->Player().Status(), mpsPlaying) << testing::PrintToString(errors);
  EXPECT_EQ(p->Title(), "[PLAY]" + server.Url() + "(Loopback FM)");
  ASSERT_TRUE(server.SetTitle("Now Playing"));
  Until([&] { return p->Title() == "[PLAY]Now Playing(Loopback FM)"; });
  EXPECT_EQ(p->Title(), "[PLAY]Now Playing(Loopback FM)");

  const test::SilentServer silent;
  p->TakeIn({silent.Address() + "/live", dir / "two.mp3"});
  EXPECT_TRUE(p->Connecting());
  EXPECT_EQ(p->Player().Status(), mpsStopped);
  p->StopPlay();
  EXPECT_FALSE(p->Connecting());
  EXPECT_EQ(p->Title(), "[STOP]" + silent.Address() + "/live");
  p->PlayPause();
  EXPECT_TRUE(p->Connecting());
  // Paused while connecting: given up; resumed: connecting again.
  p->PlayPause();
  EXPECT_FALSE(p->Connecting());
  EXPECT_EQ(p->Title(), "[PAUSE]" + silent.Address() + "/live");
  p->PlayPause();
  EXPECT_TRUE(p->Connecting());
  EXPECT_EQ(p->PlayState(), psPlaying);
  p->Next();
  EXPECT_FALSE(p->Connecting());
  EXPECT_EQ(p->Player().FileName(), dir / "two.mp3");
  EXPECT_EQ(p->Player().Status(), mpsPlaying);
  p->Previous();
  EXPECT_TRUE(p->Connecting());
  p.reset();
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

// A file on a server plays as a file (its length, seeking; a stop while it waits for the network
// does not wait with it); a station that drops is connected to
// again with "reconnecting" in the title; a station resumed after its buffer filled in a pause
// is connected to again, to play live.
TEST_F(PlayControllerTest, FilesOnAServerSeekAndStationsReconnectOrCatchUp) {
  const test::RadioServer server;
  const std::string file = test::DataPath("samples/l3_vbr_v2_xing.mp3");
  auto p = Start();
  // Each part says when it starts: a part that hangs shows in the output.
  const auto part = [](const char* name) { std::fprintf(stderr, "part: %s\n", name); };
  part("a file");
  p->TakeIn({server.Url("/file?ranges=1&file=" + file)});
  Until([&] { return p->Player().Status() == mpsPlaying; });
  ASSERT_EQ(p->Player().Status(), mpsPlaying) << testing::PrintToString(errors);
  EXPECT_TRUE(p->CanSeekNow());
  EXPECT_EQ(p->Player().LengthSamples(), 88200);
  EXPECT_TRUE(p->SeekTo(66150));
  EXPECT_GE(p->Player().Position(), 1500);
  // Waiting for bytes that trickle in does not keep a stop waiting; what came plays again.
  part("a stop while bytes trickle in");
  test::LongCopy(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), dir / "long.mp3");
  p->TakeIn({server.Url("/file?ranges=1&slowfrom=40000&file=" + dir / "long.mp3")});
  Until([&] { return p->Player().Status() == mpsPlaying; });
  ASSERT_EQ(p->Player().Status(), mpsPlaying) << testing::PrintToString(errors);
  Until([&, t = QDeadlineTimer(3000)] { return t.hasExpired(); });
  p->StopPlay();
  EXPECT_EQ(server.Output().find("slow end"), std::string::npos);
  p->PlayPause();
  Until([&] { return p->Player().Status() == mpsPlaying; });
  EXPECT_EQ(p->Player().Status(), mpsPlaying);

  part("a station that drops");
  p->TakeIn({server.Url("/flaky?metaint=1000&file=" + file)});
  bool reconnecting = false;
  Until([&] { return reconnecting = reconnecting || p->Title().find("再接続中") != std::string::npos; });
  EXPECT_TRUE(reconnecting) << p->Title();
  EXPECT_EQ(p->PlayState(), psPlaying);

  part("a pause that fills the buffer");
  p->TakeIn({server.Url("/stream?repeat=1&file=" + file)});
  Until([&] { return p->Player().Status() == mpsPlaying; });
  p->PlayPause();
  Until([&] { return p->Player().LiveBufferFull(); });
  ASSERT_TRUE(p->Player().LiveBufferFull());
  p->PlayPause();
  EXPECT_TRUE(p->Connecting());
  Until([&] { return p->Player().Status() == mpsPlaying; });
  EXPECT_EQ(p->Player().Status(), mpsPlaying);
  part("the end");
  p.reset();
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

TEST_F(PlayControllerTest, NextSkipsAFirstEntryThePlayerCannotOpen) {
  test::WriteFile(dir / "broken.mp3", std::string(4096, 'x'));
  auto p = Start();
  p->TakeIn({dir / "broken.mp3", dir / "two.mp3"});
  ASSERT_EQ(errors.size(), 1u) << "not MPEG audio";
  EXPECT_EQ(p->PlayState(), psPlaying) << "the next entry plays";
  EXPECT_EQ(p->NowIndex(), 1);
  EXPECT_NO_THROW(p->Next());
  EXPECT_EQ(p->NowIndex(), 1);
  EXPECT_EQ(p->Player().FileName(), dir / "two.mp3");
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(errors.size(), 1u);
}

// A folder is walked while the panel goes on answering; a FIFO named like a playlist or like
// audio is never opened (it would wait for a writer for ever), handed over or in the playlist.
TEST_F(PlayControllerTest, IntakeKeepsTheGuiThreadFree) {
  const std::vector<std::string> fifos{dir / "fifo.m3u", dir / "fifo.mp3"};
  for (const std::string& fifo : fifos) ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto p = Start();
  // Whoever opens a FIFO to read it is let go by a writer that comes and goes.
  std::atomic<bool> stop{false};
  std::atomic<int> read{0};
  std::thread writer([&] {
    while (!stop) {
      for (const std::string& fifo : fifos) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          ++read;
          ::close(fd);
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  bool answered = false;
  QTimer::singleShot(0, [&] { answered = true; });
  p->TakeIn({dir / "sub"});
  EXPECT_TRUE(answered) << "events are handled while the folder is walked";
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "sub/three.mp3"}));
  for (const std::string& fifo : fifos) {
    errors.clear();
    p->TakeIn({fifo});
    ASSERT_EQ(errors.size(), 1u) << fifo;
    EXPECT_NE(errors[0].find(fifo), std::string::npos) << errors[0];
    EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "sub/three.mp3"}));
  }
  // A FIFO among the saved entries is passed over as a missing file.
  p->Restore({dir / "fifo.mp3", dir / "two.mp3"}, {}, dir.Path(), 0, 100);
  p->StopPlay();
  EXPECT_EQ(p->Player().FileName(), dir / "two.mp3");
  stop = true;
  writer.join();
  EXPECT_EQ(read, 0) << "a FIFO was opened";
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// Shuffle plays every entry once a round, the current one first, a new order each round; the
// previous entry is the one played before. What follows the end of the round's last entry and
// what is chained to follow without a gap depend on the repeat mode.
TEST_F(PlayControllerTest, ShuffleAndRepeatOrders) {
  std::vector<std::string> files;
  for (int i = 0; i < 6; ++i) {
    files.push_back(dir / ("t" + std::to_string(i) + ".mp3"));
    test::CopyFile(dir / "one.mp3", files.back());
  }
  auto p = Start();
  p->TakeIn(files);
  p->Next();
  p->SetShuffle(true);
  EXPECT_EQ(p->NowIndex(), 1) << "the current entry stays first";
  std::vector<int32_t> heard;
  for (size_t i = 0; i < 3 * files.size(); ++i) {
    heard.push_back(p->NowIndex());
    p->Next();
  }
  for (size_t round = 0; round < 3; ++round) {
    std::vector<int32_t> one(heard.begin() + static_cast<std::ptrdiff_t>(round * files.size()),
                             heard.begin() + static_cast<std::ptrdiff_t>((round + 1) * files.size()));
    std::sort(one.begin(), one.end());
    EXPECT_EQ(one, (std::vector<int32_t>{0, 1, 2, 3, 4, 5})) << "round " << round;
  }
  for (size_t i = heard.size(); i-- > heard.size() - 4;) {
    p->Previous();
    EXPECT_EQ(p->NowIndex(), heard[i]) << "back along what was played";
  }

  const struct {
    bool shuffle;
    TRepeatMode repeat;
    bool chains, plays_on;
  } rows[] = {{false, rmAll, true, true}, {false, rmOff, false, false}, {false, rmOne, true, true},
              {true, rmAll, false, true}, {true, rmOff, false, false},  {true, rmOne, true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.shuffle) + " " + std::to_string(row.repeat));
    // A new order with the current entry first, then to the round's last entry.
    p->SetShuffle(false);
    p->SetShuffle(row.shuffle);
    p->SetRepeat(row.repeat);
    if (row.shuffle)
      for (int i = 0; i < 5; ++i) p->Next();
    while (!row.shuffle && p->NowIndex() != 5) p->Next();
    const int32_t last = p->NowIndex();
    const std::string next = p->MP3Player1GetNextFile().Name;
    EXPECT_EQ(!next.empty(), row.chains);
    if (row.repeat == rmOne) {
      EXPECT_EQ(next, files[static_cast<size_t>(last)]) << "the same file again";
    }
    if (!row.shuffle && row.repeat == rmAll) {
      EXPECT_EQ(next, files[0]);
    }
    p->MP3Player1EndPlay(merSuccessful);
    EXPECT_EQ(p->PlayState() == psPlaying, row.plays_on);
    if (row.repeat != rmAll) {
      EXPECT_EQ(p->NowIndex(), last);
    }
    if (!row.plays_on) p->PlayPause();
  }
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

}  // namespace
}  // namespace plumo
