// The reader's host test fixture: one reader per test, the log captured, and
// short ways to load text and read the current atom.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os_cosxml.h"
#include "os_cosxml_impl.h"
#include "os_host_backend.h"

class Xml : public ::testing::Test {
 protected:
  void SetUp() override { OsHostLogCapture(&m_vecLines); }
  void TearDown() override { OsHostLogCapture(nullptr); }

  // Loads exactly the bytes of a_s from a buffer of their size, so that a
  // read past them is a finding under the sanitizers.
  EOSSTS Load(const std::string& a_s) {
    m_vecLines.clear();
    std::vector<char> l_vec(a_s.begin(), a_s.end());
    return m_osxml.Load(l_vec.data(), static_cast<std::int32_t>(l_vec.size()));
  }
  COsXmlImpl& Impl() { return *m_osxml.m_posxmlimpl; }
  const OsXmlAtom& Atom(int a_i) { return Impl().m_posxmlatom[a_i]; }
  std::string Text(std::int32_t a_lOffset, std::int32_t a_lLength) {
    return std::string(Impl().m_szText + a_lOffset, a_lLength);
  }
  std::string NameOf(const OsXmlAtom& a_atom) { return Text(a_atom.szName, a_atom.lName); }
  std::string DataOf(const OsXmlAtom& a_atom) { return Text(a_atom.szData, a_atom.lData); }
  std::string Name() {
    char l_sz[256];
    return m_osxml.NodeNameGet(l_sz, sizeof(l_sz)) == OS_STS_SUCCESS ? l_sz : "<none>";
  }
  std::string Data() {
    char l_sz[4096];
    return m_osxml.NodeDataGet(l_sz, sizeof(l_sz)) == OS_STS_SUCCESS ? l_sz : "<none>";
  }
  std::string Property(const char* a_szName) {
    char l_sz[256];
    return m_osxml.NodePropertyGet(a_szName, l_sz, sizeof(l_sz)) == OS_STS_SUCCESS ? l_sz : "<none>";
  }
  // Whether a line "<file> <mark> <text>" was logged since the last load.
  bool Logged(const std::string& a_sLine) const {
    for (const std::string& l_s : m_vecLines)
      if (l_s == a_sLine) return true;
    return false;
  }
  std::string Lines() const {
    std::string l_s;
    for (const std::string& l_sLine : m_vecLines) l_s += l_sLine + "\n";
    return l_s;
  }
  // A refused document: status 1, the one abort line, and nothing loaded.
  void ExpectAbort(const std::string& a_sDocument, const std::string& a_sMessage) {
    SCOPED_TRACE(a_sDocument);
    EXPECT_EQ(Load(a_sDocument), OS_STS_FAIL);
    EXPECT_TRUE(Logged("os_cosxml_parse.cpp A " + a_sMessage)) << Lines();
    EXPECT_FALSE(Impl().IsLoaded());
    EXPECT_EQ(Impl().m_szText, nullptr);
    EXPECT_EQ(Impl().m_lAtomsInUse, 0);
  }

  COsXml m_osxml;
  std::vector<std::string> m_vecLines;
};
