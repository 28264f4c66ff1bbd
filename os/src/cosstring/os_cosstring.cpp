// Narrow bounded strings: copy, append, formatted print, trim, length,
// numbers to text.
#include "os_cosstring.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "os_cosstring_impl.h"
#include "os_lasterror.h"
#include "os_log.h"

using namespace os_cosstring;

namespace {
// The pointer and size arguments of the misuse messages.
inline const void* Ptr(const void* a_p) { return a_p; }
inline unsigned Size(std::size_t a_sizet) { return static_cast<unsigned>(a_sizet); }
}  // namespace

int os_cosstring::FormatBounded(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, va_list a_valist) {
#if defined(_WIN32)
  // The system runtime's formatter: its conversions are the ones the library's
  // formats are written for (%I64d, %S). It returns -1 when the text does not
  // fit and leaves the buffer unterminated when the text fills it exactly.
  const int l_i = _vsnprintf(a_szDst, a_sizetDst, a_szFormat, a_valist);
#else
  const int l_i = std::vsnprintf(a_szDst, a_sizetDst, a_szFormat, a_valist);
#endif
  if (l_i < 0 || static_cast<std::size_t>(l_i) >= a_sizetDst) {
    a_szDst[0] = 0;
    return -1;
  }
  return l_i;
}

void SStrCpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szSrc == nullptr, OS_LOG_ASSERT, "SStrCpy failed...%p %u %p",
               , Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szSrc));
  if (!CopyBounded(a_szDst, a_sizetDst, a_szSrc, UNBOUNDED)) OS_LOGA("SStrCpy failed...<%s>", a_szSrc);
}

void SStrNcpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szSrc == nullptr || a_sizetCount == 0, OS_LOG_ASSERT,
               "SStrNcpy failed...%p %u %p %u", , Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szSrc), Size(a_sizetCount));
  if (!CopyBounded(a_szDst, a_sizetDst, a_szSrc, a_sizetCount)) OS_LOGA("SStrNcpy failed...<%s>", a_szSrc);
}

void SStrCat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szSrc == nullptr, OS_LOG_ASSERT, "SStrCat failed...%p %u %p",
               , Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szSrc));
  if (!AppendBounded(a_szDst, a_sizetDst, a_szSrc, UNBOUNDED)) OS_LOGA("SStrCat failed...<%s>", a_szSrc);
}

void SStrNcat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szSrc == nullptr || a_sizetCount == 0, OS_LOG_ASSERT,
               "SStrNcat failed...%p %p %p %u", , Ptr(a_szDst), reinterpret_cast<const void*>(a_sizetDst), Ptr(a_szSrc),
               Size(a_sizetCount));
  if (!AppendBounded(a_szDst, a_sizetDst, a_szSrc, a_sizetCount)) OS_LOGA("SStrNcat failed...<%s>", a_szSrc);
}

int SStrVprintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, va_list a_valist) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szFormat == nullptr, OS_LOG_ASSERT,
               "SStrVprintf failed...%p %u %p", -1, Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szFormat));
  const int l_i = FormatBounded(a_szDst, a_sizetDst, a_szFormat, a_valist);
  if (l_i < 0) OS_LOGA("SStrVprintf failed...<%s>", a_szFormat);
  return l_i;
}

int SStrPrintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szFormat == nullptr, OS_LOG_ASSERT,
               "SStrPrintf failed...%p %u %p", -1, Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szFormat));
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = FormatBounded(a_szDst, a_sizetDst, a_szFormat, l_valist);
  va_end(l_valist);
  if (l_i < 0) {
    OS_LOGA("SStrPrintf failed...<%s>", a_szFormat);
    return -1;
  }
  OsClearLastError();
  return l_i;
}

int SMbsPrintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szFormat == nullptr, OS_LOG_ASSERT,
               "SMbsPrintf failed...%p %u %p", -1, Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szFormat));
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = FormatBounded(a_szDst, a_sizetDst, a_szFormat, l_valist);
  va_end(l_valist);
  if (l_i < 0) OS_LOGA("SMbsPrintf failed...<%s>", a_szFormat);
  return l_i;
}

int SStrCatf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szFormat == nullptr, OS_LOG_ASSERT,
               "SStrCatf failed...%p %u %p", -1, Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szFormat));
  const std::size_t l_nCur = BoundedLength(a_szDst, a_sizetDst);
  int l_i = -1;
  if (l_nCur < a_sizetDst) {
    va_list l_valist;
    va_start(l_valist, a_szFormat);
    l_i = FormatBounded(a_szDst + l_nCur, a_sizetDst - l_nCur, a_szFormat, l_valist);
    va_end(l_valist);
  }
  if (l_i < 0) {
    OS_LOGA("SStrCatf failed...<%s>", a_szFormat);
    return -1;
  }
  return static_cast<int>(l_nCur) + l_i;
}

char* SStrGet(char* a_szDst, std::size_t a_sizetDst) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0, OS_LOG_ASSERT, "SStrGet failed...%p %u", nullptr, Ptr(a_szDst),
               Size(a_sizetDst));
  a_szDst[0] = 0;
  const int l_iRoom = a_sizetDst > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(a_sizetDst);
  char* const l_sz = std::fgets(a_szDst, l_iRoom, stdin);
  if (l_sz == nullptr) {
    a_szDst[0] = 0;
    return nullptr;
  }
  const std::size_t l_n = std::strlen(a_szDst);
  if (l_n > 0) a_szDst[l_n - 1] = 0;
  return l_sz;
}

void SStrTrim(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || a_szSrc == nullptr, OS_LOG_ASSERT, "SStrTrim failed...%p %u %p",
               , Ptr(a_szDst), Size(a_sizetDst), Ptr(a_szSrc));
  auto l_bSpace = [](char a_c) { return std::isspace(static_cast<unsigned char>(a_c)) != 0; };
  const char* l_pFirst = a_szSrc;
  while (*l_pFirst != 0 && l_bSpace(*l_pFirst)) ++l_pFirst;
  const char* l_pEnd = l_pFirst + std::strlen(l_pFirst);
  while (l_pEnd > l_pFirst && l_bSpace(l_pEnd[-1])) --l_pEnd;
  const std::size_t l_n = static_cast<std::size_t>(l_pEnd - l_pFirst);
  if (l_n + 1 > a_sizetDst) {
    OS_LOGA("SStrTrim failed...<%s>", a_szSrc);
    return;
  }
  std::memmove(a_szDst, l_pFirst, l_n);
  a_szDst[l_n] = 0;
}

int SStrLen(const char* a_szStr, std::size_t a_sizetMax) {
  if (a_szStr == nullptr) return -1;
  const std::size_t l_n = BoundedLength(a_szStr, a_sizetMax);
  if (l_n < a_sizetMax) return static_cast<int>(l_n);
  // The text has no terminator within a_sizetMax: show only what may be read.
  char l_szShown[17];
  const std::size_t l_nShown = a_sizetMax < 16 ? a_sizetMax : 16;
  std::memcpy(l_szShown, a_szStr, l_nShown);
  l_szShown[l_nShown] = 0;
  OS_LOGA("SStrLen failed...<%16.16s>", l_szShown);
  return -1;
}

namespace {
// Digits of a_ullMagnitude in a_iRadix (lower case), with an optional '-',
// into a_szOut (room for 64 binary digits, a sign and the terminator).
void Digits(unsigned long long a_ullMagnitude, bool a_bNegative, int a_iRadix, char (&a_szOut)[66]) {
  char l_szReverse[65];
  int l_n = 0;
  do {
    const int l_iDigit = static_cast<int>(a_ullMagnitude % static_cast<unsigned>(a_iRadix));
    l_szReverse[l_n++] = static_cast<char>(l_iDigit < 10 ? '0' + l_iDigit : 'a' + l_iDigit - 10);
    a_ullMagnitude /= static_cast<unsigned>(a_iRadix);
  } while (a_ullMagnitude != 0);
  int l_i = 0;
  if (a_bNegative) a_szOut[l_i++] = '-';
  while (l_n > 0) a_szOut[l_i++] = l_szReverse[--l_n];
  a_szOut[l_i] = 0;
}

bool RadixValid(int a_iRadix) { return a_iRadix >= 2 && a_iRadix <= 36; }
}  // namespace

// In radix 10 a negative value is written with a '-'; in any other radix the
// value's bits are written as an unsigned number of the value's width.
char* SStrFromNum(std::int32_t a_iValue, char* a_szDst, std::size_t a_sizetDst, int a_iRadix) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || !RadixValid(a_iRadix), OS_LOG_ASSERT,
               "SStrFromNum failed...%p %u", nullptr, Ptr(a_szDst), Size(a_sizetDst));
  char l_szDigits[66];
  const bool l_bNegative = a_iRadix == 10 && a_iValue < 0;
  const std::uint32_t l_u =
      l_bNegative ? 0u - static_cast<std::uint32_t>(a_iValue) : static_cast<std::uint32_t>(a_iValue);
  Digits(l_u, l_bNegative, a_iRadix, l_szDigits);
  if (!CopyBounded(a_szDst, a_sizetDst, l_szDigits, UNBOUNDED)) OS_LOGA("SStrFromNum failed...<%s>", l_szDigits);
  return a_szDst;
}

char* SStrFromNum64(std::int64_t a_llValue, char* a_szDst, std::size_t a_sizetDst, int a_iRadix) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0 || !RadixValid(a_iRadix), OS_LOG_ASSERT,
               "SStrFromNum64 failed...%p %u", nullptr, Ptr(a_szDst), Size(a_sizetDst));
  char l_szDigits[66];
  const bool l_bNegative = a_iRadix == 10 && a_llValue < 0;
  const std::uint64_t l_u =
      l_bNegative ? 0ull - static_cast<std::uint64_t>(a_llValue) : static_cast<std::uint64_t>(a_llValue);
  Digits(l_u, l_bNegative, a_iRadix, l_szDigits);
  if (!CopyBounded(a_szDst, a_sizetDst, l_szDigits, UNBOUNDED)) OS_LOGA("SStrFromNum64 failed...<%s>", l_szDigits);
  return a_szDst;
}

int PtrToStr(char* a_szDst, std::size_t a_sizetDst, std::uintptr_t a_uValue) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst == 0, OS_LOG_ASSERT, "PtrToStr failed...%p %u", 0, Ptr(a_szDst),
               Size(a_sizetDst));
  constexpr int l_iDigits = static_cast<int>(sizeof(std::uintptr_t) * 2);
  if (a_sizetDst < l_iDigits + 1u) {
    a_szDst[0] = 0;
    OS_LOGA("a_lValueSizeInBytes too small...");
    return 0;
  }
  static const char s_szHex[] = "0123456789abcdef";
  for (int l_i = l_iDigits - 1; l_i >= 0; --l_i) {
    a_szDst[l_i] = s_szHex[a_uValue & 0xF];
    a_uValue >>= 4;
  }
  a_szDst[l_iDigits] = 0;
  return l_iDigits;
}

void SMbsCpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) { SStrCpy(a_szDst, a_sizetDst, a_szSrc); }
void SMbsNcpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount) {
  SStrNcpy(a_szDst, a_sizetDst, a_szSrc, a_sizetCount);
}
void SMbsCat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) { SStrCat(a_szDst, a_sizetDst, a_szSrc); }
void SMbsNcat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount) {
  SStrNcat(a_szDst, a_sizetDst, a_szSrc, a_sizetCount);
}
char* SMbsFromNum(std::int32_t a_iValue, char* a_szDst, std::size_t a_sizetDst, int a_iRadix) {
  return SStrFromNum(a_iValue, a_szDst, a_sizetDst, a_iRadix);
}
