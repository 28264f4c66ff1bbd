// The log and memory calls the format engines make, for qrxpkg on Linux:
// the library's log and tracked allocator are Windows code.
//
// Log lines are dropped unless --verbose asked for them on standard error.
// Memory comes zero-filled from the C runtime, as the tracked allocator
// gives it.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "os_coslog.h"
#include "os_cosmem.h"
#include "qrxpkg_posix.h"

// Declared in the library's private headers: the bounded strings clear the
// thread's last system error, and the engines' object creation asks whether
// a test made it fail.
void OsClearLastError();
bool OsMemInjectFailure();

namespace {
COsLog s_oslog;
bool s_bVerbose = false;
}  // namespace

void QrxPkgPosixSetVerbose(bool a_bVerbose) { s_bVerbose = a_bVerbose; }

COsLog* OsLogInstance() { return &s_oslog; }

// Non-zero while verbose, so that the informational lines are prepared too.
std::uint32_t OsLogGetDebug(COsLog*) { return s_bVerbose ? OS_LOG_INFO : 0; }

void OsLogPrint(COsLog*, const char* a_szFile, int a_iLine, int a_iLevel, const char* a_szFormat, ...) {
  if (!s_bVerbose) return;
  char l_sz[4096];
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  std::vsnprintf(l_sz, sizeof(l_sz), a_szFormat, l_valist);
  va_end(l_valist);
  const char l_cMark = a_iLevel == OS_LOG_ERROR ? 'E' : a_iLevel == OS_LOG_ASSERT ? 'A' : '.';
  std::fprintf(stderr, "qrxpkg: %s(%d) %c %s\n", a_szFile, a_iLine, l_cMark, l_sz);
}

// Linux keeps no per-thread last error of its own beside errno, which the
// callers here never read after a log or string call.
void OsClearLastError() {}

// No engine asks for 0 bytes, for which calloc may answer null.
void* OsMemAlloc(std::uint32_t a_u32Size, const char*, int, std::uint32_t, bool, const char*) {
  return std::calloc(1, a_u32Size);
}

void OsMemFree(void* a_pv, const char*, int, std::uint32_t, bool) { std::free(a_pv); }

// Only the Windows tests inject failures.
bool OsMemInjectFailure() { return false; }
