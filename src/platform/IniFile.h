#pragma once
// INI file with the profile semantics the system relies on:
// - section and key names are compared without regard to letter case;
//   blanks around names and values are dropped; the first of duplicate keys wins;
// - integer reads take integer texts (Strings.h), anything else gives the default;
// - boolean reads are integer reads (non-zero is true); writes store 1 or 0;
// - float reads use '.' and give the default when empty or unreadable;
// - ReadSectionValues copies every key=value line whose value is not empty;
// - a section exists when it holds a key;
// - lines without '=' and comment lines (';') are ignored by reads and kept by writes.
// The file is parsed once, when the object is made. Every write keeps every other
// line and the order of the file and replaces the file atomically (temporary file
// in the same folder, then rename); a failed write raises IniFileError and leaves
// the file as it was. Between BeginUpdate and EndUpdate writes are only made in
// memory; EndUpdate writes them all at once (or raises, writing nothing).
#include <memory>
#include <string>
#include <vector>

#include "Strings.h"

namespace kd {

class IniFile {
 public:
  explicit IniFile(std::string fileName);
  ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
  double ReadFloat(const std::string& section, const std::string& key, double defaultValue) const;

  // Key names of a section, in file order (duplicates once).
  void ReadSection(const std::string& section, StringList& keys) const;
  // Section names in file order (each once).
  void ReadSections(StringList& sections) const;
  // "key=value" lines of a section whose value is not empty.
  void ReadSectionValues(const std::string& section, StringList& values) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void WriteFloat(const std::string& section, const std::string& key, double value);
  void EraseSection(const std::string& section);
  void DeleteKey(const std::string& section, const std::string& key);

  void BeginUpdate();
  void EndUpdate();  // writes pending changes; raises IniFileError on failure

 private:
  struct Impl;
  void Commit();
  std::string fileName_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kd
