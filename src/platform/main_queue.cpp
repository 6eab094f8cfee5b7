#include "main_queue.h"

#include <algorithm>
#include <utility>

namespace plumo::platform {

MainMessageQueue::MainMessageQueue(Handler handler) : FHandler(std::move(handler)) {}

bool MainMessageQueue::PostLocked(std::unique_lock<std::mutex>& lock, const Message& message) {
  FEntries.push_back(message);
  std::shared_ptr<const WakeCallback> wake = FWake;
  lock.unlock();
  FCond.notify_all();
  if (wake && *wake) (*wake)();
  return true;
}

bool MainMessageQueue::Post(uint32_t code, uintptr_t wparam, intptr_t lparam) {
  std::unique_lock lock(FMutex);
  if (FDestroyed) return false;
  return PostLocked(lock, Message{code, wparam, lparam});
}

bool MainMessageQueue::PostUnique(uint32_t code, uintptr_t wparam, intptr_t lparam) {
  std::unique_lock lock(FMutex);
  if (FDestroyed) return false;
  const bool queued = std::any_of(FEntries.begin(), FEntries.end(),
                                  [code](const Message& m) { return m.code == code; });
  if (queued) return false;
  return PostLocked(lock, Message{code, wparam, lparam});
}

void MainMessageQueue::RemoveMessages(uint32_t first, uint32_t last) {
  std::lock_guard lock(FMutex);
  std::erase_if(FEntries, [first, last](const Message& m) { return m.code >= first && m.code <= last; });
}

bool MainMessageQueue::HasMessage(uint32_t code) const {
  std::lock_guard lock(FMutex);
  return std::any_of(FEntries.begin(), FEntries.end(),
                     [code](const Message& m) { return m.code == code; });
}

size_t MainMessageQueue::ProcessMessages() {
  size_t dispatched = 0;
  for (;;) {
    Message message;
    {
      std::lock_guard lock(FMutex);
      if (FEntries.empty()) break;
      message = FEntries.front();
      FEntries.pop_front();
    }
    ++dispatched;
    if (FHandler) FHandler(message);
  }
  return dispatched;
}

bool MainMessageQueue::WaitForMessage(int32_t timeout_ms) {
  std::unique_lock lock(FMutex);
  const auto ready = [this] { return FDestroyed || !FEntries.empty(); };
  const auto deadline = DeadlineAfter(timeout_ms);
  if (!deadline) {
    FCond.wait(lock, ready);
  } else {
    FCond.wait_until(lock, *deadline, ready);
  }
  return !FDestroyed && !FEntries.empty();
}

void MainMessageQueue::SetWakeCallback(WakeCallback callback) {
  auto wake = std::make_shared<const WakeCallback>(std::move(callback));
  std::lock_guard lock(FMutex);
  FWake = std::move(wake);
}

void MainMessageQueue::Destroy() {
  {
    std::lock_guard lock(FMutex);
    FDestroyed = true;
    FEntries.clear();
    FWake.reset();
  }
  FCond.notify_all();
}

bool MainMessageQueue::Destroyed() const {
  std::lock_guard lock(FMutex);
  return FDestroyed;
}

}  // namespace plumo::platform
