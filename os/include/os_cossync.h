// Synchronisation: events, mutexes and named groups of them; the library
// spin lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_sts.h"

// A spin lock is a 32-bit word in any memory (shared memory included), 0 when
// free. Not reentrant; never hold one across a wait.
void OsSyncSpinLock(volatile std::uint32_t* a_pu32Lock);
// One attempt: 0 when taken, 4 (busy) when the word is held.
EOSSTS OsSyncSpinTryLock(volatile std::uint32_t* a_pu32Lock);
void OsSyncSpinUnlock(volatile std::uint32_t* a_pu32Lock);

enum EOSSYNCTYPE : int {
  OS_SYNCTYPE_UNDEFINED = 0,
  OS_SYNCTYPE_EVENT = 1,
  OS_SYNCTYPE_MUTEX = 2,
  OS_SYNCTYPE_LAST = 3,
};

enum EOSSYNCNAMING : int {
  OS_SYNCNAMING_UNDEFINED = 0,
  OS_SYNCNAMING_UNNAMED = 1,
  OS_SYNCNAMING_NAMED = 2,
  OS_SYNCNAMING_GROUP = 3,
  OS_SYNCNAMING_LAST = 4,
};

// The timeout that waits for ever.
constexpr std::uint32_t OS_SYNC_INFINITE = 0xFFFFFFFFu;

class COsSyncImpl;

// One event (auto-reset) or mutex: unnamed, named (always system-wide, in the
// Global\ namespace) or a member of a named group of up to eight objects that
// may live in different processes. Waiting on a member waits on the whole
// group and tells which member fired. Statuses: 0 success, 1 failure, 5 the
// wait timed out, 13 the watched process ended or a mutex was abandoned (the
// caller then owns it), 257 Open found no object of that name. One object is
// not locked inside: use it from one thread at a time. A mutex is waited on
// and released only by the thread that created or opened it.
class COsSync {
 public:
  COsSync();
  ~COsSync();
  COsSync(const COsSync&) = delete;
  COsSync& operator=(const COsSync&) = delete;

  // a_szName and a_szGroup may be null; a group needs a name, a mutex a name.
  // A name that exists attaches to the existing object. a_u8Flag is traced only.
  EOSSTS Create(EOSSYNCTYPE a_eossynctype, const char* a_szName, const char* a_szGroup, std::uint8_t a_u8Flag);
  // Attaches to an existing named object: 257 when there is none.
  EOSSTS Open(EOSSYNCTYPE a_eossynctype, const char* a_szName);
  // Releases everything; the object is free again afterwards.
  EOSSTS Close();

  EOSSTS EventCreate(const char* a_szName, const char* a_szGroup, std::uint8_t a_u8Flag);
  EOSSTS EventOpen(const char* a_szName);
  EOSSTS MutexCreate(const char* a_szName, const char* a_szGroup);
  EOSSTS MutexOpen(const char* a_szName);
  // A name: create (a_bCreate) or open it; no name and a_bCreate: an unnamed event.
  EOSSTS EventStart(const char* a_szName, bool a_bCreate);
  // Close the object when it is of that kind (a never-used object is left alone).
  EOSSTS EventClose();
  EOSSTS MutexClose();

  EOSSYNCTYPE TypeGet();
  EOSSTS NameGet(char* a_szName, std::size_t a_sizetName);
  EOSSTS GroupGet(char* a_szGroup, std::size_t a_sizetGroup);

  EOSSTS EventSet();
  void EventReset();
  // Releases this mutex (a_szName its own name) or the group member of that name.
  void MutexRelease(const char* a_szName);

  // Waits up to a_u32TimeoutMs (OS_SYNC_INFINITE: for ever) on the object,
  // or on its whole group; a_szName (may be null) receives the name of the
  // member that fired.
  EOSSTS EventWait(std::uint32_t a_u32TimeoutMs, char* a_szName, std::size_t a_sizetName);
  EOSSTS MutexWait(std::uint32_t a_u32TimeoutMs, char* a_szName, std::size_t a_sizetName);
  EOSSTS EventWaitSimple(std::uint32_t a_u32TimeoutMs);

  // Later waits also end (13) when this process ends. a_hProcess, when given,
  // stays the caller's; otherwise the process is opened by id. Id 0 stops watching.
  EOSSTS EventWatchProcess(std::uint64_t a_u64ProcessId, void* a_hProcess);
  EOSSTS MutexWatchProcess(std::uint64_t a_u64ProcessId, void* a_hProcess);

  COsSyncImpl* m_possyncimpl;
};
