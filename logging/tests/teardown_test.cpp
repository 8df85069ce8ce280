// A process that exits with modules still registered: the library's teardown stops them, so the
// ring is dumped and every queued record reaches the file, and the exit neither hangs nor crashes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "log_test_support.h"
#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace {

constexpr int kRecords = 300;

// Runs in the child: starts two modules, makes sure the ring of the first holds a record, queues
// more and exits without stopping anything.
[[noreturn]] void ChildWritesAndExits(const std::string& dir, const std::string& name) {
  MoxlogParam first{name, dir, "", 4, 4, 100};
  MoxlogParam second{name + "-2", dir, "", 4, 4, 100};
  if (MoxlogSetAndInit(first) != 0 || MoxlogSetAndInit(second) != 0) {
    std::_Exit(2);
  }
  MoxlogWriteLog(3, name, "X", "rec-%d", 0);
  if (!orv_test::WaitUntil([&] { return orv_test::ReadFile(first.fullFileName).find("rec-0\n") != std::string::npos; })) {
    std::_Exit(3);
  }
  for (int i = 1; i < kRecords; ++i) {
    MoxlogWriteLog(3, name, "X", "rec-%d", i);
    MoxlogWriteLog(3, name + "-2", "X", "rec-%d", i);
  }
  std::exit(0);  // runs the static destructors, the library's teardown among them
}

TEST(Teardown, ModulesLeftRegisteredAtExitAreStoppedAndFlushed) {
  orv_test::ScratchDir scratch;
  const std::string name = "teardown-" + scratch.name();
  std::fflush(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ChildWritesAndExits(scratch.dir(), name);
  }
  int status = 0;
  const bool ended = orv_test::WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(ended) << "the exit hung";
  ASSERT_TRUE(WIFEXITED(status)) << status;
  ASSERT_EQ(WEXITSTATUS(status), 0);

  const std::vector<std::string> lines = moxlog_test::NormalisedLines(orv_test::ReadFile(scratch.dir() + name + ".log"));
  std::vector<std::string> plain;
  for (const std::string& line : lines) {
    if (line.compare(0, 10, "T\tX 3 rec-") == 0) {
      plain.push_back(line);
    }
  }
  ASSERT_EQ(plain.size(), static_cast<size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    EXPECT_EQ(plain[static_cast<size_t>(i)], "T\tX 3 rec-" + std::to_string(i));
  }
  // Only a stop dumps the ring, and the ring held at least rec-0 by then.
  EXPECT_GE(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.compare(0, 20, "MemLog >> T\tX 3 rec-") == 0; }),
            1);

  const std::vector<std::string> second =
      moxlog_test::NormalisedLines(orv_test::ReadFile(scratch.dir() + name + "-2.log"));
  EXPECT_EQ(std::count_if(second.begin(), second.end(),
                          [](const std::string& line) { return line.compare(0, 10, "T\tX 3 rec-") == 0; }),
            kRecords - 1);
}

}  // namespace
