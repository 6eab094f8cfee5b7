// TMPLoopThread: watch-event runs with the queue served between them, time-outs, Sync, Quit and
// Terminate, exceptions, priorities, and an idle thread that does not spin.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "loop_thread.h"
#include "thread.h"

namespace plumo {
namespace {

constexpr int32_t kHangGuardMs = 30000;

// Hands every message to a function the test sets (before Start) and records the codes.
class RecordingOwner final : public TMPMessageOwner {
 public:
  std::function<void(TMessage&)> OnMessage;

  void Dispatch(TMessage& msg) override {
    {
      std::lock_guard lock(FMutex);
      FCodes.push_back(msg.code);
    }
    if (OnMessage) OnMessage(msg);
  }

  std::vector<uint32_t> Codes() {
    std::lock_guard lock(FMutex);
    return FCodes;
  }
  size_t Count(uint32_t code) {
    std::lock_guard lock(FMutex);
    return static_cast<size_t>(std::count(FCodes.begin(), FCodes.end(), code));
  }

 private:
  std::mutex FMutex;
  std::vector<uint32_t> FCodes;
};

constexpr uint32_t kUserCode = 2000;

TEST(TMPLoopThreadTest, WatchEventRunsRepeatedlyWithTheQueueServedBetweenRuns) {
  RecordingOwner owner;
  TMPLoopThread thread(&owner);
  TMPSimpleEvent finished;
  int runs = 0;
  int runs_when_message_came = -1;
  owner.OnMessage = [&](TMessage& msg) {
    if (msg.code == MPM_WATCHEVENT) {
      EXPECT_EQ(msg.wParam, 0u);
      EXPECT_EQ(msg.lParam, 0);
      ++runs;
      if (runs == 3) thread.Post(kUserCode, 0, 0);
      if (runs == 10) {
        thread.WatchEvent().ResetEvent();
        finished.SetEvent();
      }
    } else if (msg.code == kUserCode) {
      runs_when_message_came = runs;
    }
  };
  thread.Start();
  thread.WatchEvent().SetEvent();
  ASSERT_EQ(finished.WaitFor(kHangGuardMs), wrSignaled);
  thread.Sync();
  // The message posted during run 3 was handled before run 4.
  EXPECT_EQ(runs_when_message_came, 3);
  // Once reset, the event is not dispatched again.
  EXPECT_EQ(owner.Count(MPM_WATCHEVENT), 10u);
}

TEST(TMPLoopThreadTest, MessagesReachTheOwnerWithTheirParametersInOrder) {
  RecordingOwner owner;
  std::vector<std::pair<uintptr_t, intptr_t>> params;
  owner.OnMessage = [&](TMessage& msg) {
    EXPECT_EQ(msg.result, 0);
    params.emplace_back(msg.wParam, msg.lParam);
  };
  TMPLoopThread thread(&owner);
  // Posted before Start: handled once the thread runs.
  EXPECT_TRUE(thread.Post(kUserCode, 1, -1));
  thread.Start();
  EXPECT_TRUE(thread.Post(kUserCode + 1, 2, -2));
  thread.Sync();
  EXPECT_EQ(owner.Codes(), (std::vector<uint32_t>{kUserCode, kUserCode + 1}));
  EXPECT_EQ(params, (std::vector<std::pair<uintptr_t, intptr_t>>{{1, -1}, {2, -2}}));
}

TEST(TMPLoopThreadTest, SyncReturnsAfterEveryEarlierPostWasHandled) {
  RecordingOwner owner;
  std::atomic<int> handled{0};
  owner.OnMessage = [&](TMessage&) {
    std::this_thread::yield();
    ++handled;
  };
  TMPLoopThread thread(&owner);
  thread.Start();
  for (int round = 1; round <= 3; ++round) {
    for (int i = 0; i < 100; ++i) thread.Post(kUserCode, 0, 0);
    thread.Sync();
    EXPECT_EQ(handled.load(), 100 * round);
  }
  // MPM_SYNC itself never reaches the owner.
  EXPECT_EQ(owner.Count(MPM_SYNC), 0u);
}

TEST(TMPLoopThreadTest, TimeoutIsReadAnewForEveryWait) {
  RecordingOwner owner;
  TMPSimpleEvent timed_out;
  owner.OnMessage = [&](TMessage& msg) {
    if (msg.code == MPM_TIMEOUT) timed_out.SetEvent();
  };
  TMPLoopThread thread(&owner);
  EXPECT_EQ(thread.Timeout(), INFINITE);
  thread.Start();
  thread.Sync();  // the loop is now waiting without time-out
  thread.SetTimeout(10);
  thread.Post(kUserCode, 0, 0);  // ends that wait; the next one uses the new time-out
  ASSERT_EQ(timed_out.WaitFor(kHangGuardMs), wrSignaled);
  thread.SetTimeout(INFINITE);
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  const size_t timeouts = owner.Count(MPM_TIMEOUT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  thread.Sync();
  // Back to an infinite wait: no more time-outs.
  EXPECT_EQ(owner.Count(MPM_TIMEOUT), timeouts);
}

TEST(TMPLoopThreadTest, QuitEndsTheThreadAndLaterPostsAndSyncsReturnAtOnce) {
  RecordingOwner owner;
  TMPLoopThread thread(&owner);
  thread.Start();
  thread.Post(kUserCode, 0, 0);
  thread.Quit();
  thread.Terminate();
  EXPECT_EQ(owner.Codes(), std::vector<uint32_t>{kUserCode});
  EXPECT_FALSE(thread.Post(kUserCode, 0, 0));
  thread.Sync();  // returns: the thread has ended
  TMPSimpleEvent never;
  thread.WaitForEventOrEnd(never);
  thread.Terminate();  // a second time does nothing
}

TEST(TMPLoopThreadTest, MessagesAfterQuitAreNotHandled) {
  RecordingOwner owner;
  TMPLoopThread thread(&owner);
  thread.Quit();
  thread.Post(kUserCode, 0, 0);
  thread.Start();
  thread.Terminate();
  EXPECT_TRUE(owner.Codes().empty());
}

TEST(TMPLoopThreadTest, ThreadNeverStartedTerminatesWithoutRunning) {
  RecordingOwner owner;
  {
    TMPLoopThread thread(&owner);
    thread.WatchEvent().SetEvent();
    thread.Post(kUserCode, 0, 0);
  }
  EXPECT_TRUE(owner.Codes().empty());
}

TEST(TMPLoopThreadTest, SyncWaitingWhenTheThreadEndsReturns) {
  RecordingOwner owner;
  TMPLoopThread thread(&owner);
  std::atomic<bool> in_handler{false};
  TMPSimpleEvent release;
  owner.OnMessage = [&](TMessage& msg) {
    if (msg.code == kUserCode) {
      in_handler = true;
      release.WaitFor(kHangGuardMs);
    }
  };
  thread.Start();
  thread.Post(kUserCode, 0, 0);
  thread.Quit();  // queued before the sync message: the sync is never served
  std::thread syncer([&] { thread.Sync(); });
  release.SetEvent();
  syncer.join();
  thread.Terminate();
}

TEST(TMPLoopThreadTest, HandledExceptionsGoToOnExceptionOnTheLoopThreadAndTheLoopGoesOn) {
  RecordingOwner owner;
  owner.OnMessage = [](TMessage& msg) {
    if (msg.code == kUserCode) throw std::runtime_error("decoder failed");
  };
  TMPLoopThread thread(&owner);
  std::mutex mutex;
  std::vector<std::string> messages;
  bool on_loop_thread = false;
  TMPLoopThread* sender_seen = nullptr;
  thread.SetOnException([&](TMPLoopThread* sender, std::exception_ptr e, bool& handled) {
    std::lock_guard lock(mutex);
    sender_seen = sender;
    on_loop_thread = sender->IsCurrentThread();
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      messages.push_back(x.what());
    }
    handled = true;
  });
  thread.Start();
  ::testing::internal::CaptureStderr();
  thread.Post(kUserCode, 0, 0);
  thread.Post(kUserCode + 1, 0, 0);  // in the same batch, after the failing one
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  const std::string shown = ::testing::internal::GetCapturedStderr();
  std::lock_guard lock(mutex);
  EXPECT_EQ(messages, (std::vector<std::string>{"decoder failed", "decoder failed"}));
  EXPECT_EQ(sender_seen, &thread);
  EXPECT_TRUE(on_loop_thread);
  EXPECT_EQ(owner.Codes(), (std::vector<uint32_t>{kUserCode, kUserCode + 1, kUserCode}));
  EXPECT_EQ(shown, "");  // handled: nothing shown
}

TEST(TMPLoopThreadTest, UnhandledExceptionsAreShownOnStandardErrorAndTheLoopGoesOn) {
  RecordingOwner owner;
  owner.OnMessage = [](TMessage& msg) {
    if (msg.code == kUserCode) throw std::runtime_error("stream read error");
  };
  TMPLoopThread thread(&owner);
  thread.SetOnException([](TMPLoopThread*, std::exception_ptr, bool& handled) { handled = false; });
  thread.Start();
  ::testing::internal::CaptureStderr();
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  const std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown, "stream read error\n");
  // Still looping.
  thread.Post(kUserCode + 1, 0, 0);
  thread.Sync();
  EXPECT_EQ(owner.Count(kUserCode + 1), 1u);
}

TEST(TMPLoopThreadTest, WithoutAHandlerExceptionsAreShownOnStandardError) {
  RecordingOwner owner;
  owner.OnMessage = [](TMessage& msg) {
    if (msg.code == kUserCode) throw std::runtime_error("no handler assigned");
  };
  TMPLoopThread thread(&owner);
  thread.Start();
  ::testing::internal::CaptureStderr();
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no handler assigned\n");
}

TEST(TMPLoopThreadTest, FailingWatchEventHandlerKeepsTheQueueServed) {
  RecordingOwner owner;
  std::atomic<int> failures{0};
  owner.OnMessage = [&](TMessage& msg) {
    if (msg.code == MPM_WATCHEVENT) throw std::runtime_error("step failed");
  };
  TMPLoopThread thread(&owner);
  TMPSimpleEvent enough;
  thread.SetOnException([&](TMPLoopThread* sender, std::exception_ptr, bool& handled) {
    handled = true;
    // Like the player: the failure stops the work the event stands for.
    if (++failures == 5) {
      sender->WatchEvent().ResetEvent();
      enough.SetEvent();
    }
  });
  thread.Start();
  thread.WatchEvent().SetEvent();
  ASSERT_EQ(enough.WaitFor(kHangGuardMs), wrSignaled);
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  EXPECT_EQ(failures.load(), 5);
  EXPECT_EQ(owner.Count(kUserCode), 1u);
}

TEST(TMPLoopThreadTest, LoweringThePriorityChangesTheThreadsNiceValue) {
  RecordingOwner owner;
  TMPLoopThread thread(&owner);
  thread.Start();
  EXPECT_EQ(thread.Priority(), tpNormal);
  const int before = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread.ThreadId()));
  EXPECT_TRUE(thread.SetPriority(tpLower));
  EXPECT_EQ(thread.Priority(), tpLower);
  // Nice 5, or the higher value it had when the process may not raise its priority.
  const int lowered = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread.ThreadId()));
  EXPECT_TRUE(lowered == 5 || (before > 5 && lowered == before)) << before << " -> " << lowered;
  EXPECT_TRUE(thread.SetPriority(tpIdle));
  EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(thread.ThreadId())), 19);
  thread.Terminate();
  // The thread is gone: nothing to change.
  EXPECT_FALSE(thread.SetPriority(tpLowest));
}

TEST(TMPLoopThreadTest, IdleThreadUsesNoCpuWhileWaiting) {
  RecordingOwner owner;
  std::vector<std::chrono::nanoseconds> cpu;
  owner.OnMessage = [&](TMessage& msg) {
    if (msg.code == kUserCode) cpu.push_back(platform::CurrentThreadCpuTime());
  };
  TMPLoopThread thread(&owner);
  thread.Start();
  // Once with the watch event never set, once after it was set and reset again.
  thread.WatchEvent().SetEvent();
  thread.WatchEvent().ResetEvent();
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  thread.Post(kUserCode, 0, 0);
  thread.Sync();
  ASSERT_EQ(cpu.size(), 2u);
  // Well under 5 % of the half second: a thread that sleeps in its wait.
  EXPECT_LT(cpu[1] - cpu[0], std::chrono::milliseconds(25));
}

}  // namespace
}  // namespace plumo
