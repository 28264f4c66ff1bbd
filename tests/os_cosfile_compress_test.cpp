// The compression container on Windows: the same cases as the host build,
// with the tracked allocator behind the engine; every block it allocates
// must be back when a test ends.
#include "os_cosfile_compress.h"
#include "os_cosmem.h"
#include "os_cosmem_impl.h"
#include "os_costhread.h"
#include "os_test.h"

class OsCompressTest : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    m_posmem = OsMemCreate(OS_MEM_METHOD_MALLOC, true);
    ASSERT_NE(m_posmem, nullptr);
  }
  void TearDown() override {
    if (m_posmem != nullptr) {
      EXPECT_EQ(m_posmem->m_posmemimpl->m_u32CC, 0u) << "blocks still allocated";
      OsMemDestroy(m_posmem);
    }
    OsTest::TearDown();
  }

  COsMem* m_posmem = nullptr;
};

using OsTestWorkers = COsThreadWorkers;

#include "format/os_cosfile_compress_cases.h"

namespace {

// Every allocation of a compression may fail: the compression says so, and
// every block goes back.
TEST_F(OsCompressTest, EveryAllocationOfACompressionMayFail) {
  std::vector<unsigned char> l_input(100000);
  for (std::size_t l_i = 0; l_i < l_input.size(); ++l_i) l_input[l_i] = static_cast<unsigned char>((l_i * 7) % 61);
  std::vector<unsigned char> l_output(OsFileCompressBound(static_cast<std::uint32_t>(l_input.size())));
  std::vector<unsigned char> l_scratch(l_output.size());
  for (const EOSCOMPRESS l_eoscompress : {OS_COMPRESS_BWT, OS_COMPRESS_RLE}) {
    long l_lAt = 0;
    for (;; ++l_lAt) {
      ASSERT_LT(l_lAt, 100);
      std::uint32_t l_u32Size = static_cast<std::uint32_t>(l_output.size());
      OsCompressContext l_context;
      OsMemFailAfter(l_lAt);
      const EOSSTS l_eossts =
          OsFileCompress(l_output.data(), &l_u32Size, l_input.data(), static_cast<std::uint32_t>(l_input.size()),
                         l_eoscompress, l_scratch.data(), &l_context);
      const bool l_bFailed = !OsMemFailurePending();
      OsMemFailAfter(-1);
      OsFileCompressContextFree(&l_context);
      EXPECT_EQ(m_posmem->m_posmemimpl->m_u32CC, 0u) << "failure at allocation " << l_lAt;
      if (!l_bFailed) {
        EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
        break;
      }
      EXPECT_NE(l_eossts, OS_STS_SUCCESS) << "method " << l_eoscompress << ", failure at allocation " << l_lAt;
    }
    if (l_eoscompress == OS_COMPRESS_BWT) {
      EXPECT_GT(l_lAt, 0);
    }
  }
}

}  // namespace
