// TMPSimpleMutex and TMPSimpleEvent.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sync.h"

namespace plumo {
namespace {

TEST(TMPSimpleMutexTest, IsReentrantAndHeldUntilTheLastLeave) {
  TMPSimpleMutex mutex;
  std::atomic<bool> other_entered{false};
  mutex.Enter();
  mutex.Enter();  // the owner enters again without blocking
  std::thread other([&] {
    TMPMutexLock lock(mutex);
    other_entered = true;
  });
  mutex.Leave();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(other_entered.load());  // still held once
  mutex.Leave();
  other.join();
  EXPECT_TRUE(other_entered.load());
}

TEST(TMPSimpleMutexTest, GuardKeepsCountersConsistentAcrossThreads) {
  TMPSimpleMutex mutex;
  int64_t counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        TMPMutexLock outer(mutex);
        TMPMutexLock inner(mutex);
        ++counter;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

TEST(TMPSimpleEventTest, ManualResetInitiallyNotSignalled) {
  TMPSimpleEvent event;
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
  EXPECT_EQ(event.WaitFor(10), wrTimeout);
  event.SetEvent();
  EXPECT_EQ(event.WaitFor(0), wrSignaled);
  EXPECT_EQ(event.WaitFor(INT32_C(-1)), wrSignaled);
  event.ResetEvent();
  EXPECT_FALSE(event.Signaled());
  std::thread setter([&] { event.SetEvent(); });
  EXPECT_EQ(event.WaitFor(-1), wrSignaled);
  setter.join();
}

}  // namespace
}  // namespace plumo
