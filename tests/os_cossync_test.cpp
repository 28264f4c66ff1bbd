// Events, mutexes and groups: alone, across threads, and across processes of
// both bitnesses sharing one group table.
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "os.h"
#include "os_cossync_impl.h"
#include "os_test_services.h"
#include "os_win.h"

namespace {

// Names are system-wide: every test's carry the process id and the test's name.
std::string Unique(const char* a_szWhat) {
  return std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
         std::to_string(GetCurrentProcessId()) + "-" + a_szWhat;
}

class Sync : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartLoggingTo(L"sync.log");
  }
  std::string TablePath(const std::string& a_sGroup) { return Item(1, 3) + "\\" + a_sGroup; }
};

// The group table as another reader sees it: the file, read byte for byte.
std::vector<unsigned char> ReadTable(const std::string& a_sPath) {
  std::vector<unsigned char> l_ac(4096);
  const HANDLE l_h =
      CreateFileW(OsTestWide(a_sPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD l_dw = 0;
  if (l_h != INVALID_HANDLE_VALUE) {
    ReadFile(l_h, l_ac.data(), static_cast<DWORD>(l_ac.size()), &l_dw, nullptr);
    CloseHandle(l_h);
  }
  l_ac.resize(l_dw);
  return l_ac;
}

std::uint32_t Le32(const std::vector<unsigned char>& a_ac, std::size_t a_sizet) {
  return a_ac[a_sizet] | a_ac[a_sizet + 1] << 8 | a_ac[a_sizet + 2] << 16 |
         static_cast<std::uint32_t>(a_ac[a_sizet + 3]) << 24;
}

}  // namespace

TEST_F(Sync, UnnamedEventResetsItselfAndBadCreatesAreRefused) {
  COsSync l_ossync;
  ASSERT_EQ(l_ossync.EventCreate(nullptr, nullptr, 1), OS_STS_SUCCESS);
  EXPECT_EQ(l_ossync.EventSet(), OS_STS_SUCCESS);
  EXPECT_EQ(l_ossync.EventWait(0, nullptr, 0), OS_STS_SUCCESS);
  EXPECT_EQ(l_ossync.EventWait(0, nullptr, 0), OS_STS_TIMEOUT);
  EXPECT_EQ(l_ossync.EventCreate(nullptr, nullptr, 1), OS_STS_FAIL);  // in use
  COsSync l_ossyncMutex;
  EXPECT_EQ(l_ossyncMutex.MutexCreate(nullptr, nullptr), OS_STS_FAIL);
  EXPECT_EQ(l_ossyncMutex.EventCreate(nullptr, "group", 0), OS_STS_FAIL);
  EXPECT_EQ(Lines("sync>>> this object is already in use...").size(), 1u);
  EXPECT_EQ(Lines("sync>>> a mutex must have a name...").size(), 1u);
  EXPECT_EQ(Lines("sync>>> cannot specify a group for an unnamed event...").size(), 1u);
}

TEST_F(Sync, NamesLiveInTheGlobalNamespaceAndOpenCreatesNothing) {
  const std::string l_sName = Unique("ev");
  COsSync l_ossyncOpen;
  EXPECT_EQ(l_ossyncOpen.EventOpen(l_sName.c_str()), OS_STS_NOTFOUND);
  EXPECT_EQ(OpenEventW(SYNCHRONIZE, FALSE, OsTestWide("Global\\" + l_sName).c_str()), nullptr);
  COsSync l_ossync;
  ASSERT_EQ(l_ossync.EventCreate(("Global\\" + l_sName).c_str(), nullptr, 0), OS_STS_SUCCESS);
  const HANDLE l_h = OpenEventW(EVENT_MODIFY_STATE, FALSE, OsTestWide("Global\\" + l_sName).c_str());
  ASSERT_NE(l_h, nullptr);  // not prefixed a second time
  ASSERT_EQ(l_ossyncOpen.EventOpen(l_sName.c_str()), OS_STS_SUCCESS);
  SetEvent(l_h);
  CloseHandle(l_h);
  EXPECT_EQ(l_ossyncOpen.EventWait(0, nullptr, 0), OS_STS_SUCCESS);
}

TEST_F(Sync, AMutexBelongsToItsThreadAndAnAbandonedMemberIsReported) {
  const std::string l_sGroup = Unique("grp");
  const std::string l_sLost = Unique("lost");
  // A member taken by a thread that then ends without releasing it.
  COsSync l_ossyncLost;
  std::thread([&] {
    if (l_ossyncLost.MutexCreate(l_sLost.c_str(), l_sGroup.c_str()) == OS_STS_SUCCESS)
      l_ossyncLost.MutexWait(0, nullptr, 0);
  }).join();
  COsSync l_ossync;
  ASSERT_EQ(l_ossync.MutexCreate(Unique("own").c_str(), l_sGroup.c_str()), OS_STS_SUCCESS);
  EOSSTS l_eosstsOther = OS_STS_SUCCESS;
  std::thread([&] { l_eosstsOther = l_ossync.MutexWait(0, nullptr, 0); }).join();
  EXPECT_EQ(l_eosstsOther, OS_STS_FAIL);
  EXPECT_EQ(Lines("sync>>> a mutex can only be used in the thread that created it...").size(), 1u);
  char l_sz[300] = {};
  EXPECT_EQ(l_ossync.MutexWait(1000, l_sz, sizeof(l_sz)), OS_STS_ABANDONED);
  EXPECT_STREQ(l_sz, l_sLost.c_str());
  EXPECT_EQ(Lines("sync>>> WaitForSingleObject returned WAIT_ABANDONED...").size(), 1u);
  l_ossync.MutexRelease(l_sLost.c_str());  // now ours, released through our own handle
  EXPECT_TRUE(Lines("sync>>> mutex not found...").empty());
}

TEST_F(Sync, EightMembersFillAGroupAndAFreedRowIsTakenAgain) {
  const std::string l_sGroup = Unique("grp");
  std::vector<std::unique_ptr<COsSync>> l_members;
  for (int l_i = 0; l_i < 8; ++l_i) {
    l_members.push_back(std::make_unique<COsSync>());
    ASSERT_EQ(l_members.back()->EventCreate(Unique(("m" + std::to_string(l_i)).c_str()).c_str(), l_sGroup.c_str(), 0),
              OS_STS_SUCCESS);
  }
  COsSync l_ossyncNinth;
  const std::string l_sNinth = Unique("m8");
  EXPECT_EQ(l_ossyncNinth.EventCreate(l_sNinth.c_str(), l_sGroup.c_str(), 0), OS_STS_FAIL);
  EXPECT_EQ(Lines("sync>>> m_possyncgroupShared is full...<" + l_sNinth + "> <" + l_sGroup + ">").size(), 1u);
  // The table, as another process reads it.
  std::vector<unsigned char> l_ac = ReadTable(TablePath(l_sGroup));
  ASSERT_GE(l_ac.size(), 2128u);
  EXPECT_EQ(Le32(l_ac, 0), 2128u);
  EXPECT_EQ(Le32(l_ac, 4), 0u);
  EXPECT_EQ(Le32(l_ac, 8), 0u);  // the lock is free
  for (int l_i = 0; l_i < 8; ++l_i) {
    EXPECT_NE(Le32(l_ac, 12 + 4 * l_i), 0u) << l_i;
    EXPECT_STREQ(reinterpret_cast<const char*>(&l_ac[44 + 260 * l_i]),
                 Unique(("m" + std::to_string(l_i)).c_str()).c_str());
  }
  l_members[3]->Close();
  l_ac = ReadTable(TablePath(l_sGroup));
  EXPECT_EQ(Le32(l_ac, 12 + 4 * 3), 0u);
  EXPECT_EQ(l_ac[44 + 260 * 3], 0);
  ASSERT_EQ(l_ossyncNinth.EventCreate(l_sNinth.c_str(), l_sGroup.c_str(), 0), OS_STS_SUCCESS);
  l_ac = ReadTable(TablePath(l_sGroup));
  EXPECT_STREQ(reinterpret_cast<const char*>(&l_ac[44 + 260 * 3]), l_sNinth.c_str());
  // A wait on one member tells which other one fired.
  l_members[6]->EventSet();
  char l_sz[300] = {};
  EXPECT_EQ(l_members[0]->EventWait(1000, l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, Unique("m6").c_str());
  EXPECT_EQ(l_members[0]->EventWait(0, l_sz, sizeof(l_sz)), OS_STS_TIMEOUT);
}

// A row's stored handle means something only in the process that stored it:
// a waiter elsewhere opens the row by its name, and a row it cannot open is
// skipped, never waited on by its stored value, and tried again later.
TEST_F(Sync, AWaiterNeverWaitsOnAStoredHandleValue) {
  const std::string l_sGroup = Unique("grp");
  const std::string l_sLate = Unique("late");
  COsSync l_ossync;
  ASSERT_EQ(l_ossync.EventCreate(Unique("me").c_str(), l_sGroup.c_str(), 0), OS_STS_SUCCESS);
  // A signalled event of this process whose value two foreign rows store.
  const HANDLE l_hStray = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  ASSERT_NE(l_hStray, nullptr);
  OsSyncGroup* const l_possyncgroup = l_ossync.m_possyncimpl->m_possyncgroupShared;
  ASSERT_NE(l_possyncgroup, nullptr);
  const std::uint32_t l_u32Stray = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(l_hStray));
  l_possyncgroup->m_au32Handle[5] = l_u32Stray;
  std::memset(l_possyncgroup->m_aszName[5], 'x', sizeof(l_possyncgroup->m_aszName[5]));  // no terminator either
  l_possyncgroup->m_au32Handle[6] = l_u32Stray;
  std::strcpy(l_possyncgroup->m_aszName[6], l_sLate.c_str());
  char l_sz[300] = {};
  EXPECT_EQ(l_ossync.EventWait(50, l_sz, sizeof(l_sz)), OS_STS_TIMEOUT);
  EXPECT_EQ(Lines("sync>>> group member cannot be opened, not waited on...").size(), 2u);
  EXPECT_EQ(l_ossync.EventWait(0, l_sz, sizeof(l_sz)), OS_STS_TIMEOUT);
  EXPECT_EQ(Lines("sync>>> group member cannot be opened, not waited on...").size(), 2u);  // said once
  // The member of row 6 comes into being: the next wait opens it.
  COsSync l_ossyncLate;
  ASSERT_EQ(l_ossyncLate.EventCreate(l_sLate.c_str(), nullptr, 0), OS_STS_SUCCESS);
  l_ossyncLate.EventSet();
  EXPECT_EQ(l_ossync.EventWait(1000, l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, l_sLate.c_str());
  l_possyncgroup->m_au32Handle[5] = l_possyncgroup->m_au32Handle[6] = 0;
  CloseHandle(l_hStray);
}

// A table whose lock is never given back (its holder died, or another party
// wrote the word) fails the calls that need it instead of hanging them.
TEST_F(Sync, AStuckTableLockFailsInsteadOfHanging) {
  const std::string l_sGroup = Unique("grp");
  COsSync l_ossync;
  ASSERT_EQ(l_ossync.EventCreate(Unique("me").c_str(), l_sGroup.c_str(), 0), OS_STS_SUCCESS);
  l_ossync.m_possyncimpl->m_possyncgroupShared->m_u32Lock = 1;
  EXPECT_EQ(l_ossync.EventWait(0, nullptr, 0), OS_STS_FAIL);
  EXPECT_EQ(Lines("sync>>> the group table stays locked...<" + l_sGroup + ">").size(), 1u);
  l_ossync.m_possyncimpl->m_possyncgroupShared->m_u32Lock = 0;
}

TEST_F(Sync, NamesThatCannotBeKeptWholeAreRefused) {
  struct Case {
    std::string m_sName, m_sGroup, m_sMessage;
  };
  const Case l_acase[] = {
      {Unique("m"), "..\\elsewhere", "sync>>> bad group name...<..\\elsewhere>"},
      {Unique("m"), "..", "sync>>> bad group name...<..>"},
      {std::string(300, 'n'), "", "sync>>> a name is too long..."},
      {std::string(255, 'n'), "", "sync>>> CreateEvent failed..."},  // no room for the namespace
  };
  for (const Case& l_case : l_acase) {
    COsSync l_ossync;
    EXPECT_EQ(
        l_ossync.EventCreate(l_case.m_sName.c_str(), l_case.m_sGroup.empty() ? nullptr : l_case.m_sGroup.c_str(), 0),
        OS_STS_FAIL)
        << l_case.m_sMessage;
    EXPECT_EQ(Lines(l_case.m_sMessage).size(), 1u) << l_case.m_sMessage;
  }
  EXPECT_EQ(OsTestCountEntries(OsTestWide(Item(1, 3))), 0);  // no table made outside or inside
}

namespace {

// A peer process of the group tests and its control events.
struct Peer {
  std::string m_sTag;
  HANDLE m_ahControl[3] = {};  // ready, go, quit
  PROCESS_INFORMATION m_pi = {};

  bool Start(const wchar_t* a_wszEnv, const std::string& a_sGroup, const std::string& a_sSignal,
             const std::vector<std::string>& a_names) {
    const std::optional<std::wstring> l_wsExe = OsTestGetEnv(a_wszEnv);
    if (!l_wsExe || GetFileAttributesW(l_wsExe->c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    const char* const l_aszSuffix[] = {".ready", ".go", ".quit"};
    for (int l_i = 0; l_i < 3; ++l_i)
      m_ahControl[l_i] = CreateEventW(nullptr, TRUE, FALSE, OsTestWide("Global\\" + m_sTag + l_aszSuffix[l_i]).c_str());
    std::wstring l_wsCommand = L"\"" + *l_wsExe + L"\" " + OsTestWide(a_sGroup + " " + m_sTag + " " + a_sSignal);
    for (const std::string& l_s : a_names) l_wsCommand += L" " + OsTestWide(l_s);
    OsTestProcess l_process;
    if (!OsTestStartProcess(l_wsCommand, nullptr, &l_process)) return false;
    m_pi.hProcess = l_process.m_hProcess;
    m_pi.hThread = l_process.m_hThread;
    m_pi.dwProcessId = l_process.m_ulId;
    return true;
  }
  // Waits for the peer's members, or for its early end.
  bool Ready() {
    const HANDLE l_ah[2] = {m_ahControl[0], m_pi.hProcess};
    return WaitForMultipleObjects(2, l_ah, FALSE, 60000) == WAIT_OBJECT_0;
  }
  DWORD End(bool a_bKill) {
    if (a_bKill) TerminateProcess(m_pi.hProcess, 9);
    SetEvent(m_ahControl[1]);
    SetEvent(m_ahControl[2]);
    DWORD l_dw = 99;
    if (m_pi.hProcess != nullptr && WaitForSingleObject(m_pi.hProcess, 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(m_pi.hProcess, &l_dw);
    return l_dw;
  }
  ~Peer() {
    if (m_pi.hProcess != nullptr) {
      TerminateProcess(m_pi.hProcess, 9);
      CloseHandle(m_pi.hProcess);
      CloseHandle(m_pi.hThread);
    }
    for (HANDLE l_h : m_ahControl)
      if (l_h != nullptr) CloseHandle(l_h);
  }
};

}  // namespace

// Three processes, the second of the other bitness: eight members from all
// three, the ninth refused; a signal set in one process wakes a wait in
// another with the right name; a member's process ending leaves the others
// working; a watched process that ends ends the wait with 13.
TEST_F(Sync, AGroupAcrossThreeProcessesOfBothBitnesses) {
  const std::string l_sGroup = Unique("grp");
  std::vector<std::unique_ptr<COsSync>> l_members;
  for (int l_i = 0; l_i < 3; ++l_i) {
    l_members.push_back(std::make_unique<COsSync>());
    ASSERT_EQ(l_members.back()->EventCreate(Unique(("a" + std::to_string(l_i)).c_str()).c_str(), l_sGroup.c_str(), 0),
              OS_STS_SUCCESS);
  }
  Peer l_peerOther;
  l_peerOther.m_sTag = Unique("other");
  if (!l_peerOther.Start(L"OS_TEST_SYNC_PEER_OTHER", l_sGroup, Unique("b1"),
                         {Unique("b0"), Unique("b1"), Unique("b2")}))
    GTEST_SKIP() << "the other bitness's peer program is not built";
  ASSERT_TRUE(l_peerOther.Ready());
  Peer l_peerSame;
  l_peerSame.m_sTag = Unique("same");
  ASSERT_TRUE(l_peerSame.Start(L"OS_TEST_SYNC_PEER", l_sGroup, "-", {Unique("c0"), Unique("c1")}));
  ASSERT_TRUE(l_peerSame.Ready());
  COsSync l_ossyncNinth;
  EXPECT_EQ(l_ossyncNinth.EventCreate(Unique("a9").c_str(), l_sGroup.c_str(), 0), OS_STS_FAIL);
  EXPECT_EQ(Lines("sync>>> m_possyncgroupShared is full...").size(), 1u);

  // The other process signals its member b1; our wait names it.
  char l_sz[300] = {};
  EXPECT_EQ(l_members[0]->EventWait(0, l_sz, sizeof(l_sz)), OS_STS_TIMEOUT);
  SetEvent(l_peerOther.m_ahControl[1]);
  EXPECT_EQ(l_members[0]->EventWait(30000, l_sz, sizeof(l_sz)), OS_STS_SUCCESS);
  EXPECT_STREQ(l_sz, Unique("b1").c_str());

  // The third process dies while we wait; the wait goes on and still names
  // the member that fires afterwards.
  EOSSTS l_eossts = OS_STS_FAIL;
  std::string l_sFired;
  std::thread l_thread([&] {
    char l_szFired[300] = {};
    l_eossts = l_members[1]->EventWait(30000, l_szFired, sizeof(l_szFired));
    l_sFired = l_szFired;
  });
  Sleep(100);
  l_peerSame.End(true);
  Sleep(100);
  l_members[2]->EventSet();
  l_thread.join();
  EXPECT_EQ(l_eossts, OS_STS_SUCCESS);
  EXPECT_EQ(l_sFired, Unique("a2"));
  EXPECT_EQ(l_members[1]->EventWait(0, l_sz, sizeof(l_sz)), OS_STS_TIMEOUT);

  // A watched process that ends.
  ASSERT_EQ(l_members[0]->EventWatchProcess(l_peerOther.m_pi.dwProcessId, nullptr), OS_STS_SUCCESS);
  SetEvent(l_peerOther.m_ahControl[2]);
  EXPECT_EQ(l_members[0]->EventWait(30000, l_sz, sizeof(l_sz)), OS_STS_ABANDONED);
  EXPECT_EQ(Lines("sync>>> our process died...").size(), 1u);
  EXPECT_EQ(l_peerOther.End(false), 0u);
}
