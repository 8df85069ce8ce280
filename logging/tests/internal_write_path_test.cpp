// The caller's side of a write allocates at most the message string (queue slots are reused, so
// usually not even that), and a record filtered out by level allocates nothing. Allocations are
// counted per thread, so the flush thread's own work does not count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "moxlog/moxlog.h"
#include "orv_test/counting_new.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace {

constexpr size_t kWrites = 2000;
// Growth of the two exchanged queue vectors: a few doublings each, not one per record.
constexpr size_t kQueueGrowthSlack = 40;

TEST(WritePath, AllocatesAtMostTheMessage) {
  orv_test::ScratchDir scratch;
  const std::string module = "alloc-" + scratch.name();
  const std::string file = scratch.dir() + module + ".log";
  const std::string tag = "Interface";
  const std::string shortTag = "T";
  MoxlogParam p{module, scratch.dir(), "", 3, 1, 100};
  ASSERT_EQ(MoxlogSetAndInit(p), 0);
  const size_t probe = orv_test::AllocationsOnThisThread();
  std::string* volatile kept = new std::string(100, 'x');
  delete kept;
  ASSERT_EQ(orv_test::AllocationsOnThisThread(), probe + 2) << "the counting allocator is not in use";

  auto drained = [&](const std::string& last) {
    return orv_test::WaitUntil([&] { return orv_test::ReadFile(file).find(last) != std::string::npos; });
  };
  for (size_t i = 0; i < kWrites; ++i) {
    MoxlogWriteLog(3, module, tag, "warm-up %zu", i);
  }
  ASSERT_TRUE(drained("warm-up 1999\n"));

  size_t before = orv_test::AllocationsOnThisThread();
  for (size_t i = 0; i < kWrites; ++i) {
    ASSERT_EQ(MoxlogWriteLog(3, module, tag, "offset=%zu len=%d shard=%d longer than a short string", i * 4096,
                             4096, static_cast<int>(i % 12)),
              0);
  }
  const size_t longMessages = orv_test::AllocationsOnThisThread() - before;
  ASSERT_TRUE(drained("offset=8187904 "));

  before = orv_test::AllocationsOnThisThread();
  for (size_t i = 0; i < kWrites; ++i) {
    ASSERT_EQ(MoxlogWriteLog(2, module, shortTag, "s%zu", i % 10), 0);  // tag + text fit in a short string
  }
  const size_t shortMessages = orv_test::AllocationsOnThisThread() - before;

  before = orv_test::AllocationsOnThisThread();
  for (size_t i = 0; i < kWrites; ++i) {
    ASSERT_EQ(MoxlogWriteLog(4, module, tag, "filtered %zu %s", i, "out"), 0);
  }
  const size_t filtered = orv_test::AllocationsOnThisThread() - before;

  EXPECT_EQ(MoxlogStopRecordLog(module), 0);
  EXPECT_LE(longMessages, kWrites + kQueueGrowthSlack);
  EXPECT_LE(shortMessages, kQueueGrowthSlack);
  EXPECT_EQ(filtered, 0u);
}

}  // namespace
