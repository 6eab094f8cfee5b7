// The program itself: one instance at a time, closing on the session's signals, and on a real X
// server with a real notification area (Xvfb and trayer, started here).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>

#include "icecast_server.h"
#include "ini_file.h"
#include "test_support.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;
using platform::IniFile;

// A copy of the program in a folder of its own, so its settings file lies beside it; its lock
// lives in the same folder.
class Program {
 public:
  Program() {
    test::CopyFile(PLUMO_PANEL_BINARY, Binary());
    ::chmod(Binary().c_str(), 0755);
  }
  std::string Binary() const { return dir / "plumo"; }
  std::string Settings() const { return dir / "plumo.INI"; }
  std::string LockFile() const { return dir / "PLUMO.lock"; }
  std::map<std::string, std::string> Env(const std::string& display = {}) const {
    std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", dir.Path()}, {"HOME", dir.Path()}};
    for (const auto& [k, v] : ExtraEnv) env[k] = v;
    if (display.empty()) {
      env["QT_QPA_PLATFORM"] = "offscreen";
    } else {
      env["QT_QPA_PLATFORM"] = "xcb";
      env["DISPLAY"] = display;
    }
    // No sound server in a test: SDL's silent device plays at the real-time rate.
    env["SDL_AUDIODRIVER"] = "dummy";
    // No session bus unless a test starts one.
    env["DBUS_SESSION_BUS_ADDRESS"] = Bus;
    // In a sanitizer build: leaks of system libraries are not the program's.
    env["LSAN_OPTIONS"] = std::string("suppressions=") + PLUMO_LSAN_SUPPRESSIONS;
    return env;
  }
  std::unique_ptr<test::Child> Start(const std::string& display = {}) const {
    return std::make_unique<test::Child>(std::vector<std::string>{Binary()}, Env(display), dir / "output.txt");
  }
  // Whether some process holds the instance lock.
  bool LockHeld() const {
    const int fd = ::open(LockFile().c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
  }
  std::string Output() const { return test::ReadFile(dir / "output.txt"); }
  // The program's arguments after its name.
  std::unique_ptr<test::Child> Start(const std::string& display, const std::vector<std::string>& files,
                                     const std::string& output = "output.txt") const {
    std::vector<std::string> argv{Binary()};
    argv.insert(argv.end(), files.begin(), files.end());
    return std::make_unique<test::Child>(argv, Env(display), dir / output);
  }

  test::TempDir dir;
  std::string Bus;
  std::map<std::string, std::string> ExtraEnv;
};

// --help and --version answer and start nothing, also beside a running PLUMO; an unknown option
// is said in one line, with status 2.
TEST(ProgramTest, HelpVersionAndUnknownOptionsStartNothing) {
  Program program;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string output;
  } rows[] = {{{"--help"}, 0, "usage: plumo [--enqueue] [FILE|FOLDER|PLAYLIST|URL...]\n"},
              {{"-V"}, 0, "PLUMO 0."},
              {{"a.mp3", "--bogus"}, 2, "plumo: unknown option '--bogus' (plumo --help lists them)\n"}};
  std::unique_ptr<test::Child> first;
  for (const bool running : {false, true}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(row.args.back() + (running ? " beside a running one" : ""));
      auto child = program.Start({}, row.args, "option.txt");
      EXPECT_EQ(child->Wait(), row.status);
      const std::string out = test::ReadFile(program.dir / "option.txt");
      EXPECT_EQ(out.substr(0, row.output.size()), row.output);
      if (row.status == 2) {
        EXPECT_EQ(out, row.output) << "one line";
      }
      EXPECT_FALSE(fs::exists(program.Settings())) << "something started";
    }
    if (running) break;
    first = program.Start();
    ASSERT_TRUE(test::PollUntil([&] { return program.LockHeld() || !first->Running(); }));
  }
  EXPECT_TRUE(first->Running());
  first->Signal(SIGTERM);
  EXPECT_EQ(first->Wait(), 0);
}

TEST(ProgramTest, SecondStartEndsAtOnceAndLeavesTheFirstAlone) {
  Program program;
  auto first = program.Start();
  ASSERT_TRUE(test::PollUntil([&] { return program.LockHeld() || !first->Running(); }));
  ASSERT_TRUE(first->Running()) << program.Output();
  test::Child second({program.Binary()}, program.Env());
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_TRUE(first->Running());
  EXPECT_FALSE(fs::exists(program.Settings())) << "the second start wrote settings";
  first->Signal(SIGTERM);
  EXPECT_EQ(first->Wait(), 0);
  EXPECT_FALSE(program.LockHeld());
}

// A lock that cannot be made is said; it is not taken for another instance running.
TEST(ProgramTest, ALockThatCannotBeMadeIsSaid) {
  Program program;
  program.ExtraEnv["XDG_RUNTIME_DIR"] = program.dir / "missing";
  auto run = program.Start();
  EXPECT_EQ(run->Wait(), 1);
  EXPECT_EQ(program.Output(), "plumo: cannot make the lock file " + program.dir / "missing/PLUMO.lock" +
                                  ": No such file or directory\n");
}

TEST(ProgramTest, SessionEndAndCtrlCCloseAsExitDoes) {
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    Program program;
    auto run = program.Start();
    ASSERT_TRUE(test::PollUntil([&] { return program.LockHeld() || !run->Running(); }));
    run->Signal(signal);
    EXPECT_EQ(run->Wait(), 0) << "signal " << signal << ": " << program.Output();
    const IniFile ini(program.Settings());
    EXPECT_EQ(ini.ReadInteger("Setup", "Left", 0), 317) << "signal " << signal;
    EXPECT_EQ(ini.ReadInteger("Option", "FileCount", -1), 0);
    EXPECT_TRUE(ini.ValueExists("KeepFileNames", "FileName16"));
    EXPECT_FALSE(ini.ValueExists("Setup", "Visible"));
  }
}

// An X server of its own (the display number it picked) and, on request, a notification area.
class Desktop {
 public:
  Desktop() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    FServer = std::make_unique<test::Child>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "800x600x24",
                                 "-nolisten", "tcp", "-noreset"},
        std::map<std::string, std::string>{}, std::string(), fds[1]);
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) FDisplay = ":" + number;
  }
  const std::string& Display() const { return FDisplay; }
  void StartTray() {
    FTray = std::make_unique<test::Child>(
        std::vector<std::string>{TrayerPath(), "--edge", "top", "--align", "right", "--widthtype", "pixel",
                                 "--width", "120", "--height", "24", "--transparent", "false"},
        std::map<std::string, std::string>{{"DISPLAY", FDisplay}});
  }
  // The notification area goes away.
  void StopTray() { FTray.reset(); }
  static std::string TrayerPath() { return "/usr/bin/trayer"; }
  std::string Tree() const { return test::Capture("DISPLAY=" + FDisplay + " xwininfo -root -tree 2>/dev/null"); }
  // The panel's window: "PLUMO" (or "Title – Artist – PLUMO") of class plumo, 176 x 32 (at a
  // scale of 1).
  std::optional<std::string> PanelWindow(const std::string& size = "176x32") const {
    std::istringstream tree(Tree());
    std::string line;
    while (std::getline(tree, line)) {
      if (line.find("PLUMO\": (\"plumo\" \"plumo\")  " + size) == std::string::npos) continue;
      std::istringstream words(line);
      std::string id;
      words >> id;
      return id;
    }
    return std::nullopt;
  }
  // Whether a window of the program sits inside trayer's panel.
  bool IconInTray() const {
    const std::string tree = Tree();
    const size_t at = tree.find("(\"panel\" \"trayer\")");
    return at != std::string::npos && tree.find("\"PLUMO\": (\"plumo\" \"plumo\")  22x22", at) != std::string::npos;
  }
  bool Viewable(const std::string& window) const {
    return test::Capture("DISPLAY=" + FDisplay + " xwininfo -id " + window).find("IsViewable") != std::string::npos;
  }
  // Presses the left button at x, y, holds it until released() (or the hang guard) and lets go.
  template <class F>
  void Press(int x, int y, F released) const {
    const std::string xdo = "DISPLAY=" + FDisplay + " xdotool ";
    test::Capture(xdo + "mousemove " + std::to_string(x) + " " + std::to_string(y) + " mousedown 1");
    test::PollUntil(released);
    test::Capture(xdo + "mouseup 1");
  }
  void Click(int x, int y) const {
    test::Capture("DISPLAY=" + FDisplay + " xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) +
                  " click 1");
  }
  // Unmaps the window and maps it again, as a desktop may when it changes workspaces.
  void Remap(const std::string& window) const {
    test::Capture("DISPLAY=" + FDisplay + " xdotool windowunmap --sync " + window + " windowmap --sync " + window);
  }
  QImage Screenshot(const std::string& window, const std::string& file) const {
    test::Capture("DISPLAY=" + FDisplay + " import -window " + window + " " + file);
    return QImage(QString::fromStdString(file));
  }

 private:
  std::unique_ptr<test::Child> FServer;
  std::unique_ptr<test::Child> FTray;
  std::string FDisplay;
};

bool HaveDesktopTools() {
  return fs::exists("/usr/bin/Xvfb") && fs::exists(Desktop::TrayerPath()) && test::HaveProgram("xwininfo") &&
         test::HaveProgram("import") && test::HaveProgram("xdotool");
}

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_THREAD__)
    // Qt is not built for ThreadSanitizer: on X11 its own D-Bus and event threads hand posted
    // events over through locks the checker cannot see. The panel's threads are checked by the
    // in-process panel tests.
    GTEST_SKIP() << "the program on X11 is not checked under ThreadSanitizer";
#endif
    if (!HaveDesktopTools())
      GTEST_SKIP() << "Xvfb, trayer, xwininfo, import or xdotool is missing (scripts/install-deps.sh)";
    ASSERT_FALSE(desktop.Display().empty()) << "Xvfb did not start";
  }
  Desktop desktop;
  Program program;
};

int DarkPixels(const QImage& image, QRect area) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) n += qGray(image.pixel(x, y)) < 70;
  return n;
}

TEST_F(DesktopTest, ShownPanelWithTrayIcon) {
  desktop.StartTray();
  test::WriteFile(program.Settings(), "[Setup]\nVisible=1\n");
  auto run = program.Start(desktop.Display());
  ASSERT_TRUE(test::PollUntil([&] { return desktop.IconInTray() || !run->Running(); }))
      << "no tray icon\n" << desktop.Tree() << program.Output();
  std::optional<std::string> window;
  ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow()) && desktop.Viewable(*window); }))
      << desktop.Tree();
  // Let the first ticks draw the display.
  QImage shot;
  ASSERT_TRUE(test::PollUntil([&] {
    shot = desktop.Screenshot(*window, program.dir / "panel.png");
    return !shot.isNull() && DarkPixels(shot, QRect(8, 9, 40, 16)) > 20;
  })) << "the display shows no time";
  EXPECT_EQ(shot.size(), QSize(176, 32));
  // The background around the display and the buttons.
  const QImage background(QString::fromStdString(std::string(PLUMO_ARTWORK_DIR) + "/background.png"));
  ASSERT_EQ(background.size(), QSize(176, 32));
  for (QPoint p : {QPoint(0, 0), QPoint(3, 30), QPoint(60, 3), QPoint(131, 20), QPoint(175, 31), QPoint(100, 28)})
    EXPECT_EQ(QColor(shot.pixel(p)), QColor(background.pixel(p))) << p.x() << "," << p.y();
  // The amber display with the time "00:00" on the left and the title beside it.
  EXPECT_EQ(QColor(shot.pixel(127, 24)), QColor(204, 163, 0));
  EXPECT_GT(DarkPixels(shot, QRect(8, 9, 40, 16)), 20);
  EXPECT_GT(DarkPixels(shot, QRect(56, 9, 72, 16)), 20);
  if (const char* keep = std::getenv("PLUMO_KEEP_SCREENSHOT")) shot.save(QString::fromLocal8Bit(keep));

  run->Signal(SIGTERM);
  EXPECT_EQ(run->Wait(), 0) << program.Output();
  EXPECT_EQ(IniFile(program.Settings()).ReadInteger("Setup", "Visible", 0), 1);
}

// At a device pixel ratio of 2 the panel is drawn from the twice-sized artwork, and the display's
// text is drawn at that resolution, not scaled up from the small one.
TEST_F(DesktopTest, HiDpiScreenShowsTheTwiceSizedArtworkAndCrispText) {
  program.ExtraEnv = {{"QT_SCALE_FACTOR", "2"}};
  test::WriteFile(program.Settings(), "[Setup]\nVisible=1\nLeft=20\nTop=20\n");
  auto run = program.Start(desktop.Display());
  std::optional<std::string> window;
  ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow("352x64")) && desktop.Viewable(*window); }))
      << desktop.Tree() << program.Output();
  QImage shot;
  ASSERT_TRUE(test::PollUntil([&] {
    shot = desktop.Screenshot(*window, program.dir / "panel.png");
    return !shot.isNull() && DarkPixels(shot, QRect(16, 18, 80, 32)) > 80 && DarkPixels(shot, QRect(112, 18, 144, 32)) > 80;
  })) << "the display shows no time or title";
  ASSERT_EQ(shot.size(), QSize(352, 64));
  const QImage background(QString::fromStdString(std::string(PLUMO_ARTWORK_DIR) + "/background@2x.png"));
  ASSERT_EQ(background.size(), QSize(352, 64));
  for (QPoint p : {QPoint(0, 0), QPoint(1, 1), QPoint(6, 60), QPoint(120, 6), QPoint(262, 40), QPoint(351, 63),
                   QPoint(200, 57), QPoint(11, 14)})
    EXPECT_EQ(QColor(shot.pixel(p)), QColor(background.pixel(p))) << p.x() << "," << p.y();
  // Text scaled up from 1x would consist of 2 x 2 blocks of one colour each.
  int mixed_blocks = 0;
  for (int y = 18; y < 50; y += 2)
    for (int x = 16; x < 256; x += 2) {
      const QRgb c = shot.pixel(x, y);
      mixed_blocks += shot.pixel(x + 1, y) != c || shot.pixel(x, y + 1) != c || shot.pixel(x + 1, y + 1) != c;
    }
  EXPECT_GT(mixed_blocks, 20);
  if (const char* keep = std::getenv("PLUMO_KEEP_SCREENSHOT")) shot.save(QString::fromLocal8Bit(keep));
  run->Signal(SIGTERM);
  EXPECT_EQ(run->Wait(), 0) << program.Output();
}

// The display's time, as the panel shows it.
QImage TimeOf(const QImage& shot) { return shot.copy(8, 9, 40, 16); }

void Idle(int ms) {
  const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  test::PollUntil([&] { return std::chrono::steady_clock::now() > later; });
}

// The display's changes reach the screen at once, past what Qt keeps of the window: a panel that
// is mapped again shows the display as it is, not as it was when Qt last painted all of it.
TEST_F(DesktopTest, PanelMappedAgainShowsTheDisplayAsItIs) {
  test::WriteFile(program.Settings(), "[Setup]\nVisible=1\nLeft=20\nTop=20\n");
  test::LongCopy(test::DataPath("samples/playlists/pl_one.mp3"), program.dir / "one.mp3");
  auto run = program.Start(desktop.Display(), {program.dir / "one.mp3"});
  std::optional<std::string> window;
  ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow()) && desktop.Viewable(*window); }))
      << desktop.Tree() << program.Output();
  // Playing: the time moves on from what it showed first.
  QImage first;
  ASSERT_TRUE(test::PollUntil([&] {
    first = desktop.Screenshot(*window, program.dir / "first.png");
    return !first.isNull() && DarkPixels(first, QRect(8, 9, 40, 16)) > 20;
  })) << "the display shows no time";
  ASSERT_TRUE(test::PollUntil([&] {
    const QImage shot = desktop.Screenshot(*window, program.dir / "later.png");
    return !shot.isNull() && TimeOf(shot) != TimeOf(first);
  })) << "the time does not move";
  // The play button pauses: the time stands still from then on.
  desktop.Click(20 + 145, 20 + 17);
  QImage paused;
  ASSERT_TRUE(test::PollUntil([&] {
    const QImage before = desktop.Screenshot(*window, program.dir / "before.png");
    Idle(1100);
    paused = desktop.Screenshot(*window, program.dir / "paused.png");
    return !before.isNull() && !paused.isNull() && TimeOf(before) == TimeOf(paused);
  })) << "the time goes on after the click";

  desktop.Remap(*window);
  QImage shot;
  EXPECT_TRUE(test::PollUntil([&] {
    shot = desktop.Screenshot(*window, program.dir / "mapped.png");
    return desktop.Viewable(*window) && !shot.isNull() && TimeOf(shot) == TimeOf(paused);
  })) << "the mapped panel shows another time";
  if (const char* keep = std::getenv("PLUMO_KEEP_SCREENSHOT")) shot.save(QString::fromLocal8Bit(keep));
  run->Signal(SIGTERM);
  EXPECT_EQ(run->Wait(), 0) << program.Output();
}

TEST_F(DesktopTest, FirstStartHidesThePanelBehindTheTrayIcon) {
  desktop.StartTray();
  auto run = program.Start(desktop.Display());
  ASSERT_TRUE(test::PollUntil([&] { return desktop.IconInTray() || !run->Running(); }))
      << "no tray icon\n" << desktop.Tree() << program.Output();
  // The panel's window exists (the program showed it) and is hidden from the first tick on.
  std::optional<std::string> window;
  ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow()) && !desktop.Viewable(*window); }))
      << desktop.Tree();
  // And stays hidden while the timer ticks on (and rests, with nothing to do).
  const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  test::PollUntil([&] { return std::chrono::steady_clock::now() > later; });
  EXPECT_FALSE(desktop.Viewable(*window));
  EXPECT_TRUE(run->Running());
  // Without the notification area the panel is the only way in: it shows again.
  desktop.StopTray();
  EXPECT_TRUE(test::PollUntil([&] { return desktop.Viewable(*window); })) << desktop.Tree();
  run->Signal(SIGTERM);
  EXPECT_EQ(run->Wait(), 0) << program.Output();
}

TEST_F(DesktopTest, WithoutANotificationAreaThePanelStaysShown) {
  auto run = program.Start(desktop.Display());
  std::optional<std::string> window;
  ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow()) && desktop.Viewable(*window); }))
      << desktop.Tree() << program.Output();
  // Still shown a while later, after the timer had its say many times.
  QImage shot;
  ASSERT_TRUE(test::PollUntil([&] {
    shot = desktop.Screenshot(*window, program.dir / "panel.png");
    return !shot.isNull() && DarkPixels(shot, QRect(56, 9, 72, 16)) > 20;
  }));
  EXPECT_TRUE(desktop.Viewable(*window));
  EXPECT_EQ(shot.size(), QSize(176, 32));
  run->Signal(SIGTERM);
  EXPECT_EQ(run->Wait(), 0) << program.Output();
}

// The language comes from the program's environment: the menu as the user sees it, and the about
// box it opens under its title in that language.
TEST_F(DesktopTest, MenuAndAboutBoxSpeakTheLanguageOfTheEnvironment) {
  const struct {
    std::map<std::string, std::string> env;
    std::string about;
  } languages[] = {{{{"LANG", "ja_JP.UTF-8"}}, "About PLUMO"},
                   {{{"LANG", "en_US.UTF-8"}}, "About PLUMO"},
                   {{{"LANG", "de_DE.UTF-8"}}, "Über PLUMO"},
                   {{{"LANG", "de_DE.UTF-8"}, {"LANGUAGE", "fr:de"}}, "À propos de PLUMO"}};
  std::vector<QImage> menus;
  for (const auto& l : languages) {
    program.ExtraEnv = {{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}};
    for (const auto& [k, v] : l.env) program.ExtraEnv[k] = v;
    SCOPED_TRACE(l.about);
    test::WriteFile(program.Settings(), "[Setup]\nVisible=1\nLeft=20\nTop=20\n");
    auto run = program.Start(desktop.Display());
    std::optional<std::string> window;
    ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow()) && desktop.Viewable(*window); }))
        << desktop.Tree() << program.Output();
    // The right button on the panel's picture opens the menu: the program's one other window.
    std::string menu;
    test::Capture("DISPLAY=" + desktop.Display() + " xdotool mousemove --sync 60 30 click 3");
    ASSERT_TRUE(test::PollUntil([&] {
      std::istringstream tree(desktop.Tree());
      for (std::string line; std::getline(tree, line);)
        if (line.find("\"PLUMO\": (\"plumo\" \"plumo\")") != std::string::npos &&
            line.find(" 176x32+") == std::string::npos)
          std::istringstream(line) >> menu;
      return !menu.empty();
    })) << desktop.Tree();
    QImage shot;
    ASSERT_TRUE(test::PollUntil([&] {
      shot = desktop.Screenshot(menu, program.dir / "menu.png");
      return !shot.isNull() && DarkPixels(shot, QRect(0, 0, shot.width(), 20)) > 20;
    })) << "the menu shows no text";
    menus.push_back(shot);
    // Its first item opens the about box.
    desktop.Click(60 + 40, 30 + 12);
    EXPECT_TRUE(test::PollUntil([&] {
      return desktop.Tree().find("\"" + l.about + "\": (\"plumo\" \"plumo\")  400x104") != std::string::npos;
    })) << desktop.Tree();
    test::Capture("DISPLAY=" + desktop.Display() + " xdotool key Escape");
    run->Signal(SIGTERM);
    EXPECT_EQ(run->Wait(), 0) << program.Output();
  }
  // Each language's menu looks different, the same menu in another language.
  for (size_t i = 0; i < menus.size(); ++i)
    for (size_t j = i + 1; j < menus.size(); ++j) EXPECT_NE(menus[i], menus[j]) << i << " " << j;
  if (const char* keep = std::getenv("PLUMO_KEEP_SCREENSHOT")) menus.back().save(QString::fromLocal8Bit(keep));
}

TEST_F(DesktopTest, HoldingTheStopButtonEndsTheProgram) {
  test::WriteFile(program.Settings(), "[Setup]\nVisible=1\nLeft=200\nTop=300\n");
  auto run = program.Start(desktop.Display());
  std::optional<std::string> window;
  ASSERT_TRUE(test::PollUntil([&] { return (window = desktop.PanelWindow()) && desktop.Viewable(*window); }))
      << desktop.Tree() << program.Output();
  // A short press on the stop button only stops.
  desktop.Press(200 + 154 + 9, 300 + 8 + 9, [] { return true; });
  const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  test::PollUntil([&] { return std::chrono::steady_clock::now() > later; });
  EXPECT_TRUE(run->Running());
  // Held: after ten ticks the program ends, its settings saved.
  desktop.Press(200 + 154 + 9, 300 + 8 + 9, [&] { return !run->Running(); });
  EXPECT_EQ(run->Wait(), 0) << program.Output();
  const IniFile ini(program.Settings());
  EXPECT_EQ(ini.ReadInteger("Setup", "Left", 0), 200);
  EXPECT_TRUE(ini.ValueExists("KeepFileNames", "FileName1"));
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// What playerctl says about the running program on bus.
std::string Playerctl(const std::string& bus, const std::string& args) {
  std::string out = test::Capture("DBUS_SESSION_BUS_ADDRESS='" + bus + "' playerctl --player=plumo " + args + " 2>&1");
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// "Open with PLUMO" from a file manager: plumo FILE. With no instance running the files are taken
// in at the start; with one running they are handed to it and the second start ends.
// What a screen reader sees over AT-SPI: the window named after the track, the display's text
// (state word and title, the play time as its description) following a pause and a track
// change, the two buttons by name with a press action, in the user's language.
TEST_F(DesktopTest, ScreenReadersSeeTheTrackTheDisplayAndTheButtons) {
  if (!test::SessionBus::Available() || !fs::exists("/usr/libexec/at-spi-bus-launcher") ||
      test::Capture("/usr/bin/python3 -c 'import pyatspi' 2>&1") != "")
    GTEST_SKIP() << "dbus-daemon, at-spi2-core or python3-pyatspi is missing (scripts/install-deps.sh)";
  test::SessionBus bus;
  program.Bus = bus.Address();
  program.ExtraEnv["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
  test::LongCopy(test::DataPath("samples/playlists/pl_one.mp3"), program.dir / "one.mp3");
  test::LongCopy(test::DataPath("samples/playlists/pl_two.mp3"), program.dir / "two.mp3");
  const std::string dump = "DBUS_SESSION_BUS_ADDRESS='" + bus.Address() + "' /usr/bin/python3 " + PLUMO_SOURCE_DIR +
                           "/tests/app/atspi_dump.py";
  for (const char* language : {"en", "de"}) {
    SCOPED_TRACE(language);
    program.ExtraEnv["LANGUAGE"] = language;
    auto run = program.Start(desktop.Display(), {program.dir / "one.mp3"});
    const std::string play = std::string(language) == "en" ? "Play/Pause" : "Wiedergabe/Pause";
    std::string tree;
    // Once the first second is drawn, the display also has its time.
    ASSERT_TRUE(test::PollUntil([&] { return (tree = test::Capture(dump)).find("\" [00:") != std::string::npos; }))
        << tree << program.Output();
    EXPECT_NE(tree.find("frame \"Playlist One – Playlist Artist – PLUMO\""), std::string::npos) << tree;
    EXPECT_NE(tree.find("push button \"" + play + "\" {Press}"), std::string::npos) << tree;
    EXPECT_NE(tree.find(std::string("push button \"") + (std::string(language) == "en" ? "Stop" : "Stopp") +
                        "\" {Press}"),
              std::string::npos)
        << tree;
    const std::string playing = std::string(language) == "en" ? "PLAY, " : "WIEDERGABE, ";
    EXPECT_NE(tree.find("label \"" + playing + "Playlist One(Playlist Tests) / Playlist Artist\" [00:0"),
              std::string::npos)
        << tree;
    // Pressed by the screen reader, the play button pauses.
    tree = test::Capture(dump + " press '" + play + "'");
    EXPECT_NE(tree.find(std::string("label \"") + "PAUSE, "), std::string::npos)
        << tree;
    // The next track: the display's text and the window follow.
    auto second = program.Start(desktop.Display(), {program.dir / "two.mp3"}, "second.txt");
    EXPECT_EQ(second->Wait(), 0);
    EXPECT_TRUE(test::PollUntil([&] {
      tree = test::Capture(dump);
      return tree.find(playing + "Playlist Two") != std::string::npos &&
             tree.find("frame \"Playlist Two – Playlist Artist – PLUMO\"") != std::string::npos;
    }))
        << tree;
    run->Signal(SIGTERM);
    EXPECT_EQ(run->Wait(), 0) << program.Output();
  }
}

TEST_F(DesktopTest, FileArgumentsStartPlayingAndReachTheRunningInstance) {
  if (!test::SessionBus::Available() || !test::HaveProgram("playerctl"))
    GTEST_SKIP() << "dbus-daemon or playerctl is missing (scripts/install-deps.sh)";
  test::SessionBus bus;
  ASSERT_FALSE(bus.Address().empty());
  program.Bus = bus.Address();
  fs::create_directories(program.dir / "Album");
  test::LongCopy(test::DataPath("samples/playlists/pl_one.mp3"), program.dir / "Album/01 One.mp3");
  test::LongCopy(test::DataPath("samples/playlists/pl_two.mp3"), program.dir / "Album/02 Two.mp3");
  test::LongCopy(test::DataPath("samples/playlists/sub/pl_three.mp3"), program.dir / "three.mp3");

  auto first = program.Start(desktop.Display(), {program.dir / "Album"});
  ASSERT_TRUE(test::PollUntil([&] { return Playerctl(bus.Address(), "status") == "Playing" || !first->Running(); }))
      << Playerctl(bus.Address(), "status") << "\n" << program.Output();
  EXPECT_EQ(Playerctl(bus.Address(), "metadata xesam:url"), "file://" + program.dir / "Album/01%20One.mp3");

  // A second start with a file: handed over, the second ends with 0, the first plays it.
  auto second = program.Start(desktop.Display(), {program.dir / "three.mp3"}, "second.txt");
  EXPECT_EQ(second->Wait(), 0) << test::ReadFile(program.dir / "second.txt");
  ASSERT_TRUE(test::PollUntil(
      [&] { return Playerctl(bus.Address(), "metadata xesam:url") == "file://" + program.dir / "three.mp3"; }))
      << Playerctl(bus.Address(), "metadata xesam:url");
  EXPECT_EQ(Playerctl(bus.Address(), "status"), "Playing");
  EXPECT_TRUE(first->Running());
  const IniFile ini(program.Settings());
  EXPECT_EQ(ini.ReadInteger("Option", "FileCount", 0), 1);
  EXPECT_EQ(ini.ReadString("Option", "File0", ""), program.dir / "three.mp3");

  // Without arguments a second start still ends at once and changes nothing.
  auto third = program.Start(desktop.Display(), {}, "third.txt");
  EXPECT_EQ(third->Wait(), 0);
  EXPECT_EQ(Playerctl(bus.Address(), "metadata xesam:url"), "file://" + program.dir / "three.mp3");

  // Nothing playable handed over: not taken, the later start ends with 1; the first plays on
  // with its playlist.
  test::WriteFile(program.dir / "song.flac", "fLaC");
  auto fourth = program.Start(desktop.Display(), {program.dir / "song.flac", program.dir / "typo.mp3"}, "fourth.txt");
  EXPECT_EQ(fourth->Wait(), 1) << test::ReadFile(program.dir / "fourth.txt");
  EXPECT_EQ(Playerctl(bus.Address(), "status"), "Playing");
  EXPECT_EQ(Playerctl(bus.Address(), "metadata xesam:url"), "file://" + program.dir / "three.mp3");
  const IniFile kept(program.Settings());
  EXPECT_EQ(kept.ReadInteger("Option", "FileCount", 0), 1);
  EXPECT_EQ(kept.ReadString("Option", "File0", ""), program.dir / "three.mp3");

  // A station's address (plumo URL): handed over as it was given; the first plays the station.
  std::unique_ptr<test::IcecastServer> station;
  if (test::IcecastServer::Installed()) {
    station = std::make_unique<test::IcecastServer>();
    ASSERT_TRUE(station->Start()) << station->Log();
    ASSERT_TRUE(station->StartSource(program.dir / "three.mp3")) << station->Log();
    auto fifth = program.Start(desktop.Display(), {station->Url()}, "fifth.txt");
    EXPECT_EQ(fifth->Wait(), 0) << test::ReadFile(program.dir / "fifth.txt");
    EXPECT_TRUE(test::PollUntil([&] { return Playerctl(bus.Address(), "metadata xesam:url") == station->Url(); }))
        << Playerctl(bus.Address(), "metadata xesam:url") << "\n" << program.Output();
    EXPECT_EQ(Playerctl(bus.Address(), "status"), "Playing");
    EXPECT_EQ(IniFile(program.Settings()).ReadString("Option", "File0", ""), station->Url());
  }

  first->Signal(SIGTERM);
  EXPECT_EQ(first->Wait(), 0) << program.Output();
  EXPECT_FALSE(fs::exists(program.dir / "PLUMO.sock")) << "the socket goes with the program";
}

}  // namespace
}  // namespace plumo
