// The compression container's cases that run on every target: the Windows
// tests (both bitnesses, under Wine) and the host tests (natively and under
// the sanitizers) include this file after defining the fixture
// OsCompressTest, which provides the allocator the engine uses, and the
// platform's workers as OsTestWorkers.
//
// Data comes from a fixed generator, so every target compresses the same
// bytes and must write the same containers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os_cosfile_compress.h"
#include "os_cosfile_compress_impl.h"

namespace os_compress_cases {

using Bytes = std::vector<std::uint8_t>;

// What the host build writes for the fixed inputs below.
constexpr std::size_t s_sizetBwtSize = 51173;
constexpr std::uint64_t s_u64BwtDigest = 16152693375810938068ull;
constexpr std::size_t s_sizetRleSize = 108833;
constexpr std::uint64_t s_u64RleDigest = 4615644322096251184ull;
constexpr const char* s_szSmallText = "mississippi mississippi mississippi";

class CRandom {
 public:
  explicit CRandom(std::uint64_t a_u64Seed) : m_u64State(a_u64Seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint64_t Next() {
    m_u64State ^= m_u64State << 13;
    m_u64State ^= m_u64State >> 7;
    m_u64State ^= m_u64State << 17;
    return m_u64State;
  }
  std::uint32_t Below(std::uint32_t a_u32Bound) { return static_cast<std::uint32_t>(Next() % a_u32Bound); }

 private:
  std::uint64_t m_u64State;
};

inline Bytes RandomBytes(std::size_t a_sizet, std::uint64_t a_u64Seed) {
  CRandom l_random(a_u64Seed);
  Bytes l_bytes(a_sizet);
  for (std::uint8_t& l_u8 : l_bytes) l_u8 = static_cast<std::uint8_t>(l_random.Next() >> 24);
  return l_bytes;
}

// Runs of a few symbols, as in scanned line art or sparse tables.
inline Bytes LowEntropy(std::size_t a_sizet, std::uint64_t a_u64Seed) {
  CRandom l_random(a_u64Seed);
  Bytes l_bytes;
  l_bytes.reserve(a_sizet);
  while (l_bytes.size() < a_sizet) {
    const std::uint8_t l_u8 = static_cast<std::uint8_t>("\0\0\x01\xff"[l_random.Below(4)]);
    const std::size_t l_sizetRun = 1 + l_random.Below(40);
    for (std::size_t l_u = 0; l_u < l_sizetRun && l_bytes.size() < a_sizet; ++l_u) l_bytes.push_back(l_u8);
  }
  return l_bytes;
}

// Words of a small vocabulary in lines, like a profile or a text file.
inline Bytes TextLike(std::size_t a_sizet, std::uint64_t a_u64Seed) {
  static const char* const s_aszWords[] = {"the",    "scanner",   "driver",  "profile",  "section", "key",
                                           "value",  "directory", "log",     "of",       "and",     "to",
                                           "common", "user",      "=",       "[images]", "0",       "1",
                                           "2048",   "<item>",    "</item>", "is",       "a",       "program"};
  CRandom l_random(a_u64Seed);
  Bytes l_bytes;
  l_bytes.reserve(a_sizet + 32);
  while (l_bytes.size() < a_sizet) {
    const char* const l_sz = s_aszWords[l_random.Below(sizeof(s_aszWords) / sizeof(s_aszWords[0]))];
    l_bytes.insert(l_bytes.end(), l_sz, l_sz + std::strlen(l_sz));
    l_bytes.push_back(l_random.Below(9) == 0 ? '\n' : ' ');
  }
  l_bytes.resize(a_sizet);
  return l_bytes;
}

inline Bytes Periodic(std::size_t a_sizet, std::size_t a_sizetPeriod, std::uint64_t a_u64Seed) {
  const Bytes l_unit = RandomBytes(a_sizetPeriod, a_u64Seed);
  Bytes l_bytes(a_sizet);
  for (std::size_t l_u = 0; l_u < a_sizet; ++l_u) l_bytes[l_u] = l_unit[l_u % a_sizetPeriod];
  return l_bytes;
}

inline std::uint64_t Fnv1a(const Bytes& a_bytes) {
  std::uint64_t l_u64 = 0xcbf29ce484222325ull;
  for (const std::uint8_t l_u8 : a_bytes) l_u64 = (l_u64 ^ l_u8) * 0x100000001b3ull;
  return l_u64;
}

inline std::uint32_t Get32(const Bytes& a_bytes, std::size_t a_sizetAt) {
  return static_cast<std::uint32_t>(a_bytes[a_sizetAt]) | static_cast<std::uint32_t>(a_bytes[a_sizetAt + 1]) << 8 |
         static_cast<std::uint32_t>(a_bytes[a_sizetAt + 2]) << 16 |
         static_cast<std::uint32_t>(a_bytes[a_sizetAt + 3]) << 24;
}

inline void Put32(Bytes* a_pbytes, std::size_t a_sizetAt, std::uint32_t a_u32) {
  for (int l_i = 0; l_i < 4; ++l_i) (*a_pbytes)[a_sizetAt + l_i] = static_cast<std::uint8_t>(a_u32 >> (8 * l_i));
}

class CContext {
 public:
  CContext() = default;
  CContext(const CContext&) = delete;
  CContext& operator=(const CContext&) = delete;
  ~CContext() { OsFileCompressContextFree(&m_context); }
  OsCompressContext m_context;
};

inline EOSSTS Compress(const Bytes& a_input, EOSCOMPRESS a_eoscompress, Bytes* a_pcontainer,
                       COsWorkers* a_posworkers = nullptr) {
  const std::uint32_t l_u32Size =
      static_cast<std::uint32_t>(OsFileCompressBound(static_cast<std::uint32_t>(a_input.size())));
  a_pcontainer->assign(l_u32Size, 0);
  Bytes l_scratch(l_u32Size);
  CContext l_context;
  std::uint32_t l_u32Out = l_u32Size;
  const EOSSTS l_eossts =
      OsFileCompress(a_pcontainer->data(), &l_u32Out, a_input.data(), static_cast<std::uint32_t>(a_input.size()),
                     a_eoscompress, l_scratch.data(), &l_context.m_context, a_posworkers);
  a_pcontainer->resize(l_eossts == OS_STS_SUCCESS ? l_u32Out : 0);
  return l_eossts;
}

// Decodes into an output and a scratch buffer of a_u32Capacity bytes each,
// followed by guard bytes that must come back untouched (the sanitizers see
// the exact sizes of the container itself).
inline EOSSTS Decompress(const Bytes& a_container, std::uint32_t a_u32Capacity, Bytes* a_poutput,
                         COsWorkers* a_posworkers = nullptr) {
  constexpr std::size_t l_sizetGuard = 64;
  Bytes l_container(a_container);
  a_poutput->assign(a_u32Capacity + l_sizetGuard, 0xA5);
  Bytes l_scratch(a_u32Capacity + l_sizetGuard, 0x5A);
  std::uint32_t l_u32Length = a_u32Capacity;
  const EOSSTS l_eossts =
      OsFileDecompress(a_poutput->data(), &l_u32Length, l_container.empty() ? nullptr : l_container.data(),
                       static_cast<std::uint32_t>(l_container.size()), l_scratch.data(), a_posworkers);
  for (std::size_t l_u = a_u32Capacity; l_u < a_u32Capacity + l_sizetGuard; ++l_u) {
    if ((*a_poutput)[l_u] != 0xA5 || l_scratch[l_u] != 0x5A) {
      ADD_FAILURE() << "written past the buffers at " << l_u;
      break;
    }
  }
  EXPECT_LE(l_u32Length, a_u32Capacity);
  a_poutput->resize(l_u32Length);
  return l_eossts;
}

inline ::testing::AssertionResult RoundTrips(const Bytes& a_input, EOSCOMPRESS a_eoscompress) {
  Bytes l_container;
  const EOSSTS l_eossts = Compress(a_input, a_eoscompress, &l_container);
  if (a_input.empty()) {
    if (l_eossts != OS_STS_FAIL) return ::testing::AssertionFailure() << "empty input accepted";
    return ::testing::AssertionSuccess();
  }
  if (l_eossts != OS_STS_SUCCESS) return ::testing::AssertionFailure() << "compress status " << l_eossts;
  if (l_container.size() > OsFileCompressBound(static_cast<std::uint32_t>(a_input.size())))
    return ::testing::AssertionFailure() << "container above its bound";
  Bytes l_output;
  const EOSSTS l_eossts2 = Decompress(l_container, static_cast<std::uint32_t>(a_input.size()), &l_output);
  if (l_eossts2 != OS_STS_SUCCESS) return ::testing::AssertionFailure() << "decompress status " << l_eossts2;
  if (l_output != a_input) return ::testing::AssertionFailure() << "different bytes back, length " << a_input.size();
  return ::testing::AssertionSuccess();
}

// The transform by its definition: the rotations sorted by comparison.
inline Bytes ReferenceColumn(const Bytes& a_block) {
  const std::size_t l_n = a_block.size();
  std::vector<std::size_t> l_rotations(l_n);
  std::iota(l_rotations.begin(), l_rotations.end(), 0);
  std::sort(l_rotations.begin(), l_rotations.end(), [&](std::size_t a_a, std::size_t a_b) {
    for (std::size_t l_u = 0; l_u < l_n; ++l_u) {
      const std::uint8_t l_a = a_block[(a_a + l_u) % l_n];
      const std::uint8_t l_b = a_block[(a_b + l_u) % l_n];
      if (l_a != l_b) return l_a < l_b;
    }
    return false;
  });
  Bytes l_column(l_n);
  for (std::size_t l_u = 0; l_u < l_n; ++l_u) l_column[l_u] = a_block[(l_rotations[l_u] + l_n - 1) % l_n];
  return l_column;
}

// Every input class the benchmark measures, in small.
inline std::vector<std::pair<std::string, Bytes>> InputClasses(std::size_t a_sizet) {
  return {{"text", TextLike(a_sizet, 1)},       {"lowentropy", LowEntropy(a_sizet, 2)},
          {"random", RandomBytes(a_sizet, 3)},  {"zero", Bytes(a_sizet, 0)},
          {"period2", Periodic(a_sizet, 2, 4)}, {"period1000", Periodic(a_sizet, 1000, 5)}};
}

}  // namespace os_compress_cases

namespace {

using namespace os_compress_cases;

TEST_F(OsCompressTest, MoveToFrontAndRunLengthByExample) {
  const Bytes l_input = {'b', 'a', 'n', 'a', 'n', 'a', 'a', 0};
  Bytes l_codes(l_input.size());
  ASSERT_EQ(MoveToFront(l_codes.data(), 8, l_input.data(), 8), OS_STS_SUCCESS);
  EXPECT_EQ(l_codes, (Bytes{'b', 'a' + 1, 'n', 1, 1, 1, 0, 3}));
  Bytes l_back(l_input.size());
  ASSERT_EQ(UnmoveToFront(l_back.data(), 8, l_codes.data(), 8), OS_STS_SUCCESS);
  EXPECT_EQ(l_back, l_input);
  EXPECT_EQ(MoveToFront(l_codes.data(), 7, l_input.data(), 8), OS_STS_FAIL);
  EXPECT_EQ(UnmoveToFront(l_codes.data(), 7, l_input.data(), 8), OS_STS_FAIL);

  // a a a a b: three copies, then the run's last byte with b as literals.
  const Bytes l_runs = {'a', 'a', 'a', 'a', 'b'};
  Bytes l_coded(16);
  std::uint32_t l_u32Coded = 0;
  ASSERT_EQ(PackBits(l_coded.data(), 16, l_runs.data(), 5, &l_u32Coded), OS_STS_SUCCESS);
  l_coded.resize(l_u32Coded);
  EXPECT_EQ(l_coded, (Bytes{131, 'a', 2, 'a', 'b'}));
  Bytes l_decoded(16);
  std::uint32_t l_u32Decoded = 0;
  ASSERT_EQ(UnpackBits(l_decoded.data(), 16, l_coded.data(), 5, &l_u32Decoded), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32Decoded, 5u);
  EXPECT_TRUE(std::equal(l_runs.begin(), l_runs.end(), l_decoded.begin()));

  // 200 equal bytes: 127 copies, 72 copies, one literal; 127 distinct bytes
  // fill one literal group and the next header is never written.
  const Bytes l_long(200, 7);
  l_coded.assign(256, 0);
  ASSERT_EQ(PackBits(l_coded.data(), 256, l_long.data(), 200, &l_u32Coded), OS_STS_SUCCESS);
  l_coded.resize(l_u32Coded);
  EXPECT_EQ(l_coded, (Bytes{255, 7, 128 + 72, 7, 1, 7}));
  Bytes l_distinct(127);
  std::iota(l_distinct.begin(), l_distinct.end(), 0);
  l_coded.assign(256, 0);
  ASSERT_EQ(PackBits(l_coded.data(), 256, l_distinct.data(), 127, &l_u32Coded), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32Coded, 128u);
  EXPECT_EQ(l_coded[0], 127);

  // Short runs make the code longer than the input: the output size bounds it.
  const Bytes l_aaab = {'a', 'a', 'a', 'b', 'a', 'a', 'a', 'b'};
  l_coded.assign(8, 0);
  EXPECT_EQ(PackBits(l_coded.data(), 8, l_aaab.data(), 8, &l_u32Coded), OS_STS_FAIL);
  l_coded.assign(10, 0);
  ASSERT_EQ(PackBits(l_coded.data(), 10, l_aaab.data(), 8, &l_u32Coded), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32Coded, 10u);

  // A header that is the last byte is ignored; 0 is an empty group; a group
  // that passes the output or is cut short fails.
  const Bytes l_tail = {2, 'x', 'y', 0, 130, 'z', 5};
  ASSERT_EQ(UnpackBits(l_decoded.data(), 16, l_tail.data(), 7, &l_u32Decoded), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32Decoded, 4u);
  EXPECT_EQ(std::string(l_decoded.begin(), l_decoded.begin() + 4), "xyzz");
  EXPECT_EQ(UnpackBits(l_decoded.data(), 7, l_tail.data(), 7, &l_u32Decoded), OS_STS_SUCCESS);
  const Bytes l_overflow = {255, 'q'};
  EXPECT_EQ(UnpackBits(l_decoded.data(), 16, l_overflow.data(), 2, &l_u32Decoded), OS_STS_FAIL);
  const Bytes l_cut = {5, 'a', 'b'};
  EXPECT_EQ(UnpackBits(l_decoded.data(), 16, l_cut.data(), 3, &l_u32Decoded), OS_STS_FAIL);
}

TEST_F(OsCompressTest, TransformEqualsSortedRotations) {
  CContext l_context;
  CRandom l_random(77);
  const std::uint32_t l_au32Alphabets[] = {1, 2, 4, 256};
  int l_iPeriodic = 0;
  for (int l_iCase = 0; l_iCase < 4000; ++l_iCase) {
    const std::uint32_t l_u32Alphabet = l_au32Alphabets[l_iCase % 4];
    const std::uint32_t l_n = 1 + l_random.Below(300);
    Bytes l_block(l_n);
    if (l_iCase % 5 == 4) {
      // A repeated unit: equal rotations, several valid primary indexes.
      const std::uint32_t l_u32Period = 1 + l_random.Below(6);
      for (std::uint32_t l_u = 0; l_u < l_n; ++l_u)
        l_block[l_u] = static_cast<std::uint8_t>('a' + (l_u % l_u32Period) % l_u32Alphabet);
      ++l_iPeriodic;
    } else {
      for (std::uint8_t& l_u8 : l_block) l_u8 = static_cast<std::uint8_t>(l_random.Below(l_u32Alphabet));
    }
    Bytes l_column(l_n);
    std::uint32_t l_u32Primary = UINT32_MAX;
    ASSERT_EQ(BWTTransform(l_column.data(), l_n, l_block.data(), l_n, &l_u32Primary, &l_context.m_context),
              OS_STS_SUCCESS);
    ASSERT_EQ(l_column, ReferenceColumn(l_block)) << "case " << l_iCase << " length " << l_n;
    ASSERT_LT(l_u32Primary, l_n);
    Bytes l_back(l_n);
    ASSERT_EQ(BWTUntransform(l_back.data(), l_n, l_column.data(), l_n, l_u32Primary), OS_STS_SUCCESS);
    ASSERT_EQ(l_back, l_block) << "case " << l_iCase;
  }
  EXPECT_EQ(l_iPeriodic, 800);

  // The example the format is usually shown with, and abab... with each of
  // the rows of its equal rotations as primary index.
  const std::string l_sBanana = "banana";
  Bytes l_column(6);
  std::uint32_t l_u32Primary = 0;
  ASSERT_EQ(BWTTransform(l_column.data(), 6, l_sBanana.data(), 6, &l_u32Primary, &l_context.m_context), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_column.begin(), l_column.end()), "nnbaaa");
  EXPECT_EQ(l_u32Primary, 3u);
  const std::string l_sAbab = "abababab";
  l_column.assign(8, 0);
  ASSERT_EQ(BWTTransform(l_column.data(), 8, l_sAbab.data(), 8, &l_u32Primary, &l_context.m_context), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_column.begin(), l_column.end()), "bbbbaaaa");
  EXPECT_LT(l_u32Primary, 4u);
  for (std::uint32_t l_u32Row = 0; l_u32Row < 4; ++l_u32Row) {
    Bytes l_back(8);
    ASSERT_EQ(BWTUntransform(l_back.data(), 8, l_column.data(), 8, l_u32Row), OS_STS_SUCCESS);
    EXPECT_EQ(std::string(l_back.begin(), l_back.end()), l_sAbab) << "row " << l_u32Row;
  }

  // Bounds: a short output, a row outside the column, the trivial lengths.
  EXPECT_EQ(BWTTransform(l_column.data(), 5, l_sBanana.data(), 6, &l_u32Primary, &l_context.m_context), OS_STS_FAIL);
  EXPECT_EQ(BWTUntransform(l_column.data(), 5, l_sBanana.data(), 6, 0), OS_STS_FAIL);
  EXPECT_EQ(BWTUntransform(l_column.data(), 8, l_sAbab.data(), 8, 8), OS_STS_FAIL);
  EXPECT_EQ(BWTTransform(l_column.data(), 8, l_sAbab.data(), 0, &l_u32Primary, &l_context.m_context), OS_STS_SUCCESS);
  EXPECT_EQ(l_u32Primary, 0u);
  ASSERT_EQ(BWTTransform(l_column.data(), 8, "z", 1, &l_u32Primary, &l_context.m_context), OS_STS_SUCCESS);
  EXPECT_EQ(l_column[0], 'z');
  EXPECT_EQ(l_u32Primary, 0u);
}

// Whole blocks of random-looking data take a sort of their own, which hands
// blocks with a long repeat back to the general one: each way, the column
// is the sorted rotations' and decodes back.
TEST_F(OsCompressTest, RandomBlocksSortLikeAnyOther) {
  CContext l_context;
  struct SCase {
    std::uint32_t m_n;
    std::uint32_t m_u32Repeat;  // bytes copied from the start to the middle
  };
  const SCase l_acase[] = {{65536, 0}, {65535, 0}, {65537, 0}, {65536, 40}, {65536, 300}};
  for (const SCase& l_case : l_acase) {
    Bytes l_block = RandomBytes(l_case.m_n, l_case.m_n + l_case.m_u32Repeat);
    std::copy(l_block.begin(), l_block.begin() + l_case.m_u32Repeat, l_block.begin() + l_case.m_n / 2);
    Bytes l_column(l_case.m_n);
    std::uint32_t l_u32Primary = UINT32_MAX;
    ASSERT_EQ(
        BWTTransform(l_column.data(), l_case.m_n, l_block.data(), l_case.m_n, &l_u32Primary, &l_context.m_context),
        OS_STS_SUCCESS);
    EXPECT_EQ(l_column, ReferenceColumn(l_block)) << l_case.m_n << " " << l_case.m_u32Repeat;
    Bytes l_back(l_case.m_n);
    ASSERT_EQ(BWTUntransform(l_back.data(), l_case.m_n, l_column.data(), l_case.m_n, l_u32Primary), OS_STS_SUCCESS);
    EXPECT_EQ(l_back, l_block) << l_case.m_n << " " << l_case.m_u32Repeat;
  }
  // w repeated 4 times has equal rotations; its column is w's with each byte
  // repeated 4 times.
  const Bytes l_unit = RandomBytes(16384, 10);
  Bytes l_block;
  for (int l_i = 0; l_i < 4; ++l_i) l_block.insert(l_block.end(), l_unit.begin(), l_unit.end());
  Bytes l_expected;
  for (const std::uint8_t l_u8 : ReferenceColumn(l_unit)) l_expected.insert(l_expected.end(), 4, l_u8);
  Bytes l_column(l_block.size());
  std::uint32_t l_u32Primary = UINT32_MAX;
  ASSERT_EQ(BWTTransform(l_column.data(), 65536, l_block.data(), 65536, &l_u32Primary, &l_context.m_context),
            OS_STS_SUCCESS);
  EXPECT_EQ(l_column, l_expected);
  Bytes l_back(l_block.size());
  ASSERT_EQ(BWTUntransform(l_back.data(), 65536, l_column.data(), 65536, l_u32Primary), OS_STS_SUCCESS);
  EXPECT_EQ(l_back, l_block);
}

// Every code of both passes, and the inputs back from them.
inline void MoveToFrontAgainstAPlainList() {
  Bytes l_input;
  for (int l_iRound = 0; l_iRound < 3; ++l_iRound) {
    for (int l_i = 255; l_i >= 0; --l_i) l_input.push_back(static_cast<std::uint8_t>(l_i));
  }
  const Bytes l_random = RandomBytes(5000, 9);
  l_input.insert(l_input.end(), l_random.begin(), l_random.end());
  for (int l_i = 0; l_i < 50; ++l_i) l_input.insert(l_input.end(), 1 + l_i % 11, static_cast<std::uint8_t>(l_i * 37));
  const auto l_PlainCodes = [](const Bytes& a_input) {
    std::vector<std::uint8_t> l_list(256);
    std::iota(l_list.begin(), l_list.end(), 0);
    Bytes l_codes;
    for (const std::uint8_t l_u8 : a_input) {
      const auto l_it = std::find(l_list.begin(), l_list.end(), l_u8);
      l_codes.push_back(static_cast<std::uint8_t>(l_it - l_list.begin()));
      l_list.erase(l_it);
      l_list.insert(l_list.begin(), l_u8);
    }
    return l_codes;
  };
  const Bytes l_expected = l_PlainCodes(l_input);
  const std::uint32_t l_n = static_cast<std::uint32_t>(l_input.size());
  Bytes l_codes(l_n);
  ASSERT_EQ(MoveToFront(l_codes.data(), l_n, l_input.data(), l_n), OS_STS_SUCCESS);
  EXPECT_EQ(l_codes, l_expected);
  Bytes l_back(l_n);
  ASSERT_EQ(UnmoveToFront(l_back.data(), l_n, l_codes.data(), l_n), OS_STS_SUCCESS);
  EXPECT_EQ(l_back, l_input);
  Bytes l_inPlace = l_input;
  ASSERT_EQ(MoveToFront(l_inPlace.data(), l_n, l_inPlace.data(), l_n), OS_STS_SUCCESS);
  EXPECT_EQ(l_inPlace, l_expected);
  ASSERT_EQ(UnmoveToFront(l_inPlace.data(), l_n, l_inPlace.data(), l_n), OS_STS_SUCCESS);
  EXPECT_EQ(l_inPlace, l_input);
  // The output a byte before the input, in one buffer.
  Bytes l_shifted(l_n + 1);
  std::copy(l_input.begin(), l_input.end(), l_shifted.begin() + 1);
  ASSERT_EQ(MoveToFront(l_shifted.data(), l_n, l_shifted.data() + 1, l_n), OS_STS_SUCCESS);
  EXPECT_TRUE(std::equal(l_expected.begin(), l_expected.end(), l_shifted.begin()));
  std::copy_backward(l_shifted.begin(), l_shifted.end() - 1, l_shifted.end());
  ASSERT_EQ(UnmoveToFront(l_shifted.data(), l_n, l_shifted.data() + 1, l_n), OS_STS_SUCCESS);
  EXPECT_TRUE(std::equal(l_input.begin(), l_input.end(), l_shifted.begin()));
  // Lengths about a word, from the runs near the end, in buffers of exactly
  // their size: the word-wide passes must stop at the end.
  for (std::uint32_t l_u32Length = 1; l_u32Length <= 40; ++l_u32Length) {
    const Bytes l_part(l_input.end() - 200, l_input.end() - 200 + l_u32Length);
    Bytes l_partCodes(l_u32Length);
    ASSERT_EQ(MoveToFront(l_partCodes.data(), l_u32Length, l_part.data(), l_u32Length), OS_STS_SUCCESS);
    EXPECT_EQ(l_partCodes, l_PlainCodes(l_part)) << l_u32Length;
    Bytes l_partBack(l_u32Length);
    ASSERT_EQ(UnmoveToFront(l_partBack.data(), l_u32Length, l_partCodes.data(), l_u32Length), OS_STS_SUCCESS);
    EXPECT_EQ(l_partBack, l_part) << l_u32Length;
  }
}

// A transformed chunk whose run-length groups are runs of codes other than
// 0, from the front entries and from the tail, between random literals.
inline Bytes ContainerOfCodeRuns() {
  Bytes l_codes;
  const Bytes l_random = RandomBytes(3000, 53);
  for (std::size_t l_u = 0; l_u < 20; ++l_u) {
    l_codes.insert(l_codes.end(), l_random.begin() + 100 * l_u, l_random.begin() + 100 * l_u + 37);
    const std::uint8_t l_au8Run[] = {1, 7, 8, 15, 16, 17, 100, 239, 240, 255};
    l_codes.insert(l_codes.end(), 3 + l_u % 9, l_au8Run[l_u % 10]);
  }
  const std::uint32_t l_n = static_cast<std::uint32_t>(l_codes.size());
  Bytes l_container(40 + 2 * l_n);
  std::uint32_t l_u32Coded = 0;
  EXPECT_EQ(PackBits(l_container.data() + 40, 2 * l_n, l_codes.data(), l_n, &l_u32Coded), OS_STS_SUCCESS);
  l_container.resize(40 + l_u32Coded);
  std::memcpy(l_container.data(), "QRXCMP01", 8);
  const std::uint32_t l_au32Fields[] = {24, 16, l_n, 0, OS_COMPRESS_BWT, l_n / 3, l_n, l_u32Coded};
  for (std::size_t l_u = 0; l_u < 8; ++l_u) Put32(&l_container, 8 + 4 * l_u, l_au32Fields[l_u]);
  return l_container;
}

// Sets g_bOsMtfShuffle for a scope.
class CShuffleSetting {
 public:
  explicit CShuffleSetting(bool a_b) { g_bOsMtfShuffle = a_b; }
  ~CShuffleSetting() { g_bOsMtfShuffle = true; }
  CShuffleSetting(const CShuffleSetting&) = delete;
  CShuffleSetting& operator=(const CShuffleSetting&) = delete;
};

// The recency list against a plain one, over inputs that reach every
// position of it, into another buffer and in place; the decoding with
// byte shuffles and without (where the processor has them, the first is
// what runs), alone and in the container's fused decoder, where runs of
// one code other than 0 must decode alike on both lists.
TEST_F(OsCompressTest, MoveToFrontMatchesAPlainList) {
  const Bytes l_runs = ContainerOfCodeRuns();
  Bytes l_aoutput[2];
  for (const bool l_bShuffle : {true, false}) {
    SCOPED_TRACE(l_bShuffle ? "shuffles" : "word-wide list");
    const CShuffleSetting l_setting(l_bShuffle);
    if (l_bShuffle && !OsMtfShuffles()) std::printf("no byte shuffles here: both runs use the word-wide list\n");
    MoveToFrontAgainstAPlainList();
    EXPECT_TRUE(RoundTrips(TextLike(150000, 52), OS_COMPRESS_BWT));
    EXPECT_EQ(Decompress(l_runs, Get32(l_runs, 16), &l_aoutput[l_bShuffle]), OS_STS_SUCCESS);
  }
  EXPECT_EQ(l_aoutput[1], l_aoutput[0]);
  EXPECT_EQ(l_aoutput[0].size(), Get32(l_runs, 16));
}

TEST_F(OsCompressTest, BlocksThatCatchRealFaults) {
  // 65536 identical bytes code far below the block with method 2.
  Bytes l_container;
  ASSERT_EQ(Compress(Bytes(65536, 'x'), OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  ASSERT_GE(l_container.size(), 40u);
  EXPECT_EQ(std::string(l_container.begin(), l_container.begin() + 8), "QRXCMP01");
  EXPECT_EQ(Get32(l_container, 8), 24u);
  EXPECT_EQ(Get32(l_container, 12), 16u);
  EXPECT_EQ(Get32(l_container, 16), 65536u);
  EXPECT_EQ(Get32(l_container, 20), 0u);
  EXPECT_EQ(Get32(l_container, 24), static_cast<std::uint32_t>(OS_COMPRESS_BWT));
  EXPECT_EQ(Get32(l_container, 32), 65536u);
  EXPECT_LT(Get32(l_container, 36), 2000u);
  EXPECT_EQ(l_container.size(), 40u + Get32(l_container, 36));

  // 65536 random bytes are stored.
  const Bytes l_random = RandomBytes(65536, 9);
  ASSERT_EQ(Compress(l_random, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  EXPECT_EQ(Get32(l_container, 24), static_cast<std::uint32_t>(OS_COMPRESS_STORED));
  EXPECT_EQ(Get32(l_container, 28), 0u);
  EXPECT_EQ(Get32(l_container, 36), 65536u);
  EXPECT_EQ(l_container.size(), 24u + 16u + 65536u);
  EXPECT_TRUE(std::equal(l_random.begin(), l_random.end(), l_container.begin() + 40));

  // 65537 bytes give two chunks; the second holds one byte, stored.
  for (const EOSCOMPRESS l_eoscompress : {OS_COMPRESS_BWT, OS_COMPRESS_RLE}) {
    // Text shrinks only through the full pipeline, runs through both.
    const Bytes l_text = l_eoscompress == OS_COMPRESS_BWT ? TextLike(65537, 10) : LowEntropy(65537, 10);
    ASSERT_EQ(Compress(l_text, l_eoscompress, &l_container), OS_STS_SUCCESS);
    const std::size_t l_sizetSecond = 40u + Get32(l_container, 36);
    ASSERT_EQ(l_container.size(), l_sizetSecond + 17u);
    EXPECT_EQ(Get32(l_container, 24), static_cast<std::uint32_t>(l_eoscompress));
    EXPECT_EQ(Get32(l_container, l_sizetSecond), static_cast<std::uint32_t>(OS_COMPRESS_STORED));
    EXPECT_EQ(Get32(l_container, l_sizetSecond + 8), 1u);
    EXPECT_EQ(Get32(l_container, l_sizetSecond + 12), 1u);
    EXPECT_EQ(l_container.back(), l_text.back());
    EXPECT_TRUE(RoundTrips(l_text, l_eoscompress));
  }

  // Methods other than 2 and 3 and empty input are refused by the writer.
  Bytes l_out(100);
  Bytes l_scratch(100);
  CContext l_context;
  std::uint32_t l_u32Size = 100;
  EXPECT_EQ(
      OsFileCompress(l_out.data(), &l_u32Size, "abc", 3, OS_COMPRESS_AUTOMATIC, l_scratch.data(), &l_context.m_context),
      OS_STS_FAIL);
  l_u32Size = 100;
  EXPECT_EQ(OsFileCompress(l_out.data(), &l_u32Size, "abc", 0, OS_COMPRESS_RLE, l_scratch.data(), &l_context.m_context),
            OS_STS_FAIL);
  l_u32Size = 24 + 16 + 2;  // one byte below the bound
  EXPECT_EQ(OsFileCompress(l_out.data(), &l_u32Size, "abc", 3, OS_COMPRESS_RLE, l_scratch.data(), &l_context.m_context),
            OS_STS_FAIL);
  EXPECT_EQ(OsFileCompress(l_out.data(), nullptr, "abc", 3, OS_COMPRESS_RLE, l_scratch.data(), &l_context.m_context),
            OS_STS_BADARG);
}

TEST_F(OsCompressTest, ReaderRefusesForeignAndBrokenContainers) {
  Bytes l_container;
  const Bytes l_text = TextLike(5000, 11);
  ASSERT_EQ(Compress(l_text, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  Bytes l_output;
  ASSERT_EQ(Decompress(l_container, 5000, &l_output), OS_STS_SUCCESS);
  EXPECT_EQ(l_output, l_text);

  Bytes l_foreign = l_container;
  l_foreign[7] = '2';
  EXPECT_EQ(Decompress(l_foreign, 5000, &l_output), OS_STS_FAIL);
  EXPECT_EQ(Decompress(Bytes{'Q', 'R', 'X'}, 5000, &l_output), OS_STS_FAIL);
  EXPECT_EQ(Decompress(Bytes(), 5000, &l_output), OS_STS_FAIL);

  Bytes l_method5 = l_container;
  Put32(&l_method5, 24, 5);
  EXPECT_EQ(Decompress(l_method5, 5000, &l_output), OS_STS_FAIL);

  // Run-length data that yields fewer bytes than the chunk says.
  Bytes l_rle;
  ASSERT_EQ(Compress(Bytes(3000, 'r'), OS_COMPRESS_RLE, &l_rle), OS_STS_SUCCESS);
  Bytes l_short = l_rle;
  Put32(&l_short, 32, 3001);
  Put32(&l_short, 16, 3001);
  EXPECT_EQ(Decompress(l_short, 5000, &l_output), OS_STS_FAIL);
  l_short = l_rle;
  Put32(&l_short, 36, Get32(l_rle, 36) - 2);  // the last group lost
  l_short.resize(l_short.size() - 2);
  EXPECT_EQ(Decompress(l_short, 5000, &l_output), OS_STS_FAIL);

  // Lengths that do not fit the container or the caller's buffer.
  Bytes l_bad = l_container;
  Put32(&l_bad, 8, 20);  // header size below its fixed fields
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 8, static_cast<std::uint32_t>(l_bad.size() + 1));
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 12, 15);
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 12, 0xFFFFFFF0u);  // a chunk header past the end
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 36, 0xFFFFFFFFu);  // data past the end
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 32, Get32(l_bad, 36) - 1);  // stored length above the block
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 28, 5000);  // primary index outside the block
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  EXPECT_EQ(Decompress(l_container, 4999, &l_output), OS_STS_FAIL);  // output too small
  l_bad = l_container;
  l_bad.resize(l_bad.size() - 1);
  EXPECT_EQ(Decompress(l_bad, 5000, &l_output), OS_STS_FAIL);
  l_bad = l_container;
  Put32(&l_bad, 16, 5001);  // the header's total disagrees with the chunks
  EXPECT_EQ(Decompress(l_bad, 6000, &l_output), OS_STS_FAIL);

  // A total of 0 decodes to nothing at once.
  Bytes l_empty(l_container.begin(), l_container.begin() + 24);
  Put32(&l_empty, 16, 0);
  EXPECT_EQ(Decompress(l_empty, 10, &l_output), OS_STS_SUCCESS);
  EXPECT_TRUE(l_output.empty());
}

// What a newer writer with longer headers writes: the reader starts at the
// header size it finds and skips the chunk header size before each data.
TEST_F(OsCompressTest, LongerHeadersOfANewerWriter) {
  const Bytes l_input = TextLike(150000, 12);
  Bytes l_container;
  ASSERT_EQ(Compress(l_input, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  Bytes l_newer(l_container.begin(), l_container.begin() + 24);
  Put32(&l_newer, 8, 32);
  Put32(&l_newer, 12, 20);
  l_newer.insert(l_newer.end(), 8, 0xEE);
  int l_iChunks = 0;
  for (std::size_t l_u = 24; l_u < l_container.size(); ++l_iChunks) {
    const std::uint32_t l_u32Stored = Get32(l_container, l_u + 12);
    l_newer.insert(l_newer.end(), l_container.begin() + l_u, l_container.begin() + l_u + 16);
    l_newer.insert(l_newer.end(), 4, 0xEE);
    l_newer.insert(l_newer.end(), l_container.begin() + l_u + 16, l_container.begin() + l_u + 16 + l_u32Stored);
    l_u += 16 + l_u32Stored;
  }
  EXPECT_EQ(l_iChunks, 3);
  Bytes l_output;
  ASSERT_EQ(Decompress(l_newer, 150000, &l_output), OS_STS_SUCCESS);
  EXPECT_EQ(l_output, l_input);
}

// Every target writes the same bytes for the same input, and reads what the
// others wrote: the digests were taken from the host build.
TEST_F(OsCompressTest, SameContainerOnEveryTarget) {
  Bytes l_input = TextLike(100000, 13);
  const Bytes l_tail = LowEntropy(70000, 14);
  l_input.insert(l_input.end(), l_tail.begin(), l_tail.end());
  Bytes l_container;
  ASSERT_EQ(Compress(l_input, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  EXPECT_EQ(l_container.size(), s_sizetBwtSize);
  EXPECT_EQ(Fnv1a(l_container), s_u64BwtDigest);
  ASSERT_EQ(Compress(l_input, OS_COMPRESS_RLE, &l_container), OS_STS_SUCCESS);
  EXPECT_EQ(l_container.size(), s_sizetRleSize);
  EXPECT_EQ(Fnv1a(l_container), s_u64RleDigest);

  // A small container written out in full.
  const Bytes l_written = {'Q', 'R', 'X', 'C', 'M', 'P', '0', '1', 24,  0,   0, 0,  16,  0,   0, 0, 35, 0,   0,
                           0,   0,   0,   0,   0,   2,   0,   0,   0,   14,  0, 0,  0,   35,  0, 0, 0,  33,  0,
                           0,   0,   6,   'i', 0,   'p', 0,   0,   's', 132, 0, 14, 0,   'o', 0, 0, 3,  '$', 0,
                           4,   0,   0,   2,   0,   0,   4,   132, 0,   2,   0, 1,  132, 0,   1, 0};
  Bytes l_output;
  ASSERT_EQ(Decompress(l_written, 35, &l_output), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_output.begin(), l_output.end()), s_szSmallText);
  ASSERT_EQ(Compress(l_output, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  EXPECT_EQ(l_container, l_written);
}

TEST_F(OsCompressTest, EveryInputClassRoundTrips) {
  for (const auto& l_class : InputClasses(300000)) {
    EXPECT_TRUE(RoundTrips(l_class.second, OS_COMPRESS_BWT)) << l_class.first;
    EXPECT_TRUE(RoundTrips(l_class.second, OS_COMPRESS_RLE)) << l_class.first;
  }
  // A context built for a short block grows for a longer one.
  CContext l_context;
  const Bytes l_short = TextLike(100, 15);
  const Bytes l_long = TextLike(50000, 16);
  Bytes l_column(50000);
  std::uint32_t l_u32Primary = 0;
  ASSERT_EQ(BWTTransform(l_column.data(), 100, l_short.data(), 100, &l_u32Primary, &l_context.m_context),
            OS_STS_SUCCESS);
  ASSERT_EQ(BWTTransform(l_column.data(), 50000, l_long.data(), 50000, &l_u32Primary, &l_context.m_context),
            OS_STS_SUCCESS);
  EXPECT_EQ(l_context.m_context.m_u32Length, 50000u);
  Bytes l_back(50000);
  ASSERT_EQ(BWTUntransform(l_back.data(), 50000, l_column.data(), 50000, l_u32Primary), OS_STS_SUCCESS);
  EXPECT_EQ(l_back, l_long);
}

// Lengths at the edges and a stride through the rest: 0..300, around one
// block, and up to 70,000, of random and of low-entropy data.
TEST_F(OsCompressTest, SampledLengthsRoundTrip) {
  std::vector<std::uint32_t> l_vecLengths;
  for (std::uint32_t l_u = 0; l_u <= 300; ++l_u) l_vecLengths.push_back(l_u);
  for (std::uint32_t l_u = 65536 - 40; l_u <= 65536 + 40; ++l_u) l_vecLengths.push_back(l_u);
  for (std::uint32_t l_u = 70000 - 20; l_u <= 70000; ++l_u) l_vecLengths.push_back(l_u);
  for (std::uint32_t l_u = 301; l_u < 70000; l_u += 1999) l_vecLengths.push_back(l_u);
  const Bytes l_random = RandomBytes(70000, 17);
  const Bytes l_low = LowEntropy(70000, 18);
  for (const std::uint32_t l_u32Length : l_vecLengths) {
    const Bytes l_randomPart(l_random.begin(), l_random.begin() + l_u32Length);
    const Bytes l_lowPart(l_low.begin(), l_low.begin() + l_u32Length);
    ASSERT_TRUE(RoundTrips(l_randomPart, OS_COMPRESS_BWT)) << l_u32Length;
    ASSERT_TRUE(RoundTrips(l_lowPart, OS_COMPRESS_BWT)) << l_u32Length;
    ASSERT_TRUE(RoundTrips(l_randomPart, OS_COMPRESS_RLE)) << l_u32Length;
    ASSERT_TRUE(RoundTrips(l_lowPart, OS_COMPRESS_RLE)) << l_u32Length;
  }
}

// Thousands of damaged containers: flipped bytes, truncations and absurd
// lengths. Only status 0 or 1 may come back, never a write outside the
// buffers; 0 only with the length the header announces, and for the damage
// that leaves the content intact, with the original bytes. (The container
// carries no checksum, so a flipped data byte can decode to other bytes.)
TEST_F(OsCompressTest, DamagedContainersFailCleanly) {
  std::vector<std::pair<Bytes, Bytes>> l_vecBases;
  for (const auto& l_input :
       {TextLike(140000, 19), LowEntropy(70000, 20), RandomBytes(3000, 21), Periodic(66000, 2, 22), Bytes(1, 'a')}) {
    for (const EOSCOMPRESS l_eoscompress : {OS_COMPRESS_BWT, OS_COMPRESS_RLE}) {
      Bytes l_container;
      EXPECT_EQ(Compress(l_input, l_eoscompress, &l_container), OS_STS_SUCCESS);
      l_vecBases.emplace_back(l_container, l_input);
    }
  }
  CRandom l_random(23);
  int l_iFailed = 0;
  int l_iCases = 0;
  const std::uint32_t l_au32Absurd[] = {0,     1,     15,          16,          23,          24,         65535,
                                        65536, 65537, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu};
  for (int l_iRound = 0; l_iRound < 3000; ++l_iRound) {
    const auto& l_base = l_vecBases[l_random.Below(static_cast<std::uint32_t>(l_vecBases.size()))];
    Bytes l_damaged = l_base.first;
    bool l_bContentKept = false;
    switch (l_iRound % 3) {
      case 0: {  // flipped bytes, mostly in the headers
        const int l_iFlips = 1 + static_cast<int>(l_random.Below(3));
        for (int l_i = 0; l_i < l_iFlips; ++l_i) {
          const std::uint32_t l_u32At = l_random.Below(2) == 0
                                            ? l_random.Below(std::min<std::uint32_t>(64, l_damaged.size()))
                                            : l_random.Below(static_cast<std::uint32_t>(l_damaged.size()));
          l_damaged[l_u32At] ^= static_cast<std::uint8_t>(1 + l_random.Below(255));
        }
        break;
      }
      case 1:  // cut short
        l_damaged.resize(l_random.Below(static_cast<std::uint32_t>(l_damaged.size())));
        break;
      default: {  // an absurd value in a length field of the header or of a chunk
        std::vector<std::size_t> l_vecFields = {8, 12, 16};
        for (std::size_t l_u = 24; l_u + 16 <= l_damaged.size(); l_u += 16 + Get32(l_damaged, l_u + 12)) {
          l_vecFields.push_back(l_u + 4);
          l_vecFields.push_back(l_u + 8);
          l_vecFields.push_back(l_u + 12);
        }
        const std::size_t l_sizetField = l_vecFields[l_random.Below(static_cast<std::uint32_t>(l_vecFields.size()))];
        const std::uint32_t l_u32Old = Get32(l_damaged, l_sizetField);
        const std::uint32_t l_u32New = l_random.Below(2) == 0 ? l_au32Absurd[l_random.Below(sizeof(l_au32Absurd) / 4)]
                                                              : l_u32Old + 1 + l_random.Below(3) - 2;
        Put32(&l_damaged, l_sizetField, l_u32New);
        l_bContentKept = l_u32New == l_u32Old;
        break;
      }
    }
    const std::uint32_t l_u32Capacity = static_cast<std::uint32_t>(l_base.second.size()) + l_random.Below(2) * 1000;
    Bytes l_output;
    const EOSSTS l_eossts = Decompress(l_damaged, l_u32Capacity, &l_output);
    ++l_iCases;
    ASSERT_TRUE(l_eossts == OS_STS_SUCCESS || l_eossts == OS_STS_FAIL) << l_eossts;
    if (l_eossts == OS_STS_FAIL) {
      ++l_iFailed;
      continue;
    }
    // A total of 0 in the header decodes to nothing without reading a chunk.
    ASSERT_GE(l_damaged.size(), 24u);
    const std::uint64_t l_u64Total = Get32(l_damaged, 16) | static_cast<std::uint64_t>(Get32(l_damaged, 20)) << 32;
    EXPECT_EQ(l_output.size(), l_u64Total) << "round " << l_iRound;
    if (l_bContentKept || l_damaged == l_base.first) {
      EXPECT_EQ(l_output, l_base.second) << "round " << l_iRound;
    }
  }
  EXPECT_EQ(l_iCases, 3000);
  EXPECT_GT(l_iFailed, 2000);
}

// Blocks coded and decoded on workers: byte for byte the container one
// thread writes, for any count of workers against blocks, whole and by parts.
TEST_F(OsCompressTest, WorkersWriteWhatOneThreadWrites) {
  std::vector<std::pair<std::string, Bytes>> l_vecInputs = InputClasses(300000);
  CRandom l_random(90);
  for (int l_i = 0; l_i < 4; ++l_i) {
    const std::uint32_t l_n = 1 + l_random.Below(70000);
    l_vecInputs.emplace_back("text " + std::to_string(l_n), TextLike(l_n, 80 + l_i));
    l_vecInputs.emplace_back("random " + std::to_string(l_n), RandomBytes(l_n, 90 + l_i));
  }
  OsTestWorkers l_one(1), l_two(2), l_eight(8);
  for (const auto& l_input : l_vecInputs) {
    const std::uint32_t l_u32Size = static_cast<std::uint32_t>(l_input.second.size());
    for (const EOSCOMPRESS l_eoscompress : {OS_COMPRESS_BWT, OS_COMPRESS_RLE}) {
      Bytes l_alone;
      ASSERT_EQ(Compress(l_input.second, l_eoscompress, &l_alone), OS_STS_SUCCESS);
      for (COsWorkers* const l_posworkers :
           {static_cast<COsWorkers*>(&l_one), static_cast<COsWorkers*>(&l_two), static_cast<COsWorkers*>(&l_eight)}) {
        Bytes l_container, l_output;
        ASSERT_EQ(Compress(l_input.second, l_eoscompress, &l_container, l_posworkers), OS_STS_SUCCESS);
        EXPECT_TRUE(l_container == l_alone) << l_input.first << " on " << l_posworkers->Count();
        ASSERT_EQ(Decompress(l_alone, l_u32Size, &l_output, l_posworkers), OS_STS_SUCCESS);
        EXPECT_TRUE(l_output == l_input.second) << l_input.first << " on " << l_posworkers->Count();
      }
    }
  }
  // Whole and by parts of three blocks (a batch stops at a part's end), on
  // worker counts that do and do not divide the chunks. Run-length chunks of
  // more blocks than a batch holds (256).
  Bytes l_container, l_output, l_runsContainer;
  const Bytes l_text = TextLike(21 * OS_COMPRESS_BLOCK_SIZE + 5, 81);
  const Bytes l_runs = LowEntropy(262 * OS_COMPRESS_BLOCK_SIZE, 82);
  ASSERT_EQ(Compress(l_text, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  ASSERT_EQ(Compress(l_runs, OS_COMPRESS_RLE, &l_runsContainer), OS_STS_SUCCESS);
  OsTestWorkers l_three(3), l_nine(9);
  for (COsWorkers* const l_posworkers :
       {static_cast<COsWorkers*>(&l_two), static_cast<COsWorkers*>(&l_three), static_cast<COsWorkers*>(&l_nine)}) {
    ASSERT_EQ(Decompress(l_container, static_cast<std::uint32_t>(l_text.size()), &l_output, l_posworkers),
              OS_STS_SUCCESS);
    EXPECT_TRUE(l_output == l_text) << l_posworkers->Count();
    ASSERT_EQ(Decompress(l_runsContainer, static_cast<std::uint32_t>(l_runs.size()), &l_output, l_posworkers),
              OS_STS_SUCCESS);
    EXPECT_TRUE(l_output == l_runs) << l_posworkers->Count();
    Bytes l_part(3 * OS_COMPRESS_BLOCK_SIZE), l_scratch(OS_COMPRESS_BLOCK_SIZE);
    OsDecompressState l_state;
    l_output.clear();
    while (!l_state.m_bDone) {
      std::uint32_t l_u32Part = static_cast<std::uint32_t>(l_part.size());
      ASSERT_EQ(OsFileDecompressPart(l_part.data(), &l_u32Part, l_container.data(),
                                     static_cast<std::uint32_t>(l_container.size()), l_scratch.data(), &l_state,
                                     l_posworkers),
                OS_STS_SUCCESS);
      l_output.insert(l_output.end(), l_part.begin(), l_part.begin() + l_u32Part);
    }
    EXPECT_TRUE(l_output == l_text) << l_posworkers->Count() << " by parts";
  }
  // A block that decodes past its length fails the decoding on workers too.
  const std::size_t l_sizetSecond = OS_COMPRESS_HEADER_SIZE + OS_COMPRESS_CHUNK_HEADER_SIZE + Get32(l_container, 36);
  ASSERT_EQ(Get32(l_container, l_sizetSecond), static_cast<std::uint32_t>(OS_COMPRESS_BWT));
  Put32(&l_container, l_sizetSecond + 8, OS_COMPRESS_BLOCK_SIZE - 1);
  EXPECT_EQ(Decompress(l_container, static_cast<std::uint32_t>(l_text.size()), &l_output, &l_two), OS_STS_FAIL);
}

}  // namespace
