// The task builder: layout and status reports, refusals and the sticky error
// flag, the capacity rule at its boundary, the header readers, per-thread
// linked buffers; every message built loads with the XML reader and walks
// back to the names and values it was built from, generated trees included.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "os_cosmem_impl.h"
#include "os_cosxml_gen.h"
#include "os_cosxml_record.h"
#include "os_cosxmltask_impl.h"
#include "os_test_services.h"

namespace {

using Tree = std::vector<OsXmlGenElement>;
using Step = std::function<void(COsXmlTask&)>;

OsXmlGenElement Node(const std::string& a_sName, const std::string& a_sValue, const Tree& a_vecChildren = {}) {
  OsXmlGenElement l_element;
  l_element.m_sName = a_sName;
  l_element.m_sData = a_sValue;
  l_element.m_vecChildren = a_vecChildren;
  return l_element;
}

std::string Field(std::uint64_t a_u64) {
  char l_sz[32];
  std::snprintf(l_sz, sizeof(l_sz), "%020" PRIu64, a_u64);
  return l_sz;
}

std::string Header(std::uint64_t a_u64Id, std::uint64_t a_u64Reply, std::uint64_t a_u64Bytes) {
  return "<task id='" + Field(a_u64Id) + "' reply='" + Field(a_u64Reply) + "' bytes='" + Field(a_u64Bytes) + "'>\n";
}

// Walks a message with the XML dispatch: the elements entered, in order and
// at their levels, must be those of a_vec, and each leaf must carry its
// value (a block's data is its markup). Empty when everything matches, else
// the first difference.
std::string Walk(const char* a_szMessage, const Tree& a_vec) {
  OsXmlRecorder l_recorder;
  if (l_recorder.Walk(a_szMessage) != OS_STS_SUCCESS) return "the dispatch refused it: " + l_recorder.m_sTemplate;
  const std::vector<OsXmlRecord> l_vecEnters = l_recorder.Enters();
  std::size_t l_i = 0;
  std::function<std::string(const Tree&, std::int32_t)> l_pfnCompare = [&](const Tree& a_tree, std::int32_t a_lLevel) {
    for (const OsXmlGenElement& l_element : a_tree) {
      if (l_i == l_vecEnters.size()) return "no element <" + l_element.m_sName + ">";
      const OsXmlRecord& l_record = l_vecEnters[l_i++];
      if (l_record.m_sName != l_element.m_sName || l_record.m_lLevel != a_lLevel ||
          (l_element.m_vecChildren.empty() && l_record.m_sData != l_element.m_sData))
        return "<" + l_element.m_sName + "> [" + l_element.m_sData + "] read as <" + l_record.m_sName + "> [" +
               l_record.m_sData + "] at level " + std::to_string(l_record.m_lLevel);
      if (std::string l_s = l_pfnCompare(l_element.m_vecChildren, a_lLevel + 1); !l_s.empty()) return l_s;
    }
    return std::string();
  };
  std::string l_s = l_pfnCompare(a_vec, 0);
  if (l_s.empty() && l_i != l_vecEnters.size()) l_s = "more elements than were built";
  return l_s;
}

// A random block (or, unless a_bBlock, an element) whose values are made of
// what a message must carry unchanged: markup characters, "]]>", entity-like
// text, non-ASCII UTF-8, quotes, white space, nothing at all.
OsXmlGenElement Body(std::mt19937& a_rng, int a_iLevels, bool a_bBlock) {
  static const char* const s_aszPiece[] = {"<",  ">", "]]>", "]]", "]", "&", "&amp;", "\xc3\xa9", "\xe6\x97\xa5",
                                           "'", "\"", " ",   "\t", "a", "Z9"};
  static const char s_szName[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
  OsXmlGenElement l_element;
  for (std::uint32_t l_u = 0, l_uName = 1 + a_rng() % 8; l_u < l_uName; ++l_u)
    l_element.m_sName += s_szName[a_rng() % (l_u == 0 ? 52 : sizeof(s_szName) - 1)];
  if (a_bBlock || (a_iLevels > 0 && a_rng() % 3 == 0)) {
    for (std::uint32_t l_u = 0, l_uChildren = 1 + a_rng() % 4; l_u < l_uChildren; ++l_u)
      l_element.m_vecChildren.push_back(Body(a_rng, a_iLevels - 1, false));
  } else {
    for (std::uint32_t l_u = 0, l_uPieces = a_rng() % 5; l_u < l_uPieces; ++l_u)
      l_element.m_sData += s_aszPiece[a_rng() % (sizeof(s_aszPiece) / sizeof(s_aszPiece[0]))];
  }
  return l_element;
}

void Build(COsXmlTask& a_task, const OsXmlGenElement& a_element, std::int32_t a_lDepth) {
  if (a_element.m_vecChildren.empty()) return a_task.ElementAddAuto(a_element.m_sName.c_str(), a_element.m_sData.c_str());
  a_task.BlockOpen(a_element.m_sName.c_str(), a_lDepth);
  for (const OsXmlGenElement& l_child : a_element.m_vecChildren) Build(a_task, l_child, a_lDepth + 1);
  a_task.BlockClose(a_element.m_sName.c_str());
}

class XmlTask : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"task.log");
    m_task.emplace();
  }
  void TearDown() override {
    m_task.reset();
    OsServicesTest::TearDown();
  }
  static std::string Text(COsXmlTask& a_task) { return a_task.BufferGet() != nullptr ? a_task.BufferGet() : "<none>"; }
  // The message walks to a task of a_vecBody whose header fields read back.
  static void ExpectReadBack(COsXmlTask& a_task, const Tree& a_vecBody, std::uint64_t a_u64Id, std::uint64_t a_u64Reply) {
    EXPECT_EQ(Walk(a_task.BufferGet(), {Node("task", "", a_vecBody)}), "") << Text(a_task);
    std::uint64_t l_au64[3] = {};
    EXPECT_TRUE(OsXmlTaskGetId(a_task.BufferGet(), &l_au64[0]) && OsXmlTaskGetReply(a_task.BufferGet(), &l_au64[1]) &&
                OsXmlTaskGetBytes(a_task.BufferGet(), &l_au64[2]));
    EXPECT_EQ(std::vector<std::uint64_t>(l_au64, l_au64 + 3),
              (std::vector<std::uint64_t>{a_u64Id, a_u64Reply, static_cast<std::uint64_t>(a_task.LengthGet())}));
  }
  // One line more with exactly a_szText, class 64, since a_sizetBefore.
  void ExpectRefused(const char* a_szText, std::size_t a_sizetBefore) {
    const std::vector<OsTestLogLine> l_lines = Lines(a_szText);
    ASSERT_EQ(l_lines.size(), a_sizetBefore + 1) << a_szText;
    EXPECT_EQ(l_lines.back().m_sText, a_szText);
    EXPECT_EQ(l_lines.back().m_cMark, 'A');
  }
  std::optional<COsXmlTask> m_task;
};

TEST_F(XmlTask, StatusReportsBuiltAndConstant) {
  const struct {
    const char* m_szStatus;
    const char* m_szConstant;
    std::uint64_t m_u64Constant, m_u64Built;
  } l_acase[] = {{"success", OsXmlTaskStatusSuccess(), 157, 159}, {"fail", OsXmlTaskStatusFail(), 154, 156}};
  for (const auto& l_case : l_acase) {
    const std::string l_sBody =
        std::string("\t<reportstatus>\n\t\t<status>") + l_case.m_szStatus + "</status>\n\t</reportstatus>\n</task>";
    EXPECT_EQ(l_case.m_szConstant, Header(0, 0, l_case.m_u64Constant) + l_sBody);
    EXPECT_TRUE(m_task->TaskBegin(0, 0, l_case.m_szStatus));
    m_task->TaskEnd();
    EXPECT_EQ(Text(*m_task), Header(0, 0, l_case.m_u64Built) + l_sBody + "\n");
    ExpectReadBack(*m_task, {Node("reportstatus", "", {Node("status", l_case.m_szStatus)})}, 0, 0);
  }
  EXPECT_FALSE(m_task->ErrorGet(false));
}

TEST_F(XmlTask, ElementLinesInATask) {
  const std::string l_sPointer = std::string(2 * sizeof(void*) - 8, '0') + "1234abcd";
  const struct {
    Step m_add;
    std::string m_sLine, m_sName, m_sValue;
  } l_acase[] = {
      {[](COsXmlTask& a_task) { a_task.ElementAdd("y", "v", true); }, "<y>v</y>\n", "y", "v"},
      {[](COsXmlTask& a_task) { a_task.ElementAddInt("n", -42); }, "\t\t<n>-42</n>\n", "n", "-42"},
      {[](COsXmlTask& a_task) { a_task.ElementAddReal("r", 1.5); }, "\t\t<r>1.500000</r>\n", "r", "1.500000"},
      {[](COsXmlTask& a_task) { a_task.ElementAddPointer("p", reinterpret_cast<void*>(0x1234abcd)); },
       "\t\t<p>" + l_sPointer + "</p>\n", "p", l_sPointer},
      {[](COsXmlTask& a_task) { a_task.ElementAddCdata("c", "x"); }, "\t\t<c><![CDATA[x]]></c>\n", "c", "x"},
      {[](COsXmlTask& a_task) { a_task.ElementAddAuto("v", "a<b"); }, "\t\t<v><![CDATA[a<b]]></v>\n", "v", "a<b"},
      {[](COsXmlTask& a_task) { a_task.ElementAddAuto("v", "]]>a]]]>"); },
       "\t\t<v><![CDATA[]]]]><![CDATA[>a]]]]]><![CDATA[>]]></v>\n", "v", "]]>a]]]>"},
      {[](COsXmlTask& a_task) { a_task.RawAppend("\n<w>raw</w>\n\t"); }, "<w>raw</w>\n", "w", "raw"},
      // A value taken from the message so far is copied as it was.
      {[](COsXmlTask& a_task) {
         a_task.RawAppend("ab");
         a_task.ElementAdd("c", a_task.BufferGet() + a_task.LengthGet() - 2);
       },
       "ab\t\t<c>ab</c>\n", "c", "ab"},
  };
  for (const auto& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_sLine);
    m_task->TaskBegin(0, 0, nullptr);
    m_task->BlockOpen("x", 1);
    l_case.m_add(*m_task);
    m_task->BlockClose("x");
    m_task->TaskEnd();
    m_task->TaskIdSet(123);  // the fields take their numbers after the body too
    m_task->TaskReplySet(9);
    EXPECT_FALSE(m_task->ErrorGet(false));
    EXPECT_EQ(Text(*m_task).substr(10, 20), "00000000000000000123");
    const std::string l_sBody = "\t<x>\n" + l_case.m_sLine + "\t</x>\n</task>\n";
    EXPECT_EQ(Text(*m_task), Header(123, 9, 91 + l_sBody.size()) + l_sBody);
    ExpectReadBack(*m_task, {Node("x", "", {Node(l_case.m_sName, l_case.m_sValue)})}, 123, 9);
  }
}

TEST_F(XmlTask, RefusalsAreLoggedAndSticky) {
  const std::string l_sOpen = Header(0, 0, 0).replace(68, 20, std::string(20, '#')) + "\t<a>\n";
  const struct {
    Step m_misuse;
    const char* m_szMessage;
    std::string m_sText = {};  // the buffer afterwards, when it matters
  } l_acase[] = {
      {[](COsXmlTask& a_task) { a_task.TaskBegin(0, 0, nullptr); a_task.TaskBegin(0, 0, nullptr); }, "xmltask>>> out of order..."},
      {[](COsXmlTask& a_task) { a_task.TaskBegin(0, 0, nullptr); a_task.BlockOpen("a", 2); }, "xmltask>>> depth error...2, must be 1"},
      {[](COsXmlTask& a_task) { a_task.TaskBegin(0, 0, nullptr); a_task.BlockOpen("a", 1); a_task.TaskEnd(); },
       "xmltask>>> out of order...", l_sOpen},
      {[](COsXmlTask& a_task) { a_task.TaskBegin(-1, 0, nullptr); }, "xmltask>>> a_nTaskId is negative..."},
      {[](COsXmlTask& a_task) { a_task.TaskBegin(0, 0, nullptr); a_task.ElementAdd("e", "v"); }, "xmltask>>> out of order..."},
      {[](COsXmlTask& a_task) { a_task.TaskBegin(0, 0, nullptr); a_task.ElementAddAuto(nullptr, "v"); }, "a_pszName is null..."},
      // A document has no header: no fields to patch, no task to end.
      {[](COsXmlTask& a_task) { a_task.DocumentBegin("d", 0); a_task.TaskIdSet(5); }, "xmltask>>> out of order...", "<d>\n"},
      {[](COsXmlTask& a_task) { a_task.DocumentBegin("d", 0); a_task.TaskEnd(); }, "xmltask>>> out of order...", "<d>\n"},
      {[](COsXmlTask& a_task) { a_task.DocumentBegin("d", -1); }, "xmltask>>> depth error...-1, must be 0 or more"},
  };
  for (const auto& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szMessage);
    m_task->Reset();
    const std::size_t l_sizet = Lines(l_case.m_szMessage).size();
    l_case.m_misuse(*m_task);
    ExpectRefused(l_case.m_szMessage, l_sizet);
    if (!l_case.m_sText.empty()) {
      EXPECT_EQ(Text(*m_task), l_case.m_sText);
    }
  }
  // Later sound steps keep the flag until it is read with clearing.
  m_task->Reset();
  m_task->TaskIdSet(-1);
  EXPECT_FALSE(m_task->TaskBegin(0, 0, nullptr));
  m_task->TaskEnd();
  EXPECT_TRUE(m_task->ErrorGet(true));
  EXPECT_FALSE(m_task->ErrorGet(false));
}

TEST_F(XmlTask, DocumentWithoutHeader) {
  for (int l_i = 0; l_i < 2; ++l_i) {  // a closed document lets the next one begin
    m_task->DocumentBegin("doc", 1);
    m_task->BlockOpen("b", 2);
    m_task->ElementAdd("e", "v");
    m_task->BlockClose("b");
    m_task->DocumentEnd("doc");
    EXPECT_FALSE(m_task->ErrorGet(false));
    EXPECT_EQ(Text(*m_task), "\t<doc>\n\t\t<b>\n\t\t\t<e>v</e>\n\t\t</b>\n\t</doc>\n");
  }
  EXPECT_EQ(Walk(m_task->BufferGet(), {Node("doc", "", {Node("b", "", {Node("e", "v")})})}), "");
}

TEST_F(XmlTask, CapacityAndTheOverflowBoundary) {
  for (const auto& [l_lSize, l_lCapacity] : {std::pair{1000, 65536}, {65536, 65536}, {70000, 70000}})
    EXPECT_EQ(COsXmlTask(nullptr, l_lSize).m_posxmltaskimpl->m_lCapacity, l_lCapacity);
  // A write fits while the position after it, and its NUL, stay below the
  // capacity; "</task>\n" fits while the position after it does.
  constexpr std::int32_t l_lCapacity = 65536;
  const struct {
    Step m_last;
    std::int32_t m_lLast, m_lAfter;
    const char* m_szOverflow;
  } l_acase[] = {{[](COsXmlTask& a_task) { a_task.RawAppend("y"); }, 1, l_lCapacity - 2, nullptr},
                 {[](COsXmlTask& a_task) { a_task.RawAppend("y"); }, 1, l_lCapacity - 1, "xmltask>>> overflow..."},
                 {[](COsXmlTask& a_task) { a_task.TaskEnd(); }, 8, l_lCapacity, "buffer overflow...65536"},
                 {[](COsXmlTask& a_task) { a_task.TaskEnd(); }, 8, l_lCapacity - 1, nullptr}};
  for (const auto& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_lAfter);
    const std::size_t l_sizet = l_case.m_szOverflow != nullptr ? Lines(l_case.m_szOverflow).size() : 0;
    m_task->Reset();
    m_task->TaskBegin(0, 0, nullptr);
    m_task->RawAppend(std::string(static_cast<std::size_t>(l_case.m_lAfter - l_case.m_lLast - 91), 'x').c_str());
    l_case.m_last(*m_task);
    EXPECT_EQ(m_task->LengthGet(), l_case.m_lAfter - (l_case.m_szOverflow != nullptr ? l_case.m_lLast : 0));
    EXPECT_EQ(m_task->ErrorGet(true), l_case.m_szOverflow != nullptr);
    if (l_case.m_szOverflow != nullptr) ExpectRefused(l_case.m_szOverflow, l_sizet);
  }
  COsXml l_osxml;  // the longest message that fits
  EXPECT_EQ(l_osxml.Load(m_task->BufferGet()), OS_STS_SUCCESS);
  // An element one level below the largest depth has more tabs than fit.
  m_task->Reset();
  m_task->DocumentBegin("d", INT32_MAX);
  m_task->ElementAdd("e", "v");
  EXPECT_EQ(m_task->LengthGet(), 0);
}

TEST_F(XmlTask, HeaderReaders) {
  using Reader = bool (*)(const char*, std::uint64_t*);
  const std::string l_sFar = "<task" + std::string(250, ' ') + "id='1'>";
  std::uint64_t l_u64 = 0;
  const struct {
    Reader m_pfn;
    const char* m_szXml;
    std::uint64_t* m_pu64;
    bool m_bFound;
    std::uint64_t m_u64;
    const char* m_szMessage;
  } l_acase[] = {
      {OsXmlTaskGetBytes, OsXmlTaskStatusSuccess(), &l_u64, true, 157, nullptr},
      {OsXmlTaskGetId, "<task id='-5'>", &l_u64, true, 0 - 5ull, nullptr},
      {OsXmlTaskGetId, "<tasks id='1'>", &l_u64, false, 0, "not an XML task"},
      {OsXmlTaskGetReply, "<task id='1'>", &l_u64, false, 0, nullptr},
      {OsXmlTaskGetBytes, "<task bytes='12", &l_u64, false, 0, nullptr},  // no closing quote
      {OsXmlTaskGetId, l_sFar.c_str(), &l_u64, false, 0, nullptr},        // beyond the first 256 characters
      {OsXmlTaskGetBytes, nullptr, &l_u64, false, 0, "a_szXml is null"},
      {OsXmlTaskGetReply, "<task id='1'>", nullptr, false, 0, "a_pu64Reply is null"},
  };
  for (const auto& l_case : l_acase) {
    SCOPED_TRACE(l_case.m_szXml != nullptr ? l_case.m_szXml : "null");
    const std::size_t l_sizet = l_case.m_szMessage != nullptr ? Lines(l_case.m_szMessage).size() : 0;
    l_u64 = 0;
    EXPECT_EQ(l_case.m_pfn(l_case.m_szXml, l_case.m_pu64), l_case.m_bFound);
    EXPECT_EQ(l_u64, l_case.m_u64);
    if (l_case.m_szMessage != nullptr) ExpectRefused(l_case.m_szMessage, l_sizet);
  }
}

TEST_F(XmlTask, GeneratedTreesReadBackUnchanged) {
  std::mt19937 l_rng(20240611);
  for (int l_iTree = 0; l_iTree < 60; ++l_iTree) {
    SCOPED_TRACE(l_iTree);
    Tree l_vecBody;
    if (l_iTree == 0) {
      // Blocks down to the deepest level the dispatch walks (the task is
      // level 0): its cursor holds one level above the walk's start, so it
      // reaches one level less than the reader's 64.
      l_vecBody = {Body(l_rng, 0, false)};
      for (int l_i = 0; l_i < 61; ++l_i) l_vecBody = {Node(Body(l_rng, 0, false).m_sName, "", l_vecBody)};
    } else {
      for (std::uint32_t l_u = 0, l_uBlocks = 1 + l_rng() % 3; l_u < l_uBlocks; ++l_u)
        l_vecBody.push_back(Body(l_rng, 6, true));
    }
    const std::uint64_t l_u64Id = (static_cast<std::uint64_t>(l_rng()) << 31) ^ l_rng();  // beyond 32 bits
    const std::uint64_t l_u64Reply = l_rng() % 1000;
    m_task->TaskBegin(static_cast<std::int64_t>(l_u64Id), static_cast<std::int64_t>(l_u64Reply), nullptr);
    for (const OsXmlGenElement& l_block : l_vecBody) Build(*m_task, l_block, 1);
    m_task->TaskEnd();
    ASSERT_FALSE(m_task->ErrorGet(true)) << Text(*m_task);
    ExpectReadBack(*m_task, l_vecBody, l_u64Id, l_u64Reply);
    EXPECT_EQ(std::strlen(m_task->BufferGet()), static_cast<std::size_t>(m_task->LengthGet()));
  }
}

TEST_F(XmlTask, ThreadsUnderOneLinkNameKeepTheirOwnBuffers) {
  const std::uint32_t l_u32CC = OsMemInstance()->m_posmemimpl->m_u32CC;
  std::promise<char*> l_started;
  std::promise<void> l_goOn;
  std::string l_sWorker;
  std::thread l_thread([&] {
    COsXmlTask l_task("link");
    l_task.TaskBegin(1, 0, nullptr);
    l_task.BlockOpen("b", 1);
    l_task.ElementAdd("who", "worker");
    l_started.set_value(l_task.BufferGet());
    l_goOn.get_future().wait();
    l_task.BlockClose("b");
    l_task.TaskEnd();
    l_sWorker = l_task.ErrorGet(false) ? "<error>" : Text(l_task);
    ExpectReadBack(l_task, {Node("b", "", {Node("who", "worker")})}, 1, 0);
  });
  char* const l_pcWorker = l_started.get_future().get();
  {
    COsXmlTask l_task("link");
    l_task.TaskBegin(2, 0, "success");
    EXPECT_NE(l_task.BufferGet(), l_pcWorker);
    l_task.TaskEnd();
    ExpectReadBack(l_task, {Node("reportstatus", "", {Node("status", "success")})}, 2, 0);
  }  // takes this thread's buffer only
  l_goOn.set_value();
  l_thread.join();
  const std::string l_sBody = "\t<b>\n\t\t<who>worker</who>\n\t</b>\n</task>\n";
  EXPECT_EQ(l_sWorker, Header(1, 0, 91 + l_sBody.size()) + l_sBody);
  EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_u32CC, l_u32CC);
}

TEST_F(XmlTask, WithoutImplementationOrBufferNothingIsBuilt) {
  for (long l_lAt : {0L, 1L}) {  // the implementation fails, then its buffer
    OsMemFailAfter(l_lAt);
    COsXmlTask l_task;
    OsMemFailAfter(-1);
    EXPECT_EQ(l_task.m_posxmltaskimpl == nullptr, l_lAt == 0);
    EXPECT_FALSE(l_task.TaskBegin(1, 0, "success"));
    EXPECT_EQ(l_task.BufferGet(), nullptr);
    EXPECT_TRUE(l_task.ErrorGet(false));
  }
  EXPECT_EQ(Lines("m_posxmltaskimpl is null...").size(), 3u);
  EXPECT_EQ(Lines("OsMemAlloc failed").size(), 1u);
}

}  // namespace
