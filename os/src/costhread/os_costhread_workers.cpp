// Worker threads for the format engines: COsThread workers that wait for
// rounds on an event of their own and note each round they finish; the
// caller waits for every worker's note, and runs the share of a worker
// whose thread has ended itself.
#include <windows.h>

#include "os_coscfg.h"
#include "os_coscfg_sysinfo.h"
#include "os_costhread.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_scoped.h"

class COsThreadWorkersImpl {
 public:
  struct SWorker {
    COsThreadWorkersImpl* m_pimpl = nullptr;
    std::uint32_t m_u32Worker = 0;
    COsThread* m_posthread = nullptr;
    COsHandle m_hGo;                // auto-reset: set for a worker that sleeps
    volatile LONG m_lSleeping = 0;  // the worker waits, or is about to, on m_hGo
    volatile LONG m_lFinished = 0;  // the last round this worker finished
  };

  COsHandle m_hDone;             // auto-reset: set for a caller that sleeps
  volatile LONG m_lWaiting = 0;  // the caller waits, or is about to, on m_hDone
  volatile LONG m_lRound = 0;    // the round being run
  volatile LONG m_lStop = 0;
  OsWorkerJob m_pfnJob = nullptr;  // the round's job, written before the round's number
  void* m_pvJob = nullptr;
  std::uint32_t m_u32Helpers = 0;  // started workers besides the caller
  SWorker m_aworker[OS_WORKERS_MAX - 1];
};

namespace {

// Rounds follow each other closely while an engine runs, and an event costs
// a trip to the kernel (under Wine to its server): a worker looks for the
// next round for a moment before it sleeps, and so does the caller for the
// round's end. Events are set only for a side that sleeps; the flag is
// raised before the last look, so a round or an end is never missed.
constexpr int s_iSpins = 4000;

LONG Read(volatile LONG* a_pl) { return InterlockedCompareExchange(a_pl, 0, 0); }

EOSSTS __stdcall WorkerProc(COsThread* a_posthread) {
  COsThreadWorkersImpl::SWorker& l_worker = *static_cast<COsThreadWorkersImpl::SWorker*>(a_posthread->ArgGet());
  COsThreadWorkersImpl& l_impl = *l_worker.m_pimpl;
  LONG l_lSeen = 0;
  for (;;) {
    for (int l_i = 0; l_i < s_iSpins && Read(&l_impl.m_lRound) == l_lSeen && Read(&l_impl.m_lStop) == 0; ++l_i)
      YieldProcessor();
    while (Read(&l_impl.m_lRound) == l_lSeen && Read(&l_impl.m_lStop) == 0) {
      InterlockedExchange(&l_worker.m_lSleeping, 1);
      if (Read(&l_impl.m_lRound) == l_lSeen && Read(&l_impl.m_lStop) == 0 &&
          WaitForSingleObject(l_worker.m_hGo.Get(), INFINITE) != WAIT_OBJECT_0)
        return OS_STS_FAIL;
      InterlockedExchange(&l_worker.m_lSleeping, 0);
    }
    if (Read(&l_impl.m_lStop) != 0) return OS_STS_SUCCESS;
    l_lSeen = Read(&l_impl.m_lRound);
    l_impl.m_pfnJob(l_impl.m_pvJob, l_worker.m_u32Worker);
    InterlockedExchange(&l_worker.m_lFinished, l_lSeen);
    if (Read(&l_impl.m_lWaiting) != 0) SetEvent(l_impl.m_hDone.Get());
  }
}

void Wake(COsThreadWorkersImpl::SWorker& a_worker) {
  if (Read(&a_worker.m_lSleeping) != 0) SetEvent(a_worker.m_hGo.Get());
}

bool Finished(COsThreadWorkersImpl::SWorker& a_worker, LONG a_lRound) {
  return Read(&a_worker.m_lFinished) == a_lRound;
}

}  // namespace

COsThreadWorkers::COsThreadWorkers(std::uint32_t a_u32Count)
    : m_posthreadworkersimpl(OsMemNew(COsThreadWorkersImpl, "COsThreadWorkersImpl")) {
  if (a_u32Count == 0) {
    const long l_lProcessors = OsCfgSysGetNumber(OS_CFGINFO_CPU_TOTAL, 0);
    a_u32Count = l_lProcessors > 0 ? static_cast<std::uint32_t>(l_lProcessors) : 1;
  }
  if (a_u32Count > OS_WORKERS_MAX) a_u32Count = OS_WORKERS_MAX;
  COsThreadWorkersImpl* const l_pimpl = m_posthreadworkersimpl;
  if (l_pimpl == nullptr || a_u32Count == 1) return;
  l_pimpl->m_hDone.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  for (std::uint32_t l_u = 0; l_pimpl->m_hDone && l_u + 1 < a_u32Count; ++l_u) {
    COsThreadWorkersImpl::SWorker& l_worker = l_pimpl->m_aworker[l_u];
    l_worker.m_pimpl = l_pimpl;
    l_worker.m_u32Worker = l_u + 1;
    l_worker.m_hGo.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    l_worker.m_posthread = l_worker.m_hGo ? OsMemNew(COsThread, "COsThread") : nullptr;
    if (l_worker.m_posthread == nullptr || l_worker.m_posthread->Start("qrxworker", WorkerProc, &l_worker) != 0) {
      OS_LOGE("thr>>> workers: a worker did not start, going on with...%u %d", l_u + 1,
              static_cast<int>(GetLastError()));
      if (l_worker.m_posthread != nullptr) OsMemDelete(l_worker.m_posthread);
      l_worker.m_posthread = nullptr;
      l_worker.m_hGo.Reset();
      break;
    }
    l_pimpl->m_u32Helpers = l_u + 1;
  }
}

COsThreadWorkers::~COsThreadWorkers() {
  COsThreadWorkersImpl* const l_pimpl = m_posthreadworkersimpl;
  if (l_pimpl == nullptr) return;
  // Every worker is told first, so that they end side by side.
  InterlockedExchange(&l_pimpl->m_lStop, 1);
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers; ++l_u) SetEvent(l_pimpl->m_aworker[l_u].m_hGo.Get());
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers; ++l_u) {
    COsThread* const l_posthread = l_pimpl->m_aworker[l_u].m_posthread;
    l_posthread->WaitForExit(OS_THREAD_STOP_TIMEOUT_MS);
    OsMemDelete(l_posthread);
  }
  OsMemDelete(l_pimpl);
}

std::uint32_t COsThreadWorkers::Count() {
  return m_posthreadworkersimpl != nullptr ? m_posthreadworkersimpl->m_u32Helpers + 1 : 1;
}

void COsThreadWorkers::Run(OsWorkerJob a_pfnJob, void* a_pvJob) {
  COsThreadWorkersImpl* const l_pimpl = m_posthreadworkersimpl;
  if (l_pimpl == nullptr || l_pimpl->m_u32Helpers == 0) {
    a_pfnJob(a_pvJob, 0);
    return;
  }
  l_pimpl->m_pfnJob = a_pfnJob;
  l_pimpl->m_pvJob = a_pvJob;
  const LONG l_lRound = InterlockedIncrement(&l_pimpl->m_lRound);
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers; ++l_u) Wake(l_pimpl->m_aworker[l_u]);
  a_pfnJob(a_pvJob, 0);
  // A worker whose thread ended never notes; its end is looked for every
  // 100 ms, and its share is run here (a share writes only its own
  // results, so running it again is harmless).
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers;) {
    COsThreadWorkersImpl::SWorker& l_worker = l_pimpl->m_aworker[l_u];
    for (int l_i = 0; l_i < s_iSpins && !Finished(l_worker, l_lRound); ++l_i) YieldProcessor();
    if (Finished(l_worker, l_lRound)) {
      ++l_u;
      continue;
    }
    if (l_worker.m_posthread->IsAlive() != OS_THREAD_ALIVE) {
      if (!Finished(l_worker, l_lRound)) a_pfnJob(a_pvJob, l_worker.m_u32Worker);
      ++l_u;
      continue;
    }
    InterlockedExchange(&l_pimpl->m_lWaiting, 1);
    if (!Finished(l_worker, l_lRound)) WaitForSingleObject(l_pimpl->m_hDone.Get(), 100);
    InterlockedExchange(&l_pimpl->m_lWaiting, 0);
  }
}
