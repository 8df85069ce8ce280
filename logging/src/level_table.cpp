// The level table's writers: every change of a slot, made with the registry lock held.
#include "level_table.h"

#include <thread>

namespace moxlog {

LevelSlot g_levelSlots[LEVEL_TABLE_SLOTS];

namespace {

bool Fits(const std::string& name) { return !name.empty() && name.size() <= LEVEL_NAME_BYTES; }

// True when `slot` holds `name`, by the rules of LookupLevels. No other thread changes slots while
// the registry lock is held.
bool Holds(const LevelSlot& slot, const std::string& name) {
  const char* const text = name.data();
  const size_t len = name.size();
  return slot.nameLen.load(std::memory_order_relaxed) == len &&
         slot.last.load(std::memory_order_relaxed) == LastNameWord(text, len) &&
         slot.head[0].load(std::memory_order_relaxed) == FirstNameWord(text, len) &&
         (len <= 16 || SameLaterHeads(slot, text, len));
}

size_t HomeOf(const std::string& name) {
  return HomeSlot(name.size(), LastNameWord(name.data(), name.size()), FirstNameWord(name.data(), name.size()));
}

// One change of a slot, seen by readers as a whole or not at all.
template <typename Change>
void Rewrite(LevelSlot& slot, Change change) {
  const uint64_t seq = slot.seq.load(std::memory_order_relaxed);
  slot.seq.store(seq + 1, std::memory_order_relaxed);
  change(slot);  // release stores: a reader that sees one of them sees the odd counter too
  slot.seq.store(seq + 2, std::memory_order_seq_cst);  // see EnterLogger
}

// Waits until the writers that entered the slot's logger before it was emptied have left it.
void WaitForUsers(const LevelSlot& slot) {
  while (slot.users.load(std::memory_order_seq_cst) != 0) {
    std::this_thread::yield();
  }
}

void Empty(LevelSlot& slot) {
  Rewrite(slot, [](LevelSlot& s) {
    s.nameLen.store(0, std::memory_order_release);
    s.logger.store(nullptr, std::memory_order_release);
  });
}

}  // namespace

bool SameLaterHeads(const LevelSlot& slot, const char* name, size_t len) {
  const size_t heads = (len - 1) / 8;
  for (size_t i = 1; i < heads; ++i) {
    if (slot.head[i].load(std::memory_order_acquire) != LoadWord(name + i * 8)) {
      return false;
    }
  }
  return true;
}

bool PublishLevels(const std::string& moduleName, MoxlogBl* logger, int fileLogLevel, int memLogLevel) {
  if (!Fits(moduleName)) {
    return false;
  }
  LevelSlot* freeSlot = nullptr;
  size_t index = HomeOf(moduleName);
  for (size_t probe = 0; probe < LEVEL_PROBE_WINDOW; ++probe, ++index) {
    LevelSlot& slot = g_levelSlots[index];
    if (Holds(slot, moduleName)) {
      return true;  // never stale: a slot is emptied before its module stops
    }
    if (freeSlot == nullptr && slot.nameLen.load(std::memory_order_relaxed) == 0) {
      freeSlot = &slot;
    }
  }
  if (freeSlot == nullptr) {
    return false;  // window full: this name is looked up under the lock
  }
  const size_t heads = (moduleName.size() - 1) / 8;
  Rewrite(*freeSlot, [&](LevelSlot& s) {
    for (size_t i = 0; i < LEVEL_HEAD_WORDS; ++i) {
      s.head[i].store(i < heads ? LoadWord(moduleName.data() + i * 8) : 0, std::memory_order_release);
    }
    s.last.store(LastNameWord(moduleName.data(), moduleName.size()), std::memory_order_release);
    s.fileLogLevel.store(fileLogLevel, std::memory_order_release);
    s.memLogLevel.store(memLogLevel, std::memory_order_release);
    s.logger.store(logger, std::memory_order_release);
    s.nameLen.store(static_cast<uint32_t>(moduleName.size()), std::memory_order_release);
  });
  return true;
}

void WithdrawLevels(const std::string& moduleName) {
  if (!Fits(moduleName)) {
    return;
  }
  size_t index = HomeOf(moduleName);
  for (size_t probe = 0; probe < LEVEL_PROBE_WINDOW; ++probe, ++index) {
    if (Holds(g_levelSlots[index], moduleName)) {
      Empty(g_levelSlots[index]);
      WaitForUsers(g_levelSlots[index]);
      return;
    }
  }
}

void WithdrawAllLevels() {
  for (LevelSlot& slot : g_levelSlots) {
    if (slot.nameLen.load(std::memory_order_relaxed) != 0) {
      Empty(slot);
    }
  }
  for (const LevelSlot& slot : g_levelSlots) {
    WaitForUsers(slot);
  }
}

}  // namespace moxlog
