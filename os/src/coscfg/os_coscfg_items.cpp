// The configuration's item store.
#include "os_coscfg_impl.h"
#include "os_log.h"

const char* COsCfg::GetItem(int a_iSection, int a_iTag) {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", nullptr);
  if (a_iSection < 1 || a_iSection > OS_CFG_SECTIONS || a_iTag < 1 || a_iTag > OS_CFG_TAGS) return "";
  const char* const l_szItem = m_poscfgimpl->m_aaszItem[a_iSection][a_iTag];
  return l_szItem != nullptr ? l_szItem : "";
}
