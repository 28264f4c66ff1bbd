#include <cwchar>

#include "os_lasterror.h"
#include "os_sysinfo.h"
#include "os_win.h"

void OsClearLastError() { SetLastError(0); }

HMODULE OsSysLibraryModule() {
  HMODULE l_hmodule = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OsSysLibraryModule), &l_hmodule))
    return nullptr;
  return l_hmodule;
}

bool OsSysLibraryPath(const wchar_t* a_wszName, wchar_t* a_wszPath, unsigned a_uSize) {
  const UINT l_u = GetSystemDirectoryW(a_wszPath, a_uSize);
  const size_t l_nName = wcslen(a_wszName);
  if (l_u == 0 || l_u + 1 + l_nName + 1 > a_uSize) return false;
  a_wszPath[l_u] = L'\\';
  wmemcpy(a_wszPath + l_u + 1, a_wszName, l_nName + 1);
  return true;
}
