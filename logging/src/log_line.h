// The text of one log file line and the assembly of lines into file chunks.
//
// A record's line is "%s\t%s %d %s" of time stamp, type, level and message (a memory dump puts
// "MemLog >> " in front), cut at LOG_LINE_MAX (512) characters; each text field ends at its
// first NUL, as a "%s" conversion would end it. Lines are written straight into the chunk buffer,
// followed by a line feed; the assembled bytes go to the file once FLUSH_WRITE_THRESHOLD (9487)
// or more are waiting, so a chunk never exceeds 9999 bytes.
#ifndef MOXLOG_LOG_LINE_H_
#define MOXLOG_LOG_LINE_H_

#include <cstddef>
#include <string_view>

#include "log_param.h"

namespace moxlog {

// Prefix of the lines of a memory dump.
constexpr char MEM_LOG_PREFIX[] = "MemLog >> ";

// Writes the line of one record into `out` (room for LOG_LINE_MAX characters; no NUL is added)
// and returns its length, at most LOG_LINE_MAX. `memLog` selects the memory dump form.
size_t FormatLogLine(char* out, bool memLog, std::string_view logTime, std::string_view logType, int logLevel,
                     std::string_view logMsg);

// Collects lines in a caller-owned buffer of FLUSH_BUF_SIZE bytes and hands them to `sink` in
// chunks: whenever FLUSH_WRITE_THRESHOLD or more bytes are assembled, and at Finish().
class LineChunker {
 public:
  using Sink = void (*)(void* context, const char* data, size_t len);

  LineChunker(char* buffer, Sink sink, void* context) : buf(buffer), out(sink), ctx(context) {}
  LineChunker(const LineChunker&) = delete;
  LineChunker& operator=(const LineChunker&) = delete;

  // Where the next line is formatted: room for LOG_LINE_MAX characters and its line feed.
  char* Slot() { return buf + used; }

  // Ends the line of `len` (<= LOG_LINE_MAX) characters written at Slot() with a line feed.
  void Commit(size_t len) {
    buf[used + len] = '\n';
    used += len + 1;
    if (used >= FLUSH_WRITE_THRESHOLD) {
      Flush();
    }
  }

  // Hands over the bytes still assembled, if any.
  void Finish() {
    if (used != 0) {
      Flush();
    }
  }

 private:
  void Flush() {
    const size_t len = used;
    used = 0;
    out(ctx, buf, len);
  }

  char* buf;
  Sink out;
  void* ctx;
  size_t used = 0;  // never above FLUSH_WRITE_THRESHOLD - 1 between lines
};

}  // namespace moxlog

#endif  // MOXLOG_LOG_LINE_H_
