// Threads and processes: the worker-thread object, thread and process
// identity, processor affinity and hardware breakpoints.
#pragma once

#include <cstdint>

#include "os_sts.h"
#include "os_workers.h"

// The integrity class of the running process, found once and cached:
// 1 below medium in the browser's protected mode, 2 below medium (also when
// the token cannot be read), 3 medium in protected mode, 4 medium, 5 high or
// system in protected mode, 6 high or system.
int OsProcessIntegrityGet();

// The processor-affinity mask that threads started later take (0: none).
void OsThreadSetDefaultAffinity(std::uint64_t a_u64Mask);
std::uint64_t OsThreadGetDefaultAffinity();
// Stores the default and, with more than one processor, applies it to the
// calling thread (0 means the process's mask, or the system's when that is
// 0): its ideal processor becomes the mask's lowest processor, then its
// affinity the mask. 0, or 1 when the system refuses either.
EOSSTS OsThreadApplyDefaultAffinity(std::uint64_t a_u64Mask);

// ---- the worker-thread object ----

class COsThread;
class COsThreadImpl;

// A thread's procedure: runs on the new thread with its COsThread; what it
// returns is the thread's exit code. To honour a stop it waits with WakeWait
// or polls RequestGet and returns once the request reads OS_THREAD_REQUEST_STOP.
typedef EOSSTS(__stdcall* OsThreadProc)(COsThread* a_posthread);

constexpr int OS_THREAD_RUNNING = 1;       // run state: the thread was started
constexpr int OS_THREAD_NOTRUNNING = 3;    // run state: never started, stopped, exited or crashed
constexpr int OS_THREAD_REQUEST_RUN = 1;   // request: carry on (also: no request pending)
constexpr int OS_THREAD_REQUEST_STOP = 2;  // request: the owner asks the procedure to return
constexpr int OS_THREAD_ALIVE = 2;         // IsAlive: the thread has not ended
constexpr int OS_THREAD_DEAD = 1;          // IsAlive: no thread, or it has ended
// The time-out of the library's own stops (destruction, clean-ups).
constexpr std::int32_t OS_THREAD_STOP_TIMEOUT_MS = 70000;

// One worker thread with a name, a manual-reset wake-up event and a
// cooperative stop: the owner posts the stop request and signals the event,
// waits a bounded time for the thread to end and terminates it only when it
// does not. The owner and the worker share the object; Stop is serialised,
// the other operations are single words or the event. Destruction stops the
// thread (Stop(false, 70000)) and closes every handle; destroyed by its own
// thread, the object is freed without stopping it and the call returns (the
// thread goes on and must not use the object again). The wake-up event is
// made by the first Start and kept until destruction.
class COsThread {
 public:
  COsThread();
  ~COsThread();
  COsThread(const COsThread&) = delete;
  COsThread& operator=(const COsThread&) = delete;

  // Starts a_osthreadproc on a new thread with a_szName ("noname" when null,
  // cut to 259 bytes) and a_pvArg, and returns once the thread has begun to
  // run it: 0; 3 when a_osthreadproc is null; 1 when the object runs a
  // thread already (one whose procedure has returned counts until Stop or
  // WaitForExit), or the event or thread cannot be made, or the thread ends
  // or does not begin within 5000 ms (the thread is cleaned up again).
  // After a crash or Exit the object can be started again at once.
  EOSSTS Start(const char* a_szName, OsThreadProc a_osthreadproc, void* a_pvArg);
  // The stop: posts the stop request and signals the event, waits up to
  // a_i32TimeoutMs for the thread to end (polling every 10 ms) and
  // terminates it (exit code 0) when it has not, waiting then until it is
  // gone; then closes the thread handle and forgets argument, id and name.
  // Called by the thread on itself: with a_bIgnoreSelf nothing happens;
  // without it the thread ends there as by Exit (this call does not return)
  // and the owner's next Stop, WaitForExit or Start cleans up. Always 0.
  EOSSTS Stop(bool a_bIgnoreSelf, std::int32_t a_i32TimeoutMs);
  // From the thread itself: run state 3, and the thread ends with exit code
  // 0 (this call does not return). From any other thread: logged, nothing else.
  void Exit();
  // Waits up to a_i32TimeoutMs (negative: 999999999) for the thread to end:
  // 5 when it still runs (at once when called by the thread on itself);
  // otherwise the thread is cleaned up as by Stop and 0 (also when there is
  // no thread).
  EOSSTS WaitForExit(std::int32_t a_i32TimeoutMs);
  // OS_THREAD_ALIVE while a started thread has not ended, else OS_THREAD_DEAD.
  int IsAlive();
  // OS_THREAD_RUNNING or OS_THREAD_NOTRUNNING.
  int RunStateGet();
  int RequestGet();
  // Posts a request word. With a_bWake: 1 when the thread is not running, 4
  // when a request other than 1 is pending (the word is replaced only while
  // it is 1, so a stop request is never overwritten); the event is signalled
  // after the word is written. Without: 4 when the word does not read back.
  // Else 0.
  EOSSTS RequestSet(int a_iRequest, bool a_bWake);
  // The running thread's id (0 when none).
  std::uint64_t ThreadIdGet();
  // The argument given to Start (null once stopped).
  void* ArgGet();
  std::uint32_t UserValueGet();
  void UserValueSet(std::uint32_t a_u32Value);
  // Sets (true) or resets (false) the wake-up event: 0, or 1 when there is no
  // event (the object was never started) or the system refuses.
  EOSSTS WakeSignal(bool a_bSet);
  // Waits up to a_i32TimeoutMs (negative: without limit) for the wake-up
  // event and resets it: 0 when it was signalled, 5 on time-out, 1 when
  // there is no event or the wait fails.
  EOSSTS WakeWait(std::int32_t a_i32TimeoutMs);
  // The thread's affinity mask: 1 on a single processor, else the last mask
  // applied, or the process's (the system's when that is 0) stored now.
  std::uint64_t AffinityGet();
  // Applies a_u64Mask (0: the process's mask) to the thread: its ideal
  // processor becomes the mask's lowest processor, then its affinity the
  // mask; 0, or 1 when the system refuses either. Does nothing and returns 0
  // on a single processor.
  EOSSTS AffinitySet(std::uint64_t a_u64Mask);

  // ---- the child process the object may own ----
  // Starts a_szProgram in its own directory on the interactive desktop with
  // up to eight arguments after a_szArg0 (which must be given but is not
  // passed; the list ends at the first null, an empty one is passed). Each argument is
  // quoted so that the child's parser receives it unchanged, unless
  // OS_SPAWN_RAWARGS; the library's start-up arguments are published for the
  // child first. 0, or 1 (also while an earlier child still runs). With
  // OS_SPAWN_CHECKSTART the child's first 100 ms are watched and a child
  // that ends in them is logged.
  EOSSTS Spawn(std::int32_t a_lSpawnFlags, const char* a_szProgram, const char* a_szArg0,
               const char* a_szArg1 = nullptr, const char* a_szArg2 = nullptr, const char* a_szArg3 = nullptr,
               const char* a_szArg4 = nullptr, const char* a_szArg5 = nullptr, const char* a_szArg6 = nullptr,
               const char* a_szArg7 = nullptr, const char* a_szArg8 = nullptr);
  // The child's process handle while it runs (the object keeps it); null
  // once it has ended, and the object then forgets it.
  void* SpawnProcessGet();
  // Waits for the child: 5 on time-out; 0 once it ended (it is forgotten) or
  // when there is none.
  EOSSTS SpawnWait(std::uint32_t a_u32Milliseconds);
  bool SpawnIsRunning();
  // Ends the child (exit code 0), waits up to 5000 ms for it and forgets it.
  EOSSTS SpawnKill();

  COsThreadImpl* m_posthreadimpl;
};

// Spawn flags.
constexpr std::int32_t OS_SPAWN_NOWINDOW = 0x1;     // no console window
constexpr std::int32_t OS_SPAWN_NEWCONSOLE = 0x4;   // a console of its own
constexpr std::int32_t OS_SPAWN_NODESKTOP = 0x10;   // no desktop name for the child
constexpr std::int32_t OS_SPAWN_RAWARGS = 0x40;     // arguments as they are, unquoted
constexpr std::int32_t OS_SPAWN_CHECKSTART = 0x80;  // check briefly that the child did not end at once

// The id of the running service a_szName (a_bIsService), or of the first
// process whose image name contains a_szName (without case); 0 found, 1 not.
EOSSTS OsProcessIdFind(const char* a_szName, bool a_bIsService, std::uint64_t* a_pu64Pid);
// Suspends (or hibernates) the machine with a wake-up armed a_u32Seconds
// ahead: 0 once the request was accepted, 1 on failure.
EOSSTS OsSystemSleepAndWake(bool a_bHibernate, std::uint32_t a_u32Seconds);

// ---- identity ----

std::uint64_t OsProcessIdGet();
std::uint64_t OsThreadIdGet();
// True when the thread with this id can be opened for synchronisation.
bool OsThreadExists(std::uint64_t a_u64ThreadId);
// True when a zero-time wait on a_hHandle (a process or thread handle)
// times out.
bool OsHandleIsRunning(void* a_hHandle);

// ---- hardware breakpoints ----

enum EOSHWBPKIND : int {
  OS_HWBP_EXECUTE = 0,
  OS_HWBP_READWRITE = 1,
  OS_HWBP_WRITE = 2,
};

enum EOSHWBPSIZE : int {
  OS_HWBP_SIZE1 = 0,
  OS_HWBP_SIZE2 = 1,
  OS_HWBP_SIZE4 = 2,
  OS_HWBP_SIZE8 = 3,  // 64-bit processes only
};

// One installed breakpoint.
struct OsHwBp;

// Installs a breakpoint on a_pvAddress for the thread a_hThread (a thread
// handle with suspend and context access, or the calling thread's
// pseudo-handle; the record keeps a handle of its own, so the caller's may be
// closed) in the first debug register enabled neither locally nor globally.
// Execute breakpoints are one byte long whatever a_eoshwbpsize says. Its hit
// raises EXCEPTION_SINGLE_STEP on that thread (after the access for data,
// before the instruction for execute). Null when all four registers are in
// use, an argument is out of range or the system refuses.
OsHwBp* OsHwBpSet(void* a_hThread, EOSHWBPKIND a_eoshwbpkind, EOSHWBPSIZE a_eoshwbpsize, const void* a_pvAddress);
// Removes the breakpoint from the thread it was set on (from any thread, also
// when it was set through the pseudo-handle), frees the record and nulls
// *a_pposhwbp: 0, or 1 when the register could not be cleared (the record is
// freed all the same).
EOSSTS OsHwBpClear(OsHwBp** a_pposhwbp);

// ---- workers for the format engines ----

class COsThreadWorkersImpl;

// The calling thread and a_u32Count - 1 COsThread workers (0: one per
// processor of the system information; at most OS_WORKERS_MAX), started by
// the constructor and stopped by the destructor. A worker that cannot be
// started lowers the count, down to the calling thread alone. Run is for one
// thread at a time.
class COsThreadWorkers final : public COsWorkers {
 public:
  explicit COsThreadWorkers(std::uint32_t a_u32Count = 0);
  ~COsThreadWorkers();
  COsThreadWorkers(const COsThreadWorkers&) = delete;
  COsThreadWorkers& operator=(const COsThreadWorkers&) = delete;
  std::uint32_t Count() override;
  void Run(OsWorkerJob a_pfnJob, void* a_pvJob) override;

 private:
  COsThreadWorkersImpl* m_posthreadworkersimpl;
};
