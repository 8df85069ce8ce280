// Word-level helpers shared by the allocator's searches and level upkeep: the cursor's "unset"
// value, masks of bit runs, and lowest-set-bit and run-length queries on one 64-bit word.
#ifndef ORV_ALLOC_BIT_WORDS_H_
#define ORV_ALLOC_BIT_WORDS_H_

#include <cstdint>

namespace orv_alloc {

// The value of l0Pos / l1Pos that means "search the parent entry from its start".
constexpr uint64_t kUnsetPos = ~uint64_t{0};
constexpr uint64_t kAllOnes = ~uint64_t{0};

// The bits of `word` at positions >= from; from < 64.
inline uint64_t BitsFrom(uint64_t word, unsigned from) { return word & (kAllOnes << from); }

// Position of the lowest set bit; word != 0.
inline unsigned LowestSetBit(uint64_t word) { return static_cast<unsigned>(__builtin_ctzll(word)); }

// n consecutive set bits starting at bit b; 1 <= n and b + n <= 64 (so the shifts stay below 64).
inline uint64_t RunMask(unsigned b, unsigned n) { return (kAllOnes >> (64u - n)) << b; }

// Number of consecutive set bits of `word` starting at bit k (k < 64).
inline unsigned RunLengthFrom(uint64_t word, unsigned k) {
  const uint64_t inverted = ~(word >> k);  // the shift brings in zeros, so this ends at bit 64 - k
  return inverted == 0 ? 64u : LowestSetBit(inverted);
}

}  // namespace orv_alloc

#endif  // ORV_ALLOC_BIT_WORDS_H_
