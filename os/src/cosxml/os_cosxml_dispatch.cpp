// The XML dispatch: a template document whose elements are bound to
// program objects and functions, walked over the loaded document.
//
// The state lives in the document's COsXmlImpl: the object map, the
// template (a COsXml of its own), the callback block with one set per
// template atom (each template element's pCallbacks points at its set), the
// module that exports the functions, and a file object for the lookups. The
// reader frees the buffers when it is destroyed; the file object is released
// here, through the function this file registers in the implementation.
#include <cstdint>
#include <cstring>

#include "os_cosfile.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_cosxml.h"
#include "os_cosxml_impl.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_sysinfo.h"

namespace {

constexpr std::int32_t OS_XML_OBJECT_MAP_STEP = 256;
// Property values longer than this are not read.
constexpr std::int32_t OS_XML_PROPERTY_SIZE = 128;
// Class, '_' and function.
constexpr std::size_t OS_XML_LOOKUP_SIZE = 512;

// ---- the object map ----

// Rows of the map, one spare row beyond the counted ones; false when the
// bytes cannot be counted.
bool ObjectMapBytes(std::int64_t a_llRows, std::uint32_t* a_pu32Bytes) {
  const std::int64_t l_llBytes = a_llRows * static_cast<std::int64_t>(sizeof(OsXmlObjectRow));
  if (a_llRows > INT32_MAX || l_llBytes > UINT32_MAX) return false;
  *a_pu32Bytes = static_cast<std::uint32_t>(l_llBytes);
  return true;
}

// The first free row of the usable ones (all but the last of the size), or null.
OsXmlObjectRow* FreeRow(COsXmlImpl& a_impl) {
  for (std::int32_t l_l = 0; l_l < a_impl.m_lObjectMapSize - 1; ++l_l)
    if (a_impl.m_posxmlobjectrow[l_l].pvObject == nullptr) return &a_impl.m_posxmlobjectrow[l_l];
  return nullptr;
}

EOSSTS AddObject(COsXmlImpl& a_impl, const char* a_szObjectName, const char* a_szClassName, void* a_pvObject) {
  OS_RETURN_IF(a_szObjectName == nullptr || a_szObjectName[0] == 0, OS_LOG_ASSERT, "a_szObjectName is null or empty...",
               OS_STS_FAIL);
  OS_RETURN_IF(a_szClassName == nullptr || a_szClassName[0] == 0, OS_LOG_ASSERT, "a_szClassName is null or empty...",
               OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_pvObject, OS_LOG_ASSERT, "a_pvDispatchObj is null...", OS_STS_FAIL);
  if (a_impl.m_posxmlobjectrow == nullptr) {
    std::uint32_t l_u32Bytes = 0;
    ObjectMapBytes(OS_XML_OBJECT_MAP_STEP + 1, &l_u32Bytes);
    a_impl.m_posxmlobjectrow = static_cast<OsXmlObjectRow*>(OS_MEM_ALLOC(l_u32Bytes, "COsXmlImpl object map"));
    OS_RETURN_IF_NULL(a_impl.m_posxmlobjectrow, OS_LOG_ASSERT, "OsMemAlloc failed...", OS_STS_FAIL);
    a_impl.m_lObjectMapSize = OS_XML_OBJECT_MAP_STEP;
  }
  OsXmlObjectRow* l_prow = FreeRow(a_impl);
  if (l_prow == nullptr) {
    const std::int32_t l_lSize = a_impl.m_lObjectMapSize;
    OS_LOGI("xml>>> growing the dispatch object map...%d -> %d", l_lSize, l_lSize + OS_XML_OBJECT_MAP_STEP);
    std::uint32_t l_u32Bytes = 0;
    OsXmlObjectRow* const l_prowNew =
        ObjectMapBytes(static_cast<std::int64_t>(a_impl.m_lAtomGrowth) + l_lSize + 1, &l_u32Bytes) &&
                l_lSize <= INT32_MAX - OS_XML_OBJECT_MAP_STEP
            ? static_cast<OsXmlObjectRow*>(OS_MEM_ALLOC(l_u32Bytes, "COsXmlImpl object map"))
            : nullptr;
    OS_RETURN_IF_NULL(l_prowNew, OS_LOG_ASSERT, "OsMemAlloc failed...", OS_STS_FAIL);
    std::memcpy(l_prowNew, a_impl.m_posxmlobjectrow, static_cast<std::size_t>(l_lSize) * sizeof(OsXmlObjectRow));
    OS_MEM_FREE(a_impl.m_posxmlobjectrow);
    a_impl.m_posxmlobjectrow = l_prowNew;
    a_impl.m_lObjectMapSize = l_lSize + OS_XML_OBJECT_MAP_STEP;
    l_prow = FreeRow(a_impl);
    OS_RETURN_IF_NULL(l_prow, OS_LOG_ASSERT, "xml>>> DispatchAddObject failed...", OS_STS_FAIL);
  }
  *l_prow = {a_szObjectName, a_szClassName, a_pvObject};
  return OS_STS_SUCCESS;
}

// The row of an object name: the one of exactly that name, else the first
// whose name begins with it (so an object is never taken for another one
// whose name it merely begins). Null when none.
const OsXmlObjectRow* FindObject(const COsXmlImpl& a_impl, const char* a_szName, std::size_t a_sizetName) {
  if (a_sizetName == 0) return nullptr;
  const OsXmlObjectRow* l_prowPrefix = nullptr;
  for (std::int32_t l_l = 0; l_l < a_impl.m_lObjectMapSize - 1; ++l_l) {
    const OsXmlObjectRow& l_row = a_impl.m_posxmlobjectrow[l_l];
    if (l_row.pvObject == nullptr || std::strncmp(l_row.szObjectName, a_szName, a_sizetName) != 0) continue;
    if (l_row.szObjectName[a_sizetName] == 0) return &l_row;
    if (l_prowPrefix == nullptr) l_prowPrefix = &l_row;
  }
  return l_prowPrefix;
}

// ---- binding ----

bool IsHex(const char* a_sz) { return a_sz[0] == '0' && (a_sz[1] == 'x' || a_sz[1] == 'X'); }

// The address of the hexadecimal digits after "0x" (at most a_sizet
// characters in all, up to the first other character); 0 when it does not
// fit in a pointer.
std::uintptr_t HexAddress(const char* a_sz, std::size_t a_sizet) {
  std::uintptr_t l_uptr = 0;
  for (std::size_t l_i = 2; l_i < a_sizet; ++l_i) {
    const char l_c = a_sz[l_i];
    int l_iDigit = -1;
    if (l_c >= '0' && l_c <= '9')
      l_iDigit = l_c - '0';
    else if (l_c >= 'a' && l_c <= 'f')
      l_iDigit = l_c - 'a' + 10;
    else if (l_c >= 'A' && l_c <= 'F')
      l_iDigit = l_c - 'A' + 10;
    if (l_iDigit < 0) break;
    if (l_uptr > (UINTPTR_MAX >> 4)) return 0;
    l_uptr = (l_uptr << 4) | static_cast<std::uintptr_t>(l_iDigit);
  }
  return l_uptr;
}

// The file object that resolves names, made on first use.
COsFile* Library(COsXmlImpl& a_impl) {
  if (a_impl.m_posfileLibrary == nullptr) {
    a_impl.m_posfileLibrary = OsMemNew(COsFile, "COsFile");
    a_impl.m_pfnDispatchRelease = [](COsXmlImpl& a_implRelease) {
      OsMemDelete(a_implRelease.m_posfileLibrary);
      a_implRelease.m_posfileLibrary = nullptr;
      a_implRelease.m_hModule = nullptr;
    };
  }
  return a_impl.m_posfileLibrary;
}

// A function of the dispatch module by its short name (Class_function), or
// "0x..." as an address; 1 with its message when it comes to nothing.
EOSSTS BindFunction(COsXmlImpl& a_impl, const char* a_szClass, const char* a_szFunction,
                    OsXmlCallbackFunction* a_ppfn) {
  if (IsHex(a_szFunction)) {
    *a_ppfn = reinterpret_cast<OsXmlCallbackFunction>(HexAddress(a_szFunction, std::strlen(a_szFunction)));
    OS_RETURN_IF_NULL(*a_ppfn, OS_LOG_ASSERT, "callback function <%s> evaluates to NULL", OS_STS_FAIL, a_szFunction);
    return OS_STS_SUCCESS;
  }
  // A name that does not fit would name another function: none is looked up.
  char l_szLookup[OS_XML_LOOKUP_SIZE];
  const int l_iLookup = a_szClass != nullptr
                            ? SStrPrintf(l_szLookup, sizeof(l_szLookup), "%s_%s", a_szClass, a_szFunction)
                            : SStrPrintf(l_szLookup, sizeof(l_szLookup), "%s", a_szFunction);
  COsFile* const l_posfile = Library(a_impl);
  void* const l_pv = l_iLookup < 0 || l_posfile == nullptr
                         ? nullptr
                         : l_posfile->SharedLibraryGetProc(l_szLookup, a_impl.m_hModule, OS_LIBPROC_XMLCALLBACK);
  *a_ppfn = reinterpret_cast<OsXmlCallbackFunction>(l_pv);
  OS_RETURN_IF_NULL(*a_ppfn, OS_LOG_ASSERT, "callback function <%s> evaluates to NULL", OS_STS_FAIL, l_szLookup);
  return OS_STS_SUCCESS;
}

// One "object.function" value into an object and a function slot.
EOSSTS Bind(COsXmlImpl& a_impl, const char* a_szProperty, void** a_ppvObject, OsXmlCallbackFunction* a_ppfn) {
  OS_RETURN_IF_NULL(a_szProperty, OS_LOG_ASSERT, "a_szProperty is null", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_ppvObject, OS_LOG_ASSERT, "a_pvObject is null", OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_ppfn, OS_LOG_ASSERT, "a_pvCallbackFunction is null", OS_STS_FAIL);
  const char* const l_szDot = std::strchr(a_szProperty, '.');
  OS_RETURN_IF_NULL(l_szDot, OS_LOG_ASSERT, "callback property must be 'object.function'...", OS_STS_FAIL);
  const std::size_t l_sizetObject = static_cast<std::size_t>(l_szDot - a_szProperty);
  const int l_iObject = static_cast<int>(l_sizetObject);

  void* l_pvObject = nullptr;
  const char* l_szClass = nullptr;
  if (IsHex(a_szProperty)) {
    l_pvObject = reinterpret_cast<void*>(HexAddress(a_szProperty, l_sizetObject));
  } else {
    OS_RETURN_IF_NULL(a_impl.m_posxmlobjectrow, OS_LOG_ASSERT, "Must call DispatchAddObject first (null list)...",
                      OS_STS_FAIL);
    const OsXmlObjectRow* const l_prow = FindObject(a_impl, a_szProperty, l_sizetObject);
    OS_RETURN_IF_NULL(l_prow, OS_LOG_ASSERT,
                      "could not find <%.*s> in object list. Declare objects in DispatchAddObject() before calling "
                      "DispatchLoad()",
                      OS_STS_FAIL, l_iObject, a_szProperty);
    l_pvObject = l_prow->pvObject;
    l_szClass = l_prow->szClassName;
  }
  OS_RETURN_IF_NULL(l_pvObject, OS_LOG_ASSERT, "object <%.*s> evaluates to NULL ", OS_STS_FAIL, l_iObject,
                    a_szProperty);
  OsXmlCallbackFunction l_pfn = nullptr;
  if (const EOSSTS l_eossts = BindFunction(a_impl, l_szClass, l_szDot + 1, &l_pfn); l_eossts != OS_STS_SUCCESS)
    return l_eossts;
  *a_ppvObject = l_pvObject;
  *a_ppfn = l_pfn;
  return OS_STS_SUCCESS;
}

// The value of a property of the template's current element; false when the
// element has none of that name. A value too long to read is handed on
// empty, so that binding refuses it rather than leaving the call unbound.
bool Property(COsXml& a_posxmlTemplate, const char* a_szName, char (&a_szValue)[OS_XML_PROPERTY_SIZE]) {
  return a_posxmlTemplate.NodePropertyGet(a_szName, a_szValue, OS_XML_PROPERTY_SIZE) != OS_STS_FAIL;
}

// The properties of the template's current element into its set;
// unknown and unordered come from the parent's set when absent.
EOSSTS BindElement(COsXmlImpl& a_impl, COsXml& a_posxmlTemplate, OsXmlCallbackSet& a_set,
                   const OsXmlCallbackSet* a_psetParent) {
  char l_szValue[OS_XML_PROPERTY_SIZE];
  EOSSTS l_eossts = OS_STS_SUCCESS;
  if (Property(a_posxmlTemplate, "enter", l_szValue) &&
      (l_eossts = Bind(a_impl, l_szValue, &a_set.pvObjectEnter, &a_set.osxmlcallbackfunctionEnter)) != OS_STS_SUCCESS)
    return l_eossts;
  if (Property(a_posxmlTemplate, "exit", l_szValue) &&
      (l_eossts = Bind(a_impl, l_szValue, &a_set.pvObjectExit, &a_set.osxmlcallbackfunctionExit)) != OS_STS_SUCCESS)
    return l_eossts;
  if (Property(a_posxmlTemplate, "unknown", l_szValue)) {
    if ((l_eossts = Bind(a_impl, l_szValue, &a_set.pvObjectUnknown, &a_set.osxmlcallbackfunctionUnknown)) !=
        OS_STS_SUCCESS)
      return l_eossts;
  } else if (a_psetParent != nullptr) {
    a_set.pvObjectUnknown = a_psetParent->pvObjectUnknown;
    a_set.osxmlcallbackfunctionUnknown = a_psetParent->osxmlcallbackfunctionUnknown;
  }
  if (Property(a_posxmlTemplate, "unordered", l_szValue)) {
    if ((l_eossts = Bind(a_impl, l_szValue, &a_set.pvObjectUnordered, &a_set.osxmlcallbackfunctionUnordered)) !=
        OS_STS_SUCCESS)
      return l_eossts;
  } else if (a_psetParent != nullptr) {
    a_set.pvObjectUnordered = a_psetParent->pvObjectUnordered;
    a_set.osxmlcallbackfunctionUnordered = a_psetParent->osxmlcallbackfunctionUnordered;
  }
  if (Property(a_posxmlTemplate, "user", l_szValue)) {
    if (IsHex(l_szValue)) {
      a_set.pvNameArg = reinterpret_cast<void*>(HexAddress(l_szValue, std::strlen(l_szValue)));
    } else {
      OsXmlCallbackFunction l_pfn = nullptr;
      if ((l_eossts = BindFunction(a_impl, nullptr, l_szValue, &l_pfn)) != OS_STS_SUCCESS) return l_eossts;
      a_set.pvNameArg = reinterpret_cast<void*>(l_pfn);
    }
  }
  return OS_STS_SUCCESS;
}

// The first child element of an atom of a loaded table, or null: the atom
// right after its own properties, when that is an element one level deeper.
// Asked before a cursor level is spent on it.
OsXmlAtom* FirstChild(COsXmlImpl& a_impl, const OsXmlAtom* a_posxmlatom) {
  for (std::int32_t l_l = static_cast<std::int32_t>(a_posxmlatom - a_impl.m_posxmlatom) + 1; l_l < a_impl.m_lAtomsInUse;
       ++l_l) {
    OsXmlAtom& l_osxmlatom = a_impl.m_posxmlatom[l_l];
    if (l_osxmlatom.eosxmltype == OS_XML_TYPE_PROPERTY && l_osxmlatom.lDepth == a_posxmlatom->lDepth) continue;
    return l_osxmlatom.eosxmltype == OS_XML_TYPE_TAG && l_osxmlatom.lDepth == a_posxmlatom->lDepth + 1 ? &l_osxmlatom
                                                                                                       : nullptr;
  }
  return nullptr;
}

EOSSTS LoadTemplate(COsXmlImpl& a_impl, const char* a_szTemplate, std::int32_t a_lTemplateLength, void* a_hModule) {
  OS_RETURN_IF(a_impl.m_bDispatchWalking, OS_LOG_ASSERT, OS_XML_WALKING_TEXT, OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szTemplate, OS_LOG_ASSERT, "a_szTemplate is NULL...", OS_STS_FAIL);
  if (a_impl.m_posxmlTemplate == nullptr) {
    a_impl.m_posxmlTemplate = OsMemNew(COsXml, "COsXml");
    OS_RETURN_IF_NULL(a_impl.m_posxmlTemplate, OS_LOG_ASSERT, "new failed...", OS_STS_FAIL);
    a_impl.m_posxmlTemplate->AtomGrowthSet(a_impl.m_lCallbackGrowth);
  }
  COsXml& l_posxmlTemplate = *a_impl.m_posxmlTemplate;
  a_impl.m_hModule = a_hModule;
  OS_RETURN_IF(l_posxmlTemplate.Load(a_szTemplate, a_lTemplateLength) != OS_STS_SUCCESS, OS_LOG_ASSERT,
               "DocumentLoad failed...", OS_STS_FAIL);
  COsXmlImpl& l_implTemplate = *l_posxmlTemplate.m_posxmlimpl;  // a loaded document has one
  l_posxmlTemplate.NodeRoot();

  if (a_impl.m_posxmlcallbackset != nullptr) OS_MEM_FREE(a_impl.m_posxmlcallbackset);
  const std::int32_t l_lSets = l_implTemplate.m_lAtomsInUse;
  const std::int64_t l_llBytes =
      (static_cast<std::int64_t>(l_lSets) + 1) * static_cast<std::int64_t>(sizeof(OsXmlCallbackSet));
  a_impl.m_posxmlcallbackset =
      l_llBytes > UINT32_MAX
          ? nullptr
          : static_cast<OsXmlCallbackSet*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(l_llBytes), "COsXmlImpl callbacks"));
  OS_RETURN_IF_NULL(a_impl.m_posxmlcallbackset, OS_LOG_ASSERT, "OsMemAlloc failed...", OS_STS_FAIL);

  // Depth-first in document order, every root of the template included.
  for (std::int32_t l_lSet = 0;;) {
    // A text of declarations only has an empty row where the cursor starts.
    OsXmlAtom* const l_posxmlatom = l_posxmlTemplate.NodeGetOsXmlAtom();
    OS_RETURN_IF(l_posxmlatom == nullptr || l_posxmlatom->eosxmltype != OS_XML_TYPE_TAG, OS_LOG_ASSERT,
                 "NodeGetOsXmlAtom failed...", OS_STS_FAIL);
    if (l_lSet >= l_lSets) {
      OS_LOGA("xml>>> we overflowed our callback array...");
      break;
    }
    OsXmlCallbackSet& l_set = a_impl.m_posxmlcallbackset[l_lSet++];
    l_posxmlatom->pCallbacks = &l_set;
    const OsXmlAtom* const l_posxmlatomParent = l_posxmlTemplate.NodeParent();
    if (const EOSSTS l_eossts = BindElement(a_impl, l_posxmlTemplate, l_set,
                                            l_posxmlatomParent != nullptr ? l_posxmlatomParent->pCallbacks : nullptr);
        l_eossts != OS_STS_SUCCESS) {
      l_posxmlTemplate.NodeRoot();
      return l_eossts;
    }
    if (FirstChild(l_implTemplate, l_posxmlatom) != nullptr && l_posxmlTemplate.NodePush() == OS_STS_SUCCESS) {
      l_posxmlTemplate.NodeChild();
      continue;
    }
    bool l_bDone = false;
    while (!l_bDone && l_posxmlTemplate.NodeNext() != OS_STS_SUCCESS) {
      if (l_implTemplate.m_lCurrentNode == 0)
        l_bDone = true;
      else
        l_posxmlTemplate.NodePop();
    }
    if (l_bDone) break;
  }
  l_posxmlTemplate.NodeRoot();
  return OS_STS_SUCCESS;
}

// ---- the walk ----

// One pair of a set (object and function).
struct Pair {
  void* m_pvObject;
  OsXmlCallbackFunction m_pfn;
};

constexpr OsXmlCallbackSet s_setNone = {};

class CWalk {
 public:
  CWalk(COsXmlImpl& a_implDocument, COsXmlImpl& a_implTemplate, void* a_pvUser)
      : m_doc(a_implDocument), m_tpl(a_implTemplate), m_pvUser(a_pvUser) {}

  // The siblings from the current document element against the template
  // siblings from its current element, at a_lLevel (0: the outermost,
  // where the template does not wrap and has no parent set).
  EOSSTS Siblings(std::int32_t a_lLevel, const OsXmlCallbackSet* a_psetParent);

 private:
  static const OsXmlCallbackSet& Set(const OsXmlAtom* a_posxmlatom) {
    return a_posxmlatom->pCallbacks != nullptr ? *a_posxmlatom->pCallbacks : s_setNone;
  }
  static Pair Enter(const OsXmlCallbackSet& a_set) { return {a_set.pvObjectEnter, a_set.osxmlcallbackfunctionEnter}; }
  static Pair Exit(const OsXmlCallbackSet& a_set) { return {a_set.pvObjectExit, a_set.osxmlcallbackfunctionExit}; }
  static Pair Unknown(const OsXmlCallbackSet& a_set) {
    return {a_set.pvObjectUnknown, a_set.osxmlcallbackfunctionUnknown};
  }
  static Pair Unordered(const OsXmlCallbackSet& a_set) {
    return {a_set.pvObjectUnordered, a_set.osxmlcallbackfunctionUnordered};
  }

  bool SameName(const OsXmlAtom* a_posxmlatomDocument, const OsXmlAtom* a_posxmlatomTemplate) const {
    return a_posxmlatomDocument->lName == a_posxmlatomTemplate->lName &&
           std::memcmp(m_doc.m_szText + a_posxmlatomDocument->szName, m_tpl.m_szText + a_posxmlatomTemplate->szName,
                       static_cast<std::size_t>(a_posxmlatomDocument->lName)) == 0;
  }

  // The call of a pair for the current document element, its name and data
  // terminated in place for the call.
  EOSSTS Call(const Pair& a_pair, std::int32_t a_lLevel, void* a_pvNameArg) {
    if (a_pair.m_pvObject == nullptr || a_pair.m_pfn == nullptr) return OS_STS_SUCCESS;
    OsXmlCallback l_osxmlcallback = {a_pair.m_pvObject,       m_doc.m_posxmlOwner, a_lLevel, m_doc.NodeNameAcquire(),
                                     m_doc.NodeDataAcquire(), a_pvNameArg,         m_pvUser};
    const EOSSTS l_eossts = a_pair.m_pfn(&l_osxmlcallback);
    m_doc.NodeDataRelease();
    m_doc.NodeNameRelease();
    return l_eossts;
  }

  static EOSSTS NavigationError(EOSSTS a_eossts) {
    OS_LOGA("XML error...%d", static_cast<int>(a_eossts));
    return a_eossts;
  }

  // The template to its next sibling, below the outermost level wrapping to
  // the first one; 6 at the end of the outermost level (the cursor stays).
  EOSSTS TemplateMoveOn(std::int32_t a_lLevel) {
    const EOSSTS l_eossts = m_tpl.NodeNext();
    if (l_eossts != OS_STS_NOMORE || a_lLevel == 0) return l_eossts;
    m_tpl.m_aposxmlatomNode[m_tpl.m_lCurrentNode] = FirstChild(m_tpl, m_tpl.NodeParent());
    return OS_STS_SUCCESS;
  }

  // The children of a matched document element: against the template
  // element's children, or every one to its unknown pair when it has none.
  EOSSTS Children(std::int32_t a_lLevel, const OsXmlAtom* a_posxmlatomDocument, const OsXmlAtom* a_posxmlatomTemplate);

  COsXmlImpl& m_doc;
  COsXmlImpl& m_tpl;
  void* m_pvUser;
};

EOSSTS CWalk::Siblings(std::int32_t a_lLevel, const OsXmlCallbackSet* a_psetParent) {
  for (;;) {
    const OsXmlAtom* const l_posxmlatomDocument = m_doc.NodeGetOsXmlAtom();
    OsXmlAtom* const l_posxmlatomStart = m_tpl.NodeGetOsXmlAtom();
    const OsXmlAtom* l_posxmlatomTemplate = l_posxmlatomStart;
    bool l_bFound = false;
    bool l_bMoved = false;
    for (;;) {
      if (SameName(l_posxmlatomDocument, l_posxmlatomTemplate)) {
        l_bFound = true;
        break;
      }
      const EOSSTS l_eossts = TemplateMoveOn(a_lLevel);
      if (l_eossts == OS_STS_NOMORE) break;
      if (l_eossts != OS_STS_SUCCESS) return NavigationError(l_eossts);
      l_posxmlatomTemplate = m_tpl.NodeGetOsXmlAtom();
      if (l_posxmlatomTemplate == l_posxmlatomStart) break;
      l_bMoved = true;
    }

    EOSSTS l_eossts = OS_STS_SUCCESS;
    if (l_bFound) {
      const OsXmlCallbackSet& l_set = Set(l_posxmlatomTemplate);
      if (l_bMoved && (l_eossts = Call(Unordered(a_psetParent != nullptr ? *a_psetParent : l_set), a_lLevel,
                                       l_set.pvNameArg)) != OS_STS_SUCCESS)
        return l_eossts;
      if ((l_eossts = Call(Enter(l_set), a_lLevel, l_set.pvNameArg)) != OS_STS_SUCCESS) return l_eossts;
      if ((l_eossts = Children(a_lLevel, l_posxmlatomDocument, l_posxmlatomTemplate)) != OS_STS_SUCCESS)
        return l_eossts;
      if ((l_eossts = Call(Exit(l_set), a_lLevel, l_set.pvNameArg)) != OS_STS_SUCCESS) return l_eossts;
    } else {
      // The search ends back at its start, or at the last root when the
      // outermost level does not wrap.
      m_tpl.m_aposxmlatomNode[m_tpl.m_lCurrentNode] = l_posxmlatomStart;
      const OsXmlCallbackSet& l_setOwner = a_psetParent != nullptr ? *a_psetParent : Set(l_posxmlatomStart);
      if ((l_eossts = Call(Unknown(l_setOwner), a_lLevel, l_setOwner.pvNameArg)) != OS_STS_SUCCESS) return l_eossts;
    }

    l_eossts = m_doc.NodeNext();
    if (l_eossts == OS_STS_NOMORE) return OS_STS_SUCCESS;
    if (l_eossts != OS_STS_SUCCESS) return NavigationError(l_eossts);
    l_eossts = TemplateMoveOn(a_lLevel);
    if (l_eossts != OS_STS_SUCCESS && l_eossts != OS_STS_NOMORE) return NavigationError(l_eossts);
  }
}

EOSSTS CWalk::Children(std::int32_t a_lLevel, const OsXmlAtom* a_posxmlatomDocument,
                       const OsXmlAtom* a_posxmlatomTemplate) {
  if (FirstChild(m_doc, a_posxmlatomDocument) == nullptr) return OS_STS_SUCCESS;
  EOSSTS l_eossts = m_doc.NodePush();
  if (l_eossts != OS_STS_SUCCESS) return NavigationError(l_eossts);
  m_doc.NodeChild();
  const OsXmlCallbackSet& l_set = Set(a_posxmlatomTemplate);
  if (FirstChild(m_tpl, a_posxmlatomTemplate) != nullptr) {
    if ((l_eossts = m_tpl.NodePush()) != OS_STS_SUCCESS) return NavigationError(l_eossts);
    m_tpl.NodeChild();
    if ((l_eossts = Siblings(a_lLevel + 1, &l_set)) != OS_STS_SUCCESS) return l_eossts;
    m_tpl.NodePop();
  } else {
    do {
      if ((l_eossts = Call(Unknown(l_set), a_lLevel + 1, l_set.pvNameArg)) != OS_STS_SUCCESS) return l_eossts;
    } while ((l_eossts = m_doc.NodeNext()) == OS_STS_SUCCESS);
    if (l_eossts != OS_STS_NOMORE) return NavigationError(l_eossts);
  }
  m_doc.NodePop();
  return OS_STS_SUCCESS;
}

EOSSTS Walk(COsXmlImpl& a_impl, void* a_pvUser) {
  OS_RETURN_IF(a_impl.m_bDispatchWalking, OS_LOG_ASSERT, OS_XML_WALKING_TEXT, OS_STS_FAIL);
  COsXml* const l_posxmlTemplate = a_impl.m_posxmlTemplate;
  OS_RETURN_IF(l_posxmlTemplate == nullptr || l_posxmlTemplate->m_posxmlimpl == nullptr ||
                   !l_posxmlTemplate->m_posxmlimpl->IsLoaded() || a_impl.m_posxmlcallbackset == nullptr,
               OS_LOG_ASSERT, "Must call DispatchLoad first...", OS_STS_FAIL);
  OS_RETURN_IF(a_impl.StateGet() != OS_XML_STATE_LOADED, OS_LOG_ASSERT, "Must call DispatchLoad first...", OS_STS_FAIL);
  OS_RETURN_IF(!a_impl.IsLoaded(), OS_LOG_ASSERT, "Must call COsXmlImpl::DocumentLoad first...", OS_STS_FAIL);
  // A document of declarations only has no element, just an empty row.
  if (const OsXmlAtom* const l_posxmlatom = a_impl.NodeGetOsXmlAtom();
      l_posxmlatom == nullptr || l_posxmlatom->eosxmltype != OS_XML_TYPE_TAG)
    return OS_STS_NOMORE;

  COsXmlImpl& l_implTemplate = *l_posxmlTemplate->m_posxmlimpl;
  const std::int32_t l_lLevel = a_impl.m_lCurrentNode;
  EOSSTS l_eossts = a_impl.NodePush();
  if (l_eossts != OS_STS_SUCCESS) {
    OS_LOGA("XML error...%d", static_cast<int>(l_eossts));
    return l_eossts;
  }
  l_implTemplate.NodeRoot();
  a_impl.m_bDispatchWalking = true;
  l_eossts = CWalk(a_impl, l_implTemplate, a_pvUser).Siblings(0, nullptr);
  a_impl.m_bDispatchWalking = false;
  // However the walk ended, the document's cursor is back at the level and
  // element it started from.
  while (a_impl.m_lCurrentNode > l_lLevel) a_impl.NodePop();
  l_implTemplate.NodeRoot();
  return l_eossts;
}

EOSSTS ClearDispatch(COsXmlImpl& a_impl) {
  OS_RETURN_IF(a_impl.m_bDispatchWalking, OS_LOG_ASSERT, OS_XML_WALKING_TEXT, OS_STS_FAIL);
  OsMemDelete(a_impl.m_posxmlTemplate);
  a_impl.m_posxmlTemplate = nullptr;
  if (a_impl.m_posxmlcallbackset != nullptr) OS_MEM_FREE(a_impl.m_posxmlcallbackset);
  a_impl.m_posxmlcallbackset = nullptr;
  if (a_impl.m_posxmlobjectrow != nullptr) OS_MEM_FREE(a_impl.m_posxmlobjectrow);
  a_impl.m_posxmlobjectrow = nullptr;
  a_impl.m_lObjectMapSize = 0;
  a_impl.m_hModule = nullptr;
  return OS_STS_SUCCESS;
}

// Longer texts than the reader counts are capped; their load then fails.
std::int32_t TextLength(const char* a_sz) {
  const std::size_t l_sizet = std::strlen(a_sz);
  return l_sizet > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(l_sizet);
}

}  // namespace

EOSSTS COsXml::DispatchAddObject(const char* a_szObjectName, const char* a_szClassName, void* a_pvDispatchObj) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return AddObject(*m_posxmlimpl, a_szObjectName, a_szClassName, a_pvDispatchObj);
}

EOSSTS COsXml::DispatchLoad(const char* a_szTemplate, std::int32_t a_lTemplateLength, void* a_hModule) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return LoadTemplate(*m_posxmlimpl, a_szTemplate, a_lTemplateLength, a_hModule);
}

EOSSTS COsXml::DispatchLoad(const char* a_szTemplate, void* a_hModule) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szTemplate, OS_LOG_ASSERT, "a_szTemplate is null...", OS_STS_FAIL);
  return LoadTemplate(*m_posxmlimpl, a_szTemplate, TextLength(a_szTemplate), a_hModule);
}

EOSSTS COsXml::DispatchLoad(const char* a_szTemplate, std::int32_t a_lTemplateLength) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return LoadTemplate(*m_posxmlimpl, a_szTemplate, a_lTemplateLength, OsSysLibraryModule());
}

EOSSTS COsXml::DispatchLoad(const char* a_szTemplate) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF_NULL(a_szTemplate, OS_LOG_ASSERT, "a_szTemplate is null...", OS_STS_FAIL);
  return LoadTemplate(*m_posxmlimpl, a_szTemplate, TextLength(a_szTemplate), OsSysLibraryModule());
}

EOSSTS COsXml::DispatchRun(void* a_pvUser) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return Walk(*m_posxmlimpl, a_pvUser);
}

EOSSTS COsXml::DispatchRun(const char* a_szDocument, std::int32_t a_lDocumentLength, void* a_pvUser) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  const EOSSTS l_eossts = Load(a_szDocument, a_lDocumentLength);
  return l_eossts != OS_STS_SUCCESS ? l_eossts : Walk(*m_posxmlimpl, a_pvUser);
}

EOSSTS COsXml::DispatchRun(const char* a_szDocument, void* a_pvUser) {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  const EOSSTS l_eossts = Load(a_szDocument);
  return l_eossts != OS_STS_SUCCESS ? l_eossts : Walk(*m_posxmlimpl, a_pvUser);
}

EOSSTS COsXml::DispatchClear() {
  OS_XML_IMPL_OR_RETURN(OS_STS_FAIL);
  return ClearDispatch(*m_posxmlimpl);
}
