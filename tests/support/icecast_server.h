// An Icecast 2 server of the test's own on a free loopback port, with a configuration, logs and
// passwords in a folder of its own, fed by ffmpeg as its source client: a real internet radio
// station on 127.0.0.1. Icecast refuses to run as root, so when the tests do it runs as nobody.
// Both die with the thread that started them (setpriv --pdeathsig), so a test process that is
// killed leaves no station behind.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"

namespace plumo::test {

class IcecastServer {
 public:
  // Does not start the server yet.
  IcecastServer();
  ~IcecastServer();
  IcecastServer(const IcecastServer&) = delete;
  IcecastServer& operator=(const IcecastServer&) = delete;

  // Whether icecast2, ffmpeg, curl and setpriv are installed.
  static bool Installed();

  // Starts the server on a free port (or on port, as a server that comes back) and waits until
  // it answers; false (see Log()) when it does not within the hang guard.
  bool Start(int port = 0);
  // Feeds mount ("/live.mp3") with the MPEG audio file, looped and at its real-time rate,
  // copied as it is (no re-encoding, no tag, no Xing frame), the station named station_name
  // (icy-name). Waits until the mount is live; false when it does not become live.
  bool StartSource(const std::string& file, const std::string& station_name = "PLUMO Test Radio",
                   const std::string& mount = "/live.mp3");
  // Sets the mount's StreamTitle (the admin metadata request); false when the server refuses.
  bool SetTitle(const std::string& title, const std::string& mount = "/live.mp3");
  // Ends the source client at once, as a crashed encoder: the server drops the mount's
  // listeners.
  void KillSource();
  // Ends the server at once.
  void Kill();

  int Port() const { return FPort; }
  // The address listeners use: http://127.0.0.1:PORT/mount.
  std::string Url(const std::string& mount = "/live.mp3") const;
  // The server's error log and the source client's output.
  std::string Log() const;

 private:
  bool MountLive(const std::string& mount);
  // Runs curl with args on the admin interface; its output, or "" when it failed.
  std::string Admin(const std::vector<std::string>& args);

  TempDir FDir;
  std::string FRoot;  // the server's folder, reachable for the user it runs as
  int FPort = 0;
  std::unique_ptr<Child> FServer;
  std::unique_ptr<Child> FSource;
};

}  // namespace plumo::test
