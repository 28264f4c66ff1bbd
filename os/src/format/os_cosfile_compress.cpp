// The compression container: blocks of 65536 bytes, each coded with the
// block-sorting pipeline or with run-length coding alone, or stored; and the
// move-to-front and run-length primitives.
//
// Every field is written and read byte by byte in little-endian order, and
// the reader checks every length and offset it takes from the container
// against the container and the caller's buffers before it touches them.
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// The decoder's list shuffles bytes where the processor can (SSSE3, found
// at run time); the rest of the file keeps to the build's own target.
#define OS_MTF_SHUFFLE 1
#include <tmmintrin.h>
#endif

#include "os_cosfile_compress.h"
#include "os_cosfile_compress_impl.h"
#include "os_cosmem.h"
#include "os_log.h"

static_assert(std::endian::native == std::endian::little, "the move-to-front search reads bytes little-endian");

namespace {

constexpr char s_szMagic[] = "QRXCMP01";
constexpr std::uint32_t s_u32MagicLength = 8;
constexpr std::uint32_t s_u32MaxLiteral = 127;  // a literal group's longest count
constexpr std::uint32_t s_u32MaxCopies = 127;   // a run group's longest count (header 255)
constexpr std::uint32_t s_u32RunBase = 128;

void Put32(std::uint8_t* a_pu8, std::uint32_t a_u32) {
  for (int l_i = 0; l_i < 4; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u32 >> (8 * l_i));
}

void Put64(std::uint8_t* a_pu8, std::uint64_t a_u64) {
  for (int l_i = 0; l_i < 8; ++l_i) a_pu8[l_i] = static_cast<std::uint8_t>(a_u64 >> (8 * l_i));
}

std::uint32_t Get32(const std::uint8_t* a_pu8) {
  std::uint32_t l_u32 = 0;
  for (int l_i = 3; l_i >= 0; --l_i) l_u32 = (l_u32 << 8) | a_pu8[l_i];
  return l_u32;
}

std::uint64_t Get64(const std::uint8_t* a_pu8) {
  std::uint64_t l_u64 = 0;
  for (int l_i = 7; l_i >= 0; --l_i) l_u64 = (l_u64 << 8) | a_pu8[l_i];
  return l_u64;
}

// The 256-entry recency list. After the transform nearly every byte is
// one of the eight most recent, so those live in a register (entry k in
// bits 8k..8k+7) and a move among them is a few shifts and masks, without
// a branch on which one it is. The other 248 entries are plain bytes,
// searched and moved sixteen at a time in aligned vectors where SSE2 is
// there (so that each read finds the vector the last move wrote whole),
// and otherwise searched a word at a time and moved by memmove.
constexpr std::uint64_t s_u64Ones = 0x0101010101010101ull;

#if defined(__SSE2__) || defined(OS_MTF_SHUFFLE)
// Entries 0..a_u32Index-1 of a list part move up by one and a_u8In becomes
// entry 0. Each vector below the one that holds entry a_u32Index moves up a
// byte and takes the top byte of the one before it (a_u8In for the first);
// in that entry's own vector only the lanes up to it move, so each later
// read finds the vector this move wrote whole. The parts are aligned to 16
// for that; the loads and stores do not rely on it, as a 32-bit Windows
// stack is aligned to 4 only, and code built without SSE does not realign.
__attribute__((target("sse2"))) inline void MoveUpInVectors(std::uint8_t* a_pu8Part, std::uint32_t a_u32Index,
                                                            std::uint8_t a_u8In) {
  __m128i* const l_pm128 = reinterpret_cast<__m128i*>(a_pu8Part);
  const std::uint32_t l_u32Last = a_u32Index / 16;
  __m128i l_m128Carry = _mm_cvtsi32_si128(a_u8In);
  for (std::uint32_t l_u = 0; l_u < l_u32Last; ++l_u) {
    const __m128i l_m128 = _mm_loadu_si128(l_pm128 + l_u);
    _mm_storeu_si128(l_pm128 + l_u, _mm_or_si128(_mm_slli_si128(l_m128, 1), l_m128Carry));
    l_m128Carry = _mm_srli_si128(l_m128, 15);
  }
  const __m128i l_m128 = _mm_loadu_si128(l_pm128 + l_u32Last);
  const __m128i l_m128Moved = _mm_or_si128(_mm_slli_si128(l_m128, 1), l_m128Carry);
  const __m128i l_m128Lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i l_m128Stay = _mm_cmpgt_epi8(l_m128Lanes, _mm_set1_epi8(static_cast<char>(a_u32Index % 16)));
  _mm_storeu_si128(l_pm128 + l_u32Last,
                   _mm_or_si128(_mm_and_si128(l_m128Stay, l_m128), _mm_andnot_si128(l_m128Stay, l_m128Moved)));
}
#endif

class CMtfList {
  static constexpr std::uint64_t s_u64Highs = 0x8080808080808080ull;
  static constexpr std::uint32_t s_u32Head = 8;
  static constexpr std::uint32_t s_u32Tail = 256 - s_u32Head;

  // Flags the zero bytes of a_u64; the lowest flag is the first zero byte
  // (borrows only flag bytes above a real zero).
  static std::uint64_t ZeroBytes(std::uint64_t a_u64) { return (a_u64 - s_u64Ones) & ~a_u64 & s_u64Highs; }

 public:
  CMtfList() {
    for (std::uint32_t l_u = 0; l_u < s_u32Head; ++l_u) m_u64Head |= static_cast<std::uint64_t>(l_u) << (8 * l_u);
    for (std::uint32_t l_u = 0; l_u < s_u32Tail; ++l_u) m_au8Tail[l_u] = static_cast<std::uint8_t>(s_u32Head + l_u);
  }

  std::uint8_t Front() const { return static_cast<std::uint8_t>(m_u64Head); }

  // The byte at a_u32Pos, moved to the front.
  std::uint8_t Take(std::uint32_t a_u32Pos) {
    if (a_u32Pos < s_u32Head) return TakeFromHead(a_u32Pos);
    const std::uint8_t l_u8 = m_au8Tail[a_u32Pos - s_u32Head];
    TakeFromTail(a_u32Pos - s_u32Head, l_u8);
    return l_u8;
  }

  // The position of a_u8, which is moved to the front. The list is a
  // permutation, so every byte is found.
  std::uint32_t Find(std::uint8_t a_u8) {
    const std::uint64_t l_u64Pattern = s_u64Ones * a_u8;
    const std::uint64_t l_u64Zero = ZeroBytes(m_u64Head ^ l_u64Pattern);
    if (l_u64Zero != 0) {
      const std::uint32_t l_u32Pos = static_cast<std::uint32_t>(std::countr_zero(l_u64Zero)) / 8;
      TakeFromHead(l_u32Pos);
      return l_u32Pos;
    }
    const std::uint32_t l_u32Index = FindInTail(a_u8);
    TakeFromTail(l_u32Index, a_u8);
    return s_u32Head + l_u32Index;
  }

 private:
  // The tail index of a_u8, which is not in the head. The padding past the
  // tail is zero, and a zero there comes after the real one.
  std::uint32_t FindInTail(std::uint8_t a_u8) const {
#if defined(__SSE2__)
    // Sixteen entries a compare.
    const __m128i l_m128Pattern = _mm_set1_epi8(static_cast<char>(a_u8));
    for (std::uint32_t l_u = 0;; l_u += 16) {
      const __m128i l_m128 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m_au8Tail + l_u));
      const std::uint32_t l_u32Equal =
          static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(l_m128, l_m128Pattern)));
      if (l_u32Equal != 0) return l_u + static_cast<std::uint32_t>(std::countr_zero(l_u32Equal));
    }
#else
    // Four words are tested together: one branch per 32 entries, then the
    // word that holds it.
    const std::uint64_t l_u64Pattern = s_u64Ones * a_u8;
    for (std::uint32_t l_u = 0;; l_u += 32) {
      std::uint64_t l_au64[4];
      std::memcpy(l_au64, m_au8Tail + l_u, sizeof(l_au64));
      std::uint64_t l_au64Zero[4];
      for (int l_i = 0; l_i < 4; ++l_i) l_au64Zero[l_i] = ZeroBytes(l_au64[l_i] ^ l_u64Pattern);
      if ((l_au64Zero[0] | l_au64Zero[1] | l_au64Zero[2] | l_au64Zero[3]) == 0) continue;
      for (std::uint32_t l_w = 0;; ++l_w) {
        if (l_au64Zero[l_w] != 0)
          return l_u + l_w * 8 + static_cast<std::uint32_t>(std::countr_zero(l_au64Zero[l_w])) / 8;
      }
    }
#endif
  }

  // Entries 0..pos-1 move up by one and entry pos comes to the front: the
  // bytes up to pos come from the list shifted by a byte, the rest stay.
  std::uint8_t TakeFromHead(std::uint32_t a_u32Pos) {
    const std::uint32_t l_u32Shift = 8 * a_u32Pos;
    const std::uint64_t l_u64Moved = ~0ull >> (56 - l_u32Shift);  // bytes 0..pos
    const std::uint64_t l_u64Byte = (m_u64Head >> l_u32Shift) & 0xFF;
    m_u64Head = ((m_u64Head << 8) & l_u64Moved) | (m_u64Head & ~l_u64Moved) | l_u64Byte;
    return static_cast<std::uint8_t>(l_u64Byte);
  }

  // Tail entry a_u32Index (byte a_u8) comes to the front: the tail entries
  // before it move up by one, the head's last entry becomes the tail's first.
  void TakeFromTail(std::uint32_t a_u32Index, std::uint8_t a_u8) {
#if defined(__SSE2__)
    MoveUpInVectors(m_au8Tail, a_u32Index, static_cast<std::uint8_t>(m_u64Head >> 56));
#else
    std::memmove(m_au8Tail + 1, m_au8Tail, a_u32Index);
    m_au8Tail[0] = static_cast<std::uint8_t>(m_u64Head >> 56);
#endif
    m_u64Head = (m_u64Head << 8) | a_u8;
  }

  std::uint64_t m_u64Head = 0;
  // The tail and the zero padding the searches read up to 256 bytes; the
  // moves leave the padding alone, as its vector's lanes past the last
  // entry always stay.
  alignas(16) std::uint8_t m_au8Tail[s_u32Tail + s_u32Head] = {};
};

// Whether a pass from a_pu8In to a_pu8Out (a_n bytes each) shares bytes:
// the output may then sit on input not read yet, as in place.
bool Overlap(const std::uint8_t* a_pu8Out, const std::uint8_t* a_pu8In, std::uint32_t a_n) {
  const std::uintptr_t l_uptrOut = reinterpret_cast<std::uintptr_t>(a_pu8Out);
  const std::uintptr_t l_uptrIn = reinterpret_cast<std::uintptr_t>(a_pu8In);
  return l_uptrOut < l_uptrIn + a_n && l_uptrIn < l_uptrOut + a_n;
}

// Writes the low a_u32Bytes (0..8) bytes of a_u64 at a_pu8, which a pass
// that runs in place (a_bInPlace) must not overwrite past them. A pass into
// another buffer writes the whole word, as the bytes past a_u32Bytes are
// written again after it; not reading them back spares a stall on the
// word the last step wrote.
void PutLow(std::uint8_t* a_pu8, std::uint64_t a_u64, std::uint32_t a_u32Bytes, bool a_bInPlace) {
  if (a_bInPlace) {
    const std::uint64_t l_u64Mask = a_u32Bytes >= 8 ? ~0ull : (1ull << (8 * a_u32Bytes)) - 1;
    std::uint64_t l_u64Old;
    std::memcpy(&l_u64Old, a_pu8, 8);
    a_u64 = (l_u64Old & ~l_u64Mask) | (a_u64 & l_u64Mask);
  }
  std::memcpy(a_pu8, &a_u64, 8);
}

// The bytes of a_n move-to-front codes, on a_list. Most codes are 0 (the
// front entry again): eight at a time are tested, and the front entry is
// written for those before the first other code.
void UnmoveCodes(CMtfList& a_list, std::uint8_t* a_pu8Out, const std::uint8_t* a_pu8Codes, std::uint32_t a_n) {
  const bool l_bInPlace = Overlap(a_pu8Out, a_pu8Codes, a_n);
  std::uint32_t l_u = 0;
  while (l_u + 8 <= a_n) {
    std::uint64_t l_u64Codes;
    std::memcpy(&l_u64Codes, a_pu8Codes + l_u, 8);
    const std::uint32_t l_u32Zeros = l_u64Codes == 0 ? 8 : static_cast<std::uint32_t>(std::countr_zero(l_u64Codes)) / 8;
    PutLow(a_pu8Out + l_u, s_u64Ones * a_list.Front(), l_u32Zeros, l_bInPlace);
    l_u += l_u32Zeros;
    if (l_u32Zeros == 8) continue;
    a_pu8Out[l_u] = a_list.Take(static_cast<std::uint8_t>(l_u64Codes >> (8 * l_u32Zeros)));
    ++l_u;
  }
  for (; l_u < a_n; ++l_u) a_pu8Out[l_u] = a_list.Take(a_pu8Codes[l_u]);
}

// The run-length code of a_pu8In into at most a_u32Capacity bytes; false when
// it needs more. A header is written only when its group gets a byte, which
// is the same as starting every header at count 0 and dropping a last one
// that stayed empty.
bool PackBitsCode(std::uint8_t* a_pu8Out, std::uint32_t a_u32Capacity, const std::uint8_t* a_pu8In,
                  std::uint32_t a_u32Length, std::uint32_t* a_pu32CodedLength) {
  const std::uint32_t l_n = a_u32Length;
  std::uint32_t l_o = 0;
  std::uint32_t l_u32Header = 0;  // position of the open literal header
  std::uint32_t l_u32Count = 0;   // its count; 0 while no literal group is open
  std::uint32_t l_i = 0;
  while (l_i < l_n) {
    const std::uint8_t l_u8 = a_pu8In[l_i];
    if (l_i + 2 < l_n && a_pu8In[l_i + 1] == l_u8 && a_pu8In[l_i + 2] == l_u8) {
      if (a_u32Capacity - l_o < 2) return false;
      // The run's copies are counted from its first byte; the byte at which
      // the count stops is left for the next group.
      std::uint32_t l_u32Copies = 1;
      ++l_i;
      while (l_u32Copies < s_u32MaxCopies && l_i + 1 < l_n && a_pu8In[l_i + 1] == l_u8) {
        ++l_u32Copies;
        ++l_i;
      }
      a_pu8Out[l_o] = static_cast<std::uint8_t>(s_u32RunBase + l_u32Copies);
      a_pu8Out[l_o + 1] = l_u8;
      l_o += 2;
      l_u32Count = 0;
      continue;
    }
    if (l_u32Count == 0) {
      if (a_u32Capacity - l_o < 2) return false;
      l_u32Header = l_o++;
    } else if (l_o == a_u32Capacity) {
      return false;
    }
    a_pu8Out[l_o++] = l_u8;
    ++l_i;
    a_pu8Out[l_u32Header] = static_cast<std::uint8_t>(++l_u32Count);
    if (l_u32Count == s_u32MaxLiteral) l_u32Count = 0;
  }
  *a_pu32CodedLength = l_o;
  return true;
}

enum EUNPACK { UNPACK_OK, UNPACK_OVERFLOW, UNPACK_TRUNCATED };

// What the run-length decoder does with its groups: writes them as they
// are, or takes them as move-to-front codes and writes their bytes.
struct CBytesSink {
  void Literal(std::uint8_t* a_pu8Out, const std::uint8_t* a_pu8In, std::uint32_t a_n) {
    std::memcpy(a_pu8Out, a_pu8In, a_n);
  }
  void Run(std::uint8_t* a_pu8Out, std::uint8_t a_u8, std::uint32_t a_n) { std::memset(a_pu8Out, a_u8, a_n); }
};

// a_n (at least 1) copies of a_u8 at a_pu8, in words that may overlap:
// runs are short, and a call of memset costs more than the run.
void Fill(std::uint8_t* a_pu8, std::uint8_t a_u8, std::uint32_t a_n) {
  const std::uint64_t l_u64 = s_u64Ones * a_u8;
  if (a_n >= 8) {
    for (std::uint32_t l_u = 0; l_u + 8 < a_n; l_u += 8) std::memcpy(a_pu8 + l_u, &l_u64, 8);
    std::memcpy(a_pu8 + a_n - 8, &l_u64, 8);
  } else if (a_n >= 4) {
    std::memcpy(a_pu8, &l_u64, 4);
    std::memcpy(a_pu8 + a_n - 4, &l_u64, 4);
  } else {
    a_pu8[0] = a_u8;
    a_pu8[a_n / 2] = a_u8;
    a_pu8[a_n - 1] = a_u8;
  }
}

#if defined(OS_MTF_SHUFFLE)
// The decoder's list where bytes can be shuffled: the 16 front entries in a
// vector, so that taking one is a single shuffle whose result the next code
// waits on (a move in the word-wide list is a chain of shifts and masks),
// and the other 240 as plain bytes. A block's codes are nearly all below
// 16. Decoding takes one code at a time: with the list this quick, the
// word-wide skipping of zero codes would cost more than it spares.
struct CShuffleList {
  CShuffleList() {
    for (std::uint32_t l_u = 0; l_u < 16; ++l_u) m_au8Head[l_u] = static_cast<std::uint8_t>(l_u);
    for (std::uint32_t l_u = 0; l_u < 240; ++l_u) m_au8Tail[l_u] = static_cast<std::uint8_t>(16 + l_u);
  }
  alignas(16) std::uint8_t m_au8Head[16];
  alignas(16) std::uint8_t m_au8Tail[240];
};

// Shuffle k brings entry k to the front and moves entries 0..k-1 up by one.
struct CShuffles {
  constexpr CShuffles() : m_au8() {
    for (std::uint32_t l_k = 0; l_k < 16; ++l_k) {
      for (std::uint32_t l_u = 0; l_u < 16; ++l_u) {
        m_au8[l_k][l_u] = static_cast<std::uint8_t>(l_u == 0 ? l_k : l_u <= l_k ? l_u - 1 : l_u);
      }
    }
  }
  alignas(16) std::uint8_t m_au8[16][16];
};
constexpr CShuffles s_shuffles;

__attribute__((target("ssse3"))) inline __m128i TakeShuffled(__m128i a_m128Head, std::uint8_t* a_pu8Tail,
                                                             std::uint32_t a_u32Code) {
  if (a_u32Code < 16) {
    return _mm_shuffle_epi8(a_m128Head, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s_shuffles.m_au8[a_u32Code])));
  }
  // From the tail: the entries before it move up, the head's last entry
  // becomes the tail's first, and the head moves up for it.
  const std::uint32_t l_u32Index = a_u32Code - 16;
  const std::uint8_t l_u8 = a_pu8Tail[l_u32Index];
  MoveUpInVectors(a_pu8Tail, l_u32Index, static_cast<std::uint8_t>(_mm_extract_epi16(a_m128Head, 7) >> 8));
  return _mm_or_si128(_mm_slli_si128(a_m128Head, 1), _mm_cvtsi32_si128(l_u8));
}

// The bytes of a_n codes (a_u8Code a_n times when a_pu8Codes is null). Each
// code is read before its byte is written, so the output may be the input
// or start before it. On 32-bit Windows it aligns its own stack for the
// vectors it keeps there.
#if defined(__i386__)
#define OS_MTF_SHUFFLE_ENTRY __attribute__((target("ssse3"), force_align_arg_pointer))
#else
#define OS_MTF_SHUFFLE_ENTRY __attribute__((target("ssse3")))
#endif
OS_MTF_SHUFFLE_ENTRY void UnmoveShuffled(CShuffleList& a_list, std::uint8_t* a_pu8Out, const std::uint8_t* a_pu8Codes,
                                         std::uint8_t a_u8Code, std::uint32_t a_n) {
  __m128i l_m128Head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_list.m_au8Head));
  for (std::uint32_t l_u = 0; l_u < a_n; ++l_u) {
    l_m128Head = TakeShuffled(l_m128Head, a_list.m_au8Tail, a_pu8Codes != nullptr ? a_pu8Codes[l_u] : a_u8Code);
    a_pu8Out[l_u] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(l_m128Head));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(a_list.m_au8Head), l_m128Head);
}
#endif

// Whether this decoding shuffles: where the processor can, unless a test
// has turned it off.
bool Shuffles() {
#if defined(OS_MTF_SHUFFLE)
  static const bool s_bCan = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3") != 0);
  return g_bOsMtfShuffle && s_bCan;
#else
  return false;
#endif
}

struct CUnmoveSink {
  void Literal(std::uint8_t* a_pu8Out, const std::uint8_t* a_pu8In, std::uint32_t a_n) {
#if defined(OS_MTF_SHUFFLE)
    if (m_bShuffles) {
      UnmoveShuffled(m_shufflelist, a_pu8Out, a_pu8In, 0, a_n);
      return;
    }
#endif
    UnmoveCodes(m_list, a_pu8Out, a_pu8In, a_n);
  }
  void Run(std::uint8_t* a_pu8Out, std::uint8_t a_u8Code, std::uint32_t a_n) {
#if defined(OS_MTF_SHUFFLE)
    if (m_bShuffles) {
      if (a_u8Code == 0 && a_n != 0) Fill(a_pu8Out, m_shufflelist.m_au8Head[0], a_n);
      if (a_u8Code != 0) UnmoveShuffled(m_shufflelist, a_pu8Out, nullptr, a_u8Code, a_n);
      return;
    }
#endif
    if (a_u8Code == 0) {
      if (a_n != 0) Fill(a_pu8Out, m_list.Front(), a_n);
      return;
    }
    for (std::uint32_t l_u = 0; l_u < a_n; ++l_u) a_pu8Out[l_u] = m_list.Take(a_u8Code);
  }
  const bool m_bShuffles = Shuffles();
  CMtfList m_list;
#if defined(OS_MTF_SHUFFLE)
  CShuffleList m_shufflelist;
#endif
};

template <typename TSink>
EUNPACK UnpackBitsCode(std::uint8_t* a_pu8Out, std::uint32_t a_u32Capacity, const std::uint8_t* a_pu8In,
                       std::uint32_t a_u32Length, std::uint32_t* a_pu32DecodedLength, TSink&& a_sink) {
  std::uint32_t l_o = 0;
  std::uint32_t l_i = 0;
  EUNPACK l_eunpack = UNPACK_OK;
  while (l_i < a_u32Length) {
    const std::uint32_t l_u32Header = a_pu8In[l_i++];
    if (l_i == a_u32Length) break;  // a header without a byte after it
    if (l_u32Header < s_u32RunBase) {
      if (l_u32Header > a_u32Length - l_i) {
        l_eunpack = UNPACK_TRUNCATED;
        break;
      }
      if (l_u32Header > a_u32Capacity - l_o) {
        l_eunpack = UNPACK_OVERFLOW;
        break;
      }
      a_sink.Literal(a_pu8Out + l_o, a_pu8In + l_i, l_u32Header);
      l_i += l_u32Header;
      l_o += l_u32Header;
    } else {
      const std::uint32_t l_u32Copies = l_u32Header - s_u32RunBase;
      if (l_u32Copies > a_u32Capacity - l_o) {
        l_eunpack = UNPACK_OVERFLOW;
        break;
      }
      a_sink.Run(a_pu8Out + l_o, a_pu8In[l_i++], l_u32Copies);
      l_o += l_u32Copies;
    }
  }
  *a_pu32DecodedLength = l_o;
  return l_eunpack;
}

}  // namespace

bool g_bOsMtfShuffle = true;

bool OsMtfShuffles() { return Shuffles(); }

EOSSTS MoveToFront(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                   std::uint32_t a_u32InputLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  // Most bytes repeat the one before them and code as 0: eight at a time
  // are compared with the front entry, and only the others search the list
  // (the byte is taken from the word read, so the pass may run in place).
  CMtfList l_list;
  const std::uint32_t l_n = a_u32InputLength;
  const bool l_bInPlace = Overlap(l_pu8Out, l_pu8In, l_n);
  std::uint32_t l_u = 0;
  while (l_u + 8 <= l_n) {
    std::uint64_t l_u64;
    std::memcpy(&l_u64, l_pu8In + l_u, 8);
    const std::uint64_t l_u64Other = l_u64 ^ (s_u64Ones * l_list.Front());
    const std::uint32_t l_u32Zeros = l_u64Other == 0 ? 8 : static_cast<std::uint32_t>(std::countr_zero(l_u64Other)) / 8;
    PutLow(l_pu8Out + l_u, 0, l_u32Zeros, l_bInPlace);
    l_u += l_u32Zeros;
    if (l_u32Zeros == 8) continue;
    l_pu8Out[l_u] = static_cast<std::uint8_t>(l_list.Find(static_cast<std::uint8_t>(l_u64 >> (8 * l_u32Zeros))));
    ++l_u;
  }
  for (; l_u < l_n; ++l_u) l_pu8Out[l_u] = static_cast<std::uint8_t>(l_list.Find(l_pu8In[l_u]));
  return OS_STS_SUCCESS;
}

EOSSTS UnmoveToFront(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                     std::uint32_t a_u32InputLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  CUnmoveSink{}.Literal(l_pu8Out, l_pu8In, a_u32InputLength);
  return OS_STS_SUCCESS;
}

EOSSTS PackBits(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput, std::uint32_t a_u32InputLength,
                std::uint32_t* a_pu32CodedLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu32CodedLength, OS_LOG_ASSERT, "a_pu32CodedLength is null...", OS_STS_BADARG);
  *a_pu32CodedLength = 0;
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  // Short runs cost more than they save, so the code can outgrow the input.
  OS_RETURN_IF(!PackBitsCode(static_cast<std::uint8_t*>(a_pvOutput), a_u32OutputSize,
                             static_cast<const std::uint8_t*>(a_pvInput), a_u32InputLength, a_pu32CodedLength),
               OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  return OS_STS_SUCCESS;
}

EOSSTS UnpackBits(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                  std::uint32_t a_u32InputLength, std::uint32_t* a_pu32DecodedLength) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu32DecodedLength, OS_LOG_ASSERT, "a_pu32DecodedLength is null...", OS_STS_BADARG);
  *a_pu32DecodedLength = 0;
  if (a_u32InputLength == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  const EUNPACK l_eunpack =
      UnpackBitsCode(static_cast<std::uint8_t*>(a_pvOutput), a_u32OutputSize,
                     static_cast<const std::uint8_t*>(a_pvInput), a_u32InputLength, a_pu32DecodedLength, CBytesSink{});
  OS_RETURN_IF(l_eunpack == UNPACK_OVERFLOW, OS_LOG_ERROR, "Output buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF(l_eunpack == UNPACK_TRUNCATED, OS_LOG_ERROR, "Run-length data is cut short...", OS_STS_FAIL);
  return OS_STS_SUCCESS;
}

std::uint64_t OsFileCompressBound(std::uint32_t a_u32InputLength) {
  const std::uint64_t l_u64Blocks =
      (static_cast<std::uint64_t>(a_u32InputLength) + OS_COMPRESS_BLOCK_SIZE - 1) / OS_COMPRESS_BLOCK_SIZE;
  return OS_COMPRESS_HEADER_SIZE + l_u64Blocks * OS_COMPRESS_CHUNK_HEADER_SIZE + a_u32InputLength;
}

namespace {

// Codes one block of a_n bytes into its chunk (header and data, at most
// a_n + OS_COMPRESS_CHUNK_HEADER_SIZE bytes) with one block of scratch, and
// gives the chunk's length; 0 after a logged failure.
std::uint32_t CodeBlock(std::uint8_t* a_pu8Chunk, const std::uint8_t* a_pu8Block, std::uint32_t a_n,
                        EOSCOMPRESS a_eoscompress, std::uint8_t* a_pu8Scratch,
                        OsCompressContext* a_poscompresscontext) {
  std::uint8_t* const l_pu8Data = a_pu8Chunk + OS_COMPRESS_CHUNK_HEADER_SIZE;
  std::uint32_t l_u32Method = a_eoscompress;
  std::uint32_t l_u32Primary = 0;
  std::uint32_t l_u32Coded = 0;
  bool l_bShrunk = false;
  // Coding is given one byte less than the block: what does not fit there
  // would not be smaller, and is stored.
  if (a_n > 1 && a_eoscompress == OS_COMPRESS_BWT) {
    if (BWTTransform(l_pu8Data, a_n, a_pu8Block, a_n, &l_u32Primary, a_poscompresscontext) != OS_STS_SUCCESS) {
      OS_LOGE("BWTTransform failed...");
      return 0;
    }
    if (MoveToFront(a_pu8Scratch, a_n, l_pu8Data, a_n) != OS_STS_SUCCESS) {
      OS_LOGE("MoveToFront failed...");
      return 0;
    }
    l_bShrunk = PackBitsCode(l_pu8Data, a_n - 1, a_pu8Scratch, a_n, &l_u32Coded);
  } else if (a_n > 1) {
    l_bShrunk = PackBitsCode(l_pu8Data, a_n - 1, a_pu8Block, a_n, &l_u32Coded);
  }
  if (!l_bShrunk) {
    std::memcpy(l_pu8Data, a_pu8Block, a_n);
    l_u32Method = OS_COMPRESS_STORED;
    l_u32Primary = 0;
    l_u32Coded = a_n;
  }
  Put32(a_pu8Chunk, l_u32Method);
  Put32(a_pu8Chunk + 4, l_u32Primary);
  Put32(a_pu8Chunk + 8, a_n);
  Put32(a_pu8Chunk + 12, l_u32Coded);
  return OS_COMPRESS_CHUNK_HEADER_SIZE + l_u32Coded;
}

// A tracked block that goes back with its owner.
class CTrackedBlock {
 public:
  explicit CTrackedBlock(std::uint32_t a_u32Size, const char* a_szName)
      : m_pu8(a_u32Size > 0 ? static_cast<std::uint8_t*>(OS_MEM_ALLOC(a_u32Size, a_szName)) : nullptr) {}
  CTrackedBlock(const CTrackedBlock&) = delete;
  CTrackedBlock& operator=(const CTrackedBlock&) = delete;
  ~CTrackedBlock() {
    if (m_pu8 != nullptr) OS_MEM_FREE(m_pu8);
  }
  std::uint8_t* Get() const { return m_pu8; }

 private:
  std::uint8_t* m_pu8;
};

constexpr std::uint32_t s_u32ChunkMost = OS_COMPRESS_CHUNK_HEADER_SIZE + OS_COMPRESS_BLOCK_SIZE;

// One round of a compression on workers: share w codes block m_u32First + w
// into its own chunk buffer (share 0's is the container itself, at the
// round's position).
struct SCompressRound {
  const std::uint8_t* m_pu8In;
  std::uint32_t m_u32Length;
  EOSCOMPRESS m_eoscompress;
  std::uint32_t m_u32First;
  struct SShare {
    std::uint8_t* m_pu8Chunk;
    std::uint8_t* m_pu8Scratch;
    OsCompressContext* m_poscompresscontext;
    std::uint32_t m_u32Chunk;  // the chunk's length, 0 when coding failed
  } m_ashare[OS_WORKERS_MAX];
};

void CompressShare(void* a_pvRound, std::uint32_t a_u32Worker) {
  SCompressRound& l_round = *static_cast<SCompressRound*>(a_pvRound);
  SCompressRound::SShare& l_share = l_round.m_ashare[a_u32Worker];
  const std::uint64_t l_u64Start =
      static_cast<std::uint64_t>(l_round.m_u32First + a_u32Worker) * OS_COMPRESS_BLOCK_SIZE;
  if (l_u64Start >= l_round.m_u32Length) return;
  const std::uint32_t l_u32Rest = l_round.m_u32Length - static_cast<std::uint32_t>(l_u64Start);
  const std::uint32_t l_n = l_u32Rest < OS_COMPRESS_BLOCK_SIZE ? l_u32Rest : OS_COMPRESS_BLOCK_SIZE;
  l_share.m_u32Chunk = CodeBlock(l_share.m_pu8Chunk, l_round.m_pu8In + l_u64Start, l_n, l_round.m_eoscompress,
                                 l_share.m_pu8Scratch, l_share.m_poscompresscontext);
}

// The workers' own contexts, released with the call.
class CWorkerContexts {
 public:
  CWorkerContexts() = default;
  CWorkerContexts(const CWorkerContexts&) = delete;
  CWorkerContexts& operator=(const CWorkerContexts&) = delete;
  ~CWorkerContexts() {
    for (OsCompressContext& l_context : m_acontext) OsFileCompressContextFree(&l_context);
  }
  OsCompressContext* At(std::uint32_t a_u32Worker) { return &m_acontext[a_u32Worker]; }

 private:
  OsCompressContext m_acontext[OS_WORKERS_MAX];
};

// The blocks of the container after its header on a_u32Workers workers,
// round by round, and the container's length; 0 when coding failed.
std::uint32_t CompressOnWorkers(std::uint8_t* a_pu8Out, const std::uint8_t* a_pu8In, std::uint32_t a_u32Length,
                                EOSCOMPRESS a_eoscompress, std::uint8_t* a_pu8Scratch,
                                OsCompressContext* a_poscompresscontext, COsWorkers* a_posworkers,
                                std::uint32_t a_u32Shares, std::uint32_t a_u32Workers, std::uint8_t* a_pu8Buffers) {
  SCompressRound l_round;
  l_round.m_pu8In = a_pu8In;
  l_round.m_u32Length = a_u32Length;
  l_round.m_eoscompress = a_eoscompress;
  CWorkerContexts l_contexts;
  l_round.m_ashare[0] = {nullptr, a_pu8Scratch, a_poscompresscontext, 0};
  // The pool runs all its shares; with fewer blocks than shares there is
  // one round, and the shares past a_u32Workers find no block and have no
  // buffers.
  const std::uint32_t l_u32Shares = a_u32Shares;
  for (std::uint32_t l_w = 1; l_w < l_u32Shares; ++l_w) {
    std::uint8_t* const l_pu8 =
        l_w < a_u32Workers ? a_pu8Buffers + static_cast<std::size_t>(l_w - 1) * 2 * s_u32ChunkMost : nullptr;
    l_round.m_ashare[l_w] = {l_pu8, l_pu8 != nullptr ? l_pu8 + s_u32ChunkMost : nullptr, l_contexts.At(l_w), 0};
  }
  const std::uint32_t l_u32Blocks = (a_u32Length + OS_COMPRESS_BLOCK_SIZE - 1) / OS_COMPRESS_BLOCK_SIZE;
  std::uint32_t l_u32Pos = OS_COMPRESS_HEADER_SIZE;
  for (std::uint32_t l_u32First = 0; l_u32First < l_u32Blocks; l_u32First += a_u32Workers) {
    l_round.m_u32First = l_u32First;
    l_round.m_ashare[0].m_pu8Chunk = a_pu8Out + l_u32Pos;
    for (std::uint32_t l_w = 0; l_w < l_u32Shares; ++l_w) l_round.m_ashare[l_w].m_u32Chunk = 0;
    a_posworkers->Run(CompressShare, &l_round);
    const std::uint32_t l_u32InRound =
        l_u32Blocks - l_u32First < a_u32Workers ? l_u32Blocks - l_u32First : a_u32Workers;
    for (std::uint32_t l_w = 0; l_w < l_u32InRound; ++l_w) {
      const SCompressRound::SShare& l_share = l_round.m_ashare[l_w];
      std::uint32_t l_u32Chunk = l_share.m_u32Chunk;
      if (l_w > 0 && l_u32Chunk == 0) {
        // A worker that could not code its block (its context found no
        // memory) has it coded here, into its place.
        const std::uint32_t l_u32Start = (l_u32First + l_w) * OS_COMPRESS_BLOCK_SIZE;
        const std::uint32_t l_u32Rest = a_u32Length - l_u32Start;
        l_u32Chunk = CodeBlock(a_pu8Out + l_u32Pos, a_pu8In + l_u32Start,
                               l_u32Rest < OS_COMPRESS_BLOCK_SIZE ? l_u32Rest : OS_COMPRESS_BLOCK_SIZE, a_eoscompress,
                               a_pu8Scratch, a_poscompresscontext);
      } else if (l_w > 0) {
        std::memcpy(a_pu8Out + l_u32Pos, l_share.m_pu8Chunk, l_u32Chunk);
      }
      if (l_u32Chunk == 0) return 0;
      l_u32Pos += l_u32Chunk;
    }
  }
  return l_u32Pos;
}

}  // namespace

EOSSTS OsFileCompress(void* a_pvOutput, std::uint32_t* a_pu32OutputSize, const void* a_pvInput,
                      std::uint32_t a_u32InputLength, EOSCOMPRESS a_eoscompress, void* a_pvScratch,
                      OsCompressContext* a_poscompresscontext, COsWorkers* a_posworkers) {
  OS_RETURN_IF_NULL(a_pu32OutputSize, OS_LOG_ASSERT, "a_pu32OutputSize is null...", OS_STS_BADARG);
  const std::uint32_t l_u32Capacity = *a_pu32OutputSize;
  *a_pu32OutputSize = 0;
  OS_RETURN_IF(a_u32InputLength == 0, OS_LOG_ASSERT, "Programmer goofed...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pvOutput, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvInput, OS_LOG_ASSERT, "a_pvInput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvScratch, OS_LOG_ASSERT, "a_pvScratch is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_poscompresscontext, OS_LOG_ASSERT, "a_poscompresscontext is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_eoscompress != OS_COMPRESS_BWT && a_eoscompress != OS_COMPRESS_RLE, OS_LOG_ASSERT,
               "Looks like we need to add a new compression handler...", OS_STS_FAIL);
  // Coding never lets a block grow (a block that does not shrink is stored),
  // so the bound is exact and no overshoot room is needed.
  OS_RETURN_IF(OsFileCompressBound(a_u32InputLength) > l_u32Capacity, OS_LOG_ASSERT, "Output buffer is too small...",
               OS_STS_FAIL);

  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Scratch = static_cast<std::uint8_t*>(a_pvScratch);

  std::memcpy(l_pu8Out, s_szMagic, s_u32MagicLength);
  Put32(l_pu8Out + 8, OS_COMPRESS_HEADER_SIZE);
  Put32(l_pu8Out + 12, OS_COMPRESS_CHUNK_HEADER_SIZE);
  Put64(l_pu8Out + 16, a_u32InputLength);

  // Workers beyond the block count would have nothing to do.
  const std::uint32_t l_u32Blocks = (a_u32InputLength - 1) / OS_COMPRESS_BLOCK_SIZE + 1;
  std::uint32_t l_u32Shares = a_posworkers != nullptr ? a_posworkers->Count() : 1;
  if (l_u32Shares > OS_WORKERS_MAX) l_u32Shares = 1;  // a pool that breaks its own rule is not used
  const std::uint32_t l_u32Workers = l_u32Shares < l_u32Blocks ? l_u32Shares : l_u32Blocks;
  if (l_u32Workers > 1) {
    // Each worker but the caller's codes into a chunk buffer and a scratch
    // block of its own; without them the calling thread codes alone.
    const CTrackedBlock l_buffers((l_u32Workers - 1) * 2 * s_u32ChunkMost, "compress-workers");
    if (l_buffers.Get() != nullptr) {
      const std::uint32_t l_u32Pos =
          CompressOnWorkers(l_pu8Out, l_pu8In, a_u32InputLength, a_eoscompress, l_pu8Scratch, a_poscompresscontext,
                            a_posworkers, l_u32Shares, l_u32Workers, l_buffers.Get());
      if (l_u32Pos == 0) return OS_STS_FAIL;
      *a_pu32OutputSize = l_u32Pos;
      return OS_STS_SUCCESS;
    }
    OS_LOGI("compression workers have no buffers, coding on one thread...%u", l_u32Workers);
  }

  std::uint32_t l_u32Pos = OS_COMPRESS_HEADER_SIZE;
  for (std::uint32_t l_u32Done = 0; l_u32Done < a_u32InputLength;) {
    const std::uint32_t l_u32Remaining = a_u32InputLength - l_u32Done;
    const std::uint32_t l_n = l_u32Remaining < OS_COMPRESS_BLOCK_SIZE ? l_u32Remaining : OS_COMPRESS_BLOCK_SIZE;
    const std::uint32_t l_u32Chunk =
        CodeBlock(l_pu8Out + l_u32Pos, l_pu8In + l_u32Done, l_n, a_eoscompress, l_pu8Scratch, a_poscompresscontext);
    if (l_u32Chunk == 0) return OS_STS_FAIL;
    l_u32Pos += l_u32Chunk;
    l_u32Done += l_n;
  }
  *a_pu32OutputSize = l_u32Pos;
  return OS_STS_SUCCESS;
}

namespace {

// The inverse transform's table for every block of one decoding call,
// allocated at the first block that needs it (one allocation per call, not
// one per block: the allocator zeroes what it hands out).
class CUntransformTable {
 public:
  CUntransformTable() = default;
  CUntransformTable(const CUntransformTable&) = delete;
  CUntransformTable& operator=(const CUntransformTable&) = delete;
  ~CUntransformTable() {
    if (m_pu16Table != nullptr) OS_MEM_FREE(m_pu16Table);
  }
  std::uint16_t* Get() {
    if (m_pu16Table == nullptr) {
      m_pu16Table = static_cast<std::uint16_t*>(
          OS_MEM_ALLOC(OsBwtUntransformEntries(OS_COMPRESS_BLOCK_SIZE) * sizeof(std::uint16_t), "bwt-untransform"));
    }
    return m_pu16Table;
  }

 private:
  std::uint16_t* m_pu16Table = nullptr;
};

// One checked chunk, to be decoded into its place of the output.
struct SChunk {
  std::uint32_t m_u32Method;
  std::uint32_t m_u32Primary;
  std::uint32_t m_n;
  std::uint32_t m_u32Stored;
  const std::uint8_t* m_pu8Data;
  std::uint8_t* m_pu8Block;
};

enum EDECODE { DECODE_OK, DECODE_UNPACK, DECODE_TABLE };

// Decodes a chunk whose lengths, method and primary index are checked, with
// one block of scratch and the worker's table. Workers do not log: the
// failure of the first broken chunk in order is logged by LogDecode.
EDECODE DecodeChunk(const SChunk& a_chunk, std::uint8_t* a_pu8Scratch, CUntransformTable* a_ptable) {
  const std::uint32_t l_n = a_chunk.m_n;
  if (a_chunk.m_u32Method == OS_COMPRESS_STORED) {
    std::memcpy(a_chunk.m_pu8Block, a_chunk.m_pu8Data, l_n);
    return DECODE_OK;
  }
  // The block's own length bounds the decoding: a chunk that decodes to more
  // or to less is broken either way.
  std::uint32_t l_u32Decoded = 0;
  if (a_chunk.m_u32Method == OS_COMPRESS_RLE) {
    return UnpackBitsCode(a_chunk.m_pu8Block, l_n, a_chunk.m_pu8Data, a_chunk.m_u32Stored, &l_u32Decoded,
                          CBytesSink{}) == UNPACK_OK &&
                   l_u32Decoded == l_n
               ? DECODE_OK
               : DECODE_UNPACK;
  }
  // The run-length groups are move-to-front codes, whose bytes (the column)
  // go to one block of the scratch, never more than the output holds.
  if (UnpackBitsCode(a_pu8Scratch, l_n, a_chunk.m_pu8Data, a_chunk.m_u32Stored, &l_u32Decoded, CUnmoveSink{}) !=
          UNPACK_OK ||
      l_u32Decoded != l_n)
    return DECODE_UNPACK;
  if (l_n == 0) return DECODE_OK;
  if (a_ptable->Get() == nullptr) return DECODE_TABLE;
  BWTUntransformBlock(a_chunk.m_pu8Block, a_pu8Scratch, l_n, a_chunk.m_u32Primary, a_ptable->Get());
  return DECODE_OK;
}

EOSSTS LogDecode(EDECODE a_edecode) {
  switch (a_edecode) {
    case DECODE_OK: return OS_STS_SUCCESS;
    case DECODE_UNPACK: OS_LOGE("PackBits failed: error unpacking..."); break;
    case DECODE_TABLE: OS_LOGA("BWTUntransform failed..."); break;
  }
  return OS_STS_FAIL;
}

// The decoding of one call: its chunks are checked in order and decoded a
// batch at a time. Alone, a batch is one chunk; with workers it is up to
// s_u32BatchChunks chunks, which the shares take one at a time in order,
// each with its own scratch block and table. A worker's wake-up is so paid
// once for many blocks (a stored block is copied in less time than a
// wake-up takes), and the calling thread is at work while it wakes. Memory
// stays at one block a worker, whatever a batch holds.
class CDecoder {
  static constexpr std::uint32_t s_u32BatchChunks = 4 * OS_WORKERS_MAX;
  // Stored and run-length chunks decode at the speed of a copy, faster
  // than a worker wakes: a batch is shared out when it holds two
  // transformed chunks, or this many bytes.
  static constexpr std::uint64_t s_u64ShareBytes = 4 * OS_COMPRESS_BLOCK_SIZE;

 public:
  CDecoder(std::uint8_t* a_pu8Scratch, COsWorkers* a_posworkers) : m_pu8Scratch(a_pu8Scratch) {
    const std::uint32_t l_u32Shares = a_posworkers != nullptr ? a_posworkers->Count() : 1;
    if (l_u32Shares > 1 && l_u32Shares <= OS_WORKERS_MAX) {
      m_posworkers = a_posworkers;
      m_u32Shares = l_u32Shares;
      m_u32Capacity = s_u32BatchChunks;
    }
  }
  CDecoder(const CDecoder&) = delete;
  CDecoder& operator=(const CDecoder&) = delete;
  ~CDecoder() {
    if (m_pu8Scratches != nullptr) OS_MEM_FREE(m_pu8Scratches);
  }

  // Queues a checked chunk and decodes the batch once it is full.
  EOSSTS Add(const SChunk& a_chunk) {
    m_achunk[m_u32Chunks++] = a_chunk;
    return m_u32Chunks == m_u32Capacity ? Flush() : OS_STS_SUCCESS;
  }

  // Decodes what is queued: 0, or 1 for the first chunk in order that failed.
  EOSSTS Flush() {
    const std::uint32_t l_u32Chunks = m_u32Chunks;
    m_u32Chunks = 0;
    if (l_u32Chunks == 0) return OS_STS_SUCCESS;
    std::uint32_t l_u32Transformed = 0;
    std::uint64_t l_u64Bytes = 0;
    for (std::uint32_t l_u = 0; l_u < l_u32Chunks; ++l_u) {
      l_u32Transformed += m_achunk[l_u].m_u32Method == OS_COMPRESS_BWT;
      l_u64Bytes += m_achunk[l_u].m_n;
    }
    bool l_bAlone = l_u32Chunks < 2 || (l_u32Transformed < 2 && l_u64Bytes < s_u64ShareBytes);
    if (!l_bAlone && l_u32Transformed > 0 && m_pu8Scratches == nullptr) {
      m_pu8Scratches =
          static_cast<std::uint8_t*>(OS_MEM_ALLOC((m_u32Shares - 1) * OS_COMPRESS_BLOCK_SIZE, "decompress-workers"));
      l_bAlone = m_pu8Scratches == nullptr;
    }
    // No more shares take part than there are chunks. Their tables are made
    // here, not on the workers: without them, or without the workers'
    // scratch blocks, the calling thread decodes alone.
    m_u32Active = l_u32Chunks < m_u32Shares ? l_u32Chunks : m_u32Shares;
    for (std::uint32_t l_u = 0; l_u < m_u32Active && l_u32Transformed > 0 && !l_bAlone; ++l_u)
      l_bAlone = m_atable[l_u].Get() == nullptr;
    if (l_bAlone) {
      for (std::uint32_t l_u = 0; l_u < l_u32Chunks; ++l_u) {
        if (LogDecode(DecodeChunk(m_achunk[l_u], m_pu8Scratch, &m_atable[0])) != OS_STS_SUCCESS) return OS_STS_FAIL;
      }
      return OS_STS_SUCCESS;
    }
    m_u32Batch = l_u32Chunks;
    m_u32Next.store(0, std::memory_order_relaxed);
    // A chunk no share takes (after a broken one) is left failed; only the
    // first failure in order is reported, and every chunk before it was
    // taken, so decoded, before it. A share the pool runs again, for a
    // worker whose thread ended, finds nothing left to take: a chunk that
    // worker held stays failed.
    for (std::uint32_t l_u = 0; l_u < l_u32Chunks; ++l_u) m_aedecode[l_u] = DECODE_UNPACK;
    m_posworkers->Run(Share, this);
    for (std::uint32_t l_u = 0; l_u < l_u32Chunks; ++l_u) {
      if (LogDecode(m_aedecode[l_u]) != OS_STS_SUCCESS) return OS_STS_FAIL;
    }
    return OS_STS_SUCCESS;
  }

 private:
  static void Share(void* a_pvDecoder, std::uint32_t a_u32Worker) {
    CDecoder& l_decoder = *static_cast<CDecoder*>(a_pvDecoder);
    if (a_u32Worker >= l_decoder.m_u32Active) return;
    // Without the workers' blocks the batch holds no transformed chunk,
    // and the scratch goes unused.
    std::uint8_t* const l_pu8Scratch =
        a_u32Worker == 0 || l_decoder.m_pu8Scratches == nullptr
            ? l_decoder.m_pu8Scratch
            : l_decoder.m_pu8Scratches + static_cast<std::size_t>(a_u32Worker - 1) * OS_COMPRESS_BLOCK_SIZE;
    // The batch and its chunks came with the round; the counter orders
    // nothing else.
    for (;;) {
      const std::uint32_t l_u = l_decoder.m_u32Next.fetch_add(1, std::memory_order_relaxed);
      if (l_u >= l_decoder.m_u32Batch) return;
      l_decoder.m_aedecode[l_u] = DecodeChunk(l_decoder.m_achunk[l_u], l_pu8Scratch, &l_decoder.m_atable[a_u32Worker]);
      if (l_decoder.m_aedecode[l_u] != DECODE_OK) {
        l_decoder.m_u32Next.store(l_decoder.m_u32Batch, std::memory_order_relaxed);
        return;
      }
    }
  }

  std::uint8_t* const m_pu8Scratch;
  COsWorkers* m_posworkers = nullptr;
  std::uint32_t m_u32Shares = 1;
  std::uint32_t m_u32Capacity = 1;         // chunks a batch holds
  std::uint8_t* m_pu8Scratches = nullptr;  // the blocks of workers 1 and up
  std::uint32_t m_u32Chunks = 0;
  std::uint32_t m_u32Batch = 0;
  std::uint32_t m_u32Active = 1;            // the shares that take chunks
  std::atomic<std::uint32_t> m_u32Next{0};  // the batch's next chunk to take
  SChunk m_achunk[s_u32BatchChunks];
  EDECODE m_aedecode[s_u32BatchChunks];
  CUntransformTable m_atable[OS_WORKERS_MAX];
};

EOSSTS DecompressPart(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                      std::uint32_t a_u32ContainerLength, void* a_pvScratch, OsDecompressState* a_posdecompressstate,
                      COsWorkers* a_posworkers) {
  OS_RETURN_IF_NULL(a_pu32OutputLength, OS_LOG_ASSERT, "a_pu32OutputLength is null...", OS_STS_BADARG);
  const std::uint32_t l_u32Capacity = *a_pu32OutputLength;
  *a_pu32OutputLength = 0;
  OS_RETURN_IF_NULL(a_posdecompressstate, OS_LOG_ASSERT, "a_posdecompressstate is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_u32ContainerLength == 0, OS_LOG_ASSERT, "Programmer goofed...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pvOutput, OS_LOG_ASSERT, "a_pvOutput is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvContainer, OS_LOG_ASSERT, "a_pvContainer is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_pvScratch, OS_LOG_ASSERT, "a_pvScratch is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvContainer);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  const std::uint32_t l_u32Length = a_u32ContainerLength;
  OsDecompressState& l_state = *a_posdecompressstate;
  OS_RETURN_IF(l_state.m_bDone, OS_LOG_ASSERT, "the container is decoded already...", OS_STS_FAIL);

  if (l_state.m_u32Offset == 0) {
    OS_RETURN_IF(l_u32Length < s_u32MagicLength || std::memcmp(l_pu8In, s_szMagic, s_u32MagicLength) != 0, OS_LOG_ERROR,
                 "Not a compression file...", OS_STS_FAIL);
    OS_RETURN_IF(l_u32Length < OS_COMPRESS_HEADER_SIZE, OS_LOG_ERROR, "Header is cut short...<%u>", OS_STS_FAIL,
                 l_u32Length);
    // A newer writer may write longer headers; their extra bytes are skipped.
    const std::uint32_t l_u32HeaderSize = Get32(l_pu8In + 8);
    l_state.m_u32ChunkHeaderSize = Get32(l_pu8In + 12);
    l_state.m_u64Total = Get64(l_pu8In + 16);
    OS_RETURN_IF(l_u32HeaderSize < OS_COMPRESS_HEADER_SIZE || l_u32HeaderSize > l_u32Length, OS_LOG_ERROR,
                 "Header size is out of range...<%u> <%u>", OS_STS_FAIL, l_u32HeaderSize, l_u32Length);
    OS_RETURN_IF(l_state.m_u32ChunkHeaderSize < OS_COMPRESS_CHUNK_HEADER_SIZE, OS_LOG_ERROR,
                 "Chunk header size is out of range...<%u>", OS_STS_FAIL, l_state.m_u32ChunkHeaderSize);
    l_state.m_u32Offset = l_u32HeaderSize;
    if (l_state.m_u64Total == 0) {
      l_state.m_bDone = true;
      return OS_STS_SUCCESS;
    }
  }
  const std::uint32_t l_u32ChunkHeaderSize = l_state.m_u32ChunkHeaderSize;

  std::uint32_t l_u32Written = 0;
  CDecoder l_decoder(static_cast<std::uint8_t*>(a_pvScratch), a_posworkers);
  // A chunk's header is refused only after the chunks queued before it are
  // decoded: the first broken chunk in order is the one reported, as when
  // one thread decodes.
#define OS_CHUNK_REFUSE_IF(a_bCondition, ...)                      \
  do {                                                             \
    if (a_bCondition) {                                            \
      if (l_decoder.Flush() != OS_STS_SUCCESS) return OS_STS_FAIL; \
      OS_RETURN_IF(true, __VA_ARGS__);                             \
    }                                                              \
  } while (0)
  while (l_state.m_u32Offset < l_u32Length) {
    const std::uint32_t l_u32Offset = l_state.m_u32Offset;
    // Both subtractions stay in range: the offset never passes the length.
    OS_CHUNK_REFUSE_IF(l_u32ChunkHeaderSize > l_u32Length - l_u32Offset, OS_LOG_ERROR, "PackBits failed...",
                       OS_STS_FAIL);
    const std::uint8_t* const l_pu8Chunk = l_pu8In + l_u32Offset;
    const std::uint32_t l_u32Method = Get32(l_pu8Chunk);
    const std::uint32_t l_u32Primary = Get32(l_pu8Chunk + 4);
    const std::uint32_t l_n = Get32(l_pu8Chunk + 8);
    const std::uint32_t l_u32Stored = Get32(l_pu8Chunk + 12);
    const std::uint32_t l_u32DataOffset = l_u32Offset + l_u32ChunkHeaderSize;
    OS_CHUNK_REFUSE_IF(l_u32Stored > l_u32Length - l_u32DataOffset, OS_LOG_ERROR, "PackBits failed...", OS_STS_FAIL);
    // Writers cut blocks of at most 65536 bytes; a longer one would size the
    // inverse transform's table and the scratch use by a number from the file.
    OS_CHUNK_REFUSE_IF(l_n > OS_COMPRESS_BLOCK_SIZE, OS_LOG_ERROR, "Block length is out of range...<%u>", OS_STS_FAIL,
                       l_n);
    OS_CHUNK_REFUSE_IF(l_u32Stored > l_n, OS_LOG_ERROR, "Stored length exceeds the block length...<%u> <%u>",
                       OS_STS_FAIL, l_u32Stored, l_n);
    // A part ends before a block it cannot hold; a part that holds none fails.
    if (l_n > l_u32Capacity - l_u32Written && l_u32Written > 0) break;
    OS_CHUNK_REFUSE_IF(l_n > l_u32Capacity - l_u32Written, OS_LOG_ERROR, "Output buffer is too small...<%u> <%u>",
                       OS_STS_FAIL, l_n, l_u32Capacity - l_u32Written);
    OS_CHUNK_REFUSE_IF(l_n > l_state.m_u64Total - l_state.m_u64Written, OS_LOG_ERROR,
                       "Decoded length disagrees with the header...<%u> <%llu>", OS_STS_FAIL, l_n,
                       static_cast<unsigned long long>(l_state.m_u64Total));
    switch (l_u32Method) {
      case OS_COMPRESS_BWT:
        OS_CHUNK_REFUSE_IF(l_n != 0 && l_u32Primary >= l_n, OS_LOG_ERROR, "Primary index is out of range...<%u> <%u>",
                           OS_STS_FAIL, l_u32Primary, l_n);
        break;
      case OS_COMPRESS_RLE: break;
      case OS_COMPRESS_STORED:
        OS_CHUNK_REFUSE_IF(l_u32Stored != l_n, OS_LOG_ERROR,
                           "Stored length disagrees with the block length...<%u> <%u>", OS_STS_FAIL, l_u32Stored, l_n);
        break;
      default:
        if (l_decoder.Flush() != OS_STS_SUCCESS) return OS_STS_FAIL;
        OS_LOGA("Looks like we need to add a new decompression handler...%d", static_cast<int>(l_u32Method));
        return OS_STS_FAIL;
    }
    if (l_decoder.Add({l_u32Method, l_u32Primary, l_n, l_u32Stored, l_pu8In + l_u32DataOffset,
                       l_pu8Out + l_u32Written}) != OS_STS_SUCCESS)
      return OS_STS_FAIL;
    l_u32Written += l_n;
    l_state.m_u64Written += l_n;
    l_state.m_u32Offset = l_u32DataOffset + l_u32Stored;
  }
#undef OS_CHUNK_REFUSE_IF
  if (l_decoder.Flush() != OS_STS_SUCCESS) return OS_STS_FAIL;
  if (l_state.m_u32Offset >= l_u32Length) {
    // The chunks must account for the whole input, or the container lost a
    // chunk (a cut at a chunk boundary reads as well-formed otherwise).
    OS_RETURN_IF(l_state.m_u64Written != l_state.m_u64Total, OS_LOG_ERROR,
                 "Decoded length disagrees with the header...<%llu> <%llu>", OS_STS_FAIL,
                 static_cast<unsigned long long>(l_state.m_u64Written),
                 static_cast<unsigned long long>(l_state.m_u64Total));
    l_state.m_bDone = true;
  }
  *a_pu32OutputLength = l_u32Written;
  return OS_STS_SUCCESS;
}

}  // namespace

EOSSTS OsFileDecompressPart(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                            std::uint32_t a_u32ContainerLength, void* a_pvScratch,
                            OsDecompressState* a_posdecompressstate, COsWorkers* a_posworkers) {
  const EOSSTS l_eossts = DecompressPart(a_pvOutput, a_pu32OutputLength, a_pvContainer, a_u32ContainerLength,
                                         a_pvScratch, a_posdecompressstate, a_posworkers);
  // A failed part ends the decoding: the next call is refused.
  if (l_eossts != OS_STS_SUCCESS && a_posdecompressstate != nullptr) a_posdecompressstate->m_bDone = true;
  return l_eossts;
}

EOSSTS OsFileDecompress(void* a_pvOutput, std::uint32_t* a_pu32OutputLength, const void* a_pvContainer,
                        std::uint32_t a_u32ContainerLength, void* a_pvScratch, COsWorkers* a_posworkers) {
  OS_RETURN_IF_NULL(a_pu32OutputLength, OS_LOG_ASSERT, "a_pu32OutputLength is null...", OS_STS_BADARG);
  const std::uint32_t l_u32Capacity = *a_pu32OutputLength;
  OsDecompressState l_state;
  const EOSSTS l_eossts = DecompressPart(a_pvOutput, a_pu32OutputLength, a_pvContainer, a_u32ContainerLength,
                                         a_pvScratch, &l_state, a_posworkers);
  if (l_eossts != OS_STS_SUCCESS) return l_eossts;
  // Everything must fit at once: a container that needs more is refused.
  if (!l_state.m_bDone) {
    OS_LOGE("Output buffer is too small...<%llu> <%u>", static_cast<unsigned long long>(l_state.m_u64Total),
            l_u32Capacity);
    *a_pu32OutputLength = 0;
    return OS_STS_FAIL;
  }
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
