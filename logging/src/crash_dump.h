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
