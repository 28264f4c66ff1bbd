// The compression container on Windows: the same cases as the host build,
// with the tracked allocator behind the engine; every block it allocates
// must be back when a test ends.
#include "os_cosfile_compress.h"
#include "os_cosmem.h"
#include "os_cosmem_impl.h"
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

#include "format/os_cosfile_compress_cases.h"
