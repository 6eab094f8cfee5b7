// Events, waiting for any of several sources, and the thread queue's wait results.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "event.h"
#include "thread_queue.h"

namespace plumo::platform {
namespace {

TEST(EventTest, StaysSignalledUntilReset) {
  Event event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(-1));  // manual reset: a wait does not consume the signal
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.Wait(10));
  EXPECT_TRUE(Event(true).IsSet());
}

TEST(EventTest, InfiniteWaitEndsWhenAnotherThreadSets) {
  Event event;
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.Wait(-1));
  setter.join();
}

TEST(EventTest, WaitForAnyNamesTheSetEventOrTimesOut) {
  Event a;
  Event b;
  EXPECT_EQ(WaitForAny({&a, &b}, 0), -1);
  EXPECT_EQ(WaitForAny({&a, &b}, 20), -1);
  b.Set();
  EXPECT_EQ(WaitForAny({&a, &b}, -1), 1);
  a.Set();
  EXPECT_EQ(WaitForAny({&a, &b}, -1), 0);
}

TEST(EventTest, WaitForAnyWakesForTheSecondEvent) {
  Event a;
  Event b;
  std::thread setter([&] { b.Set(); });
  EXPECT_EQ(WaitForAny({&a, &b}, -1), 1);
  setter.join();
}

TEST(EventTest, ManyWaitersAreAllReleased) {
  Event event;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      Event never;
      if (WaitForAny({&never, &event}, -1) == 1) ++released;
    });
  }
  event.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(released.load(), 4);
}

TEST(ThreadQueueTest, MessagesComeOutInPostingOrder) {
  ThreadQueue queue;
  for (uint32_t i = 1; i <= 5; ++i) ASSERT_TRUE(queue.Post(i, i * 10, -static_cast<intptr_t>(i)));
  Message m;
  for (uint32_t i = 1; i <= 5; ++i) {
    ASSERT_TRUE(queue.TryTake(m));
    EXPECT_EQ(m.code, i);
    EXPECT_EQ(m.wparam, i * 10);
    EXPECT_EQ(m.lparam, -static_cast<intptr_t>(i));
  }
  EXPECT_FALSE(queue.TryTake(m));
  EXPECT_TRUE(queue.Empty());
}

TEST(ThreadQueueTest, WaitReportsEventMessageOrTimeout) {
  ThreadQueue queue;
  Event event;
  EXPECT_EQ(queue.Wait(event, 0), ThreadQueue::kTimeout);
  EXPECT_EQ(queue.Wait(event, 20), ThreadQueue::kTimeout);
  queue.Post(7, 0, 0);
  EXPECT_EQ(queue.Wait(event, -1), ThreadQueue::kMessage);
  EXPECT_EQ(queue.Wait(event, 0), ThreadQueue::kMessage);  // still queued: waiting does not take it
  event.Set();
  // A set event wins over a queued message.
  EXPECT_EQ(queue.Wait(event, -1), ThreadQueue::kEvent);
  Message m;
  ASSERT_TRUE(queue.TryTake(m));
  EXPECT_EQ(queue.Wait(event, 0), ThreadQueue::kEvent);
  event.Reset();
  EXPECT_EQ(queue.Wait(event, 0), ThreadQueue::kTimeout);
}

TEST(ThreadQueueTest, InfiniteWaitWakesForAPostFromAnotherThread) {
  ThreadQueue queue;
  Event event;
  std::thread poster([&] { queue.Post(1, 2, 3); });
  EXPECT_EQ(queue.Wait(event, -1), ThreadQueue::kMessage);
  poster.join();
}

TEST(ThreadQueueTest, InfiniteWaitWakesForTheEventFromAnotherThread) {
  ThreadQueue queue;
  Event event;
  std::thread setter([&] { event.Set(); });
  EXPECT_EQ(queue.Wait(event, -1), ThreadQueue::kEvent);
  setter.join();
}

TEST(ThreadQueueTest, ManyPostersLoseNothing) {
  ThreadQueue queue;
  constexpr int kPerThread = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < 3; ++t) {
    posters.emplace_back([&queue, t] {
      for (int i = 0; i < kPerThread; ++i) queue.Post(static_cast<uint32_t>(t), static_cast<uintptr_t>(i), 0);
    });
  }
  Event never;
  std::vector<int> next(3, 0);
  int taken = 0;
  while (taken < 3 * kPerThread) {
    ASSERT_NE(queue.Wait(never, -1), ThreadQueue::kEvent);
    Message m;
    while (queue.TryTake(m)) {
      // Each poster's messages keep their order.
      ASSERT_EQ(static_cast<int>(m.wparam), next[m.code]++);
      ++taken;
    }
  }
  for (auto& t : posters) t.join();
}

TEST(ThreadQueueTest, ClosedQueueRefusesPostsAndDropsItsMessages) {
  ThreadQueue queue;
  queue.Post(1, 0, 0);
  queue.Close();
  EXPECT_TRUE(queue.Closed());
  EXPECT_TRUE(queue.Empty());
  EXPECT_FALSE(queue.Post(2, 0, 0));
  EXPECT_TRUE(queue.Empty());
}

}  // namespace
}  // namespace plumo::platform
