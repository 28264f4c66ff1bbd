// Password encryption: ciphertexts against RC4 computed here under the MD5
// digests of RFC 1321's test suite, the padded lengths, the round trip, a
// wrong password, and the refusals that allocate nothing.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "os_cosmem_impl.h"
#include "os_cosstring.h"
#include "os_test_services.h"

namespace {

// RC4 of a_data under a_key.
std::vector<std::uint8_t> Rc4(const std::vector<std::uint8_t>& a_key, const std::vector<std::uint8_t>& a_data) {
  std::uint8_t l_s[256];
  for (int l_i = 0; l_i < 256; ++l_i) l_s[l_i] = static_cast<std::uint8_t>(l_i);
  for (int l_i = 0, l_j = 0; l_i < 256; ++l_i) {
    l_j = (l_j + l_s[l_i] + a_key[l_i % a_key.size()]) & 0xFF;
    std::swap(l_s[l_i], l_s[l_j]);
  }
  std::vector<std::uint8_t> l_out;
  for (std::size_t l_n = 0, l_i = 0, l_j = 0; l_n < a_data.size(); ++l_n) {
    l_i = (l_i + 1) & 0xFF;
    l_j = (l_j + l_s[l_i]) & 0xFF;
    std::swap(l_s[l_i], l_s[l_j]);
    l_out.push_back(a_data[l_n] ^ l_s[(l_s[l_i] + l_s[l_j]) & 0xFF]);
  }
  return l_out;
}

std::vector<std::uint8_t> FromHex(const char* a_sz) {
  std::vector<std::uint8_t> l_v;
  for (; a_sz[0] != 0; a_sz += 2)
    l_v.push_back(static_cast<std::uint8_t>(std::stoi(std::string(a_sz, 2), nullptr, 16)));
  return l_v;
}

class StrCrypt : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("crypt", "application");
    LogTo(L"crypt.log");
  }
  std::uint32_t Allocations() { return OsMemInstance()->m_posmemimpl->m_u32AC; }
};

TEST_F(StrCrypt, CiphertextIsRc4UnderTheMd5OfThePassword) {
  struct Case {
    const char* m_szText;
    const char* m_szPassword;
    const char* m_szMd5;
    std::uint32_t m_u32Block;
    std::uint32_t m_u32Length;
  };
  const Case l_acase[] = {
      {"hello", "abc", "900150983cd24fb0d6963f7d28e17f72", 8, 8},
      {"hello", "abc", "900150983cd24fb0d6963f7d28e17f72", 6, 12},
      {"x", "a", "0cc175b9c0f1b6a831c399e269772661", 1, 3},
      {"Gr\xC3\xBC\xC3\x9F"
       "e aus K\xC3\xB6ln",
       "message digest", "f96b697d7cb7938d525a2f31aaf161d0", 16, 32},
  };
  for (const Case& l_case : l_acase) {
    SCOPED_TRACE(std::string(l_case.m_szText) + " / " + std::to_string(l_case.m_u32Block));
    const std::size_t l_sizet = std::strlen(l_case.m_szText) + 1;
    std::uint8_t* l_pu8 = nullptr;
    std::uint32_t l_u32 = 0;
    ASSERT_EQ(StrEncrypt(&l_pu8, &l_u32, l_case.m_szText, l_case.m_szPassword, l_case.m_u32Block), OS_STS_SUCCESS);
    ASSERT_EQ(l_u32, l_case.m_u32Length);
    const std::vector<std::uint8_t> l_plain(l_case.m_szText, l_case.m_szText + l_sizet);
    EXPECT_EQ(std::vector<std::uint8_t>(l_pu8, l_pu8 + l_sizet), Rc4(FromHex(l_case.m_szMd5), l_plain));

    std::uint8_t* l_pu8Back = nullptr;
    std::uint32_t l_u32Back = 0;
    ASSERT_EQ(StrDecrypt(&l_pu8Back, &l_u32Back, l_pu8, l_u32, l_case.m_szPassword, 5), OS_STS_SUCCESS);
    EXPECT_EQ(l_u32Back, l_u32 - l_u32 % 5);
    EXPECT_EQ(std::memcmp(l_pu8Back, l_case.m_szText, l_sizet), 0);
    OS_MEM_FREE(l_pu8Back);
    OS_MEM_FREE(l_pu8);
  }
}

TEST_F(StrCrypt, WrongPasswordGivesOtherBytes) {
  std::uint8_t* l_pu8 = nullptr;
  std::uint32_t l_u32 = 0;
  ASSERT_EQ(StrEncrypt(&l_pu8, &l_u32, "secret text", "right", 8), OS_STS_SUCCESS);
  std::uint8_t* l_pu8Back = nullptr;
  std::uint32_t l_u32Back = 0;
  ASSERT_EQ(StrDecrypt(&l_pu8Back, &l_u32Back, l_pu8, l_u32, "wrong", 8), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32Back, 16u);
  EXPECT_NE(std::memcmp(l_pu8Back, "secret text", 12), 0);
  OS_MEM_FREE(l_pu8Back);
  OS_MEM_FREE(l_pu8);
}

TEST_F(StrCrypt, BadArgumentsAllocateNothing) {
  const std::uint8_t l_au8[4] = {1, 2, 3, 4};
  std::uint8_t* l_pu8 = reinterpret_cast<std::uint8_t*>(1);
  std::uint32_t l_u32 = 7;
  const std::uint32_t l_u32Before = Allocations();
  EXPECT_EQ(StrEncrypt(nullptr, &l_u32, "t", "p", 8), OS_STS_FAIL);
  EXPECT_EQ(StrEncrypt(&l_pu8, nullptr, "t", "p", 8), OS_STS_FAIL);
  EXPECT_EQ(StrEncrypt(&l_pu8, &l_u32, "", "p", 8), OS_STS_FAIL);
  EXPECT_EQ(StrEncrypt(&l_pu8, &l_u32, nullptr, "p", 8), OS_STS_FAIL);
  EXPECT_EQ(StrEncrypt(&l_pu8, &l_u32, "t", "", 8), OS_STS_FAIL);
  EXPECT_EQ(StrEncrypt(&l_pu8, &l_u32, "t", "p", 0), OS_STS_FAIL);
  EXPECT_EQ(StrDecrypt(&l_pu8, &l_u32, nullptr, 4, "p", 8), OS_STS_FAIL);
  EXPECT_EQ(StrDecrypt(&l_pu8, &l_u32, l_au8, 0, "p", 8), OS_STS_FAIL);
  EXPECT_EQ(StrDecrypt(&l_pu8, &l_u32, l_au8, 4, nullptr, 8), OS_STS_FAIL);
  EXPECT_EQ(StrDecrypt(&l_pu8, &l_u32, l_au8, 4, "p", 0), OS_STS_FAIL);
  EXPECT_EQ(Allocations(), l_u32Before);
  EXPECT_EQ(Count("Bad argument..."), 10u);
  EXPECT_EQ(l_pu8, nullptr);
  EXPECT_EQ(l_u32, 0u);
}

}  // namespace
