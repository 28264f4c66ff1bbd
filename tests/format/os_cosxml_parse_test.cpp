// The reader's parser: the atoms and their offsets, properties, CDATA,
// nesting and the depth limit, declarations, every refusal with its message
// and position, table growth and reuse, the states and the dump.
#include "os_cosxml_fixture.h"

namespace {

void ExpectAtom(const OsXmlAtom& a_atom, EOSXMLTYPE a_eosxmltype, int a_iDepth, int a_iIndex, int a_iName,
                int a_iNameLength, int a_iData, int a_iDataLength) {
  EXPECT_EQ(a_atom.eosxmltype, a_eosxmltype);
  EXPECT_EQ(a_atom.lDepth, a_iDepth);
  EXPECT_EQ(a_atom.lIndex, a_iIndex);
  EXPECT_EQ(a_atom.szName, a_iName);
  EXPECT_EQ(a_atom.lName, a_iNameLength);
  EXPECT_EQ(a_atom.szData, a_iData);
  EXPECT_EQ(a_atom.lData, a_iDataLength);
  EXPECT_EQ(a_atom.pCallbacks, nullptr);
}

TEST_F(Xml, AtomsAndOffsets) {
  ASSERT_EQ(Load("<a>hi</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAtomsInUse, 1);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 3, 2);
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_LOADED);
  EXPECT_EQ(m_osxml.NodeGetOsXmlAtom(), &Atom(0));

  ASSERT_EQ(Load("<a><b>t</b></a>"), OS_STS_SUCCESS);
  ASSERT_EQ(Impl().m_lAtomsInUse, 2);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 3, 8);
  EXPECT_EQ(DataOf(Atom(0)), "<b>t</b>");
  ExpectAtom(Atom(1), OS_XML_TYPE_TAG, 1, 1, 4, 1, 6, 1);

  // Leading white space is dropped and offsets count from the first '<'.
  ASSERT_EQ(Load(" \t\r\n<a>hi</a>"), OS_STS_SUCCESS);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 3, 2);
  EXPECT_EQ(Impl().m_szText, std::string("<a>hi</a>"));

  // Several outermost elements, and text outside them, are accepted.
  ASSERT_EQ(Load("<a/>text<bb>x</bb> tail"), OS_STS_SUCCESS);
  ASSERT_EQ(Impl().m_lAtomsInUse, 2);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 4, 0);
  ExpectAtom(Atom(1), OS_XML_TYPE_TAG, 0, 1, 9, 2, 12, 1);

  // No entity is decoded: the data is the raw text.
  ASSERT_EQ(Load("<a>&lt;&amp;&#65;</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "&lt;&amp;&#65;");
}

TEST_F(Xml, TheLengthAndTheTerminatorBoundTheText) {
  const std::string l_s = "<a>hi</a><b>";
  ASSERT_EQ(m_osxml.Load(l_s.c_str(), 9), OS_STS_SUCCESS);  // <b> lies beyond the length
  EXPECT_EQ(Impl().m_lAtomsInUse, 1);
  const char l_szNul[] = "<a>hi</a>\0<b>";
  ASSERT_EQ(m_osxml.Load(l_szNul, sizeof(l_szNul) - 1), OS_STS_SUCCESS);  // stops at the NUL
  EXPECT_EQ(Impl().m_lAtomsInUse, 1);
  ASSERT_EQ(m_osxml.Load("<a>hi</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "hi");
}

TEST_F(Xml, Properties) {
  ASSERT_EQ(Load("<a x='1' y='22'/>"), OS_STS_SUCCESS);
  ASSERT_EQ(Impl().m_lAtomsInUse, 3);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 17, 0);
  ExpectAtom(Atom(1), OS_XML_TYPE_PROPERTY, 0, 1, 3, 1, 6, 1);
  ExpectAtom(Atom(2), OS_XML_TYPE_PROPERTY, 0, 2, 9, 1, 12, 2);

  // Properties follow their element and carry its depth; values may hold
  // markup characters and double quotes.
  ASSERT_EQ(Load("<r><c k='<b>' q='\"=\"'><d/>t</c></r>"), OS_STS_SUCCESS);
  ASSERT_EQ(Impl().m_lAtomsInUse, 5);
  EXPECT_EQ(Atom(1).eosxmltype, OS_XML_TYPE_TAG);
  ExpectAtom(Atom(2), OS_XML_TYPE_PROPERTY, 1, 2, 6, 1, 9, 3);
  EXPECT_EQ(DataOf(Atom(3)), "\"=\"");
  EXPECT_EQ(Atom(3).lDepth, 1);
  ExpectAtom(Atom(4), OS_XML_TYPE_TAG, 2, 4, 23, 1, 26, 0);
  EXPECT_EQ(DataOf(Atom(1)), "<d/>t");

  // An element with properties and content.
  ASSERT_EQ(Load("<a k='v'>data</a>"), OS_STS_SUCCESS);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 9, 4);
}

TEST_F(Xml, PropertyRefusals) {
  ExpectAbort("<a x=\"1\"/>", "XML abort...can't find ' after '=' in property (spaces after = not allowed). pos=<5>");
  ExpectAbort("<a x= '1'/>", "XML abort...can't find ' after '=' in property (spaces after = not allowed). pos=<5>");
  ExpectAbort("<a x=''/>", "XML abort...can't find closing ' in property data.  pos=<6>");
  ExpectAbort("<a x='abc", "XML abort...can't find closing ' in property data.  pos=<6>");
  ExpectAbort("<a x/>    ", "XML abort...can't find '=' in property. pos=<3>");
  ExpectAbort("<a ='1'/>", "XML abort...can't find '=' in property. pos=<3>");
  // A space is no white space before '>' or '/>' or after the name.
  ExpectAbort("<a x='1' >t</a>", "XML abort...can't find '=' in property. pos=<9>");
  ExpectAbort("<a >text</a>", "XML abort...can't find '=' in property. pos=<3>");
  ExpectAbort("<a x='1'y='2'/>", "XML abort...expected closing bracket '>' or '/>'.  pos=<8>");
  ExpectAbort("<a x='1'", "XML abort...expected closing bracket '>' or '/>'.  pos=<8>");
}

TEST_F(Xml, Cdata) {
  ASSERT_EQ(Load("<a><![CDATA[x<y]]></a>"), OS_STS_SUCCESS);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 12, 3);
  EXPECT_EQ(DataOf(Atom(0)), "x<y");
  ASSERT_EQ(Load("<a><![CDATA[]]></a>"), OS_STS_SUCCESS);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 12, 0);
  // A longer run of ']' ends at its last two.
  ASSERT_EQ(Load("<a><![CDATA[x]]]]></a>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "x]]");
  // Markup inside is content, not elements.
  ASSERT_EQ(Load("<a><![CDATA[</a><b k='1'>]]></a>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAtomsInUse, 1);
  EXPECT_EQ(DataOf(Atom(0)), "</a><b k='1'>");
  // Text around the section is not part of the data.
  ASSERT_EQ(Load("<a>pre<![CDATA[x]]>post</a>"), OS_STS_SUCCESS);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 1, 1, 15, 1);
  // The section belongs to the innermost open element.
  ASSERT_EQ(Load("<a><b><![CDATA[in]]></b>mid</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "<b><![CDATA[in]]></b>mid");
  EXPECT_EQ(DataOf(Atom(1)), "in");
  ASSERT_EQ(Load("<a k='v'><![CDATA[z]]></a>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "z");
}

TEST_F(Xml, AdjacentCdataSectionsAreOneValue) {
  // A value holding "]]>" is split inside it into adjacent sections; the text
  // stays as written, so the parent's raw data is unchanged.
  const std::string l_s =
      "<r><a><![CDATA[x]]]]><![CDATA[>y]]><![CDATA[]]><![CDATA[z]]></a><b><![CDATA[q]]><![CDATA[w]]></b></r>";
  ASSERT_EQ(Load(l_s), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), l_s.substr(3, l_s.size() - 7));
  // Each joined value keeps its own terminator: one held in place does not
  // cut the next.
  ASSERT_EQ(m_osxml.NodeChild(), OS_STS_SUCCESS);
  ASSERT_STREQ(m_osxml.NodeDataAcquire(), "x]]>yz");
  ASSERT_EQ(m_osxml.NodeNext(), OS_STS_SUCCESS);
  EXPECT_EQ(Data(), "qw");
  EXPECT_EQ(m_osxml.NodeDataRelease(), OS_STS_SUCCESS);
  // Sections apart are not joined: the last one is the data.
  ASSERT_EQ(Load("<a><![CDATA[x]]> <![CDATA[y]]></a>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "y");
  // Values of many small sections outgrow the copy: it grows a few times, not
  // once per growth step of their length (each growth copies the whole
  // text), and keeps the text and every value.
  std::string l_sSections;
  for (int l_i = 0; l_i < 20000; ++l_i) l_sSections += "<![CDATA[x]]>";
  const std::string l_sMany = "<r><a>" + l_sSections + "</a><b>" + l_sSections + "</b></r>";
  const std::uint64_t l_u64Allocations = OsHostMemAllocations();
  ASSERT_EQ(Load(l_sMany), OS_STS_SUCCESS);
  EXPECT_LT(OsHostMemAllocations() - l_u64Allocations, 8u);
  EXPECT_EQ(DataOf(Atom(1)), std::string(20000, 'x'));
  EXPECT_EQ(DataOf(Atom(2)), std::string(20000, 'x'));
  EXPECT_EQ(Text(0, static_cast<std::int32_t>(l_sMany.size())), l_sMany);
  // So does a reused copy that ends right behind the text.
  std::string l_sTight = "<a><![CDATA[x]]><![CDATA[y]]></a>";
  l_sTight.insert(3, static_cast<std::size_t>(Impl().m_lTextCapacity) - 1 - l_sTight.size(), ' ');
  ASSERT_EQ(Load(l_sTight), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "xy");
}

TEST_F(Xml, CdataRefusals) {
  ExpectAbort("<a><!-- c --></a>", "XML abort...invalid CDATA section. pos=<3>");
  ExpectAbort("<!-- c --><a/>", "XML abort...invalid CDATA section. pos=<0>");
  ExpectAbort("<!DOCTYPE a><a/>", "XML abort...invalid CDATA section. pos=<0>");
  ExpectAbort("<a><![CDATA[</a>", "XML abort...nesting problem in document.");  // unterminated
  ExpectAbort("<a>xx<![CDATA[", "XML abort...invalid CDATA section. pos=<5>");  // nothing after it
  ExpectAbort("<a><![cdata[x]]></a>", "XML abort...invalid CDATA section. pos=<3>");
  // Outside every element there is nothing for the section to belong to.
  ExpectAbort("<![CDATA[x]]><a/>", "XML abort...invalid CDATA section. pos=<0>");
  ExpectAbort("<a/><![CDATA[x]]>", "XML abort...invalid CDATA section. pos=<4>");
}

TEST_F(Xml, NestingAndTheDepthLimit) {
  std::string l_s64;
  for (int l_i = 0; l_i < 64; ++l_i) l_s64 += "<e>";
  for (int l_i = 0; l_i < 64; ++l_i) l_s64 += "</e>";
  ASSERT_EQ(Load(l_s64), OS_STS_SUCCESS);
  ASSERT_EQ(Impl().m_lAtomsInUse, 64);
  for (int l_i = 0; l_i < 64; ++l_i) EXPECT_EQ(Atom(l_i).lDepth, l_i);
  EXPECT_EQ(Atom(63).lData, 0);
  EXPECT_EQ(Atom(62).lData, 7);

  std::string l_s65;
  for (int l_i = 0; l_i < 65; ++l_i) l_s65 += "<e>";
  for (int l_i = 0; l_i < 65; ++l_i) l_s65 += "</e>";
  ExpectAbort(l_s65, "XML abort...exceeded max tag depth. pos=<192>");
  // A self-closing element below the deepest level is refused too.
  std::string l_s = l_s64;
  l_s.insert(64 * 3, "<leaf/>");
  ExpectAbort(l_s, "XML abort...exceeded max tag depth. pos=<192>");

  // A closing tag is compared over the opening name's length only.
  ASSERT_EQ(Load("<ab>x</abc>"), OS_STS_SUCCESS);
  EXPECT_EQ(DataOf(Atom(0)), "x");
}

TEST_F(Xml, NestingRefusals) {
  ExpectAbort("<a><b></a></b>", "XML abort...tags out of synch (closing doesn't match opening) 4 8 14 <a><b></a></b>");
  ExpectAbort("<abc>x</ab>yyy", "XML abort...tags out of synch (closing doesn't match opening) 1 8 14 <abc>x</ab>yyy");
  ExpectAbort("<a></a></a>", "XML abort...more closing tags than opens. pos=<7>");
  ExpectAbort("</a><a></a>", "XML abort...more closing tags than opens. pos=<0>");
  ExpectAbort("<a><b></b>", "XML abort...nesting problem in document.");
  ExpectAbort("<abc>x</ab>", "XML abort...ran out of buffer.  pos=<6>");
  ExpectAbort("<a>text</>", "XML abort...didn't find '>' in closing tag.  pos=<7>");
  ExpectAbort("<a>text</a", "XML abort...didn't find '>' in closing tag.  pos=<7>");
  // Only the first 64 characters of the text are shown.
  const std::string l_sLong = "<a><b></a>" + std::string(100, 'x') + "</b>";
  ExpectAbort(l_sLong,
              "XML abort...tags out of synch (closing doesn't match opening) 4 8 114 " + l_sLong.substr(0, 64));
}

TEST_F(Xml, TagRefusals) {
  ExpectAbort("x<a>hi</a>", "XML abort...first char not <");
  ExpectAbort("        ", "XML abort...first char not <");
  ExpectAbort("<>hello", "XML abort...can't find ' ' or '>' or '/>' in tag. pos=<0>");
  ExpectAbort("<abcdefg", "XML abort...can't find ' ' or '>' or '/>' in tag. pos=<0>");
  ExpectAbort("<a>hi</a><", "XML abort...can't find ' ' or '>' or '/>' in tag. pos=<9>");

  // Before any parsing: a null text and fewer than 7 bytes.
  EXPECT_EQ(m_osxml.Load(nullptr, 100), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_parse.cpp A a_szDocument is null...")) << Lines();
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.Load(nullptr), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml.cpp A a_szDocument is null...")) << Lines();
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.Load("<a>b</a>", 6), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_parse.cpp A a_lDocumentLength is too small...")) << Lines();
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.Load("<a/>"), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_parse.cpp A a_lDocumentLength is too small...")) << Lines();
  // Leading white space makes a short element long enough.
  EXPECT_EQ(m_osxml.Load("   <a/>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.Load("<a/>\0\0\0", 7), OS_STS_SUCCESS);
}

TEST_F(Xml, AFailedLoadLeavesNothingUsable) {
  ASSERT_EQ(Load("<a><b k='1'>t</b></a>"), OS_STS_SUCCESS);
  ASSERT_EQ(m_osxml.StateGet(), OS_XML_STATE_LOADED);
  ExpectAbort("<a><b k='1'>t</b><c></a>",
              "XML abort...tags out of synch (closing doesn't match opening) 18 22 24 "
              "<a><b k='1'>t</b><c></a>");
  // The state keeps its value, but the cursor and the rows are gone.
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_LOADED);
  for (int l_i = 0; l_i < Impl().m_lAllocatedAtoms; ++l_i) EXPECT_EQ(Atom(l_i).eosxmltype, OS_XML_TYPE_UNDEFINED);
  for (OsXmlAtom* l_p : Impl().m_aposxmlatomNode) EXPECT_EQ(l_p, nullptr);
  m_vecLines.clear();
  EXPECT_EQ(m_osxml.NodeRoot(), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A Must call COsXmlImpl::Load first...")) << Lines();
  EXPECT_EQ(m_osxml.NodeGetOsXmlAtom(), nullptr);
  EXPECT_EQ(m_osxml.NodeDepthGet(), -1);
  EXPECT_EQ(Name(), "<none>");
  // The tables keep their capacity and the next load works.
  EXPECT_EQ(Impl().m_lAllocatedAtoms, 256);
  ASSERT_EQ(Load("<z>ok</z>"), OS_STS_SUCCESS);
  EXPECT_EQ(Name(), "z");
  // Argument refusals unload too.
  EXPECT_EQ(m_osxml.Load("<a/>", 4), OS_STS_FAIL);
  EXPECT_FALSE(Impl().IsLoaded());
}

TEST_F(Xml, Declarations) {
  char l_sz[32];
  ASSERT_EQ(Load("<?xml version='1.0'?><a/>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("xml version", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "1.0");
  ASSERT_EQ(Impl().m_lDeclarationsInUse, 1);
  ExpectAtom(Impl().m_posxmlatomDeclaration[0], OS_XML_TYPE_PROPERTY, 0, 0, 2, 11, 15, 3);
  EXPECT_EQ(Impl().m_lAtomsInUse, 1);
  ExpectAtom(Atom(0), OS_XML_TYPE_TAG, 0, 0, 22, 1, 25, 0);

  // LF, space and tab after "?>" are skipped; one space separates properties.
  ASSERT_EQ(Load("<?xml version='1.0' encoding='UTF-8'?>\n\t <a>v</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("encoding", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "UTF-8");
  // The stored name is compared with the start of the one asked for.
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("encoding-and-more", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("xml", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("encod", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("encoding", l_sz, 5), OS_STS_TOOSMALL);
  EXPECT_STREQ(l_sz, "");
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("encoding", l_sz, 6), OS_STS_SUCCESS);
  // A second space begins the next name.
  ASSERT_EQ(Load("<?x='1'  y='2'?><a/>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet(" y", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "2");
  // A declaration without elements loads; the cursor stands on an empty row.
  ASSERT_EQ(Load("<?a='1'?>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAtomsInUse, 0);
  EXPECT_EQ(m_osxml.NodeNext(), OS_STS_NOMORE);
  EXPECT_EQ(m_osxml.NodeChild(), OS_STS_NOMORE);

  // The table grows by 8 rows at a time.
  std::string l_s = "<?";
  for (int l_i = 0; l_i < 20; ++l_i)
    l_s += (l_i ? " p" : "p") + std::string(1, static_cast<char>('a' + l_i)) + "='" + std::to_string(l_i) + "'";
  ASSERT_EQ(Load(l_s + "?><a/>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAllocatedDeclarations, 24);
  EXPECT_EQ(Impl().m_lDeclarationsInUse, 20);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("pt", l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, "19");
  for (int l_i = 0; l_i < 20; ++l_i) EXPECT_EQ(Impl().m_posxmlatomDeclaration[l_i].lIndex, l_i);
  // A load without a declaration keeps the table but fills no row.
  ASSERT_EQ(Load("<a>x</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("pa", l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_EQ(Impl().m_posxmlatomDeclaration[0].eosxmltype, OS_XML_TYPE_UNDEFINED);
}

TEST_F(Xml, DeclarationRefusals) {
  ExpectAbort("<?xml?><a/>", "XML abort...didn't find '=' in property name. pos=<2>");
  ExpectAbort("<?=''?><a/>", "XML abort...didn't find '=' in property name. pos=<2>");
  ExpectAbort("<?x=\"1\"?><a/>", "XML abort...expected single quote. pos=<4>");
  ExpectAbort("<?x=''?><a/>", "XML abort...didn't find ending single quote in property. pos=<5>");
  ExpectAbort("<?x='1?><a/>", "XML abort...didn't find ending single quote in property. pos=<5>");
  ExpectAbort("<?x='1'><a/>", "XML abort...expected '?' character. pos=<7>");
  ExpectAbort("<?x='1'?<a/>", "XML abort...expected '>'. pos=<8>");
  ExpectAbort("<?x='1' ?><a/>", "XML abort...didn't find '=' in property name. pos=<8>");

  char l_sz[8];
  COsXml l_osxmlNever;  // never had a declaration
  ASSERT_EQ(l_osxmlNever.Load("<a>x</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(l_osxmlNever.DeclarationPropertyGet("x", l_sz, sizeof(l_sz)), OS_STS_NOMORE);
  ASSERT_EQ(Load("<a>x</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.DeclarationPropertyGet(nullptr, l_sz, sizeof(l_sz)), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_szProperty is null..."));
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("x", nullptr, 8), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_szValue is null..."));
  EXPECT_EQ(m_osxml.DeclarationPropertyGet("x", l_sz, 0), OS_STS_FAIL);
  EXPECT_TRUE(Logged("os_cosxml_node.cpp A a_lValue is too small...0"));
}

TEST_F(Xml, TableGrowthAndReuse) {
  std::string l_sBig = "<r>";
  for (int l_i = 0; l_i < 300; ++l_i) l_sBig += "<e k='" + std::to_string(l_i) + "'/>";
  l_sBig += "</r>";
  ASSERT_EQ(Load(l_sBig), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAtomsInUse, 601);
  EXPECT_EQ(Impl().m_lAllocatedAtoms, 768);
  EXPECT_EQ(DataOf(Atom(600)), "299");
  const char* const l_szCopy = Impl().m_szText;
  EXPECT_EQ(Impl().m_lTextCapacity, static_cast<int>(l_sBig.size()) + 256);

  // A smaller document reuses the copy and the table; rows it does not fill
  // are zero.
  ASSERT_EQ(Load("<a>x</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_szText, l_szCopy);
  EXPECT_EQ(Impl().m_lAllocatedAtoms, 768);
  for (int l_i = 1; l_i < 768; ++l_i) ASSERT_EQ(Atom(l_i).eosxmltype, OS_XML_TYPE_UNDEFINED) << l_i;

  // The growth step is taken from 256 up; smaller values are ignored.
  EXPECT_EQ(m_osxml.AtomGrowthSet(100), 256);
  EXPECT_EQ(m_osxml.AtomGrowthSet(1000), 256);
  EXPECT_EQ(m_osxml.AtomGrowthSet(255), 1000);
  EXPECT_EQ(m_osxml.CallbackGrowthSet(10), 256);
  EXPECT_EQ(m_osxml.CallbackGrowthSet(512), 256);
  EXPECT_EQ(m_osxml.CallbackGrowthSet(256), 512);
  std::string l_sHuge = "<r>";
  for (int l_i = 0; l_i < 1500; ++l_i) l_sHuge += "<e/>";
  l_sHuge += "</r>";
  ASSERT_EQ(Load(l_sHuge), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lAllocatedAtoms, 1768);
  // The copy was too small: a new one of the new step (the allocator may
  // hand out the freed address again, so the address proves nothing).
  EXPECT_EQ(Impl().m_lTextCapacity, static_cast<int>(l_sHuge.size()) + 1000);

  // A growth step that no table can take fails as out of memory (the copy
  // is made large enough first).
  std::string l_sMore = "<r>";
  for (int l_i = 0; l_i < 2000; ++l_i) l_sMore += "<e/>";
  l_sMore += "</r>";
  ASSERT_EQ(Load("<r/>" + std::string(l_sMore.size(), ' ')), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.AtomGrowthSet(INT32_MAX - 10), 1000);
  // Row 1768 is the first beyond the table: the element at 3 + 4 * 1767.
  ExpectAbort(l_sMore, "XML abort...out of memory. pos=<7071>");
  EXPECT_EQ(m_osxml.Load(l_sHuge.c_str()), OS_STS_TOOSMALL);  // nor the copy
  EXPECT_TRUE(Logged("os_cosxml_parse.cpp A OsMemAlloc failed...")) << Lines();
  EXPECT_FALSE(Impl().IsLoaded());
}

TEST_F(Xml, ClearAndStates) {
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_FREE);
  EXPECT_EQ(m_osxml.StateSetSkip(), OS_STS_SUCCESS);  // from free: quietly
  EXPECT_TRUE(m_vecLines.empty()) << Lines();
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_SKIP);
  ASSERT_EQ(Load("<a k='1'>x</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_LOADED);
  EXPECT_EQ(m_osxml.StateSetSkip(), OS_STS_SUCCESS);
  EXPECT_TRUE(Logged("os_cosxml.cpp E Setting to skip something that wasn't free...")) << Lines();
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_SKIP);

  ASSERT_EQ(Load("<a k='1'>x</a>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lTextCapacity, 14 + 256);
  EXPECT_EQ(m_osxml.Clear(), OS_STS_SUCCESS);
  EXPECT_EQ(m_osxml.StateGet(), OS_XML_STATE_FREE);
  EXPECT_EQ(Impl().m_lAtomsInUse, 0);
  EXPECT_EQ(Impl().m_lTextCapacity, 0);
  EXPECT_EQ(Impl().m_lCurrentNode, 0);
  EXPECT_FALSE(Impl().IsLoaded());
  EXPECT_EQ(Impl().m_lAllocatedAtoms, 256);  // memory is kept
  EXPECT_EQ(m_osxml.NodeRoot(), OS_STS_FAIL);
  // The next load takes a fresh copy and zeroes what the cleared one left.
  ASSERT_EQ(Load("<b>yy</b>"), OS_STS_SUCCESS);
  EXPECT_EQ(Impl().m_lTextCapacity, 9 + 256);  // sized for this text, not the cleared one
  EXPECT_EQ(Impl().m_lAtomsInUse, 1);
  EXPECT_EQ(Atom(1).eosxmltype, OS_XML_TYPE_UNDEFINED);
}

TEST_F(Xml, DumpFormat) {
  ASSERT_EQ(Load("<a x='1'/>"), OS_STS_SUCCESS);
  OsXmlCallbackSet l_set{};
  l_set.pvNameArg = &l_set;
  Impl().m_posxmlatom[1].pCallbacks = &l_set;
  testing::internal::CaptureStdout();
  EXPECT_EQ(m_osxml.Dump(), OS_STS_SUCCESS);
  const std::string l_sOut = testing::internal::GetCapturedStdout();
  Impl().m_posxmlatom[1].pCallbacks = nullptr;

  auto l_p = [](const void* a_pv) {
    char l_sz[64];
    std::snprintf(l_sz, sizeof(l_sz), "%p", a_pv);
    return std::string(l_sz);
  };
  const std::string l_sDashes(55, '-');
  std::string l_sExpected = "pod.m_lAllocatedAtoms=256\npod.m_lAtomsInUse=2\n";
  l_sExpected += "\nAtom 0:\n" + l_sDashes + "\nOsXmlAtom : this=0x" + l_p(&Atom(0)) +
                 "\neosxmltype=OS_XML_TYPE_TAG\nlDepth=0 lIndex=0\nszName,lName=1,1 \"a\"\nszData,lData=10,0 \"\"\n"
                 "pCallbacks=null\n" +
                 l_sDashes + "\n\n\n";
  l_sExpected +=
      "\nAtom 1:\n" + l_sDashes + "\nOsXmlAtom : this=0x" + l_p(&Atom(1)) +
      "\neosxmltype=OS_XML_TYPE_PROPERTY\nlDepth=0 lIndex=1\nszName,lName=3,1 \"x\"\nszData,lData=6,1 \"1\"\n"
      "pCallbacks=0x" +
      l_p(&l_set) + ":\n" + "\tpvObjectEnter=0x" + l_p(nullptr) + "\tosxmlcallbackfunctionEnter=0x" + l_p(nullptr) +
      "\n" + "\tpvObjectExit =0x" + l_p(nullptr) + "\tosxmlcallbackfunctionExit =0x" + l_p(nullptr) + "\n" +
      "\tpvObjectUnknown =0x" + l_p(nullptr) + "\tosxmlcallbackfunctionUnknown =0x" + l_p(nullptr) + "\n" +
      "\tpvObjectUnordered =0x" + l_p(nullptr) + "\tosxmlcallbackfunctionUnordered =0x" + l_p(nullptr) + "\n" +
      "\n\tpvNameArg=0x" + l_p(&l_set) + "\n" + l_sDashes + "\n\n\n";
  EXPECT_EQ(l_sOut, l_sExpected);

  // Without a text copy the offsets are shown alone; unknown kinds are named so.
  Impl().m_posxmlatom[0].eosxmltype = static_cast<EOSXMLTYPE>(9);
  char* const l_szText = Impl().m_szText;
  Impl().m_szText = nullptr;
  testing::internal::CaptureStdout();
  m_osxml.Dump();
  const std::string l_sBare = testing::internal::GetCapturedStdout();
  Impl().m_szText = l_szText;
  EXPECT_NE(l_sBare.find("eosxmltype=<<invalid>>\n"), std::string::npos) << l_sBare;
  EXPECT_NE(l_sBare.find("szName,lName=1 (szData=null)\nszData,lData=10 (szData=null)\n"), std::string::npos)
      << l_sBare;
}

}  // namespace
