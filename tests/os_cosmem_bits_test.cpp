// Bit runs: set, copy (aligned and not), display bounds, bit fields.
#include <cstring>
#include <random>
#include <vector>

#include "os_cosmem.h"
#include "os_test.h"

namespace {

bool Bit(const std::vector<unsigned char>& a_buf, std::uint64_t a_u64) {
  return (a_buf[a_u64 / 8] >> (7 - a_u64 % 8)) & 1;
}

TEST(MemBits, SetRuns) {
  unsigned char l_auc[2] = {0, 0};
  EXPECT_EQ(OsMemSetBits(l_auc, 2, 8, 8, true), 0);
  EXPECT_EQ(l_auc[0], 0x00);
  EXPECT_EQ(l_auc[1], 0xFF);
  EXPECT_EQ(OsMemSetBits(l_auc, 2, 9, 8, true), 1);  // reaches past the buffer
  EXPECT_EQ(OsMemSetBits(l_auc, 2, 17, 0, true), 1);
  EXPECT_EQ(OsMemSetBits(l_auc, 2, 1, 3, true), 0);  // bit 0 is the most significant
  EXPECT_EQ(l_auc[0], 0x70);
  EXPECT_EQ(OsMemSetBits(l_auc, 2, 6, 4, false), 0);
  EXPECT_EQ(l_auc[0], 0x70);
  EXPECT_EQ(l_auc[1], 0x3F);
  EXPECT_EQ(OsMemSetBits(l_auc, 2, 0, 16, false), 0);
  EXPECT_EQ(l_auc[0] | l_auc[1], 0);
  EXPECT_EQ(OsMemSetBits(l_auc, 2, ~0ull - 3, 8, true), 1);  // no wrap-around of the bounds
}

TEST(MemBits, CopyMatchesABitByBitReference) {
  std::mt19937 l_rng(12345);
  for (int l_iRound = 0; l_iRound < 500; ++l_iRound) {
    std::vector<unsigned char> l_src(1 + l_rng() % 20), l_dst(1 + l_rng() % 20);
    for (auto& l_uc : l_src) l_uc = static_cast<unsigned char>(l_rng());
    for (auto& l_uc : l_dst) l_uc = static_cast<unsigned char>(l_rng());
    const std::uint64_t l_u64SrcBits = l_src.size() * 8, l_u64DstBits = l_dst.size() * 8;
    const std::uint64_t l_u64Count = l_rng() % (std::min(l_u64SrcBits, l_u64DstBits) + 1);
    const std::uint64_t l_u64SrcBit = l_rng() % (l_u64SrcBits - l_u64Count + 1);
    const std::uint64_t l_u64DstBit = l_rng() % (l_u64DstBits - l_u64Count + 1);
    std::vector<unsigned char> l_expected = l_dst;
    for (std::uint64_t l_u = 0; l_u < l_u64Count; ++l_u) {
      const std::uint64_t l_u64D = l_u64DstBit + l_u;
      const unsigned char l_ucMask = static_cast<unsigned char>(0x80 >> (l_u64D % 8));
      if (Bit(l_src, l_u64SrcBit + l_u))
        l_expected[l_u64D / 8] |= l_ucMask;
      else
        l_expected[l_u64D / 8] &= static_cast<unsigned char>(~l_ucMask);
    }
    ASSERT_EQ(OsMemCpyBits(l_dst.data(), static_cast<std::uint32_t>(l_dst.size()), l_u64DstBit, l_src.data(),
                           static_cast<std::uint32_t>(l_src.size()), l_u64SrcBit, l_u64Count),
              0);
    ASSERT_EQ(l_dst, l_expected) << l_iRound;
  }
  // Within one buffer, runs that overlap either way: the result is what the
  // source held before the copy, as memmove gives for bytes.
  for (int l_iRound = 0; l_iRound < 500; ++l_iRound) {
    std::vector<unsigned char> l_buf(1 + l_rng() % 20);
    for (auto& l_uc : l_buf) l_uc = static_cast<unsigned char>(l_rng());
    const std::uint64_t l_u64Bits = l_buf.size() * 8;
    const std::uint64_t l_u64Count = l_rng() % (l_u64Bits + 1);
    const std::uint64_t l_u64SrcBit = l_rng() % (l_u64Bits - l_u64Count + 1);
    const std::uint64_t l_u64DstBit = l_rng() % (l_u64Bits - l_u64Count + 1);
    const std::vector<unsigned char> l_before = l_buf;
    std::vector<unsigned char> l_expected = l_buf;
    for (std::uint64_t l_u = 0; l_u < l_u64Count; ++l_u) {
      const std::uint64_t l_u64D = l_u64DstBit + l_u;
      const unsigned char l_ucMask = static_cast<unsigned char>(0x80 >> (l_u64D % 8));
      l_expected[l_u64D / 8] =
          Bit(l_before, l_u64SrcBit + l_u) ? (l_expected[l_u64D / 8] | l_ucMask) : (l_expected[l_u64D / 8] & ~l_ucMask);
    }
    const std::uint32_t l_u32Size = static_cast<std::uint32_t>(l_buf.size());
    ASSERT_EQ(OsMemCpyBits(l_buf.data(), l_u32Size, l_u64DstBit, l_buf.data(), l_u32Size, l_u64SrcBit, l_u64Count), 0);
    ASSERT_EQ(l_buf, l_expected) << "overlap round " << l_iRound;
  }
  unsigned char l_auc[2] = {};
  EXPECT_EQ(OsMemCpyBits(l_auc, 2, 8, l_auc, 1, 0, 9), 1);  // the source run is too long
}

TEST(MemBits, DisplayBounds) {
  const unsigned char l_auc[3] = {0xA5, 0x0F, 0x80};
  EXPECT_EQ(OsMemDspBits(l_auc, 3, 0, 0, true), 0);  // 0 = the whole buffer
  EXPECT_EQ(OsMemDspBits(l_auc, 3, 4, 20, false), 0);
  EXPECT_EQ(OsMemDspBits(l_auc, 3, 4, 21, false), 1);
  EXPECT_EQ(OsMemDspBits(nullptr, 3, 0, 1, false), 1);
}

TEST(MemBits, BitFields) {
  EXPECT_EQ(OsMemSetBitField(0xFFFFFFFFu, 4, 8, 0x5A), 0xFFFFF5AFu);
  EXPECT_EQ(OsMemSetBitField(0, 28, 4, 0xF), 0xF0000000u);
  EXPECT_EQ(OsMemSetBitField(0x12345678u, 36, 4, 0), 0x12345608u);  // the shift is taken modulo 32
}

}  // namespace
