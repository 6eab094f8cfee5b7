// A PulseAudio server of the test's own: a null sink, its socket and state in a folder of its
// own, anonymous clients, no autospawn. Tests kill it and start it again to play the sound
// server going away and coming back.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "child_process.h"

namespace plumo::test {

class PulseServer {
 public:
  // Does not start the server yet.
  PulseServer();
  ~PulseServer();
  PulseServer(const PulseServer&) = delete;
  PulseServer& operator=(const PulseServer&) = delete;

  // Whether the pulseaudio and pactl programs are installed.
  static bool Installed();

  // Starts the server and waits until it answers; false (with its log in Log()) when it does
  // not within the hang guard.
  bool Start();
  // Ends the server at once (SIGKILL), as a crash would.
  void Kill();
  bool Running();

  // What a client needs to reach this server and nothing else: PULSE_SERVER, a client
  // configuration without autospawn, and SDL's audio driver.
  std::map<std::string, std::string> ClientEnvironment() const;
  // Sets ClientEnvironment() in this process (before SDL's audio starts).
  void UseInThisProcess() const;
  std::string Log() const;

 private:
  TempDir FDir;
  std::unique_ptr<Child> FServer;
};

}  // namespace plumo::test
