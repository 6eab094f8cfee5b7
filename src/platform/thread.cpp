#include "thread.h"

#include <cerrno>
#include <ctime>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace plumo::platform {

pid_t CurrentThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

int NiceValue(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::kIdle: return 19;
    case ThreadPriority::kLowest: return 10;
    case ThreadPriority::kLower: return 5;
    case ThreadPriority::kNormal: return 0;
    case ThreadPriority::kHigher: return -5;
    case ThreadPriority::kHighest: return -10;
    case ThreadPriority::kTimeCritical: return -20;
  }
  return 0;
}

bool SetThreadPriority(pid_t tid, ThreadPriority priority) {
  // On Linux PRIO_PROCESS with a thread id sets that one thread's nice value.
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValue(priority)) == 0;
}

namespace {

std::chrono::nanoseconds ClockNow(clockid_t clock) {
  timespec ts{};
  if (::clock_gettime(clock, &ts) != 0) return std::chrono::nanoseconds(0);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

}  // namespace

std::chrono::nanoseconds ThreadCpuTime(pthread_t thread) {
  clockid_t clock{};
  if (::pthread_getcpuclockid(thread, &clock) != 0) return std::chrono::nanoseconds(0);
  return ClockNow(clock);
}

std::chrono::nanoseconds CurrentThreadCpuTime() { return ClockNow(CLOCK_THREAD_CPUTIME_ID); }

void SetCurrentThreadName(const std::string& name) {
  ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
}

uint32_t TickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

sigset_t BlockStopSignals() {
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  return stop_signals;
}

}  // namespace plumo::platform
