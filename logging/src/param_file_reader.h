// Reading one module's section of a parameter file: the section check, the key search, the level
// words and the conversion of the values into a MoxlogParam. Used by the file forms of the
// exported start functions, under the registry lock.
//
// File grammar: lines end at "\n" (a "\r" before it stays part of the line); lines of fewer than
// 2 characters and lines starting with "#" or "//" are ignored; a line starting with "[" is a
// section header, and the module's section is open after a line that is exactly "[" + module + "]"
// until the next header; inside it, a line containing "=" whose first characters equal a key
// gives that key's value: the text after the first "=" and the blanks that follow it. The first
// matching line of the file wins.
#ifndef MOXLOG_PARAM_FILE_READER_H_
#define MOXLOG_PARAM_FILE_READER_H_

#include <cstdint>
#include <string>

#include "moxlog/moxlog.h"

namespace moxlog {

// True when every character of `path` is an ASCII letter or digit, "/", "-", "_", " " or ".".
bool IsAllowedParamFilePath(const std::string& path);

// Section check: true when a piece of the file, read with 1023-character pieces, starts with
// "[" + moduleName + "]". False when that header does not fit 1023 characters (or holds a NUL),
// `path` does not resolve, is not a regular file or cannot be opened, or no piece matches.
bool SectionExists(const std::string& path, const std::string& moduleName);

// Finds `key` in the module's section (whole lines, of any length). true with the value in
// `value` when found; false when not found or the file cannot be resolved or opened.
bool ReadKeyValue(const std::string& path, const std::string& moduleName, const std::string& key,
                  std::string& value);

// Level number of a level word, case-insensitive: "DEBUG" 4, "INFORMATION" 3, "WARNING" 2,
// "ERROR" 1, "CRITICAL" 0. Any other word writes "ORV_EC log level is wrong." and a line end
// straight to standard error and gives 0.
int ParseLogLevel(const std::string& word);

// Sets both levels from a "log_level" value: "" gives 0 and 1; one word sets both (parsed twice);
// "file/memory" sets each; empty pieces are dropped; any other number of pieces, or a text over
// 1024 characters, gives 0 and 1.
void ApplyLogLevelText(const std::string& text, MoxlogParam& param);

// Ring size from a "mem_log_size" value: decimal (as strtol, low 32 bits kept) when found and at
// most 9 characters long, else 100. Clamping is left to the completion of the record.
uint32_t MemLogSizeFromText(bool found, const std::string& text);

}  // namespace moxlog

#endif  // MOXLOG_PARAM_FILE_READER_H_
