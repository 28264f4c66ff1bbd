// The three security descriptors of the suite's directories, events and
// mutexes, and the set-access operation that opens a directory to everyone.
#include <cstring>

#include "os_coscfg_fullpath.h"
#include "os_coscfg_impl.h"
#include "os_cosfile.h"
#include "os_cosstring.h"
#include "os_coslocale.h"
#include "os_log.h"
#include "os_coslog.h"
#include "os_coslog_impl.h"
#include "os_scoped.h"
#include "os_coscfg_sysinfo.h"
#include "os_sysinfo.h"
#include "os_win.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

constexpr int OS_CFG_DESCRIPTORS = 3;

// Full access and delete (0), event (1) and mutex (2) rights for the system,
// administrators, everyone and users, inherited by everything below.
const wchar_t* const s_awszSddl[OS_CFG_DESCRIPTORS] = {
    L"D:(A;OICI;SDGA;;;SY)(A;OICI;SDGA;;;BA)(A;OICI;SDGA;;;WD)(A;OICI;SDGA;;;BU)",
    L"D:(A;OICI;0x1F0003;;;SY)(A;OICI;0x1F0003;;;BA)(A;OICI;0x1F0003;;;WD)(A;OICI;0x1F0003;;;BU)",
    L"D:(A;OICI;0x1F0001;;;SY)(A;OICI;0x1F0001;;;BA)(A;OICI;0x1F0001;;;WD)(A;OICI;0x1F0001;;;BU)"};
// Low mandatory label, no write-up: low-integrity processes may use the objects.
constexpr wchar_t s_wszLowLabel[] = L"S:(ML;OICI;NW;;;LW)";

struct OsCfgSecurity {
  PSECURITY_DESCRIPTOR m_psd;
  SECURITY_ATTRIBUTES m_sa;
};
OsCfgSecurity s_aoscfgsecurity[OS_CFG_DESCRIPTORS];

// Vista and later carry the low label. Without a processor count the
// detection found nothing to go by: no label.
bool WithLowLabel() { return OsCfgSysGetProcessorCount() != 0 && OsCfgSysOsCode() >= OS_CFG_OS_WINVISTA; }

bool HasTrailingSeparator(const char* a_sz) {
  const std::size_t l_n = std::strlen(a_sz);
  return l_n > 0 && (a_sz[l_n - 1] == '\\' || a_sz[l_n - 1] == '/');
}

}  // namespace

EOSSTS OsCfgBuildSecurity() {
  OsCfgFreeSecurity();
  const bool l_bLabel = WithLowLabel();
  for (int l_i = 0; l_i < OS_CFG_DESCRIPTORS; ++l_i) {
    wchar_t l_wsz[512];
    SWcsCpy(l_wsz, 512, s_awszSddl[l_i]);
    if (l_bLabel) SWcsCat(l_wsz, 512, s_wszLowLabel);
    PSECURITY_DESCRIPTOR l_psd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(l_wsz, SDDL_REVISION_1, &l_psd, nullptr)) {
      // The remaining descriptors are not built.
      OS_LOGA("ConvertStringSecurityDescriptorToSecurityDescriptorW failed...%d", static_cast<int>(GetLastError()));
      SetLastError(0);
      return OS_STS_FAIL;
    }
    s_aoscfgsecurity[l_i].m_psd = l_psd;
    s_aoscfgsecurity[l_i].m_sa.nLength = sizeof(SECURITY_ATTRIBUTES);
    s_aoscfgsecurity[l_i].m_sa.lpSecurityDescriptor = l_psd;
    s_aoscfgsecurity[l_i].m_sa.bInheritHandle = FALSE;
  }
  return OS_STS_SUCCESS;
}

void OsCfgFreeSecurity() {
  for (OsCfgSecurity& l_security : s_aoscfgsecurity) {
    if (l_security.m_psd != nullptr) LocalFree(l_security.m_psd);
    l_security = OsCfgSecurity{};
  }
}

void* OsCfgSecurityAttributes(int a_iIndex) {
  if (a_iIndex < 0 || a_iIndex >= OS_CFG_DESCRIPTORS || s_aoscfgsecurity[a_iIndex].m_psd == nullptr) return nullptr;
  return &s_aoscfgsecurity[a_iIndex].m_sa;
}

// Applies descriptor 0 through a handle opened on the directory itself: a
// junction or link planted in its place is refused, never followed, so that
// its target is not opened to everyone.
EOSSTS OsCfgSetAccess(const char* a_szPath, int a_iMode) {
  // XP and later only; nothing either when the detection found no processors.
  if (a_iMode != 3 || OsCfgSysGetProcessorCount() == 0 || OsCfgSysOsCode() < OS_CFG_OS_WINXP) return OS_STS_SUCCESS;
  OS_RETURN_IF_NULL(a_szPath, OS_LOG_ASSERT, "a_szPath is null...", OS_STS_FAIL);
  char l_szPath[OS_PATH_SIZE];
  SStrCpy(l_szPath, sizeof(l_szPath), a_szPath);
  while (HasTrailingSeparator(l_szPath)) l_szPath[std::strlen(l_szPath) - 1] = 0;
  PSECURITY_DESCRIPTOR const l_psd = s_aoscfgsecurity[0].m_psd;
  BOOL l_bPresent = FALSE;
  BOOL l_bDefaulted = FALSE;
  PACL l_pdacl = nullptr;
  PACL l_psacl = nullptr;
  if (l_psd == nullptr || !GetSecurityDescriptorDacl(l_psd, &l_bPresent, &l_pdacl, &l_bDefaulted) || !l_bPresent) {
    OS_LOGE("GetSecurityDescriptorDacl failed...<%s>", l_szPath);
    return OS_STS_FAIL;
  }
  const bool l_bLabel = WithLowLabel();
  if (l_bLabel && (!GetSecurityDescriptorSacl(l_psd, &l_bPresent, &l_psacl, &l_bDefaulted) || !l_bPresent)) {
    OS_LOGE("GetSecurityDescriptorSacl failed...<%s>", l_szPath);
    return OS_STS_FAIL;
  }
  wchar_t l_wszPath[OS_PATH_SIZE + 1];
  if (CopyStringFromUtf8(l_wszPath, OS_PATH_SIZE + 1, l_szPath) <= 0) return OS_STS_FAIL;
  // The change acts on this handle, opened on the entry itself: a link
  // found here (on the handle, or by path for what Wine shows) is refused.
  COsHandle l_handle(CreateFileW(l_wszPath, READ_CONTROL | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  if (!l_handle) {
    OS_LOGE("CreateFileW failed...%d <%s>", static_cast<int>(GetLastError()), l_szPath);
    SetLastError(0);
    return OS_STS_FAIL;
  }
  BY_HANDLE_FILE_INFORMATION l_info = {};
  if (!GetFileInformationByHandle(l_handle.Get(), &l_info)) l_info.dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
  if (OsSysIsLink(l_handle.Get(), l_info.dwFileAttributes, l_wszPath)) {
    OS_LOGE("set access refused on a reparse point...<%s>", l_szPath);
    return OS_STS_FAIL;
  }
  // The system carries the inheritable entries on to what lies below.
  EOSSTS l_eossts = OS_STS_SUCCESS;
  DWORD l_dwError =
      SetSecurityInfo(l_handle.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, l_pdacl, nullptr);
  if (l_dwError != ERROR_SUCCESS) {
    OS_LOGE("SetSecurityInfo failed...%d <%s>", static_cast<int>(l_dwError), l_szPath);
    l_eossts = OS_STS_FAIL;
  }
  if (l_bLabel) {
    l_dwError =
        SetSecurityInfo(l_handle.Get(), SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, l_psacl);
    if (l_dwError != ERROR_SUCCESS) {
      OS_LOGE("SetSecurityInfo failed...%d <%s>", static_cast<int>(l_dwError), l_szPath);
      l_eossts = OS_STS_FAIL;
    }
  }
  SetLastError(0);
  return l_eossts;
}

namespace {

// Names the system takes for devices in any folder, also with an extension
// ("nul.txt") and blanks before it.
bool IsDeviceName(const char* a_szName) {
  static const char* const s_aszDevice[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  std::size_t l_n = std::strcspn(a_szName, ".");
  while (l_n > 0 && a_szName[l_n - 1] == ' ') --l_n;
  for (const char* l_szDevice : s_aszDevice)
    if (l_n == std::strlen(l_szDevice) && _strnicmp(a_szName, l_szDevice, l_n) == 0) return true;
  // COM and LPT with a digit, or with a superscript one, two or three.
  if (_strnicmp(a_szName, "COM", 3) != 0 && _strnicmp(a_szName, "LPT", 3) != 0) return false;
  if (l_n == 4 && a_szName[3] >= '0' && a_szName[3] <= '9') return true;
  return l_n == 5 && static_cast<unsigned char>(a_szName[3]) == 0xC2 &&
         (static_cast<unsigned char>(a_szName[4]) == 0xB9 || static_cast<unsigned char>(a_szName[4]) == 0xB2 ||
          static_cast<unsigned char>(a_szName[4]) == 0xB3);
}

}  // namespace

// A company folder name stays one component below the common
// application-data folder: no separators, drives, dot names, reserved
// characters, control characters, device names or short-name forms.
bool OsCfgCompanyNameIsSafe(const char* a_szName) {
  if (a_szName == nullptr || a_szName[0] == 0) return false;
  if (std::strcmp(a_szName, ".") == 0 || std::strcmp(a_szName, "..") == 0) return false;
  for (const unsigned char* l_puc = reinterpret_cast<const unsigned char*>(a_szName); *l_puc != 0; ++l_puc) {
    if (*l_puc < 0x20 || *l_puc == 0x7F || std::strchr("<>:\"/\\|?*", *l_puc) != nullptr) return false;
  }
  // The system drops trailing dots and blanks: "..." would name the parent.
  const std::size_t l_n = std::strlen(a_szName);
  if (a_szName[l_n - 1] == '.' || a_szName[l_n - 1] == ' ' || IsDeviceName(a_szName)) return false;
  // A short-name form ("MICROS~1") may stand for another folder of its parent.
  for (const char* l_psz = std::strchr(a_szName, '~'); l_psz != nullptr; l_psz = std::strchr(l_psz + 1, '~'))
    if (l_psz[1] >= '0' && l_psz[1] <= '9') return false;
  return true;
}

void OsCfgRefuseLayout(const char* a_szReason, const char* a_szValue) {
  OS_LOGE("layout refused...<%s> <%s>", a_szReason, a_szValue);
  if (OsLogGetDebug(OsLogInstance()) != 0) OsLogStdErr("cfg>>> layout refused...<%s> <%s>\r\n", a_szReason, a_szValue);
}
