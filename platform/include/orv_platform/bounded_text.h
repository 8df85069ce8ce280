// Bounded text functions with the contracts of libboundscheck, used by libmoxlog to format and copy
// text into fixed buffers.
//
// With the system's libboundscheck (ORV_HAVE_SECUREC) its <securec.h> is used. Otherwise this
// header declares a small layer of our own with the same contracts:
//   memcpy_s, memset_s, strcpy_s: 0 (EOK) on success; on a violation a non-zero error and nothing
//     written past destMax (the destination is cleared where libboundscheck clears it).
//   sprintf_s: the length written, or -1 with the destination emptied when the text does not fit
//     (or on a formatting error).
//   vsnprintf_truncated_s: the length written, the text cut at destMax - 1 characters; -1 on a
//     formatting error or a bad destination.
#ifndef ORV_PLATFORM_BOUNDED_TEXT_H_
#define ORV_PLATFORM_BOUNDED_TEXT_H_

#if defined(ORV_HAVE_SECUREC)
#include <securec.h>
#else
#include <cstdarg>
#include <cstddef>

using errno_t = int;

#ifndef EOK
#define EOK 0
#endif

// Largest destination these functions accept, as in libboundscheck.
constexpr size_t kOrvSecureMemMaxLen = 0x7fffffffUL;
constexpr size_t kOrvSecureStringMaxLen = 0x7fffffffUL;

// Error results (same values as libboundscheck).
constexpr errno_t kOrvEinval = 22;
constexpr errno_t kOrvEinvalAndReset = 22 | 128;
constexpr errno_t kOrvErangeAndReset = 34 | 128;
constexpr errno_t kOrvEoverlapAndReset = 54 | 128;

errno_t memcpy_s(void* dest, size_t destMax, const void* src, size_t count);
errno_t memset_s(void* dest, size_t destMax, int c, size_t count);
errno_t strcpy_s(char* strDest, size_t destMax, const char* strSrc);
int sprintf_s(char* strDest, size_t destMax, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int vsnprintf_truncated_s(char* strDest, size_t destMax, const char* format, va_list argList)
    __attribute__((format(printf, 3, 0)));
#endif

#endif  // ORV_PLATFORM_BOUNDED_TEXT_H_
