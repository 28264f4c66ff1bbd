// Tag values taken from raw text: the argument texts of start-up and the
// brand resource are read this way, without a parse.
#include <cstring>

#include "os_cosxml.h"
#include "os_log.h"

EOSSTS OsXmlGetTagValue(const char* a_szDocument, const char* a_szOpening, const char* a_szClosing, char* a_szOut,
                        std::size_t a_sizetOut) {
  OS_RETURN_IF(a_szOut == nullptr || a_sizetOut == 0, OS_LOG_ASSERT, "a_szOut is null...", OS_STS_BADARG);
  a_szOut[0] = 0;
  OS_RETURN_IF(a_szDocument == nullptr || a_szOpening == nullptr || a_szClosing == nullptr || a_szOpening[0] == 0 ||
                   a_szClosing[0] == 0,
               OS_LOG_ASSERT, "a_szDocument is null...", OS_STS_BADARG);

  const char* l_pBegin = std::strstr(a_szDocument, a_szOpening);
  if (l_pBegin == nullptr) return OS_STS_FAIL;
  l_pBegin += std::strlen(a_szOpening);
  const char* l_pEnd = std::strstr(l_pBegin, a_szClosing);
  if (l_pEnd == nullptr) return OS_STS_FAIL;

  static const char s_szCdata[] = "<![CDATA[";
  constexpr std::size_t l_nCdata = sizeof(s_szCdata) - 1;
  // Between adjacent sections (a value holding "]]>" is split into them)
  // lies markup, not content.
  static const char s_szJoint[] = "]]><![CDATA[";
  constexpr std::size_t l_nJoint = sizeof(s_szJoint) - 1;
  bool l_bCdata = false;
  if (static_cast<std::size_t>(l_pEnd - l_pBegin) >= l_nCdata && std::memcmp(l_pBegin, s_szCdata, l_nCdata) == 0) {
    l_pBegin += l_nCdata;
    l_pEnd -= 3;  // the "]]>" before the closing tag
    l_bCdata = true;
  }
  std::size_t l_n = 0;
  for (const char* l_p = l_pBegin; l_p < l_pEnd;) {
    if (l_bCdata && static_cast<std::size_t>(l_pEnd - l_p) >= l_nJoint && std::memcmp(l_p, s_szJoint, l_nJoint) == 0) {
      l_p += l_nJoint;
      continue;
    }
    if (l_n + 1 >= a_sizetOut) {
      a_szOut[0] = 0;
      return OS_STS_TOOSMALL;
    }
    a_szOut[l_n++] = *l_p++;
  }
  a_szOut[l_n] = 0;
  return l_n == 0 ? OS_STS_FAIL : OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
