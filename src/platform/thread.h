// What worker threads need from the operating system beyond std::thread: their kernel id,
// scheduling priority as a nice value, CPU time, a name, and a millisecond tick counter.
#pragma once

#include <chrono>
#include <cstdint>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/types.h>

namespace plumo::platform {

// The kernel's id of the calling thread (gettid).
pid_t CurrentThreadId();

// Scheduling levels from idle to time-critical, mapped to nice values by NiceValue.
enum class ThreadPriority : uint8_t { kIdle, kLowest, kLower, kNormal, kHigher, kHighest, kTimeCritical };

// kIdle 19, kLowest 10, kLower 5, kNormal 0, kHigher -5, kHighest -10, kTimeCritical -20.
int NiceValue(ThreadPriority priority);

// Sets the nice value of the thread with kernel id tid (Linux keeps one per thread). A level
// the process may not take (raising priority without the right to) is ignored: returns false.
bool SetThreadPriority(pid_t tid, ThreadPriority priority);

// CPU time consumed so far by a thread (pthread_getcpuclockid), or by the calling thread.
std::chrono::nanoseconds ThreadCpuTime(pthread_t thread);
std::chrono::nanoseconds CurrentThreadCpuTime();

// Names the calling thread for debuggers and top (at most 15 bytes are kept).
void SetCurrentThreadName(const std::string& name);

// Milliseconds of a monotonic clock, wrapping at 2^32 like a tick counter: compare two readings
// by their unsigned difference.
uint32_t TickCount();

// Blocks Ctrl-C and the end of the session (SIGINT, SIGTERM, SIGHUP) in the calling thread and
// returns that set, so a program can take them from the queue of pending signals in its own
// loop. Called before any thread starts, every thread inherits the mask.
sigset_t BlockStopSignals();

}  // namespace plumo::platform
