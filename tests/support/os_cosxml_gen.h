// Random documents of the reader's dialect for the tests: a tree of elements
// with names, single-quoted properties, text, CDATA and nesting up to 64
// levels; its serialisation; and a walk with the reader's cursor that checks
// every element against the tree. Header-only: the host and Windows tests
// share it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "os_cosxml.h"

struct OsXmlGenElement {
  std::string m_sName;
  std::vector<std::pair<std::string, std::string>> m_vecProperties;
  // What the reader must report as the element's data.
  std::string m_sData;
  bool m_bSelfClosing = false;
  bool m_bCdata = false;
  std::vector<OsXmlGenElement> m_vecChildren;
};

class OsXmlGen {
 public:
  explicit OsXmlGen(std::uint32_t a_u32Seed) : m_rng(a_u32Seed) {}

  // A forest of roots; a_iMaxDepth levels at most (64 is the reader's limit).
  std::vector<OsXmlGenElement> Forest(int a_iMaxDepth, int a_iMaxElements) {
    m_iBudget = a_iMaxElements;
    std::vector<OsXmlGenElement> l_vec;
    const int l_iRoots = 1 + Below(3);
    for (int l_i = 0; l_i < l_iRoots && m_iBudget > 0; ++l_i) l_vec.push_back(Element(0, a_iMaxDepth));
    return l_vec;
  }

  // A chain of exactly a_iDepth nested elements (with the usual content at
  // each level).
  OsXmlGenElement Chain(int a_iDepth) {
    OsXmlGenElement l_element = Element(0, 1);
    if (l_element.m_bCdata) l_element.m_sData.clear();
    l_element.m_bSelfClosing = false;
    l_element.m_bCdata = false;
    if (a_iDepth > 1) {
      l_element.m_vecChildren.insert(l_element.m_vecChildren.begin(), Chain(a_iDepth - 1));
    }
    return l_element;
  }

  // The text of a forest, with white space before the first element and
  // free text between the roots.
  std::string Serialise(std::vector<OsXmlGenElement>& a_vec) {
    std::string l_s = Pick({"", " ", "\r\n", "\t \n"});
    for (OsXmlGenElement& l_element : a_vec) {
      Write(l_element, l_s);
      l_s += Pick({"", "\n", " tail ", "\t"});
    }
    return l_s;
  }

  std::uint32_t Below(std::uint32_t a_u32) { return a_u32 == 0 ? 0 : static_cast<std::uint32_t>(m_rng() % a_u32); }

 private:
  std::string Pick(std::initializer_list<const char*> a_list) {
    const std::uint32_t l_u32 = Below(static_cast<std::uint32_t>(a_list.size()));
    return *(a_list.begin() + l_u32);
  }

  // Letters, digits and the other characters a name may hold.
  std::string Name(std::size_t a_sizetMin, std::size_t a_sizetMax) {
    static const char s_sz[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.:";
    const std::size_t l_sizet = a_sizetMin + Below(static_cast<std::uint32_t>(a_sizetMax - a_sizetMin + 1));
    std::string l_s;
    for (std::size_t l_i = 0; l_i < l_sizet; ++l_i) l_s += s_sz[Below(l_i == 0 ? 52 : sizeof(s_sz) - 1)];
    return l_s;
  }

  // Any printable text without a_cForbidden, '<' where a_bNoMarkup.
  std::string Text(std::size_t a_sizetMax, char a_cForbidden, bool a_bNoMarkup) {
    static const char s_sz[] = "abc xyz 0123 <>/=\"&;!?[]-_\t\n";
    const std::size_t l_sizet = Below(static_cast<std::uint32_t>(a_sizetMax + 1));
    std::string l_s;
    for (std::size_t l_i = 0; l_i < l_sizet; ++l_i) {
      const char l_c = s_sz[Below(sizeof(s_sz) - 1)];
      if (l_c == a_cForbidden || (a_bNoMarkup && l_c == '<')) continue;
      l_s += l_c;
    }
    return l_s;
  }

  OsXmlGenElement Element(int a_iDepth, int a_iMaxDepth) {
    --m_iBudget;
    OsXmlGenElement l_element;
    l_element.m_sName = Name(1, 12);
    // Property names of one length never prefix one another, so a lookup by
    // name finds exactly the property it names.
    const std::size_t l_sizetPropertyName = 1 + Below(6);
    const int l_iProperties = static_cast<int>(Below(4));
    for (int l_i = 0; l_i < l_iProperties; ++l_i) {
      std::string l_sName = Name(l_sizetPropertyName, l_sizetPropertyName);
      bool l_bTaken = false;
      for (auto& l_property : l_element.m_vecProperties) l_bTaken |= l_property.first == l_sName;
      if (l_bTaken) continue;
      std::string l_sValue = Text(20, '\'', false);
      if (l_sValue.empty()) l_sValue = "v";
      l_element.m_vecProperties.emplace_back(l_sName, l_sValue);
    }
    const std::uint32_t l_u32Kind = Below(10);
    if (l_u32Kind == 0) {
      l_element.m_bSelfClosing = true;
    } else if (l_u32Kind == 1) {
      l_element.m_bCdata = true;
      std::string l_s = Text(40, ']', false);
      l_element.m_sData = l_s;
    } else if (a_iDepth + 1 < a_iMaxDepth && m_iBudget > 0 && l_u32Kind > 3) {
      const int l_iChildren = 1 + static_cast<int>(Below(4));
      for (int l_i = 0; l_i < l_iChildren && m_iBudget > 0; ++l_i)
        l_element.m_vecChildren.push_back(Element(a_iDepth + 1, a_iMaxDepth));
    } else {
      l_element.m_sData = Text(30, 0, true);
    }
    return l_element;
  }

  void Write(OsXmlGenElement& a_element, std::string& a_s) {
    a_s += '<';
    a_s += a_element.m_sName;
    for (auto& l_property : a_element.m_vecProperties) a_s += " " + l_property.first + "='" + l_property.second + "'";
    if (a_element.m_bSelfClosing) {
      a_s += "/>";
      return;
    }
    a_s += '>';
    if (a_element.m_bCdata) {
      // Free text around the section is not part of the data.
      a_s += Text(5, 0, true) + "<![CDATA[" + a_element.m_sData + "]]>" + Text(5, 0, true);
    } else if (!a_element.m_vecChildren.empty()) {
      const std::size_t l_sizetStart = a_s.size();
      for (OsXmlGenElement& l_child : a_element.m_vecChildren) {
        a_s += Text(6, 0, true);
        Write(l_child, a_s);
      }
      a_s += Text(6, 0, true);
      a_element.m_sData = a_s.substr(l_sizetStart);
    } else {
      a_s += a_element.m_sData;
    }
    a_s += "</" + a_element.m_sName + ">";
  }

  std::mt19937 m_rng;
  int m_iBudget = 0;
};

// Walks the loaded document with the cursor from its current element and
// compares it with a_vec (the current element and its following siblings).
// Returns an empty text or the first difference.
inline std::string OsXmlGenCompare(COsXml& a_osxml, const std::vector<OsXmlGenElement>& a_vec, int a_iDepth) {
  static std::vector<char> s_vecBuffer(1 << 20);
  char* const l_sz = s_vecBuffer.data();
  const std::int32_t l_l = static_cast<std::int32_t>(s_vecBuffer.size());
  for (std::size_t l_i = 0; l_i < a_vec.size(); ++l_i) {
    const OsXmlGenElement& l_element = a_vec[l_i];
    if (l_i > 0 && a_osxml.NodeNext() != OS_STS_SUCCESS) return "no next sibling for <" + l_element.m_sName + ">";
    if (a_osxml.NodeDepthGet() != a_iDepth) return "depth of <" + l_element.m_sName + ">";
    if (a_osxml.NodeNameGet(l_sz, l_l) != OS_STS_SUCCESS || l_element.m_sName != l_sz)
      return "name: expected <" + l_element.m_sName + "> got <" + std::string(l_sz) + ">";
    if (a_osxml.NodeDataGet(l_sz, l_l) != OS_STS_SUCCESS || l_element.m_sData != l_sz)
      return "data of <" + l_element.m_sName + ">: expected [" + l_element.m_sData + "] got [" + l_sz + "]";
    for (auto& l_property : l_element.m_vecProperties) {
      if (a_osxml.NodePropertyGet(l_property.first.c_str(), l_sz, l_l) != OS_STS_SUCCESS || l_property.second != l_sz)
        return "property " + l_property.first + " of <" + l_element.m_sName + ">";
    }
    // Exactly the generated properties follow the element, in order.
    const OsXmlAtom* const l_posxmlatom = a_osxml.NodeGetOsXmlAtom();
    for (std::size_t l_p = 0; l_p < l_element.m_vecProperties.size(); ++l_p) {
      const OsXmlAtom& l_property = l_posxmlatom[1 + l_p];
      if (l_property.eosxmltype != OS_XML_TYPE_PROPERTY || l_property.lDepth != a_iDepth ||
          l_property.lName != static_cast<std::int32_t>(l_element.m_vecProperties[l_p].first.size()))
        return "property atom " + std::to_string(l_p) + " of <" + l_element.m_sName + ">";
    }
    if (l_element.m_bSelfClosing && l_posxmlatom->lData != 0)
      return "self-closing <" + l_element.m_sName + "> has data";
    // A failed child search leaves the cursor alone, so a leaf needs no
    // level of its own (the deepest one, at level 63, could not have one).
    if (l_element.m_vecChildren.empty()) {
      if (a_osxml.NodeChild() != OS_STS_NOMORE) return "unexpected child of <" + l_element.m_sName + ">";
      continue;
    }
    if (a_osxml.NodePush() != OS_STS_SUCCESS) return "push at <" + l_element.m_sName + ">";
    if (a_osxml.NodeChild() != OS_STS_SUCCESS) return "no child of <" + l_element.m_sName + ">";
    std::string l_s = OsXmlGenCompare(a_osxml, l_element.m_vecChildren, a_iDepth + 1);
    if (!l_s.empty()) return l_s;
    if (a_osxml.NodeNext() != OS_STS_NOMORE) return "extra child of <" + l_element.m_sName + ">";
    if (a_osxml.NodePop() != OS_STS_SUCCESS) return "pop at <" + l_element.m_sName + ">";
  }
  return "";
}
