// The XML reader and the helpers that work on raw text without a parse.
//
// The reader accepts the library's own small dialect: elements, properties
// in single quotes (no white space around '=', one space between them, none
// before '>' or '/>'), CDATA sections, at most 64 levels of nesting, and
// <? ?> declarations whose properties are kept in a table of their own. No
// comments, no DOCTYPE, no entity or character references (nothing is
// decoded). A load turns the text into a flat table of atoms, one per
// element and one per property, in document order; every atom holds offsets
// and lengths into the reader's copy of the text, never copies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os_sts.h"

// The kind of an atom.
enum EOSXMLTYPE : std::int32_t {
  OS_XML_TYPE_UNDEFINED = 0,
  OS_XML_TYPE_TAG = 1,       // an element
  OS_XML_TYPE_PROPERTY = 2,  // a property of the element before it
  OS_XML_TYPE_TEXT = 3,      // never made by the parser: text is its element's data
  OS_XML_TYPE_LAST = 4,
};

// The document state of a reader.
enum EOSXMLSTATE : std::int32_t {
  OS_XML_STATE_NONE = 0,    // only reported by an object without an implementation
  OS_XML_STATE_FREE = 1,    // new or cleared
  OS_XML_STATE_LOADED = 2,  // the last successful load
  OS_XML_STATE_SKIP = 3,    // set by StateSetSkip, read by the dispatch
};

class COsXml;

// The record every dispatch callback receives. szName and szData point into
// the walked document's text, terminated in place for the call only.
struct OsXmlCallback {
  void* pvObject;       // the object bound with the function
  COsXml* posxml;       // the walked document
  std::int32_t lLevel;  // the element's level in the walk, 0 for the starting element
  char* szName;
  char* szData;
  void* pvNameArg;  // the template element's user value
  void* pvUser;     // the argument of DispatchRun
};
// A callback; a non-zero status ends the walk and becomes its result.
typedef EOSSTS (*OsXmlCallbackFunction)(OsXmlCallback* a_posxmlcallback);

// The bound calls of one template element while a document serves as a
// dispatch template; pointer-sized fields.
struct OsXmlCallbackSet {
  void* pvObjectEnter;
  OsXmlCallbackFunction osxmlcallbackfunctionEnter;
  void* pvObjectExit;
  OsXmlCallbackFunction osxmlcallbackfunctionExit;
  void* pvObjectUnknown;
  OsXmlCallbackFunction osxmlcallbackfunctionUnknown;
  void* pvObjectUnordered;
  OsXmlCallbackFunction osxmlcallbackfunctionUnordered;
  void* pvNameArg;
};

// One element or property. szName and szData are byte offsets into the
// reader's text copy (after leading white space was dropped). An element's
// data is the raw text between the '>' of its opening tag and the '<' of its
// closing tag, child markup included, or the content of its CDATA section;
// a self-closing element has szData just past its "/>" and lData 0. A
// property's data is its value without the quotes. Adjacent CDATA sections
// ("<![CDATA[a]]]]><![CDATA[>b]]>", the form of a value holding "]]>") are
// one value ("a]]>b"): the reader keeps it behind the end of its copy of the
// text, so such an element's szData lies beyond the text's length.
struct OsXmlAtom {
  EOSXMLTYPE eosxmltype;
  std::int32_t lDepth;  // 0 for the outermost element; a property has its element's
  std::int32_t lIndex;  // the row in its table
  std::int32_t szName;
  std::int32_t lName;
  std::int32_t szData;
  std::int32_t lData;
  OsXmlCallbackSet* pCallbacks;  // null unless the document is a dispatch template
};

constexpr std::int32_t OS_XML_MAX_DEPTH = 64;    // nesting levels and cursor levels
constexpr std::int32_t OS_XML_GROWTH_MIN = 256;  // default and smallest growth step
constexpr std::int32_t OS_XML_MIN_DOCUMENT = 7;  // no shorter document is loaded

class COsXmlImpl;

// The reader. Create it with the OsMemNew convention; construction creates
// its implementation (a failed creation leaves m_posxmlimpl null, and then
// every operation logs "xml>>> m_posxmlimpl is null..." and returns 1, or 0,
// null or -1 where it returns a count, a pointer or a depth).
//
// Statuses: 0 success; 1 bad argument, nothing loaded, parse abort or
// property not found; 2 a buffer too small, the text copy not allocated or
// the cursor stack full; 6 no current atom, no further sibling or child, no
// declaration table. Copies are NUL-terminated and need length + 1 bytes.
class COsXml {
 public:
  COsXml();
  ~COsXml();
  COsXml(const COsXml&) = delete;
  COsXml& operator=(const COsXml&) = delete;

  // Parses a_lDocumentLength bytes (fewer when a NUL comes first) into a new
  // table. Leading tab, space, CR and LF are dropped. On success the cursor
  // is at the first atom and the state is 2. Any failure (1 for a null
  // text, fewer than 7 bytes or a parse abort; 2 when the copy cannot be
  // allocated) leaves nothing loaded: every query then asks for a load.
  EOSSTS Load(const char* a_szDocument, std::int32_t a_lDocumentLength);
  // The same for a NUL-terminated text.
  EOSSTS Load(const char* a_szDocument);
  // Forgets the document and keeps the tables; state 1.
  EOSSTS Clear();
  EOSXMLSTATE StateGet();
  // State 3; logged as an error when the state was not 1.
  EOSSTS StateSetSkip();
  // Set the rows added to the atom table (and to the dispatch's callback
  // block) when it is full; a value below 256 is ignored. Return the
  // previous step.
  std::int32_t AtomGrowthSet(std::int32_t a_lGrowth);
  std::int32_t CallbackGrowthSet(std::int32_t a_lGrowth);
  // Prints both counters and every atom in use to standard output.
  EOSSTS Dump();

  // The cursor: a stack of 64 levels, each holding an atom. Every call
  // below first checks that a document is loaded (else "Must call
  // COsXmlImpl::Load first...", 1 / null / -1).
  EOSSTS NodeRoot();              // level 0 at the first atom
  EOSSTS NodePush();              // a new level holding the current atom; 2 at level 63
  EOSSTS NodePop();               // drop the current level (nothing at level 0)
  EOSSTS NodeNext();              // the next element of the same depth under the same parent, else 6
  EOSSTS NodeChild();             // the first child element, else 6; the level stays
  OsXmlAtom* NodeParent();        // the atom one level up, null at level 0
  OsXmlAtom* NodeGetOsXmlAtom();  // the current atom
  std::int32_t NodeDepthGet();    // its depth, -1 when none

  // Copies of the current atom's name and data, and the value of one of its
  // properties. A property matches when its stored name equals the start of
  // a_szProperty (compared over the stored name's length). Too small
  // buffers give 2 and an empty copy.
  EOSSTS NodeNameGet(char* a_szName, std::int32_t a_lName);
  EOSSTS NodePropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue);
  EOSSTS NodeDataGet(char* a_szData, std::int32_t a_lData);
  EOSSTS NodeDataOffsetGet(std::int32_t* a_plOffset, std::int32_t* a_plSize);
  // A property of the <? ?> declaration; its first name includes the
  // target word ("xml version" in <?xml version='1.0'?>).
  EOSSTS DeclarationPropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue);

  // In-place access without a copy: Acquire terminates the current atom's
  // name (or data) in the text copy and returns a pointer to it; Release
  // puts back the character that the terminator replaced. Each Acquire is
  // released before the next Acquire of the same kind; the pointer is valid
  // until then.
  char* NodeNameAcquire();
  EOSSTS NodeNameRelease();
  char* NodeDataAcquire();
  EOSSTS NodeDataRelease();

  // ---- the dispatch: a template document bound to objects, walked over
  // the loaded document ----
  //
  // A template element may carry the properties enter, exit, unknown and
  // unordered, each "object.function", and user. The object is a name given
  // to DispatchAddObject or a hexadecimal address ("0x..."); the function is
  // an address, or the static member function Class_function of the
  // object's class, exported by the dispatch module (the lookup of
  // COsFile::SharedLibraryGetProc, kind OS_LIBPROC_XMLCALLBACK). user is an
  // address or such a function without a class, handed to every call as
  // pvNameArg. unknown and unordered are inherited by the children of an
  // element that has none of its own.

  // Registers an object under a name for the bindings. The two texts are
  // kept as pointers and must outlive the dispatch. 0; 1 for an empty name,
  // a null object or no memory.
  EOSSTS DispatchAddObject(const char* a_szObjectName, const char* a_szClassName, void* a_pvDispatchObj);
  // Loads a template and binds all its properties; functions by name are
  // looked up in a_hModule (the forms without one use the module that holds
  // this library). 0; 1 when the template does not load or a property
  // cannot be bound (the template then stays loaded, partly bound).
  EOSSTS DispatchLoad(const char* a_szTemplate, std::int32_t a_lTemplateLength, void* a_hModule);
  EOSSTS DispatchLoad(const char* a_szTemplate, void* a_hModule);
  EOSSTS DispatchLoad(const char* a_szTemplate, std::int32_t a_lTemplateLength);
  EOSSTS DispatchLoad(const char* a_szTemplate);
  // Walks the loaded document from the current element (level 0) and its
  // following siblings depth-first: an element whose name a template
  // element of the same level has gets that element's enter call, its
  // children, and its exit call; one matched only after the template moved
  // past other siblings is first reported to the unordered pair; one
  // without a match goes to the unknown pair and its subtree is skipped;
  // below a template element without children every child goes to the
  // unknown pair. A callback's non-zero status ends the walk and is
  // returned; both cursors are back where they were afterwards. 1 without a
  // template or a document, 6 without a current element, 2 when the document
  // nests too deep for the cursor.
  //
  // A callback may read the document it is handed, but while the walk runs
  // Load, Clear and the Dispatch calls of that document are refused with 1.
  EOSSTS DispatchRun(void* a_pvUser);
  // Load, then DispatchRun; a load failure is returned without a walk.
  EOSSTS DispatchRun(const char* a_szDocument, std::int32_t a_lDocumentLength, void* a_pvUser);
  EOSSTS DispatchRun(const char* a_szDocument, void* a_pvUser);
  // Frees the bindings and the template and forgets every object.
  EOSSTS DispatchClear();

  COsXmlImpl* m_posxmlimpl = nullptr;
};

// Copies into a_szOut the text between the first a_szOpening in a_szDocument
// and the first a_szClosing after it (complete tags such as "<uniquename>"
// and "</uniquename>"); a value wrapped in <![CDATA[ ... ]]> is unwrapped,
// and the contents of adjacent sections are joined.
// a_szOut is always terminated and is empty unless the status is 0:
// 1 when either tag is missing or the value is empty, 2 when the value and
// its terminator do not fit in a_sizetOut bytes (the value counts as absent),
// 3 for a null argument or a zero size.
EOSSTS OsXmlGetTagValue(const char* a_szDocument, const char* a_szOpening, const char* a_szClosing, char* a_szOut,
                        std::size_t a_sizetOut);

// Non-zero when a_szNeedle occurs in a_szText. A negative a_lLimit searches
// the whole text, otherwise only its first a_lLimit characters (the needle
// must lie entirely within them). Null arguments give 0.
int OsXmlContains(const char* a_szText, const char* a_szNeedle, std::int32_t a_lLimit);
// Non-zero when both needles occur, with the same limit rule.
int OsXmlContainsBoth(const char* a_szText, const char* a_szNeedle1, const char* a_szNeedle2, std::int32_t a_lLimit);
