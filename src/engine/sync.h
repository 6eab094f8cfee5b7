// The lock and event wrappers of the player and its threads: TMPSimpleMutex (a re-entrant lock
// behind the abstract Enter/Leave interface) and TMPSimpleEvent (a manual-reset event).
#pragma once

#include <cstdint>
#include <mutex>

#include "event.h"

namespace plumo {

class TMPAbstractMutex {
 public:
  TMPAbstractMutex() = default;
  TMPAbstractMutex(const TMPAbstractMutex&) = delete;
  TMPAbstractMutex& operator=(const TMPAbstractMutex&) = delete;
  virtual ~TMPAbstractMutex() = default;

  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

// Re-entrant for the owning thread: every Enter needs its Leave.
class TMPSimpleMutex : public TMPAbstractMutex {
 public:
  void Enter() override;
  void Leave() override;

 private:
  std::recursive_mutex FMutex;
};

// Holds a mutex for the life of a scope.
class TMPMutexLock {
 public:
  explicit TMPMutexLock(TMPAbstractMutex& mutex) : FMutex(mutex) { FMutex.Enter(); }
  ~TMPMutexLock() { FMutex.Leave(); }
  TMPMutexLock(const TMPMutexLock&) = delete;
  TMPMutexLock& operator=(const TMPMutexLock&) = delete;

 private:
  TMPAbstractMutex& FMutex;
};

enum TWaitResult : uint8_t { wrSignaled, wrTimeout };

// A manual-reset event, initially not signalled unless asked.
class TMPEvent {
 public:
  explicit TMPEvent(bool initial_state = false) : FHandle(initial_state) {}
  TMPEvent(const TMPEvent&) = delete;
  TMPEvent& operator=(const TMPEvent&) = delete;
  virtual ~TMPEvent() = default;

  void ResetEvent();
  void SetEvent();
  // ms < 0 waits forever, 0 only tests.
  TWaitResult WaitFor(int32_t ms);
  bool Signaled() const;

  platform::Event& Handle() { return FHandle; }

 private:
  platform::Event FHandle;
};

class TMPSimpleEvent : public TMPEvent {
 public:
  using TMPEvent::TMPEvent;
};

}  // namespace plumo
