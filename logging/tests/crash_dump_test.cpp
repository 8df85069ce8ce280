// The crash-time ring dump, seen from outside: a child process fills the rings of two modules,
// enables the dump and crashes on purpose; the parent checks how the child ended and reads the log
// files. Covers each handled signal, a crash on a thread other than the main one, chaining to the
// handler installed before, and a module whose file lock is held at the crash.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "moxlog/moxlog.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace {

using moxlog_test::ChildEnd;
using moxlog_test::ChildFail;
using moxlog_test::kChildSkip;
using moxlog_test::NormalisedLines;
using moxlog_test::RunInChild;
using orv_test::ReadFile;
using orv_test::ScratchDir;
using orv_test::WaitUntil;
using Lines = std::vector<std::string>;

constexpr int kRingRecords = 150;  // level 3: ring only

MoxlogParam ModuleParam(const std::string& dir, const std::string& name) {
  // File threshold 0, ring threshold 4: the ring holds what the file does not.
  return MoxlogParam{name, dir, "", MOXLOG_CRITICAL, MOXLOG_DEBUG, 100};
}

// In the child: starts the module and fills its ring; returns once the batch is through the flush
// thread (the marker line is in the file), so the records are in the ring.
void FillRing(const std::string& dir, const std::string& name) {
  MoxlogParam p = ModuleParam(dir, name);
  if (MoxlogSetAndInit(p) != 0) {
    ChildFail("MoxlogSetAndInit " + name);
  }
  for (int i = 0; i < kRingRecords; ++i) {
    MoxlogWriteLog(MOXLOG_INFORMATION, name, "R", "%s-ring-%d", name.c_str(), i);
  }
  MoxlogWriteLog(MOXLOG_CRITICAL, name, "M", "%s-marker", name.c_str());
  if (!WaitUntil([&] { return ReadFile(p.fullFileName).find(name + "-marker\n") != std::string::npos; })) {
    ChildFail("marker of " + name + " never reached the file");
  }
}

// What the log file of a module filled by FillRing holds after the dump: its parameter record,
// the marker, then the last 100 records pushed into the ring as dump lines.
Lines ExpectedFile(const std::string& dir, const std::string& name) {
  MoxlogParam p = ModuleParam(dir, name);
  p.fullPath = dir;
  p.fullFileName = dir + name + ".log";
  Lines lines = moxlog_test::ParamRecordLines(p);
  lines.push_back("T\tM 0 " + name + "-marker");
  for (int i = kRingRecords - 99; i < kRingRecords; ++i) {
    lines.push_back("MemLog >> T\tR 3 " + name + "-ring-" + std::to_string(i));
  }
  lines.push_back("MemLog >> T\tM 0 " + name + "-marker");
  return lines;
}

// The scene of every case: `previous` installed for `sig` (the default disposition unless given,
// so that a sanitizer's own handler does not stand in the chain), two modules with full rings and
// the dump enabled (twice: the second call must change nothing).
void PrepareChild(const std::string& dir, int sig, void (*previous)(int) = SIG_DFL) {
  std::signal(sig, previous);
  FillRing(dir, "alpha");
  FillRing(dir, "beta");
  if (MoxlogEnableCrashDump() != 0 || MoxlogEnableCrashDump() != 0) {
    ChildFail("MoxlogEnableCrashDump failed");
  }
}

// A real fault: a store to a page that allows no access (not a null pointer, which the undefined
// behaviour checker would catch before the processor does).
void FaultingWrite() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) {
    ChildFail("mmap");
  }
  volatile int* volatile target = static_cast<int*>(page);
  *target = 1;
}

// Recursion without end (the compiler cannot see that the depth never reaches its limit).
volatile long g_depthLimit = -1;
long Recurse(long depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth == g_depthLimit) {
    return frame[0];
  }
  return Recurse(depth + 1) + frame[0];
}

struct CrashKind {
  const char* name;
  int sig;
  void (*crash)();
};

TEST(CrashDump, EveryRingIsWrittenAndTheProcessEndsByItsSignal) {
  const CrashKind kinds[] = {
      {"faulting write on another thread", SIGSEGV, [] { std::thread([] { FaultingWrite(); }).join(); }},
      {"abort", SIGABRT, [] { std::abort(); }},
      // The thread that enabled the dump has an alternate signal stack for its handler.
      {"stack overflow", SIGSEGV, [] { std::printf("%ld", Recurse(0)); }},
      {"SIGBUS", SIGBUS, [] { std::raise(SIGBUS); }},
      {"SIGILL", SIGILL, [] { std::raise(SIGILL); }},
      {"SIGFPE", SIGFPE, [] { std::raise(SIGFPE); }},
  };
  for (const CrashKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    ScratchDir scratch;
    const ChildEnd end = RunInChild(scratch.path() + "/child.err", [&] {
      PrepareChild(scratch.dir(), kind.sig);
      kind.crash();
    });
    ASSERT_TRUE(WIFSIGNALED(end.status)) << "status " << end.status << "\n" << end.err;
    EXPECT_EQ(WTERMSIG(end.status), kind.sig);
    EXPECT_EQ(end.err, "");
    for (const char* name : {"alpha", "beta"}) {
      EXPECT_EQ(NormalisedLines(ReadFile(scratch.dir() + name + ".log")), ExpectedFile(scratch.dir(), name)) << name;
    }
  }
}

// The handler installed before the dump was enabled: it checks that the dump is already in the
// file and ends the process with its own exit code.
std::string g_previousSees;
extern "C" void PreviousHandler(int) {
  const int fd = open(g_previousSees.c_str(), O_RDONLY);
  char buf[65536];
  const ssize_t n = fd >= 0 ? read(fd, buf, sizeof buf) : -1;
  // No allocation in a signal handler: a plain search.
  static const char kDumpLine[] = "MemLog >> ";
  bool dumped = false;
  for (ssize_t i = 0; !dumped && i + static_cast<ssize_t>(sizeof kDumpLine) - 1 <= n; ++i) {
    dumped = std::memcmp(buf + i, kDumpLine, sizeof kDumpLine - 1) == 0;
  }
  _exit(dumped ? 42 : 43);
}

TEST(CrashDump, ThePreviousHandlerRunsAfterTheDump) {
  ScratchDir scratch;
  g_previousSees = scratch.dir() + "alpha.log";
  const ChildEnd end = RunInChild(scratch.path() + "/child.err", [&] {
    PrepareChild(scratch.dir(), SIGABRT, PreviousHandler);
    std::abort();
  });
  ASSERT_TRUE(WIFEXITED(end.status)) << "status " << end.status << "\n" << end.err;
  EXPECT_EQ(WEXITSTATUS(end.status), 42) << "43: the previous handler ran before the dump\n" << end.err;
  EXPECT_EQ(NormalisedLines(ReadFile(scratch.dir() + "beta.log")), ExpectedFile(scratch.dir(), "beta"));
}

// True when some thread of this process sleeps in the open of a FIFO that has no reader.
bool AThreadWaitsInAFifoOpen() {
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) {
    return false;
  }
  bool found = false;
  while (const dirent* task = readdir(tasks)) {
    if (task->d_name[0] != '.' &&
        ReadFile(std::string("/proc/self/task/") + task->d_name + "/wchan").find("wait_for_partner") !=
            std::string::npos) {
      found = true;
    }
  }
  closedir(tasks);
  return found;
}

TEST(CrashDump, AModuleWhoseLockIsHeldIsSkippedWithAReport) {
  ScratchDir scratch;
  const ChildEnd end = RunInChild(scratch.path() + "/child.err", [&] {
    PrepareChild(scratch.dir(), SIGABRT);
    // alpha's flush thread takes its file lock and then sleeps in the open of a FIFO put in place
    // of its log file: the lock stays held until the process ends.
    const std::string file = scratch.dir() + "alpha.log";
    if (unlink(file.c_str()) != 0 || mkfifo(file.c_str(), 0600) != 0) {
      ChildFail("cannot put a FIFO in place of the log file");
    }
    MoxlogWriteLog(MOXLOG_CRITICAL, "alpha", "M", "wake");
    if (!WaitUntil(AThreadWaitsInAFifoOpen, std::chrono::seconds(10))) {
      ChildFail("no thread is seen waiting in the FIFO's open (no wchan in /proc?)", kChildSkip);
    }
    std::abort();
  });
  if (WIFEXITED(end.status) && WEXITSTATUS(end.status) == kChildSkip) {
    GTEST_SKIP() << end.err;
  }
  ASSERT_TRUE(WIFSIGNALED(end.status)) << "status " << end.status << "\n" << end.err;
  EXPECT_EQ(WTERMSIG(end.status), SIGABRT);
  EXPECT_EQ(end.err, "MoxLog ERROR: Crash dump skips module[alpha]: its lock is held.\n");
  EXPECT_EQ(NormalisedLines(ReadFile(scratch.dir() + "beta.log")), ExpectedFile(scratch.dir(), "beta"));
}

}  // namespace
