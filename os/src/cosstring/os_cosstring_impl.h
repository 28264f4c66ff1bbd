// The bounded copy, append and format cores shared by the narrow, wide and
// multibyte entry points. The cores never log: each entry point logs with its
// own fixed message, so that every message stays a literal format.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "os_types.h"

namespace os_cosstring {

constexpr std::size_t UNBOUNDED = SIZE_MAX;

// Length of a_ps, but looking at no more than a_sizetMax elements.
inline std::size_t BoundedLength(const char* a_ps, std::size_t a_sizetMax) {
  const void* l_pvEnd = std::memchr(a_ps, 0, a_sizetMax);
  return l_pvEnd ? static_cast<std::size_t>(static_cast<const char*>(l_pvEnd) - a_ps) : a_sizetMax;
}
inline std::size_t BoundedLength(const wchar_t* a_ps, std::size_t a_sizetMax) {
  std::size_t l_n = 0;
  while (l_n < a_sizetMax && a_ps[l_n] != 0) ++l_n;
  return l_n;
}

// Copies at most a_sizetCount elements of a_psSrc and terminates. When the
// copy and its terminator do not fit, the destination becomes empty and the
// result is false. Overlapping source and destination are allowed.
template <class T>
bool CopyBounded(T* a_psDst, std::size_t a_sizetDst, const T* a_psSrc, std::size_t a_sizetCount) {
  const std::size_t l_n = BoundedLength(a_psSrc, a_sizetCount < a_sizetDst ? a_sizetCount : a_sizetDst);
  if (l_n >= a_sizetDst) {
    a_psDst[0] = 0;
    return false;
  }
  std::memmove(a_psDst, a_psSrc, l_n * sizeof(T));
  a_psDst[l_n] = 0;
  return true;
}

// Appends at most a_sizetCount elements of a_psSrc. On overflow (or a
// destination that holds no terminator) the whole destination becomes empty.
template <class T>
bool AppendBounded(T* a_psDst, std::size_t a_sizetDst, const T* a_psSrc, std::size_t a_sizetCount) {
  const std::size_t l_nCur = BoundedLength(a_psDst, a_sizetDst);
  if (l_nCur >= a_sizetDst || !CopyBounded(a_psDst + l_nCur, a_sizetDst - l_nCur, a_psSrc, a_sizetCount)) {
    a_psDst[0] = 0;
    return false;
  }
  return true;
}

// Formats into the destination; returns the characters written, or -1 with
// an empty destination when the text and its terminator do not fit.
int FormatBounded(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, va_list a_valist)
    OS_FORMAT_PRINTF(3, 0);
int FormatBounded(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszFormat, va_list a_valist);

// The re-entrant tokenizer core.
template <class T>
T* Tokenize(T* a_psStr, const T* a_psDelimiters, T** a_ppsContext) {
  auto l_bIsDelimiter = [a_psDelimiters](T a_c) {
    for (const T* l_p = a_psDelimiters; *l_p != 0; ++l_p)
      if (*l_p == a_c) return true;
    return false;
  };
  T* l_ps = a_psStr != nullptr ? a_psStr : *a_ppsContext;
  if (l_ps == nullptr) return nullptr;
  while (*l_ps != 0 && l_bIsDelimiter(*l_ps)) ++l_ps;
  if (*l_ps == 0) {
    *a_ppsContext = l_ps;
    return nullptr;
  }
  T* const l_psToken = l_ps;
  while (*l_ps != 0 && !l_bIsDelimiter(*l_ps)) ++l_ps;
  if (*l_ps != 0) *l_ps++ = 0;
  *a_ppsContext = l_ps;
  return l_psToken;
}

}  // namespace os_cosstring
