// 64-byte blocks through the tracked memory manager (OsMemAlloc and
// OsMemFree, no log) against malloc and free in the same run, with 10, 500
// and 1,000 blocks live, on 1 and 4 threads. Every thread keeps its share of
// the live blocks in a ring and replaces the oldest one per step: a free and
// an allocation, the pair that is measured.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "os_bench.h"
#include "os_cosmem.h"
#include "os_cossync.h"

// The library's start-up reads it; this program never starts the services.
const char* g_szOsServicesArguments =
    "<arguments><uniquename>benchmem</uniquename><entity>application</entity></arguments>";

namespace {

constexpr int OS_BENCH_THREADS[] = {1, 4};
constexpr int OS_BENCH_LIVE[] = {10, 500, 1000};
constexpr std::uint32_t OS_BENCH_BLOCK = 64;
// Measured time of the manager's case in one round; the counts follow it.
constexpr double OS_BENCH_SECONDS = 0.5;
constexpr double OS_BENCH_GOAL_RATIO = 3.0;  // at 10 live blocks
constexpr int OS_BENCH_GOAL_LIVE = 10;

struct OsBenchTracked {
  static void* Alloc() { return OS_MEM_ALLOC(OS_BENCH_BLOCK, "bench"); }
  static void Free(void* a_pv) { OS_MEM_FREE(a_pv); }
};

struct OsBenchMalloc {
  static void* Alloc() { return std::malloc(OS_BENCH_BLOCK); }
  static void Free(void* a_pv) { std::free(a_pv); }
};

// a_llPairs replacements spread over a_iThreads threads, a_iLive blocks live
// in all; the seconds they took. Blocks are touched, as a caller would.
template <class A>
double Run(int a_iThreads, int a_iLive, long long a_llPairs, volatile LONG* a_plFailed) {
  std::vector<std::vector<void*>> l_rings(static_cast<std::size_t>(a_iThreads));
  for (int l_i = 0; l_i < a_iThreads; ++l_i) {
    l_rings[l_i].resize(static_cast<std::size_t>(std::max<long long>(1, OsBenchShare(a_iLive, l_i, a_iThreads))));
    for (void*& l_pv : l_rings[l_i]) l_pv = A::Alloc();
  }
  const double l_d = OsBenchRunThreads(a_iThreads, [&](int a_iThread) {
    std::vector<void*>& l_ring = l_rings[a_iThread];
    const std::size_t l_sizetRing = l_ring.size();
    const long long l_ll = OsBenchShare(a_llPairs, a_iThread, a_iThreads);
    std::size_t l_sizet = 0;
    for (long long l_i = 0; l_i < l_ll; ++l_i) {
      A::Free(l_ring[l_sizet]);
      char* const l_pc = static_cast<char*>(A::Alloc());
      if (l_pc == nullptr) {
        l_ring[l_sizet] = nullptr;  // already freed
        InterlockedIncrement(a_plFailed);
        return;
      }
      l_pc[0] = static_cast<char>(l_i);
      l_ring[l_sizet] = l_pc;
      if (++l_sizet == l_sizetRing) l_sizet = 0;
    }
  });
  for (std::vector<void*>& l_ring : l_rings)
    for (void* l_pv : l_ring)
      if (l_pv != nullptr) A::Free(l_pv);
  return l_d;
}

// The manager's table as it keeps it: addresses in a fixed array, a free
// entry holds null. A free scans for the block's address twice (the lookup,
// then the removal), an allocation for the first null; this repeats the
// three scans alone, without the heap.
struct OsBenchTable {
  void* m_apv[OS_MEM_TABLE_SIZE] = {};
  int IndexOf(const void* a_pv) const {
    for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i)
      if (m_apv[l_i] == a_pv) return l_i;
    return -1;
  }
};

// One thread, a_iLive blocks: seconds for a_llPairs replacements by each
// part on its own.
double TimeScans(int a_iLive, long long a_llPairs) {
  OsBenchTable* const l_ptable = new OsBenchTable;
  std::vector<std::uintptr_t> l_ring(static_cast<std::size_t>(a_iLive));
  std::uintptr_t l_uNext = 0x1000;
  for (std::uintptr_t& l_u : l_ring) {
    l_u = l_uNext;
    l_uNext += 0x80;
    l_ptable->m_apv[l_ptable->IndexOf(nullptr)] = reinterpret_cast<void*>(l_u);
  }
  const double l_dFrom = OsBenchSeconds();
  std::size_t l_sizet = 0;
  for (long long l_i = 0; l_i < a_llPairs; ++l_i) {
    void* const l_pvOld = reinterpret_cast<void*>(l_ring[l_sizet]);
    if (l_ptable->IndexOf(l_pvOld) < 0) break;
    const int l_iOld = l_ptable->IndexOf(l_pvOld);
    if (l_iOld >= 0) l_ptable->m_apv[l_iOld] = nullptr;
    l_ring[l_sizet] = l_uNext;
    l_uNext += 0x80;
    const int l_iNew = l_ptable->IndexOf(nullptr);
    if (l_iNew >= 0) l_ptable->m_apv[l_iNew] = reinterpret_cast<void*>(l_ring[l_sizet]);
    if (++l_sizet == l_ring.size()) l_sizet = 0;
  }
  const double l_d = OsBenchSeconds() - l_dFrom;
  delete l_ptable;
  return l_d;
}

struct OsBenchCalloc {
  static void* Alloc() { return std::calloc(1, OS_BENCH_BLOCK + 64); }  // what the manager asks the heap for
  static void Free(void* a_pv) { std::free(a_pv); }
};

// Where a pair's time goes on one thread: the heap calls the manager makes
// (a zeroed block with its 64 bytes of slack), its spin lock twice, the three
// table scans; the rest is the bookkeeping around them (counters, the
// entry's fields and name, the log and heap-check tests).
void PrintParts() {
  constexpr long long l_llPairs = 2000000;
  volatile LONG l_lFailed = 0;
  OsBenchLine("\n%s, one thread: where a pair's time goes (ns a pair)\n", OsBenchTarget());
  OsBenchLine("  %5s %9s %9s %14s %9s %9s %9s\n", "live", "OsMem", "malloc", "calloc(128)", "2 locks", "3 scans",
              "rest");
  for (const int l_iLive : OS_BENCH_LIVE) {
    const double l_dScale = 1e9 / static_cast<double>(l_llPairs);
    double l_dTracked = 1e9, l_dMalloc = 1e9, l_dCalloc = 1e9, l_dLocks = 1e9, l_dScans = 1e9;
    for (int l_iRound = 0; l_iRound < 3; ++l_iRound) {
      l_dTracked = std::min(l_dTracked, Run<OsBenchTracked>(1, l_iLive, l_llPairs, &l_lFailed));
      l_dMalloc = std::min(l_dMalloc, Run<OsBenchMalloc>(1, l_iLive, l_llPairs, &l_lFailed));
      l_dCalloc = std::min(l_dCalloc, Run<OsBenchCalloc>(1, l_iLive, l_llPairs, &l_lFailed));
      volatile std::uint32_t l_u32Lock = 0;
      const double l_dFrom = OsBenchSeconds();
      for (long long l_i = 0; l_i < 2 * l_llPairs; ++l_i) {
        OsSyncSpinLock(&l_u32Lock);
        OsSyncSpinUnlock(&l_u32Lock);
      }
      l_dLocks = std::min(l_dLocks, OsBenchSeconds() - l_dFrom);
      l_dScans = std::min(l_dScans, TimeScans(l_iLive, l_llPairs));
    }
    OsBenchLine("  %5d %9.1f %9.1f %14.1f %9.1f %9.1f %9.1f\n", l_iLive, l_dTracked * l_dScale, l_dMalloc * l_dScale,
                l_dCalloc * l_dScale, l_dLocks * l_dScale, l_dScans * l_dScale,
                (l_dTracked - l_dCalloc - l_dLocks - l_dScans) * l_dScale);
  }
}

struct OsBenchBest {
  long long m_llPairs = 0;
  double m_dTracked = 0;  // pairs per second, the best round
  double m_dMalloc = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const OsBenchOptions l_options = OsBenchParse(argc, argv);
  // The manager as a program has it, with no log in the process: every
  // trace and heap check is skipped.
  COsMem* const l_posmem = OsMemCreate(OS_MEM_METHOD_MALLOC, true);
  if (l_posmem == nullptr) {
    std::printf("OsMemCreate failed\n");
    return 1;
  }
  if (l_options.m_bParts) {
    PrintParts();
    OsMemDestroy(l_posmem);
    return 0;
  }
  volatile LONG l_lFailed = 0;
  OsBenchBest l_abest[std::size(OS_BENCH_THREADS)][std::size(OS_BENCH_LIVE)];
  for (std::size_t l_sizetT = 0; l_sizetT < std::size(OS_BENCH_THREADS); ++l_sizetT)
    for (std::size_t l_sizetL = 0; l_sizetL < std::size(OS_BENCH_LIVE); ++l_sizetL) {
      const double l_d = Run<OsBenchTracked>(OS_BENCH_THREADS[l_sizetT], OS_BENCH_LIVE[l_sizetL], 20000, &l_lFailed);
      l_abest[l_sizetT][l_sizetL].m_llPairs =
          std::clamp(static_cast<long long>(OS_BENCH_SECONDS / (std::max(l_d, 1e-6) / 20000)), 100000LL, 200000000LL);
    }

  for (int l_iRound = 0; l_iRound < l_options.m_iRounds; ++l_iRound)
    for (std::size_t l_sizetT = 0; l_sizetT < std::size(OS_BENCH_THREADS); ++l_sizetT)
      for (std::size_t l_sizetL = 0; l_sizetL < std::size(OS_BENCH_LIVE); ++l_sizetL) {
        OsBenchBest& l_best = l_abest[l_sizetT][l_sizetL];
        const int l_iThreads = OS_BENCH_THREADS[l_sizetT], l_iLive = OS_BENCH_LIVE[l_sizetL];
        auto l_fnTracked = [&] {
          const double l_d = Run<OsBenchTracked>(l_iThreads, l_iLive, l_best.m_llPairs, &l_lFailed);
          l_best.m_dTracked = std::max(l_best.m_dTracked, static_cast<double>(l_best.m_llPairs) / l_d);
        };
        auto l_fnMalloc = [&] {
          const double l_d = Run<OsBenchMalloc>(l_iThreads, l_iLive, l_best.m_llPairs, &l_lFailed);
          l_best.m_dMalloc = std::max(l_best.m_dMalloc, static_cast<double>(l_best.m_llPairs) / l_d);
        };
        // Alternate the order, so that neither always meets the warmer heap.
        if (l_iRound % 2 == 0) {
          l_fnTracked();
          l_fnMalloc();
        } else {
          l_fnMalloc();
          l_fnTracked();
        }
      }
  if (l_lFailed != 0) {
    OsMemDestroy(l_posmem);
    std::printf("an allocation failed\n");
    return 1;
  }

  if (!l_options.m_bRowsOnly) {
    OsBenchLine("The allocator: 64-byte free + allocation pairs (best of %d rounds)\n", l_options.m_iRounds);
    OsBenchLine("%-7s %7s %5s %14s %11s %11s %7s  %-16s %s\n", "target", "threads", "live", "OsMem pairs/s", "OsMem ns",
                "malloc ns", "ratio", "goal", "met");
  }
  for (std::size_t l_sizetT = 0; l_sizetT < std::size(OS_BENCH_THREADS); ++l_sizetT)
    for (std::size_t l_sizetL = 0; l_sizetL < std::size(OS_BENCH_LIVE); ++l_sizetL) {
      const OsBenchBest& l_best = l_abest[l_sizetT][l_sizetL];
      const double l_dRatio = l_best.m_dMalloc / l_best.m_dTracked;
      const bool l_bGoal = OS_BENCH_LIVE[l_sizetL] == OS_BENCH_GOAL_LIVE;
      char l_sz[32];
      OsBenchLine("%-7s %7d %5d %14s %11.1f %11.1f %7.2f  %-16s %s\n", OsBenchTarget(), OS_BENCH_THREADS[l_sizetT],
                  OS_BENCH_LIVE[l_sizetL], OsBenchGrouped(l_sz, l_best.m_dTracked), 1e9 / l_best.m_dTracked,
                  1e9 / l_best.m_dMalloc, l_dRatio, l_bGoal ? "<= 3 x malloc" : "",
                  !l_bGoal                          ? ""
                  : l_dRatio <= OS_BENCH_GOAL_RATIO ? "yes"
                                                    : "NO");
    }
  OsMemDestroy(l_posmem);
  return 0;
}
