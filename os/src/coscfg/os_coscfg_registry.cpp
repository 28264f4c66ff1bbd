// Registry reads: one value by a key path whose last part names the value.
#include <cstdlib>
#include <cstring>

#include "os_coscfg.h"
#include "os_coslocale.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_win.h"

namespace {

constexpr std::size_t OS_REGISTRY_PATH_SIZE = 256;

bool IsTextType(DWORD a_dwType) { return a_dwType == REG_SZ || a_dwType == REG_EXPAND_SZ || a_dwType == REG_MULTI_SZ; }

// A text value read with the 16-bit call, handed over as UTF-8. A text that
// does not fit counts as a value that cannot be read.
LSTATUS QueryText(HKEY a_hkey, const wchar_t* a_wszValue, DWORD a_dwType, DWORD a_dwBytes, char* a_szBuffer,
                  std::size_t a_sizetBytes) {
  const DWORD l_dwUnits = a_dwBytes / sizeof(wchar_t) + 1;
  wchar_t* const l_wszText = static_cast<wchar_t*>(std::calloc(l_dwUnits, sizeof(wchar_t)));
  if (l_wszText == nullptr) return ERROR_OUTOFMEMORY;
  DWORD l_dwBytes = a_dwBytes;
  LSTATUS l_lstatus =
      RegQueryValueExW(a_hkey, a_wszValue, nullptr, nullptr, reinterpret_cast<BYTE*>(l_wszText), &l_dwBytes);
  if (l_lstatus == ERROR_SUCCESS) {
    int l_iUnits = static_cast<int>(l_dwBytes / sizeof(wchar_t));
    // A single text loses its stored terminators; a list keeps its inner ones.
    if (a_dwType != REG_MULTI_SZ)
      while (l_iUnits > 0 && l_wszText[l_iUnits - 1] == 0) --l_iUnits;
    if (l_iUnits == 0)
      a_szBuffer[0] = 0;
    else if (CopyUtf8FromUnicode(a_szBuffer, a_sizetBytes, l_wszText, l_iUnits) == 0)
      l_lstatus = ERROR_MORE_DATA;
  }
  std::free(l_wszText);
  return l_lstatus;
}

}  // namespace

EOSSTS OsCfgReadRegistry(EOSCFGREGISTRY a_eoscfgregistry, const char* a_szKey, void* a_pBuffer,
                         std::size_t a_sizetBytes, bool a_bKeepPath) {
  OS_RETURN_IF_NULL(a_szKey, OS_LOG_ERROR, "bad a_szKey...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pBuffer, OS_LOG_ERROR, "bad a_szBuffer...", OS_STS_BADARG);
  OS_RETURN_IF(a_eoscfgregistry != OS_CFG_REGISTRY_LOCALMACHINE && a_eoscfgregistry != OS_CFG_REGISTRY_CURRENTUSER,
               OS_LOG_ERROR, "bad a_eoscfgregistry...%d", OS_STS_BADARG, static_cast<int>(a_eoscfgregistry));
  // A path that does not fit is refused, not read cut short: the cut path
  // would name another value.
  OS_RETURN_IF(std::strlen(a_szKey) >= OS_REGISTRY_PATH_SIZE, OS_LOG_ERROR, "bad a_szKey...", OS_STS_BADARG);
  OS_RETURN_IF(a_sizetBytes == 0 || a_sizetBytes > MAXDWORD, OS_LOG_ERROR, "bad a_szBuffer...", OS_STS_BADARG);

  char l_szPath[OS_REGISTRY_PATH_SIZE];
  SStrCpy(l_szPath, sizeof(l_szPath), a_szKey);
  if (!a_bKeepPath)
    for (char* l_psz = l_szPath; *l_psz != 0; ++l_psz)
      if (*l_psz == '/') *l_psz = '\\';
  const char* l_szValueName = nullptr;
  char* const l_pszLast = std::strrchr(l_szPath, '\\');
  if (l_pszLast != nullptr) {
    *l_pszLast = 0;
    l_szValueName = l_pszLast + 1;
  }
  wchar_t l_wszKey[OS_REGISTRY_PATH_SIZE + 1];
  wchar_t l_wszValue[OS_REGISTRY_PATH_SIZE + 1];
  l_wszValue[0] = 0;
  if (CopyStringFromUtf8(l_wszKey, OS_REGISTRY_PATH_SIZE + 1, l_szPath) == 0 ||
      (l_szValueName != nullptr && CopyStringFromUtf8(l_wszValue, OS_REGISTRY_PATH_SIZE + 1, l_szValueName) == 0)) {
    OS_LOGE("bad a_szKey...");
    return OS_STS_BADARG;
  }

  HKEY const l_hkeyRoot = a_eoscfgregistry == OS_CFG_REGISTRY_LOCALMACHINE ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY l_hkeyOpened = nullptr;
  const LSTATUS l_lstatusOpen = RegOpenKeyExW(l_hkeyRoot, l_wszKey, 0, KEY_QUERY_VALUE, &l_hkeyOpened);
  if (l_lstatusOpen != ERROR_SUCCESS) {
    OS_LOGI("RegOpenKeyEx failed...%d <%s>", static_cast<int>(l_lstatusOpen), l_szPath);
    return OS_STS_BADARG;
  }
  COsRegKey l_hkey(l_hkeyOpened);
  const wchar_t* const l_wszValueName = l_szValueName != nullptr ? l_wszValue : nullptr;

  DWORD l_dwType = 0;
  DWORD l_dwBytes = 0;
  LSTATUS l_lstatus = RegQueryValueExW(l_hkey.Get(), l_wszValueName, nullptr, &l_dwType, nullptr, &l_dwBytes);
  if (l_lstatus == ERROR_SUCCESS) {
    if (IsTextType(l_dwType)) {
      l_lstatus =
          QueryText(l_hkey.Get(), l_wszValueName, l_dwType, l_dwBytes, static_cast<char*>(a_pBuffer), a_sizetBytes);
    } else {
      DWORD l_dwSize = static_cast<DWORD>(a_sizetBytes);
      l_lstatus =
          RegQueryValueExW(l_hkey.Get(), l_wszValueName, nullptr, nullptr, static_cast<BYTE*>(a_pBuffer), &l_dwSize);
    }
  }
  if (l_lstatus != ERROR_SUCCESS) {
    OS_LOGI("RegQueryValueEx failed...%d <%s> <%s>", static_cast<int>(l_lstatus), l_szPath,
            l_szValueName != nullptr ? l_szValueName : "");
    return OS_STS_BADARG;
  }
  return OS_STS_SUCCESS;
}
