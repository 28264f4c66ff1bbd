// Quoting of a spawned program's arguments.
#include "os_costhread_cmdline.h"

#include <cwchar>

bool OsSpawnAppendArgument(wchar_t* a_wszLine, std::size_t a_sizetLine, const wchar_t* a_wszArgument,
                           std::size_t a_sizetMax, bool a_bRaw) {
  const std::size_t l_sizetStart = std::wcslen(a_wszLine);
  // A cut never leaves half of a surrogate pair.
  if (a_sizetMax > 0 && std::wcslen(a_wszArgument) > a_sizetMax && a_wszArgument[a_sizetMax - 1] >= 0xD800 &&
      a_wszArgument[a_sizetMax - 1] <= 0xDBFF)
    --a_sizetMax;
  std::size_t l_sizetOut = l_sizetStart;
  std::size_t l_sizetIn = 0;
  // Room for one more character and the terminator behind it.
  auto l_put = [&](wchar_t a_wc) {
    if (l_sizetOut + 1 >= a_sizetLine) return false;
    a_wszLine[l_sizetOut++] = a_wc;
    return true;
  };
  bool l_bFits = a_bRaw || l_put(L'"');
  while (l_bFits && l_sizetIn < a_sizetMax && a_wszArgument[l_sizetIn] != 0) {
    if (a_bRaw) {
      l_bFits = l_put(a_wszArgument[l_sizetIn++]);
      continue;
    }
    std::size_t l_sizetSlashes = 0;
    while (l_sizetIn < a_sizetMax && a_wszArgument[l_sizetIn] == L'\\') {
      ++l_sizetSlashes;
      ++l_sizetIn;
    }
    const bool l_bEnd = l_sizetIn >= a_sizetMax || a_wszArgument[l_sizetIn] == 0;
    const bool l_bQuote = !l_bEnd && a_wszArgument[l_sizetIn] == L'"';
    // Backslashes count only before a quote: there (and before the closing
    // quote) each stands doubled.
    const std::size_t l_sizetPut = l_bEnd || l_bQuote ? 2 * l_sizetSlashes : l_sizetSlashes;
    for (std::size_t l_i = 0; l_bFits && l_i < l_sizetPut; ++l_i) l_bFits = l_put(L'\\');
    if (l_bFits && l_bQuote) l_bFits = l_put(L'\\') && l_put(L'"');
    if (l_bFits && !l_bEnd && !l_bQuote) l_bFits = l_put(a_wszArgument[l_sizetIn]);
    if (!l_bEnd) ++l_sizetIn;
  }
  if (l_bFits && !a_bRaw) l_bFits = l_put(L'"');
  if (l_bFits) l_bFits = l_put(L' ');
  a_wszLine[l_bFits ? l_sizetOut : l_sizetStart] = 0;
  return l_bFits;
}
