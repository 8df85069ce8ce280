// The level table: fixed slots in static storage behind sequence counters, read without a lock.
#include "level_table.h"

#include <atomic>
#include <cstring>

namespace moxlog {

namespace {

constexpr size_t SLOT_COUNT = 128;  // a power of two; at most 66 modules are registered at a time
constexpr size_t PROBE_WINDOW = 8;  // slots a name may occupy, from its home slot on
constexpr size_t NAME_WORDS = 12;
constexpr size_t NAME_BYTES = NAME_WORDS * sizeof(uint64_t);  // longer names are never in the table

// Two cache lines; names of up to 32 bytes are read from the first alone.
struct alignas(64) Slot {
  std::atomic<uint64_t> seq{0};  // odd while the slot is being changed; only grows
  std::atomic<uint32_t> nameLen{0};  // 0: empty
  std::atomic<int32_t> fileLogLevel{0};
  std::atomic<int32_t> memLogLevel{0};
  std::atomic<MoxlogBl*> logger{nullptr};
  std::atomic<uint64_t> name[NAME_WORDS]{};  // the name's bytes, zero after its end
};

// Constant-initialised and never destroyed: usable from any thread at any time, static
// destructors included.
Slot g_slots[SLOT_COUNT];

// A name as whole words, zero-padded after its last byte.
struct NameWords {
  explicit NameWords(const std::string& name) : len(name.size()), count((len + 7) / 8) {
    words[count - 1] = 0;
    std::memcpy(words, name.data(), len);
  }
  size_t Home() const {
    uint64_t h = len;
    for (size_t i = 0; i < count; ++i) {
      h = (h ^ words[i]) * 0x9E3779B97F4A7C15ULL;
    }
    return static_cast<size_t>(h >> 32) & (SLOT_COUNT - 1);
  }
  size_t len;
  size_t count;
  uint64_t words[NAME_WORDS];
};

bool Fits(const std::string& name) { return !name.empty() && name.size() <= NAME_BYTES; }

size_t Next(size_t index) { return (index + 1) & (SLOT_COUNT - 1); }

// With the registry lock held: true when `slot` holds `key`. No other thread changes slots then.
bool Holds(const Slot& slot, const NameWords& key) {
  if (slot.nameLen.load(std::memory_order_relaxed) != key.len) {
    return false;
  }
  for (size_t i = 0; i < key.count; ++i) {
    if (slot.name[i].load(std::memory_order_relaxed) != key.words[i]) {
      return false;
    }
  }
  return true;
}

// With the registry lock held: one change of a slot, seen by readers as a whole or not at all.
template <typename Change>
void Rewrite(Slot& slot, Change change) {
  const uint64_t seq = slot.seq.load(std::memory_order_relaxed);
  slot.seq.store(seq + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  change(slot);
  slot.seq.store(seq + 2, std::memory_order_release);
}

void Empty(Slot& slot) {
  Rewrite(slot, [](Slot& s) {
    s.nameLen.store(0, std::memory_order_relaxed);
    s.logger.store(nullptr, std::memory_order_relaxed);
  });
}

}  // namespace

bool LookupLevels(const std::string& moduleName, LevelSnapshot& out) {
  if (!Fits(moduleName)) {
    return false;
  }
  const NameWords key(moduleName);
  size_t index = key.Home();
  for (size_t probe = 0; probe < PROBE_WINDOW; ++probe, index = Next(index)) {
    const Slot& slot = g_slots[index];
    const uint64_t before = slot.seq.load(std::memory_order_acquire);
    if (slot.nameLen.load(std::memory_order_relaxed) != key.len) {
      continue;  // another name or empty; a slot changing under us is at worst a miss
    }
    bool same = true;
    for (size_t i = 0; i < key.count; ++i) {
      same = same && slot.name[i].load(std::memory_order_relaxed) == key.words[i];
    }
    const int fileLevel = slot.fileLogLevel.load(std::memory_order_relaxed);
    const int memLevel = slot.memLogLevel.load(std::memory_order_relaxed);
    MoxlogBl* const logger = slot.logger.load(std::memory_order_relaxed);
    // Orders the loads above before the second read of the counter: if it still reads `before`,
    // no change of the slot overlapped them.
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((before & 1) != 0 || slot.seq.load(std::memory_order_relaxed) != before) {
      return false;  // being changed: the caller looks under the lock
    }
    if (same) {
      out.fileLogLevel = fileLevel;
      out.memLogLevel = memLevel;
      out.slot = index;
      out.seq = before;
      out.logger = logger;
      return true;
    }
  }
  return false;
}

MoxlogBl* LoggerIfUnchanged(const LevelSnapshot& snap) {
  return g_slots[snap.slot].seq.load(std::memory_order_relaxed) == snap.seq ? snap.logger : nullptr;
}

void PublishLevels(const std::string& moduleName, MoxlogBl* logger, int fileLogLevel, int memLogLevel) {
  if (!Fits(moduleName)) {
    return;
  }
  const NameWords key(moduleName);
  Slot* freeSlot = nullptr;
  size_t index = key.Home();
  for (size_t probe = 0; probe < PROBE_WINDOW; ++probe, index = Next(index)) {
    Slot& slot = g_slots[index];
    if (Holds(slot, key)) {
      return;  // a running module's slot never goes stale: it is emptied before the module stops
    }
    if (freeSlot == nullptr && slot.nameLen.load(std::memory_order_relaxed) == 0) {
      freeSlot = &slot;
    }
  }
  if (freeSlot == nullptr) {
    return;  // window full: this name is looked up under the lock
  }
  Rewrite(*freeSlot, [&](Slot& s) {
    for (size_t i = 0; i < NAME_WORDS; ++i) {
      s.name[i].store(i < key.count ? key.words[i] : 0, std::memory_order_relaxed);
    }
    s.fileLogLevel.store(fileLogLevel, std::memory_order_relaxed);
    s.memLogLevel.store(memLogLevel, std::memory_order_relaxed);
    s.logger.store(logger, std::memory_order_relaxed);
    s.nameLen.store(static_cast<uint32_t>(key.len), std::memory_order_relaxed);
  });
}

void WithdrawLevels(const std::string& moduleName) {
  if (!Fits(moduleName)) {
    return;
  }
  const NameWords key(moduleName);
  size_t index = key.Home();
  for (size_t probe = 0; probe < PROBE_WINDOW; ++probe, index = Next(index)) {
    if (Holds(g_slots[index], key)) {
      Empty(g_slots[index]);
      return;
    }
  }
}

void WithdrawAllLevels() {
  for (Slot& slot : g_slots) {
    if (slot.nameLen.load(std::memory_order_relaxed) != 0) {
      Empty(slot);
    }
  }
}

}  // namespace moxlog
