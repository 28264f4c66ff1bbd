// A recording dispatch for tests: walks any document through COsXml's
// dispatch against a template made from the document itself, and keeps
// every element the walk enters with its level, name and data.
//
// The template holds each element name that occurs at a place of the
// document once (children of like-named siblings merged, in the order they
// first occur), so every element of the document is entered, whatever its
// siblings. The enter function is bound by address: no module is needed.
//
// Use, with the services started (the reader needs the memory manager):
//   OsXmlRecorder l_recorder;
//   ASSERT_EQ(l_recorder.Walk(l_sDocument), OS_STS_SUCCESS) << l_recorder.m_sTemplate;
//   for (const OsXmlRecord& l_record : l_recorder.Enters()) ...   // (level, name, data) in document order
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "os_cosxml.h"

struct OsXmlRecord {
  std::int32_t m_lLevel = 0;
  std::string m_sName;
  std::string m_sData;
};

class OsXmlRecorder {
 public:
  // Loads the document, makes its template, and walks the document from its
  // first element (and the roots after it). The status of the first step
  // that failed, else that of the walk.
  EOSSTS Walk(const std::string& a_sDocument) {
    m_vecEnters.clear();
    m_sTemplate.clear();
    COsXml l_osxml;
    EOSSTS l_eossts = l_osxml.Load(a_sDocument.c_str(), static_cast<std::int32_t>(a_sDocument.size()));
    if (l_eossts != OS_STS_SUCCESS) return l_eossts;
    std::vector<Node> l_vecRoots;
    Collect(l_osxml, l_vecRoots);
    for (const Node& l_node : l_vecRoots) Write(l_node);
    l_osxml.NodeRoot();
    if ((l_eossts = l_osxml.DispatchLoad(m_sTemplate.c_str(), nullptr)) != OS_STS_SUCCESS) return l_eossts;
    return l_osxml.DispatchRun(this);
  }
  // The elements entered, in document order.
  const std::vector<OsXmlRecord>& Enters() const { return m_vecEnters; }

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

  void Write(const Node& a_node) {
    char l_sz[64];
    std::snprintf(l_sz, sizeof(l_sz), "0x%llx.0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(this)),
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&OnEnter)));
    m_sTemplate += "<" + a_node.m_sName + " enter='" + l_sz + "'>";
    for (const Node& l_node : a_node.m_vecChildren) Write(l_node);
    m_sTemplate += "</" + a_node.m_sName + ">";
  }

  static EOSSTS OnEnter(OsXmlCallback* a_p) {
    static_cast<OsXmlRecorder*>(a_p->pvObject)->m_vecEnters.push_back({a_p->lLevel, a_p->szName, a_p->szData});
    return OS_STS_SUCCESS;
  }

  std::vector<OsXmlRecord> m_vecEnters;
};
