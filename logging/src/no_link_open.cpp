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

}  // namespace

int OpenNoLinks(const char* path, int flags, mode_t mode) {
  if (path == nullptr || path[0] != '/') {
    errno = EINVAL;
    return -1;
  }
  // One component at a time, copied into a fixed buffer with its terminating NUL.
  char name[kPathMax + 1];
  int dirFd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    return -1;
  }
  size_t pos = 1;
  for (;;) {
    while (path[pos] == '/') {
      ++pos;
    }
    size_t len = 0;
    while (path[pos + len] != '\0' && path[pos + len] != '/') {
      if (pos + len >= kPathMax) {
        close(dirFd);
        errno = ENAMETOOLONG;
        return -1;
      }
      name[len] = path[pos + len];
      ++len;
    }
    name[len] = '\0';
    size_t next = pos + len;
    while (path[next] == '/') {
      ++next;
    }
    const bool last = path[next] == '\0';
    if (len == 0 || IsDotOrDotDot(name, len)) {
      close(dirFd);
      errno = EINVAL;
      return -1;
    }
    const int fd = last ? openat(dirFd, name, flags | O_NOFOLLOW | O_CLOEXEC, mode)
                        : openat(dirFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    close(dirFd);
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
