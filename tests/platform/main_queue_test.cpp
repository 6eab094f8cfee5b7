// MainMessageQueue: posting order, coalesced posting, removal, re-entrant pumping, the wake
// callback and the destroyed queue.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "main_queue.h"

namespace plumo::platform {
namespace {

class MainQueueTest : public ::testing::Test {
 protected:
  std::vector<Message> seen;
  std::function<void(const Message&)> extra;
  MainMessageQueue queue{[this](const Message& m) {
    seen.push_back(m);
    if (extra) extra(m);
  }};

  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> codes;
    for (const auto& m : seen) codes.push_back(m.code);
    return codes;
  }
};

TEST_F(MainQueueTest, DispatchesInPostingOrderWithParameters) {
  EXPECT_TRUE(queue.Post(1034, 5, -6));
  EXPECT_TRUE(queue.Post(1038));
  EXPECT_TRUE(queue.Post(1034, 7, 8));
  EXPECT_EQ(queue.ProcessMessages(), 3u);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{1034, 1038, 1034}));
  EXPECT_EQ(seen[0].wparam, 5u);
  EXPECT_EQ(seen[0].lparam, -6);
  EXPECT_EQ(seen[2].wparam, 7u);
  EXPECT_EQ(queue.ProcessMessages(), 0u);
}

TEST_F(MainQueueTest, PostUniqueSkipsACodeAlreadyQueued) {
  EXPECT_TRUE(queue.PostUnique(1038));
  EXPECT_TRUE(queue.PostUnique(1039));
  EXPECT_FALSE(queue.PostUnique(1038));
  EXPECT_TRUE(queue.HasMessage(1038));
  EXPECT_FALSE(queue.HasMessage(1034));
  queue.ProcessMessages();
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{1038, 1039}));
  // Once dispatched the code may be posted again.
  EXPECT_TRUE(queue.PostUnique(1038));
}

TEST_F(MainQueueTest, RemoveMessagesDropsACodeRange) {
  for (uint32_t code : {1034u, 1035u, 1036u, 1038u, 1034u, 1040u}) queue.Post(code);
  queue.RemoveMessages(1034, 1034);
  EXPECT_FALSE(queue.HasMessage(1034));
  queue.RemoveMessages(1036, 1039);
  queue.RemoveMessages(1050, 1040);  // an empty range removes nothing
  queue.ProcessMessages();
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{1035, 1040}));
}

TEST_F(MainQueueTest, HandlersMayPostRemoveAndPumpAgain) {
  extra = [this](const Message& m) {
    if (m.code == 1) {
      queue.Post(10);
      queue.RemoveMessages(2, 2);
      queue.ProcessMessages();  // dispatches 3 and 10 from inside the handler of 1
    }
  };
  queue.Post(1);
  queue.Post(2);
  queue.Post(3);
  queue.ProcessMessages();
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{1, 3, 10}));
}

TEST_F(MainQueueTest, MessagesPostedByAHandlerAreDispatchedInTheSameCall) {
  extra = [this](const Message& m) {
    if (m.code < 3) queue.Post(m.code + 1);
  };
  queue.Post(1);
  EXPECT_EQ(queue.ProcessMessages(), 3u);
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(MainQueueTest, HandlerExceptionLeavesTheRestQueued) {
  extra = [](const Message& m) {
    if (m.code == 2) throw std::runtime_error("handler failed");
  };
  queue.Post(1);
  queue.Post(2);
  queue.Post(3);
  EXPECT_THROW(queue.ProcessMessages(), std::runtime_error);
  EXPECT_TRUE(queue.HasMessage(3));
  EXPECT_FALSE(queue.HasMessage(2));
  queue.ProcessMessages();
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{1, 2, 3}));
}

TEST_F(MainQueueTest, DestroyedQueueTakesNoMorePosts) {
  queue.Post(1);
  queue.Destroy();
  EXPECT_TRUE(queue.Destroyed());
  EXPECT_FALSE(queue.Post(2));
  EXPECT_FALSE(queue.PostUnique(3));
  EXPECT_FALSE(queue.HasMessage(1));
  EXPECT_FALSE(queue.WaitForMessage(-1));  // returns at once instead of waiting forever
  EXPECT_EQ(queue.ProcessMessages(), 0u);
  EXPECT_TRUE(seen.empty());
}

TEST_F(MainQueueTest, WakeCallbackRunsOnThePostingThreadAfterEachPost) {
  std::atomic<int> wakes{0};
  std::thread::id waker_thread;
  queue.SetWakeCallback([&] {
    waker_thread = std::this_thread::get_id();
    // The message is already queued when the callback runs.
    EXPECT_TRUE(queue.HasMessage(42));
    ++wakes;
  });
  std::thread poster([&] {
    queue.Post(42);
    queue.PostUnique(42);  // not queued: no wake
    EXPECT_EQ(waker_thread, std::this_thread::get_id());
  });
  poster.join();
  EXPECT_EQ(wakes.load(), 1);
  queue.Destroy();
  queue.Post(42);
  EXPECT_EQ(wakes.load(), 1);
}

TEST_F(MainQueueTest, WaitForMessageWakesForAPostFromAWorker) {
  EXPECT_FALSE(queue.WaitForMessage(0));
  EXPECT_FALSE(queue.WaitForMessage(20));
  std::thread worker([&] { queue.Post(5); });
  EXPECT_TRUE(queue.WaitForMessage(-1));
  worker.join();
  queue.ProcessMessages();
  EXPECT_EQ(Codes(), (std::vector<uint32_t>{5}));
}

TEST_F(MainQueueTest, WorkersPostingConcurrentlyAreAllDispatchedOnThePumpingThread) {
  const auto pump_thread = std::this_thread::get_id();
  std::atomic<bool> wrong_thread{false};
  extra = [&](const Message&) {
    if (std::this_thread::get_id() != pump_thread) wrong_thread = true;
  };
  constexpr int kPerWorker = 500;
  std::vector<std::thread> workers;
  for (int w = 0; w < 2; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < kPerWorker; ++i) queue.Post(1034);
    });
  }
  size_t dispatched = 0;
  while (dispatched < 2 * kPerWorker) {
    queue.WaitForMessage(-1);
    dispatched += queue.ProcessMessages();
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(seen.size(), 2u * kPerWorker);
  EXPECT_FALSE(wrong_thread.load());
}

}  // namespace
}  // namespace plumo::platform
