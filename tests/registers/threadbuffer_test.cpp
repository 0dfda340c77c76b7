// Byte image under one lock, and its segments.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "Exception.h"
#include "Tlathreadbuffercls.h"

TEST(ThreadBuffer, OwningBufferStartsZeroed) {
  TlaThreadBuffer b(10);
  EXPECT_TRUE(b.OwnsData());
  EXPECT_EQ(b.Size(), 10);
  const std::uint8_t* p = b.BeginRead();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], 0) << i;
  b.EndRead();
}

TEST(ThreadBuffer, SegmentBounds) {
  TlaThreadBuffer b(10);
  struct Case {
    int offset, length;
    bool made;
  };
  const Case cases[] = {{0, 10, true}, {10, 0, false}, {8, 2, true}, {8, 3, false}, {3, 0, true},
                        {0, 11, false}, {-1, 2, false}, {2, -1, false}, {9, 1, true}};
  for (const Case& c : cases) {
    auto s = b.Segment(c.offset, c.length);
    ASSERT_EQ(s != nullptr, c.made) << c.offset << "," << c.length;
    if (!s) continue;
    EXPECT_FALSE(s->OwnsData());
    EXPECT_EQ(s->Size(), c.length);
    EXPECT_EQ(s->Data(), b.Data() + c.offset);
    EXPECT_EQ(s->Sync(), b.Sync());
  }
}

TEST(ThreadBuffer, SegmentWritesReachTheOwnerAndOutliveNothing) {
  TlaThreadBuffer b(10);
  {
    auto s = b.Segment(4, 3);
    std::uint8_t* p = s->BeginWrite();
    p[0] = 0xA1;
    p[2] = 0xA3;
    s->EndWrite();
  }
  // The owner's memory and lock are intact after the segment is gone.
  std::uint8_t* p = b.BeginWrite();
  EXPECT_EQ(p[4], 0xA1);
  EXPECT_EQ(p[5], 0);
  EXPECT_EQ(p[6], 0xA3);
  b.EndWrite();
  // A segment of a segment stays inside it.
  auto s = b.Segment(4, 3);
  EXPECT_EQ(s->Segment(1, 3), nullptr);
  EXPECT_EQ(s->Segment(1, 2)->Data(), b.Data() + 5);
}

TEST(ThreadBuffer, SharingFormNeedsLockAndMemory) {
  TlaThreadBuffer b(4);
  const char* text = "You must specify access structure and buffer pointer!";
  try {
    TlaThreadBuffer s(nullptr, b.Data(), 4);
    FAIL();
  } catch (const kd::Exception& e) {
    EXPECT_STREQ(e.what(), text);
  }
  EXPECT_THROW(TlaThreadBuffer(b.Sync(), nullptr, 4), kd::Exception);
}

// A writer fills ranges of the image with one byte value at a time while
// readers check, through other (overlapping) segments, that a range never
// holds two values at once.
TEST(ThreadBuffer, ReadersNeverSeeAHalfWrittenRange) {
  constexpr int kSize = 256;
  TlaThreadBuffer image(kSize);
  auto whole = image.Segment(0, kSize);
  constexpr int kRounds = 5000;
  std::atomic<long> mixed{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&, r] {
      auto seg = image.Segment(r * 32, 128);
      for (int k = 0; k < kRounds; ++k) {
        {
          TlaThreadBuffer::ReadAccess access(*seg);
          const std::uint8_t* p = access.Data();
          for (int i = 1; i < seg->Size(); ++i)
            if (p[i] != p[0]) {
              mixed.fetch_add(1);
              break;
            }
        }
        std::this_thread::yield();  // leaves the writer a chance (readers may be preferred)
      }
    });
  }
  std::thread writer([&] {
    for (int k = 0; k < kRounds; ++k) {
      {
        TlaThreadBuffer::WriteAccess access(*whole);
        // Byte by byte, so that a reader inside the lock would see a mix.
        for (int i = 0; i < kSize; ++i) access.Data()[i] = static_cast<std::uint8_t>(k);
      }
      std::this_thread::yield();
    }
  });
  writer.join();
  for (auto& t : readers) t.join();
  EXPECT_EQ(mixed.load(), 0);
}
