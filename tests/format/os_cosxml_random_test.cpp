// Generated documents and their mutations. Random trees of the dialect must
// load and walk back exactly as generated; more than 100,000 inputs derived
// from valid documents by mutation must either load into a consistent table
// or be refused with nothing left loaded, and (under the sanitizer preset)
// never touch memory outside the reader's copy and tables.
#include <memory>
#include <random>

#include "os_cosxml_fixture.h"
#include "os_cosxml_gen.h"

namespace {

TEST_F(Xml, GeneratedDocumentsMatchTheirTrees) {
  int l_iDeepest = 0;
  for (std::uint32_t l_u32Seed = 1; l_u32Seed <= 400; ++l_u32Seed) {
    OsXmlGen l_gen(l_u32Seed);
    std::vector<OsXmlGenElement> l_vec = l_gen.Forest(l_u32Seed % 4 == 0 ? 64 : 8, 400);
    // Every tenth document carries a chain down to the deepest level.
    if (l_u32Seed % 10 == 0) l_vec.push_back(l_gen.Chain(64));
    const std::string l_s = l_gen.Serialise(l_vec);
    SCOPED_TRACE(l_s.substr(0, 200));
    ASSERT_EQ(Load(l_s), OS_STS_SUCCESS) << "seed " << l_u32Seed << "\n" << Lines();
    for (int l_i = 0; l_i < Impl().m_lAtomsInUse; ++l_i) l_iDeepest = std::max(l_iDeepest, Atom(l_i).lDepth);
    const std::string l_sDifference = OsXmlGenCompare(m_osxml, l_vec, 0);
    ASSERT_EQ(l_sDifference, "") << "seed " << l_u32Seed;
    EXPECT_EQ(m_osxml.NodeNext(), OS_STS_NOMORE);  // no extra outermost element
  }
  EXPECT_EQ(l_iDeepest, 63);
}

// A depth-first walk with the cursor from the current element; returns the
// elements visited. Reads everything on the way and checks that the in-place
// pairs leave the text as it was.
int Walk(COsXml& a_osxml, COsXmlImpl& a_impl, std::int32_t a_lLength) {
  static char s_sz[1 << 16];
  int l_iVisited = 0;
  do {
    ++l_iVisited;
    EXPECT_EQ(a_osxml.NodeNameGet(s_sz, sizeof(s_sz)), OS_STS_SUCCESS);
    a_osxml.NodeDataGet(s_sz, sizeof(s_sz));
    a_osxml.NodePropertyGet("k", s_sz, sizeof(s_sz));
    const char l_cBefore = a_impl.m_szText[a_lLength];
    if (a_osxml.NodeNameAcquire() != nullptr) a_osxml.NodeNameRelease();
    if (a_osxml.NodeDataAcquire() != nullptr) a_osxml.NodeDataRelease();
    EXPECT_EQ(a_impl.m_szText[a_lLength], l_cBefore);
    if (a_osxml.NodePush() == OS_STS_SUCCESS) {
      if (a_osxml.NodeChild() == OS_STS_SUCCESS) l_iVisited += Walk(a_osxml, a_impl, a_lLength);
      a_osxml.NodePop();
    }
  } while (a_osxml.NodeNext() == OS_STS_SUCCESS);
  return l_iVisited;
}

// What every successful load must hold: rows in order, offsets inside the
// text, properties right behind an element of their depth.
void ExpectConsistent(COsXmlImpl& a_impl, std::int32_t a_lLength) {
  int l_iTags = 0;
  std::int32_t l_lDepth = -1;
  for (std::int32_t l_l = 0; l_l < a_impl.m_lAtomsInUse; ++l_l) {
    const OsXmlAtom& l_atom = a_impl.m_posxmlatom[l_l];
    ASSERT_EQ(l_atom.lIndex, l_l);
    ASSERT_GE(l_atom.szName, 1);
    ASSERT_GE(l_atom.lName, 1);
    ASSERT_LE(l_atom.szName + l_atom.lName, a_lLength);
    ASSERT_GE(l_atom.szData, 0);
    ASSERT_GE(l_atom.lData, 0);
    if (l_atom.eosxmltype == OS_XML_TYPE_TAG) {
      ++l_iTags;
      ASSERT_LE(l_atom.lDepth, l_lDepth + 1);
      ASSERT_LT(l_atom.lDepth, OS_XML_MAX_DEPTH);
      l_lDepth = l_atom.lDepth;
      // Only a self-closing element at the very end points past the text.
      ASSERT_LE(l_atom.szData + l_atom.lData, l_atom.lData == 0 ? a_lLength + 1 : a_lLength);
    } else {
      ASSERT_EQ(l_atom.eosxmltype, OS_XML_TYPE_PROPERTY);
      ASSERT_EQ(l_atom.lDepth, l_lDepth);
      ASSERT_LE(l_atom.szData + l_atom.lData, a_lLength);
    }
  }
  for (std::int32_t l_l = a_impl.m_lAtomsInUse; l_l < a_impl.m_lAllocatedAtoms; ++l_l)
    ASSERT_EQ(a_impl.m_posxmlatom[l_l].eosxmltype, OS_XML_TYPE_UNDEFINED);
  (void)l_iTags;
}

class Mutator {
 public:
  explicit Mutator(std::uint32_t a_u32Seed) : m_rng(a_u32Seed) {}
  std::uint32_t Below(std::uint32_t a_u32) { return a_u32 == 0 ? 0 : static_cast<std::uint32_t>(m_rng() % a_u32); }

  std::string Mutate(const std::string& a_s, const std::string& a_sOther) {
    static const char* const s_aszPieces[] = {"<",   ">",  "/",  "'",  "=",         " ",  "?",    "!",
                                              "]]>", "</", "/>", "<?", "<![CDATA[", "\0", "<a>",  "</a>",
                                              "x='", "\t", "\n", "]",  "<!--",      "?>", "<a/>", "'>"};
    std::string l_s = a_s;
    const int l_iEdits = 1 + static_cast<int>(Below(4));
    for (int l_i = 0; l_i < l_iEdits; ++l_i) {
      const std::size_t l_sizet = l_s.empty() ? 0 : Below(static_cast<std::uint32_t>(l_s.size()));
      switch (Below(8)) {
        case 0:  // flip a byte
          if (!l_s.empty()) l_s[l_sizet] = static_cast<char>(l_s[l_sizet] ^ (1u << Below(8)));
          break;
        case 1:  // any byte
          if (!l_s.empty()) l_s[l_sizet] = static_cast<char>(Below(256));
          break;
        case 2: {  // a piece of the dialect
          const char* const l_szPiece = s_aszPieces[Below(sizeof(s_aszPieces) / sizeof(s_aszPieces[0]))];
          l_s.insert(l_sizet, l_szPiece[0] == 0 ? std::string(1, 0) : std::string(l_szPiece));
          break;
        }
        case 3:  // delete a run
          l_s.erase(l_sizet, 1 + Below(8));
          break;
        case 4:  // truncate
          l_s.resize(l_sizet);
          break;
        case 5: {  // duplicate a slice
          const std::size_t l_sizetLength = Below(64);
          l_s.insert(Below(static_cast<std::uint32_t>(l_s.size() + 1)), l_s.substr(l_sizet, l_sizetLength));
          break;
        }
        case 6: {  // splice in part of another document
          const std::size_t l_sizetFrom = Below(static_cast<std::uint32_t>(a_sOther.size()));
          l_s.insert(l_sizet, a_sOther.substr(l_sizetFrom, Below(128)));
          break;
        }
        default: {  // deep nesting around a point
          const int l_iLevels = 60 + static_cast<int>(Below(8));
          std::string l_sOpen, l_sClose;
          for (int l_j = 0; l_j < l_iLevels; ++l_j) {
            l_sOpen += "<d>";
            l_sClose += "</d>";
          }
          l_s.insert(l_sizet, l_sOpen + (Below(2) ? l_sClose : std::string()));
          break;
        }
      }
    }
    return l_s;
  }

 private:
  std::mt19937 m_rng;
};

TEST_F(Xml, AMutationCorpusIsLoadedOrRefusedCleanly) {
  std::vector<std::string> l_vecBase = {
      "<?xml version='1.0' encoding='UTF-8'?>\n<task id='1' k='v'><step n='a'>text</step><data><![CDATA[x<y]]></data>"
      "<empty/><p k='q' r='s'/></task>",
      "<a><b><c><d>deep</d></c></b></a>",
      "<r k='1'>a<![CDATA[]]]]>b</r>",
  };
  for (std::uint32_t l_u32Seed = 1; l_u32Seed <= 60; ++l_u32Seed) {
    OsXmlGen l_gen(1000 + l_u32Seed);
    std::vector<OsXmlGenElement> l_vec = l_gen.Forest(l_u32Seed % 6 == 0 ? 64 : 10, 40);
    l_vecBase.push_back(l_gen.Serialise(l_vec));
  }

  Mutator l_mutator(20240601);
  const int l_iInputs = 100000;
  int l_iLoaded = 0;
  int l_iRefused = 0;
  std::unique_ptr<COsXml> l_posxmlFresh;
  for (int l_i = 0; l_i < l_iInputs; ++l_i) {
    const std::string& l_sBase = l_vecBase[l_mutator.Below(static_cast<std::uint32_t>(l_vecBase.size()))];
    const std::string& l_sOther = l_vecBase[l_mutator.Below(static_cast<std::uint32_t>(l_vecBase.size()))];
    const std::string l_s = l_mutator.Mutate(l_sBase, l_sOther);
    // Exactly the input's bytes, with no terminator behind them.
    std::unique_ptr<char[]> l_pc(new char[l_s.empty() ? 1 : l_s.size()]);
    std::memcpy(l_pc.get(), l_s.data(), l_s.size());
    // Most inputs go through one reused reader, some through fresh ones.
    if (l_i % 1000 == 0) l_posxmlFresh.reset(new COsXml);
    COsXml& l_osxml = l_i % 7 == 0 ? *l_posxmlFresh : m_osxml;
    COsXmlImpl& l_impl = *l_osxml.m_posxmlimpl;
    m_vecLines.clear();
    const EOSSTS l_eossts = l_osxml.Load(l_pc.get(), static_cast<std::int32_t>(l_s.size()));
    if (l_eossts == OS_STS_SUCCESS) {
      ++l_iLoaded;
      ASSERT_TRUE(l_impl.IsLoaded());
      const std::int32_t l_lLength = static_cast<std::int32_t>(std::strlen(l_impl.m_szText));
      ASSERT_NO_FATAL_FAILURE(ExpectConsistent(l_impl, l_lLength)) << l_s;
      if (l_impl.m_lAtomsInUse > 0) Walk(l_osxml, l_impl, l_lLength);
    } else {
      ++l_iRefused;
      ASSERT_EQ(l_eossts, OS_STS_FAIL) << l_s;
      ASSERT_FALSE(l_impl.IsLoaded()) << l_s;
      ASSERT_EQ(l_impl.m_lAtomsInUse, 0);
      ASSERT_EQ(m_vecLines.size(), 1u) << l_s << "\n" << Lines();
      EXPECT_EQ(l_osxml.NodeRoot(), OS_STS_FAIL);
    }
  }
  EXPECT_EQ(l_iLoaded + l_iRefused, l_iInputs);
  // Both outcomes are well represented.
  EXPECT_GT(l_iLoaded, l_iInputs / 10);
  EXPECT_GT(l_iRefused, l_iInputs / 10);
  std::printf("mutation corpus: %d inputs, %d loaded, %d refused\n", l_iInputs, l_iLoaded, l_iRefused);
}

}  // namespace
