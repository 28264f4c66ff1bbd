// The second process of the shared-memory tests: opens a file that the test
// process mapped (OS_SHAREDALLOC_OPEN), checks the text the test wrote at
// the start, writes its reply at byte 500 and releases the item.
//   os_cosmem_peer <path> <size> <view> <flags> <expected text> <reply>
// Prints "size=<item size> view=<view size>"; the exit code says what failed
// (0 nothing, 1 arguments, 2 the allocation, 3 the text, 4 the lookup).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os_cosmem.h"

const char* g_szOsServicesArguments =
    "<arguments>\n\t<uniquename>peer</uniquename>\n\t<entity>application</entity>\n</arguments>";

int main(int a_iArgs, char** a_aszArg) {
  if (a_iArgs != 7) return 1;
  COsMem* const l_posmem = OsMemCreate(OS_MEM_METHOD_MALLOC, true);
  if (l_posmem == nullptr) return 2;
  const std::int32_t l_i32Size = static_cast<std::int32_t>(std::strtol(a_aszArg[2], nullptr, 0));
  const std::int32_t l_i32View = static_cast<std::int32_t>(std::strtol(a_aszArg[3], nullptr, 0));
  const std::uint32_t l_u32Flags = static_cast<std::uint32_t>(std::strtoul(a_aszArg[4], nullptr, 0));
  char* const l_pc = static_cast<char*>(OsMemSharedAlloc(OS_SHAREDALLOC_OPEN, a_aszArg[1], l_i32Size, 0, l_i32View,
                                                         OS_SHAREDLOCK_NONE, l_u32Flags, __FILE_NAME__, __LINE__));
  int l_iExit = 0;
  OsMemSettings l_settings;
  if (l_pc == nullptr) {
    l_iExit = 2;
  } else if (OsMemFindByAddress(l_pc, &l_settings, true) != OS_STS_SUCCESS) {
    l_iExit = 4;
  } else {
    std::printf("size=%u view=%u\n", static_cast<unsigned>(l_settings.m_u32Size),
                static_cast<unsigned>(l_settings.m_u32ViewSize));
    const std::size_t l_sizetExpected = std::strlen(a_aszArg[5]);
    if (l_settings.m_u32ViewSize < 500 + std::strlen(a_aszArg[6]) + 1 ||
        std::memcmp(l_pc, a_aszArg[5], l_sizetExpected + 1) != 0)
      l_iExit = 3;
    else
      std::memcpy(l_pc + 500, a_aszArg[6], std::strlen(a_aszArg[6]) + 1);
  }
  if (l_pc != nullptr) OS_MEM_FREE(l_pc);
  std::fflush(stdout);
  OsMemDestroy(l_posmem);
  return l_iExit;
}
