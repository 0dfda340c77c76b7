// The connection worker against mbserver and the drive simulator.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "MbClientSupport.h"
#include "ServerRegistry.h"
#include "Tlambchainedtransacls.h"
#include "Tlambsimpletransacls.h"

using namespace std::chrono_literals;
using mbtest::Line;
using mbtest::TestDevice;

namespace {

// Shared by the transactions of a test: what the worker executed, in order.
struct RunLog {
  std::mutex lock;
  std::vector<std::string> names;
  void Add(const std::string& name) {
    std::lock_guard guard(lock);
    names.push_back(name);
  }
  std::vector<std::string> Get() {
    std::lock_guard guard(lock);
    return names;
  }
};

// A register read that logs its runs and counts what reaches the main thread.
class LoggedRead : public TlaMBReadHoldRegisters {
 public:
  LoggedRead(const std::string& tag, RunLog& log, TlaMBDevice* owner, std::uint16_t address)
      : TlaMBReadHoldRegisters(owner, address, 1), tag_(tag), log_(log) {}
  LoggedRead(const std::string& tag, RunLog& log, std::uint8_t slave, std::uint16_t address, int period)
      : TlaMBReadHoldRegisters(slave, address, 1, std::make_unique<TlaThreadBuffer>(2), period), tag_(tag), log_(log) {}
  ~LoggedRead() override { LeaveOwner(); }
  std::int32_t Execute(TModbusSrv& server) override {
    log_.Add(tag_);
    return TlaMBReadHoldRegisters::Execute(server);
  }
  void Notify() override {
    ++Done;
    ActiveAtNotify = GetActive();
    if (auto* device = dynamic_cast<TestDevice*>(GetOwnerDevice())) FaultsAtNotify = device->FaultCount;
    TlaMBReadHoldRegisters::Notify();
  }
  void Cancel() override { ++Cancelled; }
  int Done = 0;
  int Cancelled = 0;
  bool ActiveAtNotify = true;
  int FaultsAtNotify = -1;

 private:
  std::string tag_;
  RunLog& log_;
};

class MBWorker : public mbtest::MbClientTest {
 protected:
  void Watch(TlaMBThread& thread) {
    thread.OnConnect = [this](TlaMBThread*) { ++connects_; };
    thread.OnDisconnect = [this](TlaMBThread*) { ++disconnects_; };
    thread.OnConnectError = [this](TlaMBThread* t) {
      ++connectErrors_;
      statesInError_.push_back(t->GetState());
      if (reenable_) {  // set again before the next attempt
        reenable_ = false;
        t->Setup().Enabled = true;
        statesInError_.push_back(t->GetState());
      }
    };
  }
  int connects_ = 0, disconnects_ = 0, connectErrors_ = 0;
  bool reenable_ = false;
  std::vector<int> statesInError_;
};

TEST_F(MBWorker, OpenFailures) {
  struct Case {
    const char* what;
    std::int32_t error;
    int reenabledState;
  };
  for (const Case& c : {Case{"port that does not exist", kMBOpenFailed, 2},
                        Case{"server not registered", kMBOpenException, 3}}) {
    connectErrors_ = 0;
    statesInError_.clear();
    reenable_ = true;
    if (c.error == kMBOpenException) kd::mb::UnregisterServer();
    MapComPort(5, dir_.File("no-such-tty"));
    TlaMBThread thread;
    Watch(thread);
    SetRtu(thread.Setup(), 5);
    EXPECT_EQ(thread.GetState(), 0);
    thread.Setup().Enabled = true;
    EXPECT_EQ(thread.GetState(), 1);
    ASSERT_TRUE(RunUntil([&] { return connectErrors_ == 2; })) << c.what;
    EXPECT_EQ(thread.GetLastError(), c.error) << c.what;
    EXPECT_FALSE(thread.Setup().Enabled);
    EXPECT_EQ(statesInError_, (std::vector<int>{0, c.reenabledState, 0})) << c.what;
    EXPECT_EQ(connects_, 0);
    EXPECT_FALSE(thread.IsConnected());
  }
}

TEST_F(MBWorker, DestroyWhileIdleReportsTheDisconnectOnce) {
  TestDevice device(1, 1);
  RunLog log;
  LoggedRead own("own", log, 1, 0, 1);
  auto thread = std::make_unique<TlaMBThread>();
  Watch(*thread);
  thread->Add(&device);
  thread->Add(&own);
  EXPECT_EQ(device.GetConnOwner(), thread.get());
  thread.reset();
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(connects_, 0);
  // The termination handler removed every item.
  EXPECT_EQ(device.GetConnOwner(), nullptr);
  EXPECT_EQ(own.GetOwnerThread(), nullptr);
}

class MBWorkerLine : public MBWorker, public testing::WithParamInterface<Line> {};

TEST_P(MBWorkerLine, PollsThenClosesWithTransactionsPending) {
  std::unique_ptr<kdtest::SocatPair> ptys;
  std::unique_ptr<kdsim::SimProcess> sim;
  kd::Component owner;
  TlaMBThread thread(&owner);
  Watch(thread);
  if (GetParam() == Line::Rtu) {
    ptys = std::make_unique<kdtest::SocatPair>();
    sim = StartSimRtu(ptys->A());
    MapComPort(2, ptys->B());
    SetRtu(thread.Setup(), 2, 2);
  } else {
    sim = StartSimTcp();
    SetTcp(thread.Setup(), sim->TcpPort(), 2);
  }
  RunLog log;
  TestDevice device(1, 1, &model_);
  auto* state = new TlaMBChainedTransa(&device, "ActState", TlaMBChainedTransa::Read);  // owned by the device
  state->SetActive(true);
  int stateDone = 0;
  state->OnDone = [&](TlaMBTransaction*, std::int32_t) { ++stateDone; };
  LoggedRead pending("pending", log, 1, 0, 0);  // one-shot, never activated
  LoggedRead periodic("periodic", log, 1, 3, 2);
  periodic.SetActive(true);
  thread.Add(&device);
  thread.Add(&pending);
  thread.Add(&periodic);
  EXPECT_EQ(pending.GetOwnerThread(), &thread);

  thread.Setup().Enabled = true;
  ASSERT_TRUE(RunUntil([&] { return stateDone >= 3 && periodic.Done >= 2; }));
  EXPECT_EQ(connects_, 1);
  EXPECT_TRUE(thread.IsConnected());
  EXPECT_EQ(thread.GetState(), 4);
  EXPECT_EQ(thread.GetLastError(), 0);
  EXPECT_EQ(thread.Owner(), &owner);
  EXPECT_EQ(owner.ComponentCount(), 0);  // the worker alone holds its server object
  EXPECT_EQ(periodic.GetLastResult(), 0);
  EXPECT_TRUE(periodic.GetActive());
  EXPECT_EQ(pending.Done, 0);
  EXPECT_GE(stateDone, periodic.Done * 2 - 2);  // every pass beside every second one

  const int updatesBefore = device.StateUpdates;
  thread.Setup().Enabled = false;
  ASSERT_TRUE(RunUntil([&] { return disconnects_ == 1 && pending.Cancelled == 1; }));
  EXPECT_EQ(periodic.Cancelled, 1);
  EXPECT_EQ(device.StateUpdates, updatesBefore + 1);
  EXPECT_EQ(device.State, 3);  // re-evaluated on a closed connection
  EXPECT_FALSE(thread.IsConnected());
  EXPECT_EQ(thread.GetState(), 0);
  loop_.ProcessEvents();
  EXPECT_EQ(disconnects_, 1);
  EXPECT_EQ(connects_, 1);
}

INSTANTIATE_TEST_SUITE_P(Lines, MBWorkerLine, testing::Values(Line::Tcp, Line::Rtu),
                         mbtest::LineName);

TEST_F(MBWorker, TimeOutSkipsTheRestOfTheDeviceButNotTheNextItem) {
  auto sim = StartSimTcp();
  TlaMBThread thread;
  Watch(thread);
  SetTcp(thread.Setup(), sim->TcpPort(), 0, 200);
  RunLog log;
  TestDevice silent(9, 0, &model_);  // the drive is slave 1: no answer
  TestDevice failing(1, 0, &model_);
  TestDevice disabled(1, 0, &model_);
  disabled.Enable = false;
  auto* first = new LoggedRead("first", log, &silent, 1);  // each owned by its device
  auto* second = new LoggedRead("second", log, &silent, 2);
  auto* outside = new LoggedRead("outside", log, &failing, 70);  // past the image: -3
  auto* skipped = new LoggedRead("skipped", log, &disabled, 1);
  LoggedRead next("next", log, 1, 1, 0);
  for (TlaMBTransaction* t : std::initializer_list<TlaMBTransaction*>{first, second, outside, skipped, &next})
    t->SetActive(true);
  failing.FaultCount = 5;
  thread.Add(&silent);
  thread.Add(&next);
  thread.Add(&failing);
  thread.Add(&disabled);
  thread.Setup().Enabled = true;
  ASSERT_TRUE(RunUntil([&] { return second->Done == 1 && next.Done == 1 && outside->Done == 1; }));
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"first", "next", "outside", "second"}));
  EXPECT_EQ(first->GetLastResult(), kMBTimeout);
  EXPECT_EQ(second->GetLastResult(), kMBTimeout);
  EXPECT_EQ(outside->GetLastResult(), kMBNoData);
  EXPECT_EQ(next.GetLastResult(), 0);
  EXPECT_EQ(silent.FaultCount, 2);
  // The done message comes after the worker has finished with the run.
  EXPECT_FALSE(first->ActiveAtNotify);
  EXPECT_EQ(first->FaultsAtNotify, 1);
  EXPECT_EQ(failing.FaultCount, 0);  // any other failure resets the count
  EXPECT_EQ(failing.FaultResets, 1);
  for (LoggedRead* t : {first, second, outside, &next}) EXPECT_FALSE(t->GetActive());  // one-shots
  EXPECT_TRUE(skipped->GetActive());
  EXPECT_EQ(connects_, 1);
}

TEST_F(MBWorker, AnExceptionInARunDoesNotEndTheWorker) {
  struct Throwing : TlaMBReadHoldRegisters {
    Throwing() : TlaMBReadHoldRegisters(1, 0, 1, nullptr, 1) {}
    ~Throwing() override { LeaveOwner(); }
    std::int32_t Execute(TModbusSrv&) override {
      ++Runs;
      throw std::runtime_error("broken transaction");
    }
    std::atomic<int> Runs{0};
  };
  auto sim = StartSimTcp();
  TlaMBThread thread;
  Watch(thread);
  SetTcp(thread.Setup(), sim->TcpPort());
  Throwing throwing;
  RunLog log;
  LoggedRead after("after", log, 1, 1, 1);
  throwing.SetActive(true);
  after.SetActive(true);
  thread.Add(&throwing);
  thread.Add(&after);
  thread.Setup().Enabled = true;
  ASSERT_TRUE(RunUntil([&] { return after.Done >= 2; }));
  EXPECT_EQ(throwing.Runs, 1);  // stopped, not run again
  EXPECT_FALSE(throwing.GetActive());
  EXPECT_FALSE(throwing.GetBusy());
  EXPECT_TRUE(thread.IsConnected());
}

TEST_F(MBWorker, MainThreadWorksBesideTheWorker) {
  // Owners, ranges, addresses and deletions on the main thread while the
  // worker polls: no lost message reaches a deleted transaction, no race.
  auto sim = StartSimTcp();
  TlaMBThread thread;
  Watch(thread);
  SetTcp(thread.Setup(), sim->TcpPort());
  TestDevice device(1, 1, &model_);
  auto* chain = new TlaMBChainedTransa(&device, "RamSetup", TlaMBChainedTransa::Read);
  chain->SetActive(true);
  int chainDone = 0;
  chain->OnDone = [&](TlaMBTransaction*, std::int32_t) { ++chainDone; };
  thread.Add(&device);
  thread.Setup().Enabled = true;
  ASSERT_TRUE(RunUntil([&] { return chainDone >= 1; }));

  int reads = 0, doomedDone = 0;
  for (int round = 0; round < 30; ++round) {
    auto* read = new TlaMBReadHoldRegisters(&device, static_cast<std::uint16_t>(round % 20), 2);
    read->OnDone = [&](TlaMBTransaction*, std::int32_t) { ++reads; };
    read->SetActive(true);
    auto* doomed = new TlaMBReadHoldRegisters(&device, 5, 1);
    doomed->OnDone = [&](TlaMBTransaction*, std::int32_t) { ++doomedDone; };
    doomed->SetActive(true);
    const int before = reads;
    ASSERT_TRUE(RunUntil([&] { return reads > before; }));
    {
      auto list = device.TransaList().LockList();
      for (TlaMBTransaction* t : *list) t->SlaveAddress = 1;
    }
    read->SetRange(static_cast<std::uint16_t>(round % 10), 1);
    delete doomed;
    delete read;
    const int doneAtDeletion = doomedDone;
    loop_.ProcessEvents();
    EXPECT_EQ(doomedDone, doneAtDeletion) << "a message after deletion";
    {
      auto image = device.BufferSegment(0, 24);
      TlaThreadBuffer::ReadAccess access(*image);
      (void)access.Data()[0];
    }
  }
  loop_.ProcessEvents();
  EXPECT_EQ(connects_, 1);
  EXPECT_EQ(device.TransaList().Count(), 1);
}

TEST_F(MBWorker, RangeOfAPolledTransactionReplacedOnTheMainThread) {
  // A transaction of the worker itself (no device): a new range and buffer
  // while every pass runs it. The old buffer must not go while a run uses it.
  auto sim = StartSimTcp();
  TlaMBThread thread;
  Watch(thread);
  SetTcp(thread.Setup(), sim->TcpPort());
  TlaMBReadHoldRegisters read(1, 0, 1, std::make_unique<TlaThreadBuffer>(2), 1);
  int done = 0;
  read.OnDone = [&](TlaMBTransaction*, std::int32_t) { ++done; };
  read.SetActive(true);
  thread.Add(&read);
  thread.Setup().Enabled = true;
  for (int round = 0; round < 20; ++round) {
    const int before = done;
    ASSERT_TRUE(RunUntil([&] { return done > before; }));
    read.SetRange(static_cast<std::uint16_t>(round % 8 + 1), 1, std::make_unique<TlaThreadBuffer>(2));
  }
  const int before = done;
  ASSERT_TRUE(RunUntil([&] { return done > before; }));
  thread.Remove(&read);  // after the pass: the request is no longer the worker's
  EXPECT_EQ(read.GetLastResult(), 0);
  EXPECT_EQ(read.GetQuery(), (mbtest::Bytes{1, 3, 0, 4, 0, 1}));  // the last range set
}

}  // namespace
