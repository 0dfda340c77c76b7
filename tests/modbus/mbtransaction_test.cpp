// The transaction base: scheduling, runs, retries, owners and the hidden window.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>

#include "MbClientSupport.h"
#include "ScriptedSlave.h"
#include "Tlambsimpletransacls.h"

using namespace std::chrono_literals;
using mbtest::TestDevice;

namespace {

// Returns the scripted results in turn and records what reaches the main thread.
class RecordingTransa : public TlaMBTransaction {
 public:
  using TlaMBTransaction::TlaMBTransaction;
  ~RecordingTransa() override { LeaveOwner(); }
  std::int32_t Execute(TModbusSrv&) override {
    BusyInside = GetBusy();
    if (Results.empty()) return 0;
    const std::int32_t r = Results.front();
    Results.pop_front();
    return r;
  }
  void Notify() override { Seen.push_back("done " + std::to_string(GetLastResult())); }
  void Progress(int p, int t) override { Seen.push_back("progress " + std::to_string(p) + "/" + std::to_string(t)); }
  void Cancel() override { Seen.push_back("cancel"); }
  void OwnerChanged() override { ++OwnerChanges; }
  void UpdateName() override { Name = "Recording"; }

  std::deque<std::int32_t> Results;
  std::vector<std::string> Seen;
  bool BusyInside = false;
  int OwnerChanges = 0;
};

std::vector<bool> Passes(TlaMBTransaction& t, int n) {
  std::vector<bool> due;
  for (int i = 0; i < n; ++i) due.push_back(t.IsDue());
  return due;
}

TEST(MBTransaction, Scheduling) {
  RecordingTransa t(1, 3);
  EXPECT_FALSE(t.DisableOnSuccess);
  EXPECT_EQ(Passes(t, 3), std::vector<bool>(3, false));  // not active
  t.SetActive(true);
  EXPECT_EQ(Passes(t, 7), (std::vector<bool>{true, false, false, true, false, false, true}));

  // Stopped in the middle of a period and started again: due at the very next pass.
  EXPECT_FALSE(t.IsDue());
  t.SetActive(false);
  EXPECT_EQ(t.GetCountdown(), 0);
  t.SetActive(true);
  EXPECT_EQ(Passes(t, 4), (std::vector<bool>{true, false, false, true}));

  t.SetPeriod(0);
  EXPECT_EQ(t.GetPeriod(), 1);
  EXPECT_EQ(Passes(t, 3), std::vector<bool>(3, true));

  // A one-shot: period 0 stays 0 (due every pass while active), both disable flags.
  RecordingTransa once(1, 0);
  EXPECT_EQ(once.GetPeriod(), 0);
  EXPECT_TRUE(once.DisableOnSuccess);
  EXPECT_TRUE(once.DisableOnError);
  once.SetActive(true);
  EXPECT_EQ(Passes(once, 2), std::vector<bool>(2, true));
}

class MBTransactionStack : public mbtest::MbClientTest {};

TEST_F(MBTransactionStack, RunKeepsResultBusyAndLastSuccess) {
  TModbusSrv srv;  // not connected: the transaction does not use it
  RecordingTransa t(1, 1);
  const kd::TDateTime created = t.GetLastSuccess();
  t.Results = {kMBTimeout, kMBTimeout, kMBNoData, 0};
  struct Expect {
    std::int32_t result;
    bool changed;
  };
  const Expect runs[] = {{kMBTimeout, true}, {kMBTimeout, false}, {kMBNoData, true}, {0, true}, {0, false}};
  for (const Expect& e : runs) {
    EXPECT_EQ(t.Run(srv), e.result);
    EXPECT_EQ(t.GetLastResult(), e.result);
    EXPECT_EQ(t.GetResultChanged(), e.changed) << e.result;
    EXPECT_TRUE(t.BusyInside);
    EXPECT_FALSE(t.GetBusy());
    if (e.result != 0) {
      EXPECT_EQ(t.GetLastSuccess(), created);
    }
  }
  EXPECT_GE(t.GetLastSuccess(), created);
}

TEST_F(MBTransactionStack, RetriesAgainstASilentSlave) {
  struct Case {
    int retries;
    std::vector<kdtest::Step> script;
    std::int32_t result;
    int exchanges;
  };
  const kdtest::Step silence{kdtest::Misbehave::Silence, 0ms};
  const Case cases[] = {
      {2, {silence, silence, silence}, kMBTimeout, 3},
      {2, {silence, silence}, 0, 3},
      {0, {silence}, kMBTimeout, 1},
      {1, {}, 0, 1},
  };
  for (const Case& c : cases) {
    kdtest::ScriptedSlave slave(kdtest::ScriptedSlave::Line::Tcp);
    slave.Script(c.script);
    auto srv = OpenTcp(slave.Port(), c.retries, 200);
    TlaMBReadHoldRegisters t(1, 0, 1, std::make_unique<TlaThreadBuffer>(2), 0);
    EXPECT_EQ(t.Run(*srv), c.result) << c.retries << " retries, " << c.script.size() << " silent";
    EXPECT_EQ(mbtest::Handled(slave, c.exchanges), c.exchanges);
  }
}

TEST_F(MBTransactionStack, WindowDeliversInPostingOrderAndDropsAfterDestruction) {
  auto t = std::make_unique<RecordingTransa>(1, 1);
  std::thread worker([&] {
    t->PostDone();
    t->PostProgress(1, 5);
    t->PostCancel();
    t->PostProgress(2, 5);
  });
  worker.join();
  ASSERT_TRUE(RunUntil([&] { return t->Seen.size() == 4; }));
  EXPECT_EQ(t->Seen, (std::vector<std::string>{"done 0", "progress 1/5", "cancel", "progress 2/5"}));

  t->PostDone();
  t->PostProgress(3, 5);
  t.reset();
  EXPECT_EQ(loop_.ProcessEvents(), 2);  // delivered to nobody
}

TEST_F(MBTransactionStack, DoneReevaluatesTheOwnerDeviceOnlyWhenTheResultChanged) {
  TModbusSrv srv;
  TestDevice device(1, 1);
  auto* t = new RecordingTransa(&device);  // owned by the device
  t->Results = {kMBTimeout, kMBTimeout};
  for (int i = 0; i < 2; ++i) {
    t->Run(srv);
    t->PostDone();
    loop_.ProcessEvents();
  }
  EXPECT_EQ(t->Seen.size(), 2u);
  EXPECT_EQ(device.StateUpdates, 1);  // the second failure repeats the first

  // A handler may delete its own transaction.
  auto* self = new RecordingTransa(&device);
  struct Deleting : RecordingTransa {
    using RecordingTransa::RecordingTransa;
    void Notify() override { delete this; }
  };
  auto* deleting = new Deleting(&device);
  deleting->Results = {kMBTimeout};
  deleting->Run(srv);
  deleting->PostDone();
  loop_.ProcessEvents();
  EXPECT_FALSE(device.TransaList().Contains(deleting));
  EXPECT_TRUE(device.TransaList().Contains(self));
}

TEST_F(MBTransactionStack, Owners) {
  TestDevice a(7, 25), b(9, 0);
  TlaMBThread thread;

  auto* t = new RecordingTransa(&a);  // owned by whichever device holds it
  EXPECT_EQ(t->GetOwnerDevice(), &a);
  EXPECT_EQ(t->SlaveAddress, 7);
  EXPECT_EQ(t->GetPeriod(), 25);
  EXPECT_FALSE(t->DisableOnSuccess);
  EXPECT_EQ(t->OwnerChanges, 0);  // the constructor binds by itself
  EXPECT_TRUE(a.TransaList().Contains(t));

  t->SetOwnerDevice(&b);
  EXPECT_FALSE(a.TransaList().Contains(t));
  EXPECT_TRUE(b.TransaList().Contains(t));
  EXPECT_EQ(t->SlaveAddress, 9);
  EXPECT_EQ(t->OwnerChanges, 1);

  t->SetOwnerThread(&thread);
  EXPECT_FALSE(b.TransaList().Contains(t));
  EXPECT_EQ(t->GetOwnerDevice(), nullptr);
  EXPECT_EQ(t->GetOwnerThread(), &thread);
  thread.Add(t);  // a second time: still one entry
  EXPECT_EQ(thread.Items().Count(), 1);

  thread.Remove(t);
  EXPECT_EQ(t->GetOwnerThread(), nullptr);
  EXPECT_EQ(thread.Items().Count(), 0);

  thread.Add(t);
  EXPECT_EQ(t->GetOwnerThread(), &thread);
  delete t;  // leaves the thread's list
  EXPECT_EQ(thread.Items().Count(), 0);

  auto* onDevice = new RecordingTransa(&a);
  delete onDevice;  // leaves the device's list
  EXPECT_EQ(a.TransaList().Count(), 0);
}

}  // namespace
