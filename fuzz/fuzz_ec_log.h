// The liborv_ec log module of the fuzz targets that drive liborv_ec: started once per process so
// that the library's log calls find their module, with nothing ever written to its file.
#ifndef ORV_FUZZ_FUZZ_EC_LOG_H_
#define ORV_FUZZ_FUZZ_EC_LOG_H_

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "moxlog/moxlog.h"
#include "orv_ec/orv_ec.h"

namespace orv_fuzz {

// Starts liborv_ec's log module in a directory of its own under /var/log with both thresholds
// below CRITICAL, so that millions of refused calls write nothing; ZoFinish and the removal of
// the directory run at exit.
inline void StartQuietEcLog() {
  static std::string dir;
  static std::string file;
  const std::string name = "orv-fuzz-" + std::to_string(getpid());
  dir = "/var/log/" + name + "/";
  file = dir + name + ".log";
  const int quiet = MOXLOG_CRITICAL - 1;
  if (ZoInit(MoxlogParam{name, dir, "", quiet, quiet, 100}) != 0) {
    std::fprintf(stderr, "cannot start the liborv_ec log module in %s\n", dir.c_str());
    std::exit(1);
  }
  std::atexit([] {
    ZoFinish();
    unlink(file.c_str());
    rmdir(dir.c_str());
  });
}

}  // namespace orv_fuzz

#endif  // ORV_FUZZ_FUZZ_EC_LOG_H_
