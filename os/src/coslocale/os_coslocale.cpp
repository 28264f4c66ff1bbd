// Language selection: registration, the current language and its fallbacks,
// the system's language, the language information fragment.
#include <cstdlib>
#include <cstring>

#include "os_coscfg.h"
#include "os_coslocale_impl.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_sysinfo.h"
#include "os_win.h"

namespace {

COsLocale* s_poslocale = nullptr;

constexpr std::size_t OS_LANGUAGEINFO_SIZE = 512;
constexpr int OS_CFGTAG_FORCEMEASUREMENT = 150;

bool IsRow(int a_i) { return a_i >= 0 && a_i <= OS_LANGUAGE_LAST; }
OsLanguageLookup& Row(int a_i) { return s_oslanguagelookup[a_i]; }
bool IsNeutral(int a_i) { return static_cast<int>(Row(a_i).m_u32Neutral) == a_i; }

// Vista and later report the user-interface language; earlier systems the
// user's default language.
std::uint16_t SystemLanguage() {
  return OsSysOsCode() >= OS_CFG_OS_WINVISTA ? static_cast<std::uint16_t>(GetUserDefaultUILanguage())
                                             : static_cast<std::uint16_t>(GetUserDefaultLangID());
}

OsLocaleSystemLanguageFn s_pfnSystemLanguage = SystemLanguage;

// The row itself while it is usable; a row that is not supported gives its
// neutral (resolved the same way); 0 when nothing is usable.
EOSLANGUAGE Resolve(int a_i) {
  for (;;) {
    switch (Row(a_i).m_u32State) {
      case OS_LANGUAGE_STATE_UNTOUCHED:
      case OS_LANGUAGE_STATE_INCLUDED:
      case OS_LANGUAGE_STATE_SUPPORTED: return static_cast<EOSLANGUAGE>(a_i);
      case OS_LANGUAGE_STATE_UNSUPPORTED:
        if (IsNeutral(a_i)) return OS_LANGUAGE_NONE;
        a_i = static_cast<int>(Row(a_i).m_u32Neutral);
        break;
      default: OS_LOGA("SetLanguage invalid language state..."); return OS_LANGUAGE_NONE;
    }
  }
}

// The first row from a_iFirst whose key (or documentation name) equals
// a_szName without case; -1 when none.
int FindRow(const char* a_szName, int a_iFirst, bool a_bDocumentation) {
  if (a_szName == nullptr) return -1;
  for (int l_i = a_iFirst; l_i <= OS_LANGUAGE_LAST; ++l_i) {
    const char* const l_sz = a_bDocumentation ? Row(l_i).m_szDocumentation : Row(l_i).m_szKey;
    if (_stricmp(l_sz, a_szName) == 0) return l_i;
  }
  return -1;
}

}  // namespace

void OsLocaleSetSystemLanguageSource(OsLocaleSystemLanguageFn a_pfn) {
  s_pfnSystemLanguage = a_pfn != nullptr ? a_pfn : SystemLanguage;
}

COsLocale* OsLocaleInstance() { return s_poslocale; }

COsLocale* OsLocaleCreate() {
  COsLocale* const l_poslocale = OsMemNew(COsLocale, "COsLocale");
  if (l_poslocale != nullptr) s_poslocale = l_poslocale;
  return l_poslocale;
}

void OsLocaleDestroy(COsLocale* a_poslocale) {
  if (a_poslocale == s_poslocale) s_poslocale = nullptr;
  OsMemDelete(a_poslocale);
}

COsLocale::COsLocale()
    : m_eoslanguage(OS_LANGUAGE_EN_USA), m_bLanguageSet(false), m_eoslanguageSystem(OS_LANGUAGE_NONE) {}

EOSSTS COsLocale::RegisterLanguage(EOSLANGUAGE a_eoslanguage, std::uint32_t a_u32Flags, bool a_bReset) {
  OS_RETURN_IF(!IsRow(a_eoslanguage), OS_LOG_ERROR, "RegisterLanguage bad arg (%d)...", OS_STS_BADARG,
               static_cast<int>(a_eoslanguage));
  OS_LOGI("RegisterLanguage: %d %d", static_cast<int>(a_eoslanguage), a_bReset ? 1 : 0);
  if (a_bReset) {
    OS_LOGI("RegisterLanguage: initialize all languages to not supported");
    for (int l_i = 0; l_i <= OS_LANGUAGE_LAST; ++l_i) Row(l_i).m_u32State = OS_LANGUAGE_STATE_UNSUPPORTED;
    Row(OS_LANGUAGE_AUTO).m_u32State = OS_LANGUAGE_STATE_INCLUDED;
  }
  OsLanguageLookup& l_row = Row(a_eoslanguage);
  if ((a_u32Flags & OS_LANGUAGE_NEEDCODEPAGE) != 0 && l_row.m_uCodePage == OS_CODEPAGE_NONE) {
    OS_LOGI("RegisterLanguage: not a valid code page");
    return OS_STS_SUCCESS;
  }
  if ((a_u32Flags & OS_LANGUAGE_NEEDDOCNAME) != 0 && l_row.m_szDocumentation[0] == 0) {
    OS_LOGI("RegisterLanguage: documentation name is blank");
    return OS_STS_SUCCESS;
  }
  l_row.m_u32State = OS_LANGUAGE_STATE_SUPPORTED;
  if ((a_u32Flags & OS_LANGUAGE_SUBLANGUAGES) == 0) {
    OS_LOGI("RegisterLanguage: caller doesn't want sublangs");
  } else if (!IsNeutral(a_eoslanguage)) {
    OS_LOGI("RegisterLanguage: at sublangs, so we are done");
  } else {
    // Sublanguages follow their neutral row directly.
    for (int l_i = a_eoslanguage + 1;
         l_i <= OS_LANGUAGE_LAST && static_cast<int>(Row(l_i).m_u32Neutral) == a_eoslanguage; ++l_i) {
      OsLanguageLookup& l_sub = Row(l_i);
      if (l_sub.m_u32State == OS_LANGUAGE_STATE_SUPPORTED) continue;
      if ((a_u32Flags & OS_LANGUAGE_NEEDCODEPAGE) != 0 && l_sub.m_uCodePage == OS_CODEPAGE_NONE) {
        OS_LOGI("RegisterLanguage: sublang %d's code page is not valid", l_i);
      } else if ((a_u32Flags & OS_LANGUAGE_NEEDDOCNAME) != 0 && l_sub.m_szDocumentation[0] == 0) {
        OS_LOGI("RegisterLanguage: sublang %d's documentation name is blank", l_i);
      } else {
        OS_LOGI("RegisterLanguage: include sublang at %d (%s)", l_i, l_sub.m_szKey);
        l_sub.m_u32State = OS_LANGUAGE_STATE_INCLUDED;
      }
    }
  }
  return OS_STS_SUCCESS;
}

EOSSTS COsLocale::RegisterLanguage(const char* a_szName, std::uint32_t a_u32Flags, bool a_bReset) {
  const int l_i = FindRow(a_szName, 0, (a_u32Flags & OS_LANGUAGE_NEEDDOCNAME) != 0);
  if (l_i < 0 || a_szName[0] == 0) {
    OS_LOGI("RegisterLanguage not found (%s)...", a_szName != nullptr ? a_szName : "");
    return OS_STS_BADARG;
  }
  return RegisterLanguage(static_cast<EOSLANGUAGE>(l_i), a_u32Flags, a_bReset);
}

EOSLANGUAGE COsLocale::GetRegisteredLanguage(EOSLANGUAGE a_eoslanguage) {
  OS_RETURN_IF(!IsRow(a_eoslanguage), OS_LOG_ERROR, "GetRegisteredLanguage bad arg (%d)...", OS_LANGUAGE_NONE,
               static_cast<int>(a_eoslanguage));
  for (int l_i = a_eoslanguage + 1; l_i <= OS_LANGUAGE_LAST; ++l_i) {
    const std::uint32_t l_u32State = Row(l_i).m_u32State;
    if (l_u32State == OS_LANGUAGE_STATE_INCLUDED || l_u32State == OS_LANGUAGE_STATE_SUPPORTED) {
      OS_LOGI("GetRegisteredLanguage supported language %d", l_i);
      return static_cast<EOSLANGUAGE>(l_i);
    }
  }
  OS_LOGI("GetRegisteredLanguage no more supported languages (%d)...", static_cast<int>(a_eoslanguage));
  return OS_LANGUAGE_NONE;
}

EOSLANGUAGE COsLocale::CheckLanguageAndNeutral(EOSLANGUAGE a_eoslanguage, bool a_bAllowNeutral, const char** a_pszKey) {
  OS_RETURN_IF(!IsRow(a_eoslanguage), OS_LOG_ERROR, "CheckLanguageAndNeutral bad arg (%d)...", OS_LANGUAGE_NONE,
               static_cast<int>(a_eoslanguage));
  OS_LOGI("CheckLanguageAndNeutral: %d %d", static_cast<int>(a_eoslanguage), a_bAllowNeutral ? 1 : 0);
  const OsLanguageLookup& l_row = Row(a_eoslanguage);
  if (l_row.m_u32State == OS_LANGUAGE_STATE_SUPPORTED) {
    OS_LOGI("CheckLanguageAndNeutral: given language is supported");
    if (a_pszKey != nullptr) *a_pszKey = l_row.m_szKey;
    return a_eoslanguage;
  }
  if (!IsNeutral(a_eoslanguage)) {
    const int l_iNeutral = static_cast<int>(l_row.m_u32Neutral);
    if (a_bAllowNeutral && Row(l_iNeutral).m_u32State == OS_LANGUAGE_STATE_SUPPORTED) {
      OS_LOGI("CheckLanguageAndNeutral: neutral is supported (%d)", l_iNeutral);
      if (a_pszKey != nullptr) *a_pszKey = Row(l_iNeutral).m_szKey;
      return static_cast<EOSLANGUAGE>(l_iNeutral);
    }
    return OS_LANGUAGE_NONE;
  }
  OS_LOGI("CheckLanguageAndNeutral: at neutral and it is not supported");
  return OS_LANGUAGE_NONE;
}

EOSLANGUAGE COsLocale::CheckLanguageAndNeutral(const char* a_szKey, bool a_bAllowNeutral, const char** a_pszKey) {
  const int l_i = FindRow(a_szKey, 0, false);
  if (l_i < 0) {
    OS_LOGE("CheckLanguageAndNeutral not found (%s)...", a_szKey != nullptr ? a_szKey : "");
    return OS_LANGUAGE_NONE;
  }
  return CheckLanguageAndNeutral(static_cast<EOSLANGUAGE>(l_i), a_bAllowNeutral, a_pszKey);
}

EOSLANGUAGE COsLocale::GetLanguageId(const char* a_szKey) {
  if (a_szKey == nullptr) return m_eoslanguage;
  const int l_i = FindRow(a_szKey, 0, false);
  if (l_i < 0) {
    OS_LOGE("GetLanguageId: not found (%s)...", a_szKey);
    return OS_LANGUAGE_NONE;
  }
  return static_cast<EOSLANGUAGE>(l_i);
}

const char* COsLocale::GetLanguageLexicon() {
  int l_i = m_eoslanguage;
  for (;;) {
    const std::uint32_t l_u32State = Row(l_i).m_u32State;
    if (l_u32State == OS_LANGUAGE_STATE_UNTOUCHED || l_u32State == OS_LANGUAGE_STATE_SUPPORTED) return Row(l_i).m_szKey;
    if (IsNeutral(l_i)) break;
    l_i = static_cast<int>(Row(l_i).m_u32Neutral);
  }
  OS_LOGA("GetLanguageLexicon: language not supported %d", l_i);
  return Row(OS_LANGUAGE_EN_USA).m_szKey;
}

const char* COsLocale::GetLanguageKey() { return Row(m_eoslanguage).m_szKey; }

bool COsLocale::GetLanguageRtl() { return Row(m_eoslanguage).m_u8Rtl != 0; }

EOSLANGUAGE COsLocale::GetCurrentLanguage() {
  if (m_eoslanguageSystem != OS_LANGUAGE_NONE) {
    OS_LOGI("GetCurrentLanguage: already set to %d", static_cast<int>(m_eoslanguageSystem));
    return m_eoslanguageSystem;
  }
  const std::uint32_t l_u32Id = s_pfnSystemLanguage();
  OS_LOGI("GetUserDefaultUILanguage=0x%x", l_u32Id);
  EOSLANGUAGE l_eoslanguage = OS_LANGUAGE_NONE;
  OS_LOGI("Pass #1...primary and sublanguage, look for 0x%x", l_u32Id);
  for (int l_i = 1; l_i <= OS_LANGUAGE_LAST && l_eoslanguage == OS_LANGUAGE_NONE; ++l_i) {
    OS_LOGI("s_oslanguagelookup[%d]: lLanguageId=0x%x uiCodePage=%d", l_i, Row(l_i).m_u32LanguageId,
            static_cast<int>(Row(l_i).m_uCodePage));
    // Rows without an identifier of their own ("auto") answer to no language.
    if ((Row(l_i).m_u32LanguageId & 0x3FF) == 0) continue;
    if ((Row(l_i).m_u32LanguageId & 0xFFFF) == l_u32Id) l_eoslanguage = static_cast<EOSLANGUAGE>(l_i);
  }
  if (l_eoslanguage == OS_LANGUAGE_NONE) {
    // Neutral rows hold only the primary identifier (the low 10 bits).
    const std::uint32_t l_u32Primary = l_u32Id & 0x3FF;
    OS_LOGI("Pass #2...primary only, look for: 0x%x", l_u32Primary);
    for (int l_i = 1; l_i <= OS_LANGUAGE_LAST && l_eoslanguage == OS_LANGUAGE_NONE; ++l_i) {
      OS_LOGI("s_oslanguagelookup[%d]: lLanguageId=0x%x uiCodePage=%d", l_i, Row(l_i).m_u32LanguageId,
              static_cast<int>(Row(l_i).m_uCodePage));
      if ((Row(l_i).m_u32LanguageId & 0x3FF) == 0) continue;
      if ((Row(l_i).m_u32LanguageId & 0x3FF) == l_u32Primary) l_eoslanguage = static_cast<EOSLANGUAGE>(l_i);
    }
  }
  if (l_eoslanguage == OS_LANGUAGE_NONE) l_eoslanguage = OS_LANGUAGE_EN_USA;
  m_eoslanguageSystem = l_eoslanguage;
  return l_eoslanguage;
}

EOSSTS COsLocale::Select(EOSLANGUAGE a_eoslanguage) {
  if (m_bLanguageSet && a_eoslanguage == m_eoslanguage) {
    OS_LOGI("SetLanguage already %d", static_cast<int>(a_eoslanguage));
    return OS_STS_SUCCESS;
  }
  if (a_eoslanguage == OS_LANGUAGE_NONE || a_eoslanguage == OS_LANGUAGE_AUTO) a_eoslanguage = GetCurrentLanguage();
  OS_RETURN_IF(a_eoslanguage < 2 || a_eoslanguage > OS_LANGUAGE_LAST, OS_LOG_ERROR, "SetLanguage bad arg...",
               OS_STS_BADARG);
  EOSLANGUAGE l_eoslanguage = Resolve(a_eoslanguage);
  if (l_eoslanguage == OS_LANGUAGE_NONE) {
    OS_LOGI("SetLanguage: not supported, so use English");
    l_eoslanguage = OS_LANGUAGE_EN_USA;
  }
  m_eoslanguage = l_eoslanguage;
  m_bLanguageSet = true;
  return OS_STS_SUCCESS;
}

EOSSTS COsLocale::SetLanguage(EOSLANGUAGE a_eoslanguage) {
  OS_RETURN_IF(!IsRow(a_eoslanguage), OS_LOG_ERROR, "SetLanguage bad arg...", OS_STS_BADARG);
  return Select(a_eoslanguage);
}

EOSSTS COsLocale::SetLanguage(const char* a_szKey) {
  OS_LOGI("SetLanguage(%s)", a_szKey != nullptr ? a_szKey : "");
  const int l_i = FindRow(a_szKey, 1, false);
  if (l_i < 0) {
    OS_LOGE("SetLanguage could not find language %s", a_szKey != nullptr ? a_szKey : "");
    return OS_STS_FAIL;
  }
  OS_LOGI("eoslanguage = %d", l_i);
  return Select(static_cast<EOSLANGUAGE>(l_i));
}

EOSSTS COsLocale::SetLanguageFromTwain(std::uint16_t a_u16Twain) {
  OS_LOGI("SetLanguageFromTwain(%d)", static_cast<int>(a_u16Twain));
  for (int l_i = 1; l_i <= OS_LANGUAGE_LAST; ++l_i) {
    const std::uint16_t l_u16 = Row(l_i).m_u16Twain;
    // Rows that share another row's code never answer to one.
    if ((l_u16 & OS_TWAIN_SHARED) != 0 || l_u16 != a_u16Twain) continue;
    OS_LOGI("eoslanguage = %d", l_i);
    return Select(static_cast<EOSLANGUAGE>(l_i));
  }
  OS_LOGE("SetLanguageFromTwain could not find TWAIN language %d", static_cast<int>(a_u16Twain));
  return OS_STS_FAIL;
}

EOSLANGUAGE COsLocale::GetFallbackLanguage(int a_iPosition, int a_iMode) {
  const int l_iCurrent = m_eoslanguage;
  if (a_iPosition == 0) return static_cast<EOSLANGUAGE>(l_iCurrent);
  if (a_iPosition < 0) return OS_LANGUAGE_NONE;
  int l_iBase = l_iCurrent;
  int l_iNext = 1;
  if (!IsNeutral(l_iCurrent)) {
    l_iBase = static_cast<int>(Row(l_iCurrent).m_u32Neutral);
    const EOSLANGUAGE l_eoslanguageNeutral = Resolve(l_iBase);
    if (l_eoslanguageNeutral == OS_LANGUAGE_NONE) return OS_LANGUAGE_NONE;
    if (a_iPosition == 1) return l_eoslanguageNeutral;
    l_iNext = 2;
  }
  if (a_iMode == 0) return OS_LANGUAGE_NONE;
  for (int l_i = l_iBase + 1; l_i <= OS_LANGUAGE_LAST && static_cast<int>(Row(l_i).m_u32Neutral) == l_iBase; ++l_i) {
    if (l_i == l_iCurrent) continue;
    const std::uint32_t l_u32State = Row(l_i).m_u32State;
    if (l_u32State == OS_LANGUAGE_STATE_UNSUPPORTED) continue;
    if (l_u32State > OS_LANGUAGE_STATE_UNSUPPORTED) {
      OS_LOGA("SetLanguage invalid language state...");
      continue;
    }
    if (l_iNext++ == a_iPosition) return static_cast<EOSLANGUAGE>(l_i);
  }
  if (a_iMode == 2 && l_iBase != OS_LANGUAGE_EN_USA && l_iNext == a_iPosition) return OS_LANGUAGE_EN_USA;
  return OS_LANGUAGE_NONE;
}

const char* COsLocale::GetFallbackDocumentationName(int a_iPosition, int a_iMode) {
  const EOSLANGUAGE l_eoslanguage = GetFallbackLanguage(a_iPosition, a_iMode);
  return l_eoslanguage != OS_LANGUAGE_NONE ? Row(l_eoslanguage).m_szDocumentation : nullptr;
}

const char* COsLocale::GetFallbackKey(int a_iPosition, int a_iMode) {
  const EOSLANGUAGE l_eoslanguage = GetFallbackLanguage(a_iPosition, a_iMode);
  return l_eoslanguage != OS_LANGUAGE_NONE ? Row(l_eoslanguage).m_szKey : nullptr;
}

const char* COsLocale::GetLanguageInfoXml(EOSLANGUAGE a_eoslanguage) {
  static char s_szInfo[OS_LANGUAGEINFO_SIZE];
  static int s_iInfoRow = -1;
  OS_RETURN_IF(!IsRow(a_eoslanguage), OS_LOG_ERROR, "GetLanguageInfoXml bad arg (%d)...", "",
               static_cast<int>(a_eoslanguage));
  if (s_iInfoRow != a_eoslanguage) {
    const OsLanguageLookup& l_row = Row(a_eoslanguage);
    SStrPrintf(
        s_szInfo, sizeof(s_szInfo),
        "\t\t<languageinfo>\n\t\t\t<language>%s</language>\n\t\t\t<languagefolder><![CDATA[%s]]></languagefolder>"
        "\n\t\t\t<languageiso>%s</languageiso>\n\t\t\t<languagertl>%s</languagertl>\n\t\t</languageinfo>\n",
        l_row.m_szKey, l_row.m_szDocumentation, l_row.m_szIso, l_row.m_u8Rtl != 0 ? "true" : "false");
    s_iInfoRow = a_eoslanguage;
  }
  return s_szInfo;
}

int GetMeasurementSystem() {
  COsCfg* const l_poscfg = OsCfgInstance();
  const char* const l_szForce =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCEMEASUREMENT) : nullptr;
  if (l_szForce != nullptr && l_szForce[0] != 0) {
    const long l_l = std::strtol(l_szForce, nullptr, 0);
    if (l_l == 1 || l_l == 2) return static_cast<int>(l_l);
  }
  wchar_t l_wsz[4] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE, l_wsz, 4);
  if (l_wsz[0] == L'0') return 1;
  if (l_wsz[0] == L'1') return 2;
  OS_LOGE("GetLocaleInfo failed...%d", static_cast<int>(l_wsz[0]));
  return 2;
}
