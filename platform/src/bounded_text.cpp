// The built-in bounded text layer, compiled only when the system has no libboundscheck.
#include "orv_platform/bounded_text.h"

#if !defined(ORV_HAVE_SECUREC)

#include <cstdio>
#include <cstring>

namespace {

bool Overlaps(const void* a, size_t aLen, const void* b, size_t bLen) {
  const char* pa = static_cast<const char*>(a);
  const char* pb = static_cast<const char*>(b);
  return (pa < pb + bLen) && (pb < pa + aLen);
}

}  // namespace

errno_t memcpy_s(void* dest, size_t destMax, const void* src, size_t count) {
  if (dest == nullptr || destMax == 0 || destMax > kOrvSecureMemMaxLen) {
    return kOrvEinval;
  }
  if (src == nullptr) {
    std::memset(dest, 0, destMax);
    return kOrvEinvalAndReset;
  }
  if (count > destMax) {
    std::memset(dest, 0, destMax);
    return kOrvErangeAndReset;
  }
  if (count == 0 || dest == src) {
    return EOK;
  }
  if (Overlaps(dest, count, src, count)) {
    std::memset(dest, 0, destMax);
    return kOrvEoverlapAndReset;
  }
  std::memcpy(dest, src, count);
  return EOK;
}

errno_t memset_s(void* dest, size_t destMax, int c, size_t count) {
  if (dest == nullptr || destMax == 0 || destMax > kOrvSecureMemMaxLen) {
    return kOrvEinval;
  }
  if (count > destMax) {
    std::memset(dest, c, destMax);
    return kOrvErangeAndReset;
  }
  std::memset(dest, c, count);
  return EOK;
}

errno_t strcpy_s(char* strDest, size_t destMax, const char* strSrc) {
  if (strDest == nullptr || destMax == 0 || destMax > kOrvSecureStringMaxLen) {
    return kOrvEinval;
  }
  if (strSrc == nullptr) {
    strDest[0] = '\0';
    return kOrvEinvalAndReset;
  }
  const size_t len = strnlen(strSrc, destMax);
  if (len >= destMax) {
    strDest[0] = '\0';
    return kOrvErangeAndReset;
  }
  if (strDest == strSrc) {
    return EOK;
  }
  if (Overlaps(strDest, len + 1, strSrc, len + 1)) {
    strDest[0] = '\0';
    return kOrvEoverlapAndReset;
  }
  std::memcpy(strDest, strSrc, len + 1);
  return EOK;
}

int sprintf_s(char* strDest, size_t destMax, const char* format, ...) {
  if (strDest == nullptr || destMax == 0 || destMax > kOrvSecureStringMaxLen) {
    return -1;
  }
  if (format == nullptr) {
    strDest[0] = '\0';
    return -1;
  }
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(strDest, destMax, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= destMax) {
    strDest[0] = '\0';
    return -1;
  }
  return n;
}

int vsnprintf_truncated_s(char* strDest, size_t destMax, const char* format, va_list argList) {
  if (strDest == nullptr || destMax == 0 || destMax > kOrvSecureStringMaxLen) {
    return -1;
  }
  if (format == nullptr) {
    strDest[0] = '\0';
    return -1;
  }
  const int n = std::vsnprintf(strDest, destMax, format, argList);
  if (n < 0) {
    strDest[0] = '\0';
    return -1;
  }
  if (static_cast<size_t>(n) >= destMax) {
    return static_cast<int>(destMax - 1);
  }
  return n;
}

#endif  // !ORV_HAVE_SECUREC
