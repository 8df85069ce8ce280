// The records of a module logger's queue and of the batch its flush thread writes. A batch is one
// block of bytes that records are appended to, each a fixed head (level, clock values, lengths)
// followed by its type and message text. The block keeps its size from batch to batch, so that a
// caller's write is one copy into memory that is already there and, once the queue is warm,
// allocates nothing; a block that a burst made large is given back when the batch is cleared.
#ifndef MOXLOG_RECORD_BATCH_H_
#define MOXLOG_RECORD_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "log_clock.h"
#include "short_copy.h"

namespace moxlog {

// One queued record as the flush thread reads it; the views point into the batch.
struct PendingRecord {
  int level;
  LogClock time;
  std::string_view logType;
  std::string_view logMsg;
};

class RecordBatch {
 public:
  // A cleared batch keeps a block of at most this many bytes.
  static constexpr size_t MAX_KEPT_BYTES = size_t{1} << 20;
  // How far past the end of the last record Append asks for the block's lines.
  static constexpr size_t PREFETCH_BYTES = 256;

  size_t size() const { return count; }
  bool empty() const { return count == 0; }

  // Appends one record; its texts are copied. Throws std::bad_alloc, leaving the batch as it
  // was, when the block cannot grow.
  void Append(int level, LogClock time, const char* type, size_t typeLen, const char* msg, size_t msgLen) {
    const size_t need = RecordBytes(typeLen, msgLen);
    if (need > capacity - used) {
      Grow(need);
    }
    char* const at = block.get() + used;
    // Built in place (the block is aligned for heads), field by field.
    new (at) Head{time, typeLen, msgLen, level};
    CopyShort(at + sizeof(Head), type, typeLen);
    CopyShort(at + sizeof(Head) + typeLen, msg, msgLen);
    used += need;
    ++count;
    // The block was last read by the flush thread, on another core as a rule: ask for the lines
    // the next records go to now, so that their writes do not wait for them under the queue lock.
    // Two lines PREFETCH_BYTES ahead per record: a run of records of at most two lines each, the
    // usual size, leaves no line of the block unasked.
    if (used + PREFETCH_BYTES + 64 < capacity) {
      __builtin_prefetch(block.get() + used + PREFETCH_BYTES, 1, 3);
      __builtin_prefetch(block.get() + used + PREFETCH_BYTES + 64, 1, 3);
    }
  }

  class Iterator {
   public:
    PendingRecord operator*() const {
      Head head;
      std::memcpy(&head, at, sizeof head);
      const char* const text = at + sizeof head;
      return PendingRecord{head.level, head.time, std::string_view(text, head.typeLen),
                           std::string_view(text + head.typeLen, head.msgLen)};
    }
    Iterator& operator++() {
      Head head;
      std::memcpy(&head, at, sizeof head);
      at += RecordBytes(head.typeLen, head.msgLen);
      return *this;
    }
    bool operator!=(const Iterator& other) const { return at != other.at; }

   private:
    friend class RecordBatch;
    explicit Iterator(const char* position) : at(position) {}
    const char* at;
  };
  Iterator begin() const { return Iterator(block.get()); }
  Iterator end() const { return Iterator(block.get() + used); }

  // Forgets the records; gives back a block that a burst made large.
  void Clear() {
    count = 0;
    used = 0;
    if (capacity > MAX_KEPT_BYTES) {
      block.reset();
      capacity = 0;
    }
  }

  void swap(RecordBatch& other) noexcept {
    block.swap(other.block);
    std::swap(capacity, other.capacity);
    std::swap(used, other.used);
    std::swap(count, other.count);
  }

 private:
  struct Head {
    LogClock time;
    size_t typeLen;
    size_t msgLen;
    int level;
  };
  static constexpr size_t ALIGN = alignof(Head);
  static_assert(ALIGN <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "a block from new[] must be aligned for heads");

  // A record's bytes, rounded up so that every head stays aligned.
  static size_t RecordBytes(size_t typeLen, size_t msgLen) {
    return (sizeof(Head) + typeLen + msgLen + ALIGN - 1) & ~(ALIGN - 1);
  }

  void Grow(size_t need) {
    size_t grown = capacity < 4096 ? 4096 : capacity * 2;
    while (grown - used < need) {
      grown *= 2;
    }
    std::unique_ptr<char[]> bigger(new char[grown]);
    if (used != 0) {
      std::memcpy(bigger.get(), block.get(), used);
    }
    block = std::move(bigger);
    capacity = grown;
  }

  std::unique_ptr<char[]> block;
  size_t capacity = 0;
  size_t used = 0;
  size_t count = 0;
};

}  // namespace moxlog

#endif  // MOXLOG_RECORD_BATCH_H_
