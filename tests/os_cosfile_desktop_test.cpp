// Desktop services: raw printing, system sounds, key input and the
// protected-mode copy (its worker thread and window run for real through the
// test switch; without the browser the worker's save falls back to a copy).
#include <windows.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "os.h"
#include "os_cosfile_impl.h"
#include "os_test_services.h"

namespace {

class OsDesktopTest : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("desktest", "application");
    LogTo(L"desktop.log", OS_LOG_INFO | OS_LOG_PROCESS);
  }
};

TEST_F(OsDesktopTest, PrintingToAMissingPrinterFailsAndReleasesTheSpooler) {
  const bool l_bLoadedBefore = GetModuleHandleW(L"winspool.drv") != nullptr;
  COsFile l_osfile;
  EXPECT_EQ(l_osfile.PrintRaw("qrx missing printer", "abc", 3), OS_STS_FAIL);
  // 1801: ERROR_INVALID_PRINTER_NAME.
  EXPECT_EQ(Count("PrintRaw failed...<OpenPrinterA> 1801 <qrx missing printer>"), 1u);
  if (l_bLoadedBefore) GTEST_SKIP() << "the spooler was loaded before the test";
  EXPECT_EQ(GetModuleHandleW(L"winspool.drv"), nullptr);
}

// The keyboard events the system sees, from a low-level hook on a thread of
// its own: (virtual key, released).
std::vector<std::pair<DWORD, bool>> g_vkeys;
std::atomic<std::size_t> g_sizetKeys{0};

LRESULT CALLBACK KeyHook(int a_iCode, WPARAM a_wparam, LPARAM a_lparam) {
  if (a_iCode == HC_ACTION) {
    const KBDLLHOOKSTRUCT* const l_pkey = reinterpret_cast<const KBDLLHOOKSTRUCT*>(a_lparam);
    // Left and right modifiers count as the modifier.
    static const DWORD s_adwSided[] = {VK_SHIFT, VK_SHIFT, VK_CONTROL, VK_CONTROL, VK_MENU, VK_MENU};
    const DWORD l_dw = l_pkey->vkCode;
    g_vkeys.emplace_back(l_dw >= VK_LSHIFT && l_dw <= VK_RMENU ? s_adwSided[l_dw - VK_LSHIFT] : l_dw,
                         (l_pkey->flags & LLKHF_UP) != 0);
    g_sizetKeys.store(g_vkeys.size());
  }
  return CallNextHookEx(nullptr, a_iCode, a_wparam, a_lparam);
}

TEST_F(OsDesktopTest, SendKeyPressesTheModifiersAroundTheKeyAndRefusesAnyOtherKey) {
  std::atomic<DWORD> l_dwHookThread{0};
  std::thread l_thread([&] {
    HHOOK const l_hhook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyHook, GetModuleHandleW(nullptr), 0);
    MSG l_msg;
    PeekMessageW(&l_msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for the quit message
    l_dwHookThread.store(l_hhook != nullptr ? GetCurrentThreadId() : 1);
    while (l_hhook != nullptr && GetMessageW(&l_msg, nullptr, 0, 0) > 0) DispatchMessageW(&l_msg);
    if (l_hhook != nullptr) UnhookWindowsHookEx(l_hhook);
  });
  while (l_dwHookThread.load() == 0) Sleep(1);

  EXPECT_TRUE(SendKey(static_cast<EOSFILEKEY>(2), true, true, true) == OS_STS_FAIL &&
              Count("a_eosFileKey is bad...") == 1u);
  EXPECT_EQ(SendKey(OS_FILE_KEY_F11, true, true, true), OS_STS_SUCCESS);
  for (int l_i = 0; l_i < 200 && g_sizetKeys.load() < 8; ++l_i) Sleep(10);
  PostThreadMessageW(l_dwHookThread.load(), WM_QUIT, 0, 0);
  l_thread.join();
  if (g_vkeys.empty()) GTEST_SKIP() << "no keyboard hook sees the injected input here";
  // Nothing of the refused call; then each modifier down, F11 down and up, each modifier up.
  const std::vector<std::pair<DWORD, bool>> l_vexpected = {{VK_SHIFT, false},  {VK_CONTROL, false}, {VK_MENU, false},
                                                           {VK_F11, false},    {VK_F11, true},      {VK_SHIFT, true},
                                                           {VK_CONTROL, true}, {VK_MENU, true}};
  EXPECT_EQ(g_vkeys, l_vexpected);
}

TEST_F(OsDesktopTest, SoundsPlayAndShutDownReleasesTheSoundLibrary) {
  const bool l_bLoadedBefore = GetModuleHandleW(L"winmm.dll") != nullptr;
  COsFile l_osfile;
  EXPECT_TRUE(l_osfile.PlaySystemSound(nullptr) == OS_STS_BADARG && Count("a_szSoundName is NULL...") == 1u);
  // The second sound finds the library already loaded.
  EXPECT_TRUE(l_osfile.PlaySystemSound("SystemAsterisk") == OS_STS_SUCCESS &&
              l_osfile.PlaySystemSound("SystemExclamation") == OS_STS_SUCCESS && GetModuleHandleW(L"winmm.dll"));
  OsServicesStop();
  if (l_bLoadedBefore) GTEST_SKIP() << "the sound library was loaded before the test";
  EXPECT_EQ(GetModuleHandleW(L"winmm.dll"), nullptr);
}

// A thread that would start in the sound library keeps it loaded at
// shut-down: freed, its code would be gone when the thread runs.
TEST_F(OsDesktopTest, ASoundThreadYetToRunKeepsTheSoundLibrary) {
  if (GetModuleHandleW(L"winmm.dll") != nullptr) GTEST_SKIP() << "the sound library was loaded before the test";
  // A name that does not convert loads the library and plays nothing, so
  // no thread of the library's own runs when it is given back below.
  COsFile l_osfile;
  ASSERT_EQ(l_osfile.PlaySystemSound("\xff"), OS_STS_SUCCESS);
  HMODULE const l_hmodule = GetModuleHandleW(L"winmm.dll");
  ASSERT_NE(l_hmodule, nullptr);
  const FARPROC l_pfnStart = GetProcAddress(l_hmodule, "PlaySoundW");
  ASSERT_NE(l_pfnStart, nullptr);
  HANDLE const l_hThread =
      CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(l_pfnStart)), nullptr,
                   CREATE_SUSPENDED, nullptr);
  ASSERT_NE(l_hThread, nullptr);
  OsServicesStop();
  EXPECT_EQ(GetModuleHandleW(L"winmm.dll"), l_hmodule);
  ASSERT_TRUE(TerminateThread(l_hThread, 0));  // it never ran
  WaitForSingleObject(l_hThread, INFINITE);
  CloseHandle(l_hThread);
  // The reference the shut-down kept, given back for the tests after this one.
  FreeLibrary(l_hmodule);
  EXPECT_EQ(GetModuleHandleW(L"winmm.dll"), nullptr);
}

TEST_F(OsDesktopTest, ProtectedModeCopyCopiesAsOsFileCopyWithOrWithoutItsWorker) {
  const std::string l_sSource = Dir() + "\\src.txt", l_sPlain = Dir() + "\\plain.txt";
  const std::string l_sSaved = Dir() + "\\saved.txt";
  ASSERT_TRUE(OsTestWriteFile(OsTestWide(l_sSource), "bytes"));
  EXPECT_TRUE(OsFileProtectedModeCopy(nullptr, "x") == OS_STS_BADARG &&
              OsFileProtectedModeCopy("x", nullptr) == OS_STS_BADARG);
  EXPECT_EQ(Count("a_szFilename is null...") + Count("a_szNewFilename is NULL..."), 2u);

  // An ordinary process: the caller's own copy, which never overwrites.
  EXPECT_EQ(OsFileProtectedModeCopy(l_sSource.c_str(), l_sPlain.c_str()), OS_STS_SUCCESS);
  EXPECT_EQ(OsFileProtectedModeCopy(l_sSource.c_str(), l_sPlain.c_str()),
            OsFileCopy(l_sSource.c_str(), l_sPlain.c_str()));
  EXPECT_TRUE(OsTestReadFile(OsTestWide(l_sPlain)) == "bytes" && Count("GetModuleHandleW failed...") == 0u);

  // Protected mode: the worker's window saves; without the browser it copies.
  // Two copies at once share the window class; the last one out removes it.
  OsFileProtectedModeForce(true);
  EOSSTS l_eosstsOther = OS_STS_SUCCESS;
  for (const char* l_szSuffix : {"", "1", "2", "3"}) {
    std::thread l_thread([&] { l_eosstsOther = OsFileProtectedModeCopy(l_sSource.c_str(), l_sPlain.c_str()); });
    EXPECT_EQ(OsFileProtectedModeCopy(l_sSource.c_str(), (l_sSaved + l_szSuffix).c_str()), OS_STS_SUCCESS);
    l_thread.join();
  }
  WNDCLASSW l_wndclass;
  EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), L"OsFileProtectedModeCopy", &l_wndclass));
  EXPECT_TRUE(OsTestReadFile(OsTestWide(l_sSaved)) == "bytes" && Count("thr>>> starting <protectedmodecopy>") == 8u &&
              Lines("  new COsThread").size() == 16u &&
              Count("GetModuleHandleW failed...<" + l_sSource + "> <" + l_sSaved + ">") == 1u);
  // The thread objects made for them, and their implementations, were
  // destroyed: as many deletions at each address as objects made there.
  for (const OsTestLogLine& l_line : Lines("  new COsThread")) {
    const std::string l_sAddress = l_line.m_sText.substr(0, l_line.m_sText.find(' ', 10));
    EXPECT_EQ(Count(l_sAddress + " delete-object"), Count(l_sAddress + "  size:")) << l_sAddress;
  }
  // The worker's failure is the answer, not a success: here the plain
  // destination exists, and the copy beside this one refused it.
  EXPECT_EQ(l_eosstsOther, OS_STS_FAIL);
  OsFileProtectedModeForce(false);
}

}  // namespace
