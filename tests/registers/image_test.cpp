// The register image: layout, segments at the edges, look-ups, lifecycle.
#include <gtest/gtest.h>

#include <thread>

#include "Exception.h"
#include "TestFiles.h"
#include "Tlaregdatabuffercmp.h"

using regtest::Fixture;
using regtest::LoadModel;

namespace {

class Image : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(model.LoadFromFile(Fixture("image.par")));
    ASSERT_TRUE(image.CreateRegDataBuffer(&model));
  }
  TlaRegDefsList model;
  TlaRegDataBuffer image;
};

}  // namespace

TEST_F(Image, RegistersLieBackToBackInTheBuffer) {
  ASSERT_EQ(image.GetRegisterCount(), 11);
  EXPECT_EQ(image.RegDefs(), &model);
  EXPECT_EQ(image.GetBufferSize(), model.CalcDataBufferSize());
  EXPECT_EQ(image.DataBuffer()->Size(), 2 + 2 + 2 + 2 + 6 + 8 + 6 + 6 + 4 + 0 + 0);
  int offset = 0;
  for (int i = 0; i < image.GetRegisterCount(); ++i) {
    TlaRegister* r = image.GetRegister(static_cast<std::uint16_t>(i));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Definition, model.Find(static_cast<std::uint16_t>(i)));
    EXPECT_EQ(r->Segment->Sync(), image.DataBuffer()->Sync());
    EXPECT_EQ(r->Segment->Data() - image.DataBuffer()->Data(), offset) << i;
    EXPECT_EQ(r->Segment->Size(), r->Definition->GetByteSize()) << i;
    EXPECT_TRUE(r->IsZero());
    offset += r->Segment->Size();
  }
  EXPECT_EQ(offset, image.GetBufferSize());
}

TEST_F(Image, LookUps) {
  EXPECT_EQ(image.GetRegister(11), nullptr);
  EXPECT_EQ(image.GetRegister(-1), nullptr);
  EXPECT_EQ(image.GetRegister(0)->Definition, model.Find(0));
  EXPECT_EQ(model.Find(-1), nullptr);
  EXPECT_EQ(image.GetRegister(10)->Definition->RegAddr, 10);
  EXPECT_EQ(image.GetRegister("Free"), image.GetRegister(1));  // the lower of two equal names
  EXPECT_EQ(image.GetRegister("level"), nullptr);
  EXPECT_EQ(image.GetRegister(""), nullptr);
}

TEST_F(Image, Segments) {
  EXPECT_EQ(image.BufferSegment(0, 0), nullptr);
  EXPECT_EQ(image.BufferSegment(11, 1), nullptr);
  EXPECT_EQ(image.BufferSegment(4, 8), nullptr);  // one register past the end
  auto tail = image.BufferSegment(4, 7);  // up to the last register
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail->Data() + tail->Size(), image.DataBuffer()->Data() + image.GetBufferSize());
  EXPECT_EQ(image.BufferSegment(9, 2), nullptr);  // registers without bytes
  // Bytes copied into a run's segment are the registers' values.
  auto run = image.BufferSegment(0, 2);
  ASSERT_EQ(run->Size(), 4);
  {
    TlaThreadBuffer::WriteAccess w(*run);
    const std::uint8_t frame[4] = {0x00, 0x2A, 0xFF, 0xFE};
    std::copy(frame, frame + 4, w.Data());
  }
  EXPECT_EQ(image.GetRegister("Level")->GetValueInteger(0), 42);
  EXPECT_EQ(image.GetRegister(1)->GetValueInteger(0), -2);
}

TEST_F(Image, RegistersWithoutBytes) {
  TlaRegister* empty = image.GetRegister("Empty");
  EXPECT_EQ(empty->Segment->Size(), 0);
  EXPECT_TRUE(empty->IsZero());
  EXPECT_THROW(empty->GetValueInteger(0), kd::Exception);
  TlaRegister* none = image.GetRegister(10);
  EXPECT_EQ(none->GetValueInteger(0), 0);
  none->SetValueInteger(0, 5);
  EXPECT_TRUE(image.GetRegister("Big")->IsZero());  // nothing spilled into the neighbour
}

TEST_F(Image, BuildOnceDestroyAndRebuild) {
  TlaRegDefsList other;
  EXPECT_FALSE(image.CreateRegDataBuffer(&other));
  EXPECT_FALSE(image.CreateRegDataBuffer(&model));
  EXPECT_EQ(image.RegDefs(), &model);
  image.DestroyRegDataBuffer();
  EXPECT_EQ(image.GetRegisterCount(), 0);
  EXPECT_EQ(image.GetBufferSize(), 0);
  EXPECT_EQ(image.GetRegister(0), nullptr);
  EXPECT_EQ(image.BufferSegment(0, 1), nullptr);
  EXPECT_TRUE(image.CreateRegDataBuffer(&model));
  EXPECT_EQ(image.GetRegisterCount(), 11);
}

TEST(ImageEdges, EmptyModelAndNoModel) {
  TlaRegDataBuffer image;
  EXPECT_FALSE(image.CreateRegDataBuffer(nullptr));
  EXPECT_EQ(image.BufferSegment(0, 1), nullptr);  // not built
  auto empty = LoadModel("[DataModel]\nRegisterCount=0\n");
  EXPECT_TRUE(image.CreateRegDataBuffer(empty.get()));
  EXPECT_EQ(image.GetRegisterCount(), 0);
  EXPECT_EQ(image.GetBufferSize(), 0);
  EXPECT_EQ(image.GetRegister(0), nullptr);
  EXPECT_FALSE(image.CreateRegDataBuffer(empty.get()));  // built, though empty
}

TEST(ImageEdges, OwnerDeletesTheImage) {
  auto model = LoadModel("[DataModel]\nRegisterCount=2\n[0]\nName=A\n[1]\nName=B\n");
  kd::Component owner;
  auto* image = new TlaRegDataBuffer(&owner);  // deleted by owner
  EXPECT_TRUE(image->CreateRegDataBuffer(model.get()));
  EXPECT_EQ(owner.ComponentCount(), 1);
}

// The worker writes whole runs of registers into a transaction segment while
// another thread reads the registers: a read sees one write or the other.
TEST(ImageConcurrency, RegisterReadsNeverMixTwoFrames) {
  auto model = LoadModel("[DataModel]\nRegisterCount=3\n[0]\nType=long\n[1]\nType=long\n[2]\nType=short\n");
  TlaRegDataBuffer image;
  ASSERT_TRUE(image.CreateRegDataBuffer(model.get()));
  auto frame = image.BufferSegment(0, 3);
  ASSERT_EQ(frame->Size(), 10);
  constexpr int kRounds = 5000;
  std::thread worker([&] {
    for (int k = 0; k < kRounds; ++k) {
      {
        TlaThreadBuffer::WriteAccess w(*frame);
        for (int i = 0; i < frame->Size(); ++i) w.Data()[i] = static_cast<std::uint8_t>(k);
      }
      std::this_thread::yield();
    }
  });
  int mixed = 0;
  for (int k = 0; k < kRounds; ++k) {
    for (std::uint16_t r = 0; r < 2; ++r) {
      const auto v = static_cast<std::uint32_t>(image.GetRegister(r)->GetValueInteger(0));
      if (v != (v & 0xFF) * 0x01010101u) ++mixed;
    }
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_EQ(mixed, 0);
}
