// The configuration's item store: the global 5 x 271 table and the local
// tables a program may pass at start-up.
#include <cstring>

#include "os_coscfg_impl.h"
#include "os_log.h"

namespace {

int FindName(const OsCfgName* a_posname, const char* a_szName) {
  if (a_posname == nullptr || a_szName == nullptr) return 0;
  for (; a_posname->m_szName != nullptr; ++a_posname)
    if (_stricmp(a_posname->m_szName, a_szName) == 0) return a_posname->m_iNumber;
  return 0;
}

bool IsGlobal(int a_iSection, int a_iTag) {
  return a_iSection >= 1 && a_iSection <= OS_CFG_SECTIONS && a_iTag >= 1 && a_iTag <= OS_CFG_TAGS;
}

// The local data entry of (section, tag), both 1000 or more; null when out of range.
const char* const* LocalEntry(const COsCfgImpl* a_poscfgimpl, int a_iSection, int a_iTag) {
  if (a_poscfgimpl->m_paszLocalData == nullptr) return nullptr;
  if (a_iSection < OS_CFG_LOCAL_BASE || a_iSection >= OS_CFG_LOCAL_BASE + a_poscfgimpl->m_iLocalSections)
    return nullptr;
  if (a_iTag < OS_CFG_LOCAL_BASE || a_iTag >= OS_CFG_LOCAL_BASE + a_poscfgimpl->m_iLocalTags) return nullptr;
  return &a_poscfgimpl->m_paszLocalData[(a_iSection - OS_CFG_LOCAL_BASE) * a_poscfgimpl->m_iLocalTags +
                                        (a_iTag - OS_CFG_LOCAL_BASE)];
}

}  // namespace

const char* COsCfg::GetItem(int a_iSection, int a_iTag) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", nullptr);
  const char* l_szItem = nullptr;
  if (a_iSection < OS_CFG_LOCAL_BASE || a_iTag < OS_CFG_LOCAL_BASE) {
    if (IsGlobal(a_iSection, a_iTag)) l_szItem = m_poscfgimpl->m_aaszItem[a_iSection][a_iTag];
  } else {
    const char* const* const l_pszEntry = LocalEntry(m_poscfgimpl, a_iSection, a_iTag);
    if (l_pszEntry != nullptr) l_szItem = *l_pszEntry;
  }
  return l_szItem != nullptr ? l_szItem : "";
}

const char* COsCfg::GetItemByName(const char* a_szSection, const char* a_szTag) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", nullptr);
  // The local tables first; their number 1000 means none.
  int l_iSection = FindName(m_poscfgimpl->m_posLocalSections, a_szSection);
  int l_iTag = FindName(m_poscfgimpl->m_posLocalTags, a_szTag);
  if (l_iSection <= OS_CFG_LOCAL_BASE || l_iTag <= OS_CFG_LOCAL_BASE) {
    l_iSection = FindName(s_aoscfgsection, a_szSection);
    l_iTag = FindName(s_aoscfgtag, a_szTag);
  }
  if (l_iSection == 0 || l_iTag == 0) return "";
  return GetItem(l_iSection, l_iTag);
}

EOSSTS COsCfg::SetItem(int a_iSection, int a_iTag, const char* a_szText) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", OS_STS_FAIL);
  if (a_iSection < OS_CFG_LOCAL_BASE || a_iTag < OS_CFG_LOCAL_BASE) {
    if (!IsGlobal(a_iSection, a_iTag)) return OS_STS_BADARG;
    m_poscfgimpl->m_aaszItem[a_iSection][a_iTag] = a_szText;
    return OS_STS_SUCCESS;
  }
  const char* const* const l_pszEntry = LocalEntry(m_poscfgimpl, a_iSection, a_iTag);
  if (l_pszEntry == nullptr) return OS_STS_BADARG;
  // The caller's data table belongs to the caller, who made it writeable.
  *const_cast<const char**>(l_pszEntry) = a_szText;
  return OS_STS_SUCCESS;
}
