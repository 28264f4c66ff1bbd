// Environment access: every read and write of a process environment variable
// in the library goes through here, so that each failure is reported in one
// way and every value arrives as 8-bit text.
#include <cstdlib>
#include <cstdint>
#include <cstring>

#include "os_coscfg.h"
#include "os_coslocale.h"
#include "os_cosstring.h"
#include "os_cosmem.h"
#include "os_log.h"
#include "os_win.h"

namespace {

constexpr std::size_t OS_ENV_NAME_UNITS = 256;    // a 16-bit name: at most 256 characters
constexpr std::size_t OS_ENV_SETNAME_UNITS = 64;  // the 16-bit set: name of at most 64 characters
constexpr std::size_t OS_ENV_SETVALUE_UNITS = 65536;
constexpr std::size_t OS_ENV_BOOL_SIZE = 16;
constexpr std::size_t OS_ENV_NUMBER_SIZE = 32;
constexpr std::size_t OS_ENV_UNSET_SIZE = 16;
// Values up to this many 16-bit units are read on the stack: the log reads
// its directories while it writes a line, and a log call allocates nothing.
constexpr std::size_t OS_ENV_STACK_UNITS = 1024;

// The snapshot: the pair array and the one buffer that holds every text.
OsCfgEnvPair* s_aoscfgenvpair = nullptr;
std::size_t s_sizetEnvPairBytes = 0;
char* s_szEnvText = nullptr;
std::size_t s_sizetEnvTextBytes = 0;

// The snapshot's memory, from the memory manager (in its table, counters
// and trace): whole pages, so that a finished snapshot can be made read-only.
void* SnapshotAlloc(std::size_t a_sizetBytes) {
  if (a_sizetBytes > UINT32_MAX) return nullptr;
  return OsMemAlloc(static_cast<std::uint32_t>(a_sizetBytes), __FILE_NAME__, __LINE__, OS_LOG_MEM_VIRTUAL, true,
                    "environment snapshot");
}
void SnapshotFree(void* a_p) {
  if (a_p != nullptr) OsMemFree(a_p, __FILE_NAME__, __LINE__, OS_LOG_MEM_VIRTUAL, true);
}
void SnapshotSetReadOnly(void* a_p) { OsMemSetAccess(a_p, OS_MEM_ACCESS_READ); }

// Steps 5 and 6 of a read: the value was found, or the default applies.
EOSSTS FoundOrDefault(const char* a_szEnvName, const char* a_szDefault, std::size_t a_sizetBytes, char* a_szValue,
                      bool a_bFound) {
  if (a_bFound) return OS_STS_SUCCESS;
  if (a_szDefault != nullptr && std::strlen(a_szDefault) >= a_sizetBytes) {
    a_szValue[0] = 0;
    OS_LOGE("GetEnv error...<%s> <%s> %d", a_szEnvName, a_szDefault, static_cast<int>(a_sizetBytes));
    return OS_STS_TOOSMALL;
  }
  if (a_szDefault != nullptr)
    SStrCpy(a_szValue, a_sizetBytes, a_szDefault);
  else
    a_szValue[0] = 0;
  return OS_STS_SUCCESS;
}

EOSSTS GetEnvWide(const char* a_szEnvName, const char* a_szDefault, std::size_t a_sizetBytes, char* a_szValue) {
  wchar_t l_wszName[OS_ENV_NAME_UNITS + 2];
  if (CopyStringFromUtf8(l_wszName, sizeof(l_wszName) / sizeof(l_wszName[0]), a_szEnvName) == 0) {
    a_szValue[0] = 0;
    OS_LOGE("GetEnv error...<%s> <%s> %d", a_szEnvName, a_szDefault != nullptr ? a_szDefault : "",
            static_cast<int>(a_sizetBytes));
    return OS_STS_BADARG;
  }
  // A UTF-8 text of n bytes holds at most n 16-bit units: size + 1 units take
  // any value that can fit, and show one that cannot.
  const std::size_t l_sizetUnits = a_sizetBytes + 1;
  wchar_t l_awszStack[OS_ENV_STACK_UNITS];
  wchar_t* l_wszValue = l_awszStack;
  if (l_sizetUnits > OS_ENV_STACK_UNITS) {
    l_wszValue = static_cast<wchar_t*>(std::calloc(l_sizetUnits, sizeof(wchar_t)));
    if (l_wszValue == nullptr) {
      a_szValue[0] = 0;
      OS_LOGA("calloc failed...<%s> %d", a_szEnvName, static_cast<int>(a_sizetBytes));
      return OS_STS_TOOSMALL;
    }
  }
  l_wszValue[0] = 0;
  const DWORD l_dwUnits = GetEnvironmentVariableW(l_wszName, l_wszValue, static_cast<DWORD>(l_sizetUnits));
  SetLastError(0);
  EOSSTS l_eossts = OS_STS_SUCCESS;
  if (l_dwUnits >= l_sizetUnits) {
    a_szValue[0] = 0;
    OS_LOGE("GetEnv error, buffer too small...<%s> (%d > %d)", a_szEnvName, static_cast<int>(l_dwUnits),
            static_cast<int>(a_sizetBytes));
    l_eossts = OS_STS_TOOSMALL;
  } else if (l_dwUnits > 0) {
    const int l_iNeeded = WideCharToMultiByte(CP_UTF8, 0, l_wszValue, -1, nullptr, 0, nullptr, nullptr);
    if (l_iNeeded <= 0 || static_cast<std::size_t>(l_iNeeded) > a_sizetBytes) {
      a_szValue[0] = 0;
      OS_LOGE("GetEnv error, buffer too small...<%s> (%d > %d)", a_szEnvName, l_iNeeded,
              static_cast<int>(a_sizetBytes));
      l_eossts = OS_STS_TOOSMALL;
    } else {
      // The size was checked: the plain conversion, not the room rule, applies.
      WideCharToMultiByte(CP_UTF8, 0, l_wszValue, -1, a_szValue, static_cast<int>(a_sizetBytes), nullptr, nullptr);
      SetLastError(0);
    }
  } else {
    l_eossts = FoundOrDefault(a_szEnvName, a_szDefault, a_sizetBytes, a_szValue, false);
  }
  if (l_wszValue != l_awszStack) std::free(l_wszValue);
  return l_eossts;
}

}  // namespace

EOSSTS OsCfgGetEnv(const char* a_szEnvName, const char* a_szDefault, std::size_t a_sizetBytes, char* a_szValue,
                   bool a_bUnicode) {
  OS_RETURN_IF_NULL(a_szEnvName, OS_LOG_ERROR, "a_szEnvName is null", OS_STS_BADARG);
  OS_RETURN_IF(a_szEnvName[0] == 0, OS_LOG_ERROR, "a_szEnvName is empty", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szValue, OS_LOG_ERROR, "a_szValue is null...<%s>", OS_STS_BADARG, a_szEnvName);
  OS_RETURN_IF(a_sizetBytes <= 1, OS_LOG_ERROR, "a_sizetBytes <= 1...<%s> %d", OS_STS_BADARG, a_szEnvName,
               static_cast<int>(a_sizetBytes));
  if (a_bUnicode) return GetEnvWide(a_szEnvName, a_szDefault, a_sizetBytes, a_szValue);

  const DWORD l_dwSize = a_sizetBytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(a_sizetBytes);
  a_szValue[0] = 0;
  const DWORD l_dw = GetEnvironmentVariableA(a_szEnvName, a_szValue, l_dwSize);
  SetLastError(0);
  if (l_dw >= l_dwSize) {
    a_szValue[0] = 0;
    OS_LOGE("GetEnv error, buffer too small...<%s> (%d > %d)", a_szEnvName, static_cast<int>(l_dw),
            static_cast<int>(a_sizetBytes));
    return OS_STS_TOOSMALL;
  }
  // Zero is both "missing" and "set to an empty text": each gives the default.
  return FoundOrDefault(a_szEnvName, a_szDefault, a_sizetBytes, a_szValue, l_dw > 0);
}

bool OsCfgGetEnvBool(const char* a_szEnvName, bool a_bDefault) {
  OS_RETURN_IF_NULL(a_szEnvName, OS_LOG_ASSERT, "a_szEnvName is null...", false);
  char l_szValue[OS_ENV_BOOL_SIZE];
  if (OsCfgGetEnv(a_szEnvName, a_bDefault ? "true" : "false", sizeof(l_szValue), l_szValue, false) != OS_STS_SUCCESS)
    return a_bDefault;
  if (_stricmp(l_szValue, "false") == 0 || std::strcmp(l_szValue, "0") == 0) return false;
  if (_stricmp(l_szValue, "true") == 0 || std::strcmp(l_szValue, "1") == 0) return true;
  OS_LOGA("unrecognized value...<%s>, returning default...%d", l_szValue, a_bDefault ? 1 : 0);
  return a_bDefault;
}

int OsCfgGetEnvNumber(const char* a_szEnvName, int a_iDefault) {
  OS_RETURN_IF_NULL(a_szEnvName, OS_LOG_ASSERT, "a_szEnvName is null...", 0);
  char l_szDefault[OS_ENV_NUMBER_SIZE];
  SStrPrintf(l_szDefault, sizeof(l_szDefault), "%d", a_iDefault);
  char l_szValue[OS_ENV_NUMBER_SIZE];
  if (OsCfgGetEnv(a_szEnvName, l_szDefault, sizeof(l_szValue), l_szValue, false) != OS_STS_SUCCESS) return a_iDefault;
  return std::atoi(l_szValue);
}

int OsCfgIsEnvUnset(const char* a_szEnvName) {
  OS_RETURN_IF_NULL(a_szEnvName, OS_LOG_ASSERT, "a_szEnvName is null...", 1);
  char l_szValue[OS_ENV_UNSET_SIZE];
  // A variable set to an empty text reads as 0 too, without touching the
  // last error: only the system's "not found" means unset.
  SetLastError(0);
  const DWORD l_dw = GetEnvironmentVariableA(a_szEnvName, l_szValue, sizeof(l_szValue));
  return l_dw == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND ? 1 : 0;
}

EOSSTS OsCfgSetEnv(const char* a_szEnvName, const char* a_szValue) {
  OS_RETURN_IF_NULL(a_szEnvName, OS_LOG_ERROR, "SetEnv bad arg...", OS_STS_BADARG);
  if (a_szValue == nullptr) {
    SetEnvironmentVariableA(a_szEnvName, nullptr);
    return OS_STS_SUCCESS;
  }
  if (!SetEnvironmentVariableA(a_szEnvName, a_szValue)) {
    OS_LOGE("SetEnv error...<%s> <%s>", a_szEnvName, a_szValue);
    return OS_STS_TOOSMALL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS OsCfgSetEnvW(const char* a_szEnvName, const char* a_szValue) {
  OS_RETURN_IF_NULL(a_szEnvName, OS_LOG_ERROR, "SetEnv bad arg...", OS_STS_BADARG);
  wchar_t l_wszName[OS_ENV_SETNAME_UNITS + 2];
  if (CopyStringFromUtf8(l_wszName, sizeof(l_wszName) / sizeof(l_wszName[0]), a_szEnvName) == 0) {
    OS_LOGE("SetEnv error...<%s> <%s>", a_szEnvName, a_szValue != nullptr ? a_szValue : "");
    return OS_STS_TOOSMALL;
  }
  if (a_szValue == nullptr) {
    SetEnvironmentVariableW(l_wszName, nullptr);
    return OS_STS_SUCCESS;
  }
  wchar_t* const l_wszValue = static_cast<wchar_t*>(std::calloc(OS_ENV_SETVALUE_UNITS + 2, sizeof(wchar_t)));
  if (l_wszValue == nullptr) {
    OS_LOGE("calloc failed...<%s> <%s>", a_szEnvName, a_szValue);
    return OS_STS_TOOSMALL;
  }
  EOSSTS l_eossts = OS_STS_SUCCESS;
  if (CopyStringFromUtf8(l_wszValue, OS_ENV_SETVALUE_UNITS + 2, a_szValue) == 0 ||
      !SetEnvironmentVariableW(l_wszName, l_wszValue)) {
    OS_LOGE("SetEnv error...<%s> <%s>", a_szEnvName, a_szValue);
    l_eossts = OS_STS_TOOSMALL;
  }
  std::free(l_wszValue);
  return l_eossts;
}

void OsCfgFreeEnvSnapshot() {
  SnapshotFree(s_aoscfgenvpair);
  SnapshotFree(s_szEnvText);
  s_aoscfgenvpair = nullptr;
  s_szEnvText = nullptr;
  s_sizetEnvPairBytes = 0;
  s_sizetEnvTextBytes = 0;
}

const OsCfgEnvPair* OsCfgGetEnvSnapshot() {
  OsCfgFreeEnvSnapshot();
  wchar_t* const l_wszBlock = GetEnvironmentStringsW();
  if (l_wszBlock == nullptr) {
    const DWORD l_dwError = GetLastError();
    OS_LOGE("GetEnvironmentStringsW failed...%d", static_cast<int>(l_dwError));
    return nullptr;
  }
  std::size_t l_sizetEntries = 0;
  std::size_t l_sizetText = 0;
  for (const wchar_t* l_wsz = l_wszBlock; *l_wsz != 0; l_wsz += wcslen(l_wsz) + 1) {
    const int l_i = WideCharToMultiByte(CP_UTF8, 0, l_wsz, -1, nullptr, 0, nullptr, nullptr);
    if (l_i > 0) l_sizetText += static_cast<std::size_t>(l_i);
    ++l_sizetEntries;
  }
  s_sizetEnvTextBytes = l_sizetText + l_sizetEntries + 1;
  s_sizetEnvPairBytes = (l_sizetEntries + 1) * sizeof(OsCfgEnvPair);
  s_szEnvText = static_cast<char*>(SnapshotAlloc(s_sizetEnvTextBytes));
  s_aoscfgenvpair = static_cast<OsCfgEnvPair*>(SnapshotAlloc(s_sizetEnvPairBytes));
  if (s_szEnvText == nullptr || s_aoscfgenvpair == nullptr) {
    OS_LOGA("OsMemAlloc failed...");
    OsCfgFreeEnvSnapshot();
    FreeEnvironmentStringsW(l_wszBlock);
    return nullptr;
  }
  char* l_szText = s_szEnvText;
  std::size_t l_sizetLeft = s_sizetEnvTextBytes;
  std::size_t l_sizetPair = 0;
  for (const wchar_t* l_wsz = l_wszBlock; *l_wsz != 0; l_wsz += wcslen(l_wsz) + 1) {
    if (l_wsz[0] == L'=') continue;  // the per-drive current directories: no name
    const int l_i = CopyUtf8FromUnicode(l_szText, l_sizetLeft, l_wsz, -1);
    if (l_i <= 0) continue;
    char* const l_szEquals = std::strchr(l_szText, '=');
    s_aoscfgenvpair[l_sizetPair].m_szName = l_szText;
    if (l_szEquals != nullptr) {
      *l_szEquals = 0;
      s_aoscfgenvpair[l_sizetPair].m_szValue = l_szEquals + 1;
    } else {
      s_aoscfgenvpair[l_sizetPair].m_szValue = l_szText + l_i - 1;  // its terminator: an empty value
    }
    ++l_sizetPair;
    l_szText += l_i;
    l_sizetLeft -= static_cast<std::size_t>(l_i);
  }
  s_aoscfgenvpair[l_sizetPair].m_szName = nullptr;
  s_aoscfgenvpair[l_sizetPair].m_szValue = nullptr;
  FreeEnvironmentStringsW(l_wszBlock);
  SnapshotSetReadOnly(s_szEnvText);
  SnapshotSetReadOnly(s_aoscfgenvpair);
  return s_aoscfgenvpair;
}

char* OsCfgGetEnvWhole(const char* a_szEnvName, bool a_bUnicode) {
  OS_RETURN_IF(a_szEnvName == nullptr || a_szEnvName[0] == 0, OS_LOG_ASSERT, "a_szEnvName is null...", nullptr);
  char* l_szValue = nullptr;
  if (!a_bUnicode) {
    const DWORD l_dwSize = GetEnvironmentVariableA(a_szEnvName, nullptr, 0);
    l_szValue = l_dwSize != 0 ? static_cast<char*>(std::malloc(l_dwSize)) : nullptr;
    // The value can change between the two calls: a value that no longer fits is not taken.
    if (l_szValue != nullptr && GetEnvironmentVariableA(a_szEnvName, l_szValue, l_dwSize) >= l_dwSize) {
      std::free(l_szValue);
      l_szValue = nullptr;
    }
    SetLastError(0);
    return l_szValue;
  }
  wchar_t l_wszName[OS_ENV_NAME_UNITS + 1];
  if (CopyStringFromUtf8(l_wszName, OS_ENV_NAME_UNITS + 1, a_szEnvName) <= 0) return nullptr;
  const DWORD l_dwUnits = GetEnvironmentVariableW(l_wszName, nullptr, 0);
  wchar_t* const l_wszValue =
      l_dwUnits != 0 ? static_cast<wchar_t*>(std::malloc(static_cast<std::size_t>(l_dwUnits) * sizeof(wchar_t)))
                     : nullptr;
  if (l_wszValue != nullptr && GetEnvironmentVariableW(l_wszName, l_wszValue, l_dwUnits) < l_dwUnits) {
    const int l_iBytes = WideCharToMultiByte(CP_UTF8, 0, l_wszValue, -1, nullptr, 0, nullptr, nullptr);
    l_szValue = l_iBytes > 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(l_iBytes))) : nullptr;
    if (l_szValue != nullptr &&
        WideCharToMultiByte(CP_UTF8, 0, l_wszValue, -1, l_szValue, l_iBytes, nullptr, nullptr) != l_iBytes) {
      std::free(l_szValue);
      l_szValue = nullptr;
    }
  }
  std::free(l_wszValue);
  SetLastError(0);
  return l_szValue;
}

bool OsCfgEnvBeginsWith(const char* a_szEnvName, char a_c) {
  char* const l_szValue = OsCfgGetEnvWhole(a_szEnvName, false);
  const bool l_b = l_szValue != nullptr && l_szValue[0] == a_c;
  std::free(l_szValue);
  return l_b;
}
