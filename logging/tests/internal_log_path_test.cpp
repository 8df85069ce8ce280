// Log directory validation under unique /var/log/orv-test-* directories: canonicalisation against
// realpath(3), creation of missing levels, the allowed roots, symbolic links, the call budget,
// creation failures and over-long or malformed paths, each with its exact report.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "canonical_path.h"
#include "log_path.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/stderr_capture.h"

namespace {

namespace fs = std::filesystem;
using moxlog::CanonicalPath;
using moxlog::CreateDir;
using moxlog::FilePathIsFault;
using moxlog::IsValidPath;

const std::string kIllegal =
    "MoxLog ERROR: Log file path is illegal, it must be /var/log/* or /home/*.\n";

MoxlogParam ParamFor(const std::string& dir, const std::string& module = "app") {
  return MoxlogParam{module, dir, dir + module + ".log", 0, 1, 100};
}

struct Outcome {
  bool fault;
  std::string realFileName;
  std::string realDir;
  std::string report;
};

Outcome Check(const MoxlogParam& param) {
  Outcome out;
  orv_test::StderrCapture capture;
  out.fault = FilePathIsFault(param, out.realFileName, out.realDir);
  out.report = capture.Text();
  return out;
}

unsigned Mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
}

TEST(CanonicalPathTest, AgreesWithRealpathOnRandomPaths) {
  orv_test::ScratchDir scratch;
  const std::string root = scratch.path();
  fs::create_directories(root + "/a/b/c");
  std::ofstream(root + "/f") << "x";
  fs::create_directory_symlink("a/b", root + "/l1");
  fs::create_directory_symlink(root + "/a", root + "/l2");
  fs::create_symlink("l1", root + "/l3");
  fs::create_symlink("loop2", root + "/loop1");
  fs::create_symlink("loop1", root + "/loop2");
  fs::create_symlink("gone/x", root + "/dangling");
  const std::vector<std::string> tokens = {"a",  "b", "c",  "l1", "l2",    "l3",       "f",
                                           ".",  "..", "",  "missing", "loop1", "dangling"};
  std::mt19937 rng(7);
  int resolved = 0;
  int missing = 0;
  for (int iter = 0; iter < 3000; ++iter) {
    std::string path = root;
    const int parts = std::uniform_int_distribution<int>(0, 6)(rng);
    for (int i = 0; i < parts; ++i) {
      path += "/" + tokens[std::uniform_int_distribution<size_t>(0, tokens.size() - 1)(rng)];
    }
    std::string ours;
    bool missingIsLast = false;
    const int err = CanonicalPath(path, ours, &missingIsLast);
    char buf[PATH_MAX];
    errno = 0;
    const char* theirs = realpath(path.c_str(), buf);
    const int theirErr = theirs == nullptr ? errno : 0;
    ASSERT_EQ(err, theirErr) << path;
    if (err == 0) {
      ASSERT_EQ(ours, theirs) << path;
      ++resolved;
    } else if (err == ENOENT) {
      // The existing leading part in canonical form, then the first missing component.
      const size_t slash = ours.rfind('/');
      ASSERT_NE(slash, std::string::npos) << path;
      const std::string parent = slash == 0 ? "/" : ours.substr(0, slash);
      ASSERT_NE(realpath(parent.c_str(), buf), nullptr) << path;
      EXPECT_EQ(parent, buf) << path;
      const std::string name = ours.substr(slash + 1);
      EXPECT_TRUE(name == "gone" ||
                  (std::find(tokens.begin(), tokens.end(), name) != tokens.end() &&
                   name != "." && name != ".." && !name.empty()))
          << path << " -> " << ours;
      struct stat st;
      EXPECT_NE(lstat(ours.c_str(), &st), 0) << path;
      // The missing component is the last one exactly when everything before it resolves and
      // the last name is absent there.
      std::string trimmed = path;
      while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
      }
      const size_t cut = trimmed.rfind('/');
      const std::string lastName = trimmed.substr(cut + 1);
      const std::string before = trimmed.substr(0, cut == 0 ? 1 : cut);
      bool wantLast = false;
      if (lastName != "." && lastName != ".." && realpath(before.c_str(), buf) != nullptr) {
        const std::string candidate = std::string(buf) + "/" + lastName;
        wantLast = lstat(candidate.c_str(), &st) != 0 && errno == ENOENT;
        if (wantLast) {
          EXPECT_EQ(ours, candidate) << path;
        }
      }
      EXPECT_EQ(missingIsLast, wantLast) << path;
      ++missing;
    }
  }
  EXPECT_GT(resolved, 300);
  EXPECT_GT(missing, 300);
}

TEST(CanonicalPathTest, RelativePathsResolveAgainstTheWorkingDirectory) {
  orv_test::ScratchDir scratch;
  fs::create_directories(scratch.path() + "/d");
  const fs::path saved = fs::current_path();
  fs::current_path(scratch.path());
  std::string out;
  const int err = CanonicalPath("d/../d/./x", out);
  fs::current_path(saved);
  EXPECT_EQ(err, ENOENT);
  EXPECT_EQ(out, scratch.path() + "/d/x");
}

TEST(CanonicalPathTest, MalformedAndOverLongPathsAreRefused) {
  std::string out;
  EXPECT_EQ(CanonicalPath("", out), ENOENT);
  EXPECT_EQ(out, "");
  EXPECT_EQ(CanonicalPath(std::string("/var/log\0/x", 11), out), EINVAL);
  EXPECT_EQ(CanonicalPath("/var/log/" + std::string(5000, 'a'), out), ENAMETOOLONG);
  EXPECT_EQ(CanonicalPath("/var/log/" + std::string(300, 'a'), out), ENAMETOOLONG);
  std::string deep = "/var/log";
  while (deep.size() <= 4095) {
    deep += "/.";
  }
  EXPECT_EQ(CanonicalPath(deep, out), ENAMETOOLONG);
  EXPECT_EQ(CanonicalPath(deep.substr(0, 4000), out), 0);
  EXPECT_EQ(out, "/var/log");
}

TEST(IsValidPathTest, OnlyTheTwoRootsAreAllowed) {
  EXPECT_TRUE(IsValidPath("/var/log/"));
  EXPECT_TRUE(IsValidPath("/var/log/app/"));
  EXPECT_TRUE(IsValidPath("/home/"));
  EXPECT_TRUE(IsValidPath("/home/u/logs/"));
  EXPECT_FALSE(IsValidPath(""));
  EXPECT_FALSE(IsValidPath("/var/log"));
  EXPECT_FALSE(IsValidPath("/var/logs/x/"));
  EXPECT_FALSE(IsValidPath("/homes/x/"));
  EXPECT_FALSE(IsValidPath("/tmp/"));
}

TEST(FilePathIsFaultTest, ExistingDirectoryNeedsNoCreation) {
  orv_test::ScratchDir scratch;
  const Outcome missingFile = Check(ParamFor(scratch.dir()));
  EXPECT_FALSE(missingFile.fault);
  EXPECT_EQ(missingFile.report, "");
  EXPECT_EQ(missingFile.realFileName, scratch.dir() + "app.log");
  EXPECT_EQ(missingFile.realDir, scratch.dir());

  std::ofstream(scratch.dir() + "app.log") << "old\n";
  const Outcome existingFile = Check(ParamFor(scratch.dir()));
  EXPECT_FALSE(existingFile.fault);
  EXPECT_EQ(existingFile.realFileName, scratch.dir() + "app.log");
}

TEST(FilePathIsFaultTest, MissingLevelsAreCreatedOwnerOnlyAndSearchable) {
  orv_test::ScratchDir scratch;
  const std::string dir = scratch.dir() + "a/b/c/";
  const Outcome out = Check(ParamFor(dir));
  EXPECT_FALSE(out.fault);
  EXPECT_EQ(out.report, "");
  EXPECT_EQ(out.realDir, dir);
  EXPECT_EQ(out.realFileName, dir + "app.log");
  const mode_t mask = umask(0);
  umask(mask);
  for (const char* level : {"a", "a/b", "a/b/c"}) {
    EXPECT_EQ(Mode(scratch.dir() + level), 0700u & ~static_cast<unsigned>(mask)) << level;
  }
}

TEST(FilePathIsFaultTest, OneHundredMissingLevelsFitTheBudgetOneMoreDoesNot) {
  orv_test::ScratchDir scratch;
  std::string hundred = scratch.dir();
  for (int i = 0; i < 100; ++i) {
    hundred += "d/";
  }
  EXPECT_FALSE(Check(ParamFor(hundred)).fault);

  const std::string more = scratch.dir() + "e/" + hundred.substr(scratch.dir().size());
  const Outcome out = Check(ParamFor(more));
  EXPECT_TRUE(out.fault);
  EXPECT_EQ(out.report, "MoxLog ERROR: MAX CYCLE : param.fullPath=" + more + "  strTemp=" + more + "\n");
}

TEST(FilePathIsFaultTest, DirectoriesOutsideTheRootsAreIllegal) {
  const Outcome tmp = Check(ParamFor("/tmp/"));
  EXPECT_TRUE(tmp.fault);
  EXPECT_EQ(tmp.report, kIllegal);

  orv_test::ScratchDir scratch;
  orv_test::ScratchDir outside("/tmp");
  fs::create_directory_symlink(outside.path(), scratch.path() + "/link");
  const Outcome linked = Check(ParamFor(scratch.dir() + "link/"));
  EXPECT_TRUE(linked.fault);
  EXPECT_EQ(linked.report, kIllegal);

  // A link to a missing place outside: nothing is created there.
  fs::create_directory_symlink(outside.path() + "/new", scratch.path() + "/dangling");
  const Outcome dangling = Check(ParamFor(scratch.dir() + "dangling/"));
  EXPECT_TRUE(dangling.fault);
  EXPECT_EQ(dangling.report, kIllegal);
  EXPECT_FALSE(fs::exists(outside.path() + "/new"));
}

TEST(FilePathIsFaultTest, NonCanonicalDirectoryIsCreatedButRefused) {
  orv_test::ScratchDir scratch;
  const std::string doubled = scratch.path() + "//app/";
  const Outcome out = Check(ParamFor(doubled));
  EXPECT_TRUE(out.fault);
  EXPECT_EQ(out.report, "MoxLog ERROR: MAX CYCLE : param.fullPath=" + doubled +
                            "  strTemp=" + scratch.dir() + "app/\n");
  EXPECT_TRUE(fs::is_directory(scratch.dir() + "app"));
}

TEST(FilePathIsFaultTest, LogFileLinkedOutsideTheDirectoryIsRefused) {
  orv_test::ScratchDir scratch;
  orv_test::ScratchDir outside("/tmp");
  fs::create_symlink(outside.path() + "/evil.log", scratch.dir() + "app.log");
  const Outcome out = Check(ParamFor(scratch.dir()));
  EXPECT_TRUE(out.fault);
  EXPECT_EQ(out.report, kIllegal);

  // A link to a sibling in the same directory stays inside it.
  fs::create_directory(scratch.dir() + "in");
  fs::create_symlink("other.log", scratch.dir() + "in/app.log");
  const Outcome sibling = Check(ParamFor(scratch.dir() + "in/"));
  EXPECT_FALSE(sibling.fault);
  EXPECT_EQ(sibling.realFileName, scratch.dir() + "in/other.log");
}

TEST(FilePathIsFaultTest, ModuleNameNamingAMissingSubdirectoryIsAFault) {
  orv_test::ScratchDir scratch;
  const Outcome out = Check(ParamFor(scratch.dir(), "sub/app"));
  EXPECT_TRUE(out.fault);
  EXPECT_EQ(out.report, "MoxLog ERROR: realpath == nullptr errno=2 temp=" + scratch.dir() + "sub\n");
}

TEST(FilePathIsFaultTest, HomeRootIsValid) {
  if (!fs::is_directory("/home")) {
    GTEST_SKIP() << "no /home on this machine";
  }
  const Outcome out = Check(ParamFor("/home/", "orv-test-home-module"));
  EXPECT_FALSE(out.fault);
  EXPECT_EQ(out.report, "");
  EXPECT_EQ(out.realDir, "/home/");
  EXPECT_EQ(out.realFileName, "/home/orv-test-home-module.log");
}

TEST(FilePathIsFaultTest, RegularFileInPlaceOfADirectoryLevel) {
  orv_test::ScratchDir scratch;
  std::ofstream(scratch.dir() + "file") << "x";
  const Outcome out = Check(ParamFor(scratch.dir() + "file/sub/"));
  EXPECT_TRUE(out.fault);
  EXPECT_EQ(out.report, "MoxLog ERROR: realpath fullPath fail errno=20\n");

  // Handed straight to the creation, the level below the file cannot be made.
  orv_test::StderrCapture capture;
  EXPECT_EQ(CreateDir(scratch.dir() + "file/sub/deeper/"), -1);
  EXPECT_EQ(capture.Text(),
            "MoxLog ERROR: mkdir error errno=20\nMoxLog ERROR: mkdir error errno=20\n");
}

TEST(FilePathIsFaultTest, RefusedCreationReportsMkdirErrorThenCreateDirFailed) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to switch to an unprivileged user";
  }
  orv_test::ScratchDir scratch;
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((scratch.dir() + "locked").c_str(), 0755), 0);
  ASSERT_EQ(chmod((scratch.dir() + "locked").c_str(), 0755), 0);
  const MoxlogParam param = ParamFor(scratch.dir() + "locked/new/deeper/");
  orv_test::StderrCapture capture;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) {
      _exit(77);
    }
    std::string realFileName;
    std::string realDir;
    _exit(FilePathIsFault(param, realFileName, realDir) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const std::string report = capture.Text();
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) {
    GTEST_SKIP() << "cannot switch to an unprivileged user here";
  }
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(report, "MoxLog ERROR: mkdir error errno=13\nMoxLog ERROR: CreateDir failed\n");
  EXPECT_FALSE(fs::exists(scratch.dir() + "locked/new"));
}

TEST(FilePathIsFaultTest, OverLongAndMalformedPathsAreReported) {
  const Outcome longPath = Check(ParamFor("/var/log/" + std::string(5000, 'x') + "/"));
  EXPECT_TRUE(longPath.fault);
  EXPECT_EQ(longPath.report, "MoxLog ERROR: realpath fullPath fail errno=36\n");

  const Outcome nul = Check(ParamFor(std::string("/var/log/a\0b/", 13)));
  EXPECT_TRUE(nul.fault);
  EXPECT_EQ(nul.report, "MoxLog ERROR: realpath fullPath fail errno=22\n");

  orv_test::StderrCapture capture;
  EXPECT_EQ(CreateDir(""), -1);
  EXPECT_EQ(CreateDir("/var/log/" + std::string(4090, 'y')), -1);
  EXPECT_EQ(CreateDir(std::string("/var/log/a\0b/", 13)), -1);
  EXPECT_EQ(capture.Text(),
            "MoxLog ERROR: fail with fullpath size exception\n"
            "MoxLog ERROR: fail with fullpath size exception\n"
            "MoxLog ERROR: mkdir error errno=22\n");
}

}  // namespace
