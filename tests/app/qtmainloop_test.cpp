// The Qt main loop behind kd::MainThread: posts from other threads run on
// the main thread in posting order; Synchronize waits for the main thread;
// a destroyed message window receives nothing of what was queued for it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "MainThread.h"
#include "MessageWindow.h"

using namespace apptest;

namespace {

TEST(QtMainLoop, PostsFromWorkersRunOnTheMainThreadInOrder) {
  constexpr int kThreads = 4;
  constexpr int kPosts = 200;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> offMain{0};
  int ran = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&, t] {
      for (int i = 0; i < kPosts; ++i)
        kd::MainThread::Post([&, t, i] {
          if (!kd::MainThread::IsMainThread()) ++offMain;
          seen[static_cast<size_t>(t)].push_back(i);
          ++ran;
        });
    });
  for (auto& w : workers) w.join();
  ASSERT_TRUE(PumpUntil([&] { return ran == kThreads * kPosts; }));
  EXPECT_EQ(offMain, 0);
  for (const auto& list : seen) {
    ASSERT_EQ(list.size(), static_cast<size_t>(kPosts));
    for (int i = 0; i < kPosts; ++i) EXPECT_EQ(list[static_cast<size_t>(i)], i);
  }
}

TEST(QtMainLoop, SynchronizeWaitsForTheMainThread) {
  std::atomic<bool> done{false};
  bool onMain = false;
  std::thread worker([&] {
    kd::MainThread::Synchronize([&] { onMain = kd::MainThread::IsMainThread(); });
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_TRUE(onMain);
}

TEST(QtMainLoop, DestroyedWindowDropsItsMessages) {
  std::vector<unsigned> got;
  auto window = std::make_unique<kd::MessageWindow>(
      [&](unsigned msg, std::intptr_t, std::intptr_t) { got.push_back(msg); });
  std::thread([&] {
    window->Post(kd::WM_USER + 1);
    window->Post(kd::WM_USER + 2);
  }).join();
  Idle();
  EXPECT_EQ(got, (std::vector<unsigned>{kd::WM_USER + 1, kd::WM_USER + 2}));
  window->Post(kd::WM_USER + 3);
  window.reset();
  Idle();
  EXPECT_EQ(got.size(), 2u);
}

}  // namespace
