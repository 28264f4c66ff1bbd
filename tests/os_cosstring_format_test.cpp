// The format functions give the system runtime's output for the conversions
// the library's messages use, on both targets.
#include <cstring>
#include <string>

#include "os_cosstring.h"
#include "os_test.h"

namespace {

std::string Format(const char* a_szFormat, ...) OS_FORMAT_PRINTF(1, 2);
std::string Format(const char* a_szFormat, ...) {
  char l_sz[256];
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = SStrVprintf(l_sz, sizeof(l_sz), a_szFormat, l_valist);
  va_end(l_valist);
  EXPECT_EQ(l_i, static_cast<int>(std::strlen(l_sz)));
  return l_sz;
}

TEST(SStrFormatConversions, SixtyFourBitIntegers) {
  EXPECT_EQ(Format("%I64d", -5000000000LL), "-5000000000");
  EXPECT_EQ(Format("%I64d/%I64d", 1LL, 9223372036854775807LL), "1/9223372036854775807");
  EXPECT_EQ(Format("%llu", 18446744073709551615ULL), "18446744073709551615");
  EXPECT_EQ(Format("T%04llu", 42ULL), "T0042");
  EXPECT_EQ(Format("T%04llu", 123456ULL), "T123456");
}

TEST(SStrFormatConversions, WideStringInANarrowFormat) {
  EXPECT_EQ(Format("<%S>", L"wide text"), "<wide text>");
  EXPECT_EQ(Format("<%S>", L""), "<>");
}

TEST(SStrFormatConversions, Pointers) {
  const std::string l_s = Format("%p", reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x1A2B)));
  // The runtime writes every digit of the pointer's width, upper case.
  EXPECT_EQ(l_s, std::string(sizeof(void*) * 2 - 4, '0') + "1A2B");
}

TEST(SStrFormatConversions, WidthsAndPrecisions) {
  EXPECT_EQ(Format("[%-32.32s]", "os_cosstring"), "[os_cosstring" + std::string(20, ' ') + "]");
  EXPECT_EQ(Format("[%-32.32s]", "a_module_name_that_is_longer_than_32_characters"),
            "[a_module_name_that_is_longer_tha]");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
  // The log prefix's forms: the precision pads, the '0' flag is ignored.
  EXPECT_EQ(Format("%05.5d", 42), "00042");
  EXPECT_EQ(Format("%02.2d%02.2d%02.2d%03.3d", 1, 2, 3, 4), "010203004");
  EXPECT_EQ(Format("%04.04d/%02.02d", 2026, 12), "2026/12");
  EXPECT_EQ(Format("0x%08.8x", 0xbeefu), "0x0000beef");
#pragma GCC diagnostic pop
  EXPECT_EQ(Format("%5d|%-5d|", 42, 42), "   42|42   |");
}

TEST(SStrFormatConversions, WideFormat) {
  wchar_t l_wsz[64];
  // In the runtime's wide format %s is a wide string.
  EXPECT_EQ(SWcsPrintf(l_wsz, 64, L"%s=%d %I64d", L"name", 7, -5000000000LL), 18);
  EXPECT_STREQ(l_wsz, L"name=7 -5000000000");
}

}  // namespace
