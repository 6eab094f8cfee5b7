#include "thread_queue.h"

#include <algorithm>

namespace plumo::platform {

bool ThreadQueue::Post(const Message& message) {
  std::lock_guard lock(FMutex);
  if (FClosed) return false;
  FMessages.push_back(message);
  for (Waiter* waiter : FWaiters) waiter->Wake();
  return true;
}

bool ThreadQueue::TryTake(Message& message) {
  std::lock_guard lock(FMutex);
  if (FMessages.empty()) return false;
  message = FMessages.front();
  FMessages.pop_front();
  return true;
}

bool ThreadQueue::Empty() const {
  std::lock_guard lock(FMutex);
  return FMessages.empty();
}

ThreadQueue::WaitResult ThreadQueue::Wait(Event& event, int32_t timeout_ms) {
  const auto deadline = DeadlineAfter(timeout_ms);
  Waiter waiter;
  ScopedWaiterRegistration on_event(event, waiter);
  ScopedWaiterRegistration on_queue(*this, waiter);
  for (;;) {
    waiter.Arm();
    // The event is looked at first: a set event wins over queued messages.
    if (event.IsSet()) return kEvent;
    if (!Empty()) return kMessage;
    if (!waiter.SleepUntil(deadline)) {
      if (event.IsSet()) return kEvent;
      return Empty() ? kTimeout : kMessage;
    }
  }
}

void ThreadQueue::Close() {
  std::lock_guard lock(FMutex);
  FClosed = true;
  FMessages.clear();
}

bool ThreadQueue::Closed() const {
  std::lock_guard lock(FMutex);
  return FClosed;
}

void ThreadQueue::AddWaiter(Waiter* waiter) {
  std::lock_guard lock(FMutex);
  FWaiters.push_back(waiter);
}

void ThreadQueue::RemoveWaiter(Waiter* waiter) {
  std::lock_guard lock(FMutex);
  const auto it = std::find(FWaiters.begin(), FWaiters.end(), waiter);
  if (it != FWaiters.end()) FWaiters.erase(it);
}

}  // namespace plumo::platform
