// Manual-reset events and the wake-up point that lets one thread wait for several sources at once
// (an event, another event, a thread's message queue) without polling.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

namespace plumo::platform {

using Clock = std::chrono::steady_clock;

// The moment a wait of timeout_ms ends; no value for an infinite wait (timeout_ms < 0).
std::optional<Clock::time_point> DeadlineAfter(int32_t timeout_ms);

// A flag one thread sleeps on until any source it registered with wakes it. The sleeper clears
// the flag (Arm), checks its sources, then sleeps; a source that fires in between leaves the flag
// set, so no wake-up is lost.
class Waiter {
 public:
  Waiter() = default;
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  void Arm();
  // Any thread. Sets the flag and wakes the sleeper.
  void Wake();
  // Sleeps until the flag is set or the deadline passes; false when the deadline passed first.
  bool SleepUntil(const std::optional<Clock::time_point>& deadline);

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FWoken = false;
};

// A manual-reset event: stays signalled from Set until Reset, releasing every waiter meanwhile.
class Event {
 public:
  explicit Event(bool initially_set = false) : FSet(initially_set) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until the event is set; timeout_ms < 0 waits forever, 0 only tests. True when set.
  bool Wait(int32_t timeout_ms);

  // Registers a waiter that Set wakes (besides the event's own waiters). The waiter must be
  // removed before it is destroyed.
  void AddWaiter(Waiter* waiter);
  void RemoveWaiter(Waiter* waiter);

 private:
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  bool FSet;
  std::vector<Waiter*> FWaiters;
};

// Keeps a waiter registered with a source for the life of a wait.
template <typename Source>
class ScopedWaiterRegistration {
 public:
  ScopedWaiterRegistration(Source& source, Waiter& waiter) : FSource(source), FWaiter(waiter) {
    FSource.AddWaiter(&FWaiter);
  }
  ~ScopedWaiterRegistration() { FSource.RemoveWaiter(&FWaiter); }
  ScopedWaiterRegistration(const ScopedWaiterRegistration&) = delete;
  ScopedWaiterRegistration& operator=(const ScopedWaiterRegistration&) = delete;

 private:
  Source& FSource;
  Waiter& FWaiter;
};

// Waits until one of the events is set: returns the index of the first one found set, or -1 when
// the time-out passed (timeout_ms < 0 waits forever).
int WaitForAny(std::initializer_list<Event*> events, int32_t timeout_ms);

}  // namespace plumo::platform
