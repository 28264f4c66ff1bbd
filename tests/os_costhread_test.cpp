// The worker-thread object: the start handshake, the cooperative and the
// forced stop, a thread stopping itself, requests and the wake-up event,
// crash containment, affinity, identity, hardware breakpoints, and many
// starts and stops that leave no handle behind.
#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

#include "os.h"
#include "os_coscfg_sysinfo.h"
#include "os_costhread_impl.h"
#include "os_test_services.h"

namespace {

class Thread : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"thread.log");
  }
  // The mark of the one line holding a_sText; 0 when there is not exactly one.
  char Mark(const std::string& a_sText) {
    const auto l_lines = Lines(a_sText);
    return l_lines.size() == 1 ? l_lines[0].m_cMark : 0;
  }
};

constexpr const char* OS_TEST_TERMINATING = "isn't terminating";

// Our own handle of the object's thread, to watch it after the object has
// closed its own.
struct Watched {
  explicit Watched(COsThread& a_osthread)
      : m_h(OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT |
                           THREAD_SET_CONTEXT | THREAD_SET_INFORMATION,
                       FALSE, static_cast<DWORD>(a_osthread.ThreadIdGet()))) {}
  ~Watched() {
    if (m_h != nullptr) CloseHandle(m_h);
  }
  // The exit code once the thread has ended; 0xdeadbeef when it runs on after 5 s.
  DWORD ExitCode() const {
    DWORD l_dw = 0xdeadbeef;
    if (WaitForSingleObject(m_h, 5000) == WAIT_OBJECT_0) GetExitCodeThread(m_h, &l_dw);
    return l_dw;
  }
  HANDLE m_h;
};

template <class F>
ULONGLONG ElapsedMs(F a_f) {
  const ULONGLONG l_ullStart = GetTickCount64();
  a_f();
  return GetTickCount64() - l_ullStart;
}

EOSSTS __stdcall ReturnAtOnce(COsThread*) { return OS_STS_SUCCESS; }
// 259 is also the system's still-active exit code.
EOSSTS __stdcall ReturnStillActiveCode(COsThread*) { return OS_STS_CANNOTCREATE; }
EOSSTS __stdcall WaitForStop(COsThread* a_posthread) {
  while (a_posthread->RequestGet() != OS_THREAD_REQUEST_STOP) a_posthread->WakeWait(-1);
  return OS_STS_SUCCESS;
}
// Leaves the event to the test.
EOSSTS __stdcall PollForStop(COsThread* a_posthread) {
  while (a_posthread->RequestGet() != OS_THREAD_REQUEST_STOP) Sleep(2);
  return OS_STS_SUCCESS;
}
EOSSTS __stdcall IgnoreStop(COsThread*) {
  for (;;) Sleep(1);
}
// Waits for a wake-up, stops itself (ignoring itself when the argument says
// so), then reports and waits for a real stop.
EOSSTS __stdcall StopSelf(COsThread* a_posthread) {
  const bool l_bIgnore = *static_cast<bool*>(a_posthread->ArgGet());
  a_posthread->WakeWait(-1);
  a_posthread->Stop(l_bIgnore, OS_THREAD_STOP_TIMEOUT_MS);
  a_posthread->UserValueSet(1);
  return WaitForStop(a_posthread);
}
// Stops itself as soon as it has begun.
EOSSTS __stdcall StopAtOnce(COsThread* a_posthread) {
  a_posthread->Stop(false, OS_THREAD_STOP_TIMEOUT_MS);
  return OS_STS_NOMORE;  // never reached
}
// On the owner's stop request (posted while the owner holds the stop lock),
// calls Stop on itself, ignoring itself when the argument says so, and returns 6.
EOSSTS __stdcall StopSelfDuringStop(COsThread* a_posthread) {
  const bool l_bIgnore = *static_cast<bool*>(a_posthread->ArgGet());
  while (a_posthread->RequestGet() != OS_THREAD_REQUEST_STOP) Sleep(1);
  a_posthread->Stop(l_bIgnore, OS_THREAD_STOP_TIMEOUT_MS);
  return OS_STS_NOMORE;
}
// Waits for its own end: the answer (0xFFFF when it took a second or more)
// becomes the user value.
EOSSTS __stdcall WaitForItself(COsThread* a_posthread) {
  const ULONGLONG l_ullStart = GetTickCount64();
  const EOSSTS l_eossts = a_posthread->WaitForExit(3000);
  a_posthread->UserValueSet(GetTickCount64() - l_ullStart < 1000 ? l_eossts : 0xFFFF);
  return WaitForStop(a_posthread);
}
// Destroys its own object once woken, then returns 6.
EOSSTS __stdcall DeleteItself(COsThread* a_posthread) {
  a_posthread->WakeWait(-1);
  delete a_posthread;
  return OS_STS_NOMORE;
}
template <DWORD a_dwCode>
EOSSTS __stdcall Raise(COsThread*) {
  RaiseException(a_dwCode, 0, 0, nullptr);
  return OS_STS_NOMORE;
}
EOSSTS __stdcall Violate(COsThread*) {
  volatile int* volatile l_pi = nullptr;  // both volatile: the store is neither folded nor dropped
  *l_pi = 1;
  return OS_STS_SUCCESS;
}
EOSSTS __stdcall DivideByZero(COsThread*) {
  volatile int l_iZero = 0;
  volatile int l_iFive = 5;
  return static_cast<EOSSTS>(l_iFive / l_iZero);
}
// 4 KB a level, far past any thread's stack.
__attribute__((noinline)) int Recurse(volatile int* a_piDepth) {
  volatile char l_ac[4096];
  l_ac[0] = static_cast<char>(*a_piDepth);
  *a_piDepth = *a_piDepth + 1;
  if (*a_piDepth > (1 << 30)) return 0;
  l_ac[1] = static_cast<char>(Recurse(a_piDepth));  // used after the call: no loop can replace the recursion
  return l_ac[0] + l_ac[1];
}
EOSSTS __stdcall OverflowTheStack(COsThread*) {
  volatile int l_iDepth = 0;
  return static_cast<EOSSTS>(Recurse(&l_iDepth));
}
EOSSTS __stdcall ExitItself(COsThread* a_posthread) {
  a_posthread->Exit();
  return OS_STS_NOMORE;  // never reached
}
EOSSTS __stdcall Throw(COsThread*) { throw std::runtime_error("the procedure failed"); }
// An access violation that system code raises and handles itself.
EOSSTS __stdcall ProbeBadPointer(COsThread*) { return IsBadWritePtr(nullptr, 4) ? OS_STS_NOMORE : OS_STS_SUCCESS; }

// A procedure that returns at once is seen started, and WaitForExit finds
// it ended, also when it returns the still-active value 259.
TEST_F(Thread, ProcedureReturningAtOnce) {
  const std::pair<OsThreadProc, DWORD> l_arow[] = {{ReturnAtOnce, 0}, {ReturnStillActiveCode, STILL_ACTIVE}};
  for (const auto& [l_osthreadproc, l_dwExitCode] : l_arow) {
    COsThread l_osthread;
    int l_iArg = 0;
    ASSERT_EQ(l_osthread.Start(nullptr, l_osthreadproc, &l_iArg), OS_STS_SUCCESS);
    EXPECT_EQ(l_osthread.ArgGet(), &l_iArg);
    EXPECT_EQ(Watched(l_osthread).ExitCode(), l_dwExitCode);
    EXPECT_EQ(l_osthread.IsAlive(), OS_THREAD_DEAD);
    EXPECT_LT(ElapsedMs([&] { EXPECT_EQ(l_osthread.WaitForExit(1000), OS_STS_SUCCESS); }), 500u);
    EXPECT_EQ(l_osthread.RunStateGet(), OS_THREAD_NOTRUNNING);
    EXPECT_EQ(l_osthread.ThreadIdGet(), 0u);
    EXPECT_EQ(l_osthread.ArgGet(), nullptr);
  }
  EXPECT_EQ(Lines("thr>>> starting <noname>").size(), 2u);
  EXPECT_TRUE(Lines(OS_TEST_TERMINATING).empty());
}

TEST_F(Thread, StartIsRefusedWithoutAProcedureAndWhileRunning) {
  COsThread l_osthread;
  EXPECT_EQ(l_osthread.Start("none", nullptr, nullptr), OS_STS_BADARG);
  EXPECT_EQ(Mark("thr>>> a_osthreadproc is NULL...<none>"), 'E');
  ASSERT_EQ(l_osthread.Start("worker", WaitForStop, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(Mark("thr>>> starting <worker>"), 'P');
  EXPECT_EQ(l_osthread.Start("worker", WaitForStop, nullptr), OS_STS_FAIL);
  EXPECT_EQ(Mark("thr>>> you're already running this thread...<worker>"), 'A');
  EXPECT_EQ(l_osthread.IsAlive(), OS_THREAD_ALIVE);
  // The cooperative stop ends it without termination.
  EXPECT_LT(ElapsedMs([&] { EXPECT_EQ(l_osthread.Stop(false, 5000), OS_STS_SUCCESS); }), 2000u);
  EXPECT_EQ(l_osthread.RunStateGet(), OS_THREAD_NOTRUNNING);
  EXPECT_EQ(l_osthread.RequestGet(), OS_THREAD_REQUEST_RUN);
  EXPECT_TRUE(Lines(OS_TEST_TERMINATING).empty());
}

TEST_F(Thread, ProcedureIgnoringTheStopIsTerminatedAfterTheTimeout) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("deaf", IgnoreStop, nullptr), OS_STS_SUCCESS);
  const Watched l_watched(l_osthread);
  const ULONGLONG l_ullWaited = ElapsedMs([&] { EXPECT_EQ(l_osthread.Stop(false, 100), OS_STS_SUCCESS); });
  EXPECT_GE(l_ullWaited, 90u);
  EXPECT_LT(l_ullWaited, 3000u);
  EXPECT_EQ(WaitForSingleObject(l_watched.m_h, 0), WAIT_OBJECT_0);
  EXPECT_EQ(l_watched.ExitCode(), 0u);
  EXPECT_EQ(Mark("thr>>> something is wrong, a thread we asked to stop isn't terminating, so we're terminating "
                 "it...<deaf>"),
            'E');
}

TEST_F(Thread, StopOnItselfIgnoredOrEndingTheThread) {
  for (bool l_bIgnore : {true, false}) {
    SCOPED_TRACE(l_bIgnore ? "ignoring itself" : "not ignoring itself");
    COsThread l_osthread;
    ASSERT_EQ(l_osthread.Start("self", StopSelf, &l_bIgnore), OS_STS_SUCCESS);
    const Watched l_watched(l_osthread);
    ASSERT_EQ(l_osthread.WakeSignal(true), OS_STS_SUCCESS);
    if (l_bIgnore) {
      for (int l_i = 0; l_i < 500 && l_osthread.UserValueGet() == 0; ++l_i) Sleep(10);
      EXPECT_EQ(l_osthread.UserValueGet(), 1u);
      EXPECT_EQ(l_osthread.IsAlive(), OS_THREAD_ALIVE);
      EXPECT_EQ(l_osthread.Stop(false, 5000), OS_STS_SUCCESS);
    }
    EXPECT_EQ(l_watched.ExitCode(), 0u);
    EXPECT_EQ(l_osthread.UserValueGet(), l_bIgnore ? 1u : 0u);
    EXPECT_EQ(l_osthread.RunStateGet(), OS_THREAD_NOTRUNNING);
    EXPECT_EQ(l_osthread.IsAlive(), OS_THREAD_DEAD);
  }
  EXPECT_EQ(Lines("thr>>> ignoring request to stop ourselves (this is okay)...<self>").size(), 1u);
  EXPECT_EQ(Mark("thr>>> stop called from thread it's stopping (bad programmer)...<self>"), 'A');
  EXPECT_TRUE(Lines(OS_TEST_TERMINATING).empty());
}

// A thread that stops itself at once ends as by Exit, and its owner sees it
// started and cleans up after it.
TEST_F(Thread, ProcedureStoppingItselfAtOnce) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("hasty", StopAtOnce, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(Watched(l_osthread).ExitCode(), 0u);
  EXPECT_EQ(l_osthread.RunStateGet(), OS_THREAD_NOTRUNNING);
  EXPECT_EQ(l_osthread.WaitForExit(1000), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.ThreadIdGet(), 0u);
  EXPECT_EQ(Mark("thr>>> stop called from thread it's stopping (bad programmer)...<hasty>"), 'A');
  EXPECT_TRUE(Lines("halted while starting").empty());
}

// The worker's own Stop while the owner is stopping it does not wait for
// the owner: ignoring itself it returns, otherwise it ends at once.
TEST_F(Thread, StopOnItselfWhileTheOwnerStopsIt) {
  for (bool l_bIgnore : {true, false}) {
    SCOPED_TRACE(l_bIgnore ? "ignoring itself" : "not ignoring itself");
    COsThread l_osthread;
    ASSERT_EQ(l_osthread.Start("racer", StopSelfDuringStop, &l_bIgnore), OS_STS_SUCCESS);
    const Watched l_watched(l_osthread);
    EXPECT_LT(ElapsedMs([&] { EXPECT_EQ(l_osthread.Stop(false, 3000), OS_STS_SUCCESS); }), 1500u);
    EXPECT_EQ(l_watched.ExitCode(), l_bIgnore ? static_cast<DWORD>(OS_STS_NOMORE) : 0u);
  }
  EXPECT_TRUE(Lines(OS_TEST_TERMINATING).empty());
}

// A thread waiting for its own end is told at once that it still runs.
TEST_F(Thread, WaitForExitOnItself) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("patient", WaitForItself, nullptr), OS_STS_SUCCESS);
  for (int l_i = 0; l_i < 500 && l_osthread.UserValueGet() == 0; ++l_i) Sleep(10);
  EXPECT_EQ(l_osthread.UserValueGet(), static_cast<std::uint32_t>(OS_STS_TIMEOUT));
  EXPECT_EQ(l_osthread.Stop(false, 5000), OS_STS_SUCCESS);
}

// The worker that destroys its own object goes on and returns from its
// procedure; the record is freed.
TEST_F(Thread, WorkerDestroyingItsObject) {
  COsThread* const l_posthread = new COsThread;
  ASSERT_EQ(l_posthread->Start("owned", DeleteItself, nullptr), OS_STS_SUCCESS);
  const Watched l_watched(*l_posthread);
  ASSERT_EQ(l_posthread->WakeSignal(true), OS_STS_SUCCESS);
  EXPECT_EQ(l_watched.ExitCode(), static_cast<DWORD>(OS_STS_NOMORE));
  EXPECT_EQ(Lines("delete-object").size(), 1u);
}

// A thread that has ended is no longer its object's own, even when the
// calling thread got its id again.
TEST_F(Thread, ReusedThreadIdIsNotTheThreadItself) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("gone", ReturnAtOnce, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(Watched(l_osthread).ExitCode(), 0u);
  l_osthread.m_posthreadimpl->m_u64ThreadId = GetCurrentThreadId();  // as if the id had come back to us
  EXPECT_EQ(l_osthread.Stop(true, 1000), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.ThreadIdGet(), 0u);
  EXPECT_TRUE(Lines("ignoring request to stop ourselves").empty());
}

TEST_F(Thread, ExitEndsOnlyTheThreadItself) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("worker", WaitForStop, nullptr), OS_STS_SUCCESS);
  l_osthread.Exit();  // from the owner: refused
  EXPECT_EQ(l_osthread.IsAlive(), OS_THREAD_ALIVE);
  EXPECT_EQ(Mark("thr>>> bad exit attempt...<worker> " + std::to_string(GetCurrentThreadId()) + " " +
                 std::to_string(l_osthread.ThreadIdGet())),
            'E');
  EXPECT_EQ(l_osthread.Stop(false, 5000), OS_STS_SUCCESS);
  ASSERT_EQ(l_osthread.Start("leaver", ExitItself, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(Watched(l_osthread).ExitCode(), 0u);
  EXPECT_EQ(l_osthread.RunStateGet(), OS_THREAD_NOTRUNNING);
  EXPECT_EQ(Mark("thr>>> Exiting...<leaver>"), 'P');
  // The exited run's handles are closed by the next start.
  ASSERT_EQ(l_osthread.Start("again", ReturnAtOnce, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.WaitForExit(1000), OS_STS_SUCCESS);
}

TEST_F(Thread, RequestsAndTheWakeUpEvent) {
  COsThread l_osthread;
  EXPECT_EQ(l_osthread.WakeWait(0), OS_STS_FAIL);
  EXPECT_EQ(Mark("thr>>> m_posthreadimpl->pod.m_hEvent is NULL..."), 'E');
  EXPECT_EQ(l_osthread.RequestSet(5, true), OS_STS_FAIL);  // not running
  ASSERT_EQ(l_osthread.Start("poller", PollForStop, nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.WakeSignal(true), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.WakeWait(0), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.WakeWait(0), OS_STS_TIMEOUT);
  EXPECT_EQ(Lines("thr>>> setevent 1 <poller>").size(), 1u);
  EXPECT_EQ(l_osthread.RequestSet(OS_THREAD_REQUEST_RUN, true), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.WakeWait(0), OS_STS_SUCCESS);  // signalled by the request
  EXPECT_EQ(l_osthread.RequestSet(OS_THREAD_REQUEST_STOP, false), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.RequestSet(5, true), OS_STS_BUSY);
  EXPECT_EQ(l_osthread.RequestGet(), OS_THREAD_REQUEST_STOP);
  EXPECT_EQ(l_osthread.WaitForExit(5000), OS_STS_SUCCESS);
}

TEST_F(Thread, CrashesAreContainedAndHandledExceptionsLeftAlone) {
  struct Row {
    const char* m_szName;
    OsThreadProc m_osthreadproc;
    const char* m_szCaught;  // null: the procedure returns normally
  };
  const Row l_arow[] = {
      {"violate", Violate, "raised exception 0xc0000005"},
      {"divide", DivideByZero, "raised exception 0xc0000094"},
      {"overflow", OverflowTheStack, "raised exception 0xc00000fd"},
      {"throw", Throw, "threw a C++ exception"},
      {"probe", ProbeBadPointer, nullptr},
      {"raise0", Raise<0>, "raised exception 0x00000000"},
      {"raise1", Raise<1>, "raised exception 0x00000001"},
  };
  for (const Row& l_row : l_arow) {
    SCOPED_TRACE(l_row.m_szName);
    COsThread l_osthread;
    ASSERT_EQ(l_osthread.Start(l_row.m_szName, l_row.m_osthreadproc, nullptr), OS_STS_SUCCESS);
    EXPECT_EQ(Watched(l_osthread).ExitCode(), l_row.m_szCaught != nullptr ? 0u : static_cast<DWORD>(OS_STS_NOMORE));
    EXPECT_EQ(l_osthread.RunStateGet(), l_row.m_szCaught != nullptr ? OS_THREAD_NOTRUNNING : OS_THREAD_RUNNING);
    EXPECT_EQ(l_osthread.WaitForExit(1000), OS_STS_SUCCESS);
    if (l_row.m_szCaught != nullptr) {
      EXPECT_EQ(Lines(std::string("thr>>> the procedure ") + l_row.m_szCaught + " <" + l_row.m_szName + ">").size(),
                1u);
    }
  }
  const auto l_lines = Lines("thr>>> thread crash detected...");
  ASSERT_EQ(l_lines.size(), 6u);
  EXPECT_EQ(l_lines[0].m_cMark, 'A');
}

TEST_F(Thread, AffinityOfTheThreadAndTheDefault) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("pinned", PollForStop, nullptr), OS_STS_SUCCESS);
  if (OsCfgSysProcessorCountQuiet() <= 1) {
    EXPECT_EQ(l_osthread.AffinitySet(2), OS_STS_SUCCESS);
    EXPECT_EQ(l_osthread.AffinityGet(), 1u);
    GTEST_SKIP() << "one processor: affinity is not applied";
  }
  DWORD_PTR l_dwptrProcess = 0;
  DWORD_PTR l_dwptrSystem = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &l_dwptrProcess, &l_dwptrSystem));
  ASSERT_GE(l_dwptrProcess, 3u);
  EXPECT_EQ(l_osthread.AffinityGet(), l_dwptrProcess);
  ASSERT_EQ(l_osthread.AffinitySet(1), OS_STS_SUCCESS);
  EXPECT_EQ(l_osthread.AffinityGet(), 1u);
  EXPECT_EQ(SetThreadAffinityMask(Watched(l_osthread).m_h, l_dwptrProcess), 1u);  // the mask it had
  EXPECT_EQ(l_osthread.Stop(false, 5000), OS_STS_SUCCESS);
  // A default applies to threads started later, within the process's mask.
  OsThreadSetDefaultAffinity(2 | 0x100000000ull);
  ASSERT_EQ(l_osthread.Start("default", PollForStop, nullptr), OS_STS_SUCCESS);
  OsThreadSetDefaultAffinity(0);
  EXPECT_EQ(l_osthread.AffinityGet(), 2u);
  EXPECT_EQ(SetThreadAffinityMask(Watched(l_osthread).m_h, l_dwptrProcess), 2u);
}

// The ideal processor is the mask's lowest processor, one that exists.
TEST(ThreadAffinity, IdealProcessorOfAMask) {
  const std::pair<std::uint64_t, std::uint32_t> l_arow[] = {{1, 0}, {2, 1}, {3, 0}, {0xC, 2}, {0x80000000ull, 31}};
  for (const auto& [l_u64Mask, l_u32Ideal] : l_arow)
    EXPECT_EQ(OsThreadIdealProcessor(l_u64Mask), l_u32Ideal) << l_u64Mask;
}

TEST_F(Thread, Identity) {
  EXPECT_EQ(OsProcessIdGet(), GetCurrentProcessId());
  EXPECT_EQ(OsThreadIdGet(), GetCurrentThreadId());
  EXPECT_TRUE(OsThreadExists(GetCurrentThreadId()));
  EXPECT_TRUE(OsHandleIsRunning(GetCurrentProcess()));
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("ended", ReturnAtOnce, nullptr), OS_STS_SUCCESS);
  const std::uint64_t l_u64Id = l_osthread.ThreadIdGet();
  EXPECT_EQ(l_osthread.WaitForExit(1000), OS_STS_SUCCESS);
  EXPECT_FALSE(OsThreadExists(l_u64Id));
}

TEST(ThreadHwBp, ControlBitsOfEachRegister) {
  struct Row {
    int m_iRegister;
    EOSHWBPKIND m_eoshwbpkind;
    EOSHWBPSIZE m_eoshwbpsize;
    std::uint64_t m_u64Bits;
  };
  // Local enable 2n, access at 16 + 4n, length at 18 + 4n.
  const Row l_arow[] = {
      {0, OS_HWBP_EXECUTE, OS_HWBP_SIZE1, 0x1},
      {1, OS_HWBP_EXECUTE, OS_HWBP_SIZE4, 0x4},  // an instruction breakpoint's length is always 00
      {1, OS_HWBP_WRITE, OS_HWBP_SIZE4, 0x4 | (0x1u << 20) | (0x3u << 22)},
      {2, OS_HWBP_READWRITE, OS_HWBP_SIZE2, 0x10 | (0x3u << 24) | (0x1u << 26)},
      {3, OS_HWBP_WRITE, OS_HWBP_SIZE8, 0x40 | (0x1u << 28) | (0x2ull << 30)},
  };
  for (const Row& l_row : l_arow)
    EXPECT_EQ(OsHwBpControlBits(l_row.m_iRegister, l_row.m_eoshwbpkind, l_row.m_eoshwbpsize), l_row.m_u64Bits)
        << l_row.m_iRegister;
}

volatile int g_iWatched = 0;
volatile LONG g_lHits = 0;
DWORD g_dwWatcher = 0;

LONG WINAPI CountHits(EXCEPTION_POINTERS* a_pexceptionpointers) {
  if (a_pexceptionpointers->ExceptionRecord->ExceptionCode != EXCEPTION_SINGLE_STEP ||
      GetCurrentThreadId() != g_dwWatcher)
    return EXCEPTION_CONTINUE_SEARCH;
  InterlockedIncrement(&g_lHits);
  return EXCEPTION_CONTINUE_EXECUTION;  // a data breakpoint traps after the access
}

struct SProbe {
  HANDLE m_hStarted;
  HANDLE m_hGo;
};

DWORD WINAPI WriteWhenLetGo(void* a_pvProbe) {
  const SProbe* const l_pprobe = static_cast<const SProbe*>(a_pvProbe);
  SetEvent(l_pprobe->m_hStarted);
  WaitForSingleObject(l_pprobe->m_hGo, INFINITE);
  g_iWatched = 1;
  return 0;
}

// Whether the machine delivers debug traps to its programs at all: a write
// breakpoint set with plain Win32 calls on a running, waiting thread must
// fire when that thread writes. A virtual machine may keep the debug
// registers from its guests' programs. A call that fails is a failure, not
// a reason to skip.
void ProbeDebugTraps(bool* a_pbFire) {
  *a_pbFire = false;
  SProbe l_probe = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  ASSERT_TRUE(l_probe.m_hStarted != nullptr && l_probe.m_hGo != nullptr);
  // CountHits counts the probe's thread, whose id CreateThread stores.
  g_lHits = 0;
  HANDLE const l_hThread = CreateThread(nullptr, 0, WriteWhenLetGo, &l_probe, 0, &g_dwWatcher);
  if (l_hThread == nullptr) {
    ADD_FAILURE() << "CreateThread failed " << GetLastError();
    CloseHandle(l_probe.m_hStarted);
    CloseHandle(l_probe.m_hGo);
    return;
  }
  EXPECT_EQ(WaitForSingleObject(l_probe.m_hStarted, INFINITE), WAIT_OBJECT_0);
  void* const l_pvHandler = AddVectoredExceptionHandler(1, CountHits);
  CONTEXT l_context = {};
  l_context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
  EXPECT_NE(SuspendThread(l_hThread), static_cast<DWORD>(-1)) << GetLastError();
  EXPECT_TRUE(GetThreadContext(l_hThread, &l_context)) << GetLastError();
  l_context.Dr0 = reinterpret_cast<DWORD_PTR>(&g_iWatched);
  l_context.Dr7 = 0x1 | (0x1u << 16) | (0x3u << 18);  // local enable 0, on writes, 4 bytes
  EXPECT_TRUE(SetThreadContext(l_hThread, &l_context)) << GetLastError();
  ResumeThread(l_hThread);
  SetEvent(l_probe.m_hGo);
  // The thread ends after its write, so the handler outlives any trap.
  EXPECT_EQ(WaitForSingleObject(l_hThread, INFINITE), WAIT_OBJECT_0);
  RemoveVectoredExceptionHandler(l_pvHandler);
  CloseHandle(l_hThread);
  CloseHandle(l_probe.m_hStarted);
  CloseHandle(l_probe.m_hGo);
  *a_pbFire = g_lHits > 0;
}

// Set through the calling thread's pseudo-handle, cleared on the same thread
// or from another one.
TEST_F(Thread, WriteBreakpointFiresUntilCleared) {
  bool l_bFire = false;
  ProbeDebugTraps(&l_bFire);
  ASSERT_FALSE(HasFailure());
  if (!l_bFire) GTEST_SKIP() << "this machine delivers no debug traps (a plain write breakpoint did not fire)";
  g_dwWatcher = GetCurrentThreadId();
  void* const l_pvHandler = AddVectoredExceptionHandler(1, CountHits);
  ASSERT_NE(l_pvHandler, nullptr);
  for (bool l_bElsewhere : {false, true}) {
    SCOPED_TRACE(l_bElsewhere ? "cleared from another thread" : "cleared on the same thread");
    g_lHits = 0;
    OsHwBp* l_poshwbp = OsHwBpSet(GetCurrentThread(), OS_HWBP_WRITE, OS_HWBP_SIZE4, const_cast<int*>(&g_iWatched));
    ASSERT_NE(l_poshwbp, nullptr);
    g_iWatched = 1;
    EXPECT_EQ(g_lHits, 1);
    EXPECT_EQ(g_iWatched, 1);  // a read does not fire a write breakpoint
    EXPECT_EQ(g_lHits, 1);
    EOSSTS l_eossts = OS_STS_FAIL;
    if (l_bElsewhere)
      std::thread([&] { l_eossts = OsHwBpClear(&l_poshwbp); }).join();
    else
      l_eossts = OsHwBpClear(&l_poshwbp);
    EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
    EXPECT_EQ(l_poshwbp, nullptr);
    g_iWatched = 2;
    EXPECT_EQ(g_lHits, 1);
  }
  RemoveVectoredExceptionHandler(l_pvHandler);
  EXPECT_EQ(Lines("new OsHwBp").size(), 2u);
}

CONTEXT DebugRegistersOf(HANDLE a_hThread) {
  CONTEXT l_context = {};
  l_context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
  EXPECT_NE(SuspendThread(a_hThread), static_cast<DWORD>(-1));
  EXPECT_TRUE(GetThreadContext(a_hThread, &l_context));
  ResumeThread(a_hThread);
  return l_context;
}

TEST_F(Thread, AllFourDebugRegistersInUse) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("target", PollForStop, nullptr), OS_STS_SUCCESS);
  const Watched l_watched(l_osthread);
  static std::uint32_t s_au32Watched[5];
  OsHwBp* l_aposhwbp[4] = {};
  for (int l_i = 0; l_i < 4; ++l_i) {
    l_aposhwbp[l_i] = OsHwBpSet(l_watched.m_h, OS_HWBP_READWRITE, OS_HWBP_SIZE4, &s_au32Watched[l_i]);
    ASSERT_NE(l_aposhwbp[l_i], nullptr) << l_i;
  }
  EXPECT_EQ(OsHwBpSet(l_watched.m_h, OS_HWBP_WRITE, OS_HWBP_SIZE1, &s_au32Watched[4]), nullptr);
  EXPECT_EQ(Lines("thr>>> all four debug registers are in use...").size(), 1u);
  // As the system reads them back: addresses, enables 0x55, read or write (11) of four bytes (11).
  CONTEXT l_context = DebugRegistersOf(l_watched.m_h);
  EXPECT_EQ(l_context.Dr0, reinterpret_cast<std::uintptr_t>(&s_au32Watched[0]));
  EXPECT_EQ(l_context.Dr3, reinterpret_cast<std::uintptr_t>(&s_au32Watched[3]));
  EXPECT_EQ(l_context.Dr7 & 0xFFFF00FFu, 0xFFFF0055u);
  for (OsHwBp*& l_poshwbp : l_aposhwbp) EXPECT_EQ(OsHwBpClear(&l_poshwbp), OS_STS_SUCCESS);
  l_context = DebugRegistersOf(l_watched.m_h);
  EXPECT_EQ(l_context.Dr7 & 0x55u, 0u);
  EXPECT_EQ(l_context.Dr0, 0u);
}

// A register enabled only globally is in use: the breakpoint takes the next.
TEST_F(Thread, GloballyEnabledRegisterIsInUse) {
  COsThread l_osthread;
  ASSERT_EQ(l_osthread.Start("target", PollForStop, nullptr), OS_STS_SUCCESS);
  const Watched l_watched(l_osthread);
  static std::uint32_t s_au32Watched[2];
  CONTEXT l_context = {};
  l_context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
  l_context.Dr0 = reinterpret_cast<std::uintptr_t>(&s_au32Watched[0]);
  l_context.Dr7 = 0x2 | (0xDu << 16);  // global enable of register 0: write, four bytes
  ASSERT_NE(SuspendThread(l_watched.m_h), static_cast<DWORD>(-1));
  ASSERT_TRUE(SetThreadContext(l_watched.m_h, &l_context));
  ResumeThread(l_watched.m_h);
  if ((DebugRegistersOf(l_watched.m_h).Dr7 & 0x3u) != 0x2u) GTEST_SKIP() << "Wine: the global enable is not kept";
  OsHwBp* l_poshwbp = OsHwBpSet(l_watched.m_h, OS_HWBP_WRITE, OS_HWBP_SIZE4, &s_au32Watched[1]);
  ASSERT_NE(l_poshwbp, nullptr);
  l_context = DebugRegistersOf(l_watched.m_h);
  EXPECT_EQ(l_context.Dr0, reinterpret_cast<std::uintptr_t>(&s_au32Watched[0]));
  EXPECT_EQ(l_context.Dr1, reinterpret_cast<std::uintptr_t>(&s_au32Watched[1]));
  EXPECT_EQ(l_context.Dr7 & 0xFF000Fu, 0xDD0006u);
  EXPECT_EQ(OsHwBpClear(&l_poshwbp), OS_STS_SUCCESS);
}

// Starts and stops 200 threads, up to four alive at a time, that return at
// once, wait for the stop or ignore it: every start succeeds, only the
// ignoring ones are terminated, and no handle is left behind.
TEST_F(Thread, ManyStartsAndStopsLeaveNoHandle) {
  constexpr int l_iThreads = 200;
  constexpr std::size_t l_sizetAlive = 4;
  const OsThreadProc l_aosthreadproc[] = {ReturnAtOnce, WaitForStop, IgnoreStop};
  std::mt19937 l_rng(20240611);
  {
    COsThread l_osthreadWarm;  // the first start's one-time allocations
    ASSERT_EQ(l_osthreadWarm.Start("warm", ReturnAtOnce, nullptr), OS_STS_SUCCESS);
  }
  DWORD l_dwBefore = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwBefore));
  const ULONGLONG l_ullStart = GetTickCount64();
  int l_iIgnoring = 0;
  std::deque<std::pair<std::unique_ptr<COsThread>, int>> l_alive;
  auto StopOldest = [&l_alive]() {
    const bool l_bIgnoring = l_alive.front().second == 2;
    EXPECT_EQ(l_alive.front().first->Stop(false, l_bIgnoring ? 50 : 10000), OS_STS_SUCCESS);
    EXPECT_EQ(l_alive.front().first->IsAlive(), OS_THREAD_DEAD);
    l_alive.pop_front();
  };
  for (int l_i = 0; l_i < l_iThreads; ++l_i) {
    const int l_iKind = static_cast<int>(l_rng() % 3);
    l_iIgnoring += l_iKind == 2;
    auto l_posthread = std::make_unique<COsThread>();
    ASSERT_EQ(l_posthread->Start("stress", l_aosthreadproc[l_iKind], nullptr), OS_STS_SUCCESS) << l_i;
    l_alive.emplace_back(std::move(l_posthread), l_iKind);
    if (l_alive.size() > l_sizetAlive) StopOldest();
  }
  while (!l_alive.empty()) StopOldest();
  DWORD l_dwAfter = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &l_dwAfter));
  EXPECT_EQ(l_dwAfter, l_dwBefore);
  EXPECT_LT(GetTickCount64() - l_ullStart, 60000u);
  EXPECT_GT(l_iIgnoring, 0);
  EXPECT_EQ(Lines(OS_TEST_TERMINATING).size(), static_cast<std::size_t>(l_iIgnoring));
}

// Every share of a round runs on a thread of its own, once; a worker whose
// thread ends inside its share has it run again by the caller, and the
// rounds after it go on without that thread.
TEST_F(Thread, WorkersRunEveryShareOnceAndOutliveAnEndedWorker) {
  struct SRound {
    std::atomic<int> m_aiRuns[3];
    DWORD m_adwThread[3];
    bool m_bEnd;
  };
  COsThreadWorkers l_workers(3);
  ASSERT_EQ(l_workers.Count(), 3u);
  const auto l_pfnJob = [](void* a_pv, std::uint32_t a_u32Worker) {
    SRound& l_round = *static_cast<SRound*>(a_pv);
    l_round.m_adwThread[a_u32Worker] = GetCurrentThreadId();
    if (++l_round.m_aiRuns[a_u32Worker] == 1 && l_round.m_bEnd && a_u32Worker == 2) ExitThread(0);
  };
  for (const bool l_bEnd : {false, true, false}) {
    SRound l_round = {{0, 0, 0}, {}, l_bEnd};
    l_workers.Run(l_pfnJob, &l_round);
    EXPECT_EQ(l_round.m_aiRuns[0], 1);
    EXPECT_EQ(l_round.m_aiRuns[1], 1);
    EXPECT_EQ(l_round.m_aiRuns[2], l_bEnd ? 2 : 1);
    EXPECT_EQ(l_round.m_adwThread[0], GetCurrentThreadId());
    EXPECT_NE(l_round.m_adwThread[1], GetCurrentThreadId());
  }
}

}  // namespace
