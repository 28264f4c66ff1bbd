// The block-sorting transform of the compression container and its inverse.
//
// The transform sorts the cyclic rotations of a block in linear time: the
// block is turned to start at its least rotation and the suffixes of that
// string (with an end mark below every byte) are sorted by induced sorting.
// For a block that starts at its least rotation w^m (w primitive), two
// rotations that differ are told apart within |w| bytes, and the suffix
// order agrees with that order even when one suffix ends first: the end
// lands where the rotation would go on with w itself, which is smaller than
// every other rotation of w. Equal rotations (periodic blocks) have equal
// output bytes, so their order does not matter, and the row of rotation 0
// that comes out is one of the equal rows, each of which decodes.
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "os_cosfile_compress.h"
#include "os_cosfile_compress_impl.h"
#include "os_cosmem.h"
#include "os_log.h"

static_assert(std::endian::native == std::endian::little, "the fast sort reads words little-endian");

namespace {

constexpr std::uint32_t s_u32Empty = UINT32_MAX;
// The bytes 0..255 become symbols 1..256; 0 is the end mark.
constexpr std::uint32_t s_u32ByteSymbols = 257;

// Where the sort keeps its buckets and its type marks (one byte per
// position, level after level: at most twice the text in all), and the
// slack past them that ForEachLms reads.
constexpr std::uint32_t s_u32TypeSlack = 64;
static_assert(s_u32TypeSlack >= 7, "ForEachLms reads up to 7 bytes past a level's marks");
struct CSortWork {
  std::uint32_t* m_pu32Buckets;
  std::uint8_t* m_pu8Types;
};

std::uint32_t BucketWords(std::uint64_t a_u64Symbols) {
  // A reduced string has at most half as many symbols as positions.
  const std::uint64_t l_u64Half = a_u64Symbols / 2 + 1;
  return static_cast<std::uint32_t>(l_u64Half > s_u32ByteSymbols ? l_u64Half : s_u32ByteSymbols);
}

std::uint64_t WorkBytes(std::uint64_t a_u64Symbols) {
  return static_cast<std::uint64_t>(BucketWords(a_u64Symbols)) * 4 + 2 * a_u64Symbols + s_u32TypeSlack;
}

// The bucket of every symbol: its start (a_bEnds false) or its end. A level
// with the byte alphabet counts its symbols once (a_pu32Counts); the reduced
// levels, whose alphabets can be as large as half the level, count again.
template <typename T>
void GetBuckets(const T* a_pText, std::uint32_t a_u32Length, std::uint32_t a_u32Symbols,
                const std::uint32_t* a_pu32Counts, std::uint32_t* a_pu32Buckets, bool a_bEnds) {
  if (a_pu32Counts == nullptr) {
    for (std::uint32_t l_u = 0; l_u < a_u32Symbols; ++l_u) a_pu32Buckets[l_u] = 0;
    for (std::uint32_t l_u = 0; l_u < a_u32Length; ++l_u) ++a_pu32Buckets[a_pText[l_u]];
    a_pu32Counts = a_pu32Buckets;
  }
  std::uint32_t l_u32Sum = 0;
  for (std::uint32_t l_u = 0; l_u < a_u32Symbols; ++l_u) {
    const std::uint32_t l_u32Count = a_pu32Counts[l_u];
    l_u32Sum += l_u32Count;
    a_pu32Buckets[l_u] = a_bEnds ? l_u32Sum : l_u32Sum - l_u32Count;
  }
}

// Type marks: L-type, S-type, and S-type whose left neighbour is L-type
// (leftmost S), so that telling an LMS position takes one load.
constexpr std::uint8_t s_u8L = 0;
constexpr std::uint8_t s_u8S = 1;
constexpr std::uint8_t s_u8Lms = 2;
static_assert(s_u8L == 0 && s_u8S == 1 && s_u8Lms == 2, "the type pass computes the marks arithmetically");

// Calls a_fn(pos) for every LMS position below a_u32Length, in order. About
// one position in three is LMS, so the marks are read 8 at a time and only
// theirs visited (the mark 2 is the only one with bit 1). The last word may
// read up to 7 bytes past the level's marks, which the work area holds
// (the next level's marks or its slack); they are masked off.
template <typename F>
void ForEachLms(const std::uint8_t* a_pu8Types, std::uint32_t a_u32Length, F a_fn) {
  constexpr std::uint64_t l_u64Bit1 = 0x0202020202020202ull;
  for (std::uint32_t l_u = 0; l_u < a_u32Length; l_u += 8) {
    std::uint64_t l_u64;
    std::memcpy(&l_u64, a_pu8Types + l_u, 8);
    l_u64 &= l_u64Bit1;
    if (a_u32Length - l_u < 8) l_u64 &= (std::uint64_t{1} << (8 * (a_u32Length - l_u))) - 1;
    for (; l_u64 != 0; l_u64 &= l_u64 - 1) a_fn(l_u + static_cast<std::uint32_t>(std::countr_zero(l_u64)) / 8);
  }
}

// Places the L-type suffixes from the sorted ones, scanning forward.
template <typename T>
void InduceL(const std::uint8_t* a_pu8Types, std::uint32_t* a_pu32Sa, const T* a_pText,
             const std::uint32_t* a_pu32Counts, std::uint32_t* a_pu32Buckets, std::uint32_t a_u32Length,
             std::uint32_t a_u32Symbols) {
  GetBuckets(a_pText, a_u32Length, a_u32Symbols, a_pu32Counts, a_pu32Buckets, false);
  for (std::uint32_t l_u = 0; l_u < a_u32Length; ++l_u) {
    const std::uint32_t l_u32Suffix = a_pu32Sa[l_u];
    if (l_u32Suffix == s_u32Empty || l_u32Suffix == 0) continue;
    const std::uint32_t l_u32Prev = l_u32Suffix - 1;
    if (a_pu8Types[l_u32Prev] == s_u8L) a_pu32Sa[a_pu32Buckets[a_pText[l_u32Prev]]++] = l_u32Prev;
  }
}

// The mark the sort of the LMS substrings puts on the LMS positions it
// places, so that gathering them reads the array alone. Positions stay
// below it: PrepareContext takes no block of 2^30 bytes or more.
constexpr std::uint32_t s_u32LmsMark = 0x80000000u;
constexpr std::uint32_t s_u32PosMask = s_u32LmsMark - 1;

// Places the S-type suffixes from the sorted ones, scanning backward; with
// a_bMark, the LMS ones carry s_u32LmsMark.
template <bool a_bMark, typename T>
void InduceS(const std::uint8_t* a_pu8Types, std::uint32_t* a_pu32Sa, const T* a_pText,
             const std::uint32_t* a_pu32Counts, std::uint32_t* a_pu32Buckets, std::uint32_t a_u32Length,
             std::uint32_t a_u32Symbols) {
  GetBuckets(a_pText, a_u32Length, a_u32Symbols, a_pu32Counts, a_pu32Buckets, true);
  for (std::uint32_t l_u = a_u32Length; l_u-- > 0;) {
    // Empty (all ones) loses its mark to s_u32PosMask: it and 0 are passed.
    const std::uint32_t l_u32Suffix = a_bMark ? a_pu32Sa[l_u] & s_u32PosMask : a_pu32Sa[l_u];
    if (l_u32Suffix - 1 >= (a_bMark ? s_u32PosMask - 1 : s_u32Empty - 1)) continue;
    const std::uint32_t l_u32Prev = l_u32Suffix - 1;
    const std::uint8_t l_u8Type = a_pu8Types[l_u32Prev];
    if (l_u8Type == s_u8L) continue;
    a_pu32Sa[--a_pu32Buckets[a_pText[l_u32Prev]]] =
        a_bMark ? l_u32Prev | (l_u8Type == s_u8Lms ? s_u32LmsMark : 0) : l_u32Prev;
  }
}

// The suffix array of a_pText[0..n), symbols below a_u32Symbols, whose last
// symbol is a unique 0 (n >= 2). The reduced problem lives in the upper part
// of the suffix array itself. The block level runs on 16-bit symbols, which
// halves the text's share of the cache; the reduced levels need 32 bits.
template <typename T>
void SortSuffixes(const T* a_pText, std::uint32_t* a_pu32Sa, std::uint32_t a_u32Length, std::uint32_t a_u32Symbols,
                  CSortWork a_work) {
  const std::uint32_t l_n = a_u32Length;
  std::uint8_t* const l_pu8Types = a_work.m_pu8Types;
  std::uint32_t* const l_pu32Buckets = a_work.m_pu32Buckets;

  // Right to left, branch-free (the types follow the text unpredictably):
  // a position's type settles its right neighbour's mark, which is leftmost
  // S when the neighbour is S-type and this one L-type. The last symbol is
  // the least, so the one before it is L-type and it is leftmost S.
  // The byte alphabet is counted once, in the same pass, for the four
  // bucket setups below.
  std::uint32_t l_au32Counts[s_u32ByteSymbols] = {};
  const std::uint32_t* l_pu32Counts = nullptr;
  const auto l_Types = [&](auto a_Count) {
    std::uint32_t l_u32NextS = 1;
    for (std::uint32_t l_u = l_n - 1; l_u-- > 0;) {
      a_Count(a_pText[l_u]);
      const std::uint32_t l_u32S = static_cast<std::uint32_t>(a_pText[l_u] < a_pText[l_u + 1]) |
                                   (static_cast<std::uint32_t>(a_pText[l_u] == a_pText[l_u + 1]) & l_u32NextS);
      l_pu8Types[l_u + 1] = static_cast<std::uint8_t>(l_u32NextS * (2 - l_u32S));
      l_u32NextS = l_u32S;
    }
    l_pu8Types[0] = static_cast<std::uint8_t>(l_u32NextS);
  };
  if (a_u32Symbols <= s_u32ByteSymbols) {
    l_au32Counts[a_pText[l_n - 1]] = 1;
    l_Types([&](T a_symbol) { ++l_au32Counts[a_symbol]; });
    l_pu32Counts = l_au32Counts;
  } else {
    l_Types([](T) {});
  }

  // Sort the LMS substrings.
  GetBuckets(a_pText, l_n, a_u32Symbols, l_pu32Counts, l_pu32Buckets, true);
  for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) a_pu32Sa[l_u] = s_u32Empty;
  ForEachLms(l_pu8Types, l_n, [&](std::uint32_t a_u32Pos) { a_pu32Sa[--l_pu32Buckets[a_pText[a_u32Pos]]] = a_u32Pos; });
  InduceL(l_pu8Types, a_pu32Sa, a_pText, l_pu32Counts, l_pu32Buckets, l_n, a_u32Symbols);
  InduceS<true>(l_pu8Types, a_pu32Sa, a_pText, l_pu32Counts, l_pu32Buckets, l_n, a_u32Symbols);

  // Gather the sorted LMS positions at the front (there are at most n / 2):
  // the marked ones, after the end mark's in slot 0, which no pass moves.
  // Every slot is filled now; the write trails the read, so storing each
  // position and keeping it only when marked needs no branch.
  std::uint32_t l_n1 = 1;
  for (std::uint32_t l_u = 1; l_u < l_n; ++l_u) {
    const std::uint32_t l_u32Entry = a_pu32Sa[l_u];
    a_pu32Sa[l_n1] = l_u32Entry & s_u32PosMask;
    l_n1 += static_cast<std::uint32_t>((l_u32Entry & s_u32LmsMark) != 0);
  }

  // Name the LMS substrings; names go at n1 + pos / 2, LMS positions being
  // at least two apart. Those slots first hold each substring's length (up
  // to and including the next LMS position): two substrings are equal when
  // their lengths and their symbols are, their types following from both.
  for (std::uint32_t l_u = l_n1; l_u < l_n; ++l_u) a_pu32Sa[l_u] = s_u32Empty;
  // The end mark's slot, filled after the loop, takes the write of the
  // first LMS position, which has no substring before it.
  const std::uint32_t l_u32EndSlot = l_n1 + (l_n - 1) / 2;
  std::uint32_t l_u32Last = 0;
  ForEachLms(l_pu8Types, l_n, [&](std::uint32_t a_u32Pos) {
    a_pu32Sa[l_u32Last != 0 ? l_n1 + l_u32Last / 2 : l_u32EndSlot] = a_u32Pos - l_u32Last + 1;
    l_u32Last = a_u32Pos;
  });
  a_pu32Sa[l_u32EndSlot] = 1;  // the end mark, the last LMS position
  std::uint32_t l_u32Names = 0;
  std::uint32_t l_u32Prev = s_u32Empty;
  std::uint32_t l_u32PrevLength = 0;
  for (std::uint32_t l_u = 0; l_u < l_n1; ++l_u) {
    const std::uint32_t l_u32Pos = a_pu32Sa[l_u];
    const std::uint32_t l_u32SubLength = a_pu32Sa[l_n1 + l_u32Pos / 2];
    bool l_bDiff = l_u32Prev == s_u32Empty || l_u32SubLength != l_u32PrevLength;
    for (std::uint32_t l_d = 0; !l_bDiff && l_d < l_u32SubLength; ++l_d) {
      l_bDiff = a_pText[l_u32Pos + l_d] != a_pText[l_u32Prev + l_d];
    }
    if (l_bDiff) {
      ++l_u32Names;
      l_u32Prev = l_u32Pos;
      l_u32PrevLength = l_u32SubLength;
    }
    a_pu32Sa[l_n1 + l_u32Pos / 2] = l_u32Names - 1;
  }
  // Branch-free again: the slot below the packed names is free (or the
  // one being read), so an empty slot may be written there and overwritten.
  for (std::uint32_t l_u = l_n, l_j = l_n; l_u-- > l_n1;) {
    const std::uint32_t l_u32Name = a_pu32Sa[l_u];
    a_pu32Sa[l_j - 1] = l_u32Name;
    l_j -= static_cast<std::uint32_t>(l_u32Name != s_u32Empty);
  }

  // Sort the reduced string (recursively while names repeat).
  std::uint32_t* const l_pu32Sa1 = a_pu32Sa;
  std::uint32_t* const l_pu32Text1 = a_pu32Sa + l_n - l_n1;
  if (l_u32Names < l_n1) {
    SortSuffixes<std::uint32_t>(l_pu32Text1, l_pu32Sa1, l_n1, l_u32Names, CSortWork{l_pu32Buckets, l_pu8Types + l_n});
  } else {
    for (std::uint32_t l_u = 0; l_u < l_n1; ++l_u) l_pu32Sa1[l_pu32Text1[l_u]] = l_u;
  }

  // Induce the full order from the sorted LMS suffixes.
  GetBuckets(a_pText, l_n, a_u32Symbols, l_pu32Counts, l_pu32Buckets, true);
  std::uint32_t l_j = 0;
  ForEachLms(l_pu8Types, l_n, [&](std::uint32_t a_u32Pos) { l_pu32Text1[l_j++] = a_u32Pos; });
  for (std::uint32_t l_u = 0; l_u < l_n1; ++l_u) l_pu32Sa1[l_u] = l_pu32Text1[l_pu32Sa1[l_u]];
  for (std::uint32_t l_u = l_n1; l_u < l_n; ++l_u) a_pu32Sa[l_u] = s_u32Empty;
  for (std::uint32_t l_u = l_n1; l_u-- > 0;) {
    const std::uint32_t l_u32Pos = a_pu32Sa[l_u];
    a_pu32Sa[l_u] = s_u32Empty;
    a_pu32Sa[--l_pu32Buckets[a_pText[l_u32Pos]]] = l_u32Pos;
  }
  InduceL(l_pu8Types, a_pu32Sa, a_pText, l_pu32Counts, l_pu32Buckets, l_n, a_u32Symbols);
  InduceS<false>(l_pu8Types, a_pu32Sa, a_pText, l_pu32Counts, l_pu32Buckets, l_n, a_u32Symbols);
}

// The start of the least cyclic rotation, the smallest one of a periodic
// block. Two candidates race; a mismatch after k equal bytes rules out the
// loser and the k positions after it, as each of those rotations is greater
// than the one as far after the winner. A least rotation starts with the
// block's least byte, so the loser moves on to the next such byte: a text
// block has a few thousand of them, and the race runs over those alone.
// Every position is passed once by each candidate, so the scan is linear.
std::uint8_t LeastByte(const std::uint8_t* a_pu8Block, std::uint32_t a_u32Length) {
  std::uint32_t l_u = 0;
  std::uint8_t l_u8Least = 255;
#if defined(__SSE2__)
  __m128i l_m128Least = _mm_set1_epi8(-1);
  for (; a_u32Length - l_u >= 16; l_u += 16) {
    l_m128Least = _mm_min_epu8(l_m128Least, _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_pu8Block + l_u)));
  }
  alignas(16) std::uint8_t l_au8Lanes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(l_au8Lanes), l_m128Least);
  for (const std::uint8_t l_u8 : l_au8Lanes) l_u8Least = l_u8 < l_u8Least ? l_u8 : l_u8Least;
#endif
  for (; l_u < a_u32Length; ++l_u) l_u8Least = a_pu8Block[l_u] < l_u8Least ? a_pu8Block[l_u] : l_u8Least;
  return l_u8Least;
}

std::uint32_t LeastRotation(const std::uint8_t* a_pu8Block, std::uint32_t a_u32Length) {
  const std::uint32_t l_n = a_u32Length;
  const std::uint8_t l_u8Least = LeastByte(a_pu8Block, l_n);
  const auto l_Next = [&](std::uint32_t a_u32From) {
    if (a_u32From >= l_n) return l_n;
    const void* const l_pv = std::memchr(a_pu8Block + a_u32From, l_u8Least, l_n - a_u32From);
    return l_pv != nullptr ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(l_pv) - a_pu8Block) : l_n;
  };
  std::uint32_t l_i = l_Next(0);
  std::uint32_t l_j = l_Next(l_i + 1);
  std::uint32_t l_k = 0;
  while (l_i < l_n && l_j < l_n && l_k < l_n) {
    // In 64 bits: i + k and the steps below pass 32 bits for blocks over 2 GiB.
    std::uint64_t l_u64Ik = static_cast<std::uint64_t>(l_i) + l_k;
    if (l_u64Ik >= l_n) l_u64Ik -= l_n;
    std::uint64_t l_u64Jk = static_cast<std::uint64_t>(l_j) + l_k;
    if (l_u64Jk >= l_n) l_u64Jk -= l_n;
    const std::uint8_t l_a = a_pu8Block[l_u64Ik];
    const std::uint8_t l_b = a_pu8Block[l_u64Jk];
    if (l_a == l_b) {
      ++l_k;
      continue;
    }
    const std::uint64_t l_u64Step = static_cast<std::uint64_t>(l_k) + 1;
    if (l_a > l_b) {
      l_i = l_Next(static_cast<std::uint32_t>(l_i + l_u64Step < l_n ? l_i + l_u64Step : l_n));
    } else {
      l_j = l_Next(static_cast<std::uint32_t>(l_j + l_u64Step < l_n ? l_j + l_u64Step : l_n));
    }
    if (l_i == l_j) l_j = l_Next(l_j + 1);
    l_k = 0;
  }
  return l_i < l_j ? l_i : l_j;
}

// Random-looking blocks (packed or encrypted data) sort faster by their
// first two bytes: their 65536 buckets hold a few rotations each, told
// apart within a few more bytes. A block for which that does not hold
// (large buckets, or two rotations alike past the compared depth, which
// includes every periodic block) is left to the induced sort. Each
// rotation differs from every other one the fast sort orders, so its order
// is the only one and the output is the same either way.
constexpr std::uint32_t s_u32PairKeys = 65536;
constexpr std::uint32_t s_u32SampleLength = 4096;  // the leading bytes the test samples
constexpr std::uint32_t s_u32SampleRepeats = 512;  // repeated pairs random bytes stay below
constexpr std::uint32_t s_u32BucketMost = 32;      // rotations a bucket may hold
constexpr std::uint32_t s_u32DepthWords = 8;       // 8-byte words compared past the pair

// Whether the leading pairs of bytes repeat as seldom as random ones do:
// 4096 random pairs repeat about 128 times, text repeats most of its pairs.
bool LooksRandom(const std::uint8_t* a_pu8Block, std::uint32_t a_u32Length) {
  if (a_u32Length < s_u32SampleLength + 1) return false;
  std::uint64_t l_au64Seen[s_u32PairKeys / 64] = {};
  std::uint32_t l_u32Repeats = 0;
  for (std::uint32_t l_u = 0; l_u < s_u32SampleLength; ++l_u) {
    const std::uint32_t l_u32Key = static_cast<std::uint32_t>(a_pu8Block[l_u]) << 8 | a_pu8Block[l_u + 1];
    const std::uint64_t l_u64Bit = 1ull << (l_u32Key & 63);
    l_u32Repeats += static_cast<std::uint32_t>((l_au64Seen[l_u32Key >> 6] & l_u64Bit) != 0);
    l_au64Seen[l_u32Key >> 6] |= l_u64Bit;
  }
  return l_u32Repeats < s_u32SampleRepeats;
}

// Eight bytes as a number that compares as they do (the first one highest).
std::uint64_t BigEndian64(const std::uint8_t* a_pu8) {
  std::uint64_t l_u64;
  std::memcpy(&l_u64, a_pu8, 8);
  return __builtin_bswap64(l_u64);
}

// The rotations of a_pu8Block in order into a_pu32Rows, with a_pu32Counts
// (65536 words) and a_pu8Twice (the block twice, 2n bytes); false when the
// block is not one for this sort. n >= 65536 - 1, so that the counts fit
// the symbol array and the compared depth stays inside the doubled block.
bool SortRandomRotations(const std::uint8_t* a_pu8Block, std::uint32_t a_u32Length, std::uint32_t* a_pu32Rows,
                         std::uint32_t* a_pu32Counts, std::uint8_t* a_pu8Twice) {
  const std::uint32_t l_n = a_u32Length;
  std::memcpy(a_pu8Twice, a_pu8Block, l_n);
  std::memcpy(a_pu8Twice + l_n, a_pu8Block, l_n);
  const auto l_Key = [&](std::uint32_t a_u32Pos) {
    return static_cast<std::uint32_t>(a_pu8Twice[a_u32Pos]) << 8 | a_pu8Twice[a_u32Pos + 1];
  };
  std::memset(a_pu32Counts, 0, s_u32PairKeys * sizeof(std::uint32_t));
  for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) ++a_pu32Counts[l_Key(l_u)];
  std::uint32_t l_u32Sum = 0;
  for (std::uint32_t l_u = 0; l_u < s_u32PairKeys; ++l_u) {
    const std::uint32_t l_u32Count = a_pu32Counts[l_u];
    if (l_u32Count > s_u32BucketMost) return false;
    a_pu32Counts[l_u] = l_u32Sum;
    l_u32Sum += l_u32Count;
  }
  for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) a_pu32Rows[a_pu32Counts[l_Key(l_u)]++] = l_u;
  // Each bucket now ends where the next one starts; insertion sort within.
  std::uint32_t l_u32Begin = 0;
  for (std::uint32_t l_u32Key = 0; l_u32Key < s_u32PairKeys; ++l_u32Key) {
    const std::uint32_t l_u32End = a_pu32Counts[l_u32Key];
    for (std::uint32_t l_u = l_u32Begin + 1; l_u < l_u32End; ++l_u) {
      const std::uint32_t l_u32Row = a_pu32Rows[l_u];
      std::uint32_t l_v = l_u;
      while (l_v > l_u32Begin) {
        // Compares the two rotations past their pair, a word at a time.
        const std::uint8_t* const l_pu8A = a_pu8Twice + a_pu32Rows[l_v - 1] + 2;
        const std::uint8_t* const l_pu8B = a_pu8Twice + l_u32Row + 2;
        std::uint32_t l_w = 0;
        std::uint64_t l_u64A = 0;
        std::uint64_t l_u64B = 0;
        for (; l_w < s_u32DepthWords; ++l_w) {
          l_u64A = BigEndian64(l_pu8A + 8 * l_w);
          l_u64B = BigEndian64(l_pu8B + 8 * l_w);
          if (l_u64A != l_u64B) break;
        }
        if (l_w == s_u32DepthWords) return false;
        if (l_u64A < l_u64B) break;
        a_pu32Rows[l_v] = a_pu32Rows[l_v - 1];
        --l_v;
      }
      a_pu32Rows[l_v] = l_u32Row;
    }
    l_u32Begin = l_u32End;
  }
  return true;
}

// The sort symbols of a_u32Length bytes: each byte plus one.
void SymbolsOf(std::uint16_t* a_pu16Text, const std::uint8_t* a_pu8Bytes, std::uint32_t a_u32Length) {
  std::uint32_t l_u = 0;
#if defined(__SSE2__)
  const __m128i l_m128Zero = _mm_setzero_si128();
  const __m128i l_m128One = _mm_set1_epi16(1);
  for (; a_u32Length - l_u >= 16; l_u += 16) {
    const __m128i l_m128 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a_pu8Bytes + l_u));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a_pu16Text + l_u),
                     _mm_add_epi16(_mm_unpacklo_epi8(l_m128, l_m128Zero), l_m128One));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a_pu16Text + l_u + 8),
                     _mm_add_epi16(_mm_unpackhi_epi8(l_m128, l_m128Zero), l_m128One));
  }
#endif
  for (; l_u < a_u32Length; ++l_u) a_pu16Text[l_u] = static_cast<std::uint16_t>(a_pu8Bytes[l_u] + 1);
}

// Makes the context's arrays hold a block of a_u32Length bytes.
EOSSTS PrepareContext(OsCompressContext* a_poscompresscontext, std::uint32_t a_u32Length) {
  if (a_poscompresscontext->m_pu32Rotations != nullptr && a_poscompresscontext->m_pu32Symbols != nullptr &&
      a_poscompresscontext->m_pu32Work != nullptr && a_poscompresscontext->m_u32Length >= a_u32Length) {
    return OS_STS_SUCCESS;
  }
  OsFileCompressContextFree(a_poscompresscontext);
  const std::uint64_t l_u64Entries = static_cast<std::uint64_t>(a_u32Length) + 1;
  const std::uint64_t l_u64ArrayBytes = l_u64Entries * sizeof(std::uint32_t);
  const std::uint64_t l_u64WorkBytes = WorkBytes(l_u64Entries);
  OS_RETURN_IF(l_u64WorkBytes > UINT32_MAX - 4096, OS_LOG_ASSERT, "OsMemAlloc failed...", OS_STS_FAIL);
  a_poscompresscontext->m_pu32Rotations =
      static_cast<std::uint32_t*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_u64ArrayBytes), "bwt-rotations"));
  a_poscompresscontext->m_pu32Symbols =
      static_cast<std::uint32_t*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_u64ArrayBytes), "bwt-symbols"));
  a_poscompresscontext->m_pu32Work =
      static_cast<std::uint32_t*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_u64WorkBytes), "bwt-work"));
  if (a_poscompresscontext->m_pu32Rotations == nullptr || a_poscompresscontext->m_pu32Symbols == nullptr ||
      a_poscompresscontext->m_pu32Work == nullptr) {
    OS_LOGA("OsMemAlloc failed...");
    OsFileCompressContextFree(a_poscompresscontext);
    return OS_STS_FAIL;
  }
  a_poscompresscontext->m_u32Length = a_u32Length;
  return OS_STS_SUCCESS;
}

}  // namespace

void OsFileCompressContextFree(OsCompressContext* a_poscompresscontext) {
  if (a_poscompresscontext == nullptr) return;
  if (a_poscompresscontext->m_pu32Rotations != nullptr) OS_MEM_FREE(a_poscompresscontext->m_pu32Rotations);
  if (a_poscompresscontext->m_pu32Symbols != nullptr) OS_MEM_FREE(a_poscompresscontext->m_pu32Symbols);
  if (a_poscompresscontext->m_pu32Work != nullptr) OS_MEM_FREE(a_poscompresscontext->m_pu32Work);
  *a_poscompresscontext = OsCompressContext{};
}

EOSSTS BWTTransform(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                    std::uint32_t a_u32InputLength, std::uint32_t* a_pu32PrimaryIndex,
                    OsCompressContext* a_poscompresscontext) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "a_szOutput buffer is too small...", OS_STS_FAIL);
  OS_RETURN_IF(a_u32InputLength == UINT32_MAX, OS_LOG_ASSERT, "Buffer overflow, need a bigger uNumber_t...",
               OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pu32PrimaryIndex, OS_LOG_ASSERT, "a_pu32PrimaryIndex is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_poscompresscontext, OS_LOG_ASSERT, "a_poscompresscontext is null...", OS_STS_BADARG);
  *a_pu32PrimaryIndex = 0;
  const std::uint32_t l_n = a_u32InputLength;
  if (l_n == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_szOutput is null...", OS_STS_BADARG);
  const std::uint8_t* const l_pu8In = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  if (l_n == 1) {
    l_pu8Out[0] = l_pu8In[0];
    return OS_STS_SUCCESS;
  }
  if (PrepareContext(a_poscompresscontext, l_n) != OS_STS_SUCCESS) return OS_STS_FAIL;

  std::uint32_t* const l_pu32Sa = a_poscompresscontext->m_pu32Rotations;
  std::uint32_t l_u32Start = 0;
  // The fast sort's counts take the symbol array (n + 1 words) and the
  // doubled block the work area (over 2n bytes).
  if (l_n + 1 < s_u32PairKeys || !LooksRandom(l_pu8In, l_n) ||
      !SortRandomRotations(l_pu8In, l_n, l_pu32Sa + 1, a_poscompresscontext->m_pu32Symbols,
                           reinterpret_cast<std::uint8_t*>(a_poscompresscontext->m_pu32Work))) {
    l_u32Start = LeastRotation(l_pu8In, l_n);
    // The symbols (at most 256) fit 16 bits; the array holds twice as many.
    std::uint16_t* const l_pu16Text = reinterpret_cast<std::uint16_t*>(a_poscompresscontext->m_pu32Symbols);
    SymbolsOf(l_pu16Text, l_pu8In + l_u32Start, l_n - l_u32Start);
    SymbolsOf(l_pu16Text + (l_n - l_u32Start), l_pu8In, l_u32Start);
    l_pu16Text[l_n] = 0;

    const std::uint32_t l_u32BucketWords = BucketWords(static_cast<std::uint64_t>(l_n) + 1);
    CSortWork l_work{a_poscompresscontext->m_pu32Work,
                     reinterpret_cast<std::uint8_t*>(a_poscompresscontext->m_pu32Work + l_u32BucketWords)};
    SortSuffixes<std::uint16_t>(l_pu16Text, l_pu32Sa, l_n + 1, s_u32ByteSymbols, l_work);
  }

  // Row i is the rotation starting at l_pu32Sa[i + 1] + l_u32Start (row 0 of
  // the suffix array is the end mark).
  std::uint32_t l_u32Primary = 0;
  for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) {
    std::uint32_t l_u32Rotation = l_pu32Sa[l_u + 1] + l_u32Start;
    if (l_u32Rotation >= l_n) l_u32Rotation -= l_n;
    if (l_u32Rotation == 0) {
      l_u32Primary = l_u;
      l_u32Rotation = l_n;
    }
    l_pu8Out[l_u] = l_pu8In[l_u32Rotation - 1];
  }
  *a_pu32PrimaryIndex = l_u32Primary;
  return OS_STS_SUCCESS;
}

void BWTUntransformBlock(std::uint8_t* a_pu8Output, const std::uint8_t* a_pu8Column, std::uint32_t a_u32Length,
                         std::uint32_t a_u32PrimaryIndex, std::uint16_t* a_pu16Table) {
  const std::uint32_t l_n = a_u32Length;
  // The k-th smallest byte of the column, in stable order, is the column
  // position next[k]: counting gives it in one pass. A block's positions
  // fit 16 bits, so next[] and its inverse (each position's rank, back[])
  // take half of a 32-bit table and stay in the second-level cache with
  // the column.
  //
  // The column's runs of one byte would make each pass wait on its own
  // count of that byte, so the column is taken as four quarters, each with
  // counts of its own that start where the quarters before it end.
  constexpr std::uint32_t s_u32Quarters = 4;
  const std::uint32_t l_u32Quarter = l_n / s_u32Quarters;
  const std::uint8_t* const l_apu8Quarter[s_u32Quarters] = {
      a_pu8Column, a_pu8Column + l_u32Quarter, a_pu8Column + 2 * l_u32Quarter, a_pu8Column + 3 * l_u32Quarter};
  // A quarter's counts are only summed, so the counting splits each quarter
  // again by even and odd positions, for eight chains instead of four.
  std::uint32_t l_au32Start[s_u32Quarters][256] = {};
  std::uint32_t l_au32Odd[s_u32Quarters][256] = {};
  std::uint32_t l_u32Even = 0;
  for (; l_u32Even + 2 <= l_u32Quarter; l_u32Even += 2) {
    for (std::uint32_t l_q = 0; l_q < s_u32Quarters; ++l_q) {
      ++l_au32Start[l_q][l_apu8Quarter[l_q][l_u32Even]];
      ++l_au32Odd[l_q][l_apu8Quarter[l_q][l_u32Even + 1]];
    }
  }
  if (l_u32Even < l_u32Quarter) {
    for (std::uint32_t l_q = 0; l_q < s_u32Quarters; ++l_q) ++l_au32Start[l_q][l_apu8Quarter[l_q][l_u32Even]];
  }
  // The last quarter takes the remainder.
  for (std::uint32_t l_u = s_u32Quarters * l_u32Quarter; l_u < l_n; ++l_u) ++l_au32Start[3][a_pu8Column[l_u]];
  std::uint32_t l_u32Sum = 0;
  for (std::uint32_t l_u32Byte = 0; l_u32Byte < 256; ++l_u32Byte) {
    for (std::uint32_t l_q = 0; l_q < s_u32Quarters; ++l_q) {
      const std::uint32_t l_u32Count = l_au32Start[l_q][l_u32Byte] + l_au32Odd[l_q][l_u32Byte];
      l_au32Start[l_q][l_u32Byte] = l_u32Sum;
      l_u32Sum += l_u32Count;
    }
  }
  std::uint16_t* const l_pu16Next = a_pu16Table;
  std::uint16_t* const l_pu16Back = a_pu16Table + l_n;
  // Written out per quarter: through a quarter index the compiler keeps
  // the counts' addresses in memory.
  const std::uint32_t l_u32Quarter2 = 2 * l_u32Quarter;  // where the third quarter starts
  const std::uint32_t l_u32Quarter3 = 3 * l_u32Quarter;  // and the fourth
  for (std::uint32_t l_u = 0; l_u < l_u32Quarter; ++l_u) {
    const std::uint32_t l_u32Rank0 = l_au32Start[0][l_apu8Quarter[0][l_u]]++;
    const std::uint32_t l_u32Rank1 = l_au32Start[1][l_apu8Quarter[1][l_u]]++;
    const std::uint32_t l_u32Rank2 = l_au32Start[2][l_apu8Quarter[2][l_u]]++;
    const std::uint32_t l_u32Rank3 = l_au32Start[3][l_apu8Quarter[3][l_u]]++;
    l_pu16Next[l_u32Rank0] = static_cast<std::uint16_t>(l_u);
    l_pu16Next[l_u32Rank1] = static_cast<std::uint16_t>(l_u + l_u32Quarter);
    l_pu16Next[l_u32Rank2] = static_cast<std::uint16_t>(l_u + l_u32Quarter2);
    l_pu16Next[l_u32Rank3] = static_cast<std::uint16_t>(l_u + l_u32Quarter3);
    l_pu16Back[l_u] = static_cast<std::uint16_t>(l_u32Rank0);
    l_pu16Back[l_u + l_u32Quarter] = static_cast<std::uint16_t>(l_u32Rank1);
    l_pu16Back[l_u + l_u32Quarter2] = static_cast<std::uint16_t>(l_u32Rank2);
    l_pu16Back[l_u + l_u32Quarter3] = static_cast<std::uint16_t>(l_u32Rank3);
  }
  for (std::uint32_t l_u = s_u32Quarters * l_u32Quarter; l_u < l_n; ++l_u) {
    const std::uint32_t l_u32Rank = l_au32Start[3][a_pu8Column[l_u]]++;
    l_pu16Next[l_u32Rank] = static_cast<std::uint16_t>(l_u);
    l_pu16Back[l_u] = static_cast<std::uint16_t>(l_u32Rank);
  }
  // Two walks run at once to overlap their dependent loads: next[] from the
  // primary row yields the block from its first byte on, back[] from the
  // same row yields it from its last byte backward. The bytes are read from
  // the column beside the walks, off their chains of loads.
  const std::uint32_t l_u32Half = l_n / 2;
  std::uint32_t l_u32Pos = l_pu16Next[a_u32PrimaryIndex];
  std::uint32_t l_u32BackPos = a_u32PrimaryIndex;
  for (std::uint32_t l_u = 0; l_u < l_u32Half; ++l_u) {
    a_pu8Output[l_u] = a_pu8Column[l_u32Pos];
    a_pu8Output[l_n - 1 - l_u] = a_pu8Column[l_u32BackPos];
    l_u32Pos = l_pu16Next[l_u32Pos];
    l_u32BackPos = l_pu16Back[l_u32BackPos];
  }
  if ((l_n & 1) != 0) a_pu8Output[l_u32Half] = a_pu8Column[l_u32Pos];
}

EOSSTS BWTUntransform(void* a_pvOutput, std::uint32_t a_u32OutputSize, const void* a_pvInput,
                      std::uint32_t a_u32InputLength, std::uint32_t a_u32PrimaryIndex) {
  OS_RETURN_IF(a_u32OutputSize < a_u32InputLength, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  const std::uint32_t l_n = a_u32InputLength;
  if (l_n == 0) return OS_STS_SUCCESS;
  OS_RETURN_IF(a_pvOutput == nullptr || a_pvInput == nullptr, OS_LOG_ASSERT, "a_szOutput is null...", OS_STS_BADARG);
  OS_RETURN_IF(a_u32PrimaryIndex >= l_n, OS_LOG_ERROR, "Primary index is out of range...<%u> <%u>", OS_STS_FAIL,
               a_u32PrimaryIndex, l_n);
  const std::uint64_t l_u64Bytes = (static_cast<std::uint64_t>(l_n) + 1) * sizeof(std::uint32_t);
  OS_RETURN_IF(l_u64Bytes > UINT32_MAX - 4096, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);
  std::uint32_t* const l_pu32Next =
      static_cast<std::uint32_t*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_u64Bytes), "bwt-untransform"));
  OS_RETURN_IF_NULL(l_pu32Next, OS_LOG_ASSERT, "Output buffer is too small...", OS_STS_FAIL);

  const std::uint8_t* const l_pu8Column = static_cast<const std::uint8_t*>(a_pvInput);
  std::uint8_t* const l_pu8Out = static_cast<std::uint8_t*>(a_pvOutput);
  if (l_n <= OS_COMPRESS_BLOCK_SIZE) {
    // Two 16-bit tables fit in the n + 1 words.
    BWTUntransformBlock(l_pu8Out, l_pu8Column, l_n, a_u32PrimaryIndex, reinterpret_cast<std::uint16_t*>(l_pu32Next));
    OS_MEM_FREE(l_pu32Next);
    return OS_STS_SUCCESS;
  }
  std::uint32_t l_au32Start[256] = {};
  for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) ++l_au32Start[l_pu8Column[l_u]];
  std::uint32_t l_u32Sum = 0;
  for (std::uint32_t& l_u32Count : l_au32Start) {
    const std::uint32_t l_u32Count0 = l_u32Count;
    l_u32Count = l_u32Sum;
    l_u32Sum += l_u32Count0;
  }
  if (l_n < (1u << 24)) {
    // Each entry carries the byte at the position it names, so the walk
    // makes one dependent load per output byte.
    for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) {
      const std::uint32_t l_u32Byte = l_pu8Column[l_u];
      l_pu32Next[l_au32Start[l_u32Byte]++] = (l_u << 8) | l_u32Byte;
    }
    std::uint32_t l_u32Entry = l_pu32Next[a_u32PrimaryIndex];
    for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) {
      l_pu8Out[l_u] = static_cast<std::uint8_t>(l_u32Entry);
      l_u32Entry = l_pu32Next[l_u32Entry >> 8];
    }
  } else {
    for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) l_pu32Next[l_au32Start[l_pu8Column[l_u]]++] = l_u;
    std::uint32_t l_u32Pos = l_pu32Next[a_u32PrimaryIndex];
    for (std::uint32_t l_u = 0; l_u < l_n; ++l_u) {
      l_pu8Out[l_u] = l_pu8Column[l_u32Pos];
      l_u32Pos = l_pu32Next[l_u32Pos];
    }
  }
  OS_MEM_FREE(l_pu32Next);
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
