#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace plumo::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "plumo-app-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  FPath = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(FPath, error);
}

Child::Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             const std::string& output_file, int keep_fd) {
  std::map<std::string, std::string> all;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) all[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : env) all[k] = v;
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : all) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_copy = argv;
  for (auto& s : argv_copy) args.push_back(s.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = output_file.empty() ? "/dev/null" : output_file;
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (keep_fd >= 0) posix_spawn_file_actions_adddup2(&actions, keep_fd, keep_fd);
  // A child starts with no blocked signals, whatever the test process blocks.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  const int r = posix_spawn(&FPid, args[0], &actions, &attr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (r != 0) throw std::runtime_error("cannot start " + argv[0]);
}

Child::~Child() {
  if (!FReaped && FPid > 0) {
    ::kill(FPid, SIGKILL);
    int status;
    ::waitpid(FPid, &status, 0);
  }
}

bool Child::Running() {
  if (FReaped) return false;
  int status;
  const pid_t r = ::waitpid(FPid, &status, WNOHANG);
  if (r == FPid) {
    FReaped = true;
    FStatus = status;
    return false;
  }
  return true;
}

void Child::Signal(int signal) {
  if (!FReaped) ::kill(FPid, signal);
}

int Child::Wait(int timeout_ms) {
  if (!PollUntil([&] { return !Running(); }, timeout_ms)) return -1;
  if (WIFEXITED(FStatus)) return WEXITSTATUS(FStatus);
  if (WIFSIGNALED(FStatus)) return 128 + WTERMSIG(FStatus);
  return -1;
}

SessionBus::SessionBus() {
  if (!Available()) return;
  int fds[2];
  if (::pipe(fds) != 0) return;
  FDaemon = std::make_unique<Child>(
      std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--print-address=" + std::to_string(fds[1])},
      std::map<std::string, std::string>{}, std::string(), fds[1]);
  ::close(fds[1]);
  char c;
  while (::read(fds[0], &c, 1) == 1 && c != '\n') FAddress += c;
  ::close(fds[0]);
}

bool SessionBus::Available() { return fs::exists("/usr/bin/dbus-daemon"); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void LongCopy(const std::string& from, const std::string& to) {
  const std::string data = ReadFile(from);
  const bool tagged = data.size() > 128 && data.compare(data.size() - 128, 3, "TAG") == 0;
  const std::string frames = tagged ? data.substr(0, data.size() - 128) : data;
  std::string out;
  for (int i = 0; i < 100; ++i) out += frames;
  if (tagged) out += data.substr(data.size() - 128);
  WriteFile(to, out);
}

std::string DataPath(const std::string& relative) { return std::string(PLUMO_TEST_DATA) + "/" + relative; }

bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  ::pclose(p);
  return out;
}

}  // namespace plumo::test
