// The library's logging globals: the module name every log call passes to libmoxlog and the two
// tags. ecModuleName is replaced by ZoInit/ZoReload only, while no other thread is inside the
// library; planning functions only read it.
#ifndef ORV_EC_EC_LOG_H_
#define ORV_EC_EC_LOG_H_

#include <string>

#include "moxlog/moxlog.h"

namespace orv_ec {

extern std::string ecModuleName;         // "ecpartial" until a start names the module
extern const std::string ecInterfaceTag;  // "Interface"
extern const std::string ecProcTag;       // "PROC"

}  // namespace orv_ec

// One log line of the library: level, tag and printf-style message under ecModuleName. Values
// printed with %ld are passed as long.
#define ZO_LOG(level, tag, ...) ::MoxlogWriteLog((level), ::orv_ec::ecModuleName, (tag), __VA_ARGS__)

#endif  // ORV_EC_EC_LOG_H_
