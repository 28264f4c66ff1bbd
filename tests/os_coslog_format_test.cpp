// The log's file: the header block and its numbering, the fixed prefix of
// every line, the log file's text forms, re-configuration, the fallback
// opens, the assert echo, the small operations, and the library's own
// messages arriving in the file.
#include <windows.h>

#include <cstring>
#include <regex>
#include <string>

#include "os.h"
#include "os_coslocale.h"
#include "os_costime.h"
#include "os_costhread.h"
#include "os_test.h"
#include "os_test_log.h"

namespace {

class Log : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    for (const wchar_t* l_wsz : {L"QRX_LOGDIR", L"QRX_DEBUGDIR", L"QRX_ASSERT", L"QRX_DEBUG"}) SetEnv(l_wsz, nullptr);
    SetEnv(L"QRX_APPDATADIR", WDir().c_str());  // any start-up builds its tree in the test's own directory
    m_wsLog = WDir() + L"\\test.log";
    m_sLog = OsTestUtf8(m_wsLog);
  }
  void TearDown() override {
    if (m_poslog != nullptr) OsLogDestroy(m_poslog);
    m_poslog = nullptr;
    OsTest::TearDown();
  }
  COsLog* Create(std::uint32_t a_u32Level, const char* a_szFilter = nullptr, const char* a_szFile = nullptr) {
    if (m_poslog != nullptr) OsLogDestroy(m_poslog);
    m_poslog = OsLogCreate("ostest", a_szFile != nullptr ? a_szFile : m_sLog.c_str(), a_u32Level, a_szFilter);
    OsLogSetAssertEcho(m_poslog, false);
    return m_poslog;
  }
  std::vector<OsTestLogLine> Read() { return OsTestReadLog(m_wsLog); }

  std::wstring m_wsLog;
  std::string m_sLog;
  COsLog* m_poslog = nullptr;
};

std::string ModulePath() {
  wchar_t l_wsz[MAX_PATH];
  GetModuleFileNameW(nullptr, l_wsz, MAX_PATH);
  return OsTestUtf8(l_wsz);
}

// ---- start-up, header and prefix ----

class LogStartup : public Log {
 protected:
  void SetUp() override {
    Log::SetUp();
    m_szSaved = g_szOsServicesArguments;
    m_sArguments = "<arguments><uniquename>ostest</uniquename><entity>application</entity><logfile>" + m_sLog +
                   "</logfile><loglevel>1</loglevel></arguments>";
    g_szOsServicesArguments = m_sArguments.c_str();
  }
  void TearDown() override {
    OsServicesStop();
    g_szOsServicesArguments = m_szSaved;
    Log::TearDown();
  }
  std::string m_sArguments;

 private:
  const char* m_szSaved = nullptr;
};

TEST_F(LogStartup, HeaderLinesAreNumberedAndWrittenOnce) {
  // The directory tree of start-up goes into the test's own folder.
  SetEnv(L"QRX_APPDATADIR", WDir().c_str());
  SetEnv(L"QRX_COMPANYNAMESHORT", nullptr);
  OsServicesStart(nullptr);
  ASSERT_NE(OsLogInstance(), nullptr);
  ASSERT_NE(OsCfgInstance(), nullptr);
  EXPECT_EQ(OsLogGetDebug(OsLogInstance()), 1u);
  // The configuration moved the log into its own log directory; re-configuring
  // to that same file writes no second header.
  const std::string l_sConfigured = OsCfgInstance()->GetItem(1, 32);
  char l_szCurrent[OS_PATH_SIZE];
  OsLogGetFilename(OsLogInstance(), l_szCurrent, sizeof(l_szCurrent));
  EXPECT_EQ(std::string(l_szCurrent), l_sConfigured);
  OsLogReconfigure(OsLogInstance(), l_sConfigured.c_str(), 1, nullptr, nullptr);
  OsServicesStop();
  EXPECT_EQ(OsLogInstance(), nullptr);

  // The file named by the arguments holds the header and the first lines of start-up.
  bool l_bComplete = false;
  const auto l_raw = OsTestReadLines(m_wsLog, &l_bComplete);
  EXPECT_TRUE(l_bComplete);
  const auto l_lines = Read();
  ASSERT_GE(l_lines.size(), 6u);
  for (std::size_t l_i = 0; l_i < l_lines.size(); ++l_i) {
    EXPECT_TRUE(l_lines[l_i].m_bValid) << l_lines[l_i].m_sRaw;
    char l_szSequence[8];
    std::snprintf(l_szSequence, sizeof(l_szSequence), "%05u", static_cast<unsigned>(l_i));
    EXPECT_EQ(l_lines[l_i].m_sSequence, l_szSequence) << l_lines[l_i].m_sRaw;
  }
  EXPECT_EQ(OsTestFindLines(l_lines, "### (").size(), 1u);

  const std::regex l_date(
      R"(### \(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\) Debug=1 DebugFilter=<> Version=~6\.0\.0\.0)");
  EXPECT_TRUE(std::regex_match(l_lines[0].m_sText, l_date)) << l_lines[0].m_sText;
  const std::regex l_system(
      R"(### systemInfo <arch:\d+ ps:4096 pmask:0x[0-9a-f]{8} ncpu:[1-9]\d* cputype:\d+ cpulevel:\d+ cpurev:\d+ )"
      R"(bits:proc-(32|64)/mach-(32|64) spd:~-?\d+ pid:(\d+) pmem:([1-9]\d*)/\d+ vmem:([1-9]\d*)/\d+ memload:\d+ )"
      R"(proc-affinity:0x[0-9A-Fa-f]+ )"
      R"(sys-affinity:0x[0-9A-Fa-f]+ integrity:(\w+(-\w+)?)>)");
  std::smatch l_match;
  ASSERT_TRUE(std::regex_match(l_lines[1].m_sText, l_match, l_system)) << l_lines[1].m_sText;
  // The figures of the system-information detection, which the header runs
  // before any configuration exists.
  EXPECT_EQ(std::stoul(l_match[1].str()), sizeof(void*) * 8);
  EXPECT_EQ(std::stoul(l_match[3].str()), GetCurrentProcessId());
  static const char* const s_aszIntegrity[] = {"undefined", "protected-low",  "low",  "protected-medium",
                                               "medium",    "protected-high", "high", "last"};
  EXPECT_EQ(l_match[6].str(), s_aszIntegrity[OsProcessIntegrityGet()]);
  EXPECT_TRUE(std::regex_match(
      l_lines[2].m_sText,
      std::regex(R"(### osInfo <Os:windows Major:\d+ Minor:\d+ Build:\d+/0x[0-9a-f]{8} Platform:2 Info:\[.*\]>)")))
      << l_lines[2].m_sText;
  // The test program has no version resource and no configuration yet.
  EXPECT_EQ(l_lines[3].m_sText,
            "### appInfo <" + ModulePath() + "> internal=0.0.0.0 build=(none provided) package=(none provided)");
  EXPECT_EQ(l_lines[4].m_sText,
            "### dllInfo <" + ModulePath() + "> internal=0.0.0.0 build=(none provided) package=(none provided)");
  // The line that caused the header: the memory manager, created right after the log.
  EXPECT_TRUE(std::regex_match(l_lines[5].m_sText, std::regex(R"(mem>>> addr:[0-9A-Fa-f]+  size:\s*\d+  new COsMem)")))
      << l_lines[5].m_sText;
  for (int l_i = 0; l_i <= 5; ++l_i) EXPECT_EQ(l_lines[l_i].m_sModule, "os_cosmem") << l_i;

  // The configured file starts its own header and ends with the stop.
  const auto l_configured = OsTestReadLog(OsTestWide(l_sConfigured));
  ASSERT_GE(l_configured.size(), 3u);
  EXPECT_TRUE(std::regex_match(l_configured[0].m_sText, l_date)) << l_configured[0].m_sText;
  EXPECT_EQ(l_configured[0].m_sSequence, "00000");
  EXPECT_EQ(OsTestFindLines(l_configured, "### (").size(), 1u);
  // One mark for each re-configuration: the configuration's and the test's.
  EXPECT_EQ(OsTestFindLines(l_configured, "### OsServicesStart...").size(), 2u);
  EXPECT_EQ(l_configured.back().m_sText, "### OsServicesStop...");
  EXPECT_EQ(l_configured.back().m_cMark, 'P');
}

TEST_F(Log, PrefixHasTheFixedFormatFieldByField) {
  Create(1);
  SetLastError(0xdeadbeef);
  OsLogPrint(m_poslog, "C:\\src\\OS_CosMem_Track.CPP", 123, OS_LOG_INFO, "value <%d> <%s>", 42, "text");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  SetLastError(5);
  OsLogPrint(m_poslog, "a/b/very_long_module_name_that_is_cut_at_32_characters.cpp", 7, OS_LOG_ERROR, "failed");
  EXPECT_EQ(GetLastError(), 5u);
  SetLastError(0);
  OsLogPrint(m_poslog, "noext", 99999, OS_LOG_ASSERT, "assert %s", "x");
  OsLogPrint(m_poslog, "m.cpp", 1, OS_LOG_PROCESS, "process");

  bool l_bComplete = false;
  const auto l_raw = OsTestReadLines(m_wsLog, &l_bComplete);
  EXPECT_TRUE(l_bComplete);
  const auto l_lines = Read();
  ASSERT_EQ(l_lines.size(), 9u);
  const OsTestLogLine& l_info = l_lines[5];
  ASSERT_TRUE(l_info.m_bValid) << l_info.m_sRaw;
  EXPECT_EQ(l_info.m_sSequence, "00005");
  EXPECT_EQ(l_info.m_sModuleField, "os_cosmem_track                 ");  // lower-case, no directory, no extension
  EXPECT_EQ(l_info.m_lError, static_cast<long>(0xdeadbeef));             // the caller's error at entry
  EXPECT_EQ(l_info.m_ullThread, GetCurrentThreadId());
  EXPECT_EQ(l_info.m_iState, 9);
  EXPECT_EQ(l_info.m_cMark, '.');
  EXPECT_EQ(l_info.m_sText, "value <42> <text>");
  // The time is the local time of the line: hh 0-23, mm and ss 0-59.
  const int l_iHour = std::stoi(l_info.m_sTime.substr(0, 2));
  EXPECT_LT(l_iHour, 24);
  EXPECT_LT(std::stoi(l_info.m_sTime.substr(2, 2)), 60);
  EXPECT_LT(std::stoi(l_info.m_sTime.substr(4, 2)), 60);
  // Widths: "%5d" right-aligned line, error; the module field is cut at 32.
  EXPECT_EQ(l_info.m_sRaw.substr(49, 6), "  123 ");
  EXPECT_EQ(l_lines[6].m_sModuleField, "very_long_module_name_that_is_cu");
  EXPECT_EQ(l_lines[6].m_cMark, 'E');
  EXPECT_EQ(l_lines[6].m_lError, 5);
  EXPECT_EQ(l_lines[6].m_sRaw.substr(49, 12), "    7     5 ");
  EXPECT_EQ(l_lines[7].m_sModule, "noext");
  EXPECT_EQ(l_lines[7].m_cMark, 'A');
  EXPECT_EQ(l_lines[7].m_sRaw.substr(49, 12), "99999     0 ");
  EXPECT_EQ(l_lines[8].m_cMark, 'P');
  for (const auto& l_line : l_lines) {
    EXPECT_TRUE(l_line.m_bValid) << l_line.m_sRaw;
    EXPECT_GE(l_line.m_sThread.size(), 4u);
  }
}

TEST_F(Log, NoStampZeroesNumberTimeAndError) {
  Create(1 | OS_LOG_OPT_NOSTAMP);
  SetLastError(1234);
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_INFO, "one");
  OsLogPrint(m_poslog, "x.cpp", 2, OS_LOG_ERROR, "two");
  EXPECT_EQ(GetLastError(), 1234u);
  const auto l_lines = Read();
  ASSERT_EQ(l_lines.size(), 7u);
  for (const auto& l_line : l_lines) {
    EXPECT_EQ(l_line.m_sRaw.substr(0, 16), "00000 000000000 ") << l_line.m_sRaw;
    EXPECT_EQ(l_line.m_lError, 0) << l_line.m_sRaw;
  }
  EXPECT_EQ(l_lines[6].m_sText, "two");
}

TEST_F(Log, MessageThatCannotBeFormattedKeepsThePrefix) {
  Create(1 | OS_LOG_OPT_NOSTAMP);
  const std::string l_sHuge(1100000, 'h');
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_INFO, "%s", l_sHuge.c_str());
  OsLogPrint(m_poslog, "x.cpp", 2, OS_LOG_INFO, "after");
  const auto l_lines = Read();
  ASSERT_EQ(l_lines.size(), 7u);
  EXPECT_TRUE(l_lines[5].m_bValid) << l_lines[5].m_sRaw.substr(0, 100);
  EXPECT_EQ(l_lines[5].m_sText, "");
  EXPECT_EQ(l_lines[5].m_sRaw.back(), '.');  // the prefix without its last blank
  EXPECT_EQ(l_lines[6].m_sText, "after");
}

// ---- log file text forms ----

TEST_F(Log, VariableFormAtCreationAndRelocation) {
  SetEnv(L"TEMP", WDir().c_str());
  Create(1, nullptr, "@TEMP@\\x//trace.txt");
  // "the directory two levels above the module": for ...\b\c\mod.exe that is b.
  std::string l_sModule = ModulePath();
  l_sModule = l_sModule.substr(0, l_sModule.rfind('\\'));
  l_sModule = l_sModule.substr(0, l_sModule.rfind('\\'));
  std::string l_sFamily = l_sModule.substr(l_sModule.rfind('\\') + 1);
  for (char& l_c : l_sFamily) l_c = static_cast<char>(std::tolower(static_cast<unsigned char>(l_c)));
  char l_szPath[MAX_PATH];
  EXPECT_EQ(OsLogGetFilenameSts(m_poslog, l_szPath, sizeof(l_szPath)), OS_STS_SUCCESS);
  EXPECT_EQ(std::string(l_szPath), Dir() + "\\x\\trace_" + l_sFamily + ".log");
  // A plain text is the path; an only leading "@" too.
  Create(1, nullptr, "@plain.log");
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  EXPECT_STREQ(l_szPath, "@plain.log");
  // An unset variable stands for ".".
  SetEnv(L"QRX_TEST_UNSET", nullptr);
  Create(1, nullptr, "@QRX_TEST_UNSET@\\y.txt");
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  EXPECT_EQ(std::string(l_szPath), ".\\y_" + l_sFamily + ".log");

  // QRX_LOGDIR: at creation for the variable form only.
  SetEnv(L"QRX_LOGDIR", WDir().c_str());
  Create(1, nullptr, m_sLog.c_str());
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  EXPECT_EQ(std::string(l_szPath), m_sLog);
  Create(1, nullptr, "@TEMP@\\x\\trace.txt");
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  const std::regex l_logdir(std::regex_replace(Dir(), std::regex(R"([\\.()\[\]])"), R"(\$&)") + R"(/qrx_\d{17}\.log)");
  EXPECT_TRUE(std::regex_match(std::string(l_szPath), l_logdir)) << l_szPath;
  // On re-configuration for every form.
  OsLogReconfigure(m_poslog, m_sLog.c_str(), 1, nullptr, nullptr);
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  EXPECT_TRUE(std::regex_match(std::string(l_szPath), l_logdir)) << l_szPath;
  SetEnv(L"QRX_LOGDIR", nullptr);
  // Without it the variable form is taken as it stands.
  OsLogReconfigure(m_poslog, "@TEMP@\\z.txt", 1, nullptr, nullptr);
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  EXPECT_EQ(std::string(l_szPath), Dir() + "\\z.txt");

  // The status variant.
  EXPECT_EQ(OsLogGetFilenameSts(m_poslog, l_szPath, 4), OS_STS_BADARG);
  EXPECT_EQ(OsLogGetFilenameSts(m_poslog, nullptr, 4), OS_STS_BADARG);
  COsLog l_empty;
  EXPECT_EQ(OsLogGetFilenameSts(&l_empty, l_szPath, sizeof(l_szPath)), OS_STS_FAIL);
  EXPECT_EQ(OsLogGetFilenameSts(nullptr, l_szPath, sizeof(l_szPath)), OS_STS_FAIL);
}

TEST_F(Log, EmptyFileTextKeepsTheLogSilentUntilReconfigured) {
  m_poslog = OsLogCreate("ostest", nullptr, 1, nullptr);
  ASSERT_NE(m_poslog, nullptr);
  EXPECT_EQ(OsLogSuspend(m_poslog, 1), 1);  // suspended from the start
  OsLogSuspend(m_poslog, 0);
  OsLogSuspend(m_poslog, 1);
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_ERROR, "lost");
  // No file named and none set: still suspended.
  OsLogReconfigure(m_poslog, nullptr, 1, nullptr, nullptr);
  EXPECT_EQ(OsLogSuspend(m_poslog, 1), 1);
  OsLogReconfigure(m_poslog, m_sLog.c_str(), 1 | OS_LOG_OPT_NOSTAMP, nullptr, nullptr);
  OsLogPrint(m_poslog, "x.cpp", 2, OS_LOG_ERROR, "kept");
  EXPECT_EQ(OsLogSuspend(m_poslog, 1), 0);
  OsLogPrint(m_poslog, "x.cpp", 3, OS_LOG_ERROR, "suspended");
  OsLogSuspend(m_poslog, 0);
  // Re-configuration without a file keeps the current one.
  OsLogReconfigure(m_poslog, nullptr, 1 | OS_LOG_OPT_NOSTAMP, nullptr, nullptr);
  OsLogPrint(m_poslog, "x.cpp", 4, OS_LOG_ERROR, "still kept");
  const auto l_lines = Read();
  EXPECT_EQ(OsTestFindLines(l_lines, "lost").size(), 0u);
  EXPECT_EQ(OsTestFindLines(l_lines, "suspended").size(), 0u);
  EXPECT_EQ(OsTestFindLines(l_lines, "kept").size(), 2u);
  EXPECT_EQ(OsTestFindLines(l_lines, "### OsServicesStart...").size(), 2u);
  EXPECT_EQ(OsTestFindLines(l_lines, "### (").size(), 1u);
}

TEST_F(Log, NewFileGetsANewHeaderAndAppendKeepsContent) {
  Create(1);
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_ERROR, "first file");
  const std::wstring l_wsSecond = WDir() + L"\\second.log";
  {
    HANDLE const l_h = CreateFileW(l_wsSecond.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD l_dw = 0;
    WriteFile(l_h, "old\r\n", 5, &l_dw, nullptr);
    CloseHandle(l_h);
  }
  OsLogReconfigure(m_poslog, OsTestUtf8(l_wsSecond).c_str(), 1, nullptr, nullptr);
  OsLogPrint(m_poslog, "x.cpp", 2, OS_LOG_ERROR, "second file");
  // Emptied, then the header from 00000 again; system lines only once per log.
  auto l_lines = OsTestReadLog(l_wsSecond);
  ASSERT_EQ(l_lines.size(), 3u);
  EXPECT_EQ(l_lines[0].m_sSequence, "00000");
  EXPECT_EQ(l_lines[0].m_sText.substr(0, 5), "### (");
  EXPECT_EQ(l_lines[1].m_sText, "### OsServicesStart...");
  EXPECT_EQ(l_lines[1].m_sSequence, "00001");
  EXPECT_EQ(l_lines[2].m_sText, "second file");

  // Append mode keeps what is there.
  const std::wstring l_wsThird = WDir() + L"\\third.log";
  {
    HANDLE const l_h = CreateFileW(l_wsThird.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD l_dw = 0;
    WriteFile(l_h, "old\r\n", 5, &l_dw, nullptr);
    CloseHandle(l_h);
  }
  OsLogReconfigure(m_poslog, OsTestUtf8(l_wsThird).c_str(), 1 | OS_LOG_OPT_APPEND, nullptr, nullptr);
  EXPECT_EQ(OsLogGetDebug(m_poslog), 1u);  // the option is taken out of the mask
  const auto l_third = OsTestReadLines(l_wsThird);
  ASSERT_EQ(l_third.size(), 3u);
  EXPECT_EQ(l_third[0], "old");
}

TEST_F(Log, MissingDirectoryDropsLinesUntilItExists) {
  const std::wstring l_wsDirectory = WDir() + L"\\later";
  const std::wstring l_wsFile = l_wsDirectory + L"\\x.log";
  Create(1, nullptr, OsTestUtf8(l_wsFile).c_str());
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_ERROR, "dropped");
  EXPECT_EQ(GetFileAttributesW(l_wsDirectory.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(CreateDirectoryW(l_wsDirectory.c_str(), nullptr));
  OsLogPrint(m_poslog, "x.cpp", 2, OS_LOG_ERROR, "written");
  const auto l_lines = OsTestReadLog(l_wsFile);
  EXPECT_EQ(OsTestFindLines(l_lines, "dropped").size(), 0u);
  EXPECT_EQ(OsTestFindLines(l_lines, "written").size(), 1u);
}

TEST_F(Log, DebugDirectoryMovesTheLog) {
  const std::wstring l_wsDebug = WDir() + L"\\dbg\\deeper";
  SetEnv(L"QRX_DEBUGDIR", l_wsDebug.c_str());
  Create(1);
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_ERROR, "in the debug directory");
  char l_szPath[MAX_PATH];
  OsLogGetFilename(m_poslog, l_szPath, sizeof(l_szPath));
  const std::string l_sPath = l_szPath;
  const std::string l_sPrefix = OsTestUtf8(l_wsDebug) + "\\";
  ASSERT_EQ(l_sPath.substr(0, l_sPrefix.size()), l_sPrefix);
  EXPECT_TRUE(std::regex_match(l_sPath.substr(l_sPrefix.size()), std::regex(R"(\d{17}\.log)"))) << l_sPath;
  EXPECT_EQ(OsTestFindLines(OsTestReadLog(OsTestWide(l_sPath)), "in the debug directory").size(), 1u);
  EXPECT_EQ(OsTestReadFile(m_wsLog), "");
}

TEST_F(Log, UnopenableFileFallsBackToTheDriveRoot) {
  // The test directory itself cannot be opened as a file.
  const std::string l_sUnique = "qrxfallback" + std::to_string(GetCurrentProcessId());
  const std::wstring l_wsFallback = L"c:\\" + OsTestWide(l_sUnique) + L".log";
  DeleteFileW(l_wsFallback.c_str());
  m_poslog = OsLogCreate(l_sUnique.c_str(), Dir().c_str(), 1, nullptr);
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_ERROR, "into the fallback");
  const auto l_lines = OsTestReadLog(l_wsFallback);
  DeleteFileW(l_wsFallback.c_str());
  EXPECT_EQ(OsTestFindLines(l_lines, "into the fallback").size(), 1u);
}

// ---- echo, state and options ----

// Standard error redirected into a file for the length of a block.
class CStdErrCapture {
 public:
  explicit CStdErrCapture(const std::wstring& a_wsPath) : m_wsPath(a_wsPath) {
    m_hsaved = GetStdHandle(STD_ERROR_HANDLE);
    m_hfile = CreateFileW(a_wsPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, m_hfile);
  }
  ~CStdErrCapture() { Stop(); }
  std::string Stop() {
    if (m_hfile != INVALID_HANDLE_VALUE) {
      SetStdHandle(STD_ERROR_HANDLE, m_hsaved);
      CloseHandle(m_hfile);
      m_hfile = INVALID_HANDLE_VALUE;
    }
    return OsTestReadFile(m_wsPath);
  }

 private:
  std::wstring m_wsPath;
  HANDLE m_hsaved;
  HANDLE m_hfile;
};

TEST_F(Log, AssertEchoGoesToStandardError) {
  Create(1);
  OsLogSetAssertEcho(m_poslog, true);
  {
    CStdErrCapture l_capture(WDir() + L"\\stderr1.txt");
    OsLogPrint(m_poslog, "os_cosfile.cpp", 77, OS_LOG_ASSERT, "a_szFilename is null...%d", 5);
    OsLogPrint(m_poslog, "os_cosfile.cpp", 78, OS_LOG_ERROR, "not echoed");
    EXPECT_EQ(l_capture.Stop(), "<os_cosfile.cpp> <77> <a_szFilename is null...%d>\r\n");
  }
  // The echo comes also for a line the module filter drops, but not while
  // logging is off.
  OsLogReconfigure(m_poslog, nullptr, 1, "other", nullptr);
  {
    CStdErrCapture l_capture(WDir() + L"\\stderr2.txt");
    OsLogPrint(m_poslog, "os_cosfile.cpp", 79, OS_LOG_ASSERT, "filtered");
    OsLogSetDebug(m_poslog, 0);
    OsLogPrint(m_poslog, "os_cosfile.cpp", 80, OS_LOG_ASSERT, "silent");
    EXPECT_EQ(l_capture.Stop(), "<os_cosfile.cpp> <79> <filtered>\r\n");
  }
  EXPECT_EQ(OsTestFindLines(Read(), "filtered").size(), 0u);
  // QRX_ASSERT=0 switches the echo off at creation; unset it is on.
  SetEnv(L"QRX_ASSERT", L"0");
  OsLogDestroy(m_poslog);
  m_poslog = OsLogCreate("ostest", m_sLog.c_str(), 1, nullptr);
  {
    CStdErrCapture l_capture(WDir() + L"\\stderr3.txt");
    OsLogPrint(m_poslog, "os_cosfile.cpp", 81, OS_LOG_ASSERT, "no echo");
    EXPECT_EQ(l_capture.Stop(), "");
  }
  SetEnv(L"QRX_ASSERT", nullptr);
  OsLogDestroy(m_poslog);
  m_poslog = OsLogCreate("ostest", m_sLog.c_str(), 1, nullptr);
  {
    CStdErrCapture l_capture(WDir() + L"\\stderr4.txt");
    OsLogPrint(m_poslog, "f.cpp", 82, OS_LOG_ASSERT, "echo");
    EXPECT_EQ(l_capture.Stop(), "<f.cpp> <82> <echo>\r\n");
  }
}

TEST_F(Log, StateSwitchExtraAndFlushOptions) {
  Create(1 | OS_LOG_OPT_SWITCH | OS_LOG_OPT_EXTRA | OS_LOG_OPT_FLUSHALL | OS_LOG_OPT_NOSTAMP);
  EXPECT_EQ(OsLogGetDebug(m_poslog), 1u | OS_LOG_OPT_FLUSHALL | OS_LOG_OPT_NOSTAMP);
  EXPECT_EQ(OsLogGetSwitch(m_poslog), 1);
  EXPECT_TRUE(OsLogIsExtraEnabled(m_poslog));
  EXPECT_FALSE(OsLogIsFlushing(m_poslog));
  EXPECT_EQ(OsLogGetState(m_poslog), 9);
  EXPECT_EQ(OsLogGetStateNormalized(m_poslog), 0);
  OsLogPrint(m_poslog, "x.cpp", 1, OS_LOG_EXTRA, "extra line");
  // The first written line turns on flushing and takes the option out.
  EXPECT_TRUE(OsLogIsFlushing(m_poslog));
  EXPECT_EQ(OsLogGetDebug(m_poslog), 1u | OS_LOG_OPT_NOSTAMP);
  OsLogSetState(m_poslog, 0);
  EXPECT_EQ(OsLogGetStateNormalized(m_poslog), 1);
  unsigned char l_ucState = 4;
  OsLogReconfigure(m_poslog, nullptr, 1 | OS_LOG_OPT_NOSTAMP, nullptr, &l_ucState);
  EXPECT_EQ(OsLogGetState(m_poslog), 4);
  EXPECT_EQ(OsLogGetStateNormalized(m_poslog), 4);
  OsLogSetState(m_poslog, 7);
  EXPECT_EQ(l_ucState, 7);
  OsLogPrint(m_poslog, "x.cpp", 2, OS_LOG_INFO, "state seven");
  // Once set, the switch and class 32 stay.
  EXPECT_EQ(OsLogGetSwitch(m_poslog), 1);
  EXPECT_TRUE(OsLogIsExtraEnabled(m_poslog));
  OsLogFlush(m_poslog);
  const auto l_lines = Read();
  const auto l_extra = OsTestFindLines(l_lines, "extra line");
  ASSERT_EQ(l_extra.size(), 1u);
  EXPECT_EQ(l_extra[0].m_iState, 9);
  const auto l_seven = OsTestFindLines(l_lines, "state seven");
  ASSERT_EQ(l_seven.size(), 1u);
  EXPECT_EQ(l_seven[0].m_iState, 7);
  EXPECT_NE(l_lines[0].m_sText.find("Debug=1317 "), std::string::npos) << l_lines[0].m_sText;  // as passed
  EXPECT_EQ(OsLogGetDisplayLength(m_poslog), 0);  // no configuration object yet

  // Without an implementation every operation is a no-op.
  COsLog l_empty;
  OsLogPrint(&l_empty, "x.cpp", 1, OS_LOG_ERROR, "nothing");
  OsLogPrint(nullptr, "x.cpp", 1, OS_LOG_ERROR, "nothing");
  EXPECT_EQ(OsLogGetDebug(&l_empty), 0u);
  EXPECT_EQ(OsLogGetState(&l_empty), 0);
  EXPECT_EQ(OsLogSuspend(&l_empty, 1), 0);
  EXPECT_FALSE(OsLogIsFlushing(&l_empty));
  EXPECT_EQ(OsLogGetSwitch(&l_empty), 0);
}

TEST_F(Log, HeaderFormattersReportOnStandardError) {
  char l_sz[8];
  SetLastError(9);
  EXPECT_EQ(LogSStrPrintf(l_sz, sizeof(l_sz), "%d-%s", 12, "ab"), 5);
  EXPECT_STREQ(l_sz, "12-ab");
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(LogSStrCatf(l_sz, sizeof(l_sz), "%s", "c"), 6);
  EXPECT_STREQ(l_sz, "12-abc");
  CStdErrCapture l_capture(WDir() + L"\\stderr.txt");
  EXPECT_EQ(LogSStrCatf(l_sz, sizeof(l_sz), "%s", "long"), -1);
  EXPECT_STREQ(l_sz, "12-abc");  // the earlier text stays
  EXPECT_EQ(LogSStrPrintf(l_sz, sizeof(l_sz), "%s", "too long text"), -1);
  EXPECT_EQ(LogSStrPrintf(nullptr, 8, "x"), -1);
  const std::string l_s = l_capture.Stop();
  EXPECT_NE(l_s.find("LogSStrCatf failed...<%s>\r\n"), std::string::npos) << l_s;
  EXPECT_NE(l_s.find("LogSStrPrintf failed...<%s>\r\n"), std::string::npos) << l_s;
  EXPECT_NE(l_s.find("LogSStrPrintf failed..."), l_s.rfind("LogSStrPrintf failed...")) << l_s;
}

// ---- the library's own messages in the file ----

class LogMessages : public Log {
 protected:
  void SetUp() override {
    Log::SetUp();
    OsServicesStart(nullptr);
    OsLogReconfigure(OsLogInstance(), m_sLog.c_str(), 1 | OS_LOG_OPT_NOSTAMP, nullptr, nullptr);
    OsLogSetAssertEcho(OsLogInstance(), false);
  }
  void TearDown() override {
    OsServicesStop();
    Log::TearDown();
  }
};

TEST_F(LogMessages, BoundedStringsConversionsAndTimeReport) {
  char l_sz[4];
  SetLastError(0xdeadbeef);
  SStrCpy(l_sz, sizeof(l_sz), "toolong");
  EXPECT_EQ(GetLastError(), 0xdeadbeefu);
  SStrCat(l_sz, sizeof(l_sz), "more");
  EXPECT_EQ(SStrPrintf(l_sz, sizeof(l_sz), "%s", "wide text"), -1);
  SStrLen("abcdefgh", 4);
  wchar_t l_wsz[4];
  CopyStringFromUtf8(l_wsz, 4, "abc");
  OsTimeRecord l_r = {};
  char l_szTime[18];
  OsTimeToString(&l_r, l_szTime, sizeof(l_szTime));
  OsTimeGetLocal(nullptr, 0);

  const auto l_lines = Read();
  const struct {
    const char* m_szText;
    const char* m_szModule;
    char m_cMark;
  } l_aExpected[] = {{"SStrCpy failed...<toolong>", "os_cosstring", 'A'},
                     {"SStrCat failed...<more>", "os_cosstring", 'A'},
                     {"SStrPrintf failed...<%s>", "os_cosstring", 'A'},
                     {"SStrLen failed...<", "os_cosstring", 'A'},
                     {"CopyStringFromUtf8 failed <abc>", "os_coslocale_convert", 'A'},
                     {"a_lTimeSize must be at least 18...18", "os_costime", 'A'},
                     {"a_ptimerecord is NULL...", "os_costime", 'E'}};
  for (const auto& l_expected : l_aExpected) {
    const auto l_found = OsTestFindLines(l_lines, l_expected.m_szText);
    ASSERT_EQ(l_found.size(), 1u) << l_expected.m_szText;
    EXPECT_EQ(l_found[0].m_sModule, l_expected.m_szModule) << l_expected.m_szText;
    EXPECT_EQ(l_found[0].m_cMark, l_expected.m_cMark) << l_expected.m_szText;
  }
}

}  // namespace
