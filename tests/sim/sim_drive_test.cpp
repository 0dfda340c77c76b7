// The simulated drives (KD730 and KD610) on a fake clock.
#include <gtest/gtest.h>

#include <filesystem>

#include "IniFile.h"
#include "SimRegisterMap.h"
#include "SimDrive.h"
#include "SimSlave.h"
#include "TestSupport.h"

using namespace kdsim;

namespace {

const std::string kParFile = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";

class SimDriveTest : public ::testing::Test {
 protected:
  SimDrive MakeDrive(const std::string& eeprom = "") { return SimDrive(SimRegisterMap(kParFile), eeprom, 0.0); }

  static int Addr(const SimDrive& d, const char* name) {
    int a = d.Map().Find(name);
    EXPECT_GE(a, 0) << name;
    return a;
  }
  static void Put(SimDrive& d, const char* name, int raw) {
    int a = Addr(d, name);
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>((raw >> 8) & 0xFF), static_cast<std::uint8_t>(raw & 0xFF)};
    ASSERT_TRUE(d.Write(a, 1, bytes));
  }
  static int Get(const SimDrive& d, const char* name) { return d.Map().GetInt(Addr(d, name)); }
  static double Value(const SimDrive& d, const char* name) { return d.Map().GetDouble(Addr(d, name)); }

  kdtest::TempDir dir_;
};

constexpr double kFull = SimDrive::kFullScale;

TEST_F(SimDriveTest, SpeedFollowsTheDigitalReferenceAlongTheRamps) {
  SimDrive d = MakeDrive();
  // Defaults: digital reference, virtual inputs, ramps on; Accel and Decel 2 s.
  ASSERT_EQ(Get(d, "CfgFlags"), 0x23);
  Put(d, "Decel", 400);  // 4.00 s
  Put(d, "RefDig", 24576);
  d.Update(1.0);
  EXPECT_NEAR(d.Speed(), 0.5 * kFull, 1.0);
  EXPECT_NEAR(Get(d, "Armature"), 0.5 * kFull, 0.003 * kFull);
  EXPECT_NEAR(Get(d, "Tacho"), 0.5 * kFull, 0.003 * kFull);
  double accelerating = Value(d, "i_motorA");
  d.Update(2.5);
  EXPECT_DOUBLE_EQ(d.Speed(), kFull);
  EXPECT_NEAR(Value(d, "a_motorV"), 400.0, 2.0);  // UrV at full speed
  double steady = Value(d, "i_motorA");
  EXPECT_GT(accelerating, steady + 1.0);  // accelerating takes current
  EXPECT_NEAR(steady, 0.5, 0.2);          // a light load at full speed
  EXPECT_NEAR(Value(d, "u_dc_busV"), 540.0, 3.0);

  Put(d, "RefDig", 0);
  d.Update(3.5);  // one second of a four-second deceleration
  EXPECT_NEAR(d.Speed(), 0.75 * kFull, 1.0);
  EXPECT_LT(Value(d, "i_motorA"), 0.0);  // braking
  // Reversing runs down along Decel, then up along Accel.
  Put(d, "RefDig", -24576);
  d.Update(6.5);  // 18432 counts at 6144 per second
  EXPECT_NEAR(d.Speed(), 0.0, 1.0);
  d.Update(7.5);
  EXPECT_NEAR(d.Speed(), -0.5 * kFull, 1.0);
  d.Update(100.0);
  EXPECT_DOUBLE_EQ(d.Speed(), -kFull);
}

TEST_F(SimDriveTest, RampOffStepsAndAnalogueReferenceWhenDigitalIsOff) {
  SimDrive d = MakeDrive();
  Put(d, "CfgFlags", 0x03);  // ramps off
  Put(d, "RefDig", 12288);
  d.Update(0.01);
  EXPECT_DOUBLE_EQ(d.Speed(), 12288);

  Put(d, "CfgFlags", 0x02);  // analogue reference: ARef1 times ARef1_scale
  d.SetAnalogInputs(8000, 24576);
  Put(d, "ARef1_scale", 500);  // 0.500
  Put(d, "OffsetAn2Ext", 100);
  d.Update(0.02);
  EXPECT_EQ(Get(d, "ARef1"), 8100);
  EXPECT_DOUBLE_EQ(d.Speed(), 4050);
}

TEST_F(SimDriveTest, VirtualInputsShowInInputAndStopTheMotor) {
  struct Case {
    int cfgFlags, virtualInput, terminals, reference, input;
    double speed;
  } cases[] = {
      {0x03, 0x0, 0x0, 10000, 0x0, 10000},  // running
      {0x03, 0x4, 0x0, 10000, 0x4, 0},      // inhibit
      {0x07, 0x3, 0x0, 10000, 0x3, 0},      // inverted logic: an open input is active
      {0x07, 0x7, 0x0, 10000, 0x7, 10000},
      {0x07, 0x5, 0x0, 10000, 0x5, 0},
      {0x03, 0x2, 0x0, 10000, 0x2, 0},      // Disable CW stops forward running only
      {0x03, 0x2, 0x0, -10000, 0x2, -10000},
      {0x03, 0x1, 0x0, -10000, 0x1, 0},     // Disable CCW
      {0x01, 0x4, 0x0, 10000, 0x0, 10000},  // terminals in use: virtual inputs ignored
      {0x01, 0x0, 0x4, 10000, 0x4, 0},
  };
  for (const Case& c : cases) {
    SimDrive d = MakeDrive();
    d.SetTerminals(static_cast<std::uint16_t>(c.terminals));
    Put(d, "CfgFlags", c.cfgFlags);
    Put(d, "VirtualInput", c.virtualInput);
    Put(d, "RefDig", c.reference);
    d.Update(0.1);
    SCOPED_TRACE(testing::Message() << "CfgFlags " << c.cfgFlags << " VirtualInput " << c.virtualInput);
    EXPECT_EQ(Get(d, "Input"), c.input);
    EXPECT_DOUBLE_EQ(d.Speed(), c.speed);
  }
}

TEST_F(SimDriveTest, CurrentModeDrivesTheReferenceCurrentWithinTheLimit) {
  SimDrive d = MakeDrive();
  Put(d, "CfgFlags", 0x203);  // bit 9: current reference
  Put(d, "RefDig", 12288);    // half of IcA (10.0 A)
  d.Update(0.5);
  EXPECT_NEAR(Value(d, "i_motorA"), 5.0, 0.1);
  Put(d, "RefDig", 32767);    // beyond IcA: held at the limit
  d.Update(1.0);
  EXPECT_NEAR(Value(d, "i_motorA"), 10.0, 0.1);
  Put(d, "CfgFlags", 0x20B);  // bit 3: the limit scaled by ARef2 (here 25 %)
  d.SetAnalogInputs(0, 6144);
  d.Update(1.5);
  EXPECT_NEAR(Value(d, "i_motorA"), 2.5, 0.1);
}

TEST_F(SimDriveTest, ReadOnlyRegistersKeepTheirValues) {
  SimDrive d = MakeDrive();
  Put(d, "HWLimitVolt", 1000);
  EXPECT_EQ(Get(d, "HWLimitVolt"), 550);
  Put(d, "Tacho", 1234);
  EXPECT_NE(Get(d, "Tacho"), 1234);
  Put(d, "UrV", 300);
  EXPECT_EQ(Get(d, "UrV"), 300);
}

TEST_F(SimDriveTest, FaultsStopTheDriveAndMoveToPreviousWhenCleared) {
  SimDrive d = MakeDrive();
  Put(d, "RefDig", 24576);
  d.Update(3.0);
  ASSERT_TRUE(d.RaiseFault("DC bus overvoltage"));  // word 0, bit 1
  ASSERT_TRUE(d.RaiseFault("ActFaultState_1.3"));
  ASSERT_TRUE(d.RaiseFault("mains_phase_loss"));    // word 0, bit 8
  EXPECT_FALSE(d.RaiseFault("No such fault"));
  EXPECT_FALSE(d.RaiseFault("ActFaultState_1.16"));
  EXPECT_EQ(Get(d, "ActFaultState_0"), 0x0102);
  EXPECT_EQ(Get(d, "ActFaultState_1"), 0x0008);
  d.Update(5.0);
  EXPECT_DOUBLE_EQ(d.Speed(), 0.0);  // a fault inhibits the drive

  // A master clears by writing 0 to a bit; it cannot raise one.
  Put(d, "ActFaultState_0", 0x0100 | 0x0001);
  EXPECT_EQ(Get(d, "ActFaultState_0"), 0x0100);
  EXPECT_EQ(Get(d, "PrevFaultState_0"), 0x0002);
  ASSERT_TRUE(d.ClearFault("Mains phase loss"));
  ASSERT_TRUE(d.ClearFault("ActFaultState_1.3"));
  EXPECT_EQ(Get(d, "ActFaultState_0"), 0);
  EXPECT_EQ(Get(d, "PrevFaultState_0"), 0x0102);
  EXPECT_EQ(Get(d, "PrevFaultState_1"), 0x0008);
  d.Update(8.0);
  EXPECT_GT(d.Speed(), 0.0);  // runs again
}

TEST_F(SimDriveTest, EepromSurvivesARestartAndStartsTheRamSetup) {
  std::string file = dir_.Path() + "/eeprom.ini";
  {
    SimDrive d = MakeDrive(file);
    EXPECT_FALSE(std::filesystem::exists(file));  // nothing written yet
    Put(d, "UrV", 300);                            // RAM only
    EXPECT_FALSE(std::filesystem::exists(file));
    Put(d, "EE_UrV", 420);
    Put(d, "EE_ModBusSlave", 7);
    EXPECT_EQ(Get(d, "UrV"), 300);  // the twin is not copied while running
  }
  SimDrive d = MakeDrive(file);
  EXPECT_EQ(Get(d, "EE_UrV"), 420);
  EXPECT_EQ(Get(d, "UrV"), 420);
  EXPECT_EQ(Get(d, "EE_ModBusSlave"), 7);
  EXPECT_EQ(Get(d, "IcA"), 100);  // never written: the default 10.0 A

  // A damaged entry gives that register its default; the others load.
  kd::IniFile(file).WriteString("EEPROM", "EE_UrV", "lots");
  SimDrive again = MakeDrive(file);
  EXPECT_EQ(Get(again, "UrV"), 400);
  EXPECT_EQ(Get(again, "EE_ModBusSlave"), 7);
}

TEST_F(SimDriveTest, EepromWriteThatCannotBeKeptIsReported) {
  SimDrive d = MakeDrive(dir_.Path() + "/missing-folder/eeprom.ini");
  int a = Addr(d, "EE_UrV");
  std::uint8_t bytes[2] = {0x01, 0x2C};
  EXPECT_FALSE(d.Write(a, 1, bytes));
  int ram = Addr(d, "UrV");
  EXPECT_TRUE(d.Write(ram, 1, bytes));  // RAM needs no file
}

}  // namespace

namespace {

// The KD610 inverter: FrHz 50 Hz, Accel and Decel 5 s, UrV 400 V; CfgFlags 5
// (virtual inputs, ramps on).
class SimKD610Test : public SimDriveTest {
 protected:
  SimDrive MakeKD610(const std::string& eeprom = "") {
    return SimDrive(SimRegisterMap(std::string(KD_DATA_DIR) + "/KD610_Parameters.par"), eeprom, 0.0);
  }
};

TEST_F(SimKD610Test, FrequencyFollowsTheRunInputsAndTheReferenceAlongTheRamps) {
  SimDrive d = MakeKD610();
  EXPECT_EQ(SimIdentity::Of(d.Map().FirstVersion()).Text(), "KDP6_KD610v102");
  Put(d, "VirtualRef", 16384);  // 50 %
  d.Update(1.0);
  EXPECT_DOUBLE_EQ(d.Speed(), 0.0);  // no run input
  EXPECT_DOUBLE_EQ(Value(d, "v_motorV"), 0.0);
  EXPECT_DOUBLE_EQ(Value(d, "i_motorA"), 0.0);
  EXPECT_NEAR(Value(d, "u_dc_busV"), 565.7, 2.0);  // the rectified 400 V mains

  Put(d, "VirtualInput", 0x1);  // run forward
  d.Update(2.0);
  EXPECT_NEAR(d.Speed(), 10.0, 0.01);  // 50 Hz in 5 s
  EXPECT_NEAR(Value(d, "f_motorHz"), 10.0, 0.11);
  EXPECT_EQ(Get(d, "Input"), 0x1);
  d.Update(10.0);
  EXPECT_DOUBLE_EQ(d.Speed(), 25.0);
  // Half the rated frequency: between the points (10 %, 12 %) and (50 %, 51 %).
  EXPECT_NEAR(Value(d, "v_motorV"), 0.51 * 400.0, 1.0);
  const double load = Value(d, "i_motorA");
  EXPECT_GT(load, 0.5);
  EXPECT_LT(load, 4.0);  // within the peak current

  // A fault stops it along the ramp; the holding voltage while running at standstill.
  ASSERT_TRUE(d.RaiseFault("Motor stalled"));
  d.Update(11.0);
  EXPECT_NEAR(d.Speed(), 15.0, 0.01);
  ASSERT_TRUE(d.ClearFault("Motor stalled"));
  Put(d, "VirtualRef", 0);
  d.Update(20.0);
  EXPECT_DOUBLE_EQ(d.Speed(), 0.0);
  EXPECT_DOUBLE_EQ(Value(d, "v_motorV"), 10.0);  // HoldTorqueVolt
}

TEST_F(SimKD610Test, InputsChooseDirectionAndSpeed) {
  struct Case {
    int cfgFlags, userOption, virtualInput, terminals;
    double hertz;
  } cases[] = {
      {0x1, 0, 0x1, 0x0, 25.0},   // forward at VirtualRef
      {0x1, 0, 0x2, 0x0, -25.0},  // reverse
      {0x1, 0, 0x3, 0x0, 0.0},    // both: stop
      {0x1, 0, 0x5, 0x0, 5.0},    // jog: SpeedJog 10 %
      {0x1, 0, 0x9, 0x0, 50.0},   // fast: SpeedFast 100 %
      {0x1, 0x10, 0x2, 0x0, 0.0},  // reverse locked
      {0x3, 0, 0xE, 0x0, 25.0},   // inverted logic: the open bit 0 runs forward
      {0x0, 0, 0x2, 0x1, 25.0},   // the terminals: virtual inputs ignored
  };
  for (const Case& c : cases) {
    SimDrive d = MakeKD610();
    SCOPED_TRACE(testing::Message() << "CfgFlags " << c.cfgFlags << " VirtualInput " << c.virtualInput);
    d.SetTerminals(static_cast<std::uint16_t>(c.terminals));
    Put(d, "CfgFlags", c.cfgFlags);  // ramps off
    Put(d, "UserOption", c.userOption);
    Put(d, "VirtualRef", 16384);
    Put(d, "VirtualInput", c.virtualInput);
    d.Update(0.1);
    EXPECT_DOUBLE_EQ(d.Speed(), c.hertz);
  }
}

TEST_F(SimKD610Test, CommandRegisterSavesTheSetupAndReadsZeroAgain) {
  const std::string file = dir_.Path() + "/eeprom.ini";
  {
    SimDrive d = MakeKD610(file);
    Put(d, "UrV", 230);
    Put(d, "Trottle[1].y", 150);
    EXPECT_FALSE(std::filesystem::exists(file));  // RAM only
    EXPECT_EQ(Get(d, "EE_UrV"), 400);
    Put(d, "P971", 2);  // no command
    EXPECT_EQ(Get(d, "P971"), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    Put(d, "P971", 1);
    EXPECT_EQ(Get(d, "P971"), 0);
    EXPECT_EQ(Get(d, "EE_UrV"), 230);
    EXPECT_EQ(Get(d, "EE_Trottle[1].y"), 150);
    EXPECT_EQ(kd::IniFile(file).ReadInteger("EEPROM", "EE_UrV", 0), 230);
  }
  SimDrive d = MakeKD610(file);
  EXPECT_EQ(Get(d, "UrV"), 230);
  EXPECT_EQ(Get(d, "Trottle[1].y"), 150);

  // A save that cannot be kept is reported.
  SimDrive lost = MakeKD610(dir_.Path() + "/missing-folder/eeprom.ini");
  std::uint8_t one[2] = {0, 1};
  EXPECT_FALSE(lost.Write(Addr(lost, "P971"), 1, one));
}

}  // namespace
