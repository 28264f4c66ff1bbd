// Network time: the offset parser of the system time tool's output, the
// child-process runner with its time limit, and the query itself.
#include <cstring>
#include <cwchar>

#include "os_coscfg.h"
#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_costhread_cmdline.h"
#include "os_costime_impl.h"
#include "os_log.h"
#include "os_scoped.h"

namespace {

constexpr std::size_t OS_TIME_COMMAND_SIZE = 2048;  // wide characters of a command line
constexpr std::size_t OS_TIME_SERVER_SIZE = 260;    // wide characters of a server name
constexpr DWORD OS_TIME_SERVER_VALUE_BYTES = 256;   // the registry value read at most
constexpr DWORD OS_TIME_OUTPUT_BYTES = 256;         // the tool's output read at most
constexpr DWORD OS_TIME_END_WAIT_MS = 5000;         // for an ended child, and its handles, to be gone
constexpr DWORD OS_TIME_DELETE_POLL_MS = 10;
constexpr int OS_TIME_MAX_DIGITS = 18;  // whole seconds that fit 64 bits
constexpr long long OS_TIME_FILETIME_PER_SECOND = 10000000;
constexpr long long OS_TIME_FILETIME_1970 = 116444736000000000LL;  // 1601 to 1970 in 100 ns
constexpr const wchar_t* OS_TIME_SERVICE_KEY = L"SYSTEM\\CurrentControlSet\\services\\W32Time\\Parameters";
constexpr const char* OS_TIME_OUTPUT_NAME = "gnt.txt";
constexpr int OS_TIME_CFGTAG_PINGFORMAT = 121;                            // ForcePingFormatWindows, of the main section
constexpr const char* OS_TIME_PING_FORMAT = "ping.exe -n 1 -w 10000 %s";  // its default

// The UTC record as a time value by the UTC rule (no time zone enters).
bool TimeValueFromUtcRecord(const OsTimeRecord& a_timerecord, std::int64_t* a_pllTime) {
  SYSTEMTIME l_systemtime;
  std::memcpy(&l_systemtime, &a_timerecord, sizeof(l_systemtime));
  l_systemtime.wMilliseconds = 0;
  FILETIME l_filetime;
  if (!SystemTimeToFileTime(&l_systemtime, &l_filetime)) return false;
  const long long l_ll = static_cast<long long>((static_cast<unsigned long long>(l_filetime.dwHighDateTime) << 32) |
                                                l_filetime.dwLowDateTime);
  *a_pllTime = (l_ll - OS_TIME_FILETIME_1970) / OS_TIME_FILETIME_PER_SECOND;
  return true;
}

// a_wszArgument quoted as one argument for the child's parser, without the
// separating space OsSpawnAppendArgument puts after it.
bool QuoteArgument(wchar_t* a_wszOut, std::size_t a_sizetOut, const wchar_t* a_wszArgument) {
  a_wszOut[0] = 0;
  if (!OsSpawnAppendArgument(a_wszOut, a_sizetOut, a_wszArgument, OS_TIME_COMMAND_SIZE, false)) return false;
  a_wszOut[std::wcslen(a_wszOut) - 1] = 0;
  return true;
}

// The ping command: the configured format with every "%s" replaced by the
// quoted server and "%%" by '%'. A program named without a path is taken
// from the system directory, never from the program's own folder.
bool PingCommand(wchar_t* a_wszCommand, std::size_t a_sizetCommand, const char* a_szFormat,
                 const wchar_t* a_wszQuotedServer) {
  wchar_t l_wszFormat[OS_TIME_COMMAND_SIZE];
  if (CopyStringFromUtf8(l_wszFormat, OS_TIME_COMMAND_SIZE, a_szFormat) <= 0) return false;
  a_wszCommand[0] = 0;
  const wchar_t* l_pwc = l_wszFormat;
  const std::size_t l_sizetProgram = std::wcscspn(l_pwc, L" \t");
  if (l_wszFormat[0] != L'"' && std::wcscspn(l_pwc, L"\\/:") >= l_sizetProgram) {
    wchar_t l_wszProgram[OS_TIME_COMMAND_SIZE];
    const UINT l_uLength = GetSystemDirectoryW(l_wszProgram, MAX_PATH);
    if (l_uLength == 0 || l_uLength >= MAX_PATH || l_uLength + 1 + l_sizetProgram >= OS_TIME_COMMAND_SIZE) return false;
    l_wszProgram[l_uLength] = L'\\';
    std::wmemcpy(l_wszProgram + l_uLength + 1, l_pwc, l_sizetProgram);
    l_wszProgram[l_uLength + 1 + l_sizetProgram] = 0;
    if (!QuoteArgument(a_wszCommand, a_sizetCommand, l_wszProgram)) return false;
    l_pwc += l_sizetProgram;
  }
  std::size_t l_sizetOut = std::wcslen(a_wszCommand);
  const std::size_t l_sizetServer = std::wcslen(a_wszQuotedServer);
  for (; *l_pwc != 0; ++l_pwc) {
    const bool l_bServer = l_pwc[0] == L'%' && l_pwc[1] == L's';
    const wchar_t* const l_wszPut = l_bServer ? a_wszQuotedServer : l_pwc;
    const std::size_t l_sizetPut = l_bServer ? l_sizetServer : 1;
    if (l_sizetOut + l_sizetPut >= a_sizetCommand) return false;
    std::wmemcpy(a_wszCommand + l_sizetOut, l_wszPut, l_sizetPut);
    l_sizetOut += l_sizetPut;
    if (l_bServer || (l_pwc[0] == L'%' && l_pwc[1] == L'%')) ++l_pwc;
  }
  a_wszCommand[l_sizetOut] = 0;
  return true;
}

// The time tool's command: the tool quoted, then its fixed arguments with
// the server inside one argument.
bool ToolCommand(wchar_t* a_wszCommand, std::size_t a_sizetCommand, const wchar_t* a_wszServer) {
  wchar_t l_wszTool[MAX_PATH + 16];
  const wchar_t* const l_wszOverride = OsTimeNetworkSettingsGet().m_wszTool;
  if (l_wszOverride != nullptr) {
    OS_RETURN_IF(std::wcslen(l_wszOverride) >= MAX_PATH, OS_LOG_ERROR, "The time tool's path does not fit...", false);
    std::wcscpy(l_wszTool, l_wszOverride);
  } else {
    const UINT l_uLength = GetSystemDirectoryW(l_wszTool, MAX_PATH);
    OS_RETURN_IF(l_uLength == 0 || l_uLength >= MAX_PATH, OS_LOG_ERROR, "No system directory", false);
    std::wcscpy(l_wszTool + l_uLength, L"\\w32tm.exe");
  }
  wchar_t l_wszComputer[OS_TIME_SERVER_SIZE + 16];
  std::swprintf(l_wszComputer, sizeof(l_wszComputer) / sizeof(wchar_t), L"/computer:%ls", a_wszServer);
  a_wszCommand[0] = 0;
  const bool l_bFits =
      OsSpawnAppendArgument(a_wszCommand, a_sizetCommand, l_wszTool, MAX_PATH, false) &&
      OsSpawnAppendArgument(a_wszCommand, a_sizetCommand, L"/stripchart", OS_TIME_COMMAND_SIZE, true) &&
      OsSpawnAppendArgument(a_wszCommand, a_sizetCommand, l_wszComputer, OS_TIME_COMMAND_SIZE, false) &&
      OsSpawnAppendArgument(a_wszCommand, a_sizetCommand, L"/dataonly /samples:1", OS_TIME_COMMAND_SIZE, true);
  OS_RETURN_IF(!l_bFits, OS_LOG_ERROR, "The time command does not fit...<%S>", false, a_wszServer);
  return true;
}

// The host part of the time service's configured server list.
EOSSTS ServerFromRegistry(wchar_t* a_wszServer, std::size_t a_sizetServer) {
  HKEY l_hkey = nullptr;
  const LSTATUS l_lOpen = RegOpenKeyExW(HKEY_LOCAL_MACHINE, OS_TIME_SERVICE_KEY, 0, KEY_QUERY_VALUE, &l_hkey);
  OS_RETURN_IF(l_lOpen != ERROR_SUCCESS, OS_LOG_ERROR, "RegOpenKeyExW failed...%d", OS_STS_FAIL,
               static_cast<int>(l_lOpen));
  COsRegKey l_key(l_hkey);
  wchar_t l_wszValue[OS_TIME_SERVER_VALUE_BYTES / sizeof(wchar_t) + 1] = {};
  DWORD l_dwType = 0;
  DWORD l_dwBytes = OS_TIME_SERVER_VALUE_BYTES;
  const LSTATUS l_lQuery =
      RegQueryValueExW(l_hkey, L"NtpServer", nullptr, &l_dwType, reinterpret_cast<BYTE*>(l_wszValue), &l_dwBytes);
  const bool l_bText = l_dwType == REG_SZ || l_dwType == REG_EXPAND_SZ;
  OS_RETURN_IF(l_lQuery != ERROR_SUCCESS || !l_bText, OS_LOG_ERROR, "RegQueryValueExW failed...%d", OS_STS_FAIL,
               static_cast<int>(l_lQuery));
  l_wszValue[l_dwBytes / sizeof(wchar_t)] = 0;
  l_wszValue[std::wcscspn(l_wszValue, L",")] = 0;
  if (std::wcslen(l_wszValue) >= a_sizetServer) return OS_STS_FAIL;
  std::wcscpy(a_wszServer, l_wszValue);
  return OS_STS_SUCCESS;
}

// Deletes the tool's output file. Another holder of the inherited handle
// may close it a moment after the child has ended (under Wine, the hidden
// console host started for the child): a sharing violation is waited out,
// within a limit. GetTickCount, not its 64-bit form: the programs must load
// on XP.
void RemoveOutput(const wchar_t* a_wszPath) {
  const DWORD l_dwStart = GetTickCount();
  while (!DeleteFileW(a_wszPath) && GetLastError() == ERROR_SHARING_VIOLATION &&
         GetTickCount() - l_dwStart < OS_TIME_END_WAIT_MS)
    Sleep(OS_TIME_DELETE_POLL_MS);
}

// The tool's output file: closed and deleted when the query leaves.
class COutputFile {
 public:
  explicit COutputFile(const wchar_t* a_wszPath) : m_wszPath(a_wszPath) {}
  ~COutputFile() {
    m_h.Reset();
    RemoveOutput(m_wszPath);
  }
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;
  COsHandle m_h;

 private:
  const wchar_t* m_wszPath;
};

}  // namespace

OsTimeNetworkSettings& OsTimeNetworkSettingsGet() {
  static OsTimeNetworkSettings s_settings;
  return s_settings;
}

EOSSTS OsTimeParseOffsetSeconds(const char* a_szText, std::int64_t* a_pllSeconds) {
  if (a_szText == nullptr || a_szText[0] == 0 || a_pllSeconds == nullptr) return OS_STS_BADARG;
  std::size_t l_sizetEnd = std::strlen(a_szText);
  while (l_sizetEnd > 0 && std::strchr("\t\n\r ", a_szText[l_sizetEnd - 1]) != nullptr) --l_sizetEnd;
  if (l_sizetEnd == 0 || a_szText[l_sizetEnd - 1] != 's') return OS_STS_FAIL;
  std::size_t l_sizetDot = l_sizetEnd - 1;
  while (l_sizetDot > 0 && a_szText[l_sizetDot] != '.') --l_sizetDot;
  if (a_szText[l_sizetDot] != '.') return OS_STS_FAIL;
  std::size_t l_sizetStart = l_sizetDot;
  while (l_sizetStart > 0 && a_szText[l_sizetStart - 1] >= '0' && a_szText[l_sizetStart - 1] <= '9') --l_sizetStart;
  if (l_sizetStart == 0) return OS_STS_FAIL;
  const char l_cSign = a_szText[l_sizetStart - 1];
  if (l_cSign != '+' && l_cSign != '-' && l_cSign != ' ') return OS_STS_FAIL;
  // A sign without digits, or more digits than 64 bits hold, is no offset.
  const std::size_t l_sizetDigits = l_sizetDot - l_sizetStart;
  if (l_sizetDigits == 0 || l_sizetDigits > OS_TIME_MAX_DIGITS) return OS_STS_FAIL;
  std::int64_t l_llSeconds = 0;
  for (std::size_t l_i = l_sizetStart; l_i < l_sizetDot; ++l_i) l_llSeconds = l_llSeconds * 10 + (a_szText[l_i] - '0');
  *a_pllSeconds = l_cSign == '-' ? -l_llSeconds : l_llSeconds;
  return OS_STS_SUCCESS;
}

EOSSTS OsTimeParseOffset(const char* a_szText, OsTimeRecord* a_ptimerecord) {
  if (a_ptimerecord == nullptr) return OS_STS_BADARG;
  std::int64_t l_llOffset = 0;
  const EOSSTS l_eossts = OsTimeParseOffsetSeconds(a_szText, &l_llOffset);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  // The UTC record goes to a time value and back by the UTC rule: the local
  // rule would shift the result by the zone's offset.
  OsTimeRecord l_timerecordNow;
  OsTimeGetUtc(&l_timerecordNow);
  std::int64_t l_llNow = 0;
  if (!TimeValueFromUtcRecord(l_timerecordNow, &l_llNow)) return OS_STS_FAIL;
  OsTimeRecord l_timerecord;
  if (OsTimeFromTimeT(l_llNow + l_llOffset, &l_timerecord) != OS_STS_SUCCESS) return OS_STS_FAIL;
  *a_ptimerecord = l_timerecord;
  return OS_STS_SUCCESS;
}

EOSSTS OsTimeRunCommand(wchar_t* a_wszCommand, HANDLE a_hOutput, std::uint32_t a_u32LimitMs, DWORD* a_pdwExitCode) {
  *a_pdwExitCode = 0;
  STARTUPINFOW l_startupinfo;
  std::memset(&l_startupinfo, 0, sizeof(l_startupinfo));
  l_startupinfo.cb = sizeof(l_startupinfo);
  if (a_hOutput != nullptr) {
    l_startupinfo.dwFlags = STARTF_USESTDHANDLES;
    l_startupinfo.hStdOutput = a_hOutput;
    l_startupinfo.hStdError = a_hOutput;
  }
  PROCESS_INFORMATION l_processinformation;
  std::memset(&l_processinformation, 0, sizeof(l_processinformation));
  if (!CreateProcessW(nullptr, a_wszCommand, nullptr, nullptr, a_hOutput != nullptr ? TRUE : FALSE,
                      CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &l_startupinfo,
                      &l_processinformation)) {
    const DWORD l_dwError = GetLastError();
    OS_LOGE("CreateProcessW failed...%d <%S>", static_cast<int>(l_dwError), a_wszCommand);
    return OS_STS_SUCCESS;
  }
  COsHandle l_hThread(l_processinformation.hThread);
  COsHandle l_hProcess(l_processinformation.hProcess);
  const DWORD l_dwWait = WaitForSingleObject(l_hProcess.Get(), a_u32LimitMs);
  if (l_dwWait != WAIT_OBJECT_0) {
    OS_LOGE("The command did not end within %u ms, ending it...<%S>", static_cast<unsigned>(a_u32LimitMs),
            a_wszCommand);
    TerminateProcess(l_hProcess.Get(), OS_TIME_ENDED_EXIT_CODE);
    // Ending is asynchronous: the child's handles (the output file's among
    // them) close only once it is gone.
    WaitForSingleObject(l_hProcess.Get(), OS_TIME_END_WAIT_MS);
    *a_pdwExitCode = OS_TIME_ENDED_EXIT_CODE;
    return OS_STS_TIMEOUT;
  }
  if (!GetExitCodeProcess(l_hProcess.Get(), a_pdwExitCode)) *a_pdwExitCode = static_cast<DWORD>(-1);
  return OS_STS_SUCCESS;
}

EOSSTS OsTimeGetNetwork(OsTimeRecord* a_ptimerecord, const char* a_szServer) {
  OS_RETURN_IF_NULL(a_ptimerecord, OS_LOG_ERROR, "a_ptimerecord is NULL...", OS_STS_BADARG);
  std::memset(a_ptimerecord, 0, sizeof(*a_ptimerecord));
  const std::uint32_t l_u32LimitMs = OsTimeNetworkSettingsGet().m_u32LimitMs;

  wchar_t l_wszServer[OS_TIME_SERVER_SIZE];
  if (a_szServer != nullptr && a_szServer[0] != 0) {
    OS_RETURN_IF(CopyStringFromUtf8(l_wszServer, OS_TIME_SERVER_SIZE, a_szServer) <= 0, OS_LOG_ERROR,
                 "The server name does not fit...<%s>", OS_STS_FAIL, a_szServer);
  } else if (ServerFromRegistry(l_wszServer, OS_TIME_SERVER_SIZE) != OS_STS_SUCCESS) {
    return OS_STS_FAIL;
  }

  COsCfg* const l_poscfg = OsCfgInstance();
  const char* const l_szPing =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_TIME_CFGTAG_PINGFORMAT) : nullptr;
  wchar_t l_wszQuoted[OS_TIME_COMMAND_SIZE];
  wchar_t l_wszCommand[OS_TIME_COMMAND_SIZE];
  OS_RETURN_IF(!QuoteArgument(l_wszQuoted, OS_TIME_COMMAND_SIZE, l_wszServer) ||
                   !PingCommand(l_wszCommand, OS_TIME_COMMAND_SIZE,
                                l_szPing != nullptr && l_szPing[0] != 0 ? l_szPing : OS_TIME_PING_FORMAT, l_wszQuoted),
               OS_LOG_ERROR, "The ping command does not fit...<%S>", OS_STS_FAIL, l_wszServer);
  DWORD l_dwExitCode = 0;
  OsTimeRunCommand(l_wszCommand, nullptr, l_u32LimitMs, &l_dwExitCode);
  OS_RETURN_IF(l_dwExitCode != 0, OS_LOG_ERROR, "Ping failed...<%S>", OS_STS_FAIL, l_wszCommand);

  if (!ToolCommand(l_wszCommand, OS_TIME_COMMAND_SIZE, l_wszServer)) return OS_STS_FAIL;

  char l_szOutput[OS_PATH_SIZE];
  const char* const l_szLogDirectory =
      l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_LOGDIRECTORY) : "";
  wchar_t l_wszOutput[OS_PATH_SIZE];
  OS_RETURN_IF(!OsFilePathJoin(l_szOutput, sizeof(l_szOutput), l_szLogDirectory, OS_TIME_OUTPUT_NAME) ||
                   CopyStringFromUtf8(l_wszOutput, OS_PATH_SIZE, l_szOutput) <= 0,
               OS_LOG_ERROR, "Couldn't create file", OS_STS_FAIL);
  // An earlier query's holders may still be letting go of it.
  RemoveOutput(l_wszOutput);
  OS_RETURN_IF(GetFileAttributesW(l_wszOutput) != INVALID_FILE_ATTRIBUTES, OS_LOG_ERROR, "Couldn't remove file",
               OS_STS_FAIL);
  SECURITY_ATTRIBUTES l_securityattributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  COutputFile l_output(l_wszOutput);
  l_output.m_h.Reset(CreateFileW(l_wszOutput, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &l_securityattributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  OS_RETURN_IF(!l_output.m_h.IsValid(), OS_LOG_ERROR, "Couldn't create file", OS_STS_FAIL);

  OsTimeRunCommand(l_wszCommand, l_output.m_h.Get(), l_u32LimitMs, &l_dwExitCode);
  OS_RETURN_IF(l_dwExitCode != 0, OS_LOG_ERROR, "Time failed...<%S>", OS_STS_FAIL, l_wszCommand);

  // The child wrote through the same file object: its position is at the end.
  char l_szText[OS_TIME_OUTPUT_BYTES + 1] = {};
  DWORD l_dwRead = 0;
  OS_RETURN_IF(SetFilePointer(l_output.m_h.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
                   !ReadFile(l_output.m_h.Get(), l_szText, OS_TIME_OUTPUT_BYTES, &l_dwRead, nullptr),
               OS_LOG_ERROR, "Couldn't read file", OS_STS_FAIL);
  l_szText[l_dwRead] = 0;
  OsTimeRecord l_timerecord;
  OS_RETURN_IF(OsTimeParseOffset(l_szText, &l_timerecord) != OS_STS_SUCCESS, OS_LOG_ERROR, "Couldn't read results",
               OS_STS_FAIL);
  *a_ptimerecord = l_timerecord;
  OS_LOGI("Network time: %04d-%02d-%02d %02d:%02d:%02d.%03d", l_timerecord.m_u16Year, l_timerecord.m_u16Month,
          l_timerecord.m_u16Day, l_timerecord.m_u16Hour, l_timerecord.m_u16Minute, l_timerecord.m_u16Second,
          l_timerecord.m_u16Millisecond);
  return OS_STS_SUCCESS;
}
