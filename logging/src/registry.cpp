// The module registry and the exported functions that work on a MoxlogParam record: start, stop,
// reload, write, dump, query and version. Nothing is thrown across the library boundary: a
// failure to get memory ends a call with a failure code.
#include "registry.h"

#include <cstdarg>
#include <exception>
#include <map>
#include <memory>
#include <utility>

#include "crash_dump.h"
#include "level_table.h"
#include "log_param.h"
#include "message_format.h"
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
    WithdrawAllLevels();
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

namespace {

// With the lock held, or between EnterLogger and LeaveLogger: what a write does once its logger is
// found and its message formatted (`n` is FormatLogMessage's result for `msg`: its length up to the first NUL).
int WriteFormatted(MoxlogBl* logger, int level, const std::string& logType, const char* msg, int n) {
  // A record that reaches neither the file nor the ring of a running module costs no more.
  if (logger->IsInitialized() && !logger->Passes(level)) {
    return 0;
  }
  if (n < 0) {
    PrintError("MoxlogWriteLog vsprintf_s");
    return -1;
  }
  return logger->WriteLogText(level, logType, msg, static_cast<size_t>(n));  // n: up to the first NUL
}

// With the lock held: the logger a write to `moduleName` reaches (FindLogger), after giving a
// running module registered under exactly that name its slot in the level table.
MoxlogBl* FindLoggerForWrite(const std::string& moduleName) {
  const auto& modules = TheRegistry().modules;
  auto it = modules.find(moduleName);
  if (it != modules.end() && it->second->IsInitialized()) {
    PublishLevels(moduleName, it->second.get(), it->second->FileLogLevel(), it->second->MemLogLevel());
  }
  return it != modules.end() ? it->second.get() : FindLogger(moduleName);
}

}  // namespace

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
    moxlog::WithdrawLevels(*name);  // from here on, writes to the module take the lock
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

namespace {

// The rest of MoxlogWriteLog once the lock-free check has not refused the record: `snap` is the
// module's slot when it has one (the record passes a threshold), else null (looked up under the
// lock).
__attribute__((noinline, format(printf, 5, 0))) int WriteUnfiltered(const moxlog::LevelSnapshot* snap, int level,
                                              const std::string& moduleName, const std::string& logType,
                                              const char* format, va_list args) {
  try {
    char msg[moxlog::LOG_MSG_LIMIT + 1];
    if (snap != nullptr) {
      // Formatted and queued without the registry lock, into the logger the lookup found, while
      // its slot shows it still registered and running: a stop, reload or teardown empties the
      // slot and then waits for this writer to leave before it stops the logger, so the record is
      // queued before that stop, as if this call had held the lock just before it.
      const int n = moxlog::FormatLogMessage(msg, moxlog::LOG_MSG_LIMIT, format, args);
      if (moxlog::EnterLogger(*snap)) {
        struct Leave {
          const moxlog::LevelSnapshot& snap;
          ~Leave() { moxlog::LeaveLogger(snap); }
        } leave{*snap};
        return moxlog::WriteFormatted(snap->logger, level, logType, msg, n);
      }
      // Stopped, reloaded or restarted since the check: the call meets the registry as it is now,
      // as it would have had it arrived now.
      std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
      moxlog::MoxlogBl* logger = moxlog::FindLoggerForWrite(moduleName);
      if (logger == nullptr) {
        PrintError("MoxlogWriteLog. Can not find moduleName[%s]", moduleName.c_str());
        return 1;
      }
      return moxlog::WriteFormatted(logger, level, logType, msg, n);
    }
    std::lock_guard<std::recursive_mutex> lock(moxlog::RegistryMutex());
    moxlog::MoxlogBl* logger = moxlog::FindLoggerForWrite(moduleName);
    if (logger == nullptr) {
      PrintError("MoxlogWriteLog. Can not find moduleName[%s]", moduleName.c_str());
      return 1;
    }
    if (format == nullptr) {
      return 3;
    }
    if (logger->IsInitialized() && !logger->Passes(level)) {
      return 0;
    }
    const int n = moxlog::FormatLogMessage(msg, moxlog::LOG_MSG_LIMIT, format, args);
    return moxlog::WriteFormatted(logger, level, logType, msg, n);
  } catch (const std::exception&) {
    return -1;
  }
}

// MoxlogWriteLog for the cases its inline check leaves: the whole lock-free lookup, then the same
// decisions.
__attribute__((noinline, format(printf, 4, 0))) int WriteLookingUp(int level, const std::string& moduleName,
                                                                   const std::string& logType, const char* format,
                                                                   va_list args) {
  moxlog::LevelSnapshot found;
  if (moxlog::LookupLevels(moduleName, found)) {
    if (format == nullptr) {
      return 3;
    }
    if (level > found.fileLogLevel && level > found.memLogLevel) {
      return 0;
    }
    return WriteUnfiltered(&found, level, moduleName, logType, format, args);
  }
  return WriteUnfiltered(nullptr, level, moduleName, logType, format, args);
}

}  // namespace

int MoxlogWriteLog(int level, const std::string& moduleName, const std::string& logType, const char* format, ...) {
  // The lock-free check. A slot found in the level table says that, at one moment during this
  // call, the module was registered under exactly this name and running with these thresholds:
  // slots are filled and emptied under the registry lock, a slot is emptied before its module is
  // stopped, and a running module's thresholds never change. A call that had taken the lock at
  // that moment would have found that logger and returned 3 for a null format, or 0 for a level
  // that passes neither threshold, with no other effect. So a record filtered here while another
  // thread stops, reloads or restarts the module is as correct as one filtered just before that
  // operation began: the two calls overlap, and either order is one the lock could have given. A
  // thread that has seen the stop return sees the emptied slot (its changes are published by the
  // lock's release and the slot's counter), so it never gets the old thresholds. After a reload
  // the module gets its slot back, with the new thresholds, at its first write under the lock;
  // until then its writes are checked under the lock, as are names without a slot and unknown
  // names that reach the default module. A record that passes is formatted and queued without
  // the lock as well (WriteUnfiltered).
  // The usual case (a short name in its home slot) is checked inline, with every value in a
  // scratch register, so that a filtered call saves no register and makes no call; every other
  // case goes to WriteLookingUp. Only a record that passes gets a copy of `found` in memory (`passed`),
  // of what WriteUnfiltered uses: the slot, its counter and the logger.
  moxlog::LevelSnapshot found;
  va_list args;
  if (__builtin_expect(moxlog::LookupLevelsAtHome(moduleName, found), 1)) {
    if (format == nullptr) {
      return 3;
    }
    if (level > found.fileLogLevel && level > found.memLogLevel) {
      return 0;
    }
    const moxlog::LevelSnapshot passed{0, 0, found.slot, found.seq, found.logger};
    va_start(args, format);
    const int r = WriteUnfiltered(&passed, level, moduleName, logType, format, args);
    va_end(args);
    return r;
  }
  va_start(args, format);
  const int r = WriteLookingUp(level, moduleName, logType, format, args);
  va_end(args);
  return r;
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
