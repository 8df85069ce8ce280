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
  // A ring of `capacity` empty slots (capacity >= 1), or null when its storage cannot be had.
  static std::unique_ptr<MoxRingbuffer> Create(uint32_t capacity);

  MoxRingbuffer(const MoxRingbuffer&) = delete;
  MoxRingbuffer& operator=(const MoxRingbuffer&) = delete;
  ~MoxRingbuffer();

  // Discards every record and replaces the storage by `capacity` empty slots. When that storage
  // cannot be had, reports "rebuild logring error, use default memlog size." and uses 100 slots.
  void Resize(uint32_t capacity);

  // Copies the record into the slot at the tail, overwriting the oldest record when full.
  void Push(const MoxlogEntry& record);

  // The records held, oldest first; the ring is empty afterwards.
  std::vector<MoxlogEntry> TakeAll();

  uint32_t Capacity() const;
  int Count() const;

 private:
  explicit MoxRingbuffer(uint32_t capacity);
  // Fields as documented in mem_ring.cpp.
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
