// The host builds' workers: std::thread workers that sleep on a condition
// between rounds; a round is numbered, so that a worker runs each one once.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "os_workers.h"

// Rounds follow each other closely while an engine runs: a worker looks for
// the next one for a moment before it sleeps, and so does the caller for the
// round's end (waking a sleeping thread costs about as much as a small block).
constexpr int s_iSpins = 4000;

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

class COsStdWorkersImpl {
 public:
  void Loop(std::uint32_t a_u32Worker) {
    std::uint64_t l_u64Seen = 0;
    for (;;) {
      for (int l_i = 0; l_i < s_iSpins && m_u64Round.load(std::memory_order_acquire) == l_u64Seen && !m_bStop; ++l_i)
        Pause();
      if (m_u64Round.load(std::memory_order_acquire) == l_u64Seen) {
        std::unique_lock<std::mutex> l_lock(m_mutex);
        m_cvStart.wait(l_lock, [&] { return m_bStop || m_u64Round.load(std::memory_order_acquire) != l_u64Seen; });
      }
      if (m_bStop) return;
      // The job was written before the round's number.
      l_u64Seen = m_u64Round.load(std::memory_order_acquire);
      m_pfnJob(m_pvJob, a_u32Worker);
      if (m_u32Pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        const std::lock_guard<std::mutex> l_lock(m_mutex);
        m_cvDone.notify_one();
      }
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_cvStart;
  std::condition_variable m_cvDone;
  std::atomic<std::uint64_t> m_u64Round{0};
  std::atomic<std::uint32_t> m_u32Pending{0};
  std::atomic<bool> m_bStop{false};
  OsWorkerJob m_pfnJob = nullptr;
  void* m_pvJob = nullptr;
  std::vector<std::thread> m_vecthread;
};

COsStdWorkers::COsStdWorkers(std::uint32_t a_u32Count) : m_posstdworkersimpl(new (std::nothrow) COsStdWorkersImpl) {
  if (a_u32Count == 0) a_u32Count = std::thread::hardware_concurrency();
  if (a_u32Count > OS_WORKERS_MAX) a_u32Count = OS_WORKERS_MAX;
  if (m_posstdworkersimpl == nullptr) return;
  try {
    m_posstdworkersimpl->m_vecthread.reserve(a_u32Count > 1 ? a_u32Count - 1 : 0);
    for (std::uint32_t l_u = 1; l_u < a_u32Count; ++l_u)
      m_posstdworkersimpl->m_vecthread.emplace_back(&COsStdWorkersImpl::Loop, m_posstdworkersimpl, l_u);
  } catch (const std::exception&) {
    // Fewer workers: the ones that started carry the count.
  }
}

COsStdWorkers::~COsStdWorkers() {
  if (m_posstdworkersimpl == nullptr) return;
  {
    const std::lock_guard<std::mutex> l_lock(m_posstdworkersimpl->m_mutex);
    m_posstdworkersimpl->m_bStop = true;
  }
  m_posstdworkersimpl->m_cvStart.notify_all();
  for (std::thread& l_thread : m_posstdworkersimpl->m_vecthread) l_thread.join();
  delete m_posstdworkersimpl;
}

std::uint32_t COsStdWorkers::Count() {
  return m_posstdworkersimpl != nullptr ? static_cast<std::uint32_t>(m_posstdworkersimpl->m_vecthread.size()) + 1 : 1;
}

void COsStdWorkers::Run(OsWorkerJob a_pfnJob, void* a_pvJob) {
  COsStdWorkersImpl* const l_pimpl = m_posstdworkersimpl;
  if (l_pimpl == nullptr || l_pimpl->m_vecthread.empty()) {
    a_pfnJob(a_pvJob, 0);
    return;
  }
  l_pimpl->m_pfnJob = a_pfnJob;
  l_pimpl->m_pvJob = a_pvJob;
  l_pimpl->m_u32Pending.store(static_cast<std::uint32_t>(l_pimpl->m_vecthread.size()), std::memory_order_relaxed);
  {
    // Under the lock: a worker about to sleep sees the round or is woken.
    const std::lock_guard<std::mutex> l_lock(l_pimpl->m_mutex);
    l_pimpl->m_u64Round.fetch_add(1, std::memory_order_release);
  }
  l_pimpl->m_cvStart.notify_all();
  a_pfnJob(a_pvJob, 0);
  for (int l_i = 0; l_i < s_iSpins && l_pimpl->m_u32Pending.load(std::memory_order_acquire) != 0; ++l_i) Pause();
  std::unique_lock<std::mutex> l_lock(l_pimpl->m_mutex);
  l_pimpl->m_cvDone.wait(l_lock, [&] { return l_pimpl->m_u32Pending.load(std::memory_order_acquire) == 0; });
}
