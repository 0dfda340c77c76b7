// Register blocks: parsing category texts into runs, and splitting runs.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Tlaregdefslistcmp.h"

namespace {

using Runs = std::vector<std::pair<int, int>>;

// Every block of the chain as (First, Count), invalid ones as (-1, -1).
Runs Chain(const TlaRegBlock& head) {
  Runs runs;
  for (const TlaRegBlock* b = &head; b; b = b->Next.get())
    runs.push_back(b->Valid ? std::make_pair(int(b->First), int(b->Count)) : std::make_pair(-1, -1));
  return runs;
}

}  // namespace

TEST(Blocks, Parsing) {
  const std::pair<const char*, Runs> cases[] = {
      {"0/9,12,20/25", {{20, 6}, {12, 1}, {0, 10}}},
      {"5", {{5, 1}}},
      {"3/3", {{3, 1}}},
      {"$10/0x11", {{16, 2}}},
      {" 12", {{12, 1}}},
      {"0/9,x,20/25", {{20, 6}, {-1, -1}}},  // parsing stops at the unreadable item
      {"12,", {{-1, -1}}},                  // an empty last item
      {"12 ", {{-1, -1}}},                  // a trailing blank is no integer
      {"", {{-1, -1}}},
      {"5/", {{-1, -1}}},
      {"a/b", {{-1, -1}}},
      {"1/2/3", {{-1, -1}}},
      {"3/2", {{-1, -1}}},    // backwards: no run
      {"9/3,1", {{1, 1}, {-1, -1}}},
      {"1/999999", {{-1, -1}}},  // past the address range
      {"-1", {{-1, -1}}},
      {"0/65535", {{-1, -1}}},  // 65536 registers do not fit the count
      {"0/65534", {{0, 65535}}},
      {",5", {{5, 1}}},
      {"0/5,3/8,9/20", {{9, 12}, {3, 6}, {0, 6}}},  // overlapping runs are kept as written
  };
  for (const auto& [text, runs] : cases) EXPECT_EQ(Chain(TlaRegBlock(text)), runs) << '"' << text << '"';
}

TEST(Blocks, TotalCountStopsAtTheFirstInvalidBlock) {
  EXPECT_EQ(TlaRegBlock("0/9,12,20/25").GetTotalCount(), 17);
  EXPECT_EQ(TlaRegBlock("0/9,x,20/25").GetTotalCount(), 6);
  EXPECT_EQ(TlaRegBlock("3/2").GetTotalCount(), 0);
  TlaRegBlock chain(1, 2, std::make_unique<TlaRegBlock>(5, 0, std::make_unique<TlaRegBlock>(9, 3)));
  EXPECT_FALSE(chain.Next->Valid);
  EXPECT_EQ(chain.GetTotalCount(), 2);
}

TEST(Blocks, Split) {
  struct Case {
    int first, count, n;
    bool result;
    Runs runs;
  };
  const Case cases[] = {
      {0, 10, 2, true, {{0, 5}, {5, 5}}},
      {0, 10, 3, true, {{0, 3}, {3, 3}, {6, 4}}},
      {100, 11, 3, true, {{100, 3}, {103, 4}, {107, 4}}},
      {0, 7, 2, true, {{0, 3}, {3, 4}}},
      {0, 1, 2, false, {{0, 1}}},
      {0, 3, 5, false, {{0, 3}}},
      {0, 10, 1, false, {{0, 10}}},
      {0, 10, 0, false, {{0, 10}}},
      {0, 10, -2, false, {{0, 10}}},
  };
  for (const Case& c : cases) {
    TlaRegBlock b(static_cast<std::uint16_t>(c.first), static_cast<std::uint16_t>(c.count));
    EXPECT_EQ(b.Split(c.n), c.result) << c.count << "/" << c.n;
    EXPECT_EQ(Chain(b), c.runs) << c.count << "/" << c.n;
  }
  TlaRegBlock invalid("x");
  EXPECT_FALSE(invalid.Split(2));
  // The rest of the chain follows the new runs.
  TlaRegBlock chain("0,10/19");
  EXPECT_TRUE(chain.Split(2));
  EXPECT_EQ(Chain(chain), (Runs{{10, 5}, {15, 5}, {0, 1}}));
}

// Very long texts build and free long chains without deep recursion.
TEST(Blocks, LongChains) {
  std::string text;
  for (int k = 0; k < 300000; ++k) text += "7,";
  text += "7";
  TlaRegBlock chain(text);
  EXPECT_EQ(chain.GetTotalCount(), 300001);
  TlaRegBlock run(0, 60000);
  EXPECT_TRUE(run.Split(60000));
  EXPECT_EQ(run.GetTotalCount(), 60000);
}
