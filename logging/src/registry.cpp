// The module registry and the exported functions that work on a MoxlogParam record: start, stop,
// reload, write, dump, query and version. Nothing is thrown across the library boundary: a
// failure to get memory ends a call with a failure code.
#include "registry.h"

#include <cstdarg>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <utility>

#include "crash_dump.h"
#include "log_param.h"
#include "orv_platform/bounded_text.h"

namespace moxlog {

namespace {

// Modules a registry holds before every further registration goes to the default module.
constexpr size_t MAX_NAMED_MODULES = 64;

struct Registry {
  std::recursive_mutex mutex;
  std::map<std::string, std::unique_ptr<MoxlogBl>> modules;
};

// Built on first use and deliberately never destroyed: exported functions stay usable from any
// static destructor, in whatever order those run.
Registry& TheRegistry() {
  static Registry* const registry = new Registry();
  return *registry;
}

// Stops and deletes every module still registered when the library is unloaded or the process
// exits, so that no flush thread outlives its logger and no descriptor is left open. Constructed
// when the library is loaded, hence destroyed after the static objects of the libraries and
// programs loaded later.
class RegistryTeardown {
 public:
  RegistryTeardown() { TheRegistry(); }
  RegistryTeardown(const RegistryTeardown&) = delete;
  RegistryTeardown& operator=(const RegistryTeardown&) = delete;
  ~RegistryTeardown() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::recursive_mutex> lock(registry.mutex);
    for (auto& entry : registry.modules) {
      CrashDumpUntrack(entry.second.get());
      entry.second->StopRecordLog();
    }
    registry.modules.clear();
  }
};

RegistryTeardown g_registryTeardown;

}  // namespace

std::recursive_mutex& RegistryMutex() { return TheRegistry().mutex; }

MoxlogBl* GetOrCreateLogger(const MoxlogParam& param) {
  auto& modules = TheRegistry().modules;
  const bool useDefault = param.usrModuleName.empty() || modules.size() > MAX_NAMED_MODULES;
  const std::string& key = useDefault ? std::string(DEFAULT_MODULE_NAME) : param.usrModuleName;
  auto it = modules.find(key);
  if (it == modules.end()) {
    it = modules.emplace(key, std::make_unique<MoxlogBl>()).first;
    CrashDumpTrack(it->second.get(), key);
  }
  return it->second.get();
}

MoxlogBl* FindLogger(const std::string& moduleName) {
  const auto& modules = TheRegistry().modules;
  auto it = modules.find(moduleName);
  if (it == modules.end()) {
    it = modules.find(DEFAULT_MODULE_NAME);
    if (it == modules.end()) {
      return nullptr;
    }
  }
  return it->second.get();
}

size_t RegisteredModuleCount() { return TheRegistry().modules.size(); }

}  // namespace moxlog

using moxlog::PrintError;

int MoxlogSetAndInit(MoxlogParam& param) {
  try {
    if (param.usrModuleName.empty()) {
      param = moxlog::DefaultParam();
    }
    std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
    moxlog::MoxlogBl* logger = moxlog::GetOrCreateLogger(param);
    moxlog::CompleteParam(param);
    const int ret = logger->Init(param);
    if (ret == 0) {
      logger->RecordParam();
    }
    return ret;
  } catch (const std::exception&) {
    return -99;  // no memory for the module or its record
  }
}

int MoxlogStopRecordLog(const std::string& moduleName) {
  try {
    const std::string* name = &moduleName;
    const std::string defaultName(DEFAULT_MODULE_NAME);
    if (moduleName.empty()) {
      PrintError("ModuleName is empty, set default.");
      name = &defaultName;
    }
    std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
    auto& modules = moxlog::TheRegistry().modules;
    auto it = modules.find(*name);
    if (it == modules.end()) {
      PrintError("MoxlogStopRecordLog. Can not find moduleName[%s]. size[%ld]", name->c_str(),
                 static_cast<long>(modules.size()));
      return 1;
    }
    std::unique_ptr<moxlog::MoxlogBl> logger = std::move(it->second);
    moxlog::CrashDumpUntrack(logger.get());
    logger->StopRecordLog();
    modules.erase(it);
    logger.reset();
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int MoxlogReloadParam(const std::string& moduleName, MoxlogParam& param) {
  const int r = MoxlogStopRecordLog(moduleName);
  if (r != 0) {
    return r;
  }
  return MoxlogSetAndInit(param);
}

int MoxlogWriteLog(int level, const std::string& moduleName, const std::string& logType, const char* format, ...) {
  try {
    std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
    moxlog::MoxlogBl* logger = moxlog::FindLogger(moduleName);
    if (logger == nullptr) {
      PrintError("MoxlogWriteLog. Can not find moduleName[%s]", moduleName.c_str());
      return 1;
    }
    if (format == nullptr) {
      return 3;
    }
    // A record that reaches neither the file nor the ring of a running module costs no more.
    if (logger->IsInitialized() && !logger->Passes(level)) {
      return 0;
    }
    char msg[moxlog::LOG_MSG_LIMIT + 1];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf_truncated_s(msg, moxlog::LOG_MSG_LIMIT, format, args);
    va_end(args);
    if (n < 0) {
      PrintError("MoxlogWriteLog vsprintf_s");
      return -1;
    }
    // The message is the buffer's text, up to its first NUL.
    const void* nul = std::memchr(msg, '\0', static_cast<size_t>(n));
    const size_t len = nul == nullptr ? static_cast<size_t>(n) : static_cast<size_t>(static_cast<const char*>(nul) - msg);
    return logger->WriteLogText(level, logType, msg, len);
  } catch (const std::exception&) {
    return -1;
  }
}

int MoxlogMemToFile(const std::string& moduleName) {
  try {
    std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
    moxlog::MoxlogBl* logger = moxlog::FindLogger(moduleName);
    if (logger == nullptr) {
      PrintError("MoxlogMemToFile. Can not find moduleName[%s]", moduleName.c_str());
      return 1;
    }
    logger->MemlogToFile();
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int MoxlogGetCurParam(const std::string& moduleName, MoxlogParam& param) {
  try {
    std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
    moxlog::MoxlogBl* logger = moxlog::FindLogger(moduleName);
    if (logger == nullptr) {
      PrintError("MoxlogGetCurParam. Can not find moduleName[%s]", moduleName.c_str());
      return 1;
    }
    logger->GetCurParam(param);
    return 0;
  } catch (const std::exception&) {
    return -1;
  }
}

int MoxlogGetVersion(std::string& version) {
  version.assign(moxlog::MOXLOG_VERSION, sizeof(moxlog::MOXLOG_VERSION) - 1);  // short: never allocates
  return 0;
}
