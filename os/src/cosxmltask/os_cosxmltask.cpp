// The task builder: the public object, the frame, blocks and elements, and
// the own or per-thread buffer they are written into.
#include <cstddef>
#include <cstring>

#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_cosxmltask_impl.h"
#include "os_log.h"
#include "os_memnew.h"

namespace {

constexpr char s_szHeader[] =
    "<task id='00000000000000000000' reply='00000000000000000000' bytes='####################'>\n";
static_assert(sizeof(s_szHeader) - 1 == OS_XMLTASK_HEADER_SIZE, "the header's fixed width");
constexpr std::int32_t s_lIdOffset = 10;
constexpr std::int32_t s_lReplyOffset = 39;
constexpr std::int32_t s_lBytesOffset = 68;
constexpr std::int32_t s_lFieldDigits = 20;
constexpr char s_szTaskEnd[] = "</task>\n";
constexpr std::int32_t s_lTaskEnd = sizeof(s_szTaskEnd) - 1;

// CDATA content cannot hold "]]>": the section ends after "]]" and the next
// one begins with ">".
constexpr char s_szCdataEnd[] = "]]>";
constexpr char s_szCdataSplit[] = "]]]]><![CDATA[>";
constexpr std::size_t s_sizetCdataEnd = sizeof(s_szCdataEnd) - 1;
constexpr std::size_t s_sizetCdataSplit = sizeof(s_szCdataSplit) - 1;

// The first "]]>" in [a_p, a_pEnd), or null.
const char* FindCdataEnd(const char* a_p, const char* a_pEnd) {
  for (; a_pEnd - a_p >= static_cast<std::ptrdiff_t>(s_sizetCdataEnd); ++a_p)
    if (a_p[0] == ']' && a_p[1] == ']' && a_p[2] == '>') return a_p;
  return nullptr;
}

}  // namespace

// Every refusal is a broken assumption of the caller, and is remembered.
#define OS_XMLTASK_REFUSE(...) \
  do {                         \
    OS_LOGA(__VA_ARGS__);      \
    m_bError = true;           \
  } while (0)

COsXmlTaskImpl::COsXmlTaskImpl(const char* a_szLinkName, std::int32_t a_lSize)
    : m_lCapacity(a_lSize > OS_XMLTASK_MIN_CAPACITY ? a_lSize : OS_XMLTASK_MIN_CAPACITY) {
  if (a_szLinkName != nullptr && a_szLinkName[0] != 0) {
    SStrNcpy(m_szLinkName, sizeof(m_szLinkName), a_szLinkName, sizeof(m_szLinkName) - 1);
    return;
  }
  m_pBuffer = static_cast<char*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(m_lCapacity), "COsXmlTaskImpl buffer"));
  if (m_pBuffer == nullptr) OS_XMLTASK_REFUSE("OsMemAlloc failed");
}

COsXmlTaskImpl::~COsXmlTaskImpl() {
  if (m_szLinkName[0] == 0) {
    if (m_pBuffer != nullptr) OS_MEM_FREE(m_pBuffer);
    return;
  }
  // Only this thread's buffer of the name: releasing every thread's would
  // pull the buffer from under another thread's builder in the middle of
  // its message. Buffers of threads that have ended go as well.
  void* const l_pv = OsMemThreadSafeAlloc(m_szLinkName, static_cast<std::uint64_t>(m_lCapacity), OS_LOG_FILE, __LINE__,
                                          OS_LOG_MEM_NORMAL);
  if (l_pv != nullptr) OS_MEM_FREE(l_pv);
  OsMemThreadSafeFree(nullptr, OS_LOG_FILE, __LINE__, OS_LOG_MEM_NORMAL);
}

char* COsXmlTaskImpl::Buffer() {
  char* const l_pc =
      m_szLinkName[0] == 0
          ? m_pBuffer
          : static_cast<char*>(OsMemThreadSafeAlloc(m_szLinkName, static_cast<std::uint64_t>(m_lCapacity), OS_LOG_FILE,
                                                    __LINE__, OS_LOG_MEM_NORMAL));
  if (l_pc == nullptr) m_bError = true;
  return l_pc;
}

COsXmlTaskImpl::Piece::Piece(const char* a_sz, bool a_bCdata)
    : m_sz(a_sz), m_sizet(std::strlen(a_sz)), m_sizetOut(m_sizet), m_bCdata(a_bCdata) {
  if (!m_bCdata) return;
  for (const char* l_p = FindCdataEnd(m_sz, m_sz + m_sizet); l_p != nullptr;
       l_p = FindCdataEnd(l_p + s_sizetCdataEnd, m_sz + m_sizet))
    m_sizetOut += s_sizetCdataSplit - s_sizetCdataEnd;
}

char* COsXmlTaskImpl::Write(std::int64_t a_llTabs, std::initializer_list<Piece> a_pieces) {
  char* const l_pcBuffer = Buffer();
  if (l_pcBuffer == nullptr) return nullptr;
  const std::uint64_t l_u64Tabs = a_llTabs > 0 ? static_cast<std::uint64_t>(a_llTabs) : 0;
  std::uint64_t l_u64Total = l_u64Tabs;
  for (const Piece& l_piece : a_pieces) l_u64Total += l_piece.m_sizetOut;
  // The text and the NUL behind it stay below the capacity.
  if (l_u64Total + 1 >= static_cast<std::uint64_t>(m_lCapacity - m_lPosition)) {
    OS_XMLTASK_REFUSE("xmltask>>> overflow...");
    return nullptr;
  }
  char* l_pc = l_pcBuffer + m_lPosition;
  std::memset(l_pc, '\t', static_cast<std::size_t>(l_u64Tabs));
  l_pc += static_cast<std::size_t>(l_u64Tabs);
  for (const Piece& l_piece : a_pieces) {
    // Never more than measured, even for a text that lies where this write
    // goes and changes under the copy.
    char* const l_pcEnd = l_pc + l_piece.m_sizetOut;
    auto l_put = [&l_pc, l_pcEnd](const char* a_p, std::size_t a_sizet) {
      const std::size_t l_sizetRoom = static_cast<std::size_t>(l_pcEnd - l_pc);
      if (a_sizet > l_sizetRoom) a_sizet = l_sizetRoom;
      std::memmove(l_pc, a_p, a_sizet);
      l_pc += a_sizet;
    };
    const char* l_p = l_piece.m_sz;
    const char* const l_pEnd = l_p + l_piece.m_sizet;
    for (const char* l_pSplit = l_piece.m_bCdata ? FindCdataEnd(l_p, l_pEnd) : nullptr; l_pSplit != nullptr;
         l_pSplit = FindCdataEnd(l_p, l_pEnd)) {
      l_put(l_p, static_cast<std::size_t>(l_pSplit - l_p));
      l_put(s_szCdataSplit, s_sizetCdataSplit);
      l_p = l_pSplit + s_sizetCdataEnd;
    }
    l_put(l_p, static_cast<std::size_t>(l_pEnd - l_p));
  }
  *l_pc = 0;
  m_lPosition = static_cast<std::int32_t>(l_pc - l_pcBuffer);
  return l_pcBuffer;
}

void COsXmlTaskImpl::FieldSet(std::int32_t a_lOffset, std::uint64_t a_u64Value) {
  char* const l_pcBuffer = Buffer();
  if (l_pcBuffer == nullptr) return;
  for (std::int32_t l_l = s_lFieldDigits - 1; l_l >= 0; --l_l) {
    l_pcBuffer[a_lOffset + l_l] = static_cast<char>('0' + a_u64Value % 10);
    a_u64Value /= 10;
  }
}

bool COsXmlTaskImpl::TaskBegin(std::int64_t a_nTaskId, std::int64_t a_nReplyId, const char* a_pszStatus) {
  if (m_bFrameOpen || m_bBlockOpen) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
    return false;
  }
  char* const l_pcBuffer = Buffer();
  if (l_pcBuffer == nullptr) return false;
  m_lDepth = 0;
  m_bFrameOpen = true;
  std::memset(l_pcBuffer, 0, static_cast<std::size_t>(m_lCapacity));
  std::memcpy(l_pcBuffer, s_szHeader, OS_XMLTASK_HEADER_SIZE);
  m_lPosition = OS_XMLTASK_HEADER_SIZE;
  m_lIdOffset = s_lIdOffset;
  m_lReplyOffset = s_lReplyOffset;
  m_lBytesOffset = s_lBytesOffset;
  if (a_nTaskId != 0) TaskIdSet(a_nTaskId);
  if (a_nReplyId != 0) TaskReplySet(a_nReplyId);
  if (a_pszStatus != nullptr && a_pszStatus[0] != 0) {
    BlockOpen("reportstatus", 1);
    ElementAdd("status", a_pszStatus, false);
    BlockClose("reportstatus");
  }
  return !m_bError;
}

// The fields exist only while a task header is in the buffer: patched into a
// document, the digits would overwrite its text.
void COsXmlTaskImpl::TaskIdSet(std::int64_t a_nTaskId) {
  if (a_nTaskId < 0) {
    OS_XMLTASK_REFUSE("xmltask>>> a_nTaskId is negative...");
  } else if (m_lIdOffset == 0) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else {
    FieldSet(m_lIdOffset, static_cast<std::uint64_t>(a_nTaskId));
  }
}

void COsXmlTaskImpl::TaskReplySet(std::int64_t a_nReplyId) {
  if (a_nReplyId < 0) {
    OS_XMLTASK_REFUSE("xmltask>>> a_nReplyId is negative...");
  } else if (m_lReplyOffset == 0) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else {
    FieldSet(m_lReplyOffset, static_cast<std::uint64_t>(a_nReplyId));
  }
}

void COsXmlTaskImpl::TaskEnd() {
  // A document frame has no header to end or to count into.
  if (!m_bFrameOpen || m_bBlockOpen || m_lBytesOffset == 0) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
    return;
  }
  if (m_lDepth != 0) {
    OS_XMLTASK_REFUSE("xmltask>>> depth error...%d, must be 0", m_lDepth);
    return;
  }
  m_bFrameOpen = false;
  char* const l_pcBuffer = Buffer();
  if (l_pcBuffer == nullptr) return;
  if (m_lPosition >= m_lCapacity - s_lTaskEnd) {
    OS_LOGA("buffer overflow...%d", static_cast<int>(std::int64_t{m_lPosition} + s_lTaskEnd));
    m_bError = true;
    return;
  }
  std::memcpy(l_pcBuffer + m_lPosition, s_szTaskEnd, s_lTaskEnd + 1);
  m_lPosition += s_lTaskEnd;
  FieldSet(m_lBytesOffset, static_cast<std::uint64_t>(m_lPosition));
}

void COsXmlTaskImpl::DocumentBegin(const char* a_pszName, std::int32_t a_lDepth) {
  if (a_pszName == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName is null...");
  } else if (m_bFrameOpen || m_bBlockOpen) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else if (a_lDepth < 0) {
    OS_XMLTASK_REFUSE("xmltask>>> depth error...%d, must be 0 or more", a_lDepth);
  } else {
    char* const l_pcBuffer = Buffer();
    if (l_pcBuffer == nullptr) return;
    l_pcBuffer[0] = 0;
    m_lPosition = 0;
    m_lIdOffset = m_lReplyOffset = m_lBytesOffset = 0;
    Write(a_lDepth, {{"<", false}, {a_pszName, false}, {">\n", false}});
    m_lDepth = a_lDepth;
    m_bBlockOpen = a_lDepth != 0;
    m_bFrameOpen = true;
  }
}

void COsXmlTaskImpl::DocumentEnd(const char* a_pszName) {
  if (a_pszName == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName is null...");
  } else if (!m_bFrameOpen || (m_bBlockOpen && m_lDepth == 0)) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else {
    Write(m_lDepth, {{"</", false}, {a_pszName, false}, {">\n", false}});
    m_bFrameOpen = false;
    m_bBlockOpen = false;
    m_lDepth = 0;
  }
}

void COsXmlTaskImpl::BlockOpen(const char* a_pszName, std::int32_t a_lDepth) {
  if (a_pszName == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName is null...");
  } else if (!m_bFrameOpen) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else if (a_lDepth != std::int64_t{m_lDepth} + 1) {
    OS_XMLTASK_REFUSE("xmltask>>> depth error...%d, must be %d", a_lDepth,
                      static_cast<int>(std::int64_t{m_lDepth} + 1));
  } else {
    Write(a_lDepth, {{"<", false}, {a_pszName, false}, {">\n", false}});
    m_lDepth = a_lDepth;
    m_bBlockOpen = true;
  }
}

void COsXmlTaskImpl::BlockClose(const char* a_pszName) {
  if (a_pszName == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName is null...");
  } else if (!m_bFrameOpen || !m_bBlockOpen) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else if (m_lDepth == 0) {
    OS_XMLTASK_REFUSE("xmltask>>> depth error...0, must be 1 or more");
  } else {
    Write(m_lDepth, {{"</", false}, {a_pszName, false}, {">\n", false}});
    --m_lDepth;
    m_bBlockOpen = m_lDepth > 0;
  }
}

void COsXmlTaskImpl::ElementAdd(const char* a_pszName, const char* a_pszValue, bool a_bNoIndent) {
  if (a_pszName == nullptr || a_pszValue == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName or a_pszValue is null...");
  } else if (!m_bFrameOpen || !(m_bBlockOpen || a_bNoIndent)) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else {
    // In 64 bits: a document may begin at the largest 32-bit depth.
    const std::int64_t l_llTabs = a_bNoIndent ? 0 : std::int64_t{m_lDepth} + 1;
    Write(l_llTabs, {{"<", false},
                     {a_pszName, false},
                     {">", false},
                     {a_pszValue, false},
                     {"</", false},
                     {a_pszName, false},
                     {">\n", false}});
  }
}

void COsXmlTaskImpl::ElementAddCdata(const char* a_pszName, const char* a_pszValue) {
  if (a_pszName == nullptr || a_pszValue == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName or a_pszValue is null...");
  } else if (!m_bFrameOpen || !m_bBlockOpen) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else {
    Write(std::int64_t{m_lDepth} + 1, {{"<", false},
                                       {a_pszName, false},
                                       {"><![CDATA[", false},
                                       {a_pszValue, true},
                                       {"]]></", false},
                                       {a_pszName, false},
                                       {">\n", false}});
  }
}

void COsXmlTaskImpl::ElementAddAuto(const char* a_pszName, const char* a_pszValue) {
  if (a_pszName == nullptr) {
    OS_XMLTASK_REFUSE("a_pszName is null...");
  } else if (a_pszValue != nullptr && std::strpbrk(a_pszValue, "<>") != nullptr) {
    ElementAddCdata(a_pszName, a_pszValue);
  } else {
    ElementAdd(a_pszName, a_pszValue, false);
  }
}

void COsXmlTaskImpl::RawAppend(const char* a_pszText) {
  if (a_pszText == nullptr) {
    OS_XMLTASK_REFUSE("xmltask>>> a_pszName is null...");
  } else if (!m_bFrameOpen) {
    OS_XMLTASK_REFUSE("xmltask>>> out of order...");
  } else {
    const char* const l_psz = a_pszText[0] == '\n' ? a_pszText + 1 : a_pszText;
    char* const l_pcBuffer = Write(0, {{l_psz, false}});
    // A text that ends in an indentation leaves it to the next line's own.
    if (l_pcBuffer != nullptr && l_psz[0] != 0 && l_pcBuffer[m_lPosition - 1] == '\t') l_pcBuffer[--m_lPosition] = 0;
  }
}

void COsXmlTaskImpl::Reset() {
  m_lPosition = 0;
  m_lBytesOffset = m_lIdOffset = m_lReplyOffset = 0;
  m_bFrameOpen = m_bBlockOpen = false;
  m_lDepth = 0;
  m_bError = false;
  char* const l_pcBuffer = Buffer();
  if (l_pcBuffer != nullptr) std::memset(l_pcBuffer, 0, static_cast<std::size_t>(m_lCapacity));
}

bool COsXmlTaskImpl::ErrorGet(bool a_bClear) {
  const bool l_bError = m_bError;
  if (a_bClear) m_bError = false;
  return l_bError;
}

// Every public operation needs its implementation.
#define OS_XMLTASK_IMPL_OR_RETURN(a_ret) \
  OS_RETURN_IF_NULL(m_posxmltaskimpl, OS_LOG_ASSERT, "m_posxmltaskimpl is null...", a_ret)

COsXmlTask::COsXmlTask(const char* a_szLinkName, std::int32_t a_lSize)
    : m_posxmltaskimpl(OsMemNew(COsXmlTaskImpl, "COsXmlTaskImpl", a_szLinkName, a_lSize)) {}

COsXmlTask::~COsXmlTask() {
  OsMemDelete(m_posxmltaskimpl);
  m_posxmltaskimpl = nullptr;
}

bool COsXmlTask::TaskBegin(std::int64_t a_nTaskId, std::int64_t a_nReplyId, const char* a_pszStatus) {
  OS_XMLTASK_IMPL_OR_RETURN(false);
  return m_posxmltaskimpl->TaskBegin(a_nTaskId, a_nReplyId, a_pszStatus);
}

void COsXmlTask::TaskIdSet(std::int64_t a_nTaskId) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->TaskIdSet(a_nTaskId);
}

void COsXmlTask::TaskReplySet(std::int64_t a_nReplyId) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->TaskReplySet(a_nReplyId);
}

void COsXmlTask::TaskEnd() {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->TaskEnd();
}

void COsXmlTask::DocumentBegin(const char* a_pszName, std::int32_t a_lDepth) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->DocumentBegin(a_pszName, a_lDepth);
}

void COsXmlTask::DocumentEnd(const char* a_pszName) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->DocumentEnd(a_pszName);
}

void COsXmlTask::BlockOpen(const char* a_pszName, std::int32_t a_lDepth) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->BlockOpen(a_pszName, a_lDepth);
}

void COsXmlTask::BlockClose(const char* a_pszName) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->BlockClose(a_pszName);
}

void COsXmlTask::ElementAdd(const char* a_pszName, const char* a_pszValue, bool a_bNoIndent) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->ElementAdd(a_pszName, a_pszValue, a_bNoIndent);
}

void COsXmlTask::ElementAddInt(const char* a_pszName, std::int32_t a_lValue, bool a_bNoIndent) {
  OS_XMLTASK_IMPL_OR_RETURN();
  char l_sz[16];
  SStrPrintf(l_sz, sizeof(l_sz), "%d", static_cast<int>(a_lValue));
  m_posxmltaskimpl->ElementAdd(a_pszName, l_sz, a_bNoIndent);
}

void COsXmlTask::ElementAddReal(const char* a_pszName, double a_dValue, bool a_bNoIndent) {
  OS_XMLTASK_IMPL_OR_RETURN();
  // The largest double has 309 digits before the point.
  char l_sz[512];
  SStrPrintf(l_sz, sizeof(l_sz), "%f", a_dValue);
  m_posxmltaskimpl->ElementAdd(a_pszName, l_sz, a_bNoIndent);
}

void COsXmlTask::ElementAddPointer(const char* a_pszName, const void* a_pvValue) {
  OS_XMLTASK_IMPL_OR_RETURN();
  char l_sz[2 * sizeof(void*) + 1];
  PtrToStr(l_sz, sizeof(l_sz), reinterpret_cast<std::uintptr_t>(a_pvValue));
  m_posxmltaskimpl->ElementAdd(a_pszName, l_sz, false);
}

void COsXmlTask::ElementAddCdata(const char* a_pszName, const char* a_pszValue) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->ElementAddCdata(a_pszName, a_pszValue);
}

void COsXmlTask::ElementAddAuto(const char* a_pszName, const char* a_pszValue) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->ElementAddAuto(a_pszName, a_pszValue);
}

void COsXmlTask::RawAppend(const char* a_pszText) {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->RawAppend(a_pszText);
}

char* COsXmlTask::BufferGet() {
  OS_XMLTASK_IMPL_OR_RETURN(nullptr);
  return m_posxmltaskimpl->Buffer();
}

std::int32_t COsXmlTask::LengthGet() {
  OS_XMLTASK_IMPL_OR_RETURN(0);
  return m_posxmltaskimpl->m_lPosition;
}

// Without an implementation nothing was built: that is an error, not a
// message ready to send.
bool COsXmlTask::ErrorGet(bool a_bClear) {
  OS_XMLTASK_IMPL_OR_RETURN(true);
  return m_posxmltaskimpl->ErrorGet(a_bClear);
}

void COsXmlTask::Reset() {
  OS_XMLTASK_IMPL_OR_RETURN();
  m_posxmltaskimpl->Reset();
}
