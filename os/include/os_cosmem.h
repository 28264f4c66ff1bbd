// The tracked memory manager: every block the library allocates is recorded
// in a fixed table of 1024 entries with its kind, size and name, counted, and
// traced to the log with the running counters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_sts.h"
#include "os_types.h"

// Allocation methods of the manager.
enum EOSMEMMETHOD : int {
  OS_MEM_METHOD_MALLOC = 1,       // the C run-time's zeroed allocation
  OS_MEM_METHOD_GLOBALALLOC = 2,  // zero-initialised global blocks
};

// Kinds of tracked items.
enum EOSMEMTYPE : std::uint32_t {
  OS_MEM_TYPE_UNDEFINED = 0,
  OS_MEM_TYPE_MALLOC = 1,
  OS_MEM_TYPE_GLOBALALLOC = 2,
  OS_MEM_TYPE_VIRTUAL = 3,
  OS_MEM_TYPE_MEMORYMAP = 4,
  OS_MEM_TYPE_EXTERNAL = 5,
  OS_MEM_TYPE_DSM = 6,
  OS_MEM_TYPE_LAST = 7,
};

// Log flags of an allocation; the low 16 bits are the trace line's class.
constexpr std::uint32_t OS_LOG_MEM_NORMAL = 0x100;     // by the manager's method
constexpr std::uint32_t OS_LOG_MEM_VIRTUAL = 0x1100;   // committed virtual memory
constexpr std::uint32_t OS_MEM_HANDOVER = 0x8000;      // handed to or taken from another module
constexpr std::uint32_t OS_MEM_MOVEABLE = 0x10000;     // a moveable global block

enum EOSMEMACCESS : int {
  OS_MEM_ACCESS_READ = 1,
  OS_MEM_ACCESS_READWRITE = 2,
};

constexpr int OS_MEM_TABLE_SIZE = 1024;

// What the lookups report of a tracked item. Address-sized fields follow the
// process's pointer width.
struct OsMemSettings {
  std::uint32_t m_u32Index;
  std::uintptr_t m_uAddress;
  std::uint32_t m_u32Type;
  std::uint32_t m_u32Size;
  std::uint32_t m_u32Offset;
  std::uint32_t m_u32ViewSize;
  char m_szName[OS_PATH_SIZE];
};

// The external memory interface (a data source manager's): installed only
// all four together.
typedef void* (*OsMemPfnAlloc)(std::uint32_t a_u32Size);
typedef void (*OsMemPfnFree)(void* a_hMemory);
typedef void* (*OsMemPfnLock)(void* a_hMemory);
typedef void (*OsMemPfnUnlock)(void* a_hMemory);

class COsMemImpl;

class COsMem {
 public:
  COsMem() = default;
  COsMem(const COsMem&) = delete;
  COsMem& operator=(const COsMem&) = delete;

  COsMemImpl* m_posmemimpl = nullptr;
};

// Creates the process-wide manager (the previous one, if any, is left alone)
// and makes it the one OsMemInstance returns; null when it cannot be made.
COsMem* OsMemCreate(EOSMEMMETHOD a_eosmemmethod, bool a_bOwner);
// Destroys the manager; the process-wide pointer is cleared first.
void OsMemDestroy(COsMem* a_posmem);
COsMem* OsMemInstance();

// Zero-filled memory of at least a_u32Size bytes, or null. a_szFile and
// a_iLine name the caller for the trace; a_bLock false only when the caller
// already holds the manager's lock.
void* OsMemAlloc(std::uint32_t a_u32Size, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags, bool a_bLock,
                 const char* a_szName);
void OsMemFree(void* a_pv, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags, bool a_bLock);
// Releases without a lookup: the external free callback, else the global free.
// (OsMemFree with OS_MEM_HANDOVER and no callbacks gives a block back to the
// allocator the manager's method names: the modules of the suite share one
// configuration and one C run-time.)
void OsMemFreeUntracked(void* a_pv, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags, bool a_bLock);
// Records memory that another party allocated (an external item).
EOSSTS OsMemManage(void* a_pv, std::uint32_t a_u32Size);
void* OsMemLock(void* a_hMemory);
void OsMemUnlock(void* a_hMemory);
// Makes a tracked virtual item read-only (1) or read-write (2).
EOSSTS OsMemSetAccess(void* a_pv, EOSMEMACCESS a_eosmemaccess);
EOSSTS OsMemSetCallbacks(OsMemPfnAlloc a_pfnalloc, OsMemPfnFree a_pfnfree, OsMemPfnLock a_pfnlock,
                         OsMemPfnUnlock a_pfnunlock);
EOSSTS OsMemFindByAddress(const void* a_pvMem, OsMemSettings* a_posmemsettings, bool a_bQuiet);
EOSSTS OsMemFindByName(const char* a_szName, OsMemSettings* a_posmemsettings, bool a_bQuiet);
// Logs the table (or only the entry of a_pvMem when given).
void OsMemDump(const void* a_pvMem);
// Validates every process heap when the log's option 0x200 is set; returns 1.
int OsMemValidate(const char* a_szFile, int a_iLine);
std::uint32_t OsMemGetGranularity();
// Reserves address space without committing it; OsMemRelease frees it.
void* OsMemReserve(std::uint64_t a_u64Size);
void OsMemRelease(void* a_pv);

// Bit runs; bit 0 of a byte is its most significant bit, positions count
// from the start of the buffer. 0 on success, 1 when a run leaves the buffer.
int OsMemSetBits(void* a_pvBuffer, std::uint32_t a_u32Length, std::uint64_t a_u64FirstBit, std::uint64_t a_u64Bits,
                 bool a_bValue);
int OsMemCpyBits(void* a_pvDst, std::uint32_t a_u32DstLength, std::uint64_t a_u64DstBit, const void* a_pvSrc,
                 std::uint32_t a_u32SrcLength, std::uint64_t a_u64SrcBit, std::uint64_t a_u64Bits);
int OsMemDspBits(const void* a_pvBuffer, std::uint32_t a_u32Length, std::uint64_t a_u64FirstBit,
                 std::uint64_t a_u64Bits, bool a_bRuler);
std::uint32_t OsMemSetBitField(std::uint32_t a_u32Word, std::uint32_t a_u32Shift, std::uint32_t a_u32Width,
                               std::uint32_t a_u32Value);

// The manager's allocation at the caller's place, normal trace class.
#define OS_MEM_ALLOC(a_u32Size, a_szName) OsMemAlloc((a_u32Size), __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL, true, (a_szName))
#define OS_MEM_FREE(a_pv) OsMemFree((a_pv), __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL, true)
