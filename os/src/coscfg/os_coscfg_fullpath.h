// What the configuration does for the file module: the one full-path
// resolution of the library, and the open access of the shared tree.
#pragma once

#include "os_sts.h"

// Resolves a_wszPath to its absolute form into a_wszBuffer (a_ulLength
// units) while holding a process-wide lock: the system's full-path call
// depends on the process's current directory. Returns what the system
// returns: the length, the size needed when it does not fit, or 0.
unsigned long LockGetFullPathName(const wchar_t* a_wszPath, wchar_t* a_wszBuffer, unsigned long a_ulLength);

// Applies the shared tree's open descriptor to a directory (mode 3 only):
// 0, or 1 on failure; a link in its place is refused, never followed.
EOSSTS OsCfgSetAccess(const char* a_szPath, int a_iMode);
