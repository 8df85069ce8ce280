// moxlog_soak: a long run of the logger under rotation, for a person to start by hand (not part
// of CI). Eight writer threads write numbered records to one module while the log file is rotated
// every second, alternately by renaming it and by copying it and truncating it in place. Rotated
// files are read and removed as the run goes. At the end it prints how many records were written,
// how many were found in the files, and how many the logger reported as dropped.
//
//   moxlog_soak [seconds (default 10)] [records per second per writer (default 10000, 0: no pause)]
//
// Run as a user who may create directories under /var/log/. Exit status: 0 when every record is
// accounted for (found, or reported dropped, or possibly written within a copy-truncate window or
// while the file was over its size limit), 1 when a record was found twice, a line is not a
// record of this run, or records went missing otherwise; 2 on a usage or set-up error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "moxlog/moxlog.h"

namespace {

constexpr int kWriters = 8;
constexpr char kModule[] = "soak";

// Records each writer wrote, and which of them were found in the files.
struct Tally {
  std::atomic<uint64_t> written[kWriters] = {};
  std::vector<uint8_t> found[kWriters];
  uint64_t foundCount = 0;
  uint64_t duplicates = 0;
  uint64_t foreign = 0;
  std::string firstForeign;
};

// Reads one finished log file and marks its records.
void Scan(const std::string& path, Tally& tally) {
  FILE* in = std::fopen(path.c_str(), "r");
  if (in == nullptr) {
    return;
  }
  char line[1024];
  while (std::fgets(line, sizeof line, in) != nullptr) {
    const char* tab = std::strchr(line, '\t');
    int writer = -1;
    uint64_t seq = 0;
    if (tab != nullptr && std::sscanf(tab, "\tK 4 t%d s%" SCNu64, &writer, &seq) == 2 && writer >= 0 &&
        writer < kWriters) {
      std::vector<uint8_t>& seen = tally.found[writer];
      if (seq >= seen.size()) {
        seen.resize(seq + 1 + seen.size() / 2, 0);
      }
      if (seen[seq] != 0) {
        ++tally.duplicates;
      } else {
        seen[seq] = 1;
        ++tally.foundCount;
      }
    } else if (std::strstr(line, "\t 0 Print current param:") == nullptr && line[0] != ' ') {
      if (tally.foreign++ == 0) {
        tally.firstForeign = line;
      }
    }
  }
  std::fclose(in);
}

// Copies `from` to `to`; returns the bytes copied.
off_t CopyFile(const std::string& from, const std::string& to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    return 0;
  }
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  off_t total = 0;
  char buf[65536];
  ssize_t n = 0;
  while (out >= 0 && (n = read(in, buf, sizeof buf)) > 0) {
    if (write(out, buf, static_cast<size_t>(n)) != n) {
      break;
    }
    total += n;
  }
  close(in);
  if (out >= 0) {
    close(out);
  }
  return total;
}

// Counts the logger's reports on standard error, which is redirected into a pipe.
struct Reports {
  std::atomic<uint64_t> queueFull{0};
  std::atomic<uint64_t> blocked{0};  // passes that refused new records (file too large or not there)
  std::atomic<uint64_t> other{0};
  std::mutex firstOtherMutex;
  std::string firstOther;
};

void ReadReports(int fd, Reports& reports) {
  std::string pending;
  char buf[4096];
  ssize_t n = 0;
  while ((n = read(fd, buf, sizeof buf)) > 0) {
    pending.append(buf, static_cast<size_t>(n));
    size_t end = 0;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (line == "MoxLog ERROR: More than VEC_NEW_MAX.") {
        ++reports.queueFull;
      } else if (line.find("to write file.") != std::string::npos ||
                 line.compare(0, 39, "MoxLog ERROR: Get log_file stat failed.") == 0) {
        ++reports.blocked;
      } else {
        if (reports.other++ == 0) {
          std::lock_guard<std::mutex> lock(reports.firstOtherMutex);
          reports.firstOther = line;
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10;
  const long rate = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
  if (argc > 3 || seconds <= 0 || rate < 0) {
    std::fprintf(stderr, "usage: %s [seconds] [records per second per writer, 0: no pause]\n", argv[0]);
    return 2;
  }
  char dirTemplate[] = "/var/log/moxlog-soak-XXXXXX";
  if (mkdtemp(dirTemplate) == nullptr) {
    std::perror("mkdtemp under /var/log");
    return 2;
  }
  const std::string dir = std::string(dirTemplate) + "/";
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    std::perror("pipe");
    return 2;
  }
  const int realStderr = dup(STDERR_FILENO);
  dup2(pipeFds[1], STDERR_FILENO);
  close(pipeFds[1]);
  Reports reports;
  std::thread reportReader(ReadReports, pipeFds[0], std::ref(reports));

  MoxlogParam param{kModule, dir, "", MOXLOG_DEBUG, -1, 100};
  if (MoxlogSetAndInit(param) != 0) {
    dprintf(realStderr, "MoxlogSetAndInit failed\n");
    return 2;
  }
  const std::string file = param.fullFileName;
  Tally tally;
  std::atomic<bool> running{true};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      const auto start = std::chrono::steady_clock::now();
      uint64_t seq = 0;
      while (running.load(std::memory_order_relaxed)) {
        if (MoxlogWriteLog(MOXLOG_DEBUG, kModule, "K", "t%d s%" PRIu64, w, seq) == 0) {
          ++seq;
          tally.written[w].store(seq, std::memory_order_relaxed);
        }
        if (rate > 0 && seq % 64 == 0) {
          const auto due = start + std::chrono::microseconds(static_cast<int64_t>(seq) * 1000000 / rate);
          std::this_thread::sleep_until(due);
        }
      }
    });
  }

  uint64_t renames = 0;
  uint64_t copyTruncates = 0;
  uint64_t truncatedUnread = 0;  // bytes a copy-truncate cut off after its copy
  // A renamed file may still receive the rest of the pass that had it open, so each rotated file
  // is read one rotation later.
  std::string previous;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (long tick = 1; std::chrono::steady_clock::now() < end; ++tick) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::string rotated = file + "." + std::to_string(tick);
    if (tick % 2 == 1) {
      if (rename(file.c_str(), rotated.c_str()) == 0) {
        ++renames;
      }
    } else {
      const off_t copied = CopyFile(file, rotated);
      struct stat info {};
      const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd >= 0) {
        if (fstat(fd, &info) == 0 && info.st_size > copied) {
          truncatedUnread += static_cast<uint64_t>(info.st_size - copied);
        }
        if (ftruncate(fd, 0) == 0) {
          ++copyTruncates;
        }
        close(fd);
      }
    }
    if (!previous.empty()) {
      Scan(previous, tally);
      unlink(previous.c_str());
    }
    previous = rotated;
  }
  running.store(false);
  for (std::thread& t : writers) {
    t.join();
  }
  MoxlogStopRecordLog(kModule);
  if (!previous.empty()) {
    Scan(previous, tally);
  }
  Scan(file, tally);
  std::fflush(stderr);
  dup2(realStderr, STDERR_FILENO);  // closes the pipe's last write end: the reader ends
  reportReader.join();
  close(pipeFds[0]);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);

  uint64_t written = 0;
  for (const auto& count : tally.written) {
    written += count.load();
  }
  const uint64_t dropped = reports.queueFull.load();
  const uint64_t accounted = tally.foundCount + dropped;
  const uint64_t missing = written > accounted ? written - accounted : 0;
  std::printf("seconds                %ld (%d writers, %ld records/s each%s)\n", seconds, kWriters, rate,
              rate == 0 ? ": no pause" : "");
  std::printf("rotations              %" PRIu64 " rename, %" PRIu64 " copy-truncate\n", renames, copyTruncates);
  std::printf("records written        %" PRIu64 "\n", written);
  std::printf("records found          %" PRIu64 "\n", tally.foundCount);
  std::printf("reported dropped       %" PRIu64 " (\"More than VEC_NEW_MAX.\")\n", dropped);
  std::printf("missing                %" PRIu64 " (%" PRIu64 " bytes were cut by copy-truncate after its copy)\n",
              missing, truncatedUnread);
  std::printf("blocked passes         %" PRIu64 " (records refused while the file was over 104857600 bytes\n"
              "                       or could not be examined are dropped without a report each)\n",
              reports.blocked.load());
  std::printf("found twice            %" PRIu64 "\n", tally.duplicates);
  std::printf("foreign lines          %" PRIu64 "%s%s", tally.foreign, tally.foreign ? ", first: " : "\n",
              tally.foreign ? tally.firstForeign.c_str() : "");
  std::printf("other reports          %" PRIu64 "%s%s\n", reports.other.load(), reports.other ? ", first: " : "",
              reports.firstOther.c_str());
  const bool missingExplained = missing == 0 || truncatedUnread > 0 || reports.blocked.load() > 0;
  return tally.duplicates == 0 && tally.foreign == 0 && missingExplained ? 0 : 1;
}
