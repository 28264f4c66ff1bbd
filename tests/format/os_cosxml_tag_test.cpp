// Tag values taken from raw text, bounded by the caller's buffer.
#include <cstring>
#include <string>
#include <vector>

#include "os_cosxml.h"
#include "os_host_backend.h"
#include <gtest/gtest.h>

namespace {

std::string Value(const char* a_szDocument, const char* a_szOpening, const char* a_szClosing, std::size_t a_sizet = 64,
                  EOSSTS* a_peossts = nullptr) {
  std::vector<char> l_buf(a_sizet + 1, '#');
  const EOSSTS l_eossts = OsXmlGetTagValue(a_szDocument, a_szOpening, a_szClosing, l_buf.data(), a_sizet);
  if (a_peossts != nullptr) *a_peossts = l_eossts;
  EXPECT_EQ(l_buf[a_sizet], '#') << "wrote past the buffer";
  return l_buf.data();
}

TEST(OsXmlGetTagValue, ValuesAndCdata) {
  const char* const l_szArguments =
      "<arguments>\n\t<uniquename>dirwarden</uniquename>\n\t<entity>application</entity>\n</arguments>";
  EXPECT_EQ(Value(l_szArguments, "<uniquename>", "</uniquename>"), "dirwarden");
  EXPECT_EQ(Value(l_szArguments, "<entity>", "</entity>"), "application");
  EXPECT_EQ(Value("<v><![CDATA[abc]]></v>", "<v>", "</v>"), "abc");
  EXPECT_EQ(Value("<v><![CDATA[a<b>]]></v>", "<v>", "</v>"), "a<b>");
  EXPECT_EQ(Value("<v><![CDATA[a]]]]><![CDATA[>b]]></v>", "<v>", "</v>"), "a]]>b");  // adjacent sections
  EXPECT_EQ(Value("<a>1</a><a>2</a>", "<a>", "</a>"), "1");                          // the first one
  EXPECT_EQ(Value("<a>x<b>y</b></a>", "<a>", "</a>"), "x<b>y</b>");
}

TEST(OsXmlGetTagValue, MissingOrEmptyValues) {
  EOSSTS l_eossts = OS_STS_SUCCESS;
  EXPECT_EQ(Value("<v><![CDATA[abc]]>", "<v>", "</v>", 64, &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Value("</v>x<v>", "<v>", "</v>", 64, &l_eossts), "");  // the closing tag must follow
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Value("<v></v>", "<v>", "</v>", 64, &l_eossts), "");
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
  EXPECT_EQ(Value("<v><![CDATA[</v>", "<v>", "</v>", 64, &l_eossts), "");  // too short for its own end
  EXPECT_EQ(l_eossts, OS_STS_FAIL);
}

TEST(OsXmlGetTagValue, ABoundedDestination) {
  EOSSTS l_eossts = OS_STS_SUCCESS;
  EXPECT_EQ(Value("<v>abcd</v>", "<v>", "</v>", 5, &l_eossts), "abcd");
  EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
  EXPECT_EQ(Value("<v>abcde</v>", "<v>", "</v>", 5, &l_eossts), "");  // does not fit: absent
  EXPECT_EQ(l_eossts, OS_STS_TOOSMALL);
  // Joined sections count with their content only.
  EXPECT_EQ(Value("<v><![CDATA[a]]]]><![CDATA[>]]></v>", "<v>", "</v>", 5, &l_eossts), "a]]>");
  EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
  char l_sz[4] = "x";
  EXPECT_EQ(OsXmlGetTagValue(nullptr, "<v>", "</v>", l_sz, sizeof(l_sz)), OS_STS_BADARG);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(OsXmlGetTagValue("<v>1</v>", "<v>", "</v>", nullptr, 4), OS_STS_BADARG);
}

TEST(OsXmlGetTagValue, MisuseIsLogged) {
  std::vector<std::string> l_vecLines;
  OsHostLogCapture(&l_vecLines);
  char l_sz[4];
  OsXmlGetTagValue("<v>1</v>", nullptr, "</v>", l_sz, sizeof(l_sz));
  OsHostLogCapture(nullptr);
  ASSERT_EQ(l_vecLines.size(), 1u);
  EXPECT_NE(l_vecLines[0].find("os_cosxml_tag.cpp A "), std::string::npos) << l_vecLines[0];
}

}  // namespace
