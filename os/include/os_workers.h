// Worker threads for the format engines. The engines take them through this
// interface, which each platform implements: COsThreadWorkers (COsThread
// workers) in the Windows library, COsStdWorkers (std::thread) in the host
// builds. An engine given workers codes or decodes several blocks at once and
// still writes exactly what it writes alone.
#pragma once

#include <cstdint>

// The most workers a pool has; larger counts are cut to it.
constexpr std::uint32_t OS_WORKERS_MAX = 64;

// One share of a job: a_u32Worker is 0 .. Count() - 1.
typedef void (*OsWorkerJob)(void* a_pvJob, std::uint32_t a_u32Worker);

class COsWorkers {
 public:
  // How many shares Run hands out (1 .. OS_WORKERS_MAX).
  virtual std::uint32_t Count() = 0;
  // Calls a_pfnJob(a_pvJob, w) once for every w below Count(), share 0 on the
  // calling thread and the others on the pool's threads, and returns once
  // every share has returned. Shares must not wait for each other: a pool
  // may run them one after the other.
  virtual void Run(OsWorkerJob a_pfnJob, void* a_pvJob) = 0;

 protected:
  ~COsWorkers() = default;
};

#ifndef _WIN32
class COsStdWorkersImpl;

// The host builds' workers: the calling thread and a_u32Count - 1 std::thread
// workers (0: one per hardware thread; at most OS_WORKERS_MAX), started by
// the constructor and joined by the destructor. A thread that cannot be
// started lowers the count. Run is for one thread at a time.
class COsStdWorkers final : public COsWorkers {
 public:
  explicit COsStdWorkers(std::uint32_t a_u32Count = 0);
  ~COsStdWorkers();
  COsStdWorkers(const COsStdWorkers&) = delete;
  COsStdWorkers& operator=(const COsStdWorkers&) = delete;
  std::uint32_t Count() override;
  void Run(OsWorkerJob a_pfnJob, void* a_pvJob) override;

 private:
  COsStdWorkersImpl* m_posstdworkersimpl;
};
#endif
