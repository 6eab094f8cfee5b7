#include "loop_thread.h"

#include <cstdio>
#include <utility>

#include "thread.h"

namespace plumo {

namespace {

platform::ThreadPriority PlatformPriority(TThreadPriority priority) {
  switch (priority) {
    case tpIdle: return platform::ThreadPriority::kIdle;
    case tpLowest: return platform::ThreadPriority::kLowest;
    case tpLower: return platform::ThreadPriority::kLower;
    case tpNormal: return platform::ThreadPriority::kNormal;
    case tpHigher: return platform::ThreadPriority::kHigher;
    case tpHighest: return platform::ThreadPriority::kHighest;
    case tpTimeCritical: return platform::ThreadPriority::kTimeCritical;
  }
  return platform::ThreadPriority::kNormal;
}

}  // namespace

void PrintException(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    std::fprintf(stderr, "%s\n", x.what());
  } catch (...) {
    std::fprintf(stderr, "unknown exception\n");
  }
}

TMPLoopThread::TMPLoopThread(TMPMessageOwner* owner) : FOwner(owner) {
  FThread = std::thread([this] { Body(); });
  FReady.Wait(-1);
}

TMPLoopThread::~TMPLoopThread() { Terminate(); }

void TMPLoopThread::Start() {
  {
    std::lock_guard lock(FMutex);
    FStarted = true;
  }
  FStartCond.notify_all();
}

void TMPLoopThread::Body() {
  FTid = platform::CurrentThreadId();
  FReady.Set();
  bool run = false;
  {
    std::unique_lock lock(FMutex);
    FStartCond.wait(lock, [this] { return FStarted || FAbandoned; });
    run = !FAbandoned;
  }
  if (run) Loop();
  {
    std::lock_guard lock(FMutex);
    FEnded = true;
  }
  // Nothing can be delivered any more; Sync and WaitForEventOrEnd return.
  FQueue.Close();
  FEnd.Set();
}

void TMPLoopThread::Loop() {
  for (;;) {
    try {
      switch (FQueue.Wait(FWatchEvent.Handle(), FTimeout.load())) {
        case platform::ThreadQueue::kEvent: DispatchToOwner(MPM_WATCHEVENT, 0, 0); break;
        case platform::ThreadQueue::kTimeout: DispatchToOwner(MPM_TIMEOUT, 0, 0); break;
        case platform::ThreadQueue::kMessage: break;
      }
      platform::Message message;
      while (FQueue.TryTake(message)) {
        if (message.code == MPM_QUIT) return;
        if (message.code == MPM_SYNC) {
          if (message.wparam != 0) reinterpret_cast<TMPEvent*>(message.wparam)->SetEvent();
          continue;
        }
        DispatchToOwner(message.code, message.wparam, message.lparam);
      }
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
}

void TMPLoopThread::DispatchToOwner(uint32_t code, uintptr_t wParam, intptr_t lParam) {
  TMessage msg{code, wParam, lParam, 0};
  if (FOwner) FOwner->Dispatch(msg);
}

void TMPLoopThread::HandleException(std::exception_ptr e) {
  TExceptionEvent handler;
  {
    std::lock_guard lock(FMutex);
    handler = FOnException;
  }
  bool handled = false;
  if (handler) {
    try {
      handler(this, e, handled);
    } catch (...) {
      // A failing handler leaves its own exception to be shown.
      e = std::current_exception();
      handled = false;
    }
  }
  if (!handled) PrintException(e);
}

bool TMPLoopThread::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return FQueue.Post(msg, wParam, lParam);
}

bool TMPLoopThread::SetPriority(TThreadPriority priority) {
  std::lock_guard lock(FMutex);
  FPriority = priority;
  // Under the lock the thread cannot end, so its id still names it.
  if (FEnded) return false;
  return platform::SetThreadPriority(FTid, PlatformPriority(priority));
}

TThreadPriority TMPLoopThread::Priority() const {
  std::lock_guard lock(FMutex);
  return FPriority;
}

void TMPLoopThread::Quit() { Post(MPM_QUIT, 0, 0); }

void TMPLoopThread::Terminate() {
  if (!FThread.joinable()) return;
  if (IsCurrentThread()) {
    // The loop cannot wait for itself: it leaves at its next look at the queue.
    Quit();
    return;
  }
  {
    std::lock_guard lock(FMutex);
    if (!FStarted) FAbandoned = true;
  }
  FStartCond.notify_all();
  Quit();
  FThread.join();
}

void TMPLoopThread::Sync() {
  // The loop cannot wait for its own queue while it runs a handler: return at once.
  if (IsCurrentThread()) return;
  TMPSimpleEvent done;
  if (!Post(MPM_SYNC, reinterpret_cast<uintptr_t>(&done), 0)) return;
  WaitForEventOrEnd(done);
}

void TMPLoopThread::WaitForEventOrEnd(TMPEvent& event) {
  platform::WaitForAny({&event.Handle(), &FEnd}, -1);
}

void TMPLoopThread::SetOnException(TExceptionEvent handler) {
  std::lock_guard lock(FMutex);
  FOnException = std::move(handler);
}

}  // namespace plumo
