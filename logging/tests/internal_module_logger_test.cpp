// The module logger driven directly: lifecycle, levels and the memory ring, the parameter record,
// the queue bound, the file size limit, reopening after deletion and renaming, lines longer than
// 512 characters, writes that come before the first pass, refusal of symbolic links, and that
// neither a thread nor a descriptor outlives a logger.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log_param.h"
#include "log_test_support.h"
#include "module_logger.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"
#include "orv_test/wait_until.h"

namespace {

using moxlog::MoxlogBl;
using moxlog_test::NormalisedLines;
using orv_test::ReadFile;
using orv_test::ScratchDir;
using orv_test::WaitUntil;
using Lines = std::vector<std::string>;

MoxlogParam MakeParam(const std::string& dir, const std::string& name, int fileLevel, int memLevel,
                      uint32_t memSize = 100) {
  MoxlogParam p{name, dir, "", fileLevel, memLevel, memSize};
  moxlog::CompleteParam(p);
  return p;
}

bool FileHas(const std::string& path, const std::string& text) { return ReadFile(path).find(text) != std::string::npos; }

TEST(ModuleLogger, LifecycleWritesOnlyWhileRunning) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "life", 4, 4);
  MoxlogBl logger;
  EXPECT_EQ(logger.WriteLog(0, "T", "before"), -1);
  logger.MemlogToFile();  // no ring yet: nothing happens
  EXPECT_EQ(logger.StopRecordLog(), 0);
  EXPECT_EQ(moxlog_test::FileSize(p.fullFileName), -1);

  MoxlogParam got{};
  logger.GetCurParam(got);
  EXPECT_EQ(got.usrModuleName, "moxlog");
  EXPECT_EQ(got.fullFileName, "/var/log/moxlog.log");
  EXPECT_EQ(got.memLogSize, 100u);

  ASSERT_EQ(logger.Init(p), 0);
  // The first pass creates the file before anything is written.
  EXPECT_TRUE(WaitUntil([&] { return moxlog_test::FileSize(p.fullFileName) == 0; }));
  struct stat info {};
  ASSERT_EQ(stat(p.fullFileName.c_str(), &info), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0640u & ~mask);

  // A second Init keeps everything.
  ScratchDir other;
  EXPECT_EQ(logger.Init(MakeParam(other.dir(), "other", 0, 0, 500)), 0);
  logger.GetCurParam(got);
  EXPECT_EQ(got.usrModuleName, "life");
  EXPECT_EQ(got.fullPath, scratch.dir());
  EXPECT_EQ(got.fullFileName, scratch.dir() + "life.log");
  EXPECT_EQ(got.fileLogLevel, 4);
  EXPECT_EQ(got.memLogSize, 100u);

  EXPECT_EQ(logger.WriteLog(2, "T", "running"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "running\n"); }));
  EXPECT_EQ(logger.StopRecordLog(), 0);
  EXPECT_EQ(logger.WriteLog(0, "T", "after"), -1);
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), (Lines{"T\tT 2 running", "MemLog >> T\tT 2 running"}));
  EXPECT_EQ(moxlog_test::FileSize(other.dir() + "other.log"), -1);
}

TEST(ModuleLogger, FileAndRingThresholdsAndDumps) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "levels", 1, 4);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  EXPECT_EQ(logger.WriteLog(4, "Interface", "debug-a"), 0);
  EXPECT_EQ(logger.WriteLog(1, "PROC", "error-b"), 0);
  EXPECT_EQ(logger.WriteLog(5, "PROC", "beyond-c"), 0);
  EXPECT_EQ(logger.WriteLog(-3, "", "negative-d"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "negative-d"); }));
  logger.MemlogToFile();
  logger.MemlogToFile();  // the ring is empty now: writes nothing
  EXPECT_EQ(logger.WriteLog(0, "PROC", "after-dump"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "after-dump"); }));
  EXPECT_EQ(logger.StopRecordLog(), 0);
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)),
            (Lines{"T\tPROC 1 error-b", "T\t -3 negative-d", "MemLog >> T\tInterface 4 debug-a",
                   "MemLog >> T\tPROC 1 error-b", "MemLog >> T\t -3 negative-d", "T\tPROC 0 after-dump",
                   "MemLog >> T\tPROC 0 after-dump"}));
}

TEST(ModuleLogger, RingKeepsTheMostRecentRecordsOfItsCapacity) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "ring", 0, 4, 100);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  for (int i = 0; i < 250; ++i) {
    ASSERT_EQ(logger.WriteLog(3, "R", "rec-" + std::to_string(i)), 0);
  }
  // The marker reaches the file too: once it is there, every record before it is in the ring.
  ASSERT_EQ(logger.WriteLog(0, "R", "marker"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "marker\n"); }));
  logger.MemlogToFile();
  logger.StopRecordLog();
  Lines expected{"T\tR 0 marker"};
  for (int i = 151; i < 250; ++i) {
    expected.push_back("MemLog >> T\tR 3 rec-" + std::to_string(i));
  }
  expected.push_back("MemLog >> T\tR 0 marker");
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), expected);
}

TEST(ModuleLogger, RecordParamWritesSevenLines) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "param", 2, -1, 777);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  logger.RecordParam();
  logger.StopRecordLog();
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), moxlog_test::ParamRecordLines(p));
}

TEST(ModuleLogger, FortyLinesOf250CharactersArriveExactly) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "chunks", 4, -1);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    // time stamp (26) + tab + "T" + blank + "3" + blank + 219 = 250 characters
    std::string msg = std::to_string(100 + i) + std::string(216, static_cast<char>('a' + i % 26));
    ASSERT_EQ(logger.WriteLog(3, "T", msg), 0);
    expected += "T\tT 3 " + msg + "\n";
  }
  logger.StopRecordLog();
  const std::string content = ReadFile(p.fullFileName);
  ASSERT_EQ(content.size(), 40u * 251u);
  std::string normalised;
  for (const std::string& line : NormalisedLines(content)) {
    normalised += line + "\n";
  }
  EXPECT_EQ(normalised, expected);
}

TEST(ModuleLogger, OverlongLinesAreCutAndNothingElseIsLost) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "long", 4, 4);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  const std::string longMsg = std::string(300, 'x') + std::string(300, 'y');
  const std::string longType(100, 't');
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(logger.WriteLog(1, "A", "before-" + std::to_string(round)), 0);
    ASSERT_EQ(logger.WriteLog(1, "B", longMsg), 0);
    ASSERT_EQ(logger.WriteLog(1, longType, "short message"), 0);
    ASSERT_EQ(logger.WriteLog(1, "C", "after-" + std::to_string(round)), 0);
  }
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "after-2\n"); }));
  logger.StopRecordLog();  // dumps the ring: the same lines with "MemLog >> " in front

  const std::string content = ReadFile(p.fullFileName);
  const Lines lines = NormalisedLines(content);
  ASSERT_EQ(lines.size(), 24u);
  for (size_t dump = 0; dump < 2; ++dump) {
    const std::string prefix = dump == 0 ? "" : "MemLog >> ";
    for (size_t round = 0; round < 3; ++round) {
      const size_t at = dump * 12 + round * 4;
      EXPECT_EQ(lines[at], prefix + "T\tA 1 before-" + std::to_string(round));
      // The whole line, time stamp included, is cut at 512 characters.
      const std::string cutLong = (prefix + std::string(26, '#') + "\tB 1 " + longMsg).substr(0, 512);
      EXPECT_EQ(lines[at + 1].size(), 512u - 25u);
      EXPECT_EQ(lines[at + 1], prefix + "T" + cutLong.substr(prefix.size() + 26));
      EXPECT_EQ(lines[at + 2], prefix + "T\t" + longType + " 1 short message");
      EXPECT_EQ(lines[at + 3], prefix + "T\tC 1 after-" + std::to_string(round));
    }
  }
}

TEST(ModuleLogger, QueueHoldsAtMostTenThousandRecords) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "queue", 4, -1);
  // A FIFO as the log file: the flush thread's first open blocks until a reader comes, so the
  // queue cannot drain in the meantime.
  ASSERT_EQ(mkfifo(p.fullFileName.c_str(), 0640), 0);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(logger.WriteLog(3, "Q", std::to_string(i)), 0);
  }
  {
    orv_test::StderrCapture capture;
    EXPECT_EQ(logger.WriteLog(3, "Q", "dropped"), 0);
    EXPECT_EQ(capture.Text(), "MoxLog ERROR: More than VEC_NEW_MAX.\n");
  }

  const int reader = open(p.fullFileName.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string received;
  size_t newlines = 0;
  const bool complete = WaitUntil([&] {
    char buf[65536];
    for (;;) {
      const ssize_t n = read(reader, buf, sizeof buf);
      if (n <= 0) {
        break;
      }
      received.append(buf, static_cast<size_t>(n));
    }
    newlines = static_cast<size_t>(std::count(received.begin(), received.end(), '\n'));
    return newlines >= 10000;
  });
  EXPECT_TRUE(complete) << newlines;
  logger.StopRecordLog();  // the reader is still open, so the last reopen does not block
  close(reader);

  const Lines lines = NormalisedLines(received);
  ASSERT_EQ(lines.size(), 10000u);
  for (int i = 0; i < 10000; ++i) {
    ASSERT_EQ(lines[static_cast<size_t>(i)], "T\tQ 3 " + std::to_string(i));
  }
}

TEST(ModuleLogger, RecordsAreRefusedWhileTheFileIsOverTheLimit) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "big", 4, -1);
  {
    const int fd = open(p.fullFileName.c_str(), O_WRONLY | O_CREAT, 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 104857601), 0);  // sparse: no disk space taken
    close(fd);
  }
  orv_test::StderrCapture err;
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  const std::string tooLarge = "MoxLog ERROR: Log file[" + p.fullFileName + "] is too large (104857601 > 104857600) to write file.\n";
  ASSERT_TRUE(WaitUntil([&] { return err.Peek().find(tooLarge) != std::string::npos; }));
  EXPECT_EQ(logger.WriteLog(0, "S", "refused"), 0);

  // Exactly at the limit the file is accepted again; every refused write wakes the thread, which
  // examines the file once more.
  ASSERT_EQ(truncate(p.fullFileName.c_str(), 104857600), 0);
  int probe = 0;
  ASSERT_TRUE(WaitUntil([&] {
    logger.WriteLog(0, "S", "probe-" + std::to_string(probe++));
    return moxlog_test::FileSize(p.fullFileName) > 104857600;
  }));
  logger.StopRecordLog();
  const std::string text = err.Text();
  EXPECT_EQ(text.compare(0, tooLarge.size(), tooLarge), 0) << text;

  const int fd = open(p.fullFileName.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::string tail(4096, '\0');
  const ssize_t n = pread(fd, &tail[0], tail.size(), 104857600);
  close(fd);
  ASSERT_GT(n, 0);
  tail.resize(static_cast<size_t>(n));
  const Lines lines = NormalisedLines(tail);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) {
    EXPECT_EQ(line.compare(0, 12, "T\tS 0 probe-"), 0) << line;
  }
  EXPECT_EQ(tail.find("refused"), std::string::npos);
}

TEST(ModuleLogger, DeletedOrRenamedFileIsCreatedAgainByName) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "rotate", 4, -1);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  ASSERT_EQ(logger.WriteLog(2, "R", "one"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "one\n"); }));

  ASSERT_EQ(unlink(p.fullFileName.c_str()), 0);
  ASSERT_EQ(logger.WriteLog(2, "R", "two"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "two\n"); }));

  const std::string moved = p.fullFileName + ".1";
  ASSERT_EQ(rename(p.fullFileName.c_str(), moved.c_str()), 0);
  ASSERT_EQ(logger.WriteLog(2, "R", "three"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "three\n"); }));
  logger.StopRecordLog();

  EXPECT_EQ(NormalisedLines(ReadFile(moved)), (Lines{"T\tR 2 two"}));
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), (Lines{"T\tR 2 three"}));
}

// Replaces the log file by a symbolic link to `target` and checks that a write appends nothing
// there and is reported; logging resumes once the link is gone.
void ExpectLinkRefused(const std::string& linkTarget, const std::string& victim, MoxlogBl& logger,
                       const MoxlogParam& p, const std::string& tag) {
  ASSERT_EQ(unlink(p.fullFileName.c_str()), 0);
  ASSERT_EQ(symlink(linkTarget.c_str(), p.fullFileName.c_str()), 0);
  const std::string before = ReadFile(victim);
  orv_test::StderrCapture err;
  ASSERT_EQ(logger.WriteLog(0, "L", "through-link-" + tag), 0);
  // The pass reports the refused open; the batch then finds no file.
  ASSERT_TRUE(WaitUntil([&] { return err.Peek().find("LogWriteFile fdLogFile < 0") != std::string::npos; }));
  const std::string text = err.Text();
  EXPECT_NE(text.find("MoxLog ERROR: Open log_file[" + p.fullFileName + "] failed. errno=[40]\n"), std::string::npos)
      << text;
  EXPECT_EQ(ReadFile(victim), before);

  ASSERT_EQ(unlink(p.fullFileName.c_str()), 0);
  ASSERT_EQ(logger.WriteLog(0, "L", "resumed-" + tag), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "resumed-" + tag + "\n"); }));
  struct stat info {};
  ASSERT_EQ(lstat(p.fullFileName.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ReadFile(victim), before);
}

TEST(ModuleLogger, NeverWritesThroughASymbolicLink) {
  ScratchDir scratch;
  ScratchDir elsewhere;
  const MoxlogParam p = MakeParam(scratch.dir(), "link", 4, -1);
  const std::string inside = scratch.dir() + "victim.txt";
  const std::string outside = elsewhere.dir() + "victim.txt";
  for (const std::string& victim : {inside, outside}) {
    const int fd = open(victim.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "orig\n", 5), 5);
    close(fd);
  }
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  ASSERT_EQ(logger.WriteLog(0, "L", "first"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "first\n"); }));

  ExpectLinkRefused(outside, outside, logger, p, "absolute");
  ExpectLinkRefused("victim.txt", inside, logger, p, "relative");
  logger.StopRecordLog();
  EXPECT_EQ(ReadFile(inside), "orig\n");
  EXPECT_EQ(ReadFile(outside), "orig\n");
}

TEST(ModuleLogger, NeverWritesOutsideTheValidatedDirectory) {
  ScratchDir scratch;
  const std::string sub = scratch.dir() + "sub";
  const MoxlogParam p = MakeParam(sub, "swap", 4, -1);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  ASSERT_EQ(logger.WriteLog(0, "D", "first"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "first\n"); }));

  // The directory is moved away and a link to it takes its place.
  const std::string moved = scratch.dir() + "moved";
  ASSERT_EQ(rename(sub.c_str(), moved.c_str()), 0);
  ASSERT_EQ(symlink(moved.c_str(), sub.c_str()), 0);
  orv_test::StderrCapture err;
  ASSERT_EQ(logger.WriteLog(0, "D", "second"), 0);
  ASSERT_TRUE(WaitUntil([&] { return err.Peek().find("LogWriteFile fdLogFile < 0") != std::string::npos; }));
  logger.StopRecordLog();
  const std::string text = err.Text();
  EXPECT_NE(text.find("MoxLog ERROR: Open log_file[" + p.fullFileName + "] failed. errno=[40]\n"), std::string::npos)
      << text;
  EXPECT_EQ(NormalisedLines(ReadFile(moved + "/swap.log")), (Lines{"T\tD 0 first"}));
}

TEST(ModuleLogger, AFileThatCannotBeExaminedBlocksWritesUntilItCan) {
  ScratchDir scratch;
  const std::string sub = scratch.dir() + "gone";
  const MoxlogParam p = MakeParam(sub, "blocked", 4, -1);
  MoxlogBl logger;
  ASSERT_EQ(logger.Init(p), 0);
  ASSERT_EQ(logger.WriteLog(0, "B", "first"), 0);
  ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "first\n"); }));

  // The whole directory goes away: the file can be neither opened nor examined.
  orv_test::StderrCapture err;
  ASSERT_EQ(unlink(p.fullFileName.c_str()), 0);
  ASSERT_EQ(rmdir(sub.c_str()), 0);
  const std::string openFailed = "MoxLog ERROR: Open log_file[" + p.fullFileName + "] failed. errno=[2]\n";
  const std::string statFailed = "MoxLog ERROR: Get log_file stat failed.[2]\n";
  // Queued before the thread noticed: its batch finds no file.
  ASSERT_EQ(logger.WriteLog(0, "B", "wakes-the-thread"), 0);
  ASSERT_TRUE(WaitUntil([&] {
    const std::string text = err.Peek();
    return text.find(openFailed + statFailed) != std::string::npos &&
           text.find("LogWriteFile fdLogFile < 0") != std::string::npos;
  }));
  // From now on records are dropped silently, and each drop lets the thread look again.
  const size_t reportsBefore = err.Peek().size();
  ASSERT_EQ(logger.WriteLog(0, "B", "dropped"), 0);
  ASSERT_TRUE(WaitUntil([&] { return err.Peek().size() > reportsBefore; }));

  ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
  int probe = 0;
  ASSERT_TRUE(WaitUntil([&] {
    logger.WriteLog(0, "B", "probe-" + std::to_string(probe++));
    return FileHas(p.fullFileName, "probe-");
  }));
  logger.StopRecordLog();
  const std::string text = err.Text();
  EXPECT_EQ(text.find("More than"), std::string::npos);
  EXPECT_EQ(text.substr(reportsBefore).find("LogWriteFile"), std::string::npos) << "a dropped record was queued";
  const std::string content = ReadFile(p.fullFileName);
  EXPECT_EQ(content.find("dropped"), std::string::npos);
  for (const std::string& line : NormalisedLines(content)) {
    EXPECT_EQ(line.compare(0, 12, "T\tB 0 probe-"), 0) << line;
  }
}

TEST(ModuleLogger, StopRightAfterInitLosesNothing) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "early", 4, -1);
  Lines expected;
  for (int i = 0; i < 20; ++i) {
    // Most stops come before the new flush thread's first pass has opened the file.
    MoxlogBl logger;
    ASSERT_EQ(logger.Init(p), 0);
    ASSERT_EQ(logger.WriteLog(3, "E", "early-" + std::to_string(i)), 0);
    ASSERT_EQ(logger.StopRecordLog(), 0);
    expected.push_back("T\tE 3 early-" + std::to_string(i));
  }
  EXPECT_EQ(NormalisedLines(ReadFile(p.fullFileName)), expected);
}

TEST(ModuleLogger, ReinitAfterStopAppliesNewParameters) {
  ScratchDir scratch;
  ScratchDir second;
  MoxlogBl logger;
  const MoxlogParam p1 = MakeParam(scratch.dir(), "again", 4, 4, 100);
  ASSERT_EQ(logger.Init(p1), 0);
  ASSERT_EQ(logger.WriteLog(1, "A", "first-run"), 0);
  logger.StopRecordLog();
  const MoxlogParam p2 = MakeParam(second.dir(), "again2", 2, 3, 300);
  ASSERT_EQ(logger.Init(p2), 0);
  MoxlogParam got{};
  logger.GetCurParam(got);
  EXPECT_EQ(got.usrModuleName, "again2");
  EXPECT_EQ(got.fullFileName, p2.fullFileName);
  EXPECT_EQ(got.fileLogLevel, 2);
  EXPECT_EQ(got.memLogLevel, 3);
  EXPECT_EQ(got.memLogSize, 300u);
  EXPECT_EQ(logger.WriteLog(3, "A", "ring-only"), 0);
  EXPECT_EQ(logger.WriteLog(4, "A", "neither"), 0);
  EXPECT_EQ(logger.WriteLog(2, "A", "second-run"), 0);
  logger.StopRecordLog();
  // Records still queued at the stop come after the dump and are not in it; so the dump lines
  // are there or not, depending on whether a pass came first.
  const Lines first = NormalisedLines(ReadFile(p1.fullFileName));
  EXPECT_EQ(std::count(first.begin(), first.end(), "T\tA 1 first-run"), 1);
  EXPECT_EQ(first.size() - static_cast<size_t>(std::count(first.begin(), first.end(), "MemLog >> T\tA 1 first-run")), 1u);
  const Lines lines = NormalisedLines(ReadFile(p2.fullFileName));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T\tA 2 second-run"), 1);
  for (const std::string& line : lines) {
    EXPECT_TRUE(line == "T\tA 2 second-run" || line == "MemLog >> T\tA 2 second-run" ||
                line == "MemLog >> T\tA 3 ring-only")
        << line;
  }
}

TEST(ModuleLogger, RefusedPathLeavesTheLoggerIdle) {
  MoxlogBl logger;
  const MoxlogParam p = MakeParam("/tmp/orv-not-a-log-root", "refused", 4, 4);
  orv_test::StderrCapture capture;
  EXPECT_EQ(logger.Init(p), 3);
  EXPECT_EQ(capture.Text(),
            "MoxLog ERROR: Log file path is illegal, it must be /var/log/* or /home/*.\n"
            "MoxLog ERROR: Log file full name is fault. [/tmp/orv-not-a-log-root/refused.log]\n");
  EXPECT_EQ(logger.WriteLog(0, "X", "nothing"), -1);
  logger.MemlogToFile();
  EXPECT_EQ(logger.StopRecordLog(), 0);
}

TEST(ModuleLogger, NoThreadOrDescriptorOutlivesALogger) {
  ScratchDir scratch;
  const MoxlogParam p = MakeParam(scratch.dir(), "owned", 4, 4);
  const int threads = moxlog_test::CountProcEntries("task");
  const int fds = moxlog_test::CountProcEntries("fd");
  for (int i = 0; i < 5; ++i) {
    MoxlogBl logger;
    ASSERT_EQ(logger.Init(p), 0);
    ASSERT_EQ(logger.WriteLog(1, "O", "cycle-" + std::to_string(i)), 0);
    ASSERT_TRUE(WaitUntil([&] { return FileHas(p.fullFileName, "cycle-" + std::to_string(i) + "\n"); }));
    EXPECT_TRUE(WaitUntil([&] { return moxlog_test::CountProcEntries("task") == threads + 1; }));
    logger.StopRecordLog();
  }
  {
    // Destroyed while running: the destructor stops it, so the queue and the ring reach the file.
    auto logger = std::make_unique<MoxlogBl>();
    ASSERT_EQ(logger->Init(p), 0);
    ASSERT_EQ(logger->WriteLog(1, "O", "destroyed-running"), 0);
    logger.reset();
  }
  // A joined thread may linger in the listing for a moment while the system finishes its exit.
  EXPECT_TRUE(WaitUntil([&] { return moxlog_test::CountProcEntries("task") == threads; }))
      << moxlog_test::CountProcEntries("task") << " threads, " << threads << " before";
  EXPECT_EQ(moxlog_test::CountProcEntries("fd"), fds);
  const Lines lines = NormalisedLines(ReadFile(p.fullFileName));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "T\tO 1 destroyed-running"), 1);
}

}  // namespace
