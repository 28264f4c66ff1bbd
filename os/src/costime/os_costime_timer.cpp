// The periodic timer: a COsThread that waits one period on its wake-up
// event, runs the callback, and waits again.
#include "os_costime_impl.h"
#include "os_log.h"
#include "os_memnew.h"

// The class's one fixed text for a missing implementation.
#define OS_TIME_IMPL_OR_RETURN(a_ret) OS_RETURN_IF_NULL(m_postimeimpl, OS_LOG_ASSERT, "m_postimeimpl is null...", a_ret)

namespace {

void ClearTimer(COsTimeImpl* a_pimpl) {
  a_pimpl->m_i32PeriodMs = 0;
  a_pimpl->m_oscallbackTimer = nullptr;
  a_pimpl->m_u32UserValue = 0;
}

}  // namespace

EOSSTS __stdcall OsTimerProcStart(COsThread* a_posthread) {
  OS_LOGI("OsTimerProcStart started...");
  COsTime* const l_postime = a_posthread != nullptr ? static_cast<COsTime*>(a_posthread->ArgGet()) : nullptr;
  OS_RETURN_IF(l_postime == nullptr || l_postime->m_postimeimpl == nullptr, OS_LOG_ERROR, "a_pvArg is NULL...",
               OS_STS_BADARG);
  COsTimeImpl* const l_pimpl = l_postime->m_postimeimpl;
  try {
    OS_LOGI("OsTimerProcStart started...");
    for (;;) {
      if (a_posthread->RequestGet() != OS_THREAD_REQUEST_RUN) {
        OS_LOGI("OsTimerProcStart exiting...");
        break;
      }
      const EOSSTS l_eossts = a_posthread->WakeWait(l_pimpl->m_i32PeriodMs);
      // A stop request wins over whatever ended the wait.
      if (a_posthread->RequestGet() != OS_THREAD_REQUEST_RUN || l_eossts == OS_STS_SUCCESS) {
        OS_LOGI("OsTimerProcStart exiting...");
        break;
      }
      if (l_eossts == OS_STS_FAIL) {
        OS_LOGE("OsTimerProcStart failed...");
        break;
      }
      if (l_eossts != OS_STS_TIMEOUT) {
        OS_LOGE("OsTimerProcStart unknown error...%d", static_cast<int>(l_eossts));
        break;
      }
      OS_LOGI("OsTimerProcStart running callback...");
      if (l_pimpl->m_oscallbackTimer.load()(l_pimpl->m_u32UserValue) != 0) {
        OS_LOGI("OsTimerProcStart ended by callback...");
        break;
      }
    }
  } catch (...) {
    // The stored values stay: the caller can see what was running.
    OS_LOGE("Exception in OsTimerProcStart...");
    return OS_STS_FAIL;
  }
  ClearTimer(l_pimpl);
  a_posthread->Exit();
  return OS_STS_SUCCESS;  // not reached: Exit ends the thread
}

COsTime::COsTime() : m_postimeimpl(OsMemNew(COsTimeImpl, "COsTimeImpl")) {}

COsTime::~COsTime() {
  OsMemDelete(m_postimeimpl);
  m_postimeimpl = nullptr;
}

EOSSTS COsTime::TimerStart(std::int32_t a_i32PeriodMs, OsTimerCallback a_oscallbackTimer,
                           std::uint32_t a_u32UserValue) {
  OS_TIME_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(a_i32PeriodMs <= 0, OS_LOG_ASSERT, "we don't timetravel, and we don't do a timer of 0...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_oscallbackTimer, OS_LOG_ASSERT, "a_oscallbackTimer is null", OS_STS_FAIL);
  COsThread& l_osthread = m_postimeimpl->m_osthread;
  // Checked before anything is stored: a refused start leaves the running
  // timer's period, callback and user value alone.
  OS_RETURN_IF(l_osthread.IsAlive() == OS_THREAD_ALIVE, OS_LOG_ERROR,
               "There's already a timer started on this object...", OS_STS_FAIL);
  // A run that has ended (also by an exception, which leaves the thread
  // object marked running) is collected first.
  l_osthread.WaitForExit(0);
  m_postimeimpl->m_i32PeriodMs = a_i32PeriodMs;
  m_postimeimpl->m_oscallbackTimer = a_oscallbackTimer;
  m_postimeimpl->m_u32UserValue = a_u32UserValue;
  if (l_osthread.Start("Timer", OsTimerProcStart, this) != OS_STS_SUCCESS) {
    ClearTimer(m_postimeimpl);
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

EOSSTS COsTime::TimerStop() {
  OS_TIME_IMPL_OR_RETURN(OS_STS_FAIL);
  // 1 when no timer runs and 4 when a stop is pending already: nothing to do.
  m_postimeimpl->m_osthread.RequestSet(OS_THREAD_REQUEST_STOP, true);
  return OS_STS_SUCCESS;
}

int COsTime::TimerIsRunning() {
  if (m_postimeimpl == nullptr) return OS_THREAD_DEAD;
  return m_postimeimpl->m_osthread.IsAlive() == OS_THREAD_ALIVE ? OS_THREAD_ALIVE : OS_THREAD_DEAD;
}

std::int32_t COsTime::TimerPeriodGet() {
  OS_TIME_IMPL_OR_RETURN(0);
  return m_postimeimpl->m_i32PeriodMs;
}

std::uint32_t COsTime::TimerUserValueGet() {
  OS_TIME_IMPL_OR_RETURN(0);
  return m_postimeimpl->m_u32UserValue;
}
