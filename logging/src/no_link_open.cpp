// OpenNoLinks: a component-by-component open that refuses symbolic links on the whole path.
#include "no_link_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace moxlog {

namespace {

constexpr size_t kPathMax = 4095;

bool IsDotOrDotDot(const char* name, size_t len) {
  return (len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.');
}

void CloseDir(int fd) {
  if (fd != AT_FDCWD) {
    close(fd);
  }
}

}  // namespace

int OpenNoLinks(const char* path, int flags, mode_t mode) {
  if (path == nullptr || path[0] != '/') {
    errno = EINVAL;
    return -1;
  }
  // One component at a time, copied into a fixed buffer with its terminating NUL. The first one
  // is opened by its absolute name ("/var" rather than "var" below an open "/"): the same on
  // Linux, and it keeps working under a user-mode emulator that maps "/" to a sysroot.
  char name[kPathMax + 2];
  name[0] = '/';
  int dirFd = AT_FDCWD;
  size_t pos = 1;
  for (;;) {
    while (path[pos] == '/') {
      ++pos;
    }
    // The first component keeps its leading "/".
    char* const component = dirFd == AT_FDCWD ? name + 1 : name;
    size_t len = 0;
    while (path[pos + len] != '\0' && path[pos + len] != '/') {
      if (pos + len >= kPathMax) {
        CloseDir(dirFd);
        errno = ENAMETOOLONG;
        return -1;
      }
      component[len] = path[pos + len];
      ++len;
    }
    component[len] = '\0';
    size_t next = pos + len;
    while (path[next] == '/') {
      ++next;
    }
    const bool last = path[next] == '\0';
    if (len == 0 || IsDotOrDotDot(component, len)) {
      CloseDir(dirFd);
      errno = EINVAL;
      return -1;
    }
    const int fd = last ? openat(dirFd, name, flags | O_NOFOLLOW | O_CLOEXEC, mode)
                        : openat(dirFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    CloseDir(dirFd);
    if (fd < 0) {
      errno = err;
      return -1;
    }
    if (last) {
      return fd;
    }
    dirFd = fd;
    pos = next;
  }
}

}  // namespace moxlog
