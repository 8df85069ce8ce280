// Polling with a time limit, for tests that wait on a background thread: never a fixed sleep.
#ifndef ORV_TEST_WAIT_UNTIL_H_
#define ORV_TEST_WAIT_UNTIL_H_

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace orv_test {

// Calls `done` every millisecond until it returns true or `limit` passes; returns its last answer.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return done();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The whole content of a file, or "" when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace orv_test

#endif  // ORV_TEST_WAIT_UNTIL_H_
