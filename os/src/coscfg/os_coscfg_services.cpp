// Services start-up and shut-down: the process's identity, the process-wide
// singletons and the inherited-argument variables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_coscfg_services.h"
#include "os_coscfg_sysinfo.h"
#include "os_cosfile.h"
#include "os_cosfile_impl.h"
#include "os_coslocale.h"
#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_cosresource.h"
#include "os_cosstring.h"
#include "os_costhread.h"
#include "os_costime.h"
#include "os_cosxml.h"
#include "os_log.h"
#include "os_win.h"

namespace {

constexpr std::size_t OS_LEVEL_SIZE = 64;  // QRX_DEBUG: up to 63 characters

// Every name that starts with this prefix is an inherited-argument variable.
constexpr char s_szArgumentsPrefix[] = "QRX_OSSERVICESARGUMENTS";
constexpr std::size_t OS_ARGUMENTS_PREFIX_LENGTH = sizeof(s_szArgumentsPrefix) - 1;  // 23

OsServicesState s_osservices;

// The singletons, each reached through its process-wide pointer.
char* s_szEmpty = nullptr;
COsLog* s_poslog = nullptr;
COsCfg* s_poscfg = nullptr;

// The variable's value as UTF-8; false (and an empty text) when it is unset,
// empty or does not fit.
bool GetEnvUtf8(const char* a_szName, char* a_szValue, std::size_t a_sizetValue) {
  if (OsCfgGetEnv(a_szName, nullptr, a_sizetValue, a_szValue, true) != OS_STS_SUCCESS) {
    a_szValue[0] = 0;
    return false;
  }
  return a_szValue[0] != 0;
}

// "QRX_OSSERVICESARGUMENTS_<pid>_<tid>": the inherited text for this thread.
void PerThreadVariableName(char (&a_szName)[OS_UNIQUENAME_SIZE]) {
  SStrPrintf(a_szName, sizeof(a_szName), "%s_%llx_%llx", s_szArgumentsPrefix,
             static_cast<unsigned long long>(GetCurrentProcessId()),
             static_cast<unsigned long long>(GetCurrentThreadId()));
}

// Removes every variable whose name begins with the inherited-argument
// prefix (compared without case).
void RemoveInheritedArgumentVariables() {
  wchar_t* const l_wszBlock = GetEnvironmentStringsW();
  if (l_wszBlock == nullptr) return;
  // The block is a copy: removing variables while walking it is safe.
  for (const wchar_t* l_wsz = l_wszBlock; *l_wsz != 0; l_wsz += wcslen(l_wsz) + 1) {
    if (l_wsz[0] == L'=') continue;  // the per-drive current directories
    bool l_bMatch = true;
    for (std::size_t l_i = 0; l_i < OS_ARGUMENTS_PREFIX_LENGTH && l_bMatch; ++l_i) {
      wchar_t l_wc = l_wsz[l_i];
      if (l_wc >= L'a' && l_wc <= L'z') l_wc = static_cast<wchar_t>(l_wc - L'a' + L'A');
      l_bMatch = l_wc == static_cast<wchar_t>(s_szArgumentsPrefix[l_i]);
    }
    if (!l_bMatch) continue;
    const wchar_t* const l_wszEquals = wcschr(l_wsz, L'=');
    const std::size_t l_n = l_wszEquals != nullptr ? static_cast<std::size_t>(l_wszEquals - l_wsz) : wcslen(l_wsz);
    wchar_t l_wszName[OS_ARGUMENTS_SIZE];
    if (l_n >= OS_ARGUMENTS_SIZE) continue;
    std::memcpy(l_wszName, l_wsz, l_n * sizeof(wchar_t));
    l_wszName[l_n] = 0;
    SetEnvironmentVariableW(l_wszName, nullptr);
  }
  FreeEnvironmentStringsW(l_wszBlock);
}

// ---- inherited arguments ----

// Removes this thread's inherited text and, with a_bShared, the two shared variables.
void WithdrawArguments(bool a_bShared) {
  char l_szPerThread[OS_UNIQUENAME_SIZE];
  PerThreadVariableName(l_szPerThread);
  OsCfgSetEnvW(l_szPerThread, nullptr);
  if (a_bShared) {
    OsCfgSetEnv("QRX_OSSERVICESARGUMENTS", nullptr);
    OsCfgSetEnvW("QRX_OSSERVICESARGUMENTSUNICODE", nullptr);
  }
}

bool IsArgumentText(const char* a_sz) {
  return std::strstr(a_sz, "<arguments>") != nullptr && std::strstr(a_sz, "</arguments>") != nullptr;
}

// The inherited argument text into the buffer: the per-thread variable, then
// the 8-bit and the 16-bit shared ones; the first that holds a whole
// argument text counts. A disabling variable withdraws them all first.
void ReadInheritedArguments(OsServicesState& a_state) {
  char l_szPerThread[OS_UNIQUENAME_SIZE];
  PerThreadVariableName(l_szPerThread);
  if (OsCfgEnvBeginsWith("QRX_OSSERVICESARGUMENTSDISABLED", '1')) {
    OsCfgSetEnv("QRX_OSSERVICESARGUMENTSDISABLED", nullptr);
    WithdrawArguments(true);
  }
  a_state.m_szInherited[0] = 0;
  const struct {
    const char* m_szName;
    bool m_bUnicode;
  } s_asource[] = {{l_szPerThread, true}, {"QRX_OSSERVICESARGUMENTS", false}, {"QRX_OSSERVICESARGUMENTSUNICODE", true}};
  for (const auto& l_source : s_asource) {
    // The whole value must hold the text; it is then cut to the buffer.
    char* const l_szValue = OsCfgGetEnvWhole(l_source.m_szName, l_source.m_bUnicode);
    const bool l_bTaken = l_szValue != nullptr && IsArgumentText(l_szValue);
    if (l_bTaken) {
      const std::size_t l_sizet = std::strlen(l_szValue);
      const std::size_t l_sizetCopy = l_sizet < OS_ARGUMENTS_SIZE - 1 ? l_sizet : OS_ARGUMENTS_SIZE - 1;
      std::memcpy(a_state.m_szInherited, l_szValue, l_sizetCopy);
      a_state.m_szInherited[l_sizetCopy] = 0;
    }
    std::free(l_szValue);
    if (l_bTaken) return;
  }
}

// ---- argument text ----

// A tag value of the argument text. A value written as _T("...") reads as
// the text inside it.
void GetArgument(const char* a_szArguments, const char* a_szOpening, const char* a_szClosing, char* a_szOut,
                 std::size_t a_sizetOut, bool a_bUnwrap) {
  OsXmlGetTagValue(a_szArguments, a_szOpening, a_szClosing, a_szOut, a_sizetOut);
  const std::size_t l_n = std::strlen(a_szOut);
  if (a_bUnwrap && l_n >= 6 && std::strncmp(a_szOut, "_T(\"", 4) == 0) {
    std::memmove(a_szOut, a_szOut + 4, l_n - 6);
    a_szOut[l_n - 6] = 0;
  }
}

bool IsNoneText(const char* a_sz) { return _stricmp(a_sz, "0") == 0 || _stricmp(a_sz, "NULL") == 0; }

EOSCFGENTITY EntityFromText(const char* a_sz) {
  static const struct {
    const char* m_sz;
    EOSCFGENTITY m_eoscfgentity;
  } s_aentity[] = {{"application", OS_CFG_ENTITY_APPLICATION},
                   {"driver", OS_CFG_ENTITY_DRIVER},
                   {"utility", OS_CFG_ENTITY_UTILITY},
                   {"apputility", OS_CFG_ENTITY_APPUTILITY},
                   {"dll", OS_CFG_ENTITY_DLL}};
  for (const auto& l_entity : s_aentity)
    if (std::strcmp(a_sz, l_entity.m_sz) == 0) return l_entity.m_eoscfgentity;
  return OS_CFG_ENTITY_NONE;
}

// Major, minor, patch and build from the running program's file-version
// resource; "00" each when it cannot be read.
void VersionFromResource(OsServicesState& a_state) {
  for (int l_i = 0; l_i < 4; ++l_i) SStrCpy(a_state.m_aszVersion[l_i], OS_VERSION_FIELD_SIZE, "00");
  wchar_t l_wszModule[MAX_PATH];
  const DWORD l_dwLength = GetModuleFileNameW(nullptr, l_wszModule, MAX_PATH);
  if (l_dwLength == 0 || l_dwLength >= MAX_PATH) return;
  char l_szModule[OS_PATH_SIZE * 3];
  if (CopyUtf8FromUnicode(l_szModule, sizeof(l_szModule), l_wszModule, -1) <= 0) return;
  // The same text the module resources give for a file's version: "%u.%u.%u.%u".
  COsResource l_osresource;
  if (l_osresource.Load(l_szModule, "VERSION", OS_RESOURCE_TYPE_RCDATA) != OS_STS_SUCCESS) return;
  unsigned l_auPart[4] = {0, 0, 0, 0};
  if (std::sscanf(static_cast<const char*>(l_osresource.DataGet()), "%u.%u.%u.%u", &l_auPart[0], &l_auPart[1],
                  &l_auPart[2], &l_auPart[3]) != 4)
    return;
  for (int l_i = 0; l_i < 4; ++l_i) SStrPrintf(a_state.m_aszVersion[l_i], OS_VERSION_FIELD_SIZE, "%02u", l_auPart[l_i]);
}

void VersionFromArguments(OsServicesState& a_state, const char* a_szArguments) {
  static const char* const s_aszTag[OS_VERSION_FIELDS][2] = {
      {"<major>", "</major>"}, {"<minor>", "</minor>"}, {"<patch>", "</patch>"}, {"<build>", "</build>"},
      {"<day>", "</day>"},     {"<month>", "</month>"}, {"<year>", "</year>"}};
  for (int l_i = 0; l_i < OS_VERSION_FIELDS; ++l_i) {
    char l_szValue[OS_VERSION_FIELD_SIZE];
    if (OsXmlGetTagValue(a_szArguments, s_aszTag[l_i][0], s_aszTag[l_i][1], l_szValue, sizeof(l_szValue)) != 0)
      continue;
    const int l_iValue = std::atoi(l_szValue);
    SStrPrintf(a_state.m_aszVersion[l_i], OS_VERSION_FIELD_SIZE, l_i == 6 ? "%04d" : "%02d", l_iValue);
  }
}

// Reads identity, log settings, memory method and version from the
// program's argument text.
void ReadArguments(OsServicesState& a_state, const char* a_szArguments) {
  char l_szValue[OS_PATH_SIZE];
  GetArgument(a_szArguments, "<uniquename>", "</uniquename>", a_state.m_szUniqueName, OS_UNIQUENAME_SIZE, false);
  GetArgument(a_szArguments, "<entity>", "</entity>", l_szValue, sizeof(l_szValue), false);
  a_state.m_eoscfgentity = EntityFromText(l_szValue);
  GetArgument(a_szArguments, "<logfile>", "</logfile>", a_state.m_szLogFile, OS_PATH_SIZE, true);
  if (IsNoneText(a_state.m_szLogFile)) a_state.m_szLogFile[0] = 0;
  GetArgument(a_szArguments, "<loglevel>", "</loglevel>", l_szValue, sizeof(l_szValue), false);
  a_state.m_u32LogLevel |= static_cast<std::uint32_t>(std::strtoul(l_szValue, nullptr, 10));
  GetArgument(a_szArguments, "<logfilter>", "</logfilter>", a_state.m_szLogFilter, OS_LOGFILTER_SIZE, true);
  if (IsNoneText(a_state.m_szLogFilter)) a_state.m_szLogFilter[0] = 0;
  GetArgument(a_szArguments, "<memorymethod>", "</memorymethod>", l_szValue, sizeof(l_szValue), false);
  a_state.m_eosmemmethod =
      std::strcmp(l_szValue, "OS_MEM_METHOD_MALLOC") == 0 ? OS_MEM_METHOD_MALLOC : OS_MEM_METHOD_GLOBALALLOC;
  GetArgument(a_szArguments, "<forcesetaccess>", "</forcesetaccess>", l_szValue, sizeof(l_szValue), false);
  if (std::strcmp(l_szValue, "true") == 0) a_state.m_bForceSetAccess = true;

  if (std::strstr(a_szArguments, "<version>") != nullptr) {
    VersionFromArguments(a_state, a_szArguments);
  } else {
    VersionFromResource(a_state);
    SStrCpy(a_state.m_aszVersion[4], OS_VERSION_FIELD_SIZE, "00");
    SStrCpy(a_state.m_aszVersion[5], OS_VERSION_FIELD_SIZE, "00");
    SStrCpy(a_state.m_aszVersion[6], OS_VERSION_FIELD_SIZE, "0000");
  }
}

// The argument text handed to children, cut to the buffer.
void FormatArguments(OsServicesState& a_state, const char* a_szRoot, const char* a_szLog, const char* a_szModel,
                     int a_iLevel, bool a_bFromInterfaceOpen, bool a_bForceSetAccess, const char* a_szApp) {
  const char* const l_szFromInterfaceOpen = a_bFromInterfaceOpen ? "true" : "false";
  const char* const l_szForceSetAccess = a_bForceSetAccess ? "true" : "false";
  char l_szText[OS_ARGUMENTS_SIZE * 2];
  if (a_szModel[0] != 0) {
    SStrPrintf(l_szText, sizeof(l_szText),
               "<arguments>\n\t<rootpath>%s</rootpath>\n\t<logpath>%s</logpath>\n\t<logmodel>%s</logmodel>\n\t"
               "<loglevel>%d</loglevel>\n\t<callersuniquename>%s</callersuniquename>\n\t<frominterfaceopen>%s"
               "</frominterfaceopen>\n\t<forcesetaccess>%s</forcesetaccess>\n\t<app><![CDATA[%s]]></app>\n</arguments>",
               a_szRoot, a_szLog, a_szModel, a_iLevel, a_state.m_szUniqueName, l_szFromInterfaceOpen,
               l_szForceSetAccess, a_szApp);
  } else {
    SStrPrintf(l_szText, sizeof(l_szText),
               "<arguments>\n\t<rootpath>%s</rootpath>\n\t<logpath>%s</logpath>\n\t<loglevel>%d</loglevel>\n\t"
               "<callersuniquename>%s</callersuniquename>\n\t<frominterfaceopen>%s</frominterfaceopen>\n\t"
               "<forcesetaccess>%s</forcesetaccess>\n\t<app><![CDATA[%s]]></app>\n</arguments>",
               a_szRoot, a_szLog, a_iLevel, a_state.m_szUniqueName, l_szFromInterfaceOpen, l_szForceSetAccess, a_szApp);
  }
  l_szText[OS_ARGUMENTS_SIZE - 1] = 0;
  SStrCpy(a_state.m_szInherited, sizeof(a_state.m_szInherited), l_szText);
}

// A utility started without inherited arguments: its own, from the
// writeable root and the model name that the query found.
void ComposeUtilityArguments(OsServicesState& a_state, const char* a_szRoot, const char* a_szModel) {
  char l_szLog[OS_PATH_SIZE];
  // A root too deep for the log path composes no log path at all.
  if (!OsFilePathJoin(l_szLog, sizeof(l_szLog), a_szRoot, a_szModel) ||
      !OsFilePathAppend(l_szLog, sizeof(l_szLog), "rivu") || !OsFilePathAppend(l_szLog, sizeof(l_szLog), "log"))
    l_szLog[0] = 0;
  const char* const l_pszLevel = std::strstr(a_state.m_szInherited, "<loglevel>");
  const int l_iLevel = l_pszLevel != nullptr ? std::atoi(l_pszLevel + std::strlen("<loglevel>")) : 0;
  FormatArguments(a_state, a_szRoot, l_szLog, a_szModel, l_iLevel, false, a_state.m_bForceSetAccess, "");
}

// Utility start-up: its log and root come from the arguments its parent
// handed on (or that it composed for itself). False when the layout query
// fails: start-up then ends without singletons.
bool StartUtility(OsServicesState& a_state) {
  const bool l_bEmpty = a_state.m_szInherited[0] == 0;
  if (l_bEmpty) a_state.m_bOwner = true;
  char l_szRoot[OS_PATH_SIZE] = "";
  char l_szModel[OS_PATH_SIZE] = "";
  OsCfgQuery l_query = {l_szRoot, sizeof(l_szRoot), l_szModel, sizeof(l_szModel), nullptr, 0, nullptr, 0};
  if (OsCfgQueryDirectories("rivu", OS_CFG_ENTITY_UTILITY, &l_query) != OS_STS_SUCCESS) {
    OS_LOGE("SetDirectories failed...");
    return false;
  }
  if (l_bEmpty) {
    ComposeUtilityArguments(a_state, l_szRoot, l_szModel);
    OsServicesWriteArguments(a_state.m_szInherited);
  }
  const char* const l_szInherited = a_state.m_szInherited;
  char l_szLogModel[OS_PATH_SIZE];
  GetArgument(l_szInherited, "<logmodel>", "</logmodel>", l_szLogModel, sizeof(l_szLogModel), true);
  char l_szLogPath[OS_PATH_SIZE];
  GetArgument(l_szInherited, "<logpath>", "</logpath>", l_szLogPath, sizeof(l_szLogPath), true);
  if (l_szLogPath[0] != 0 && !IsNoneText(l_szLogPath)) {
    // <logpath>\<unique>\<unique>_<model>.log
    char l_szDirectory[OS_PATH_SIZE];
    char l_szName[OS_PATH_SIZE];
    SStrPrintf(l_szName, sizeof(l_szName), "%s_%s.log", a_state.m_szUniqueName,
               l_szModel[0] != 0 ? l_szModel : l_szLogModel);
    // A log path too deep for the file leaves the log without one.
    if (OsFilePathJoin(l_szDirectory, sizeof(l_szDirectory), l_szLogPath, a_state.m_szUniqueName) &&
        OsFilePathJoin(a_state.m_szLogFile, OS_PATH_SIZE, l_szDirectory, l_szName))
      OsFileCreateDirectory(l_szDirectory, nullptr);
  }
  char l_szValue[OS_LEVEL_SIZE];
  GetArgument(l_szInherited, "<loglevel>", "</loglevel>", l_szValue, sizeof(l_szValue), true);
  if (a_state.m_u32LogLevel == 0)
    a_state.m_u32LogLevel = static_cast<std::uint32_t>(std::strtoul(l_szValue, nullptr, 10));
  GetArgument(l_szInherited, "<rootpath>", "</rootpath>", a_state.m_szRootPath, OS_PATH_SIZE, false);
  GetArgument(l_szInherited, "<callersuniquename>", "</callersuniquename>", a_state.m_szCallersUniqueName,
              OS_UNIQUENAME_SIZE, false);
  GetArgument(l_szInherited, "<app>", "</app>", a_state.m_szApp, OS_PATH_SIZE, false);
  // The application path travels as character data.
  const std::size_t l_sizetApp = std::strlen(a_state.m_szApp);
  if (l_sizetApp >= 12 && std::strncmp(a_state.m_szApp, "<![CDATA[", 9) == 0 &&
      std::strcmp(a_state.m_szApp + l_sizetApp - 3, "]]>") == 0) {
    std::memmove(a_state.m_szApp, a_state.m_szApp + 9, l_sizetApp - 12);
    a_state.m_szApp[l_sizetApp - 12] = 0;
  }
  return true;
}

// The argument text that children and loaded libraries of the suite
// inherit (not written to the environment here).
void ComposeChildArguments(OsServicesState& a_state, const char* a_szArguments) {
  COsCfg* const l_poscfg = s_poscfg;
  if (l_poscfg == nullptr || l_poscfg->m_poscfgimpl == nullptr) return;
  if (std::strstr(a_szArguments, "<inherit>false</inherit>") != nullptr) return;
  const char* l_szModel = nullptr;
  switch (a_state.m_eoscfgentity) {
    case OS_CFG_ENTITY_APPLICATION:
    case OS_CFG_ENTITY_DLL: l_szModel = ""; break;
    case OS_CFG_ENTITY_DRIVER: l_szModel = l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_MODELDIRECTORYREAL); break;
    default: return;
  }
  COsCfgImpl* const l_poscfgimpl = l_poscfg->m_poscfgimpl;
  SStrCpy(l_poscfgimpl->m_szModelDirectory, OS_PATH_SIZE, l_szModel);
  l_poscfg->SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY, l_poscfgimpl->m_szLogDirectory);
  l_poscfg->SetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_MODELDIRECTORY, l_poscfgimpl->m_szModelDirectory);
  OsLogSetDebug(OsLogInstance(), static_cast<std::uint32_t>(std::strtoul(l_poscfgimpl->m_szLogDebug, nullptr, 10)));
  const unsigned l_uLevel = OsLogInstance() != nullptr
                                ? OsLogGetDebug(OsLogInstance())
                                : static_cast<unsigned>(std::strtoul(l_poscfgimpl->m_szLogDebug, nullptr, 10));
  FormatArguments(a_state, l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_ROOTPATH),
                  l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY), l_szModel, static_cast<int>(l_uLevel),
                  false, false, l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_APPLICATION));
}

}  // namespace

const OsServicesState& OsServicesGetState() { return s_osservices; }

void OsServicesWriteArguments(const char* a_szArguments) {
  OS_LOGI("QRX_OSSERVICESARGUMENTS set...<%s>", a_szArguments);
  char l_szPerThread[OS_UNIQUENAME_SIZE];
  PerThreadVariableName(l_szPerThread);
  OsCfgSetEnvW(l_szPerThread, a_szArguments);
  OsCfgSetEnv("QRX_OSSERVICESARGUMENTS", a_szArguments);
  OsCfgSetEnvW("QRX_OSSERVICESARGUMENTSUNICODE", a_szArguments);
}

void OsServicesStartInterfaceOpen(const char* a_szArguments) {
  if (a_szArguments == nullptr || std::strstr(a_szArguments, "<interfaceopen>") == nullptr) return;
  OsServicesState& l_state = s_osservices;
  char l_szValue[OS_PATH_SIZE];

  // Arguments inherited from a program of the suite win unless the caller
  // refuses them.
  ReadInheritedArguments(l_state);
  if (l_state.m_szInherited[0] != 0) {
    GetArgument(a_szArguments, "<inherit>", "</inherit>", l_szValue, sizeof(l_szValue), false);
    if (_stricmp(l_szValue, "false") != 0) return;
    WithdrawArguments(l_state.m_bOwner);
  }

  char l_szCaller[OS_UNIQUENAME_SIZE];
  GetArgument(a_szArguments, "<callername>", "</callername>", l_szCaller, sizeof(l_szCaller), false);
  if (l_szCaller[0] == 0) SStrCpy(l_szCaller, sizeof(l_szCaller), "rivu");
  char l_szLevel[OS_LEVEL_SIZE];
  GetArgument(a_szArguments, "<logginglevel>", "</logginglevel>", l_szLevel, sizeof(l_szLevel), false);
  GetArgument(a_szArguments, "<logging>", "</logging>", l_szValue, sizeof(l_szValue), false);
  int l_iLevel = l_szLevel[0] != 0 ? std::atoi(l_szLevel) : 0;
  if (std::strcmp(l_szValue, "off") == 0)
    l_iLevel = 0;
  else if (std::strcmp(l_szValue, "on") == 0 && l_szLevel[0] == 0)
    l_iLevel = 1;
  GetArgument(a_szArguments, "<forcesetaccess>", "</forcesetaccess>", l_szValue, sizeof(l_szValue), false);
  const bool l_bForceSetAccess = std::strcmp(l_szValue, "true") == 0;

  char l_szRoot[OS_PATH_SIZE] = "";
  char l_szModel[OS_PATH_SIZE] = "";
  char l_szCompany[OS_PATH_SIZE] = "";
  char l_szBrandRoot[OS_PATH_SIZE] = "";
  OsCfgQuery l_query = {l_szRoot,    sizeof(l_szRoot),    l_szModel,     sizeof(l_szModel),
                        l_szCompany, sizeof(l_szCompany), l_szBrandRoot, sizeof(l_szBrandRoot)};
  if (OsCfgQueryDirectories(l_szCaller, OS_CFG_ENTITY_UTILITY, &l_query) != OS_STS_SUCCESS) return;
  if (_stricmp(l_szCompany, "orvik") == 0) SStrCpy(l_szCompany, sizeof(l_szCompany), "qrx_orvik");

  // The caller's folder and its log directory of this start.
  char l_szCallerDirectory[OS_PATH_SIZE];
  if (!OsFilePathJoin(l_szCallerDirectory, sizeof(l_szCallerDirectory), l_szRoot, l_szCompany) ||
      !OsFilePathAppend(l_szCallerDirectory, sizeof(l_szCallerDirectory), l_szModel) ||
      !OsFilePathAppend(l_szCallerDirectory, sizeof(l_szCallerDirectory), l_szCaller))
    return;
  OsTimeRecord l_ostimerecord;
  OsTimeGetLocal(&l_ostimerecord, 0);
  char l_szStamp[OS_PATH_SIZE];
  if (OsTimeToString(&l_ostimerecord, l_szStamp, sizeof(l_szStamp)) != OS_STS_SUCCESS) return;
  char l_szLog[OS_PATH_SIZE];
  SStrPrintf(l_szValue, sizeof(l_szValue), "log.%s", l_szStamp);
  char l_szConst[OS_PATH_SIZE];
  if (!OsFilePathJoin(l_szLog, sizeof(l_szLog), l_szCallerDirectory, l_szValue) ||
      !OsFilePathJoin(l_szConst, sizeof(l_szConst), l_szCallerDirectory, "const.ini"))
    return;

  // A "debug=" in the head of the caller's const.ini turns its logging on.
  COsFile l_osfile;
  if (l_osfile.Open(l_szConst, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READ, OS_FILE_SHARE_READWRITE) == OS_STS_SUCCESS) {
    char l_szHead[128] = "";
    std::uint32_t l_u32Read = 0;
    if (l_osfile.Read(l_szHead, sizeof(l_szHead) - 1, &l_u32Read) == OS_STS_SUCCESS && l_u32Read < sizeof(l_szHead)) {
      l_szHead[l_u32Read] = 0;
      for (char* l_p = l_szHead; *l_p != 0; ++l_p)
        if (*l_p >= 'A' && *l_p <= 'Z') *l_p = static_cast<char>(*l_p - 'A' + 'a');
      const char* const l_pszDebug = std::strstr(l_szHead, "debug=");
      const int l_iDebug = l_pszDebug != nullptr ? std::atoi(l_pszDebug + 6) : 0;
      if (l_iDebug != 0) l_iLevel = l_iDebug;
    }
    l_osfile.Close();
  }

  FormatArguments(l_state, l_szBrandRoot, l_szLog, l_szModel, l_iLevel, true, l_bForceSetAccess, "");
  OsServicesWriteArguments(l_state.m_szInherited);
  l_state.m_bOwner = true;
}
COsLog* OsLogInstance() { return s_poslog; }
COsCfg* OsCfgInstance() { return s_poscfg; }

void OsServicesStart(const char* a_szExtra) {
  (void)a_szExtra;  // handed to the configuration object
  OsServicesState& l_state = s_osservices;
  l_state.m_szUniqueName[0] = 0;
  l_state.m_szCallersUniqueName[0] = 0;
  std::memset(l_state.m_aszVersion, 0, sizeof(l_state.m_aszVersion));

  l_state.m_u32LogLevel = 0;
  l_state.m_bForceSetAccess = false;
  char l_szLevel[OS_LEVEL_SIZE];
  if (GetEnvUtf8("QRX_DEBUG", l_szLevel, sizeof(l_szLevel)))
    l_state.m_u32LogLevel = static_cast<std::uint32_t>(std::strtoul(l_szLevel, nullptr, 10));

  const char* const l_szArguments = g_szOsServicesArguments != nullptr ? g_szOsServicesArguments : "";
  ReadArguments(l_state, l_szArguments);

  switch (l_state.m_eoscfgentity) {
    case OS_CFG_ENTITY_APPLICATION:
    case OS_CFG_ENTITY_DRIVER:
    case OS_CFG_ENTITY_DLL:
      // These compose their own arguments for their children: whatever the
      // environment holds is not theirs to use.
      l_state.m_szInherited[0] = 0;
      l_state.m_bOwner = true;
      break;
    case OS_CFG_ENTITY_APPUTILITY: ReadInheritedArguments(l_state); [[fallthrough]];
    case OS_CFG_ENTITY_UTILITY:
      if (!StartUtility(l_state)) return;
      break;
    default: break;
  }

  // Release the library that the signature check keeps loaded.
  OsFileTrustRelease();
  // The descriptors of the writeable root, events and mutexes: the
  // configuration creates the tree with them.
  OsCfgBuildSecurity();
  // "pavexe" must not keep the language-pack library that the system loaded
  // into it.
  if (std::strcmp(l_state.m_szUniqueName, "pavexe") == 0) {
    HMODULE const l_hmodule = GetModuleHandleW(L"lpk.dll");
    if (l_hmodule != nullptr) FreeLibrary(l_hmodule);
  }

  // The singletons, in this order: the empty string, the log, the memory
  // manager, the configuration, the text conversion.
  s_szEmpty = static_cast<char*>(std::calloc(1, 1));
  s_poslog = OsLogCreate(l_state.m_szUniqueName, l_state.m_szLogFile, l_state.m_u32LogLevel, l_state.m_szLogFilter);
  OsMemCreate(l_state.m_eosmemmethod, true);
  OsCfgStartup l_oscfgstartup = {};
  l_oscfgstartup.m_szUniqueName = l_state.m_szUniqueName;
  l_oscfgstartup.m_eoscfgentity = l_state.m_eoscfgentity;
  l_oscfgstartup.m_szExtra = a_szExtra;
  l_oscfgstartup.m_paszVersion = l_state.m_aszVersion;
  l_oscfgstartup.m_bForceSetAccess = l_state.m_bForceSetAccess;
  l_oscfgstartup.m_szApplication = l_state.m_szApp;
  l_oscfgstartup.m_szRootPath = l_state.m_szRootPath;
  l_oscfgstartup.m_bOwner = l_state.m_bOwner;
  s_poscfg = OsCfgCreate(l_oscfgstartup);
  OsLocaleCreate();

  // A level given to the process turns the configuration's Debug item on.
  if (s_poscfg != nullptr && s_poscfg->m_poscfgimpl != nullptr &&
      std::strcmp(s_poscfg->GetItem(1, OS_CFGTAG_DEBUG), "0") == 0 && l_state.m_u32LogLevel != 0)
    SStrCpy(s_poscfg->m_poscfgimpl->m_szLogDebug, OS_CFG_LOGMEMBER_SIZE, "1");
  if (s_poscfg != nullptr && s_poscfg->m_poscfgimpl != nullptr && OsLogGetDebug(s_poslog) != 0)
    s_poscfg->Report(nullptr);
  OS_LOGI("QRX_OSSERVICESARGUMENTS before...<%s>", l_state.m_szInherited);
  ComposeChildArguments(l_state, l_szArguments);
  OS_LOGI("QRX_OSSERVICESARGUMENTS after...<%s>", l_state.m_szInherited);

  // A forced affinity for the main thread and the threads it starts.
  if (s_poscfg != nullptr && s_poscfg->m_poscfgimpl != nullptr) {
    const unsigned long long l_ullAffinity =
        std::strtoull(s_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_FORCETHREADAFFINITY), nullptr, 0);
    if (l_ullAffinity != 0) {
      OS_LOGI("ForceThreadAffinity set to %d...", static_cast<int>(l_ullAffinity));
      OsThreadApplyDefaultAffinity(l_ullAffinity);
    }
  }
}

void OsServicesStop() {
  OsServicesState& l_state = s_osservices;

  char l_szLogDirectory[OS_PATH_SIZE] = "";
  if (s_poscfg != nullptr) {
    const char* const l_szItem = s_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY);
    if (l_szItem != nullptr) SStrCpy(l_szLogDirectory, sizeof(l_szLogDirectory), l_szItem);
  }

  RemoveInheritedArgumentVariables();

  // Reverse order of creation; each pointer is cleared before its object goes.
  OsLocaleDestroy(OsLocaleInstance());
  COsCfg* const l_poscfg = s_poscfg;
  s_poscfg = nullptr;
  OsCfgDestroy(l_poscfg);
  // The environment snapshot belongs to the configuration, and its memory
  // to the memory manager.
  OsCfgFreeEnvSnapshot();
  OsMemDestroy(OsMemInstance());
  OsCfgFreeSecurity();
  std::free(s_szEmpty);
  s_szEmpty = nullptr;
  OsFileSoundRelease();

  // This process made the log directory for its own inherited arguments:
  // it goes when nothing was left in it.
  if (l_szLogDirectory[0] != 0 && l_state.m_bOwner) {
    wchar_t l_wszDirectory[OS_PATH_SIZE];
    if (CopyStringFromUtf8(l_wszDirectory, OS_PATH_SIZE, l_szLogDirectory) > 0) RemoveDirectoryW(l_wszDirectory);
  }

  WithdrawArguments(l_state.m_bOwner);

  // The log goes last, so that everything above could still report.
  if (s_poslog != nullptr) {
    OS_LOGI("mem>>> addr:%p delete-object", static_cast<void*>(s_poslog));
    OS_LOGP("### OsServicesStop...");
    COsLog* const l_poslog = s_poslog;
    s_poslog = nullptr;
    OsLogDestroy(l_poslog);
  }

  OsCfgSysClear();
  std::memset(&l_state, 0, sizeof(l_state));
}
