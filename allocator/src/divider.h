// Division by a divisor known only at run time but almost always a power of two (the unit size,
// W, 64 x W): a shift and a mask when it is one, a hardware division otherwise. Divisions were the
// largest single cost of the searches and of a release.
#ifndef ORV_ALLOC_DIVIDER_H_
#define ORV_ALLOC_DIVIDER_H_

#include <cstdint>

namespace orv_alloc {

class Divider {
 public:
  // divisor != 0.
  explicit Divider(uint64_t divisor)
      : divisor_(divisor),
        shift_(static_cast<unsigned>(__builtin_ctzll(divisor))),
        powerOfTwo_((divisor & (divisor - 1)) == 0) {}

  uint64_t Quotient(uint64_t x) const { return powerOfTwo_ ? x >> shift_ : x / divisor_; }
  uint64_t Remainder(uint64_t x) const { return powerOfTwo_ ? x & (divisor_ - 1) : x % divisor_; }
  uint64_t Divisor() const { return divisor_; }

 private:
  uint64_t divisor_;
  unsigned shift_;
  bool powerOfTwo_;
};

}  // namespace orv_alloc

#endif  // ORV_ALLOC_DIVIDER_H_
