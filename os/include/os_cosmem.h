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
constexpr std::uint32_t OS_LOG_MEM_NORMAL = 0x100;    // by the manager's method
constexpr std::uint32_t OS_LOG_MEM_VIRTUAL = 0x1100;  // committed virtual memory
constexpr std::uint32_t OS_MEM_HANDOVER = 0x8000;     // handed to or taken from another module
constexpr std::uint32_t OS_MEM_MOVEABLE = 0x10000;    // a moveable global block

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

  // Writes the memory report into the log directory: the system's memory
  // status, the 16 largest free and used stretches of the address space as
  // the working set shows them, the loaded modules and a page map of the
  // working set. The file is a_szName with the local time ("_hhmmssmmm") in
  // front of its extension (behind it when it has none), or
  // "QrxMem_hhmmssmmm.txt" for null or empty; without a configuration or log
  // directory nothing is written. Never fails towards the caller: a failure
  // is logged and ends the report, and what was written stays. Nothing is
  // allocated through the manager, so the manager's lock may be held.
  void DumpSystem(const char* a_szName);

  COsMemImpl* m_posmemimpl = nullptr;
};

// The sizes of the largest free stretches of the address space.
constexpr int OS_MEM_LIST_SIZE = 16;
struct OsMemList {
  std::uint32_t m_u32Count;                    // OS_MEM_LIST_SIZE once filled
  std::uint64_t m_au64Size[OS_MEM_LIST_SIZE];  // bytes, largest first; 0 for missing stretches
};
// Fills a_posmemlist from the working set (the free stretches as the report
// counts them): 0, or 1 when the working set cannot be read or the list is
// null (the list is then cleared, when there is one).
EOSSTS OsMemGetFreeChunks(OsMemList* a_posmemlist);

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
// configuration and one C run-time. A mapped item is always released with
// its view, mapping and file, whatever the flag.)
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
#define OS_MEM_ALLOC(a_u32Size, a_szName) \
  OsMemAlloc((a_u32Size), __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL, true, (a_szName))
#define OS_MEM_FREE(a_pv) OsMemFree((a_pv), __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL, true)

// ---- shared and mapped memory ----
// Memory backed by a file mapping: a view of a named file, or page-file
// memory that another process reaches through a small link file naming this
// process and its mapping handle. Mapped items live in the tracking table
// (type OS_MEM_TYPE_MEMORYMAP) and are released with OsMemFree.

// What OsMemSharedAlloc does with the file.
enum EOSSHAREDALLOC : int {
  OS_SHAREDALLOC_CREATE = 1,      // create or replace the file
  OS_SHAREDALLOC_TEMPORARY = 2,   // create a file the system deletes with its last handle; may become a link
  OS_SHAREDALLOC_OPEN = 3,        // open an existing file, which may be a link
  OS_SHAREDALLOC_OPENALWAYS = 4,  // open or create
};

// The first-byte lock of the file.
enum EOSSHAREDLOCK : int {
  OS_SHAREDLOCK_NONE = 1,
  OS_SHAREDLOCK_ALWAYS = 2,   // lock the file's first byte
  OS_SHAREDLOCK_CREATOR = 3,  // lock it only when this call created the file
};

// The process-wide share mode: "ALL" modes map whole files at once,
// "PAGEFILE" modes keep temporary shared memory in the page file.
enum EOSSHAREDMODE : int {
  OS_SHAREDMODE_UNDEFINED = 0,
  OS_SHAREDMODE_MAPFILEASNEEDED = 1,
  OS_SHAREDMODE_MAPFILEALL = 2,
  OS_SHAREDMODE_MAPPAGEFILEASNEEDED = 3,
  OS_SHAREDMODE_MAPPAGEFILEALL = 4,
  OS_SHAREDMODE_LAST = 5,
};

// Request flags of OsMemSharedAlloc.
constexpr std::uint32_t OS_SHARED_WHOLEFILE = 0x1;     // map the whole file (the share mode may set it)
constexpr std::uint32_t OS_SHARED_PAGEFILE = 0x2;      // page-file or link handling (set internally)
constexpr std::uint32_t OS_SHARED_NOPAGEFILE = 0x4;    // a temporary file stays a file; a small opened file is no link
constexpr std::uint32_t OS_SHARED_NOLINK = 0x8;        // a small opened file is no link
constexpr std::uint32_t OS_SHARED_READONLY = 0x10;     // open read-only (OS_SHAREDALLOC_OPEN only)
constexpr std::uint32_t OS_SHARED_SETLENGTH = 0x20;    // OS_SHAREDALLOC_OPEN: set the length to the size (rounded up)
constexpr std::uint32_t OS_SHARED_COPYONWRITE = 0x40;  // copy-on-write mapping
constexpr std::uint32_t OS_SHARED_TRUNCATE = 0x80;     // cut the file back to the size on release
constexpr std::uint32_t OS_SHARED_RANDOM = 0x100;      // open the file for random access
constexpr std::uint32_t OS_SHARED_MARK = 0x200;        // kept in the item (OS_SHAREDITEM_MARK) for its owner
constexpr std::uint32_t OS_SHARED_FLUSHFILE = 0x400;   // flush the file's buffers on release

// Flags of a mapped item.
constexpr std::uint32_t OS_SHAREDITEM_LOCKED = 0x1;       // this process holds the file's first-byte lock
constexpr std::uint32_t OS_SHAREDITEM_WHOLEFILE = 0x2;    // whole file mapped: the view base is pointer - offset
constexpr std::uint32_t OS_SHAREDITEM_READONLY = 0x4;     // read-only view
constexpr std::uint32_t OS_SHAREDITEM_COPYONWRITE = 0x8;  // copy-on-write
constexpr std::uint32_t OS_SHAREDITEM_TEMPORARY = 0x10;   // temporary file (deleted on close)
constexpr std::uint32_t OS_SHAREDITEM_FLUSHFILE = 0x20;   // flush the file's buffers on release
constexpr std::uint32_t OS_SHAREDITEM_MARK = 0x40;        // request flag OS_SHARED_MARK
constexpr std::uint32_t OS_SHAREDITEM_TRUNCATE = 0x80;    // cut the file back to the size on release

// Maps a_i32Size bytes of the file a_szPath (null: page-file memory of this
// process only) and returns the pointer that stands for file offset
// a_u32Offset, or null (every failure is logged with the caller's place,
// a_szFile and a_iLine, and leaves nothing open). The object the view is cut
// from is the mapping's size (the request rounded up to the granularity), or
// the file's length when an opened file already holds the request, or the
// size a link names; an offset at or beyond it is refused. a_i32View is the
// number of bytes wanted behind the pointer, cut to the size and to what the
// object holds beyond the offset; <= 0 (OS_SHAREDALLOC_OPEN only) maps the
// rest of the object, refused when that exceeds 0x7FFFFFFF bytes. For
// OS_SHAREDALLOC_OPEN a size <= 0 stands for the file's length, and a file
// shorter than 256 bytes that holds a link maps the memory the link names
// (its size replaces the request; OS_SHARED_TRUNCATE never applies to the
// link). a_u32Flags are OS_SHARED_* bits. Release with OsMemFree.
void* OsMemSharedAlloc(EOSSHAREDALLOC a_eossharedalloc, const char* a_szPath, std::int32_t a_i32Size,
                       std::uint32_t a_u32Offset, std::int32_t a_i32View, EOSSHAREDLOCK a_eossharedlock,
                       std::uint32_t a_u32Flags, const char* a_szFile, int a_iLine);
// Moves the view of the mapped item a_pvMem to file offset a_u32Offset with
// a_u32View bytes behind the new pointer (0: one granularity block at offset
// 0); the item keeps its entry. Null on failure (the item then holds no view
// and is still released with OsMemFree). a_bLock false only when the caller
// holds the manager's lock.
void* OsMemRemap(void* a_pvMem, std::uint32_t a_u32Offset, std::uint32_t a_u32View, const char* a_szFile, int a_iLine,
                 bool a_bLock);
// The first-byte lock of a mapped item's file: OS_STS_LOCKED (9) or
// OS_STS_NOTLOCKED (10) afterwards; OS_STS_FAIL for a pointer that is no
// mapped item.
EOSSTS OsMemSharedLock(void* a_pvMem, const char* a_szFile, int a_iLine);
EOSSTS OsMemSharedUnlock(void* a_pvMem, const char* a_szFile, int a_iLine);
EOSSTS OsMemSharedIsLocked(void* a_pvMem, const char* a_szFile, int a_iLine);
// Flushes the item's view: 0, or 1 for a pointer that is no mapped item.
EOSSTS OsMemSharedFlush(void* a_pvMem);
// Logs when a_pvMem is no mapped item; always 0.
EOSSTS OsMemSharedCheck(void* a_pvMem);
// Sets the share mode and returns the previous one; logs the new mode.
EOSSHAREDMODE OsMemSetSharedMode(EOSSHAREDMODE a_eossharedmode);
// The same without the mode line; a missing manager is reported at the
// caller's place.
EOSSHAREDMODE OsMemSetSharedModeQuiet(EOSSHAREDMODE a_eossharedmode, const char* a_szFile, int a_iLine);
// A named buffer of this thread of at least a_u64Bytes bytes: the same block
// while it is large enough, else a new one holding the old contents (the old
// one is released). a_u32LogFlags is OS_LOG_MEM_NORMAL or OS_LOG_MEM_VIRTUAL.
// Names hold no ':'. Null on failure, also for sizes above 0xFFFFFFFF.
void* OsMemThreadSafeAlloc(const char* a_szName, std::uint64_t a_u64Bytes, const char* a_szFile, int a_iLine,
                           std::uint32_t a_u32LogFlags);
// Releases every thread's buffer of that name (null or empty: none), then
// every buffer whose thread has ended. A name with ':' or too long for a
// buffer's name is refused (logged) and nothing is released.
void OsMemThreadSafeFree(const char* a_szName, const char* a_szFile, int a_iLine, std::uint32_t a_u32LogFlags);
// Flushes every drive's buffers and trims this process's working set;
// logs the free memory before and after.
void CleanRam();
