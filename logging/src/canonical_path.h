// Canonicalisation of file system paths: the absolute name without symbolic links, "." or ".."
// components or repeated slashes. Unlike realpath(3) it also gives a defined partial result for a
// path with a missing component, which the log path checks and the parameter file reader rely on.
#ifndef MOXLOG_CANONICAL_PATH_H_
#define MOXLOG_CANONICAL_PATH_H_

#include <cstddef>
#include <string>

namespace moxlog {

// Longest path, in characters, accepted as input and produced as result (one byte is left for the
// terminating NUL of a 4096-byte buffer, as the system calls require).
constexpr size_t CANONICAL_PATH_MAX = 4095;

// Resolves `path` (relative paths against the working directory) and returns 0 with the canonical
// path in `out`, or an errno value:
//   ENOENT        a component does not exist (also for an empty path); `out` is the canonical form
//                 of the existing leading part followed by "/" and the first missing component;
//                 `*missingIsLast` (when given) tells whether no further component followed it.
//   EINVAL        `path` contains a NUL character.
//   ENAMETOOLONG  `path` or the result would exceed CANONICAL_PATH_MAX characters.
//   ELOOP         more than 40 symbolic links were followed.
//   ENOTDIR       a component that is not a directory is followed by more of the path.
//   other         as lstat(2), readlink(2) or getcwd(3) reported it.
// On an error other than ENOENT `out` holds the path as far as it was resolved (for reports).
int CanonicalPath(const std::string& path, std::string& out, bool* missingIsLast = nullptr);

}  // namespace moxlog

#endif  // MOXLOG_CANONICAL_PATH_H_
