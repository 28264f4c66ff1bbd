// The reader's public object, its implementation's life, state and dump, and
// the substring tests on raw text. No system call: the reader is built with
// the format engines.
#include <cstdio>
#include <cstring>

#include "os_cosmem.h"
#include "os_cosxml_impl.h"
#include "os_log.h"
#include "os_memnew.h"

COsXmlImpl::COsXmlImpl(COsXml* a_posxmlOwner) : m_posxmlOwner(a_posxmlOwner) {}

COsXmlImpl::~COsXmlImpl() {
  Clear();
  // The dispatch's template document and buffers; its library object is
  // released through the dispatch's own function.
  if (m_pfnDispatchRelease != nullptr) m_pfnDispatchRelease(*this);
  OsMemDelete(m_posxmlTemplate);
  m_posxmlTemplate = nullptr;
  if (m_posxmlobjectrow != nullptr) OS_MEM_FREE(m_posxmlobjectrow);
  if (m_posxmlcallbackset != nullptr) OS_MEM_FREE(m_posxmlcallbackset);
  if (m_szText != nullptr) OS_MEM_FREE(m_szText);
  if (m_posxmlatom != nullptr) OS_MEM_FREE(m_posxmlatom);
  if (m_posxmlatomDeclaration != nullptr) OS_MEM_FREE(m_posxmlatomDeclaration);
}

EOSSTS COsXmlImpl::Clear() {
  // The copy stays allocated until the next load replaces it: a capacity of
  // 0 makes that load take a fresh one.
  m_lTextCapacity = 0;
  m_lAtomsInUse = 0;
  m_lCurrentNode = 0;
  m_lDeclarationsInUse = 0;
  std::memset(static_cast<void*>(m_aposxmlatomNode), 0, sizeof(m_aposxmlatomNode));
  m_lNameAcquiredAt = -1;
  m_lDataAcquiredAt = -1;
  m_eosxmlstate = OS_XML_STATE_FREE;
  return OS_STS_SUCCESS;
}

EOSSTS COsXmlImpl::StateSetSkip() {
  if (m_eosxmlstate != OS_XML_STATE_FREE) OS_LOGE("Setting to skip something that wasn't free...");
  m_eosxmlstate = OS_XML_STATE_SKIP;
  return OS_STS_SUCCESS;
}

std::int32_t COsXmlImpl::AtomGrowthSet(std::int32_t a_lGrowth) {
  const std::int32_t l_lPrevious = m_lAtomGrowth;
  if (a_lGrowth >= OS_XML_GROWTH_MIN) m_lAtomGrowth = a_lGrowth;
  return l_lPrevious;
}

std::int32_t COsXmlImpl::CallbackGrowthSet(std::int32_t a_lGrowth) {
  const std::int32_t l_lPrevious = m_lCallbackGrowth;
  if (a_lGrowth >= OS_XML_GROWTH_MIN) m_lCallbackGrowth = a_lGrowth;
  return l_lPrevious;
}

namespace {

const char* TypeName(EOSXMLTYPE a_eosxmltype) {
  switch (a_eosxmltype) {
    case OS_XML_TYPE_UNDEFINED: return "OS_XML_TYPE_UNDEFINED";
    case OS_XML_TYPE_TAG: return "OS_XML_TYPE_TAG";
    case OS_XML_TYPE_PROPERTY: return "OS_XML_TYPE_PROPERTY";
    case OS_XML_TYPE_TEXT: return "OS_XML_TYPE_TEXT";
    case OS_XML_TYPE_LAST: return "OS_XML_TYPE_LAST";
  }
  return "<<invalid>>";
}

void* Address(OsXmlCallbackFunction a_pfn) { return reinterpret_cast<void*>(a_pfn); }

constexpr char s_szDashes[] = "-------------------------------------------------------\n";
static_assert(sizeof(s_szDashes) == 55 + 2, "a line of 55 dashes");

}  // namespace

EOSSTS COsXmlImpl::Dump() const {
  std::printf("pod.m_lAllocatedAtoms=%ld\n", static_cast<long>(m_lAllocatedAtoms));
  std::printf("pod.m_lAtomsInUse=%ld\n", static_cast<long>(m_lAtomsInUse));
  for (std::int32_t l_l = 0; l_l < m_lAtomsInUse && m_posxmlatom != nullptr; ++l_l) {
    const OsXmlAtom& l_osxmlatom = m_posxmlatom[l_l];
    std::printf("\nAtom %d:\n", l_l);
    std::fputs(s_szDashes, stdout);
    std::printf("OsXmlAtom : this=0x%p\n", static_cast<const void*>(&l_osxmlatom));
    std::printf("eosxmltype=%s\n", TypeName(l_osxmlatom.eosxmltype));
    std::printf("lDepth=%ld lIndex=%ld\n", static_cast<long>(l_osxmlatom.lDepth),
                static_cast<long>(l_osxmlatom.lIndex));
    if (m_szText != nullptr) {
      std::printf("szName,lName=%ld,%ld \"%.*s\"\n", static_cast<long>(l_osxmlatom.szName),
                  static_cast<long>(l_osxmlatom.lName), static_cast<int>(l_osxmlatom.lName),
                  m_szText + l_osxmlatom.szName);
      std::printf("szData,lData=%ld,%ld \"%.*s\"\n", static_cast<long>(l_osxmlatom.szData),
                  static_cast<long>(l_osxmlatom.lData), static_cast<int>(l_osxmlatom.lData),
                  m_szText + l_osxmlatom.szData);
    } else {
      std::printf("szName,lName=%ld (szData=null)\n", static_cast<long>(l_osxmlatom.szName));
      std::printf("szData,lData=%ld (szData=null)\n", static_cast<long>(l_osxmlatom.szData));
    }
    const OsXmlCallbackSet* const l_pset = l_osxmlatom.pCallbacks;
    if (l_pset == nullptr) {
      std::printf("pCallbacks=null\n");
    } else {
      std::printf("pCallbacks=%s%p:\n", "0x", static_cast<const void*>(l_pset));
      std::printf("\tpvObjectEnter=%s%p\tosxmlcallbackfunctionEnter=%s%p\n", "0x", l_pset->pvObjectEnter, "0x",
                  Address(l_pset->osxmlcallbackfunctionEnter));
      std::printf("\tpvObjectExit =%s%p\tosxmlcallbackfunctionExit =%s%p\n", "0x", l_pset->pvObjectExit, "0x",
                  Address(l_pset->osxmlcallbackfunctionExit));
      std::printf("\tpvObjectUnknown =%s%p\tosxmlcallbackfunctionUnknown =%s%p\n", "0x", l_pset->pvObjectUnknown, "0x",
                  Address(l_pset->osxmlcallbackfunctionUnknown));
      std::printf("\tpvObjectUnordered =%s%p\tosxmlcallbackfunctionUnordered =%s%p\n", "0x", l_pset->pvObjectUnordered,
                  "0x", Address(l_pset->osxmlcallbackfunctionUnordered));
      std::printf("\n\tpvNameArg=%s%p\n", "0x", l_pset->pvNameArg);
    }
    std::fputs(s_szDashes, stdout);
    std::printf("\n\n");
  }
  std::fflush(stdout);
  return OS_STS_SUCCESS;
}

COsXml::COsXml() : m_posxmlimpl(OsMemNew(COsXmlImpl, "COsXmlImpl", this)) {}

COsXml::~COsXml() {
  OsMemDelete(m_posxmlimpl);
  m_posxmlimpl = nullptr;
}

EOSSTS COsXml::Load(const char* a_szDocument, std::int32_t a_lDocumentLength) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->Load(a_szDocument, a_lDocumentLength);
}

EOSSTS COsXml::Load(const char* a_szDocument) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szDocument, OS_LOG_ASSERT, "a_szDocument is null...", OS_STS_FAIL);
  const std::size_t l_sizet = std::strlen(a_szDocument);
  // Longer than the reader can count: the length is capped and the load
  // then fails for want of a copy of that size.
  return m_posxmlimpl->Load(
      a_szDocument, l_sizet > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(l_sizet));
}

EOSSTS COsXml::Clear() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(m_posxmlimpl->m_bDispatchWalking, OS_LOG_ASSERT, OS_XML_WALKING_TEXT, OS_STS_FAIL);
  return m_posxmlimpl->Clear();
}

EOSXMLSTATE COsXml::StateGet() {
  OS_XML_IMPL_OR_RETURN(OS_XML_STATE_NONE);
  return m_posxmlimpl->StateGet();
}

EOSSTS COsXml::StateSetSkip() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->StateSetSkip();
}

std::int32_t COsXml::AtomGrowthSet(std::int32_t a_lGrowth) {
  OS_XML_IMPL_OR_RETURN(0);
  return m_posxmlimpl->AtomGrowthSet(a_lGrowth);
}

std::int32_t COsXml::CallbackGrowthSet(std::int32_t a_lGrowth) {
  OS_XML_IMPL_OR_RETURN(0);
  return m_posxmlimpl->CallbackGrowthSet(a_lGrowth);
}

EOSSTS COsXml::Dump() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->Dump();
}

EOSSTS COsXml::NodeRoot() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeRoot();
}

EOSSTS COsXml::NodePush() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodePush();
}

EOSSTS COsXml::NodePop() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodePop();
}

EOSSTS COsXml::NodeNext() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeNext();
}

EOSSTS COsXml::NodeChild() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeChild();
}

OsXmlAtom* COsXml::NodeParent() {
  OS_XML_IMPL_OR_RETURN(nullptr);
  return m_posxmlimpl->NodeParent();
}

OsXmlAtom* COsXml::NodeGetOsXmlAtom() {
  OS_XML_IMPL_OR_RETURN(nullptr);
  return m_posxmlimpl->NodeGetOsXmlAtom();
}

std::int32_t COsXml::NodeDepthGet() {
  OS_XML_IMPL_OR_RETURN(-1);
  return m_posxmlimpl->NodeDepthGet();
}

EOSSTS COsXml::NodeNameGet(char* a_szName, std::int32_t a_lName) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeNameGet(a_szName, a_lName);
}

EOSSTS COsXml::NodePropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodePropertyGet(a_szProperty, a_szValue, a_lValue);
}

EOSSTS COsXml::NodeDataGet(char* a_szData, std::int32_t a_lData) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeDataGet(a_szData, a_lData);
}

EOSSTS COsXml::NodeDataOffsetGet(std::int32_t* a_plOffset, std::int32_t* a_plSize) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeDataOffsetGet(a_plOffset, a_plSize);
}

EOSSTS COsXml::DeclarationPropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->DeclarationPropertyGet(a_szProperty, a_szValue, a_lValue);
}

char* COsXml::NodeNameAcquire() {
  OS_XML_IMPL_OR_RETURN(nullptr);
  return m_posxmlimpl->NodeNameAcquire();
}

EOSSTS COsXml::NodeNameRelease() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeNameRelease();
}

char* COsXml::NodeDataAcquire() {
  OS_XML_IMPL_OR_RETURN(nullptr);
  return m_posxmlimpl->NodeDataAcquire();
}

EOSSTS COsXml::NodeDataRelease() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return m_posxmlimpl->NodeDataRelease();
}

namespace {

// Whether a_szNeedle lies wholly within the first a_lLimit characters of
// a_szText (all of it when a_lLimit is negative). An empty needle is found
// only in an empty text, as the bounded search of the string module has it.
bool Contains(const char* a_szText, const char* a_szNeedle, std::int32_t a_lLimit) {
  if (a_szText == nullptr || a_szNeedle == nullptr) return false;
  if (a_szNeedle[0] == 0) return a_szText[0] == 0 && a_lLimit != 0;
  if (a_lLimit < 0) return std::strstr(a_szText, a_szNeedle) != nullptr;
  const std::size_t l_sizetNeedle = std::strlen(a_szNeedle);
  const void* const l_pvEnd = std::memchr(a_szText, 0, static_cast<std::size_t>(a_lLimit));
  const std::size_t l_sizetText = l_pvEnd == nullptr
                                      ? static_cast<std::size_t>(a_lLimit)
                                      : static_cast<std::size_t>(static_cast<const char*>(l_pvEnd) - a_szText);
  for (std::size_t l_i = 0; l_i + l_sizetNeedle <= l_sizetText; ++l_i) {
    if (a_szText[l_i] == a_szNeedle[0] && std::memcmp(a_szText + l_i, a_szNeedle, l_sizetNeedle) == 0) return true;
  }
  return false;
}

}  // namespace

int OsXmlContains(const char* a_szText, const char* a_szNeedle, std::int32_t a_lLimit) {
  return Contains(a_szText, a_szNeedle, a_lLimit) ? 1 : 0;
}

int OsXmlContainsBoth(const char* a_szText, const char* a_szNeedle1, const char* a_szNeedle2, std::int32_t a_lLimit) {
  return Contains(a_szText, a_szNeedle1, a_lLimit) && Contains(a_szText, a_szNeedle2, a_lLimit) ? 1 : 0;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
