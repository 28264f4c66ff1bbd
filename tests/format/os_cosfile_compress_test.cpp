// The compression container in the host build: the cases every target runs,
// the messages of each failure, and every length up to 70,000 bytes.
#include <cstring>
#include <string>
#include <vector>

#include "os_cosstring.h"
#include "os_host_backend.h"
#include "os_workers.h"
#include <gtest/gtest.h>

class OsCompressTest : public ::testing::Test {};
using OsTestWorkers = COsStdWorkers;

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
std::string DecodeMessage(const Bytes& a_container, std::uint32_t a_u32Capacity, COsWorkers* a_posworkers = nullptr) {
  CCapture l_capture;
  Bytes l_output;
  EXPECT_EQ(Decompress(a_container, a_u32Capacity, &l_output, a_posworkers), OS_STS_FAIL);
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
  EXPECT_EQ(DecodeMessage(l_bad, 5000),
            l_sFile + "E Header size is out of range...<16> <" + std::to_string(l_bad.size()) + ">");
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
  EXPECT_EQ(
      OsFileCompress(l_out.data(), &l_u32Size, "a", 1, OS_COMPRESS_STORED, l_scratch.data(), &l_context.m_context),
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
// On workers, the first broken chunk in order is the one reported, as when
// one thread decodes: a chunk that decodes past its length before one whose
// header is refused, and the first of two broken chunks of one batch.
TEST_F(OsCompressTest, WorkersReportTheFirstBrokenChunk) {
  const Bytes l_text = TextLike(300000, 31);
  Bytes l_container;
  ASSERT_EQ(Compress(l_text, OS_COMPRESS_BWT, &l_container), OS_STS_SUCCESS);
  const std::size_t l_sizetSecond = OS_COMPRESS_HEADER_SIZE + OS_COMPRESS_CHUNK_HEADER_SIZE + Get32(l_container, 36);
  const std::size_t l_sizetThird =
      l_sizetSecond + OS_COMPRESS_CHUNK_HEADER_SIZE + Get32(l_container, l_sizetSecond + 12);
  COsStdWorkers l_workers(4);
  for (const std::uint32_t l_u32Later : {70000u, OS_COMPRESS_BLOCK_SIZE - 2}) {
    Bytes l_bad = l_container;
    Put32(&l_bad, l_sizetSecond + 8, OS_COMPRESS_BLOCK_SIZE - 1);
    Put32(&l_bad, l_sizetThird + 8, l_u32Later);
    const std::string l_sAlone = DecodeMessage(l_bad, 300000);
    EXPECT_EQ(l_sAlone, "os_cosfile_compress.cpp E PackBits failed: error unpacking...");
    EXPECT_EQ(DecodeMessage(l_bad, 300000, &l_workers), l_sAlone);
  }
}

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

// The containers of a fixed set of inputs, pinned by their SHA-256 as the
// writer wrote them before its coders were tuned for speed: every change to
// the sort, the coders or the packing must leave the bytes as they were.
// Each case hashes its method-2 container followed by its method-3 one.
TEST_F(OsCompressTest, ContainersKeepTheirBytes) {
  std::vector<std::pair<std::string, Bytes>> l_vecInputs = InputClasses(70000);
  CRandom l_random(50);
  for (int l_i = 0; l_i < 6; ++l_i) {
    const std::uint32_t l_n = 1 + l_random.Below(70000);
    l_vecInputs.emplace_back("text " + std::to_string(l_n), TextLike(l_n, 60 + l_i));
    l_vecInputs.emplace_back("low " + std::to_string(l_n), LowEntropy(l_n, 70 + l_i));
  }
  // Binary: little-endian counters with small random steps, and a block of
  // one byte (every rotation equal).
  Bytes l_binary;
  for (std::uint32_t l_u32 = 0; l_binary.size() < 65536; l_u32 += l_random.Below(300)) {
    for (int l_i = 0; l_i < 4; ++l_i) l_binary.push_back(static_cast<std::uint8_t>(l_u32 >> (8 * l_i)));
  }
  l_vecInputs.emplace_back("binary", l_binary);
  l_vecInputs.emplace_back("same", Bytes(65536, 'x'));
  l_vecInputs.emplace_back("tiny", Bytes{'a', 'b'});
  const char* const l_aszDigests[] = {"D3AFBDF0F41AEDEF13853B3F0C9518A859EA9C47DC95B682110AF550CC0DF234",
                                      "27958C9856B67972C29B8C7635253EB08C0701AAD291B75AACB45EE326F0E3F1",
                                      "83362EB46EA383D39E71C9CD725722CAA5AFFA0E3CEBD0C513B336FF2474C062",
                                      "800C269692ED25EDC372CFD9057C8DB42EAF55283A7BD3B502A1D6C233ADDEA5",
                                      "6E6405AE46341398B1F6577F58C74B76C182A2449C6480DBEA0FBA862BF29623",
                                      "134F1FA121874D80AD6CF6D1C3EAE2DC229B59952FB251B8BF8CEB3750F66606",
                                      "24170A3DE9B81F99F39566561AA5D10AA80F03F62BE47F24BC43A8E7B664693B",
                                      "007E97AEA261DCEAC39C0B800BECF0092A9F98B3F1FD97267C42466A67C25731",
                                      "BBF55454989F411A2FA996AF7747380619E4B41AB3791BDFFE25576111A34501",
                                      "3C17D88B78602B10EDA1DC0B893690CFC7C5F6BED23D779B69D676F09F154563",
                                      "323E8690D90F7D896C16869F50B0746D6E32195770E137CF82B6A99E2D92C764",
                                      "8CBE36A91476D2CE2319CB97A03BC6825B948881DE0ADF3DBD0680CFC2CBF87A",
                                      "9102F853388F79DDD825EA4440875DDD3C2F8985DDEA0845FF32036AA09E1274",
                                      "DDD814BEF999FA5469C241511B16B71C466F2F9E569AF4379E4D0CF06B620140",
                                      "716CE6B03288E0FBE8D75387ED5B7596DBCF1FA6FBDEC7C8409D62CED6F7BBFA",
                                      "1F43FF1AFD05B70A517364D81A6D67956E13D67FC400426DA9C34D2B105AD69C",
                                      "F91691B573E6564D2D7464F73DD82E6B8656F310F675E796DB6B7C83E1D1F9D8",
                                      "77F7864E81341DE65561DC645B9308B763064156DE61BC69AA0972A1AE13C75D",
                                      "4C0C86A9E4F1281DEA1C3435939E3B1E41244C8A165518A4291DD813E5B9E60C",
                                      "5B9ABB216993FA973FFC69A8FFC3001D37414DE8C315D084B789A1D579C3AD58",
                                      "66926E85F33B26C1B61CF17BACE96188D2E8CE808728954F6B8C2501120D4869"};
  ASSERT_EQ(l_vecInputs.size(), sizeof(l_aszDigests) / sizeof(l_aszDigests[0]));
  for (std::size_t l_u = 0; l_u < l_vecInputs.size(); ++l_u) {
    Bytes l_bwt, l_rle;
    ASSERT_EQ(Compress(l_vecInputs[l_u].second, OS_COMPRESS_BWT, &l_bwt), OS_STS_SUCCESS);
    ASSERT_EQ(Compress(l_vecInputs[l_u].second, OS_COMPRESS_RLE, &l_rle), OS_STS_SUCCESS);
    l_bwt.insert(l_bwt.end(), l_rle.begin(), l_rle.end());
    char l_szHex[65];
    ASSERT_EQ(StrSha256Hex(l_szHex, sizeof(l_szHex), l_bwt.data(), l_bwt.size()), OS_STS_SUCCESS);
    EXPECT_STREQ(l_szHex, l_aszDigests[l_u]) << l_vecInputs[l_u].first;
  }
}

}  // namespace
