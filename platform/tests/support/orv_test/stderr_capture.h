// Captures what the process writes to standard error (file descriptor 2) from construction to
// Text(): the error reports of the libraries are checked byte for byte with it. Peek() reads what
// has arrived so far without ending the capture.
#ifndef ORV_TEST_STDERR_CAPTURE_H_
#define ORV_TEST_STDERR_CAPTURE_H_

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace orv_test {

class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    char name[] = "/tmp/orv-stderr-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ < 0) {
      throw std::runtime_error("mkstemp failed");
    }
    unlink(name);
    saved_ = dup(STDERR_FILENO);
    dup2(fd_, STDERR_FILENO);
  }
  ~StderrCapture() { Restore(); if (fd_ >= 0) close(fd_); }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far, while the capture goes on (for reports of a background thread).
  std::string Peek() const {
    std::string out;
    char buf[4096];
    off_t pos = 0;
    for (;;) {
      ssize_t n = pread(fd_, buf, sizeof buf, pos);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      pos += n;
    }
    return out;
  }

  // Stops capturing and returns everything written since construction.
  std::string Text() {
    Restore();
    return Peek();
  }

 private:
  void Restore() {
    if (saved_ >= 0) {
      std::fflush(stderr);
      dup2(saved_, STDERR_FILENO);
      close(saved_);
      saved_ = -1;
    }
  }
  int fd_ = -1;
  int saved_ = -1;
};

}  // namespace orv_test

#endif  // ORV_TEST_STDERR_CAPTURE_H_
