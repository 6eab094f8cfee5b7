#include "event.h"

#include <algorithm>

namespace plumo::platform {

std::optional<Clock::time_point> DeadlineAfter(int32_t timeout_ms) {
  if (timeout_ms < 0) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

void Waiter::Arm() {
  std::lock_guard lock(FMutex);
  FWoken = false;
}

void Waiter::Wake() {
  {
    std::lock_guard lock(FMutex);
    FWoken = true;
  }
  FCond.notify_all();
}

bool Waiter::SleepUntil(const std::optional<Clock::time_point>& deadline) {
  std::unique_lock lock(FMutex);
  if (!deadline) {
    FCond.wait(lock, [this] { return FWoken; });
    return true;
  }
  return FCond.wait_until(lock, *deadline, [this] { return FWoken; });
}

void Event::Set() {
  std::lock_guard lock(FMutex);
  FSet = true;
  FCond.notify_all();
  // Woken under the event's lock so that a waiter cannot unregister and vanish meanwhile.
  for (Waiter* waiter : FWaiters) waiter->Wake();
}

void Event::Reset() {
  std::lock_guard lock(FMutex);
  FSet = false;
}

bool Event::IsSet() const {
  std::lock_guard lock(FMutex);
  return FSet;
}

bool Event::Wait(int32_t timeout_ms) {
  std::unique_lock lock(FMutex);
  const auto deadline = DeadlineAfter(timeout_ms);
  if (!deadline) {
    FCond.wait(lock, [this] { return FSet; });
    return true;
  }
  return FCond.wait_until(lock, *deadline, [this] { return FSet; });
}

void Event::AddWaiter(Waiter* waiter) {
  std::lock_guard lock(FMutex);
  FWaiters.push_back(waiter);
}

void Event::RemoveWaiter(Waiter* waiter) {
  std::lock_guard lock(FMutex);
  const auto it = std::find(FWaiters.begin(), FWaiters.end(), waiter);
  if (it != FWaiters.end()) FWaiters.erase(it);
}

int WaitForAny(std::initializer_list<Event*> events, int32_t timeout_ms) {
  const auto first_set = [&events] {
    int index = 0;
    for (Event* event : events) {
      if (event->IsSet()) return index;
      ++index;
    }
    return -1;
  };
  const auto deadline = DeadlineAfter(timeout_ms);
  Waiter waiter;
  // Unregisters from every event, also when a registration fails half-way.
  struct Registrations {
    std::initializer_list<Event*> events;
    Waiter* waiter;
    ~Registrations() {
      for (Event* event : events) event->RemoveWaiter(waiter);
    }
  } registrations{events, &waiter};
  for (Event* event : events) event->AddWaiter(&waiter);
  for (;;) {
    waiter.Arm();
    const int found = first_set();
    if (found >= 0) return found;
    // One last look after a time-out: an event set at the very end still counts.
    if (!waiter.SleepUntil(deadline)) return first_set();
  }
}

}  // namespace plumo::platform
