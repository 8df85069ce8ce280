// Copies of the short texts a log call moves (the pieces of a message, a record's type and
// message), made inline: for a few dozen bytes a library call costs more than the copy.
#ifndef MOXLOG_SHORT_COPY_H_
#define MOXLOG_SHORT_COPY_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace moxlog {

// Copies n bytes from src to dest (the two do not overlap). Up to 64 bytes with two fixed-size
// moves from each end, which may overlap in the middle; longer copies go to memcpy.
inline void CopyShort(char* dest, const char* src, size_t n) {
  if (n > 16) {
    if (n > 64) {
      std::memcpy(dest, src, n);
    } else if (n > 32) {
      char head[32];
      char tail[32];
      std::memcpy(head, src, 32);
      std::memcpy(tail, src + n - 32, 32);
      std::memcpy(dest, head, 32);
      std::memcpy(dest + n - 32, tail, 32);
    } else {
      char head[16];
      char tail[16];
      std::memcpy(head, src, 16);
      std::memcpy(tail, src + n - 16, 16);
      std::memcpy(dest, head, 16);
      std::memcpy(dest + n - 16, tail, 16);
    }
  } else if (n >= 8) {
    uint64_t head = 0;
    uint64_t tail = 0;
    std::memcpy(&head, src, 8);
    std::memcpy(&tail, src + n - 8, 8);
    std::memcpy(dest, &head, 8);
    std::memcpy(dest + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head = 0;
    uint32_t tail = 0;
    std::memcpy(&head, src, 4);
    std::memcpy(&tail, src + n - 4, 4);
    std::memcpy(dest, &head, 4);
    std::memcpy(dest + n - 4, &tail, 4);
  } else {
    for (size_t i = 0; i < n; ++i) {
      dest[i] = src[i];
    }
  }
}

}  // namespace moxlog

#endif  // MOXLOG_SHORT_COPY_H_
