// Bounded strings: the overflow contract of every copy and append, the
// parsers, tokens, numbers and versions.
#include <windows.h>

#include <cstring>
#include <string>

#include "os_cosstring.h"
#include "os_test.h"

namespace {

// A buffer whose bytes past the given size must never change.
template <std::size_t N>
struct Guarded {
  char m_sz[N + 8];
  Guarded() { std::memset(m_sz, '#', sizeof(m_sz)); }
  bool Intact() const {
    for (std::size_t l_i = N; l_i < sizeof(m_sz); ++l_i)
      if (m_sz[l_i] != '#') return false;
    return true;
  }
};

TEST(SStrCopy, FitsOrLeavesTheDestinationEmpty) {
  Guarded<11> l_fit;
  SStrCpy(l_fit.m_sz, 11, "0123456789");
  EXPECT_STREQ(l_fit.m_sz, "0123456789");
  EXPECT_TRUE(l_fit.Intact());

  Guarded<10> l_short;
  std::strcpy(l_short.m_sz, "before");
  SStrCpy(l_short.m_sz, 10, "0123456789");
  EXPECT_STREQ(l_short.m_sz, "");  // no truncated copy
  EXPECT_TRUE(l_short.Intact());

  char l_sz[4] = "abc";
  SStrCpy(l_sz, 4, l_sz + 1);  // overlapping source
  EXPECT_STREQ(l_sz, "bc");
}

TEST(SStrCopy, MisuseLeavesTheDestinationUntouched) {
  char l_sz[8] = "keep";
  SStrCpy(l_sz, 0, "x");
  EXPECT_STREQ(l_sz, "keep");
  SStrCpy(l_sz, sizeof(l_sz), nullptr);
  EXPECT_STREQ(l_sz, "keep");
  SStrCpy(nullptr, 8, "x");  // must not crash
  SStrNcpy(l_sz, sizeof(l_sz), "x", 0);
  EXPECT_STREQ(l_sz, "keep");
  SStrNcat(l_sz, sizeof(l_sz), "x", 0);
  EXPECT_STREQ(l_sz, "keep");
}

TEST(SStrCopy, CountedCopy) {
  std::string l_sLong(3000, 'q');
  l_sLong[2046] = 'e';
  static char s_sz[2048 + 8];
  std::memset(s_sz, '#', sizeof(s_sz));
  SStrNcpy(s_sz, 2048, l_sLong.c_str(), 2047);  // size - 1 always fits
  EXPECT_EQ(std::strlen(s_sz), 2047u);
  EXPECT_EQ(s_sz[2046], 'e');
  EXPECT_EQ(s_sz[2048], '#');

  char l_sz[6];
  SStrNcpy(l_sz, sizeof(l_sz), "abcdefgh", 3);
  EXPECT_STREQ(l_sz, "abc");
  SStrNcpy(l_sz, sizeof(l_sz), "ab", 5);  // stops at the terminator
  EXPECT_STREQ(l_sz, "ab");
  SStrNcpy(l_sz, sizeof(l_sz), "abcdefgh", 6);  // six and a terminator do not fit
  EXPECT_STREQ(l_sz, "");
  // The source need not be terminated within the count.
  const char l_acUnterminated[3] = {'x', 'y', 'z'};
  SStrNcpy(l_sz, sizeof(l_sz), l_acUnterminated, 3);
  EXPECT_STREQ(l_sz, "xyz");
}

TEST(SStrAppend, OverflowEmptiesTheWholeDestination) {
  Guarded<6> l_g;
  std::strcpy(l_g.m_sz, "abc");
  SStrCat(l_g.m_sz, 6, "de");
  EXPECT_STREQ(l_g.m_sz, "abcde");
  std::strcpy(l_g.m_sz, "abc");
  SStrCat(l_g.m_sz, 6, "def");
  EXPECT_STREQ(l_g.m_sz, "");  // not "abcde"
  EXPECT_TRUE(l_g.Intact());

  std::strcpy(l_g.m_sz, "abc");
  SStrNcat(l_g.m_sz, 6, "defgh", 2);
  EXPECT_STREQ(l_g.m_sz, "abcde");
  std::strcpy(l_g.m_sz, "abc");
  SStrNcat(l_g.m_sz, 6, "defgh", 3);
  EXPECT_STREQ(l_g.m_sz, "");
  EXPECT_TRUE(l_g.Intact());

  // A destination with no terminator within its size cannot be appended to.
  char l_ac[4] = {'a', 'b', 'c', 'd'};
  SStrCat(l_ac, 4, "");
  EXPECT_EQ(l_ac[0], 0);
}

TEST(SStrFormat, OverflowContract) {
  Guarded<8> l_g;
  EXPECT_EQ(SStrPrintf(l_g.m_sz, 8, "%s-%d", "ab", 1234), 7);
  EXPECT_STREQ(l_g.m_sz, "ab-1234");
  EXPECT_EQ(SStrPrintf(l_g.m_sz, 8, "%s-%d", "ab", 12345), -1);  // exactly fills: no room for the terminator
  EXPECT_STREQ(l_g.m_sz, "");
  EXPECT_TRUE(l_g.Intact());
  EXPECT_EQ(SMbsPrintf(l_g.m_sz, 8, "%s", "too long here"), -1);
  EXPECT_STREQ(l_g.m_sz, "");

  std::strcpy(l_g.m_sz, "ab");
  EXPECT_EQ(SStrCatf(l_g.m_sz, 8, "%d", 123), 5);
  EXPECT_STREQ(l_g.m_sz, "ab123");
  EXPECT_EQ(SStrCatf(l_g.m_sz, 8, "%d", 123), -1);
  EXPECT_STREQ(l_g.m_sz, "ab123");  // the earlier text stays
  EXPECT_TRUE(l_g.Intact());
  EXPECT_EQ(SStrPrintf(l_g.m_sz, 0, "x"), -1);
  EXPECT_EQ(SStrPrintf(nullptr, 8, "x"), -1);
}

TEST(SStrFormat, PrintfClearsTheLastErrorOnSuccessOnly) {
  char l_sz[16];
  SetLastError(1234);
  SStrPrintf(l_sz, sizeof(l_sz), "%d", 1);
  EXPECT_EQ(GetLastError(), 0u);
  SetLastError(1234);
  SMbsPrintf(l_sz, sizeof(l_sz), "%d", 1);
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(SStrWide, SameContractsOnSixteenBitUnits) {
  wchar_t l_wsz[6];
  SWcsCpy(l_wsz, 6, L"abcde");
  EXPECT_STREQ(l_wsz, L"abcde");
  SWcsCpy(l_wsz, 6, L"abcdef");
  EXPECT_STREQ(l_wsz, L"");
  SWcsCpy(l_wsz, 6, L"abc");
  SWcsCat(l_wsz, 6, L"def");
  EXPECT_STREQ(l_wsz, L"");
  SWcsCpy(l_wsz, 6, L"abc");
  SWcsNcat(l_wsz, 6, L"defg", 2);
  EXPECT_STREQ(l_wsz, L"abcde");
  SWcsNcpy(l_wsz, 6, L"\u00e9\u4e2d\U0001f600", 5);  // a surrogate pair is two units
  EXPECT_EQ(std::wcslen(l_wsz), 4u);
  EXPECT_EQ(SWcsPrintf(l_wsz, 6, L"%s%d", L"ab", 123), 5);
  EXPECT_STREQ(l_wsz, L"ab123");
  EXPECT_EQ(SWcsPrintf(l_wsz, 6, L"%s%d", L"ab", 1234), -1);
  EXPECT_STREQ(l_wsz, L"");

  wchar_t l_wszTokens[] = L"a, b,,c";
  wchar_t* l_pwszContext = nullptr;
  std::wstring l_wsJoined;
  for (wchar_t* l_pwsz = SWcsTok(l_wszTokens, L", ", &l_pwszContext); l_pwsz != nullptr;
       l_pwsz = SWcsTok(nullptr, L", ", &l_pwszContext))
    l_wsJoined += std::wstring(l_pwsz) + L"|";
  EXPECT_EQ(l_wsJoined, L"a|b|c|");
}

TEST(SStrText, TrimAndLength) {
  char l_sz2[2] = "x";
  SStrTrim(l_sz2, sizeof(l_sz2), "  ab  ");
  EXPECT_STREQ(l_sz2, "x");  // unchanged on overflow
  char l_sz3[3];
  SStrTrim(l_sz3, sizeof(l_sz3), "  ab  ");
  EXPECT_STREQ(l_sz3, "ab");
  SStrTrim(l_sz3, sizeof(l_sz3), " \t\r\n\v\f");
  EXPECT_STREQ(l_sz3, "");
  char l_sz8[8];
  SStrTrim(l_sz8, sizeof(l_sz8), "\ta b\n");
  EXPECT_STREQ(l_sz8, "a b");

  EXPECT_EQ(SStrLen("abcde", 5), -1);
  EXPECT_EQ(SStrLen("abcde", 6), 5);
  EXPECT_EQ(SStrLen(nullptr, 6), -1);
  const char l_acNoEnd[3] = {'a', 'b', 'c'};
  EXPECT_EQ(SStrLen(l_acNoEnd, 3), -1);  // and reads no byte past the three
}

TEST(SStrText, SubstringSearch) {
  const char* const l_sz = "aab";
  EXPECT_EQ(StrNstr(l_sz, "ab", 3), l_sz + 1);  // begins inside a failed partial match
  EXPECT_EQ(StrNstr(l_sz, "ab", 2), nullptr);   // the match would end past max
  EXPECT_EQ(StrNstr("xxaxaab", "aab", 100), std::strstr("xxaxaab", "aab"));
  EXPECT_EQ(StrNstr("abc", "abcd", 100), nullptr);
  const char* const l_szEmpty = "";
  EXPECT_EQ(StrNstr(l_szEmpty, "", 1), l_szEmpty);
  EXPECT_EQ(StrNstr(l_szEmpty, "", 0), nullptr);
  EXPECT_EQ(StrNstr("abc", "", 3), nullptr);
  EXPECT_EQ(StrNstr(static_cast<const char*>(nullptr), "a", 3), nullptr);
  // Never looks past max, even without a terminator there.
  const char l_acNoEnd[4] = {'x', 'y', 'a', 'b'};
  EXPECT_EQ(StrNstr(l_acNoEnd, "ab", 4), l_acNoEnd + 2);
  EXPECT_EQ(StrNstr(l_acNoEnd, "abc", 4), nullptr);
}

TEST(SStrText, Tokens) {
  char l_sz[] = "  one two\tthree  ";
  char* l_pszContext = nullptr;
  EXPECT_STREQ(SStrTok(l_sz, " \t", &l_pszContext), "one");
  // Two tokenizers at once keep separate positions.
  char l_szOther[] = "x;y";
  char* l_pszOther = nullptr;
  EXPECT_STREQ(SStrTok(l_szOther, ";", &l_pszOther), "x");
  EXPECT_STREQ(SStrTok(nullptr, " \t", &l_pszContext), "two");
  EXPECT_STREQ(SStrTok(nullptr, ";", &l_pszOther), "y");
  EXPECT_STREQ(SStrTok(nullptr, " \t", &l_pszContext), "three");
  EXPECT_EQ(SStrTok(nullptr, " \t", &l_pszContext), nullptr);
  EXPECT_EQ(SStrTok(nullptr, " \t", &l_pszContext), nullptr);
  EXPECT_EQ(SStrTok(l_sz, nullptr, &l_pszContext), nullptr);
  EXPECT_EQ(SStrTok(l_sz, " ", nullptr), nullptr);
}

TEST(SStrNumbers, ToText) {
  char l_sz[12];
  EXPECT_STREQ(SStrFromNum(-2147483647 - 1, l_sz, sizeof(l_sz), 10), "-2147483648");
  EXPECT_STREQ(SStrFromNum(255, l_sz, sizeof(l_sz), 16), "ff");
  EXPECT_STREQ(SStrFromNum(-1, l_sz, sizeof(l_sz), 16), "ffffffff");  // bits, no sign
  EXPECT_STREQ(SStrFromNum(5, l_sz, sizeof(l_sz), 2), "101");
  EXPECT_STREQ(SStrFromNum(0, l_sz, sizeof(l_sz), 36), "0");
  char l_sz3[3];
  EXPECT_EQ(SStrFromNum(-12, l_sz3, sizeof(l_sz3), 10), l_sz3);  // "-12" and its terminator need 4
  EXPECT_STREQ(l_sz3, "");
  EXPECT_EQ(SStrFromNum(1, nullptr, 4, 10), nullptr);
  EXPECT_EQ(SMbsFromNum(42, l_sz, sizeof(l_sz), 10), l_sz);
  EXPECT_STREQ(l_sz, "42");

  char l_sz66[66];
  EXPECT_STREQ(SStrFromNum64(INT64_MIN, l_sz66, sizeof(l_sz66), 10), "-9223372036854775808");
  EXPECT_STREQ(SStrFromNum64(-1, l_sz66, sizeof(l_sz66), 16), "ffffffffffffffff");
  EXPECT_EQ(std::strlen(SStrFromNum64(-1, l_sz66, sizeof(l_sz66), 2)), 64u);
  EXPECT_STREQ(SStrFromNum64(5000000000LL, l_sz66, sizeof(l_sz66), 10), "5000000000");
}

TEST(SStrNumbers, PointerText) {
  constexpr int l_iDigits = static_cast<int>(sizeof(void*) * 2);
  char l_sz[17 + 8];
  EXPECT_EQ(PtrToStr(l_sz, l_iDigits + 1, 0x1A2B), l_iDigits);
  EXPECT_EQ(std::string(l_sz), std::string(static_cast<std::size_t>(l_iDigits) - 4, '0') + "1a2b");
  std::strcpy(l_sz, "x");
  EXPECT_EQ(PtrToStr(l_sz, l_iDigits, 0x1A2B), 0);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(PtrToStr(nullptr, 20, 1), 0);
}

TEST(SStrParse, Hexadecimal) {
  EXPECT_EQ(StrHexToU32("0xfF"), 255u);
  EXPECT_EQ(StrHexToU32("12G4"), 0x12u);
  EXPECT_EQ(StrHexToU32("0X"), 0u);
  EXPECT_EQ(StrHexToU32(""), 0u);
  EXPECT_EQ(StrHexToU32("123456789"), 0x23456789u);  // the high digit shifts out
  EXPECT_EQ(StrHexToI32("ffffffff"), -1);
  EXPECT_EQ(StrHexToU64("0x123456789abcdef0"), 0x123456789abcdef0ull);
  EXPECT_EQ(StrNHexToU32("0x12345", 3), 0x123u);  // counted after the prefix
  EXPECT_EQ(StrNHexToI32("fff", 2), 0xff);
  EXPECT_EQ(StrHexToU32("\xff"
                        "1"),
            0u);  // bytes above 127 are no digits
  EXPECT_EQ(StrHexToU32(nullptr), 0u);
}

TEST(SStrParse, WhiteSpace) {
  const char* const l_sz = "  ab cd";
  EXPECT_EQ(StrSkipSpace(l_sz), l_sz + 2);
  EXPECT_EQ(StrSkipToSpace(l_sz + 2), l_sz + 4);
  EXPECT_EQ(*StrSkipToSpace("abc"), 0);
  EXPECT_EQ(StrSkipSpace(nullptr), nullptr);
  EXPECT_EQ(StrSkipToSpace(nullptr), nullptr);
}

TEST(SStrParse, Wildcards) {
  EXPECT_EQ(StrWildcardMatch("a*c?e", "abcde"), 0);
  EXPECT_EQ(StrWildcardMatch("a*c?e", "acxe"), 0);
  EXPECT_NE(StrWildcardMatch("a*c?e", "abce"), 0);
  EXPECT_EQ(StrWildcardMatch("*", ""), 0);
  EXPECT_EQ(StrWildcardMatch("a**", "a"), 0);
  EXPECT_NE(StrWildcardMatch("?", ""), 0);
  EXPECT_EQ(StrWildcardMatch("*.log", "x.log.log"), 0);  // needs backtracking
  EXPECT_NE(StrWildcardMatch("*.LOG", "x.log"), 0);      // case-sensitive
  EXPECT_EQ(StrWildcardMatch("*a*b*c", "xxaxxbxxabxc"), 0);
  EXPECT_NE(StrWildcardMatch("abc", "abcd"), 0);
}

TEST(SStrParse, Versions) {
  char l_sz[32];
  SStrFromVersion(l_sz, sizeof(l_sz), "5030201");
  EXPECT_STREQ(l_sz, "5.3.2.1");
  SStrFromVersion(l_sz, sizeof(l_sz), "5010000");
  EXPECT_STREQ(l_sz, "5.1");
  SStrFromVersion(l_sz, sizeof(l_sz), "5010200");
  EXPECT_STREQ(l_sz, "5.1.2");
  SStrFromVersion(l_sz, sizeof(l_sz), "5000001");  // a zero patch is kept before a build
  EXPECT_STREQ(l_sz, "5.0.0.1");
  SStrFromVersion(l_sz, sizeof(l_sz), "0");
  EXPECT_STREQ(l_sz, "0.0");
}

TEST(SStrParse, Utf8WideLength) {
  EXPECT_EQ(StrUtf8WideLength(""), 0);
  EXPECT_EQ(StrUtf8WideLength("abc"), 3);
  EXPECT_EQ(StrUtf8WideLength("\xc3\xa9\xe4\xb8\xad"), 2);  // é 中
  EXPECT_EQ(StrUtf8WideLength("\xf0\x9f\x98\x80"), 2);      // one surrogate pair
  EXPECT_EQ(StrUtf8WideLength(nullptr), 0);
}

}  // namespace
