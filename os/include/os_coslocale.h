// Languages and text conversion: the table of the languages the suite knows,
// the selection of the current language, and conversions between the
// library's 8-bit text and the system's UTF-16.
//
// Destination sizes of every conversion are in characters of the
// destination, terminator included. The destination is cleared first and the
// conversion gets room for size - 1 characters, terminator included: a text
// of at most size - 2 characters fits, the last character of the destination
// always stays 0, and a text that does not fit fails. Each returns the
// characters written (terminator included) or 0 on failure, with an empty
// destination; failures are logged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_sts.h"

// A row of the language table (0 to 130).
enum EOSLANGUAGE : int {
  OS_LANGUAGE_NONE = 0,     // no language
  OS_LANGUAGE_AUTO = 1,     // the system's language
  OS_LANGUAGE_EN_USA = 39,  // the final fallback
  OS_LANGUAGE_LAST = 130,
  OS_LANGUAGE_COUNT = 131,
};

// The free conversions between UTF-8 (the library's own text) and UTF-16 (the
// system's) need no language state: they work before the text-conversion
// object exists, and every path handed to the system goes through them.

// UTF-16 of a_iSrcLength units (-1: up to and with its terminator) to UTF-8.
int CopyUtf8FromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, int a_iSrcLength);
// UTF-8 to UTF-16.
int CopyStringFromUtf8(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc);
// 8-bit text unchanged (bounded copy): the same interface for callers that
// treat every text alike. Returns the copied length with its terminator.
int CopyStringFromString(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);

// Registration flags.
constexpr std::uint32_t OS_LANGUAGE_NEEDCODEPAGE = 1;  // the row needs a valid code page
constexpr std::uint32_t OS_LANGUAGE_SUBLANGUAGES = 2;  // include the sublanguages of a neutral row
constexpr std::uint32_t OS_LANGUAGE_NEEDDOCNAME = 4;   // needs a documentation name; by name: match those

// The process-wide language state and the conversions that depend on the
// current language's code page. Not guarded by a lock: the services create
// it at start-up and programs select the language before they start threads.
class COsLocale {
 public:
  COsLocale();

  EOSSTS RegisterLanguage(EOSLANGUAGE a_eoslanguage, std::uint32_t a_u32Flags, bool a_bReset);
  // By key, or by documentation name with OS_LANGUAGE_NEEDDOCNAME (without case).
  EOSSTS RegisterLanguage(const char* a_szName, std::uint32_t a_u32Flags, bool a_bReset);
  // The next supported row after a_eoslanguage, or 0: start at 0 to enumerate.
  EOSLANGUAGE GetRegisteredLanguage(EOSLANGUAGE a_eoslanguage);
  // The row when it is registered, else (a_bAllowNeutral) its registered
  // neutral, else 0; *a_pszKey (when given) receives the row's key.
  EOSLANGUAGE CheckLanguageAndNeutral(EOSLANGUAGE a_eoslanguage, bool a_bAllowNeutral, const char** a_pszKey);
  EOSLANGUAGE CheckLanguageAndNeutral(const char* a_szKey, bool a_bAllowNeutral, const char** a_pszKey);
  // The row of a key (without case), or the current row for null; 0 when unknown.
  EOSLANGUAGE GetLanguageId(const char* a_szKey = nullptr);
  // The key of the current language or of its nearest supported neutral.
  const char* GetLanguageLexicon();
  const char* GetLanguageKey();
  bool GetLanguageRtl();
  // The row of the system's user-interface language, found once and cached.
  EOSLANGUAGE GetCurrentLanguage();
  EOSSTS SetLanguage(EOSLANGUAGE a_eoslanguage);
  EOSSTS SetLanguage(const char* a_szKey);
  EOSSTS SetLanguageFromTwain(std::uint16_t a_u16Twain);
  // The related languages of the current one at a_iPosition: mode 0 the row
  // and its neutral, 1 also the neutral's sublanguages, 2 also English.
  EOSLANGUAGE GetFallbackLanguage(int a_iPosition, int a_iMode);
  const char* GetFallbackDocumentationName(int a_iPosition, int a_iMode);
  const char* GetFallbackKey(int a_iPosition, int a_iMode);
  // The "<languageinfo>" fragment of a row; valid until the next call.
  const char* GetLanguageInfoXml(EOSLANGUAGE a_eoslanguage);

  // Conversions: sizes in characters of the destination, terminator included;
  // a text of at most size - 2 characters fits. The result is the number of
  // characters written with the terminator, or 0 (and an empty destination).
  int CopyUnicodeFromString(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc);
  int CopyStringFromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc);
  int CopyUtf8FromString(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
  int CopyStringFromUtf8String(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
  int CopyMultibyteFromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc);
  int CopyUnicodeFromMultibyte(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc);
  // The free conversions, for callers that hold the object.
  int CopyUtf8FromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, int a_iSrcLength) {
    return ::CopyUtf8FromUnicode(a_szDst, a_sizetDst, a_wszSrc, a_iSrcLength);
  }
  int CopyStringFromUtf8(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc) {
    return ::CopyStringFromUtf8(a_wszDst, a_sizetDst, a_szSrc);
  }
  int CopyStringFromString(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
    return ::CopyStringFromString(a_szDst, a_sizetDst, a_szSrc);
  }

  EOSLANGUAGE m_eoslanguage;        // the current language
  bool m_bLanguageSet;              // set by the first successful SetLanguage
  EOSLANGUAGE m_eoslanguageSystem;  // 0 until GetCurrentLanguage has run

 private:
  EOSSTS Select(EOSLANGUAGE a_eoslanguage);
  unsigned CodePage() const;
};

// Creates the process-wide text-conversion object (OsServicesStart does)
// and makes it the one OsLocaleInstance returns.
COsLocale* OsLocaleCreate();
// Destroys it; the process-wide pointer is cleared first.
void OsLocaleDestroy(COsLocale* a_poslocale);
// The process-wide text-conversion object, or null outside start-up.
COsLocale* OsLocaleInstance();

// 1 metric, 2 U.S.
int GetMeasurementSystem();
