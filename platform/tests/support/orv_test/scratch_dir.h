// A unique scratch directory for one test, removed with everything below it when the object
// goes away. Logging tests create theirs under /var/log/ (an allowed log root).
#ifndef ORV_TEST_SCRATCH_DIR_H_
#define ORV_TEST_SCRATCH_DIR_H_

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace orv_test {

class ScratchDir {
 public:
  // Creates <parent>/orv-test-XXXXXX. `parent` must exist.
  explicit ScratchDir(const std::string& parent = "/var/log") {
    std::string pattern = parent + "/orv-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed under " + parent);
    }
    path_ = buf.data();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory, without a trailing "/".
  const std::string& path() const { return path_; }
  // The directory with a trailing "/", as a log directory is written after completion.
  std::string dir() const { return path_ + "/"; }
  // The last component, unique per test: handy as a module name.
  std::string name() const { return std::filesystem::path(path_).filename().string(); }

 private:
  std::string path_;
};

}  // namespace orv_test

#endif  // ORV_TEST_SCRATCH_DIR_H_
