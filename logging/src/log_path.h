// Log path validation: a log directory must be a canonical directory under "/var/log/" or
// "/home/"; missing levels are created (mode 0700, one level per MakeLogDir call); the canonical
// path of the log file is worked out. Every fault is reported through PrintError.
#ifndef MOXLOG_LOG_PATH_H_
#define MOXLOG_LOG_PATH_H_

#include <string>

#include "moxlog/moxlog.h"

namespace moxlog {

// True when `path` starts with "/var/log/" or "/home/".
bool IsValidPath(const std::string& path);

// Canonicalises `fullPath` (up to and including its first missing component), checks the allowed
// roots and creates the missing level. false on success with the canonical directory, ending in
// "/", in `realDir`; true on failure.
bool MakeLogDir(const std::string& fullPath, std::string& realDir);

// Creates every directory level of `path` up to its last "/". -1 on failure, else another value.
int CreateDir(const std::string& path);

// Makes sure param.fullPath exists as a canonical directory under an allowed root (creating at
// most 100 missing levels) and works out the canonical path of param.fullFileName. false on
// success, with `realFileName` set and `realDir` holding the validated directory (ending in "/");
// true on a fault, always after a report. A log file whose canonical path does not lie directly in
// the validated directory (a symbolic link leading elsewhere) is a fault.
bool FilePathIsFault(const MoxlogParam& param, std::string& realFileName, std::string& realDir);

}  // namespace moxlog

#endif  // MOXLOG_LOG_PATH_H_
