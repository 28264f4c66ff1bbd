// Processor affinity: the default mask of the process's threads and the one
// rule that applies a mask to a thread.
#include <atomic>

#include "os_coscfg_sysinfo.h"
#include "os_costhread_impl.h"
#include "os_log.h"

namespace {

std::atomic<std::uint64_t> s_u64DefaultAffinity{0};

}  // namespace

void OsThreadSetDefaultAffinity(std::uint64_t a_u64Mask) { s_u64DefaultAffinity = a_u64Mask; }

std::uint64_t OsThreadGetDefaultAffinity() { return s_u64DefaultAffinity; }

std::uint64_t OsThreadProcessAffinity() {
  DWORD_PTR l_dwptrProcess = 0;
  DWORD_PTR l_dwptrSystem = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &l_dwptrProcess, &l_dwptrSystem)) return 0;
  return l_dwptrProcess != 0 ? l_dwptrProcess : l_dwptrSystem;
}

std::uint32_t OsThreadIdealProcessor(std::uint64_t a_u64Mask) {
  return a_u64Mask == 0 ? 0 : static_cast<std::uint32_t>(__builtin_ctzll(a_u64Mask));
}

EOSSTS OsThreadAffinityApply(HANDLE a_hThread, std::uint64_t a_u64Mask, std::uint64_t* a_pu64Applied) {
  const std::uint64_t l_u64Mask = a_u64Mask != 0 ? a_u64Mask : OsThreadProcessAffinity();
  if (SetThreadIdealProcessor(a_hThread, OsThreadIdealProcessor(l_u64Mask)) == static_cast<DWORD>(-1)) {
    OS_LOGA("SetThreadIdealProcessor failed...%d", static_cast<int>(a_u64Mask));
    return OS_STS_FAIL;
  }
  if (SetThreadAffinityMask(a_hThread, static_cast<DWORD_PTR>(l_u64Mask)) == 0) {
    OS_LOGA("SetThreadAffinityMask failed...%d", static_cast<int>(a_u64Mask));
    return OS_STS_FAIL;
  }
  if (a_pu64Applied != nullptr) *a_pu64Applied = l_u64Mask;
  Sleep(0);  // lets the scheduler move the thread
  return OS_STS_SUCCESS;
}

EOSSTS OsThreadApplyDefaultAffinity(std::uint64_t a_u64Mask) {
  s_u64DefaultAffinity = a_u64Mask;
  if (OsCfgSysProcessorCountQuiet() <= 1) return OS_STS_SUCCESS;
  return OsThreadAffinityApply(GetCurrentThread(), a_u64Mask, nullptr);
}
