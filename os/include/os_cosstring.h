// Bounded strings: every copy, append, formatted print and number conversion
// of the library takes the destination and its size (in elements, terminator
// included) and never writes past it. Misuse (a null pointer, a zero size or
// count) and overflow are reported through the log and leave the destination
// in the state each function states; nothing throws or ends the process.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "os_sts.h"
#include "os_types.h"

// Copies a_szSrc. Overflow: the destination becomes empty (no truncated copy).
void SStrCpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
// Copies at most a_sizetCount characters and terminates. Overflow (the copy
// and its terminator do not fit): the destination becomes empty.
void SStrNcpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount);
// Appends a_szSrc. Overflow: the whole destination becomes empty.
void SStrCat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
// Appends at most a_sizetCount characters. Overflow: the whole destination becomes empty.
void SStrNcat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount);

// Formatted print; returns the characters written, or -1 with an empty
// destination. SStrPrintf clears the thread's last system error on success.
int SStrPrintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) OS_FORMAT_PRINTF(3, 4);
int SStrVprintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, va_list a_valist) OS_FORMAT_PRINTF(3, 0);
// Appends formatted text after the current text; returns the new total
// length, or -1 with the earlier text kept and nothing appended.
int SStrCatf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) OS_FORMAT_PRINTF(3, 4);

// Reads one line from standard input (at most size - 1 characters) and drops
// its last character (the newline of a complete line). Returns a_szDst, or
// null at the end of input (the destination then stays empty).
char* SStrGet(char* a_szDst, std::size_t a_sizetDst);
// Copies a_szSrc without leading and trailing white space. Overflow: the
// destination is left unchanged.
void SStrTrim(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
// Length of a string that must end within a_sizetMax bytes, or -1.
int SStrLen(const char* a_szStr, std::size_t a_sizetMax);
// First occurrence of a_szNeedle within the first a_sizetMax characters of
// a_szHaystack, or null. An empty needle is found only in an empty haystack.
const char* StrNstr(const char* a_szHaystack, const char* a_szNeedle, std::size_t a_sizetMax);
inline char* StrNstr(char* a_szHaystack, const char* a_szNeedle, std::size_t a_sizetMax) {
  return const_cast<char*>(StrNstr(static_cast<const char*>(a_szHaystack), a_szNeedle, a_sizetMax));
}
// Re-entrant tokenizer: a null a_szStr continues from *a_pszContext.
char* SStrTok(char* a_szStr, const char* a_szDelimiters, char** a_pszContext);
// Integer to text in radix 2 to 36 (lower-case digits; a '-' only in radix
// 10). Overflow: the destination becomes empty; a_szDst is still returned.
char* SStrFromNum(std::int32_t a_iValue, char* a_szDst, std::size_t a_sizetDst, int a_iRadix);
char* SStrFromNum64(std::int64_t a_llValue, char* a_szDst, std::size_t a_sizetDst, int a_iRadix);
// A pointer-sized value as lower-case hex digits with leading zeros: 8 on a
// 32-bit process, 16 on a 64-bit one. Returns the digits written, or 0.
int PtrToStr(char* a_szDst, std::size_t a_sizetDst, std::uintptr_t a_uValue);

// Wide (UTF-16) twins, sizes in 16-bit units.
void SWcsCpy(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc);
void SWcsNcpy(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, std::size_t a_sizetCount);
void SWcsCat(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc);
void SWcsNcat(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, std::size_t a_sizetCount);
// The format is the system runtime's wide format (%s is a wide string).
int SWcsPrintf(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszFormat, ...);
wchar_t* SWcsTok(wchar_t* a_wszStr, const wchar_t* a_wszDelimiters, wchar_t** a_pwszContext);

// Multibyte-named twins: the same contracts as the SStr function of the same
// role. SMbsPrintf leaves the thread's last system error alone.
void SMbsCpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
void SMbsNcpy(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount);
void SMbsCat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc);
void SMbsNcat(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc, std::size_t a_sizetCount);
char* SMbsFromNum(std::int32_t a_iValue, char* a_szDst, std::size_t a_sizetDst, int a_iRadix);
int SMbsPrintf(char* a_szDst, std::size_t a_sizetDst, const char* a_szFormat, ...) OS_FORMAT_PRINTF(3, 4);

// Hexadecimal parsing: an optional 0x/0X, then hex digits up to the first
// other character (StrNHex*: at most a_sizetMax digits after the prefix).
// Digits beyond the width shift the high bits out; no digits give 0.
std::uint32_t StrHexToU32(const char* a_szText);
std::int32_t StrHexToI32(const char* a_szText);
std::uint64_t StrHexToU64(const char* a_szText);
std::uint32_t StrNHexToU32(const char* a_szText, std::size_t a_sizetMax);
std::int32_t StrNHexToI32(const char* a_szText, std::size_t a_sizetMax);

// The first white-space character (or the terminator); null for null text.
const char* StrSkipToSpace(const char* a_szSrc);
// The first character that is not white space; null for null text.
const char* StrSkipSpace(const char* a_szSrc);
// 0 when a_szText matches a_szPattern ('*' any run, '?' one character,
// everything else itself, case-sensitive); non-zero otherwise.
int StrWildcardMatch(const char* a_szPattern, const char* a_szText);
// UTF-16 units of the conversion of a UTF-8 text, terminator not counted.
int StrUtf8WideLength(const char* a_szText);
// Formats a packed decimal version (major*1000000 + minor*10000 + patch*100
// + build) as "a.b", "a.b.c" or "a.b.c.d", leaving out zero trailing fields.
void SStrFromVersion(char* a_szDst, std::size_t a_sizetDst, const char* a_szText);
// SHA-256 of the data as 64 upper-case hex digits and a terminator: the
// destination needs 65 bytes (status 2 otherwise).
EOSSTS StrSha256Hex(char* a_szDst, std::size_t a_sizetDst, const void* a_pData, std::size_t a_sizetData);

// ---- password encryption ----
// RC4 under the MD5 hash of the password (CryptoAPI's enhanced provider). The
// ciphertext holds the text and its terminator, then padding: its length is
// the text's length plus one rounded up to a multiple of a_u32Block, one whole
// block more when it already was one. The password is never kept.
// On success *a_ppu8Out is a tracked block (OS_MEM_FREE) and *a_pu32Length
// its length; 1 for a null output, an empty text or password, a block size of
// 0, or a failed cryptographic step (one message each), with nothing handed
// out (*a_ppu8Out null).
EOSSTS StrEncrypt(std::uint8_t** a_ppu8Out, std::uint32_t* a_pu32Length, const char* a_szText, const char* a_szPassword,
                  std::uint32_t a_u32Block);
// The reverse: *a_ppu8Out receives a_u32Length decrypted bytes (the text and
// its terminator first), *a_pu32Length is a_u32Length rounded down to a
// multiple of a_u32Block. Nothing is authenticated: a wrong password gives 0
// and other bytes. Failures as for StrEncrypt.
EOSSTS StrDecrypt(std::uint8_t** a_ppu8Out, std::uint32_t* a_pu32Length, const std::uint8_t* a_pu8Data,
                  std::uint32_t a_u32Length, const char* a_szPassword, std::uint32_t a_u32Block);
