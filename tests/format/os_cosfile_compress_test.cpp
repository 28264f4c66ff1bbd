// The compression container in the host build: the cases every target runs,
// the messages of each failure, and every length up to 70,000 bytes.
#include <cstring>
#include <string>
#include <vector>

#include "os_host_backend.h"
#include <gtest/gtest.h>

class OsCompressTest : public ::testing::Test {};

#include "os_cosfile_compress_cases.h"

namespace {

// The lines a call logs, as "file mark text".
class CCapture {
 public:
  CCapture() { OsHostLogCapture(&m_vecLines); }
  ~CCapture() { OsHostLogCapture(nullptr); }
  CCapture(const CCapture&) = delete;
  CCapture& operator=(const CCapture&) = delete;
  std::vector<std::string> Take() {
    std::vector<std::string> l_vec;
    l_vec.swap(m_vecLines);
    return l_vec;
  }

 private:
  std::vector<std::string> m_vecLines;
};

// One failing decode logs exactly one line, with the engine's file name.
std::string DecodeMessage(const Bytes& a_container, std::uint32_t a_u32Capacity) {
  CCapture l_capture;
  Bytes l_output;
  EXPECT_EQ(Decompress(a_container, a_u32Capacity, &l_output), OS_STS_FAIL);
  const std::vector<std::string> l_vecLines = l_capture.Take();
  EXPECT_EQ(l_vecLines.size(), 1u);
  return l_vecLines.empty() ? std::string() : l_vecLines.front();
}

TEST_F(OsCompressTest, EachFailureSaysWhy) {
  const std::string l_sFile = "os_cosfile_compress.cpp ";
  Bytes l_container;
  ASSERT_EQ(Compress(TextLike(5000, 30), OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);

  Bytes l_bad = l_container;
  l_bad[0] = 'X';
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E Not a compression file...");
  l_bad = l_container;
  Put32(&l_bad, 24, 5);
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "A Looks like we need to add a new decompression handler...5");
  l_bad = l_container;
  Put32(&l_bad, 8, 16);
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E Header size is out of range...<16> <" +
                                            std::to_string(l_bad.size()) + ">");
  l_bad = l_container;
  Put32(&l_bad, 12, 8);
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E Chunk header size is out of range...<8>");
  l_bad = l_container;
  l_bad.resize(30);
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E PackBits failed...");
  l_bad = l_container;
  l_bad.pop_back();
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E PackBits failed...");
  l_bad = l_container;
  Put32(&l_bad, 32, 100);
  EXPECT_EQ(DecodeMessage(l_bad, 5000),
            l_sFile + "E Stored length exceeds the block length...<" + std::to_string(Get32(l_bad, 36)) + "> <100>");
  l_bad = l_container;
  Put32(&l_bad, 28, 7000);
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E Primary index is out of range...<7000> <5000>");
  EXPECT_EQ(DecodeMessage(l_container, 4000), l_sFile + "E Output buffer is too small...<5000> <4000>");
  l_bad = l_container;
  Put32(&l_bad, 32, 4999);
  Put32(&l_bad, 16, 4999);
  EXPECT_EQ(DecodeMessage(l_bad, 5000), l_sFile + "E PackBits failed: error unpacking...");
  l_bad = l_container;
  Put32(&l_bad, 16, 6000);
  EXPECT_EQ(DecodeMessage(l_bad, 6000), l_sFile + "E Decoded length disagrees with the header...<5000> <6000>");
  EXPECT_EQ(DecodeMessage(Bytes{'Q'}, 10).substr(l_sFile.size()), "E Not a compression file...");

  Bytes l_stored;
  ASSERT_EQ(Compress(RandomBytes(100, 31), OS_COMPRESS_RLE, &l_stored), OS_STS_SUCCESS);
  ASSERT_EQ(Get32(l_stored, 24), 0u);
  Put32(&l_stored, 32, 101);
  Put32(&l_stored, 16, 101);
  EXPECT_EQ(DecodeMessage(l_stored, 200), l_sFile + "E Stored length disagrees with the block length...<100> <101>");

  // The writer's and the primitives' argument problems are broken
  // assumptions (mark A).
  CCapture l_capture;
  Bytes l_out(64);
  Bytes l_scratch(64);
  CContext l_context;
  std::uint32_t l_u32Size = 64;
  EXPECT_EQ(OsFileCompress(l_out.data(), &l_u32Size, "a", 0, OS_COMPRESS_BWT, l_scratch.data(), &l_context.m_context),
            OS_STS_FAIL);
  l_u32Size = 64;
  EXPECT_EQ(OsFileCompress(l_out.data(), &l_u32Size, "a", 1, OS_COMPRESS_STORED, l_scratch.data(),
                           &l_context.m_context),
            OS_STS_FAIL);
  std::uint32_t l_u32Primary = 0;
  std::uint32_t l_u32Length = 0;
  EXPECT_EQ(BWTTransform(l_out.data(), 2, "abc", 3, &l_u32Primary, &l_context.m_context), OS_STS_FAIL);
  EXPECT_EQ(BWTUntransform(l_out.data(), 2, "abc", 3, 0), OS_STS_FAIL);
  EXPECT_EQ(MoveToFront(l_out.data(), 2, "abc", 3), OS_STS_FAIL);
  EXPECT_EQ(UnmoveToFront(l_out.data(), 2, "abc", 3), OS_STS_FAIL);
  EXPECT_EQ(PackBits(l_out.data(), 2, "abc", 3, &l_u32Length), OS_STS_FAIL);
  EXPECT_EQ(UnpackBits(l_out.data(), 2, "abc", 3, &l_u32Length), OS_STS_FAIL);
  EXPECT_EQ(BWTTransform(l_out.data(), UINT32_MAX, "abc", UINT32_MAX, &l_u32Primary, &l_context.m_context),
            OS_STS_FAIL);
  const std::vector<std::string> l_vecLines = l_capture.Take();
  const std::vector<std::string> l_vecExpected = {
      l_sFile + "A Programmer goofed...",
      l_sFile + "A Looks like we need to add a new compression handler...",
      "os_cosfile_compress_bwt.cpp A a_szOutput buffer is too small...",
      "os_cosfile_compress_bwt.cpp A Output buffer is too small...",
      l_sFile + "A Output buffer is too small...",
      l_sFile + "A Output buffer is too small...",
      l_sFile + "A Output buffer is too small...",
      l_sFile + "A Output buffer is too small...",
      "os_cosfile_compress_bwt.cpp A Buffer overflow, need a bigger uNumber_t...",
  };
  EXPECT_EQ(l_vecLines, l_vecExpected);
}

// A chunk longer than a block is refused even where the output would hold
// it: writers cut blocks of at most 65536 bytes.
TEST_F(OsCompressTest, ChunkLongerThanABlockIsRefused) {
  constexpr std::uint32_t l_n = OS_COMPRESS_BLOCK_SIZE + 1;
  const Bytes l_block = TextLike(l_n, 24);
  Bytes l_column(l_n);
  Bytes l_codes(l_n);
  CContext l_context;
  std::uint32_t l_u32Primary = 0;
  std::uint32_t l_u32Coded = 0;
  ASSERT_EQ(BWTTransform(l_column.data(), l_n, l_block.data(), l_n, &l_u32Primary, &l_context.m_context),
            OS_STS_SUCCESS);
  ASSERT_EQ(MoveToFront(l_codes.data(), l_n, l_column.data(), l_n), OS_STS_SUCCESS);
  Bytes l_container(40 + l_n);
  ASSERT_EQ(PackBits(l_container.data() + 40, l_n, l_codes.data(), l_n, &l_u32Coded), OS_STS_SUCCESS);
  l_container.resize(40 + l_u32Coded);
  std::memcpy(l_container.data(), "QRXCMP01", 8);
  Put32(&l_container, 8, 24);
  Put32(&l_container, 12, 16);
  Put32(&l_container, 16, l_n);
  Put32(&l_container, 24, OS_COMPRESS_BWT);
  Put32(&l_container, 28, l_u32Primary);
  Put32(&l_container, 32, l_n);
  Put32(&l_container, 36, l_u32Coded);
  EXPECT_EQ(DecodeMessage(l_container, 2 * l_n), "os_cosfile_compress.cpp E Block length is out of range...<65537>");
}

// Every length from 0 to 70,000 bytes, random and low-entropy: the
// run-length pipeline at every length; the full pipeline at every length
// near the edges (0..2,000, around one block, the last 100) and every
// seventh length in between, which keeps the run within a minute.
TEST_F(OsCompressTest, EveryLengthRoundTrips) {
#if defined(__SANITIZE_ADDRESS__)
  const std::uint32_t l_u32Stride = 41;  // the sanitizers cost about five times
#else
  const std::uint32_t l_u32Stride = 7;
#endif
  const Bytes l_random = RandomBytes(70000, 40);
  const Bytes l_low = LowEntropy(70000, 41);
  int l_iFull = 0;
  for (std::uint32_t l_u32Length = 0; l_u32Length <= 70000; ++l_u32Length) {
    const Bytes l_randomPart(l_random.begin(), l_random.begin() + l_u32Length);
    const Bytes l_lowPart(l_low.begin(), l_low.begin() + l_u32Length);
    ASSERT_TRUE(RoundTrips(l_randomPart, OS_COMPRESS_RLE)) << l_u32Length;
    ASSERT_TRUE(RoundTrips(l_lowPart, OS_COMPRESS_RLE)) << l_u32Length;
    const bool l_bEdge = l_u32Length <= 2000 || (l_u32Length >= 65436 && l_u32Length <= 65636) || l_u32Length >= 69900;
    if (!l_bEdge && l_u32Length % l_u32Stride != 0) continue;
    ASSERT_TRUE(RoundTrips(l_randomPart, OS_COMPRESS_BWT)) << l_u32Length;
    ASSERT_TRUE(RoundTrips(l_lowPart, OS_COMPRESS_BWT)) << l_u32Length;
    ++l_iFull;
  }
  EXPECT_GT(l_iFull, 2300);
}

}  // namespace
