// Definitions of the library's logging globals.
#include "ec_log.h"

namespace orv_ec {

std::string ecModuleName = "ecpartial";
const std::string ecInterfaceTag = "Interface";
const std::string ecProcTag = "PROC";

}  // namespace orv_ec
