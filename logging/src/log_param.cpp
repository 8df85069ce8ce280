// Default record, parameter completion and the internal error report.
#include "log_param.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "orv_platform/bounded_text.h"

namespace moxlog {

MoxlogParam DefaultParam() {
  return MoxlogParam{DEFAULT_MODULE_NAME, DEFAULT_FULL_PATH, DEFAULT_FULL_FILE_NAME,
                     MOXLOG_CRITICAL,     MOXLOG_ERROR,      MEM_LOG_SIZE_DEFAULT};
}

void CompleteParam(MoxlogParam& param) {
  if (param.usrModuleName.empty()) {
    param.usrModuleName = DEFAULT_MODULE_NAME;
  }
  if (param.fullPath.empty()) {
    param.fullPath = DEFAULT_FULL_PATH;
  }
  if (param.fullPath.back() != '/') {
    param.fullPath.push_back('/');
  }
  param.fullFileName = param.fullPath + param.usrModuleName + ".log";
  if (param.memLogSize < MEM_LOG_SIZE_MIN) {
    param.memLogSize = MEM_LOG_SIZE_MIN;
  } else if (param.memLogSize > MEM_LOG_SIZE_MAX) {
    param.memLogSize = MEM_LOG_SIZE_MAX;
  }
}

void PrintError(const char* format, ...) {
  static constexpr char kPrefix[] = "MoxLog ERROR: ";
  static constexpr size_t kPrefixLen = sizeof(kPrefix) - 1;
  // Prefix, at most 511 characters of text, line feed.
  char line[kPrefixLen + LOG_MSG_LIMIT + 1];
  std::memcpy(line, kPrefix, kPrefixLen);
  char* text = line + kPrefixLen;
  std::memset(text, 0, LOG_MSG_LIMIT);

  va_list args;
  va_start(args, format);
  int n = vsnprintf_truncated_s(text, LOG_MSG_LIMIT, format, args);
  va_end(args);
  if (n < 0) {
    static constexpr char kFormatError[] = "DebugLog vsnprintf_truncated_s error\n";
    std::fwrite(kFormatError, 1, sizeof(kFormatError) - 1, stderr);
    std::fflush(stderr);
    text[0] = '\0';
    n = 0;
  }
  const size_t len = kPrefixLen + static_cast<size_t>(n);
  line[len] = '\n';
  // One write for the whole line, so reports of several threads do not interleave within a line.
  std::fwrite(line, 1, len + 1, stderr);
  std::fflush(stderr);
}

}  // namespace moxlog
