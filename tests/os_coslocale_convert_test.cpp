// The free UTF-8 / UTF-16 conversions: the room rule (a text of at most
// size - 2 characters fits, the last character always stays 0) and the
// failure results.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "os.h"
#include "os_coslocale.h"
#include "os_test.h"

namespace {

TEST(OsLocaleConvert, StringFromUtf8KeepsTheLastCharacterFree) {
  wchar_t l_wsz[8];
  wmemset(l_wsz, L'x', 8);
  EXPECT_EQ(CopyStringFromUtf8(l_wsz, 4, "abc"), 0);
  EXPECT_EQ(l_wsz[0], 0);
  EXPECT_EQ(l_wsz[3], 0);
  EXPECT_EQ(l_wsz[4], L'x');  // nothing beyond the given size
  EXPECT_EQ(CopyStringFromUtf8(l_wsz, 5, "abc"), 4);
  EXPECT_STREQ(l_wsz, L"abc");
  EXPECT_EQ(CopyStringFromUtf8(l_wsz, 5, ""), 1);
  EXPECT_STREQ(l_wsz, L"");
  // Characters outside the 8-bit code page and a surrogate pair.
  EXPECT_EQ(CopyStringFromUtf8(l_wsz, 8, "\xe2\x82\xac\xf0\x9f\x98\x80"), 4);
  EXPECT_EQ(l_wsz[0], 0x20ac);
  EXPECT_EQ(l_wsz[1], 0xd83d);
  EXPECT_EQ(l_wsz[2], 0xde00);
  // Broken UTF-8 is refused, not guessed.
  EXPECT_EQ(CopyStringFromUtf8(l_wsz, 8, "a\xc3"), 0);
  EXPECT_EQ(CopyStringFromUtf8(nullptr, 8, "a"), 0);
  EXPECT_EQ(CopyStringFromUtf8(l_wsz, 1, "a"), 0);
}

TEST(OsLocaleConvert, Utf8FromUnicodeTerminatedAndCounted) {
  char l_sz[8];
  std::memset(l_sz, 'x', sizeof(l_sz));
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 4, L"abc", -1), 0);
  EXPECT_EQ(l_sz[0], 0);
  EXPECT_EQ(l_sz[4], 'x');
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 5, L"abc", -1), 4);
  EXPECT_STREQ(l_sz, "abc");
  // A counted text gets its terminator added and obeys the same room.
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 5, L"abcdef", 3), 4);
  EXPECT_STREQ(l_sz, "abc");
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 4, L"abcdef", 3), 0);
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 4, L"abc", 0), 1);
  EXPECT_STREQ(l_sz, "");
  // The euro sign takes three bytes.
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 5, L"\x20ac", -1), 4);
  EXPECT_STREQ(l_sz, "\xe2\x82\xac");
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 4, L"\x20ac", -1), 0);
  EXPECT_EQ(CopyUtf8FromUnicode(l_sz, 8, nullptr, -1), 0);
}

TEST(OsLocaleConvert, StringFromStringIsABoundedCopy) {
  char l_sz[8];
  std::memset(l_sz, 'x', sizeof(l_sz));
  EXPECT_EQ(CopyStringFromString(l_sz, 5, "abc"), 4);
  EXPECT_STREQ(l_sz, "abc");
  std::memset(l_sz, 'x', sizeof(l_sz));
  EXPECT_EQ(CopyStringFromString(l_sz, 4, "abc"), 0);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(l_sz[4], 'x');
  EXPECT_EQ(CopyStringFromString(l_sz, 4, ""), 1);
}

}  // namespace
