// The signer check: is a file's signature trusted, and is the one who signed
// it the company (or another named signer)?
#include <cwchar>

#include "os_win.h"

#include <wincrypt.h>
#include <wintrust.h>

#include "os_coscfg.h"
#include "os_cosfile.h"
#include "os_cosfile_impl.h"
#include "os_coslocale.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

constexpr int OS_CFGTAG_DRIVERPATH = 21;  // the running program's own file
constexpr const char* OS_SIGNER_COMPANY = "Orvik Navela Inc.";
constexpr std::size_t OS_SIGNER_SIZE = 64;
// The subject as "2.5.4.3=Name, 2.5.4.11=Unit, ..." (CERT_OID_NAME_STR):
// every value follows a "=" and all but the last are followed by ", ".
constexpr DWORD OS_SIGNER_NAME_STR = 2;
constexpr DWORD OS_SIGNER_NAME_CHARS = 8191;
constexpr DWORD OS_SIGNER_ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Only the signature the trust verdict judged, read through the same subject
// interface: offered every content type and format, the query would take a
// signed message or certificate the file merely holds (a base64 block in a
// signed script, say) before its real signature.
constexpr DWORD OS_SIGNER_QUERY_CONTENT = CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED;
constexpr DWORD OS_SIGNER_QUERY_FORMAT = CERT_QUERY_FORMAT_FLAG_BINARY;
constexpr DWORD OS_SIGNER_REVOCATION = 0x40;
// No revocation look-up of its own, safer policy, URLs from the cache only.
constexpr DWORD OS_SIGNER_PROVIDER_FLAGS = 0x1110;
// The generic Authenticode verification.
constexpr GUID OS_SIGNER_ACTION = {0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

#if defined(__i386__)
static_assert(sizeof(WINTRUST_DATA) == 48 && sizeof(WINTRUST_FILE_INFO) == 16, "the trust records' 32-bit sizes");
#elif defined(__x86_64__)
static_assert(sizeof(WINTRUST_DATA) == 80 && sizeof(WINTRUST_FILE_INFO) == 32, "the trust records' 64-bit sizes");
#endif

// The trust library stays loaded for the process once it was needed;
// OsFileTrustRelease lets it go. Filled without a lock, as the first user
// finds it empty.
struct OsFileTrust {
  HMODULE m_hmodule;
  decltype(&WinVerifyTrust) m_pfnWinVerifyTrust;
};
OsFileTrust s_osfiletrust = {};

// The certificate calls, from the system directory's crypt32 for one check.
struct OsFileCryptApi {
  COsModule m_module;
  decltype(&CryptQueryObject) m_pfnCryptQueryObject = nullptr;
  decltype(&CertCloseStore) m_pfnCertCloseStore = nullptr;
  decltype(&CryptMsgGetParam) m_pfnCryptMsgGetParam = nullptr;
  decltype(&CryptMsgClose) m_pfnCryptMsgClose = nullptr;
  decltype(&CertFindCertificateInStore) m_pfnCertFindCertificateInStore = nullptr;
  decltype(&CertFreeCertificateContext) m_pfnCertFreeCertificateContext = nullptr;
  decltype(&CertNameToStrW) m_pfnCertNameToStrW = nullptr;
  decltype(&CertVerifyTimeValidity) m_pfnCertVerifyTimeValidity = nullptr;
};

bool LoadTrust() {
  if (s_osfiletrust.m_pfnWinVerifyTrust != nullptr) return true;
  wchar_t l_wszPath[MAX_PATH];
  COsModule l_module(OsSysLoadLibrary(L"Wintrust.dll", l_wszPath));
  if (!l_module) {
    OS_LOGE("LoadLibrary failed...");
    return false;
  }
  if (!OsSysResolve(l_module.Get(), "WinVerifyTrust", &s_osfiletrust.m_pfnWinVerifyTrust)) {
    OS_LOGE("GetProcAddress failed...");
    return false;
  }
  s_osfiletrust.m_hmodule = l_module.Release();
  return true;
}

bool LoadCrypt(OsFileCryptApi* a_papi) {
  wchar_t l_wszPath[MAX_PATH];
  a_papi->m_module.Reset(OsSysLoadLibrary(L"crypt32.dll", l_wszPath));
  HMODULE const l_h = a_papi->m_module.Get();
  if (l_h == nullptr) {
    OS_LOGE("LoadLibrary failed...");
    return false;
  }
  // The first call missing is said once; the ones after it are not looked up.
  if (OsSysResolve(l_h, "CryptQueryObject", &a_papi->m_pfnCryptQueryObject) &&
      OsSysResolve(l_h, "CertCloseStore", &a_papi->m_pfnCertCloseStore) &&
      OsSysResolve(l_h, "CryptMsgGetParam", &a_papi->m_pfnCryptMsgGetParam) &&
      OsSysResolve(l_h, "CryptMsgClose", &a_papi->m_pfnCryptMsgClose) &&
      OsSysResolve(l_h, "CertFindCertificateInStore", &a_papi->m_pfnCertFindCertificateInStore) &&
      OsSysResolve(l_h, "CertFreeCertificateContext", &a_papi->m_pfnCertFreeCertificateContext) &&
      OsSysResolve(l_h, "CertNameToStrW", &a_papi->m_pfnCertNameToStrW) &&
      OsSysResolve(l_h, "CertVerifyTimeValidity", &a_papi->m_pfnCertVerifyTimeValidity))
    return true;
  OS_LOGE("GetProcAddress failed...");
  return false;
}

// The system's verdict on the file's signature: 0 only when it is intact
// and chains to a trusted root.
LONG Verdict(const wchar_t* a_wszPath, HANDLE a_hfile, bool a_bRevocation) {
  WINTRUST_FILE_INFO l_fileinfo = {};
  l_fileinfo.cbStruct = sizeof(l_fileinfo);
  l_fileinfo.pcwszFilePath = a_wszPath;
  l_fileinfo.hFile = a_hfile;
  WINTRUST_DATA l_data = {};
  l_data.cbStruct = sizeof(l_data);
  l_data.dwUIChoice = WTD_UI_NONE;
  l_data.fdwRevocationChecks = a_bRevocation ? OS_SIGNER_REVOCATION : 0;
  l_data.dwUnionChoice = WTD_CHOICE_FILE;
  l_data.pFile = &l_fileinfo;
  l_data.dwStateAction = 0;
  l_data.dwProvFlags = OS_SIGNER_PROVIDER_FLAGS;
  GUID l_guidAction = OS_SIGNER_ACTION;
  // No interactive user: nothing may be shown.
  return s_osfiletrust.m_pfnWinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &l_guidAction, &l_data);
}

// The open signature of one file: its certificate store and its message.
class COsFileSignature {
 public:
  explicit COsFileSignature(const OsFileCryptApi& a_api) : m_api(a_api) {}
  ~COsFileSignature() {
    if (m_pcertcontext != nullptr) m_api.m_pfnCertFreeCertificateContext(m_pcertcontext);
    if (m_pvSignerInfo != nullptr) OS_MEM_FREE(m_pvSignerInfo);
    if (m_hcryptmsg != nullptr) m_api.m_pfnCryptMsgClose(m_hcryptmsg);
    if (m_hcertstore != nullptr) m_api.m_pfnCertCloseStore(m_hcertstore, 0);
  }
  COsFileSignature(const COsFileSignature&) = delete;
  COsFileSignature& operator=(const COsFileSignature&) = delete;

  // 0, 1 when the signature cannot be read, 258 when the file does not
  // carry the certificate of its first signer.
  EOSSTS Open(const wchar_t* a_wszPath, const char* a_szPath);
  // The certificate that made the first signature.
  PCCERT_CONTEXT Signer() const { return m_pcertcontext; }

 private:
  const OsFileCryptApi& m_api;
  HCERTSTORE m_hcertstore = nullptr;
  HCRYPTMSG m_hcryptmsg = nullptr;
  void* m_pvSignerInfo = nullptr;
  PCCERT_CONTEXT m_pcertcontext = nullptr;
};

EOSSTS COsFileSignature::Open(const wchar_t* a_wszPath, const char* a_szPath) {
  DWORD l_dwEncoding = 0, l_dwContent = 0, l_dwFormat = 0;
  OS_RETURN_IF(
      !m_api.m_pfnCryptQueryObject(CERT_QUERY_OBJECT_FILE, a_wszPath, OS_SIGNER_QUERY_CONTENT, OS_SIGNER_QUERY_FORMAT,
                                   0, &l_dwEncoding, &l_dwContent, &l_dwFormat, &m_hcertstore, &m_hcryptmsg, nullptr),
      OS_LOG_ERROR, "CryptQueryObject failed...", OS_STS_FAIL);
  OS_RETURN_IF(m_hcertstore == nullptr || m_hcryptmsg == nullptr, OS_LOG_ERROR, "CryptQueryObject failed...",
               OS_STS_FAIL);
  // The signer information names its certificate by issuer and serial
  // number: that certificate, and no other the file carries, signed it.
  DWORD l_dwSize = 0;
  OS_RETURN_IF(!m_api.m_pfnCryptMsgGetParam(m_hcryptmsg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &l_dwSize) ||
                   l_dwSize < sizeof(CMSG_SIGNER_INFO),
               OS_LOG_ERROR, "CryptMsgGetParam failed...0x%x <%s>", OS_STS_FAIL, static_cast<unsigned>(GetLastError()),
               a_szPath);
  m_pvSignerInfo = OS_MEM_ALLOC(l_dwSize, "signer information");
  OS_RETURN_IF_NULL(m_pvSignerInfo, OS_LOG_ERROR, "OsMemAlloc failed...<%s>", OS_STS_FAIL, a_szPath);
  OS_RETURN_IF(!m_api.m_pfnCryptMsgGetParam(m_hcryptmsg, CMSG_SIGNER_INFO_PARAM, 0, m_pvSignerInfo, &l_dwSize),
               OS_LOG_ERROR, "CryptMsgGetParam failed...0x%x <%s>", OS_STS_FAIL, static_cast<unsigned>(GetLastError()),
               a_szPath);
  const CMSG_SIGNER_INFO* const l_psignerinfo = static_cast<const CMSG_SIGNER_INFO*>(m_pvSignerInfo);
  CERT_INFO l_certinfo = {};
  l_certinfo.Issuer = l_psignerinfo->Issuer;
  l_certinfo.SerialNumber = l_psignerinfo->SerialNumber;
  m_pcertcontext = m_api.m_pfnCertFindCertificateInStore(m_hcertstore, OS_SIGNER_ENCODING, 0, CERT_FIND_SUBJECT_CERT,
                                                         &l_certinfo, nullptr);
  if (m_pcertcontext == nullptr) {
    OS_LOGI("signer's certificate not in the file...<%s>", a_szPath);
    return OS_STS_ACCESSDENIED;
  }
  return OS_STS_SUCCESS;
}

// Whether a_wszPattern begins outside every quoted value of a_wszName. A
// value holding "=" or "," is rendered in quotes (an inner quote doubled,
// which keeps the count even), so a value cannot pose as others.
bool HasUnquoted(const wchar_t* a_wszName, const wchar_t* a_wszPattern) {
  const std::size_t l_sizet = std::wcslen(a_wszPattern);
  bool l_bQuoted = false;
  for (const wchar_t* l_pwc = a_wszName; *l_pwc != 0; ++l_pwc) {
    if (!l_bQuoted && std::wcsncmp(l_pwc, a_wszPattern, l_sizet) == 0) return true;
    if (*l_pwc == L'"') l_bQuoted = !l_bQuoted;
  }
  return false;
}

// Whether the subject of the certificate names the signer, as one value
// followed by another, and carries the class 3 identity.
bool NamesSigner(const OsFileCryptApi& a_api, PCCERT_CONTEXT a_pcertcontext, const char* a_szSigner) {
  // Room for the longest signer, "=" and "," both ways: an overflow (an
  // empty pattern, found in every name) cannot happen.
  wchar_t l_wszSigner[OS_SIGNER_SIZE + 1];
  wchar_t l_wszPattern[OS_SIGNER_SIZE + 3];
  if (CopyStringFromUtf8(l_wszSigner, OS_SIGNER_SIZE + 1, a_szSigner) <= 0) return false;
  SWcsCpy(l_wszPattern, OS_SIGNER_SIZE + 3, L"=");
  SWcsCat(l_wszPattern, OS_SIGNER_SIZE + 3, l_wszSigner);
  SWcsCat(l_wszPattern, OS_SIGNER_SIZE + 3, L",");
  // The call cuts a longer name and always terminates what it writes; the
  // first unit stays 0 if it fails.
  wchar_t l_wszName[OS_SIGNER_NAME_CHARS + 1];
  l_wszName[0] = 0;
  a_api.m_pfnCertNameToStrW(X509_ASN_ENCODING, &a_pcertcontext->pCertInfo->Subject, OS_SIGNER_NAME_STR, l_wszName,
                            OS_SIGNER_NAME_CHARS + 1);
  OS_LOGI("signer...<%ls>", l_wszName);
  return HasUnquoted(l_wszName, l_wszPattern) && HasUnquoted(l_wszName, L"=Digital ID Class 3");
}

}  // namespace

void OsFileTrustRelease() {
  if (s_osfiletrust.m_hmodule != nullptr) FreeLibrary(s_osfiletrust.m_hmodule);
  s_osfiletrust = {};
}

EOSSTS OsFileVerifySigner(const char* a_szFilename, const char* a_szSigner, bool a_bCheckTime, bool a_bRevocation) {
  char l_szPath[OS_PATH_SIZE];
  char l_szSigner[OS_SIGNER_SIZE];
  if (a_szFilename == nullptr) {
    COsCfg* const l_poscfg = OsCfgInstance();
    const char* const l_szItem =
        l_poscfg != nullptr ? l_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_DRIVERPATH) : nullptr;
    a_szFilename = l_szItem != nullptr ? l_szItem : "";
  }
  SStrCpy(l_szPath, sizeof(l_szPath), a_szFilename);
  SStrCpy(l_szSigner, sizeof(l_szSigner), a_szSigner != nullptr ? a_szSigner : OS_SIGNER_COMPANY);
  // A copy that does not fit is empty, and an empty signer would be found
  // in any subject with an empty value.
  OS_RETURN_IF(l_szPath[0] == 0, OS_LOG_ERROR, "a_szFilename is empty or too long...<%s>", OS_STS_ACCESSDENIED,
               a_szFilename);
  OS_RETURN_IF(l_szSigner[0] == 0, OS_LOG_ERROR, "a_szSigner is empty or too long...<%s>", OS_STS_ACCESSDENIED,
               l_szPath);
  wchar_t l_wszPath[OS_WPATH_SIZE];
  OS_RETURN_IF(!OsFileToWide(l_szPath, l_wszPath), OS_LOG_ERROR, "a_szFilename is empty or too long...<%s>",
               OS_STS_ACCESSDENIED, l_szPath);

  if (!LoadTrust()) return OS_STS_FAIL;
  // The verdict and the signer are read from the same file: while this
  // handle is open nobody may write, rename or delete it, so no other file
  // can take its place between the two looks.
  COsHandle l_hfile(
      CreateFileW(l_wszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  OS_RETURN_IF(!l_hfile, OS_LOG_INFO, "CreateFile failed...0x%x <%s>", OS_STS_ACCESSDENIED,
               static_cast<unsigned>(GetLastError()), l_szPath);
  // Only a trusted verdict counts: "no chain to a trusted root" would let
  // anybody's self-made certificate with the company's name pass.
  if (Verdict(l_wszPath, l_hfile.Get(), a_bRevocation) != 0) return OS_STS_ACCESSDENIED;

  OsFileCryptApi l_api;
  if (!LoadCrypt(&l_api)) return OS_STS_FAIL;
  COsFileSignature l_signature(l_api);
  if (const EOSSTS l_eossts = l_signature.Open(l_wszPath, l_szPath); l_eossts != OS_STS_SUCCESS) return l_eossts;
  PCCERT_CONTEXT const l_pcertcontext = l_signature.Signer();
  if (!NamesSigner(l_api, l_pcertcontext, l_szSigner)) return OS_STS_ACCESSDENIED;
  if (a_bCheckTime && l_api.m_pfnCertVerifyTimeValidity(nullptr, l_pcertcontext->pCertInfo) != 0) {
    OS_LOGI("signer's certificate is not valid now...<%s>", l_szPath);
    return OS_STS_ACCESSDENIED;
  }
  return OS_STS_SUCCESS;
}
