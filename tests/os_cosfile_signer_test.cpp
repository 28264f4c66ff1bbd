// The signer check on copies of this test program, signed here with
// certificates made here.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <imagehlp.h>

#include <cstddef>
#include <string>
#include <vector>

#include "os_test_services.h"

namespace {

constexpr const wchar_t* COMPANY = L"CN=Orvik Navela Inc., OU=Digital ID Class 3, O=Orvik Navela Inc., C=US";

// A self-signed certificate whose key lives as long as the object.
struct TestCert {
  explicit TestCert(const wchar_t* a_wszSubject) {
    BYTE l_ab[512];
    CERT_NAME_BLOB l_name = {sizeof(l_ab), l_ab};
    HCRYPTKEY l_hkey = 0;
    CRYPT_ALGORITHM_IDENTIFIER l_alg = {const_cast<char*>(szOID_RSA_SHA256RSA), {}};
    if (CertStrToNameW(X509_ASN_ENCODING, a_wszSubject, CERT_X500_NAME_STR, nullptr, l_ab, &l_name.cbData, nullptr) &&
        CryptAcquireContextW(&m_hprov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptGenKey(m_hprov, AT_SIGNATURE, 1024u << 16, &l_hkey) && CryptDestroyKey(l_hkey))
      m_pcert = CertCreateSelfSignCertificate(m_hprov, &l_name, 0, nullptr, &l_alg, nullptr, nullptr, nullptr);
  }
  ~TestCert() {
    CertFreeCertificateContext(m_pcert);
    if (m_hprov != 0) CryptReleaseContext(m_hprov, 0);
  }
  HCRYPTPROV m_hprov = 0;
  PCCERT_CONTEXT m_pcert = nullptr;
};

// One DER element; every element here is shorter than 128 bytes.
std::string Der(char a_cTag, const std::string& a_s) { return std::string(1, a_cTag) + char(a_s.size()) + a_s; }

// Authenticode by hand: the image digest (all but the checksum and the
// certificate-table entry) in a signed SpcIndirectDataContent, appended as
// the image's certificate. a_pextra travels in the signature as well.
bool Sign(const std::wstring& a_ws, const TestCert& a_signer, const TestCert* a_pextra = nullptr) {
  if (a_signer.m_pcert == nullptr) return false;
  HANDLE const l_h = CreateFileW(a_ws.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (l_h == INVALID_HANDLE_VALUE) return false;
  std::string l_s(GetFileSize(l_h, nullptr), 0);
  DWORD l_dw = 0, l_dwHash = 32;
  bool l_b = ReadFile(l_h, l_s.data(), l_s.size(), &l_dw, nullptr);
  l_s.resize((l_s.size() + 7) & ~std::size_t(7));  // the certificate starts on an 8-byte boundary
  l_b = l_b && SetFilePointer(l_h, 0, nullptr, FILE_BEGIN) == 0 && WriteFile(l_h, l_s.data(), l_s.size(), &l_dw, nullptr);
  const std::size_t l_nt = *reinterpret_cast<const DWORD*>(&l_s[0x3C]);
  const std::size_t l_check = l_nt + offsetof(IMAGE_NT_HEADERS, OptionalHeader.CheckSum);
  const std::size_t l_dir = l_nt + offsetof(IMAGE_NT_HEADERS, OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]);
  std::string l_sDigest(32, 0);
  HCRYPTHASH l_hhash = 0;
  l_b = l_b && CryptCreateHash(a_signer.m_hprov, CALG_SHA_256, 0, 0, &l_hhash) &&
        CryptHashData(l_hhash, reinterpret_cast<BYTE*>(&l_s[0]), l_check, 0) &&
        CryptHashData(l_hhash, reinterpret_cast<BYTE*>(&l_s[l_check + 4]), l_dir - l_check - 4, 0) &&
        CryptHashData(l_hhash, reinterpret_cast<BYTE*>(&l_s[l_dir + 8]), l_s.size() - l_dir - 8, 0) &&
        CryptGetHashParam(l_hhash, HP_HASHVAL, reinterpret_cast<BYTE*>(l_sDigest.data()), &l_dwHash, 0);
  CryptDestroyHash(l_hhash);
  const std::string l_sContent =  // PE image data (empty), SHA-256 and the digest
      Der(0x30, Der(0x30, std::string("\x06\x0A\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0F\x30\x00", 14)) +
                    Der(0x30, std::string("\x30\x0D\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00", 15) +
                                  Der(0x04, l_sDigest)));
  CERT_BLOB l_ablob[2] = {{a_signer.m_pcert->cbCertEncoded, a_signer.m_pcert->pbCertEncoded}, {}};
  if (a_pextra != nullptr) l_ablob[1] = {a_pextra->m_pcert->cbCertEncoded, a_pextra->m_pcert->pbCertEncoded};
  // Authenticode wants signed attributes: an empty publisher record brings
  // the content type and message digest along.
  BYTE l_abOpus[] = {0x30, 0x00};
  CRYPT_ATTR_BLOB l_opus = {sizeof(l_abOpus), l_abOpus};
  CRYPT_ATTRIBUTE l_attribute = {const_cast<char*>(SPC_SP_OPUS_INFO_OBJID), 1, &l_opus};
  CMSG_SIGNER_ENCODE_INFO l_signer = {sizeof(l_signer), a_signer.m_pcert->pCertInfo, {a_signer.m_hprov}, AT_SIGNATURE,
                                      {const_cast<char*>(szOID_NIST_sha256), {}}, nullptr, 1, &l_attribute, 0, nullptr};
  CMSG_SIGNED_ENCODE_INFO l_info = {sizeof(l_info), 1, &l_signer, a_pextra != nullptr ? 2u : 1u, l_ablob, 0, nullptr};
  HCRYPTMSG const l_hmsg = CryptMsgOpenToEncode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CMSG_SIGNED, &l_info,
                                                const_cast<char*>(SPC_INDIRECT_DATA_OBJID), nullptr);
  l_dw = 0;
  l_b = l_b && CryptMsgUpdate(l_hmsg, reinterpret_cast<const BYTE*>(l_sContent.data()), l_sContent.size(), TRUE) &&
        CryptMsgGetParam(l_hmsg, CMSG_CONTENT_PARAM, 0, nullptr, &l_dw);
  std::vector<BYTE> l_v(offsetof(WIN_CERTIFICATE, bCertificate) + l_dw);
  WIN_CERTIFICATE* const l_pwc = reinterpret_cast<WIN_CERTIFICATE*>(l_v.data());
  *l_pwc = {static_cast<DWORD>(l_v.size()), WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA, {}};
  l_b = l_b && CryptMsgGetParam(l_hmsg, CMSG_CONTENT_PARAM, 0, l_pwc->bCertificate, &l_dw) &&
        ImageAddCertificate(l_h, l_pwc, &l_dw);
  CryptMsgClose(l_hmsg);
  CloseHandle(l_h);
  return l_b;
}

// A fresh copy of this program in the test's folder.
std::string Copy(const std::wstring& a_wsDir, const wchar_t* a_wszName) {
  wchar_t l_wszSelf[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wszSelf, MAX_PATH);
  EXPECT_TRUE(CopyFileW(l_wszSelf, (a_wsDir + L"\\" + a_wszName).c_str(), FALSE));
  return OsTestUtf8(a_wsDir + L"\\" + a_wszName);
}

TEST_F(OsServicesTest, SignerAnUnsignedFileAndAnUntrustedSignatureAreRefused) {
  StartAs("signertest", "application");
  EXPECT_EQ(OS_STS_ACCESSDENIED, OsFileVerifySigner(Copy(WDir(), L"unsigned.exe").c_str(), nullptr, false, false));
  TestCert l_company(COMPANY);
  const std::string l_s = Copy(WDir(), L"selfmade.exe");
  ASSERT_TRUE(Sign(OsTestWide(l_s), l_company));
  const EOSSTS l_eossts = OsFileVerifySigner(l_s.c_str(), nullptr, true, false);
  if (OsTestIsWine()) GTEST_SKIP() << "Wine: WinVerifyTrust trusts a certificate that chains to no trusted root";
  EXPECT_EQ(OS_STS_ACCESSDENIED, l_eossts);
}

TEST_F(OsServicesTest, SignerOnlyTheSignersOwnTrustedCertificateCounts) {
  StartAs("signertest", "application");
  TestCert l_company(COMPANY), l_other(L"CN=Other Signer, OU=Digital ID Class 3, C=US"),
      l_noclass(L"CN=Orvik Navela Inc., O=Orvik Navela Inc., C=US");
  // Trusted for this test only, in the machine's store (the user's store
  // asks the user first).
  HCERTSTORE const l_hroot = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  std::vector<PCCERT_CONTEXT> l_vroot;
  for (const TestCert* l_p : {&l_company, &l_other, &l_noclass})
    if (PCCERT_CONTEXT l_padded = nullptr;
        l_hroot != nullptr && CertAddCertificateContextToStore(l_hroot, l_p->m_pcert, CERT_STORE_ADD_NEW, &l_padded))
      l_vroot.push_back(l_padded);
  const struct {
    const TestCert& m_signer;
    const TestCert* m_pextra;
    const char* m_szSigner;
    EOSSTS m_eossts;
  } l_acase[] = {
      {l_company, nullptr, nullptr, OS_STS_SUCCESS},
      {l_other, &l_company, nullptr, OS_STS_ACCESSDENIED},  // the company's certificate only travels along
      {l_other, &l_company, "Other Signer", OS_STS_SUCCESS},
      {l_company, nullptr, "Orvik Navela", OS_STS_ACCESSDENIED},  // the name must end the value
      {l_noclass, nullptr, nullptr, OS_STS_ACCESSDENIED},
  };
  for (const auto& l_case : l_acase) {
    if (l_vroot.size() != 3) break;
    const std::string l_s = Copy(WDir(), (L"signed" + std::to_wstring(&l_case - l_acase) + L".exe").c_str());
    EXPECT_TRUE(Sign(OsTestWide(l_s), l_case.m_signer, l_case.m_pextra));
    EXPECT_EQ(l_case.m_eossts, OsFileVerifySigner(l_s.c_str(), l_case.m_szSigner, true, false)) << l_s;
  }
  // The program's own file stands for a missing path.
  const std::string l_sDriver = Dir() + "\\signed0.exe";
  OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, 21, l_sDriver.c_str());
  const EOSSTS l_eossts = OsFileVerifySigner(nullptr, nullptr, false, false);
  OsServicesStop();
  for (PCCERT_CONTEXT l_p : l_vroot) CertDeleteCertificateFromStore(l_p);
  CertCloseStore(l_hroot, 0);
  if (l_vroot.size() != 3) GTEST_SKIP() << "no test root can be trusted here";
  EXPECT_EQ(OS_STS_SUCCESS, l_eossts);
}

}  // namespace
