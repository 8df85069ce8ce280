// Start, reload and finish of the library's log module, and the processor gate that follows every
// successful start or reload. These functions replace ecModuleName and must run while no other
// thread is inside the library. They throw nothing: running out of memory for a copy of the
// caller's record or for the module name gives 1, before anything has changed.
#include "ec_startup.h"

#include <new>
#include <string>

#include "ec_log.h"
#include "orv_ec/orv_ec.h"
#include "orv_platform/processor_id.h"

namespace orv_ec {

namespace {

// Parameter-file forms name their module "orvec-" + the caller's suffix; the same text is the
// section header looked up in the file.
const char kFileModulePrefix[] = "orvec-";

// After a successful start or reload: 0 when the processor is accepted, else the module is
// stopped again and 1 is returned.
int GateStartedModule() {
  if (IsSupportedPlatform()) {
    return 0;
  }
  MoxlogStopRecordLog(ecModuleName);
  return 1;
}

}  // namespace

bool IsSupportedPlatform() {
  const orv::platform::ProcessorVerdict& verdict = orv::platform::ProcessorCheck();
  if (verdict.accepted) {
    return true;
  }
  const unsigned int vendor = verdict.registerRead ? static_cast<unsigned int>(verdict.id.implementer) : 0u;
  const unsigned int part = verdict.registerRead ? static_cast<unsigned int>(verdict.id.partNumber) : 0u;
  ZO_LOG(MOXLOG_CRITICAL, ecProcTag, "unsupported Platform VID=0x%x, PID=0x%x\n", vendor, part);
  return false;
}

}  // namespace orv_ec

using orv_ec::ecModuleName;
using orv_ec::ecProcTag;

// Every allocation of the four start functions (the copy of the record, the module name) comes
// before libmoxlog is called, and a string assignment that throws leaves ecModuleName as it was.
// libmoxlog itself throws nothing.

int ZoInit(const MoxlogParam& param) try {
  MoxlogParam copy = param;  // libmoxlog completes its argument in place; the caller's stays as given
  ecModuleName = copy.usrModuleName;
  if (MoxlogSetAndInit(copy) != 0) {
    ZO_LOG(MOXLOG_ERROR, ecProcTag, "Func ZoInit param return 1.");
    return 1;
  }
  ZO_LOG(MOXLOG_DEBUG, ecProcTag, "orv_ec is initialized by param struct.");
  return orv_ec::GateStartedModule();
} catch (const std::bad_alloc&) {
  return 1;
}

int ZoInit(const std::string& paramFilePath, const std::string& suffix) try {
  ecModuleName = orv_ec::kFileModulePrefix + suffix;
  if (MoxlogSetAndInit(ecModuleName, paramFilePath) != 0) {
    ZO_LOG(MOXLOG_ERROR, ecProcTag, "Func ZoInit path return 1.");
    return 1;
  }
  ZO_LOG(MOXLOG_DEBUG, ecProcTag, "orv_ec is initialized by param file.");
  return orv_ec::GateStartedModule();
} catch (const std::bad_alloc&) {
  return 1;
}

int ZoReload(const MoxlogParam& param) try {
  MoxlogParam copy = param;
  if (MoxlogReloadParam(ecModuleName, copy) != 0) {
    ZO_LOG(MOXLOG_ERROR, ecProcTag, "Func ZoReload param return 1.");
    return 1;
  }
  // The name libmoxlog registered (the default for an empty one); a swap cannot run out of memory.
  ecModuleName.swap(copy.usrModuleName);
  ZO_LOG(MOXLOG_DEBUG, ecProcTag, "orv_ec is reloaded by param struct.");
  return orv_ec::GateStartedModule();
} catch (const std::bad_alloc&) {
  return 1;
}

int ZoReload(const std::string& paramFilePath, const std::string& suffix) try {
  std::string oldName = ecModuleName;
  ecModuleName = orv_ec::kFileModulePrefix + suffix;
  if (MoxlogReloadFileParam(oldName, ecModuleName, paramFilePath) != 0) {
    ZO_LOG(MOXLOG_ERROR, ecProcTag, "Func ZoReload path return 1.");  // under the new name
    ecModuleName.swap(oldName);
    return 1;
  }
  ZO_LOG(MOXLOG_DEBUG, ecProcTag, "orv_ec is reloaded by param file.");
  return orv_ec::GateStartedModule();
} catch (const std::bad_alloc&) {
  return 1;
}

void ZoFinish() { MoxlogStopRecordLog(ecModuleName); }
