// libFuzzer target of the XML reader: any bytes are loaded (into one reused
// reader, as callers do) and, when they load, every element is visited with
// the cursor and everything a caller can read is read, the in-place pairs
// included. The sanitizers turn any access outside the reader's copy and
// tables into a finding; the checks below turn a broken table into one.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os_cosxml.h"
#include "os_cosxml_impl.h"

namespace {

char s_szBuffer[1 << 12];

void Check(bool a_b) {
  if (!a_b) std::abort();
}

void Visit(COsXml& a_osxml) {
  const std::int32_t l_lSize = static_cast<std::int32_t>(sizeof(s_szBuffer));
  do {
    a_osxml.NodeNameGet(s_szBuffer, l_lSize);
    a_osxml.NodeDataGet(s_szBuffer, l_lSize);
    a_osxml.NodeDataGet(s_szBuffer, 2);
    a_osxml.NodePropertyGet("id", s_szBuffer, l_lSize);
    std::int32_t l_lOffset = 0;
    std::int32_t l_lLength = 0;
    a_osxml.NodeDataOffsetGet(&l_lOffset, &l_lLength);
    Check(l_lOffset >= 0 && l_lLength >= 0);
    if (a_osxml.NodeNameAcquire() != nullptr) a_osxml.NodeNameRelease();
    if (a_osxml.NodeDataAcquire() != nullptr) a_osxml.NodeDataRelease();
    if (a_osxml.NodePush() == OS_STS_SUCCESS) {
      if (a_osxml.NodeChild() == OS_STS_SUCCESS) Visit(a_osxml);
      Check(a_osxml.NodePop() == OS_STS_SUCCESS);
    }
  } while (a_osxml.NodeNext() == OS_STS_SUCCESS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* a_pu8Data, std::size_t a_sizetData) {
  static COsXml s_osxml;
  if (a_sizetData > (1u << 24)) return 0;
  const EOSSTS l_eossts =
      s_osxml.Load(reinterpret_cast<const char*>(a_pu8Data), static_cast<std::int32_t>(a_sizetData));
  COsXmlImpl& l_impl = *s_osxml.m_posxmlimpl;
  if (l_eossts != OS_STS_SUCCESS) {
    // Refused: nothing may be left to use.
    Check(!l_impl.IsLoaded() && l_impl.m_lAtomsInUse == 0);
    Check(s_osxml.NodeRoot() == OS_STS_FAIL);
    return 0;
  }
  const std::int32_t l_lLength = static_cast<std::int32_t>(std::strlen(l_impl.m_szText));
  for (std::int32_t l_l = 0; l_l < l_impl.m_lAtomsInUse; ++l_l) {
    const OsXmlAtom& l_atom = l_impl.m_posxmlatom[l_l];
    Check(l_atom.lIndex == l_l && l_atom.lDepth >= 0 && l_atom.lDepth < OS_XML_MAX_DEPTH);
    Check(l_atom.szName > 0 && l_atom.lName > 0 && l_atom.szName + l_atom.lName <= l_lLength);
    // Data lies in the text, or (joined CDATA sections) behind it in the copy.
    Check(l_atom.lData >= 0 && l_atom.szData >= 0 &&
          (l_atom.szData + l_atom.lData <= l_lLength + 1 ||
           (l_atom.szData >= l_lLength + 3 && l_atom.szData + l_atom.lData < l_impl.m_lTextCapacity)));
  }
  s_osxml.DeclarationPropertyGet("xml version", s_szBuffer, sizeof(s_szBuffer));
  if (l_impl.m_lAtomsInUse > 0) Visit(s_osxml);
  Check(std::strlen(l_impl.m_szText) == static_cast<std::size_t>(l_lLength));  // the pairs restored the text
  return 0;
}
