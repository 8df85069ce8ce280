// The level table: the thresholds of running modules, readable without the registry lock, so that
// a write whose level reaches neither the file nor the ring of its module is refused without
// taking that lock, and a write that passes finds its logger without searching the registry.
//
// The table is a fixed array of slots in static storage, never freed. Each slot holds a module
// name, the module's two thresholds and its logger, behind a sequence counter (a seqlock): a
// writer makes the counter odd, changes the slot and makes it even again; a reader copies the
// slot with relaxed atomic loads between two reads of the counter and keeps the copy only when
// both reads give the same even value. The counter only grows, so a slot emptied and reused for
// another module (or the same name again) never passes for the old contents.
//
// The table is a cache of the registry: a name without a slot (never written to under the lock
// yet, longer than a slot holds, its slot window full) is simply looked up under the lock. Every
// change of a slot is made with the registry lock held, by the registry: a slot is filled only for
// a module that is registered under that name and initialised, and emptied before the module is
// stopped. So whenever a reader sees a slot filled, the registry holds that module, running with
// those thresholds, at that moment.
#ifndef MOXLOG_LEVEL_TABLE_H_
#define MOXLOG_LEVEL_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace moxlog {

class MoxlogBl;

// What a lock-free lookup found: the thresholds of the module, and where and when they were
// read, so that the logger can be used later under the registry lock if the slot is unchanged.
struct LevelSnapshot {
  int fileLogLevel = 0;
  int memLogLevel = 0;
  size_t slot = 0;
  uint64_t seq = 0;
  MoxlogBl* logger = nullptr;
};

// Without any lock: true with `out` filled when `moduleName` has a slot, that is, the module is
// registered under exactly that name and running; false when the caller must look under the lock.
bool LookupLevels(const std::string& moduleName, LevelSnapshot& out);

// With the registry lock held: the logger of `snap` when its slot has not changed since the
// lookup (so the module is still registered and running), else null.
MoxlogBl* LoggerIfUnchanged(const LevelSnapshot& snap);

// With the registry lock held: gives `moduleName`, registered and initialised with `logger`, a
// slot with its thresholds, unless it has one already or no slot is free in its window.
void PublishLevels(const std::string& moduleName, MoxlogBl* logger, int fileLogLevel, int memLogLevel);

// With the registry lock held: empties the slot of `moduleName`, if any. Called before the module
// is stopped or deleted.
void WithdrawLevels(const std::string& moduleName);

// With the registry lock held: empties every slot.
void WithdrawAllLevels();

}  // namespace moxlog

#endif  // MOXLOG_LEVEL_TABLE_H_
