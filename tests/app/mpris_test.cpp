// The panel on a real D-Bus session bus of its own, driven by real clients (playerctl, gdbus)
// as the desktop's media keys and media controls drive it.
#include "mpris.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "forms.h"
#include "icecast_server.h"
#include "ini_file.h"
#include "panel_form.h"
#include "simulated_wave_device.h"
#include "test_support.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;
using platform::IniFile;

class MprisTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    // Qt D-Bus hands messages between its own thread and the main thread through locks inside
    // an uninstrumented Qt; the panel's own threads are checked by the panel tests.
    GTEST_SKIP() << "Qt D-Bus is not checked under ThreadSanitizer";
#endif
    if (!test::SessionBus::Available() || !test::HaveProgram("playerctl") || !test::HaveProgram("gdbus"))
      GTEST_SKIP() << "dbus-daemon, playerctl or gdbus is missing (scripts/install-deps.sh)";
    bus = std::make_unique<test::SessionBus>();
    ASSERT_FALSE(bus->Address().empty()) << "dbus-daemon did not start";
    connection_name = QStringLiteral("plumo-test-%1").arg(++connections);
    const QDBusConnection connection = QDBusConnection::connectToBus(QString::fromStdString(bus->Address()), connection_name);
    ASSERT_TRUE(connection.isConnected());

    ini = dir / "plumo.INI";
    fs::create_directory(dir / "sub");
    test::LongCopy(test::DataPath("samples/playlists/pl_one.mp3"), dir / "one.mp3");
    test::LongCopy(test::DataPath("samples/playlists/pl_two.mp3"), dir / "two.mp3");
    test::LongCopy(test::DataPath("samples/playlists/sub/pl_three.mp3"), dir / "sub/three.mp3");
    // At the real-time rate: the files play on while the clients come and go.
    Open({});
  }
  // A panel playing through a device with options, served on the bus.
  void Open(const platform::SimulatedWaveOptions& options) {
    service.reset();
    form.reset();
    driver = platform::MakeSimulatedWaveDriver(options);
    form = std::make_unique<TPlatform>(driver, ini,
                                       [this](const std::exception_ptr& e) { errors.push_back(ExceptionMessage(e)); });
    form->Timer1().stop();
    service = std::make_unique<TMprisService>(*form, QDBusConnection(connection_name));
    ASSERT_TRUE(service->Registered());
  }
  // A gdbus monitor of the service writing to out; it watches once a change has reached it, so
  // the volume is changed to and fro until one has (null when none arrives).
  std::unique_ptr<test::Child> StartMonitor(const std::string& out) {
    auto monitor = std::make_unique<test::Child>(
        std::vector<std::string>{Which("gdbus"), "monitor", "--session", "--dest", TMprisService::kServiceName},
        std::map<std::string, std::string>{{"DBUS_SESSION_BUS_ADDRESS", bus->Address()}}, out);
    int tries = 0;
    const bool watching = test::PollUntil([&] {
      form->Item(++tries % 2 != 0 ? "N10" : "N9")->trigger();
      QApplication::processEvents();
      return test::ReadFile(out).find("'Volume': <0.8") != std::string::npos;
    }, 10000);
    if (!watching) ADD_FAILURE() << test::ReadFile(out);
    return watching ? std::move(monitor) : nullptr;
  }
  void TearDown() override {
    service.reset();
    form.reset();
    if (!connection_name.isEmpty()) QDBusConnection::disconnectFromBus(connection_name);
  }

  // Runs a client on the bus while the panel's event loop goes on; its output.
  std::string Client(const std::vector<std::string>& argv) {
    const std::string out = dir / "client.txt";
    test::Child child(argv, {{"DBUS_SESSION_BUS_ADDRESS", bus->Address()}}, out);
    QDeadlineTimer guard(20000);
    while (child.Running() && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(child.Running()) << argv[1];
    // A client may send a command without waiting for its answer (playerctl does so at times):
    // let what it sent arrive before looking.
    QDeadlineTimer settle(150);
    while (!settle.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::string text = test::ReadFile(out);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  std::string Playerctl(const std::string& command, const std::string& argument = {}) {
    std::vector<std::string> argv{Which("playerctl"), "--player=plumo", command};
    if (!argument.empty()) argv.push_back(argument);
    return Client(argv);
  }
  std::string Gdbus(std::vector<std::string> args) {
    std::vector<std::string> argv{Which("gdbus"), args[0], "--session", "--dest", TMprisService::kServiceName,
                                  "--object-path", TMprisService::kObjectPath};
    argv.insert(argv.end(), args.begin() + 1, args.end());
    return Client(argv);
  }
  static std::string Which(const std::string& program) {
    std::string path = test::Capture("command -v " + program);
    while (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
  }
  // Clicks gathered by the panel's own button, acted on as the timer does.
  void Click(int n) {
    for (int i = 0; i < n; ++i) form->SpeedButton2MouseDown(Qt::LeftButton);
    for (int i = 0; i < 6; ++i) form->Timer1Timer();
  }

  static inline int connections = 0;
  test::TempDir dir;
  std::string ini;
  std::unique_ptr<test::SessionBus> bus;
  QString connection_name;
  std::shared_ptr<platform::SimulatedWaveDriver> driver;
  std::unique_ptr<TPlatform> form;
  std::unique_ptr<TMprisService> service;
  std::vector<std::string> errors;
};

TEST_F(MprisTest, MediaKeysPlayPauseNextPreviousAndStop) {
  form->DropFiles({dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  form->SpeedButton3Click();
  ASSERT_EQ(form->PlayState(), psStopped);
  EXPECT_EQ(Playerctl("status"), "Stopped");

  EXPECT_EQ(Playerctl("play"), "");
  EXPECT_EQ(form->PlayState(), psPlaying);
  EXPECT_EQ(form->MP3Player1().Status(), mpsPlaying);
  EXPECT_EQ(Playerctl("status"), "Playing");
  // Play while playing changes nothing; pause pauses, play-pause resumes.
  Playerctl("play");
  EXPECT_EQ(form->PlayState(), psPlaying);
  Playerctl("pause");
  EXPECT_EQ(form->PlayState(), psPaused);
  EXPECT_EQ(form->MP3Player1().Status(), mpsPaused);
  EXPECT_EQ(Playerctl("status"), "Paused");
  Playerctl("pause");
  EXPECT_EQ(form->PlayState(), psPaused);
  Playerctl("play-pause");
  EXPECT_EQ(form->PlayState(), psPlaying);

  // Next and previous as two and three clicks: the previous of the first is the last.
  Playerctl("next");
  EXPECT_EQ(form->NowIndex(), 1);
  EXPECT_EQ(form->MP3Player1().FileName(), dir / "two.mp3");
  EXPECT_EQ(form->PlayState(), psPlaying);
  Playerctl("previous");
  Playerctl("previous");
  EXPECT_EQ(form->NowIndex(), 2);
  EXPECT_EQ(form->MP3Player1().FileName(), dir / "sub/three.mp3");

  // Stop stops; unlike the stop button, a stop while stopped does nothing, and next and previous
  // move from the entry shown (the buttons go back to the first entry first).
  Playerctl("stop");
  EXPECT_EQ(form->PlayState(), psStopped);
  EXPECT_EQ(form->MP3Player1().Status(), mpsStopped);
  EXPECT_EQ(form->NowIndex(), 2);
  Playerctl("stop");
  EXPECT_EQ(form->NowIndex(), 2);
  EXPECT_EQ(Playerctl("status"), "Stopped");
  const std::pair<const char*, int> moves[] = {{"Previous", 1}, {"Next", 2}, {"Next", 0}};
  for (const auto& [method, index] : moves) {
    Gdbus({"call", "--method", std::string("org.mpris.MediaPlayer2.Player.") + method});
    EXPECT_EQ(form->NowIndex(), index) << method;
    EXPECT_EQ(form->PlayState(), psPlaying) << method;
    Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.Stop"});
    ASSERT_EQ(form->PlayState(), psStopped);
  }
  EXPECT_TRUE(errors.empty());
}

TEST_F(MprisTest, MetadataFollowsTheTrack) {
  EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2.Player",
                   "Metadata"}),
            "(<{'mpris:trackid': <objectpath '/org/mpris/MediaPlayer2/TrackList/NoTrack'>}>,)");
  form->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  // playerctl may exit before its command has left it; gdbus waits for the answer.
  const std::string next[] = {"call", "--method", "org.mpris.MediaPlayer2.Player.Next"};
  EXPECT_EQ(Gdbus({std::begin(next), std::end(next)}), "()");
  ASSERT_EQ(form->MP3Player1().FileName(), dir / "two.mp3");
  const std::string format = "{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{xesam:url}}";
  EXPECT_EQ(Playerctl("metadata", "--format=" + format),
            "Playlist Two|Playlist Artist|Playlist Tests|file://" + dir / "two.mp3");
  // The length of the stream, in microseconds; ffprobe measures it independently.
  const int64_t length = std::stoll("0" + Playerctl("metadata", "mpris:length"));
  EXPECT_GT(length, 0);
  if (test::HaveProgram("ffprobe")) {
    const double seconds = std::atof(
        test::Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + dir / "two.mp3" + "'").c_str());
    EXPECT_NEAR(length / 1e6, seconds, 0.05 * seconds + 0.06);
  }
  const std::string first_id = Playerctl("metadata", "mpris:trackid");
  // Outside /org/mpris/, which MPRIS keeps for its own names.
  EXPECT_EQ(first_id.rfind("'/org/plumo/track/", 0), 0u) << first_id;
  ASSERT_EQ(form->PlayState(), psPlaying) << testing::PrintToString(errors);
  EXPECT_EQ(Gdbus({std::begin(next), std::end(next)}), "()");
  EXPECT_EQ(form->NowIndex(), 0) << testing::PrintToString(errors);
  EXPECT_EQ(Playerctl("metadata", "xesam:url"), "file://" + dir / "one.mp3");
  EXPECT_NE(Playerctl("metadata", "mpris:trackid"), first_id);
}

// The cover a file embeds reaches the desktop as a file of the cover cache holding its bytes, its
// APEv2 title as its title; a file without tags is titled with the name the panel shows.
TEST_F(MprisTest, CoverArtAndTheTitleOfAnUntaggedFile) {
  if (!test::HaveProgram("/usr/bin/python3")) GTEST_SKIP() << "python3-mutagen is missing (scripts/install-deps.sh)";
  const std::string cache = dir / "cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  const std::string cover(std::string("\xFF\xD8\xFF\xE0") + std::string(70000, 'c'));
  test::WriteFile(dir / "cover.jpg", cover);
  test::WriteFile(dir / "notes.txt", "not a picture");
  test::LongCopy(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), dir / "plain song.mp3");
  test::LongCopy(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), dir / "covered.mp3");
  test::LongCopy(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), dir / "not a picture.mp3");
  ASSERT_EQ(test::Capture("/usr/bin/python3 -c \"from mutagen.id3 import ID3,APIC\n"
                          "def tag(f,pic,ty):\n t=ID3();t.add(APIC(encoding=3,mime='image/jpeg',type=ty,desc='',data=open(pic,'rb').read()));t.save(f)\n"
                          "tag('" + dir / "covered.mp3" + "','" + dir / "cover.jpg" + "',3)\n"
                          "tag('" + dir / "not a picture.mp3" + "','" + dir / "notes.txt" + "',3)\n"
                          "from mutagen.apev2 import APEv2\n"
                          "a=APEv2();a['Title']='Ape Title';a.save('" + dir / "covered.mp3" + "')\" && echo ok"),
            "ok\n");
  form->DropFiles({dir / "covered.mp3", dir / "not a picture.mp3", dir / "plain song.mp3"});
  EXPECT_EQ(Playerctl("metadata", "xesam:title"), "Ape Title");
  const std::string url = Playerctl("metadata", "mpris:artUrl");
  ASSERT_EQ(url.rfind("file://" + cache + "/plumo/covers/", 0), 0u) << url;
  const std::string path = QUrl(QString::fromStdString(url)).toLocalFile().toStdString();
  EXPECT_EQ(test::ReadFile(path), cover);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  form->SpeedButton3Click();
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.Next"});
  ASSERT_EQ(form->NowIndex(), 1);
  EXPECT_EQ(Playerctl("metadata", "--format={{mpris:artUrl}}"), "");  // not a JPEG or PNG: not offered, not written
  EXPECT_EQ(std::distance(fs::directory_iterator(cache + "/plumo/covers"), fs::directory_iterator()), 1);
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.Next"});
  ASSERT_EQ(form->NowIndex(), 2);
  const std::string shown = form->Title();
  EXPECT_NE(shown.find("plain song"), std::string::npos) << shown;
  EXPECT_EQ(Playerctl("metadata", "xesam:title"), shown.substr(shown.find(']') + 1));
  unsetenv("XDG_CACHE_HOME");
}

TEST_F(MprisTest, VolumeMapsOntoTheSixLevels) {
  form->DropFiles({dir / "one.mp3"});
  EXPECT_EQ(Playerctl("volume"), "1.000000");
  Playerctl("volume", "0.4");
  EXPECT_EQ(form->VolLevel(), 40);
  EXPECT_TRUE(form->Item("N12")->isChecked());
  EXPECT_EQ(form->MP3Player1().Volume(), 40);
  EXPECT_EQ(IniFile(ini).ReadInteger("Setup", "VolLevel", -1), 40);
  // The nearest level; out of range is clamped.
  const std::pair<const char*, int> cases[] = {{"0.55", 60}, {"0.09", 0}, {"0.9", 100}, {"0.71", 80}, {"3", 100}};
  for (const auto& [value, level] : cases) {
    Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Set", "org.mpris.MediaPlayer2.Player", "Volume",
           std::string("<") + value + ">"});
    EXPECT_EQ(form->VolLevel(), level) << value;
  }
  // The menu's volume items show up on the bus.
  form->Item("N14")->trigger();
  EXPECT_EQ(Playerctl("volume"), "0.200000");
  // A request nearer the level than any other (a small step) still moves one level its way;
  // the level the panel has changes nothing, and writes nothing.
  const std::pair<const char*, int> steps[] = {{"0.25", 40}, {"0.35", 20}, {"0.0", 0}, {"0.01", 20}};
  for (const auto& [value, level] : steps) {
    Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Set", "org.mpris.MediaPlayer2.Player", "Volume",
           std::string("<") + value + ">"});
    EXPECT_EQ(form->VolLevel(), level) << value;
  }
  fs::remove(ini);
  Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Set", "org.mpris.MediaPlayer2.Player", "Volume",
         "<0.2>"});
  EXPECT_EQ(form->VolLevel(), 20);
  EXPECT_FALSE(fs::exists(ini));
  // A settings file that refuses the new level: the level changes all the same and the refusal
  // is said, the panel goes on.
  test::WriteFile(ini, "[Setup]\nVolLevel=20\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
  errors.clear();
  Playerctl("volume", "0.6");
  EXPECT_EQ(form->VolLevel(), 60);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], ini + " に書き込めません");
  EXPECT_EQ(Playerctl("volume"), "0.600000");
}

// A failed playback (the device lost) is not playing any more, and play starts it again.
TEST_F(MprisTest, AfterAFailurePlaybackIsStoppedAndPlayStartsAgain) {
  platform::SimulatedWaveOptions options;
  options.fail_after_bytes = 64 * 1024;
  Open(options);
  form->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  size_t failures = 0;
  for (const char* method : {"Play", "PlayPause"}) {
    ++failures;
    ASSERT_TRUE(test::PollUntil([&] {
      QApplication::processEvents();
      return errors.size() >= failures && form->MP3Player1().Status() == mpsStopped;
    }, 20000)) << method;
    EXPECT_EQ(form->PlayState(), psPlaying) << "the panel shows what it did until the user acts";
    EXPECT_EQ(Playerctl("status"), "Stopped") << method;
    const int opens = driver->Stats().opens;
    Gdbus({"call", "--method", std::string("org.mpris.MediaPlayer2.Player.") + method});
    EXPECT_EQ(driver->Stats().opens, opens + 1) << method;
    EXPECT_EQ(form->NowIndex(), 0) << method;
    EXPECT_EQ(form->PlayState(), psPlaying) << method;
  }
}

TEST_F(MprisTest, InterfacesPropertiesRaiseOpenUriAndQuit) {
  const std::string introspection = Gdbus({"introspect"});
  EXPECT_NE(introspection.find("interface org.mpris.MediaPlayer2 {"), std::string::npos) << introspection;
  EXPECT_NE(introspection.find("interface org.mpris.MediaPlayer2.Player {"), std::string::npos);
  EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2", "Identity"}),
            "(<'PLUMO'>,)");
  EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2.Player",
                   "CanGoNext"}),
            "(<false>,)");
  // The one rate there is may be set; others are ignored.
  for (const char* rate : {"<1.0>", "<2.0>"}) {
    EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Set", "org.mpris.MediaPlayer2.Player",
                     "Rate", rate}),
              "()") << rate;
  }
  EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2.Player", "Rate"}),
            "(<1.0>,)");

  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.OpenUri",
         "file://" + std::string(QUrl::fromLocalFile(QString::fromStdString(dir / "two.mp3")).path(QUrl::FullyEncoded).toUtf8())});
  EXPECT_EQ(form->PlayList(), (std::vector<std::string>{dir / "two.mp3"}));
  EXPECT_EQ(form->PlayState(), psPlaying);
  EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2.Player",
                   "CanGoNext"}),
            "(<true>,)");
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.PlayPause"});
  EXPECT_EQ(form->PlayState(), psPaused);

  // Raise shows a hidden panel as the show item does.
  ASSERT_FALSE(form->PanelVisible());
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Raise"});
  EXPECT_TRUE(form->PanelVisible());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "Visible", ""), "1");

  // Quit closes as Exit does: settings saved.
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Quit"});
  QDeadlineTimer guard(5000);
  while (!form->Closed() && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(form->Closed());
  EXPECT_EQ(IniFile(ini).ReadInteger("Option", "FileCount", 0), 1);
  EXPECT_TRUE(errors.empty());
}

// Status, track and volume changes made on the panel itself reach the desktop as signals.
TEST_F(MprisTest, ChangesAreSignalled) {
  const std::string out = dir / "monitor.txt";
  const std::unique_ptr<test::Child> monitor = StartMonitor(out);
  ASSERT_TRUE(monitor);
  // Each change from the event loop, as the user's are.
  form->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  QApplication::processEvents();
  Click(1);  // pause
  QApplication::processEvents();
  Click(2);  // next
  QApplication::processEvents();
  form->Item("N11")->trigger();
  // Give the signals time to arrive.
  test::PollUntil([&] {
    QApplication::processEvents();
    return test::ReadFile(out).find("'Volume': <0.59") != std::string::npos ||
           test::ReadFile(out).find("'Volume': <0.6") != std::string::npos;
  }, 10000);
  monitor->Signal(SIGTERM);
  monitor->Wait();
  const std::string text = test::ReadFile(out);
  EXPECT_NE(text.find("'PlaybackStatus': <'Playing'>"), std::string::npos) << text;
  EXPECT_NE(text.find("'PlaybackStatus': <'Paused'>"), std::string::npos) << text;
  // In the order they happened: playing from the drop on, then paused.
  EXPECT_LT(text.find("'PlaybackStatus': <'Playing'>"), text.find("'PlaybackStatus': <'Paused'>")) << text;
  EXPECT_NE(text.find("'xesam:url': <'file://" + dir / "two.mp3" + "'>"), std::string::npos) << text;
  EXPECT_NE(text.find("'CanGoNext': <true>"), std::string::npos) << text;
  EXPECT_TRUE(text.find("'Volume': <0.59") != std::string::npos || text.find("'Volume': <0.6") != std::string::npos)
      << text;
}

// Shuffle and repeat from the desktop reach the panel; the panel's own changes reach the desktop.
TEST_F(MprisTest, ShuffleAndLoopStatusBothWays) {
  form->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  EXPECT_EQ(Playerctl("shuffle"), "Off");
  EXPECT_EQ(Playerctl("loop"), "Playlist");
  const std::pair<std::vector<std::string>, std::pair<bool, TRepeatMode>> rows[] = {
      {{"shuffle", "On"}, {true, rmAll}}, {{"loop", "Track"}, {true, rmOne}},
      {{"loop", "None"}, {true, rmOff}},  {{"shuffle", "Off"}, {false, rmOff}}};
  for (const auto& [command, state] : rows) {
    Playerctl(command[0], command[1]);
    EXPECT_EQ(form->Controller().Shuffle(), state.first) << command[0] << " " << command[1];
    EXPECT_EQ(form->Controller().Repeat(), state.second) << command[0] << " " << command[1];
  }
  EXPECT_EQ(IniFile(ini).ReadInteger("Setup", "Repeat", -1), rmOff);
  const std::string out = dir / "monitor.txt";
  const std::unique_ptr<test::Child> monitor = StartMonitor(out);
  ASSERT_TRUE(monitor);
  form->Item("Shuffle1")->trigger();
  form->Item("RepeatOne")->trigger();
  test::PollUntil([&] {
    QApplication::processEvents();
    return test::ReadFile(out).find("'LoopStatus': <'Track'>") != std::string::npos;
  }, 10000);
  monitor->Signal(SIGTERM);
  monitor->Wait();
  const std::string text = test::ReadFile(out);
  EXPECT_NE(text.find("'Shuffle': <true>"), std::string::npos) << text;
  EXPECT_NE(text.find("'LoopStatus': <'Track'>"), std::string::npos) << text;
  EXPECT_EQ(Playerctl("loop"), "Track");
}

// A change of track reaches the desktop as one change, not as a stop, a new track and a start.
TEST_F(MprisTest, ATrackChangeIsSignalledOnce) {
  const std::string out = dir / "monitor.txt";
  const std::unique_ptr<test::Child> monitor = StartMonitor(out);
  ASSERT_TRUE(monitor);
  form->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  // The volume marks the stretch between: 0.2 before the change, 0.4 after it.
  form->Item("N14")->trigger();
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.Next"});
  ASSERT_EQ(form->NowIndex(), 1);
  form->Item("N12")->trigger();
  ASSERT_TRUE(test::PollUntil([&] {
    QApplication::processEvents();
    return test::ReadFile(out).find("'Volume': <0.4") != std::string::npos;
  }, 10000)) << test::ReadFile(out);
  monitor->Signal(SIGTERM);
  monitor->Wait();
  const std::string text = test::ReadFile(out);
  const size_t from = text.find('\n', text.find("'Volume': <0.2"));
  const std::string between = text.substr(from, text.find("'Volume': <0.4") - from);
  size_t sent = 0;
  for (size_t at = between.find("PropertiesChanged"); at != std::string::npos; at = between.find("PropertiesChanged", at + 1))
    ++sent;
  EXPECT_EQ(sent, 2u) << "the track's change, and the mark's own" << text;
  EXPECT_NE(between.find("'xesam:url': <'file://" + dir / "two.mp3" + "'>"), std::string::npos) << text;
  EXPECT_EQ(between.find("PlaybackStatus"), std::string::npos) << text;
}

TEST_F(MprisTest, ANextFileOfTheSameFormatIsShownWhenItsFirstSampleIsHeard) {
  // Two files of one format follow each other in the open device: a, and b, a long copy of it
  // with another title.
  const std::string one = test::DataPath("samples/playlists/pl_one.mp3");
  test::CopyFile(one, dir / "a.mp3");
  test::LongCopy(one, dir / "b.mp3");
  std::string bytes = test::ReadFile(dir / "b.mp3");
  ASSERT_EQ(bytes.compare(bytes.size() - 128, 3, "TAG"), 0);
  bytes.replace(bytes.size() - 125, 30, std::string("Bee") + std::string(27, '\0'));
  test::WriteFile(dir / "b.mp3", bytes);
  // What the panel and the desktop show when the player asks for the file after the one it has
  // begun to decode, and when the next file is heard (b is then paused).
  std::vector<std::string> seen;
  const auto shown = [&](const std::string& step) {
    seen.push_back(step + ": " + std::to_string(form->NowIndex()) + " " + form->Title() + " " +
                   service->Metadata().value(QStringLiteral("xesam:url")).toString().toStdString());
  };
  TMP3Player& player = form->MP3Player1();
  const auto ask = player.OnGetNextFile;
  player.OnGetNextFile = [&](TMP3Player* sender) {
    shown("decoding");
    return ask(sender);
  };
  const auto change = player.OnTrackChange;
  player.OnTrackChange = [&](TMP3Player* sender) {
    change(sender);
    shown("heard");
    form->PausePlay();
  };
  form->DropFiles({dir / "a.mp3", dir / "b.mp3"});
  ASSERT_TRUE(test::PollUntil([&] {
    QApplication::processEvents();
    return !seen.empty() && seen.back().rfind("heard", 0) == 0;
  }, 10000));
  // Asked at the start and when b's decoding began: a is shown until b is heard.
  const std::string a = "decoding: 0 [PLAY]Playlist One(Playlist Tests) / Playlist Artist file://" + dir / "a.mp3";
  EXPECT_EQ(seen, (std::vector<std::string>{
                      a, a, "heard: 1 [PLAY]Bee(Playlist Tests) / Playlist Artist file://" + dir / "b.mp3"}));
  EXPECT_EQ(driver->Stats().opens, 1);
  EXPECT_EQ(Playerctl("metadata", "xesam:url"), "file://" + dir / "b.mp3");
  EXPECT_EQ(Playerctl("metadata", "mpris:length"), std::to_string(player.LengthMicroseconds()));
  // The position is b's own.
  EXPECT_LT(std::atof(Playerctl("position").c_str()), player.LengthMicroseconds() / 1e6);
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

// The position the desktop is told agrees with the sound. At a gapless join the notice that names
// the new track is followed by a Seeked of its own position (not the previous track's end); after
// a burst of Next calls Position moves on from the first read.
TEST_F(MprisTest, PositionNoticesAgreeWithTheSound) {
  test::CopyFile(test::DataPath("samples/playlists/pl_one.mp3"), dir / "a.mp3");
  const std::string out = dir / "monitor.txt";
  const std::unique_ptr<test::Child> monitor = StartMonitor(out);
  ASSERT_TRUE(monitor);
  // a, then one (a long copy of a): one is joined to a without a gap.
  const std::string named_b = "'xesam:url': <'file://" + dir / "one.mp3" + "'>";
  const std::string mark = "Player.Seeked (int64 ";
  form->DropFiles({dir / "a.mp3", dir / "one.mp3"});
  const int64_t a_length = form->MP3Player1().LengthMicroseconds();
  ASSERT_TRUE(test::PollUntil([&] {
    QApplication::processEvents();
    const std::string text = test::ReadFile(out);
    const size_t change = text.find(named_b);
    return change != std::string::npos && text.find(mark, change) != std::string::npos;
  }, 20000)) << test::ReadFile(out);
  const std::string text = test::ReadFile(out);
  const size_t seeked = text.find(mark, text.find(named_b));  // the first Seeked, after the change
  EXPECT_LT(std::atoll(text.c_str() + seeked + mark.size()), a_length / 4) << text;
  EXPECT_EQ(text.find(mark), seeked) << text;

  form->DropFiles({dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  for (int i = 0; i < 2; ++i) Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.Next"});
  EXPECT_EQ(form->NowIndex(), 2);
  std::vector<int64_t> positions;
  for (int i = 0; i < 3; ++i) positions.push_back(std::llround(std::atof(Playerctl("position").c_str()) * 1e6));
  EXPECT_TRUE(positions[0] < positions[1] && positions[1] < positions[2]) << testing::PrintToString(positions);
  monitor->Signal(SIGTERM);
  monitor->Wait();
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

// Position, Seek and SetPosition as playerctl uses them, and the panel's wheel: each move is
// signalled (Seeked), a request for another track or outside this one is ignored, and a seek
// past the end goes to the next track.
TEST_F(MprisTest, SeekingMovesThePositionAndIsSignalled) {
  const std::string can_seek[] = {"call", "--method", "org.freedesktop.DBus.Properties.Get",
                                  "org.mpris.MediaPlayer2.Player", "CanSeek"};
  EXPECT_EQ(Gdbus({std::begin(can_seek), std::end(can_seek)}), "(<false>,)");
  const std::string out = dir / "monitor.txt";
  const std::unique_ptr<test::Child> monitor = StartMonitor(out);
  ASSERT_TRUE(monitor);
  form->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  form->PausePlay();
  EXPECT_EQ(Gdbus({std::begin(can_seek), std::end(can_seek)}), "(<true>,)");
  const std::string track = Playerctl("metadata", "mpris:trackid");
  const int64_t length = form->MP3Player1().LengthMicroseconds();
  const auto set_position = [&](const std::string& id, const std::string& us) {
    Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.SetPosition", id, us});
  };
  const struct {
    std::function<void()> request;
    int64_t position_us;
    bool signalled;
  } cases[] = {
      {[&] { Playerctl("position", "10"); }, 10000000, true},
      {[&] { Playerctl("position", "5+"); }, 15000000, true},
      {[&] { Playerctl("position", "5-"); }, 10000000, true},
      {[&] { Playerctl("position", "100-"); }, 0, true},
      {[&] { set_position("/org/plumo/track/999", "20000000"); }, 0, false},
      {[&] { set_position(track.substr(1, track.size() - 2), std::to_string(length + 1)); }, 0, false},
      {[&] { set_position(track.substr(1, track.size() - 2), "20000000"); }, 20000000, true},
      {[&] {
         QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                           Qt::NoScrollPhase, false);
         QApplication::sendEvent(form.get(), &event);
       }, 15000000, true},
  };
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    c.request();
    EXPECT_EQ(std::llround(std::atof(Playerctl("position").c_str()) * 1e6), c.position_us) << expected.size();
    EXPECT_EQ(form->MP3Player1().Status(), mpsPaused);
    if (c.signalled) expected.push_back(std::to_string(c.position_us));
  }
  // Past the end: the next track.
  Playerctl("position", std::to_string(length / 1000000) + "+");
  EXPECT_EQ(form->NowIndex(), 1);
  const auto seeked = [&] {
    const std::string text = test::ReadFile(out);
    const std::string mark = "Player.Seeked (int64 ";
    std::vector<std::string> values;
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1))
      values.push_back(text.substr(at + mark.size(), text.find(',', at) - at - mark.size()));
    return values;
  };
  test::PollUntil([&] {
    QApplication::processEvents();
    return seeked().size() >= expected.size();
  }, 10000);
  // Whatever is late arrives before the monitor ends.
  form->Item("N14")->trigger();
  test::PollUntil([&] {
    QApplication::processEvents();
    return test::ReadFile(out).find("'Volume': <0.2") != std::string::npos;
  }, 10000);
  monitor->Signal(SIGTERM);
  monitor->Wait();
  const std::string text = test::ReadFile(out);
  EXPECT_EQ(seeked(), expected) << text;
  EXPECT_NE(text.find("'CanSeek': <true>"), std::string::npos) << text;
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

// A CUE sheet's tracks on the desktop: each its own title and exact length, the position counted
// from its start, Next and a seek past its end moving by tracks, and a track reached by playing on
// (decoding simply goes on in the file) shown when it is heard.
TEST_F(MprisTest, SheetTracksAreTracksOfTheirOwn) {
  if (!test::HaveProgram("sox") || !test::HaveProgram("lame")) GTEST_SKIP() << "sox or lame is missing";
  ASSERT_EQ(std::system(("cd '" + dir.Path() + "' && sox -n -r 44100 -c 2 -b 16 all.wav synth 12 sine 300-900 vol 0.5" +
                         " && lame --quiet -b 128 all.wav album.mp3").c_str()), 0);
  test::WriteFile(dir / "album.cue", "PERFORMER \"Band\"\nTITLE \"Album\"\nFILE \"album.mp3\" MP3\nTRACK 01 AUDIO\n"
                                     "TITLE \"One\"\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"Two\"\nINDEX 01 00:04:00\n"
                                     "TRACK 03 AUDIO\nTITLE \"Three\"\nPERFORMER \"Guest\"\nINDEX 01 00:08:00\n");
  form->DropFiles({dir / "album.cue"});
  form->PausePlay();
  const std::string format = "{{xesam:title}}|{{xesam:artist}}|{{xesam:album}}|{{mpris:length}}";
  const auto shown = [&] { return Playerctl("metadata", "--format=" + format) + " @" + Playerctl("position"); };
  const std::string next[] = {"call", "--method", "org.mpris.MediaPlayer2.Player.Next"};
  const struct {
    std::function<void()> request;
    const char* expected;
  } cases[] = {
      {[] {}, "One|Band|Album|4000000 @0.000000"},
      {[&] { Playerctl("position", "2.5"); }, "One|Band|Album|4000000 @2.500000"},
      {[&] { Gdbus({std::begin(next), std::end(next)}); form->PausePlay(); Playerctl("position", "0"); }, "Two|Band|Album|4000000 @0.000000"},
      {[&] { Playerctl("position", "1+"); }, "Two|Band|Album|4000000 @1.000000"},
      {[&] { Playerctl("position", "5+"); form->PausePlay(); Playerctl("position", "0"); }, "Three|Guest|Album|4000000 @0.000000"},
      {[&] { form->Controller().PlayEntry(0); form->PausePlay(); Playerctl("position", "3.9"); }, "One|Band|Album|4000000 @3.900000"},
  };
  for (const auto& c : cases) {
    c.request();
    EXPECT_EQ(shown(), c.expected) << testing::PrintToString(errors);
  }
  EXPECT_EQ(form->PlayList().size(), 3u);
  // Played on from 3.9 s into the first track: the second is heard in the same open device, its
  // position its own.
  const int opens = driver->Stats().opens;
  form->ResumePlay();
  ASSERT_TRUE(test::PollUntil([&] {
    QApplication::processEvents();
    return form->NowIndex() == 1;
  }, 10000));
  form->PausePlay();
  EXPECT_EQ(Playerctl("metadata", "xesam:title"), "Two");
  EXPECT_LT(std::atof(Playerctl("position").c_str()), 3.0);
  EXPECT_EQ(driver->Stats().opens, opens);
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

// Internet radio in the panel, from a real Icecast 2 station of the test's own on 127.0.0.1, fed
// by ffmpeg, its titles set through the server's admin interface.
class MprisRadioTest : public MprisTest {
 protected:
  void SetUp() override {
    if (!test::IcecastServer::Installed()) GTEST_SKIP() << "icecast2, ffmpeg or curl is not installed";
    MprisTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_TRUE(server.Start()) << server.Log();
    // 320 kbit/s: the server's burst and the read-ahead hold little time, so titles follow soon.
    test::LongCopy(test::DataPath("samples/l3_m1_48k_320_stereo.mp3"), dir / "station.mp3");
    ASSERT_TRUE(server.StartSource(dir / "station.mp3", "PLUMO Test Radio")) << server.Log();
  }
  // Runs the event loop until done() (or the hang guard).
  template <class F>
  static bool Until(F done) {
    return test::PollUntil([&] {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      return done();
    });
  }
  test::IcecastServer server;
};

// A station's .pls: the panel says it connects (without waiting for the network), plays the
// station under the .pls title and the station's name, follows the titles the station names on
// the display and the desktop (signalled), cannot seek, and ends by itself, saying so once, when
// the station's source goes.
TEST_F(MprisRadioTest, APlsEntryPlaysItsTitlesFollowTheStationAndItEndsWhenTheSourceGoes) {
  test::WriteFile(dir / "radio.pls", "[playlist]\nNumberOfEntries=1\nFile1=" + server.Url() + "\nTitle1=Loopback FM\n");
  const std::unique_ptr<test::Child> monitor = StartMonitor(dir / "monitor.txt");
  ASSERT_NE(monitor, nullptr);
  form->DropFiles({dir / "radio.pls"});
  EXPECT_TRUE(form->Connecting());
  EXPECT_EQ(form->Title(), "[PLAY]接続中… Loopback FM");
  ASSERT_TRUE(Until([&] { return form->MP3Player1().Status() == mpsPlaying; })) << testing::PrintToString(errors);
  EXPECT_FALSE(form->Connecting());
  EXPECT_EQ(form->MP3Player1().FileName(), server.Url());
  EXPECT_EQ(form->Title(), "[PLAY]Loopback FM(PLUMO Test Radio)");
  EXPECT_EQ(Playerctl("metadata", "title"), "Loopback FM");
  EXPECT_EQ(Playerctl("metadata", "xesam:url"), server.Url());
  EXPECT_EQ(Playerctl("status"), "Playing");
  EXPECT_EQ(Gdbus({"call", "--method", "org.freedesktop.DBus.Properties.Get", "org.mpris.MediaPlayer2.Player", "CanSeek"}),
            "(<false>,)");
  EXPECT_EQ(form->FileNameKeep1().Name(1), dir / "radio.pls");
  // The playlist keeps the title for the next start.
  EXPECT_EQ(IniFile(ini).ReadString("Option", "Title0", ""), "Loopback FM");

  const std::string second = "Zweiter Titel – Ünïcode";
  ASSERT_TRUE(server.SetTitle(second)) << server.Log();
  EXPECT_TRUE(Until([&] { return form->Title() == "[PLAY]" + second + "(PLUMO Test Radio)"; })) << form->Title();
  EXPECT_EQ(Playerctl("metadata", "title"), second);
  EXPECT_TRUE(Until([&] { return test::ReadFile(dir / "monitor.txt").find("Zweiter Titel") != std::string::npos; }))
      << test::ReadFile(dir / "monitor.txt");
  // The time goes on; there is no length.
  EXPECT_TRUE(Until([&] { return form->MP3Player1().Position() >= 1000; }));
  EXPECT_EQ(form->MP3Player1().LengthMicroseconds(), 0);
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);

  server.KillSource();
  ASSERT_TRUE(Until([&] { return form->Title() == "*** PLUMO ***"; })) << form->Title();
  EXPECT_EQ(form->PlayState(), psStopped);
  EXPECT_EQ(Playerctl("status"), "Stopped");
  ASSERT_EQ(errors.size(), 1u) << testing::PrintToString(errors);
  EXPECT_NE(errors[0].find(server.Url()), std::string::npos) << errors[0];
  monitor->Signal(SIGTERM);
  monitor->Wait();
}

// OpenUri of a station from the desktop plays it and keeps it in the history; a pick from the
// history plays it again. A station the server does not have is said once. While a station
// connects the desktop sees the panel playing.
TEST_F(MprisRadioTest, OpenUriPlaysAStationAndTheHistoryKeepsIt) {
  Gdbus({"call", "--method", "org.mpris.MediaPlayer2.Player.OpenUri", server.Url()});
  ASSERT_TRUE(Until([&] { return form->MP3Player1().Status() == mpsPlaying; })) << testing::PrintToString(errors);
  EXPECT_EQ(form->PlayList(), (std::vector<std::string>{server.Url()}));
  EXPECT_EQ(form->FileNameKeep1().Name(1), server.Url());
  form->DropFiles({dir / "two.mp3"});
  form->FileNameKeep1().Item(2)->trigger();
  EXPECT_TRUE(form->Connecting());
  ASSERT_TRUE(Until([&] { return form->MP3Player1().Status() == mpsPlaying; })) << testing::PrintToString(errors);
  EXPECT_EQ(form->MP3Player1().FileName(), server.Url());

  // No such station on the server: said once (with the server's answer), and the file after it plays.
  form->OpenFiles({server.Url("/none.mp3"), dir / "two.mp3"});
  ASSERT_TRUE(Until([&] { return form->MP3Player1().FileName() == dir / "two.mp3"; })) << testing::PrintToString(errors);
  EXPECT_EQ(form->MP3Player1().Status(), mpsPlaying);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("404"), std::string::npos) << errors[0];
  errors.clear();

  // While a station connects, the desktop sees the panel playing.
  const test::SilentServer silent;
  form->OpenFiles({silent.Address() + "/live"});
  EXPECT_TRUE(form->Connecting());
  EXPECT_EQ(Playerctl("status"), "Playing");
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

}  // namespace
}  // namespace plumo
