// Data-model loading, image building and register reads over a generated
// model of 5,000 registers with format sections, extra lines and categories.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "Formats.h"
#include "Tlaregdatabuffercmp.h"

namespace {

// Writes the model once per register count and removes it at exit.
class GeneratedModel {
 public:
  explicit GeneratedModel(int count)
      : path_("/tmp/kd-registers-bench-" + std::to_string(getpid()) + "-" + std::to_string(count) + ".par") {
    std::ofstream out(path_);
    out << "[DataModel]\nRegisterCount=" << count << "\nMaxBufferSize=200\n\n";
    out << "[Versions]\nKDP7_KD730v105=bench\nVerDescr=Generated\nVersions=KDP7_KD730v105\n\n";
    out << "[Categories]\n";
    for (int c = 0; c < 20; ++c) {
      const int first = c * count / 20;
      out << "Cat" << c << "=" << first << "/" << first + count / 40 << "," << first + count / 20 - 1 << "\n";
    }
    for (int f = 0; f < 16; ++f)
      out << "\n[Fmt" << f << "]\nFormatNorm=0." << f + 1 << "\nFormatOffset=0\nFormatString=0.0 \"u" << f << "\"\n";
    static const char* types[] = {"short", "short", "long", "byte", "short", "string", "date"};
    for (int k = 0; k < count; ++k) {
      const std::string name = "Reg" + std::to_string(k);
      const char* type = types[k % 7];
      out << "\n[" << k << "]\nName=" << name << "\nType=" << type << "\nDescr=Register number " << k << "\n";
      if (k % 7 == 5) out << "Length=8\n";
      if (k % 3 == 0) out << "Signed=1\nMaxValue=1000\nMinValue=-1000\nDfltValue=10\n";
      if (k % 4 == 0) {
        out << "Boolean=1\n" << name << ".0=Word\n" << name << ".0.0=\"Name=Bit zero\",True=On,False=Off\n"
            << name << ".0.4_4=Name=Mode,Field0=A,Field1=B\n";
      }
      if (k % 5 == 0) out << name << ".0_Coded=Code0=Idle,Code1=Run,Code2=Stop\n";
      if (k % 2 == 0)
        out << "UseFormat=Fmt" << k % 16 << "\n";
      else
        out << "FormatNorm=0.01\nFormatString=0.00\n";
    }
  }
  ~GeneratedModel() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

const GeneratedModel& Model(int count) {
  static GeneratedModel m5000(5000);
  static GeneratedModel m20000(20000);
  return count == 5000 ? m5000 : m20000;
}

void BM_LoadFromFile(benchmark::State& state) {
  const std::string& path = Model(static_cast<int>(state.range(0))).Path();
  for (auto _ : state) {
    TlaRegDefsList list;
    benchmark::DoNotOptimize(list.LoadFromFile(path));
  }
}
BENCHMARK(BM_LoadFromFile)->Arg(5000)->Unit(benchmark::kMillisecond);

// Linear in the register count: offsets are not summed afresh per register.
void BM_CreateRegDataBuffer(benchmark::State& state) {
  TlaRegDefsList list;
  list.LoadFromFile(Model(static_cast<int>(state.range(0))).Path());
  for (auto _ : state) {
    TlaRegDataBuffer image;
    benchmark::DoNotOptimize(image.CreateRegDataBuffer(&list));
  }
}
BENCHMARK(BM_CreateRegDataBuffer)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);

// 1,000,000 reads of GetValueDouble through TlaRegister per iteration: the
// time in ms is the time of one read in ns.
void BM_GetValueDouble(benchmark::State& state) {
  TlaRegDefsList list;
  list.LoadFromFile(Model(5000).Path());
  TlaRegDataBuffer image;
  image.CreateRegDataBuffer(&list);
  TlaRegister* regs[4] = {image.GetRegister(0), image.GetRegister(1), image.GetRegister(2), image.GetRegister(3)};
  regs[0]->SetValueInteger(0, 123);
  constexpr int kReads = 1000000;
  for (auto _ : state) {
    double sum = 0;
    for (int i = 0; i < kReads; ++i) sum += regs[i & 3]->GetValueDouble(0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kReads);
}
BENCHMARK(BM_GetValueDouble)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
