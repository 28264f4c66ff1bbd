// Private declarations of the thread module.
#pragma once

#include <atomic>
#include <cstdint>

#include "os_costhread.h"
#include "os_scoped.h"
#include "os_types.h"
#include "os_win.h"

// The shared record of a COsThread. The owner writes argument, procedure,
// name, handle and id before the new thread is let run (it is created
// suspended); afterwards the two sides share only the atomic words and the
// event. The event, once made, lives until the record is destroyed: the
// owner and other threads may signal it while a stop runs.
class COsThreadImpl {
 public:
  void* m_pvArg = nullptr;
  OsThreadProc m_osthreadproc = nullptr;
  std::atomic<std::int32_t> m_i32RunState{OS_THREAD_NOTRUNNING};
  std::atomic<std::int32_t> m_i32Request{OS_THREAD_REQUEST_RUN};
  std::atomic<std::uint32_t> m_u32UserValue{0};
  char m_szName[OS_PATH_SIZE] = {};
  std::atomic<std::uint64_t> m_u64Affinity{0};  // the last mask applied; 0 when never set
  volatile std::uint32_t m_u32StopLock = 0;     // spin lock serialising Stop
  std::atomic<std::uint8_t> m_u8Started{0};     // set by the new thread just before the procedure
  COsHandle m_hThread;
  std::atomic<std::uint64_t> m_u64ThreadId{0};
  COsHandle m_hEvent;  // manual reset, unnamed: the wake-up event
  // The child process the object may own.
  COsHandle m_hSpawnProcess;  // while the object knows its child
  STARTUPINFOW m_si = {};
  PROCESS_INFORMATION m_pi = {};
  COsHandle m_hSpawnThread;               // the child's first thread
  wchar_t* m_pwszSpawnCommand = nullptr;  // OS_SPAWN_COMMAND_SIZE characters, made on first use
};

constexpr std::size_t OS_SPAWN_COMMAND_SIZE = 8192;

// Closes the child's handles and frees the command buffer.
void OsThreadSpawnRelease(COsThreadImpl* a_posthreadimpl);

// The calls that suspend the machine and arm its wake-up, replaceable by tests
// (which must never suspend the machine they run on).
struct OsPowerSeam {
  BOOL(WINAPI* m_pfnSetWaitableTimer)(HANDLE, const LARGE_INTEGER*, LONG, PTIMERAPCROUTINE, LPVOID, BOOL);
  BOOL(WINAPI* m_pfnSetSystemPowerState)(BOOL, BOOL);
  void(WINAPI* m_pfnSleep)(DWORD);
};
OsPowerSeam* OsThreadPowerSeam();

// The process's affinity mask, or the system's when that is 0 (0 when
// neither can be read).
std::uint64_t OsThreadProcessAffinity();
// The ideal processor for a mask: its lowest processor (0 for an empty mask).
std::uint32_t OsThreadIdealProcessor(std::uint64_t a_u64Mask);
// Makes a_hThread's ideal processor the mask's lowest one, then its affinity
// a_u64Mask (0: the process's mask) and yields. On success stores the
// applied mask in *a_pu64Applied (may be null) and returns 0; 1 (logged with
// a_u64Mask as given) when the system refuses either.
EOSSTS OsThreadAffinityApply(HANDLE a_hThread, std::uint64_t a_u64Mask, std::uint64_t* a_pu64Applied);

// One installed hardware breakpoint.
struct OsHwBp {
  std::uintptr_t m_uptrAddress = 0;  // pointer-sized: the debug registers hold addresses
  COsHandle m_hThread;               // the record's own handle of the thread, also for a pseudo-handle given
  std::int32_t m_i32Kind = 0;        // EOSHWBPKIND
  std::int32_t m_i32Size = 0;        // EOSHWBPSIZE
  std::int32_t m_i32Register = 0;    // 0 to 3
  std::uint8_t m_u8Set = 0;          // 1 set, 0 clear: what the next context change does
  std::uint8_t m_u8Success = 0;      // the last context change's outcome
};

// The debug-control bits of one breakpoint in register a_iRegister: local
// enable 2n, access at 16 + 4n (execute 00, read or write 11, write 01) and
// length at 18 + 4n (1, 2, 4, 8 bytes: 00, 01, 11, 10; always 00 for
// execute, which the processor requires).
std::uint64_t OsHwBpControlBits(int a_iRegister, int a_iKind, int a_iSize);
