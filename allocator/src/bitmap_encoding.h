// The encoding of the three bitmap levels, named once: a level-0 word holds one free bit per
// unit; a level-1 word holds a 2-bit state per slot, a level-2 word a 1-bit flag per entry. A slot
// covers W level-0 words and an entry W level-1 words, so a field of an upper level has
// W x (fields per child word) children. Also the level sizes a level 0 of a given length needs.
#ifndef ORV_ALLOC_BITMAP_ENCODING_H_
#define ORV_ALLOC_BITMAP_ENCODING_H_

#include <cstdint>

namespace orv_alloc {

// One upper level's packing of fields into 64-bit words.
struct FieldEncoding {
  unsigned fieldBits;      // bits per field
  unsigned fieldsPerWord;  // 64 / fieldBits
  uint64_t fieldMask;      // the low fieldBits bits
};

constexpr unsigned kWordBits = 64;
constexpr unsigned kUnitsPerWord = kWordBits;  // level 0: one bit per unit

constexpr FieldEncoding MakeEncoding(unsigned fieldBits) {
  return FieldEncoding{fieldBits, kWordBits / fieldBits, (uint64_t{1} << fieldBits) - 1};
}
constexpr FieldEncoding kSlotEncoding = MakeEncoding(2);   // level 1: 00 / 01 / 11 per slot
constexpr FieldEncoding kEntryEncoding = MakeEncoding(1);  // level 2: one bit per entry

// Level-1 slot states.
constexpr uint64_t kSlotNoneFree = 0u;  // 00
constexpr uint64_t kSlotSomeFree = 1u;  // 01
constexpr uint64_t kSlotAllFree = 3u;   // 11

inline uint64_t CeilDiv(uint64_t a, uint64_t b) { return a / b + (a % b != 0 ? 1u : 0u); }

// Words of level 1 and level 2 for a level 0 of `l0Words` words; w != 0. Level 2 has at least one
// word, which the search needs.
inline uint64_t LevelOneWords(uint64_t l0Words, uint64_t w) {
  return CeilDiv(CeilDiv(l0Words, w), kSlotEncoding.fieldsPerWord);
}
inline uint64_t LevelTwoWords(uint64_t l1Words, uint64_t w) {
  const uint64_t words = CeilDiv(CeilDiv(l1Words, w), kEntryEncoding.fieldsPerWord);
  return words == 0 ? 1 : words;
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_BITMAP_ENCODING_H_
