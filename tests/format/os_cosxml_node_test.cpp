// The reader's cursor and value readers: navigation, names, properties,
// data, the in-place pairs, the object without an implementation, and the
// substring tests on raw text.
#include "os_cosxml_fixture.h"
#include "os_memnew.h"

namespace {

TEST_F(Xml, NavigationThroughATree) {
  ASSERT_EQ(Load("<r><a k='1'>x</a><b><c/></b><d/></r><s/>"), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "r");
  EXPECT_EQ(m_osxml.NodeParent(), nullptr);  // level 0
  ASSERT_EQ(m_osxml.NodePush(), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.NodeParent(), &Atom(0));
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);  // past nothing: r has no properties
  EXPECT_EQ(Name(), "a");
  EXPECT_EQ(m_osxml.NodeDepthGet(), 1);
  EXPECT_EQ(m_osxml.NodeChild(), OS_STS_NOMORE);  // a's property is no child
  EXPECT_EQ(Name(), "a");                         // and the cursor stays
  ASSERT_EQ(m_osxml.NodeNext(), OS_STS_SUCCESS);  // past a's property
  EXPECT_EQ(Name(), "b");
  ASSERT_EQ(m_osxml.NodePush(), OS_STS_SUCCESS);
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "c");
  EXPECT_EQ(m_osxml.NodeDepthGet(), 2);
  EXPECT_EQ(m_osxml.NodeNext(), OS_STS_NOMORE);  // d is shallower
  ASSERT_EQ(m_osxml.NodePop(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "b");
  ASSERT_EQ(m_osxml.NodeNext(), OS_STS_SUCCESS);  // past b's child
  EXPECT_EQ(Name(), "d");
  EXPECT_EQ(m_osxml.NodeNext(), OS_STS_NOMORE);  // s is outside r
  ASSERT_EQ(m_osxml.NodePop(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "r");
  EXPECT_EQ(m_osxml.NodePop(), OS_STS_SUCCESS);  // nothing at level 0
  EXPECT_EQ(Name(), "r");
  ASSERT_EQ(m_osxml.NodeNext(), OS_STS_SUCCESS);  // outermost siblings
  EXPECT_EQ(Name(), "s");
  EXPECT_EQ(m_osxml.NodeNext(), OS_STS_NOMORE);  // the end of the table
  EXPECT_EQ(m_osxml.NodeChild(), OS_STS_NOMORE);
  ASSERT_EQ(m_osxml.NodeRoot(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "r");
  EXPECT_EQ(m_osxml.NodeGetOsXmlAtom(), &Atom(0));
}

TEST_F(Xml, ChildSearchSkipsOwnPropertiesOnly) {
  ASSERT_EQ(Load("<r p='1' q='2'><c/></r>"), OS_STS_SUCCESS);
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "c");
  ASSERT_EQ(Load("<r><a/><b/></r>"), OS_STS_SUCCESS);
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.NodeChild(), OS_STS_NOMORE);  // b is a sibling, not a child
}

TEST_F(Xml, TheCursorStackHas64Levels) {
  ASSERT_EQ(Load("<a>x</a>"), OS_STS_SUCCESS);
  for (int l_i = 0; l_i < 63; ++l_i) ASSERT_EQ(m_osxml.NodePush(), OS_STS_SUCCESS) << l_i;
  EXPECT_EQ(Impl().m_lCurrentNode, 63);
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.NodePush(), OS_STS_TOOSMALL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A pod.m_lCurrentNode is in trouble...63")) << Lines();
  EXPECT_EQ(Name(), "a");
  for (int l_i = 0; l_i < 63; ++l_i) ASSERT_EQ(m_osxml.NodePop(), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lCurrentNode, 0);
  EXPECT_EQ(Impl().m_aposxmlatomNode[1], nullptr);
  // A level that can no longer be right is reported, not used.
  Impl().m_lCurrentNode = 64;
  EXPECT_EQ(m_osxml.NodePop(), OS_STS_TOOSMALL);
  EXPECT_EQ(m_osxml.NodeParent(), nullptr);
  EXPECT_EQ(m_osxml.NodeGetOsXmlAtom(), nullptr);
  EXPECT_EQ(m_osxml.NodeNext(), OS_STS_NOMORE);
  Impl().m_lCurrentNode = 0;
}

TEST_F(Xml, NamesAndData) {
  ASSERT_EQ(Load("<abc>data</abc>"), OS_STS_SUCCESS);
  char l_sz[8] = "#";
  EXPECT_EQ(m_osxml.NodeNameGet(l_sz, 4), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "abc");
  EXPECT_EQ(m_osxml.NodeNameGet(l_sz, 3), OS_STS_TOOSMALL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(m_osxml.NodeNameGet(nullptr, 4), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_szName is null...")) << Lines();
  EXPECT_EQ(m_osxml.NodeNameGet(l_sz, 0), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_lName is too small...0")) << Lines();
  EXPECT_EQ(m_osxml.NodeNameGet(l_sz, -5), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_lName is too small...-5")) << Lines();

  EXPECT_EQ(m_osxml.NodeDataGet(l_sz, 5), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "data");
  EXPECT_EQ(m_osxml.NodeDataGet(l_sz, 4), OS_STS_TOOSMALL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(m_osxml.NodeDataGet(nullptr, 4), OS_STS_FAIL);
  std::int32_t l_lOffset = -1;
  std::int32_t l_lSize = -1;
  EXPECT_EQ(m_osxml.NodeDataOffsetGet(&l_lOffset, &l_lSize), OS_STS_SUCCESS);
  EXPECT_EQ(l_lOffset, 5);
  EXPECT_EQ(l_lSize, 4);
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.NodeDataOffsetGet(nullptr, &l_lSize), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_plOffset is null...")) << Lines();
  EXPECT_EQ(m_osxml.NodeDataOffsetGet(&l_lOffset, nullptr), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_plSize is null...")) << Lines();
}

TEST_F(Xml, PropertiesOfTheCurrentElement) {
  ASSERT_EQ(Load("<r id='7' name='long value'><c id='8'/></r>"), OS_STS_SUCCESS);
  EXPECT_EQ(Property("id"), "7");
  EXPECT_EQ(Property("name"), "long value");
  char l_sz[11] = "#";
  EXPECT_EQ(m_osxml.NodePropertyGet("name", l_sz, 10), OS_STS_TOOSMALL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(m_osxml.NodePropertyGet("name", l_sz, 11), OS_STS_SUCCESS);
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.NodePropertyGet("other", l_sz, 11), OS_STS_FAIL);  // not found: no message
  EXPECT_TRUE(m_vecLines.empty()) << Lines();
  EXPECT_STREQ(l_sz, "");
  // The stored name is compared with the start of the one asked for.
  EXPECT_EQ(Property("identity"), "7");
  EXPECT_EQ(Property("i"), "<none>");
  // A child's properties are not its parent's, and the other way round.
  ASSERT_EQ(Load("<r><c id='8'/></r>"), OS_STS_SUCCESS);
  EXPECT_EQ(Property("id"), "<none>");
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);
  EXPECT_EQ(Property("id"), "8");

  EXPECT_EQ(m_osxml.NodePropertyGet(nullptr, l_sz, 4), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_szProperty is null...")) << Lines();
  EXPECT_EQ(m_osxml.NodePropertyGet("id", nullptr, 4), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_szValue is null...")) << Lines();
  EXPECT_EQ(m_osxml.NodePropertyGet("id", l_sz, 0), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_lValue is too small...0")) << Lines();
}

TEST_F(Xml, QueriesWithoutADocument) {
  char l_sz[8] = "#";
  std::int32_t l_l = 0;
  auto l_expectAsked = [&](const char* a_szWhat) {
    EXPECT_TRUE(Logged("os_cosxml_node.cpp A Must call COsXmlImpl::Load first...")) << a_szWhat << "\n" << Lines();
    m_vecLines.clear();
  };
  EXPECT_EQ(m_osxml.NodeRoot(), OS_STS_FAIL);
  l_expectAsked("NodeRoot");
  EXPECT_EQ(m_osxml.NodePush(), OS_STS_FAIL);
  l_expectAsked("NodePush");
  EXPECT_EQ(m_osxml.NodePop(), OS_STS_FAIL);
  l_expectAsked("NodePop");
  EXPECT_EQ(m_osxml.NodeNext(), OS_STS_FAIL);
  l_expectAsked("NodeNext");
  EXPECT_EQ(m_osxml.NodeChild(), OS_STS_FAIL);
  l_expectAsked("NodeChild");
  EXPECT_EQ(m_osxml.NodeParent(), nullptr);
  l_expectAsked("NodeParent");
  EXPECT_EQ(m_osxml.NodeGetOsXmlAtom(), nullptr);
  l_expectAsked("NodeGetOsXmlAtom");
  EXPECT_EQ(m_osxml.NodeDepthGet(), -1);
  l_expectAsked("NodeDepthGet");
  // The readers answer "no current atom" with an empty copy.
  EXPECT_EQ(m_osxml.NodeNameGet(l_sz, 8), OS_STS_NOMORE);
  EXPECT_STREQ(l_sz, "");
  l_expectAsked("NodeNameGet");
  EXPECT_EQ(m_osxml.NodePropertyGet("a", l_sz, 8), OS_STS_NOMORE);
  l_expectAsked("NodePropertyGet");
  EXPECT_EQ(m_osxml.NodeDataGet(l_sz, 8), OS_STS_NOMORE);
  l_expectAsked("NodeDataGet");
  EXPECT_EQ(m_osxml.NodeDataOffsetGet(&l_l, &l_l), OS_STS_NOMORE);
  l_expectAsked("NodeDataOffsetGet");
  EXPECT_EQ(m_osxml.NodeNameAcquire(), nullptr);
  l_expectAsked("NodeNameAcquire");
  EXPECT_EQ(m_osxml.NodeDataAcquire(), nullptr);
  l_expectAsked("NodeDataAcquire");
  EXPECT_EQ(m_osxml.NodeNameRelease(), OS_STS_FAIL);  // nothing acquired
  EXPECT_EQ(m_osxml.NodeDataRelease(), OS_STS_FAIL);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("a", l_sz, 8), OS_STS_NOMORE);
}

TEST_F(Xml, InPlaceAccessRestoresTheText) {
  const std::string l_s = "<r><n k='v'>text</n><c><![CDATA[a<b]]></c><s/>after</r>";
  ASSERT_EQ(Load(l_s), OS_STS_SUCCESS);
  const std::string l_sCopy = Impl().m_szText;
  ASSERT_EQ(m_osxml.NodePush(), OS_STS_SUCCESS);
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);
  struct Expect {
    const char* m_szName;
    const char* m_szData;
  };
  for (const Expect& l_expect : {Expect{"n", "text"}, Expect{"c", "a<b"}, Expect{"s", ""}}) {
    SCOPED_TRACE(l_expect.m_szName);
    // Both kinds at once, as the dispatch hands them to a callback.
    const char* const l_szName = m_osxml.NodeNameAcquire();
    const char* const l_szData = m_osxml.NodeDataAcquire();
    ASSERT_NE(l_szName, nullptr);
    ASSERT_NE(l_szData, nullptr);
    EXPECT_STREQ(l_szName, l_expect.m_szName);
    EXPECT_STREQ(l_szData, l_expect.m_szData);
    EXPECT_EQ(m_osxml.NodeDataRelease(), OS_STS_SUCCESS);
    EXPECT_EQ(m_osxml.NodeNameRelease(), OS_STS_SUCCESS);
    // The self-closing <s/> is followed by text, which stays as it was.
    EXPECT_EQ(std::string(Impl().m_szText), l_sCopy);
    m_osxml.NodeNext();
  }
  EXPECT_EQ(m_osxml.NodeNameRelease(), OS_STS_FAIL);  // already released
  // A self-closing element at the very end of the text.
  ASSERT_EQ(Load("<r/><abcd/"), OS_STS_SUCCESS);
  ASSERT_EQ(m_osxml.NodeNext(), OS_STS_SUCCESS);
  EXPECT_EQ(Atom(1).szData, 11);  // one past the terminator
  ASSERT_NE(m_osxml.NodeDataAcquire(), nullptr);
  EXPECT_EQ(m_osxml.NodeDataRelease(), OS_STS_SUCCESS);
  EXPECT_EQ(Data(), "");
}

TEST_F(Xml, TheObjectAndItsImplementation) {
  std::vector<std::string> l_vecLines;
  OsHostLogCapture(&l_vecLines);
  OsHostLogSetDebug(0x4);
  COsXml* const l_posxml = OsMemNew(COsXml, "COsXml");
  ASSERT_NE(l_posxml, nullptr);
  ASSERT_NE(l_posxml->m_posxmlimpl, nullptr);
  EXPECT_EQ(l_posxml->m_posxmlimpl->m_posxmlOwner, l_posxml);
  EXPECT_EQ(l_posxml->m_posxmlimpl->m_lAtomGrowth, 256);
  EXPECT_EQ(l_posxml->m_posxmlimpl->m_lCallbackGrowth, 256);
  EXPECT_EQ(l_posxml->StateGet(), OS_XML_STATE_FREE);
  char l_szImpl[64];
  std::snprintf(l_szImpl, sizeof(l_szImpl), "%p", static_cast<void*>(l_posxml->m_posxmlimpl));
  int l_iImplSize = static_cast<int>(sizeof(COsXmlImpl));
  char l_szNew[128];
  std::snprintf(l_szNew, sizeof(l_szNew), "os_cosxml.cpp . mem>>> addr:%s  size:%7d  new COsXmlImpl", l_szImpl,
                l_iImplSize);
  ASSERT_EQ(l_posxml->Load("<a>b</a>"), OS_STS_SUCCESS);
  OsMemDelete(l_posxml);
  OsHostLogSetDebug(0);
  OsHostLogCapture(&m_vecLines);
  bool l_bNew = false;
  bool l_bDelete = false;
  for (const std::string& l_s : l_vecLines) {
    l_bNew |= l_s == l_szNew;
    l_bDelete |= l_s == std::string("os_cosxml.cpp . mem>>> addr:") + l_szImpl + " delete-object";
  }
  EXPECT_TRUE(l_bNew) << l_szNew;
  EXPECT_TRUE(l_bDelete);

  // Without an implementation every operation says so and fails.
  COsXml l_osxml;
  OsMemDelete(l_osxml.m_posxmlimpl);
  l_osxml.m_posxmlimpl = nullptr;
  m_vecLines.clear();
  char l_sz[4];
  std::int32_t l_l = 0;
  EXPECT_EQ(l_osxml.Load("<a>b</a>"), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.Load("<a>b</a>", 8), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.Clear(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.StateGet(), OS_XML_STATE_NONE);
  EXPECT_EQ(l_osxml.StateSetSkip(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.AtomGrowthSet(512), 0);
  EXPECT_EQ(l_osxml.CallbackGrowthSet(512), 0);
  EXPECT_EQ(l_osxml.Dump(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeRoot(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodePush(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodePop(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeNext(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeChild(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeParent(), nullptr);
  EXPECT_EQ(l_osxml.NodeGetOsXmlAtom(), nullptr);
  EXPECT_EQ(l_osxml.NodeDepthGet(), -1);
  EXPECT_EQ(l_osxml.NodeNameGet(l_sz, 4), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodePropertyGet("a", l_sz, 4), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeDataGet(l_sz, 4), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeDataOffsetGet(&l_l, &l_l), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.DeclarationPropertyGet("a", l_sz, 4), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeNameAcquire(), nullptr);
  EXPECT_EQ(l_osxml.NodeNameRelease(), OS_STS_FAIL);
  EXPECT_EQ(l_osxml.NodeDataAcquire(), nullptr);
  EXPECT_EQ(l_osxml.NodeDataRelease(), OS_STS_FAIL);
  ASSERT_EQ(m_vecLines.size(), 25u);
  for (const std::string& l_s : m_vecLines) EXPECT_EQ(l_s, "os_cosxml.cpp A xml>>> m_posxmlimpl is null...");
}

TEST(OsXmlContains, NeedlesAndLimits) {
  EXPECT_EQ(OsXmlContains("<task><id>1</id></task>", "<id>", -1), 1);
  EXPECT_EQ(OsXmlContains("<task><id>1</id></task>", "<name>", -1), 0);
  EXPECT_EQ(OsXmlContains("<task><id>1</id></task>", "<id>", 10), 1);
  EXPECT_EQ(OsXmlContains("<task><id>1</id></task>", "<id>", 9), 0);  // cut by the limit
  EXPECT_EQ(OsXmlContains("<task><id>1</id></task>", "<task>", 6), 1);
  EXPECT_EQ(OsXmlContains("abc", "abc", 1000), 1);  // a limit beyond the text
  EXPECT_EQ(OsXmlContains("abc", "abcd", 1000), 0);
  EXPECT_EQ(OsXmlContains("aab", "ab", -1), 1);  // a match inside a partial one
  EXPECT_EQ(OsXmlContains("aab", "ab", 3), 1);
  EXPECT_EQ(OsXmlContains("abc", "a", 0), 0);
  // An empty needle is found only in an empty text.
  EXPECT_EQ(OsXmlContains("", "", -1), 1);
  EXPECT_EQ(OsXmlContains("a", "", -1), 0);
  EXPECT_EQ(OsXmlContains(nullptr, "a", -1), 0);
  EXPECT_EQ(OsXmlContains("a", nullptr, -1), 0);
}

TEST(OsXmlContains, BothNeedles) {
  const char* const l_sz = "<msg><type>scan</type><id>9</id></msg>";
  EXPECT_EQ(OsXmlContainsBoth(l_sz, "<type>scan", "<id>", -1), 1);
  EXPECT_EQ(OsXmlContainsBoth(l_sz, "<type>scan", "<name>", -1), 0);
  EXPECT_EQ(OsXmlContainsBoth(l_sz, "<name>", "<id>", -1), 0);
  EXPECT_EQ(OsXmlContainsBoth(l_sz, "<type>", "<id>", 25), 0);  // <id> ends past 25
  EXPECT_EQ(OsXmlContainsBoth(l_sz, "<type>", "<id>", 26), 1);
  EXPECT_EQ(OsXmlContainsBoth(l_sz, nullptr, "<id>", -1), 0);
}

}  // namespace
