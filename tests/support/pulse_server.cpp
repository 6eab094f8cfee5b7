#include "pulse_server.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <csignal>

#include <fstream>
#include <sstream>
#include <vector>

namespace plumo::test {

PulseServer::PulseServer() {
  ::mkdir((FDir / "runtime").c_str(), 0700);
  ::mkdir((FDir / "state").c_str(), 0700);
  std::ofstream(FDir / "client.conf") << "autospawn = no\n";
}

PulseServer::~PulseServer() { Kill(); }

bool PulseServer::Installed() { return !FindProgram("pulseaudio").empty() && !FindProgram("pactl").empty(); }

std::map<std::string, std::string> PulseServer::ClientEnvironment() const {
  return {{"PULSE_SERVER", "unix:" + (FDir / "native")},
          {"PULSE_CLIENTCONFIG", FDir / "client.conf"},
          {"SDL_AUDIODRIVER", "pulseaudio"}};
}

void PulseServer::UseInThisProcess() const {
  for (const auto& [name, value] : ClientEnvironment()) ::setenv(name.c_str(), value.c_str(), 1);
}

bool PulseServer::Start() {
  Kill();
  std::map<std::string, std::string> env = ClientEnvironment();
  env["HOME"] = FDir.Path();
  env["XDG_RUNTIME_DIR"] = FDir / "runtime";
  env["PULSE_RUNTIME_PATH"] = FDir / "runtime";
  env["PULSE_STATE_PATH"] = FDir / "state";
  // No shared memory: a killed server then leaves nothing behind in /dev/shm. It ends by itself
  // 20 s after its last client left, so a test that dies leaves no server running for long.
  FServer = std::make_unique<Child>(
      std::vector<std::string>{FindProgram("pulseaudio"), "-n", "--daemonize=no", "--exit-idle-time=20",
                               "--use-pid-file=no", "--disable-shm=yes", "--realtime=no", "--high-priority=no",
                               "--log-target=stderr", "-L", "module-null-sink sink_name=plumo_null",
                               "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + (FDir / "native")},
      env, FDir / "server.log");
  return PollUntil(
      [&] {
        if (!FServer->Running()) return true;
        Child info({FindProgram("pactl"), "info"}, env);
        return info.Wait(10000) == 0;
      },
      20000) && FServer->Running();
}

void PulseServer::Kill() {
  if (!FServer) return;
  FServer->Signal(SIGKILL);
  FServer->Wait(10000);
  FServer.reset();
}

bool PulseServer::Running() { return FServer && FServer->Running(); }

std::string PulseServer::Log() const {
  std::ifstream in(FDir / "server.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace plumo::test
