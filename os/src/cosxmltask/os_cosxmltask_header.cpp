// The standard status reports and the readers of a received task's header
// numbers, which look at the text without a parse.
#include <cstring>

#include "os_cosstring.h"
#include "os_cosxmltask.h"
#include "os_log.h"

namespace {

// The header fields lie among the first characters of a task.
constexpr std::size_t s_sizetHeaderSearch = 256;

bool IsTask(const char* a_szXml) { return std::strncmp(a_szXml, "<task ", 6) == 0; }

// The number after a_szKey, when the key is among the first characters. The
// fields hold 20 digits, wider than 32 bits: the number is read whole into
// 64 bits, a negative one as its two's complement.
bool Field(const char* a_szXml, const char* a_szKey, bool a_bClosingQuote, std::uint64_t* a_pu64) {
  const char* l_p = StrNstr(a_szXml, a_szKey, s_sizetHeaderSearch);
  if (l_p == nullptr) return false;
  l_p += std::strlen(a_szKey);
  if (a_bClosingQuote && std::strchr(l_p, '\'') == nullptr) return false;
  const bool l_bNegative = *l_p == '-';
  if (*l_p == '-' || *l_p == '+') ++l_p;
  std::uint64_t l_u64 = 0;
  for (; *l_p >= '0' && *l_p <= '9'; ++l_p) l_u64 = l_u64 * 10 + static_cast<std::uint64_t>(*l_p - '0');
  *a_pu64 = l_bNegative ? 0 - l_u64 : l_u64;
  return true;
}

}  // namespace

const char* OsXmlTaskStatusSuccess() {
  return "<task id='00000000000000000000' reply='00000000000000000000' bytes='00000000000000000157'>\n"
         "\t<reportstatus>\n\t\t<status>success</status>\n\t</reportstatus>\n</task>";
}

const char* OsXmlTaskStatusFail() {
  return "<task id='00000000000000000000' reply='00000000000000000000' bytes='00000000000000000154'>\n"
         "\t<reportstatus>\n\t\t<status>fail</status>\n\t</reportstatus>\n</task>";
}

bool OsXmlTaskGetId(const char* a_szXml, std::uint64_t* a_pu64Id) {
  OS_RETURN_IF_NULL(a_szXml, OS_LOG_ASSERT, "a_szXml is null", false);
  OS_RETURN_IF_NULL(a_pu64Id, OS_LOG_ASSERT, "a_pu64Id is null", false);
  OS_RETURN_IF(!IsTask(a_szXml), OS_LOG_ASSERT, "not an XML task", false);
  return Field(a_szXml, "id='", false, a_pu64Id);
}

bool OsXmlTaskGetReply(const char* a_szXml, std::uint64_t* a_pu64Reply) {
  OS_RETURN_IF_NULL(a_szXml, OS_LOG_ASSERT, "a_szXml is null", false);
  OS_RETURN_IF_NULL(a_pu64Reply, OS_LOG_ASSERT, "a_pu64Reply is null", false);
  OS_RETURN_IF(!IsTask(a_szXml), OS_LOG_ASSERT, "not an XML task", false);
  return Field(a_szXml, "reply='", false, a_pu64Reply);
}

bool OsXmlTaskGetBytes(const char* a_szXml, std::uint64_t* a_pu64Bytes) {
  OS_RETURN_IF_NULL(a_szXml, OS_LOG_ASSERT, "a_szXml is null", false);
  OS_RETURN_IF_NULL(a_pu64Bytes, OS_LOG_ASSERT, "a_pu64Bytes is null", false);
  OS_RETURN_IF(!IsTask(a_szXml), OS_LOG_ASSERT, "not an XML task", false);
  return Field(a_szXml, "bytes='", true, a_pu64Bytes);
}
