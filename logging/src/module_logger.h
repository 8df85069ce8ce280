// MoxlogBl: one logging module. A caller's write only reads the clock and queues the record under
// a short lock; the module's flush thread takes the whole queue at once, reopens the log file by
// name, checks its size, writes the lines in chunks and keeps recent records in the memory ring.
//
// Calling order: construct, Init, any number of WriteLog / GetCurParam / MemlogToFile, then
// StopRecordLog, then destruction or a new Init. Callers serialise these calls (the registry does
// so with its lock); the flush thread shares the logger only through fileMutex and vecMutex, always
// taken in that order, and the atomic count fileWanted.
#ifndef MOXLOG_MODULE_LOGGER_H_
#define MOXLOG_MODULE_LOGGER_H_

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "log_clock.h"
#include "mem_ring.h"
#include "record_batch.h"
#include "moxlog/moxlog.h"

namespace moxlog {

// Entry point of a flush thread: `arg` is the logger; runs its ThreadFuncBody, returns null.
void* ThreadFunc(void* arg);

class MoxlogBl {
 public:
  // An idle logger with the default parameters; no file, thread, buffer or ring yet.
  MoxlogBl();
  // Stops the logger first (ring dumped, queue written, thread joined, file closed).
  ~MoxlogBl();
  MoxlogBl(const MoxlogBl&) = delete;
  MoxlogBl& operator=(const MoxlogBl&) = delete;

  // Starts the logger with the completed record `param`: checks and creates the log directory,
  // creates the ring and the flush thread. 0 on success, and 0 without any change when already
  // initialised; 3 when the path is refused; -99 when a buffer, the ring or the thread cannot be
  // had. On failure the logger stays not initialised.
  int Init(MoxlogParam param);

  // Queues one record (message already formatted). -1 when not initialised, else 0, also when
  // the record is dropped: its level passes neither threshold, the queue holds VEC_NEW_MAX records
  // (reported) or the log file is over MAX_LOG_FILE_SIZE.
  int WriteLog(int level, const std::string& logType, const std::string& logMsg);
  // The same for a message given as `len` characters at `msg` (the exported write path, which
  // thereby avoids one copy). While the logger runs, several threads may call this at once, also
  // without the registry lock, as long as the logger is not stopped meanwhile (level_table.h).
  int WriteLogText(int level, const std::string& logType, const char* msg, size_t len);

  // True when a record of `level` reaches the file or the ring. The thresholds of a running
  // logger never change, so a caller holding the registry lock may test this before formatting.
  bool Passes(int level) const { return level <= fileLogLevel || level <= memLogLevel; }
  bool IsInitialized() const { return initialized; }
  int FileLogLevel() const { return fileLogLevel; }
  int MemLogLevel() const { return memLogLevel; }

  // Queues the seven-line record "Print current param:" with the current parameters, at level 0
  // with an empty type.
  void RecordParam();

  // Copies the current parameters (fullFileName: the canonical path of the file) into `out`.
  void GetCurParam(MoxlogParam& out);

  // Takes every record out of the ring and writes them, oldest first, as "MemLog >> " lines.
  // Without memory for the copy it reports "MemlogToFile no memory, ring not dumped." and keeps
  // the ring; it never throws, so neither does StopRecordLog.
  void MemlogToFile();

  // Dumps the ring, lets the flush thread write what is queued and end, closes the file. The
  // logger keeps its buffers, ring and parameters. Always 0.
  int StopRecordLog();

 private:
  friend void* ThreadFunc(void* arg);
  friend class CrashDumpAccess;  // reads the ring, the file and the thresholds after a crash

  // 0 when the flush thread runs (started now or before), 1 when it cannot be started, -99
  // when the ring cannot be had. Called by Init with fileMutex held.
  int CreateThread();
  void ThreadFuncBody();
  // Reopens the log file and checks its size; sets fileBlocked while new records must be refused.
  // The pass that clears fileBlocked reports how many records were refused meanwhile.
  void ExamineLogFile();
  // Adds the records refused since the last pass to the count of the block's cause. vecMutex held.
  void CountDrops();
  // Reports the counted refusals in one line, if any, and starts counting afresh.
  void ReportDrops();
  // Takes the whole queue and writes it; the flush thread's batch.
  void FlushToFile();
  // Writes a batch (filling the ring) or a ring dump. fileMutex held.
  void DoFlush(const RecordBatch& records);
  void DoFlushMem(const std::vector<MoxlogEntry>& records);
  // Chunk sink of both: opens the file first when none is open (at most once per flush).
  static void WriteChunk(void* self, const char* data, size_t len);
  // Writes `len` bytes of `text` to the open file. 0 done, 8 no file, errno of a failed write.
  int LogWriteFile(const char* text, int len);
  // Closes the file and opens fullFileName again, never through a symbolic link and never
  // outside the validated directory. fileMutex held. With `waitForRotation`, when the file that
  // was open is gone, waits up to ROTATION_GRACE (150 ms) for another one to appear before
  // creating it, unless RotationWaitCut says to create it now.
  void ReOpenLogFile(bool waitForRotation);
  // True when the wait for a rotated file must end: a caller wants fileMutex (a stop, a dump,
  // GetCurParam), the logger is being stopped, or the queue holds half of VEC_NEW_MAX records.
  // fileMutex held; takes vecMutex.
  bool RotationWaitCut();
  // fileMutex for a caller's thread; a flush thread waiting for a rotated file meanwhile stops
  // waiting, so the caller is not held for the wait.
  std::unique_lock<std::mutex> LockFileForCaller();
  // Opens fullFileName by the validated path, creating it only with `create`. 0 when open;
  // ENOENT, unreported, when only the file is missing and `create` is false; otherwise reported,
  // and not ENOENT.
  int OpenLogFile(bool create);

  bool threadRunning = false;
  bool initialized = false;
  bool stopFlag = true;
  std::string realFileName;
  std::string realDir;  // the validated directory, ending in "/"
  std::string usrModuleName;
  std::string fullPath;
  std::string fullFileName;
  int fileLogLevel;
  int memLogLevel;
  uint32_t memLogSize;
  int fdLogFile = -1;
  pthread_t threadId{};
  std::mutex vecMutex;   // vecNewLog, the exchange, stopFlag, fileBlocked, flusherWaiting
  std::mutex fileMutex;  // parameters seen by the flush thread, fdLogFile, ring, buffers, file
  std::condition_variable newLogCond;
  RecordBatch vecNewLog;
  RecordBatch vecFlushLog;
  std::unique_ptr<char[]> flushBuf;
  std::unique_ptr<MoxRingbuffer> memLogRing;
  bool fileBlocked = false;
  bool blockedBySize = false;        // what fileBlocked stands for: the size limit (else no stat)
  uint64_t droppedWhileBlocked = 0;  // refused since the last pass; vecMutex
  uint64_t droppedOverLimit = 0;     // refused and not yet reported; the flush thread's own
  uint64_t droppedUnexamined = 0;
  bool flusherWaiting = false;  // the flush thread waits on newLogCond: a write must wake it
  bool openTried = false;       // WriteChunk already tried to open the file in this flush
  std::atomic<int> fileWanted{0};  // threads other than the flush thread waiting for fileMutex
  TimeStampFormatter timeStamps;
  MoxlogEntry ringScratch;      // reused for ring pushes, so they allocate nothing once warm
};

}  // namespace moxlog

#endif  // MOXLOG_MODULE_LOGGER_H_
