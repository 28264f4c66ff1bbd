// The host back end of the format engines: the log and memory calls they
// make, for the native tests, benchmarks and fuzzers only. The Windows
// library always links the real ones.
//
// Lines are formatted and kept in memory while a test captures them
// (OsHostLogCapture); otherwise they are dropped. Memory comes from the C
// runtime, zero-filled and exactly as large as asked: the tracked allocator's
// slack behind each block would hide an engine's overrun of its own buffers
// from the sanitizers.
#include "os_host_backend.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "os_coslog.h"
#include "os_cosmem.h"
#include "os_memnew.h"
#include "os_lasterror.h"

namespace {
COsLog s_oslog;
// Engines on workers log and allocate from several threads.
std::mutex s_mutexCapture;
std::vector<std::string>* s_pvecCapture = nullptr;
std::uint32_t s_u32Debug = 0;
std::atomic<std::uint64_t> s_u64Allocations{0};
}  // namespace

void OsHostLogCapture(std::vector<std::string>* a_pvecLines) {
  const std::lock_guard<std::mutex> l_lock(s_mutexCapture);
  s_pvecCapture = a_pvecLines;
}
void OsHostLogSetDebug(std::uint32_t a_u32Mask) { s_u32Debug = a_u32Mask; }

COsLog* OsLogInstance() { return &s_oslog; }

std::uint32_t OsLogGetDebug(COsLog*) { return s_u32Debug; }

void OsLogPrint(COsLog*, const char* a_szFile, int a_iLine, int a_iLevel, const char* a_szFormat, ...) {
  const std::lock_guard<std::mutex> l_lock(s_mutexCapture);
  if (s_pvecCapture == nullptr) return;
  (void)a_iLine;
  char l_sz[4096];
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  std::vsnprintf(l_sz, sizeof(l_sz), a_szFormat, l_valist);
  va_end(l_valist);
  const char l_cMark = a_iLevel == OS_LOG_ERROR ? 'E' : a_iLevel == OS_LOG_ASSERT ? 'A' : '.';
  s_pvecCapture->push_back(std::string(a_szFile) + " " + l_cMark + " " + l_sz);
}

void OsClearLastError() {}

// Exactly the size asked for (no engine asks for 0 bytes, for which calloc may answer null).
void* OsMemAlloc(std::uint32_t a_u32Size, const char*, int, std::uint32_t, bool, const char*) {
  ++s_u64Allocations;
  return std::calloc(1, a_u32Size);
}

std::uint64_t OsHostMemAllocations() { return s_u64Allocations; }

void OsMemFree(void* a_pv, const char*, int, std::uint32_t, bool) { std::free(a_pv); }

// The host build injects no failures.
bool OsMemInjectFailure() { return false; }
