// Registry stores from outside: a damaged store raises and is never
// overwritten; a readable one survives a write with everything it held.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "Exception.h"
#include "FileIo.h"
#include "Registry.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

const std::string& StoreFile() {
  static const std::string path = [] {
    char dir[] = "/tmp/kd-regfuzz-XXXXXX";
    Check(mkdtemp(dir) != nullptr);
    setenv("XDG_CONFIG_HOME", dir, 1);
    const std::string store = kd::Registry::StorePath();
    mkdir(store.substr(0, store.rfind('/')).c_str(), 0700);
    return store;
  }();
  return path;
}

// Every key path and value below the root, as text, or empty on an error.
std::vector<std::string> Walk(kd::RootKey root) {
  std::vector<std::string> seen;
  std::function<void(const std::string&)> visit = [&](const std::string& path) {
    kd::Registry reg(root);
    if (!reg.OpenKeyReadOnly(path)) return;
    for (const std::string& v : reg.GetValueNames()) {
      std::string text;
      try {
        text = reg.ReadString(v);
      } catch (const kd::RegistryError&) {
        text = std::to_string(reg.ReadInteger(v));
      }
      seen.push_back(path + "|" + v + "=" + text);
    }
    for (const std::string& k : reg.GetKeyNames()) visit(path + "\\" + k);
  };
  visit("\\");
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& store = StoreFile();
  const std::string original(reinterpret_cast<const char*>(data), size);
  Check(kd::ReplaceFile(store, original, 0600) == 0);

  std::vector<std::string> before;
  try {
    before = Walk(kd::HKEY_CURRENT_USER);
  } catch (const kd::RegistryError&) {
    // Damaged: a write must refuse and leave the file as it was.
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    try {
      if (reg.OpenKey("\\Fuzz", true)) reg.WriteInteger("n", 1);
    } catch (const kd::RegistryError&) {
    }
    std::string after;
    Check(kd::ReadWholeFile(store, kd::Registry::kMaxStoreSize, after).Ok());
    Check(after == original);
    return 0;
  }

  kd::Registry reg(kd::HKEY_CURRENT_USER);
  Check(reg.OpenKey("\\FuzzWrite", true));
  reg.WriteInteger("n", 42);
  std::vector<std::string> after = Walk(kd::HKEY_CURRENT_USER);
  for (const std::string& entry : before) {
    bool found = false;
    for (const std::string& a : after) found = found || a == entry;
    Check(found || entry.rfind("\\\\FuzzWrite", 0) == 0);
  }
  return 0;
}
