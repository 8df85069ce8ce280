// MoxRingbuffer: a module's ring of its most recent records, of fixed capacity, oldest overwritten
// first. The owning logger calls every operation under its file lock; the ring has no lock.
#ifndef MOXLOG_MEM_RING_H_
#define MOXLOG_MEM_RING_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "moxlog/moxlog.h"

namespace moxlog {

class MoxRingbuffer {
 public:
  // A ring of `capacity` empty slots (0 is taken as 100), or null when its storage cannot be had.
  static std::unique_ptr<MoxRingbuffer> Create(uint32_t capacity);

  MoxRingbuffer(const MoxRingbuffer&) = delete;
  MoxRingbuffer& operator=(const MoxRingbuffer&) = delete;
  ~MoxRingbuffer();

  // Discards every record and replaces the storage by `capacity` empty slots (0 is taken as 100).
  // When that storage cannot be had, reports "rebuild logring error, use default memlog size."
  // and uses 100 slots (should even those fail, the ring keeps none and drops every push).
  void Resize(uint32_t capacity);

  // Copies the record into the slot at the tail, overwriting the oldest record when full.
  void Push(const MoxlogEntry& record);

  // The records held, oldest first; the ring is empty afterwards.
  std::vector<MoxlogEntry> TakeAll();

  uint32_t Capacity() const;
  int Count() const;

  // Calls visit(record) for each record held, oldest first, leaving the ring as it is. Allocates
  // nothing (the crash dump reads the ring from a signal handler).
  template <typename Visit>
  void ForEachHeld(Visit&& visit) const {
    const MoxlogEntry* slot = head;
    for (int i = 0; i < count; ++i) {
      visit(*slot);
      slot = (slot == last) ? first : slot + 1;
    }
  }

 private:
  MoxRingbuffer(std::unique_ptr<MoxlogEntry[]> slots, uint32_t slotCount);
  // `slotCount` value-initialised records, or null when they cannot be allocated.
  static std::unique_ptr<MoxlogEntry[]> AllocateSlots(uint32_t slotCount);
  // Takes `slots` as the storage and empties the ring.
  void Adopt(std::unique_ptr<MoxlogEntry[]> slots, uint32_t slotCount);

  // Slots [first, last]; the `count` records held run from head (oldest) onwards, wrapping from
  // last to first; tail is where the next record goes (equal to head when empty or full).
  std::unique_ptr<MoxlogEntry[]> storage;
  MoxlogEntry* first = nullptr;
  MoxlogEntry* last = nullptr;
  MoxlogEntry* head = nullptr;
  MoxlogEntry* tail = nullptr;
  uint32_t capacity = 0;
  int count = 0;
};

}  // namespace moxlog

#endif  // MOXLOG_MEM_RING_H_
