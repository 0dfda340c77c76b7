#pragma once
// TlaVersionRecord: a device identity and firmware version
// ("KDP12_KD730-ABv102-CD"): family number, model number with up to two
// letters, version number with up to two letters, and a description. Parsed
// from text, printed back, and matched against patterns with "*".
#include <cstdint>
#include <string>

class TlaVersionRecord {
 public:
  std::uint16_t KDPNumber = 0;           // 0: no family
  std::uint16_t KDNumber = 0;
  std::uint16_t ModelLetters = 0xFFFF;   // first letter in the high byte; 0xFF absent
  int Units = -1;                        // -1 absent
  int Tens = -1;
  int Hundreds = 0;
  std::uint16_t VersionLetters = 0xFFFF;
  std::string Text;

  void SetVersionNumber(std::uint16_t number);
  std::uint16_t GetVersionNumber() const;
  std::string GetKDPString() const;
  std::string GetModelString() const;
  std::string GetVersionString(bool dotted) const;
  std::string GetFullString() const;
  // Reads text into the record's current fields (parse into a fresh record).
  // false and Text ">ERROR<" when the text breaks the grammar; fields read up
  // to that point keep their values.
  bool Parse(const std::string& text, const std::string& description);
  bool Matches(const std::string& pattern) const;
};
