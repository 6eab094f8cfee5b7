// A thread's message queue: any thread posts, the owning thread takes messages, and waits for
// "its event is set, a message is queued, or the time-out passed", whichever comes first.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "event.h"

namespace plumo::platform {

struct Message {
  uint32_t code = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

class ThreadQueue {
 public:
  enum WaitResult { kEvent, kMessage, kTimeout };

  ThreadQueue() = default;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // Any thread. Appends the message; false (and nothing queued) once the queue is closed.
  bool Post(const Message& message);
  bool Post(uint32_t code, uintptr_t wparam, intptr_t lparam) {
    return Post(Message{code, wparam, lparam});
  }
  // Takes the oldest message; false when none is queued.
  bool TryTake(Message& message);
  bool Empty() const;

  // Waits until event is set (kEvent, also when messages are queued), a message is queued
  // (kMessage) or timeout_ms passed (kTimeout; < 0 waits forever, 0 only tests).
  WaitResult Wait(Event& event, int32_t timeout_ms);

  // Refuses every later post and drops what is queued (the thread behind it has ended).
  void Close();
  bool Closed() const;

  // Registers a waiter that every post wakes; it must be removed before it is destroyed.
  void AddWaiter(Waiter* waiter);
  void RemoveWaiter(Waiter* waiter);

 private:
  mutable std::mutex FMutex;
  std::deque<Message> FMessages;
  std::vector<Waiter*> FWaiters;
  bool FClosed = false;
};

}  // namespace plumo::platform
