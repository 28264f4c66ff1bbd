// Password encryption of texts through CryptoAPI: RC4 under a 128-bit key
// derived from the MD5 hash of the password. The ciphertext is the stored
// form callers keep, so the provider, the algorithms, the key length and the
// padding rule are fixed.
#include <cstring>

#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_win.h"
// (The lean Windows headers leave CryptoAPI out.)
#include <wincrypt.h>

namespace {

constexpr wchar_t OS_CRYPT_PROVIDER[] = L"Microsoft Enhanced Cryptographic Provider v1.0";
// The key length in bits goes in the upper half of the derive flags; no salt.
constexpr DWORD OS_CRYPT_KEY_FLAGS = 0x0080u << 16;

// The provider, the password hash and the key of one call, released in the
// reverse order of their making.
class COsCryptKey {
 public:
  COsCryptKey() = default;
  ~COsCryptKey() {
    if (m_hkey != 0) CryptDestroyKey(m_hkey);
    if (m_hhash != 0) CryptDestroyHash(m_hhash);
    if (m_hprov != 0) CryptReleaseContext(m_hprov, 0);
  }
  COsCryptKey(const COsCryptKey&) = delete;
  COsCryptKey& operator=(const COsCryptKey&) = delete;

  // The common start of both directions; false after its one message.
  bool Derive(const char* a_szPassword) {
    // A machine that never used the default container has none yet.
    if (!CryptAcquireContextW(&m_hprov, nullptr, OS_CRYPT_PROVIDER, PROV_RSA_FULL, 0) &&
        ((m_hprov = 0), !CryptAcquireContextW(&m_hprov, nullptr, OS_CRYPT_PROVIDER, PROV_RSA_FULL, CRYPT_NEWKEYSET))) {
      m_hprov = 0;
      OS_LOGE("CryptAcquireContext failed...");
      return false;
    }
    if (!CryptCreateHash(m_hprov, CALG_MD5, 0, 0, &m_hhash)) {
      m_hhash = 0;
      OS_LOGE("CryptCreateHash failed...");
      return false;
    }
    if (!CryptHashData(m_hhash, reinterpret_cast<const BYTE*>(a_szPassword),
                       static_cast<DWORD>(std::strlen(a_szPassword)), 0)) {
      OS_LOGE("CryptHashData failed...");
      return false;
    }
    if (!CryptDeriveKey(m_hprov, CALG_RC4, m_hhash, OS_CRYPT_KEY_FLAGS, &m_hkey)) {
      m_hkey = 0;
      OS_LOGE("CryptDeriveKey failed...");
      return false;
    }
    return true;
  }
  HCRYPTKEY Key() const { return m_hkey; }

 private:
  HCRYPTPROV m_hprov = 0;
  HCRYPTHASH m_hhash = 0;
  HCRYPTKEY m_hkey = 0;
};

// A failed call hands out neither the buffer nor a length: whatever it holds
// is no valid text.
EOSSTS Fail(std::uint8_t** a_ppu8Out, std::uint32_t* a_pu32Length) {
  OS_MEM_FREE(*a_ppu8Out);
  *a_ppu8Out = nullptr;
  *a_pu32Length = 0;
  return OS_STS_FAIL;
}

bool EmptyText(const char* a_sz) { return a_sz == nullptr || a_sz[0] == 0; }

}  // namespace

EOSSTS StrEncrypt(std::uint8_t** a_ppu8Out, std::uint32_t* a_pu32Length, const char* a_szText, const char* a_szPassword,
                  std::uint32_t a_u32Block) {
  OS_RETURN_IF(a_ppu8Out == nullptr || a_pu32Length == nullptr, OS_LOG_ERROR, "Bad argument...", OS_STS_FAIL);
  *a_ppu8Out = nullptr;
  *a_pu32Length = 0;
  const std::size_t l_sizetText = EmptyText(a_szText) ? 0 : std::strlen(a_szText) + 1;
  // A block of 0 has no multiple, and the padded size must fit the cipher's 32-bit length.
  OS_RETURN_IF(l_sizetText == 0 || EmptyText(a_szPassword) || a_u32Block == 0 || l_sizetText > 0xFFFFFFFFu - a_u32Block,
               OS_LOG_ERROR, "Bad argument...", OS_STS_FAIL);

  COsCryptKey l_key;
  if (!l_key.Derive(a_szPassword)) return OS_STS_FAIL;
  // Padded to the block, with one whole block more when the text already fills blocks.
  DWORD l_dwSize = static_cast<DWORD>(l_sizetText + a_u32Block - l_sizetText % a_u32Block);
  // Asked without data, one provider reports the data length and another the
  // buffer length: both are given the padded size.
  OS_RETURN_IF(!CryptEncrypt(l_key.Key(), 0, TRUE, 0, nullptr, &l_dwSize, l_dwSize), OS_LOG_ERROR,
               "CryptEncrypt failed...", OS_STS_FAIL);
  OS_RETURN_IF(l_dwSize < l_sizetText, OS_LOG_ERROR, "CryptEncrypt failed...", OS_STS_FAIL);
  *a_ppu8Out = static_cast<std::uint8_t*>(OS_MEM_ALLOC(l_dwSize, "StrEncrypt"));
  OS_RETURN_IF_NULL(*a_ppu8Out, OS_LOG_ERROR, "OsMemAlloc failed...", OS_STS_FAIL);
  std::memcpy(*a_ppu8Out, a_szText, l_sizetText);
  DWORD l_dwData = static_cast<DWORD>(l_sizetText);
  if (!CryptEncrypt(l_key.Key(), 0, TRUE, 0, *a_ppu8Out, &l_dwData, l_dwSize)) {
    OS_LOGE("CryptEncrypt failed...");
    return Fail(a_ppu8Out, a_pu32Length);
  }
  *a_pu32Length = l_dwSize;
  return OS_STS_SUCCESS;
}

EOSSTS StrDecrypt(std::uint8_t** a_ppu8Out, std::uint32_t* a_pu32Length, const std::uint8_t* a_pu8Data,
                  std::uint32_t a_u32Length, const char* a_szPassword, std::uint32_t a_u32Block) {
  OS_RETURN_IF(a_ppu8Out == nullptr || a_pu32Length == nullptr, OS_LOG_ERROR, "Bad argument...", OS_STS_FAIL);
  *a_ppu8Out = nullptr;
  *a_pu32Length = 0;
  OS_RETURN_IF(a_pu8Data == nullptr || a_u32Length == 0 || EmptyText(a_szPassword) || a_u32Block == 0, OS_LOG_ERROR,
               "Bad argument...", OS_STS_FAIL);

  COsCryptKey l_key;
  if (!l_key.Derive(a_szPassword)) return OS_STS_FAIL;
  *a_ppu8Out = static_cast<std::uint8_t*>(OS_MEM_ALLOC(a_u32Length, "StrDecrypt"));
  OS_RETURN_IF_NULL(*a_ppu8Out, OS_LOG_ERROR, "OsMemAlloc failed...", OS_STS_FAIL);
  std::memcpy(*a_ppu8Out, a_pu8Data, a_u32Length);
  DWORD l_dwData = a_u32Length;
  if (!CryptDecrypt(l_key.Key(), 0, TRUE, 0, *a_ppu8Out, &l_dwData)) {
    OS_LOGE("CryptDecrypt failed...");
    return Fail(a_ppu8Out, a_pu32Length);
  }
  *a_pu32Length = a_u32Length - a_u32Length % a_u32Block;
  return OS_STS_SUCCESS;
}
