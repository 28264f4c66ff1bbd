// The XML dispatch: templates bound to objects and to the functions of the
// tests' plug-in (os_cosxml_plug_x.dll, class C) by name, or by address,
// walked over documents; the object map, the failures, the end of a walk by
// a callback's status and the release of everything.
#include <windows.h>

#include <string>
#include <vector>

#include "os.h"
#include "os_cosmem_impl.h"
#include "os_cosxml_impl.h"
#include "os_memnew.h"
#include "os_test_services.h"

// The calls that reached the test through the plug-in, and their trace
// "f:level:name:data|..."; the run's argument points at the number of the
// call that answers 7.
std::vector<OsXmlCallback> s_vecSeen;
std::string s_sTrace;

extern "C" __declspec(dllexport) EOSSTS OsTestDispatchRecord(char a_cFunction, OsXmlCallback* a_p) {
  s_sTrace +=
      std::string(1, a_cFunction) + ":" + std::to_string(a_p->lLevel) + ":" + a_p->szName + ":" + a_p->szData + "|";
  s_vecSeen.push_back(*a_p);
  return s_vecSeen.size() - 1 == *static_cast<std::size_t*>(a_p->pvUser) ? static_cast<EOSSTS>(7) : OS_STS_SUCCESS;
}

namespace {

// A callback that tries to load, clear or dispatch the document under its
// walk: the statuses' sum.
EOSSTS Meddle(OsXmlCallback* a_p) {
  COsXml& l_osxml = *a_p->posxml;
  return static_cast<EOSSTS>(l_osxml.Load("<z><y/></z>") + l_osxml.Clear() + l_osxml.DispatchLoad("<z/>", nullptr) +
                             l_osxml.DispatchRun(nullptr) + l_osxml.DispatchClear());
}

class Dispatch : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("disptest", "application");
    LogTo(L"dispatch.log", OS_LOG_INFO);
    m_hPlug = LoadLibraryW(L"os_cosxml_plug_x.dll");
    ASSERT_NE(m_hPlug, nullptr);
    // "o" of class C; "oo" before it, which a binding of "o" must not take.
    m_u32Blocks = OsMemInstance()->m_posmemimpl->m_u32CC;
    m_posxml = OsMemNew(COsXml, "COsXml");
    ASSERT_EQ(m_posxml->DispatchAddObject("oo", "C", &m_iDecoy) + m_posxml->DispatchAddObject("o", "C", &m_iObject), 0);
  }
  // Destroyed, bound or not, the document gives every block and object back.
  void TearDown() override {
    OsMemDelete(m_posxml);
    EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_u32CC, m_u32Blocks);
    EXPECT_EQ(Count("  new "), Count(" delete-object"));
    FreeLibrary(m_hPlug);
    OsServicesTest::TearDown();
  }
  // A walk of a_szDocument whose call number a_sizetFailAt answers 7
  // (s_vecSeen and s_sTrace hold its calls), after which both cursors are at
  // their roots and the text is as it was loaded.
  EOSSTS Run(const char* a_szDocument, std::size_t a_sizetFailAt = SIZE_MAX) {
    s_vecSeen.clear();
    s_sTrace.clear();
    const EOSSTS l_eossts = m_posxml->DispatchRun(a_szDocument, &a_sizetFailAt);
    for (const COsXmlImpl* l_pimpl : {&Impl(), Impl().m_posxmlTemplate->m_posxmlimpl})
      EXPECT_TRUE(l_pimpl->m_lCurrentNode == 0 && l_pimpl->m_aposxmlatomNode[0] == &l_pimpl->m_posxmlatom[0])
          << a_szDocument;
    EXPECT_STREQ(Impl().m_szText, a_szDocument);
    return l_eossts;
  }
  COsXmlImpl& Impl() { return *m_posxml->m_posxmlimpl; }
  const OsXmlCallbackSet& RootSet() { return *Impl().m_posxmlTemplate->m_posxmlimpl->m_posxmlatom[0].pCallbacks; }

  HMODULE m_hPlug = nullptr;
  std::uint32_t m_u32Blocks = 0;
  COsXml* m_posxml = nullptr;
  int m_iObject = 0, m_iDecoy = 0;
};

TEST_F(Dispatch, NamesAreBoundAndTheWalkCallsInOrder) {
  const char* const l_szAB = "<a enter='o.f' user='C_n'><b exit='o.g'/></a>";
  const char* const l_aszCase[][3] = {
      {l_szAB, "<a><b/></a>", "f:0:a:<b/>|g:1:b:|"},
      // x goes to a's unknown pair (none) and the b inside it is never seen.
      {l_szAB, "<a><x><b/></x></a>", "f:0:a:<x><b/></x>|"},
      // A template of one child wraps onto itself: no unordered call.
      {"<a unordered='o.o'><b enter='o.f'/></a>", "<a><b><![CDATA[1<]]></b><b>2</b></a>", "f:1:b:1<|f:1:b:2|"},
      // The outermost level: its own pairs, the following roots, no wrapping.
      {"<a enter='o.f'/><b enter='o.g' unordered='o.o' unknown='o.u'/>", "<b>x</b><a/>", "o:0:b:x|g:0:b:x|u:0:a:|"},
  };
  void* const l_pvNameArg = reinterpret_cast<void*>(GetProcAddress(m_hPlug, "PlugN"));
  for (const auto& l_asz : l_aszCase) {
    ASSERT_EQ(m_posxml->DispatchLoad(l_asz[0], m_hPlug), OS_STS_SUCCESS) << l_asz[0];
    EXPECT_EQ(Run(l_asz[1]), OS_STS_SUCCESS);
    EXPECT_EQ(s_sTrace, l_asz[2]);
    // user='C_n' is looked up as a function too (a's, at level 0).
    for (const OsXmlCallback& l_call : s_vecSeen)
      EXPECT_TRUE(l_call.pvObject == &m_iObject && l_call.posxml == m_posxml &&
                  l_call.pvNameArg == (l_asz[0] == l_szAB && l_call.lLevel == 0 ? l_pvNameArg : nullptr));
  }
}

TEST_F(Dispatch, FailuresAreRefusedWithTheirMessage) {
  const std::string l_sTooWide = "0x1" + std::string(2 * sizeof(void*), '1');  // one digit more than a pointer
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
    const std::size_t l_sizet = Count(l_sMessage);
    EXPECT_EQ(m_posxml->DispatchLoad(l_sTemplate.c_str(), m_hPlug), OS_STS_FAIL) << l_sTemplate;
    EXPECT_EQ(Count(l_sMessage), l_sizet + 1) << l_sTemplate;
  }
  EXPECT_EQ(m_posxml->DispatchAddObject(nullptr, "C", &m_iObject) + m_posxml->DispatchAddObject("o", "", &m_iObject) +
                m_posxml->DispatchAddObject("o", "C", nullptr) + m_posxml->DispatchLoad(nullptr, m_hPlug) +
                m_posxml->DispatchLoad(nullptr, 7, m_hPlug),
            5);
  EXPECT_EQ(Count("a_szObjectName is null or empty...") + Count("a_szClassName is null or empty...") +
                Count("a_pvDispatchObj is null...") + Count("a_szTemplate is null...") +
                Count("a_szTemplate is NULL..."),
            5u);
}

// Every kind of call in one walk, the wrapping one among them (the second p,
// met after the template moved on to q); a 7 from any call ends the walk there.
TEST_F(Dispatch, ACallbackStatusEndsTheWalkWithTheCursorsAtTheirRoots) {
  ASSERT_EQ(m_posxml->DispatchLoad("<a enter='o.f' exit='o.g' unordered='o.o' unknown='o.u'><p enter='o.f' exit='o.g'/>"
                                   "<q enter='o.f'/></a>",
                                   m_hPlug),
            OS_STS_SUCCESS);
  const char* const l_szDocument = "<a k='1'><p k='2'><z/></p><p/><q/><x/></a>";
  const std::string l_sAll =
      "f:0:a:<p k='2'><z/></p><p/><q/><x/>|f:1:p:<z/>|u:2:z:|g:1:p:<z/>|o:1:p:|f:1:p:|"
      "g:1:p:|f:1:q:|u:1:x:|g:0:a:<p k='2'><z/></p><p/><q/><x/>|";
  for (std::size_t l_sizet = 0; l_sizet <= 10; ++l_sizet) {
    EXPECT_EQ(Run(l_szDocument, l_sizet), l_sizet < 10 ? 7 : OS_STS_SUCCESS);
    EXPECT_EQ(s_vecSeen.size(), std::min<std::size_t>(l_sizet + 1, 10));
    EXPECT_EQ(s_sTrace, l_sAll.substr(0, s_sTrace.size()));
  }
  // A document without elements: nothing to call.
  EXPECT_EQ(Run("<?xml version='1.0'?>"), OS_STS_NOMORE);
}

// Pointer-wide addresses bind without map or lookup (in the form with the
// library's own module), and the function of one, called, cannot load, clear
// or dispatch the document under its walk. Cleared, nothing is left of it.
TEST_F(Dispatch, AddressesBindAndACallbackCannotReplaceItsDocument) {
  void* const l_pvObject = reinterpret_cast<void*>(UINTPTR_MAX - 0xfff);
  char l_szTemplate[128];
  SStrPrintf(l_szTemplate, sizeof(l_szTemplate), "<a enter='0x%p.0X2000' user='0xBEEF'/><b><c enter='0x%p.0x%p'/></b>",
             l_pvObject, static_cast<void*>(&m_iObject), reinterpret_cast<void*>(&Meddle));
  ASSERT_TRUE(m_posxml->DispatchClear() == OS_STS_SUCCESS && m_posxml->DispatchLoad(l_szTemplate) == OS_STS_SUCCESS);
  EXPECT_TRUE(RootSet().pvObjectEnter == l_pvObject && RootSet().pvNameArg == reinterpret_cast<void*>(0xBEEF) &&
              reinterpret_cast<std::uintptr_t>(RootSet().osxmlcallbackfunctionEnter) == 0x2000u);
  EXPECT_EQ(Run("<b><c>1</c><c>2</c></b>"), 5);
  EXPECT_EQ(m_posxml->DispatchClear(), OS_STS_SUCCESS);
  EXPECT_EQ(m_posxml->DispatchRun(nullptr) + m_posxml->DispatchLoad("<a enter='o.f'/>", m_hPlug), 2);
  EXPECT_EQ(Count("Must call DispatchLoad first...") + Count("Must call DispatchAddObject first (null list)..."), 2u);
}

// The walk's cursor holds one level above the document's first element: a
// document 63 levels deep walks whole, one 64 deep ends with the cursor's
// status, said, and both cursors back at their roots.
TEST_F(Dispatch, ADocumentDeeperThanTheCursorEndsTheWalkWithItsStatus) {
  const auto l_pfnChain = [](int a_iLevels) {
    std::string l_s;
    for (int l_i = 0; l_i < a_iLevels; ++l_i) l_s = "<e>" + l_s + "</e>";
    return l_s;
  };
  ASSERT_EQ(m_posxml->DispatchLoad(l_pfnChain(64).c_str(), nullptr), OS_STS_SUCCESS);
  EXPECT_EQ(Run(l_pfnChain(63).c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(Run(l_pfnChain(64).c_str()), OS_STS_TOOSMALL);
  EXPECT_EQ(Count("XML error..."), 1u);
}

TEST_F(Dispatch, TheObjectMapGrowsAtThe256thObject) {
  // With oo and o, 253 more fill every row of 256 but the last.
  std::vector<std::string> l_vecNames(255);  // the map keeps pointers to the names
  for (int l_i = 2; l_i < 255; ++l_i)
    ASSERT_EQ(m_posxml->DispatchAddObject((l_vecNames[l_i] = "obj" + std::to_string(l_i)).c_str(), "C", &m_iObject), 0);
  // A growth without memory keeps the map as it was.
  OsMemFailAfter(0);
  EXPECT_EQ(m_posxml->DispatchAddObject("obj255", "C", &m_iDecoy), OS_STS_FAIL);
  OsMemFailAfter(-1);
  ASSERT_EQ(m_posxml->DispatchAddObject("obj255", "C", &l_vecNames), 0);
  EXPECT_EQ(Impl().m_lObjectMapSize, 512);
  EXPECT_EQ(Count("xml>>> growing the dispatch object map...256 -> 512"), 2u);
  // The rows survived the move.
  EXPECT_TRUE(Impl().m_posxmlobjectrow[1].pvObject == &m_iObject &&
              Impl().m_posxmlobjectrow[255].pvObject == &l_vecNames);
}

}  // namespace
