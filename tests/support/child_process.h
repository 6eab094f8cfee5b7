// Child processes and temporary folders for tests that run real programs (X servers, sound
// servers, the tools): a hang guard kills what is still running at the end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace plumo::test {

// A folder (mode 0700) removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string operator/(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

// A child process; killed (SIGKILL) and reaped when still running at the end.
class Child {
 public:
  // argv[0] is the program's path; env entries are added to (or replace) this environment;
  // output goes to output_file when given, else to /dev/null.
  Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
        const std::string& output_file = {}, int keep_fd = -1);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return FPid; }
  bool Running();
  void Signal(int signal);
  // Waits for the end (timeout_ms is a hang guard); the exit status, 128 + signal when killed
  // by one, or -1 when it did not end in time.
  int Wait(int timeout_ms = 60000);

 private:
  pid_t FPid = -1;
  bool FReaped = false;
  int FStatus = 0;
};

// Runs a command line through /bin/sh and returns its standard output.
std::string Capture(const std::string& command);

// The full path of a program on the PATH; empty when there is none.
std::string FindProgram(const std::string& name);

// Polls until done() or the hang guard runs out.
template <class F>
bool PollUntil(F done, int timeout_ms = 30000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace plumo::test
