// The caller's side of a write allocates at most the message string (queue slots are reused, so
// usually not even that), and a record filtered out by level allocates nothing. Allocations are counted per thread, so the flush thread's own work
// does not count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace {

thread_local size_t t_allocations = 0;

void* CountedAllocate(size_t size) noexcept {
  ++t_allocations;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(size_t size) {
  if (void* p = CountedAllocate(size)) {
    return p;
  }
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAllocate(size); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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
  const size_t probe = t_allocations;
  std::string* volatile kept = new std::string(100, 'x');
  delete kept;
  ASSERT_EQ(t_allocations, probe + 2) << "the counting allocator is not in use";

  auto drained = [&](const std::string& last) {
    return orv_test::WaitUntil([&] { return orv_test::ReadFile(file).find(last) != std::string::npos; });
  };
  for (size_t i = 0; i < kWrites; ++i) {
    MoxlogWriteLog(3, module, tag, "warm-up %zu", i);
  }
  ASSERT_TRUE(drained("warm-up 1999\n"));

  size_t before = t_allocations;
  for (size_t i = 0; i < kWrites; ++i) {
    ASSERT_EQ(MoxlogWriteLog(3, module, tag, "offset=%zu len=%d shard=%d longer than a short string", i * 4096,
                             4096, static_cast<int>(i % 12)),
              0);
  }
  const size_t longMessages = t_allocations - before;
  ASSERT_TRUE(drained("offset=8187904 "));

  before = t_allocations;
  for (size_t i = 0; i < kWrites; ++i) {
    ASSERT_EQ(MoxlogWriteLog(2, module, shortTag, "s%zu", i % 10), 0);  // tag + text fit in a short string
  }
  const size_t shortMessages = t_allocations - before;

  before = t_allocations;
  for (size_t i = 0; i < kWrites; ++i) {
    ASSERT_EQ(MoxlogWriteLog(4, module, tag, "filtered %zu %s", i, "out"), 0);
  }
  const size_t filtered = t_allocations - before;

  EXPECT_EQ(MoxlogStopRecordLog(module), 0);
  EXPECT_LE(longMessages, kWrites + kQueueGrowthSlack);
  EXPECT_LE(shortMessages, kQueueGrowthSlack);
  EXPECT_EQ(filtered, 0u);
}

}  // namespace
