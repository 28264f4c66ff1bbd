// Bit runs in byte buffers: bit 0 of a byte is its most significant bit.
#include <cstring>

#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_log.h"

namespace {

// True when the run [a_u64First, a_u64First + a_u64Bits) lies within a_u32Length bytes.
bool RunFits(std::uint32_t a_u32Length, std::uint64_t a_u64First, std::uint64_t a_u64Bits) {
  const std::uint64_t l_u64Total = static_cast<std::uint64_t>(a_u32Length) * 8u;
  return a_u64First <= l_u64Total && a_u64Bits <= l_u64Total - a_u64First;
}

inline bool GetBit(const unsigned char* a_puc, std::uint64_t a_u64Bit) {
  return (a_puc[a_u64Bit >> 3] & (0x80u >> (a_u64Bit & 7))) != 0;
}

inline void PutBit(unsigned char* a_puc, std::uint64_t a_u64Bit, bool a_b) {
  const unsigned char l_ucMask = static_cast<unsigned char>(0x80u >> (a_u64Bit & 7));
  if (a_b)
    a_puc[a_u64Bit >> 3] |= l_ucMask;
  else
    a_puc[a_u64Bit >> 3] &= static_cast<unsigned char>(~l_ucMask);
}

}  // namespace

int OsMemSetBits(void* a_pvBuffer, std::uint32_t a_u32Length, std::uint64_t a_u64FirstBit, std::uint64_t a_u64Bits,
                 bool a_bValue) {
  if (a_pvBuffer == nullptr || !RunFits(a_u32Length, a_u64FirstBit, a_u64Bits)) {
    OS_LOGA("OsMemCpyBits failed...%p %d %d %d %d", a_pvBuffer, static_cast<int>(a_u32Length),
            static_cast<int>(a_u64FirstBit), static_cast<int>(a_u64Bits), a_bValue ? 1 : 0);
    return 1;
  }
  unsigned char* const l_puc = static_cast<unsigned char*>(a_pvBuffer);
  std::uint64_t l_u64Bit = a_u64FirstBit;
  const std::uint64_t l_u64End = a_u64FirstBit + a_u64Bits;
  while (l_u64Bit < l_u64End && (l_u64Bit & 7) != 0) PutBit(l_puc, l_u64Bit++, a_bValue);
  const std::uint64_t l_u64Bytes = (l_u64End - l_u64Bit) / 8;
  if (l_u64Bytes != 0) {
    std::memset(l_puc + (l_u64Bit >> 3), a_bValue ? 0xFF : 0x00, static_cast<std::size_t>(l_u64Bytes));
    l_u64Bit += l_u64Bytes * 8;
  }
  while (l_u64Bit < l_u64End) PutBit(l_puc, l_u64Bit++, a_bValue);
  return 0;
}

int OsMemCpyBits(void* a_pvDst, std::uint32_t a_u32DstLength, std::uint64_t a_u64DstBit, const void* a_pvSrc,
                 std::uint32_t a_u32SrcLength, std::uint64_t a_u64SrcBit, std::uint64_t a_u64Bits) {
  if (a_pvDst == nullptr || a_pvSrc == nullptr || !RunFits(a_u32DstLength, a_u64DstBit, a_u64Bits) ||
      !RunFits(a_u32SrcLength, a_u64SrcBit, a_u64Bits)) {
    OS_LOGA("OsMemCpyBits failed...%p %d %d %p %d %d %d %d %d", a_pvDst, static_cast<int>(a_u32DstLength),
            static_cast<int>(a_u64DstBit), a_pvSrc, static_cast<int>(a_u32SrcLength), static_cast<int>(a_u64SrcBit),
            static_cast<int>(a_u64Bits), static_cast<int>(a_u32DstLength * 8u), static_cast<int>(a_u32SrcLength * 8u));
    return 1;
  }
  unsigned char* const l_pucDst = static_cast<unsigned char*>(a_pvDst);
  const unsigned char* const l_pucSrc = static_cast<const unsigned char*>(a_pvSrc);
  if (((a_u64DstBit | a_u64SrcBit | a_u64Bits) & 7) == 0) {
    std::memmove(l_pucDst + (a_u64DstBit >> 3), l_pucSrc + (a_u64SrcBit >> 3),
                 static_cast<std::size_t>(a_u64Bits >> 3));
    return 0;
  }
  // Runs may overlap within one buffer: a destination that lies after its
  // source is copied from the last bit back, as memmove does with bytes.
  const std::uintptr_t l_uDst = reinterpret_cast<std::uintptr_t>(l_pucDst + (a_u64DstBit >> 3));
  const std::uintptr_t l_uSrc = reinterpret_cast<std::uintptr_t>(l_pucSrc + (a_u64SrcBit >> 3));
  const bool l_bBackward = l_uDst > l_uSrc || (l_uDst == l_uSrc && (a_u64DstBit & 7) > (a_u64SrcBit & 7));
  for (std::uint64_t l_u64 = 0; l_u64 < a_u64Bits; ++l_u64) {
    const std::uint64_t l_u64At = l_bBackward ? a_u64Bits - 1 - l_u64 : l_u64;
    PutBit(l_pucDst, a_u64DstBit + l_u64At, GetBit(l_pucSrc, a_u64SrcBit + l_u64At));
  }
  return 0;
}

namespace {

constexpr std::uint64_t OS_DSPBITS_PER_LINE = 512;

// One line of a_u64Bits characters (from a_fnChar) in groups of 8.
template <class F>
void LogBitLine(std::uint64_t a_u64First, std::uint64_t a_u64Bits, F a_fnChar) {
  for (std::uint64_t l_u64Start = 0; l_u64Start < a_u64Bits; l_u64Start += OS_DSPBITS_PER_LINE) {
    char l_sz[OS_DSPBITS_PER_LINE + OS_DSPBITS_PER_LINE / 8 + 1];
    std::size_t l_n = 0;
    const std::uint64_t l_u64End =
        a_u64Bits - l_u64Start < OS_DSPBITS_PER_LINE ? a_u64Bits : l_u64Start + OS_DSPBITS_PER_LINE;
    for (std::uint64_t l_u64 = l_u64Start; l_u64 < l_u64End; ++l_u64) {
      if (l_u64 != l_u64Start && l_u64 % 8 == 0) l_sz[l_n++] = ' ';
      l_sz[l_n++] = a_fnChar(a_u64First + l_u64, l_u64);
    }
    l_sz[l_n] = 0;
    OS_LOGE("dspbits>>> %s", l_sz);
  }
}

}  // namespace

int OsMemDspBits(const void* a_pvBuffer, std::uint32_t a_u32Length, std::uint64_t a_u64FirstBit,
                 std::uint64_t a_u64Bits, bool a_bRuler) {
  if (a_u64Bits == 0 && a_u64FirstBit <= static_cast<std::uint64_t>(a_u32Length) * 8u)
    a_u64Bits = static_cast<std::uint64_t>(a_u32Length) * 8u - a_u64FirstBit;
  if (a_pvBuffer == nullptr || !RunFits(a_u32Length, a_u64FirstBit, a_u64Bits)) {
    OS_LOGA("OsMemCpyBits failed...%p %d %d %d %s %d", a_pvBuffer, static_cast<int>(a_u32Length),
            static_cast<int>(a_u64FirstBit), static_cast<int>(a_u64Bits), a_bRuler ? "true" : "false",
            static_cast<int>(a_u32Length * 8u));
    return 1;
  }
  if (a_bRuler) {
    auto l_fnDigit = [](std::uint64_t a_u64Divisor) {
      return [a_u64Divisor](std::uint64_t, std::uint64_t a_u64Pos) {
        return static_cast<char>('0' + (a_u64Pos / a_u64Divisor) % 10);
      };
    };
    if (a_u64Bits >= 100) LogBitLine(a_u64FirstBit, a_u64Bits, l_fnDigit(100));
    if (a_u64Bits > 9) LogBitLine(a_u64FirstBit, a_u64Bits, l_fnDigit(10));
    LogBitLine(a_u64FirstBit, a_u64Bits, l_fnDigit(1));
    LogBitLine(a_u64FirstBit, a_u64Bits, [](std::uint64_t, std::uint64_t) { return '~'; });
  }
  const unsigned char* const l_puc = static_cast<const unsigned char*>(a_pvBuffer);
  LogBitLine(a_u64FirstBit, a_u64Bits,
             [l_puc](std::uint64_t a_u64Bit, std::uint64_t) { return GetBit(l_puc, a_u64Bit) ? '1' : '0'; });
  return 0;
}

std::uint32_t OsMemSetBitField(std::uint32_t a_u32Word, std::uint32_t a_u32Shift, std::uint32_t a_u32Width,
                               std::uint32_t a_u32Value) {
  a_u32Shift %= 32;
  a_u32Width %= 32;
  const std::uint32_t l_u32Mask = ((1u << a_u32Width) - 1u) << a_u32Shift;
  return (a_u32Word & ~l_u32Mask) | (a_u32Value << a_u32Shift);
}
