// Small parsers over narrow text: hexadecimal numbers, white space, wildcard
// matching, bounded substring search, tokens and packed version numbers.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "os_cosstring.h"
#include "os_cosstring_impl.h"
#include "os_log.h"

namespace {

constexpr unsigned char NOT_A_DIGIT = 255;

struct HexTable {
  unsigned char m_auc[256];
  constexpr HexTable() : m_auc() {
    for (int l_i = 0; l_i < 256; ++l_i) m_auc[l_i] = NOT_A_DIGIT;
    for (int l_i = 0; l_i < 10; ++l_i) m_auc['0' + l_i] = static_cast<unsigned char>(l_i);
    for (int l_i = 0; l_i < 6; ++l_i) {
      m_auc['a' + l_i] = static_cast<unsigned char>(10 + l_i);
      m_auc['A' + l_i] = static_cast<unsigned char>(10 + l_i);
    }
  }
};
constexpr HexTable s_hextable;

// Accumulates at most a_sizetMax hex digits after an optional 0x prefix;
// the unsigned type's width decides which high bits are shifted out.
template <class U>
U ParseHex(const char* a_szText, std::size_t a_sizetMax) {
  if (a_szText == nullptr) return 0;
  const unsigned char* l_puc = reinterpret_cast<const unsigned char*>(a_szText);
  if (l_puc[0] == '0' && (l_puc[1] == 'x' || l_puc[1] == 'X')) l_puc += 2;
  U l_u = 0;
  for (std::size_t l_n = 0; l_n < a_sizetMax; ++l_n) {
    const unsigned char l_ucDigit = s_hextable.m_auc[l_puc[l_n]];
    if (l_ucDigit == NOT_A_DIGIT) break;  // the terminator is not a digit either
    l_u = static_cast<U>(l_u * 16u + l_ucDigit);
  }
  return l_u;
}

}  // namespace

std::uint32_t StrHexToU32(const char* a_szText) { return ParseHex<std::uint32_t>(a_szText, SIZE_MAX); }
std::int32_t StrHexToI32(const char* a_szText) { return static_cast<std::int32_t>(StrHexToU32(a_szText)); }
std::uint64_t StrHexToU64(const char* a_szText) { return ParseHex<std::uint64_t>(a_szText, SIZE_MAX); }
std::uint32_t StrNHexToU32(const char* a_szText, std::size_t a_sizetMax) {
  return ParseHex<std::uint32_t>(a_szText, a_sizetMax);
}
std::int32_t StrNHexToI32(const char* a_szText, std::size_t a_sizetMax) {
  return static_cast<std::int32_t>(StrNHexToU32(a_szText, a_sizetMax));
}

const char* StrSkipToSpace(const char* a_szSrc) {
  OS_RETURN_IF_NULL(a_szSrc, OS_LOG_ASSERT, "a_szSrc is null...", nullptr);
  while (*a_szSrc != 0 && !std::isspace(static_cast<unsigned char>(*a_szSrc))) ++a_szSrc;
  return a_szSrc;
}

const char* StrSkipSpace(const char* a_szSrc) {
  OS_RETURN_IF_NULL(a_szSrc, OS_LOG_ASSERT, "a_szSrc is null...", nullptr);
  while (*a_szSrc != 0 && std::isspace(static_cast<unsigned char>(*a_szSrc))) ++a_szSrc;
  return a_szSrc;
}

// Greedy matching with one backtracking point: on a mismatch the most recent
// '*' absorbs one more character of text. Linear for patterns with one '*'.
int StrWildcardMatch(const char* a_szPattern, const char* a_szText) {
  if (a_szPattern == nullptr || a_szText == nullptr) return 1;
  const char* l_pStar = nullptr;
  const char* l_pStarText = nullptr;
  while (*a_szText != 0) {
    if (*a_szPattern == '*') {
      l_pStar = a_szPattern++;
      l_pStarText = a_szText;
    } else if (*a_szPattern == '?' || *a_szPattern == *a_szText) {
      ++a_szPattern;
      ++a_szText;
    } else if (l_pStar != nullptr) {
      a_szPattern = l_pStar + 1;
      a_szText = ++l_pStarText;
    } else {
      return 1;
    }
  }
  while (*a_szPattern == '*') ++a_szPattern;
  return *a_szPattern == 0 ? 0 : 1;
}

// Finds every occurrence, including one that begins inside a failed partial
// match ("ab" in "aab"); never looks past a_sizetMax characters.
const char* StrNstr(const char* a_szHaystack, const char* a_szNeedle, std::size_t a_sizetMax) {
  if (a_szHaystack == nullptr || a_szNeedle == nullptr) {
    OS_LOGA("StrNstr failed...%p %p", static_cast<const void*>(a_szHaystack), static_cast<const void*>(a_szNeedle));
    return nullptr;
  }
  if (a_szNeedle[0] == 0) return (a_szHaystack[0] == 0 && a_sizetMax != 0) ? a_szHaystack : nullptr;
  const char l_cFirst = a_szNeedle[0];
  for (std::size_t l_i = 0; l_i < a_sizetMax && a_szHaystack[l_i] != 0; ++l_i) {
    if (a_szHaystack[l_i] != l_cFirst) continue;
    std::size_t l_j = 1;
    while (a_szNeedle[l_j] != 0 && l_i + l_j < a_sizetMax && a_szHaystack[l_i + l_j] == a_szNeedle[l_j]) ++l_j;
    if (a_szNeedle[l_j] == 0) return a_szHaystack + l_i;
  }
  return nullptr;
}

char* SStrTok(char* a_szStr, const char* a_szDelimiters, char** a_pszContext) {
  if (a_szDelimiters == nullptr || a_pszContext == nullptr) {
    OS_LOGA("SStrTok failed...%p %p", static_cast<const void*>(a_szDelimiters), static_cast<const void*>(a_pszContext));
    return nullptr;
  }
  return os_cosstring::Tokenize(a_szStr, a_szDelimiters, a_pszContext);
}

void SStrFromVersion(char* a_szDst, std::size_t a_sizetDst, const char* a_szText) {
  const long l_lValue = a_szText != nullptr ? std::strtol(a_szText, nullptr, 10) : 0;
  const long l_lMajor = l_lValue / 1000000;
  const long l_lMinor = (l_lValue % 1000000) / 10000;
  const long l_lPatch = (l_lValue % 10000) / 100;
  const long l_lBuild = l_lValue % 100;
  if (l_lValue == 0) OS_LOGE("version is zero...<%s>", a_szText != nullptr ? a_szText : "");
  if (l_lBuild != 0)
    SStrPrintf(a_szDst, a_sizetDst, "%ld.%ld.%ld.%ld", l_lMajor, l_lMinor, l_lPatch, l_lBuild);
  else if (l_lPatch != 0)
    SStrPrintf(a_szDst, a_sizetDst, "%ld.%ld.%ld", l_lMajor, l_lMinor, l_lPatch);
  else
    SStrPrintf(a_szDst, a_sizetDst, "%ld.%ld", l_lMajor, l_lMinor);
}
