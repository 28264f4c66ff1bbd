// The reader's cursor and value readers over a loaded atom table.
//
// The cursor is a stack of 64 atom pointers; entry m_lCurrentNode is the
// current atom. Navigation moves the current entry within the table; NodePush
// and NodePop keep a parent while a caller walks its children.
#include <cstring>

#include "os_cosxml_impl.h"
#include "os_log.h"

namespace {

// The NUL-terminated copy of a_lLength bytes at a_lOffset, or 2 and an empty
// output when it does not fit in a_lSize bytes (a_lSize is positive).
EOSSTS CopyOut(const char* a_szText, std::int32_t a_lOffset, std::int32_t a_lLength, char* a_szOut,
               std::int32_t a_lSize) {
  if (a_lLength >= a_lSize) {
    a_szOut[0] = 0;
    return OS_STS_TOOSMALL;
  }
  if (a_lLength > 0) std::memcpy(a_szOut, a_szText + a_lOffset, static_cast<std::size_t>(a_lLength));
  a_szOut[a_lLength] = 0;
  return OS_STS_SUCCESS;
}

// The prefix comparison of property names: the stored name's characters
// against the start of the wanted one ("x" answers for "xy").
bool NameMatches(const char* a_szText, const OsXmlAtom& a_osxmlatom, const char* a_szWanted) {
  return std::strncmp(a_szText + a_osxmlatom.szName, a_szWanted, static_cast<std::size_t>(a_osxmlatom.lName)) == 0;
}

}  // namespace

bool COsXmlImpl::CheckLoaded() {
  if (IsLoaded()) return true;
  OS_LOGA("Must call COsXmlImpl::Load first...");
  return false;
}

OsXmlAtom* COsXmlImpl::Current() {
  if (m_lCurrentNode < 0 || m_lCurrentNode >= OS_XML_MAX_DEPTH) return nullptr;
  return m_aposxmlatomNode[m_lCurrentNode];
}

EOSSTS COsXmlImpl::NodeRoot() {
  if (!CheckLoaded()) return OS_STS_FAIL;
  OsXmlAtom* const l_posxmlatomRoot = m_posxmlatom;
  std::memset(static_cast<void*>(m_aposxmlatomNode), 0, sizeof(m_aposxmlatomNode));
  m_lCurrentNode = 0;
  m_aposxmlatomNode[0] = l_posxmlatomRoot;
  return OS_STS_SUCCESS;
}

EOSSTS COsXmlImpl::NodePush() {
  if (!CheckLoaded()) return OS_STS_FAIL;
  OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  if (m_lCurrentNode + 1 >= OS_XML_MAX_DEPTH) {
    OS_LOGA("pod.m_lCurrentNode is in trouble...%d", m_lCurrentNode);
    return OS_STS_TOOSMALL;
  }
  m_aposxmlatomNode[++m_lCurrentNode] = l_posxmlatom;
  return OS_STS_SUCCESS;
}

EOSSTS COsXmlImpl::NodePop() {
  if (!CheckLoaded()) return OS_STS_FAIL;
  if (m_lCurrentNode >= OS_XML_MAX_DEPTH) {
    OS_LOGA("pod.m_lCurrentNode is in trouble...%d", m_lCurrentNode);
    return OS_STS_TOOSMALL;
  }
  if (m_lCurrentNode > 0) m_aposxmlatomNode[m_lCurrentNode--] = nullptr;
  return OS_STS_SUCCESS;
}

EOSSTS COsXmlImpl::NodeNext() {
  if (!CheckLoaded()) return OS_STS_FAIL;
  OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  const std::int32_t l_lDepth = l_posxmlatom->lDepth;
  for (std::int32_t l_l = static_cast<std::int32_t>(l_posxmlatom - m_posxmlatom) + 1; l_l < m_lAtomsInUse; ++l_l) {
    OsXmlAtom& l_osxmlatom = m_posxmlatom[l_l];
    if (l_osxmlatom.lDepth < l_lDepth) break;  // the parent has ended
    if (l_osxmlatom.eosxmltype == OS_XML_TYPE_TAG && l_osxmlatom.lDepth == l_lDepth) {
      m_aposxmlatomNode[m_lCurrentNode] = &l_osxmlatom;
      return OS_STS_SUCCESS;
    }
  }
  return OS_STS_NOMORE;
}

EOSSTS COsXmlImpl::NodeChild() {
  if (!CheckLoaded()) return OS_STS_FAIL;
  OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  const std::int32_t l_lDepth = l_posxmlatom->lDepth;
  for (std::int32_t l_l = static_cast<std::int32_t>(l_posxmlatom - m_posxmlatom) + 1; l_l < m_lAtomsInUse; ++l_l) {
    OsXmlAtom& l_osxmlatom = m_posxmlatom[l_l];
    if (l_osxmlatom.eosxmltype == OS_XML_TYPE_PROPERTY && l_osxmlatom.lDepth == l_lDepth) continue;  // its own
    if (l_osxmlatom.eosxmltype == OS_XML_TYPE_TAG && l_osxmlatom.lDepth == l_lDepth + 1) {
      m_aposxmlatomNode[m_lCurrentNode] = &l_osxmlatom;
      return OS_STS_SUCCESS;
    }
    break;
  }
  return OS_STS_NOMORE;
}

OsXmlAtom* COsXmlImpl::NodeParent() {
  if (!CheckLoaded()) return nullptr;
  if (m_lCurrentNode >= OS_XML_MAX_DEPTH) {
    OS_LOGA("pod.m_lCurrentNode is in trouble...%d", m_lCurrentNode);
    return nullptr;
  }
  return m_lCurrentNode <= 0 ? nullptr : m_aposxmlatomNode[m_lCurrentNode - 1];
}

OsXmlAtom* COsXmlImpl::NodeGetOsXmlAtom() {
  if (!CheckLoaded()) return nullptr;
  return Current();
}

std::int32_t COsXmlImpl::NodeDepthGet() {
  if (!CheckLoaded()) return -1;
  const OsXmlAtom* const l_posxmlatom = Current();
  return l_posxmlatom == nullptr ? -1 : l_posxmlatom->lDepth;
}

EOSSTS COsXmlImpl::NodeNameGet(char* a_szName, std::int32_t a_lName) {
  OS_RETURN_IF_NULL(a_szName, OS_LOG_ASSERT, "a_szName is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_lName <= 0, OS_LOG_ASSERT, "a_lName is too small...%d", OS_STS_FAIL, a_lName);
  a_szName[0] = 0;
  if (!CheckLoaded()) return OS_STS_NOMORE;
  const OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  return CopyOut(m_szText, l_posxmlatom->szName, l_posxmlatom->lName, a_szName, a_lName);
}

EOSSTS COsXmlImpl::NodePropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue) {
  OS_RETURN_IF_NULL(a_szProperty, OS_LOG_ASSERT, "a_szProperty is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szValue, OS_LOG_ASSERT, "a_szValue is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_lValue <= 0, OS_LOG_ASSERT, "a_lValue is too small...%ld", OS_STS_FAIL, static_cast<long>(a_lValue));
  a_szValue[0] = 0;
  if (!CheckLoaded()) return OS_STS_NOMORE;
  const OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  // Only the properties right behind the element are its own.
  for (std::int32_t l_l = static_cast<std::int32_t>(l_posxmlatom - m_posxmlatom) + 1;
       l_l < m_lAtomsInUse && m_posxmlatom[l_l].eosxmltype == OS_XML_TYPE_PROPERTY; ++l_l) {
    const OsXmlAtom& l_osxmlatom = m_posxmlatom[l_l];
    if (NameMatches(m_szText, l_osxmlatom, a_szProperty))
      return CopyOut(m_szText, l_osxmlatom.szData, l_osxmlatom.lData, a_szValue, a_lValue);
  }
  return OS_STS_FAIL;
}

EOSSTS COsXmlImpl::NodeDataGet(char* a_szData, std::int32_t a_lData) {
  OS_RETURN_IF_NULL(a_szData, OS_LOG_ASSERT, "a_szData is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_lData <= 0, OS_LOG_ASSERT, "a_lData is too small...%d", OS_STS_FAIL, a_lData);
  a_szData[0] = 0;
  if (!CheckLoaded()) return OS_STS_NOMORE;
  const OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  return CopyOut(m_szText, l_posxmlatom->szData, l_posxmlatom->lData, a_szData, a_lData);
}

EOSSTS COsXmlImpl::NodeDataOffsetGet(std::int32_t* a_plOffset, std::int32_t* a_plSize) {
  OS_RETURN_IF_NULL(a_plOffset, OS_LOG_ASSERT, "a_plOffset is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_plSize, OS_LOG_ASSERT, "a_plSize is null...", OS_STS_FAIL);
  if (!CheckLoaded()) return OS_STS_NOMORE;
  const OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return OS_STS_NOMORE;
  *a_plOffset = l_posxmlatom->szData;
  *a_plSize = l_posxmlatom->lData;
  return OS_STS_SUCCESS;
}

EOSSTS COsXmlImpl::DeclarationPropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue) {
  OS_RETURN_IF_NULL(a_szProperty, OS_LOG_ASSERT, "a_szProperty is null...", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szValue, OS_LOG_ASSERT, "a_szValue is null...", OS_STS_FAIL);
  OS_RETURN_IF(a_lValue <= 0, OS_LOG_ASSERT, "a_lValue is too small...%ld", OS_STS_FAIL, static_cast<long>(a_lValue));
  a_szValue[0] = 0;
  if (m_posxmlatomDeclaration == nullptr) return OS_STS_NOMORE;
  for (std::int32_t l_l = 0; l_l < m_lDeclarationsInUse; ++l_l) {
    const OsXmlAtom& l_osxmlatom = m_posxmlatomDeclaration[l_l];
    if (NameMatches(m_szText, l_osxmlatom, a_szProperty))
      return CopyOut(m_szText, l_osxmlatom.szData, l_osxmlatom.lData, a_szValue, a_lValue);
  }
  return OS_STS_FAIL;
}

// The terminators of the in-place pairs go into the text copy, which has
// slack behind its own terminator for an element that ends the text.
char* COsXmlImpl::NodeNameAcquire() {
  if (!CheckLoaded()) return nullptr;
  const OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return nullptr;
  m_lNameAcquiredAt = l_posxmlatom->szName + l_posxmlatom->lName;
  m_cNameAcquired = m_szText[m_lNameAcquiredAt];
  m_szText[m_lNameAcquiredAt] = 0;
  return m_szText + l_posxmlatom->szName;
}

EOSSTS COsXmlImpl::NodeNameRelease() {
  if (m_lNameAcquiredAt < 0 || m_szText == nullptr) return OS_STS_FAIL;
  m_szText[m_lNameAcquiredAt] = m_cNameAcquired;
  m_lNameAcquiredAt = -1;
  return OS_STS_SUCCESS;
}

char* COsXmlImpl::NodeDataAcquire() {
  if (!CheckLoaded()) return nullptr;
  const OsXmlAtom* const l_posxmlatom = Current();
  if (l_posxmlatom == nullptr) return nullptr;
  m_lDataAcquiredAt = l_posxmlatom->szData + l_posxmlatom->lData;
  m_cDataAcquired = m_szText[m_lDataAcquiredAt];
  m_szText[m_lDataAcquiredAt] = 0;
  return m_szText + l_posxmlatom->szData;
}

// The saved character, not a guess from the one before the data: behind a
// self-closing element's empty data lies whatever follows its "/>".
EOSSTS COsXmlImpl::NodeDataRelease() {
  if (m_lDataAcquiredAt < 0 || m_szText == nullptr) return OS_STS_FAIL;
  m_szText[m_lDataAcquiredAt] = m_cDataAcquired;
  m_lDataAcquiredAt = -1;
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
