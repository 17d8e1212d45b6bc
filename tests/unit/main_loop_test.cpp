// The Linux main loop with real signals, sent to the loop's thread, which blocks them: they
// reach its signalfd, never the test process's default action.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/posix/main_loop.h"

namespace {

using platform::posix::MainLoop;

TEST(MainLoop, RunsPostedWorkOnItsThreadInOrderUntilAStopSignal) {
  for (const int stop_signal : {SIGTERM, SIGINT}) {
    MainLoop loop;
    const pthread_t loop_thread = pthread_self();
    std::vector<int> ran;
    std::thread poster([&] {
      for (int i = 0; i < 200; ++i)
        EXPECT_TRUE(loop.Post([&, i] { if (pthread_equal(pthread_self(), loop_thread)) ran.push_back(i); }));
      // Work that posts work: it runs after everything posted before it.
      loop.Post([&] { loop.Post([&] { pthread_kill(loop_thread, stop_signal); }); });
    });
    EXPECT_EQ(loop.Run(), stop_signal);
    poster.join();
    ASSERT_EQ(ran.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(ran[i], i);
  }
}

// As with a destroyed window, a stop drops the work still waiting and refuses later work; a
// thread that keeps posting through the stop (a connection thread while the broker shuts down)
// neither keeps the loop from ending nor is held up by it.
TEST(MainLoop, AStopSignalDropsWaitingWorkAndRefusesLaterWork) {
  MainLoop loop;
  std::atomic<bool> done{false};
  std::atomic<int> refused{0};
  std::thread poster([&] { while (!done.load()) refused.fetch_add(loop.Post([] {}) ? 0 : 1); });
  bool dropped_work_ran = false;
  loop.Post([&] {
    pthread_kill(pthread_self(), SIGTERM);
    loop.Post([&] { dropped_work_ran = true; });
  });
  EXPECT_EQ(loop.Run(), SIGTERM);
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (refused.load() == 0 && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
  done.store(true);
  poster.join();
  EXPECT_GT(refused.load(), 0);
  EXPECT_FALSE(loop.Post([&] { dropped_work_ran = true; }));
  EXPECT_FALSE(dropped_work_ran);
}

}  // namespace
