// The fixture of tests that start the services library: the common
// application-data folder in the test's own directory, the library's
// variables cleared (and restored afterwards), the program's argument text
// set per start, and a stop after every test.
#pragma once

#include <string>

#include <vector>

#include "os.h"
#include "os_test.h"
#include "os_test_log.h"

class OsServicesTest : public OsTest {
 protected:
  void SetUp() override {
    OsTest::SetUp();
    m_szSavedArguments = g_szOsServicesArguments;
    SetEnv(L"QRX_APPDATADIR", WDir().c_str());
    for (const wchar_t* l_wsz :
         {L"QRX_COMPANYNAMESHORT", L"QRX_SHGETFOLDERPATH", L"QRX_FORCESETACCESS", L"QRX_DEBUG", L"QRX_LOGDIR",
          L"QRX_DEBUGDIR", L"QRX_OSCFGDIR", L"QRX_OVERRIDEINI", L"QRX_OSSERVICESARGUMENTS",
          L"QRX_OSSERVICESARGUMENTSUNICODE", L"QRX_OSSERVICESARGUMENTSDISABLED", L"QRX_ALTERNATEDSM"})
      SetEnv(l_wsz, nullptr);
  }
  void TearDown() override {
    OsServicesStop();
    g_szOsServicesArguments = m_szSavedArguments;
    OsTest::TearDown();
  }
  // Starts the services as a program with this identity; a_sMore goes into
  // the argument text, a_szExtra to the configuration.
  void StartAs(const std::string& a_sUnique, const std::string& a_sEntity, const std::string& a_sMore = "",
               const char* a_szExtra = nullptr) {
    m_sArguments = "<arguments><uniquename>" + a_sUnique + "</uniquename><entity>" + a_sEntity + "</entity>" + a_sMore +
                   "</arguments>";
    g_szOsServicesArguments = m_sArguments.c_str();
    OsServicesStart(a_szExtra);
  }
  // Sends the started library's messages (errors, class 64 and the classes
  // of a_u32Classes, without time stamps, no echo of class 64) to a_wszName
  // in the test's directory.
  void LogTo(const wchar_t* a_wszName, std::uint32_t a_u32Classes = 0) {
    m_wsLog = WDir() + L"\\" + a_wszName;
    OsLogReconfigure(OsLogInstance(), OsTestUtf8(m_wsLog).c_str(), 1 | a_u32Classes | OS_LOG_OPT_NOSTAMP, nullptr,
                     nullptr);
    OsLogSetAssertEcho(OsLogInstance(), false);
  }
  // Starts the services with the program's own argument text, logging to a_wszName.
  void StartLoggingTo(const wchar_t* a_wszName) {
    OsServicesStart(nullptr);
    LogTo(a_wszName);
  }
  // The lines of that log whose text holds a_sText, and their number.
  std::vector<OsTestLogLine> Lines(const std::string& a_sText) {
    return OsTestFindLines(OsTestReadLog(m_wsLog), a_sText);
  }
  std::size_t Count(const std::string& a_sText) { return Lines(a_sText).size(); }
  std::string Item(int a_iSection, int a_iTag) { return OsCfgInstance()->GetItem(a_iSection, a_iTag); }

  std::string m_sArguments;
  std::wstring m_wsLog;

 private:
  const char* m_szSavedArguments = nullptr;
};
