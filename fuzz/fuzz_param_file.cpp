// Fuzz target: libmoxlog's parameter-file reader (MoxlogSetAndInit and MoxlogReloadFileParam with
// a file) on random file contents, module names, file names and file kinds: regular files,
// directories, FIFOs, symlinks to files, dangling and looping symlinks, unreadable and missing
// files, and names with characters a path may not hold.
//
// The modules it starts create directories and log files wherever the file's full_path says, so
// the target runs only inside a private mount namespace with fresh tmpfs mounts on /var/log and
// /home (the only roots a log may use), which it sets up itself when started as root; anywhere
// else it refuses to run. Both mounts are emptied after every input.
//
// Checked: no call hangs or crashes; a module that started writes its log file under /var/log/ or
// /home/; a stopped module is no longer registered.
#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "fuzz_support.h"
#include "moxlog/moxlog.h"

namespace {

const char kWorkDir[] = "/home/fz";

// Exit status of a refused start, which tools/fuzz.sh reports as skipped.
constexpr int kRefusedStatus = 77;

[[noreturn]] void Refuse(const char* what) {
  std::fprintf(stderr,
               "fuzz_param_file: %s (%s). This target runs only as root, in a private mount "
               "namespace with tmpfs on /var/log and /home that it sets up itself.\n",
               what, std::strerror(errno));
  std::exit(kRefusedStatus);
}

void EnterPrivateMounts() {
  if (geteuid() != 0) {
    errno = EPERM;
    Refuse("not started as root");
  }
  if (unshare(CLONE_NEWNS) != 0) {
    Refuse("unshare(CLONE_NEWNS) failed");
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    Refuse("cannot make / private");
  }
  for (const char* root : {"/var/log", "/home"}) {
    if (mount("tmpfs", root, "tmpfs", MS_NOSUID | MS_NODEV, "size=64m,mode=0755") != 0) {
      Refuse("cannot mount a tmpfs");
    }
  }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// Empties a mount point, leaving the directory itself.
void Empty(const char* root) {
  nftw(root, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  mkdir(root, 0755);
}

void WriteFile(const std::string& path, const std::string& content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ssize_t ignored = write(fd, content.data(), content.size());
    (void)ignored;
    close(fd);
  }
}

std::string Pick(FuzzedDataProvider& in, std::initializer_list<const char*> options) {
  const size_t i = in.ConsumeIntegralInRange<size_t>(0, options.size() - 1);
  return *(options.begin() + i);
}

// A parameter file: mostly lines of the shapes the reader knows, for the module or another one.
std::string DrawContent(FuzzedDataProvider& in, const std::string& module) {
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    return in.ConsumeRandomLengthString(2000);
  }
  std::string text;
  const int lines = in.ConsumeIntegralInRange<int>(0, 16);
  for (int i = 0; i < lines && in.remaining_bytes() > 0; ++i) {
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
      case 0:
      case 1:
        text += "[" + module + "]";
        break;
      case 2:
        text += "[" + in.ConsumeRandomLengthString(20) + "]";
        break;
      case 3:
      case 4: {
        const std::string key = Pick(in, {"full_path", "log_level", "mem_log_size", "full_pathname", " log_level"});
        text += key + Pick(in, {"=", " = ", "=  ", " ="});
        if (key.compare(0, 9, "full_path") == 0) {
          text += Pick(in, {"/var/log/", "/var/log/a/b", "/home/", "/home/u/logs", "/tmp/", "/var/log/../../etc",
                            "relative/dir", "", "/var/log/x ", "/home/../var/log/y"});
          text += in.ConsumeRandomLengthString(12);
        } else if (key.find("level") != std::string::npos) {
          text += Pick(in, {"DEBUG", "error/debug", "/WARNING/", "INFO", "CRITICAL/INFORMATION", "a/b/c", "/", ""});
        } else {
          text += Pick(in, {"50", "500", "1001", "-1", "abc", "1234567890", "500 # c", ""});
        }
        break;
      }
      case 5:
        text += Pick(in, {"# ", "//", "/x", "#[", ""}) + in.ConsumeRandomLengthString(20);
        break;
      default:
        text += in.ConsumeRandomLengthString(40);
        break;
    }
    text += in.ConsumeIntegralInRange<int>(0, 7) == 0 ? "\r\n" : "\n";
  }
  return text;
}

// Puts something of a random kind at `path` (inside the work directory) and returns the path
// to hand to the reader.
std::string MakeParamFile(FuzzedDataProvider& in, const std::string& name, const std::string& content) {
  const std::string path = std::string(kWorkDir) + "/" + name;
  const std::string target = std::string(kWorkDir) + "/target.conf";
  switch (in.ConsumeIntegralInRange<int>(0, 9)) {
    case 0:
      mkdir(path.c_str(), 0755);
      break;
    case 1:
      WriteFile(target, content);
      symlink(target.c_str(), path.c_str());
      break;
    case 2:
      symlink("/home/fz/nowhere", path.c_str());
      break;
    case 3:
      mkfifo(path.c_str(), 0644);
      break;
    case 4:
      symlink(path.c_str(), path.c_str());  // a loop
      break;
    case 5:
      WriteFile(path, content);
      chmod(path.c_str(), 0);
      break;
    case 6:
      symlink("/dev/zero", path.c_str());
      break;
    case 7:
      break;  // missing
    default:
      WriteFile(path, content);
      break;
  }
  return in.ConsumeIntegralInRange<int>(0, 15) == 0 ? name : path;  // now and then relative
}

void CheckStarted(const std::string& module, int result) {
  if (result != 0) {
    return;
  }
  MoxlogParam param;
  if (MoxlogGetCurParam(module.empty() ? DEFAULT_MODULE_NAME : module, param) != 0) {
    return;
  }
  ORV_FUZZ_CHECK(param.fullFileName.compare(0, 9, "/var/log/") == 0 || param.fullFileName.compare(0, 6, "/home/") == 0,
                 "module [%s] writes its log to %s", module.c_str(), param.fullFileName.c_str());
}

void Stop(const std::string& module) {
  const std::string name = module.empty() ? DEFAULT_MODULE_NAME : module;
  MoxlogStopRecordLog(name);
  MoxlogParam param;
  ORV_FUZZ_CHECK(MoxlogGetCurParam(name, param) != 0, "module [%s] still registered after its stop", name.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterPrivateMounts();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  Empty("/var/log");
  Empty("/home");
  mkdir(kWorkDir, 0755);

  const std::string module = in.ConsumeBool() ? Pick(in, {"app", "ec_a", "", "moxlog", "x/y", "../up"})
                                              : in.ConsumeRandomLengthString(24);
  std::string name = in.ConsumeBool() ? Pick(in, {"log.conf", "a b.conf", "c~.conf", "d:e", "sub/f.conf", ".."})
                                      : in.ConsumeRandomLengthString(24);
  if (name.find('\0') != std::string::npos) {
    name.resize(name.find('\0'));
  }
  const std::string path = MakeParamFile(in, name, DrawContent(in, module));

  const int result = MoxlogSetAndInit(module, path);
  CheckStarted(module, result);
  MoxlogWriteLog(MOXLOG_ERROR, module.empty() ? DEFAULT_MODULE_NAME : module, "fuzz", "%s", "one line");
  if (in.ConsumeBool()) {
    const std::string next = in.ConsumeBool() ? module : in.ConsumeRandomLengthString(12);
    const int reloaded = MoxlogReloadFileParam(module.empty() ? DEFAULT_MODULE_NAME : module, next, path);
    CheckStarted(next, reloaded);
    Stop(next);
  }
  Stop(module);
  return 0;
}
