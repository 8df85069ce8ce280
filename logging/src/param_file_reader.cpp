// Parameter file reading: section check in fixed pieces, key search over whole lines, level words.
#include "param_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "canonical_path.h"
#include "log_param.h"
#include "orv_platform/bounded_text.h"

namespace moxlog {

namespace {

// Section header text "[name]" is built into this many bytes.
constexpr size_t SECTION_HEADER_BUF = 1024;
// The section check reads pieces of at most this many characters (plus the NUL).
constexpr size_t SECTION_PIECE_BUF = 1024;
// Longest "log_level" value that is split, longest "mem_log_size" value that is converted.
constexpr size_t LOG_LEVEL_TEXT_MAX = 1024;
constexpr size_t MEM_LOG_SIZE_TEXT_MAX = 9;

// Owns a FILE* and the buffer of getline(3).
class InputFile {
 public:
  // Resolves `path` afresh and opens the result for reading if it is a regular file: a FIFO could
  // block the open and a device could deliver input without end, both with the registry lock held.
  // get() is null when the path does not resolve or the file cannot be opened.
  explicit InputFile(const std::string& path) {
    std::string resolved;
    if (CanonicalPath(path, resolved) != 0) {
      return;
    }
    const int fd = open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      return;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return;
    }
    file_ = fdopen(fd, "r");
    if (file_ == nullptr) {
      close(fd);
    }
  }
  ~InputFile() {
    std::free(line_);
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  FILE* get() const { return file_; }

  // The next line without its "\n" (embedded NULs kept); false at the end of the file.
  bool NextLine(std::string& line) {
    const ssize_t n = getline(&line_, &lineCap_, file_);
    if (n < 0) {
      return false;
    }
    size_t len = static_cast<size_t>(n);
    if (len > 0 && line_[len - 1] == '\n') {
      --len;
    }
    line.assign(line_, len);
    return true;
  }

 private:
  FILE* file_ = nullptr;
  char* line_ = nullptr;
  size_t lineCap_ = 0;
};

bool IsAllowedPathChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
         c == '-' || c == '_' || c == ' ' || c == '.';
}

}  // namespace

bool IsAllowedParamFilePath(const std::string& path) {
  for (char c : path) {
    if (!IsAllowedPathChar(c)) {
      return false;
    }
  }
  return true;
}

bool SectionExists(const std::string& path, const std::string& moduleName) {
  if (moduleName.find('\0') != std::string::npos) {
    return false;  // the header text could not name this module
  }
  char header[SECTION_HEADER_BUF];
  const int headerLen = sprintf_s(header, sizeof header, "[%s]", moduleName.c_str());
  if (headerLen <= 0) {
    return false;
  }
  InputFile file(path);
  if (file.get() == nullptr) {
    return false;
  }
  char piece[SECTION_PIECE_BUF];
  while (std::fgets(piece, static_cast<int>(sizeof piece), file.get()) != nullptr) {
    if (piece[0] == '[' && std::strncmp(piece, header, static_cast<size_t>(headerLen)) == 0) {
      return true;
    }
  }
  return false;
}

bool ReadKeyValue(const std::string& path, const std::string& moduleName, const std::string& key,
                  std::string& value) {
  InputFile file(path);
  if (file.get() == nullptr) {
    return false;
  }
  const std::string header = "[" + moduleName + "]";
  bool inSection = false;
  std::string line;
  while (file.NextLine(line)) {
    if (line.size() < 2) {
      continue;
    }
    if ((line[0] == '/' && line[1] == '/') || line[0] == '#') {
      continue;
    }
    if (line[0] == '[') {
      inSection = line == header;
      continue;
    }
    if (!inSection || line.compare(0, key.size(), key) != 0) {
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      continue;
    }
    size_t start = eq + 1;
    while (start < line.size() && line[start] == ' ') {
      ++start;
    }
    value.assign(line, start, std::string::npos);
    return true;
  }
  return false;
}

int ParseLogLevel(const std::string& word) {
  std::string upper = word;
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (upper == "DEBUG") {
    return MOXLOG_DEBUG;
  }
  if (upper == "INFORMATION") {
    return MOXLOG_INFORMATION;
  }
  if (upper == "WARNING") {
    return MOXLOG_WARNING;
  }
  if (upper == "ERROR") {
    return MOXLOG_ERROR;
  }
  if (upper == "CRITICAL") {
    return MOXLOG_CRITICAL;
  }
  static constexpr char kWrongLevel[] = "ORV_EC log level is wrong.\n";
  std::fwrite(kWrongLevel, 1, sizeof(kWrongLevel) - 1, stderr);
  std::fflush(stderr);
  return MOXLOG_CRITICAL;
}

void ApplyLogLevelText(const std::string& text, MoxlogParam& param) {
  param.fileLogLevel = MOXLOG_CRITICAL;
  param.memLogLevel = MOXLOG_ERROR;
  if (text.empty() || text.size() > LOG_LEVEL_TEXT_MAX) {
    return;
  }
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    if (end > start) {
      pieces.emplace_back(text, start, end - start);
    }
    start = end + 1;
  }
  if (pieces.size() == 2) {
    param.fileLogLevel = ParseLogLevel(pieces[0]);
    param.memLogLevel = ParseLogLevel(pieces[1]);
  } else if (pieces.size() == 1) {
    param.fileLogLevel = ParseLogLevel(pieces[0]);
    param.memLogLevel = ParseLogLevel(pieces[0]);
  }
}

uint32_t MemLogSizeFromText(bool found, const std::string& text) {
  if (!found || text.size() > MEM_LOG_SIZE_TEXT_MAX) {
    return MEM_LOG_SIZE_DEFAULT;
  }
  const long number = std::strtol(text.c_str(), nullptr, 10);
  return static_cast<uint32_t>(number);  // the low 32 bits
}

}  // namespace moxlog
