// Shared pieces of the fuzz targets: a finding report that stops the run and the CPU time of the
// calling thread for cost bounds.
#ifndef ORV_FUZZ_FUZZ_SUPPORT_H_
#define ORV_FUZZ_FUZZ_SUPPORT_H_

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>

namespace orv_fuzz {

// Reports a property that does not hold and aborts, so that libFuzzer keeps the input. The
// report goes to standard output as well, which stays open when a run discards the target's
// standard error (-close_fd_mask=2).
[[noreturn]] inline void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void Fail(const char* format, ...) {
  for (FILE* out : {stdout, stderr}) {
    std::fputs("FUZZ FINDING: ", out);
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fputc('\n', out);
    std::fflush(out);
  }
  std::abort();
}

#define ORV_FUZZ_CHECK(cond, ...) \
  do {                            \
    if (!(cond)) {                \
      ::orv_fuzz::Fail(__VA_ARGS__); \
    }                             \
  } while (0)

// CPU seconds the calling thread has used: unlike wall time, not stretched by a busy machine.
inline double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace orv_fuzz

#endif  // ORV_FUZZ_FUZZ_SUPPORT_H_
