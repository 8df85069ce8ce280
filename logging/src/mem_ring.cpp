// The memory ring of a module logger: fixed slots allocated once per capacity, records copied in
// place (slot strings keep their capacity), taken out oldest first in one step.
#include "mem_ring.h"

#include <climits>
#include <new>
#include <utility>

#include "log_param.h"

namespace moxlog {

namespace {

uint32_t EffectiveCapacity(uint32_t capacity) {
  return capacity == 0 ? MEM_LOG_SIZE_DEFAULT : capacity;
}

}  // namespace

std::unique_ptr<MoxlogEntry[]> MoxRingbuffer::AllocateSlots(uint32_t slotCount) {
  // The record count is reported as an int; a larger ring is refused like a failed allocation.
  if (slotCount > static_cast<uint32_t>(INT_MAX)) {
    return nullptr;
  }
  return std::unique_ptr<MoxlogEntry[]>(new (std::nothrow) MoxlogEntry[slotCount]());
}

std::unique_ptr<MoxRingbuffer> MoxRingbuffer::Create(uint32_t capacity) {
  const uint32_t slotCount = EffectiveCapacity(capacity);
  std::unique_ptr<MoxlogEntry[]> slots = AllocateSlots(slotCount);
  if (!slots) {
    return nullptr;
  }
  MoxRingbuffer* ring = new (std::nothrow) MoxRingbuffer(std::move(slots), slotCount);
  return std::unique_ptr<MoxRingbuffer>(ring);
}

MoxRingbuffer::MoxRingbuffer(std::unique_ptr<MoxlogEntry[]> slots, uint32_t slotCount) {
  Adopt(std::move(slots), slotCount);
}

MoxRingbuffer::~MoxRingbuffer() = default;

void MoxRingbuffer::Adopt(std::unique_ptr<MoxlogEntry[]> slots, uint32_t slotCount) {
  storage = std::move(slots);
  capacity = slotCount;
  first = storage.get();
  last = slotCount == 0 ? first : first + (slotCount - 1);
  head = first;
  tail = first;
  count = 0;
}

void MoxRingbuffer::Resize(uint32_t newCapacity) {
  uint32_t slotCount = EffectiveCapacity(newCapacity);
  std::unique_ptr<MoxlogEntry[]> slots = AllocateSlots(slotCount);
  if (!slots) {
    PrintError("rebuild logring error, use default memlog size.");
    // Release the old slots first, so the fallback has the best chance.
    storage.reset();
    slotCount = MEM_LOG_SIZE_DEFAULT;
    slots = AllocateSlots(slotCount);
  }
  if (!slots) {
    // Out of memory altogether: the ring then holds nothing (pushes are dropped).
    slotCount = 0;
  }
  Adopt(std::move(slots), slotCount);
}

void MoxRingbuffer::Push(const MoxlogEntry& record) {
  if (capacity == 0) {
    return;
  }
  // Member-wise copy assignment: the slot's strings reuse their buffers when large enough.
  *tail = record;
  if (static_cast<uint32_t>(count) == capacity) {
    head = (head == last) ? first : head + 1;
  } else {
    ++count;
  }
  tail = (tail == last) ? first : tail + 1;
}

std::vector<MoxlogEntry> MoxRingbuffer::TakeAll() {
  std::vector<MoxlogEntry> records;
  records.reserve(static_cast<size_t>(count));
  const MoxlogEntry* slot = head;
  for (int i = 0; i < count; ++i) {
    records.push_back(*slot);
    slot = (slot == last) ? first : slot + 1;
  }
  head = first;
  tail = first;
  count = 0;
  return records;
}

uint32_t MoxRingbuffer::Capacity() const { return capacity; }

int MoxRingbuffer::Count() const { return count; }

}  // namespace moxlog
