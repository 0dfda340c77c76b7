// Data-model files from outside: loading must not crash, and the model and
// the image built over it must stay consistent and inside their bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "Exception.h"
#include "Strings.h"
#include "Tlaregdatabuffercmp.h"

namespace {

// One scratch file per process, removed at exit.
struct ScratchFile {
  std::string path = "/tmp/kd-datamodel-fuzz-" + std::to_string(getpid()) + ".par";
  ~ScratchFile() { std::remove(path.c_str()); }
};

const std::string& ModelFile() {
  static const ScratchFile file;
  return file.path;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// Every read of a register either works or raises the data layer's exception.
void Exercise(TlaRegister& r) {
  const TlaRegDefinition& d = *r.Definition;
  try {
    r.GetValueText(0);
  } catch (const kd::Exception&) {
  }
  try {
    r.SetValueDouble(0, 1234.5);
    r.GetValueBitText(0, 3);
    r.GetBitFieldText(0, 4, 4);
  } catch (const kd::Exception&) {
  }
  if (d.Length > 0) {
    const auto last = static_cast<std::uint8_t>(d.Length - 1);
    try {
      r.SetValueInteger(last, -1);
      r.GetValueInteger(last);
    } catch (const kd::Exception&) {
    }
  }
  try {
    r.SetValueText("12", 0);
  } catch (const kd::Exception&) {
  }
  kd::StringList lines;
  try {
    r.Dump(&lines);
  } catch (const kd::Exception&) {
  }
  r.SetDefaults();
  r.IsZero();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream out(ModelFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TlaRegDefsList model;
  model.LoadFromFile(ModelFile());
  Check(model.MaxBufferSize >= 20 && model.MaxBufferSize <= 256);
  const int count = model.RegisterCount();
  Check(count >= 0 && count <= TlaRegDefsList::MaxRegisterCount);
  int sum = 0;
  for (int k = 0; k < count; ++k) {
    Check(model.CalcDataBufferOffset(static_cast<std::uint16_t>(k)) == sum);
    sum += model.Find(static_cast<std::uint16_t>(k))->GetByteSize();
  }
  Check(model.CalcDataBufferSize() == sum);

  TlaRegDataBuffer image;
  Check(image.CreateRegDataBuffer(&model));
  Check(image.GetRegisterCount() == count && image.GetBufferSize() == sum);
  for (int k = 0; k < count && k < 512; ++k) Exercise(*image.GetRegister(static_cast<std::uint16_t>(k)));

  // Every category's runs either map to a segment inside the image or to none.
  for (int c = 0; c < model.Categories.Count(); ++c) {
    auto blocks = model.GetCategoryBlocks(model.Categories.Names(c));
    for (TlaRegBlock* b = blocks.get(); b && b->Valid; b = b->Next.get()) {
      auto segment = image.BufferSegment(b->First, b->Count);
      if (!segment) continue;
      Check(segment->Data() >= image.DataBuffer()->Data());
      Check(segment->Data() + segment->Size() <= image.DataBuffer()->Data() + image.GetBufferSize());
      TlaThreadBuffer::WriteAccess w(*segment);
      for (int i = 0; i < segment->Size(); ++i) w.Data()[i] ^= 0x5A;
    }
  }
  return 0;
}
