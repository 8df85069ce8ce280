// Component-by-component path canonicalisation with lstat and readlink, so that the point where a
// path stops existing is known exactly.
#include "canonical_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace moxlog {

namespace {

// Symbolic links followed in one resolution before it is given up as a loop (as the kernel does).
constexpr int MAX_LINKS_FOLLOWED = 40;

// Removes the last component of a canonical absolute path ("/" stays "/").
void DropLastComponent(std::string& path) {
  const size_t slash = path.rfind('/');
  path.resize(slash == 0 || slash == std::string::npos ? 1 : slash);
}

int WorkingDirectory(std::string& out) {
  char buf[CANONICAL_PATH_MAX + 1];
  if (getcwd(buf, sizeof buf) == nullptr) {
    return errno == ERANGE ? ENAMETOOLONG : errno;
  }
  out.assign(buf);
  if (out.empty() || out[0] != '/') {
    return ENOENT;  // an unreachable working directory
  }
  return 0;
}

}  // namespace

int CanonicalPath(const std::string& path, std::string& out, bool* missingIsLast) {
  out.clear();
  if (missingIsLast != nullptr) {
    *missingIsLast = false;
  }
  if (path.empty()) {
    return ENOENT;
  }
  if (path.find('\0') != std::string::npos) {
    return EINVAL;
  }
  if (path.size() > CANONICAL_PATH_MAX) {
    return ENAMETOOLONG;
  }
  if (path[0] == '/') {
    out.assign(1, '/');
  } else {
    const int err = WorkingDirectory(out);
    if (err != 0) {
      return err;
    }
  }

  // `rest` is what remains to be resolved from `pos` on; a symbolic link splices its target in.
  std::string rest = path;
  size_t pos = 0;
  int linksFollowed = 0;
  while (pos < rest.size()) {
    while (pos < rest.size() && rest[pos] == '/') {
      ++pos;
    }
    if (pos == rest.size()) {
      break;
    }
    size_t end = rest.find('/', pos);
    if (end == std::string::npos) {
      end = rest.size();
    }
    const size_t len = end - pos;
    const size_t start = pos;
    pos = end;
    if (len == 1 && rest[start] == '.') {
      continue;
    }
    if (len == 2 && rest[start] == '.' && rest[start + 1] == '.') {
      DropLastComponent(out);
      continue;
    }

    const size_t base = out.size();
    if (out.back() != '/') {
      out.push_back('/');
    }
    out.append(rest, start, len);
    if (out.size() > CANONICAL_PATH_MAX) {
      out.resize(base);
      return ENAMETOOLONG;
    }
    struct stat st;
    if (lstat(out.c_str(), &st) != 0) {
      const int err = errno;
      if (err == ENOENT && missingIsLast != nullptr) {
        *missingIsLast = rest.find_first_not_of('/', pos) == std::string::npos;
      }
      return err;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++linksFollowed > MAX_LINKS_FOLLOWED) {
        return ELOOP;
      }
      char target[CANONICAL_PATH_MAX + 1];
      const ssize_t n = readlink(out.c_str(), target, sizeof target);
      if (n < 0) {
        return errno;
      }
      if (static_cast<size_t>(n) >= sizeof target) {
        return ENAMETOOLONG;
      }
      if (n == 0) {
        return ENOENT;
      }
      const size_t targetLen = static_cast<size_t>(n);
      std::string spliced;
      spliced.reserve(targetLen + (rest.size() - pos));
      spliced.append(target, targetLen);
      spliced.append(rest, pos, std::string::npos);
      rest.swap(spliced);
      pos = 0;
      if (target[0] == '/') {
        out.assign(1, '/');
      } else {
        out.resize(base);
      }
      continue;
    }
    if (!S_ISDIR(st.st_mode) && pos < rest.size()) {
      return ENOTDIR;
    }
  }
  return 0;
}

}  // namespace moxlog
