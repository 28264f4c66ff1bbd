// The tracked allocator: the allocation routes and their recorded sizes, the
// counters, the full table, hand-over, registration, callbacks, lookups,
// access and many threads at once.
#include <windows.h>

#include <cstdlib>
#include <utility>
#include <thread>
#include <vector>

#include "os_cosmem.h"
#include "os_cosmem_impl.h"
#include "os_memnew.h"
#include "os_test.h"

namespace {

class Mem : public OsTest {
 protected:
  void Create(EOSMEMMETHOD a_eosmemmethod) {
    m_posmem = OsMemCreate(a_eosmemmethod, true);
    ASSERT_NE(m_posmem, nullptr);
    ASSERT_EQ(OsMemInstance(), m_posmem);
  }
  void TearDown() override {
    OsMemDestroy(m_posmem);
    EXPECT_EQ(OsMemInstance(), nullptr);
    OsTest::TearDown();
  }
  COsMemImpl& Impl() { return *m_posmem->m_posmemimpl; }
  OsMemSettings Find(const void* a_pv) {
    OsMemSettings l_settings;
    EXPECT_EQ(OsMemFindByAddress(a_pv, &l_settings, true), OS_STS_SUCCESS);
    return l_settings;
  }

  COsMem* m_posmem = nullptr;
};

TEST_F(Mem, RecordedSizeByRoute) {
  Create(OS_MEM_METHOD_MALLOC);
  void* const l_pvMalloc = OS_MEM_ALLOC(100, "m");
  ASSERT_NE(l_pvMalloc, nullptr);
  EXPECT_EQ(Find(l_pvMalloc).m_u32Size, 164u);
  EXPECT_EQ(Find(l_pvMalloc).m_u32Type, static_cast<std::uint32_t>(OS_MEM_TYPE_MALLOC));
  EXPECT_EQ(Find(l_pvMalloc).m_u32ViewSize, 164u);

  void* const l_pvVirtual = OsMemAlloc(100, __FILE_NAME__, __LINE__, OS_LOG_MEM_VIRTUAL, true, "v");
  ASSERT_NE(l_pvVirtual, nullptr);
  SYSTEM_INFO l_si;
  GetSystemInfo(&l_si);
  const OsMemSettings l_virtual = Find(l_pvVirtual);
  EXPECT_EQ(l_virtual.m_u32Type, static_cast<std::uint32_t>(OS_MEM_TYPE_VIRTUAL));
  EXPECT_GE(l_virtual.m_u32Size, 164u);
  EXPECT_EQ(l_virtual.m_u32Size % l_si.dwPageSize, 0u);
  OS_MEM_FREE(l_pvVirtual);
  OS_MEM_FREE(l_pvMalloc);
  EXPECT_EQ(Impl().m_u32CC, 0u);
  EXPECT_EQ(Impl().m_u64CB, 0u);
}

TEST_F(Mem, GlobalMethodRecordsTheSystemsBlockSize) {
  Create(OS_MEM_METHOD_GLOBALALLOC);
  void* const l_pv = OS_MEM_ALLOC(100, nullptr);
  ASSERT_NE(l_pv, nullptr);
  EXPECT_EQ(Find(l_pv).m_u32Type, static_cast<std::uint32_t>(OS_MEM_TYPE_GLOBALALLOC));
  EXPECT_EQ(Find(l_pv).m_u32Size, static_cast<std::uint32_t>(GlobalSize(l_pv)));
  EXPECT_GE(Find(l_pv).m_u32Size, 164u);
  const unsigned char* const l_puc = static_cast<const unsigned char*>(l_pv);
  for (int l_i = 0; l_i < 164; ++l_i) ASSERT_EQ(l_puc[l_i], 0) << "zero-filled";
  OS_MEM_FREE(l_pv);

  // A moveable block is a handle: lock gives its memory.
  void* const l_h = OsMemAlloc(32, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL | OS_MEM_MOVEABLE, true, "h");
  ASSERT_NE(l_h, nullptr);
  void* const l_pvLocked = OsMemLock(l_h);
  ASSERT_NE(l_pvLocked, nullptr);
  static_cast<char*>(l_pvLocked)[31] = 'x';
  OsMemUnlock(l_h);
  OS_MEM_FREE(l_h);
}

TEST_F(Mem, Counters) {
  Create(OS_MEM_METHOD_MALLOC);
  void* const l_pv100 = OS_MEM_ALLOC(100, "a");
  void* const l_pv200 = OS_MEM_ALLOC(200, "b");
  OS_MEM_FREE(l_pv100);
  EXPECT_EQ(Impl().m_u32AC, 2u);
  EXPECT_EQ(Impl().m_u32FC, 1u);
  EXPECT_EQ(Impl().m_u32CC, 1u);
  EXPECT_EQ(Impl().m_u64CB, 264u);
  EXPECT_EQ(Impl().m_u64PB, 428u);
  OS_MEM_FREE(l_pv200);
  EXPECT_EQ(Impl().m_u64PB, 428u);  // the peak stays
}

TEST_F(Mem, ZeroBytesStillGiveABlock) {
  Create(OS_MEM_METHOD_MALLOC);
  unsigned char* const l_puc = static_cast<unsigned char*>(OS_MEM_ALLOC(0, "zero"));
  ASSERT_NE(l_puc, nullptr);
  EXPECT_EQ(Find(l_puc).m_u32Size, 64u);
  l_puc[63] = 1;
  OS_MEM_FREE(l_puc);
}

TEST_F(Mem, TheFullTableReturnsUntrackedBlocks) {
  Create(OS_MEM_METHOD_MALLOC);
  std::vector<void*> l_apv;
  for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i) l_apv.push_back(OS_MEM_ALLOC(8, nullptr));
  void* const l_pvExtra = OS_MEM_ALLOC(8, "extra");
  ASSERT_NE(l_pvExtra, nullptr);
  OsMemSettings l_settings;
  EXPECT_EQ(OsMemFindByAddress(l_pvExtra, &l_settings, true), OS_STS_FAIL);
  EXPECT_EQ(Impl().m_u32CC, 1025u);  // still counted
  const std::uint32_t l_u32FC = Impl().m_u32FC;
  OS_MEM_FREE(l_pvExtra);  // "Can't find managed item": nothing released
  EXPECT_EQ(Impl().m_u32FC, l_u32FC);
  std::free(l_pvExtra);
  for (void* l_pv : l_apv) OS_MEM_FREE(l_pv);
  EXPECT_EQ(Impl().m_u32CC, 1u);  // the untracked block never leaves the books
}

TEST_F(Mem, HandOverLeavesTheBooksAtOnce) {
  Create(OS_MEM_METHOD_GLOBALALLOC);
  void* const l_pvKeep = OS_MEM_ALLOC(10, nullptr);
  const std::uint32_t l_u32AC = Impl().m_u32AC, l_u32FC = Impl().m_u32FC, l_u32CC = Impl().m_u32CC;
  const std::uint64_t l_u64CB = Impl().m_u64CB;
  void* const l_pv = OsMemAlloc(50, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL | OS_MEM_HANDOVER, true, "given");
  ASSERT_NE(l_pv, nullptr);
  EXPECT_EQ(Impl().m_u32AC, l_u32AC + 1);
  EXPECT_EQ(Impl().m_u32FC, l_u32FC + 1);
  EXPECT_EQ(Impl().m_u32CC, l_u32CC);
  EXPECT_EQ(Impl().m_u64CB, l_u64CB);
  OsMemSettings l_settings;
  EXPECT_EQ(OsMemFindByAddress(l_pv, &l_settings, true), OS_STS_FAIL);
  // Released by the receiver: the global free, without a lookup.
  OsMemFree(l_pv, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL | OS_MEM_HANDOVER, true);
  EXPECT_EQ(Impl().m_u32FC, l_u32FC + 1);
  OS_MEM_FREE(l_pvKeep);
}

// The address space the process holds, region by region (the system's
// memory counters are not kept everywhere).
unsigned long long HeldAddressSpace() {
  unsigned long long l_ull = 0;
  MEMORY_BASIC_INFORMATION l_mbi;
  for (const char* l_pc = nullptr; VirtualQuery(l_pc, &l_mbi, sizeof(l_mbi)) == sizeof(l_mbi);
       l_pc = static_cast<const char*>(l_mbi.BaseAddress) + l_mbi.RegionSize) {
    if (l_mbi.State != MEM_FREE) l_ull += l_mbi.RegionSize;
    if (static_cast<const char*>(l_mbi.BaseAddress) + l_mbi.RegionSize < l_pc) break;
  }
  return l_ull;
}

// Each handed-over block goes back to its own allocator: released with
// another one, it would stay (or break a heap). 2,000 blocks of 64 KiB that
// were not released would hold 128 MiB.
TEST_F(Mem, HandedOverBlocksAreReleasedByTheirOwnAllocator) {
  for (const auto& l_case : {std::make_pair(OS_MEM_METHOD_MALLOC, static_cast<std::uint32_t>(OS_LOG_MEM_NORMAL)),
                             std::make_pair(OS_MEM_METHOD_GLOBALALLOC, static_cast<std::uint32_t>(OS_LOG_MEM_NORMAL)),
                             std::make_pair(OS_MEM_METHOD_MALLOC, static_cast<std::uint32_t>(OS_LOG_MEM_VIRTUAL))}) {
    Create(l_case.first);
    const unsigned long long l_ullBefore = HeldAddressSpace();
    for (int l_i = 0; l_i < 2000; ++l_i) {
      void* const l_pv = OsMemAlloc(65536, __FILE_NAME__, __LINE__, l_case.second | OS_MEM_HANDOVER, true, "given");
      ASSERT_NE(l_pv, nullptr) << l_i;
      OsMemFree(l_pv, __FILE_NAME__, __LINE__, l_case.second | OS_MEM_HANDOVER, true);
    }
    EXPECT_LT(HeldAddressSpace(), l_ullBefore + 32ull * 1024 * 1024)
        << "method " << l_case.first << " flags 0x" << std::hex << l_case.second;
    OsMemDestroy(m_posmem);
    m_posmem = nullptr;
  }
  Create(OS_MEM_METHOD_MALLOC);  // for the fixture's own end
}

int s_iAllocs = 0, s_iFrees = 0, s_iLocks = 0, s_iUnlocks = 0;
void* TestAlloc(std::uint32_t a_u32) {
  ++s_iAllocs;
  return GlobalAlloc(GPTR, a_u32);
}
void TestFree(void* a_h) {
  ++s_iFrees;
  GlobalFree(a_h);
}
void* TestLock(void* a_h) {
  ++s_iLocks;
  return a_h;
}
void TestUnlock(void*) { ++s_iUnlocks; }

TEST_F(Mem, ExternalCallbacksAndRegistration) {
  Create(OS_MEM_METHOD_MALLOC);
  EXPECT_EQ(OsMemSetCallbacks(TestAlloc, nullptr, TestLock, TestUnlock), OS_STS_FAIL);  // all four or none
  ASSERT_EQ(OsMemSetCallbacks(TestAlloc, TestFree, TestLock, TestUnlock), OS_STS_SUCCESS);
  void* const l_pv = OsMemAlloc(40, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL | OS_MEM_HANDOVER, true, "dsm");
  ASSERT_NE(l_pv, nullptr);
  EXPECT_EQ(s_iAllocs, 1);
  EXPECT_EQ(OsMemLock(l_pv), l_pv);  // untracked: the lock callback
  OsMemUnlock(l_pv);
  EXPECT_EQ(s_iLocks, 1);
  EXPECT_EQ(s_iUnlocks, 1);
  OsMemFreeUntracked(l_pv, __FILE_NAME__, __LINE__, OS_LOG_MEM_NORMAL, true);
  EXPECT_EQ(s_iFrees, 1);

  static char s_acForeign[256];
  EXPECT_EQ(OsMemManage(s_acForeign, 256), OS_STS_SUCCESS);
  EXPECT_EQ(Find(s_acForeign).m_u32Type, static_cast<std::uint32_t>(OS_MEM_TYPE_EXTERNAL));
  EXPECT_EQ(Impl().m_u64CB, 256u);
  EXPECT_EQ(OsMemManage(nullptr, 1), OS_STS_FAIL);
  OS_MEM_FREE(s_acForeign);  // external: the entry goes, the memory stays the owner's
  EXPECT_EQ(Impl().m_u64CB, 0u);
}

TEST_F(Mem, LookupsByName) {
  Create(OS_MEM_METHOD_MALLOC);
  void* const l_pv = OS_MEM_ALLOC(16, "SharedBlock");
  OsMemSettings l_settings;
  ASSERT_EQ(OsMemFindByName("SharedBlock", &l_settings, false), OS_STS_SUCCESS);
  EXPECT_EQ(l_settings.m_uAddress, reinterpret_cast<std::uintptr_t>(l_pv));
  EXPECT_STREQ(l_settings.m_szName, "SharedBlock");
  EXPECT_EQ(OsMemFindByName("sharedblock", &l_settings, true), OS_STS_FAIL);  // case-sensitive
  EXPECT_EQ(l_settings.m_uAddress, 0u);                                       // cleared on a miss
  EXPECT_EQ(OsMemFindByName("Shared", &l_settings, true), OS_STS_FAIL);       // exact
  int l_iIndex = 0;
  EXPECT_NE(OsMemTracker(&Impl(), OS_MEM_TRACKER_FINDNEXT, nullptr, "Shared", &l_iIndex, nullptr), nullptr);
  EXPECT_EQ(OsMemTracker(&Impl(), OS_MEM_TRACKER_FINDNEXT, nullptr, "Shared", &l_iIndex, nullptr), nullptr);
  EXPECT_EQ(OsMemTracker(&Impl(), static_cast<EOSMEMTRACKER>(9), nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(OsMemFindByName(nullptr, &l_settings, true), OS_STS_FAIL);
  EXPECT_EQ(OsMemFindByAddress(l_pv, nullptr, true), OS_STS_FAIL);
  OS_MEM_FREE(l_pv);
}

TEST_F(Mem, AccessOfVirtualItems) {
  Create(OS_MEM_METHOD_MALLOC);
  void* const l_pv = OsMemAlloc(5000, __FILE_NAME__, __LINE__, OS_LOG_MEM_VIRTUAL, true, "ro");
  ASSERT_NE(l_pv, nullptr);
  MEMORY_BASIC_INFORMATION l_mbi;
  ASSERT_EQ(OsMemSetAccess(l_pv, OS_MEM_ACCESS_READ), OS_STS_SUCCESS);
  ASSERT_EQ(VirtualQuery(static_cast<char*>(l_pv) + 4096, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
  EXPECT_EQ(l_mbi.Protect, static_cast<DWORD>(PAGE_READONLY));  // the whole region
  ASSERT_EQ(OsMemSetAccess(l_pv, OS_MEM_ACCESS_READWRITE), OS_STS_SUCCESS);
  ASSERT_EQ(VirtualQuery(l_pv, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
  EXPECT_EQ(l_mbi.Protect, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_EQ(OsMemSetAccess(l_pv, static_cast<EOSMEMACCESS>(3)), OS_STS_FAIL);
  void* const l_pvMalloc = OS_MEM_ALLOC(10, nullptr);
  EXPECT_EQ(OsMemSetAccess(l_pvMalloc, OS_MEM_ACCESS_READ), OS_STS_FAIL);  // virtual items only
  EXPECT_EQ(OsMemSetAccess(&l_mbi, OS_MEM_ACCESS_READ), OS_STS_FAIL);      // not tracked
  OS_MEM_FREE(l_pvMalloc);
  OS_MEM_FREE(l_pv);
}

TEST_F(Mem, ManyThreadsKeepTheCountersExact) {
  Create(OS_MEM_METHOD_GLOBALALLOC);
  std::vector<std::thread> l_threads;
  for (int l_iThread = 0; l_iThread < 8; ++l_iThread) {
    l_threads.emplace_back([l_iThread] {
      void* l_apv[4] = {};
      for (int l_i = 0; l_i < 10000; ++l_i) {
        void*& l_pv = l_apv[l_i % 4];
        if (l_pv != nullptr) {
          OS_MEM_FREE(l_pv);
          l_pv = nullptr;
        } else {
          l_pv = OS_MEM_ALLOC(static_cast<std::uint32_t>(16 + (l_i * 7 + l_iThread) % 500), "t");
        }
      }
      for (void* l_pv : l_apv)
        if (l_pv != nullptr) OS_MEM_FREE(l_pv);
    });
  }
  for (std::thread& l_thread : l_threads) l_thread.join();
  EXPECT_EQ(Impl().m_u32CC, 0u);
  EXPECT_EQ(Impl().m_u64CB, 0u);
  EXPECT_EQ(Impl().m_u32AC, Impl().m_u32FC);
  for (int l_i = 0; l_i < OS_MEM_TABLE_SIZE; ++l_i) ASSERT_EQ(Impl().m_apvAddress[l_i], nullptr);
}

TEST_F(Mem, WithoutAManager) {
  EXPECT_EQ(OS_MEM_ALLOC(10, nullptr), nullptr);
  OS_MEM_FREE(nullptr);  // reported, never a crash
  EXPECT_EQ(OsMemGetGranularity(), 1u);
  EXPECT_EQ(OsMemManage(this, 4), OS_STS_FAIL);
  Create(OS_MEM_METHOD_MALLOC);
  SYSTEM_INFO l_si;
  GetSystemInfo(&l_si);
  EXPECT_EQ(OsMemGetGranularity(), l_si.dwAllocationGranularity);
  EXPECT_EQ(OsMemValidate(__FILE_NAME__, __LINE__), 1);
}

TEST_F(Mem, ReserveAndRelease) {
  EXPECT_EQ(OsMemReserve(0), nullptr);
  void* const l_pv = OsMemReserve(64ull << 20);
  ASSERT_NE(l_pv, nullptr);
  MEMORY_BASIC_INFORMATION l_mbi;
  ASSERT_EQ(VirtualQuery(l_pv, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
  EXPECT_EQ(l_mbi.State, static_cast<DWORD>(MEM_RESERVE));
  OsMemRelease(l_pv);
  ASSERT_EQ(VirtualQuery(l_pv, &l_mbi, sizeof(l_mbi)), sizeof(l_mbi));
  EXPECT_EQ(l_mbi.State, static_cast<DWORD>(MEM_FREE));
}

struct Traced {
  explicit Traced(int a_i) : m_i(a_i) {}
  int m_i;
};

TEST(MemNew, CreatesAndDeletesObjects) {
  Traced* const l_p = OsMemNew(Traced, "Traced", 7);
  ASSERT_NE(l_p, nullptr);
  EXPECT_EQ(l_p->m_i, 7);
  OsMemDelete(l_p);
  OsMemDelete(static_cast<Traced*>(nullptr));
}

}  // namespace
