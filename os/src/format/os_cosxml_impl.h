// The reader's document state, shared by the parser, the cursor and the
// public object. Platform-free: the parser is a format engine.
#pragma once

#include <cstdint>

#include "os_cosxml.h"

class COsFile;

// Every public operation needs its implementation (the file that uses this
// includes the log macros).
#define OS_XML_IMPL_OR_RETURN(a_ret) \
  OS_RETURN_IF_NULL(m_posxmlimpl, OS_LOG_ASSERT, "xml>>> m_posxmlimpl is null...", a_ret)

// The refusal of what would pull the document or the template from under a
// running walk (a callback that loads, clears or dispatches the document it
// is handed).
#define OS_XML_WALKING_TEXT "xml>>> refused while DispatchRun walks this document..."

// One row of the dispatch's object map. The names are the caller's texts,
// not copies; a row without an object is free.
struct OsXmlObjectRow {
  const char* szObjectName;
  const char* szClassName;
  void* pvObject;
};

class COsXmlImpl {
 public:
  explicit COsXmlImpl(COsXml* a_posxmlOwner);
  ~COsXmlImpl();
  COsXmlImpl(const COsXmlImpl&) = delete;
  COsXmlImpl& operator=(const COsXmlImpl&) = delete;

  EOSSTS Load(const char* a_szDocument, std::int32_t a_lDocumentLength);
  EOSSTS Clear();
  EOSXMLSTATE StateGet() const { return m_eosxmlstate; }
  EOSSTS StateSetSkip();
  std::int32_t AtomGrowthSet(std::int32_t a_lGrowth);
  std::int32_t CallbackGrowthSet(std::int32_t a_lGrowth);
  EOSSTS Dump() const;

  EOSSTS NodeRoot();
  EOSSTS NodePush();
  EOSSTS NodePop();
  EOSSTS NodeNext();
  EOSSTS NodeChild();
  OsXmlAtom* NodeParent();
  OsXmlAtom* NodeGetOsXmlAtom();
  std::int32_t NodeDepthGet();

  EOSSTS NodeNameGet(char* a_szName, std::int32_t a_lName);
  EOSSTS NodePropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue);
  EOSSTS NodeDataGet(char* a_szData, std::int32_t a_lData);
  EOSSTS NodeDataOffsetGet(std::int32_t* a_plOffset, std::int32_t* a_plSize);
  EOSSTS DeclarationPropertyGet(const char* a_szProperty, char* a_szValue, std::int32_t a_lValue);

  char* NodeNameAcquire();
  EOSSTS NodeNameRelease();
  char* NodeDataAcquire();
  EOSSTS NodeDataRelease();

  // Entry 0 of the cursor stack is set exactly while a document is loaded.
  bool IsLoaded() const { return m_aposxmlatomNode[0] != nullptr; }

  // The document state, in the order the reader has always kept it.
  EOSXMLSTATE m_eosxmlstate = OS_XML_STATE_FREE;
  std::int32_t m_lTextCapacity = 0;  // usable bytes of m_szText (one more is allocated)
  char* m_szText = nullptr;          // the loaded text, NUL-terminated
  std::int32_t m_lAllocatedAtoms = 0;
  std::int32_t m_lAtomsInUse = 0;
  OsXmlAtom* m_posxmlatom = nullptr;
  OsXmlCallbackSet* m_posxmlcallbackset = nullptr;
  std::int32_t m_lCurrentNode = 0;
  OsXmlAtom* m_aposxmlatomNode[OS_XML_MAX_DEPTH] = {};
  std::int32_t m_lAllocatedDeclarations = 0;
  std::int32_t m_lDeclarationsInUse = 0;
  OsXmlAtom* m_posxmlatomDeclaration = nullptr;
  // The dispatch's state: nothing in the reader sets these; the reader frees
  // the buffers it would find there.
  std::int32_t m_lObjectMapSize = 0;  // usable rows + 1; the table has one spare row more
  COsXml* m_posxmlTemplate = nullptr;
  OsXmlObjectRow* m_posxmlobjectrow = nullptr;
  void* m_hModule = nullptr;
  std::int32_t m_lAtomGrowth = OS_XML_GROWTH_MIN;
  std::int32_t m_lCallbackGrowth = OS_XML_GROWTH_MIN;
  COsXml* m_posxmlOwner = nullptr;
  COsFile* m_posfileLibrary = nullptr;

  // Set by the dispatch when it holds state of the platform modules (the
  // library object); the destructor calls it, so the reader itself never
  // touches that state.
  void (*m_pfnDispatchRelease)(COsXmlImpl& a_posxmlimpl) = nullptr;
  // Set while DispatchRun walks this document: the walk holds atoms, text
  // offsets and the template's callback sets.
  bool m_bDispatchWalking = false;

  // Private bookkeeping behind the fields above.
  // Rows at and beyond this one are zero; rows below it may hold an earlier
  // document (Clear keeps them), so the next load zeroes what it does not
  // overwrite.
  std::int32_t m_lAtomsDirty = 0;
  // Where an Acquire wrote its terminator (-1: none) and what was there.
  std::int32_t m_lNameAcquiredAt = -1;
  std::int32_t m_lDataAcquiredAt = -1;
  char m_cNameAcquired = 0;
  char m_cDataAcquired = 0;

 private:
  // Adds one growth step to the atom table; false when out of memory.
  bool GrowAtoms();
  bool GrowDeclarations();
  // Appends the CDATA content at a_lContent to a_osxmlatom's content (its
  // lData still the negative marker) as one value behind the text and the
  // last joined value, which ends at *a_plJoined; *a_plJoined moves to the
  // end of this one. False when out of memory.
  bool JoinCdata(OsXmlAtom& a_osxmlatom, std::int32_t a_lContent, std::int32_t a_lContentLength,
                 std::int32_t* a_plJoined);
  // Forgets a document that failed to load: no cursor, zeroed rows, no rows
  // in use, and the text copy freed when a_bFreeText.
  void Abandon(bool a_bFreeText);
  // The current atom, or null (the caller has logged what is missing).
  OsXmlAtom* Current();
  bool CheckLoaded();
};
