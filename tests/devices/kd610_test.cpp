// The KD610 inverter without a line: its views over the shipped data model,
// the linked limits, the speed reference and the direct EEPROM save.
#include <gtest/gtest.h>

#include <limits>

#include "MainThread.h"
#include "Tladevicekd610cmp.h"
#include "Tlambchainedtransacls.h"

namespace {

const std::string kPar = std::string(KD_DATA_DIR) + "/KD610_Parameters.par";

// The drive with its data model built as after an identification.
class Drive : public TlaDeviceKD610 {
 public:
  using TlaDeviceKD610::AfterVersionFound;
  using TlaDeviceKD610::DoOnSetupSent;
};

class KD610 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model.LoadFromFile(kPar));
    ASSERT_TRUE(dev.CreateRegDataBuffer(&model));
    dev.AfterVersionFound();
    // The drive's defaults, as a setup read brings them (no bounds, no events).
    for (int a = 0; a < dev.GetRegisterCount(); ++a) {
      TlaRegister* reg = dev.GetRegister(a);
      if (!reg->Definition->HasDfltValue) continue;
      TlaThreadBuffer::WriteAccess bytes(*reg->Segment);
      reg->Definition->SetValueDouble(bytes.Data(), 0, reg->Definition->DfltValue);
    }
  }
  TlaRegister* Reg(const char* name) { return dev.GetRegister(std::string(name)); }

  kd::ScopedQueueLoop loop;
  TlaRegDefsList model;
  Drive dev;
};

}  // namespace

TEST_F(KD610, ViewsAndRegistersOverTheirDataModelNames) {
  const std::pair<TlaParValue*, const char*> views[] = {
      {dev.MainsVoltage.get(), "MainsVoltage"}, {dev.UrV.get(), "UrV"},
      {dev.UminV.get(), "UminV"},               {dev.UmaxV.get(), "UmaxV"},
      {dev.IrA.get(), "IrA"},                   {dev.IpA.get(), "IpA"},
      {dev.I2T_Time.get(), "I2T_Time"},         {dev.FrHz.get(), "FrHz"},
      {dev.Accel.get(), "Accel"},               {dev.Decel.get(), "Decel"},
      {dev.SpeedJog.get(), "SpeedJog"},         {dev.SpeedFast.get(), "SpeedFast"},
      {dev.Trottle0_y.get(), "Trottle[0].y"},   {dev.Trottle1_x.get(), "Trottle[1].x"},
      {dev.Trottle1_y.get(), "Trottle[1].y"},   {dev.Trottle2_x.get(), "Trottle[2].x"},
      {dev.Trottle2_y.get(), "Trottle[2].y"},   {dev.Trottle3_y.get(), "Trottle[3].y"},
      {dev.HoldTorqueVolt.get(), "HoldTorqueVolt"}, {dev.MotorID.get(), "MotorID"},
      {dev.VirtualInput.get(), "VirtualInput"}, {dev.u_dc_busV.get(), "u_dc_busV"},
      {dev.f_motorHz.get(), "f_motorHz"},       {dev.v_motorV.get(), "v_motorV"},
      {dev.i_motorA.get(), "i_motorA"},         {dev.HWLimitVolt.get(), "HWLimitVolt"},
      {dev.EE_PROFIbusSlaveView.get(), "EE_PROFIbusSlave"}};
  for (const auto& [view, name] : views) {
    ASSERT_NE(view, nullptr) << name;
    EXPECT_NE(view->Register, nullptr) << name;
    EXPECT_EQ(view->Register, Reg(name)) << name;
    EXPECT_EQ(view->Element, 0) << name;
    EXPECT_EQ(view->Device, &dev) << name;
  }
  const std::pair<TlaRegister*, const char*> registers[] = {
      {dev.VirtualRef, "VirtualRef"},         {dev.P971, "P971"},
      {dev.PrevFaultState_0, "PrevFaultState_0"}, {dev.PrevFaultState_1, "PrevFaultState_1"},
      {dev.ActFaultState_0, "ActFaultState_0"},   {dev.ActFaultState_1, "ActFaultState_1"},
      {dev.EE_PROFIbusSlave, "EE_PROFIbusSlave"}, {dev.CfgFlags, "CfgFlags"},
      {dev.UserOption, "UserOption"},         {dev.EE_ModBusSlave, "EE_ModBusSlave"}};
  for (const auto& [reg, name] : registers) {
    EXPECT_NE(reg, nullptr) << name;
    EXPECT_EQ(reg, Reg(name)) << name;
  }

  // The bit views, each named by its data model line.
  for (int b = 0; b < 4; ++b) {
    EXPECT_EQ(dev.VirtualInputBits[b]->Register, Reg("VirtualInput"));
    EXPECT_EQ(dev.VirtualInputBits[b]->Bit, b);
    EXPECT_EQ(dev.InputBits[b]->Register, Reg("Input"));
    EXPECT_EQ(dev.InputBits[b]->Bit, b);
  }
  EXPECT_EQ(dev.InputBits[1]->GetName(), "Run reverse");
  EXPECT_EQ(dev.VirtualInputBits[3]->GetName(), "Fast speed");
  for (int b = 0; b < 3; ++b) EXPECT_EQ(dev.CfgFlagsBits[b]->Register, dev.CfgFlags);
  EXPECT_EQ(dev.CfgFlagsBits[2]->GetName(), "Speed ramp");
  for (int b = 0; b < 8; ++b) {
    EXPECT_EQ(dev.UserOptionBits[b]->Register, dev.UserOption);
    EXPECT_EQ(dev.UserOptionBits[b]->Bit, b);
  }
  EXPECT_EQ(dev.UserOptionBits[7]->GetName(), "Stop mode");
  EXPECT_EQ(dev.UserOptionField->Register, dev.UserOption);
  EXPECT_EQ(dev.UserOptionField->FirstBit, 8);
  EXPECT_EQ(dev.UserOptionField->BitCount, 2);
  EXPECT_EQ(dev.UserOptionField->GetName(), "Switching frequency");
  EXPECT_EQ(dev.UserOptionField->GetValueText(), "8 kHz");  // the default 320
  EXPECT_EQ(dev.UserOptionBit10->Bit, 10);
  EXPECT_EQ(dev.UserOptionBit10->GetName(), "Keypad lock");

  // Indexed access; other indices have nothing.
  EXPECT_EQ(dev.GetPreFault(0), dev.PrevFaultState_0);
  EXPECT_EQ(dev.GetPreFault(1), dev.PrevFaultState_1);
  EXPECT_EQ(dev.GetActFault(0), dev.ActFaultState_0);
  EXPECT_EQ(dev.GetActFault(1), dev.ActFaultState_1);
  EXPECT_EQ(dev.GetPreFault(2), nullptr);
  EXPECT_EQ(dev.GetActFault(-1), nullptr);
  const TlaParValue* points[] = {dev.Trottle0_y.get(), dev.Trottle1_x.get(), dev.Trottle1_y.get(),
                                 dev.Trottle2_x.get(), dev.Trottle2_y.get(), dev.Trottle3_y.get()};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(dev.GetTrottle(i), points[i]) << i;
  EXPECT_EQ(dev.GetTrottle(-1), nullptr);
  EXPECT_EQ(dev.GetTrottle(6), nullptr);

  // The family's transactions: ActState, FaultState and the three setup ones.
  EXPECT_EQ(dev.GetTransaCount(), 5);
}

TEST_F(KD610, EveryLinkedLimitFollowsItsPartner) {
  enum Which { Min, Max };
  struct Link {
    TlaParValue* from;
    Which bound;
    TlaParValue* to;
    double offset;
  } links[] = {
      {dev.UrV.get(), Min, dev.UminV.get(), 0},          {dev.UrV.get(), Max, dev.UmaxV.get(), 0},
      {dev.UminV.get(), Max, dev.UmaxV.get(), -1.0},     {dev.UmaxV.get(), Min, dev.UminV.get(), +1.0},
      {dev.HoldTorqueVolt.get(), Max, dev.UrV.get(), 0}, {dev.IrA.get(), Max, dev.IpA.get(), 0},
      {dev.IpA.get(), Min, dev.IrA.get(), 0},            {dev.SpeedJog.get(), Max, dev.SpeedFast.get(), 0},
      {dev.SpeedFast.get(), Min, dev.SpeedJog.get(), 0}, {dev.Trottle0_y.get(), Max, dev.Trottle1_y.get(), 0},
      {dev.Trottle1_y.get(), Max, dev.Trottle2_y.get(), 0}, {dev.Trottle1_y.get(), Min, dev.Trottle0_y.get(), 0},
      {dev.Trottle2_y.get(), Max, dev.Trottle3_y.get(), 0}, {dev.Trottle2_y.get(), Min, dev.Trottle1_y.get(), 0},
      {dev.Trottle3_y.get(), Min, dev.Trottle2_y.get(), 0}, {dev.Trottle1_x.get(), Max, dev.Trottle2_x.get(), 0},
      {dev.Trottle2_x.get(), Min, dev.Trottle1_x.get(), 0},
  };
  for (const Link& l : links) {
    SCOPED_TRACE(l.from->Register->Definition->Name + (l.bound == Min ? " min" : " max"));
    TlaRegBound* bound = (l.bound == Min ? l.from->Register->MinBound : l.from->Register->MaxBound).get();
    ASSERT_NE(bound, nullptr);
    EXPECT_EQ(bound->Linked(), l.to->Register);
    EXPECT_EQ(bound->Offset, l.offset);
    // The bound is the partner's value as it is now, in the scaled unit.
    EXPECT_DOUBLE_EQ(l.bound == Min ? l.from->GetMin() : l.from->GetMax(), l.to->GetValue() + l.offset);
  }
}

TEST_F(KD610, VoltageWindowAndCharacteristicStayOrdered) {
  // The window keeps 1 V between its ends; the rated voltage stays inside it.
  dev.UmaxV->SetValue(300.0);
  dev.UminV->SetValue(350.0);
  EXPECT_DOUBLE_EQ(dev.UminV->GetValue(), 299.0);
  EXPECT_DOUBLE_EQ(dev.UminV->GetMax(), 299.0);
  dev.UminV->SetValue(100.0);
  dev.UmaxV->SetValue(50.0);
  EXPECT_DOUBLE_EQ(dev.UmaxV->GetValue(), 101.0);
  EXPECT_DOUBLE_EQ(dev.UmaxV->GetMin(), 101.0);
  dev.UmaxV->SetValue(300.0);
  dev.UrV->SetValue(450.0);
  EXPECT_DOUBLE_EQ(dev.UrV->GetValue(), 300.0);
  dev.UrV->SetValue(20.0);
  EXPECT_DOUBLE_EQ(dev.UrV->GetValue(), 100.0);
  dev.HoldTorqueVolt->SetValue(250.0);
  EXPECT_DOUBLE_EQ(dev.HoldTorqueVolt->GetValue(), 100.0);  // not above UrV

  // The characteristic's points cannot pass each other: defaults (0, 3 %),
  // (10 %, 12 %), (50 %, 51 %), (100 %, 100 %).
  dev.Trottle1_y->SetValue(80.0);
  EXPECT_DOUBLE_EQ(dev.Trottle1_y->GetValue(), 51.0);
  dev.Trottle2_y->SetValue(2.0);
  EXPECT_DOUBLE_EQ(dev.Trottle2_y->GetValue(), 51.0);  // not below point 1
  dev.Trottle0_y->SetValue(70.0);
  EXPECT_DOUBLE_EQ(dev.Trottle0_y->GetValue(), 51.0);
  dev.Trottle3_y->SetValue(40.0);
  EXPECT_DOUBLE_EQ(dev.Trottle3_y->GetValue(), 51.0);
  dev.Trottle2_x->SetValue(5.0);
  EXPECT_DOUBLE_EQ(dev.Trottle2_x->GetValue(), 10.0);
  dev.Trottle1_x->SetValue(60.0);
  EXPECT_DOUBLE_EQ(dev.Trottle1_x->GetValue(), 10.0);  // not beyond point 2 (now at 10 %)
  const int voltages[] = {0, 2, 4, 5};  // GetTrottle indices of [0].y .. [3].y
  for (int k = 0; k + 1 < 4; ++k)
    EXPECT_LE(dev.GetTrottle(voltages[k])->GetValue(), dev.GetTrottle(voltages[k + 1])->GetValue()) << k;
}

TEST_F(KD610, SpeedReferenceInPercent) {
  struct Case {
    double percent;
    int raw;
  } cases[] = {
      {50.0, 16384}, {100.0, 32768}, {12.34, 4043},  // 4043.57 truncated
      {0.0, 0},      {-5.0, 0},      // the word is unsigned: no negative reference
      {150.0, 32768},                 // held at the register's maximum, 100 %
  };
  for (const Case& c : cases) {
    dev.SetSpeedRefValue(c.percent);
    EXPECT_EQ(dev.VirtualRef->GetValueInteger(0), c.raw) << c.percent;
    EXPECT_DOUBLE_EQ(dev.GetSpeedRefValue(), c.raw * 100.0 / 32768.0) << c.percent;
  }
  dev.SetSpeedRefValue(50.0);
  EXPECT_DOUBLE_EQ(dev.GetSpeedRefValue(), 50.0);
  dev.SetSpeedRefValue(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(dev.VirtualRef->GetValueInteger(0), 16384);
  EXPECT_EQ(dev.SetupState, setupUnknown);  // the reference is no setup edit
}

TEST_F(KD610, DirectSaveOnlyAfterAReadOrASend) {
  std::vector<std::string> events;
  dev.OnSetupSave = [&](TlaMBTransaction*, std::int32_t r) { events.push_back("save " + std::to_string(r)); };
  dev.OnTransaError = [&](TlaMBTransaction*, std::int32_t r) { events.push_back("error " + std::to_string(r)); };

  // Not read yet, then edited: nothing at all.
  dev.DirectSaveSetup();
  dev.UrV->SetValue(380.0);
  ASSERT_EQ(dev.SetupState, setupEdited);
  dev.DirectSaveSetup();
  EXPECT_EQ(dev.P971->GetValueInteger(0), 0);
  EXPECT_TRUE(events.empty());

  // Sent: the command is set, but without a line the write is refused and
  // reported as a failure; the state stays.
  dev.DoOnSetupSent(dev.RamSetupWrite(), 0);
  ASSERT_EQ(dev.SetupState, setupSent);
  dev.DirectSaveSetup();
  EXPECT_EQ(dev.P971->GetValueInteger(0), 1);
  EXPECT_EQ(events, (std::vector<std::string>{"error -1"}));
  EXPECT_EQ(dev.SetupState, setupSent);

  // A model without the command register: the save fails the same way.
  dev.SetupState = setupSynced;
  dev.P971 = nullptr;
  dev.DirectSaveSetup();
  EXPECT_EQ(events.back(), "error -3");
  EXPECT_EQ(dev.SetupState, setupSynced);
}
