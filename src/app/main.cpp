// plumo [--enqueue] [FILE...]: the panel; keeps no log. Files (.mp3, .mp2, .mpa, .m3u, .m3u8, folders)
// named on the command line are taken in as a drop, or with --enqueue (-e) added to the playlist. A second start while one runs ends at once; with
// files it first hands them to the running instance, which takes them in as a drop (exit 0 once
// it has taken them, 1 when it did not answer or none of them was playable). The panel serves
// MPRIS2 on the session bus when there is one. The end of the desktop session (SIGTERM, SIGHUP)
// and Ctrl-C close the panel as its Exit command does, settings saved; a session manager's quit
// saves them too.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLocale>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "instance_channel.h"
#include "instance_lock.h"
#include "mpris.h"
#include "panel_form.h"
#include "pulse_wave_device.h"
#include "settings_path.h"
#include "thread.h"
#include "translations.h"

namespace {

constexpr const char* kUsage =
    "usage: plumo [--enqueue] [FILE|FOLDER|PLAYLIST|URL...]\n"
    "The panel of PLUMO, a tiny MPEG audio player. The files, folders, playlists (.m3u, .m3u8,\n"
    ".pls), .cue sheets (their tracks) and http:// or https:// addresses named become the playlist\n"
    "and the first plays; when\n"
    "PLUMO already runs they are handed to it.\n"
    "  -e, --enqueue  add them to the playlist instead\n"
    "  -h, --help     this text\n"
    "  -V, --version  the version\n"
    "Exit status 0; 1 when the running PLUMO did not take the files; 2 for an unknown option.\n";

// The options: -1 to go on, else the exit status (--help, --version, an unknown option).
// Asked before anything else, so that they start nothing.
int Options(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i] != nullptr ? argv[i] : "";
    if (a == "--") break;
    if (a.size() < 2 || a[0] != '-' || a == "--enqueue" || a == "-e") continue;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version" || a == "-V") {
      std::printf("PLUMO %s\n", PLUMO_VERSION);
      return 0;
    }
    std::fprintf(stderr, "plumo: unknown option '%s' (plumo --help lists them)\n", a.c_str());
    return 2;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = Options(argc, argv); status >= 0) return status;
  // A lock that cannot be made is said, not taken for another instance.
  std::unique_ptr<plumo::platform::InstanceLock> lock;
  try {
    lock = plumo::platform::InstanceLock::TryAcquire("PLUMO");
    if (!lock) {
      if (argc < 2) return 0;
      // Files for the running instance.
      const QCoreApplication app(argc, argv);
      const std::vector<std::string> files = plumo::FileArguments(argc, argv);
      if (files.empty()) return 0;
      if (plumo::TInstanceChannel::Send("PLUMO", files, 10000, plumo::EnqueueArgument(argc, argv))) return 0;
      std::fprintf(stderr, "plumo: the running PLUMO did not take the files (none playable, or no answer)\n");
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plumo: %s\n", e.what());
    return 1;
  }

  // The stop signals are taken from a signalfd in the event loop; blocked before any thread
  // starts, so that every thread inherits the mask.
  const sigset_t stop_signals = plumo::platform::BlockStopSignals();
  const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);

  // The panel places itself and stays on top, which Wayland does not let a window do: use
  // XWayland where it is there.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("WAYLAND_DISPLAY") != nullptr &&
      std::getenv("DISPLAY") != nullptr)
    setenv("QT_QPA_PLATFORM", "xcb", 1);

  // A panel that changes a few pixels ten times a second: Qt's own event loop is lighter per
  // wake-up than GLib's, and plain image transfers to the X server spare the shared-memory
  // round trips and completion events of every repaint. Values already set are kept.
  setenv("QT_NO_GLIB", "1", 0);
  setenv("QT_XCB_NO_MITSHM", "1", 0);

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("plumo"));
  QApplication::setApplicationDisplayName(QStringLiteral("PLUMO"));
  QApplication::setDesktopFileName(QStringLiteral("plumo"));
  // Message boxes and the about box close without ending the program; the panel's close does.
  QApplication::setQuitOnLastWindowClosed(false);
  // The user's language from the environment (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
  const plumo::TTranslations translations(QLocale::system().uiLanguages());

  std::string settings_file;
  try {
    settings_file = plumo::platform::SettingsFileName();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plumo: %s\n", e.what());
    return 1;
  }
  // No settings file yet: the first start, which says where the panel went.
  std::error_code exists_error;
  const bool first_start = !std::filesystem::exists(settings_file, exists_error) && !exists_error;
  plumo::TPlatform form(plumo::platform::MakeSoundWaveDriver(), settings_file);
  form.OnClosed = [] { QCoreApplication::quit(); };
  // Later starts hand their files over; the media controls drive the panel.
  // Without its socket the panel still plays; later starts then cannot hand files over.
  std::unique_ptr<plumo::TInstanceChannel> channel;
  try {
    channel = std::make_unique<plumo::TInstanceChannel>(
        "PLUMO", [&form](const std::vector<std::string>& files) { return form.OpenFiles(files); });
    channel->OnEnqueue = [&form](const std::vector<std::string>& files) { return form.EnqueueFiles(files); };
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plumo: %s\n", e.what());
  }
  const std::unique_ptr<plumo::TMprisService> mpris = plumo::TMprisService::OnSessionBus(form);
  if (plumo::EnqueueArgument(argc, argv)) form.EnqueueFiles(plumo::FileArguments(argc, argv));
  else form.OpenFiles(plumo::FileArguments(argc, argv));

  std::unique_ptr<QSocketNotifier> notifier;
  if (signal_fd >= 0) {
    notifier = std::make_unique<QSocketNotifier>(signal_fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &form, [&form, signal_fd] {
      signalfd_siginfo info;
      while (read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      }
      form.CloseForm();
    });
  }

  if (!form.Closed()) {
    form.show();
    // Started from a terminal with a notification area, the panel itself stays hidden.
    if (first_start && isatty(STDERR_FILENO) && !form.PanelVisible() && !form.TrayMissing())
      std::fputs("PLUMO is in the notification area: a click on its icon opens the menu (Show Panel, "
                 "Open Files...); plumo --help lists the options.\n",
                 stderr);
    QApplication::exec();
  }
  notifier.reset();
  if (signal_fd >= 0) close(signal_fd);
  return 0;
}
