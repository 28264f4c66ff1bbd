// The language table, private to the module (and its tests).
#pragma once

#include <cstdint>

#include "os_coslocale.h"

enum EOSLANGUAGESTATE : std::uint32_t {
  OS_LANGUAGE_STATE_UNTOUCHED = 0,  // before any registration; counts as usable
  OS_LANGUAGE_STATE_INCLUDED = 1,   // a sublanguage of a registered neutral
  OS_LANGUAGE_STATE_SUPPORTED = 2,  // registered
  OS_LANGUAGE_STATE_UNSUPPORTED = 3,
};

constexpr unsigned OS_CODEPAGE_NONE = 9999;
constexpr std::uint16_t OS_TWAIN_SHARED = 0x4000;  // no TWAIN code of its own

struct OsLanguageLookup {
  std::uint32_t m_u32Neutral;  // the row of the neutral language; a neutral names itself
  std::uint32_t m_u32State;    // EOSLANGUAGESTATE
  const char* m_szKey;
  std::uint32_t m_u32LanguageId;  // full id of a sublanguage, primary id of a neutral
  unsigned m_uCodePage;
  const char* m_szDocumentation;  // also the language's folder name
  const char* m_szIso;
  std::uint16_t m_u16Twain;
  std::uint8_t m_u8Rtl;
};

// 131 rows and a terminator whose neutral field is 131.
extern OsLanguageLookup s_oslanguagelookup[OS_LANGUAGE_COUNT + 1];

// Where GetCurrentLanguage takes the system's language id from; tests supply
// their own. Null restores the system's.
typedef std::uint16_t (*OsLocaleSystemLanguageFn)();
void OsLocaleSetSystemLanguageSource(OsLocaleSystemLanguageFn a_pfn);
// Every row's state back to untouched (tests).
void OsLocaleResetStates();
