// Creation, re-configuration and destruction of the log: the log file path
// with its text forms, the filter tokens and the options of the level mask.
#include <cstdlib>
#include <cstring>
#include <new>

#include "os_coscfg.h"
#include "os_coslocale.h"
#include "os_coslog_impl.h"
#include "os_cosstring.h"
#include "os_cosstring_impl.h"
#include "os_log.h"

namespace {

using os_cosstring::AppendBounded;
using os_cosstring::CopyBounded;

// The log's own memory: the public object and the implementation block (most
// of it the thread slots), allocated once, zeroed, never resized. The
// tracked allocator takes this over in one place.
void* LogAlloc(std::size_t a_sizetBytes) {
  return VirtualAlloc(nullptr, a_sizetBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}
void LogFree(void* a_p) {
  if (a_p != nullptr) VirtualFree(a_p, 0, MEM_RELEASE);
}

bool IsSeparator(char a_c) { return a_c == '\\' || a_c == '/'; }

void ToLower(char* a_sz) {
  for (; *a_sz != 0; ++a_sz)
    if (*a_sz >= 'A' && *a_sz <= 'Z') *a_sz = static_cast<char>(*a_sz - 'A' + 'a');
}

// Backslashes only, runs of separators collapsed (a leading pair, a UNC
// prefix, stays).
void NormalizeSeparators(char* a_szPath) {
  char* l_pszOut = a_szPath;
  for (const char* l_psz = a_szPath; *l_psz != 0; ++l_psz) {
    if (IsSeparator(*l_psz)) {
      const bool l_bLeadingPair = l_psz == a_szPath && IsSeparator(l_psz[1]);
      if (l_pszOut > a_szPath && l_pszOut[-1] == '\\' && !(l_pszOut == a_szPath + 1 && l_bLeadingPair)) continue;
      *l_pszOut++ = '\\';
      if (l_bLeadingPair) {
        *l_pszOut++ = '\\';
        ++l_psz;
      }
    } else {
      *l_pszOut++ = *l_psz;
    }
  }
  *l_pszOut = 0;
}

// The lower-case name of the directory two levels above the running
// module's file: "b" for c:\a\b\c\mod.dll.
void ModuleGrandparentName(char* a_szName, std::size_t a_sizetName) {
  a_szName[0] = 0;
  wchar_t l_wszModule[OS_PATH_SIZE];
  const DWORD l_dw = GetModuleFileNameW(OsSysLibraryModule(), l_wszModule, OS_PATH_SIZE);
  if (l_dw == 0 || l_dw >= OS_PATH_SIZE) return;
  char l_szModule[OS_PATH_SIZE];
  if (CopyUtf8FromUnicode(l_szModule, sizeof(l_szModule), l_wszModule, -1) == 0) return;
  // Cut the file name and the directory that holds it; the next part is the name.
  for (int l_iCut = 0; l_iCut < 2; ++l_iCut) {
    char* l_pszLast = nullptr;
    for (char* l_psz = l_szModule; *l_psz != 0; ++l_psz)
      if (IsSeparator(*l_psz)) l_pszLast = l_psz;
    if (l_pszLast == nullptr) return;
    *l_pszLast = 0;
  }
  const char* l_pszName = l_szModule;
  for (const char* l_psz = l_szModule; *l_psz != 0; ++l_psz)
    if (IsSeparator(*l_psz)) l_pszName = l_psz + 1;
  CopyBounded(a_szName, a_sizetName, l_pszName, a_sizetName - 1);
  ToLower(a_szName);
}

// QRX_LOGDIR, when set: "<dir>/qrx_<UTC time stamp>.log".
bool LogDirectoryPath(char* a_szPath, std::size_t a_sizetPath) {
  char l_szDirectory[OS_PATH_SIZE];
  if (OsCfgGetEnv("QRX_LOGDIR", nullptr, sizeof(l_szDirectory), l_szDirectory, true) != OS_STS_SUCCESS ||
      l_szDirectory[0] == 0)
    return false;
  OsTimeRecord l_timerecord;
  OsTimeGetUtc(&l_timerecord);
  char l_szStamp[OS_TIME_STRING_SIZE];
  if (OsTimeToString(&l_timerecord, l_szStamp, sizeof(l_szStamp)) != OS_STS_SUCCESS) return false;
  return LogSStrPrintf(a_szPath, a_sizetPath, "%s/qrx_%s.log", l_szDirectory, l_szStamp) > 0;
}

// The log file path from its text form. a_bCreation: the "@NAME@rest" form
// becomes a name of its own beside the module's family, and QRX_LOGDIR
// applies to that form only; on re-configuration it is taken as it stands
// and QRX_LOGDIR applies to every form.
void ResolveLogFile(const char* a_szText, bool a_bCreation, char (&a_szPath)[OS_PATH_SIZE]) {
  a_szPath[0] = 0;
  if (a_szText == nullptr || a_szText[0] == 0) return;
  const char* const l_pszLastAt = std::strrchr(a_szText, '@');
  const bool l_bVariableForm = l_pszLastAt != nullptr && l_pszLastAt != a_szText;
  if (!l_bVariableForm) {
    CopyBounded(a_szPath, OS_PATH_SIZE, a_szText, OS_PATH_SIZE - 1);
  } else {
    char l_szName[OS_PATH_SIZE] = "";
    const std::size_t l_sizetName = static_cast<std::size_t>(l_pszLastAt - (a_szText + 1));
    if (l_sizetName > 0) CopyBounded(l_szName, sizeof(l_szName), a_szText + 1, l_sizetName);
    if (l_szName[0] == 0 || OsCfgGetEnv(l_szName, ".", OS_PATH_SIZE, a_szPath, true) != OS_STS_SUCCESS ||
        a_szPath[0] == 0)
      CopyBounded(a_szPath, OS_PATH_SIZE, ".", 1);
    if (!AppendBounded(a_szPath, OS_PATH_SIZE, l_pszLastAt + 1, OS_PATH_SIZE)) return;
    if (a_bCreation) {
      NormalizeSeparators(a_szPath);
      // The extension goes; a dot in a directory name is not one.
      char* const l_pszDot = std::strrchr(a_szPath, '.');
      const char* const l_pszSeparator = std::strrchr(a_szPath, '\\');
      if (l_pszDot != nullptr && (l_pszSeparator == nullptr || l_pszDot > l_pszSeparator)) *l_pszDot = 0;
      char l_szFamily[OS_PATH_SIZE];
      ModuleGrandparentName(l_szFamily, sizeof(l_szFamily));
      if (!AppendBounded(a_szPath, OS_PATH_SIZE, "_", 1) ||
          !AppendBounded(a_szPath, OS_PATH_SIZE, l_szFamily, OS_PATH_SIZE) ||
          !AppendBounded(a_szPath, OS_PATH_SIZE, ".log", 4))
        return;
    }
  }
  if (l_bVariableForm || !a_bCreation) {
    char l_szPath[OS_PATH_SIZE];
    if (LogDirectoryPath(l_szPath, sizeof(l_szPath))) CopyBounded(a_szPath, OS_PATH_SIZE, l_szPath, OS_PATH_SIZE - 1);
  }
}

// Cuts the token text at blanks into the token list (31 tokens at most).
void CutTokens(COsLogImpl* a_poslogimpl) {
  for (char*& l_psz : a_poslogimpl->m_apszToken) l_psz = nullptr;
  char* l_pszContext = nullptr;
  char* l_pszToken = os_cosstring::Tokenize(a_poslogimpl->m_szTokenText, " ", &l_pszContext);
  for (int l_i = 0; l_i < OS_LOG_TOKENS - 1 && l_pszToken != nullptr; ++l_i) {
    a_poslogimpl->m_apszToken[l_i] = l_pszToken;
    l_pszToken = os_cosstring::Tokenize(static_cast<char*>(nullptr), " ", &l_pszContext);
  }
}

// The keywords of a re-configured filter stand for module families.
const char* ExpandKeyword(const char* a_szToken) {
  if (_stricmp(a_szToken, "TWAIN") == 0) return "qrxdat twn_ db_cdbdatum ";
  if (_stricmp(a_szToken, "WIRE") == 0) return "qrxhal qrxprot ";
  if (_stricmp(a_szToken, "XML") == 0) return "twn_ctwngui img_cimgpondo ";
  return nullptr;
}

// Appends a_szText if it fits whole; a filter that grows too long keeps the
// tokens that fit.
bool AppendWhole(char (&a_szDst)[OS_LOG_FILTER_SIZE], const char* a_szText) {
  if (std::strlen(a_szDst) + std::strlen(a_szText) >= OS_LOG_FILTER_SIZE) return false;
  return AppendBounded(a_szDst, OS_LOG_FILTER_SIZE, a_szText, OS_LOG_FILTER_SIZE);
}

void ExpandFilter(COsLogImpl* a_poslogimpl, const char* a_szFilter) {
  char l_szWork[OS_LOG_FILTER_SIZE];
  CopyBounded(l_szWork, sizeof(l_szWork), a_szFilter, OS_LOG_FILTER_SIZE - 1);
  char l_szJoined[OS_LOG_FILTER_SIZE] = "";
  char* l_pszContext = nullptr;
  for (char* l_pszToken = os_cosstring::Tokenize(l_szWork, " \t", &l_pszContext); l_pszToken != nullptr;
       l_pszToken = os_cosstring::Tokenize(static_cast<char*>(nullptr), " \t", &l_pszContext)) {
    const char* const l_szExpansion = ExpandKeyword(l_pszToken);
    bool l_bFits = true;
    if (l_szExpansion != nullptr) {
      l_bFits = AppendWhole(l_szJoined, l_szExpansion);
    } else {
      char l_szToken[OS_LOG_FILTER_SIZE];
      l_bFits =
          LogSStrPrintf(l_szToken, sizeof(l_szToken), "%s ", l_pszToken) > 0 && AppendWhole(l_szJoined, l_szToken);
    }
    if (!l_bFits) break;
  }
  const std::size_t l_sizetJoined = std::strlen(l_szJoined);
  if (l_sizetJoined > 0 && l_szJoined[l_sizetJoined - 1] == ' ') l_szJoined[l_sizetJoined - 1] = 0;
  ToLower(l_szJoined);
  CopyBounded(a_poslogimpl->m_szFilterText, OS_LOG_FILTER_SIZE, l_szJoined, OS_LOG_FILTER_SIZE - 1);
  CopyBounded(a_poslogimpl->m_szTokenText, OS_LOG_FILTER_SIZE, l_szJoined, OS_LOG_FILTER_SIZE - 1);
  CutTokens(a_poslogimpl);
}

// Options that are kept apart from the mask; once set they stay set.
void ApplyOptions(COsLogImpl* a_poslogimpl, std::uint32_t a_u32Level, bool a_bReconfigure) {
  a_poslogimpl->m_u32LevelPassed = a_u32Level;
  if (a_u32Level & OS_LOG_OPT_SWITCH) {
    a_poslogimpl->m_u32Switch = 1;
    a_u32Level &= ~OS_LOG_OPT_SWITCH;
  }
  if (a_bReconfigure && (a_u32Level & OS_LOG_OPT_APPEND)) {
    a_poslogimpl->m_u32Append = 1;
    a_u32Level &= ~OS_LOG_OPT_APPEND;
  }
  if (a_u32Level & OS_LOG_OPT_EXTRA) {
    a_poslogimpl->m_u32ExtraEnabled = 1;
    a_u32Level &= ~OS_LOG_OPT_EXTRA;
  }
  if (a_u32Level & OS_LOG_OPT_ERRORSONLY) a_poslogimpl->m_bErrorsOnly = true;
  a_poslogimpl->m_u32Level = a_u32Level;
}

}  // namespace

void OsLogCreateDirectories(OsLogSlot* a_poslogslot, const char* a_szPath, bool a_bWithLast) {
  char* const l_szPath = a_poslogslot->m_szPath2;
  if (!CopyBounded(l_szPath, OS_PATH_SIZE, a_szPath, OS_PATH_SIZE - 1)) return;
  NormalizeSeparators(l_szPath);
  // Split into components (at most 31 directories).
  int l_iComponents = 0;
  char* l_pszContext = nullptr;
  for (char* l_pszPart = os_cosstring::Tokenize(l_szPath, "\\", &l_pszContext);
       l_pszPart != nullptr && l_iComponents < OS_LOG_COMPONENTS;
       l_pszPart = os_cosstring::Tokenize(static_cast<char*>(nullptr), "\\", &l_pszContext))
    a_poslogslot->m_apszComponent[l_iComponents++] = l_pszPart;
  if (!a_bWithLast && l_iComponents > 0) --l_iComponents;
  if (l_iComponents > OS_LOG_COMPONENTS - 1) l_iComponents = OS_LOG_COMPONENTS - 1;
  const bool l_bUnc = a_szPath[0] != 0 && IsSeparator(a_szPath[0]) && IsSeparator(a_szPath[1]);
  char* const l_szPrefix = a_poslogslot->m_szPath1;
  l_szPrefix[0] = 0;
  if (l_bUnc)
    AppendBounded(l_szPrefix, OS_PATH_SIZE, "\\\\", 2);
  else if (IsSeparator(a_szPath[0]))
    AppendBounded(l_szPrefix, OS_PATH_SIZE, "\\", 1);
  for (int l_i = 0; l_i < l_iComponents; ++l_i) {
    if (l_i > 0 && !AppendBounded(l_szPrefix, OS_PATH_SIZE, "\\", 1)) return;
    if (!AppendBounded(l_szPrefix, OS_PATH_SIZE, a_poslogslot->m_apszComponent[l_i], OS_PATH_SIZE)) return;
    // A drive alone ("c:") and the server and share of a UNC path are not made.
    if (l_i == 0 && std::strchr(l_szPrefix, ':') != nullptr) continue;
    if (l_bUnc && l_i < 2) continue;
    wchar_t l_wszPrefix[OS_PATH_SIZE];
    if (CopyStringFromUtf8(l_wszPrefix, OS_PATH_SIZE, l_szPrefix) > 0) CreateDirectoryW(l_wszPrefix, nullptr);
  }
}

COsLog* OsLogCreate(const char* a_szUniqueName, const char* a_szLogFile, std::uint32_t a_u32Level,
                    const char* a_szFilter) {
  void* const l_pvLog = LogAlloc(sizeof(COsLog));
  COsLogImpl* const l_poslogimpl = static_cast<COsLogImpl*>(LogAlloc(sizeof(COsLogImpl)));
  if (l_pvLog == nullptr || l_poslogimpl == nullptr) {
    LogFree(l_pvLog);
    LogFree(l_poslogimpl);
    return nullptr;
  }
  // The block comes zeroed: every flag, slot and text starts empty.
  l_poslogimpl->m_u32OwnState = OS_LOG_STATE_INITIAL;
  l_poslogimpl->m_pucState = reinterpret_cast<unsigned char*>(&l_poslogimpl->m_u32OwnState);
  if (a_szUniqueName != nullptr)
    CopyBounded(l_poslogimpl->m_szUniqueName, OS_LOG_UNIQUENAME_SIZE, a_szUniqueName, OS_LOG_UNIQUENAME_SIZE - 1);
  l_poslogimpl->m_bDebugDirectoryPending = true;

  // Unset, the echo is on: only "0" switches it off.
  char l_szAssert[OS_LOG_ASSERT_SIZE];
  if (OsCfgGetEnv("QRX_ASSERT", "1", sizeof(l_szAssert) - 1, l_szAssert, true) != OS_STS_SUCCESS)
    CopyBounded(l_szAssert, sizeof(l_szAssert), "1", 1);
  l_poslogimpl->m_bAssertEcho = std::atoi(l_szAssert) != 0;

  ApplyOptions(l_poslogimpl, a_u32Level, false);
  ResolveLogFile(a_szLogFile, true, l_poslogimpl->m_szLogFile);
  // At creation the filter is taken as given: no keywords, no case change.
  if (a_szFilter != nullptr) {
    CopyBounded(l_poslogimpl->m_szTokenText, OS_LOG_FILTER_SIZE, a_szFilter, OS_LOG_FILTER_SIZE - 1);
    CopyBounded(l_poslogimpl->m_szFilterText, OS_LOG_FILTER_SIZE, a_szFilter, OS_LOG_FILTER_SIZE - 1);
    CutTokens(l_poslogimpl);
  }
  l_poslogimpl->m_u32HeaderPending = 1;
  l_poslogimpl->m_i32LineCounter = -1;
  l_poslogimpl->m_u32Suspended = l_poslogimpl->m_szLogFile[0] == 0 ? 1 : 0;

  COsLog* const l_poslog = new (l_pvLog) COsLog;
  l_poslog->m_poslogimpl = l_poslogimpl;
  return l_poslog;
}

void OsLogDestroy(COsLog* a_poslog) {
  if (a_poslog == nullptr) return;
  LogFree(a_poslog->m_poslogimpl);
  a_poslog->m_poslogimpl = nullptr;
  a_poslog->~COsLog();
  LogFree(a_poslog);
}

void OsLogReconfigure(COsLog* a_poslog, const char* a_szLogFile, std::uint32_t a_u32Level, const char* a_szFilter,
                      unsigned char* a_pucState) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return;
  COsLogImpl* const l_poslogimpl = a_poslog->m_poslogimpl;
  const bool l_bText = a_szLogFile != nullptr && a_szLogFile[0] != 0;
  l_poslogimpl->m_bDebugDirectoryPending = true;
  if (!l_bText && l_poslogimpl->m_szLogFile[0] == 0) {
    l_poslogimpl->m_u32Suspended = 1;
    return;
  }
  l_poslogimpl->m_u32Suspended = 0;
  if (l_bText && l_poslogimpl->m_u32HeaderPending == 0 && std::strcmp(a_szLogFile, l_poslogimpl->m_szLogFile) != 0)
    l_poslogimpl->m_u32HeaderPending = 1;

  l_poslogimpl->m_szFilterText[0] = 0;
  if (a_szFilter != nullptr) ExpandFilter(l_poslogimpl, a_szFilter);
  ApplyOptions(l_poslogimpl, a_u32Level, true);

  if (l_bText) {
    char l_szPath[OS_PATH_SIZE];
    ResolveLogFile(a_szLogFile, false, l_szPath);
    // Another file: its directory is checked again at the next line.
    if (std::strcmp(l_szPath, l_poslogimpl->m_szLogFile) != 0) l_poslogimpl->m_bDirectoryConfirmed = false;
    CopyBounded(l_poslogimpl->m_szLogFile, OS_PATH_SIZE, l_szPath, OS_PATH_SIZE - 1);
  }
  if (a_pucState != nullptr) l_poslogimpl->m_pucState = a_pucState;
  if (l_poslogimpl->m_u32Level != 0)
    OsLogPrint(a_poslog, OS_LOG_FILE, __LINE__, OS_LOG_PROCESS, "### OsServicesStart...");
}
