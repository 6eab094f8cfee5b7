// MainMessageQueue: the main thread's queue of notifications from worker threads, standing in
// for a hidden window. Any thread posts; the thread that pumps it (the GUI loop, or a tool's or
// test's ProcessMessages loop) dispatches the messages to one handler in posting order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "thread_queue.h"

namespace plumo::platform {

class MainMessageQueue {
 public:
  using Handler = std::function<void(const Message&)>;
  using WakeCallback = std::function<void()>;

  explicit MainMessageQueue(Handler handler);
  MainMessageQueue(const MainMessageQueue&) = delete;
  MainMessageQueue& operator=(const MainMessageQueue&) = delete;

  // Any thread. Queues the message; false (nothing queued) after Destroy.
  bool Post(uint32_t code, uintptr_t wparam = 0, intptr_t lparam = 0);
  // Any thread. Queues the message unless one of the same code is already queued; true when
  // it was queued.
  bool PostUnique(uint32_t code, uintptr_t wparam = 0, intptr_t lparam = 0);
  // Drops every queued message whose code lies in first..last (nothing when first > last).
  void RemoveMessages(uint32_t first, uint32_t last);
  bool HasMessage(uint32_t code) const;

  // Dispatches, on the calling thread and in posting order, every queued message until the
  // queue is empty, taking them out one at a time without holding a lock: a handler may post
  // (those are dispatched too), remove, or pump again. An exception from the handler
  // propagates; its message is already taken, the rest stay queued. Returns how many were
  // dispatched.
  size_t ProcessMessages();

  // Waits until a message is queued (true) or timeout_ms passed (< 0: forever). False at once
  // after Destroy.
  bool WaitForMessage(int32_t timeout_ms);

  // The callback runs on the posting thread after every successful post, outside the queue's
  // lock, so that a GUI loop can schedule ProcessMessages on its own thread.
  void SetWakeCallback(WakeCallback callback);

  // The queue goes away: queued messages are dropped, later posts do nothing and return false.
  void Destroy();
  bool Destroyed() const;

 private:
  bool PostLocked(std::unique_lock<std::mutex>& lock, const Message& message);

  const Handler FHandler;
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  std::deque<Message> FEntries;
  bool FDestroyed = false;
  std::shared_ptr<const WakeCallback> FWake;
};

}  // namespace plumo::platform
