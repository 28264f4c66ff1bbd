// Worker threads for the format engines: COsThread workers that sleep on
// their wake-up events between rounds, and one event that the last worker
// to finish a round sets.
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
    COsThreadWorkersImpl* m_pimpl;
    std::uint32_t m_u32Worker;
    COsThread* m_posthread;
  };

  COsHandle m_hDone;                // auto-reset: the round's last worker sets it
  volatile LONG m_lPending = 0;     // workers still in the round
  OsWorkerJob m_pfnJob = nullptr;   // the round's job, written before the wake-ups
  void* m_pvJob = nullptr;
  std::uint32_t m_u32Helpers = 0;   // started workers besides the caller
  SWorker m_aworker[OS_WORKERS_MAX - 1] = {};
};

namespace {

EOSSTS __stdcall WorkerProc(COsThread* a_posthread) {
  const COsThreadWorkersImpl::SWorker& l_worker = *static_cast<COsThreadWorkersImpl::SWorker*>(a_posthread->ArgGet());
  COsThreadWorkersImpl& l_impl = *l_worker.m_pimpl;
  for (;;) {
    if (a_posthread->WakeWait(-1) != OS_STS_SUCCESS) return OS_STS_FAIL;
    if (a_posthread->RequestGet() == OS_THREAD_REQUEST_STOP) return OS_STS_SUCCESS;
    l_impl.m_pfnJob(l_impl.m_pvJob, l_worker.m_u32Worker);
    if (InterlockedDecrement(&l_impl.m_lPending) == 0) SetEvent(l_impl.m_hDone.Get());
  }
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
  if (!l_pimpl->m_hDone) {
    OS_LOGE("thr>>> workers: CreateEvent failed...%d", static_cast<int>(GetLastError()));
    return;
  }
  for (std::uint32_t l_u = 0; l_u + 1 < a_u32Count; ++l_u) {
    COsThreadWorkersImpl::SWorker& l_worker = l_pimpl->m_aworker[l_u];
    l_worker = {l_pimpl, l_u + 1, OsMemNew(COsThread, "COsThread")};
    if (l_worker.m_posthread == nullptr || l_worker.m_posthread->Start("qrxworker", WorkerProc, &l_worker) != 0) {
      OS_LOGE("thr>>> workers: a worker did not start, going on with...%u", l_u + 1);
      if (l_worker.m_posthread != nullptr) OsMemDelete(l_worker.m_posthread);
      l_worker = {};
      break;
    }
    l_pimpl->m_u32Helpers = l_u + 1;
  }
}

COsThreadWorkers::~COsThreadWorkers() {
  COsThreadWorkersImpl* const l_pimpl = m_posthreadworkersimpl;
  if (l_pimpl == nullptr) return;
  // Every worker is asked first, so that they end side by side.
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers; ++l_u)
    l_pimpl->m_aworker[l_u].m_posthread->RequestSet(OS_THREAD_REQUEST_STOP, true);
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
  InterlockedExchange(&l_pimpl->m_lPending, static_cast<LONG>(l_pimpl->m_u32Helpers));
  for (std::uint32_t l_u = 0; l_u < l_pimpl->m_u32Helpers; ++l_u) {
    COsThread* const l_posthread = l_pimpl->m_aworker[l_u].m_posthread;
    if (l_posthread->WakeSignal(true) != OS_STS_SUCCESS) {
      // A worker that cannot be woken has its share run here.
      a_pfnJob(a_pvJob, l_u + 1);
      if (InterlockedDecrement(&l_pimpl->m_lPending) == 0) SetEvent(l_pimpl->m_hDone.Get());
    }
  }
  a_pfnJob(a_pvJob, 0);
  WaitForSingleObject(l_pimpl->m_hDone.Get(), INFINITE);
}
