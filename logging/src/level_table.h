// The level table: the thresholds of running modules, readable without the registry lock, so that
// a write whose level reaches neither the file nor the ring of its module is refused without
// taking that lock, and a write that passes queues its record into its logger without it.
//
// The table is a fixed array of slots in static storage, never freed. Each slot holds a module
// name, the module's two thresholds and its logger, behind a sequence counter (a seqlock): a
// writer makes the counter odd, changes the slot (release stores) and makes it even again; a
// reader copies the slot with acquire loads between two reads of the counter and keeps the copy
// only when both reads give the same even value. The counter only grows, so a slot emptied and reused for
// another module (or the same name again) never passes for the old contents.
//
// The table is a cache of the registry: a name without a slot (never written to under the lock
// yet, longer than a slot holds, its slot window full) is simply looked up under the lock. Every
// change of a slot is made with the registry lock held, by the registry: a slot is filled only for
// a module that is registered under that name and initialised, and emptied before the module is
// stopped. So whenever a reader sees a slot filled, the registry holds that module, running with
// those thresholds, at that moment.
//
// A writer uses a slot's logger without the registry lock only between EnterLogger and
// LeaveLogger, which count it in the slot's `users`; emptying a slot waits until `users` is 0, so
// the logger is stopped or deleted only after every such writer has left it.
#ifndef MOXLOG_LEVEL_TABLE_H_
#define MOXLOG_LEVEL_TABLE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace moxlog {

class MoxlogBl;
struct LevelSlot;

// What a lock-free lookup found: the thresholds of the module, and where and when they were
// read, so that the logger can be used later under the registry lock if the slot is unchanged.
// Filled by LookupLevels only when it returns true.
struct LevelSnapshot {
  int fileLogLevel;
  int memLogLevel;
  LevelSlot* slot;
  uint64_t seq;
  MoxlogBl* logger;
};

constexpr size_t LEVEL_SLOT_COUNT = 128;  // home slots, a power of two; at most 66 modules are registered at a time
constexpr size_t LEVEL_SLOT_BITS = 7;
constexpr size_t LEVEL_PROBE_WINDOW = 8;  // slots a name may occupy, from its home slot on
// The table: the windows of the last home slots run on past them instead of wrapping round, so
// that a lookup walks its window with one pointer.
constexpr size_t LEVEL_TABLE_SLOTS = LEVEL_SLOT_COUNT + LEVEL_PROBE_WINDOW - 1;
constexpr size_t LEVEL_HEAD_WORDS = 10;
// Longer names never get a slot.
constexpr size_t LEVEL_NAME_BYTES = (LEVEL_HEAD_WORDS + 1) * sizeof(uint64_t);

// A name of n bytes is kept as its last 8 bytes (`last`; all n bytes, zero-padded, when n < 8)
// and the (n - 1) / 8 words before them (`head`), which together cover every byte. Two cache
// lines: names of up to 24 bytes are read from the first alone, and `users`, which every record
// that passes changes twice, lives in the second, so that those changes do not take the line
// that lookups of such names on other cores read out of their caches.
struct alignas(64) LevelSlot {
  std::atomic<uint64_t> seq{0};      // odd while the slot is being changed; only grows
  std::atomic<uint32_t> nameLen{0};  // 0: empty
  std::atomic<int32_t> fileLogLevel{0};
  std::atomic<int32_t> memLogLevel{0};
  std::atomic<MoxlogBl*> logger{nullptr};
  std::atomic<uint64_t> last{0};
  std::atomic<uint64_t> head[LEVEL_HEAD_WORDS]{};
  std::atomic<uint32_t> users{0};  // writers between EnterLogger and LeaveLogger
};
static_assert(sizeof(LevelSlot) == 128, "a slot is two cache lines");
static_assert(offsetof(LevelSlot, head) + 3 * sizeof(uint64_t) <= 64 && offsetof(LevelSlot, users) >= 64,
              "names of up to 24 bytes are read from the first line; users is in the second");

// The table, constant-initialised and never destroyed: usable from any thread at any time,
// static destructors included. Declared hidden so that code in the library reaches it directly,
// not through the global offset table.
extern LevelSlot g_levelSlots[LEVEL_TABLE_SLOTS] __attribute__((visibility("hidden")));

inline uint64_t LoadWord(const char* p) {
  uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The `last` word of a name of `len` (1 or more) bytes. Reads no byte outside the name.
inline uint64_t LastNameWord(const char* name, size_t len) {
  if (len >= 8) {
    return LoadWord(name + len - 8);
  }
  if (len >= 4) {
    uint32_t a = 0;
    uint32_t b = 0;
    std::memcpy(&a, name, 4);
    std::memcpy(&b, name + len - 4, 4);
    return a | (static_cast<uint64_t>(b) << ((len - 4) * 8));
  }
  if (len >= 2) {
    uint16_t a = 0;
    uint16_t b = 0;
    std::memcpy(&a, name, 2);
    std::memcpy(&b, name + len - 2, 2);
    return a | (static_cast<uint64_t>(b) << ((len - 2) * 8));
  }
  return static_cast<unsigned char>(name[0]);
}

// The first head word of a name of `len` (1 or more) bytes: its first 8 bytes when it is longer
// than 8, else 0 (as an unused head word is kept).
inline uint64_t FirstNameWord(const char* name, size_t len) { return len > 8 ? LoadWord(name) : 0; }

// The first slot a name may occupy (multiplicative hashing of its length, last and first words:
// the product's top bits).
inline size_t HomeSlot(size_t len, uint64_t last, uint64_t first) {
  constexpr uint64_t K = 0x9E3779B97F4A7C15ULL;
  const uint64_t mixed = last ^ ((first << 29) | (first >> 35)) ^ len;
  return static_cast<size_t>((mixed * K) >> (64 - LEVEL_SLOT_BITS));
}

// Whether head words 1 and on of `slot` hold those of the name of `len` (more than 16) bytes.
bool SameLaterHeads(const LevelSlot& slot, const char* name, size_t len);

// What reading one slot for a name gave.
enum class SlotRead {
  kOther,     // the slot holds another name or none (or is changing under us: at worst a miss)
  kFound,     // the slot holds the name, in one unchanged state: `out` is filled
  kChanging,  // the slot held the name but was being changed: look under the lock
};

// Without any lock: reads `at` for the name `name` of `len` (1 to LEVEL_NAME_BYTES) bytes, whose
// `last` and `first` words are given.
inline SlotRead ReadSlot(LevelSlot* at, const char* name, size_t len, uint64_t last, uint64_t first,
                         LevelSnapshot& out) {
  const LevelSlot& slot = *at;
  const uint64_t before = slot.seq.load(std::memory_order_acquire);
  if (slot.nameLen.load(std::memory_order_acquire) != len || slot.last.load(std::memory_order_acquire) != last ||
      slot.head[0].load(std::memory_order_acquire) != first) {
    return SlotRead::kOther;
  }
  // Names of up to 16 bytes are matched by `last` and `first` alone.
  if (len > 16 && !SameLaterHeads(slot, name, len)) {
    return SlotRead::kOther;
  }
  const int fileLevel = slot.fileLogLevel.load(std::memory_order_acquire);
  const int memLevel = slot.memLogLevel.load(std::memory_order_acquire);
  MoxlogBl* const logger = slot.logger.load(std::memory_order_acquire);
  // The loads above are acquire loads and the slot's writers store with release, so a load that
  // saw a change makes the second read of the counter see that change's odd value or later: if
  // it still reads `before` (even), no change overlapped them, and they show one state of the
  // slot. (No standalone fences: ThreadSanitizer checks this code too.)
  if ((before & 1) != 0 || slot.seq.load(std::memory_order_relaxed) != before) {
    return SlotRead::kChanging;
  }
  out.fileLogLevel = fileLevel;
  out.memLogLevel = memLevel;
  out.slot = at;
  out.seq = before;
  out.logger = logger;
  return SlotRead::kFound;
}

// Without any lock: true with `out` filled when `moduleName` has a slot, that is, the module is
// registered under exactly that name and running; false when the caller must look under the lock.
inline bool LookupLevels(const std::string& moduleName, LevelSnapshot& out) {
  const size_t len = moduleName.size();
  if (len - 1 >= LEVEL_NAME_BYTES) {
    return false;  // empty (the subtraction wraps) or too long
  }
  const char* const name = moduleName.data();
  const uint64_t last = LastNameWord(name, len);
  const uint64_t first = FirstNameWord(name, len);
  LevelSlot* const window = &g_levelSlots[HomeSlot(len, last, first)];
  for (LevelSlot* at = window; at != window + LEVEL_PROBE_WINDOW; ++at) {
    const SlotRead read = ReadSlot(at, name, len, last, first, out);
    if (read != SlotRead::kOther) {
      return read == SlotRead::kFound;
    }
  }
  return false;
}

// The usual case of LookupLevels, small enough to sit inline in every write without making it
// save registers: a name of 1 to 16 bytes found in its home slot. False says only that
// LookupLevels must decide; true means what LookupLevels' true means.
inline bool LookupLevelsAtHome(const std::string& moduleName, LevelSnapshot& out) {
  const size_t len = moduleName.size();
  if (len - 1 >= 16) {
    return false;
  }
  const char* const name = moduleName.data();
  const uint64_t last = LastNameWord(name, len);
  const uint64_t first = FirstNameWord(name, len);
  return ReadSlot(&g_levelSlots[HomeSlot(len, last, first)], name, len, last, first, out) == SlotRead::kFound;
}

// Without any lock: true when the slot of `snap` has not changed since the lookup, so that its
// module is still registered and running; the caller may then use snap.logger until it calls
// LeaveLogger(snap). False when the caller must look under the lock.
inline bool EnterLogger(const LevelSnapshot& snap) {
  LevelSlot& slot = *snap.slot;
  // Both sequentially consistent, as are the emptying of the slot and its wait for `users`: either
  // this read sees the slot changed, or the emptying thread sees this writer and waits for it.
  slot.users.fetch_add(1, std::memory_order_seq_cst);
  if (slot.seq.load(std::memory_order_seq_cst) == snap.seq) {
    return true;
  }
  slot.users.fetch_sub(1, std::memory_order_release);
  return false;
}

inline void LeaveLogger(const LevelSnapshot& snap) {
  snap.slot->users.fetch_sub(1, std::memory_order_release);
}

// With the registry lock held: gives `moduleName`, registered and initialised with `logger`, a
// slot with its thresholds, unless it has one already or no slot is free in its window. True when
// the name has a slot afterwards.
bool PublishLevels(const std::string& moduleName, MoxlogBl* logger, int fileLogLevel, int memLogLevel);

// With the registry lock held: empties the slot of `moduleName`, if any, and waits until no writer
// uses its logger any more. Called before the module is stopped or deleted.
void WithdrawLevels(const std::string& moduleName);

// With the registry lock held: empties every slot and waits until no writer uses any logger.
void WithdrawAllLevels();

}  // namespace moxlog

#endif  // MOXLOG_LEVEL_TABLE_H_
