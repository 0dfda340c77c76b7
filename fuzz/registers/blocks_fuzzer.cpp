// Blocks texts from outside: parsing and splitting must not crash, and a
// split must cover exactly the run it cut.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Tlaregdefslistcmp.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TlaRegBlock chain(text);
  const int total = chain.GetTotalCount();
  int links = 0;
  for (TlaRegBlock* b = &chain; b && b->Valid; b = b->Next.get()) {
    Check(b->Count != 0);
    Check(b->First + b->Count <= 0x10000);
    ++links;
  }
  Check(total >= 0 && total <= links * 0xFFFF);

  const int parts = size > 0 ? 2 + data[0] % 5 : 2;
  for (TlaRegBlock* b = &chain; b && b->Valid;) {
    const int first = b->First, count = b->Count;
    TlaRegBlock* after = b->Next.get();
    const bool split = b->Split(parts);
    Check(split == (count / parts > 0));
    int covered = 0, next = first;
    for (TlaRegBlock* p = b; p != after; p = p->Next.get()) {
      Check(p->Valid && p->First == next);
      next += p->Count;
      covered += p->Count;
    }
    Check(covered == count);
    b = after;
  }
  Check(chain.GetTotalCount() == total);
  return 0;
}
