// Opening a file by an absolute path without following a symbolic link anywhere on the way:
// every directory is opened relative to the one before it with O_NOFOLLOW, so a directory that is
// swapped for a link between a check and the open cannot redirect the open elsewhere. It uses
// only openat(2) and close(2) and allocates nothing, so a signal handler may call it.
#ifndef MOXLOG_NO_LINK_OPEN_H_
#define MOXLOG_NO_LINK_OPEN_H_

#include <sys/types.h>

namespace moxlog {

// Opens `path` (absolute, at most 4095 characters, no "." or ".." components) with `flags`
// (O_NOFOLLOW and O_CLOEXEC are added) and `mode`. Returns the descriptor, or -1 with errno set:
// ENOTDIR when a directory on the way is a symbolic link (or no directory), ELOOP when the file
// itself is one, EINVAL for a path that is not absolute or holds an empty, "." or ".." component
// where a name must be, ENAMETOOLONG for a longer path, otherwise as openat(2) reported it.
int OpenNoLinks(const char* path, int flags, mode_t mode);

}  // namespace moxlog

#endif  // MOXLOG_NO_LINK_OPEN_H_
