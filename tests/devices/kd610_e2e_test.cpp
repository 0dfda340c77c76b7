// The KD610 inverter from end to end without windows, against kd730-sim
// started with the KD610 data model, through mbserver over Modbus TCP:
// identification, its data model, live state and fault words, edit, send to
// RAM, run the motor, the direct EEPROM save through P971, and the saved
// setup read back after the drive restarts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DeviceStack.h"
#include "IniFile.h"
#include "Tladevicekd610cmp.h"
#include "Tlambchainedtransacls.h"
#include "Tlambsimpletransacls.h"

using namespace devtest;

namespace {

const std::string kPar610 = kDataDir + "/KD610_Parameters.par";

class KD610Road : public ::testing::Test {
 protected:
  std::vector<std::string> ActiveFaults() {
    kd::StringList lines;
    for (int i = 0; i < 2; ++i) dev.StandardFaultScan(dev.GetActFault(i), &lines);
    return lines.Lines();
  }
  // Two fault-word updates, so that one read lies wholly after now.
  bool FreshFaultWords() {
    const int seen = faultUpdates;
    return stack.RunUntil([&] { return faultUpdates >= seen + 2; });
  }
  int Address(const char* name) { return static_cast<int>(dev.GetRegister(std::string(name))->Definition->RegAddr); }

  Stack stack;
  kdtest::TempDir files;
  TlaDeviceKD610 dev;
  int found = 0, stateUpdates = 0, faultUpdates = 0, setupUpdates = 0;
  std::vector<std::string> setupEvents;
  std::vector<std::int32_t> errors;
};

}  // namespace

TEST_F(KD610Road, IdentifyPollEditSendSaveAndReadBackAfterARestart) {
  const std::string eeprom = files.File("eeprom.ini");
  SimLine sim(Line::Tcp, {"--par", kPar610, "--eeprom", eeprom});
  stack.coll.DfltFile = "KD730_Parameters.par";  // as the operator program has it
  dev.DMColl = &stack.coll;
  dev.OnVersionFound = [&](TlaDeviceSlave*) { ++found; };
  dev.OnStateUpdate = [&](TlaMBTransaction*, std::int32_t) { ++stateUpdates; };
  dev.OnFaultUpdate = [&](TlaMBTransaction*, std::int32_t) { ++faultUpdates; };
  dev.OnSetupUpdate = [&](TlaMBTransaction*, std::int32_t) { ++setupUpdates; };
  dev.OnSetupSent = [&](TlaMBTransaction*, std::int32_t) { setupEvents.push_back("sent"); };
  dev.OnSetupSave = [&](TlaMBTransaction*, std::int32_t) { setupEvents.push_back("save"); };
  dev.OnTransaError = [&](TlaMBTransaction*, std::int32_t r) { errors.push_back(r); };
  const int port = sim.TcpPort();

  // Identified as a KD610; its own data model, not the default file.
  auto thread = std::make_unique<TlaMBThread>();
  ASSERT_TRUE(stack.Connect(dev, *thread, sim));
  EXPECT_EQ(found, 1);
  EXPECT_EQ(dev.VersionTransa()->GetFullString(), "KDP6_KD610v102");
  ASSERT_NE(dev.RegDefs(), nullptr);
  EXPECT_TRUE(dev.RegDefs()->FileName.ends_with("KD610_Parameters.par")) << dev.RegDefs()->FileName;
  ASSERT_NE(dev.P971, nullptr);
  ASSERT_TRUE(stack.RunUntil([&] { return setupUpdates == 1; }));
  EXPECT_EQ(dev.SetupState, setupSynced);
  EXPECT_DOUBLE_EQ(dev.UrV->GetValue(), 400.0);
  EXPECT_DOUBLE_EQ(dev.FrHz->GetValue(), 50.0);
  EXPECT_EQ(dev.UserOptionField->GetValueText(), "8 kHz");
  ASSERT_TRUE(FreshFaultWords());
  EXPECT_EQ(ActiveFaults(), std::vector<std::string>{});
  EXPECT_GT(stateUpdates, faultUpdates);  // the state every pass, the faults every tenth

  // Edit and send: the drive's RAM has the edits, its EEPROM not yet.
  dev.Accel->SetValue(0.5);
  dev.UrV->SetValue(230.0);
  dev.Trottle1_y->SetValue(15.0);
  EXPECT_EQ(dev.SetupState, setupEdited);
  dev.DirectSaveSetup();  // edits not sent: nothing to save
  EXPECT_EQ(dev.P971->GetValueInteger(0), 0);
  EXPECT_TRUE(setupEvents.empty());
  dev.SendSetup();
  ASSERT_TRUE(stack.RunUntil([&] { return setupEvents.size() == 1; }));
  EXPECT_EQ(dev.SetupState, setupSent);
  EXPECT_EQ(SimRegister(port, Address("UrV")), 230);
  EXPECT_EQ(SimRegister(port, Address("EE_UrV")), 400);

  // Run forward at half speed: the live state follows.
  dev.VirtualInputBits[0]->SetValue(1.0);
  ASSERT_TRUE(dev.VirtualInputBits[0]->Write());
  dev.SetSpeedRefValue(50.0);
  ASSERT_TRUE(dev.WriteReg(dev.VirtualRef, true));
  EXPECT_EQ(SimRegister(port, Address("VirtualRef")), 16384);
  ASSERT_TRUE(stack.RunUntil([&] { return std::abs(dev.f_motorHz->GetValue() - 25.0) < 0.15; }))
      << dev.f_motorHz->GetValue();
  EXPECT_DOUBLE_EQ(dev.InputBits[0]->GetValue(), 1.0);
  EXPECT_NEAR(dev.v_motorV->GetValue(), 0.51 * 230.0, 1.0);  // the characteristic at 50 %
  EXPECT_GT(dev.i_motorA->GetValue(), 0.0);
  EXPECT_GT(dev.u_dc_busV->GetValue(), 500.0);

  // The direct save: P971 = 1, the drive copies its setup and clears the command.
  dev.DirectSaveSetup();
  EXPECT_EQ(setupEvents, (std::vector<std::string>{"sent", "save"}));
  EXPECT_EQ(dev.SetupState, setupSynced);
  EXPECT_EQ(SimRegister(port, Address("P971")), 0);
  EXPECT_EQ(SimRegister(port, Address("EE_UrV")), 230);
  EXPECT_EQ(kd::IniFile(eeprom).ReadInteger("EEPROM", "EE_UrV", 0), 230);
  EXPECT_EQ(errors, std::vector<std::int32_t>{});

  // The drive restarts from its EEPROM, now with a fault; the saved setup reads back.
  sim.Restart({"--par", kPar610, "--eeprom", eeprom, "--fault", "Motor stalled"});
  dev.UrV->SetValue(400.0);
  ASSERT_TRUE(stack.Online(dev, std::chrono::milliseconds(30000)));
  const int reads = setupUpdates;
  dev.ReadSetup();
  ASSERT_TRUE(stack.RunUntil([&] { return setupUpdates > reads; }));
  EXPECT_EQ(dev.SetupState, setupSynced);
  EXPECT_DOUBLE_EQ(dev.UrV->GetValue(), 230.0);
  EXPECT_DOUBLE_EQ(dev.Trottle1_y->GetValue(), 15.0);
  EXPECT_DOUBLE_EQ(dev.Accel->GetValue(), 0.5);
  ASSERT_TRUE(FreshFaultWords());
  EXPECT_EQ(ActiveFaults(), std::vector<std::string>{"Motor stalled"});
  thread.reset();  // before the drive goes
}
