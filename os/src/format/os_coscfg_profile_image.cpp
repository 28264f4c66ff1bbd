// The line image of a profile: made from the bytes read, looked up, changed
// in place within its capacity, and turned back into the write-back's text.
#include "os_coscfg_profile_image.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t OS_CFG_PROFILE_NONE = static_cast<std::size_t>(-1);

inline char LowerAscii(char a_c) { return (a_c >= 'A' && a_c <= 'Z') ? static_cast<char>(a_c - 'A' + 'a') : a_c; }

// The first a_sizet bytes of both texts are equal without case; a text that
// ends before them differs (the other holds no terminator there).
bool EqualNoCase(const char* a_sz1, const char* a_sz2, std::size_t a_sizet) {
  for (std::size_t l_sizet = 0; l_sizet < a_sizet; ++l_sizet) {
    if (LowerAscii(a_sz1[l_sizet]) != LowerAscii(a_sz2[l_sizet])) return false;
    if (a_sz1[l_sizet] == 0) return true;
  }
  return true;
}

inline std::size_t NextLine(const char* a_acImage, std::size_t a_sizet) {
  return a_sizet + std::strlen(a_acImage + a_sizet) + 1;
}

bool IsHeader(const char* a_szLine) {
  const std::size_t l_sizet = std::strlen(a_szLine);
  return l_sizet >= 2 && a_szLine[0] == '[' && a_szLine[l_sizet - 1] == ']';
}

// A key line of the write-back and of the insertion point: no comment, an '='.
bool IsKeyLine(const char* a_szLine) { return a_szLine[0] != ';' && std::strchr(a_szLine, '=') != nullptr; }

// The whole line is '[', the name and ']' (without case).
bool IsHeaderOf(const char* a_szLine, const char* a_szSection) {
  const std::size_t l_sizetSection = std::strlen(a_szSection);
  return std::strlen(a_szLine) == l_sizetSection + 2 && a_szLine[0] == '[' && a_szLine[l_sizetSection + 1] == ']' &&
         EqualNoCase(a_szLine + 1, a_szSection, l_sizetSection);
}

// The line begins with the key and '=' (without case); an empty key never matches.
bool IsLineOfKey(const char* a_szLine, const char* a_szKey, std::size_t a_sizetKey) {
  return a_sizetKey != 0 && EqualNoCase(a_szLine, a_szKey, a_sizetKey) && a_szLine[a_sizetKey] == '=';
}

struct OsCfgProfileSection {
  std::size_t m_sizetHeader;  // the header line
  std::size_t m_sizetBody;    // the first line after it
  std::size_t m_sizetEnd;     // the next header, or the end mark
  bool m_bLast;               // no header follows
};

// The first header of the name: only that one counts.
bool FindSection(const char* a_acImage, const char* a_szSection, OsCfgProfileSection* a_psection) {
  std::size_t l_sizet = 0;
  while (a_acImage[l_sizet] != 0 && !IsHeaderOf(a_acImage + l_sizet, a_szSection))
    l_sizet = NextLine(a_acImage, l_sizet);
  if (a_acImage[l_sizet] == 0) return false;
  a_psection->m_sizetHeader = l_sizet;
  l_sizet = NextLine(a_acImage, l_sizet);
  a_psection->m_sizetBody = l_sizet;
  while (a_acImage[l_sizet] != 0 && !IsHeader(a_acImage + l_sizet)) l_sizet = NextLine(a_acImage, l_sizet);
  a_psection->m_sizetEnd = l_sizet;
  a_psection->m_bLast = a_acImage[l_sizet] == 0;
  return true;
}

// The first line of the section that begins with the key and '='.
std::size_t FindKey(const char* a_acImage, const OsCfgProfileSection& a_section, const char* a_szKey) {
  const std::size_t l_sizetKey = std::strlen(a_szKey);
  for (std::size_t l_sizet = a_section.m_sizetBody; l_sizet < a_section.m_sizetEnd;
       l_sizet = NextLine(a_acImage, l_sizet))
    if (IsLineOfKey(a_acImage + l_sizet, a_szKey, l_sizetKey)) return l_sizet;
  return OS_CFG_PROFILE_NONE;
}

// Replaces a_sizetOld bytes at a_sizetAt by a gap of a_sizetNew bytes, moving
// the rest of the image and its end mark; the caller fills the gap. Bytes
// freed behind the end mark are zeroed. Null (the image unchanged) when the
// image would grow beyond its capacity.
char* OpenGap(char* a_acImage, std::size_t a_sizetCapacity, std::size_t a_sizetAt, std::size_t a_sizetOld,
              std::size_t a_sizetNew) {
  const std::size_t l_sizetLength = OsCfgProfileImageLength(a_acImage);
  const std::size_t l_sizetNewLength = l_sizetLength - a_sizetOld + a_sizetNew;
  if (a_sizetNew > a_sizetOld && l_sizetNewLength > a_sizetCapacity) return nullptr;
  std::memmove(a_acImage + a_sizetAt + a_sizetNew, a_acImage + a_sizetAt + a_sizetOld,
               l_sizetLength + 1 - a_sizetAt - a_sizetOld);
  if (l_sizetNewLength < l_sizetLength)
    std::memset(a_acImage + l_sizetNewLength + 1, 0, l_sizetLength - l_sizetNewLength);
  return a_acImage + a_sizetAt;
}

// Copies a_szText without its terminator; returns the byte after it.
char* Put(char* a_pc, const char* a_szText, std::size_t a_sizetText) {
  std::memcpy(a_pc, a_szText, a_sizetText);
  return a_pc + a_sizetText;
}

// The text sink of OsCfgProfileImageText: keeps what fits, counts it all.
struct OsCfgProfileTextSink {
  char* m_pcText;
  std::size_t m_sizetText;
  std::size_t m_sizetWritten;
};

bool TextSink(void* a_pvContext, const char* a_pc, std::size_t a_sizet) {
  OsCfgProfileTextSink* const l_psink = static_cast<OsCfgProfileTextSink*>(a_pvContext);
  if (l_psink->m_sizetWritten < l_psink->m_sizetText) {
    const std::size_t l_sizetRoom = l_psink->m_sizetText - l_psink->m_sizetWritten;
    std::memcpy(l_psink->m_pcText + l_psink->m_sizetWritten, a_pc, a_sizet < l_sizetRoom ? a_sizet : l_sizetRoom);
  }
  l_psink->m_sizetWritten += a_sizet;
  return true;
}

}  // namespace

void OsCfgProfileImageMake(char* a_acImage, std::size_t a_sizetCapacity, const char* a_pcBytes,
                           std::size_t a_sizetBytes) {
  if (a_pcBytes == nullptr) a_sizetBytes = 0;
  if (a_sizetBytes > a_sizetCapacity) a_sizetBytes = a_sizetCapacity;
  std::size_t l_sizetIn = 0;
  if (a_sizetBytes >= 3 && static_cast<unsigned char>(a_pcBytes[0]) == 0xEF &&
      static_cast<unsigned char>(a_pcBytes[1]) == 0xBB && static_cast<unsigned char>(a_pcBytes[2]) == 0xBF)
    l_sizetIn = 3;
  // In place, each byte is read before its offset (or a lower one) is written.
  std::size_t l_sizetOut = 0;
  for (; l_sizetIn < a_sizetBytes; ++l_sizetIn) {
    const char l_c = a_pcBytes[l_sizetIn];
    if (l_c == '\r' || l_c == 0) continue;
    if (l_c == '\n') {
      if (l_sizetOut != 0 && a_acImage[l_sizetOut - 1] != 0) a_acImage[l_sizetOut++] = 0;
      continue;
    }
    a_acImage[l_sizetOut++] = l_c;
  }
  if (l_sizetOut != 0 && a_acImage[l_sizetOut - 1] != 0) a_acImage[l_sizetOut++] = 0;
  std::memset(a_acImage + l_sizetOut, 0, OsCfgProfileImageBufferSize(a_sizetCapacity) - l_sizetOut);
}

std::size_t OsCfgProfileImageLength(const char* a_acImage) {
  std::size_t l_sizet = 0;
  while (a_acImage[l_sizet] != 0) l_sizet = NextLine(a_acImage, l_sizet);
  return l_sizet;
}

bool OsCfgProfileImageHasSection(const char* a_acImage, const char* a_szSection) {
  OsCfgProfileSection l_section;
  return FindSection(a_acImage, a_szSection, &l_section);
}

const char* OsCfgProfileImageLookUp(const char* a_acImage, const char* a_szSection, const char* a_szKey) {
  OsCfgProfileSection l_section;
  if (!FindSection(a_acImage, a_szSection, &l_section)) return nullptr;
  if (a_szKey[0] == '@') {
    // "@n": the n-th line after the header, counted from 0.
    if (a_szKey[1] == '-' || a_szKey[1] == '+') return nullptr;
    const unsigned long l_ulIndex = std::strtoul(a_szKey + 1, nullptr, 10);
    std::size_t l_sizet = l_section.m_sizetBody;
    for (unsigned long l_ul = 0; l_ul < l_ulIndex && l_sizet < l_section.m_sizetEnd; ++l_ul)
      l_sizet = NextLine(a_acImage, l_sizet);
    if (l_sizet >= l_section.m_sizetEnd) return nullptr;
    const char* const l_pcEquals = std::strchr(a_acImage + l_sizet, '=');
    return l_pcEquals != nullptr ? l_pcEquals + 1 : nullptr;
  }
  const std::size_t l_sizetLine = FindKey(a_acImage, l_section, a_szKey);
  if (l_sizetLine == OS_CFG_PROFILE_NONE) return nullptr;
  return a_acImage + l_sizetLine + std::strlen(a_szKey) + 1;
}

EOSSTS OsCfgProfileImageSet(char* a_acImage, std::size_t a_sizetCapacity, const char* a_szSection, const char* a_szKey,
                            const char* a_szValue) {
  const std::size_t l_sizetKey = std::strlen(a_szKey);
  const std::size_t l_sizetValue = std::strlen(a_szValue);
  const std::size_t l_sizetKeyLine = l_sizetKey + 1 + l_sizetValue + 1;
  char* l_pc = nullptr;
  OsCfgProfileSection l_section;
  if (FindSection(a_acImage, a_szSection, &l_section)) {
    const std::size_t l_sizetLine = FindKey(a_acImage, l_section, a_szKey);
    if (l_sizetLine != OS_CFG_PROFILE_NONE) {
      // The key keeps its spelling; only the value is replaced.
      const std::size_t l_sizetAt = l_sizetLine + l_sizetKey + 1;
      l_pc = OpenGap(a_acImage, a_sizetCapacity, l_sizetAt, std::strlen(a_acImage + l_sizetAt), l_sizetValue);
      if (l_pc == nullptr) return OS_STS_FAIL;
      Put(l_pc, a_szValue, l_sizetValue);
      return OS_STS_SUCCESS;
    }
    // After the section's last key line (comments after it stay after the
    // new line), or after the header; the last section grows at the end.
    std::size_t l_sizetAt = l_section.m_sizetBody;
    for (std::size_t l_sizet = l_section.m_sizetBody; l_sizet < l_section.m_sizetEnd;) {
      const std::size_t l_sizetNext = NextLine(a_acImage, l_sizet);
      if (IsKeyLine(a_acImage + l_sizet)) l_sizetAt = l_sizetNext;
      l_sizet = l_sizetNext;
    }
    if (l_section.m_bLast) l_sizetAt = l_section.m_sizetEnd;
    l_pc = OpenGap(a_acImage, a_sizetCapacity, l_sizetAt, 0, l_sizetKeyLine);
  } else {
    const std::size_t l_sizetSection = std::strlen(a_szSection);
    l_pc =
        OpenGap(a_acImage, a_sizetCapacity, OsCfgProfileImageLength(a_acImage), 0, l_sizetSection + 3 + l_sizetKeyLine);
    if (l_pc == nullptr) return OS_STS_FAIL;
    *l_pc++ = '[';
    l_pc = Put(l_pc, a_szSection, l_sizetSection);
    *l_pc++ = ']';
    *l_pc++ = 0;
  }
  if (l_pc == nullptr) return OS_STS_FAIL;
  l_pc = Put(l_pc, a_szKey, l_sizetKey);
  *l_pc++ = '=';
  l_pc = Put(l_pc, a_szValue, l_sizetValue);
  *l_pc = 0;
  return OS_STS_SUCCESS;
}

bool OsCfgProfileImageDelete(char* a_acImage, const char* a_szSection, const char* a_szKey) {
  OsCfgProfileSection l_section;
  if (!FindSection(a_acImage, a_szSection, &l_section)) return false;
  const std::size_t l_sizetLine = FindKey(a_acImage, l_section, a_szKey);
  if (l_sizetLine == OS_CFG_PROFILE_NONE) return false;
  // Shrinking never meets the capacity.
  OpenGap(a_acImage, 0, l_sizetLine, std::strlen(a_acImage + l_sizetLine) + 1, 0);
  return true;
}

EOSSTS OsCfgProfileImageSerialise(const char* a_acImage, OsCfgProfileImageSink a_pfnSink, void* a_pvContext) {
  // Headers written and whether key lines were written since the last empty line.
  int l_iHeaders = 0;
  bool l_bKeys = false;
  for (std::size_t l_sizet = 0; a_acImage[l_sizet] != 0;) {
    const char* const l_szLine = a_acImage + l_sizet;
    const std::size_t l_sizetLine = std::strlen(l_szLine);
    const bool l_bHeader = IsHeader(l_szLine);
    const bool l_bKey = IsKeyLine(l_szLine);
    if ((l_bHeader && l_iHeaders >= 1) || (!l_bKey && l_bKeys)) {
      if (!a_pfnSink(a_pvContext, "\r\n", 2)) return OS_STS_FAIL;
      l_iHeaders = 0;
      l_bKeys = false;
    }
    if (l_bHeader) ++l_iHeaders;
    if (l_bKey) l_bKeys = true;
    if (!a_pfnSink(a_pvContext, l_szLine, l_sizetLine) || !a_pfnSink(a_pvContext, "\r\n", 2)) return OS_STS_FAIL;
    l_sizet += l_sizetLine + 1;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsCfgProfileImageText(const char* a_acImage, char* a_pcText, std::size_t a_sizetText,
                             std::size_t* a_psizetLength) {
  OsCfgProfileTextSink l_sink = {a_pcText, a_pcText != nullptr ? a_sizetText : 0, 0};
  OsCfgProfileImageSerialise(a_acImage, TextSink, &l_sink);
  if (a_psizetLength != nullptr) *a_psizetLength = l_sink.m_sizetWritten;
  return l_sink.m_sizetWritten <= l_sink.m_sizetText ? OS_STS_SUCCESS : OS_STS_TOOSMALL;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
