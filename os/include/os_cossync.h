// Synchronisation: the library spin lock.
#pragma once

#include <cstdint>

#include "os_sts.h"

// A spin lock is a 32-bit word in any memory (shared memory included), 0 when
// free. Not reentrant; never hold one across a wait.
void OsSyncSpinLock(volatile std::uint32_t* a_pu32Lock);
// One attempt: 0 when taken, 4 (busy) when the word is held.
EOSSTS OsSyncSpinTryLock(volatile std::uint32_t* a_pu32Lock);
void OsSyncSpinUnlock(volatile std::uint32_t* a_pu32Lock);
