// libmoxlog: per-module asynchronous logging.
//
// A caller registers a logging module under a name, from a MoxlogParam record or from a section of
// a parameter file. Each module owns a log file under "/var/log/" or "/home/", a file threshold, a
// memory threshold, a ring of recent records in memory and a flush thread that writes queued
// records to the file. A record of level L reaches the file when L <= fileLogLevel and the memory
// ring when L <= memLogLevel (0 is the most severe level).
//
// Results: 0 success; 1 the named module is not registered (and, for lookups that fall back, no
// default module "moxlog" exists either); other codes as documented per function. Failures of the
// library itself are reported on standard error with the prefix "MoxLog ERROR: " and never written
// into a log file. Every function is safe to call from any thread.
#ifndef MOXLOG_MOXLOG_H_
#define MOXLOG_MOXLOG_H_

#include <cstdint>
#include <string>

#define MOXLOG_API __attribute__((visibility("default")))

// Log levels; smaller is more severe.
constexpr int MOXLOG_CRITICAL = 0;
constexpr int MOXLOG_ERROR = 1;
constexpr int MOXLOG_WARNING = 2;
constexpr int MOXLOG_INFORMATION = 3;
constexpr int MOXLOG_DEBUG = 4;

// The default record's texts (every program unit that includes this header has its own copy).
constexpr char DEFAULT_MODULE_NAME[] = "moxlog";
constexpr char DEFAULT_FULL_PATH[] = "/var/log/";
constexpr char DEFAULT_FULL_FILE_NAME[] = "/var/log/moxlog.log";

// Parameters of one logging module. After completion by MoxlogSetAndInit: fullPath ends with "/",
// fullFileName is fullPath + usrModuleName + ".log", memLogSize lies in 100..1000.
struct MoxlogParam {
  std::string usrModuleName;
  std::string fullPath;
  std::string fullFileName;
  int fileLogLevel;
  int memLogLevel;
  uint32_t memLogSize;
};

// One log record as it travels from a write to the file and the memory ring.
struct MoxlogEntry {
  int logLevel;
  std::string logType;
  std::string logMsg;
  std::string logTime;  // "%4d-%02d-%02d %02d:%02d:%02d.%06ld", local time of the write
};

// Registers (or reuses) the module param.usrModuleName and starts it; an empty name selects the
// default record. `param` is completed in place. Returns 0 on success (also when the module was
// already running: its parameters are then kept), 3 when the log path is refused, -99 when a
// buffer, the ring or the thread cannot be had.
MOXLOG_API int MoxlogSetAndInit(MoxlogParam& param);

// Registers (or reuses) `moduleName` and starts it from the section "[moduleName]" of the
// parameter file (keys full_path, log_level, mem_log_size). A missing or unusable file or section
// starts the module with the default record. Returns -1 when the path cannot be resolved or the
// directory given by the file is empty or too long, otherwise as the record form.
MOXLOG_API int MoxlogSetAndInit(const std::string& moduleName, const std::string& paramFilepath);

// Stops `moduleName` and starts param's module afresh. 1 when `moduleName` is not registered.
MOXLOG_API int MoxlogReloadParam(const std::string& moduleName, MoxlogParam& param);

// Stops `oldModuleName` and starts `newModuleName` from the parameter file. 1 when
// `oldModuleName` is not registered (the file is then not read).
MOXLOG_API int MoxlogReloadFileParam(const std::string& oldModuleName, const std::string& newModuleName,
                                     const std::string& paramFilepath);

// Dumps the memory ring, writes what is queued, closes the file and removes the module.
// 0 removed, 1 not registered.
MOXLOG_API int MoxlogStopRecordLog(const std::string& moduleName);

// Queues one printf-style record (cut at 511 characters) for `moduleName`, or for the default
// module when that name is not registered. A record whose level passes neither threshold of a
// running module is not even formatted. 0 taken (or dropped: level filtered, full queue,
// oversized file), 1 no such module, 3 null format, -1 formatting failed or module not started.
MOXLOG_API int MoxlogWriteLog(int level, const std::string& moduleName, const std::string& logType,
                              const char* format, ...) __attribute__((format(printf, 4, 5)));

// Writes the module's memory ring into its log file (lines start with "MemLog >> ") and empties
// it. 0 done, 1 no such module.
MOXLOG_API int MoxlogMemToFile(const std::string& moduleName);

// Copies the module's current parameters into `param`. 0 done, 1 no such module (param untouched).
MOXLOG_API int MoxlogGetCurParam(const std::string& moduleName, MoxlogParam& param);

// Sets `version` to "V1.0.0". Always 0.
MOXLOG_API int MoxlogGetVersion(std::string& version);

// Opt-in crash dump of the memory rings. Installs handlers for SIGSEGV, SIGBUS, SIGILL, SIGFPE and
// SIGABRT that write the ring of every registered module into its log file, in the lines of
// MoxlogMemToFile ("MemLog >> " + time stamp, tab, type, blank, level, blank, message), then put
// back the handler that was installed before and raise the signal again, so the process ends (or
// the earlier handler runs) as it would have without the dump. Returns 0 when the handlers are
// installed (also when an earlier call installed them: a second call changes nothing), non-zero
// when they cannot be, in which case the earlier handlers stay in place.
//
// The handlers use async-signal-safe calls only and never take the registry lock. A module whose
// file lock another thread still holds after 200 ms in all (or that the crashed thread itself
// holds) is skipped with a report on standard error ("MoxLog ERROR: Crash dump skips
// module[NAME]: its lock is held."); so is a log file that is not a regular file. The rings are
// written as they are and not emptied; records still queued for the flush thread are not
// written. Only the first crash of a process dumps; a thread that crashes while another dumps
// waits for that dump to end.
//
// Stack overflow: a handler runs on the thread's alternate signal stack when it has one (the
// thread that calls this function is given one if it has none); on any other thread a stack
// overflow ends the process by SIGSEGV without a dump.
MOXLOG_API int MoxlogEnableCrashDump();

#endif  // MOXLOG_MOXLOG_H_
