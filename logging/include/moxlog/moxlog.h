// libmoxlog: per-module asynchronous logging.
//
// A caller registers a logging module under a name, from a MoxlogParam record or from a section of
// a parameter file. Each module owns a log file under "/var/log/" or "/home/", a file threshold, a
// memory threshold, a ring of recent records in memory and a flush thread that writes queued
// records to the file. A record of level L reaches the file when L <= fileLogLevel and the memory
// ring when L <= memLogLevel (0 is the most severe level; levels outside 0..4 are not refused).
//
// Results: 0 success; 1 the named module is not registered (and, for the functions that fall back
// to it, no default module "moxlog" either); other codes as stated per function. Failures of the
// library itself are reported on standard error, one line "MoxLog ERROR: " + text, and never
// written into a log file.
//
// Modules: once the registry holds 65 modules, every further start, whatever name it gives, goes
// to the default module "moxlog". Writes, dumps and queries that name an unregistered module reach
// "moxlog" when it is registered.
//
// Threads: every function may be called from any thread. All of them except MoxlogGetVersion hold
// one process-wide recursive lock for the whole call, so calls of all modules are serialised: a
// write waits while another thread starts a module (path checks, a parameter file read), dumps a
// ring or stops a module (which waits for its flush thread to write what is queued). The lock is
// recursive: a thread inside the library may call it again.
//
// Exceptions (the same rule in moxlog.h, orv_ec.h and orv_alloc.h): std::bad_alloc is the only
// exception that leaves these libraries, and only from the functions whose comments name it:
// those that grow a container passed in by the caller. It means memory ran out; each such comment
// says what the caller's containers hold then. Every other function, and every other failure,
// ends with a result or a log line, never an exception; libmoxlog throws nothing at all.
#ifndef MOXLOG_MOXLOG_H_
#define MOXLOG_MOXLOG_H_

#include <cstdint>
#include <string>

// Version of this header and of the libmoxlog.so.1 it belongs to; MoxlogGetVersion reports it as
// "V<major>.<minor>.<patch>".
#define MOXLOG_VERSION_MAJOR 1
#define MOXLOG_VERSION_MINOR 0
#define MOXLOG_VERSION_PATCH 0

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

// Registers the module param.usrModuleName (or reuses it) and starts it. An empty name first
// replaces all six fields by the default record ("moxlog", "/var/log/", level 0 to the file,
// level 1 to memory, 100 records). `param` is then completed in place, whatever follows: a "/"
// appended to fullPath, fullFileName rebuilt, memLogSize clamped to 100..1000. The start checks
// the directory (it must lie under "/var/log/" or "/home/", at most 4096 characters; up to 100
// missing levels are created with mode 0700), then creates the ring and the flush thread and
// queues a "Print current param:" record at level 0.
// Returns 0 on success, and also when the module already runs: its parameters are then kept (only
// a reload changes them). 3 when the log path is refused ("Log file full name is fault. [%s]");
// -99 when memory, the ring or the thread cannot be had. On failure the module stays registered,
// not started; a later call for the name tries again.
// Cost: path resolution and directory checks on the caller's thread, one thread start.
MOXLOG_API int MoxlogSetAndInit(MoxlogParam& param);

// Registers `moduleName` (or reuses it; empty: "moxlog") and starts it from the section
// "[moduleName]" of the parameter file (keys full_path, log_level, mem_log_size; the first
// matching line wins). A file that is missing, unreadable, not a regular file, or whose resolved
// path holds a character other than letters, digits, "/", "-", "_", " " and ".", or a missing
// section: reported, and the module starts with the default record, its name included (it then
// writes "/var/log/moxlog.log"). A wrong level word prints "ORV_EC log level is wrong." and counts
// as 0.
// Returns -1 when the path cannot be resolved (for a reason other than a missing component) or
// the file's full_path is empty or longer than 4096 characters (the module stays registered, not
// started); -99 when memory runs out; otherwise as the record form.
// Cost: the file is read four times (section check and three keys) with the lock held.
MOXLOG_API int MoxlogSetAndInit(const std::string& moduleName, const std::string& paramFilepath);

// Stops `moduleName` (as MoxlogStopRecordLog) and then starts param's module afresh (as the record
// form of MoxlogSetAndInit, which completes `param`). 1 when `moduleName` is not registered: then
// nothing is stopped and `param` is not used. The two steps take the lock one after the other:
// in between, writes naming the module reach the default module or fail with 1.
MOXLOG_API int MoxlogReloadParam(const std::string& moduleName, MoxlogParam& param);

// Stops `oldModuleName` and starts `newModuleName` from the parameter file, as the two functions
// above. 1 when `oldModuleName` is not registered (the file is then not read).
MOXLOG_API int MoxlogReloadFileParam(const std::string& oldModuleName, const std::string& newModuleName,
                                     const std::string& paramFilepath);

// Stops the module and removes it: dumps its memory ring into the file, lets the flush thread
// write what is queued and end, closes the file and deletes the module. The name is looked up
// exactly (no fallback); an empty name is reported ("ModuleName is empty, set default.") and taken
// as "moxlog". 0 removed; 1 not registered ("MoxlogStopRecordLog. Can not find moduleName[%s].
// size[%ld]"); -1 when the lock itself fails (nothing removed). Without memory for the ring dump
// the stop goes on and the ring's records are lost (reported as for MoxlogMemToFile).
// Cost: waits for the flush thread to write up to 10000 queued records, with the lock held.
MOXLOG_API int MoxlogStopRecordLog(const std::string& moduleName);

// Queues one printf-style record for `moduleName`, or for the default module when that name is
// not registered. The message is cut at 511 characters (and at a NUL it contains); the level is
// not checked. A record whose level passes neither threshold of a running module is dropped before
// formatting. Returns 0 when taken, and also when dropped: level filtered, 10000 records already
// waiting ("More than VEC_NEW_MAX." reported), or the log file grown past 100 MiB (the flush
// thread reports it); 1 no such module and no default module ("MoxlogWriteLog. Can not find
// moduleName[%s]"); 3 null format, after the lookup, without a report; -1 formatting failed
// ("MoxlogWriteLog vsprintf_s"), the module is registered but not started, or memory ran out.
// Cost on the caller's thread: the lookup, formatting into a stack buffer, a copy into a reused
// queue slot (no allocation once warm) and, when the flush thread sleeps, waking it. File I/O
// happens on the flush thread. Measured (bench/logging_bench.cpp, Release, x86-64 at 2.0 GHz, CPU
// time of the caller's thread): about 35 ns for a filtered record, 0.55 us for a queued one.
MOXLOG_API int MoxlogWriteLog(int level, const std::string& moduleName, const std::string& logType,
                              const char* format, ...) __attribute__((format(printf, 4, 5)));

// Writes the module's memory ring into its log file, oldest record first, each line starting with
// "MemLog >> ", and empties the ring. Falls back to the default module like MoxlogWriteLog.
// 0 done (also for a module that is registered but not started: nothing to write, and when there
// is no memory for the dump: "MemlogToFile no memory, ring not dumped." is reported and the ring
// kept); 1 no such module and no default module ("MoxlogMemToFile. Can not find
// moduleName[%s]"); -1 when the lock itself fails.
// Cost: up to memLogSize (at most 1000) records written to the file on the caller's thread, with
// the lock held.
MOXLOG_API int MoxlogMemToFile(const std::string& moduleName);

// Copies the module's current parameters into `param` (fullFileName: the canonical path of the
// file it writes). Falls back to the default module like MoxlogWriteLog. 0 done; 1 no such module
// and no default module ("MoxlogGetCurParam. Can not find moduleName[%s]"), `param` untouched; -1
// when memory runs out (`param` may then be partly written).
MOXLOG_API int MoxlogGetCurParam(const std::string& moduleName, MoxlogParam& param);

// Sets `version` to "V1.0.0" ("V" MOXLOG_VERSION_MAJOR "." MINOR "." PATCH). Always 0; takes no
// lock and allocates nothing.
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
