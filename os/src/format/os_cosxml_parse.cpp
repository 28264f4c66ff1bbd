// The reader's parser: one forward pass over the text copy that records an
// atom for every element and property, with no allocation per node.
//
// Bounds: the copy holds the text up to its first NUL and is terminated
// behind it, so a scan that meets the terminator has met the end; every
// search is bounded by the text length, and the copy has at least one growth
// step (256 bytes) of slack behind the terminator, which covers the two
// positions a self-closing tag at the very end may point past it.
//
// Adjacent CDATA sections of one element (the form a value holding "]]>"
// must take) give one value: their contents are copied together behind that
// slack, growing the copy when needed, and the element's data points there.
// The text itself is never changed, so an enclosing element's raw data still
// reads as written.
//
// Abort positions (pos=<%d>) are offsets into the copy: the '<' of the
// markup for faults of a whole tag, and for faults inside a property the
// place where the missing character was expected.
#include <cstdint>
#include <cstring>

#include "os_cosmem.h"
#include "os_cosxml_impl.h"
#include "os_log.h"

namespace {

// The characters that end an element's name; the terminator ends the text.
struct NameEnd {
  bool m_ab[256];
  constexpr NameEnd() : m_ab{} {
    m_ab[static_cast<unsigned char>(' ')] = true;
    m_ab[static_cast<unsigned char>('/')] = true;
    m_ab[static_cast<unsigned char>('>')] = true;
    m_ab[0] = true;
  }
};
constexpr NameEnd s_nameend;

constexpr char s_szCdata[] = "<![CDATA[";
constexpr std::int32_t s_lCdata = sizeof(s_szCdata) - 1;
constexpr std::int32_t s_lDeclarationGrowth = 8;

// The offset of the first a_c in [a_lFrom, a_lLength), or -1. Most runs
// between markup characters are short (a name, a value, an indentation), so
// the first bytes are looked at directly before a library scan takes over.
inline std::int32_t Find(const char* a_szText, std::int32_t a_lFrom, std::int32_t a_lLength, char a_c) {
  constexpr std::int32_t l_lDirect = 16;
  const std::int32_t l_lDirectEnd = a_lLength - a_lFrom > l_lDirect ? a_lFrom + l_lDirect : a_lLength;
  for (std::int32_t l_l = a_lFrom; l_l < l_lDirectEnd; ++l_l)
    if (a_szText[l_l] == a_c) return l_l;
  if (l_lDirectEnd >= a_lLength) return -1;
  const void* const l_pv =
      std::memchr(a_szText + l_lDirectEnd, a_c, static_cast<std::size_t>(a_lLength - l_lDirectEnd));
  return l_pv == nullptr ? -1 : static_cast<std::int32_t>(static_cast<const char*>(l_pv) - a_szText);
}

// The offset of the first "]]>" in [a_lFrom, a_lLength), or -1. A longer
// run of ']' before '>' ends at its last two.
inline std::int32_t FindCdataEnd(const char* a_szText, std::int32_t a_lFrom, std::int32_t a_lLength) {
  for (std::int32_t l_l = Find(a_szText, a_lFrom, a_lLength, ']'); l_l >= 0;
       l_l = Find(a_szText, l_l + 1, a_lLength, ']')) {
    // The terminator stops both tests before they could leave the text.
    if (a_szText[l_l + 1] == ']' && a_szText[l_l + 2] == '>') return l_l;
  }
  return -1;
}

inline bool IsLeadingSpace(char a_c) { return a_c == '\t' || a_c == ' ' || a_c == '\r' || a_c == '\n'; }

}  // namespace

bool COsXmlImpl::GrowAtoms() {
  // One spare row beyond the counted ones, as the table has always had.
  const std::int64_t l_llRows = static_cast<std::int64_t>(m_lAllocatedAtoms) + m_lAtomGrowth + 1;
  const std::int64_t l_llBytes = l_llRows * static_cast<std::int64_t>(sizeof(OsXmlAtom));
  if (l_llRows > INT32_MAX || l_llBytes > UINT32_MAX) return false;
  OsXmlAtom* const l_posxmlatom =
      static_cast<OsXmlAtom*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_llBytes), "COsXmlImpl atoms"));
  if (l_posxmlatom == nullptr) return false;
  if (m_posxmlatom != nullptr) {
    std::memcpy(l_posxmlatom, m_posxmlatom, static_cast<std::size_t>(m_lAllocatedAtoms) * sizeof(OsXmlAtom));
    OS_MEM_FREE(m_posxmlatom);
  }
  m_posxmlatom = l_posxmlatom;
  m_lAllocatedAtoms += m_lAtomGrowth;
  return true;
}

bool COsXmlImpl::GrowDeclarations() {
  const std::int64_t l_llRows = static_cast<std::int64_t>(m_lAllocatedDeclarations) + s_lDeclarationGrowth + 1;
  const std::int64_t l_llBytes = l_llRows * static_cast<std::int64_t>(sizeof(OsXmlAtom));
  if (l_llRows > INT32_MAX || l_llBytes > UINT32_MAX) return false;
  OsXmlAtom* const l_posxmlatom =
      static_cast<OsXmlAtom*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_llBytes), "COsXmlImpl declarations"));
  if (l_posxmlatom == nullptr) return false;
  if (m_posxmlatomDeclaration != nullptr) {
    std::memcpy(l_posxmlatom, m_posxmlatomDeclaration,
                static_cast<std::size_t>(m_lAllocatedDeclarations) * sizeof(OsXmlAtom));
    OS_MEM_FREE(m_posxmlatomDeclaration);
  }
  m_posxmlatomDeclaration = l_posxmlatom;
  m_lAllocatedDeclarations += s_lDeclarationGrowth;
  return true;
}

bool COsXmlImpl::JoinCdata(OsXmlAtom& a_osxmlatom, std::int32_t a_lContent, std::int32_t a_lContentLength,
                           std::int32_t* a_plJoined) {
  const std::int32_t l_lSoFar = -1 - a_osxmlatom.lData;
  // Content still in the text moves behind the last value joined and its
  // terminator (each value keeps its own, so that one held in place by
  // NodeDataAcquire does not cut the next); content that is the last value
  // joined grows in place.
  const bool l_bMove = a_osxmlatom.szData + l_lSoFar != *a_plJoined;
  const std::int64_t l_llStart = l_bMove ? static_cast<std::int64_t>(*a_plJoined) + 1 : a_osxmlatom.szData;
  const std::int64_t l_llEnd = l_llStart + l_lSoFar + a_lContentLength;
  // One byte behind the value for its terminator (and an in-place read's).
  if (l_llEnd + 1 > m_lTextCapacity) {
    // At least doubled: a value of many small sections would otherwise copy
    // the whole text again for every growth step of it.
    std::int64_t l_llCapacity = l_llEnd + 1 + m_lAtomGrowth;
    const std::int64_t l_llDoubled = 2 * static_cast<std::int64_t>(m_lTextCapacity);
    if (l_llCapacity < l_llDoubled && l_llDoubled < INT32_MAX) l_llCapacity = l_llDoubled;
    if (l_llCapacity >= INT32_MAX) return false;
    char* const l_szText =
        static_cast<char*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_llCapacity + 1), "COsXmlImpl text"));
    if (l_szText == nullptr) return false;
    // The text and the values joined so far, up to the last one's
    // terminator; a reused copy may end before the place the first joined
    // value was meant to take.
    const std::int64_t l_llUsed = *a_plJoined < m_lTextCapacity ? static_cast<std::int64_t>(*a_plJoined) + 1
                                                                : static_cast<std::int64_t>(m_lTextCapacity) + 1;
    std::memcpy(l_szText, m_szText, static_cast<std::size_t>(l_llUsed));
    OS_MEM_FREE(m_szText);
    m_szText = l_szText;
    m_lTextCapacity = static_cast<std::int32_t>(l_llCapacity);
  }
  if (l_bMove) std::memcpy(m_szText + l_llStart, m_szText + a_osxmlatom.szData, static_cast<std::size_t>(l_lSoFar));
  std::memcpy(m_szText + l_llStart + l_lSoFar, m_szText + a_lContent, static_cast<std::size_t>(a_lContentLength));
  m_szText[l_llEnd] = 0;
  a_osxmlatom.szData = static_cast<std::int32_t>(l_llStart);
  a_osxmlatom.lData = -1 - (l_lSoFar + a_lContentLength);
  *a_plJoined = static_cast<std::int32_t>(l_llEnd);
  return true;
}

void COsXmlImpl::Abandon(bool a_bFreeText) {
  if (m_posxmlatom != nullptr && m_lAtomsDirty > 0)
    std::memset(static_cast<void*>(m_posxmlatom), 0, static_cast<std::size_t>(m_lAtomsDirty) * sizeof(OsXmlAtom));
  m_lAtomsDirty = 0;
  m_lAtomsInUse = 0;
  if (m_posxmlatomDeclaration != nullptr)
    std::memset(static_cast<void*>(m_posxmlatomDeclaration), 0,
                static_cast<std::size_t>(m_lAllocatedDeclarations) * sizeof(OsXmlAtom));
  m_lDeclarationsInUse = 0;
  m_lCurrentNode = 0;
  std::memset(static_cast<void*>(m_aposxmlatomNode), 0, sizeof(m_aposxmlatomNode));
  m_lNameAcquiredAt = -1;
  m_lDataAcquiredAt = -1;
  if (a_bFreeText && m_szText != nullptr) {
    OS_MEM_FREE(m_szText);
    m_szText = nullptr;
    m_lTextCapacity = 0;
  }
}

EOSSTS COsXmlImpl::Load(const char* a_szDocument, std::int32_t a_lDocumentLength) {
  // Before anything is forgotten: the walk keeps the table and the text.
  OS_RETURN_IF(m_bDispatchWalking, OS_LOG_ASSERT, OS_XML_WALKING_TEXT, OS_STS_FAIL);
  if (a_szDocument == nullptr) {
    OS_LOGA("a_szDocument is null...");
    Abandon(false);
    return OS_STS_FAIL;
  }
  if (a_lDocumentLength < OS_XML_MIN_DOCUMENT) {
    OS_LOGA("a_lDocumentLength is too small...");
    Abandon(false);
    return OS_STS_FAIL;
  }
  const void* const l_pvNul = std::memchr(a_szDocument, 0, static_cast<std::size_t>(a_lDocumentLength));
  std::int32_t l_lLength = l_pvNul == nullptr
                               ? a_lDocumentLength
                               : static_cast<std::int32_t>(static_cast<const char*>(l_pvNul) - a_szDocument);

  // Nothing of an earlier document survives into this one. Atom rows are
  // overwritten whole as they are filled; the ones this load does not reach
  // are zeroed at its end.
  m_lAtomsInUse = 0;
  if (m_posxmlatomDeclaration != nullptr)
    std::memset(static_cast<void*>(m_posxmlatomDeclaration), 0,
                static_cast<std::size_t>(m_lAllocatedDeclarations) * sizeof(OsXmlAtom));
  m_lDeclarationsInUse = 0;
  m_lNameAcquiredAt = -1;
  m_lDataAcquiredAt = -1;

  if (m_szText == nullptr || m_lTextCapacity <= l_lLength) {
    if (m_szText != nullptr) OS_MEM_FREE(m_szText);
    m_szText = nullptr;
    m_lTextCapacity = 0;
    // A growth step of slack; a size past the 32-bit range fails like an
    // allocation would.
    const std::int64_t l_llCapacity = static_cast<std::int64_t>(l_lLength) + m_lAtomGrowth;
    if (l_llCapacity < INT32_MAX)
      m_szText = static_cast<char*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_llCapacity + 1), "COsXmlImpl text"));
    if (m_szText == nullptr) {
      OS_LOGA("OsMemAlloc failed...");
      Abandon(false);
      return OS_STS_TOOSMALL;
    }
    m_lTextCapacity = static_cast<std::int32_t>(l_llCapacity);
  }

  std::int32_t l_lSkip = 0;
  if (a_szDocument[0] != '<') {
    while (l_lSkip < l_lLength && IsLeadingSpace(a_szDocument[l_lSkip])) ++l_lSkip;
  }
  l_lLength -= l_lSkip;
  char* l_szText = m_szText;  // moves when a joined CDATA value needs more room
  std::memcpy(l_szText, a_szDocument + l_lSkip, static_cast<std::size_t>(l_lLength));
  l_szText[l_lLength] = 0;

  std::int32_t l_lInUse = 0;
  // An abort forgets every row this load or an earlier one wrote.
  auto l_abort = [&]() {
    if (m_lAtomsDirty < l_lInUse) m_lAtomsDirty = l_lInUse;
    Abandon(true);
    return OS_STS_FAIL;
  };

  if (l_szText[0] != '<') {
    OS_LOGA("XML abort...first char not <");
    return l_abort();
  }

  OsXmlAtom* l_posxmlatom = m_posxmlatom;
  // The open elements, innermost last, as rows: the table may move.
  std::int32_t l_alOpen[OS_XML_MAX_DEPTH];
  std::int32_t l_lOpen = 0;
  // The element whose CDATA section ended last and the position behind its
  // "]]>": a section that begins right there continues that content.
  std::int32_t l_lCdataRow = -1;
  std::int32_t l_lCdataAfter = -1;
  // Where the last joined CDATA value ends. The first one goes behind the
  // text's terminator and the two positions a self-closing tag at the very
  // end may point to, as if a value ended at l_lLength + 2.
  std::int32_t l_lJoined = l_lLength + 2;

  std::int32_t l_i = 0;
  while (l_i < l_lLength) {
    if (l_szText[l_i] != '<') {
      l_i = Find(l_szText, l_i + 1, l_lLength, '<');
      if (l_i < 0) break;
    }
    const char l_cKind = l_szText[l_i + 1];

    if (l_cKind == '!') {
      // Comments and DOCTYPE land here too and are refused; so is CDATA
      // outside every element, which has nothing to belong to.
      if (!(l_i + s_lCdata < l_lLength && std::memcmp(l_szText + l_i, s_szCdata, s_lCdata) == 0) || l_lOpen == 0) {
        OS_LOGA("XML abort...invalid CDATA section. pos=<%d>", l_i);
        return l_abort();
      }
      OsXmlAtom& l_osxmlatom = l_posxmlatom[l_alOpen[l_lOpen - 1]];
      const std::int32_t l_lContent = l_i + s_lCdata;
      const std::int32_t l_lEnd = FindCdataEnd(l_szText, l_lContent, l_lLength);
      if (l_lEnd < 0) break;  // unterminated: the element stays open
      if (l_alOpen[l_lOpen - 1] == l_lCdataRow && l_i == l_lCdataAfter) {
        // A value holding "]]>" is written as adjacent sections, split inside
        // that sequence; their contents together are the element's data.
        if (!JoinCdata(l_osxmlatom, l_lContent, l_lEnd - l_lContent, &l_lJoined)) {
          OS_LOGA("XML abort...out of memory. pos=<%d>", l_i);
          return l_abort();
        }
        l_szText = m_szText;
      } else {
        // A negative length marks CDATA content until the closing tag turns
        // it into the content's length.
        l_osxmlatom.szData = l_lContent;
        l_osxmlatom.lData = l_lContent - (l_lEnd + 3) + 2;
      }
      l_lCdataRow = l_alOpen[l_lOpen - 1];
      l_i = l_lCdataAfter = l_lEnd + 3;
      continue;
    }

    if (l_cKind == '/') {
      if (l_lOpen == 0) {
        OS_LOGA("XML abort...more closing tags than opens. pos=<%d>", l_i);
        return l_abort();
      }
      const std::int32_t l_lName = l_i + 2;
      const std::int32_t l_lClose = Find(l_szText, l_lName, l_lLength, '>');
      if (l_lClose < 0 || l_lClose == l_lName) {
        OS_LOGA("XML abort...didn't find '>' in closing tag.  pos=<%d>", l_i);
        return l_abort();
      }
      OsXmlAtom& l_osxmlatom = l_posxmlatom[l_alOpen[l_lOpen - 1]];
      if (l_lName + l_osxmlatom.lName >= l_lLength) {
        OS_LOGA("XML abort...ran out of buffer.  pos=<%d>", l_i);
        return l_abort();
      }
      // Only as many characters as the opening name has: "</abc>" closes <ab>.
      if (std::memcmp(l_szText + l_lName, l_szText + l_osxmlatom.szName, static_cast<std::size_t>(l_osxmlatom.lName)) !=
          0) {
        OS_LOGA("XML abort...tags out of synch (closing doesn't match opening) %d %d %d %.64s", l_osxmlatom.szName,
                l_lName, l_lLength, l_szText);
        return l_abort();
      }
      if (l_osxmlatom.lData < 0)
        l_osxmlatom.lData = -1 - l_osxmlatom.lData;
      else
        l_osxmlatom.lData = l_i >= l_osxmlatom.szData ? l_i - l_osxmlatom.szData : 0;
      --l_lOpen;
      l_i = l_lClose + 1;
      continue;
    }

    if (l_cKind == '?') {
      // The target word is not separated: "xml version" is the first name.
      std::int32_t l_lProperty = l_i + 2;
      for (;;) {
        const std::int32_t l_lEquals = Find(l_szText, l_lProperty, l_lLength, '=');
        if (l_lEquals < 0 || l_lEquals == l_lProperty) {
          OS_LOGA("XML abort...didn't find '=' in property name. pos=<%d>", l_lProperty);
          return l_abort();
        }
        if (l_szText[l_lEquals + 1] != '\'') {
          OS_LOGA("XML abort...expected single quote. pos=<%d>", l_lEquals + 1);
          return l_abort();
        }
        const std::int32_t l_lValue = l_lEquals + 2;
        const std::int32_t l_lQuote = Find(l_szText, l_lValue, l_lLength, '\'');
        if (l_lQuote < 0 || l_lQuote == l_lValue) {
          OS_LOGA("XML abort...didn't find ending single quote in property. pos=<%d>", l_lValue);
          return l_abort();
        }
        if (m_lDeclarationsInUse == m_lAllocatedDeclarations && !GrowDeclarations()) {
          OS_LOGA("XML abort...out of memory. pos=<%d>", l_lProperty);
          return l_abort();
        }
        const std::int32_t l_lRow = m_lDeclarationsInUse++;
        m_posxmlatomDeclaration[l_lRow] =
            OsXmlAtom{OS_XML_TYPE_PROPERTY, 0,      l_lRow, l_lProperty, l_lEquals - l_lProperty, l_lValue,
                      l_lQuote - l_lValue,  nullptr};
        l_lProperty = l_lQuote + 1;
        if (l_szText[l_lProperty] != ' ') break;
        ++l_lProperty;  // exactly one space: a second one begins the next name
      }
      if (l_szText[l_lProperty] != '?') {
        OS_LOGA("XML abort...expected '?' character. pos=<%d>", l_lProperty);
        return l_abort();
      }
      if (l_szText[l_lProperty + 1] != '>') {
        OS_LOGA("XML abort...expected '>'. pos=<%d>", l_lProperty + 1);
        return l_abort();
      }
      l_i = l_lProperty + 2;
      while (l_i < l_lLength && (l_szText[l_i] == '\n' || l_szText[l_i] == ' ' || l_szText[l_i] == '\t')) ++l_i;
      continue;
    }

    // An opening tag.
    if (l_lOpen == OS_XML_MAX_DEPTH) {
      OS_LOGA("XML abort...exceeded max tag depth. pos=<%d>", l_i);
      return l_abort();
    }
    if (l_lInUse == m_lAllocatedAtoms) {
      if (!GrowAtoms()) {
        OS_LOGA("XML abort...out of memory. pos=<%d>", l_i);
        return l_abort();
      }
      l_posxmlatom = m_posxmlatom;
    }
    const std::int32_t l_lElement = l_lInUse++;
    const std::int32_t l_lDepth = l_lOpen;
    std::int32_t l_lEnd = l_i + 1;
    while (!s_nameend.m_ab[static_cast<unsigned char>(l_szText[l_lEnd])]) ++l_lEnd;
    if (l_lEnd == l_i + 1 || l_lEnd >= l_lLength) {
      OS_LOGA("XML abort...can't find ' ' or '>' or '/>' in tag. pos=<%d>", l_i);
      return l_abort();
    }
    l_posxmlatom[l_lElement] =
        OsXmlAtom{OS_XML_TYPE_TAG, l_lDepth, l_lElement, l_i + 1, l_lEnd - (l_i + 1), 0, 0, nullptr};
    char l_cAfter = l_szText[l_lEnd];
    while (l_cAfter == ' ') {
      if (l_lInUse == m_lAllocatedAtoms) {
        if (!GrowAtoms()) {
          OS_LOGA("XML abort...out of memory. pos=<%d>", l_lEnd + 1);
          return l_abort();
        }
        l_posxmlatom = m_posxmlatom;
      }
      const std::int32_t l_lRow = l_lInUse++;
      const std::int32_t l_lProperty = l_lEnd + 1;
      const std::int32_t l_lEquals = Find(l_szText, l_lProperty, l_lLength, '=');
      if (l_lEquals < 0 || l_lEquals == l_lProperty) {
        OS_LOGA("XML abort...can't find '=' in property. pos=<%d>", l_lProperty);
        return l_abort();
      }
      if (l_szText[l_lEquals + 1] != '\'') {
        OS_LOGA("XML abort...can't find ' after '=' in property (spaces after = not allowed). pos=<%d>", l_lEquals + 1);
        return l_abort();
      }
      const std::int32_t l_lValue = l_lEquals + 2;
      const std::int32_t l_lQuote = Find(l_szText, l_lValue, l_lLength, '\'');
      if (l_lQuote < 0 || l_lQuote == l_lValue) {
        OS_LOGA("XML abort...can't find closing ' in property data.  pos=<%d>", l_lValue);
        return l_abort();
      }
      l_posxmlatom[l_lRow] =
          OsXmlAtom{OS_XML_TYPE_PROPERTY, l_lDepth, l_lRow, l_lProperty, l_lEquals - l_lProperty, l_lValue,
                    l_lQuote - l_lValue,  nullptr};
      l_lEnd = l_lQuote + 1;
      l_cAfter = l_szText[l_lEnd];
      if (l_cAfter != ' ' && l_cAfter != '>' && l_cAfter != '/') {
        OS_LOGA("XML abort...expected closing bracket '>' or '/>'.  pos=<%d>", l_lEnd);
        return l_abort();
      }
    }
    if (l_cAfter == '>') {
      l_posxmlatom[l_lElement].szData = l_lEnd + 1;
      l_alOpen[l_lOpen++] = l_lElement;
      l_i = l_lEnd + 1;
    } else {
      // Self-closing; the character after '/' is taken to be its '>'.
      l_posxmlatom[l_lElement].szData = l_lEnd + 2;
      l_i = l_lEnd + 2;
    }
  }

  if (l_lOpen != 0) {
    OS_LOGA("XML abort...nesting problem in document.");
    return l_abort();
  }
  // Row 0 is where the cursor starts, even for a text without elements.
  if (m_lAllocatedAtoms == 0 && !GrowAtoms()) {
    OS_LOGA("XML abort...out of memory. pos=<%d>", l_lLength);
    return l_abort();
  }
  if (m_lAtomsDirty > l_lInUse)
    std::memset(static_cast<void*>(m_posxmlatom + l_lInUse), 0,
                static_cast<std::size_t>(m_lAtomsDirty - l_lInUse) * sizeof(OsXmlAtom));
  m_lAtomsInUse = l_lInUse;
  m_lAtomsDirty = l_lInUse;
  m_lCurrentNode = 0;
  std::memset(static_cast<void*>(m_aposxmlatomNode), 0, sizeof(m_aposxmlatomNode));
  m_aposxmlatomNode[0] = m_posxmlatom;
  m_eosxmlstate = OS_XML_STATE_LOADED;
  return OS_STS_SUCCESS;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
