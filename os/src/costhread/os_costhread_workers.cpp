// Worker threads for the format engines: COsThread workers that sleep on an
// event of their own between rounds and note each round they finish; the
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
    COsHandle m_hGo;                // auto-reset: a round, or the stop, is posted
    volatile LONG m_lFinished = 0;  // the last round this worker finished
  };

  COsHandle m_hDone;           // auto-reset: some worker finished a round
  volatile LONG m_lRound = 0;  // the round being run
  volatile LONG m_lStop = 0;
  OsWorkerJob m_pfnJob = nullptr;  // the round's job, written before the round's number
  void* m_pvJob = nullptr;
  std::uint32_t m_u32Helpers = 0;  // started workers besides the caller
  SWorker m_aworker[OS_WORKERS_MAX - 1];
};

namespace {

EOSSTS __stdcall WorkerProc(COsThread* a_posthread) {
  COsThreadWorkersImpl::SWorker& l_worker = *static_cast<COsThreadWorkersImpl::SWorker*>(a_posthread->ArgGet());
  COsThreadWorkersImpl& l_impl = *l_worker.m_pimpl;
  for (;;) {
    if (WaitForSingleObject(l_worker.m_hGo.Get(), INFINITE) != WAIT_OBJECT_0) return OS_STS_FAIL;
    if (InterlockedCompareExchange(&l_impl.m_lStop, 0, 0) != 0) return OS_STS_SUCCESS;
    const LONG l_lRound = InterlockedCompareExchange(&l_impl.m_lRound, 0, 0);
    l_impl.m_pfnJob(l_impl.m_pvJob, l_worker.m_u32Worker);
    InterlockedExchange(&l_worker.m_lFinished, l_lRound);
    SetEvent(l_impl.m_hDone.Get());
  }
}

bool Finished(COsThreadWorkersImpl::SWorker& a_worker, LONG a_lRound) {
  return InterlockedCompareExchange(&a_worker.m_lFinished, 0, 0) == a_lRound;
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
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers; ++l_u) SetEvent(l_pimpl->m_aworker[l_u].m_hGo.Get());
  a_pfnJob(a_pvJob, 0);
  // The done event is shared, so a wake-up may stand for an earlier worker:
  // every note is read again. A worker whose thread ended never notes; its
  // end is looked for every 100 ms, and its share is run here (a share
  // writes only its own results, so running it again is harmless).
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers;) {
    COsThreadWorkersImpl::SWorker& l_worker = l_pimpl->m_aworker[l_u];
    if (Finished(l_worker, l_lRound)) {
      ++l_u;
    } else if (l_worker.m_posthread->IsAlive() != OS_THREAD_ALIVE) {
      if (!Finished(l_worker, l_lRound)) a_pfnJob(a_pvJob, l_worker.m_u32Worker);
      ++l_u;
    } else {
      WaitForSingleObject(l_pimpl->m_hDone.Get(), 100);
    }
  }
}
