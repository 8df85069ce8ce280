// The formatting of a log message. The C library's vsnprintf is a general engine whose cost
// dominates a log call; the messages of this system use only integer, character and string
// conversions. FormatMessage formats those itself, byte for byte as the C library does, and hands
// every other format (floating point, %p, %n, '*' widths, positional arguments, wide characters,
// grouping, a null string, huge widths) to vsnprintf_truncated_s, so the text and the result are
// always exactly what vsnprintf_truncated_s would give.
#ifndef MOXLOG_MESSAGE_FORMAT_H_
#define MOXLOG_MESSAGE_FORMAT_H_

#include <cstdarg>
#include <cstddef>

namespace moxlog {

// Formats `format` with `args` into `dest` (destMax bytes, 1 to 4096) like
// vsnprintf_truncated_s(dest, destMax, format, args): the text cut at destMax - 1 characters and
// NUL-terminated; returns its length (destMax - 1 when cut), or -1 on a formatting error. Bytes
// of `dest` past the terminating NUL may be changed as well.
int FormatMessage(char* dest, size_t destMax, const char* format, va_list args) __attribute__((format(printf, 3, 0)));

// The message of a log record: formats like FormatMessage and returns the length of the text up to
// its first NUL (the whole text when it holds none, as it does unless a %c conversion writes one),
// or -1 on a formatting error.
int FormatLogMessage(char* dest, size_t destMax, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));

}  // namespace moxlog

#endif  // MOXLOG_MESSAGE_FORMAT_H_
