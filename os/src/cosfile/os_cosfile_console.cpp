// Console output with the ANSI colour codes turned into console attributes,
// and the prompt that reads one line.
#include <cstdio>
#include <cstring>

#include "os_cosfile_impl.h"
#include "os_cosstring.h"
#include "os_log.h"

namespace {

constexpr std::size_t OS_CONSOLE_TEXT_SIZE = 2048;
constexpr std::size_t OS_CONSOLE_PROMPT_SIZE = 64;

// The standard-output console and its attribute at the first print.
HANDLE s_hconsole = nullptr;
WORD s_wResetAttribute = 0;
bool s_bConsoleCaptured = false;

struct ColourCode {
  const char* m_szCode;  // as written after the escape character
  WORD m_wValue;
  int m_iKind;  // 0 foreground, 1 background, 2 intensity, 3 reset
};

constexpr ColourCode s_acolourcode[] = {{"[30m", 8, 0},    {"[31m", 4, 0},    {"[32m", 2, 0},    {"[33m", 6, 0},
                                        {"[34m", 1, 0},    {"[35m", 5, 0},    {"[36m", 3, 0},    {"[37m", 7, 0},
                                        {"[41m", 0x40, 1}, {"[42m", 0x20, 1}, {"[43m", 0x60, 1}, {"[44m", 0x10, 1},
                                        {"[45m", 0x50, 1}, {"[46m", 0x30, 1}, {"[1m", 0x08, 2},  {"[0m", 0, 3}};

}  // namespace

EOSSTS COsFile::ConsolePrint(const char* a_szText) {
  OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szText, OS_LOG_ASSERT, "a_szText is null...", OS_STS_FAIL);
  char l_szText[OS_CONSOLE_TEXT_SIZE];
  SStrNcpy(l_szText, sizeof(l_szText), a_szText, sizeof(l_szText) - 1);
  if (!s_bConsoleCaptured) {
    s_bConsoleCaptured = true;
    s_hconsole = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO l_csbi;
    if (GetConsoleScreenBufferInfo(s_hconsole, &l_csbi)) s_wResetAttribute = l_csbi.wAttributes;
    SetLastError(0);
  }
  // The text before the first escape character has no code; the pieces
  // after it may begin with one.
  const bool l_bLeadingCode = l_szText[0] == 0x1B;
  char* l_pszContext = nullptr;
  bool l_bFirst = true;
  for (char* l_psz = SStrTok(l_szText, "\x1b", &l_pszContext); l_psz != nullptr;
       l_psz = SStrTok(nullptr, "\x1b", &l_pszContext), l_bFirst = false) {
    const char* l_pszPrint = l_psz;
    if (!l_bFirst || l_bLeadingCode) {
      CONSOLE_SCREEN_BUFFER_INFO l_csbi;
      const WORD l_wCurrent = GetConsoleScreenBufferInfo(s_hconsole, &l_csbi) ? l_csbi.wAttributes : s_wResetAttribute;
      for (const ColourCode& l_code : s_acolourcode) {
        const std::size_t l_n = std::strlen(l_code.m_szCode);
        if (std::strncmp(l_psz, l_code.m_szCode, l_n) != 0) continue;
        WORD l_w = l_wCurrent;
        switch (l_code.m_iKind) {
          case 0: l_w = static_cast<WORD>((l_wCurrent & 0xF0) | l_code.m_wValue); break;
          case 1: l_w = static_cast<WORD>((l_wCurrent & 0x0F) | l_code.m_wValue); break;
          case 2: l_w = static_cast<WORD>(l_wCurrent | l_code.m_wValue); break;
          default: l_w = s_wResetAttribute; break;
        }
        if (m_posfileimpl->m_u8Plain == 0) SetConsoleTextAttribute(s_hconsole, l_w);
        l_pszPrint = l_psz + l_n;
        break;
      }
      SetLastError(0);
    }
    std::fprintf(stderr, "%s", l_pszPrint);
  }
  std::fflush(stderr);
  return OS_STS_SUCCESS;
}

char* COsFile::ConsolePrompt(const char* a_szColour, const char* a_szPrompt, char* a_szLine, std::size_t a_sizetLine) {
  OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", nullptr);
  OS_RETURN_IF(a_szLine == nullptr || a_sizetLine < 3, OS_LOG_ASSERT, "a_szLine is null...", nullptr);
  const char* const l_szPrompt = a_szPrompt != nullptr ? a_szPrompt : "";
  if (a_szColour != nullptr && a_szColour[0] != 0) {
    char l_sz[OS_CONSOLE_PROMPT_SIZE];
    SStrPrintf(l_sz, sizeof(l_sz), "%s%s\x1b[0m ", a_szColour, l_szPrompt);
    ConsolePrint(l_sz);
  } else {
    std::fprintf(stdout, "%s", l_szPrompt);
    std::fflush(stdout);
  }
  std::memset(a_szLine, 0, a_sizetLine);
  const int l_iRoom =
      a_sizetLine - 1 > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(a_sizetLine - 1);
  return std::fgets(a_szLine, l_iRoom, stdin);
}
