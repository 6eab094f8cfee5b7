#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace plumo::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "plumo-test-XXXXXX").string();
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

std::string Capture(const std::string& command) {
  std::string out;
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  ::pclose(p);
  return out;
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace plumo::test
