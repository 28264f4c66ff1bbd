// SHA-256 against the standard's examples and against sha256sum on random
// data of every length from 0 to 1000 bytes and on 1 MiB.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "os_cosstring.h"
#include "os_test.h"

namespace {

std::string Sha(const std::string& a_s) {
  char l_sz[65];
  EXPECT_EQ(StrSha256Hex(l_sz, sizeof(l_sz), a_s.data(), a_s.size()), OS_STS_SUCCESS);
  return l_sz;
}

std::string Upper(std::string a_s) {
  for (char& l_c : a_s) l_c = static_cast<char>(std::toupper(static_cast<unsigned char>(l_c)));
  return a_s;
}

TEST(StrSha256Hex, StandardExamples) {
  EXPECT_EQ(Sha("abc"), Upper("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  EXPECT_EQ(Sha(""), Upper("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
  EXPECT_EQ(Sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            Upper("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
  EXPECT_EQ(Sha(std::string(1000000, 'a')), Upper("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

TEST(StrSha256Hex, DestinationSize) {
  char l_sz[65];
  std::memset(l_sz, '#', sizeof(l_sz));
  EXPECT_EQ(StrSha256Hex(l_sz, 64, "abc", 3), OS_STS_TOOSMALL);
  EXPECT_EQ(l_sz[0], '#');
  EXPECT_EQ(StrSha256Hex(l_sz, 65, "abc", 3), OS_STS_SUCCESS);
  EXPECT_EQ(std::strlen(l_sz), 64u);
  EXPECT_EQ(StrSha256Hex(l_sz, 65, nullptr, 3), OS_STS_BADARG);
  EXPECT_EQ(StrSha256Hex(l_sz, 65, nullptr, 0), OS_STS_SUCCESS);
}

TEST(StrSha256Hex, AgreesWithSha256sum) {
  const char* const l_szDir = std::getenv("OS_TEST_SHA256_DIR");
  ASSERT_NE(l_szDir, nullptr) << "the sha256_data fixture sets OS_TEST_SHA256_DIR";
  std::ifstream l_data(std::string(l_szDir) + "/data.bin", std::ios::binary);
  ASSERT_TRUE(l_data.good());
  const std::string l_sData((std::istreambuf_iterator<char>(l_data)), std::istreambuf_iterator<char>());
  std::ifstream l_digests(std::string(l_szDir) + "/digests.txt");
  ASSERT_TRUE(l_digests.good());
  std::size_t l_sizetLength = 0;
  std::string l_sHex;
  int l_iChecked = 0;
  while (l_digests >> l_sizetLength >> l_sHex) {
    ASSERT_LE(l_sizetLength, l_sData.size());
    char l_sz[65];
    ASSERT_EQ(StrSha256Hex(l_sz, sizeof(l_sz), l_sData.data(), l_sizetLength), OS_STS_SUCCESS);
    EXPECT_EQ(std::string(l_sz), Upper(l_sHex)) << "length " << l_sizetLength;
    ++l_iChecked;
  }
  EXPECT_EQ(l_iChecked, 1002);
}

}  // namespace
