// The XML reader in the Windows library: its buffers come from the tracked
// allocator and go back to it, and the dialect, the refusals, navigation,
// declarations, tag values and generated documents behave as on the host.
#include <cstring>
#include <string>
#include <vector>

#include "os_cosmem.h"
#include "os_cosmem_impl.h"
#include "os_cosxml.h"
#include "os_cosxml_gen.h"
#include "os_cosxml_impl.h"
#include "os_memnew.h"
#include "os_test.h"

namespace {

class Xml : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    m_posmem = OsMemCreate(OS_MEM_METHOD_MALLOC, true);
    ASSERT_NE(m_posmem, nullptr);
    m_posxml = OsMemNew(COsXml, "COsXml");
    ASSERT_NE(m_posxml, nullptr);
    ASSERT_NE(m_posxml->m_posxmlimpl, nullptr);
  }
  void TearDown() override {
    OsMemDelete(m_posxml);
    // Every block of the reader went back to the allocator.
    EXPECT_EQ(m_posmem->m_posmemimpl->m_u32CC, 0u);
    OsMemDestroy(m_posmem);
    OsTest::TearDown();
  }
  COsXmlImpl& Impl() { return *m_posxml->m_posxmlimpl; }
  std::string Name() {
    char l_sz[64];
    return m_posxml->NodeNameGet(l_sz, sizeof(l_sz)) == OS_STS_SUCCESS ? l_sz : "<none>";
  }
  std::string Data() {
    char l_sz[256];
    return m_posxml->NodeDataGet(l_sz, sizeof(l_sz)) == OS_STS_SUCCESS ? l_sz : "<none>";
  }

  COsMem* m_posmem = nullptr;
  COsXml* m_posxml = nullptr;
};

TEST_F(Xml, BuffersAreTrackedAllocations) {
  ASSERT_EQ(m_posxml->Load("<a k='v'><![CDATA[x<y]]></a>"), OS_STS_SUCCESS);
  OsMemSettings l_settings;
  EXPECT_EQ(OsMemFindByAddress(Impl().m_szText, &l_settings, true), OS_STS_SUCCESS);
  EXPECT_EQ(OsMemFindByAddress(Impl().m_posxmlatom, &l_settings, true), OS_STS_SUCCESS);
  EXPECT_EQ(m_posmem->m_posmemimpl->m_u32CC, 2u);
  // A refused document gives its copy back and keeps the table.
  EXPECT_EQ(m_posxml->Load("<a><b></a></b>"), OS_STS_FAIL);
  EXPECT_EQ(Impl().m_szText, nullptr);
  EXPECT_EQ(m_posmem->m_posmemimpl->m_u32CC, 1u);
}

TEST_F(Xml, AtomsPropertiesAndCdata) {
  ASSERT_EQ(m_posxml->Load("<a>hi</a>"), OS_STS_SUCCESS);
  const OsXmlAtom* l_patom = m_posxml->NodeGetOsXmlAtom();
  ASSERT_NE(l_patom, nullptr);
  EXPECT_EQ(l_patom->szData, 3);
  EXPECT_EQ(l_patom->lData, 2);
  ASSERT_EQ(m_posxml->Load("<a x='1' y='22'/>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAtomsInUse, 3);
  EXPECT_EQ(Impl().m_posxmlatom[2].eosxmltype, OS_XML_TYPE_PROPERTY);
  EXPECT_EQ(Impl().m_posxmlatom[2].lData, 2);
  char l_sz[8];
  EXPECT_EQ(m_posxml->NodePropertyGet("y", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "22");
  ASSERT_EQ(m_posxml->Load("<a><![CDATA[x<y]]></a>"), OS_STS_SUCCESS);
  EXPECT_EQ(Data(), "x<y");
  EXPECT_EQ(m_posxml->Load("<a x=\"1\"/>"), OS_STS_FAIL);
  EXPECT_EQ(m_posxml->Load("<a><!-- c --></a>"), OS_STS_FAIL);
  EXPECT_EQ(m_posxml->NodeRoot(), OS_STS_FAIL);  // nothing loaded after a refusal
}

TEST_F(Xml, NestingAndNavigation) {
  std::string l_s;
  for (int l_i = 0; l_i < 64; ++l_i) l_s += "<e>";
  for (int l_i = 0; l_i < 64; ++l_i) l_s += "</e>";
  ASSERT_EQ(m_posxml->Load(l_s.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(m_posxml->Load(("<e>" + l_s + "</e>").c_str()), OS_STS_FAIL);

  ASSERT_EQ(m_posxml->Load("<r><a k='1'>x</a><b><c/></b></r>"), OS_STS_SUCCESS);
  ASSERT_EQ(m_posxml->NodePush(), OS_STS_SUCCESS);
  ASSERT_EQ(m_posxml->NodeChild(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "a");
  ASSERT_EQ(m_posxml->NodeNext(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "b");
  EXPECT_EQ(m_posxml->NodeNext(), OS_STS_NOMORE);
  EXPECT_EQ(m_posxml->NodeParent(), Impl().m_posxmlatom);
  ASSERT_EQ(m_posxml->NodePop(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "r");
  for (int l_i = 0; l_i < 62; ++l_i) ASSERT_EQ(m_posxml->NodePush(), OS_STS_SUCCESS);
  EXPECT_EQ(m_posxml->NodePush(), OS_STS_SUCCESS);  // the 63rd
  EXPECT_EQ(m_posxml->NodePush(), OS_STS_TOOSMALL);
}

TEST_F(Xml, DeclarationsAndTagValues) {
  ASSERT_EQ(m_posxml->Load("<?xml version='1.0'?>\n<a/>"), OS_STS_SUCCESS);
  char l_sz[16];
  EXPECT_EQ(m_posxml->DeclarationPropertyGet("xml version", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "1.0");
  EXPECT_EQ(OsXmlGetTagValue("<v><![CDATA[abc]]></v>", "<v>", "</v>", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "abc");
  EXPECT_EQ(OsXmlGetTagValue("<v>abc", "<v>", "</v>", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(OsXmlContainsBoth("<a><b/></a>", "<b/>", "</a>", -1), 1);
  EXPECT_EQ(OsXmlContains("<a><b/></a>", "</a>", 8), 0);
}

TEST_F(Xml, InPlaceAccessAndDump) {
  ASSERT_EQ(m_posxml->Load("<r><s/>after</r>"), OS_STS_SUCCESS);
  ASSERT_EQ(m_posxml->NodeChild(), OS_STS_SUCCESS);
  EXPECT_STREQ(m_posxml->NodeNameAcquire(), "s");
  EXPECT_STREQ(m_posxml->NodeDataAcquire(), "");
  EXPECT_EQ(m_posxml->NodeDataRelease(), OS_STS_SUCCESS);
  EXPECT_EQ(m_posxml->NodeNameRelease(), OS_STS_SUCCESS);
  EXPECT_STREQ(Impl().m_szText, "<r><s/>after</r>");
  testing::internal::CaptureStdout();
  EXPECT_EQ(m_posxml->Dump(), OS_STS_SUCCESS);
  const std::string l_s = testing::internal::GetCapturedStdout();
  EXPECT_EQ(l_s.rfind("pod.m_lAllocatedAtoms=256\npod.m_lAtomsInUse=2\n\nAtom 0:\n", 0), 0u) << l_s;
  EXPECT_NE(l_s.find("szData,lData=3,9 \"<s/>after\"\npCallbacks=null\n"), std::string::npos) << l_s;
}

TEST_F(Xml, GeneratedDocumentsMatchTheirTrees) {
  for (std::uint32_t l_u32Seed = 1; l_u32Seed <= 100; ++l_u32Seed) {
    OsXmlGen l_gen(l_u32Seed);
    std::vector<OsXmlGenElement> l_vec = l_gen.Forest(l_u32Seed % 4 == 0 ? 64 : 8, 300);
    if (l_u32Seed % 10 == 0) l_vec.push_back(l_gen.Chain(64));
    const std::string l_s = l_gen.Serialise(l_vec);
    ASSERT_EQ(m_posxml->Load(l_s.data(), static_cast<std::int32_t>(l_s.size())), OS_STS_SUCCESS) << l_u32Seed;
    ASSERT_EQ(OsXmlGenCompare(*m_posxml, l_vec, 0), "") << l_u32Seed;
  }
}

// Every allocation of a load (the reader object's own included) may fail:
// the load fails, and every block goes back.
TEST_F(Xml, EveryAllocationOfALoadMayFail) {
  const char* const l_szDocument = "<a k='v'><b>text</b><c><![CDATA[x<y]]></c></a>";
  long l_lAt = 0;
  for (;; ++l_lAt) {
    ASSERT_LT(l_lAt, 100);
    OsMemFailAfter(l_lAt);
    COsXml* const l_posxml = OsMemNew(COsXml, "COsXml");
    const EOSSTS l_eossts = l_posxml != nullptr ? l_posxml->Load(l_szDocument) : OS_STS_FAIL;
    const bool l_bFailed = !OsMemFailurePending();
    OsMemFailAfter(-1);
    OsMemDelete(l_posxml);
    EXPECT_EQ(m_posmem->m_posmemimpl->m_u32CC, 0u) << "failure at allocation " << l_lAt;
    if (!l_bFailed) {
      EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
      break;
    }
    EXPECT_NE(l_eossts, OS_STS_SUCCESS) << "failure at allocation " << l_lAt;
  }
  EXPECT_GT(l_lAt, 1);
}

}  // namespace
