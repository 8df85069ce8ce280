// The module registry: one MoxlogBl per module name, guarded by one process-wide recursive lock.
// The exported functions of moxlog.h (other than the parameter-file forms) live in registry.cpp.
//
// Lifetime: the registry and its lock are built on first use and never destroyed, so a call from
// another library's static destructor still finds them; when the library is unloaded (or the
// process exits) every module still registered is stopped - ring dumped, queue written, thread
// joined, file closed - and deleted.
#ifndef MOXLOG_REGISTRY_H_
#define MOXLOG_REGISTRY_H_

#include <cstddef>
#include <mutex>
#include <string>

#include "module_logger.h"
#include "moxlog/moxlog.h"

namespace moxlog {

// The registry lock (g_logModulesMutex). Every exported function except MoxlogGetVersion and
// MoxlogWriteLog holds it for its whole call; MoxlogWriteLog takes it only for a name without a
// slot in the level table (level_table.h) or whose slot changed during the call. Flush threads
// never take it.
std::recursive_mutex& RegistryMutex();

// With the lock held: the logger registered under param.usrModuleName ("moxlog" for an empty
// name, and for any name once more than 64 modules are registered), created when absent. Never
// null; the pointer is valid while the lock is held.
MoxlogBl* GetOrCreateLogger(const MoxlogParam& param);

// With the lock held: the logger of `moduleName`, else the default module's, else null.
MoxlogBl* FindLogger(const std::string& moduleName);

// With the lock held: the number of registered modules.
size_t RegisteredModuleCount();

}  // namespace moxlog

#endif  // MOXLOG_REGISTRY_H_
