// The slave device on the real road: identification and data model, slave
// states, fault cut-off, re-addressing, synchronous register access, scan
// and properties, re-identification.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "DeviceStack.h"
#include "Tlambchainedtransacls.h"
#include "Tlambsimpletransacls.h"

using namespace devtest;
using std::chrono::milliseconds;

namespace {

class CountingDevice : public TlaDeviceSlave {
 public:
  int afterVersionFound = 0;

 protected:
  void AfterVersionFound() override { ++afterVersionFound; }
};

class SlaveOnLine : public ::testing::TestWithParam<Line> {
 protected:
  Stack stack;
};

}  // namespace

TEST_P(SlaveOnLine, IdentifiesLoadsItsModelAndServesRegisters) {
  SimLine sim(GetParam(), {});
  CountingDevice dev;
  dev.DMColl = &stack.coll;
  int found = 0, unknown = 0;
  dev.OnVersionFound = [&](TlaDeviceSlave*) { ++found; };
  dev.OnVersionUnknown = [&](TlaDeviceSlave*) { ++unknown; };
  TlaMBThread thread;
  Stack::Attach(dev, thread, sim);
  EXPECT_EQ(dev.GetSlaveState(), slaveNotConnected);
  EXPECT_EQ(dev.DeviceSetup()->GetConnectionName(), "COM1");
  ASSERT_NE(dev.VersionTransa(), nullptr);
  EXPECT_FALSE(dev.ReadReg(24, true));  // not online yet

  Stack::Open(thread);
  ASSERT_TRUE(stack.Online(dev));
  EXPECT_EQ(found, 1);
  EXPECT_EQ(unknown, 0);
  EXPECT_EQ(dev.afterVersionFound, 1);
  EXPECT_EQ(dev.VersionTransa()->GetFullString(), "KDP7_KD730v105");
  EXPECT_TRUE(dev.RegDefs()->FileName.ends_with("/KD730_Parameters.par")) << dev.RegDefs()->FileName;
  EXPECT_EQ(dev.GetRegisterCount(), 62);

  // A value set in the image and written reaches the drive; read back over
  // an emptied image it comes from the drive.
  TlaRegister* ref = dev.GetRegister(std::string("RefDig"));
  ASSERT_NE(ref, nullptr);
  ref->SetValueInteger(0, 1234);
  EXPECT_TRUE(dev.WriteReg(ref, true));
  if (GetParam() == Line::Tcp) {
    EXPECT_EQ(SimRegister(sim.TcpPort(), 24), 1234);
  }
  ref->SetValueInteger(0, 0);
  EXPECT_TRUE(dev.ReadReg("RefDig", true));
  EXPECT_EQ(ref->GetValueInteger(0), 1234);
  ref->SetValueInteger(0, -300);
  EXPECT_TRUE(dev.WriteReg(24, true));
  ref->SetValueInteger(0, 0);
  EXPECT_TRUE(dev.ReadReg(ref, true));
  EXPECT_EQ(ref->GetValueInteger(0), -300);

  EXPECT_FALSE(dev.ReadReg("refdig", true));  // names are exact
  EXPECT_FALSE(dev.WriteReg(static_cast<TlaRegister*>(nullptr), true));
  EXPECT_FALSE(dev.ReadReg(70000, true));
  EXPECT_EQ(dev.UpdateSlaveState(), slaveOnline);
}

INSTANTIATE_TEST_SUITE_P(Lines, SlaveOnLine, ::testing::Values(Line::Tcp, Line::Rtu),
                         [](const auto& p) { return LineName(p.param); });

class Slave : public ::testing::Test {
 protected:
  Stack stack;
};

TEST_F(Slave, ChoosesTheDataModelByTheReportedVersion) {
  struct Case {
    std::vector<std::string> simArgs;
    const char* file;  // empty: no model
    int registers;
  };
  const Case cases[] = {
      {{}, "KD730_Parameters.par", 62},
      {{"--version", "104"}, "KD730_Parameters.par", 62},
      {{"--version", "110", "--par", kPar110}, "KD730_Parameters_v110.par", 63},
      {{"--version", "999"}, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    SimLine sim(Line::Tcp, c.simArgs);
    TlaDeviceSlave dev;
    dev.DMColl = &stack.coll;
    int found = 0, unknown = 0, noFile = 0;
    dev.OnVersionFound = [&](TlaDeviceSlave*) { ++found; };
    dev.OnVersionUnknown = [&](TlaDeviceSlave*) { ++unknown; };
    stack.coll.OnNoFile = [&](TlaDMCollection*, const std::string&) { ++noFile; };
    TlaMBThread thread;
    Stack::Attach(dev, thread, sim);
    Stack::Open(thread);
    ASSERT_TRUE(stack.RunUntil([&] { return found + unknown > 0; }))
        << "worker state " << thread.GetState() << ", last error " << std::hex << thread.GetLastError()
        << ", identification " << (dev.VersionTransa() ? dev.VersionTransa()->GetLastResult() : -99);
    if (*c.file) {
      EXPECT_EQ(found, 1);
      EXPECT_TRUE(dev.RegDefs()->FileName.ends_with(std::string("/") + c.file));
      EXPECT_EQ(dev.GetRegisterCount(), c.registers);
      EXPECT_EQ(dev.UpdateSlaveState(), slaveOnline);
    } else {
      EXPECT_EQ(unknown, 1);
      EXPECT_EQ(noFile, 1);
      EXPECT_EQ(dev.RegDefs(), nullptr);
      EXPECT_EQ(dev.UpdateSlaveState(), slaveNoDataModel);
      EXPECT_FALSE(dev.ReadReg(24, true));
    }
  }
}

TEST_F(Slave, FaultCutOffDisablesOnTheEleventhTimeoutAndReEnablingRecovers) {
  SimLine sim(Line::Tcp, {"--silent"});
  TlaDeviceSlave dev;
  dev.DMColl = &stack.coll;
  dev.FaultCutOff = true;
  // Raised on the worker, which disables the device there.
  std::atomic<int> times8{0};
  std::atomic<std::uint32_t> countAt8{0};
  dev.OnSlaveStateChange = [&](TlaDeviceSlave* d) {
    if (d->GetSlaveState() != slaveFaultLimit) return;
    countAt8 = d->GetFaultCount();
    ++times8;
  };
  TlaMBThread thread;
  Stack::Attach(dev, thread, sim, 1, 100, 0);
  dev.VersionTransa()->SetPeriod(1);  // one attempt per pass
  Stack::Open(thread);
  ASSERT_TRUE(stack.RunUntil([&] { return times8 > 0; }));
  EXPECT_FALSE(dev.GetEnable());
  EXPECT_EQ(countAt8, 11u);  // not at the tenth
  EXPECT_EQ(dev.UpdateSlaveState(), slaveFaultLimit);
  EXPECT_EQ(dev.GetFaultCount(), 11u);
  EXPECT_EQ(times8, 1);

  // The drive answers again; enabling clears the count.
  sim.Restart({});
  dev.DeviceSetup()->SetEnable(true);
  EXPECT_EQ(dev.GetFaultCount(), 0u);
  EXPECT_NE(dev.GetSlaveState(), slaveFaultLimit);
  EXPECT_TRUE(stack.Online(dev));
}

TEST_F(Slave, EveryCallGetsItsOwnRunsResultAndFailingTransactionsGiveState7) {
  // The device takes the 1.10 model (63 registers); this drive has 62.
  SimLine sim(Line::Tcp, {"--version", "110"});
  TlaDeviceSlave dev;
  dev.DMColl = &stack.coll;
  TlaMBThread thread;
  ASSERT_TRUE(stack.Connect(dev, thread, sim, 300, 0));
  ASSERT_EQ(dev.GetRegisterCount(), 63);

  const struct {
    bool write;
    int address;
    bool ok;
  } calls[] = {{false, 62, false}, {false, 24, true}, {false, 62, false},
               {true, 24, true},   {true, 62, false}, {true, 24, true}};
  for (const auto& c : calls) {
    EXPECT_EQ(c.write ? dev.WriteReg(c.address, true) : dev.ReadReg(c.address, true), c.ok)
        << (c.write ? "write " : "read ") << c.address;
  }
  EXPECT_EQ(dev.ReadTransa()->GetLastResult(), static_cast<std::int32_t>(0x80048202u));  // illegal address
  stack.loop.ProcessEvents();
  EXPECT_EQ(dev.UpdateSlaveState(), slaveOnline);  // failed one-shot runs are inactive

  // A periodic transaction that keeps failing.
  auto* failing = new TlaMBReadHoldRegisters(&dev, 62, 1);  // owned by the device
  failing->SetPeriod(1);
  failing->DisableOnError = false;
  failing->SetActive(true);
  ASSERT_TRUE(stack.RunUntil([&] { return dev.GetSlaveState() == slaveTransaError; }));
  EXPECT_FALSE(dev.ReadReg(24, true));  // at once
  EXPECT_FALSE(dev.WriteReg(24, false));
  EXPECT_EQ(dev.ReadTransa()->GetAddress(), 62);  // left as it was
  EXPECT_FALSE(dev.ReadTransa()->GetActive());
  failing->SetActive(false);
  EXPECT_EQ(dev.UpdateSlaveState(), slaveOnline);
  EXPECT_TRUE(dev.ReadReg(24, true));
}

TEST_F(Slave, ASilentDriveNeitherHangsAWaitingWriteNorBlocksTheStateQuery) {
  SimLine sim(Line::Tcp, {});
  TlaDeviceSlave dev;
  dev.DMColl = &stack.coll;
  TlaMBThread thread;
  ASSERT_TRUE(stack.Connect(dev, thread, sim, 300, 0));
  // A periodic read ahead of the private write in the device's list.
  auto* poll = new TlaMBReadHoldRegisters(&dev, 24, 1);  // owned by the device
  poll->SetPeriod(1);
  poll->DisableOnError = false;
  const kd::TDateTime made = poll->GetLastSuccess();
  poll->SetActive(true);
  ASSERT_TRUE(stack.RunUntil([&] { return poll->GetLastSuccess() > made; }));

  sim.Pause();
  // Without pumping the loop, so the stored state is still "online".
  ASSERT_TRUE(kd::MainThread::WaitUntil([&] { return poll->GetLastResult() != 0; }, milliseconds(15000)));
  ASSERT_EQ(dev.GetSlaveState(), slaveOnline);
  // Every pass now ends at the time-out of the periodic read, so the write
  // never gets its turn: the wait must end anyway.
  EXPECT_FALSE(dev.WriteReg(24, true));
  EXPECT_FALSE(dev.WriteTransa()->GetActive());  // withdrawn
  // The worker holds the device's list through each time-out; the state
  // query of the windows must not wait for it.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(dev.UpdateSlaveState(), slaveTransaError);

  sim.Resume();
  ASSERT_TRUE(stack.Online(dev));
  EXPECT_TRUE(dev.WriteReg(24, true));
}

TEST_F(Slave, ChangeSlaveAddressReaddressesEveryTransactionWhileConnected) {
  SimLine sim(Line::Tcp, {});
  TlaDeviceSlave dev;
  dev.DMColl = &stack.coll;
  TlaMBThread thread;
  ASSERT_TRUE(stack.Connect(dev, thread, sim, 200, 0));
  ASSERT_TRUE(dev.ReadReg(24, true));
  ASSERT_TRUE(dev.WriteReg(24, true));
  new TlaMBReadHoldRegisters(&dev, 1, 3);  // owned by the device
  ASSERT_EQ(dev.GetTransaCount(), 4);

  auto addresses = [&] {
    std::vector<int> out;
    for (int i = 0; i < dev.GetTransaCount(); ++i) out.push_back(dev.GetTransa(i)->SlaveAddress);
    return out;
  };
  dev.ChangeSlaveAddress(9);
  EXPECT_EQ(dev.DeviceSetup()->GetModBusAddress(), 9);
  EXPECT_EQ(addresses(), std::vector<int>(4, 9));
  EXPECT_FALSE(dev.ReadReg(24, true));  // nobody answers at 9
  dev.ChangeSlaveAddress(1);
  EXPECT_EQ(addresses(), std::vector<int>(4, 1));
  EXPECT_TRUE(dev.ReadReg(24, true));
}

TEST_F(Slave, DataModelScanAndPropertiesRead) {
  SimLine sim(Line::Tcp, {});
  TlaDeviceSlave dev;
  dev.DMColl = &stack.coll;
  TlaMBThread thread;
  dev.ReadProperties();  // no model yet: nothing
  EXPECT_EQ(dev.PropertiesTransa(), nullptr);
  ASSERT_TRUE(stack.Connect(dev, thread, sim));

  std::vector<int> progress;
  std::optional<std::int32_t> scanned, properties;
  TlaMBDataModelScan* scan = dev.ExecDataModelScan([&](TlaMBTransaction*, std::int32_t r) { scanned = r; },
                                                   [&](TlaMBTransaction*, int pos, int total) {
                                                     EXPECT_EQ(total, 62);
                                                     progress.push_back(pos);
                                                   });
  dev.OnProperties = [&](TlaMBTransaction*, std::int32_t r) { properties = r; };
  dev.ReadProperties();
  ASSERT_TRUE(stack.RunUntil([&] { return scanned && properties; }));
  EXPECT_EQ(*scanned, 0);
  EXPECT_EQ(*properties, 0);
  EXPECT_EQ(scan->GetReachedLevel(), 3);
  EXPECT_EQ(progress.size(), 62u);
  EXPECT_EQ(progress.back(), 62);
  EXPECT_EQ(dev.GetRegister(0)->GetValueInteger(0), 550);  // HWLimitVolt, the one Properties register
  EXPECT_EQ(dev.ExecDataModelScan(nullptr, nullptr), scan);  // created once
}

// Reconnected, the device is identified again before anything of its runs:
// the same model goes on polling, another one (another firmware) leaves the
// device in state 5 with nothing running, and a request queued for the
// former line reaches no drive.
TEST_F(Slave, ReidentifiesOnEveryNewConnection) {
  SimLine sim(Line::Tcp, {});
  CountingDevice dev;
  dev.DMColl = &stack.coll;
  int found = 0, unknown = 0;
  dev.OnVersionFound = [&](TlaDeviceSlave*) { ++found; };
  dev.OnVersionUnknown = [&](TlaDeviceSlave*) { ++unknown; };
  auto thread = std::make_unique<TlaMBThread>();
  ASSERT_TRUE(stack.Connect(dev, *thread, sim));
  TlaRegDefsList* model = dev.RegDefs();
  auto* poll = new TlaMBReadHoldRegisters(&dev, 24, 1);  // periodic, owned by the device
  poll->SetPeriod(1);
  poll->DisableOnSuccess = false;
  poll->DisableOnError = false;
  poll->SetActive(true);
  int polls = 0;
  poll->OnDone = [&](TlaMBTransaction*, std::int32_t) { ++polls; };
  ASSERT_TRUE(stack.RunUntil([&] { return polls > 0; }));
  auto reconnect = [&] {
    thread = std::make_unique<TlaMBThread>();
    Stack::Attach(dev, *thread, sim);
    Stack::Open(*thread);
  };

  struct Step {
    const char* what;
    std::vector<std::string> simArgs;
    int found, unknown;
    TlaSlaveState state;
  };
  const Step steps[] = {
      {"same firmware", {}, 2, 0, slaveOnline},
      {"firmware 1.10", {"--par", kPar110, "--version", "110"}, 2, 1, slaveNoDataModel},
      {"the first drive again", {}, 3, 1, slaveOnline}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    thread.reset();
    EXPECT_EQ(dev.UpdateSlaveState(), slaveNoConnection);
    sim.Restart(step.simArgs);
    // A write queued while no line is open, meant for the former drive.
    dev.GetRegister(24)->SetValueInteger(0, 777);
    auto* queued = new TlaMBWriteSingleRegister(&dev, 24);  // owned by the device
    queued->DisableOnSuccess = true;  // one run, as a request
    queued->DisableOnError = true;
    queued->SetActive(true);
    reconnect();
    EXPECT_LE(dev.UpdateSlaveState(), slaveVersionPending);  // not online before the answer
    ASSERT_TRUE(stack.RunUntil([&] { return dev.UpdateSlaveState() > slaveVersionPending; }));
    EXPECT_EQ(found, step.found);
    EXPECT_EQ(unknown, step.unknown);
    EXPECT_EQ(dev.afterVersionFound, 1);
    EXPECT_EQ(dev.RegDefs(), model);
    EXPECT_EQ(dev.UpdateSlaveState(), step.state);
    EXPECT_FALSE(queued->GetActive());
    EXPECT_EQ(poll->GetActive(), step.state == slaveOnline);
    const int seen = polls;
    if (step.state == slaveOnline) {
      EXPECT_TRUE(stack.RunUntil([&] { return polls > seen + 2; }));
      EXPECT_TRUE(dev.ReadReg(24, true));
    } else {
      EXPECT_FALSE(dev.WriteReg(24, true));
      stack.RunUntil([] { return false; }, milliseconds(500));
      EXPECT_EQ(polls, seen);
    }
    EXPECT_EQ(SimRegister(sim.TcpPort(), 24), 0);
  }
  thread.reset();
}
