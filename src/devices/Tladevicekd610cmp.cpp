#include "Tladevicekd610cmp.h"

#include <algorithm>

#include "Tlambsimpletransacls.h"

namespace {

// The speed reference word: 32768 counts are 100 %. The products run in
// this order in extended precision.
constexpr long double kWord = 3.0517578125e-05L;  // 1/32768

enum class Bound { Min, Max };

// One bound of from's register follows to's register (plus offset); nothing
// when either view, its register or the bound is missing.
void Link(const std::unique_ptr<TlaParValue>& from, Bound which,
          const std::unique_ptr<TlaParValue>& to, double offset = 0.0) {
  if (!from || !from->Register || !to || !to->Register) return;
  TlaRegBound* bound =
      (which == Bound::Min ? from->Register->MinBound : from->Register->MaxBound).get();
  if (!bound) return;
  bound->SetLinkedRegister(to->Register);
  bound->Offset = offset;
}

}  // namespace

TlaDeviceKD610::TlaDeviceKD610(kd::Component* owner) : TlaDeviceKDSlave(owner) {}

// The views go before the base's destructor deletes the transactions and the image.
TlaDeviceKD610::~TlaDeviceKD610() = default;

void TlaDeviceKD610::RegistersSetup() {
  auto view = [this](const char* name) {
    return std::make_unique<TlaParValue>(this, GetRegister(std::string(name)), 0);
  };
  auto bit = [this](TlaRegister* reg, int b) {
    return std::make_unique<TlaParBoolField>(this, reg, static_cast<std::uint8_t>(b), 0);
  };

  MainsVoltage = view("MainsVoltage");
  UrV = view("UrV");
  UminV = view("UminV");
  UmaxV = view("UmaxV");
  IrA = view("IrA");
  IpA = view("IpA");
  I2T_Time = view("I2T_Time");
  FrHz = view("FrHz");
  Accel = view("Accel");
  Decel = view("Decel");
  SpeedJog = view("SpeedJog");
  SpeedFast = view("SpeedFast");
  Trottle0_y = view("Trottle[0].y");
  Trottle1_x = view("Trottle[1].x");
  Trottle1_y = view("Trottle[1].y");
  Trottle2_x = view("Trottle[2].x");
  Trottle2_y = view("Trottle[2].y");
  Trottle3_y = view("Trottle[3].y");
  HoldTorqueVolt = view("HoldTorqueVolt");
  MotorID = view("MotorID");

  TlaRegister* const virtualInput = GetRegister(std::string("VirtualInput"));
  for (int b = 0; b < 4; ++b) VirtualInputBits[b] = bit(virtualInput, b);
  VirtualInput = std::make_unique<TlaParValue>(this, virtualInput, 0);
  TlaRegister* const input = GetRegister(std::string("Input"));
  for (int b = 0; b < 4; ++b) InputBits[b] = bit(input, b);

  VirtualRef = GetRegister(std::string("VirtualRef"));
  P971 = GetRegister(std::string("P971"));

  u_dc_busV = view("u_dc_busV");
  f_motorHz = view("f_motorHz");
  v_motorV = view("v_motorV");
  i_motorA = view("i_motorA");
  HWLimitVolt = view("HWLimitVolt");

  EE_PROFIbusSlave = GetRegister(std::string("EE_PROFIbusSlave"));
  EE_PROFIbusSlaveView = std::make_unique<TlaParValue>(this, EE_PROFIbusSlave, 0);

  CfgFlags = GetRegister(std::string("CfgFlags"));
  for (int b = 0; b < 3; ++b) CfgFlagsBits[b] = bit(CfgFlags, b);

  UserOption = GetRegister(std::string("UserOption"));
  for (int b = 0; b < 8; ++b) UserOptionBits[b] = bit(UserOption, b);
  UserOptionField = std::make_unique<TlaParBitField>(this, UserOption, 8, 2, 0);
  UserOptionBit10 = bit(UserOption, 10);

  Link(UrV, Bound::Min, UminV);
  Link(UrV, Bound::Max, UmaxV);
  Link(UminV, Bound::Max, UmaxV, -1.0);
  Link(UmaxV, Bound::Min, UminV, +1.0);
  Link(HoldTorqueVolt, Bound::Max, UrV);
  Link(IrA, Bound::Max, IpA);
  Link(IpA, Bound::Min, IrA);
  Link(SpeedJog, Bound::Max, SpeedFast);
  Link(SpeedFast, Bound::Min, SpeedJog);
  Link(Trottle0_y, Bound::Max, Trottle1_y);
  Link(Trottle1_y, Bound::Max, Trottle2_y);
  Link(Trottle1_y, Bound::Min, Trottle0_y);
  Link(Trottle2_y, Bound::Max, Trottle3_y);
  Link(Trottle2_y, Bound::Min, Trottle1_y);
  Link(Trottle3_y, Bound::Min, Trottle2_y);
  Link(Trottle1_x, Bound::Max, Trottle2_x);
  Link(Trottle2_x, Bound::Min, Trottle1_x);
}

TlaParValue* TlaDeviceKD610::GetTrottle(int i) const {
  const std::unique_ptr<TlaParValue>* const points[] = {&Trottle0_y, &Trottle1_x, &Trottle1_y,
                                                        &Trottle2_x, &Trottle2_y, &Trottle3_y};
  return i >= 0 && i < 6 ? points[i]->get() : nullptr;
}

double TlaDeviceKD610::GetSpeedRefValue() {
  if (!VirtualRef) return 0.0;
  const auto raw = static_cast<std::uint32_t>(VirtualRef->GetValueInteger(0));
  return static_cast<double>(raw * kWord * 100.0L);
}

void TlaDeviceKD610::SetSpeedRefValue(double percent) {
  // The word is unsigned: a negative value would read as the largest one.
  StoreTruncated(VirtualRef, std::max(percent * 0.01L * 32768.0L, 0.0L));
}

void TlaDeviceKD610::DirectSaveSetup() {
  if (SetupState != setupSynced && SetupState != setupSent) return;
  if (!P971) {
    DoOnTransaError(WriteTransa(), kMBNoData);
    return;
  }
  P971->SetValueInteger(0, 1);
  const bool saved = WriteReg(P971, true);
  TlaMBWriteSingleRegister* transa = WriteTransa();
  const std::int32_t result = transa ? transa->GetLastResult() : 0;
  if (saved) {
    DoOnSetupSave(transa, result);
  } else {
    // A write refused before it ran (drive not online, write busy) carries
    // no failure of its own.
    DoOnTransaError(transa, result != 0 ? result : kMBOpenFailed);
  }
}
