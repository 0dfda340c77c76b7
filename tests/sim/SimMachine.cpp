#include "SimMachine.h"

#include <algorithm>

#include "Exception.h"
#include "Formats.h"
#include "Strings.h"
#include "Tlaregdefinitioncls.h"

namespace kdsim {

namespace {

constexpr int kHeaderRegisters = 4;
const char* const kMaterials[] = {"PP", "ABS", "PA66", "PC", "POM"};

}  // namespace

SimMachine::SimMachine(const std::string& parFile, Settings settings, double now)
    : map_(parFile), settings_(settings), now_(now) {
  newSel_ = map_.Need("NewSelProgEE");
  actSel_ = map_.Need("ActSelProgEE");
  actNum_ = map_.Need("ActNumProg");
  eeProgram_ = map_.Category("EEProgram");
  actProgram_ = map_.Category("ActProgram");
  if (static_cast<int>(eeProgram_.size()) <= kHeaderRegisters ||
      Gather(eeProgram_).size() != Gather(actProgram_).size())
    throw kd::Exception("SimMachine: EEProgram and ActProgram must be programs of the same size");
  eepromSlots_ = std::max(0, kd::StrToIntDef(map_.AddOnInfo("ProgCountEE"), 0));
  const int slots = eepromSlots_ + std::max(0, kd::StrToIntDef(map_.AddOnInfo("ProgCountBOX"), 0));
  if (slots < 1) throw kd::Exception("SimMachine: the data model names no program slots");

  const std::vector<std::uint8_t> empty = Gather(eeProgram_);
  for (int k = 0; k < slots; ++k) {
    FillSample(k);
    slots_.push_back(Gather(eeProgram_));
  }
  Scatter(eeProgram_, empty);  // nothing selected yet
  Scatter(actProgram_, slots_[0]);
  map_.SetInt(actNum_, 1);
}

std::string SimMachine::SampleName(int k, int eepromSlots) {
  return k < eepromSlots ? kd::Sprintf("PROG%02d", k + 1)
                         : kd::Sprintf("BOX%02d", k - eepromSlots + 1);
}

std::string SimMachine::SampleClient(int k) {
  return kd::Sprintf("CLIENTE %d", k + 1);
}

void SimMachine::FillSample(int k) {
  const std::string texts[] = {SampleName(k, eepromSlots_), SampleClient(k), kMaterials[k % 5]};
  for (int j = 0; j < static_cast<int>(eeProgram_.size()); ++j) {
    const int address = eeProgram_[static_cast<std::size_t>(j)];
    const TlaRegDefinition& d = map_.At(address);
    std::uint8_t* bytes = map_.Bytes(address, 1).data();
    if (j >= kHeaderRegisters) {
      map_.SetInt(address, (k + 1) * 100 + (j - kHeaderRegisters));
    } else if (d.Type == regString && j < 3) {
      d.SetValueString(bytes, texts[j]);
    } else if (d.Type == regDate) {
      int century = 0;
      d.SetValueDate(bytes, 0, century, kd::EncodeDate(2024, 3, k % 28 + 1));
    }
  }
}

std::vector<std::uint8_t> SimMachine::Gather(const std::vector<int>& addresses) const {
  std::vector<std::uint8_t> bytes;
  for (int a : addresses) {
    const auto span = map_.Bytes(a, 1);
    bytes.insert(bytes.end(), span.begin(), span.end());
  }
  return bytes;
}

void SimMachine::Scatter(const std::vector<int>& addresses,
                         const std::vector<std::uint8_t>& bytes) {
  std::size_t at = 0;
  for (int a : addresses) {
    const auto span = map_.Bytes(a, 1);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), span.size(), span.begin());
    at += span.size();
  }
}

void SimMachine::Update(double now) {
  now_ = std::max(now_, now);
  if (pending_ == 0 || pending_ - 1 == settings_.HoldSelect || now_ < confirmAt_) return;
  Scatter(eeProgram_, slots_[static_cast<std::size_t>(pending_ - 1)]);
  selected_ = pending_;
  pending_ = 0;
  map_.SetInt(actSel_, selected_);
}

bool SimMachine::Write(int first, int count, std::span<const std::uint8_t> bytes) {
  const int last = first + count - 1;
  if (first <= newSel_ && newSel_ <= last) {
    const int offset = map_.ByteSize(first, newSel_ - first);
    const int value =
        bytes[static_cast<std::size_t>(offset)] << 8 | bytes[static_cast<std::size_t>(offset) + 1];
    if (value < 1 || value > SlotCount() || value - 1 == settings_.FailSelect) return false;
    pending_ = value;
    confirmAt_ = now_ + settings_.SelectDelay;
    map_.SetInt(actSel_, 0);
  }
  const std::uint16_t confirmed = static_cast<std::uint16_t>(map_.GetInt(actSel_));
  std::copy(bytes.begin(), bytes.end(), map_.Bytes(first, count).begin());
  map_.SetInt(actSel_, confirmed);  // the machine's own
  const bool program = std::any_of(eeProgram_.begin(), eeProgram_.end(),
                                   [&](int a) { return first <= a && a <= last; });
  if (program && selected_ > 0)
    slots_[static_cast<std::size_t>(selected_ - 1)] = Gather(eeProgram_);
  Update(now_);  // a selection without delay is confirmed at once
  return true;
}

bool SimMachine::Answers(std::span<const std::uint8_t> request) {
  if (settings_.DropAfter < 0) return true;
  if (programRequests_ > settings_.DropAfter) return false;  // dropped
  if (request.size() >= 6 && (request[1] == 0x03 || request[1] == 0x10)) {
    const int first = request[2] << 8 | request[3];
    const int last = first + (request[4] << 8 | request[5]) - 1;
    if (std::any_of(eeProgram_.begin(), eeProgram_.end(),
                    [&](int a) { return first <= a && a <= last; }))
      ++programRequests_;
  }
  return programRequests_ <= settings_.DropAfter;
}

}  // namespace kdsim
