// The logging call. The log object itself (its file, header, filters and
// thread slots) lives in COsLogImpl; without one every line is dropped.
#include <cstdarg>

#include "os_coslog.h"
#include "os_win.h"

namespace {
// Keeps the caller's last system error across the whole log call.
class CLastErrorGuard {
 public:
  CLastErrorGuard() : m_dwError(GetLastError()) {}
  ~CLastErrorGuard() { SetLastError(m_dwError); }
  CLastErrorGuard(const CLastErrorGuard&) = delete;
  CLastErrorGuard& operator=(const CLastErrorGuard&) = delete;

 private:
  DWORD m_dwError;
};
}  // namespace

void OsLogPrint(COsLog* a_poslog, const char* a_szFile, int a_iLine, int a_iLevel, const char* a_szFormat, ...) {
  CLastErrorGuard l_guard;
  (void)a_szFile;
  (void)a_iLine;
  (void)a_iLevel;
  (void)a_szFormat;
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return;
}

std::uint32_t OsLogGetDebug(COsLog* a_poslog) {
  if (a_poslog == nullptr || a_poslog->m_poslogimpl == nullptr) return 0;
  return 0;
}
