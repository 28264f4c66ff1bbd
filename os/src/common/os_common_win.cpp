#include <cwchar>

#include "os_lasterror.h"
#include "os_sysinfo.h"
#include "os_win.h"

void OsClearLastError() { SetLastError(0); }

bool OsSysIsVistaOrLater() {
  OSVERSIONINFOEXW l_osvi = {};
  l_osvi.dwOSVersionInfoSize = sizeof(l_osvi);
  l_osvi.dwMajorVersion = 6;
  const DWORDLONG l_dwlMask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&l_osvi, VER_MAJORVERSION, l_dwlMask) != FALSE;
}

bool OsSysIsWow64() {
#if defined(_WIN64)
  return false;
#else
  // IsWow64Process is not on every system the library supports.
  typedef BOOL(WINAPI * PfnIsWow64Process)(HANDLE, PBOOL);
  const PfnIsWow64Process l_pfn = reinterpret_cast<PfnIsWow64Process>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
  BOOL l_b = FALSE;
  return l_pfn != nullptr && l_pfn(GetCurrentProcess(), &l_b) && l_b;
#endif
}

bool OsSysIsXpOrLater() {
  OSVERSIONINFOEXW l_osvi = {};
  l_osvi.dwOSVersionInfoSize = sizeof(l_osvi);
  l_osvi.dwMajorVersion = 5;
  l_osvi.dwMinorVersion = 1;
  const DWORDLONG l_dwlMask =
      VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL), VER_MINORVERSION, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&l_osvi, VER_MAJORVERSION | VER_MINORVERSION, l_dwlMask) != FALSE;
}

bool OsSysLibraryPath(const wchar_t* a_wszName, wchar_t* a_wszPath, unsigned a_uSize) {
  const UINT l_u = GetSystemDirectoryW(a_wszPath, a_uSize);
  const size_t l_nName = wcslen(a_wszName);
  if (l_u == 0 || l_u + 1 + l_nName + 1 > a_uSize) return false;
  a_wszPath[l_u] = L'\\';
  wmemcpy(a_wszPath + l_u + 1, a_wszName, l_nName + 1);
  return true;
}
