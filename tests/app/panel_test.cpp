#include "panel_form.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QMessageBox>
#include <QTest>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QKeySequence>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "file_stream.h"
#include "forms.h"
#include "icecast_server.h"
#include "ini_file.h"
#include "panel_display.h"
#include "instance_channel.h"
#include "simulated_wave_device.h"
#include "wav_file_wave_device.h"
#include "test_support.h"

namespace plumo {
namespace {

namespace fs = std::filesystem;
using platform::IniFile;

// The keys a settings file holds, as "Section/Key" in file order.
std::vector<std::string> Keys(const std::string& file) {
  std::vector<std::string> keys;
  std::string section;
  std::istringstream in(test::ReadFile(file));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == '[') section = line.substr(1, line.find(']') - 1);
    else keys.push_back(section + "/" + line.substr(0, line.find('=')));
  }
  return keys;
}

class PanelTest : public ::testing::Test {
 protected:
  PanelTest() {
    ini = dir / "plumo.INI";
    fs::create_directory(dir / "sub");
    test::CopyFile(test::DataPath("samples/playlists/pl_one.mp3"), dir / "one.mp3");
    test::CopyFile(test::DataPath("samples/playlists/pl_two.mp3"), dir / "two.mp3");
    test::CopyFile(test::DataPath("samples/playlists/sub/pl_three.mp3"), dir / "sub/three.mp3");
  }

  std::unique_ptr<TPlatform> Start(bool real_time = true) {
    platform::SimulatedWaveOptions options;
    options.real_time = real_time;
    driver = platform::MakeSimulatedWaveDriver(options);
    auto p = std::make_unique<TPlatform>(driver, ini, [this](const std::exception_ptr& e) {
      errors.push_back(ExceptionMessage(e));
    });
    // The tests drive the ticks themselves.
    p->Timer1().stop();
    return p;
  }
  static void Ticks(TPlatform& p, int n) {
    for (int i = 0; i < n; ++i) p.Timer1Timer();
  }
  // Clicks gathered now are acted on at the sixth tick.
  static void Act(TPlatform& p) { Ticks(p, 6); }
  // Runs the event loop until done() (or the hang guard).
  template <class F>
  static void Until(F done) {
    QDeadlineTimer guard(10000);
    while (!done() && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 10);
  }

  test::TempDir dir;
  std::string ini;
  std::shared_ptr<platform::SimulatedWaveDriver> driver;
  std::vector<std::string> errors;
};

TEST_F(PanelTest, FirstStartWithoutSettings) {
  auto p = Start();
  EXPECT_EQ(p->pos(), QPoint(317, 104));
  EXPECT_EQ(p->size(), QSize(176, 32));
  EXPECT_TRUE(p->PlayList().empty());
  // The empty display and the tip say how to give it music.
  EXPECT_EQ(p->Title(), "*** PLUMO *** ファイルをここにドロップ");
  EXPECT_EQ(p->TrayIcon1().TipHelp(), "PLUMO:*** PLUMO *** ファイルをここにドロップ");
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->VolLevel(), 100);
  EXPECT_TRUE(p->Item("N9")->isChecked());
  EXPECT_FALSE(p->Item("N6")->isEnabled());
  EXPECT_FALSE(p->Item("N6")->isChecked());
  EXPECT_EQ(p->Item("N4")->text().toStdString(), "パネルを表示");
  EXPECT_FALSE(p->PanelVisible());
  EXPECT_FALSE(p->Item("History1")->isEnabled());
  EXPECT_EQ(p->CurrentDir(), fs::current_path().string());
  EXPECT_TRUE(errors.empty());

  p->Item("Exit1")->trigger();
  EXPECT_TRUE(p->Closed());
  p.reset();
  std::vector<std::string> expected{"Setup/Left", "Setup/Top", "Option/FileCount", "Option/CurrentDir",
                                    "Option/NowIndex", "Option/ReplayGain", "Option/ReplayGainPreamp"};
  for (int i = 1; i <= 16; ++i) expected.push_back("KeepFileNames/FileName" + std::to_string(i));
  EXPECT_EQ(Keys(ini), expected);
  const IniFile file(ini);
  EXPECT_EQ(file.ReadInteger("Setup", "Left", 0), 317);
  EXPECT_EQ(file.ReadInteger("Option", "FileCount", -1), 0);
  EXPECT_EQ(file.ReadInteger("Option", "NowIndex", -1), 0);
}

TEST_F(PanelTest, MenuHasTheItemsInOrder) {
  auto p = Start();
  std::vector<std::string> names;
  for (QAction* a : p->PopupMenu1().actions()) names.push_back(a->objectName().toStdString());
  EXPECT_EQ(names, (std::vector<std::string>{"PLUMO1", "N2", "OpenFiles1", "AddFiles1", "OpenFolder1", "OpenAddress1",
                                             "N15", "Playlist1", "Shuffle1", "Repeat1", "N16", "N4", "N6", "N7", "N8",
                                             "ReplayGain1", "Equalizer1", "SleepTimer1", "ResumeAtStart1", "Notify1",
                                             "N3", "History1", "N5", "N1", "Exit1"}));
  EXPECT_EQ(p->Item("PLUMO1")->text().toStdString(), "PLUMOについて");
  EXPECT_EQ(p->Item("N8")->text().toStdString(), "音量");
  std::vector<std::string> volume;
  for (QAction* a : p->Item("N8")->menu()->actions()) volume.push_back(a->text().toStdString());
  EXPECT_EQ(volume, (std::vector<std::string>{"最大", "大", "中", "小", "極小", "消音"}));
  EXPECT_EQ(p->Item("History1")->text().toStdString(), "履歴");
  EXPECT_EQ(p->Item("N5")->text().toStdString(), "履歴を消去");
  EXPECT_EQ(p->Item("Exit1")->text().toStdString(), "終了");
}

TEST_F(PanelTest, StartRestoresSavedOptionsAndPlaylist) {
  test::WriteFile(ini,
                  "[Setup]\nLeft=40\nTop=50\nTopFlag=1\nVisible=0\nVolLevel=40\n"
                  "[Option]\nFileCount=5\nFile0=" + dir / "one.mp3" + "\nFile1=" + dir / "two.mp3" +
                      "\nFile2=" + dir / "sub/three.mp3" + "\nFile3=" + dir / "two.mp3" + "\nFile4=" + dir / "one.mp3" +
                      "\nCurrentDir=" + dir.Path() + "\nNowIndex=3\n");
  auto p = Start();
  EXPECT_EQ(p->pos(), QPoint(40, 50));
  EXPECT_EQ(p->PlayList().size(), 5u);
  EXPECT_EQ(p->NowIndex(), 3);
  EXPECT_EQ(p->CurrentDir(), dir.Path());
  EXPECT_TRUE(p->TopFlag());
  EXPECT_TRUE(p->Item("N6")->isChecked());
  EXPECT_FALSE(p->Item("N6")->isEnabled());
  EXPECT_TRUE(p->Item("N12")->isChecked());
  EXPECT_TRUE(p->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  // The saved entry is loaded and shown stopped; nothing plays.
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
  EXPECT_EQ(p->Title(), "[STOP]Playlist Two(Playlist Tests) / Playlist Artist");
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->MP3Player1().Status(), mpsStopped);
}

// A playlist the panel saved comes back whole at the next start, however long it and its names are.
TEST_F(PanelTest, SavedPlaylistComesBackWhole) {
  std::string m3u = dir / "one.mp3" + "\n";
  for (int i = 1; i < 70000; ++i) m3u += "/music/" + std::to_string(i) + ".mp3\n";
  m3u += "/music/" + std::string(3000, 'n') + ".mp3\n";
  test::WriteFile(dir / "long.m3u", m3u);
  std::vector<std::string> saved;
  {
    auto p = Start(false);
    p->DropFiles({dir / "long.m3u"});
    saved = p->PlayList();
    ASSERT_EQ(saved.size(), 70001u);
  }
  auto p = Start(false);
  EXPECT_EQ(p->PlayList(), saved);
}

TEST_F(PanelTest, VolumeLevelsReadByDivisionAndHexadecimal) {
  const std::pair<std::string, const char*> cases[] = {
      {"0x3C", "N11"}, {"99", "N10"}, {"20", "N14"}, {"19", "N13"}, {"-40", "N13"}, {"120", "N13"}, {"x", "N9"}};
  for (const auto& [value, item] : cases) {
    test::WriteFile(ini, "[Setup]\nVolLevel=" + value + "\n");
    auto p = Start();
    EXPECT_TRUE(p->Item(item)->isChecked()) << value;
  }
}

TEST_F(PanelTest, IndexOutsideThePlaylistStartsAtTheFirstEntry) {
  test::WriteFile(ini, "[Option]\nFileCount=2\nFile0=" + dir / "one.mp3" + "\nFile1=" + dir / "two.mp3" +
                           "\nNowIndex=7\n");
  auto p = Start();
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "one.mp3");
}

TEST_F(PanelTest, DroppingFilesReplacesThePlaylistAndPlaysTheFirst) {
  auto p = Start();
  fs::create_directory(dir / "folder");
  p->DropFiles({dir / "two.mp3", dir / "folder", dir / "gone.mp3", dir / "sub/three.mp3", dir / "one.mp3"});
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "two.mp3", dir / "sub/three.mp3", dir / "one.mp3"}));
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->CurrentDir(), dir.Path());
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
  EXPECT_EQ(p->MP3Player1().Status(), mpsPlaying);
  EXPECT_EQ(p->MP3Player1().Volume(), 100);
  EXPECT_EQ(p->Title(), "[PLAY]Playlist Two(Playlist Tests) / Playlist Artist");
  EXPECT_EQ(p->FileNameKeep1().Name(1), dir / "one.mp3");
  EXPECT_EQ(p->FileNameKeep1().Name(2), dir / "sub/three.mp3");
  EXPECT_EQ(p->FileNameKeep1().Name(3), dir / "two.mp3");
  EXPECT_TRUE(p->Item("History1")->isEnabled());
  // Saved at once.
  const IniFile file(ini);
  EXPECT_EQ(file.ReadInteger("Option", "FileCount", 0), 3);
  EXPECT_EQ(file.ReadString("Option", "File1", ""), dir / "sub/three.mp3");
  EXPECT_EQ(file.ReadString("Option", "CurrentDir", ""), dir.Path());

  // A later drop of one file leaves one entry in the file.
  p->DropFiles({dir / "one.mp3"});
  const IniFile after(ini);
  EXPECT_EQ(after.ReadInteger("Option", "FileCount", 0), 1);
  EXPECT_FALSE(after.ValueExists("Option", "File1"));
  EXPECT_EQ(after.ReadInteger("Option", "NowIndex", -1), 0);
}

// The usual album: its songs and its own playlist with relative lines, in one folder somewhere
// else than anything taken in before. It plays the first time.
TEST_F(PanelTest, AlbumM3uPlaysFromItsOwnFolderTheFirstTime) {
  fs::create_directories(dir / "Music/Album/CD 2");
  test::CopyFile(dir / "two.mp3", dir / "Music/Album/01 Two.mp3");
  test::CopyFile(dir / "sub/three.mp3", dir / "Music/Album/CD 2/02 Three.mp3");
  test::WriteFile(dir / "Music/Album/album.m3u", "#EXTM3U\r\n#EXTINF:3,Two\r\n01 Two.mp3\r\nCD 2\\02 Three.mp3\r\n");
  test::WriteFile(ini, "[Option]\nCurrentDir=" + dir / "sub" + "\n");
  auto p = Start();
  p->DropFiles({dir / "Music/Album/album.m3u"});
  EXPECT_EQ(p->PlayList(),
            (std::vector<std::string>{dir / "Music/Album/01 Two.mp3", dir / "Music/Album/CD 2/02 Three.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "Music/Album/01 Two.mp3");
  EXPECT_EQ(p->Title(), "[PLAY]Playlist Two(Playlist Tests) / Playlist Artist");
  // Picked again from the history while another folder is current: the same list.
  p->DropFiles({dir / "one.mp3"});
  p->FileNameKeep1().Item(2)->trigger();
  EXPECT_EQ(p->PlayList().size(), 2u);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "Music/Album/01 Two.mp3");
  EXPECT_TRUE(errors.empty());
}

TEST_F(PanelTest, DroppedFolderContributesItsAudioFilesInNaturalOrder) {
  fs::create_directories(dir / "Album/Disc 10");
  fs::create_directories(dir / "Album/Disc 2");
  test::CopyFile(dir / "one.mp3", dir / "Album/10 ten.mp3");
  test::CopyFile(dir / "two.mp3", dir / "Album/9 nine.mp3");
  test::CopyFile(dir / "one.mp3", dir / "Album/Disc 2/1.mp2");
  test::CopyFile(dir / "one.mp3", dir / "Album/Disc 10/1.MPA");
  test::WriteFile(dir / "Album/cover.jpg", "x");
  fs::create_directories(dir / "Empty/Nothing");
  auto p = Start();
  p->DropFiles({dir / "Album", dir / "Empty", dir / "one.mp3"});
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "Album/9 nine.mp3", dir / "Album/10 ten.mp3",
                                                     dir / "Album/Disc 2/1.mp2", dir / "Album/Disc 10/1.MPA",
                                                     dir / "one.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "Album/9 nine.mp3");
  // The folder is in the history (a folder without audio files is not) and can be picked again.
  EXPECT_EQ(p->FileNameKeep1().Name(1), dir / "one.mp3");
  EXPECT_EQ(p->FileNameKeep1().Name(2), dir / "Album");
  EXPECT_EQ(p->FileNameKeep1().Name(3), "");
  p->FileNameKeep1().Item(2)->trigger();
  EXPECT_EQ(p->PlayList().size(), 4u);
  EXPECT_EQ(p->CurrentDir(), dir / "Album");
  EXPECT_TRUE(errors.empty());
}

// A browser's link, or text that is nothing but stream addresses, is taken in as its
// addresses. Other text and links to other things are refused at drag-enter, and a drop that
// arrives all the same leaves the playlist as it was.
TEST_F(PanelTest, DropsOfAddressesAreTakenOtherTextAndLinksAreRefused) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  const std::string closed = test::UnusedLoopbackAddress();
  QMimeData ftp;
  ftp.setUrls({QUrl(QStringLiteral("ftp://127.0.0.1/song.mp3"))});
  QMimeData text;
  text.setText(QStringLiteral("/some/path.mp3"));
  QMimeData mixed;
  mixed.setText(QString::fromStdString(closed + "/a\nlisten here"));
  for (QMimeData* data : {&ftp, &text, &mixed}) {
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.get(), &drop);
    EXPECT_FALSE(drop.isAccepted());
  }
  QApplication::processEvents();
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3", dir / "two.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(IniFile(ini).ReadInteger("Option", "FileCount", 0), 2);

  QMimeData link;  // as a browser drags a link: the URI list and the text
  link.setUrls({QUrl(QString::fromStdString(closed + "/link.mp3"))});
  link.setText(QString::fromStdString(closed + "/link.mp3"));
  QMimeData lines;
  lines.setText(QString::fromStdString(" " + closed + "/a\r\n\n" + closed + "/b\n"));
  const std::pair<QMimeData*, std::vector<std::string>> taken[] = {{&link, {closed + "/link.mp3"}},
                                                                    {&lines, {closed + "/a", closed + "/b"}}};
  for (const auto& [data, entries] : taken) {
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(p.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    Until([&] { return p->PlayList() == entries; });
    EXPECT_EQ(p->PlayList(), entries);
    EXPECT_EQ(p->FileNameKeep1().Name(1), entries.back());
  }
}

TEST_F(PanelTest, HistoryPickOfAPlaylistThatBreaksOffKeepsTheIndexInsideTheList) {
  std::string saved = "[Option]\nFileCount=5\nNowIndex=4\nCurrentDir=" + dir.Path() + "\n";
  for (int i = 0; i < 5; ++i) saved += "File" + std::to_string(i) + "=" + dir / "two.mp3" + "\n";
  test::WriteFile(ini, saved);
  // Two entries in the first block, the rest behind a long comment.
  test::WriteFile(dir / "long.m3u", "one.mp3\ntwo.mp3\n#" + std::string(5000, 'x') + "\nsub/three.mp3\n");
  auto p = Start();
  // Playing the fifth entry (a pick while stopped would rewind first).
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  ASSERT_EQ(p->NowIndex(), 4);
  ASSERT_EQ(p->PlayState(), psPlaying);
  p->OpenPlaylist = [](const std::string& path) { return std::make_unique<test::FailsAfterFirstBlock>(path); };
  p->FileNameKeep1().Add(dir / "long.m3u");
  p->FileNameKeep1().Item(1)->trigger();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("the disk went away"), std::string::npos) << errors[0];
  // What was read is played from its first entry.
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3", dir / "two.mp3"}));
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "one.mp3");
  EXPECT_EQ(errors.size(), 1u);
  // A drop that breaks off the same way.
  p->PanelDropFiles({dir / "long.m3u"});
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->PlayList().size(), 2u);
}

// Handed over from outside (arguments, a later start): taken in as a drop.
TEST_F(PanelTest, OpenFilesTakesThemInAsADrop) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3"});
  p->OpenFiles({});
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3"})) << "nothing for no files";
  p->OpenFiles({dir / "two.mp3", dir / "sub"});
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "two.mp3", dir / "sub/three.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
}

TEST_F(PanelTest, HistoryIsWrittenWhenItChanges) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3"});
  p->DropFiles({dir / "two.mp3"});
  QDeadlineTimer guard(5000);
  while (p->FileNameKeep1().SavePending() && !guard.hasExpired()) QApplication::processEvents();
  // Written while the program runs, not only when it ends (a crash or a power cut loses nothing).
  const IniFile file(ini);
  EXPECT_EQ(file.ReadString("KeepFileNames", "FileName1", ""), dir / "two.mp3");
  EXPECT_EQ(file.ReadString("KeepFileNames", "FileName2", ""), dir / "one.mp3");
  EXPECT_TRUE(file.ValueExists("KeepFileNames", "FileName16"));
}

TEST_F(PanelTest, PositionOffEveryScreenIsMovedOntoThePrimaryScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const std::pair<QPoint, QPoint> cases[] = {
      {QPoint(40, 50), QPoint(40, 50)},
      // Partly on the screen: left where it is.
      {QPoint(screen.right() - 20, 50), QPoint(screen.right() - 20, 50)},
      {QPoint(screen.right() + 5000, 50), QPoint(screen.right() + 1 - 176, 50)},
      {QPoint(-3000, -4000), QPoint(screen.left(), screen.top())},
      {QPoint(100, screen.bottom() + 900), QPoint(100, screen.bottom() + 1 - 32)}};
  for (const auto& [saved, expected] : cases) {
    test::WriteFile(ini, "[Setup]\nLeft=" + std::to_string(saved.x()) + "\nTop=" + std::to_string(saved.y()) + "\n");
    auto p = Start();
    EXPECT_EQ(p->pos(), expected) << saved.x() << "," << saved.y();
  }
}

TEST_F(PanelTest, UnreadableM3uDropShowsTheErrorAndTheProgramGoesOn) {
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "bad.m3u").c_str()), 0);
  auto p = Start();
  p->ShowException = [&](const std::exception_ptr& e) { ShowExceptionBox(nullptr, e); };
  std::string shown;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text().toStdString();
      box->accept();
    }
  });
  closer.start(5);
  p->PanelDropFiles({dir / "one.mp3", dir / "bad.m3u"});
  EXPECT_NE(shown.find(dir / "bad.m3u"), std::string::npos) << shown;
  EXPECT_FALSE(p->Closed());
  // What was taken in before the failure is played and saved; the rest did not happen.
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(IniFile(ini).ReadInteger("Option", "FileCount", 0), 1);
  // The panel still works.
  p->DropFiles({dir / "two.mp3"});
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
}

// A settings file that cannot be written (its folder a plain file, where no one, root included,
// can write; the file made read-only, which is not replaced) is said once, and what was dropped
// plays all the same; track changes say nothing more.
TEST_F(PanelTest, SettingsThatCannotBeWrittenShowTheErrorAndPlayingGoesOn) {
  test::CopyFile(dir / "one.mp3", dir / "not-a-folder");
  const std::string read_only = dir / "read-only.INI";
  test::WriteFile(read_only, "[Option]\nFileCount=0\n");
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
  for (const std::string& file : {dir / "not-a-folder/plumo.INI", read_only}) {
    ini = file;
    errors.clear();
    auto p = Start(/*real_time=*/false);
    p->PanelDropFiles({dir / "one.mp3", dir / "two.mp3"});
    ASSERT_EQ(errors.size(), 1u) << file;
    EXPECT_EQ(errors[0], ini + " に書き込めません");
    EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3", dir / "two.mp3"}));
    EXPECT_EQ(p->PlayState(), psPlaying) << file;
    EXPECT_EQ(p->MP3Player1().FileName(), dir / "one.mp3");
    p->ActOnClicks(2);
    EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
    EXPECT_EQ(p->MP3Player1().Status(), mpsPlaying);
    EXPECT_EQ(errors.size(), 1u) << file;
    EXPECT_FALSE(p->Closed());
  }
  EXPECT_EQ(test::ReadFile(read_only), "[Option]\nFileCount=0\n");
}

// A track change writes the current entry into a small file beside the settings file, which it
// leaves as it is however long the playlist: a start after a kill finds the entry all the same.
// What interrupted writes left beside the file is removed at the next start.
TEST_F(PanelTest, TrackChangesWriteOnlyTheCurrentEntry) {
  auto p = Start(/*real_time=*/false);
  p->DropFiles({dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  const std::string saved = test::ReadFile(ini);
  struct stat before {};
  ASSERT_EQ(::stat(ini.c_str(), &before), 0);
  p->ActOnClicks(2);
  ASSERT_EQ(p->NowIndex(), 1);
  struct stat after {};
  ASSERT_EQ(::stat(ini.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the settings file was replaced";
  EXPECT_EQ(test::ReadFile(ini), saved);
  EXPECT_LT(fs::file_size(ini + ".now"), 1024u);
  // Killed here: nothing saves; the next start plays on from the entry heard.
  p.reset();
  for (const char* left : {".Ab12Cd", ".now.x9Y8z7"}) test::WriteFile(ini + left, "[Option]\nFileCount=0\n");
  test::WriteFile(ini + ".keep", "mine");
  p = Start(/*real_time=*/false);
  EXPECT_EQ(p->NowIndex(), 1);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
  EXPECT_FALSE(fs::exists(ini + ".Ab12Cd"));
  EXPECT_FALSE(fs::exists(ini + ".now.x9Y8z7"));
  EXPECT_TRUE(fs::exists(ini + ".keep"));
  // An index the small file gives for an entry of another playlist is not taken.
  p.reset();
  test::WriteFile(ini + ".now", "[Now]\nNowIndex=2\nEntry=" + dir / "elsewhere.mp3" + "\n");
  p = Start(/*real_time=*/false);
  EXPECT_EQ(p->NowIndex(), 0);
  // The close writes the entry into the settings file too.
  p->ActOnClicks(2);
  p->CloseForm();
  EXPECT_EQ(IniFile(ini).ReadInteger("Option", "NowIndex", -1), 1);
}

TEST_F(PanelTest, RelativeEntryIsPlayedFromItsResolvedPath) {
  test::WriteFile(ini, "[Option]\nFileCount=1\nFile0=sub/three.mp3\nCurrentDir=" + dir.Path() + "\n");
  auto p = Start();
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "sub/three.mp3");
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().Status(), mpsPlaying);
}

TEST_F(PanelTest, ClicksPlayPauseResumeNextAndPrevious) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  p->SpeedButton3Click();  // stopped at the first entry
  ASSERT_EQ(p->PlayState(), psStopped);

  // One click: play; acted on at the sixth tick after the click, not before.
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Ticks(*p, 5);
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->ClickCount(), 1);
  Ticks(*p, 1);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->ClickCount(), 0);
  // One click: pause; another: resume.
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  EXPECT_EQ(p->PlayState(), psPaused);
  EXPECT_EQ(p->MP3Player1().Status(), mpsPaused);
  EXPECT_EQ(p->Title().rfind("[PAUSE]", 0), 0u);
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().Status(), mpsPlaying);

  // Two clicks: the next entry. Each click restarts the wait.
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Ticks(*p, 4);
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Ticks(*p, 5);
  EXPECT_EQ(p->NowIndex(), 0);
  Ticks(*p, 1);
  EXPECT_EQ(p->NowIndex(), 1);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
  EXPECT_EQ(p->PlayState(), psPlaying);

  // Three clicks: the previous; from the first, the last.
  for (int i = 0; i < 3; ++i) p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  EXPECT_EQ(p->NowIndex(), 0);
  for (int i = 0; i < 3; ++i) p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  EXPECT_EQ(p->NowIndex(), 2);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "sub/three.mp3");

  // Four: nothing. Other buttons are not counted.
  for (int i = 0; i < 4; ++i) p->SpeedButton2MouseDown(Qt::LeftButton);
  p->SpeedButton2MouseDown(Qt::RightButton);
  Act(*p);
  EXPECT_EQ(p->NowIndex(), 2);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->ClickCount(), 0);
}

TEST_F(PanelTest, FailingClickActionIsReportedOnce) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3"});
  p->SpeedButton3Click();
  driver.reset();
  // The next start cannot open the sound device.
  platform::SimulatedWaveOptions failing;
  failing.fail_open = platform::MMSYSERR_ALLOCATED;
  auto q = std::make_unique<TPlatform>(platform::MakeSimulatedWaveDriver(failing), ini,
                                       [this](const std::exception_ptr& e) { errors.push_back(ExceptionMessage(e)); });
  p.reset();
  q->Timer1().stop();
  q->SpeedButton2MouseDown(Qt::LeftButton);
  Ticks(*q, 5);
  // The timer's own handler hands this to the exception display.
  EXPECT_THROW(Ticks(*q, 1), std::runtime_error);
  EXPECT_EQ(q->PlayState(), psStopped);
  EXPECT_EQ(q->ClickCount(), 0);
  EXPECT_NO_THROW(Ticks(*q, 12)) << "the gathered click was acted on again";
  // Ticking by itself, the panel shows the failure in its exception display, once.
  q->SpeedButton2MouseDown(Qt::LeftButton);
  q->Timer1().start();
  QDeadlineTimer guard(20000);
  while (errors.empty() && !guard.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("TSoundOut.Open"), std::string::npos) << errors[0];
  QDeadlineTimer settle(1000);
  while (!settle.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  q->Timer1().stop();
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(PanelTest, TrayIconClicksAreGathered) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  p->SpeedButton3Click();
  TTrayIcon& tray = p->TrayIcon1();
  // A click: down and up; acted on like the button.
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::Trigger);
  EXPECT_EQ(p->ClickCount(), 1);
  Act(*p);
  EXPECT_EQ(p->PlayState(), psPlaying);
  // A double click counts two: the next entry.
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::Trigger);
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(p->ClickCount(), 2);
  Act(*p);
  EXPECT_EQ(p->NowIndex(), 1);
  // The right button opens the menu and is not counted.
  emit tray.SystemTrayIcon().activated(QSystemTrayIcon::Context);
  EXPECT_EQ(p->ClickCount(), 0);
  EXPECT_TRUE(p->PopupMenu1().isVisible());
  p->PopupMenu1().hide();
}

TEST_F(PanelTest, StopWhileStoppedRewindsToTheFirstEntry) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  p->SpeedButton2MouseDown(Qt::LeftButton);
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  ASSERT_EQ(p->NowIndex(), 1);
  p->SpeedButton3Click();
  EXPECT_EQ(p->NowIndex(), 1);
  EXPECT_EQ(p->PlayState(), psStopped);
  p->SpeedButton3Click();
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "one.mp3");
  EXPECT_EQ(p->Title().rfind("[STOP]", 0), 0u);
}

TEST_F(PanelTest, HoldingStopTenTicksEndsTheProgram) {
  auto p = Start();
  bool closed = false;
  p->OnClosed = [&] { closed = true; };
  Ticks(*p, 1);
  ASSERT_TRUE(p->isVisible());
  // A press the stop button saw whose release went elsewhere (a menu or another window took
  // the pointer meanwhile): the button is not held, and nothing ends.
  p->SpeedButton3MouseDown(Qt::LeftButton);
  Ticks(*p, 20);
  EXPECT_FALSE(p->Closed());
  // Really held.
  const QPoint stop = p->SpeedButton3().geometry().center();
  QTest::mousePress(p->windowHandle(), Qt::LeftButton, Qt::NoModifier, stop);
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Ticks(*p, 9);
  EXPECT_FALSE(p->Closed());
  EXPECT_EQ(p->ClickCount(), 1) << "gathered clicks wait meanwhile";
  Ticks(*p, 1);
  EXPECT_TRUE(p->Closed());
  EXPECT_TRUE(closed);
  EXPECT_FALSE(p->Timer1().isActive());
  EXPECT_TRUE(IniFile(ini).ValueExists("Setup", "Left")) << "settings saved as on any close";
  QTest::mouseRelease(p->windowHandle(), Qt::LeftButton, Qt::NoModifier, stop);
}

TEST_F(PanelTest, ReleasedEarlierTheStopButtonOnlyStops) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3"});
  Ticks(*p, 1);
  const QPoint stop = p->SpeedButton3().geometry().center();
  QTest::mousePress(p->windowHandle(), Qt::LeftButton, Qt::NoModifier, stop);
  Ticks(*p, 5);
  QTest::mouseRelease(p->windowHandle(), Qt::LeftButton, Qt::NoModifier, stop);
  Ticks(*p, 20);
  EXPECT_FALSE(p->Closed());
  EXPECT_EQ(p->PlayState(), psStopped);
}

// The wheel seeks 5 s per notch (per 120 units of a high-resolution wheel), within the track;
// paused stays paused.
TEST_F(PanelTest, TheWheelSeeksFiveSecondsPerNotch) {
  test::LongCopy(dir / "one.mp3", dir / "long.mp3");
  auto p = Start();
  p->DropFiles({dir / "long.mp3"});
  p->PausePlay();
  const struct {
    std::vector<int> deltas;
    int32_t position_ms;
  } cases[] = {{{-360}, 0},  {{120}, 5000},   {{240}, 15000},  {{-120}, 10000},
               {{60}, 10000}, {{60}, 15000}, {{-30, -30, -30, -30}, 10000}};
  for (const auto& c : cases) {
    for (const int delta : c.deltas) {
      QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
      QApplication::sendEvent(p.get(), &event);
    }
    EXPECT_EQ(p->MP3Player1().Position(), c.position_ms) << testing::PrintToString(c.deltas);
    EXPECT_EQ(p->MP3Player1().Status(), mpsPaused);
  }
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

TEST_F(PanelTest, TitleScrollsAfterAPauseAndStartsOver) {
  auto p = Start();
  const int width = p->TitleBitmap().width();
  ASSERT_GT(width, 1);
  EXPECT_EQ(p->TitleBitmap().height(), 16);
  Ticks(*p, 10);
  EXPECT_EQ(p->ScrollPos(), 0);
  Ticks(*p, 1);
  EXPECT_EQ(p->ScrollPos(), 1);
  Ticks(*p, width - 3);
  EXPECT_EQ(p->ScrollPos(), width - 2);
  Ticks(*p, 1);
  EXPECT_EQ(p->ScrollPos(), 0);
  EXPECT_EQ(p->ScrollPause(), 10);
}

TEST_F(PanelTest, DisplayShowsTimeAndTitleOnTheBackground) {
  auto p = Start();
  Ticks(*p, 1);
  const QImage& lcd = p->LcdBitmap();
  EXPECT_EQ(lcd.size(), QSize(120, 16));
  auto dark = [](const QImage& img, int x0, int x1) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
      for (int x = x0; x < x1; ++x) n += qGray(img.pixel(x, y)) < 60;
    return n;
  };
  EXPECT_GT(dark(lcd, 0, 48), 20) << "the time";
  EXPECT_GT(dark(lcd, 48, 120), 20) << "the title";
  EXPECT_EQ(QColor(lcd.pixel(119, 15)), QColor(204, 163, 0));
  QImage picture = p->Image1().Picture();
  EXPECT_EQ(picture.size(), QSize(176, 32));
  EXPECT_EQ(picture.copy(8, 9, 120, 16), lcd.convertToFormat(picture.format()));
}

// Devices that report every position 100 minutes further on, as after 100 minutes of playing.
class LateDriver final : public platform::WaveDriver {
 public:
  explicit LateDriver(std::shared_ptr<platform::WaveDriver> inner) : FInner(std::move(inner)) {}
  int NumDevices() override { return FInner->NumDevices(); }
  int Open(int id, const platform::WaveFormat& format, platform::WaveDoneCallback done,
           std::unique_ptr<platform::WaveDevice>& device) override {
    const int result = FInner->Open(id, format, std::move(done), device);
    if (device) device = std::make_unique<Device>(std::move(device), uint64_t{6000} * format.BytesPerSecond());
    return result;
  }
  int GetDeviceVolume(int id, uint32_t& volume) override { return FInner->GetDeviceVolume(id, volume); }
  bool ErrorText(int result, std::string& text) override { return FInner->ErrorText(result, text); }

 private:
  class Device final : public platform::WaveDevice {
   public:
    Device(std::unique_ptr<platform::WaveDevice> inner, uint64_t offset) : FDevice(std::move(inner)), FOffset(offset) {}
    int Prepare(platform::WaveHeader& h) override { return FDevice->Prepare(h); }
    int Unprepare(platform::WaveHeader& h) override { return FDevice->Unprepare(h); }
    int Write(platform::WaveHeader& h) override { return FDevice->Write(h); }
    int Pause() override { return FDevice->Pause(); }
    int Restart() override { return FDevice->Restart(); }
    int Reset() override { return FDevice->Reset(); }
    int GetPosition(uint64_t& bytes) override {
      const int result = FDevice->GetPosition(bytes);
      bytes += FOffset;
      return result;
    }
    int GetVolume(uint32_t& volume) override { return FDevice->GetVolume(volume); }
    int SetVolume(uint32_t volume) override { return FDevice->SetVolume(volume); }
    int Close() override { return FDevice->Close(); }

   private:
    std::unique_ptr<platform::WaveDevice> FDevice;
    uint64_t FOffset;
  };
  std::shared_ptr<platform::WaveDriver> FInner;
};

TEST_F(PanelTest, TimesOfAHundredMinutesAreShownWholeAndLeaveNoDigitBehind) {
  TPlatform p(std::make_shared<LateDriver>(platform::MakeSimulatedWaveDriver({})), ini);
  p.Timer1().stop();
  // The rightmost column of the time's field (left of the title) that has ink in it.
  const auto right_end = [&p] {
    int end = -1;
    for (int x = 0; x < 48; ++x)
      for (int y = 0; y < 16; ++y)
        if (qGray(p.LcdBitmap().pixel(x, y)) < 60) end = x;
    return end;
  };
  p.DropFiles({dir / "one.mp3"});
  Ticks(p, 1);
  ASSERT_EQ(p.PlayState(), psPlaying);
  ASSERT_GE(p.MP3Player1().Position(), 6000000);
  const int late = right_end();
  p.SpeedButton3Click();
  Ticks(p, 1);
  const int zero = right_end();
  // "100:00" reaches one digit further than "00:00", and no further than the field.
  EXPECT_GT(late, zero + 3);
  EXPECT_LT(late, 47);
  // The same "00:00" on a fresh display.
  TPlatform fresh(platform::MakeSimulatedWaveDriver({}), dir / "fresh.INI");
  fresh.Timer1().stop();
  Ticks(fresh, 1);
  EXPECT_EQ(p.LcdBitmap().copy(0, 0, 48, 16), fresh.LcdBitmap().copy(0, 0, 48, 16));
}

// Counts the paint events of a widget and the area they cover.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget& widget) { widget.installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++count;
      area |= static_cast<QPaintEvent*>(event)->region().boundingRect();
    }
    return false;
  }
  int count = 0;
  QRect area;
};

TEST_F(PanelTest, TicksDrawOnlyWhatChangedAndTheDisplayStaysWhole) {
  auto p = Start();
  p->show();
  auto settle = [] {
    for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  };
  Ticks(*p, 1);
  settle();
  PaintWatch watch(p->Image1());
  const QImage strip = p->TitleBitmap();
  // What the title slice must show at a scroll position: the strip, then the empty display.
  auto slice = [&](int pos) {
    QImage expected(72, 16, QImage::Format_RGB32);
    expected.fill(QColor(204, 163, 0));
    QPainter painter(&expected);
    painter.drawImage(QPoint(0, 0), strip, QRect(pos, 0, 72, 16));
    return expected;
  };
  // Standing still (the pause before scrolling, the time unchanged): nothing is drawn.
  ASSERT_GT(p->ScrollPause(), 1);
  Ticks(*p, 1);
  settle();
  EXPECT_EQ(watch.count, 0);
  // Scrolling: only the title's part of the display is sent, and every tick shows it whole.
  while (p->ScrollPause() > 0) Ticks(*p, 1);
  for (int i = 0; i < 30; ++i) {
    const int pos = p->ScrollPos();
    Ticks(*p, 1);
    const QImage& lcd = p->LcdBitmap();
    ASSERT_EQ(lcd.copy(48, 0, 72, 16), slice(pos)) << "tick " << i;
    ASSERT_EQ(p->Image1().Picture().copy(8, 9, 120, 16), lcd.convertToFormat(p->Image1().Picture().format()));
  }
  settle();
  EXPECT_GT(watch.count, 0);
  EXPECT_TRUE(QRect(8 + 48, 9, 72, 16).contains(watch.area)) << "repainted beyond the title";
  // A new title is drawn whole at the next tick, also at a scroll position shown before.
  p->DrawTitle("PAUSE");
  Ticks(*p, 1);
  QImage fresh(72, 16, QImage::Format_RGB32);
  fresh.fill(QColor(204, 163, 0));
  {
    QPainter painter(&fresh);
    painter.drawImage(QPoint(0, 0), p->TitleBitmap(), QRect(0, 0, 72, 16));
  }
  EXPECT_EQ(p->LcdBitmap().copy(48, 0, 72, 16), fresh);
}

// Text-coloured pixels of an image (the display's text is dark on amber).
int TextPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qRed(image.pixel(x, y)) < 128;
  return n;
}

// Accented capitals keep their marks on the display: the title strip holds every pixel of the
// text as drawn without a strip around it, and stays 16 pixels high.
TEST_F(PanelTest, TheDisplayShowsCapitalLettersWithTheirMarks) {
  for (const char* name : {"ÜÖÄ Éé Åå", "plain gjpy"}) {
    SCOPED_TRACE(name);
    test::CopyFile(test::DataPath("samples/l3_m1_44k_128_joint_noinfo.mp3"), dir / (std::string(name) + ".mp3"));
    auto p = Start();
    p->DropFiles({dir / (std::string(name) + ".mp3")});
    const QImage& strip = p->TitleBitmap();
    ASSERT_EQ(strip.height(), static_cast<int>(16 * p->PixelRatio()));
    QImage free(strip.width(), strip.height() + static_cast<int>(40 * p->PixelRatio()), strip.format());
    free.setDevicePixelRatio(strip.devicePixelRatio());
    free.fill(QColor(204, 163, 0));
    {
      QPainter painter(&free);
      painter.setFont(GothicFont(10, true));
      painter.setPen(QColor(23, 16, 0));
      painter.drawText(QRect(0, 20, strip.width(), 40), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(p->Title()));
    }
    EXPECT_EQ(TextPixels(strip), TextPixels(free));
    p->Item("Exit1")->trigger();
  }
}

// The state word and the title are separate runs: before a right-to-left title the bracket keeps
// the pixels it has before a left-to-right one, and a left-to-right title is drawn exactly as the
// plain text is (at the strip's own offset below the top).
TEST(PanelDisplayTest, TheStateWordKeepsItsPixelsBeforeARightToLeftTitle) {
  const std::string ltr_title = "[PLAY]Song (Album) / Singer";
  TPanelDisplay ltr(1), rtl(1);
  ltr.SetTitle(ltr_title);
  rtl.SetTitle("[PLAY]שיר ישן (אלבום) / זמרת");
  const int state = QFontMetrics(GothicFont(10, true)).horizontalAdvance("[PLAY]");
  EXPECT_EQ(ltr.TitleBitmap().copy(0, 0, state, 16), rtl.TitleBitmap().copy(0, 0, state, 16));
  bool same = false;
  for (int down = 0; down < 4 && !same; ++down) {
    QImage plain(ltr.TitleBitmap().size(), QImage::Format_RGB32);
    plain.fill(QColor(204, 163, 0));
    QPainter painter(&plain);
    painter.setFont(GothicFont(10, true));
    painter.setPen(QColor(23, 16, 0));
    painter.drawText(QRect(0, down, plain.width(), 16 - down), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(ltr_title));
    painter.end();
    same = plain == ltr.TitleBitmap();
  }
  EXPECT_TRUE(same) << "a left-to-right title is not drawn as the plain text";
}

TEST_F(PanelTest, HideShowAndAlwaysOnTopWriteTheirKeys) {
  auto p = Start();
  p->Item("N4")->trigger();
  EXPECT_TRUE(p->isVisible());
  EXPECT_TRUE(p->PanelVisible());
  EXPECT_TRUE(p->Item("N6")->isEnabled());
  EXPECT_EQ(p->Item("N4")->text().toStdString(), "パネルを隠す");
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "Visible", ""), "1");

  p->Item("N6")->trigger();
  EXPECT_TRUE(p->TopFlag());
  EXPECT_TRUE(p->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(p->isVisible());
  EXPECT_TRUE(p->acceptDrops());
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "TopFlag", ""), "1");
  p->Item("N6")->trigger();
  EXPECT_FALSE(p->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "TopFlag", ""), "0");

  p->Item("N4")->trigger();
  EXPECT_FALSE(p->PanelVisible());
  EXPECT_FALSE(p->Item("N6")->isEnabled());
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "Visible", ""), "0");
  // The single-key writers write nothing else.
  EXPECT_FALSE(IniFile(ini).SectionExists("Option"));
  EXPECT_FALSE(IniFile(ini).ValueExists("Setup", "Left"));
  p.reset();
  auto again = Start();
  EXPECT_FALSE(again->PanelVisible());
}

TEST_F(PanelTest, DroppedUrlsArriveAfterAlwaysOnTopWasToggled) {
  auto p = Start();
  p->Item("N4")->trigger();
  p->Item("N6")->trigger();
  p->Item("N6")->trigger();
  ASSERT_TRUE(p->acceptDrops());
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir / "two.mp3")),
                QUrl(QStringLiteral("http://example.com/a.mp3")),
                QUrl::fromLocalFile(QString::fromStdString(dir / "one.mp3"))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(p.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(p.get(), &drop);
  // Taken in once the drop has been answered.
  Until([&] { return !p->PlayList().empty(); });
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "two.mp3", dir / "one.mp3"}));
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_TRUE(errors.empty());
}

TEST_F(PanelTest, VolumeItemsSetThePlayerAtOnce) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3"});
  const std::pair<const char*, int> items[] = {{"N12", 40}, {"N10", 80}, {"N11", 60}, {"N14", 20}, {"N13", 0}, {"N9", 100}};
  for (const auto& [name, level] : items) {
    p->Item(name)->trigger();
    EXPECT_TRUE(p->Item(name)->isChecked());
    EXPECT_EQ(p->VolLevel(), level) << name;
    EXPECT_EQ(p->MP3Player1().Volume(), level) << name;
    EXPECT_EQ(IniFile(ini).ReadInteger("Setup", "VolLevel", -1), level) << name;
    int checked = 0;
    for (QAction* a : p->Item("N8")->menu()->actions()) checked += a->isChecked();
    EXPECT_EQ(checked, 1);
  }
}

// The ReplayGain group: radio items Off (the default), Track, Album and Auto, kept in [Option]
// across restarts and set on the player at once; the pre-amp comes from [Option] too.
TEST_F(PanelTest, ReplayGainItemsSetThePlayerAndSurviveARestart) {
  auto p = Start();
  EXPECT_EQ(p->Item("ReplayGain1")->text().toStdString(), "ReplayGain");
  std::vector<std::string> captions;
  for (QAction* a : p->Item("ReplayGain1")->menu()->actions()) captions.push_back(a->text().toStdString());
  EXPECT_EQ(captions, (std::vector<std::string>{"オフ", "トラック", "アルバム", "自動"}));
  EXPECT_TRUE(p->Item("ReplayGainOff")->isChecked());
  EXPECT_EQ(p->MP3Player1().ReplayGainMode(), rgmOff);
  const std::tuple<const char*, TReplayGainMode> items[] = {
      {"ReplayGainTrack", rgmTrack}, {"ReplayGainAlbum", rgmAlbum}, {"ReplayGainOff", rgmOff}, {"ReplayGainAuto", rgmAuto}, {"ReplayGainAlbum", rgmAlbum}};
  for (const auto& [name, mode] : items) {
    p->Item(name)->trigger();
    int checked = 0;
    for (QAction* a : p->Item("ReplayGain1")->menu()->actions()) checked += a->isChecked();
    EXPECT_EQ(checked, 1) << name;
    EXPECT_TRUE(p->Item(name)->isChecked()) << name;
    EXPECT_EQ(p->MP3Player1().ReplayGainMode(), mode) << name;
    EXPECT_EQ(IniFile(ini).ReadInteger("Option", "ReplayGain", -1), mode) << name;
  }
  p->DropFiles({dir / "one.mp3"});  // rewrites [Option]
  p->Item("Exit1")->trigger();
  p.reset();
  EXPECT_EQ(IniFile(ini).ReadInteger("Option", "ReplayGain", -1), rgmAlbum);
  {
    IniFile file(ini);
    file.WriteInteger("Option", "ReplayGainPreamp", 3);
    file.UpdateFile();
  }
  p = Start();
  EXPECT_TRUE(p->Item("ReplayGainAlbum")->isChecked());
  EXPECT_EQ(p->MP3Player1().ReplayGainMode(), rgmAlbum);
  EXPECT_EQ(p->MP3Player1().ReplayGainPreamp(), 3);
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

TEST_F(PanelTest, ClearHistoryAsksFirst) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  std::string asked;
  p->Confirm = [&](const std::string& text) {
    asked = text;
    return false;
  };
  p->Item("N5")->trigger();
  EXPECT_EQ(asked, "履歴を消去しますか?");
  EXPECT_EQ(p->FileNameKeep1().Name(1), dir / "two.mp3");
  p->Confirm = [](const std::string&) { return true; };
  p->Item("N5")->trigger();
  EXPECT_EQ(p->FileNameKeep1().Name(1), "");
  EXPECT_FALSE(p->Item("History1")->isEnabled());
  EXPECT_FALSE(IniFile(ini).SectionExists("KeepFileNames"));
}

TEST_F(PanelTest, HistoryPickReplacesThePlaylist) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  p->SpeedButton2MouseDown(Qt::LeftButton);
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  ASSERT_EQ(p->NowIndex(), 1);
  // Items: 1 three, 2 two, 3 one.
  QAction* item = p->FileNameKeep1().Item(3);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text().toStdString(), "&3 " + dir / "one.mp3");
  item->trigger();
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3"}));
  EXPECT_EQ(p->NowIndex(), 0);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->FileNameKeep1().Name(1), dir / "one.mp3");
  const IniFile file(ini);
  EXPECT_EQ(file.ReadInteger("Option", "FileCount", 0), 1);
  EXPECT_EQ(file.ReadInteger("Option", "NowIndex", -1), 0);
}

TEST_F(PanelTest, HistoryKeepsSixteenEntriesAcrossRuns) {
  std::vector<std::string> files;
  for (int i = 0; i < 17; ++i) {
    files.push_back(dir / ("h" + std::to_string(i) + ".mp3"));
    test::CopyFile(dir / "one.mp3", files.back());
  }
  {
    auto p = Start();
    for (const auto& f : files) p->DropFiles({f});
    EXPECT_EQ(p->History1().actions().size(), 16);
    p->CloseForm();
  }
  auto p = Start();
  ASSERT_EQ(p->History1().actions().size(), 16);
  EXPECT_EQ(p->History1().actions()[0]->text().toStdString(), "&1 " + files[16]);
  EXPECT_EQ(p->History1().actions()[15]->text().toStdString(), "&10 " + files[1]);
  EXPECT_EQ(IniFile(ini).ReadString("KeepFileNames", "FileName16", ""), files[1]);
}

TEST_F(PanelTest, AboutBoxShowsThePanelsValues) {
  auto p = Start();
  std::string title;
  QSize size;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    title = box->windowTitle().toStdString();
    size = box->size();
    box->close();
  });
  p->Item("PLUMO1")->trigger();
  EXPECT_EQ(title, "About PLUMO");
  EXPECT_EQ(size, QSize(400, 104));
}

TEST_F(PanelTest, DraggingThePictureMovesThePanel) {
  auto p = Start();
  p->Image1MouseDown(Qt::LeftButton, 10, 12);
  p->Image1MouseMove(30, 2);
  EXPECT_EQ(p->pos(), QPoint(317 + 20, 104 - 10));
  p->Image1MouseUp(Qt::LeftButton, 30, 2);
  p->Image1MouseMove(60, 60);
  EXPECT_EQ(p->pos(), QPoint(337, 94));
  p->CloseForm();
  EXPECT_EQ(IniFile(ini).ReadInteger("Setup", "Left", 0), 337);
  EXPECT_EQ(IniFile(ini).ReadInteger("Setup", "Top", 0), 94);
}

TEST_F(PanelTest, WithoutANotificationAreaThePanelStaysShown) {
  auto p = Start();
  ASSERT_FALSE(p->PanelVisible());
  EXPECT_TRUE(p->TrayMissing());
  Ticks(*p, 1);
  EXPECT_TRUE(p->isVisible());
}

TEST_F(PanelTest, WithoutANotificationAreaTheShowItemStillShows) {
  auto p = Start();
  ASSERT_TRUE(p->TrayMissing());
  Ticks(*p, 1);
  ASSERT_TRUE(p->isVisible()) << "kept shown";
  ASSERT_EQ(p->Item("N4")->text().toStdString(), "パネルを表示");
  p->Item("N4")->trigger();
  EXPECT_TRUE(p->PanelVisible());
  EXPECT_TRUE(p->Item("N6")->isEnabled()) << "always on top can be chosen";
  EXPECT_EQ(p->Item("N4")->text().toStdString(), "パネルを隠す");
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "Visible", ""), "1");
  p->Item("N4")->trigger();
  EXPECT_FALSE(p->PanelVisible());
  EXPECT_EQ(IniFile(ini).ReadString("Setup", "Visible", ""), "0");
  Ticks(*p, 1);
  EXPECT_TRUE(p->isVisible());
}

// A typo'd name, "Open with" on another kind of file, a folder without audio files, a playlist
// of gone files or one that cannot be read, a deleted history entry: playback, the playlist and
// the settings file stay as they were, and the user is told what was not playable.
TEST_F(PanelTest, IntakeOfNothingPlayableChangesNothingAndSaysWhy) {
  fs::create_directories(dir / "Empty/Nothing");
  test::WriteFile(dir / "song.flac", "fLaC");
  test::WriteFile(dir / "gone.m3u", "missing.mp3\n/nowhere/else.mp3\n");
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "unreadable.m3u").c_str()), 0);
  test::CopyFile(dir / "two.mp3", dir / "deleted.mp3");
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  p->FileNameKeep1().Add(dir / "deleted.mp3");
  Until([&] { return !p->FileNameKeep1().SavePending(); });
  fs::remove(dir / "deleted.mp3");
  const std::string saved = test::ReadFile(ini);
  const std::vector<std::string> playlist{dir / "one.mp3", dir / "two.mp3"};
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { p->DropFiles({dir / "oen.mp3"}); }, dir / "oen.mp3"},
      {[&] { p->OpenFiles({dir / "song.flac"}); }, dir / "song.flac"},
      {[&] { p->PanelDropFiles({dir / "Empty", dir / "gone.m3u"}); }, dir / "Empty, " + dir / "gone.m3u"},
      {[&] { p->DropFiles({dir / "unreadable.m3u"}); }, dir / "unreadable.m3u"},
      {[&] { p->FileNameKeep1().Item(1)->trigger(); }, dir / "deleted.mp3"},
  };
  for (const auto& [intake, named] : cases) {
    errors.clear();
    intake();
    EXPECT_EQ(p->PlayList(), playlist) << named;
    EXPECT_EQ(p->PlayState(), psPlaying) << named;
    EXPECT_EQ(p->MP3Player1().Status(), mpsPlaying) << named;
    EXPECT_EQ(p->MP3Player1().FileName(), dir / "one.mp3") << named;
    EXPECT_EQ(test::ReadFile(ini), saved) << named;
    ASSERT_EQ(errors.size(), 1u) << named;
    EXPECT_NE(errors[0].find(named), std::string::npos) << errors[0];
  }
  // What the intake answers (a later start exits 1 on false), and the media controls' OpenUri,
  // which asks for nothing to happen at all.
  errors.clear();
  EXPECT_FALSE(p->OpenFiles({dir / "song.flac"}, /*quiet=*/true));
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(p->OpenFiles({dir / "two.mp3"}, /*quiet=*/true));
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "two.mp3"}));
}

// Logging out with the panel hidden: no close event reaches it, the application just quits.
// The place in the playlist (written as it changes) and the panel's position are kept.
TEST_F(PanelTest, SessionEndWithoutACloseKeepsTheEntryAndThePosition) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  p->SpeedButton2MouseDown(Qt::LeftButton);
  p->SpeedButton2MouseDown(Qt::LeftButton);
  Act(*p);
  ASSERT_EQ(p->NowIndex(), 1);
  // Hidden, as by default: Qt's quit closes shown windows only.
  p->hide();
  p->move(250, 260);
  QTimer::singleShot(0, [] { QCoreApplication::quit(); });
  QApplication::exec();
  EXPECT_FALSE(p->Closed());
  const IniFile file(ini);
  EXPECT_EQ(file.ReadInteger("Setup", "Left", 0), 250);
  EXPECT_EQ(file.ReadInteger("Setup", "Top", 0), 260);
  EXPECT_EQ(file.ReadInteger("Option", "NowIndex", -1), 1);
}

// The program's own error boxes: an error raised inside a handler (a drop of a playlist that
// cannot be read) is shown once the handler has returned.
TEST_F(PanelTest, ErrorBoxIsShownAfterTheHandlerReturns) {
  ASSERT_EQ(::symlink("/proc/self/mem", (dir / "bad.m3u").c_str()), 0);
  TPlatform p(platform::MakeSimulatedWaveDriver({}), ini);
  p.Timer1().stop();
  p.PanelDropFiles({dir / "bad.m3u"});
  EXPECT_EQ(p.ErrorBoxes().Current(), nullptr);
  Until([&] { return p.ErrorBoxes().Current() != nullptr; });
  ASSERT_NE(p.ErrorBoxes().Current(), nullptr);
  EXPECT_NE(p.ErrorBoxes().Current()->text().toStdString().find(dir / "bad.m3u"), std::string::npos);
}

// Error boxes stay in sight and block nothing, whatever the user does meanwhile: in every order
// of two errors (missing files handed over), the about box opened and later closed with Escape,
// a right click on the panel and a box dismissed with Escape. After each step the oldest error not
// yet dismissed is the one box shown, and the panel's menu opens unless the about box is up.
TEST_F(PanelTest, ErrorBoxesAndMenusInEveryOrder) {
  TPlatform p(platform::MakeSimulatedWaveDriver({}), ini);
  p.Timer1().stop();
  p.show();
  const auto shown_boxes = [] {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) boxes.push_back(box);
    return boxes;
  };
  std::string order = "AEEMDa";  // A opens the about box, a closes it
  std::sort(order.begin(), order.end());
  int runs = 0;
  do {
    if (order.find('a') < order.find('A')) continue;
    ++runs;
    std::vector<std::string> raised;
    size_t dismissed = 0;
    bool about = false;
    std::string fault;
    size_t step = 0;
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
      // What the previous step left.
      const std::vector<QMessageBox*> boxes = shown_boxes();
      const size_t open = raised.size() - dismissed;
      if (fault.empty() && boxes.size() != (open > 0 ? 1u : 0u))
        fault = std::to_string(boxes.size()) + " boxes for " + std::to_string(open) + " errors";
      else if (fault.empty() && open > 0 && boxes[0]->text().toStdString().find(raised[dismissed]) == std::string::npos)
        fault = "shown: " + boxes[0]->text().toStdString() + ", oldest: " + raised[dismissed];
      if (!fault.empty()) fault = order.substr(0, step) + ": " + fault;
      if (step == order.size() || !fault.empty()) {
        script.stop();
        return;
      }
      switch (order[step++]) {
        case 'E':
          raised.push_back(dir / ("gone" + std::to_string(raised.size()) + ".mp3"));
          p.OpenFiles({raised.back()});
          break;
        case 'A':
          about = true;
          // Run from a call of its own: the script goes on inside the about box's loop.
          QTimer::singleShot(0, [&] { p.Item("PLUMO1")->trigger(); });
          break;
        case 'a':
          if (auto* box = QApplication::activeModalWidget()) QTest::keyClick(box->windowHandle(), Qt::Key_Escape);
          about = false;
          break;
        case 'M':
          QTest::mouseClick(p.windowHandle(), Qt::RightButton, {}, QPoint(20, 10));
          if (p.PopupMenu1().isVisible() == about) fault = about ? "menu over the about box" : "menu did not open";
          p.PopupMenu1().close();
          break;
        case 'D':
          if (!boxes.empty() && !about) {
            QTest::keyClick(boxes[0]->windowHandle(), Qt::Key_Escape);
            ++dismissed;
          }
          break;
      }
    });
    script.start(5);
    Until([&] { return !script.isActive(); });
    EXPECT_EQ(fault, "") << order;
    // Left clean for the next order.
    while (QMessageBox* box = p.ErrorBoxes().Current()) {
      box->reject();
      QApplication::processEvents();
      QApplication::processEvents();
    }
    if (!fault.empty()) break;
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(runs, 180);
}

// A file name that is not valid UTF-8 reaches the player as its bytes: dropped, picked from the
// history, named on the command line.
TEST_F(PanelTest, FileNamesThatAreNotUtf8ReachThePlayerUnchanged) {
  const std::string odd = dir / "caf\xE9 \xFF.mp3";
  test::CopyFile(dir / "two.mp3", odd);
  auto p = Start();
  QMimeData data;
  data.setData(QStringLiteral("text/uri-list"),
               "file://" + QByteArray::fromStdString(odd).toPercentEncoding("/") + "\r\n");
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(p.get(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(p.get(), &drop);
  Until([&] { return !p->PlayList().empty(); });
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{odd}));
  EXPECT_EQ(p->MP3Player1().FileName(), odd);
  p->DropFiles({dir / "one.mp3"});
  ASSERT_EQ(p->FileNameKeep1().Name(2), odd);
  p->FileNameKeep1().Item(2)->trigger();
  EXPECT_EQ(p->MP3Player1().FileName(), odd);
  const char* argv[] = {"plumo", odd.c_str()};
  EXPECT_EQ(FileArguments(2, argv), (std::vector<std::string>{odd}));
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// The keys of the focused panel, each as the command it stands for.
TEST_F(PanelTest, KeysOnTheFocusedPanel) {
  test::LongCopy(dir / "one.mp3", dir / "long.mp3");
  auto p = Start();
  p->DropFiles({dir / "long.mp3", dir / "two.mp3", dir / "sub/three.mp3"});
  bool asked = false;
  p->AskNames = [&](TAsk, bool) {
    asked = true;
    return std::vector<std::string>{};
  };
  p->show();
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::function<bool()> done;
  } rows[] = {
      {Qt::Key_Space, Qt::NoModifier, [&] { return p->PlayState() == psPaused; }},
      {Qt::Key_Space, Qt::NoModifier, [&] { return p->PlayState() == psPlaying; }},
      {Qt::Key_Right, Qt::ShiftModifier, [&] { return p->MP3Player1().Position() >= 30000; }},
      {Qt::Key_Left, Qt::NoModifier, [&] { return p->MP3Player1().Position() >= 25000 && p->MP3Player1().Position() < 30000; }},
      {Qt::Key_Down, Qt::NoModifier, [&] { return p->VolLevel() == 80 && p->Item("N10")->isChecked(); }},
      {Qt::Key_Up, Qt::NoModifier, [&] { return p->VolLevel() == 100; }},
      {Qt::Key_N, Qt::NoModifier, [&] { return p->NowIndex() == 1; }},
      {Qt::Key_PageDown, Qt::NoModifier, [&] { return p->NowIndex() == 2; }},
      {Qt::Key_P, Qt::NoModifier, [&] { return p->NowIndex() == 1; }},
      {Qt::Key_S, Qt::NoModifier, [&] { return p->PlayState() == psStopped; }},
      {Qt::Key_O, Qt::ControlModifier, [&] { return asked; }},
      {Qt::Key_Q, Qt::ControlModifier, [&] { return p->Closed(); }},
  };
  for (const auto& row : rows) {
    QTest::keyClick(p.get(), row.key, row.modifiers);
    EXPECT_TRUE(row.done()) << QKeySequence(static_cast<int>(row.key) | static_cast<int>(row.modifiers)).toString().toStdString();
  }
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

// The open items take what the dialog gives: Open replaces the playlist and plays, Add appends
// and leaves playing alone (it plays what it adds when stopped), an address must be one. A
// click on the tray icon with nothing to play asks for files.
TEST_F(PanelTest, OpenItemsTakeWhatTheDialogGives) {
  auto p = Start();
  std::vector<std::string> given;
  std::vector<TAsk> asked;
  p->AskNames = [&](TAsk ask, bool) {
    asked.push_back(ask);
    return given;
  };
  given = {dir / "one.mp3"};
  emit p->TrayIcon1().SystemTrayIcon().activated(QSystemTrayIcon::Trigger);
  Until([&] { return !asked.empty(); });
  EXPECT_EQ(asked, std::vector<TAsk>{akFiles});
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->ClickCount(), 0);
  given = {dir / "two.mp3", dir / "sub"};
  p->Item("AddFiles1")->trigger();
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "one.mp3", dir / "two.mp3", dir / "sub/three.mp3"}));
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "one.mp3");
  EXPECT_EQ(IniFile(ini).ReadInteger("Option", "FileCount", 0), 3);
  p->SpeedButton3Click();
  given = {dir / "one.mp3"};
  p->Item("AddFiles1")->trigger();
  EXPECT_EQ(p->NowIndex(), 3) << "stopped: what was added plays";
  EXPECT_EQ(p->PlayState(), psPlaying);
  given = {dir / "sub"};
  p->Item("OpenFolder1")->trigger();
  EXPECT_EQ(p->PlayList(), (std::vector<std::string>{dir / "sub/three.mp3"}));
  given = {"ftp://h/x.mp3"};
  p->Item("OpenAddress1")->trigger();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("ftp://h/x.mp3"), std::string::npos);
  EXPECT_EQ(asked, (std::vector<TAsk>{akFiles, akFiles, akFiles,
                                                 akFolder, akAddress}));
}

// The playlist menu lists the entries (a long one in groups of 50, each filled when it opens),
// the current one checked; a pick plays it.
TEST_F(PanelTest, PlaylistMenuListsAndPicks) {
  std::string saved = "[Option]\nFileCount=100000\nNowIndex=56\n";
  for (int i = 0; i < 100000; ++i) saved += "File" + std::to_string(i) + "=" + dir / (i % 2 ? "two.mp3" : "one.mp3") + "\n";
  test::WriteFile(ini, saved);
  auto p = Start();
  QMenu& menu = *p->Item("Playlist1")->menu();
  emit menu.aboutToShow();
  ASSERT_EQ(menu.actions().size(), 40);
  EXPECT_EQ(menu.actions()[1]->text().toStdString(), "2501–5000");
  EXPECT_TRUE(menu.actions()[0]->isChecked());
  QMenu& groups = *menu.actions()[0]->menu();
  emit groups.aboutToShow();
  ASSERT_EQ(groups.actions().size(), 50);
  EXPECT_TRUE(groups.actions()[1]->isChecked());
  QMenu& group = *groups.actions()[1]->menu();
  emit group.aboutToShow();
  ASSERT_EQ(group.actions().size(), 50);
  EXPECT_TRUE(group.actions()[6]->isChecked());
  EXPECT_EQ(group.actions()[6]->text().toStdString(), "57. Playlist One");
  EXPECT_EQ(group.actions()[7]->text().toStdString(), "58. two.mp3");
  group.actions()[7]->trigger();
  EXPECT_EQ(p->NowIndex(), 57);
  EXPECT_EQ(p->PlayState(), psPlaying);
  EXPECT_EQ(p->MP3Player1().FileName(), dir / "two.mp3");
}

// Equalizer presets drive the engine's frequency equalizer, never above 0 dB; the sleep timer
// shows its time in the tip, and "after this track" stops at the next entry.
TEST_F(PanelTest, EqualizerPresetsAndSleepTimer) {
  auto p = Start();
  p->DropFiles({dir / "one.mp3", dir / "two.mp3"});
  p->Item("EqualizerBass")->trigger();
  const TMP3Player& player = p->MP3Player1();
  EXPECT_TRUE(player.EqualizerEnabled());
  EXPECT_EQ(player.EqualizerMode(), memFreq);
  EXPECT_EQ(player.EqualizerLevel(0), 0);
  for (int band = 1; band < 6; ++band) EXPECT_LT(player.EqualizerLevel(band), 0) << band;
  EXPECT_EQ(IniFile(ini).ReadInteger("Setup", "Equalizer", -1), 1);
  p->Item("EqualizerOff")->trigger();
  EXPECT_FALSE(player.EqualizerEnabled());

  p->Item("Sleep15")->trigger();
  EXPECT_EQ(p->TrayIcon1().TipHelp().rfind("PLUMO (スリープまで 15 分):[PLAY]", 0), 0u) << p->TrayIcon1().TipHelp();
  p->Item("SleepAfterTrack")->trigger();
  EXPECT_EQ(p->MP3Player1GetNextFile(), "") << "nothing chained after this track";
  p->MP3Player1EndPlay(merSuccessful);
  EXPECT_EQ(p->PlayState(), psStopped);
  EXPECT_EQ(p->NowIndex(), 1);
  EXPECT_TRUE(p->Item("SleepOff")->isChecked());
  EXPECT_EQ(p->TrayIcon1().TipHelp().rfind("PLUMO:[STOP]", 0), 0u) << p->TrayIcon1().TipHelp();
}

}  // namespace
}  // namespace plumo

namespace plumo {
namespace {

// The sound bytes of a WAV file the WAV-file device wrote, and its channel count.
std::pair<std::string, int> WavData(const std::string& path) {
  const std::string wav = test::ReadFile(path);
  const size_t data = wav.find("data");
  if (wav.size() < 44 || data == std::string::npos) return {};
  return {wav.substr(data + 8), static_cast<unsigned char>(wav[22])};
}

// Left while a long file plays (killed: nothing saved at the end), the next start shows the
// entry at the place left, and Play goes on from exactly that sample: the WAV-file device then
// records bit for bit what the whole file's decode holds from there.
TEST_F(PanelTest, ResumeGoesOnAtTheSampleLeft) {
  test::LongCopy(dir / "one.mp3", dir / "long.mp3");
  test::WriteFile(ini, "[Setup]\nRepeat=0\n");
  const auto play_out = [&](const std::string& wav, const std::string& settings, bool drop) {
    TPlatform p(platform::MakeWavFileWaveDriver(wav), settings,
                [this](const std::exception_ptr& e) { errors.push_back(ExceptionMessage(e)); });
    p.Timer1().stop();
    if (drop) p.DropFiles({dir / "long.mp3"});
    else p.ActOnClicks(1);
    Until([&] { return p.PlayState() == psStopped; });
    return p.MP3Player1().Source().SampleRate();
  };
  int64_t left = 0;
  {
    auto p = Start();
    p->DropFiles({dir / "long.mp3"});
    ASSERT_TRUE(p->SeekTo(1234567));
    p->PausePlay();
    left = std::stoll(IniFile(ini + ".now").ReadString("Now", "Position", "0"));
    EXPECT_NEAR(static_cast<double>(left), 1234567, 50);
  }
  {
    auto p = Start();
    EXPECT_EQ(p->PlayState(), psStopped);
    EXPECT_NEAR(p->MP3Player1().Position(), left * 1000.0 / p->MP3Player1().Source().SampleRate(), 2);
  }
  play_out(dir / "resumed.wav", ini, false);
  test::WriteFile(dir / "whole.INI", "[Setup]\nRepeat=0\n");
  play_out(dir / "whole.wav", dir / "whole.INI", true);
  const auto [resumed, channels] = WavData(dir / "resumed.wav");
  const auto [whole, whole_channels] = WavData(dir / "whole.wav");
  ASSERT_EQ(channels, whole_channels);
  const size_t from = static_cast<size_t>(left) * static_cast<size_t>(channels) * 2;
  ASSERT_GT(whole.size(), from);
  EXPECT_EQ(resumed.size(), whole.size() - from);
  EXPECT_TRUE(resumed == whole.substr(from)) << "the resumed sound differs from the whole decode";
  EXPECT_TRUE(errors.empty()) << testing::PrintToString(errors);
}

}  // namespace
}  // namespace plumo
