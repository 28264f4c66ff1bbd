// The signer check on copies of this test program, signed here with
// certificates made here.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <imagehlp.h>

#include <string>

#include "os_test_services.h"

namespace {

// A self-signed certificate (the subject's parts end at ";") whose key lives
// as long as the object; a trusted one is for as long a root in the
// machine's store (the user's store asks the user first), however the test
// ends.
struct TestCert {
  TestCert(const wchar_t* a_wszSubject, bool a_bTrusted) {
    BYTE l_ab[512];
    CERT_NAME_BLOB l_name = {sizeof(l_ab), l_ab};
    HCRYPTKEY l_hkey = 0;
    CRYPT_ALGORITHM_IDENTIFIER l_alg = {const_cast<char*>(szOID_RSA_SHA256RSA), {}};
    if (CertStrToNameW(X509_ASN_ENCODING, a_wszSubject, CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG, nullptr,
                       l_ab, &l_name.cbData, nullptr) &&
        CryptAcquireContextW(&m_hprov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
        CryptGenKey(m_hprov, AT_SIGNATURE, 1024u << 16, &l_hkey) && CryptDestroyKey(l_hkey))
      m_pcert = CertCreateSelfSignCertificate(m_hprov, &l_name, 0, nullptr, &l_alg, nullptr, nullptr, nullptr);
    if (m_pcert != nullptr && a_bTrusted && m_hroot != nullptr)
      CertAddCertificateContextToStore(m_hroot, m_pcert, CERT_STORE_ADD_NEW, &m_proot);
  }
  ~TestCert() {
    if (m_proot != nullptr) CertDeleteCertificateFromStore(m_proot);
    CertCloseStore(m_hroot, 0), CertFreeCertificateContext(m_pcert), CryptReleaseContext(m_hprov, 0);
  }
  HCRYPTPROV m_hprov = 0;
  PCCERT_CONTEXT m_pcert = nullptr;
  HCERTSTORE m_hroot = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  PCCERT_CONTEXT m_proot = nullptr;
};

// A copy of this program in the test's folder, signed by a_psigner when
// given (a_pextra travels in the signature too). Authenticode by hand: the
// image digest (all but the checksum and the certificate-table entry) in a
// signed SpcIndirectDataContent, appended as the image's certificate.
std::string Signed(const std::wstring& a_ws, const TestCert* a_psigner, const TestCert* a_pextra = nullptr) {
  wchar_t l_wszSelf[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wszSelf, MAX_PATH);
  EXPECT_TRUE(CopyFileW(l_wszSelf, a_ws.c_str(), FALSE));
  if (a_psigner == nullptr) return OsTestUtf8(a_ws);
  HANDLE const l_h = CreateFileW(a_ws.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string l_s(GetFileSize(l_h, nullptr), 0);
  DWORD l_dw = 0, l_dwHash = 32;
  // Zeros up to the 8-byte boundary the certificate starts on.
  bool l_b = a_psigner->m_pcert != nullptr && ReadFile(l_h, l_s.data(), l_s.size(), &l_dw, nullptr) &&
             WriteFile(l_h, "\0\0\0\0\0\0\0", static_cast<DWORD>(-l_s.size() % 8), &l_dw, nullptr);
  l_s.resize((l_s.size() + 7) & ~std::size_t(7));
  const std::size_t l_nt = *reinterpret_cast<const DWORD*>(&l_s[0x3C]);
  l_s.erase(l_nt + offsetof(IMAGE_NT_HEADERS, OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]), 8)
      .erase(l_nt + offsetof(IMAGE_NT_HEADERS, OptionalHeader.CheckSum), 4);
  // SEQUENCE {SEQUENCE {PE image data OID, empty}, SEQUENCE {SHA-256, OCTET STRING digest}}
  std::string l_sContent(
      "\x30\x43\x30\x0E\x06\x0A\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0F\x30\x00\x30\x31\x30\x0D\x06"
      "\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20",
      37 + 32);
  l_b = l_b && CryptHashCertificate(a_psigner->m_hprov, CALG_SHA_256, 0, reinterpret_cast<const BYTE*>(l_s.data()),
                                    l_s.size(), reinterpret_cast<BYTE*>(&l_sContent[37]), &l_dwHash);
  PCCERT_CONTEXT const l_pcert = a_psigner->m_pcert, l_pextra = a_pextra != nullptr ? a_pextra->m_pcert : nullptr;
  CERT_BLOB l_ablob[2] = {{l_pcert->cbCertEncoded, l_pcert->pbCertEncoded}, {}};
  if (l_pextra != nullptr) l_ablob[1] = {l_pextra->cbCertEncoded, l_pextra->pbCertEncoded};
  // Authenticode wants signed attributes: an empty publisher record brings
  // the content type and message digest along.
  BYTE l_abOpus[] = {0x30, 0x00};
  CRYPT_ATTR_BLOB l_opus = {sizeof(l_abOpus), l_abOpus};
  CRYPT_ATTRIBUTE l_attribute = {const_cast<char*>(SPC_SP_OPUS_INFO_OBJID), 1, &l_opus};
  CMSG_SIGNER_ENCODE_INFO l_signer = {sizeof(l_signer),
                                      l_pcert->pCertInfo,
                                      {a_psigner->m_hprov},
                                      AT_SIGNATURE,
                                      {const_cast<char*>(szOID_NIST_sha256), {}},
                                      nullptr,
                                      1,
                                      &l_attribute,
                                      0,
                                      nullptr};
  CMSG_SIGNED_ENCODE_INFO l_info = {sizeof(l_info), 1, &l_signer, l_pextra != nullptr ? 2u : 1u, l_ablob, 0, nullptr};
  HCRYPTMSG const l_hmsg = CryptMsgOpenToEncode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CMSG_SIGNED, &l_info,
                                                const_cast<char*>(SPC_INDIRECT_DATA_OBJID), nullptr);
  l_b = l_b && CryptMsgUpdate(l_hmsg, reinterpret_cast<const BYTE*>(l_sContent.data()), l_sContent.size(), TRUE) &&
        CryptMsgGetParam(l_hmsg, CMSG_CONTENT_PARAM, 0, nullptr, &l_dw);
  std::string l_sCert(offsetof(WIN_CERTIFICATE, bCertificate) + l_dw, 0);
  WIN_CERTIFICATE* const l_pwc = reinterpret_cast<WIN_CERTIFICATE*>(l_sCert.data());
  *l_pwc = {static_cast<DWORD>(l_sCert.size()), WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA, {}};
  EXPECT_TRUE(l_b && CryptMsgGetParam(l_hmsg, CMSG_CONTENT_PARAM, 0, l_pwc->bCertificate, &l_dw) &&
              ImageAddCertificate(l_h, l_pwc, &l_dw));
  CryptMsgClose(l_hmsg);
  CloseHandle(l_h);
  return OsTestUtf8(a_ws);
}

TEST_F(OsServicesTest, SignerOnlyTheSignersOwnTrustedCertificateCounts) {
  StartAs("signertest", "application");
  EXPECT_EQ(OS_STS_ACCESSDENIED, OsFileVerifySigner(Signed(WDir() + L"\\u", nullptr).c_str(), nullptr, true, false));
  const wchar_t* const l_wszCompany = L"CN=Orvik Navela Inc.; OU=Digital ID Class 3; O=Orvik Navela Inc.; C=US";
  TestCert l_selfmade(l_wszCompany, false), l_company(l_wszCompany, true),
      l_other(L"CN=Other Signer; OU=Digital ID Class 3; O=Not =Orvik Navela Inc., OU=Digital ID Class 3; C=US", true),
      l_noclass(L"CN=Orvik Navela Inc.; C=US", true);
  const EOSSTS l_eosstsSelfMade =
      OsFileVerifySigner(Signed(WDir() + L"\\s", &l_selfmade).c_str(), nullptr, true, false);
  const struct {
    const TestCert& m_signer;
    const TestCert* m_pextra;
    const char* m_sz;
    EOSSTS m_eossts;
  } l_acase[] = {
      {l_company, nullptr, nullptr, OS_STS_SUCCESS},
      // The company's certificate only travels along, its name inside a quoted value.
      {l_other, &l_company, nullptr, OS_STS_ACCESSDENIED},
      {l_other, &l_company, "Other Signer", OS_STS_SUCCESS},
      {l_company, nullptr, "Orvik Navela", OS_STS_ACCESSDENIED},  // the name must end the value
      {l_noclass, nullptr, nullptr, OS_STS_ACCESSDENIED},
  };
  for (const auto& l_case : l_acase) {
    if (l_case.m_signer.m_proot == nullptr) GTEST_SKIP() << "no test root can be trusted here";
    const std::string l_s =
        Signed(WDir() + L"\\" + std::to_wstring(&l_case - l_acase), &l_case.m_signer, l_case.m_pextra);
    EXPECT_EQ(l_case.m_eossts, OsFileVerifySigner(l_s.c_str(), l_case.m_sz, true, false)) << l_s;
  }
  // The program's own file stands for a missing path. The item keeps the
  // pointer, so the text must outlive the call.
  const std::string l_sOwn = Dir() + "\\0";
  OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, 21, l_sOwn.c_str());
  EXPECT_EQ(OS_STS_SUCCESS, OsFileVerifySigner(nullptr, nullptr, false, false));
  if (OsTestIsWine()) GTEST_SKIP() << "Wine: WinVerifyTrust trusts a certificate that chains to no trusted root";
  EXPECT_EQ(OS_STS_ACCESSDENIED, l_eosstsSelfMade);
}

}  // namespace
