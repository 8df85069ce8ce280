// The logger under faults of its surroundings, through the exported interface: a full disk (a small
// tmpfs in a private mount namespace of a child process), the log file renamed over and over while
// records are written, and the file or its directory swapped for symbolic links while records are
// written.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using moxlog_test::ChildFail;
using moxlog_test::kChildSkip;
using moxlog_test::NormalisedLines;
using orv_test::ReadFile;
using orv_test::ScratchDir;
using orv_test::WaitUntil;
using Lines = std::vector<std::string>;

// Stops a background loop and joins its thread when the scope ends, also when an assertion
// leaves the test early (a joinable thread would otherwise end the program).
class StopAndJoin {
 public:
  StopAndJoin(std::atomic<bool>& flag, std::thread& thread) : flag_(flag), thread_(thread) {}
  StopAndJoin(const StopAndJoin&) = delete;
  StopAndJoin& operator=(const StopAndJoin&) = delete;
  ~StopAndJoin() { Stop(); }
  void Stop() {
    flag_.store(false);
    if (thread_.joinable()) {
      thread_.join();
    }
  }

 private:
  std::atomic<bool>& flag_;
  std::thread& thread_;
};

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
    ++n;
  }
  return n;
}

void WriteFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
}

// In a child: a private mount namespace with a 64 KiB tmpfs on `dir`; skips where not allowed.
void MountSmallTmpfs(const std::string& dir) {
  if (unshare(CLONE_NEWNS) != 0) {
    ChildFail(std::string("unshare(CLONE_NEWNS) is not allowed here: ") + std::strerror(errno), kChildSkip);
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    ChildFail(std::string("cannot make / private: ") + std::strerror(errno), kChildSkip);
  }
  if (mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") != 0) {
    ChildFail(std::string("cannot mount a tmpfs: ") + std::strerror(errno), kChildSkip);
  }
}

// Fills the file system of `path` to the last byte.
void FillUp(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    ChildFail("cannot create the filler");
  }
  static const char block[4096] = {};
  while (write(fd, block, sizeof block) > 0) {
  }
  while (write(fd, block, 1) > 0) {
  }
  close(fd);
}

TEST(LoggerFaults, FullDiskIsReportedAndWritingResumesWhenSpaceReturns) {
  ScratchDir scratch;
  const std::string errPath = "/tmp/orv-fault-child-" + scratch.name() + ".err";
  const moxlog_test::ChildEnd end = moxlog_test::RunInChild(errPath, [&] {
    MountSmallTmpfs(scratch.path());
    const std::string filler = scratch.dir() + "filler";
    FillUp(filler);
    orv_test::StderrCapture err;
    const std::string report = "MoxLog ERROR: write logfile fail errno=28\n";
    MoxlogParam p{"full", scratch.dir(), "", MOXLOG_DEBUG, -1, 100};
    if (MoxlogSetAndInit(p) != 0) {
      ChildFail("MoxlogSetAndInit");
    }
    // The parameter record and three records, one batch each, all refused by the full disk.
    if (!WaitUntil([&] { return CountOf(err.Peek(), report) == 1; })) {
      ChildFail("the parameter record's failed write was not reported: " + err.Peek());
    }
    for (size_t i = 0; i < 3; ++i) {
      MoxlogWriteLog(MOXLOG_WARNING, "full", "A", "lost-%zu", i);
      if (!WaitUntil([&] { return CountOf(err.Peek(), report) == i + 2; })) {
        ChildFail("failed write not reported: " + err.Peek());
      }
    }
    unlink(filler.c_str());
    Lines expected;
    for (int i = 0; i < 200; ++i) {
      MoxlogWriteLog(MOXLOG_WARNING, "full", "A", "after-%d", i);
      expected.push_back("T\tA 2 after-" + std::to_string(i));
    }
    MoxlogStopRecordLog("full");
    const std::string text = err.Text();
    if (text != report + report + report + report) {
      ChildFail("reports: " + text);
    }
    const std::string content = ReadFile(p.fullFileName);
    if (NormalisedLines(content) != expected) {
      ChildFail("log file after the disk had room again:\n" + content);
    }
  });
  unlink(errPath.c_str());
  if (WIFEXITED(end.status) && WEXITSTATUS(end.status) == kChildSkip) {
    GTEST_SKIP() << end.err;
  }
  ASSERT_TRUE(WIFEXITED(end.status)) << "status " << end.status << "\n" << end.err;
  EXPECT_EQ(WEXITSTATUS(end.status), 0) << end.err;
}

TEST(LoggerFaults, RenamedOverAndOverWhileWritingEveryRecordIsFoundOnce) {
  ScratchDir scratch;
  // No ring (memory threshold -1): the files hold only what the flush thread wrote.
  MoxlogParam p{"spin", scratch.dir(), "", MOXLOG_CRITICAL, -1, 100};
  orv_test::StderrCapture err;
  ASSERT_EQ(MoxlogSetAndInit(p), 0);
  const std::string file = p.fullFileName;
  std::atomic<bool> writing{true};
  std::atomic<int> renames{0};
  std::thread rotator([&] {
    while (writing.load()) {
      const int next = renames.load() + 1;
      if (rename(file.c_str(), (file + "." + std::to_string(next)).c_str()) == 0) {
        renames.store(next);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  StopAndJoin stopRotator(writing, rotator);
  // A pass that finds the file gone waits a moment for a rotation tool to put a new one in place,
  // so the renames come at most every few tens of milliseconds: write until there were enough.
  constexpr int kMinRecords = 6000;
  constexpr int kMaxRecords = 400000;
  int written = 0;
  while (written < kMaxRecords && (written < kMinRecords || renames.load() <= 10)) {
    ASSERT_EQ(MoxlogWriteLog(MOXLOG_CRITICAL, "spin", "S", "seq-%d", written), 0);
    ++written;
    if (written % 64 == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));  // stay clear of the queue bound
    }
  }
  stopRotator.Stop();
  ASSERT_EQ(MoxlogStopRecordLog("spin"), 0);
  const std::string reports = err.Text();
  EXPECT_EQ(reports.find("More than VEC_NEW_MAX."), std::string::npos) << "the test outran the queue";
  const int renamed = renames.load();
  EXPECT_GT(renamed, 10);

  // The files in the order they were current: .1, .2, ..., then the file itself.
  std::vector<int> seen;
  for (int k = 1; k <= renamed + 1; ++k) {
    for (const std::string& line : NormalisedLines(ReadFile(k <= renamed ? file + "." + std::to_string(k) : file))) {
      if (line.compare(0, 10, "T\tS 0 seq-") == 0) {
        seen.push_back(std::stoi(line.substr(10)));
      } else if (line.compare(0, 3, "T\t ") != 0 && line.compare(0, 4, "    ") != 0) {
        ADD_FAILURE() << "foreign line in file " << k << ": " << line;
      }
    }
  }
  std::vector<int> expected(static_cast<size_t>(written));
  for (int i = 0; i < written; ++i) {
    expected[static_cast<size_t>(i)] = i;
  }
  EXPECT_EQ(seen, expected);
}

TEST(LoggerFaults, LinksSwappedInWhileWritingAreNeverFollowed) {
  ScratchDir scratch;
  ScratchDir outside("/tmp");
  const std::string sub = scratch.dir() + "sub";
  const std::string moved = scratch.dir() + "moved";
  // Outside the log root: a file the log file is swapped for, and a directory the log directory
  // is swapped for, holding a file of the log file's name.
  const std::string victim = outside.dir() + "victim.txt";
  const std::string twin = outside.dir() + "swap.log";
  WriteFile(victim, "victim\n");
  WriteFile(twin, "twin\n");
  MoxlogParam p{"swap", sub, "", MOXLOG_CRITICAL, -1, 100};
  orv_test::StderrCapture err;  // the refused opens are reported; they are not what is checked
  ASSERT_EQ(MoxlogSetAndInit(p), 0);
  const std::string file = p.fullFileName;

  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (int i = 0; writing.load(); ++i) {
      MoxlogWriteLog(MOXLOG_CRITICAL, "swap", "W", "w-%d", i);
      if (i % 16 == 15) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
  });
  StopAndJoin stopWriter(writing, writer);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
  for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
    if (round % 2 == 0) {
      // The flush thread may create the file again between the move and the link.
      const std::string kept = file + ".kept" + std::to_string(round);
      int tries = 0;
      do {
        ASSERT_TRUE(rename(file.c_str(), kept.c_str()) == 0 || errno == ENOENT);
        ASSERT_LT(++tries, 1000);
      } while (symlink(victim.c_str(), file.c_str()) != 0 && errno == EEXIST);
      struct stat link {};
      ASSERT_EQ(lstat(file.c_str(), &link), 0);
      ASSERT_TRUE(S_ISLNK(link.st_mode));
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      ASSERT_EQ(unlink(file.c_str()), 0);
    } else {
      ASSERT_EQ(rename(sub.c_str(), moved.c_str()), 0);
      ASSERT_EQ(symlink(outside.path().c_str(), sub.c_str()), 0);
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      ASSERT_EQ(unlink(sub.c_str()), 0);
      ASSERT_EQ(rename(moved.c_str(), sub.c_str()), 0);
    }
  }
  stopWriter.Stop();
  // Logging resumes: a record written while the last pass found no file is dropped (that pass
  // blocked writes), so the check writes until one arrives.
  ASSERT_TRUE(WaitUntil([&] {
    MoxlogWriteLog(MOXLOG_CRITICAL, "swap", "W", "final");
    return ReadFile(file).find("\tW 0 final\n") != std::string::npos;
  }));
  ASSERT_EQ(MoxlogStopRecordLog("swap"), 0);
  static_cast<void>(err.Text());

  // Compared by size first: a failure would otherwise print thousands of stray lines.
  const std::string victimNow = ReadFile(victim);
  const std::string twinNow = ReadFile(twin);
  EXPECT_TRUE(victimNow == "victim\n") << victimNow.size() << " bytes: " << victimNow.substr(0, 300);
  EXPECT_TRUE(twinNow == "twin\n") << twinNow.size() << " bytes: " << twinNow.substr(0, 300);
  struct stat info {};
  ASSERT_EQ(lstat(file.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}

}  // namespace
