#pragma once
// INI file with the profile semantics the system relies on:
// - section and key names are compared without regard to letter case;
//   blanks around names and values are dropped; the first of duplicate keys wins;
// - integer reads take integer texts (Strings.h), anything else gives the default;
// - boolean reads are integer reads (non-zero is true); writes store 1 or 0;
// - float reads use '.' and give the default when empty or unreadable;
// - ReadSectionValues copies every key=value line whose value is not empty;
// - a section exists when it holds a key;
// - values are taken as they stand (no quotes are removed);
// - lines without '=', key lines before the first section and comment lines (';')
//   are ignored by reads and kept by writes; a section named twice is read as one.
// The file is read once, when the object is made, through the file reader
// (FileIo.h) with a bound (kMaxFileSize unless given); a missing file is an
// empty one.
// Every write keeps every other line, the line endings (CRLF or LF; new files LF)
// and the order of the file: a present key keeps its line, a new key goes after
// the last key of its section, a new section at the end. The file is replaced
// atomically (temporary file in the same folder, fsync, rename); a failed write
// raises IniFileError "IniFile: cannot write '<file>': <reason>" and leaves both
// the file and the object as they were. A file that exists but cannot be read
// (no regular file, past the bound, unreadable) reads as empty and refuses
// every write, so it is never overwritten.
// Between BeginUpdate and EndUpdate (nested calls counted) writes are only made
// in memory; the last EndUpdate writes them all at once, or raises and drops
// them all. CancelUpdate drops the pending writes and ends the update (all
// levels). An object destroyed inside an update drops its pending writes.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FileIo.h"
#include "Strings.h"

namespace kd {

// The text of an INI file that the caller has read itself.
struct IniText {
  std::string_view text;
};

class IniFile {
 public:
  // 16 MiB: a data model of 65536 registers at 256 bytes each; settings
  // files are far smaller.
  static constexpr std::uintmax_t kMaxFileSize = 16 << 20;

  explicit IniFile(std::string fileName, std::uintmax_t maxSize = kMaxFileSize);
  // The file's present text as the caller read it (empty for a file that
  // does not exist yet): nothing is read here; writes replace fileName.
  IniFile(std::string fileName, IniText text);
  ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  const std::string& FileName() const { return fileName_; }
  // How the file was read: Ok (also for a text handed in), Missing, or why
  // it was refused.
  const FileStatus& ReadStatus() const;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
  double ReadFloat(const std::string& section, const std::string& key, double defaultValue) const;

  // Key names of a section, in file order (duplicates once).
  void ReadSection(const std::string& section, StringList& keys) const;
  // Section names in file order (each once), sections without keys included.
  void ReadSections(StringList& sections) const;
  // "key=value" lines of a section whose value is not empty (each key once).
  void ReadSectionValues(const std::string& section, StringList& values) const;
  bool SectionExists(const std::string& section) const;
  bool ValueExists(const std::string& section, const std::string& key) const;

  // Raise IniFileError for names and values that would not read back (line
  // breaks, a key with '=' or starting with '[' or ';', a section with ']').
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void WriteFloat(const std::string& section, const std::string& key, double value);
  void EraseSection(const std::string& section);  // every line of the section
  void DeleteKey(const std::string& section, const std::string& key);  // duplicates too

  void BeginUpdate();
  void EndUpdate();  // writes pending changes; raises IniFileError on failure
  void CancelUpdate();

 private:
  struct Impl;
  std::string fileName_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kd
