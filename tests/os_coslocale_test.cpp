// Languages: the table's invariants, registration, selection and its
// fallbacks, the system's language, and the code-page conversions.
#include <windows.h>

#include <set>
#include <string>

#include "os_coslocale.h"
#include "os_coslocale_impl.h"
#include "os_cosmem.h"
#include "os_test.h"

namespace {

class Locale : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    OsLocaleResetStates();
    m_posmem = OsMemCreate(OS_MEM_METHOD_MALLOC, true);
  }
  void TearDown() override {
    OsLocaleSetSystemLanguageSource(nullptr);
    OsLocaleResetStates();
    OsMemDestroy(m_posmem);
    OsTest::TearDown();
  }
  COsLocale m_locale;
  COsMem* m_posmem = nullptr;
};

std::uint16_t s_u16SystemLanguage = 0;
std::uint16_t TestSystemLanguage() { return s_u16SystemLanguage; }

TEST(LanguageTable, Invariants) {
  std::set<std::uint16_t> l_setTwain;
  for (int l_i = 0; l_i <= OS_LANGUAGE_LAST; ++l_i) {
    const OsLanguageLookup& l_row = s_oslanguagelookup[l_i];
    const int l_iNeutral = static_cast<int>(l_row.m_u32Neutral);
    ASSERT_LE(l_iNeutral, l_i) << l_i;
    // A sublanguage follows its neutral directly: every row between them
    // belongs to the same neutral.
    for (int l_j = l_iNeutral + 1; l_j < l_i; ++l_j)
      ASSERT_EQ(s_oslanguagelookup[l_j].m_u32Neutral, l_row.m_u32Neutral) << l_i;
    ASSERT_EQ(s_oslanguagelookup[l_iNeutral].m_u32Neutral, static_cast<std::uint32_t>(l_iNeutral))
        << "neutral of " << l_i;
    const std::string l_sKey = l_row.m_szKey;
    if (l_sKey.rfind("twain_", 0) == 0) {
      EXPECT_EQ(l_row.m_u32LanguageId, 0u) << l_sKey;
      EXPECT_STREQ(l_row.m_szDocumentation, "") << l_sKey;
      EXPECT_NE(l_iNeutral, l_i) << l_sKey;
    } else if (l_i >= 2) {
      EXPECT_NE(l_row.m_szDocumentation[0], 0) << l_sKey;
      // A sublanguage shares its neutral's primary identifier.
      EXPECT_EQ(l_row.m_u32LanguageId & 0x3FF, s_oslanguagelookup[l_iNeutral].m_u32LanguageId & 0x3FF) << l_sKey;
    }
    // A TWAIN code must select one row only.
    if ((l_row.m_u16Twain & OS_TWAIN_SHARED) == 0) {
      EXPECT_TRUE(l_setTwain.insert(l_row.m_u16Twain).second) << l_sKey;
    }
    const bool l_bRtlFamily = l_iNeutral == 4 || l_iNeutral == 71 || l_iNeutral == 86 || l_iNeutral == 128;
    EXPECT_EQ(l_row.m_u8Rtl != 0, l_bRtlFamily) << l_sKey;
  }
  EXPECT_EQ(s_oslanguagelookup[OS_LANGUAGE_COUNT].m_u32Neutral, 131u);
  EXPECT_STREQ(s_oslanguagelookup[OS_LANGUAGE_EN_USA].m_szKey, "en_usa");
  EXPECT_EQ(s_oslanguagelookup[OS_LANGUAGE_EN_USA].m_uCodePage, 1252u);
}

TEST_F(Locale, SelectionByKey) {
  EXPECT_EQ(m_locale.GetLanguageId(), OS_LANGUAGE_EN_USA);
  EXPECT_EQ(m_locale.SetLanguage("EN_GBR"), OS_STS_SUCCESS);
  EXPECT_EQ(m_locale.GetLanguageId(), 53);
  EXPECT_STREQ(m_locale.GetLanguageKey(), "en_gbr");
  EXPECT_EQ(m_locale.SetLanguage("xx_none"), OS_STS_FAIL);
  EXPECT_EQ(m_locale.GetLanguageId(), 53);  // unchanged
  EXPECT_EQ(m_locale.SetLanguage(static_cast<EOSLANGUAGE>(131)), OS_STS_BADARG);
  EXPECT_EQ(m_locale.GetLanguageId("He_Isr"), 71);
  EXPECT_EQ(m_locale.GetLanguageId("nope"), OS_LANGUAGE_NONE);
  m_locale.SetLanguage("he_isr");
  EXPECT_TRUE(m_locale.GetLanguageRtl());
}

TEST_F(Locale, RegistrationAndFallbackToTheNeutral) {
  ASSERT_EQ(m_locale.RegisterLanguage("fr_fra", OS_LANGUAGE_SUBLANGUAGES, true), OS_STS_SUCCESS);
  EXPECT_EQ(s_oslanguagelookup[63].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_INCLUDED));
  EXPECT_EQ(s_oslanguagelookup[39].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_UNSUPPORTED));
  m_locale.SetLanguage("fr_mco");
  EXPECT_EQ(m_locale.GetLanguageId(), 63);  // selected as itself
  m_locale.SetLanguage("de_che");
  EXPECT_EQ(m_locale.GetLanguageId(), OS_LANGUAGE_EN_USA);  // German is not supported, nor is English: English

  ASSERT_EQ(m_locale.RegisterLanguage("de_deu", 0, true), OS_STS_SUCCESS);
  m_locale.SetLanguage("de_che");
  EXPECT_EQ(m_locale.GetLanguageId(), 65);
  EXPECT_STREQ(m_locale.GetLanguageLexicon(), "de_deu");
  const char* l_szKey = nullptr;
  EXPECT_EQ(m_locale.CheckLanguageAndNeutral("de_che", true, &l_szKey), 65);
  EXPECT_STREQ(l_szKey, "de_deu");
  EXPECT_EQ(m_locale.CheckLanguageAndNeutral("de_che", false, nullptr), OS_LANGUAGE_NONE);
  EXPECT_EQ(m_locale.CheckLanguageAndNeutral("fr_fra", true, nullptr), OS_LANGUAGE_NONE);
  EXPECT_EQ(m_locale.RegisterLanguage("xx_none", 0, false), OS_STS_BADARG);
  EXPECT_EQ(m_locale.RegisterLanguage(static_cast<EOSLANGUAGE>(131), 0, false), OS_STS_BADARG);

  // Enumeration of what is supported: "auto" and German.
  EXPECT_EQ(m_locale.GetRegisteredLanguage(OS_LANGUAGE_NONE), OS_LANGUAGE_AUTO);
  EXPECT_EQ(m_locale.GetRegisteredLanguage(OS_LANGUAGE_AUTO), 65);
  EXPECT_EQ(m_locale.GetRegisteredLanguage(static_cast<EOSLANGUAGE>(65)), OS_LANGUAGE_NONE);
}

TEST_F(Locale, RegistrationFlags) {
  m_locale.RegisterLanguage("as_ind", OS_LANGUAGE_NEEDCODEPAGE, false);
  m_locale.RegisterLanguage("hi_ind", OS_LANGUAGE_NEEDCODEPAGE, false);
  EXPECT_EQ(s_oslanguagelookup[21].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_UNTOUCHED));
  EXPECT_EQ(s_oslanguagelookup[72].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_UNTOUCHED));

  // With flag 4 the by-name form matches documentation names, so a key is not found.
  EXPECT_EQ(m_locale.RegisterLanguage("ch_chn", OS_LANGUAGE_NEEDDOCNAME, true), OS_STS_BADARG);
  m_locale.RegisterLanguage(static_cast<EOSLANGUAGE>(26), OS_LANGUAGE_SUBLANGUAGES | OS_LANGUAGE_NEEDDOCNAME, true);
  EXPECT_EQ(s_oslanguagelookup[29].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_INCLUDED));
  EXPECT_EQ(s_oslanguagelookup[27].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_UNSUPPORTED));
  EXPECT_EQ(s_oslanguagelookup[28].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_UNSUPPORTED));
  EXPECT_EQ(s_oslanguagelookup[30].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_UNSUPPORTED));
  // By documentation name.
  EXPECT_EQ(m_locale.RegisterLanguage("chinese_traditional", OS_LANGUAGE_NEEDDOCNAME, false), OS_STS_SUCCESS);
  EXPECT_EQ(s_oslanguagelookup[30].m_u32State, static_cast<std::uint32_t>(OS_LANGUAGE_STATE_SUPPORTED));
}

TEST_F(Locale, SelectionFromTwain) {
  EXPECT_EQ(m_locale.SetLanguageFromTwain(13), OS_STS_SUCCESS);
  EXPECT_EQ(m_locale.GetLanguageId(), 54);
  EXPECT_EQ(m_locale.SetLanguageFromTwain(2), OS_STS_SUCCESS);
  EXPECT_EQ(m_locale.GetLanguageId(), OS_LANGUAGE_EN_USA);  // never a row marked 0x4002
  m_locale.RegisterLanguage("en_usa", 0, true);
  EXPECT_EQ(m_locale.SetLanguageFromTwain(13), OS_STS_SUCCESS);
  EXPECT_EQ(m_locale.GetLanguageId(), OS_LANGUAGE_EN_USA);  // row 54 is not supported now
  EXPECT_EQ(m_locale.SetLanguageFromTwain(0x4002), OS_STS_FAIL);
  EXPECT_EQ(m_locale.SetLanguageFromTwain(0x3FFF), OS_STS_FAIL);
}

TEST_F(Locale, TheSystemsLanguage) {
  OsLocaleSetSystemLanguageSource(TestSystemLanguage);
  const struct {
    std::uint16_t m_u16Id;
    int m_iRow;
  } l_aCase[] = {{0x0c07, 66},
                 {0x0407, 65},
                 {0x043f, 39},
                 {0x0409, 39},
                 {0x0809, 53},
                 {0x0804, 26},
                 // Locales without an identifier report primary 0: the default row.
                 {0x1000, 39},
                 {0x0c00, 39}};
  for (const auto& l_case : l_aCase) {
    COsLocale l_locale;
    s_u16SystemLanguage = l_case.m_u16Id;
    EXPECT_EQ(l_locale.GetCurrentLanguage(), l_case.m_iRow) << std::hex << l_case.m_u16Id;
    s_u16SystemLanguage = 0x0411;
    EXPECT_EQ(l_locale.GetCurrentLanguage(), l_case.m_iRow) << "cached";
  }
  COsLocale l_locale;
  s_u16SystemLanguage = 0x0c0c;
  EXPECT_EQ(l_locale.SetLanguage(OS_LANGUAGE_AUTO), OS_STS_SUCCESS);
  EXPECT_EQ(l_locale.GetLanguageId(), 61);
  COsLocale l_localeNoId;
  s_u16SystemLanguage = 0x1000;
  EXPECT_EQ(l_localeNoId.SetLanguage(OS_LANGUAGE_AUTO), OS_STS_SUCCESS);
  EXPECT_EQ(l_localeNoId.GetLanguageId(), 39);
}

TEST_F(Locale, FallbackChain) {
  m_locale.RegisterLanguage("de_deu", OS_LANGUAGE_SUBLANGUAGES, true);
  m_locale.RegisterLanguage("en_usa", 0, false);
  m_locale.SetLanguage("de_lie");
  EXPECT_EQ(m_locale.GetFallbackLanguage(0, 2), 67);
  EXPECT_EQ(m_locale.GetFallbackLanguage(1, 2), 65);
  EXPECT_EQ(m_locale.GetFallbackLanguage(2, 2), 66);  // the other sublanguages, skipping the current one
  EXPECT_EQ(m_locale.GetFallbackLanguage(3, 2), 68);
  EXPECT_EQ(m_locale.GetFallbackLanguage(4, 2), 69);
  EXPECT_EQ(m_locale.GetFallbackLanguage(5, 2), OS_LANGUAGE_EN_USA);
  EXPECT_EQ(m_locale.GetFallbackLanguage(6, 2), OS_LANGUAGE_NONE);
  EXPECT_EQ(m_locale.GetFallbackLanguage(5, 1), OS_LANGUAGE_NONE);
  EXPECT_EQ(m_locale.GetFallbackLanguage(2, 0), OS_LANGUAGE_NONE);
  EXPECT_STREQ(m_locale.GetFallbackKey(1, 0), "de_deu");
  EXPECT_STREQ(m_locale.GetFallbackDocumentationName(5, 2), "English");
  EXPECT_EQ(m_locale.GetFallbackKey(6, 2), nullptr);

  m_locale.SetLanguage("en_usa");  // a neutral: its sublanguages follow at once, no English again
  m_locale.RegisterLanguage("en_gbr", 0, false);
  EXPECT_EQ(m_locale.GetFallbackLanguage(1, 2), 53);
  EXPECT_EQ(m_locale.GetFallbackLanguage(2, 2), OS_LANGUAGE_NONE);
}

TEST_F(Locale, LanguageInformation) {
  EXPECT_EQ(std::string(m_locale.GetLanguageInfoXml(static_cast<EOSLANGUAGE>(71))),
            "\t\t<languageinfo>\n\t\t\t<language>he_isr</language>\n\t\t\t<languagefolder><![CDATA[Hebrew]]>"
            "</languagefolder>\n\t\t\t<languageiso>he-IL</languageiso>\n\t\t\t<languagertl>true</languagertl>\n"
            "\t\t</languageinfo>\n");
  EXPECT_NE(std::string(m_locale.GetLanguageInfoXml(OS_LANGUAGE_EN_USA)).find("<languagertl>false<"),
            std::string::npos);
  const int l_iMeasure = GetMeasurementSystem();
  EXPECT_TRUE(l_iMeasure == 1 || l_iMeasure == 2);
}

TEST_F(Locale, ConversionsOnEveryCodePage) {
  const struct {
    const char* m_szKey;
    const wchar_t* m_wsz;
  } l_aCase[] = {
      {"en_usa", L"caf\u00e9"},           {"ch_chn", L"\u4e2d\u6587"},
      {"ch_twn", L"\u7e41\u9ad4"},        {"ar_arb", L"\u0639\u0631\u0628\u064a"},
      {"pl_pol", L"\u0142\u00f3d\u017a"}, {"hi_ind", L"\u0939\u093f\u0928\u094d\u0926\u0940"}};  // no code page: UTF-8
  for (const auto& l_case : l_aCase) {
    ASSERT_EQ(m_locale.SetLanguage(l_case.m_szKey), OS_STS_SUCCESS);
    char l_sz[64];
    const int l_iNarrow = m_locale.CopyStringFromUnicode(l_sz, sizeof(l_sz), l_case.m_wsz);
    ASSERT_GT(l_iNarrow, 0) << l_case.m_szKey;
    wchar_t l_wsz[64];
    EXPECT_EQ(m_locale.CopyUnicodeFromString(l_wsz, 64, l_sz), static_cast<int>(wcslen(l_case.m_wsz)) + 1);
    EXPECT_STREQ(l_wsz, l_case.m_wsz) << l_case.m_szKey;
    char l_szUtf8[64];
    ASSERT_GT(m_locale.CopyUtf8FromString(l_szUtf8, sizeof(l_szUtf8), l_sz), 0);
    EXPECT_EQ(OsTestWide(l_szUtf8), std::wstring(l_case.m_wsz));
    char l_szBack[64];
    ASSERT_EQ(m_locale.CopyStringFromUtf8String(l_szBack, sizeof(l_szBack), l_szUtf8), l_iNarrow);
    EXPECT_STREQ(l_szBack, l_sz);
    // The room rule: the text and its terminator fit in size - 1.
    std::vector<wchar_t> l_wvec(wcslen(l_case.m_wsz) + 1, L'#');
    EXPECT_EQ(m_locale.CopyUnicodeFromMultibyte(l_wvec.data(), l_wvec.size(), l_sz), 0) << l_case.m_szKey;
    EXPECT_EQ(l_wvec[0], 0);
    EXPECT_EQ(l_wvec.back(), 0);
    l_wvec.assign(wcslen(l_case.m_wsz) + 2, L'#');
    EXPECT_EQ(m_locale.CopyUnicodeFromMultibyte(l_wvec.data(), l_wvec.size(), l_sz),
              static_cast<int>(wcslen(l_case.m_wsz)) + 1);
    std::vector<char> l_vec(static_cast<std::size_t>(l_iNarrow), '#');  // one short of the room rule
    EXPECT_EQ(m_locale.CopyMultibyteFromUnicode(l_vec.data(), l_vec.size(), l_case.m_wsz), 0);
    EXPECT_EQ(l_vec.back(), 0);
  }
  wchar_t l_wsz[8] = L"x";
  EXPECT_EQ(m_locale.CopyUnicodeFromString(l_wsz, 8, ""), 0);  // empty input: empty result
  EXPECT_EQ(l_wsz[0], 0);
  EXPECT_EQ(m_locale.CopyUnicodeFromMultibyte(l_wsz, 8, ""), 1);  // converted normally
}

}  // namespace
