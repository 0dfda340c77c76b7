// Writes <count> integer values named <prefix><i> into HKEY_CURRENT_USER\Software\Race,
// one locked write each; a test runs two of these at once.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Exception.h"
#include "Registry.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s prefix count\n", argv[0]);
    return 2;
  }
  try {
    kd::Registry reg(kd::HKEY_CURRENT_USER);
    if (!reg.OpenKey("Software\\Race", true)) return 3;
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) reg.WriteInteger(argv[1] + std::to_string(i), i);
  } catch (const kd::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
