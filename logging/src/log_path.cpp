// Log directory checks: allowed roots, creation of missing levels one per call, canonical log file.
#include "log_path.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

#include "canonical_path.h"
#include "log_param.h"

namespace moxlog {

namespace {

constexpr char ROOT_VAR_LOG[] = "/var/log/";
constexpr char ROOT_HOME[] = "/home/";

bool StartsWith(const std::string& text, const char* prefix, size_t prefixLen) {
  return text.compare(0, prefixLen, prefix, prefixLen) == 0;
}

// True when `fileName` names an entry directly inside `dir` (which ends with "/").
bool LiesDirectlyIn(const std::string& fileName, const std::string& dir) {
  return fileName.size() > dir.size() && fileName.compare(0, dir.size(), dir) == 0 &&
         fileName.find('/', dir.size()) == std::string::npos;
}

}  // namespace

bool IsValidPath(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  return StartsWith(path, ROOT_VAR_LOG, sizeof(ROOT_VAR_LOG) - 1) ||
         StartsWith(path, ROOT_HOME, sizeof(ROOT_HOME) - 1);
}

bool MakeLogDir(const std::string& fullPath, std::string& realDir) {
  std::string canonical;
  const int err = CanonicalPath(fullPath, canonical);
  if (err != 0 && err != ENOENT) {
    PrintError("realpath fullPath fail errno=%d", err);
    return true;
  }
  realDir = canonical;
  if (realDir.empty() || realDir.size() > LOG_PATH_MAX) {
    return true;
  }
  if (realDir.back() != '/') {
    realDir.push_back('/');
  }
  if (!IsValidPath(realDir)) {
    PrintError("Log file path is illegal, it must be /var/log/* or /home/*.");
    return true;
  }
  if (CreateDir(realDir) == -1) {
    PrintError("CreateDir failed");
    return true;
  }
  return false;
}

int CreateDir(const std::string& path) {
  if (path.empty() || path.size() > LOG_PATH_MAX) {
    PrintError("fail with fullpath size exception");
    return -1;
  }
  if (path.find('\0') != std::string::npos) {
    // The system call would see only the text before the NUL, another directory than the one named.
    PrintError("mkdir error errno=%d", EINVAL);
    return -1;
  }
  std::string level = path;
  int result = 0;
  for (size_t i = 1; i < level.size(); ++i) {
    if (level[i] != '/') {
      continue;
    }
    level[i] = '\0';
    if (mkdir(level.c_str(), static_cast<mode_t>(LOG_DIR_MODE)) != 0 && errno != EEXIST) {
      PrintError("mkdir error errno=%d", errno);
      result = -1;
    }
    level[i] = '/';
  }
  return result;
}

bool FilePathIsFault(const MoxlogParam& param, std::string& realFileName, std::string& realDir) {
  std::string strTemp;
  bool made = false;  // strTemp holds a result of MakeLogDir
  for (int calls = 0;;) {
    if (made && strTemp == param.fullPath) {
      std::string canonical;
      bool missingIsLast = false;
      const int err = CanonicalPath(param.fullFileName, canonical, &missingIsLast);
      // A missing log file is fine (it is created later); a missing level above it is not.
      if (err != 0 && !(err == ENOENT && missingIsLast)) {
        PrintError("realpath == nullptr errno=%d temp=%s", err, canonical.c_str());
        return true;
      }
      if (!LiesDirectlyIn(canonical, strTemp)) {
        PrintError("Log file path is illegal, it must be /var/log/* or /home/*.");
        return true;
      }
      realFileName = canonical;
      realDir = strTemp;
      return false;
    }
    if (MakeLogDir(param.fullPath, strTemp)) {
      return true;
    }
    made = true;
    if (++calls == MAKE_LOG_DIR_BUDGET) {
      PrintError("MAX CYCLE : param.fullPath=%s  strTemp=%s", param.fullPath.c_str(), strTemp.c_str());
      return true;
    }
  }
}

}  // namespace moxlog
