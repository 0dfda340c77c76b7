// Program files from outside: loading gives a result code and either takes
// the whole file or leaves the program as it was; what was taken saves and
// loads back the same.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Tladmcollectioncmp.h"
#include "Tlaqzprogramcmp.h"

namespace {

struct ScratchFiles {
  std::string in = "/tmp/kd-program-fuzz-" + std::to_string(getpid()) + ".qzp";
  std::string out = "/tmp/kd-program-fuzz-" + std::to_string(getpid()) + "-saved.qzp";
  ~ScratchFiles() {
    std::remove(in.c_str());
    std::remove(out.c_str());
  }
};

const ScratchFiles& Files() {
  static const ScratchFiles files;
  return files;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Contents(const TlaQZProgram& p) {
  const int size = p.GetBufferSize();
  TlaThreadBuffer::ReadAccess read(*p.DataBuffer());
  return std::string(reinterpret_cast<const char*>(read.Data()), static_cast<std::size_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(Files().in, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  // A collection of its own for every run: a version text that only part of
  // a declared version matches loads its model again, and the collection
  // keeps every model it loaded.
  TlaDMCollection models;
  models.SetFilePath(KD_MODELS_DIR);
  TlaQZProgram program;
  program.DMColl = &models;
  const std::uint8_t r = program.LoadFromFile(Files().in);
  Check(r <= qzFileNotProgram && r != qzFileMissing);
  if (r != qzFileDone) {
    Check(!program.GetIsOpen() && program.GetCurrentVersion().empty() && program.Lines.Empty());
    return 0;
  }
  Check(program.GetIsOpen());
  program.GetProgName();
  program.GetProgDate();
  Check(program.SaveToFile(Files().out) == qzFileDone);
  TlaQZProgram again;
  again.DMColl = &models;
  Check(again.LoadFromFile(Files().out) == qzFileDone);
  Check(Contents(again) == Contents(program));
  Check(again.Lines.Lines() == program.Lines.Lines());
  return 0;
}
