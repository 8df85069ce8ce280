// Runs the orv_plan program of this build with arguments and extra environment variables, and
// returns its exit status, standard output and standard error.
#ifndef ORV_TOOLS_TESTS_PLAN_RUN_H_
#define ORV_TOOLS_TESTS_PLAN_RUN_H_

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "orv_test/scratch_dir.h"

namespace orv_plan_test {

struct PlanRun {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Output goes to files in a scratch directory, so that neither stream can block the other.
inline PlanRun RunPlan(const std::vector<std::string>& args,
                       const std::vector<std::pair<std::string, std::string>>& env = {}) {
  orv_test::ScratchDir scratch("/tmp");
  const std::string outPath = scratch.path() + "/out";
  const std::string errPath = scratch.path() + "/err";
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    std::vector<char*> argv{const_cast<char*>(ORV_PLAN_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ORV_PLAN_PATH, argv.data());
    _exit(127);
  }
  PlanRun run;
  int wstatus = 0;
  if (pid > 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
  run.out = Slurp(outPath);
  run.err = Slurp(errPath);
  return run;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace orv_plan_test

#endif  // ORV_TOOLS_TESTS_PLAN_RUN_H_
