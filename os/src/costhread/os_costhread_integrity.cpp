// The integrity class of the running process.
#include "os_costhread.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_win.h"

namespace {

// Protected mode is reported by the browser's library when it is loaded in
// the process; without it the process is not protected.
bool IsProtectedMode() {
  HMODULE const l_hmodule = GetModuleHandleW(L"IEFRAME.DLL");
  if (l_hmodule == nullptr) return false;
  typedef HRESULT(WINAPI * PfnIsProtected)(BOOL*);
  const PfnIsProtected l_pfn =
      reinterpret_cast<PfnIsProtected>(reinterpret_cast<void*>(GetProcAddress(l_hmodule, "IEIsProtectedModeProcess")));
  BOOL l_b = FALSE;
  return l_pfn != nullptr && SUCCEEDED(l_pfn(&l_b)) && l_b;
}

int Classify() {
  const bool l_bProtected = IsProtectedMode();
  HANDLE l_htoken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &l_htoken)) {
    SetLastError(0);
    return 2;
  }
  COsHandle l_token(l_htoken);
  alignas(8) unsigned char l_auc[256];
  DWORD l_dw = 0;
  if (!GetTokenInformation(l_token.Get(), TokenIntegrityLevel, l_auc, sizeof(l_auc), &l_dw)) {
    SetLastError(0);
    return 2;
  }
  const TOKEN_MANDATORY_LABEL* const l_plabel = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(l_auc);
  const DWORD l_dwCount = *GetSidSubAuthorityCount(l_plabel->Label.Sid);
  const DWORD l_dwRid = l_dwCount > 0 ? *GetSidSubAuthority(l_plabel->Label.Sid, l_dwCount - 1) : 0;
  if (l_dwRid <= 0x1FFF) return l_bProtected ? 1 : 2;
  if (l_dwRid > 0x2FFF) return l_bProtected ? 5 : 6;
  return l_bProtected ? 3 : 4;
}

}  // namespace

int OsProcessIntegrityGet() {
  static const int s_iClass = Classify();
  return s_iClass;
}
