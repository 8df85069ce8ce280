// Replaces the global operator new and delete of a test program with versions that count the
// allocations of the calling thread and can make a chosen one fail. Include it in exactly one
// source file of a program (every test program here is one file).
#ifndef ORV_TEST_COUNTING_NEW_H_
#define ORV_TEST_COUNTING_NEW_H_

#include <cstddef>
#include <cstdlib>
#include <new>

namespace orv_test {
namespace counting_new_detail {

inline thread_local std::size_t allocations = 0;
// Allocations of this thread left before one fails; negative: none fails.
inline thread_local long allocationsBeforeFailure = -1;

inline void* Allocate(std::size_t size) noexcept {
  if (allocationsBeforeFailure == 0) {
    allocationsBeforeFailure = -1;
    return nullptr;
  }
  if (allocationsBeforeFailure > 0) {
    --allocationsBeforeFailure;
  }
  ++allocations;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace counting_new_detail

// Allocations made by the calling thread so far.
inline std::size_t AllocationsOnThisThread() { return counting_new_detail::allocations; }

// Makes the allocation after the next `n` of the calling thread fail (n = 0: the next one);
// a negative n cancels a pending failure.
inline void FailAllocationAfter(long n) { counting_new_detail::allocationsBeforeFailure = n; }

// Runs `call` with the allocation after the next `failAt` of the calling thread failing; the
// failure is disarmed before control returns, whatever happens.
template <typename Call>
decltype(auto) WithFailureAfter(long failAt, Call call) {
  struct Disarm {
    ~Disarm() { FailAllocationAfter(-1); }
  } disarm;
  FailAllocationAfter(failAt);
  return call();
}

}  // namespace orv_test

// Out of line, so that the compiler does not see malloc/free pairs where callers use new/delete.
__attribute__((noinline)) void* operator new(std::size_t size) {
  if (void* p = orv_test::counting_new_detail::Allocate(size)) {
    return p;
  }
  throw std::bad_alloc();
}
__attribute__((noinline)) void* operator new[](std::size_t size) { return operator new(size); }
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return orv_test::counting_new_detail::Allocate(size);
}
__attribute__((noinline)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return orv_test::counting_new_detail::Allocate(size);
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

#endif  // ORV_TEST_COUNTING_NEW_H_
