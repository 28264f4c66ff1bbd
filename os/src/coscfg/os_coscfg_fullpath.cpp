#include "os_coscfg_fullpath.h"

#include "os_cossync.h"
#include "os_win.h"

namespace {
volatile std::uint32_t s_u32FullPathLock = 0;
}

unsigned long LockGetFullPathName(const wchar_t* a_wszPath, wchar_t* a_wszBuffer, unsigned long a_ulLength) {
  OsSyncSpinLock(&s_u32FullPathLock);
  const DWORD l_dw = GetFullPathNameW(a_wszPath, a_ulLength, a_wszBuffer, nullptr);
  OsSyncSpinUnlock(&s_u32FullPathLock);
  return l_dw;
}
