// The task builder: the header, the status reports and every element form,
// refusals and the sticky error flag, the capacity rule at its boundary, the
// header readers, per-thread linked buffers; every sound message walks back
// through the XML dispatch to the names and values it was built from,
// generated trees included.
#include <cstdio>
#include <functional>
#include <thread>

#include "os_cosmem_impl.h"
#include "os_cosxml_gen.h"
#include "os_cosxml_record.h"
#include "os_cosxmltask_impl.h"
#include "os_test_services.h"

namespace {

using Tree = std::vector<OsXmlGenElement>;
using Step = std::function<void(COsXmlTask&)>;

OsXmlGenElement Node(const std::string& a_sName, const std::string& a_sValue, const Tree& a_vecChildren = {}) {
  return {a_sName, {}, a_sValue, false, false, a_vecChildren};
}

std::string Header(unsigned long long a_ullId, unsigned long long a_ullReply, unsigned long long a_ullBytes) {
  char l_sz[128];
  std::snprintf(l_sz, sizeof(l_sz), "<task id='%020llu' reply='%020llu' bytes='%020llu'>\n", a_ullId, a_ullReply,
                a_ullBytes);
  return l_sz;
}

std::string Report(const char* a_szStatus) {
  return std::string("\t<reportstatus>\n\t\t<status>") + a_szStatus + "</status>\n\t</reportstatus>\n</task>";
}

// One line per element: its level, its name and, for a leaf, its value.
std::string Outline(const Tree& a_tree, std::int32_t a_lLevel = 0) {
  std::string l_s;
  for (const OsXmlGenElement& l_e : a_tree)
    l_s += std::to_string(a_lLevel) + " <" + l_e.m_sName + "> [" + (l_e.m_vecChildren.empty() ? l_e.m_sData : "") +
           "]\n" + Outline(l_e.m_vecChildren, a_lLevel + 1);
  return l_s;
}

// The outline of the elements the XML dispatch enters walking a message.
std::string Walked(const std::string& a_sMessage) {
  OsXmlRecorder l_recorder;
  l_recorder.Walk(a_sMessage);  // a refused walk enters less, or nothing
  Tree l_tree;
  for (const OsXmlRecord& l_record : l_recorder.Enters()) {
    Tree* l_pvec = &l_tree;  // the children of the last element one level up
    for (std::int32_t l_l = 0; l_l < l_record.m_lLevel && !l_pvec->empty(); ++l_l)
      l_pvec = &l_pvec->back().m_vecChildren;
    l_pvec->push_back(Node(l_record.m_sName, l_record.m_sData));
  }
  return Outline(l_tree);
}

// A random block (or, unless a_bBlock, an element) whose values are made of
// what a message must carry unchanged: markup characters, "]]>", entity-like
// text, non-ASCII UTF-8, quotes, white space, nothing at all.
OsXmlGenElement Body(std::mt19937& a_rng, int a_iLevels, bool a_bBlock) {
  static const char* const s_aszPiece[] = {"<", ">",  "]]>", "]]", "]", "&", "&amp;", "\xc3\xa9", "\xe6\x97\xa5",
                                           "'", "\"", " ",   "\t", "a", "Z9"};
  static const char s_szName[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
  OsXmlGenElement l_element;
  for (std::uint32_t l_u = 0, l_uName = 1 + a_rng() % 8; l_u < l_uName; ++l_u)
    l_element.m_sName += s_szName[a_rng() % (l_u == 0 ? 52 : sizeof(s_szName) - 1)];
  const bool l_bBlock = a_bBlock || (a_iLevels > 0 && a_rng() % 3 == 0);
  for (std::uint32_t l_u = 0, l_uParts = l_bBlock ? 1 + a_rng() % 4 : a_rng() % 5; l_u < l_uParts; ++l_u) {
    if (l_bBlock)
      l_element.m_vecChildren.push_back(Body(a_rng, a_iLevels - 1, false));
    else
      l_element.m_sData += s_aszPiece[a_rng() % (sizeof(s_aszPiece) / sizeof(s_aszPiece[0]))];
  }
  return l_element;
}

void Build(COsXmlTask& a_task, const OsXmlGenElement& a_element, std::int32_t a_lDepth) {
  if (a_element.m_vecChildren.empty())
    return a_task.ElementAddAuto(a_element.m_sName.c_str(), a_element.m_sData.c_str());
  a_task.BlockOpen(a_element.m_sName.c_str(), a_lDepth);
  for (const OsXmlGenElement& l_child : a_element.m_vecChildren) Build(a_task, l_child, a_lDepth + 1);
  a_task.BlockClose(a_element.m_sName.c_str());
}

// A task begun and filled from the header's end up to a_sizetTo, then a_last.
Step Full(std::size_t a_sizetTo, const Step& a_last) {
  return [a_sizetTo, a_last](COsXmlTask& a_t) {
    a_t.TaskBegin(0, 0, nullptr), a_t.RawAppend(std::string(a_sizetTo - 91, 'x').c_str()), a_last(a_t);
  };
}

class XmlTask : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"task.log");
  }
  static std::string Text(COsXmlTask& a_task) { return a_task.BufferGet() != nullptr ? a_task.BufferGet() : "<none>"; }
  // a_do logs nothing without a_szText, else only a_szText, at class 64.
  void ExpectLogs(const std::function<void()>& a_do, const char* a_szText) {
    const std::size_t l_sizetBefore = Lines("").size();
    a_do();
    const std::vector<OsTestLogLine> l_lines = Lines("");
    ASSERT_EQ(l_lines.size() > l_sizetBefore, a_szText != nullptr);
    for (std::size_t l_i = l_sizetBefore; l_i < l_lines.size(); ++l_i)
      EXPECT_EQ(l_lines[l_i].m_cMark + l_lines[l_i].m_sText, 'A' + std::string(a_szText));
  }
};

TEST_F(XmlTask, MessagesAndRefusals) {
  COsXmlTask l_task(nullptr, 1000);
  // From a reset builder: the text a_build leaves, its refusal (logged, and
  // the error flag until it is read with clearing), the elements a sound
  // message walks back to.
  auto l_expect = [&](const Step& a_build, const std::string& a_sText, const char* a_szRefusal,
                      const Tree& a_tree = {}) {
    SCOPED_TRACE(a_sText.substr(0, 160));
    l_task.Reset();
    ExpectLogs([&] { a_build(l_task); }, a_szRefusal);
    EXPECT_EQ(Text(l_task), a_sText);
    EXPECT_EQ(static_cast<std::size_t>(l_task.LengthGet()), a_sText.size());
    EXPECT_EQ(l_task.ErrorGet(true), a_szRefusal != nullptr);
    EXPECT_FALSE(l_task.ErrorGet(false));
    if (!a_tree.empty()) {
      EXPECT_EQ(Walked(Text(l_task)), Outline(a_tree));
    }
  };
  EXPECT_EQ(OsXmlTaskStatusSuccess(), Header(0, 0, 157) + Report("success"));
  EXPECT_EQ(OsXmlTaskStatusFail(), Header(0, 0, 154) + Report("fail"));

  // Every element form in one block; the header fields are set after the body.
  const std::string l_sP = std::string(2 * sizeof(void*) - 8, '0') + "1234abcd";
  const std::string l_sBody =
      "\t<x>\n<y>v</y>\n\t\t<n>-42</n>\n\t\t<r>1.500000</r>\n\t\t<p>" + l_sP +
      "</p>\n\t\t<v><![CDATA[a<b]]></v>\n\t\t<v><![CDATA[]]]]><![CDATA[>a]]]]]><![CDATA[>]]></v>\n"
      "<w>raw</w>\nab\t\t<c>ab</c>\n\t</x>\n</task>\n";
  l_expect(
      [](COsXmlTask& a_t) {
        a_t.TaskBegin(0, 0, nullptr), a_t.BlockOpen("x", 1), a_t.ElementAdd("y", "v", true),
            a_t.ElementAddInt("n", -42);
        a_t.ElementAddReal("r", 1.5), a_t.ElementAddPointer("p", reinterpret_cast<void*>(0x1234abcd));
        a_t.ElementAddAuto("v", "a<b"), a_t.ElementAddAuto("v", "]]>a]]]>"), a_t.RawAppend("\n<w>raw</w>\n\t");
        a_t.RawAppend("ab"), a_t.ElementAdd("c", a_t.BufferGet() + a_t.LengthGet() - 2);  // a value from the message
        a_t.BlockClose("x"), a_t.TaskEnd(), a_t.TaskIdSet(123), a_t.TaskReplySet(9);
      },
      Header(123, 9, 91 + l_sBody.size()) + l_sBody, nullptr,
      {Node("task", "",
            {Node("x", "",
                  {Node("y", "v"), Node("n", "-42"), Node("r", "1.500000"), Node("p", l_sP), Node("v", "a<b"),
                   Node("v", "]]>a]]]>"), Node("w", "raw"), Node("c", "ab")})})});
  l_expect(
      [](COsXmlTask& a_t) {
        for (int l_i = 0; l_i < 2; ++l_i)  // a closed document lets the next one begin
          a_t.DocumentBegin("doc", 1), a_t.BlockOpen("b", 2), a_t.ElementAdd("e", "v"), a_t.BlockClose("b"),
              a_t.DocumentEnd("doc");
      },
      "\t<doc>\n\t\t<b>\n\t\t\t<e>v</e>\n\t\t</b>\n\t</doc>\n", nullptr,
      {Node("doc", "", {Node("b", "", {Node("e", "v")})})});

  const char *const l_szOrder = "xmltask>>> out of order...", *const l_szOverflow = "xmltask>>> overflow...";
  const std::string l_sOpen =
      "<task id='00000000000000000000' reply='00000000000000000000' bytes='####################'>\n";
  l_expect(Full(91, [](COsXmlTask& a_t) { a_t.TaskBegin(0, 0, nullptr); }), l_sOpen, l_szOrder);
  l_expect(Full(91, [](COsXmlTask& a_t) { a_t.BlockOpen("a", 2); }), l_sOpen, "xmltask>>> depth error...2, must be 1");
  l_expect(Full(91, [](COsXmlTask& a_t) { a_t.BlockOpen("a", 1), a_t.TaskEnd(); }), l_sOpen + "\t<a>\n", l_szOrder);
  l_expect(Full(91, [](COsXmlTask& a_t) { a_t.ElementAdd("e", "v"); }), l_sOpen, l_szOrder);
  l_expect(Full(91, [](COsXmlTask& a_t) { a_t.ElementAddAuto(nullptr, "v"); }), l_sOpen, "a_pszName is null...");
  l_expect([](COsXmlTask& a_t) { a_t.TaskBegin(-1, 0, nullptr); }, l_sOpen, "xmltask>>> a_nTaskId is negative...");
  // Later sound steps keep the flag.
  l_expect([](COsXmlTask& a_t) { a_t.TaskReplySet(-1), a_t.TaskBegin(0, 0, nullptr), a_t.TaskEnd(); },
           Header(0, 0, 99) + "</task>\n", "xmltask>>> a_nReplyId is negative...");
  // A document has no header: no fields to patch, no task to end.
  l_expect([](COsXmlTask& a_t) { a_t.DocumentBegin("d", 0), a_t.TaskIdSet(5), a_t.TaskEnd(); }, "<d>\n", l_szOrder);
  l_expect([](COsXmlTask& a_t) { a_t.DocumentBegin("d", -1); }, "", "xmltask>>> depth error...-1, must be 0 or more");
  // An element one level below the largest depth has more tabs than fit.
  l_expect([](COsXmlTask& a_t) { a_t.DocumentBegin("d", INT32_MAX), a_t.ElementAdd("e", "v"); }, "", l_szOverflow);

  // A write fits while the position after it, and its NUL, stay below the
  // capacity of 65536; "</task>\n" fits while the position after it does.
  l_expect(Full(65533, [](COsXmlTask& a_t) { a_t.RawAppend("y"); }), l_sOpen + std::string(65533 - 91, 'x') + "y",
           nullptr);
  l_expect(Full(65534, [](COsXmlTask& a_t) { a_t.RawAppend("y"); }), l_sOpen + std::string(65534 - 91, 'x'),
           l_szOverflow);
  l_expect(Full(65528, [](COsXmlTask& a_t) { a_t.TaskEnd(); }), l_sOpen + std::string(65528 - 91, 'x'),
           "buffer overflow...65536");
  l_expect(Full(65527, [](COsXmlTask& a_t) { a_t.TaskEnd(); }),
           Header(0, 0, 65535) + std::string(65527 - 91, 'x') + "</task>\n", nullptr,
           {Node("task", "\n" + std::string(65527 - 91, 'x'))});
  EXPECT_EQ(COsXmlTask(nullptr, 70000).m_posxmltaskimpl->m_lCapacity, 70000);
}

TEST_F(XmlTask, HeaderReaders) {
  // a_u64 is what the reader stores, ~0 when it finds nothing.
  auto l_expect = [&](bool (*a_pfn)(const char*, std::uint64_t*), const char* a_szXml, std::uint64_t a_u64,
                      const char* a_szMessage) {
    SCOPED_TRACE(a_szXml != nullptr ? a_szXml : "null");
    std::uint64_t l_u64 = ~0ull;
    ExpectLogs([&] { EXPECT_EQ(a_pfn(a_szXml, &l_u64), a_u64 != ~0ull); }, a_szMessage);
    EXPECT_EQ(l_u64, a_u64);
  };
  l_expect(OsXmlTaskGetBytes, OsXmlTaskStatusSuccess(), 157, nullptr);
  l_expect(OsXmlTaskGetId, "<task id='12345678901234567890'", 12345678901234567890ull, nullptr);  // the whole field
  l_expect(OsXmlTaskGetReply, "<task reply='-5'", 0 - 5ull, nullptr);
  l_expect(OsXmlTaskGetId, "<tasks id='1'>", ~0ull, "not an XML task");
  l_expect(OsXmlTaskGetReply, "<task id='1'>", ~0ull, nullptr);
  l_expect(OsXmlTaskGetBytes, "<task bytes='12", ~0ull, nullptr);  // no closing quote
  l_expect(OsXmlTaskGetId, ("<task" + std::string(250, ' ') + "id='1'>").c_str(), ~0ull,
           nullptr);  // beyond 256 characters
  l_expect(OsXmlTaskGetBytes, nullptr, ~0ull, "a_szXml is null");
  ExpectLogs([] { EXPECT_FALSE(OsXmlTaskGetReply("<task reply='1'", nullptr)); }, "a_pu64Reply is null");
}

TEST_F(XmlTask, GeneratedTreesReadBackUnchanged) {
  std::mt19937 l_rng(20240611);
  COsXmlTask l_task;
  for (int l_iTree = 0; l_iTree < 60; ++l_iTree) {
    SCOPED_TRACE(l_iTree);
    const OsXmlGenElement l_block = Body(l_rng, 6, true);
    const std::uint64_t l_u64Id = (static_cast<std::uint64_t>(l_rng()) << 31) ^ l_rng(), l_u64Reply = l_rng() % 1000;
    l_task.TaskBegin(static_cast<std::int64_t>(l_u64Id), static_cast<std::int64_t>(l_u64Reply), nullptr);
    Build(l_task, l_block, 1);
    l_task.TaskEnd();
    ASSERT_FALSE(l_task.ErrorGet(true)) << Text(l_task);
    EXPECT_EQ(Text(l_task).substr(0, 91), Header(l_u64Id, l_u64Reply, Text(l_task).size()));
    EXPECT_EQ(Walked(Text(l_task)), Outline({Node("task", "", {l_block})}));
  }
}

// A builder that ends in one thread releases that thread's buffer of the
// name only: the other thread's message in progress stays. The worker's
// message is the standard success report, built.
TEST_F(XmlTask, ThreadsUnderOneLinkNameKeepTheirOwnBuffers) {
  const std::uint32_t l_u32CC = OsMemInstance()->m_posmemimpl->m_u32CC;
  {
    COsXmlTask l_task("link");
    l_task.TaskBegin(1, 0, nullptr);
    std::thread([] {
      COsXmlTask l_taskWorker("link");
      l_taskWorker.TaskBegin(0, 0, "success");
      l_taskWorker.TaskEnd();
      EXPECT_EQ(Text(l_taskWorker), Header(0, 0, 159) + Report("success") + "\n");
      EXPECT_EQ(Walked(Text(l_taskWorker)),
                Outline({Node("task", "", {Node("reportstatus", "", {Node("status", "success")})})}));
    }).join();
    l_task.ElementAdd("who", "main", true);
    l_task.TaskEnd();
    EXPECT_EQ(Walked(Text(l_task)), Outline({Node("task", "", {Node("who", "main")})}));
  }
  EXPECT_EQ(OsMemInstance()->m_posmemimpl->m_u32CC, l_u32CC);
}

TEST_F(XmlTask, WithoutImplementationOrBufferNothingIsBuilt) {
  for (long l_lAt : {0L, 1L}) {  // the implementation fails, then its buffer
    OsMemFailAfter(l_lAt);
    COsXmlTask l_task;
    OsMemFailAfter(-1);
    EXPECT_TRUE(!l_task.TaskBegin(1, 0, "success") && l_task.BufferGet() == nullptr && l_task.ErrorGet(false));
  }
  EXPECT_EQ(Lines("m_posxmltaskimpl is null...").size(), 3u);
  EXPECT_EQ(Lines("OsMemAlloc failed").size(), 1u);
}

}  // namespace
