// INI files from outside: reading must not crash, and a rewrite must keep
// every line it did not change, byte for byte.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "Exception.h"
#include "FileIo.h"
#include "IniFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string TempPath() {
  static const std::string path = [] {
    char dir[] = "/tmp/kd-inifuzz-XXXXXX";
    Check(mkdtemp(dir) != nullptr);
    return std::string(dir) + "/f.ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = TempPath();
  const std::string original(reinterpret_cast<const char*>(data), size);
  Check(kd::ReplaceFile(path, original, 0600) == 0);

  kd::IniFile ini(path);
  kd::StringList sections;
  ini.ReadSections(sections);
  for (const std::string& s : sections.Lines()) {
    kd::StringList keys, values;
    ini.ReadSection(s, keys);
    ini.ReadSectionValues(s, values);
    for (const std::string& k : keys.Lines()) {
      (void)ini.ReadString(s, k, "");
      (void)ini.ReadInteger(s, k, 7);
      (void)ini.ReadFloat(s, k, 1.5);
    }
  }

  // Writing one new key adds lines and changes nothing that was there.
  try {
    ini.WriteString("FuzzSection", "FuzzKey", "value");
  } catch (const kd::Exception&) {
    return 0;  // refused writes leave the file alone
  }
  std::string rewritten;
  Check(kd::ReadWholeFile(path, kd::IniFile::kMaxFileSize, rewritten).Ok());
  Check(rewritten.size() >= original.size());
  kd::IniFile again(path);
  Check(again.ReadString("FuzzSection", "FuzzKey", "") == "value");
  return 0;
}
