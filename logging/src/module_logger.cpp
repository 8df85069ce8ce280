// The module logger: initialisation, the caller's write path, the flush thread, chunked writes,
// reopen by name, the size limit and the memory dump.
#include "module_logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "brief_lock.h"
#include "canonical_path.h"
#include "log_line.h"
#include "log_param.h"
#include "log_path.h"
#include "no_link_open.h"
#include "orv_platform/bounded_text.h"

namespace moxlog {

namespace {

// Largest chunk LogWriteFile writes.
constexpr int MAX_CHUNK = static_cast<int>(FLUSH_BUF_SIZE) - 1;

// A pass that finds its file gone gives a rotation tool this long to put the new file in place
// before it creates one itself, looking again at every ROTATION_POLL. Creating at once would race
// with a tool that renames the file and then creates it: whichever comes second finds the other's
// file, and the tool moves ours aside under a name it may overwrite at the next collision. A tool
// on a busy machine can be held up for tens of milliseconds between the two steps, hence the
// length; it stays well below the crash dump's 200 ms wait for the file lock, which the flush
// thread holds meanwhile. The wait ends early when it would cost records or hold a caller
// (RotationWaitCut).
constexpr auto ROTATION_GRACE = std::chrono::milliseconds(150);
constexpr auto ROTATION_POLL = std::chrono::microseconds(500);
// From this many queued records on, creating the file at once is better than waiting on, which
// would fill the queue and refuse records.
constexpr size_t ROTATION_QUEUE_CUT = VEC_NEW_MAX / 2;

// Blanks in front of each field of the parameter record.
#define MOXLOG_PARAM_INDENT "                           "

}  // namespace

void* ThreadFunc(void* arg) {
  static_cast<MoxlogBl*>(arg)->ThreadFuncBody();
  return nullptr;
}

MoxlogBl::MoxlogBl()
    : usrModuleName(DEFAULT_MODULE_NAME),
      fullPath(DEFAULT_FULL_PATH),
      fullFileName(DEFAULT_FULL_FILE_NAME),
      fileLogLevel(MOXLOG_CRITICAL),
      memLogLevel(MOXLOG_ERROR),
      memLogSize(MEM_LOG_SIZE_DEFAULT) {}

MoxlogBl::~MoxlogBl() { StopRecordLog(); }

int MoxlogBl::Init(MoxlogParam param) {
  if (initialized) {
    return 0;
  }
  if (!flushBuf) {
    flushBuf.reset(new (std::nothrow) char[FLUSH_BUF_SIZE + 1]);
    if (!flushBuf || memset_s(flushBuf.get(), FLUSH_BUF_SIZE + 1, 0, FLUSH_BUF_SIZE + 1) != EOK) {
      PrintError("Init memset_s");
      flushBuf.reset();
      return -99;
    }
  }
  std::string canonicalFile;
  std::string validatedDir;
  if (FilePathIsFault(param, canonicalFile, validatedDir)) {
    PrintError("Log file full name is fault. [%s]", param.fullFileName.c_str());
    return 3;
  }
  std::lock_guard<std::mutex> fileLock(fileMutex);
  realFileName = canonicalFile;
  realDir = validatedDir;
  param.fullFileName = realFileName;
  usrModuleName = param.usrModuleName;
  fullPath = param.fullPath;
  fullFileName = param.fullFileName;
  fileLogLevel = param.fileLogLevel;
  memLogLevel = param.memLogLevel;
  memLogSize = param.memLogSize;
  if (CreateThread() != 0) {
    return -99;
  }
  initialized = true;
  return 0;
}

int MoxlogBl::CreateThread() {
  if (threadRunning) {
    return 0;
  }
  const uint32_t capacity = memLogSize == 0 ? MEM_LOG_SIZE_DEFAULT : memLogSize;
  if (!memLogRing) {
    memLogRing = MoxRingbuffer::Create(capacity);
    if (!memLogRing) {
      return -99;
    }
  } else if (memLogRing->Capacity() != capacity) {
    memLogRing->Resize(capacity);
  }
  try {
    std::lock_guard<std::mutex> lock(vecMutex);
    stopFlag = false;
    const int r = pthread_create(&threadId, nullptr, ThreadFunc, this);
    if (r != 0) {
      std::fprintf(stderr, "Creating thread is failed ret= %d\n", r);
      std::fflush(stderr);
      stopFlag = true;
      return 1;
    }
    threadRunning = true;
    return 0;
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "Creating thread is failed, code: %s:%d message:%s\n", e.code().category().name(),
                 e.code().value(), e.code().message().c_str());
    std::fflush(stderr);
    stopFlag = true;
    return 1;
  }
}

int MoxlogBl::WriteLog(int level, const std::string& logType, const std::string& logMsg) {
  return WriteLogText(level, logType, logMsg.data(), logMsg.size());
}

int MoxlogBl::WriteLogText(int level, const std::string& logType, const char* msg, size_t len) {
  if (!initialized) {
    return -1;
  }
  if (!Passes(level)) {
    return 0;  // would reach neither the file nor the ring
  }
  bool queueFull = false;
  bool wake = false;
  {
    LockBriefly(vecMutex);
    std::lock_guard<std::mutex> lock(vecMutex, std::adopt_lock);
    // Read under the queue lock, so that concurrent writers' time stamps follow the queue order.
    const LogClock now = ReadLogClock();
    if (vecNewLog.size() >= VEC_NEW_MAX) {
      queueFull = true;
    } else if (fileBlocked) {
      ++droppedWhileBlocked;
    } else {
      vecNewLog.Append(level, now, logType.data(), logType.size(), msg, len);
    }
    // Also a dropped record wakes a waiting thread: its next pass checks the file size again.
    if (flusherWaiting) {
      flusherWaiting = false;
      wake = true;
    }
  }
  if (wake) {
    newLogCond.notify_all();
  }
  if (queueFull) {
    PrintError("More than VEC_NEW_MAX.");
  }
  return 0;
}

void MoxlogBl::RecordParam() {
  char text[LOG_MSG_LIMIT];
  const int n = sprintf_s(text, sizeof text,
                          "Print current param:"
                          "\n" MOXLOG_PARAM_INDENT "usrModuleName:%s"
                          "\n" MOXLOG_PARAM_INDENT "fullPath:%s"
                          "\n" MOXLOG_PARAM_INDENT "fullFileName:%s"
                          "\n" MOXLOG_PARAM_INDENT "fileLogLevel:%d"
                          "\n" MOXLOG_PARAM_INDENT "memLogLevel:%d"
                          "\n" MOXLOG_PARAM_INDENT "memLogSize:%u",
                          usrModuleName.c_str(), fullPath.c_str(), fullFileName.c_str(), fileLogLevel, memLogLevel,
                          memLogSize);
  if (n < 0) {
    return;  // longer than 511 characters: nothing is logged
  }
  const std::string noType;
  WriteLogText(MOXLOG_CRITICAL, noType, text, static_cast<size_t>(n));
}

std::unique_lock<std::mutex> MoxlogBl::LockFileForCaller() {
  fileWanted.fetch_add(1, std::memory_order_relaxed);
  std::unique_lock<std::mutex> lock(fileMutex);
  fileWanted.fetch_sub(1, std::memory_order_relaxed);
  return lock;
}

void MoxlogBl::GetCurParam(MoxlogParam& out) {
  const std::unique_lock<std::mutex> lock = LockFileForCaller();
  out.usrModuleName = usrModuleName;
  out.fullPath = fullPath;
  out.fullFileName = fullFileName;
  out.fileLogLevel = fileLogLevel;
  out.memLogLevel = memLogLevel;
  out.memLogSize = memLogSize;
}

void MoxlogBl::ThreadFuncBody() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(vecMutex);
      if (stopFlag) {
        break;
      }
    }
    try {
      ExamineLogFile();
    } catch (const std::bad_alloc&) {
      // No memory for the path check: the file stays as it was; the next pass tries again.
    }
    {
      std::unique_lock<std::mutex> lock(vecMutex);
      if (stopFlag) {
        break;
      }
      if (vecNewLog.empty()) {
        flusherWaiting = true;
        newLogCond.wait(lock);
        flusherWaiting = false;
        continue;  // every wake-up, spurious or not, starts a new pass
      }
    }
    FlushToFile();
  }
  FlushToFile();  // the final batch
  // Writing never resumed: the records dropped since the file was blocked are reported now.
  {
    std::lock_guard<std::mutex> lock(vecMutex);
    CountDrops();
  }
  ReportDrops();
}

void MoxlogBl::ExamineLogFile() {
  std::lock_guard<std::mutex> lock(fileMutex);
  ReOpenLogFile(true);
  struct stat info {};
  const int rc = fdLogFile >= 0 ? fstat(fdLogFile, &info) : stat(fullFileName.c_str(), &info);
  const int err = errno;
  const bool tooLarge = rc == 0 && info.st_size > MAX_LOG_FILE_SIZE;
  const bool blocked = rc != 0 || tooLarge;
  {
    // Set before the report, so that a write made after the report is refused.
    std::lock_guard<std::mutex> queueLock(vecMutex);
    CountDrops();
    fileBlocked = blocked;
    blockedBySize = tooLarge;
  }
  if (rc != 0) {
    PrintError("Get log_file stat failed.[%d]", err);
  } else if (tooLarge) {
    PrintError("Log file[%s] is too large (%ld > %ld) to write file.", fullFileName.c_str(),
               static_cast<long>(info.st_size), MAX_LOG_FILE_SIZE);
  } else {
    ReportDrops();
  }
}

void MoxlogBl::CountDrops() {
  (blockedBySize ? droppedOverLimit : droppedUnexamined) += droppedWhileBlocked;
  droppedWhileBlocked = 0;
}

void MoxlogBl::ReportDrops() {
  if (droppedOverLimit == 0 && droppedUnexamined == 0) {
    return;
  }
  PrintError("Log file[%s] dropped records: %llu while too large, %llu while it could not be examined.",
             fullFileName.c_str(), static_cast<unsigned long long>(droppedOverLimit),
             static_cast<unsigned long long>(droppedUnexamined));
  droppedOverLimit = 0;
  droppedUnexamined = 0;
}

void MoxlogBl::FlushToFile() {
  std::lock_guard<std::mutex> fileLock(fileMutex);
  {
    std::lock_guard<std::mutex> lock(vecMutex);
    if (!vecFlushLog.empty()) {
      PrintError("ERROR: vecFlushLog is not empty.Maybe lost some logs.");
    }
    vecNewLog.swap(vecFlushLog);
  }
  try {
    DoFlush(vecFlushLog);
  } catch (const std::bad_alloc&) {
    // A ring copy could not get memory: the rest of this batch is lost, the thread goes on.
  }
  vecFlushLog.Clear();
}

void MoxlogBl::DoFlush(const RecordBatch& records) {
  if (records.empty()) {
    return;
  }
  openTried = false;
  LineChunker chunker(flushBuf.get(), &MoxlogBl::WriteChunk, this);
  char timeText[TIME_STAMP_MAX];
  for (const PendingRecord record : records) {
    const bool toFile = record.level <= fileLogLevel;
    const bool toRing = record.level <= memLogLevel && memLogRing;
    if (!toFile && !toRing) {
      continue;
    }
    const std::string_view logTime(timeText, timeStamps.Format(record.time.sec, record.time.usec, timeText));
    const std::string_view logType = record.logType;
    const std::string_view logMsg = record.logMsg;
    if (toRing) {
      ringScratch.logLevel = record.level;
      ringScratch.logType.assign(logType.data(), logType.size());
      ringScratch.logMsg.assign(logMsg.data(), logMsg.size());
      ringScratch.logTime.assign(logTime.data(), logTime.size());
      memLogRing->Push(ringScratch);
    }
    if (toFile) {
      chunker.Commit(FormatLogLine(chunker.Slot(), false, logTime, logType, record.level, logMsg));
    }
  }
  chunker.Finish();
}

void MoxlogBl::DoFlushMem(const std::vector<MoxlogEntry>& records) {
  openTried = false;
  LineChunker chunker(flushBuf.get(), &MoxlogBl::WriteChunk, this);
  for (const MoxlogEntry& record : records) {
    if (record.logLevel > fileLogLevel && record.logLevel > memLogLevel) {
      continue;
    }
    chunker.Commit(
        FormatLogLine(chunker.Slot(), true, record.logTime, record.logType, record.logLevel, record.logMsg));
  }
  chunker.Finish();
}

void MoxlogBl::WriteChunk(void* self, const char* data, size_t len) {
  MoxlogBl* logger = static_cast<MoxlogBl*>(self);
  // A stop or a dump may come before the flush thread's first pass has opened the file.
  if (logger->fdLogFile < 0 && !logger->openTried) {
    logger->openTried = true;
    logger->ReOpenLogFile(false);
  }
  logger->LogWriteFile(data, static_cast<int>(len));
}

int MoxlogBl::LogWriteFile(const char* text, int len) {
  if (fdLogFile < 0) {
    PrintError("LogWriteFile fdLogFile < 0");
    return 8;
  }
  if (len <= 0) {
    PrintError("LogWriteFile logLen <= 0");
    return 0;
  }
  if (len > MAX_CHUNK) {
    return 0;
  }
  size_t done = 0;
  const size_t total = static_cast<size_t>(len);
  while (done < total) {
    const ssize_t n = write(fdLogFile, text + done, total - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      const int err = errno;
      PrintError("write logfile fail errno=%d", err);
      return err;
    }
    if (n == 0) {
      // No progress and no error: give the chunk up rather than spin.
      PrintError("write logfile fail errno=%d", EIO);
      return EIO;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

void MoxlogBl::ReOpenLogFile(bool waitForRotation) {
  const bool hadFile = fdLogFile >= 0;
  if (fdLogFile >= 0) {
    close(fdLogFile);
    fdLogFile = -1;
  }
  // The usual case, a file in place, costs one path check and one open, as a creating open would.
  if (OpenLogFile(false) != ENOENT) {
    return;
  }
  if (waitForRotation && hadFile) {
    const auto deadline = std::chrono::steady_clock::now() + ROTATION_GRACE;
    while (!RotationWaitCut() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(ROTATION_POLL);
      if (OpenLogFile(false) != ENOENT) {
        return;
      }
    }
  }
  OpenLogFile(true);
}

bool MoxlogBl::RotationWaitCut() {
  if (fileWanted.load(std::memory_order_relaxed) != 0) {
    return true;
  }
  std::lock_guard<std::mutex> lock(vecMutex);
  return stopFlag || vecNewLog.size() >= ROTATION_QUEUE_CUT;
}

int MoxlogBl::OpenLogFile(bool create) {
  std::string canonical;
  bool missingIsLast = false;
  const int err = CanonicalPath(fullFileName, canonical, &missingIsLast);
  if (err == ENOENT && !missingIsLast) {
    // The directory itself is gone: nothing can be created there.
    PrintError("Open log_file[%s] failed. errno=[%d]", fullFileName.c_str(), ENOENT);
    return EIO;
  }
  if (err != 0 && err != ENOENT) {
    PrintError("ReOpenLogFile realpath");
    return EIO;
  }
  // fullFileName is the canonical name Init validated, directly inside realDir. Any other
  // canonical form means a symbolic link now stands at the file or on the way to it.
  if (canonical != fullFileName || canonical.compare(0, realDir.size(), realDir) != 0) {
    PrintError("Open log_file[%s] failed. errno=[%d]", fullFileName.c_str(), ELOOP);
    return EIO;
  }
  if (err == ENOENT && !create) {
    return ENOENT;
  }
  // A directory on the way may be swapped for a link after the check above: the open itself
  // follows no link at all.
  const int flags = O_WRONLY | O_APPEND | (create ? O_CREAT : 0);
  const int fd = OpenNoLinks(fullFileName.c_str(), flags, static_cast<mode_t>(LOG_FILE_MODE));
  if (fd < 0) {
    const int openErr = errno;
    if (openErr == ENOENT && !create) {
      return ENOENT;  // removed after the path check
    }
    PrintError("Open log_file[%s] failed. errno=[%d]", fullFileName.c_str(), openErr);
    return openErr == ENOENT ? EIO : openErr;
  }
  fdLogFile = fd;
  return 0;
}

void MoxlogBl::MemlogToFile() {
  if (!memLogRing) {
    return;
  }
  const std::unique_lock<std::mutex> lock = LockFileForCaller();
  std::vector<MoxlogEntry> records;
  try {
    records = memLogRing->TakeAll();
  } catch (const std::bad_alloc&) {
    // The ring stays as it was. A stop goes on without the dump rather than fail half-way.
    PrintError("MemlogToFile no memory, ring not dumped.");
    return;
  }
  if (!records.empty()) {
    DoFlushMem(records);
  }
}

int MoxlogBl::StopRecordLog() {
  if (threadRunning) {
    MemlogToFile();
    {
      std::lock_guard<std::mutex> lock(vecMutex);
      stopFlag = true;
    }
    newLogCond.notify_all();
    pthread_join(threadId, nullptr);
    threadRunning = false;
    initialized = false;
  }
  std::lock_guard<std::mutex> lock(fileMutex);
  if (fdLogFile >= 0) {
    close(fdLogFile);
    fdLogFile = -1;
  }
  return 0;
}

}  // namespace moxlog
