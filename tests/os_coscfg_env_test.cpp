// Environment and registry access: values, defaults, buffer limits, the
// 16-bit path with text outside the code page, removal, the snapshot, and
// registry reads with their path rules. Messages are checked in the log.
#include <windows.h>

#include <cstring>
#include <string>

#include "os.h"
#include "os_test.h"
#include "os_test_log.h"
#include "os_test_services.h"

namespace {

// A test log that receives the library's messages for the test's length.
class Env : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"env.log");
  }
};

TEST_F(Env, GetValueDefaultAndEmpty) {
  SetEnv(L"QRX_TEST_A", L"value");
  char l_sz[32];
  SetLastError(5);
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_A", "dflt", sizeof(l_sz), l_sz, false), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "value");
  EXPECT_EQ(GetLastError(), 0u);  // a read clears the last error
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_A", nullptr, sizeof(l_sz), l_sz, true), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "value");

  // An empty variable reads as missing: the default.
  SetEnv(L"QRX_TEST_A", L"");
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_A", "dflt", sizeof(l_sz), l_sz, false), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "dflt");
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_A", "dflt", sizeof(l_sz), l_sz, true), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "dflt");
  SetEnv(L"QRX_TEST_A", nullptr);
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_A", nullptr, sizeof(l_sz), l_sz, false), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "");
  // A default longer than the buffer.
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_A", "0123456789", 8, l_sz, false), OS_STS_TOOSMALL);
  EXPECT_EQ(Lines("GetEnv error...<QRX_TEST_A> <0123456789> 8").size(), 1u);
}

TEST_F(Env, GetArgumentChecksAndBufferLimits) {
  char l_sz[8];
  EXPECT_EQ(OsCfgGetEnv(nullptr, nullptr, sizeof(l_sz), l_sz, false), OS_STS_BADARG);
  EXPECT_EQ(OsCfgGetEnv("", nullptr, sizeof(l_sz), l_sz, false), OS_STS_BADARG);
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_B", nullptr, sizeof(l_sz), nullptr, false), OS_STS_BADARG);
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_B", nullptr, 1, l_sz, false), OS_STS_BADARG);
  SetEnv(L"QRX_TEST_B", L"12345678");
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_B", nullptr, sizeof(l_sz), l_sz, false), OS_STS_TOOSMALL);
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_B", nullptr, sizeof(l_sz), l_sz, true), OS_STS_TOOSMALL);
  EXPECT_STREQ(l_sz, "");
  SetEnv(L"QRX_TEST_B", L"1234567");
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_B", nullptr, sizeof(l_sz), l_sz, true), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "1234567");

  const auto l_lines = OsTestReadLog(m_wsLog);
  for (const char* l_szText : {"a_szEnvName is null", "a_szEnvName is empty", "a_szValue is null...<QRX_TEST_B>",
                               "a_sizetBytes <= 1...<QRX_TEST_B> 1"}) {
    const auto l_found = OsTestFindLines(l_lines, l_szText);
    ASSERT_EQ(l_found.size(), 1u) << l_szText;
    EXPECT_EQ(l_found[0].m_sModule, "os_coscfg_env");
    EXPECT_EQ(l_found[0].m_cMark, 'E');
  }
  EXPECT_EQ(OsTestFindLines(l_lines, "GetEnv error, buffer too small...<QRX_TEST_B> (").size(), 2u);
}

TEST_F(Env, SixteenBitValuesArriveAsUtf8) {
  SetEnv(L"QRX_TEST_W", L"\x20ac-\x4e2d");  // euro sign, a CJK character
  char l_sz[16];
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_W", nullptr, sizeof(l_sz), l_sz, true), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "\xe2\x82\xac-\xe4\xb8\xad");
  // Seven bytes of UTF-8 do not fit into seven.
  EXPECT_EQ(OsCfgGetEnv("QRX_TEST_W", nullptr, 7, l_sz, true), OS_STS_TOOSMALL);
  // The 16-bit set takes UTF-8 and stores the characters.
  EXPECT_EQ(OsCfgSetEnvW("QRX_TEST_W", "\xc3\xa9t\xc3\xa9"), OS_STS_SUCCESS);
  EXPECT_EQ(OsTestGetEnv(L"QRX_TEST_W").value_or(L"?"), L"\x00e9t\x00e9");
  EXPECT_EQ(OsCfgSetEnvW("QRX_TEST_W", nullptr), OS_STS_SUCCESS);
  EXPECT_FALSE(OsTestGetEnv(L"QRX_TEST_W").has_value());
  SetEnv(L"QRX_TEST_W", nullptr);  // restore later through the fixture
}

TEST_F(Env, BooleanNumberAndUnset) {
  SetEnv(L"QRX_TEST_C", L"TRUE");
  EXPECT_TRUE(OsCfgGetEnvBool("QRX_TEST_C", false));
  SetEnv(L"QRX_TEST_C", L"0");
  EXPECT_FALSE(OsCfgGetEnvBool("QRX_TEST_C", true));
  SetEnv(L"QRX_TEST_C", L"False");
  EXPECT_FALSE(OsCfgGetEnvBool("QRX_TEST_C", true));
  SetEnv(L"QRX_TEST_C", L"yes");
  EXPECT_TRUE(OsCfgGetEnvBool("QRX_TEST_C", true));
  EXPECT_FALSE(OsCfgGetEnvBool("QRX_TEST_C", false));
  SetEnv(L"QRX_TEST_C", L"a value longer than sixteen");
  EXPECT_TRUE(OsCfgGetEnvBool("QRX_TEST_C", true));  // unreadable: the default
  SetEnv(L"QRX_TEST_C", nullptr);
  EXPECT_TRUE(OsCfgGetEnvBool("QRX_TEST_C", true));
  EXPECT_FALSE(OsCfgGetEnvBool(nullptr, true));
  const auto l_found = Lines("unrecognized value...<yes>, returning default...");
  ASSERT_EQ(l_found.size(), 2u);
  EXPECT_EQ(l_found[0].m_cMark, 'A');
  EXPECT_NE(l_found[0].m_sText.find("default...1"), std::string::npos);
  EXPECT_NE(l_found[1].m_sText.find("default...0"), std::string::npos);

  SetEnv(L"QRX_TEST_N", L"42abc");
  EXPECT_EQ(OsCfgGetEnvNumber("QRX_TEST_N", 7), 42);
  SetEnv(L"QRX_TEST_N", L"-12");
  EXPECT_EQ(OsCfgGetEnvNumber("QRX_TEST_N", 7), -12);
  SetEnv(L"QRX_TEST_N", L"abc");
  EXPECT_EQ(OsCfgGetEnvNumber("QRX_TEST_N", 7), 0);
  SetEnv(L"QRX_TEST_N", nullptr);
  EXPECT_EQ(OsCfgGetEnvNumber("QRX_TEST_N", 7), 7);
  EXPECT_EQ(OsCfgGetEnvNumber(nullptr, 7), 0);

  EXPECT_EQ(OsCfgIsEnvUnset("QRX_TEST_N"), 1);
  SetEnv(L"QRX_TEST_N", L"");
  EXPECT_EQ(OsCfgIsEnvUnset("QRX_TEST_N"), 0);  // empty, but set
  SetEnv(L"QRX_TEST_N", L"a value longer than sixteen");
  EXPECT_EQ(OsCfgIsEnvUnset("QRX_TEST_N"), 0);
  EXPECT_EQ(OsCfgIsEnvUnset(nullptr), 1);
  EXPECT_EQ(Lines("a_szEnvName is null...").size(), 3u);
}

TEST_F(Env, SetAndRemove) {
  SetEnv(L"QRX_TEST_S", nullptr);
  EXPECT_EQ(OsCfgSetEnv("QRX_TEST_S", "one"), OS_STS_SUCCESS);
  EXPECT_EQ(OsTestGetEnv(L"QRX_TEST_S").value_or(L"?"), L"one");
  EXPECT_EQ(OsCfgSetEnv("QRX_TEST_S", nullptr), OS_STS_SUCCESS);
  EXPECT_FALSE(OsTestGetEnv(L"QRX_TEST_S").has_value());
  EXPECT_EQ(OsCfgSetEnv("QRX_TEST_S", nullptr), OS_STS_SUCCESS);  // removing a missing one succeeds too
  EXPECT_EQ(OsCfgSetEnv(nullptr, "x"), OS_STS_BADARG);
  EXPECT_EQ(OsCfgSetEnvW(nullptr, "x"), OS_STS_BADARG);
  EXPECT_EQ(OsCfgSetEnv("", "x"), OS_STS_TOOSMALL);
  EXPECT_EQ(OsCfgSetEnvW("", "x"), OS_STS_TOOSMALL);
  EXPECT_EQ(Lines("SetEnv bad arg...").size(), 2u);
  EXPECT_EQ(Lines("SetEnv error...<> <x>").size(), 2u);
  // A name longer than 64 characters is refused by the 16-bit set.
  const std::string l_sLong(65, 'N');
  EXPECT_EQ(OsCfgSetEnvW(l_sLong.c_str(), "x"), OS_STS_TOOSMALL);
  const std::string l_s64(64, 'M');
  EXPECT_EQ(OsCfgSetEnvW(l_s64.c_str(), "x"), OS_STS_SUCCESS);
  EXPECT_EQ(OsCfgSetEnvW(l_s64.c_str(), nullptr), OS_STS_SUCCESS);
}

TEST_F(Env, SnapshotIsCompleteAndReadOnly) {
  SetEnv(L"QRX_TEST_SNAP", L"a=b\x20ac");
  const OsCfgEnvPair* const l_apair = OsCfgGetEnvSnapshot();
  ASSERT_NE(l_apair, nullptr);
  int l_iFound = 0;
  std::size_t l_sizetCount = 0;
  for (const OsCfgEnvPair* l_p = l_apair; l_p->m_szName != nullptr; ++l_p) {
    ++l_sizetCount;
    EXPECT_NE(l_p->m_szName[0], 0);  // "=C:"-style entries are left out
    ASSERT_NE(l_p->m_szValue, nullptr);
    if (std::strcmp(l_p->m_szName, "QRX_TEST_SNAP") == 0) {
      ++l_iFound;
      EXPECT_STREQ(l_p->m_szValue, "a=b\xe2\x82\xac");  // split at the first '='
    }
  }
  EXPECT_EQ(l_iFound, 1);
  std::size_t l_sizetBlock = 0;
  wchar_t* const l_wszBlock = GetEnvironmentStringsW();
  for (const wchar_t* l_wsz = l_wszBlock; *l_wsz != 0; l_wsz += wcslen(l_wsz) + 1)
    if (l_wsz[0] != L'=') ++l_sizetBlock;
  FreeEnvironmentStringsW(l_wszBlock);
  EXPECT_EQ(l_sizetCount, l_sizetBlock);
  MEMORY_BASIC_INFORMATION l_mbi;
  ASSERT_NE(VirtualQuery(l_apair[0].m_szName, &l_mbi, sizeof(l_mbi)), 0u);
  EXPECT_EQ(l_mbi.Protect, static_cast<DWORD>(PAGE_READONLY));
  ASSERT_NE(VirtualQuery(l_apair, &l_mbi, sizeof(l_mbi)), 0u);
  EXPECT_EQ(l_mbi.Protect, static_cast<DWORD>(PAGE_READONLY));
  // Both blocks come from the memory manager: in its table, as virtual memory.
  OsMemSettings l_settings;
  for (const void* l_pv : {static_cast<const void*>(l_apair), static_cast<const void*>(l_apair[0].m_szName)}) {
    ASSERT_EQ(OsMemFindByAddress(l_pv, &l_settings, true), OS_STS_SUCCESS);
    EXPECT_EQ(l_settings.m_u32Type, static_cast<std::uint32_t>(OS_MEM_TYPE_VIRTUAL));
  }
  // A second snapshot replaces the first.
  SetEnv(L"QRX_TEST_SNAP", nullptr);
  const OsCfgEnvPair* const l_apair2 = OsCfgGetEnvSnapshot();
  ASSERT_NE(l_apair2, nullptr);
  for (const OsCfgEnvPair* l_p = l_apair2; l_p->m_szName != nullptr; ++l_p)
    EXPECT_STRNE(l_p->m_szName, "QRX_TEST_SNAP");
  if (l_apair2 != l_apair) {
    EXPECT_EQ(OsMemFindByAddress(l_apair, &l_settings, true), OS_STS_FAIL);  // the first snapshot went back
  }
}

// A value under HKCU written by the test and removed afterwards.
class Registry : public Env {
 protected:
  void SetUp() override {
    Env::SetUp();
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QrxOsTest\\Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &m_hkey, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (m_hkey != nullptr) RegCloseKey(m_hkey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QrxOsTest\\Sub");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QrxOsTest");
    Env::TearDown();
  }
  void SetText(const wchar_t* a_wszName, const wchar_t* a_wszValue) {
    RegSetValueExW(m_hkey, a_wszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(a_wszValue),
                   static_cast<DWORD>((wcslen(a_wszValue) + 1) * sizeof(wchar_t)));
  }
  HKEY m_hkey = nullptr;
};

TEST_F(Registry, ReadsTextDwordAndDefaultValues) {
  SetText(L"Name", L"caf\x00e9");
  SetText(nullptr, L"the default");
  const DWORD l_dw = 0x12345678;
  RegSetValueExW(m_hkey, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&l_dw), sizeof(l_dw));
  char l_sz[64];
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\QrxOsTest\\Sub\\Name", l_sz, sizeof(l_sz), false),
            OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "caf\xc3\xa9");
  // '/' is a separator unless the path is kept as given.
  std::memset(l_sz, 0, sizeof(l_sz));
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software/QrxOsTest/Sub/Name", l_sz, sizeof(l_sz), false),
            OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "caf\xc3\xa9");
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software/QrxOsTest/Sub/Name", l_sz, sizeof(l_sz), true),
            OS_STS_BADARG);
  DWORD l_dwRead = 0;
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\QrxOsTest\\Sub\\Number", &l_dwRead,
                              sizeof(l_dwRead), false),
            OS_STS_SUCCESS);
  EXPECT_EQ(l_dwRead, l_dw);
  // A trailing separator names the key's default value.
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\QrxOsTest\\Sub\\", l_sz, sizeof(l_sz), false),
            OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "the default");
  // Too small for the text: refused.
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\QrxOsTest\\Sub\\Name", l_sz, 5, false),
            OS_STS_BADARG);
}

TEST_F(Registry, FailuresAndTheirMessages) {
  char l_sz[16];
  EXPECT_EQ(OsCfgReadRegistry(static_cast<EOSCFGREGISTRY>(3), "Software\\x", l_sz, sizeof(l_sz), false), OS_STS_BADARG);
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, nullptr, l_sz, sizeof(l_sz), false), OS_STS_BADARG);
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\x", nullptr, sizeof(l_sz), false), OS_STS_BADARG);
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, std::string(300, 'k').c_str(), l_sz, sizeof(l_sz), false),
            OS_STS_BADARG);
  EXPECT_EQ(Lines("bad a_eoscfgregistry...3").size(), 1u);
  EXPECT_EQ(Lines("bad a_szKey...").size(), 2u);
  EXPECT_EQ(Lines("bad a_szBuffer...").size(), 1u);

  // Missing key and missing value are logged at class 4 only while enabled.
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\QrxOsTest\\None\\v", l_sz, sizeof(l_sz), false),
            OS_STS_BADARG);
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_CURRENTUSER, "Software\\QrxOsTest\\Sub\\none", l_sz, sizeof(l_sz), false),
            OS_STS_BADARG);
  const auto l_open = Lines("RegOpenKeyEx failed...2 <Software\\QrxOsTest\\None>");
  ASSERT_EQ(l_open.size(), 1u);
  EXPECT_EQ(l_open[0].m_cMark, '.');
  EXPECT_EQ(Lines("RegQueryValueEx failed...2 <Software\\QrxOsTest\\Sub> <none>").size(), 1u);
  // With logging off nothing is written for them.
  OsLogSetDebug(OsLogInstance(), 0);
  EXPECT_EQ(OsCfgReadRegistry(OS_CFG_REGISTRY_LOCALMACHINE, "Software\\QrxOsTestMissing\\v", l_sz, sizeof(l_sz), false),
            OS_STS_BADARG);
  EXPECT_EQ(Lines("QrxOsTestMissing").size(), 0u);
}

}  // namespace
