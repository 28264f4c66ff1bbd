// The interface library's reply: the default report without the library,
// the library's reply asked once and kept (cut to 2047 bytes), the close
// task at shut-down while the log directory is still held, a shortage of
// memory, and a library without the entry point.
#include <windows.h>

#include <cstring>

#include "os.h"
#include "os_cosmem_impl.h"
#include "os_test_services.h"

namespace {

std::wstring TestProgramDirectory() {
  wchar_t l_wsz[MAX_PATH];
  const DWORD l_dw = GetModuleFileNameW(nullptr, l_wsz, MAX_PATH);
  std::wstring l_ws(l_wsz, l_dw);
  return l_ws.substr(0, l_ws.find_last_of(L'\\'));
}

std::vector<std::string> Split(const std::string& a_s) {
  std::vector<std::string> l_vec;
  for (std::size_t l_i = 0; l_i < a_s.size();) {
    const std::size_t l_iEnd = a_s.find('\0', l_i);
    l_vec.push_back(a_s.substr(l_i, l_iEnd - l_i));
    l_i = l_iEnd == std::string::npos ? a_s.size() : l_iEnd + 1;
  }
  return l_vec;
}

class OsInterfaceTest : public OsServicesTest {
 protected:
  void SetUp() override {
    OsServicesTest::SetUp();
    StartAs("iftest", "application");
    LogTo(L"interface.log", OS_LOG_INFO);
    // The first place searched: a folder of the test's own, empty so far.
    m_sDriver = Dir() + "\\drv";
    ASSERT_TRUE(CreateDirectoryW(OsTestWide(m_sDriver).c_str(), nullptr));
    ASSERT_EQ(OsCfgInstance()->SetItem(OS_CFGSECTION_MAIN, 21, m_sDriver.c_str()), OS_STS_SUCCESS);
  }
  // Puts a test plug-in there as the interface library.
  void Install(const wchar_t* a_wszPlugin) {
    ASSERT_TRUE(CopyFileW((TestProgramDirectory() + L"\\" + a_wszPlugin).c_str(),
                          OsTestWide(m_sDriver + "\\rarir.dll").c_str(), FALSE));
  }
  std::string m_sDriver;
};

TEST_F(OsInterfaceTest, WithoutTheLibraryTheSuccessReportStands) {
  const char* const l_szInfo = OsCfgInstance()->InterfaceInfo();
  ASSERT_NE(l_szInfo, nullptr);
  EXPECT_STREQ(l_szInfo, OsXmlTaskStatusSuccess());
}

TEST_F(OsInterfaceTest, TheReplyIsAskedOnceKeptCutAndTheLibraryToldToClose) {
  Install(L"os_test_rarir.dll");
  const std::wstring l_wsTasks = WDir() + L"\\tasks.bin";
  SetEnv(L"OS_TEST_RARIR_LOG", l_wsTasks.c_str());
  const std::string l_sReply = "<task id='1'>" + std::string(3000, 'r');
  SetEnv(L"OS_TEST_RARIR_REPLY", OsTestWide(l_sReply).c_str());

  const char* const l_szInfo = OsCfgInstance()->InterfaceInfo();
  ASSERT_NE(l_szInfo, nullptr);
  EXPECT_EQ(std::string(l_szInfo), l_sReply.substr(0, 2047));
  EXPECT_EQ(Lines("LoadLibrary succeeded...<" + m_sDriver + "\\rarir>").size(), 1u);
  SetEnv(L"OS_TEST_RARIR_REPLY", L"changed");
  EXPECT_EQ(OsCfgInstance()->InterfaceInfo(), l_szInfo);

  std::vector<std::string> l_vecTasks = Split(OsTestReadFile(l_wsTasks));
  ASSERT_EQ(l_vecTasks.size(), 1u);
  // A complete task whose one element is the open request.
  EXPECT_EQ(l_vecTasks[0],
            "<task id='00000000000000000000' reply='00000000000000000000' bytes='00000000000000000131'>\n"
            "<interfaceopen></interfaceopen>\n</task>\n");

  // The close is said while the log directory is still held.
  const std::string l_sLock = OsCfgInstance()->GetItem(OS_CFGSECTION_MAIN, 12) + std::string("\\log.lock");
  ASSERT_NE(GetFileAttributesW(OsTestWide(l_sLock).c_str()), INVALID_FILE_ATTRIBUTES);
  SetEnv(L"OS_TEST_RARIR_PROBE", OsTestWide(l_sLock).c_str());
  OsServicesStop();
  l_vecTasks = Split(OsTestReadFile(l_wsTasks));
  ASSERT_EQ(l_vecTasks.size(), 3u);
  EXPECT_EQ(l_vecTasks[1], "<task><interfaceclose></interfaceclose></task>");
  EXPECT_EQ(l_vecTasks[2], "held");
  // The library is gone with the configuration.
  EXPECT_TRUE(DeleteFileW(OsTestWide(m_sDriver + "\\rarir.dll").c_str()));
}

TEST_F(OsInterfaceTest, AShortageOfMemoryGivesNothingAndIsAskedAgain) {
  Install(L"os_test_rarir.dll");
  const std::wstring l_wsTasks = WDir() + L"\\tasks.bin";
  SetEnv(L"OS_TEST_RARIR_LOG", l_wsTasks.c_str());
  SetEnv(L"OS_TEST_RARIR_REPLY", L"<task>r</task>");
  // Each allocation of the asking fails in turn, until the asking needs no more.
  const char* l_szInfo = nullptr;
  for (long l_lAt = 0; l_szInfo == nullptr && l_lAt < 64; ++l_lAt) {
    SCOPED_TRACE(l_lAt);
    OsMemFailAfter(l_lAt);
    l_szInfo = OsCfgInstance()->InterfaceInfo();
    const bool l_bFailed = !OsMemFailurePending();
    OsMemFailAfter(-1);
    if (!l_bFailed) break;
    EXPECT_EQ(l_szInfo, nullptr);
    EXPECT_EQ(GetModuleHandleW(OsTestWide(m_sDriver + "\\rarir.dll").c_str()), nullptr);
  }
  ASSERT_NE(l_szInfo, nullptr);
  EXPECT_STREQ(l_szInfo, "<task>r</task>");
  EXPECT_EQ(Split(OsTestReadFile(l_wsTasks)).size(), 1u);  // only the ask that succeeded was sent
}

TEST_F(OsInterfaceTest, ALibraryWithoutTheEntryGivesNothingAndIsAskedAgain) {
  Install(L"os_test_plug_x.dll");
  EXPECT_EQ(OsCfgInstance()->InterfaceInfo(), nullptr);
  EXPECT_EQ(OsCfgInstance()->InterfaceInfo(), nullptr);
  EXPECT_EQ(Lines("SharedLibraryGetProc failed...").size(), 2u);
  EXPECT_EQ(GetModuleHandleW(OsTestWide(m_sDriver + "\\rarir.dll").c_str()), nullptr);
}

}  // namespace
