// The records of a module logger's queue and of the batch its flush thread writes. Slots are
// reused from batch to batch: a slot's string keeps its capacity, so that a caller's write copies
// its text into memory that is already there and, once the queue is warm, allocates nothing.
// What a burst leaves behind is trimmed when a batch is cleared.
#ifndef MOXLOG_RECORD_BATCH_H_
#define MOXLOG_RECORD_BATCH_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "log_clock.h"

namespace moxlog {

// One queued record: the type and the message share one string (type first, typeLen
// characters); the time stamp stays as clock values until the flush thread writes it out.
struct PendingRecord {
  std::string text;
  size_t typeLen = 0;
  int level = 0;
  LogClock time{0, 0};
};

class RecordBatch {
 public:
  // Slots kept after a batch is cleared, and the largest text capacity a kept slot may retain.
  static constexpr size_t MAX_KEPT_SLOTS = 1024;
  static constexpr size_t MAX_KEPT_TEXT = 1024;

  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  const PendingRecord* begin() const { return slots.data(); }
  const PendingRecord* end() const { return slots.data() + count; }

  // The slot the next record goes into; it counts once Push() is called.
  PendingRecord& Next() {
    if (count == slots.size()) {
      slots.emplace_back();
    }
    return slots[count];
  }
  void Push() { ++count; }

  // Forgets the records; trims slots and texts that a burst made large.
  void Clear() {
    for (size_t i = 0; i < count; ++i) {
      if (slots[i].text.capacity() > MAX_KEPT_TEXT) {
        std::string().swap(slots[i].text);
      }
    }
    count = 0;
    if (slots.size() > MAX_KEPT_SLOTS) {
      slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(MAX_KEPT_SLOTS), slots.end());
      slots.shrink_to_fit();
    }
  }

  void swap(RecordBatch& other) noexcept {
    slots.swap(other.slots);
    std::swap(count, other.count);
  }

 private:
  std::vector<PendingRecord> slots;
  size_t count = 0;
};

}  // namespace moxlog

#endif  // MOXLOG_RECORD_BATCH_H_
