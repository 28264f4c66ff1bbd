// A recording dispatch for tests: walks any document through COsXml's
// dispatch against a template made from the document itself, and keeps
// every call with its kind, level, element name and data.
//
// The template holds each element name that occurs at a place of the
// document once (children of like-named siblings merged, in the order they
// first occur), so every element of the document is entered, whatever its
// siblings; the roots carry the unknown and unordered pairs, which their
// descendants inherit. Functions are bound by address: no module is needed.
//
// Use, with the services started (the reader needs the memory manager):
//   OsXmlRecorder l_recorder;
//   ASSERT_EQ(l_recorder.Walk(l_sDocument), OS_STS_SUCCESS) << l_recorder.m_sTemplate;
//   for (const OsXmlRecord& l_record : l_recorder.Enters()) ...   // (level, name, data) in document order
// m_vecRecords holds every call: 'e' enter, 'x' exit, 'u' unknown (none
// for a document walked against its own template), 'o' unordered (an
// element met after a later sibling of the template).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "os_cosxml.h"

struct OsXmlRecord {
  char m_cKind = 0;
  std::int32_t m_lLevel = 0;
  std::string m_sName;
  std::string m_sData;
  bool operator==(const OsXmlRecord&) const = default;
};

class OsXmlRecorder {
 public:
  // Loads the document, makes its template, and walks the document from its
  // first element (and the roots after it). The status of the first step
  // that failed, else that of the walk.
  EOSSTS Walk(const std::string& a_sDocument) {
    m_vecRecords.clear();
    m_sTemplate.clear();
    COsXml l_osxml;
    EOSSTS l_eossts = l_osxml.Load(a_sDocument.c_str(), static_cast<std::int32_t>(a_sDocument.size()));
    if (l_eossts != OS_STS_SUCCESS) return l_eossts;
    std::vector<Node> l_vecRoots;
    Collect(l_osxml, l_vecRoots);
    for (const Node& l_node : l_vecRoots) Write(l_node, true);
    l_osxml.NodeRoot();
    if ((l_eossts = l_osxml.DispatchLoad(m_sTemplate.c_str(), nullptr)) != OS_STS_SUCCESS) return l_eossts;
    return l_osxml.DispatchRun(this);
  }

  // The enter calls: every element of the walk in document order.
  std::vector<OsXmlRecord> Enters() const {
    std::vector<OsXmlRecord> l_vec;
    for (const OsXmlRecord& l_record : m_vecRecords)
      if (l_record.m_cKind == 'e') l_vec.push_back(l_record);
    return l_vec;
  }

  std::vector<OsXmlRecord> m_vecRecords;
  std::string m_sTemplate;

 private:
  struct Node {
    std::string m_sName;
    std::vector<Node> m_vecChildren;
  };

  // The current element and its following siblings, merged by name into a_vec.
  static void Collect(COsXml& a_osxml, std::vector<Node>& a_vec) {
    do {
      const std::string l_sName = a_osxml.NodeNameAcquire();
      a_osxml.NodeNameRelease();
      std::size_t l_i = 0;
      while (l_i < a_vec.size() && a_vec[l_i].m_sName != l_sName) ++l_i;
      if (l_i == a_vec.size()) a_vec.push_back({l_sName, {}});
      if (a_osxml.NodePush() == OS_STS_SUCCESS) {
        if (a_osxml.NodeChild() == OS_STS_SUCCESS) Collect(a_osxml, a_vec[l_i].m_vecChildren);
        a_osxml.NodePop();
      }
    } while (a_osxml.NodeNext() == OS_STS_SUCCESS);
  }

  std::string Binding(OsXmlCallbackFunction a_pfn) const {
    char l_sz[64];
    std::snprintf(l_sz, sizeof(l_sz), "0x%llx.0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(a_pfn)));
    return l_sz;
  }

  void Write(const Node& a_node, bool a_bRoot) {
    m_sTemplate += "<" + a_node.m_sName + " enter='" + Binding(&OnEnter) + "' exit='" + Binding(&OnExit) + "'";
    if (a_bRoot) m_sTemplate += " unknown='" + Binding(&OnUnknown) + "' unordered='" + Binding(&OnUnordered) + "'";
    if (a_node.m_vecChildren.empty()) {
      m_sTemplate += "/>";
      return;
    }
    m_sTemplate += ">";
    for (const Node& l_node : a_node.m_vecChildren) Write(l_node, false);
    m_sTemplate += "</" + a_node.m_sName + ">";
  }

  static EOSSTS Record(char a_cKind, const OsXmlCallback* a_posxmlcallback) {
    static_cast<OsXmlRecorder*>(a_posxmlcallback->pvObject)
        ->m_vecRecords.push_back({a_cKind, a_posxmlcallback->lLevel, a_posxmlcallback->szName, a_posxmlcallback->szData});
    return OS_STS_SUCCESS;
  }
  static EOSSTS OnEnter(OsXmlCallback* a_p) { return Record('e', a_p); }
  static EOSSTS OnExit(OsXmlCallback* a_p) { return Record('x', a_p); }
  static EOSSTS OnUnknown(OsXmlCallback* a_p) { return Record('u', a_p); }
  static EOSSTS OnUnordered(OsXmlCallback* a_p) { return Record('o', a_p); }
};
