// OpenNoLinks, the open of the log file that follows no symbolic link anywhere on the path: the
// race in which a directory is swapped for a link after the path check is shown by the fault
// tests; here each kind of link and malformed path is refused deterministically.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "no_link_open.h"
#include "orv_test/scratch_dir.h"
#include "orv_test/wait_until.h"

namespace {

using moxlog::OpenNoLinks;
using orv_test::ScratchDir;

// The errno of a refused open, or 0 when the open succeeded (the descriptor is closed).
int OpenError(const std::string& path, int flags = O_WRONLY | O_CREAT | O_APPEND) {
  errno = 0;
  const int fd = OpenNoLinks(path.c_str(), flags, 0600);
  if (fd >= 0) {
    close(fd);
    return 0;
  }
  return errno;
}

TEST(NoLinkOpen, OpensPlainPathsAndRefusesEveryLink) {
  ScratchDir scratch;
  ScratchDir outside("/tmp");
  const std::string dir = scratch.dir() + "d";
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.c_str(), (scratch.dir() + "dirlink").c_str()), 0);
  ASSERT_EQ(symlink(outside.path().c_str(), (dir + "/out").c_str()), 0);
  ASSERT_EQ(symlink((outside.dir() + "f").c_str(), (dir + "/filelink").c_str()), 0);

  EXPECT_EQ(OpenError(dir + "/new.log"), 0);
  EXPECT_EQ(OpenError(scratch.dir() + "//d///new.log"), 0);  // repeated slashes are no harm
  EXPECT_EQ(orv_test::ReadFile(dir + "/new.log"), "");
  EXPECT_EQ(OpenError(scratch.dir() + "dirlink/new.log"), ENOTDIR);
  EXPECT_EQ(OpenError(dir + "/out/f"), ENOTDIR);
  EXPECT_EQ(OpenError(dir + "/filelink"), ELOOP);
  EXPECT_NE(access((outside.dir() + "f").c_str(), F_OK), 0) << "a link was followed";
  EXPECT_EQ(OpenError(dir + "/missing/x.log"), ENOENT);
}

TEST(NoLinkOpen, RefusesPathsThatAreNotPlainAndAbsolute) {
  ScratchDir scratch;
  EXPECT_EQ(OpenError("relative.log"), EINVAL);
  EXPECT_EQ(OpenError(""), EINVAL);
  EXPECT_EQ(OpenError("/"), EINVAL);
  EXPECT_EQ(OpenError(scratch.dir() + "../x.log"), EINVAL);
  EXPECT_EQ(OpenError(scratch.dir() + "./x.log"), EINVAL);
  EXPECT_EQ(OpenError(scratch.dir() + "."), EINVAL);
  EXPECT_EQ(OpenError(scratch.dir() + std::string(5000, 'a')), ENAMETOOLONG);
  EXPECT_EQ(OpenNoLinks(nullptr, O_RDONLY, 0), -1);
}

}  // namespace
