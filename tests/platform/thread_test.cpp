// Thread priorities as nice values, thread CPU time and the tick counter.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <thread>

#include "thread.h"

namespace plumo::platform {
namespace {

TEST(ThreadPriorityTest, LevelsMapToNiceValuesFromIdleToTimeCritical) {
  EXPECT_EQ(NiceValue(ThreadPriority::kIdle), 19);
  EXPECT_EQ(NiceValue(ThreadPriority::kLowest), 10);
  EXPECT_EQ(NiceValue(ThreadPriority::kLower), 5);
  EXPECT_EQ(NiceValue(ThreadPriority::kNormal), 0);
  EXPECT_EQ(NiceValue(ThreadPriority::kHigher), -5);
  EXPECT_EQ(NiceValue(ThreadPriority::kHighest), -10);
  EXPECT_EQ(NiceValue(ThreadPriority::kTimeCritical), -20);
}

TEST(ThreadPriorityTest, LoweringAThreadChangesThatThreadOnly) {
  const int main_nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()));
  int worker_nice = 0;
  bool lowered = false;
  // A level at or below the process's own is always permitted, whoever runs the test under
  // whatever nice value (root could also go above it, which is not what this checks).
  const ThreadPriority level = main_nice < NiceValue(ThreadPriority::kLowest) ? ThreadPriority::kLowest
                                                                               : ThreadPriority::kIdle;
  std::thread worker([&] {
    lowered = SetThreadPriority(CurrentThreadId(), level);
    worker_nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()));
  });
  worker.join();
  EXPECT_TRUE(lowered);
  EXPECT_EQ(worker_nice, NiceValue(level));
  EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId())), main_nice);
}

TEST(ThreadPriorityTest, AnUnknownThreadIsRefusedWithoutError) {
  EXPECT_FALSE(SetThreadPriority(-1, ThreadPriority::kLower));
}

TEST(ThreadCpuTimeTest, BusyThreadAccumulatesCpuTime) {
  const auto before = CurrentThreadCpuTime();
  volatile uint64_t sink = 0;
  for (uint64_t i = 0; i < 20'000'000; ++i) sink = sink + i;
  EXPECT_GT(CurrentThreadCpuTime(), before);
  EXPECT_GT(ThreadCpuTime(::pthread_self()).count(), 0);
}

TEST(TickCountTest, AdvancesWithTime) {
  const uint32_t start = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // Unsigned difference: correct across the wrap at 2^32 as well.
  EXPECT_GE(static_cast<uint32_t>(TickCount() - start), 19u);
}

}  // namespace
}  // namespace plumo::platform
