// The library spin lock: a compare-exchange of 0 to 1, yielding the time
// slice between attempts.
#include "os_cossync.h"
#include "os_win.h"

void OsSyncSpinLock(volatile std::uint32_t* a_pu32Lock) {
  while (InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(a_pu32Lock), 1, 0) != 0) Sleep(0);
}

EOSSTS OsSyncSpinTryLock(volatile std::uint32_t* a_pu32Lock) {
  return InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(a_pu32Lock), 1, 0) == 0 ? OS_STS_SUCCESS
                                                                                             : OS_STS_BUSY;
}

void OsSyncSpinUnlock(volatile std::uint32_t* a_pu32Lock) {
  InterlockedExchange(reinterpret_cast<volatile LONG*>(a_pu32Lock), 0);
}
