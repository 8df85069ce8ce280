// The exported start functions that read a module's parameters from a parameter file. An unusable
// file or a missing section is not an error: the module then starts with the default record.
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <mutex>
#include <string>

#include "canonical_path.h"
#include "log_param.h"
#include "module_logger.h"
#include "moxlog/moxlog.h"
#include "param_file_reader.h"
#include "registry.h"

namespace moxlog {

namespace {

constexpr char KEY_FULL_PATH[] = "full_path";
constexpr char KEY_LOG_LEVEL[] = "log_level";
constexpr char KEY_MEM_LOG_SIZE[] = "mem_log_size";

int SetAndInitFromFile(const std::string& moduleName, const std::string& paramFilepath) {
  MoxlogParam param = DefaultParam();
  std::lock_guard<std::recursive_mutex> lock(RegistryMutex());
  if (!moduleName.empty()) {
    param.usrModuleName = moduleName;
  }
  // From here on the module is registered, whatever happens below.
  auto* logger = GetOrCreateLogger(param);

  std::string path;
  const int err = CanonicalPath(paramFilepath, path);
  if (err != 0 && err != ENOENT) {
    PrintError("MoxlogSetAndInit realpath %d", err);
    return -1;
  }
  // A missing component leaves the path resolved as far as it goes; the access check refuses it.
  if (!IsAllowedParamFilePath(path)) {
    param = DefaultParam();
    PrintError("ParamFilepath is invalid, use default.");
  } else if (access(path.c_str(), R_OK) != 0) {
    param = DefaultParam();
    PrintError("ParamFile is invalid, use default.");
  } else if (!SectionExists(path, param.usrModuleName)) {
    PrintError("Section [%s] is not exist, use default.", param.usrModuleName.c_str());
    param = DefaultParam();
  } else {
    std::string value;
    if (ReadKeyValue(path, param.usrModuleName, KEY_FULL_PATH, value)) {
      param.fullPath = value;
    }
    std::string levelText;
    ReadKeyValue(path, param.usrModuleName, KEY_LOG_LEVEL, levelText);
    ApplyLogLevelText(levelText, param);
    std::string sizeText;
    const bool sizeFound = ReadKeyValue(path, param.usrModuleName, KEY_MEM_LOG_SIZE, sizeText);
    param.memLogSize = MemLogSizeFromText(sizeFound, sizeText);
  }

  if (param.fullPath.empty() || param.fullPath.size() > LOG_PATH_MAX) {
    return -1;
  }
  CompleteParam(param);
  const int result = logger->Init(param);
  if (result == 0) {
    logger->RecordParam();
  }
  return result;
}

}  // namespace

}  // namespace moxlog

int MoxlogSetAndInit(const std::string& moduleName, const std::string& paramFilepath) {
  try {
    return moxlog::SetAndInitFromFile(moduleName, paramFilepath);
  } catch (const std::exception& e) {
    // Nothing is thrown across the library boundary (out of memory, a failing lock).
    moxlog::PrintError("MoxlogSetAndInit failed: %s", e.what());
    return -99;
  }
}

int MoxlogReloadFileParam(const std::string& oldModuleName, const std::string& newModuleName,
                          const std::string& paramFilepath) {
  const int stopped = MoxlogStopRecordLog(oldModuleName);
  if (stopped != 0) {
    return stopped;
  }
  return MoxlogSetAndInit(newModuleName, paramFilepath);
}
