// TMPLoopThread: a worker thread with a message loop. It waits for its WatchEvent, a message in
// its queue or the time-out, and hands what it gets to its owner's Dispatch by message code.
// While WatchEvent stays signalled the owner's MPM_WATCHEVENT handler runs again and again, with
// the queue served between two runs. Exceptions in the loop go to OnException; the loop survives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <sys/types.h>
#include <thread>

#include "event.h"
#include "sync.h"
#include "thread_queue.h"

namespace plumo {

// The tools' exception display: the message on standard error.
void PrintException(const std::exception_ptr& e);

inline constexpr uint32_t MPM_QUIT = 1054;        // leave the loop; the thread ends
inline constexpr uint32_t MPM_WATCHEVENT = 1055;  // WatchEvent is signalled
inline constexpr uint32_t MPM_SYNC = 1056;        // wParam is a TMPEvent* to signal
inline constexpr uint32_t MPM_TIMEOUT = 1057;     // the wait timed out

inline constexpr int32_t INFINITE = -1;

enum TThreadPriority : uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

struct TMessage {
  uint32_t code = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  intptr_t result = 0;
};

// Receives the loop's messages; runs the handler for the code or does nothing.
class TMPMessageOwner {
 public:
  virtual void Dispatch(TMessage& msg) = 0;

 protected:
  ~TMPMessageOwner() = default;
};

class TMPLoopThread {
 public:
  // Sender, the exception, and whether the handler dealt with it (unhandled ones are printed on
  // standard error).
  using TExceptionEvent =
      std::function<void(TMPLoopThread* sender, std::exception_ptr e, bool& handled)>;

  // Creates the thread, which waits for Start before it runs its loop. Timeout starts INFINITE.
  explicit TMPLoopThread(TMPMessageOwner* owner);
  // Terminate.
  ~TMPLoopThread();
  TMPLoopThread(const TMPLoopThread&) = delete;
  TMPLoopThread& operator=(const TMPLoopThread&) = delete;

  void Start();
  // Any thread. Queues a thread message; false once the thread has ended.
  bool Post(uint32_t msg, uintptr_t wParam, intptr_t lParam);
  // Sets the thread's scheduling priority where the system permits; false when it did not.
  bool SetPriority(TThreadPriority priority);
  TThreadPriority Priority() const;
  void Quit();
  // Quits and waits for the thread to end (a thread never started ends without looping).
  void Terminate();
  // Returns once the thread has handled every message posted before, or has ended.
  void Sync();
  // Waits without time-out until event is signalled or the thread has ended.
  void WaitForEventOrEnd(TMPEvent& event);

  // The wait time of the loop in ms (INFINITE = -1), read anew for every wait. Any thread.
  int32_t Timeout() const { return FTimeout.load(); }
  void SetTimeout(int32_t ms) { FTimeout.store(ms); }

  TMPSimpleEvent& WatchEvent() { return FWatchEvent; }
  void SetOnException(TExceptionEvent handler);

  // True on the loop thread itself.
  bool IsCurrentThread() const { return std::this_thread::get_id() == FThread.get_id(); }
  // The kernel's id of the thread.
  pid_t ThreadId() const { return FTid; }
  std::thread::native_handle_type NativeHandle() { return FThread.native_handle(); }

 private:
  void Body();
  void Loop();
  void DispatchToOwner(uint32_t code, uintptr_t wParam, intptr_t lParam);
  void HandleException(std::exception_ptr e);

  TMPMessageOwner* const FOwner;
  platform::ThreadQueue FQueue;
  TMPSimpleEvent FWatchEvent;
  std::atomic<int32_t> FTimeout{INFINITE};

  mutable std::mutex FMutex;  // guards the fields below
  TExceptionEvent FOnException;
  TThreadPriority FPriority = tpNormal;
  bool FStarted = false;
  bool FAbandoned = false;  // terminated before Start: leave without looping
  bool FEnded = false;      // the loop has returned; FTid is no longer valid
  std::condition_variable FStartCond;

  platform::Event FReady;  // FTid is known
  platform::Event FEnd;    // the loop has returned
  pid_t FTid = 0;
  std::thread FThread;     // last: starts after everything above exists
};

}  // namespace plumo
