// The worker-thread object: start handshake, the thread's entry with its
// crash containment, the cooperative stop, the wake-up event, affinity, and
// thread and process identity.
#include <process.h>

#include "os_coscfg_sysinfo.h"
#include "os_cossync.h"
#include "os_cosstring.h"
#include "os_costhread_impl.h"
#include "os_log.h"
#include "os_memnew.h"

// Crash containment.
//
// A procedure's C++ exception is caught by a try/catch around the call. A
// structured exception (an access violation, a division by zero, a stack
// overflow...) must be caught only when nothing inside the procedure handles
// it: a vectored handler sees every exception first, including those that
// system code raises and handles itself (a probe of memory under __try, the
// debug-output exception) and, on x86_64, every C++ throw, so it cannot tell
// a crash from a handled exception. What the system offers for exactly that
// is a frame-based handler of the outermost frame, and GCC has no __try, so
// a small assembly frame, OsThreadRunContained(fn, arg, caught), installs one
// around the call. It returns fn(arg) and leaves *caught alone, or, when an
// exception reached it unhandled, sets *caught to 1 and returns the
// exception code (any value, 0 included, so the flag is the only witness):
// - x86_64: the frame's unwind data names OsThreadContainHandler as its
//   language handler; the handler unwinds to the frame with RtlUnwindEx and
//   resumes at the frame's landing, which returns the code it is handed.
// - i686: the frame links an exception registration into the thread's chain
//   (fs:0); the handler unwinds the inner registrations with RtlUnwind and
//   resumes the frame with its stack and base pointer restored from the
//   registration's position. The unwind is done in assembly because
//   RtlUnwind need not preserve the caller's registers.
// On neither target do the C++ destructors of the procedure's frames run
// when a structured exception is contained: objects on its stack are
// abandoned, not destroyed, and what they own (locks included) stays held.
// Both handlers leave unwinding passes alone and take every exception that
// reaches them: there is no frame above that would handle it except the
// system's, which ends the process.
extern "C" {
std::uint32_t OsThreadRunContained(std::uint32_t (*a_pfn)(void*), void* a_pv, std::uint32_t* a_pu32Caught);
}

#if defined(__x86_64__)

extern "C" char OsThreadRunContainedLanding[];

__asm__(
    "  .text\n"
    "  .p2align 4\n"
    "  .globl OsThreadRunContained\n"
    "  .def OsThreadRunContained; .scl 2; .type 32; .endef\n"
    "  .seh_proc OsThreadRunContained\n"
    "OsThreadRunContained:\n"
    "  subq $40, %rsp\n"  // shadow space; keeps the stack 16-byte aligned at the call
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  movq %r8, 32(%rsp)\n"  // the caught flag's address, in the frame's own slot above the shadow space
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  callq *%rax\n"
    "  nop\n"  // the return address stays inside the frame's body
    ".LOsThreadRunContainedDone:\n"
    "  addq $40, %rsp\n"
    "  retq\n"
    "  .globl OsThreadRunContainedLanding\n"
    "OsThreadRunContainedLanding:\n"  // RtlUnwindEx: rsp is the frame, rax the code
    "  movq 32(%rsp), %rcx\n"
    "  movl $1, (%rcx)\n"
    "  jmp .LOsThreadRunContainedDone\n"
    "  .seh_handler OsThreadContainHandler, @except\n"
    "  .seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION OsThreadContainHandler(EXCEPTION_RECORD* a_pexceptionrecord, void* a_pvFrame,
                                                        CONTEXT* a_pcontext, void* a_pvDispatcher) {
  (void)a_pcontext;
  if ((a_pexceptionrecord->ExceptionFlags & EXCEPTION_UNWIND) != 0) return ExceptionContinueSearch;
  CONTEXT l_context;
  RtlUnwindEx(a_pvFrame, OsThreadRunContainedLanding, a_pexceptionrecord,
              reinterpret_cast<void*>(static_cast<ULONG_PTR>(a_pexceptionrecord->ExceptionCode)), &l_context,
              static_cast<DISPATCHER_CONTEXT*>(a_pvDispatcher)->HistoryTable);
  return ExceptionContinueSearch;  // not reached: the unwind resumes at the landing
}

#elif defined(__i386__)

extern "C" {
EXCEPTION_DISPOSITION __cdecl OsThreadContainHandler(EXCEPTION_RECORD* a_pexceptionrecord, void* a_pvFrame,
                                                     CONTEXT* a_pcontext, void* a_pvDispatcher);
[[noreturn]] void __cdecl OsThreadContainUnwind(void* a_pvFrame, EXCEPTION_RECORD* a_pexceptionrecord,
                                                std::uint32_t a_u32Code);
}

// The frame: ebp, ebx, esi, edi saved, then the registration (next, handler)
// at esp. From the registration, the saved ebp lies 20 bytes up.
__asm__(
    "  .text\n"
    "  .p2align 4\n"
    "  .globl _OsThreadRunContained\n"
    "  .def _OsThreadRunContained; .scl 2; .type 32; .endef\n"
    "_OsThreadRunContained:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl $_OsThreadContainHandler\n"
    "  pushl %fs:0\n"
    "  movl %esp, %fs:0\n"
    "  pushl 12(%ebp)\n"
    "  calll *8(%ebp)\n"
    "  addl $4, %esp\n"
    ".LOsThreadRunContainedDone:\n"  // esp is the registration
    "  popl %fs:0\n"
    "  addl $4, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  retl\n"
    "  .globl _OsThreadContainUnwind\n"
    "  .def _OsThreadContainUnwind; .scl 2; .type 32; .endef\n"
    "_OsThreadContainUnwind:\n"  // (frame, record, code); the arguments stay on the stack
    "  pushl $0\n"
    "  pushl 12(%esp)\n"
    "  pushl $0\n"
    "  pushl 16(%esp)\n"
    "  calll _RtlUnwind@16\n"
    "  movl 12(%esp), %eax\n"
    "  movl 4(%esp), %esp\n"
    "  leal 20(%esp), %ebp\n"
    "  movl 16(%ebp), %ecx\n"  // the frame's third argument: the caught flag
    "  movl $1, (%ecx)\n"
    "  jmp .LOsThreadRunContainedDone\n");

extern "C" EXCEPTION_DISPOSITION __cdecl OsThreadContainHandler(EXCEPTION_RECORD* a_pexceptionrecord, void* a_pvFrame,
                                                                CONTEXT* a_pcontext, void* a_pvDispatcher) {
  (void)a_pcontext;
  (void)a_pvDispatcher;
  if ((a_pexceptionrecord->ExceptionFlags & EXCEPTION_UNWIND) != 0) return ExceptionContinueSearch;
  OsThreadContainUnwind(a_pvFrame, a_pexceptionrecord, static_cast<std::uint32_t>(a_pexceptionrecord->ExceptionCode));
}

#else
#error "crash containment is written for x86 and x86_64"
#endif

// The class's one fixed text for a missing implementation.
#define OS_THREAD_IMPL_OR_RETURN(a_ret) \
  OS_RETURN_IF_NULL(m_posthreadimpl, OS_LOG_ASSERT, "m_posthreadimpl is null...", a_ret)

namespace {

constexpr DWORD OS_THREAD_POLL_MS = 10;
constexpr DWORD OS_THREAD_START_WAIT_MS = 5000;
constexpr std::int32_t OS_THREAD_WAIT_FOREVER_MS = 999999999;
// InvokeProcedure's answer for a C++ exception (0: the procedure returned).
constexpr std::uint32_t OS_THREAD_CPP_EXCEPTION = 1;

struct OsThreadCall {
  COsThread* m_posthread;
  OsThreadProc m_osthreadproc;
  EOSSTS m_eossts;
  bool m_bRecordFreed;  // the object was destroyed by its own thread: the record is gone
};

// The call the current thread runs as a COsThread's worker (null on other threads).
thread_local OsThreadCall* t_pcall = nullptr;

std::uint32_t InvokeProcedure(void* a_pv) {
  OsThreadCall* const l_pcall = static_cast<OsThreadCall*>(a_pv);
  try {
    l_pcall->m_eossts = l_pcall->m_osthreadproc(l_pcall->m_posthread);
    return 0;
  } catch (...) {
    return OS_THREAD_CPP_EXCEPTION;
  }
}

DWORD TimeoutOf(std::int32_t a_i32TimeoutMs) {
  return static_cast<DWORD>(a_i32TimeoutMs < 0 ? OS_THREAD_WAIT_FOREVER_MS : a_i32TimeoutMs);
}

// True once the thread has ended, polling every 10 ms for up to a_dwTimeoutMs.
// The thread object is signalled when the thread ends; its exit code is no
// witness, since a procedure may return 259, the still-active value itself.
// The clock is GetTickCount (XP has no GetTickCount64); an unsigned 32-bit
// difference stays right across its wrap after 49.7 days.
bool WaitEnded(HANDLE a_hThread, DWORD a_dwTimeoutMs) {
  const DWORD l_dwStart = GetTickCount();
  for (;;) {
    const DWORD l_dwWaited = GetTickCount() - l_dwStart;
    const DWORD l_dwLeft = l_dwWaited >= a_dwTimeoutMs ? 0 : a_dwTimeoutMs - l_dwWaited;
    const DWORD l_dwStep = l_dwLeft < OS_THREAD_POLL_MS ? l_dwLeft : OS_THREAD_POLL_MS;
    if (WaitForSingleObject(a_hThread, l_dwStep) != WAIT_TIMEOUT) return true;
    if (l_dwLeft == 0) return false;
  }
}

bool HasEnded(HANDLE a_hThread) { return WaitForSingleObject(a_hThread, 0) != WAIT_TIMEOUT; }

// True on the object's own thread: the id is the caller's and the thread the
// handle names has not ended (once it has, the system may give its id to
// another thread, the caller perhaps).
bool IsSelf(COsThreadImpl* a_pimpl) {
  return a_pimpl->m_u64ThreadId == GetCurrentThreadId() && a_pimpl->m_hThread.IsValid() &&
         !HasEnded(a_pimpl->m_hThread.Get());
}

// Steps of the stop after the checks, with the stop lock held and never on
// the thread itself: asks the thread to stop, waits, terminates it when it
// does not end, and clears the record. The event stays: other threads may
// signal it at any time.
void Shutdown(COsThreadImpl* a_pimpl, std::int32_t a_i32TimeoutMs) {
  HANDLE const l_hThread = a_pimpl->m_hThread.Get();
  if (a_pimpl->m_hThread.IsValid()) {
    // A thread that marked itself not running (a crash, an exit, a stop of
    // itself) is still waited for: the record must not be cleared under it.
    if (a_pimpl->m_i32RunState != OS_THREAD_NOTRUNNING) {
      a_pimpl->m_i32Request = OS_THREAD_REQUEST_STOP;
      SetEvent(a_pimpl->m_hEvent.Get());
    }
    if (!WaitEnded(l_hThread, TimeoutOf(a_i32TimeoutMs))) {
      OS_LOGE("thr>>> something is wrong, a thread we asked to stop isn't terminating, so we're terminating it...<%s>",
              a_pimpl->m_szName);
      TerminateThread(l_hThread, 0);
      // Termination is asynchronous but completes; the record is not freed
      // while the thread could still run.
      WaitForSingleObject(l_hThread, INFINITE);
    }
  }
  a_pimpl->m_hThread.Reset();
  a_pimpl->m_pvArg = nullptr;
  a_pimpl->m_u64ThreadId = 0;
  a_pimpl->m_u64Affinity = 0;  // the next thread has none applied yet
  a_pimpl->m_szName[0] = 0;
  a_pimpl->m_u8Started = 0;
  a_pimpl->m_i32Request = OS_THREAD_REQUEST_RUN;
  a_pimpl->m_i32RunState = OS_THREAD_NOTRUNNING;
}

// Stop without ignoring itself, on the thread itself: the thread ends as by
// Exit. Handles, event and started byte stay for the owner, whose clean-up
// waits on the handle. When the stop lock is taken, the owner (or another
// thread) is stopping this thread already and owns the record: the thread
// ends without touching it.
[[noreturn]] void EndSelf(COsThreadImpl* a_pimpl) {
  if (OsSyncSpinTryLock(&a_pimpl->m_u32StopLock) != OS_STS_SUCCESS) _endthreadex(0);
  if (a_pimpl->m_u8Started != 0 && a_pimpl->m_i32RunState != OS_THREAD_NOTRUNNING &&
      a_pimpl->m_i32Request != OS_THREAD_REQUEST_STOP)
    OS_LOGA("thr>>> stop called from thread it's stopping (bad programmer)...<%s>", a_pimpl->m_szName);
  a_pimpl->m_i32RunState = OS_THREAD_NOTRUNNING;
  OsSyncSpinUnlock(&a_pimpl->m_u32StopLock);
  _endthreadex(0);
}

unsigned __stdcall ThreadEntry(void* a_pvArg) {
  OS_LOGI("thr>>> new thread starting...");
  OS_RETURN_IF_NULL(a_pvArg, OS_LOG_ERROR, "a_pvArg is NULL...", 0);
  COsThread* const l_posthread = static_cast<COsThread*>(a_pvArg);
  COsThreadImpl* const l_pimpl = l_posthread->m_posthreadimpl;
  SetLastError(0);
  l_pimpl->m_u64ThreadId = GetCurrentThreadId();
  const std::uint64_t l_u64Default = OsThreadGetDefaultAffinity();
  if (l_u64Default != 0 && OsCfgSysProcessorCountQuiet() > 1) {
    const std::uint64_t l_u64Mask = l_u64Default & l_posthread->AffinityGet();
    if (l_u64Mask != 0) l_posthread->AffinitySet(l_u64Mask);
  }
  OsThreadCall l_call = {l_posthread, l_pimpl->m_osthreadproc, OS_STS_SUCCESS, false};
  t_pcall = &l_call;
  l_pimpl->m_u8Started = 1;
  std::uint32_t l_u32Caught = 0;
  const std::uint32_t l_u32Result = OsThreadRunContained(InvokeProcedure, &l_call, &l_u32Caught);
  t_pcall = nullptr;
  if (l_u32Caught == 0 && l_u32Result == 0) return static_cast<unsigned>(l_call.m_eossts);
  OS_LOGA("thr>>> thread crash detected...");
  // A record freed by the object's destruction on this thread is not touched.
  const char* const l_szName = l_call.m_bRecordFreed ? "" : l_pimpl->m_szName;
  if (l_u32Caught == 0)
    OS_LOGI("thr>>> the procedure threw a C++ exception <%s>", l_szName);
  else
    OS_LOGI("thr>>> the procedure raised exception 0x%08x <%s>", static_cast<unsigned>(l_u32Result), l_szName);
  if (!l_call.m_bRecordFreed) l_pimpl->m_i32RunState = OS_THREAD_NOTRUNNING;  // the thread's last touch of the record
  return 0;
}

}  // namespace

COsThread::COsThread() : m_posthreadimpl(OsMemNew(COsThreadImpl, "COsThreadImpl")) {}

COsThread::~COsThread() {
  if (m_posthreadimpl == nullptr) return;
  if (IsSelf(m_posthreadimpl)) {
    // Destroyed by its own thread (a callback deleting its object): the
    // thread goes on and returns from its procedure, which must then leave
    // the freed record alone.
    if (t_pcall != nullptr) t_pcall->m_bRecordFreed = true;
  } else {
    Stop(false, OS_THREAD_STOP_TIMEOUT_MS);
  }
  m_posthreadimpl->m_hEvent.Reset();
  m_posthreadimpl->m_hThread.Reset();
  OsThreadSpawnRelease(m_posthreadimpl);
  OsMemDelete(m_posthreadimpl);
  m_posthreadimpl = nullptr;
}

EOSSTS COsThread::Start(const char* a_szName, OsThreadProc a_osthreadproc, void* a_pvArg) {
  if (m_posthreadimpl == nullptr) return OS_STS_FAIL;
  COsThreadImpl* const l_pimpl = m_posthreadimpl;
  const char* const l_szName = a_szName != nullptr ? a_szName : "noname";
  OS_RETURN_IF_NULL(a_osthreadproc, OS_LOG_ERROR, "thr>>> a_osthreadproc is NULL...<%s>", OS_STS_BADARG, l_szName);
  OS_RETURN_IF(l_pimpl->m_i32RunState != OS_THREAD_NOTRUNNING, OS_LOG_ASSERT,
               "thr>>> you're already running this thread...<%s>", OS_STS_FAIL, l_pimpl->m_szName);
  // A run that ended by itself (a crash, an exit) still holds its handles.
  if (l_pimpl->m_hThread.IsValid()) Stop(false, OS_THREAD_STOP_TIMEOUT_MS);

  OS_LOGP("thr>>> starting <%s>", l_szName);
  SStrCpy(l_pimpl->m_szName, sizeof(l_pimpl->m_szName), l_szName);
  // Made by the first start and kept until destruction; later starts reset it.
  if (l_pimpl->m_hEvent.IsValid())
    ResetEvent(l_pimpl->m_hEvent.Get());
  else
    l_pimpl->m_hEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OS_RETURN_IF(!l_pimpl->m_hEvent.IsValid(), OS_LOG_ERROR, "thr>>> createEvent failed...<%s>", OS_STS_FAIL,
               l_pimpl->m_szName);

  l_pimpl->m_pvArg = a_pvArg;
  l_pimpl->m_u8Started = 0;
  l_pimpl->m_i32RunState = OS_THREAD_RUNNING;
  l_pimpl->m_i32Request = OS_THREAD_REQUEST_RUN;
  l_pimpl->m_osthreadproc = a_osthreadproc;
  // Created suspended, so that its handle and id are in the record before
  // the thread can read them.
  unsigned l_uId = 0;
  const std::uintptr_t l_uptrThread = _beginthreadex(nullptr, 0, ThreadEntry, this, CREATE_SUSPENDED, &l_uId);
  if (l_uptrThread == 0) {
    OS_LOGE("thr>>> _beginthreadex failed...<%s>", l_pimpl->m_szName);
    l_pimpl->m_pvArg = nullptr;
    l_pimpl->m_i32RunState = OS_THREAD_NOTRUNNING;
    return OS_STS_FAIL;
  }
  l_pimpl->m_hThread.Reset(reinterpret_cast<HANDLE>(l_uptrThread));
  l_pimpl->m_u64ThreadId = l_uId;
  OS_LOGP("thr>>> id:%llu handle:%d name:<%s>", static_cast<unsigned long long>(l_uId), static_cast<int>(l_uptrThread),
          l_pimpl->m_szName);

  HANDLE const l_hThread = l_pimpl->m_hThread.Get();
  bool l_bBegun = ResumeThread(l_hThread) != static_cast<DWORD>(-1);
  if (!l_bBegun) OS_LOGE("thr>>> ResumeThread failed...<%s>", l_pimpl->m_szName);
  const DWORD l_dwStart = GetTickCount();
  while (l_bBegun) {
    // Ended is read before started: a thread that set the byte and ended
    // in between is seen as started.
    const bool l_bEnded = l_pimpl->m_i32RunState == OS_THREAD_NOTRUNNING || HasEnded(l_hThread);
    if (l_pimpl->m_u8Started != 0) return OS_STS_SUCCESS;
    if (l_bEnded) {
      OS_LOGE("thr>>> pthread_create halted while starting...");
      break;
    }
    const DWORD l_dwWaited = GetTickCount() - l_dwStart;
    if (l_dwWaited >= OS_THREAD_START_WAIT_MS) {
      OS_LOGE("thr>>> pthread_create failed...%d", static_cast<int>(l_dwWaited));
      break;
    }
    Sleep(OS_THREAD_POLL_MS);
  }
  // The stop's clean-up, although the started byte was never set: a
  // suspended or stuck thread is terminated, and every handle closed.
  OsSyncSpinLock(&l_pimpl->m_u32StopLock);
  Shutdown(l_pimpl, OS_THREAD_STOP_TIMEOUT_MS);
  OsSyncSpinUnlock(&l_pimpl->m_u32StopLock);
  return OS_STS_FAIL;
}

EOSSTS COsThread::Stop(bool a_bIgnoreSelf, std::int32_t a_i32TimeoutMs) {
  if (m_posthreadimpl == nullptr) return OS_STS_SUCCESS;
  COsThreadImpl* const l_pimpl = m_posthreadimpl;
  // On the thread itself before the lock: the owner may hold it, stopping
  // this very thread, and waits for it to end.
  if (IsSelf(l_pimpl)) {
    if (!a_bIgnoreSelf) EndSelf(l_pimpl);
    if (l_pimpl->m_u8Started != 0)
      OS_LOGI("thr>>> ignoring request to stop ourselves (this is okay)...<%s>", l_pimpl->m_szName);
    return OS_STS_SUCCESS;
  }
  OsSyncSpinLock(&l_pimpl->m_u32StopLock);
  if (l_pimpl->m_u8Started != 0) {
    l_pimpl->m_u8Started = 0;
    OS_LOGI("thr>>> stopping...<%s>", l_pimpl->m_szName);
    Shutdown(l_pimpl, a_i32TimeoutMs);
  }
  OsSyncSpinUnlock(&l_pimpl->m_u32StopLock);
  return OS_STS_SUCCESS;
}

void COsThread::Exit() {
  if (m_posthreadimpl == nullptr) return;
  COsThreadImpl* const l_pimpl = m_posthreadimpl;
  if (!IsSelf(l_pimpl)) {
    OS_LOGE("thr>>> bad exit attempt...<%s> %u %llu", l_pimpl->m_szName, static_cast<unsigned>(GetCurrentThreadId()),
            static_cast<unsigned long long>(l_pimpl->m_u64ThreadId));
    return;
  }
  l_pimpl->m_i32RunState = OS_THREAD_NOTRUNNING;
  OS_LOGP("thr>>> Exiting...<%s>", l_pimpl->m_szName);
  _endthreadex(0);
}

EOSSTS COsThread::WaitForExit(std::int32_t a_i32TimeoutMs) {
  if (m_posthreadimpl == nullptr) return OS_STS_SUCCESS;
  if (IsSelf(m_posthreadimpl)) return OS_STS_TIMEOUT;  // it cannot end while it waits for itself
  if (m_posthreadimpl->m_hThread.IsValid() && !WaitEnded(m_posthreadimpl->m_hThread.Get(), TimeoutOf(a_i32TimeoutMs)))
    return OS_STS_TIMEOUT;
  Stop(false, OS_THREAD_STOP_TIMEOUT_MS);
  return OS_STS_SUCCESS;
}

int COsThread::IsAlive() {
  if (m_posthreadimpl == nullptr || !m_posthreadimpl->m_hThread.IsValid()) return OS_THREAD_DEAD;
  return HasEnded(m_posthreadimpl->m_hThread.Get()) ? OS_THREAD_DEAD : OS_THREAD_ALIVE;
}

int COsThread::RunStateGet() {
  if (m_posthreadimpl == nullptr || m_posthreadimpl->m_i32RunState == 0) return OS_THREAD_NOTRUNNING;
  return m_posthreadimpl->m_i32RunState;
}

int COsThread::RequestGet() {
  return m_posthreadimpl == nullptr ? OS_THREAD_REQUEST_RUN : m_posthreadimpl->m_i32Request.load();
}

EOSSTS COsThread::RequestSet(int a_iRequest, bool a_bWake) {
  if (m_posthreadimpl == nullptr) return OS_STS_FAIL;
  COsThreadImpl* const l_pimpl = m_posthreadimpl;
  if (a_bWake) {
    if (l_pimpl->m_i32RunState != OS_THREAD_RUNNING) return OS_STS_FAIL;
    // Only over "no request pending": a stop request posted in between is
    // never overwritten. The event, made before the run state became
    // running, stays valid while a stop runs.
    std::int32_t l_i32Pending = OS_THREAD_REQUEST_RUN;
    if (!l_pimpl->m_i32Request.compare_exchange_strong(l_i32Pending, a_iRequest)) return OS_STS_BUSY;
    SetEvent(l_pimpl->m_hEvent.Get());
    return OS_STS_SUCCESS;
  }
  l_pimpl->m_i32Request = a_iRequest;
  if (l_pimpl->m_i32Request != a_iRequest) return OS_STS_BUSY;
  return OS_STS_SUCCESS;
}

std::uint64_t COsThread::ThreadIdGet() {
  return m_posthreadimpl == nullptr ? 0 : m_posthreadimpl->m_u64ThreadId.load();
}

void* COsThread::ArgGet() {
  OS_THREAD_IMPL_OR_RETURN(nullptr);
  return m_posthreadimpl->m_pvArg;
}

std::uint32_t COsThread::UserValueGet() {
  OS_THREAD_IMPL_OR_RETURN(0);
  return m_posthreadimpl->m_u32UserValue;
}

void COsThread::UserValueSet(std::uint32_t a_u32Value) {
  OS_THREAD_IMPL_OR_RETURN();
  m_posthreadimpl->m_u32UserValue = a_u32Value;
}

EOSSTS COsThread::WakeSignal(bool a_bSet) {
  if (m_posthreadimpl == nullptr) return OS_STS_FAIL;
  OS_LOGI("thr>>> setevent %d <%s>", a_bSet ? 1 : 0, m_posthreadimpl->m_szName);
  if (!m_posthreadimpl->m_hEvent.IsValid()) return OS_STS_FAIL;
  HANDLE const l_hEvent = m_posthreadimpl->m_hEvent.Get();
  return (a_bSet ? SetEvent(l_hEvent) : ResetEvent(l_hEvent)) ? OS_STS_SUCCESS : OS_STS_FAIL;
}

EOSSTS COsThread::WakeWait(std::int32_t a_i32TimeoutMs) {
  if (m_posthreadimpl == nullptr) return OS_STS_FAIL;
  COsThreadImpl* const l_pimpl = m_posthreadimpl;
  OS_RETURN_IF(!l_pimpl->m_hEvent.IsValid(), OS_LOG_ERROR, "thr>>> m_posthreadimpl->pod.m_hEvent is NULL...",
               OS_STS_FAIL);
  const DWORD l_dwWait =
      WaitForSingleObject(l_pimpl->m_hEvent.Get(), a_i32TimeoutMs < 0 ? INFINITE : static_cast<DWORD>(a_i32TimeoutMs));
  switch (l_dwWait) {
    case WAIT_OBJECT_0:
      // Reset by its one waiter, so it acts as auto-reset for the thread.
      ResetEvent(l_pimpl->m_hEvent.Get());
      return OS_STS_SUCCESS;
    case WAIT_TIMEOUT: return OS_STS_TIMEOUT;
    case WAIT_ABANDONED:
      OS_LOGE("thr>>> unexpected thread termination, we lost the event handle...<%s>", l_pimpl->m_szName);
      return OS_STS_FAIL;
    default:
      OS_LOGE("thr>>> unexpected status, assuming the thread is dead...%d <%s>", static_cast<int>(l_dwWait),
              l_pimpl->m_szName);
      return OS_STS_FAIL;
  }
}

std::uint64_t COsThread::AffinityGet() {
  if (m_posthreadimpl == nullptr) return 0;
  if (OsCfgSysProcessorCountQuiet() <= 1) return 1;
  const std::uint64_t l_u64Stored = m_posthreadimpl->m_u64Affinity;
  if (l_u64Stored != 0) return l_u64Stored;
  const std::uint64_t l_u64Process = OsThreadProcessAffinity();
  m_posthreadimpl->m_u64Affinity = l_u64Process;
  return l_u64Process;
}

EOSSTS COsThread::AffinitySet(std::uint64_t a_u64Mask) {
  if (m_posthreadimpl == nullptr) return OS_STS_FAIL;
  if (OsCfgSysProcessorCountQuiet() <= 1) return OS_STS_SUCCESS;
  std::uint64_t l_u64Applied = 0;
  if (OsThreadAffinityApply(m_posthreadimpl->m_hThread.Get(), a_u64Mask, &l_u64Applied) != OS_STS_SUCCESS)
    return OS_STS_FAIL;
  m_posthreadimpl->m_u64Affinity = l_u64Applied;
  return OS_STS_SUCCESS;
}

std::uint64_t OsProcessIdGet() { return GetCurrentProcessId(); }

std::uint64_t OsThreadIdGet() { return GetCurrentThreadId(); }

bool OsThreadExists(std::uint64_t a_u64ThreadId) {
  COsHandle l_hThread(OpenThread(SYNCHRONIZE, FALSE, static_cast<DWORD>(a_u64ThreadId)));
  return l_hThread.IsValid();
}

bool OsHandleIsRunning(void* a_hHandle) {
  return WaitForSingleObject(static_cast<HANDLE>(a_hHandle), 0) == WAIT_TIMEOUT;
}
