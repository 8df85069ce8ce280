// The level table against a map from name to thresholds: random fills and withdrawals of names
// of every length around the word boundaries, names that differ in one byte anywhere (embedded
// NUL included) and names too long for a slot. A lookup finds exactly the names whose fill
// succeeded and were not withdrawn, with their thresholds and logger, and a slot can be entered;
// the inline check of short names agrees with it whenever it finds one.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "level_table.h"

namespace {

std::vector<std::string> NamePool() {
  std::vector<std::string> pool;
  constexpr size_t kMax = moxlog::LEVEL_NAME_BYTES;
  for (const size_t len : {size_t{1}, size_t{2}, size_t{3}, size_t{4}, size_t{5}, size_t{7}, size_t{8}, size_t{9},
                           size_t{15}, size_t{16}, size_t{17}, size_t{24}, size_t{25}, size_t{31}, size_t{32},
                           size_t{33}, size_t{63}, size_t{64}, kMax - 1, kMax, kMax + 1, size_t{130}}) {
    std::string base;
    for (size_t i = 0; i < len; ++i) {
      base += static_cast<char>('a' + i % 26);
    }
    pool.push_back(base);
    for (const size_t at : {size_t{0}, len / 2, len - 1}) {
      std::string changed = base;
      changed[at] = 'Z';
      pool.push_back(changed);
      changed[at] = '\0';
      pool.push_back(changed);
    }
  }
  return pool;
}

moxlog::MoxlogBl* FakeLogger(size_t i) { return reinterpret_cast<moxlog::MoxlogBl*>(uintptr_t{0x1000} + i * 64); }

TEST(LevelTable, LookupsMatchAModelOfFilledNames) {
  const std::vector<std::string> pool = NamePool();
  std::map<std::string, std::tuple<int, int, moxlog::MoxlogBl*>> model;
  std::mt19937 rng(99);
  size_t filled = 0;
  size_t homeHits = 0;
  for (int op = 0; op < 3000; ++op) {
    const size_t pick = rng() % pool.size();
    const std::string& name = pool[pick];
    if (rng() % 3 != 0) {
      const int fileLevel = static_cast<int>(rng() % 6) - 1;
      const int memLevel = static_cast<int>(rng() % 6) - 1;
      const bool had = model.count(name) != 0;
      const bool ok = moxlog::PublishLevels(name, FakeLogger(pick), fileLevel, memLevel);
      if (name.size() > moxlog::LEVEL_NAME_BYTES) {
        ASSERT_FALSE(ok) << name.size();
      }
      if (had) {
        ASSERT_TRUE(ok);  // a name keeps its slot and its first thresholds
      } else if (ok) {
        model[name] = std::make_tuple(fileLevel, memLevel, FakeLogger(pick));
        ++filled;
      }
    } else {
      moxlog::WithdrawLevels(name);
      model.erase(name);
    }
    for (const std::string& probe : pool) {
      moxlog::LevelSnapshot snap{};
      const bool found = moxlog::LookupLevels(probe, snap);
      const auto it = model.find(probe);
      ASSERT_EQ(found, it != model.end()) << "op " << op << " name length " << probe.size();
      // The inline check of the usual case finds nothing the whole lookup does not, and the same.
      moxlog::LevelSnapshot atHome{};
      if (moxlog::LookupLevelsAtHome(probe, atHome)) {
        ASSERT_TRUE(found) << "op " << op << " name length " << probe.size();
        ASSERT_EQ(atHome.slot, snap.slot);
        ASSERT_EQ(atHome.seq, snap.seq);
        ASSERT_EQ(atHome.logger, snap.logger);
        ASSERT_EQ(atHome.fileLogLevel, snap.fileLogLevel);
        ASSERT_EQ(atHome.memLogLevel, snap.memLogLevel);
        ++homeHits;
      }
      if (found) {
        ASSERT_EQ(snap.fileLogLevel, std::get<0>(it->second));
        ASSERT_EQ(snap.memLogLevel, std::get<1>(it->second));
        ASSERT_EQ(snap.logger, std::get<2>(it->second));
        ASSERT_TRUE(moxlog::EnterLogger(snap));
        moxlog::LeaveLogger(snap);
      }
    }
  }
  EXPECT_GT(filled, 500u);
  EXPECT_GT(homeHits, 1000u);
  // A snapshot taken before its slot was emptied cannot be entered, even once the same name has
  // been filled again into the same slot.
  const std::string name = "reused";
  ASSERT_TRUE(moxlog::PublishLevels(name, FakeLogger(1), 1, 1));
  moxlog::LevelSnapshot old{};
  ASSERT_TRUE(moxlog::LookupLevels(name, old));
  moxlog::WithdrawLevels(name);
  ASSERT_TRUE(moxlog::PublishLevels(name, FakeLogger(2), 4, 4));
  moxlog::LevelSnapshot fresh{};
  ASSERT_TRUE(moxlog::LookupLevels(name, fresh));
  EXPECT_EQ(fresh.slot, old.slot);
  EXPECT_FALSE(moxlog::EnterLogger(old));
  EXPECT_TRUE(moxlog::EnterLogger(fresh));
  moxlog::LeaveLogger(fresh);

  moxlog::WithdrawAllLevels();
  for (const std::string& probe : pool) {
    moxlog::LevelSnapshot snap{};
    EXPECT_FALSE(moxlog::LookupLevels(probe, snap)) << probe.size();
  }
}

}  // namespace
