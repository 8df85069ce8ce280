// The memory ring against a bounded deque as model: random capacities, pushes and take-alls,
// resizes that discard, and pushes that copy into existing slots without allocating.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "mem_ring.h"
#include "orv_test/counting_new.h"

namespace {

using moxlog::MoxRingbuffer;

MoxlogEntry Record(int n, size_t textLen = 0) {
  return MoxlogEntry{n % 7 - 1, "type" + std::to_string(n % 3),
                     "msg " + std::to_string(n) + std::string(textLen, 'x'),
                     "2024-01-02 03:04:05." + std::to_string(n)};
}

void ExpectSame(const std::vector<MoxlogEntry>& got, const std::deque<MoxlogEntry>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].logLevel, want[i].logLevel) << i;
    EXPECT_EQ(got[i].logType, want[i].logType) << i;
    EXPECT_EQ(got[i].logMsg, want[i].logMsg) << i;
    EXPECT_EQ(got[i].logTime, want[i].logTime) << i;
  }
}

TEST(MemRingTest, KeepsTheNewestRecordsOldestFirst) {
  auto ring = MoxRingbuffer::Create(100);
  ASSERT_NE(ring, nullptr);
  EXPECT_TRUE(ring->TakeAll().empty());
  for (int n = 1; n <= 250; ++n) {
    ring->Push(Record(n));
  }
  EXPECT_EQ(ring->Count(), 100);
  std::vector<MoxlogEntry> got = ring->TakeAll();
  ASSERT_EQ(got.size(), 100u);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].logMsg, Record(151 + static_cast<int>(i)).logMsg);
  }
  EXPECT_EQ(ring->Count(), 0);
  EXPECT_TRUE(ring->TakeAll().empty());
}

TEST(MemRingTest, ZeroCapacityIsTakenAsTheDefault) {
  auto ring = MoxRingbuffer::Create(0);
  ASSERT_NE(ring, nullptr);
  EXPECT_EQ(ring->Capacity(), 100u);
  ring->Resize(0);
  EXPECT_EQ(ring->Capacity(), 100u);
}

TEST(MemRingTest, ResizeDiscardsEveryRecord) {
  auto ring = MoxRingbuffer::Create(5);
  ASSERT_NE(ring, nullptr);
  for (int n = 0; n < 3; ++n) {
    ring->Push(Record(n));
  }
  ring->Resize(200);
  EXPECT_EQ(ring->Capacity(), 200u);
  EXPECT_EQ(ring->Count(), 0);
  EXPECT_TRUE(ring->TakeAll().empty());
  ring->Push(Record(9));
  std::vector<MoxlogEntry> got = ring->TakeAll();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].logMsg, Record(9).logMsg);
}

TEST(MemRingTest, MatchesABoundedDequeUnderRandomOperations) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    uint32_t capacity = std::uniform_int_distribution<uint32_t>(1, 64)(rng);
    auto ring = MoxRingbuffer::Create(capacity);
    ASSERT_NE(ring, nullptr);
    std::deque<MoxlogEntry> model;
    int next = 0;
    for (int op = 0; op < 600; ++op) {
      const int pick = std::uniform_int_distribution<int>(0, 99)(rng);
      if (pick < 85) {
        const size_t len = std::uniform_int_distribution<size_t>(0, 80)(rng);
        MoxlogEntry record = Record(next++, len);
        ring->Push(record);
        if (model.size() == capacity) {
          model.pop_front();
        }
        model.push_back(record);
      } else if (pick < 97) {
        ExpectSame(ring->TakeAll(), model);
        model.clear();
      } else {
        capacity = std::uniform_int_distribution<uint32_t>(1, 64)(rng);
        ring->Resize(capacity);
        model.clear();
      }
      ASSERT_EQ(ring->Capacity(), capacity) << "seed " << seed << " op " << op;
      ASSERT_EQ(ring->Count(), static_cast<int>(model.size())) << "seed " << seed << " op " << op;
    }
    ExpectSame(ring->TakeAll(), model);
  }
}

TEST(MemRingTest, PushesCopyIntoExistingSlotsWithoutAllocating) {
  auto ring = MoxRingbuffer::Create(8);
  ASSERT_NE(ring, nullptr);
  // Long texts, so that every slot's strings own heap buffers after the first round.
  std::vector<MoxlogEntry> records;
  for (int n = 0; n < 64; ++n) {
    records.push_back(MoxlogEntry{n, std::string(40, 't'), std::string(300, 'm'),
                                  std::string(40, 'c')});
  }
  for (size_t n = 0; n < 8; ++n) {
    ring->Push(records[n]);
  }
  const size_t before = orv_test::AllocationsOnThisThread();
  for (size_t n = 8; n < records.size(); ++n) {
    ring->Push(records[n]);
  }
  EXPECT_EQ(orv_test::AllocationsOnThisThread() - before, 0u);
  EXPECT_EQ(ring->TakeAll().back().logLevel, 63);
}

}  // namespace
