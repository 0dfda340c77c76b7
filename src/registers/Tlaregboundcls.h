#pragma once
// TlaRegBound: a register's minimum, maximum or default, in the scaled unit of
// GetValueDouble, optionally following element 0 of another register.
#include <cstdint>

class TlaRegister;

class TlaRegBound {
 public:
  static constexpr std::uint8_t KindDefault = 0;
  static constexpr std::uint8_t KindMin = 1;
  static constexpr std::uint8_t KindMax = 2;
  static constexpr std::uint8_t ModeReplace = 0;  // the linked value replaces Constant
  static constexpr std::uint8_t ModeTighter = 1;  // the tighter of the two
  static constexpr std::uint8_t ModeLooser = 2;   // the looser of the two

  TlaRegBound(std::uint8_t kind, std::uint8_t mode, double constant)
      : Constant(constant), Kind(kind), Mode(mode) {}

  double Constant;
  double Offset = 0.0;  // added to a minimum or maximum
  std::uint8_t Kind;
  std::uint8_t Mode;

  // Evaluated afresh at every call; reads the linked register under its lock.
  double GetValue() const;
  TlaRegister* Linked() const { return linked_; }
  // null unlinks; only a register of an integer type that is not Boolean is
  // accepted, any other leaves the link as it was.
  void SetLinkedRegister(TlaRegister* reg);

 private:
  TlaRegister* linked_ = nullptr;  // not owned; a register of the same image
};
