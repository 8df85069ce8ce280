// The crash-time dump of the memory rings (MoxlogEnableCrashDump). Handlers for SIGSEGV, SIGBUS,
// SIGILL, SIGFPE and SIGABRT write every module's ring into its log file, in the lines of a
// MoxlogMemToFile dump, using only async-signal-safe calls, then put the previous handler back
// and raise the signal again.
//
// The handler cannot take the registry lock (a crashed thread may hold it, and locking a mutex is
// not async-signal-safe), so the registry keeps a fixed table of its loggers for it: the registry
// adds a logger right after creating it and takes it out before stopping or deleting it, both
// with its lock held. Table slots are atomic words that a handler claims for the time it reads the
// logger; taking a logger out waits while a handler has claimed it, so a logger is never deleted
// under a dump.
//
// Each logger's file lock (which guards its ring, descriptor and parameters) is only tried, with
// std::mutex::try_lock, repeated for at most 200 ms in all. pthread_mutex_trylock is not on the
// POSIX list of async-signal-safe functions; on Linux a normal mutex's try-lock is one atomic
// compare-and-swap with no system call, it never blocks, and it fails on a lock the crashed
// thread itself holds, which is what the handler needs. The handler marks the lock as wanted
// first, so that a flush thread waiting for a rotated file with the lock held stops waiting. A
// module whose lock stays held is skipped with a report on standard error.
#ifndef MOXLOG_CRASH_DUMP_H_
#define MOXLOG_CRASH_DUMP_H_

#include <cstddef>
#include <string>

namespace moxlog {

class MoxlogBl;

// Loggers a registry can hold: 65 modules of the callers' naming plus the default module.
constexpr size_t CRASH_DUMP_SLOTS = 66;

// With the registry lock held: makes `logger`, registered under `moduleName`, visible to the
// crash handler. A logger beyond CRASH_DUMP_SLOTS is not dumped.
void CrashDumpTrack(MoxlogBl* logger, const std::string& moduleName);

// With the registry lock held: hides `logger` from the crash handler, waiting while a handler on
// another thread is writing its ring. Call before stopping or deleting the logger.
void CrashDumpUntrack(MoxlogBl* logger);

}  // namespace moxlog

#endif  // MOXLOG_CRASH_DUMP_H_
