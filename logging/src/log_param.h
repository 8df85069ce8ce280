// The fixed values every part of libmoxlog shares, the completion of a caller's parameter record
// (CompleteParam) and the library's internal error report (PrintError).
#ifndef MOXLOG_LOG_PARAM_H_
#define MOXLOG_LOG_PARAM_H_

#include <cstddef>
#include <cstdint>

#include "moxlog/moxlog.h"

namespace moxlog {

constexpr char MOXLOG_VERSION[] = "V1.0.0";

// Ring capacity bounds (records); completion clamps memLogSize into them.
constexpr uint32_t MEM_LOG_SIZE_MIN = 100;
constexpr uint32_t MEM_LOG_SIZE_MAX = 1000;
constexpr uint32_t MEM_LOG_SIZE_DEFAULT = 100;

// Records waiting to be flushed per module.
constexpr size_t VEC_NEW_MAX = 10000;
// Records are refused while the log file is larger than this.
constexpr long MAX_LOG_FILE_SIZE = 104857600;
// A formatted message holds at most 511 characters (512-byte formatter limit).
constexpr size_t LOG_MSG_LIMIT = 512;
// One formatted line holds at most 512 characters (513-byte buffer).
constexpr size_t LOG_LINE_MAX = 512;
// Chunks written to the file: assembled in 10000 bytes, written at 9487 bytes or more.
constexpr size_t FLUSH_BUF_SIZE = 10000;
constexpr size_t FLUSH_WRITE_THRESHOLD = FLUSH_BUF_SIZE - (LOG_LINE_MAX + 1);
// Directory paths handled by the path checks: 1 to 4096 characters.
constexpr size_t LOG_PATH_MAX = 4096;
// Calls of MakeLogDir per initialisation (so at most 100 missing levels are created).
constexpr int MAKE_LOG_DIR_BUDGET = 101;
// Modes of what the library creates: log files, and log directories (owner only; a directory
// needs its search bit to be usable).
constexpr unsigned LOG_FILE_MODE = 0640;
constexpr unsigned LOG_DIR_MODE = 0700;

// The default record: module "moxlog", "/var/log/", "/var/log/moxlog.log", file level 0,
// memory level 1, ring of 100 records.
MoxlogParam DefaultParam();

// Completes a caller's record in place: default name and directory when empty, a "/" at the end
// of fullPath, fullFileName rebuilt as fullPath + usrModuleName + ".log", memLogSize clamped into
// 100..1000. Validates nothing.
void CompleteParam(MoxlogParam& param);

// Writes "MoxLog ERROR: " and the formatted text (cut at 511 characters) as one line on standard
// error. Takes no lock, allocates nothing, never reaches a log file.
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace moxlog

#endif  // MOXLOG_LOG_PARAM_H_
