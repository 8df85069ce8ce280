// Helpers of the logging tests: log file lines with their time stamps checked and normalised,
// counts of the process's threads and open descriptors (to see that nothing outlives a logger),
// and forked children for scenes that end a process or change its mounts.
#ifndef MOXLOG_TESTS_LOG_TEST_SUPPORT_H_
#define MOXLOG_TESTS_LOG_TEST_SUPPORT_H_

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "moxlog/moxlog.h"
#include "orv_test/wait_until.h"

namespace moxlog_test {

// True when `text` at `pos` is a time stamp "YYYY-MM-DD HH:MM:SS.uuuuuu" (26 characters).
inline bool IsTimeStampAt(const std::string& text, size_t pos) {
  static const char kPattern[] = "dddd-dd-dd dd:dd:dd.dddddd";
  if (text.size() < pos + sizeof(kPattern) - 1) {
    return false;
  }
  for (size_t i = 0; i + 1 < sizeof kPattern; ++i) {
    const char c = text[pos + i];
    const bool ok = kPattern[i] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == kPattern[i];
    if (!ok) {
      return false;
    }
  }
  return true;
}

// The lines of a log file (each must end with a line feed; a missing final one shows as a line
// "<unterminated>..."), with a leading time stamp - after "MemLog >> " in a dump line - replaced
// by "T". Lines without a time stamp (continuations of a multi-line message) stay as they are.
inline std::vector<std::string> NormalisedLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < content.size()) {
    const size_t end = content.find('\n', start);
    std::string line =
        end == std::string::npos ? "<unterminated>" + content.substr(start) : content.substr(start, end - start);
    const size_t stampAt = line.compare(0, 10, "MemLog >> ") == 0 ? 10 : 0;
    if (IsTimeStampAt(line, stampAt)) {
      line.replace(stampAt, 26, "T");
    }
    lines.push_back(line);
    start = end == std::string::npos ? content.size() : end + 1;
  }
  return lines;
}

// The seven normalised lines that the parameter record of a module makes.
inline std::vector<std::string> ParamRecordLines(const MoxlogParam& p) {
  const std::string pad(27, ' ');
  return {"T\t 0 Print current param:",
          pad + "usrModuleName:" + p.usrModuleName,
          pad + "fullPath:" + p.fullPath,
          pad + "fullFileName:" + p.fullFileName,
          pad + "fileLogLevel:" + std::to_string(p.fileLogLevel),
          pad + "memLogLevel:" + std::to_string(p.memLogLevel),
          pad + "memLogSize:" + std::to_string(p.memLogSize)};
}

inline off_t FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// Number of entries of a /proc/self directory ("task": threads, "fd": open descriptors).
inline int CountProcEntries(const char* which) {
  const std::string path = std::string("/proc/self/") + which;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    return -1;
  }
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  closedir(dir);
  return count - (std::string(which) == "fd" ? 1 : 0);  // the descriptor of the listing itself
}

// Exit codes of a child: it could not set its scene up here (a skip), or a step failed.
constexpr int kChildSkip = 77;
constexpr int kChildFailed = 100;

// Ends a child with a reason on its standard error.
[[noreturn]] inline void ChildFail(const std::string& why, int code = kChildFailed) {
  std::fprintf(stderr, "child: %s\n", why.c_str());
  std::fflush(stderr);
  _exit(code);
}

struct ChildEnd {
  int status = -1;  // as waitpid gives it; -1 when the child could not be run or was killed
  std::string err;  // the child's standard error (without an emulator's notice)
};

// Runs `body` in a forked child whose standard error goes to `errPath`; the child ends with 0
// when `body` returns. A child still running after `limit` is killed (status -1).
inline ChildEnd RunInChild(const std::string& errPath, const std::function<void()>& body,
                           std::chrono::seconds limit = std::chrono::seconds(60)) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
      dup2(fd, STDERR_FILENO);
      close(fd);
    }
    body();
    std::fflush(nullptr);
    _exit(0);
  }
  ChildEnd end;
  if (pid < 0) {
    end.err = "fork failed";
    return end;
  }
  if (!orv_test::WaitUntil([&] { return waitpid(pid, &end.status, WNOHANG) == pid; }, limit)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    end.status = -1;
  }
  // Under a user-mode emulator a child that dies by a signal gets a notice "qemu: uncaught target
  // signal ..." from the emulator; that line is not the child's.
  const std::string err = orv_test::ReadFile(errPath);
  for (size_t start = 0; start < err.size();) {
    const size_t stop = err.find('\n', start);
    const size_t next = stop == std::string::npos ? err.size() : stop + 1;
    if (err.compare(start, 6, "qemu: ") != 0) {
      end.err.append(err, start, next - start);
    }
    start = next;
  }
  return end;
}

}  // namespace moxlog_test

#endif  // MOXLOG_TESTS_LOG_TEST_SUPPORT_H_
