#pragma once
// The behaviour of a simulated moulding machine: program slots (the EEPROM
// slots, then the memory box; counts from the data model's [AddOnInfo]
// ProgCountEE and ProgCountBOX) behind the slot-selection handshake, the
// program it runs, and its command, state and alarm words.
//
// Registers the machine works with: "NewSelProgEE", "ActSelProgEE",
// "ActNumProg" and the categories "EEProgram" (the selected slot's program)
// and "ActProgram" (the running program, in the same layout).
//
// Selection: a master writes slot + 1 to NewSelProgEE; ActSelProgEE reads 0
// until SelectDelay seconds later the slot's program is in the EEProgram
// registers and ActSelProgEE reads slot + 1. Writes to the EEProgram
// registers go into the selected slot. A write of a value that names no slot,
// or of FailSelect + 1, is refused (exception 4); the selection of HoldSelect
// is never confirmed. ActSelProgEE is not written by masters; every other
// register keeps what a master writes. With DropAfter n the machine answers n
// reads or writes of the EEProgram registers, then nothing at all any more
// (the line dropped).
//
// Slot k starts with the program "PROGnn" (EEPROM, nn = k + 1) or "BOXnn"
// (memory box, nn counted from 1), client "CLIENTE <k + 1>", a material, the
// date <k + 1>/03/2024 and parameter i (from 0 after the header registers)
// holding (k + 1) * 100 + i. The machine runs slot 0's program (ActNumProg 1).
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SimDevice.h"
#include "SimRegisterMap.h"

namespace kdsim {

class SimMachine : public SimDevice {
 public:
  struct Settings {
    double SelectDelay = 0.05;  // seconds until a selection is confirmed
    int FailSelect = -1;        // a slot whose selection is refused
    int HoldSelect = -1;        // a slot whose selection is never confirmed
    int DropAfter = -1;         // program requests answered before the line drops
  };

  // Raises kd::Exception when the file is missing or lacks what the machine needs.
  SimMachine(const std::string& parFile, Settings settings, double now);

  void Update(double now) override;
  const SimRegisterMap& Map() const override { return map_; }
  bool Write(int first, int count, std::span<const std::uint8_t> bytes) override;
  bool Answers(std::span<const std::uint8_t> request) override;

  Settings& Setup() { return settings_; }
  SimRegisterMap& Registers() { return map_; }
  int SlotCount() const { return static_cast<int>(slots_.size()); }
  // The bytes of a slot's program (the EEProgram registers' layout).
  const std::vector<std::uint8_t>& Slot(int k) const {
    return slots_.at(static_cast<std::size_t>(k));
  }

  // The header texts of slot k as the machine starts with them.
  static std::string SampleName(int k, int eepromSlots);
  static std::string SampleClient(int k);

 private:
  void FillSample(int k);
  // The bytes of the registers of a category, in address order, and back.
  std::vector<std::uint8_t> Gather(const std::vector<int>& addresses) const;
  void Scatter(const std::vector<int>& addresses, const std::vector<std::uint8_t>& bytes);

  SimRegisterMap map_;
  Settings settings_;
  std::vector<std::vector<std::uint8_t>> slots_;
  int eepromSlots_ = 0;
  std::vector<int> eeProgram_, actProgram_;
  int newSel_, actSel_, actNum_;
  int selected_ = 0;  // slot + 1 of the program in the EEProgram registers, 0 for none
  int pending_ = 0;   // slot + 1 being selected, 0 for none
  double confirmAt_ = 0.0;
  int programRequests_ = 0;  // reads and writes of the EEProgram registers
  double now_;
};

}  // namespace kdsim
