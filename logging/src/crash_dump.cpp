// The crash-time ring dump: the table of loggers the handler may read, the handler itself and its
// installation (MoxlogEnableCrashDump). Everything the handler runs is async-signal-safe: atomics,
// mutex try-locks, clock_gettime, nanosleep, openat, fstat, write, close, sigaction and raise; it
// formats lines with the allocation-free FormatLogLine into a static buffer.
#include "crash_dump.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>

#include "log_line.h"
#include "log_param.h"
#include "module_logger.h"
#include "no_link_open.h"

namespace moxlog {

namespace {

// Module names are kept for the handler's reports, cut at this many characters.
constexpr size_t NAME_KEEP = 255;
// How long the handler waits, in total over all modules, for file locks other threads hold.
constexpr long LOCK_WAIT_BUDGET_NS = 200L * 1000L * 1000L;
constexpr long POLL_NS = 1000L * 1000L;
// A slot holds 0 (free), a logger's address, or that address with CLAIMED set while a handler
// reads the logger. MoxlogBl is aligned to more than 1, so the low bit is free.
constexpr uintptr_t CLAIMED = 1;
static_assert(alignof(MoxlogBl) > 1, "the claim bit needs an aligned logger address");

std::atomic<uintptr_t> g_slots[CRASH_DUMP_SLOTS];
char g_names[CRASH_DUMP_SLOTS][NAME_KEEP + 1];

// 0 no dump yet, 1 a handler is dumping, 2 the dump is over (later crashes do not dump again:
// the rings are left as they were, so a second dump would repeat the first).
std::atomic<int> g_dumpState{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<uintptr_t>::is_always_lock_free,
              "the handler needs lock-free atomics");

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
struct sigaction g_previous[kSignalCount];
std::mutex g_installMutex;
bool g_installed = false;

// The alternate signal stack given to the thread that enables the dump, if it has none.
constexpr size_t ALT_STACK_SIZE = 64 * 1024;
alignas(16) char g_altStack[ALT_STACK_SIZE];
bool g_altStackGiven = false;

// Where the handler assembles lines; one dump runs at a time (g_dumpState).
char g_chunk[FLUSH_BUF_SIZE];

void Nap() {
  timespec pause{0, POLL_NS};
  nanosleep(&pause, nullptr);
}

long long NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// An error report line built without printf: "MoxLog ERROR: " and the pieces, on descriptor 2.
class Report {
 public:
  Report() { Add("MoxLog ERROR: "); }
  Report& Add(std::string_view text) {
    const size_t n = text.size() < sizeof(buf) - 1 - len ? text.size() : sizeof(buf) - 1 - len;
    std::memcpy(buf + len, text.data(), n);
    len += n;
    return *this;
  }
  Report& Add(long value) {
    char digits[24];
    size_t pos = sizeof digits;
    unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
      digits[--pos] = static_cast<char>('0' + magnitude % 10UL);
      magnitude /= 10UL;
    } while (magnitude != 0UL);
    if (value < 0) {
      digits[--pos] = '-';
    }
    return Add(std::string_view(digits + pos, sizeof digits - pos));
  }
  void Send() {
    buf[len++] = '\n';
    const ssize_t ignored = write(STDERR_FILENO, buf, len);
    static_cast<void>(ignored);
  }

 private:
  char buf[LOG_MSG_LIMIT + 64];
  size_t len = 0;
};

// Chunk sink: writes the whole chunk, repeating after EINTR and short writes; gives up on errors.
void WriteAll(void* context, const char* data, size_t len) {
  const int fd = *static_cast<const int*>(context);
  size_t done = 0;
  while (done < len) {
    const ssize_t n = write(fd, data + done, len - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

// Reads a logger's private state for the handler.
class CrashDumpAccess {
 public:
  // Writes the ring of `logger` into its log file, or reports why not. `deadline` bounds the wait
  // for a file lock another thread holds.
  static void Dump(MoxlogBl& logger, const char* name, long long deadline) {
    // A flush thread waiting for a rotated file with the lock held stops waiting.
    logger.fileWanted.fetch_add(1, std::memory_order_relaxed);
    while (!logger.fileMutex.try_lock()) {
      if (NowNs() >= deadline) {
        logger.fileWanted.fetch_sub(1, std::memory_order_relaxed);
        Report().Add("Crash dump skips module[").Add(name).Add("]: its lock is held.").Send();
        return;
      }
      Nap();
    }
    logger.fileWanted.fetch_sub(1, std::memory_order_relaxed);
    WriteRing(logger);
    logger.fileMutex.unlock();
  }

 private:
  // fileMutex held.
  static void WriteRing(MoxlogBl& logger) {
    const MoxRingbuffer* ring = logger.memLogRing.get();
    if (ring == nullptr || ring->Count() == 0) {
      return;
    }
    int fd = logger.fdLogFile;
    const bool ownFd = fd < 0;
    if (ownFd) {
      fd = OpenNoLinks(logger.fullFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND, static_cast<mode_t>(LOG_FILE_MODE));
      if (fd < 0) {
        Report().Add("Crash dump cannot open log_file[").Add(logger.fullFileName).Add("]. errno=[").Add(errno).Add(
            "]").Send();
        return;
      }
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      // A pipe or device could block the handler for good.
      Report().Add("Crash dump skips log_file[").Add(logger.fullFileName).Add("]: not a regular file.").Send();
    } else {
      LineChunker chunker(g_chunk, &WriteAll, &fd);
      const int fileLevel = logger.fileLogLevel;
      const int memLevel = logger.memLogLevel;
      ring->ForEachHeld([&](const MoxlogEntry& record) {
        if (record.logLevel > fileLevel && record.logLevel > memLevel) {
          return;  // as MoxlogMemToFile filters
        }
        chunker.Commit(
            FormatLogLine(chunker.Slot(), true, record.logTime, record.logType, record.logLevel, record.logMsg));
      });
      chunker.Finish();
    }
    if (ownFd) {
      close(fd);
    }
  }
};

namespace {

void DumpAllRings() {
  const long long deadline = NowNs() + LOCK_WAIT_BUDGET_NS;
  for (size_t i = 0; i < CRASH_DUMP_SLOTS; ++i) {
    uintptr_t value = g_slots[i].load(std::memory_order_acquire);
    if (value == 0 || (value & CLAIMED) != 0) {
      continue;
    }
    if (!g_slots[i].compare_exchange_strong(value, value | CLAIMED, std::memory_order_acq_rel)) {
      continue;  // taken out just now
    }
    CrashDumpAccess::Dump(*reinterpret_cast<MoxlogBl*>(value), g_names[i], deadline);
    g_slots[i].store(value, std::memory_order_release);
  }
}

void CrashHandler(int sig, siginfo_t*, void*) {
  const int savedErrno = errno;
  int state = 0;
  if (g_dumpState.compare_exchange_strong(state, 1, std::memory_order_acq_rel)) {
    DumpAllRings();
    g_dumpState.store(2, std::memory_order_release);
  } else {
    // Another thread crashed first: let it finish its dump before the process goes down.
    while (g_dumpState.load(std::memory_order_acquire) == 1) {
      Nap();
    }
  }
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == sig) {
      sigaction(sig, &g_previous[i], nullptr);
    }
  }
  // The signal is blocked while this handler runs: it is delivered again, to the previous
  // handler, as soon as this one returns (a fault would also recur on the faulting instruction).
  raise(sig);
  errno = savedErrno;
}

// Gives the calling thread an alternate signal stack when it has none, once per process, so that
// a stack overflow on this thread can still be dumped.
void GiveAltStack() {
  if (g_altStackGiven) {
    return;
  }
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) {
    return;
  }
  stack_t ours{};
  ours.ss_sp = g_altStack;
  ours.ss_size = sizeof g_altStack;
  ours.ss_flags = 0;
  if (sigaltstack(&ours, nullptr) == 0) {
    g_altStackGiven = true;
  }
}

}  // namespace

void CrashDumpTrack(MoxlogBl* logger, const std::string& moduleName) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(logger);
  for (size_t i = 0; i < CRASH_DUMP_SLOTS; ++i) {
    if (g_slots[i].load(std::memory_order_relaxed) != 0) {
      continue;
    }
    // A free slot is not read by any handler, so its name may be written now.
    const size_t n = moduleName.size() < NAME_KEEP ? moduleName.size() : NAME_KEEP;
    std::memcpy(g_names[i], moduleName.data(), n);
    g_names[i][n] = '\0';
    g_slots[i].store(value, std::memory_order_release);
    return;
  }
}

void CrashDumpUntrack(MoxlogBl* logger) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(logger);
  for (size_t i = 0; i < CRASH_DUMP_SLOTS; ++i) {
    if ((g_slots[i].load(std::memory_order_relaxed) & ~CLAIMED) != value) {
      continue;
    }
    uintptr_t expected = value;
    while (!g_slots[i].compare_exchange_weak(expected, 0, std::memory_order_acq_rel)) {
      expected = value;
      Nap();  // a handler is writing this logger's ring
    }
    return;
  }
}

}  // namespace moxlog

int MoxlogEnableCrashDump() {
  using namespace moxlog;
  try {
    std::lock_guard<std::mutex> lock(g_installMutex);
    if (g_installed) {
      return 0;
    }
    struct sigaction ours {};
    ours.sa_sigaction = CrashHandler;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    // A fault inside the handler then ends the process by that signal instead of re-entering.
    for (const int sig : kSignals) {
      sigaddset(&ours.sa_mask, sig);
    }
    for (size_t i = 0; i < kSignalCount; ++i) {
      if (sigaction(kSignals[i], &ours, &g_previous[i]) != 0) {
        while (i-- > 0) {
          sigaction(kSignals[i], &g_previous[i], nullptr);
        }
        return -1;
      }
    }
    GiveAltStack();
    g_installed = true;
    return 0;
  } catch (const std::exception&) {
    return -1;  // the install lock failed
  }
}
