// A module's log file rotated by the system's logrotate (/usr/sbin/logrotate, with its own state
// file and configuration in a scratch directory) while several threads write numbered records:
// every record whose write returned 0 is found exactly once, and in its thread's order, across the
// current, rotated and compressed files. Also the one-line count of the records refused while the
// file was over the size limit or could not be examined, checked against the records that are
// missing from the files.
//
// The disabled test MeasureLossPerStanza is a measurement, not a check: tools/logrotate_loss.sh
// runs it with a longer duration, a higher rate and a slower rotation (see Settings below).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using orv_test::ReadFile;
using orv_test::ScratchDir;
using orv_test::WaitUntil;
using Clock = std::chrono::steady_clock;

constexpr char kLogrotate[] = "/usr/sbin/logrotate";
constexpr char kNoLogrotate[] = "/usr/sbin/logrotate is not installed (Debian package logrotate)";

long EnvOr(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

// The load and the rotation of one run; the environment variables override the short defaults.
struct Settings {
  int writers = 4;
  long recordsPerSecond = EnvOr("ORV_LOGROTATE_RATE", 20000);  // all writers together
  long milliseconds = EnvOr("ORV_LOGROTATE_MS", 2500);
  long rotateEveryMs = EnvOr("ORV_LOGROTATE_PERIOD_MS", 50);
  long padding = EnvOr("ORV_LOGROTATE_PAD", 0);  // extra message bytes per record
  int maxRotations = 900;  // below the `rotate` count, so that logrotate deletes no file
  bool force = true;       // logrotate -f: rotate whatever the stanza's size and time criteria
};

// What the logrotate runs did.
struct Rotations {
  int runs = 0;
  int failedRuns = 0;
  std::string messages;  // logrotate's standard error
};

// What the files hold, against what the writers wrote.
struct Audit {
  long written = 0;
  long found = 0;
  long lost = 0;
  long duplicated = 0;
  long outOfOrder = 0;
  long foreignLines = 0;  // lines that are neither a record nor the parameter record's
  int files = 0;
};

// Up to `length` bytes of the file at `offset`.
std::string ReadRange(const std::string& path, off_t offset, size_t length) {
  std::string out(length, '\0');
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd >= 0 ? pread(fd, &out[0], length, offset) : -1;
  if (fd >= 0) {
    close(fd);
  }
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Writes the configuration for `logFile` with the stanza's body lines.
std::string WriteConfig(const ScratchDir& scratch, const std::string& logFile, const std::string& body) {
  const std::string config = scratch.dir() + "logrotate.conf";
  std::FILE* out = std::fopen(config.c_str(), "w");
  if (out == nullptr) {
    return "";
  }
  std::fprintf(out, "%s {\n%s}\n", logFile.c_str(), body.c_str());
  std::fclose(out);
  chmod(config.c_str(), 0644);  // logrotate ignores a configuration others may write
  return config;
}

std::string LogrotateCommand(const ScratchDir& scratch, const std::string& config, bool force = true) {
  return std::string(kLogrotate) + (force ? " -f" : "") + " -s " + Quoted(scratch.dir() + "logrotate.state") + " " + Quoted(config) +
         " 2>>" + Quoted(scratch.dir() + "logrotate.err");
}

// Every file of the log, current, rotated and compressed, as text (compressed ones through gzip).
std::vector<std::string> ReadAllLogFiles(const ScratchDir& scratch, const std::string& logName) {
  std::vector<std::string> contents;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, logName.size(), logName) != 0) {
      continue;
    }
    const std::string path = entry.path().string();
    if (name.size() > 3 && name.compare(name.size() - 3, 3, ".gz") == 0) {
      std::string text;
      std::FILE* in = popen(("gzip -dc " + Quoted(path)).c_str(), "r");
      if (in == nullptr) {
        ADD_FAILURE() << "cannot run gzip for " << path;
        continue;
      }
      char buf[65536];
      size_t n = 0;
      while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        text.append(buf, n);
      }
      EXPECT_EQ(pclose(in), 0) << "gzip -dc " << path;
      contents.push_back(std::move(text));
    } else {
      contents.push_back(ReadFile(path));
    }
  }
  return contents;
}

// Parses "<time stamp>\tR 3 w<thread> s<seq>[ padding]"; false for any other line.
bool ParseRecord(const std::string& line, int& thread, long& seq) {
  const size_t at = line.find("\tR 3 w");
  if (at == std::string::npos) {
    return false;
  }
  char* end = nullptr;
  thread = static_cast<int>(std::strtol(line.c_str() + at + 6, &end, 10));
  if (end == nullptr || end[0] != ' ' || end[1] != 's') {
    return false;
  }
  seq = std::strtol(end + 2, &end, 10);
  return *end == '\0' || *end == ' ';
}

// Checks the files against `written` (records per thread, numbered from 0): each record once, and
// within every file each thread's records consecutive, the files' runs of a thread not interleaved.
Audit AuditFiles(const std::vector<std::string>& contents, const std::vector<long>& written) {
  Audit audit;
  audit.files = static_cast<int>(contents.size());
  std::vector<std::vector<int>> seen(written.size());
  for (size_t t = 0; t < written.size(); ++t) {
    seen[t].assign(static_cast<size_t>(written[t]), 0);
    audit.written += written[t];
  }
  std::vector<std::vector<std::pair<long, long>>> runs(written.size());  // per thread: (first, last) per file
  for (const std::string& text : contents) {
    std::vector<long> last(written.size(), -1);
    std::vector<long> first(written.size(), -1);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) {
        end = text.size();
      }
      const std::string line = text.substr(start, end - start);
      start = end + 1;
      int t = 0;
      long s = 0;
      if (!ParseRecord(line, t, s)) {
        // The parameter record's seven lines are expected; anything else is not.
        const bool param = line.find("\t 0 Print current param:") != std::string::npos ||
                           line.compare(0, 27, std::string(27, ' ')) == 0;
        audit.foreignLines += param ? 0 : 1;
        continue;
      }
      if (t < 0 || static_cast<size_t>(t) >= written.size() || s < 0 || s >= written[static_cast<size_t>(t)]) {
        ++audit.foreignLines;
        continue;
      }
      const size_t ti = static_cast<size_t>(t);
      ++audit.found;
      if (++seen[ti][static_cast<size_t>(s)] > 1) {
        ++audit.duplicated;
      }
      if (last[ti] >= 0 && s <= last[ti]) {
        ++audit.outOfOrder;
      }
      if (first[ti] < 0) {
        first[ti] = s;
      }
      last[ti] = s;
    }
    for (size_t t = 0; t < written.size(); ++t) {
      if (first[t] >= 0) {
        runs[t].emplace_back(first[t], last[t]);
      }
    }
  }
  for (size_t t = 0; t < written.size(); ++t) {
    audit.lost += std::count(seen[t].begin(), seen[t].end(), 0);
    std::sort(runs[t].begin(), runs[t].end());
    for (size_t i = 1; i < runs[t].size(); ++i) {
      if (runs[t][i].first <= runs[t][i - 1].second) {
        ++audit.outOfOrder;  // two files hold interleaved records of one thread
      }
    }
  }
  return audit;
}

MoxlogParam StartModule(const ScratchDir& scratch) {
  MoxlogParam param{scratch.name(), scratch.dir(), "", 3, -1, 100};
  EXPECT_EQ(MoxlogSetAndInit(param), 0);
  return param;
}

// Writers at a steady total rate while logrotate runs every `rotateEveryMs` with the stanza body;
// then the module is stopped and every file audited.
Audit RunUnderRotation(const std::string& body, const Settings& settings, Rotations& rotations,
                       std::string* moduleErrors = nullptr) {
  ScratchDir scratch;
  orv_test::StderrCapture err;
  const MoxlogParam param = StartModule(scratch);
  const std::string logName = param.usrModuleName + ".log";
  const std::string config = WriteConfig(scratch, param.fullFileName, body);
  EXPECT_FALSE(config.empty());
  const std::string command = LogrotateCommand(scratch, config, settings.force);

  std::atomic<bool> stop{false};
  std::atomic<long> failedWrites{0};
  std::vector<long> written(static_cast<size_t>(settings.writers), 0);
  std::vector<std::thread> writers;
  const double perThread = static_cast<double>(settings.recordsPerSecond) / settings.writers;
  const std::string pad(static_cast<size_t>(std::max(0L, settings.padding)), 'p');
  const auto start = Clock::now();
  for (int t = 0; t < settings.writers; ++t) {
    writers.emplace_back([&, t] {
      // A writer that fell behind (descheduled on a busy machine) resumes the pace from now rather
      // than catching up in a burst, which could overflow the queue: this measures rotation, not
      // the queue bound.
      const auto period = std::chrono::nanoseconds(static_cast<long>(1e9 / perThread));
      auto next = start;
      long seq = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        const int rc = pad.empty() ? MoxlogWriteLog(3, param.usrModuleName, "R", "w%d s%ld", t, seq)
                                   : MoxlogWriteLog(3, param.usrModuleName, "R", "w%d s%ld %s", t, seq, pad.c_str());
        if (rc != 0) {
          failedWrites.fetch_add(1);
          break;
        }
        ++seq;
        next += period;
        const auto now = Clock::now();
        if (now > next + std::chrono::milliseconds(20)) {
          next = now;
        }
        std::this_thread::sleep_until(next);
      }
      written[static_cast<size_t>(t)] = seq;
    });
  }
  const auto until = start + std::chrono::milliseconds(settings.milliseconds);
  while (Clock::now() < until && rotations.runs < settings.maxRotations) {
    const auto next = Clock::now() + std::chrono::milliseconds(settings.rotateEveryMs);
    ++rotations.runs;
    if (RunCommand(command) != 0) {
      ++rotations.failedRuns;
    }
    std::this_thread::sleep_until(std::min(next, until));
  }
  stop = true;
  for (std::thread& w : writers) {
    w.join();
  }
  EXPECT_EQ(MoxlogStopRecordLog(param.usrModuleName), 0);
  const std::string errors = err.Text();
  if (moduleErrors != nullptr) {
    *moduleErrors = errors;
  }
  EXPECT_EQ(failedWrites.load(), 0);
  EXPECT_EQ(errors.find("More than VEC_NEW_MAX."), std::string::npos) << "the load overflowed the queue";
  rotations.messages = ReadFile(scratch.dir() + "logrotate.err");
  return AuditFiles(ReadAllLogFiles(scratch, logName), written);
}

void ExpectNothingLost(const std::string& body, int minRotations) {
  if (access(kLogrotate, X_OK) != 0) {
    GTEST_SKIP() << kNoLogrotate;
  }
  Settings settings;
  Rotations rotations;
  const Audit audit = RunUnderRotation(body, settings, rotations);
  SCOPED_TRACE(body + rotations.messages);
  EXPECT_GT(audit.written, settings.recordsPerSecond * settings.milliseconds / 4000);  // the load ran
  EXPECT_EQ(audit.lost, 0);
  EXPECT_EQ(audit.duplicated, 0);
  EXPECT_EQ(audit.outOfOrder, 0);
  EXPECT_EQ(audit.foreignLines, 0);
  EXPECT_EQ(audit.found, audit.written);
  EXPECT_GE(audit.files, minRotations) << rotations.runs << " runs";
}

// logrotate's default: rename, then create the new file itself.
TEST(Logrotate, CreateLosesNothing) { ExpectNothingLost("create 0640\nrotate 1000\nmissingok\n", 5); }

// Rename only: the module creates the new file.
TEST(Logrotate, NocreateLosesNothing) { ExpectNothingLost("nocreate\nrotate 1000\nmissingok\n", 5); }

// The renamed file stays uncompressed for one more cycle, so the records the module still
// appends to it before its next reopen are compressed with it. The README's example stanza, with
// more rotated files kept.
TEST(Logrotate, CreateWithDelayedCompressionLosesNothing) {
  ExpectNothingLost("daily\nrotate 1000\nmissingok\nnotifempty\ncreate 0640\ncompress\ndelaycompress\nmaxsize 50M\n", 5);
}

// Dated names: logrotate renames at most once a second (a later run finds the name taken).
TEST(Logrotate, DateextLosesNothing) {
  ExpectNothingLost("create 0640\ndateext\ndateformat -%Y%m%d-%H%M%S\nrotate 1000\nmissingok\n", 2);
}

// A stop that comes right after a rename, while the flush thread may be waiting for a new file,
// still writes the queued record, once. In every other round the stop comes 20 ms later, when the
// thread surely waits: the stop ends that wait (150 ms) instead of sitting it out, so the median
// of those stops stays well below it, whatever the machine's noise.
TEST(Logrotate, AStopWhileWaitingForTheNewFileWritesEverything) {
  std::vector<long> settledStopsMs;
  for (int round = 0; round < 10; ++round) {
    const bool settled = round % 2 == 1;
    ScratchDir scratch;
    const MoxlogParam param = StartModule(scratch);
    const std::string& file = param.fullFileName;
    ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s0"), 0);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(file).find(" s0\n") != std::string::npos; }));
    ASSERT_EQ(rename(file.c_str(), (file + ".1").c_str()), 0);
    ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s1"), 0);
    if (settled) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto stopStart = Clock::now();
    ASSERT_EQ(MoxlogStopRecordLog(param.usrModuleName), 0);
    if (settled) {
      settledStopsMs.push_back(
          static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stopStart).count()));
    }
    const Audit audit = AuditFiles({ReadFile(file + ".1"), ReadFile(file)}, {2});
    EXPECT_EQ(audit.found, 2);
    EXPECT_EQ(audit.lost + audit.duplicated + audit.outOfOrder + audit.foreignLines, 0);
  }
  std::sort(settledStopsMs.begin(), settledStopsMs.end());
  EXPECT_LT(settledStopsMs[settledStopsMs.size() / 2], 100) << "median stop in ms";
}

// A rotation tool held up for 40 ms between its rename and its create (a busy machine) still
// finds the name free: the module waits for it rather than create the file first, which would
// make logrotate move the module's file aside. The records queued meanwhile go to the tool's file.
TEST(Logrotate, AToolHeldUpBetweenRenameAndCreateFindsTheNameFree) {
  ScratchDir scratch;
  const MoxlogParam param = StartModule(scratch);
  const std::string& file = param.fullFileName;
  ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s0"), 0);
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(file).find(" s0\n") != std::string::npos; }));
  ASSERT_EQ(rename(file.c_str(), (file + ".1").c_str()), 0);
  ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s1"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  EXPECT_GE(fd, 0) << "the module created its file first, errno " << errno;
  if (fd >= 0) {
    close(fd);
  }
  ASSERT_EQ(MoxlogStopRecordLog(param.usrModuleName), 0);
  EXPECT_NE(ReadFile(file).find(" s1\n"), std::string::npos);
  const Audit audit = AuditFiles({ReadFile(file + ".1"), ReadFile(file)}, {2});
  EXPECT_EQ(audit.found, 2);
  EXPECT_EQ(audit.lost + audit.duplicated + audit.outOfOrder + audit.foreignLines, 0);
}

// A burst written while the flush thread waits for a new file is neither refused nor lost: the
// wait ends once half the queue is waiting. The burst is paced (no catching up after a late
// step), so that it would fill the queue within the wait, yet leaves the thread 50 ms between
// half and full to take the queue.
TEST(Logrotate, ABurstWhileWaitingForTheNewFileIsWrittenInFull) {
  ScratchDir scratch;
  orv_test::StderrCapture err;
  const MoxlogParam param = StartModule(scratch);
  const std::string& file = param.fullFileName;
  long next = 0;
  ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s%ld", next++), 0);
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(file).find(" s0\n") != std::string::npos; }));
  ASSERT_EQ(rename(file.c_str(), (file + ".1").c_str()), 0);
  for (int step = 0; step < 24; ++step) {
    for (int i = 0; i < 500; ++i) {
      ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s%ld", next), 0);
      ++next;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(MoxlogStopRecordLog(param.usrModuleName), 0);
  EXPECT_EQ(err.Text().find("More than VEC_NEW_MAX."), std::string::npos);
  const Audit audit = AuditFiles({ReadFile(file + ".1"), ReadFile(file)}, {next});
  EXPECT_EQ(audit.found, next);
  EXPECT_EQ(audit.lost + audit.duplicated + audit.outOfOrder + audit.foreignLines, 0);
}

// The record of the drop report: "<over the limit>" and "<could not be examined>" counts.
struct DropReport {
  long overLimit = 0;
  long unexamined = 0;
  int lines = 0;
};

DropReport ParseDropReports(const std::string& errors, const std::string& file) {
  DropReport report;
  const std::string prefix = "MoxLog ERROR: Log file[" + file + "] dropped records: ";
  for (size_t at = errors.find(prefix); at != std::string::npos; at = errors.find(prefix, at + 1)) {
    long a = 0;
    long b = 0;
    const std::string rest = errors.substr(at + prefix.size(), errors.find('\n', at) - at - prefix.size());
    char tail[64] = {};
    if (std::sscanf(rest.c_str(), "%ld while too large, %ld while it could not be examined%63s", &a, &b, tail) == 3 &&
        std::string(tail) == ".") {
      report.overLimit += a;
      report.unexamined += b;
      ++report.lines;
    } else {
      ADD_FAILURE() << "malformed report: " << rest;
    }
  }
  return report;
}

// Writes records "w0 s<n>" numbered from `next` until `done` holds (checked after each write).
template <typename Predicate>
bool WriteUntil(const std::string& module, long& next, Predicate done) {
  return WaitUntil([&] {
    EXPECT_EQ(MoxlogWriteLog(3, module, "R", "w0 s%ld", next), 0);
    ++next;
    return done();
  });
}

// The file grows past the limit; logrotate moves it away and writing resumes: one line counts the
// records refused meanwhile, and they are exactly the records missing from the files.
TEST(Logrotate, RecordsRefusedOverTheSizeLimitAreCountedWhenWritingResumes) {
  if (access(kLogrotate, X_OK) != 0) {
    GTEST_SKIP() << kNoLogrotate;
  }
  ScratchDir scratch;
  orv_test::StderrCapture err;
  const MoxlogParam param = StartModule(scratch);
  const std::string& file = param.fullFileName;
  ASSERT_TRUE(WaitUntil([&] { return access(file.c_str(), F_OK) == 0; }));
  long next = 0;
  ASSERT_TRUE(WriteUntil(param.usrModuleName, next, [&] { return ReadFile(file).find("s0\n") != std::string::npos; }));
  ASSERT_EQ(truncate(file.c_str(), 104857601), 0);  // sparse: no disk space taken
  const std::string tooLarge = "] is too large (";
  ASSERT_TRUE(WriteUntil(param.usrModuleName, next, [&] { return err.Peek().find(tooLarge) != std::string::npos; }));
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s%ld", next), 0);
    ++next;
  }
  const std::string config = WriteConfig(scratch, file, "create 0640\nrotate 5\n");
  ASSERT_EQ(RunCommand(LogrotateCommand(scratch, config)), 0) << ReadFile(scratch.dir() + "logrotate.err");
  ASSERT_TRUE(WriteUntil(param.usrModuleName, next, [&] { return err.Peek().find("dropped records") != std::string::npos; }));
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s%ld", next), 0);
    ++next;
  }
  ASSERT_EQ(MoxlogStopRecordLog(param.usrModuleName), 0);
  const std::string errors = err.Text();

  // The rotated file is sparse up to the limit: only its head and tail hold lines. The tail holds
  // the records already queued when a pass found the file too large; it is empty when that pass
  // came before the next record was queued.
  const std::string rotated = file + ".1";
  ASSERT_GE(moxlog_test::FileSize(rotated), 104857601);
  std::string head = ReadRange(rotated, 0, 1 << 20);
  head.resize(head.find('\0'));
  const std::string tail = ReadRange(rotated, 104857601, static_cast<size_t>(moxlog_test::FileSize(rotated) - 104857601));
  const std::vector<std::string> contents{ReadFile(file), head, tail};
  const Audit audit = AuditFiles(contents, {next});
  const DropReport report = ParseDropReports(errors, file);
  EXPECT_EQ(report.lines, 1) << errors;
  EXPECT_EQ(report.unexamined, 0);
  EXPECT_GE(report.overLimit, 300);
  EXPECT_EQ(report.overLimit, audit.lost) << errors;
  EXPECT_EQ(audit.duplicated + audit.outOfOrder + audit.foreignLines, 0);
  EXPECT_EQ(audit.found + audit.lost, next);
}

// The directory goes away twice: the records refused while the file could not be examined are
// counted once writing resumes, and again at a stop that comes while it still cannot be.
TEST(Logrotate, RecordsRefusedWhileTheFileCannotBeExaminedAreCounted) {
  ScratchDir scratch;
  const std::string sub = scratch.dir() + "sub";
  MoxlogParam param{scratch.name(), sub, "", 3, -1, 100};
  ASSERT_EQ(MoxlogSetAndInit(param), 0);
  const std::string& file = param.fullFileName;
  orv_test::StderrCapture err;
  long next = 0;
  std::vector<std::string> contents;
  long uncounted = 0;  // records of the pass that found no file: lost with "LogWriteFile fdLogFile < 0"
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(WriteUntil(param.usrModuleName, next, [&] { return access(file.c_str(), F_OK) == 0; }));
    const std::string lastLine = " s" + std::to_string(next - 1) + "\n";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(file).find(lastLine) != std::string::npos; }));
    contents.push_back(ReadFile(file));
    ASSERT_EQ(unlink(file.c_str()), 0);
    ASSERT_EQ(rmdir(sub.c_str()), 0);
    const size_t before = err.Peek().size();
    ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s%ld", next), 0);
    ++next;
    ++uncounted;
    ASSERT_TRUE(WaitUntil([&] { return err.Peek().find("Get log_file stat failed.[2]", before) != std::string::npos; }));
    for (int i = 0; i < 200; ++i) {
      ASSERT_EQ(MoxlogWriteLog(3, param.usrModuleName, "R", "w0 s%ld", next), 0);
      ++next;
    }
    if (round == 0) {
      ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);  // the next round's first write resumes writing
    }
  }
  ASSERT_EQ(MoxlogStopRecordLog(param.usrModuleName), 0);
  const std::string errors = err.Text();
  const DropReport report = ParseDropReports(errors, file);
  const Audit audit = AuditFiles(contents, {next});
  EXPECT_EQ(report.lines, 2) << errors;
  EXPECT_EQ(report.overLimit, 0);
  EXPECT_GE(report.unexamined, 400);
  EXPECT_EQ(report.unexamined + uncounted, audit.lost) << errors;
  EXPECT_EQ(audit.duplicated + audit.outOfOrder + audit.foreignLines, 0);
}

// The table of lost records per stanza under a steady load; run by tools/logrotate_loss.sh.
TEST(Logrotate, DISABLED_MeasureLossPerStanza) {
  if (access(kLogrotate, X_OK) != 0) {
    GTEST_SKIP() << kNoLogrotate;
  }
  struct Stanza {
    const char* title;
    const char* body;
    long padding;  // longer records, so that the size limit is reached within a run
    bool force;    // without -f the stanza's own criterion (size) decides
  };
  const Stanza stanzas[] = {
      {"create 0640", "create 0640\nrotate 1000\nmissingok\n", 0, true},
      {"copytruncate", "copytruncate\nrotate 1000\nmissingok\n", 0, true},
      {"create + compress + delaycompress", "create 0640\ncompress\ndelaycompress\nrotate 1000\nmissingok\n", 0, true},
      {"nocreate", "nocreate\nrotate 1000\nmissingok\n", 0, true},
      {"size 100M", "create 0640\nsize 100M\nrotate 1000\nmissingok\n", 200, false},
  };
  std::printf("| stanza | written | lost | counted as refused | queue full | logrotate runs (failed) | collisions | odd lines |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  const char* only = std::getenv("ORV_LOGROTATE_STANZA");  // runs only the stanza of this title
  for (const Stanza& stanza : stanzas) {
    if (only != nullptr && *only != '\0' && std::string(stanza.title) != only) {
      continue;
    }
    Settings settings;
    settings.padding = std::max(settings.padding, stanza.padding);
    settings.force = stanza.force;
    Rotations rotations;
    std::string errors;
    const Audit audit = RunUnderRotation(stanza.body, settings, rotations, &errors);
    long collisions = 0;
    for (size_t at = rotations.messages.find(".backup"); at != std::string::npos;
         at = rotations.messages.find(".backup", at + 1)) {
      ++collisions;
    }
    long queueFull = 0;  // dropped by a full queue: the flush thread fell behind the writers
    for (size_t at = errors.find("More than VEC_NEW_MAX."); at != std::string::npos;
         at = errors.find("More than VEC_NEW_MAX.", at + 1)) {
      ++queueFull;
    }
    long refused = 0;
    for (size_t at = errors.find("dropped records: "); at != std::string::npos; at = errors.find("dropped records: ", at + 1)) {
      refused += std::strtol(errors.c_str() + at + 17, nullptr, 10);
    }
    std::printf("| `%s` | %ld | %ld | %ld | %ld | %d (%d) | %ld | %ld |\n", stanza.title, audit.written, audit.lost,
                refused, queueFull, rotations.runs, rotations.failedRuns, collisions, audit.foreignLines);
    std::fflush(stdout);
  }
}

}  // namespace
