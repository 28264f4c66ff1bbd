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
// A callback that tries to replace what its walk stands on: the statuses' sum.
EOSSTS Meddle(OsXmlCallback* a_p) {
  COsXml& l_osxml = *a_p->posxml;
  Record('m', a_p);
  return static_cast<EOSSTS>(l_osxml.Load("<z><y/></z>") + l_osxml.Clear() + l_osxml.DispatchLoad("<z/>", nullptr) +
                             l_osxml.DispatchRun(nullptr) + l_osxml.DispatchClear());
}

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
    s_vecSeen.clear();
    s_sTrace.clear();
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
  // A walk of a_szDocument; s_vecSeen and s_sTrace hold its calls.
  EOSSTS Run(const char* a_szDocument, void* a_pvUser = nullptr) {
    s_vecSeen.clear();
    s_sTrace.clear();
    return m_posxml->DispatchRun(a_szDocument, a_pvUser);
  }
  // Both cursors at their roots, and the document's text as it was loaded.
  void ExpectRestored(const char* a_szDocument) {
    COsXmlImpl& l_implTemplate = *Impl().m_posxmlTemplate->m_posxmlimpl;
    EXPECT_TRUE(Impl().m_lCurrentNode == 0 && Impl().m_aposxmlatomNode[0] == &Impl().m_posxmlatom[0]);
    EXPECT_TRUE(l_implTemplate.m_lCurrentNode == 0 &&
                l_implTemplate.m_aposxmlatomNode[0] == &l_implTemplate.m_posxmlatom[0]);
    EXPECT_STREQ(Impl().m_szText, a_szDocument);
  }
  COsXmlImpl& Impl() { return *m_posxml->m_posxmlimpl; }
  const OsXmlCallbackSet& RootSet() { return *Impl().m_posxmlTemplate->m_posxmlimpl->m_posxmlatom[0].pCallbacks; }
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
      // A template of one child wraps onto itself: no unordered call.
      {"<a unordered='o.o'><b enter='o.f'/></a>", "<a><b><![CDATA[1<]]></b><b>2</b></a>", "f:1:b:1<|f:1:b:2"},
      // Below a template element without children every child is unknown.
      {"<a enter='o.f' unknown='o.u'/>", "<a><x><z/></x><y>t</y></a>", "f:0:a:<x><z/></x><y>t</y>|u:1:x:<z/>|u:1:y:t"},
      // The outermost level: its own pairs, the following roots, no wrapping.
      {"<a enter='o.f'/><b enter='o.g' unordered='o.o' unknown='o.u'/>", "<b>x</b><a/>", "o:0:b:x|g:0:b:x|u:0:a:"},
  };
  int l_iUser = 0;
  void* const l_pvNameArg = reinterpret_cast<void*>(GetProcAddress(m_hPlug, "PlugN"));
  for (const auto& l_asz : l_aszCase) {
    SCOPED_TRACE(std::string(l_asz[0]) + " over " + l_asz[1]);
    ASSERT_EQ(m_posxml->DispatchLoad(l_asz[0], m_hPlug), OS_STS_SUCCESS);
    EXPECT_EQ(Run(l_asz[1], &l_iUser), OS_STS_SUCCESS);
    EXPECT_EQ(s_sTrace, l_asz[2]);
    // user='C_n' is looked up as a function too.
    for (const auto& [l_cFunction, l_call] : s_vecSeen)
      EXPECT_TRUE(l_call.pvObject == &m_iObject && l_call.posxml == m_posxml && l_call.pvUser == &l_iUser &&
                  l_call.pvNameArg == (l_asz[0] == l_szAB && l_cFunction == 'f' ? l_pvNameArg : nullptr));
    ExpectRestored(l_asz[1]);
  }
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
  const std::string l_sTooWide = "0x1" + std::string(2 * sizeof(void*), '0');  // one digit more than a pointer
  const std::pair<std::string, std::string> l_acase[] = {
      {"<a enter='p.f'/>",
       "could not find <p> in object list. Declare objects in DispatchAddObject() before calling DispatchLoad()"},
      {"<a><b exit='of'/></a>", "callback property must be 'object.function'..."},
      // A value too long to read is refused, not left unbound.
      {"<a enter='o." + std::string(130, 'f') + "'/>", "callback property must be 'object.function'..."},
      {"<a unknown='" + l_sTooWide + ".0x1'/>", "object <" + l_sTooWide + "> evaluates to NULL "},
      {"<a unordered='o.h'/>", "callback function <C_h> evaluates to NULL"},
      {"<a enter='o.0x0'/>", "callback function <0x0> evaluates to NULL"},
      {"<a user='C_zz'/>", "callback function <C_zz> evaluates to NULL"},
      {"<a><b></a>", "DocumentLoad failed..."},
      // Declarations only: no element to bind.
      {"<?xml version='1.0'?>", "NodeGetOsXmlAtom failed..."},
  };
  for (const auto& [l_sTemplate, l_sMessage] : l_acase) {
    SCOPED_TRACE(l_sTemplate);
    const std::size_t l_sizet = Count(l_sMessage);
    EXPECT_EQ(m_posxml->DispatchLoad(l_sTemplate.c_str(), m_hPlug), OS_STS_FAIL);
    EXPECT_EQ(Count(l_sMessage), l_sizet + 1);
  }
  EXPECT_EQ(m_posxml->DispatchLoad(nullptr, m_hPlug), OS_STS_FAIL);
  EXPECT_EQ(m_posxml->DispatchLoad(nullptr, 7, m_hPlug), OS_STS_FAIL);
  EXPECT_EQ(Count("a_szTemplate is null...") + Count("a_szTemplate is NULL..."), 2u);
}

// Every kind of call in one walk, the wrapping one among them (the second p,
// met after the template moved on to q); a 7 from any call ends the walk there.
TEST_F(Dispatch, ACallbackStatusEndsTheWalkWithTheCursorsAtTheirRoots) {
  AddObjects(*m_posxml);
  ASSERT_EQ(m_posxml->DispatchLoad("<a enter='o.f' exit='o.g' unordered='o.o' unknown='o.u'>"
                                   "<p enter='o.f' exit='o.g'/><q enter='o.f'/></a>",
                                   m_hPlug),
            OS_STS_SUCCESS);
  const char* const l_szDocument = "<a k='1'><p k='2'><z/></p><p/><q/><x/></a>";
  const std::string l_sAll =
      "f:0:a:<p k='2'><z/></p><p/><q/><x/>|f:1:p:<z/>|u:2:z:|g:1:p:<z/>|o:1:p:|f:1:p:|g:1:p:|f:1:q:|u:1:x:|"
      "g:0:a:<p k='2'><z/></p><p/><q/><x/>";
  for (std::size_t l_sizet = 0; l_sizet <= 10; ++l_sizet) {
    SCOPED_TRACE(l_sizet);
    s_sizetFailAt = l_sizet;
    EXPECT_EQ(Run(l_szDocument), l_sizet < 10 ? 7 : OS_STS_SUCCESS);
    EXPECT_EQ(s_vecSeen.size(), std::min<std::size_t>(l_sizet + 1, 10));
    EXPECT_EQ(s_sTrace, l_sAll.substr(0, s_sTrace.size()));
    ExpectRestored(l_szDocument);
  }
  // A document without elements, one that does not load, and then none at all.
  EXPECT_EQ(Run("<?xml version='1.0'?>"), OS_STS_NOMORE);
  EXPECT_EQ(Run("<a><b></a>"), OS_STS_FAIL);
  EXPECT_EQ(m_posxml->DispatchRun(nullptr), OS_STS_FAIL);
  EXPECT_EQ(Count("Must call COsXmlImpl::DocumentLoad first..."), 1u);
  EXPECT_TRUE(s_vecSeen.empty());
}

// Pointer-wide addresses bind without map or lookup (in the form with the
// library's own module), and the function of one, called, cannot load, clear
// or dispatch the document under its walk.
TEST_F(Dispatch, AddressesBindAndACallbackCannotReplaceItsDocument) {
  const bool l_b64 = sizeof(void*) == 8;
  ASSERT_EQ(m_posxml->DispatchLoad(((l_b64 ? "<a enter='0x123456789abc.0X2000' user='0xBEEF'/>"
                                           : "<a enter='0x12345678.0X2000' user='0xBEEF'/>") +
                                    ("<b><c enter='" + Hex(&m_iObject) + "." + Hex(reinterpret_cast<void*>(&Meddle)) +
                                     "'/></b>"))
                                       .c_str()),
            OS_STS_SUCCESS);
  EXPECT_TRUE(reinterpret_cast<std::uintptr_t>(RootSet().pvObjectEnter) == (l_b64 ? 0x123456789abcull : 0x12345678ull) &&
              reinterpret_cast<std::uintptr_t>(RootSet().osxmlcallbackfunctionEnter) == 0x2000u &&
              reinterpret_cast<std::uintptr_t>(RootSet().pvNameArg) == 0xBEEFu);
  EXPECT_EQ(Run("<b><c>1</c><c>2</c></b>"), 5);
  EXPECT_EQ(s_sTrace, "m:1:c:1");
  EXPECT_EQ(Count(OS_XML_WALKING_TEXT), 5u);
  ExpectRestored("<b><c>1</c><c>2</c></b>");
  EXPECT_EQ(m_posxml->DispatchClear(), OS_STS_SUCCESS);  // after the walk
}

TEST_F(Dispatch, TheObjectMapGrowsAtThe256thObject) {
  std::vector<std::string> l_vecNames;
  for (int l_i = 0; l_i < 256; ++l_i) l_vecNames.push_back("obj" + std::to_string(l_i));
  for (int l_i = 0; l_i < 255; ++l_i) {
    ASSERT_EQ(m_posxml->DispatchAddObject(l_vecNames[l_i].c_str(), "C", &m_iObject), 0);
    ASSERT_EQ(Impl().m_lObjectMapSize, 256);
  }
  // A growth without memory keeps the map as it was.
  OsMemFailAfter(0);
  EXPECT_EQ(m_posxml->DispatchAddObject(l_vecNames[255].c_str(), "C", &m_iDecoy), OS_STS_FAIL);
  OsMemFailAfter(-1);
  EXPECT_EQ(Count("OsMemAlloc failed..."), 1u);
  EXPECT_EQ(Impl().m_lObjectMapSize, 256);
  ASSERT_EQ(m_posxml->DispatchAddObject(l_vecNames[255].c_str(), "C", &m_iDecoy), 0);
  EXPECT_EQ(Impl().m_lObjectMapSize, 512);
  EXPECT_EQ(Count("xml>>> growing the dispatch object map...256 -> 512"), 2u);
  // The rows survived the move.
  ASSERT_EQ(m_posxml->DispatchLoad("<a enter='obj255.f' exit='obj1.g'/>", m_hPlug), OS_STS_SUCCESS);
  EXPECT_TRUE(RootSet().pvObjectEnter == &m_iDecoy && RootSet().pvObjectExit == &m_iObject);
}

TEST_F(Dispatch, ClearAndDestructionReleaseEverything) {
  const std::uint32_t l_u32Blocks = OsMemInstance()->m_posmemimpl->m_u32CC;
  COsXml* const l_posxml = OsMemNew(COsXml, "COsXml");
  ASSERT_NE(l_posxml, nullptr);
  AddObjects(*l_posxml);
  ASSERT_EQ(l_posxml->DispatchLoad("<a enter='o.f'/>", m_hPlug), OS_STS_SUCCESS);
  EXPECT_EQ(l_posxml->DispatchClear(), OS_STS_SUCCESS);
  EXPECT_EQ(l_posxml->DispatchRun("<a></a>", nullptr), OS_STS_FAIL);  // no template any more
  EXPECT_EQ(Count("Must call DispatchLoad first..."), 1u);
  EXPECT_EQ(l_posxml->DispatchLoad("<a enter='o.f'/>", m_hPlug), OS_STS_FAIL);  // nor objects
  AddObjects(*l_posxml);
  ASSERT_EQ(l_posxml->DispatchLoad("<a enter='o.f'/>", m_hPlug), OS_STS_SUCCESS);
  EXPECT_EQ(l_posxml->DispatchRun("<a></a>", nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(s_vecSeen.size(), 1u);
  // Destroyed bound: every block and the lookups' file object go.
  char l_szDeleted[64];
  SStrPrintf(l_szDeleted, sizeof(l_szDeleted), "mem>>> addr:%p delete-object",
             static_cast<void*>(l_posxml->m_posxmlimpl->m_posfileLibrary));
  const std::size_t l_sizetDeleted = Count(l_szDeleted);
  OsMemDelete(l_posxml);
  EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_u32CC, l_u32Blocks);
  EXPECT_EQ(Count(l_szDeleted), l_sizetDeleted + 1);
}

// The walk holds one cursor level more than the document's depth: the tests'
// recording dispatch walks 63 levels, and 64 end with the cursor's status.
TEST_F(Dispatch, TheCursorLimitEndsTheWalkOfADeepDocument) {
  for (int l_iDepth : {63, 64}) {
    OsXmlGen l_osxmlgen(7);
    std::vector<OsXmlGenElement> l_vecChain = {l_osxmlgen.Chain(l_iDepth)};
    OsXmlRecorder l_recorder;
    EXPECT_EQ(l_recorder.Walk(l_osxmlgen.Serialise(l_vecChain)), l_iDepth == 63 ? OS_STS_SUCCESS : OS_STS_TOOSMALL);
    const std::vector<OsXmlRecord> l_vecEnters = l_recorder.Enters();
    ASSERT_EQ(l_vecEnters.size(), 63u);
    for (std::int32_t l_l = 0; l_l < 63; ++l_l) EXPECT_EQ(l_vecEnters[l_l].m_lLevel, l_l);
  }
}

}  // namespace
