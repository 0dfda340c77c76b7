#include "Tladevicekd730cmp.h"

#include <cmath>

namespace {

// Drive words: 32768 stands for 4/3 of full scale. The products run in this
// order in extended precision, as the drive's conversions are defined.
constexpr long double kWord = 3.0517578125e-05L;  // 1/32768
constexpr long double kFourThirds = 1.3333333333333333L;

double Percent(long double raw) { return static_cast<double>(raw * kWord * kFourThirds * 100.0L); }

long double RawFromPercent(long double percent) { return percent * 0.01L * 0.75L * 32768.0L; }

long double Raw(TlaRegister* reg) { return reg ? reg->GetValueInteger(0) : 0; }
long double Value(TlaRegister* reg) { return reg ? reg->GetValueDouble(0) : 0.0; }

}  // namespace

TlaDeviceKD730::TlaDeviceKD730(kd::Component* owner) : TlaDeviceKDSlave(owner) {}

// The views go before the base's destructor deletes the transactions and the image.
TlaDeviceKD730::~TlaDeviceKD730() = default;

void TlaDeviceKD730::RegistersSetup() {
  TlaRegister** const fields[] = {
      &UrV,           &IcA,           &IpA,           &NomSpeed,         &RxI,
      &Accel,         &Decel,         &TachoVKrpm,    &TachoRin,         &CfgFlags,
      &Speed_PGain,   &Speed_PScale,  &Speed_IGain,   &Speed_IScale,     &Speed_DGain,
      &Speed_DScale,  &Current_PGain, &Current_PScale, &Current_IGain,   &Current_IScale,
      &ARef1_scale,   &OffsetAn2Ext,  &OffsetAn3Ext,  &RefDig,           &VirtualInput,
      &HWLimitVolt,   &u_dc_busV,     &a_motorV,      &i_motorA,         &Input,
      &ARef1,         &ARef2,         &Armature,      &Tacho};
  static const char* const names[] = {
      "UrV",           "IcA",           "IpA",            "NomSpeed",      "RxI",
      "Accel",         "Decel",         "TachoVKrpm",     "TachoRin",      "CfgFlags",
      "Speed_PGain",   "Speed_PScale",  "Speed_IGain",    "Speed_IScale",  "Speed_DGain",
      "Speed_DScale",  "Current_PGain", "Current_PScale", "Current_IGain", "Current_IScale",
      "ARef1_scale",   "OffsetAn2Ext",  "OffsetAn3Ext",   "RefDig",        "VirtualInput",
      "HWLimitVolt",   "u_dc_busV",     "a_motorV",       "i_motorA",      "Input",
      "ARef1",         "ARef2",         "Armature",       "Tacho"};
  static_assert(std::size(names) == 34);
  static_assert(std::size(fields) == std::size(names));
  for (std::size_t i = 0; i < std::size(names); ++i) *fields[i] = GetRegister(std::string(names[i]));

  Current_P = std::make_unique<TlaParFrac16>(this, Current_PGain, Current_PScale, 0);
  Current_I = std::make_unique<TlaParFrac16>(this, Current_IGain, Current_IScale, 0);
  Speed_P = std::make_unique<TlaParFrac16>(this, Speed_PGain, Speed_PScale, 0);
  Speed_I = std::make_unique<TlaParFrac16>(this, Speed_IGain, Speed_IScale, 0);
  Speed_D = std::make_unique<TlaParFrac16>(this, Speed_DGain, Speed_DScale, 0);
  InputFilter = std::make_unique<TlaParBitField>(this, CfgFlags, 10, 2, 0);

  // The setup registers from UrV to OffsetAn3Ext mark the setup as edited.
  for (std::size_t i = 0; i < 23; ++i)
    if (TlaRegister* reg = *fields[i]) HookAfterEdit(reg);

  // The continuous current never exceeds the peak current, nor the peak falls below it.
  if (IcA && IcA->MaxBound && IpA) {
    IcA->MaxBound->SetLinkedRegister(IpA);
    IcA->MaxBound->Mode = TlaRegBound::ModeTighter;
  }
  if (IpA && IpA->MinBound && IcA) IpA->MinBound->SetLinkedRegister(IcA);
}

void TlaDeviceKD730::AfterSetupUpdate() {
  if (!HWLimitVolt) return;
  if (UrV && UrV->MaxBound) UrV->MaxBound->Constant = HWLimitVolt->GetValueDouble(0);
  double icMax, ipMax;
  switch (HWLimitVolt->GetValueInteger(0)) {
    case 550:
      icMax = 15.0, ipMax = 30.0;
      break;
    case 1000:
      icMax = 8.0, ipMax = 20.0;
      break;
    case 2000:
      icMax = 5.0, ipMax = 10.0;
      break;
    default:
      return;
  }
  if (IcA && IcA->MaxBound) IcA->MaxBound->Constant = icMax;
  if (IpA && IpA->MaxBound) IpA->MaxBound->Constant = ipMax;
}

void TlaDeviceKD730::ReadSetup() {
  ReadCommands();
  TlaDeviceKDSlave::ReadSetup();
}

bool TlaDeviceKD730::ReadCommands() {
  commandsRead_ = false;
  const bool read = (!RefDig || ReadReg(RefDig, true)) && (!VirtualInput || ReadReg(VirtualInput, true));
  commandsRead_ = read;
  return read;
}

void TlaDeviceKD730::AfterStateUpdate() {
  if (!commandsRead_) ReadCommands();
  if (!GetModBusSlaveKnown()) ReadModBusSlave();
}

TlaSlaveState TlaDeviceKD730::UpdateSlaveState() {
  const TlaSlaveState state = TlaDeviceKDSlave::UpdateSlaveState();
  if (state != slaveOnline) commandsRead_ = false;
  return state;
}

bool TlaDeviceKD730::CfgBit(std::uint8_t bit) { return CfgFlags && CfgFlags->GetValueBit(0, bit); }

double TlaDeviceKD730::GetDcBusvalue() { return static_cast<double>(Value(u_dc_busV)); }

double TlaDeviceKD730::GetArmatureValue() { return Percent(Raw(Armature)); }

double TlaDeviceKD730::GetTachoValue() { return Percent(Raw(CfgBit(4) ? Tacho : Armature)); }

double TlaDeviceKD730::GetRefDigValue() { return Percent(Raw(RefDig)); }

double TlaDeviceKD730::GetSpeedRefValue() {
  if (CfgBit(0)) return Percent(Raw(RefDig));
  return Percent(Value(ARef1_scale) * Raw(ARef1));
}

double TlaDeviceKD730::GetCurrentRefValue() {
  const long double raw = Raw(CfgBit(0) ? RefDig : ARef1);
  return static_cast<double>(raw * kWord * kFourThirds * Value(IcA));
}

double TlaDeviceKD730::GetCurrentLimitValue() {
  long double base = CfgBit(9) ? GetCurrentRefValue() : Value(IcA);
  if (CfgBit(3)) base = std::fabs(Raw(ARef2) * base) * kWord * kFourThirds;
  return static_cast<double>(base);
}

void TlaDeviceKD730::SetRefDigValue(double percent) { StoreTruncated(RefDig, RawFromPercent(percent)); }

void TlaDeviceKD730::SetSpeedRefValue(double percent) {
  if (CfgBit(0)) StoreTruncated(RefDig, RawFromPercent(percent));
}

void TlaDeviceKD730::SetCurrentRefValue(double amperes) {
  if (!CfgBit(0)) return;
  const long double ic = Value(IcA);
  if (ic == 0.0L) return;  // no finite reference: RefDig stays as it is
  StoreTruncated(RefDig, RawFromPercent(amperes / ic * 100.0L));
}
