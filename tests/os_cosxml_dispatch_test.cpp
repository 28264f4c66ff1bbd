// The XML dispatch: templates bound to objects and to the functions of the
// tests' plug-in (os_cosxml_plug_x.dll, class C) by name, or by address,
// walked over documents; the object map, the failures, the end of a walk by
// a callback's status and the release of everything.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "os.h"
#include "os_cosmem_impl.h"
#include "os_cosxml_gen.h"
#include "os_cosxml_impl.h"
#include "os_cosxml_record.h"
#include "os_memnew.h"
#include "os_test_services.h"

namespace {

// The calls that reached the test (through the plug-in or directly), and
// their trace "f:level:name:data|..."; call number s_sizetFailAt answers 7.
std::vector<std::pair<char, OsXmlCallback>> s_vecSeen;
std::string s_sTrace;
std::size_t s_sizetFailAt = SIZE_MAX;

EOSSTS Record(char a_cFunction, OsXmlCallback* a_p) {
  s_sTrace += (s_sTrace.empty() ? "" : "|") + std::string(1, a_cFunction) + ":" + std::to_string(a_p->lLevel) + ":" +
              a_p->szName + ":" + a_p->szData;
  s_vecSeen.emplace_back(a_cFunction, *a_p);
  return s_vecSeen.size() - 1 == s_sizetFailAt ? static_cast<EOSSTS>(7) : OS_STS_SUCCESS;
}
EOSSTS Direct(OsXmlCallback* a_p) { return Record('d', a_p); }

std::string Hex(const void* a_pv) {
  char l_sz[32];
  std::snprintf(l_sz, sizeof(l_sz), "0x%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a_pv)));
  return l_sz;
}

typedef void (*PlugSetRecorder)(EOSSTS (*)(char, OsXmlCallback*));

class Dispatch : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("disptest", "application");
    m_wsLog = WDir() + L"\\dispatch.log";
    OsLogReconfigure(OsLogInstance(), OsTestUtf8(m_wsLog).c_str(), 1 | OS_LOG_INFO | OS_LOG_OPT_NOSTAMP, nullptr,
                     nullptr);
    OsLogSetAssertEcho(OsLogInstance(), false);
    Forget();
    s_sizetFailAt = SIZE_MAX;
    m_hPlug = LoadLibraryW(L"os_cosxml_plug_x.dll");
    ASSERT_NE(m_hPlug, nullptr);
    m_pfnSetRecorder = reinterpret_cast<PlugSetRecorder>(reinterpret_cast<void*>(GetProcAddress(m_hPlug, "PlugSetRecorder")));
    ASSERT_NE(m_pfnSetRecorder, nullptr);
    m_pfnSetRecorder(&Record);
    m_posxml = OsMemNew(COsXml, "COsXml");
    ASSERT_NE(m_posxml, nullptr);
  }
  void TearDown() override {
    OsMemDelete(m_posxml);
    if (m_pfnSetRecorder != nullptr) m_pfnSetRecorder(nullptr);
    if (m_hPlug != nullptr) FreeLibrary(m_hPlug);
    OsServicesTest::TearDown();
  }
  // "o" of class C; "oo" before it, which a binding of "o" must not take.
  void AddObjects(COsXml& a_osxml) {
    ASSERT_EQ(a_osxml.DispatchAddObject("oo", "C", &m_iDecoy), OS_STS_SUCCESS);
    ASSERT_EQ(a_osxml.DispatchAddObject("o", "C", &m_iObject), OS_STS_SUCCESS);
  }
  static void Forget() {
    s_vecSeen.clear();
    s_sTrace.clear();
  }
  COsXmlImpl& Impl() { return *m_posxml->m_posxmlimpl; }
  COsXmlImpl& TemplateImpl() { return *Impl().m_posxmlTemplate->m_posxmlimpl; }
  std::size_t Count(const std::string& a_s) { return Lines(a_s).size(); }

  HMODULE m_hPlug = nullptr;
  PlugSetRecorder m_pfnSetRecorder = nullptr;
  COsXml* m_posxml = nullptr;
  int m_iObject = 0;
  int m_iDecoy = 0;
};

TEST_F(Dispatch, NamesAreBoundAndTheWalkCallsInOrder) {
  AddObjects(*m_posxml);
  const char* const l_szAB = "<a enter='o.f' user='C_n'><b exit='o.g'/></a>";
  const char* const l_aszCase[][3] = {
      {l_szAB, "<a><b/></a>", "f:0:a:<b/>|g:1:b:"},
      // x goes to a's unknown pair (none) and the b inside it is never seen.
      {l_szAB, "<a><x><b/></x></a>", "f:0:a:<x><b/></x>"},
      {"<a enter='o.f' unknown='o.u'><b exit='o.g'/></a>", "<a><x><b/></x><b/></a>",
       "f:0:a:<x><b/></x><b/>|u:1:x:<b/>|g:1:b:"},
      {"<a exit='o.g'><b enter='o.f'/></a>", "<a><b/></a>", "f:1:b:|g:0:a:<b/>"},
      // The second p is found only after the template moved on to q and wrapped.
      {"<a unordered='o.o'><p enter='o.f'/><q enter='o.g'/></a>", "<a><p>1</p><p>2</p></a>", "f:1:p:1|o:1:p:2|f:1:p:2"},
      // A template of one child wraps onto itself: no unordered call.
      {"<a unordered='o.o'><b enter='o.f'/></a>", "<a><b><![CDATA[1<]]></b><b>2</b></a>", "f:1:b:1<|f:1:b:2"},
      // Below a template element without children every child is unknown.
      {"<a enter='o.f' unknown='o.u'/>", "<a><x><z/></x><y>t</y></a>", "f:0:a:<x><z/></x><y>t</y>|u:1:x:<z/>|u:1:y:t"},
      // The outermost level: its own pairs, no wrapping, the following roots.
      {"<a unknown='o.u'/>", "<z><a/></z>", "u:0:z:<a/>"},
      {"<a enter='o.f'/><b enter='o.g' unordered='o.o'/>", "<b>x</b>", "o:0:b:x|g:0:b:x"},
      {"<a enter='o.f'/>", "<a>1</a><a>2</a>", "f:0:a:1|f:0:a:2"},
  };
  int l_iUser = 0;
  for (const auto& l_asz : l_aszCase) {
    SCOPED_TRACE(std::string(l_asz[0]) + " over " + l_asz[1]);
    Forget();
    ASSERT_EQ(m_posxml->DispatchLoad(l_asz[0], m_hPlug), OS_STS_SUCCESS);
    ASSERT_EQ(m_posxml->Load(l_asz[1]), OS_STS_SUCCESS);
    EXPECT_EQ(m_posxml->DispatchRun(&l_iUser), OS_STS_SUCCESS);
    EXPECT_EQ(s_sTrace, l_asz[2]);
    // user='C_n' is looked up as a function too.
    void* const l_pvNameArg = reinterpret_cast<void*>(GetProcAddress(m_hPlug, "PlugN"));
    for (const auto& [l_cFunction, l_call] : s_vecSeen)
      EXPECT_TRUE(l_call.pvObject == &m_iObject && l_call.posxml == m_posxml && l_call.pvUser == &l_iUser &&
                  l_call.pvNameArg == (l_asz[0] == l_szAB && l_cFunction == 'f' ? l_pvNameArg : nullptr));
    // Every name and data terminated in place was given back.
    EXPECT_STREQ(Impl().m_szText, l_asz[1]);
  }
}

TEST_F(Dispatch, AddressesBindWithoutMapOrLookup) {
  const bool l_b64 = sizeof(void*) == 8;  // pointer-wide addresses
  ASSERT_EQ(m_posxml->DispatchLoad(l_b64 ? "<a enter='0x123456789abc.0X2000' user='0xBEEF'/>"
                                         : "<a enter='0x12345678.0X2000' user='0xBEEF'/>",
                                   nullptr),
            OS_STS_SUCCESS);
  const OsXmlCallbackSet& l_set = *TemplateImpl().m_posxmlatom[0].pCallbacks;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(l_set.pvObjectEnter), l_b64 ? 0x123456789abcull : 0x12345678ull);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(l_set.osxmlcallbackfunctionEnter), 0x2000u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(l_set.pvNameArg), 0xBEEFu);

  // Real addresses are called (the form with the library's own module).
  ASSERT_EQ(m_posxml->DispatchLoad(("<a enter='" + Hex(&m_iObject) + "." + Hex(reinterpret_cast<void*>(&Direct)) +
                                    "' user='" + Hex(&m_iDecoy) + "'/>")
                                       .c_str()),
            OS_STS_SUCCESS);
  EXPECT_EQ(m_posxml->DispatchRun("<a>t</a>", nullptr), OS_STS_SUCCESS);
  ASSERT_EQ(s_sTrace, "d:0:a:t");
  EXPECT_TRUE(s_vecSeen[0].second.pvObject == &m_iObject && s_vecSeen[0].second.pvNameArg == &m_iDecoy);
}

TEST_F(Dispatch, FailuresAreRefusedWithTheirMessage) {
  EXPECT_EQ(m_posxml->DispatchLoad("<a enter='o.f'/>", m_hPlug), OS_STS_FAIL);
  EXPECT_EQ(Count("Must call DispatchAddObject first (null list)..."), 1u);
  EXPECT_EQ(m_posxml->DispatchAddObject(nullptr, "C", &m_iObject) + m_posxml->DispatchAddObject("o", "", &m_iObject) +
                m_posxml->DispatchAddObject("o", "C", nullptr),
            3);
  EXPECT_EQ(Count("a_szObjectName is null or empty...") + Count("a_szClassName is null or empty...") +
                Count("a_pvDispatchObj is null..."),
            3u);
  AddObjects(*m_posxml);
  const std::pair<std::string, const char*> l_acase[] = {
      {"<a enter='p.f'/>",
       "could not find <p> in object list. Declare objects in DispatchAddObject() before calling DispatchLoad()"},
      {"<a><b exit='of'/></a>", "callback property must be 'object.function'..."},
      // A value too long to read is refused, not left unbound.
      {"<a enter='o." + std::string(130, 'f') + "'/>", "callback property must be 'object.function'..."},
      {"<a unknown='0x0.f'/>", "object <0x0> evaluates to NULL "},
      {"<a unordered='o.h'/>", "callback function <C_h> evaluates to NULL"},
      {"<a enter='o.0x0'/>", "callback function <0x0> evaluates to NULL"},
      {"<a user='C_zz'/>", "callback function <C_zz> evaluates to NULL"},
      {"<a><b></a>", "DocumentLoad failed..."},
  };
  for (const auto& [l_sTemplate, l_szMessage] : l_acase) {
    SCOPED_TRACE(l_sTemplate);
    const std::size_t l_sizet = Count(l_szMessage);
    EXPECT_EQ(m_posxml->DispatchLoad(l_sTemplate.c_str(), m_hPlug), OS_STS_FAIL);
    EXPECT_EQ(Count(l_szMessage), l_sizet + 1);
  }
  EXPECT_EQ(m_posxml->DispatchLoad(nullptr, m_hPlug), OS_STS_FAIL);
  EXPECT_EQ(m_posxml->DispatchLoad(nullptr, 7, m_hPlug), OS_STS_FAIL);
  EXPECT_EQ(Count("a_szTemplate is null...") + Count("a_szTemplate is NULL..."), 2u);
}

TEST_F(Dispatch, ACallbackStatusEndsTheWalkWithTheCursorsAtTheirRoots) {
  AddObjects(*m_posxml);
  ASSERT_EQ(m_posxml->DispatchLoad("<a enter='o.f'><b enter='o.g'><c enter='o.f'/></b></a>", m_hPlug), OS_STS_SUCCESS);
  s_sizetFailAt = 2;  // the call for c
  EXPECT_EQ(m_posxml->DispatchRun("<a><b><c/></b><b/></a>", nullptr), 7);
  EXPECT_EQ(s_sTrace, "f:0:a:<b><c/></b><b/>|g:1:b:<c/>|f:2:c:");
  EXPECT_EQ(Impl().m_lCurrentNode, 0);
  EXPECT_EQ(Impl().m_aposxmlatomNode[0], &Impl().m_posxmlatom[0]);
  EXPECT_EQ(TemplateImpl().m_lCurrentNode, 0);
  EXPECT_EQ(TemplateImpl().m_aposxmlatomNode[0], &TemplateImpl().m_posxmlatom[0]);
  EXPECT_STREQ(Impl().m_szText, "<a><b><c/></b><b/></a>");
  // Again, to its end; then a document that does not load, and none at all.
  Forget();
  s_sizetFailAt = SIZE_MAX;
  EXPECT_EQ(m_posxml->DispatchRun(nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(s_vecSeen.size(), 4u);
  EXPECT_EQ(m_posxml->DispatchRun("<a><b></a>", 10, nullptr), OS_STS_FAIL);
  EXPECT_EQ(m_posxml->DispatchRun(nullptr), OS_STS_FAIL);
  EXPECT_EQ(Count("Must call COsXmlImpl::DocumentLoad first..."), 1u);
  EXPECT_EQ(s_vecSeen.size(), 4u);
}

TEST_F(Dispatch, TheObjectMapGrowsAtThe256thObject) {
  std::vector<std::string> l_vecNames;
  for (int l_i = 0; l_i < 256; ++l_i) l_vecNames.push_back("obj" + std::to_string(l_i));
  for (int l_i = 0; l_i < 256; ++l_i) {
    EXPECT_EQ(Impl().m_lObjectMapSize, l_i == 0 ? 0 : 256);
    ASSERT_EQ(m_posxml->DispatchAddObject(l_vecNames[l_i].c_str(), "C", l_i == 255 ? &m_iDecoy : &m_iObject), 0);
  }
  EXPECT_EQ(Impl().m_lObjectMapSize, 512);
  EXPECT_EQ(Count("xml>>> growing the dispatch object map...256 -> 512"), 1u);
  // The rows survived the move.
  ASSERT_EQ(m_posxml->DispatchLoad("<a enter='obj255.f' exit='obj1.g'/>", m_hPlug), OS_STS_SUCCESS);
  EXPECT_EQ(TemplateImpl().m_posxmlatom[0].pCallbacks->pvObjectEnter, &m_iDecoy);
  EXPECT_EQ(TemplateImpl().m_posxmlatom[0].pCallbacks->pvObjectExit, &m_iObject);
}

TEST_F(Dispatch, ClearAndDestructionReleaseEverything) {
  const std::uint32_t l_u32Blocks = OsMemInstance()->m_posmemimpl->m_u32CC;
  COsXml* const l_posxml = OsMemNew(COsXml, "COsXml");
  ASSERT_NE(l_posxml, nullptr);
  COsXmlImpl& l_impl = *l_posxml->m_posxmlimpl;
  for (int l_i = 0; l_i < 2; ++l_i) {
    EXPECT_EQ(l_posxml->DispatchRun(nullptr), OS_STS_FAIL);  // no template (yet, or any more)
    AddObjects(*l_posxml);
    ASSERT_EQ(l_posxml->DispatchLoad("<a enter='o.f'/>", m_hPlug), OS_STS_SUCCESS);
    EXPECT_EQ(l_posxml->DispatchRun("<a></a>", nullptr), OS_STS_SUCCESS);
    if (l_i == 0) {
      EXPECT_EQ(l_posxml->DispatchClear(), OS_STS_SUCCESS);
    }
  }
  EXPECT_EQ(Count("Must call DispatchLoad first..."), 2u);
  EXPECT_EQ(s_vecSeen.size(), 2u);
  // Destroyed bound: every block and the lookups' file object go.
  char l_szDeleted[64];
  SStrPrintf(l_szDeleted, sizeof(l_szDeleted), "mem>>> addr:%p delete-object", static_cast<void*>(l_impl.m_posfileLibrary));
  const std::size_t l_sizetDeleted = Count(l_szDeleted);
  OsMemDelete(l_posxml);
  EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_u32CC, l_u32Blocks);
  EXPECT_EQ(Count(l_szDeleted), l_sizetDeleted + 1);
}

// The tests' recording dispatch over generated documents: every element is
// entered, in document order, with its level, name and data.
TEST_F(Dispatch, TheRecorderEntersEveryElementOfAGeneratedDocument) {
  for (std::uint32_t l_u32Seed = 1; l_u32Seed <= 30; ++l_u32Seed) {
    SCOPED_TRACE(l_u32Seed);
    OsXmlGen l_osxmlgen(l_u32Seed);
    std::vector<OsXmlGenElement> l_vecRoot = {l_osxmlgen.Forest(8, 80)[0]};
    const std::string l_sDocument = l_osxmlgen.Serialise(l_vecRoot);
    if (l_sDocument.size() < OS_XML_MIN_DOCUMENT) continue;
    std::vector<OsXmlRecord> l_vecExpected;
    auto l_fnPreOrder = [&](auto& a_fnSelf, const OsXmlGenElement& a_element, std::int32_t a_lLevel) -> void {
      l_vecExpected.push_back({'e', a_lLevel, a_element.m_sName, a_element.m_sData});
      for (const OsXmlGenElement& l_child : a_element.m_vecChildren) a_fnSelf(a_fnSelf, l_child, a_lLevel + 1);
    };
    l_fnPreOrder(l_fnPreOrder, l_vecRoot[0], 0);
    OsXmlRecorder l_recorder;
    ASSERT_EQ(l_recorder.Walk(l_sDocument), OS_STS_SUCCESS) << l_recorder.m_sTemplate;
    EXPECT_TRUE(l_recorder.Enters() == l_vecExpected) << l_sDocument;
    for (const OsXmlRecord& l_record : l_recorder.m_vecRecords) EXPECT_NE(l_record.m_cKind, 'u');
  }
  // The walk holds one cursor level more than the document's depth: 63
  // levels are walked, 64 end with the cursor's status, not a success.
  for (int l_iDepth : {63, 64}) {
    OsXmlGen l_osxmlgen(7);
    std::vector<OsXmlGenElement> l_vecChain = {l_osxmlgen.Chain(l_iDepth)};
    OsXmlRecorder l_recorder;
    EXPECT_EQ(l_recorder.Walk(l_osxmlgen.Serialise(l_vecChain)), l_iDepth == 63 ? OS_STS_SUCCESS : OS_STS_TOOSMALL);
    EXPECT_EQ(l_recorder.Enters().size(), 63u);
  }
}

}  // namespace
