// Example: two modules of one process log through libmoxlog, each configured by its own section
// of a parameter file. Usage: moxlog_two_modules [LOG_DIR]
// LOG_DIR must lie under /var/log/ or /home/ (default /var/log/moxlog-example/).
#include <moxlog/moxlog.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string logDir = argc > 1 ? argv[1] : "/var/log/moxlog-example/";

  // 1. The parameter file: one section per module. "log_level" is the file threshold and,
  //    after a "/", the threshold of the module's memory ring of recent records.
  char paramPath[] = "/tmp/moxlog-example-XXXXXX";
  const int fd = mkstemp(paramPath);
  if (fd < 0) return 1;
  close(fd);
  std::ofstream(paramPath) << "# Two logging modules\n"
                           << "[storage]\n"
                           << "full_path=" << logDir << "storage/\n"
                           << "log_level=DEBUG/INFORMATION\n"
                           << "mem_log_size=200\n"
                           << "[network]\n"
                           << "full_path=" << logDir << "network/\n"
                           << "log_level=WARNING\n";

  // 2. Start each module from its section (the module name is the section name). Each module
  //    gets its own log file and its own flush thread.
  if (MoxlogSetAndInit("storage", paramPath) != 0 || MoxlogSetAndInit("network", paramPath) != 0) {
    std::fprintf(stderr, "moxlog_two_modules: a module did not start (is %s allowed?)\n", logDir.c_str());
    std::remove(paramPath);
    return 1;
  }
  std::remove(paramPath);  // read once at start-up

  // 3. Log: printf-style, with a tag and a level. The caller only queues the record; the
  //    module's flush thread writes it if its level passes the file threshold.
  MoxlogWriteLog(MOXLOG_INFORMATION, "storage", "IO", "wrote %d bytes at offset %d", 4096, 8192);
  MoxlogWriteLog(MOXLOG_DEBUG, "storage", "IO", "cache hit ratio %d%%", 97);
  MoxlogWriteLog(MOXLOG_WARNING, "network", "LINK", "peer %s is slow: %d ms", "node-2", 250);
  MoxlogWriteLog(MOXLOG_INFORMATION, "network", "LINK", "below WARNING: not written");

  // 4. Where each module writes.
  MoxlogParam storage{};
  MoxlogParam network{};
  MoxlogGetCurParam("storage", storage);
  MoxlogGetCurParam("network", network);
  std::printf("storage logs to %s\nnetwork logs to %s\n", storage.fullFileName.c_str(),
              network.fullFileName.c_str());

  // 5. Stop both: the memory ring is dumped into the file, queued records are written, the file
  //    is closed and the flush thread ends.
  MoxlogStopRecordLog("storage");
  MoxlogStopRecordLog("network");

  // 6. Each file holds its own module's lines, filtered by its own threshold.
  const std::string storageLog = ReadFile(storage.fullFileName);
  const std::string networkLog = ReadFile(network.fullFileName);
  const bool ok = storageLog.find("wrote 4096 bytes at offset 8192") != std::string::npos &&
                  storageLog.find("cache hit ratio 97%") != std::string::npos &&
                  networkLog.find("peer node-2 is slow: 250 ms") != std::string::npos &&
                  networkLog.find("not written") == std::string::npos &&
                  networkLog.find("wrote 4096") == std::string::npos;
  std::printf("%s\n", ok ? "both modules logged as configured" : "unexpected log contents");
  return ok ? 0 : 1;
}
