// The KD730 drive from end to end without windows, against kd730-sim through
// mbserver, over RTU (socat pseudo terminals, 19200 baud, even parity) and
// over TCP, connected the way the operator program connects: identification,
// data model, live state every pass and fault words every tenth, the RAM
// setup read, edit, send, save into the EEPROM (kept across a restart of the
// drive), setup export and import, the digital reference, disconnect and
// reconnect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceStack.h"
#include "IniFile.h"
#include "Tladevicekd730cmp.h"
#include "Tlambchainedtransacls.h"

using namespace devtest;

namespace {

class KD730Road : public ::testing::TestWithParam<Line> {
 protected:
  std::vector<std::string> Faults(TlaRegister* (TlaDeviceKD730::*get)(int) const) {
    kd::StringList lines;
    for (int i = 0; i < 2; ++i) dev.StandardFaultScan((dev.*get)(i), &lines);
    return lines.Lines();
  }
  // The next fault-word update (the words are read every tenth pass).
  bool NextFaultUpdate() {
    const int seen = faultUpdates;
    return stack.RunUntil([&] { return faultUpdates > seen; });
  }
  bool Write(TlaRegister* reg) { return dev.WriteReg(reg, true); }

  Stack stack;
  kdtest::TempDir files;
  TlaDeviceKD730 dev;
  std::string events;  // 'A' live state, 'F' fault words, in arrival order
  int faultUpdates = 0, setupUpdates = 0, found = 0, unknown = 0;
  std::vector<std::string> setupEvents;
  std::vector<std::int32_t> errors;
};

}  // namespace

TEST_P(KD730Road, FromConnectToReconnect) {
  const std::string eeprom = files.File("eeprom.ini");
  SimLine sim(GetParam(), {"--eeprom", eeprom});
  stack.coll.DfltFile = "KD730_Parameters.par";
  dev.DMColl = &stack.coll;
  dev.SetMaxFaultCount(10);
  dev.OnVersionFound = [&](TlaDeviceSlave*) { ++found; };
  dev.OnVersionUnknown = [&](TlaDeviceSlave*) { ++unknown; };
  dev.OnStateUpdate = [&](TlaMBTransaction*, std::int32_t) { events += 'A'; };
  dev.OnFaultUpdate = [&](TlaMBTransaction*, std::int32_t) {
    events += 'F';
    ++faultUpdates;
  };
  dev.OnSetupUpdate = [&](TlaMBTransaction*, std::int32_t) { ++setupUpdates; };
  dev.OnSetupSent = [&](TlaMBTransaction*, std::int32_t) { setupEvents.push_back("sent"); };
  dev.OnSetupSave = [&](TlaMBTransaction*, std::int32_t) { setupEvents.push_back("save"); };
  dev.OnTransaError = [&](TlaMBTransaction*, std::int32_t r) { errors.push_back(r); };
  const bool tcp = GetParam() == Line::Tcp;

  // Connect: identification, data model, online, the first setup read.
  auto thread = std::make_unique<TlaMBThread>();
  Stack::Attach(dev, *thread, sim);
  Stack::Open(*thread);
  ASSERT_TRUE(stack.Online(dev));
  EXPECT_EQ(found, 1);
  ASSERT_NE(dev.CfgFlags, nullptr);
  EXPECT_EQ(dev.GetRegisterCount(), 62);
  ASSERT_TRUE(stack.RunUntil([&] { return setupUpdates == 1; }));
  EXPECT_EQ(dev.SetupState, setupSynced);
  EXPECT_FALSE(dev.RamSetupRead()->GetActive());  // one successful run
  EXPECT_DOUBLE_EQ(dev.UrV->GetValueDouble(0), 400.0);
  EXPECT_EQ(dev.CfgFlags->GetValueInteger(0), 35);
  EXPECT_DOUBLE_EQ(dev.IpA->MaxBound->Constant, 30.0);  // HWLimitVolt 550

  // Live state every pass, fault words every tenth: ten samples between two fault updates.
  ASSERT_TRUE(stack.RunUntil([&] { return faultUpdates >= 3; }));
  {
    const auto second = events.find('F', events.find('F') + 1);
    const auto third = events.find('F', second + 1);
    EXPECT_EQ(third - second - 1, 10u) << events;
  }
  EXPECT_EQ(Faults(&TlaDeviceKD730::GetActFault), std::vector<std::string>{});

  // The digital reference: written, read back by the drive, the speed follows.
  dev.SetSpeedRefValue(50.0);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 12288);
  ASSERT_TRUE(Write(dev.RefDig));
  if (tcp) {
    EXPECT_EQ(SimRegister(sim.TcpPort(), 24), 12288);
  }
  dev.RefDig->SetValueInteger(0, 0);
  ASSERT_TRUE(dev.ReadReg(dev.RefDig, true));
  EXPECT_NEAR(dev.GetSpeedRefValue(), 50.0, 0.01);
  EXPECT_TRUE(stack.RunUntil([&] { return dev.GetArmatureValue() > 45.0; })) << dev.GetArmatureValue();
  EXPECT_GT(dev.GetDcBusvalue(), 0.0);
  dev.SetSpeedRefValue(0.0);
  ASSERT_TRUE(Write(dev.RefDig));
  EXPECT_TRUE(stack.RunUntil([&] { return dev.GetArmatureValue() < 5.0; })) << dev.GetArmatureValue();

  // Edit, send (RAM only), save (EEPROM).
  dev.NomSpeed->SetValueDouble(0, 1200.0);
  EXPECT_EQ(dev.SetupState, setupEdited);
  dev.SendSetup();
  ASSERT_TRUE(stack.RunUntil([&] { return setupEvents.size() == 1; }));
  EXPECT_EQ(dev.SetupState, setupSent);
  TlaRegister* eeNomSpeed = dev.GetRegister(std::string("EE_NomSpeed"));
  ASSERT_TRUE(dev.ReadReg(eeNomSpeed, true));
  EXPECT_EQ(eeNomSpeed->GetValueInteger(0), 1500);  // the drive's EEPROM as it was
  ASSERT_TRUE(dev.ReadReg(dev.NomSpeed, true));
  EXPECT_EQ(dev.NomSpeed->GetValueInteger(0), 1200);  // its RAM has the edit
  if (tcp) {
    EXPECT_EQ(SimRegister(sim.TcpPort(), 4), 1200);
    EXPECT_EQ(SimRegister(sim.TcpPort(), 42), 1500);
  }
  EXPECT_EQ(dev.SetupState, setupSent);  // reads are no edits

  dev.SaveSetup();
  ASSERT_TRUE(stack.RunUntil([&] { return setupEvents.size() == 3; }));
  EXPECT_EQ(setupEvents, (std::vector<std::string>{"sent", "sent", "save"}));
  EXPECT_EQ(dev.SetupState, setupSynced);
  EXPECT_EQ(eeNomSpeed->GetValueInteger(0), 1200);  // the twin copied before the write
  EXPECT_EQ(kd::IniFile(eeprom).ReadInteger("EEPROM", "EE_NomSpeed", 0), 1200);

  // Export, change, import: the setup comes back and counts as edited.
  const std::string setupFile = files.File("drive.730");
  std::vector<int> before;
  for (int a = 1; a <= 23; ++a) before.push_back(dev.GetRegister(a)->GetValueInteger(0));
  {
    kd::IniFile ini(setupFile);
    dev.ExportToIniFile("KD730_Cfg", &ini);
  }
  dev.NomSpeed->SetValueDouble(0, 900.0);
  dev.Accel->SetValueDouble(0, 5.0);
  {
    kd::IniFile ini(setupFile);
    dev.ImportFromIniFile("KD730_Cfg", &ini);
  }
  std::vector<int> after;
  for (int a = 1; a <= 23; ++a) after.push_back(dev.GetRegister(a)->GetValueInteger(0));
  EXPECT_EQ(after, before);
  EXPECT_EQ(dev.SetupState, setupEdited);

  // The drive restarts from its EEPROM file, now with a fault.
  sim.Restart({"--eeprom", eeprom, "--fault", "Overcurrent"});
  dev.NomSpeed->SetValueDouble(0, 1000.0);
  ASSERT_TRUE(stack.Online(dev, std::chrono::milliseconds(30000)));
  const int reads = setupUpdates;
  dev.ReadSetup();
  ASSERT_TRUE(stack.RunUntil([&] { return setupUpdates > reads; }));
  EXPECT_EQ(dev.NomSpeed->GetValueInteger(0), 1200);
  EXPECT_EQ(dev.SetupState, setupSynced);
  ASSERT_TRUE(NextFaultUpdate());
  ASSERT_TRUE(NextFaultUpdate());  // one read wholly after the restart
  EXPECT_EQ(Faults(&TlaDeviceKD730::GetActFault), std::vector<std::string>{"Overcurrent"});
  EXPECT_EQ(Faults(&TlaDeviceKD730::GetPreFault), std::vector<std::string>{});
  // Clearing the bit moves the fault to the previous ones.
  dev.ActFaultState_0->SetValueBit(0, 0, false);
  ASSERT_TRUE(Write(dev.ActFaultState_0));
  ASSERT_TRUE(NextFaultUpdate());
  ASSERT_TRUE(NextFaultUpdate());
  EXPECT_EQ(Faults(&TlaDeviceKD730::GetActFault), std::vector<std::string>{});
  EXPECT_EQ(Faults(&TlaDeviceKD730::GetPreFault), std::vector<std::string>{"Overcurrent"});

  // Disconnect and reconnect as the program does: a new worker; the drive
  // is identified and its setup read again, with its first model and its
  // transactions.
  TlaRegDefsList* model = dev.RegDefs();
  const int transactions = dev.GetTransaCount();
  auto reconnect = [&] {
    thread.reset();
    EXPECT_EQ(dev.UpdateSlaveState(), slaveNoConnection);
    EXPECT_FALSE(dev.GetModBusSlaveKnown());  // the next drive's may differ
    thread = std::make_unique<TlaMBThread>();
    Stack::Attach(dev, *thread, sim);
    Stack::Open(*thread);
  };
  // The stored slave address is read at a state update, and again after the
  // reconnect, over a value typed and never saved.
  ASSERT_TRUE(stack.RunUntil([&] { return dev.GetModBusSlaveKnown(); }));
  const int storedSlave = dev.EE_ModBusSlave->GetValueInteger(0);
  dev.EE_ModBusSlave->SetValueInteger(0, storedSlave + 1);
  int setupReads = setupUpdates;
  reconnect();
  ASSERT_TRUE(stack.RunUntil([&] { return found == 2 && setupUpdates > setupReads; }));
  EXPECT_TRUE(stack.Online(dev));
  ASSERT_TRUE(stack.RunUntil([&] { return dev.GetModBusSlaveKnown(); }));
  EXPECT_EQ(dev.EE_ModBusSlave->GetValueInteger(0), storedSlave);
  EXPECT_EQ(unknown, 0);
  EXPECT_EQ(dev.RegDefs(), model);
  EXPECT_EQ(dev.GetTransaCount(), transactions);
  auto samples = events.size();
  EXPECT_TRUE(stack.RunUntil([&] { return events.size() > samples + 5; }));

  // An edited setup is kept over the next reconnect: no setup read.
  dev.NomSpeed->SetValueDouble(0, 1300.0);
  ASSERT_EQ(dev.SetupState, setupEdited);
  setupReads = setupUpdates;
  reconnect();
  ASSERT_TRUE(stack.RunUntil([&] { return found == 3; }));
  EXPECT_TRUE(stack.Online(dev));
  samples = events.size();
  EXPECT_TRUE(stack.RunUntil([&] { return events.size() > samples + 12; }));  // past a tenth pass
  EXPECT_EQ(setupUpdates, setupReads);
  EXPECT_EQ(dev.SetupState, setupEdited);
  EXPECT_EQ(dev.NomSpeed->GetValueInteger(0), 1300);
  EXPECT_EQ(dev.GetTransaCount(), transactions);
  thread.reset();  // before the drive goes
}

INSTANTIATE_TEST_SUITE_P(Lines, KD730Road, ::testing::Values(Line::Rtu, Line::Tcp),
                         [](const auto& p) { return LineName(p.param); });
