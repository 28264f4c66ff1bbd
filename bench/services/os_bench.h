// What the services benchmarks share: the clock, a start line for several
// threads, the target's name and the table's cells.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "os_types.h"

inline double OsBenchSeconds() {
  LARGE_INTEGER l_liNow, l_liFrequency;
  QueryPerformanceCounter(&l_liNow);
  QueryPerformanceFrequency(&l_liFrequency);
  return static_cast<double>(l_liNow.QuadPart) / static_cast<double>(l_liFrequency.QuadPart);
}

inline const char* OsBenchTarget() { return sizeof(void*) == 8 ? "x86_64" : "i686"; }

inline int OsBenchProcessors() {
  SYSTEM_INFO l_si;
  GetSystemInfo(&l_si);
  return l_si.dwNumberOfProcessors > 0 ? static_cast<int>(l_si.dwNumberOfProcessors) : 1;
}

// Runs a_fn(thread index) on a_iThreads threads that all start together and
// returns the seconds from the start to the end of the last one. Thread
// creation is outside the measured time: every thread waits on one event.
template <class F>
double OsBenchRunThreads(int a_iThreads, F a_fn) {
  if (a_iThreads <= 1) {
    const double l_dFrom = OsBenchSeconds();
    a_fn(0);
    return OsBenchSeconds() - l_dFrom;
  }
  HANDLE const l_hevtGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  volatile LONG l_lReady = 0;
  std::vector<std::thread> l_threads;
  for (int l_i = 0; l_i < a_iThreads; ++l_i)
    l_threads.emplace_back([&, l_i] {
      InterlockedIncrement(&l_lReady);
      WaitForSingleObject(l_hevtGo, INFINITE);
      a_fn(l_i);
    });
  while (l_lReady < a_iThreads) Sleep(1);
  Sleep(10);  // every thread is in its wait, not merely past the count
  const double l_dFrom = OsBenchSeconds();
  SetEvent(l_hevtGo);
  for (std::thread& l_thread : l_threads) l_thread.join();
  const double l_dSeconds = OsBenchSeconds() - l_dFrom;
  CloseHandle(l_hevtGo);
  return l_dSeconds;
}

// The share of a_iTotal that thread a_iThread of a_iThreads does (the shares
// add up to a_iTotal).
inline long long OsBenchShare(long long a_llTotal, int a_iThread, int a_iThreads) {
  return a_llTotal * (a_iThread + 1) / a_iThreads - a_llTotal * a_iThread / a_iThreads;
}

// "1,234,567": figures of several magnitudes stay readable in one column.
inline const char* OsBenchGrouped(char (&a_sz)[32], double a_d) {
  char l_szDigits[32];
  std::snprintf(l_szDigits, sizeof(l_szDigits), "%.0f", a_d);
  const std::size_t l_sizet = std::strlen(l_szDigits);
  std::size_t l_sizetOut = 0;
  for (std::size_t l_i = 0; l_i < l_sizet && l_sizetOut + 2 < sizeof(a_sz); ++l_i) {
    if (l_i > 0 && (l_sizet - l_i) % 3 == 0) a_sz[l_sizetOut++] = ',';
    a_sz[l_sizetOut++] = l_szDigits[l_i];
  }
  a_sz[l_sizetOut] = 0;
  return a_sz;
}

// One table line; the header is left out when the caller prints only rows
// (the script prints the header once for both targets).
inline void OsBenchLine(const char* a_szFormat, ...) OS_FORMAT_PRINTF(1, 2);
inline void OsBenchLine(const char* a_szFormat, ...) {
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  std::vprintf(a_szFormat, l_valist);
  va_end(l_valist);
  std::fflush(stdout);
}

// The command line: [rounds] [rows | parts]. "rows" prints the table's rows
// only; "parts" measures instead where one operation's time goes.
struct OsBenchOptions {
  int m_iRounds = 3;
  bool m_bRowsOnly = false;
  bool m_bParts = false;
};

inline OsBenchOptions OsBenchParse(int argc, char** argv) {
  OsBenchOptions l_options;
  for (int l_i = 1; l_i < argc; ++l_i) {
    if (std::strcmp(argv[l_i], "rows") == 0)
      l_options.m_bRowsOnly = true;
    else if (std::strcmp(argv[l_i], "parts") == 0)
      l_options.m_bParts = true;
    else if (std::atoi(argv[l_i]) > 0)
      l_options.m_iRounds = std::atoi(argv[l_i]);
  }
  return l_options;
}
