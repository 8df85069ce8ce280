// Copies of the short texts a log call moves (the pieces of a message, a record's type and
// message), made inline: for a few dozen bytes a library call costs more than the copy.
#ifndef MOXLOG_SHORT_COPY_H_
#define MOXLOG_SHORT_COPY_H_

#include <cstddef>
#include <cstring>

namespace moxlog {

// Copies n bytes, Size <= n <= 2 x Size, as one Size-byte move from each end (they overlap in the
// middle when n < 2 x Size).
template <size_t Size>
inline void CopyEnds(char* dest, const char* src, size_t n) {
  char head[Size];
  char tail[Size];
  std::memcpy(head, src, Size);
  std::memcpy(tail, src + n - Size, Size);
  std::memcpy(dest, head, Size);
  std::memcpy(dest + n - Size, tail, Size);
}

// Copies n bytes from src to dest (the two do not overlap). Up to 64 bytes with two fixed-size
// moves; longer copies go to memcpy.
inline void CopyShort(char* dest, const char* src, size_t n) {
  if (n >= 8) {
    if (n <= 16) {
      CopyEnds<8>(dest, src, n);
    } else if (n <= 32) {
      CopyEnds<16>(dest, src, n);
    } else if (n <= 64) {
      CopyEnds<32>(dest, src, n);
    } else {
      std::memcpy(dest, src, n);
    }
  } else if (n >= 4) {
    CopyEnds<4>(dest, src, n);
  } else {
    for (size_t i = 0; i < n; ++i) {
      dest[i] = src[i];
    }
  }
}

}  // namespace moxlog

#endif  // MOXLOG_SHORT_COPY_H_
