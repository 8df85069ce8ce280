// Taking a mutex that its holders keep for well under a microsecond (a module's queue lock: a
// clock read and one append). When it is held, a short spin almost always sees it released,
// which costs far less than the sleep and wake-up in the kernel that blocking at once would take
// on both sides; only a holder that stays longer (descheduled, say) makes the caller block.
#ifndef MOXLOG_BRIEF_LOCK_H_
#define MOXLOG_BRIEF_LOCK_H_

#include <mutex>

namespace moxlog {

// Tries before blocking; with the pauses between them, a few microseconds at most.
constexpr int BRIEF_LOCK_TRIES = 64;

inline void PauseBriefly() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
  asm volatile("yield" ::: "memory");
#endif
}

// Locks `mutex` as mutex.lock() does, spinning a little first.
inline void LockBriefly(std::mutex& mutex) {
  for (int i = 0; i < BRIEF_LOCK_TRIES; ++i) {
    if (mutex.try_lock()) {
      return;
    }
    PauseBriefly();
  }
  mutex.lock();
}

}  // namespace moxlog

#endif  // MOXLOG_BRIEF_LOCK_H_
