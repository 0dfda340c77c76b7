// Main-thread hand-over, message windows, thread lists and components.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Component.h"
#include "MainThread.h"
#include "MessageWindow.h"
#include "ThreadList.h"

using namespace kd;
using namespace std::chrono_literals;

TEST(MessageWindow, KeepsPostingOrderPerWindowAcrossEightThreads) {
  ScopedQueueLoop loop;
  constexpr int kThreads = 8, kPerThread = 500;
  std::vector<std::vector<std::intptr_t>> seen(kThreads);
  int delivered = 0;
  MessageWindow window([&](unsigned msg, std::intptr_t w, std::intptr_t l) {
    EXPECT_EQ(msg, WM_USER + 1);
    seen[static_cast<size_t>(w)].push_back(l);
    ++delivered;
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) window.Post(WM_USER + 1, t, i);
    });
  for (auto& p : posters) p.join();
  ASSERT_TRUE(loop.RunUntil([&] { return delivered == kThreads * kPerThread; }));
  for (const auto& s : seen) {
    ASSERT_EQ(s.size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(s[static_cast<size_t>(i)], i);
  }
}

TEST(MessageWindow, DestroyDropsQueuedMessagesWhileOthersArrive) {
  ScopedQueueLoop loop;
  std::atomic<int> gone{0}, kept{0};
  auto doomed = std::make_unique<MessageWindow>([&](unsigned, std::intptr_t, std::intptr_t) { ++gone; });
  MessageWindow survivor([&](unsigned, std::intptr_t, std::intptr_t) { ++kept; });
  std::vector<std::thread> posters;
  for (int t = 0; t < 8; ++t)
    posters.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        doomed->Post(WM_USER + 2);
        survivor.Post(WM_USER + 2);
      }
    });
  for (auto& p : posters) p.join();
  doomed.reset();
  loop.ProcessEvents();
  EXPECT_EQ(gone, 0);
  EXPECT_EQ(kept, 800);
}

TEST(MainThread, SynchronizeRunsOnMainThreadAndWaits) {
  ScopedQueueLoop loop;
  const auto mainId = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    MainThread::Synchronize([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  ASSERT_TRUE(loop.RunUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_EQ(ranOn, mainId);
}

TEST(MainThread, WaitForWorkerKeepsRunningItsSynchronizeCalls) {
  ScopedQueueLoop loop;
  std::atomic<bool> finished{false};
  int windowMessages = 0, syncCalls = 0;
  MessageWindow window([&](unsigned, std::intptr_t, std::intptr_t) { ++windowMessages; });
  std::thread worker([&] {
    window.Post(WM_USER + 1);  // must not run during the wait below
    for (int i = 0; i < 3; ++i) MainThread::Synchronize([&] { ++syncCalls; });
    finished = true;
    MainThread::Wake();
  });
  // The main thread waits for the worker without pumping its loop.
  ASSERT_TRUE(MainThread::WaitUntil([&] { return finished.load(); }, 5000ms));
  worker.join();
  EXPECT_EQ(syncCalls, 3);
  EXPECT_EQ(windowMessages, 0);
  loop.ProcessEvents();
  EXPECT_EQ(windowMessages, 1);
}

TEST(MainThread, ExceptionInSynchronizedCallReachesWorker) {
  ScopedQueueLoop loop;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      MainThread::Synchronize([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  ASSERT_TRUE(loop.RunUntil([&] { return caught.load(); }));
  worker.join();
}

TEST(ThreadList, IgnoresDuplicatesAndAllowsNestedUseInAPass) {
  ThreadList<int> list;
  EXPECT_TRUE(list.Add(1));
  EXPECT_FALSE(list.Add(1));
  EXPECT_TRUE(list.Add(2));
  {
    auto items = list.LockList();
    EXPECT_EQ(items->size(), 2u);
    list.Remove(1);  // same thread, inside the pass
  }
  EXPECT_EQ(list.Snapshot(), std::vector<int>{2});
}

TEST(ThreadList, AWaitingThreadGetsTheLockAtTheNextRelease) {
  ThreadList<int> list;
  list.Add(1);
  std::atomic<long> passes{0};
  std::atomic<bool> stop{false}, started{false};
  std::thread worker([&] {
    while (!stop) {
      auto items = list.LockList();  // held for a "pass", retaken at once
      started = true;
      std::this_thread::sleep_for(std::chrono::microseconds(50));  // the pass's work
      ++passes;
    }
  });
  while (!started) std::this_thread::yield();
  for (int round = 0; round < 20; ++round) {
    const long before = passes.load();
    {
      auto items = list.LockList();
      EXPECT_LE(passes.load() - before, 2) << "round " << round;
    }
    std::this_thread::yield();
  }
  stop = true;
  worker.join();
}

TEST(ThreadList, SnapshotDoesNotWaitForAPass) {
  ThreadList<int> list;
  list.Add(1);
  list.Add(2);
  std::atomic<bool> holding{false}, release{false};
  std::thread worker([&] {
    auto items = list.LockList();
    items->push_back(3);
    holding = true;
    while (!release) std::this_thread::yield();
  });
  while (!holding) std::this_thread::yield();
  EXPECT_EQ(list.Snapshot(), (std::vector<int>{1, 2}));  // as last released
  release = true;
  worker.join();
  EXPECT_EQ(list.Snapshot(), (std::vector<int>{1, 2, 3}));
}

namespace {
struct Probe : Component {
  Probe(Component* owner, std::vector<std::string>& log, std::string name) : Component(owner), log_(log) {
    SetName(std::move(name));
  }
  ~Probe() override { log_.push_back(Name()); }
  std::vector<std::string>& log_;
};
}  // namespace

TEST(Component, OwnerDestroysChildrenLastFirstAndEarlyDeleteLeavesOwner) {
  std::vector<std::string> log;
  {
    Component root;
    new Probe(&root, log, "a");
    auto* b = new Probe(&root, log, "b");
    new Probe(b, log, "b1");
    auto* c = new Probe(&root, log, "c");
    EXPECT_EQ(root.FindComponent("B"), b);
    delete c;  // leaves root's list
    EXPECT_EQ(root.ComponentCount(), 2);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "b1", "a"}));
}
