// The KD730 drive and its family base without a line: register map, views,
// linked current limits, limits by voltage class, scaled values, setup state
// and the EEPROM twins.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "MainThread.h"
#include "Tladevicekd730cmp.h"
#include "Tlambchainedtransacls.h"

namespace {

const std::string kPar = std::string(KD_DATA_DIR) + "/KD730_Parameters.par";

// The drive with its data model built as after an identification.
class Drive : public TlaDeviceKD730 {
 public:
  using TlaDeviceKD730::AfterSetupUpdate;
  using TlaDeviceKD730::AfterVersionFound;
  using TlaDeviceKD730::DoOnSetupSave;
  using TlaDeviceKD730::DoOnSetupSent;
  using TlaDeviceKD730::DoOnSetupUpdate;
};

class KD730 : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model.LoadFromFile(kPar));
    ASSERT_TRUE(dev.CreateRegDataBuffer(&model));
    dev.AfterVersionFound();
  }
  void Flags(int bits) { dev.CfgFlags->SetValueInteger(0, bits); }

  kd::ScopedQueueLoop loop;
  TlaRegDefsList model;
  Drive dev;
};

}  // namespace

TEST_F(KD730, MapsItsRegistersAndCreatesItsTransactionsAndViews) {
  TlaRegister* const fields[] = {
      dev.UrV, dev.IcA, dev.IpA, dev.NomSpeed, dev.RxI, dev.Accel, dev.Decel, dev.TachoVKrpm, dev.TachoRin,
      dev.CfgFlags, dev.Speed_PGain, dev.Speed_PScale, dev.Speed_IGain, dev.Speed_IScale, dev.Speed_DGain,
      dev.Speed_DScale, dev.Current_PGain, dev.Current_PScale, dev.Current_IGain, dev.Current_IScale,
      dev.ARef1_scale, dev.OffsetAn2Ext, dev.OffsetAn3Ext, dev.RefDig, dev.VirtualInput, dev.HWLimitVolt,
      dev.u_dc_busV, dev.a_motorV, dev.i_motorA, dev.PrevFaultState_0, dev.PrevFaultState_1,
      dev.ActFaultState_0, dev.ActFaultState_1, dev.Input, dev.ARef1, dev.ARef2, dev.Armature, dev.Tacho};
  for (TlaRegister* r : fields) EXPECT_NE(r, nullptr);
  EXPECT_EQ(dev.UrV, dev.GetRegister(std::string("UrV")));
  EXPECT_EQ(dev.Tacho, dev.GetRegister(33));
  EXPECT_EQ(dev.EE_ModBusSlave, dev.GetRegister(38));
  EXPECT_EQ(dev.EE_ModBusSlaveView()->Register, dev.EE_ModBusSlave);
  EXPECT_EQ(dev.GetActFault(1), dev.ActFaultState_1);
  EXPECT_EQ(dev.GetPreFault(0), dev.PrevFaultState_0);
  EXPECT_EQ(dev.GetPreFault(2), nullptr);
  EXPECT_EQ(dev.GetActFault(-1), nullptr);

  EXPECT_EQ(dev.Speed_D->Register, dev.Speed_DGain);
  EXPECT_EQ(dev.Speed_D->ScaleRegister, dev.Speed_DScale);
  EXPECT_EQ(dev.Current_I->ScaleRegister, dev.Current_IScale);
  EXPECT_EQ(dev.InputFilter->Register, dev.CfgFlags);
  EXPECT_EQ(dev.InputFilter->FirstBit, 10);
  EXPECT_EQ(dev.InputFilter->BitCount, 2);
  EXPECT_EQ(dev.InputFilter->GetName(), "Analog input filter");

  // ActState, FaultState and the three setup transactions.
  ASSERT_EQ(dev.GetTransaCount(), 5);
  EXPECT_TRUE(dev.GetTransa(0)->GetActive());
  EXPECT_EQ(dev.GetTransa(0)->GetPeriod(), 1);
  EXPECT_EQ(dev.GetTransa(1)->GetPeriod(), 10);
  EXPECT_TRUE(dev.RamSetupRead()->GetActive());
  EXPECT_TRUE(dev.RamSetupRead()->DisableOnSuccess);
  EXPECT_FALSE(dev.RamSetupRead()->DisableOnError);
  EXPECT_FALSE(dev.RamSetupWrite()->GetActive());
  EXPECT_FALSE(dev.EEPromSetupWrite()->GetActive());
  EXPECT_EQ(dev.RamSetupWrite()->GetPartRanges(),
            (std::vector<TlaMBChainedTransa::PartRange>{{0, 12}, {12, 12}}));  // 48 bytes above 35
}

TEST_F(KD730, CurrentLimitsFollowEachOtherAndTheVoltageClass) {
  dev.IpA->SetValueDouble(0, 12.0);
  dev.IcA->SetValueDouble(0, 14.0);
  EXPECT_DOUBLE_EQ(dev.IcA->GetValueDouble(0), 12.0);  // not above the peak
  dev.IcA->SetValueDouble(0, 10.0);
  dev.IpA->SetValueDouble(0, 5.0);
  EXPECT_DOUBLE_EQ(dev.IpA->GetValueDouble(0), 10.0);  // not below the continuous

  struct Case {
    int volts;
    double icMax, ipMax;
  };
  const Case cases[] = {{1000, 8.0, 20.0}, {700, 8.0, 20.0}, {2000, 5.0, 10.0}, {550, 15.0, 30.0}};
  for (const Case& c : cases) {
    dev.HWLimitVolt->SetValueInteger(0, c.volts);
    dev.AfterSetupUpdate();
    EXPECT_DOUBLE_EQ(dev.UrV->MaxBound->Constant, c.volts) << c.volts;
    EXPECT_DOUBLE_EQ(dev.IcA->MaxBound->Constant, c.icMax) << c.volts;  // 700 keeps what 1000 set
    EXPECT_DOUBLE_EQ(dev.IpA->MaxBound->Constant, c.ipMax) << c.volts;
  }
  dev.HWLimitVolt->SetValueInteger(0, 1000);
  dev.AfterSetupUpdate();
  dev.IpA->SetValueDouble(0, 30.0);
  EXPECT_DOUBLE_EQ(dev.IpA->GetValueDouble(0), 20.0);
  dev.IcA->SetValueDouble(0, 15.0);
  EXPECT_DOUBLE_EQ(dev.IcA->GetValueDouble(0), 8.0);
}

TEST_F(KD730, ScaledReferencesAndMeasurements) {
  Flags(1);  // digital reference
  dev.IpA->SetValueDouble(0, 20.0);  // room for the continuous current
  dev.SetSpeedRefValue(100.0);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 24576);
  EXPECT_DOUBLE_EQ(dev.GetSpeedRefValue(), 100.0);
  EXPECT_DOUBLE_EQ(dev.GetRefDigValue(), 100.0);
  dev.SetSpeedRefValue(-12.34);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), -3032);  // -3032.6 truncated toward zero
  EXPECT_NEAR(dev.GetSpeedRefValue(), -12.34, 0.005);

  dev.IcA->SetValueDouble(0, 10.0);
  dev.SetCurrentRefValue(5.0);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 12288);
  EXPECT_DOUBLE_EQ(dev.GetCurrentRefValue(), 5.0);
  EXPECT_DOUBLE_EQ(dev.GetCurrentLimitValue(), 10.0);  // bits 3 and 9 clear: IcA

  // Beyond the word the reference is held at its end, never wrapped around.
  dev.SetSpeedRefValue(140.0);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 32767);
  dev.SetRefDigValue(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 32767);

  // Analogue reference: the setters of the references do nothing.
  Flags(0);
  dev.SetSpeedRefValue(50.0);
  dev.SetCurrentRefValue(1.0);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 32767);
  dev.SetRefDigValue(50.0);  // always
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 12288);
  dev.ARef1->SetValueInteger(0, 12288);
  dev.ARef1_scale->SetValueDouble(0, 0.5);
  EXPECT_DOUBLE_EQ(dev.GetSpeedRefValue(), 25.0);
  EXPECT_DOUBLE_EQ(dev.GetCurrentRefValue(), 5.0);  // from ARef1

  struct Raw {
    int value;
    double percent;
  };
  for (const Raw& r : {Raw{24576, 100.0}, Raw{-24576, -100.0}, Raw{0, 0.0}}) {
    dev.Armature->SetValueInteger(0, r.value);
    EXPECT_DOUBLE_EQ(dev.GetArmatureValue(), r.percent);
  }
  dev.Tacho->SetValueInteger(0, 12288);
  EXPECT_DOUBLE_EQ(dev.GetTachoValue(), 0.0);  // bit 4 clear: the armature
  Flags(1 << 4);
  EXPECT_DOUBLE_EQ(dev.GetTachoValue(), 50.0);

  dev.u_dc_busV->SetValueInteger(0, 5603);
  EXPECT_DOUBLE_EQ(dev.GetDcBusvalue(), 560.3);

  // Current limit from the reference (bit 9), scaled by ARef2 (bit 3).
  Flags(1 | (1 << 9));
  dev.RefDig->SetValueInteger(0, -12288);
  EXPECT_DOUBLE_EQ(dev.GetCurrentLimitValue(), -5.0);
  Flags(1 | (1 << 9) | (1 << 3));
  dev.ARef2->SetValueInteger(0, 12288);
  EXPECT_DOUBLE_EQ(dev.GetCurrentLimitValue(), 2.5);
}

TEST_F(KD730, CurrentReferenceWithoutContinuousCurrentIsRefused) {
  dev.IcA->MinBound.reset();  // let IcA hold 0
  Flags(1);
  dev.RefDig->SetValueInteger(0, 777);
  dev.IcA->SetValueDouble(0, 0.0);
  ASSERT_EQ(dev.IcA->GetValueDouble(0), 0.0);
  dev.SetCurrentRefValue(5.0);
  EXPECT_EQ(dev.RefDig->GetValueInteger(0), 777);
  EXPECT_DOUBLE_EQ(dev.GetCurrentRefValue(), 0.0);
}

TEST_F(KD730, SetupStateAndTheEepromTwins) {
  std::vector<std::string> events;
  dev.OnSetupUpdate = [&](TlaMBTransaction*, std::int32_t) { events.push_back("update"); };
  dev.OnSetupSent = [&](TlaMBTransaction*, std::int32_t) { events.push_back("sent"); };
  dev.OnSetupSave = [&](TlaMBTransaction*, std::int32_t) { events.push_back("save"); };
  EXPECT_EQ(dev.SetupState, setupUnknown);
  dev.HWLimitVolt->SetValueInteger(0, 550);  // the voltage limit of every setup read
  dev.NomSpeed->SetValueInteger(0, 1500);
  EXPECT_EQ(dev.SetupState, setupEdited);
  dev.DoOnSetupUpdate(dev.RamSetupRead(), 1);
  EXPECT_EQ(dev.SetupState, setupSynced);

  // Writing the value a register already has is no edit.
  dev.NomSpeed->SetValueInteger(0, 1500);
  EXPECT_EQ(dev.SetupState, setupSynced);
  dev.NomSpeed->SetValueInteger(0, 1200);
  EXPECT_EQ(dev.SetupState, setupEdited);
  dev.Speed_P->SetValue(3.0);  // a gain view edits its registers
  EXPECT_EQ(dev.SetupState, setupEdited);

  // Send: RAM only.
  dev.SendSetup();
  EXPECT_TRUE(dev.RamSetupWrite()->GetActive());
  dev.RamSetupWrite()->SetActive(false);  // as the worker leaves it
  dev.DoOnSetupSent(dev.RamSetupWrite(), 0);
  EXPECT_EQ(dev.SetupState, setupSent);
  EXPECT_FALSE(dev.EEPromSetupWrite()->GetActive());
  EXPECT_NE(dev.GetRegister(std::string("EE_NomSpeed"))->GetValueInteger(0), 1200);
  dev.DoOnSetupUpdate(dev.RamSetupRead(), 0);  // a read while sent keeps 3
  EXPECT_EQ(dev.SetupState, setupSent);

  // Save: the twins, then the EEPROM write, then synced.
  dev.UrV->SetValueInteger(0, 321);
  dev.SaveSetup();
  EXPECT_TRUE(dev.GetSaveAfterSend());
  dev.DoOnSetupSent(dev.RamSetupWrite(), 0);
  EXPECT_FALSE(dev.GetSaveAfterSend());
  EXPECT_TRUE(dev.EEPromSetupWrite()->GetActive());
  for (int a = 1; a <= 23; ++a) {
    TlaRegister* ram = dev.GetRegister(a);
    TlaRegister* twin = dev.GetRegister(static_cast<int>(ram->Definition->RegProg));
    EXPECT_EQ(twin->GetValueInteger(0), ram->GetValueInteger(0)) << ram->Definition->Name;
  }
  EXPECT_EQ(dev.GetRegister(std::string("EE_UrV"))->GetValueInteger(0), 321);
  EXPECT_EQ(dev.SetupState, setupSent);
  dev.DoOnSetupSave(dev.EEPromSetupWrite(), 0);
  EXPECT_EQ(dev.SetupState, setupSynced);
  EXPECT_EQ(events, (std::vector<std::string>{"update", "sent", "update", "sent", "save"}));

  // The registers the drive hooks, edited from any state.
  dev.OffsetAn3Ext->SetValueInteger(0, 5);
  EXPECT_EQ(dev.SetupState, setupEdited);
}
