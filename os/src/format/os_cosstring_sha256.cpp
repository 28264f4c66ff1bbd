// SHA-256 (FIPS 180-4) as 64 upper-case hex digits. Works in a fixed 64-byte
// block and eight words of state: no allocation.
#include <cstdint>
#include <cstring>

#include "os_cosstring.h"
#include "os_log.h"

namespace {

constexpr std::uint32_t s_auK[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t Rotr(std::uint32_t a_u, int a_n) { return (a_u >> a_n) | (a_u << (32 - a_n)); }

void Compress(std::uint32_t (&a_auState)[8], const unsigned char* a_pucBlock) {
  std::uint32_t l_auW[64];
  for (int l_i = 0; l_i < 16; ++l_i)
    l_auW[l_i] = static_cast<std::uint32_t>(a_pucBlock[4 * l_i]) << 24 |
                 static_cast<std::uint32_t>(a_pucBlock[4 * l_i + 1]) << 16 |
                 static_cast<std::uint32_t>(a_pucBlock[4 * l_i + 2]) << 8 | a_pucBlock[4 * l_i + 3];
  for (int l_i = 16; l_i < 64; ++l_i) {
    const std::uint32_t l_s0 = Rotr(l_auW[l_i - 15], 7) ^ Rotr(l_auW[l_i - 15], 18) ^ (l_auW[l_i - 15] >> 3);
    const std::uint32_t l_s1 = Rotr(l_auW[l_i - 2], 17) ^ Rotr(l_auW[l_i - 2], 19) ^ (l_auW[l_i - 2] >> 10);
    l_auW[l_i] = l_auW[l_i - 16] + l_s0 + l_auW[l_i - 7] + l_s1;
  }
  std::uint32_t l_a = a_auState[0], l_b = a_auState[1], l_c = a_auState[2], l_d = a_auState[3];
  std::uint32_t l_e = a_auState[4], l_f = a_auState[5], l_g = a_auState[6], l_h = a_auState[7];
  for (int l_i = 0; l_i < 64; ++l_i) {
    const std::uint32_t l_t1 =
        l_h + (Rotr(l_e, 6) ^ Rotr(l_e, 11) ^ Rotr(l_e, 25)) + ((l_e & l_f) ^ (~l_e & l_g)) + s_auK[l_i] + l_auW[l_i];
    const std::uint32_t l_t2 =
        (Rotr(l_a, 2) ^ Rotr(l_a, 13) ^ Rotr(l_a, 22)) + ((l_a & l_b) ^ (l_a & l_c) ^ (l_b & l_c));
    l_h = l_g;
    l_g = l_f;
    l_f = l_e;
    l_e = l_d + l_t1;
    l_d = l_c;
    l_c = l_b;
    l_b = l_a;
    l_a = l_t1 + l_t2;
  }
  a_auState[0] += l_a;
  a_auState[1] += l_b;
  a_auState[2] += l_c;
  a_auState[3] += l_d;
  a_auState[4] += l_e;
  a_auState[5] += l_f;
  a_auState[6] += l_g;
  a_auState[7] += l_h;
}

}  // namespace

EOSSTS StrSha256Hex(char* a_szDst, std::size_t a_sizetDst, const void* a_pData, std::size_t a_sizetData) {
  if (a_szDst == nullptr || a_sizetDst <= 64) {
    OS_LOGA("Bad argument...");
    return OS_STS_TOOSMALL;
  }
  OS_RETURN_IF(a_pData == nullptr && a_sizetData != 0, OS_LOG_ASSERT, "Bad argument...", OS_STS_BADARG);

  std::uint32_t l_auState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const unsigned char* l_puc = static_cast<const unsigned char*>(a_pData);
  std::size_t l_sizetLeft = a_sizetData;
  for (; l_sizetLeft >= 64; l_sizetLeft -= 64, l_puc += 64) Compress(l_auState, l_puc);

  // The tail, the 0x80 marker and the 64-bit big-endian bit count fill one
  // or two final blocks.
  unsigned char l_aucBlock[64] = {};
  if (l_sizetLeft != 0) std::memcpy(l_aucBlock, l_puc, l_sizetLeft);
  l_aucBlock[l_sizetLeft] = 0x80;
  if (l_sizetLeft >= 56) {
    Compress(l_auState, l_aucBlock);
    std::memset(l_aucBlock, 0, sizeof(l_aucBlock));
  }
  const std::uint64_t l_ullBits = static_cast<std::uint64_t>(a_sizetData) * 8u;
  for (int l_i = 0; l_i < 8; ++l_i) l_aucBlock[63 - l_i] = static_cast<unsigned char>(l_ullBits >> (8 * l_i));
  Compress(l_auState, l_aucBlock);

  static const char s_szHex[] = "0123456789ABCDEF";
  for (int l_i = 0; l_i < 32; ++l_i) {
    const unsigned l_u = (l_auState[l_i / 4] >> (24 - 8 * (l_i % 4))) & 0xFF;
    a_szDst[2 * l_i] = s_szHex[l_u >> 4];
    a_szDst[2 * l_i + 1] = s_szHex[l_u & 0xF];
  }
  a_szDst[64] = 0;
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
