// The fixture of every library test: a directory of its own, removed
// afterwards, and environment variables restored to what they were.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// True when the test runs under Wine (ntdll exports wine_get_version), for
// the assertions that Wine cannot honour.
bool OsTestIsWine();

// UTF-8 <-> UTF-16 for test code.
std::wstring OsTestWide(const std::string& a_s);
std::string OsTestUtf8(const std::wstring& a_ws);

// Sets an environment variable for the rest of the test (null removes it)
// through the store the library reads; the fixture restores it.
class OsTestEnvironment {
 public:
  OsTestEnvironment() = default;
  ~OsTestEnvironment() { RestoreAll(); }
  OsTestEnvironment(const OsTestEnvironment&) = delete;
  OsTestEnvironment& operator=(const OsTestEnvironment&) = delete;

  void Set(const wchar_t* a_wszName, const wchar_t* a_wszValue);
  void RestoreAll();

 private:
  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> m_saved;
};

// Reads an environment variable; nullopt when it does not exist.
std::optional<std::wstring> OsTestGetEnv(const wchar_t* a_wszName);

class OsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The test's own directory (UTF-8 and UTF-16), without a trailing separator.
  const std::string& Dir() const { return m_sDir; }
  const std::wstring& WDir() const { return m_wsDir; }
  void SetEnv(const wchar_t* a_wszName, const wchar_t* a_wszValue) { m_environment.Set(a_wszName, a_wszValue); }

 private:
  std::string m_sDir;
  std::wstring m_wsDir;
  OsTestEnvironment m_environment;
};

// The entries of a directory, "." and ".." not counted (0 when it cannot be read).
int OsTestCountEntries(const std::wstring& a_wsDirectory);

// Removes a directory tree with plain Win32 calls (never the library's own).
void OsTestRemoveTree(const std::wstring& a_wsPath);

// A started process (handles owned by the caller: CloseHandle both).
struct OsTestProcess {
  void* m_hProcess = nullptr;
  void* m_hThread = nullptr;
  unsigned long m_ulId = 0;
};
// Starts a whole command line without a window. a_hOutput (inheritable),
// when given, takes both output streams. Under Wine a start now and then
// fails with 1359 before the program runs, while many processes start and
// end at once: such a start is tried again. False when it cannot start.
bool OsTestStartProcess(const std::wstring& a_wsCommand, void* a_hOutput, OsTestProcess* a_posTestProcess);

struct OsTestRun {
  unsigned long m_ulExitCode = 0xFFFFFFFF;
  std::string m_sOutput;  // both streams
};
// Runs a command line to its end (a minute at most) and catches its output.
OsTestRun OsTestRunProgram(const std::wstring& a_wsCommand);
