// Reading the log files that tests configure: lines split at CR LF and the
// fixed prefix taken apart field by field.
#pragma once

#include <string>
#include <vector>

// One line: the prefix "%05.5d %02.2d%02.2d%02.2d%03.3d %-32.32s %5d %5d
// T%04llu S%d V%c " and the text after it.
struct OsTestLogLine {
  bool m_bValid = false;       // the prefix has exactly the fixed form
  std::string m_sRaw;          // the whole line without CR LF
  std::string m_sSequence;     // five digits
  std::string m_sTime;         // nine digits, hhmmssmmm
  std::string m_sModule;       // trailing blanks removed
  std::string m_sModuleField;  // the 32 characters as written
  long m_lLine = 0;
  long m_lError = 0;
  unsigned long long m_ullThread = 0;
  std::string m_sThread;  // the digits after T
  int m_iState = 0;
  char m_cMark = 0;
  std::string m_sText;
};

// The file's bytes; empty when it cannot be read.
std::string OsTestReadFile(const std::wstring& a_wsPath);
// Writes a_sBytes as the whole file (created or emptied); false on failure.
bool OsTestWriteFile(const std::wstring& a_wsPath, const std::string& a_sBytes);
// The file's lines. a_pbComplete (may be null) is false when the file does not
// end in CR LF or a line holds a lone CR or LF.
std::vector<std::string> OsTestReadLines(const std::wstring& a_wsPath, bool* a_pbComplete = nullptr);
OsTestLogLine OsTestParseLogLine(const std::string& a_sLine);
std::vector<OsTestLogLine> OsTestReadLog(const std::wstring& a_wsPath);
// The parsed lines whose text contains a_sText.
std::vector<OsTestLogLine> OsTestFindLines(const std::vector<OsTestLogLine>& a_lines, const std::string& a_sText);
