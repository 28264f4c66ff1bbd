// Hardware breakpoints: debug registers 0 to 3 and the control register 7 of
// a thread, changed from a short-lived helper thread because a thread's
// debug registers can only be changed while it is suspended.
#include "os_costhread_impl.h"
#include "os_log.h"
#include "os_memnew.h"

namespace {

constexpr int OS_HWBP_REGISTERS = 4;

// What the helper could not do. It logs nothing itself: the target may be
// suspended holding the log's or the heap's lock, so the caller reports
// after the helper has resumed it and ended.
enum EOSHWBPSTEP : int {
  OS_HWBP_DONE = 0,
  OS_HWBP_SUSPEND,
  OS_HWBP_GETCONTEXT,
  OS_HWBP_FULL,
  OS_HWBP_SETCONTEXT,
  OS_HWBP_RESUME,
};

struct OsHwBpJob {
  OsHwBp* m_poshwbp;
  HANDLE m_hTarget;
  EOSHWBPSTEP m_eoshwbpstep;
};

EOSHWBPSTEP ChangeContext(OsHwBp* a_poshwbp, HANDLE a_hTarget) {
  CONTEXT l_context = {};
  l_context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
  if (!GetThreadContext(a_hTarget, &l_context)) return OS_HWBP_GETCONTEXT;
  decltype(l_context.Dr0)* const l_apdr[OS_HWBP_REGISTERS] = {&l_context.Dr0, &l_context.Dr1, &l_context.Dr2,
                                                              &l_context.Dr3};
  if (a_poshwbp->m_u8Set != 0) {
    int l_iRegister = 0;
    // A register enabled locally or only globally (bit 2n + 1) is in use.
    while (l_iRegister < OS_HWBP_REGISTERS && ((l_context.Dr7 >> (2 * l_iRegister)) & 0x3) != 0) ++l_iRegister;
    if (l_iRegister == OS_HWBP_REGISTERS) return OS_HWBP_FULL;
    a_poshwbp->m_i32Register = l_iRegister;
    *l_apdr[l_iRegister] = a_poshwbp->m_uptrAddress;
    const std::uint64_t l_u64Field = static_cast<std::uint64_t>(0xF) << (16 + 4 * l_iRegister);
    l_context.Dr7 = static_cast<decltype(l_context.Dr7)>(
        (l_context.Dr7 & ~l_u64Field) | OsHwBpControlBits(l_iRegister, a_poshwbp->m_i32Kind, a_poshwbp->m_i32Size));
  } else {
    *l_apdr[a_poshwbp->m_i32Register] = 0;
    l_context.Dr7 &= ~static_cast<decltype(l_context.Dr7)>(1u << (2 * a_poshwbp->m_i32Register));
  }
  return SetThreadContext(a_hTarget, &l_context) ? OS_HWBP_DONE : OS_HWBP_SETCONTEXT;
}

DWORD WINAPI HwBpHelper(void* a_pv) {
  OsHwBpJob* const l_pjob = static_cast<OsHwBpJob*>(a_pv);
  if (SuspendThread(l_pjob->m_hTarget) == static_cast<DWORD>(-1)) {
    l_pjob->m_eoshwbpstep = OS_HWBP_SUSPEND;
    return 0;
  }
  l_pjob->m_eoshwbpstep = ChangeContext(l_pjob->m_poshwbp, l_pjob->m_hTarget);
  if (ResumeThread(l_pjob->m_hTarget) == static_cast<DWORD>(-1) && l_pjob->m_eoshwbpstep == OS_HWBP_DONE)
    l_pjob->m_eoshwbpstep = OS_HWBP_RESUME;
  return 0;
}

// Runs the record's set or clear on its thread: 0, or 1 (logged).
EOSSTS Apply(OsHwBp* a_poshwbp) {
  a_poshwbp->m_u8Success = 0;
  HANDLE const l_hTarget = a_poshwbp->m_hThread.Get();
  OsHwBpJob l_job = {a_poshwbp, l_hTarget, OS_HWBP_DONE};
  COsHandle l_hHelper(CreateThread(nullptr, 0, HwBpHelper, &l_job, 0, nullptr));
  OS_RETURN_IF(!l_hHelper.IsValid(), OS_LOG_ERROR, "CreateThread failed...%lu", OS_STS_FAIL, GetLastError());
  WaitForSingleObject(l_hHelper.Get(), INFINITE);
  switch (l_job.m_eoshwbpstep) {
    case OS_HWBP_DONE: a_poshwbp->m_u8Success = 1; return OS_STS_SUCCESS;
    case OS_HWBP_SUSPEND: OS_LOGE("SuspendThread failed..."); break;
    case OS_HWBP_GETCONTEXT: OS_LOGE("GetThreadContext failed..."); break;
    case OS_HWBP_FULL: OS_LOGE("thr>>> all four debug registers are in use..."); break;
    case OS_HWBP_SETCONTEXT: OS_LOGE("SetThreadContext failed..."); break;
    case OS_HWBP_RESUME: OS_LOGE("ResumeThread failed..."); break;
  }
  return OS_STS_FAIL;
}

}  // namespace

std::uint64_t OsHwBpControlBits(int a_iRegister, int a_iKind, int a_iSize) {
  static const std::uint64_t s_au64Access[] = {0x0, 0x3, 0x1};       // execute, read or write, write
  static const std::uint64_t s_au64Length[] = {0x0, 0x1, 0x3, 0x2};  // 1, 2, 4, 8 bytes
  const std::uint64_t l_u64Length = a_iKind == OS_HWBP_EXECUTE ? 0x0 : s_au64Length[a_iSize];
  return (static_cast<std::uint64_t>(1) << (2 * a_iRegister)) | (s_au64Access[a_iKind] << (16 + 4 * a_iRegister)) |
         (l_u64Length << (18 + 4 * a_iRegister));
}

OsHwBp* OsHwBpSet(void* a_hThread, EOSHWBPKIND a_eoshwbpkind, EOSHWBPSIZE a_eoshwbpsize, const void* a_pvAddress) {
  OS_RETURN_IF_NULL(a_hThread, OS_LOG_ERROR, "a_hThread is NULL...", nullptr);
  OS_RETURN_IF(a_eoshwbpkind < OS_HWBP_EXECUTE || a_eoshwbpkind > OS_HWBP_WRITE || a_eoshwbpsize < OS_HWBP_SIZE1 ||
                   a_eoshwbpsize > OS_HWBP_SIZE8,
               OS_LOG_ERROR, "thr>>> breakpoint kind or size out of range...%d %d", nullptr,
               static_cast<int>(a_eoshwbpkind), static_cast<int>(a_eoshwbpsize));
  OsHwBp* const l_poshwbp = OsMemNew(OsHwBp, "OsHwBp");
  if (l_poshwbp == nullptr) return nullptr;
  // The record's own handle: a pseudo-handle of the calling thread would
  // name the helper in the helper, and whichever thread clears later.
  HANDLE l_hDuplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(a_hThread), GetCurrentProcess(), &l_hDuplicate, 0,
                       FALSE, DUPLICATE_SAME_ACCESS)) {
    OS_LOGE("DuplicateHandle failed...%lu", GetLastError());
    OsMemDelete(l_poshwbp);
    return nullptr;
  }
  l_poshwbp->m_hThread.Reset(l_hDuplicate);
  l_poshwbp->m_uptrAddress = reinterpret_cast<std::uintptr_t>(a_pvAddress);
  l_poshwbp->m_i32Kind = a_eoshwbpkind;
  l_poshwbp->m_i32Size = a_eoshwbpsize;
  l_poshwbp->m_u8Set = 1;
  if (Apply(l_poshwbp) != OS_STS_SUCCESS) {
    OsMemDelete(l_poshwbp);
    return nullptr;
  }
  return l_poshwbp;
}

EOSSTS OsHwBpClear(OsHwBp** a_pposhwbp) {
  OS_RETURN_IF(a_pposhwbp == nullptr || *a_pposhwbp == nullptr, OS_LOG_ERROR, "a_pposhwbp is NULL...", OS_STS_BADARG);
  OsHwBp* const l_poshwbp = *a_pposhwbp;
  l_poshwbp->m_u8Set = 0;
  const EOSSTS l_eossts = Apply(l_poshwbp);
  OsMemDelete(l_poshwbp);
  *a_pposhwbp = nullptr;
  return l_eossts;
}
