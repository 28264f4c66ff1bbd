#include "os_test_log.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

bool OsTestWriteFile(const std::wstring& a_wsPath, const std::string& a_sBytes) {
  HANDLE const l_hfile =
      CreateFileW(a_wsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (l_hfile == INVALID_HANDLE_VALUE) return false;
  DWORD l_dwWritten = 0;
  const bool l_b = WriteFile(l_hfile, a_sBytes.data(), static_cast<DWORD>(a_sBytes.size()), &l_dwWritten, nullptr) &&
                   l_dwWritten == a_sBytes.size();
  CloseHandle(l_hfile);
  return l_b;
}

std::string OsTestReadFile(const std::wstring& a_wsPath) {
  HANDLE const l_hfile =
      CreateFileW(a_wsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (l_hfile == INVALID_HANDLE_VALUE) return std::string();
  std::string l_s;
  char l_acBuffer[65536];
  DWORD l_dwRead = 0;
  while (ReadFile(l_hfile, l_acBuffer, sizeof(l_acBuffer), &l_dwRead, nullptr) && l_dwRead > 0)
    l_s.append(l_acBuffer, l_dwRead);
  CloseHandle(l_hfile);
  return l_s;
}

std::vector<std::string> OsTestReadLines(const std::wstring& a_wsPath, bool* a_pbComplete) {
  const std::string l_s = OsTestReadFile(a_wsPath);
  std::vector<std::string> l_lines;
  bool l_bComplete = true;
  std::size_t l_sizetStart = 0;
  while (l_sizetStart < l_s.size()) {
    const std::size_t l_sizetEnd = l_s.find("\r\n", l_sizetStart);
    if (l_sizetEnd == std::string::npos) {
      l_bComplete = false;
      l_lines.push_back(l_s.substr(l_sizetStart));
      break;
    }
    std::string l_sLine = l_s.substr(l_sizetStart, l_sizetEnd - l_sizetStart);
    if (l_sLine.find_first_of("\r\n") != std::string::npos) l_bComplete = false;
    l_lines.push_back(std::move(l_sLine));
    l_sizetStart = l_sizetEnd + 2;
  }
  if (a_pbComplete != nullptr) *a_pbComplete = l_bComplete;
  return l_lines;
}

namespace {
bool AllDigits(const std::string& a_s) {
  if (a_s.empty()) return false;
  for (char l_c : a_s)
    if (!std::isdigit(static_cast<unsigned char>(l_c))) return false;
  return true;
}

// A right-aligned "%5d" field followed by one blank, starting at a_rsizet.
bool ReadNumber(const std::string& a_s, std::size_t& a_rsizet, long& a_rl) {
  const std::size_t l_sizetDigits = a_s.find_first_not_of(' ', a_rsizet);
  if (l_sizetDigits == std::string::npos) return false;
  const std::size_t l_sizetEnd = a_s.find(' ', l_sizetDigits);
  if (l_sizetEnd == std::string::npos) return false;
  const std::string l_sField = a_s.substr(a_rsizet, l_sizetEnd - a_rsizet);
  if (l_sField.size() < 5) return false;
  const std::size_t l_sizetFirst = l_sField.find_first_not_of(' ');
  if (l_sizetFirst == std::string::npos) return false;
  std::string l_sDigits = l_sField.substr(l_sizetFirst);
  if (l_sField.size() > 5 && l_sizetFirst != 0) return false;  // wider only when it needs to be
  const bool l_bNegative = !l_sDigits.empty() && l_sDigits[0] == '-';
  if (!AllDigits(l_bNegative ? l_sDigits.substr(1) : l_sDigits)) return false;
  a_rl = std::strtol(l_sDigits.c_str(), nullptr, 10);
  a_rsizet = l_sizetEnd + 1;
  return true;
}
}  // namespace

OsTestLogLine OsTestParseLogLine(const std::string& a_sLine) {
  OsTestLogLine l_line;
  l_line.m_sRaw = a_sLine;
  if (a_sLine.size() < 49 || a_sLine[5] != ' ' || a_sLine[15] != ' ' || a_sLine[48] != ' ') return l_line;
  l_line.m_sSequence = a_sLine.substr(0, 5);
  l_line.m_sTime = a_sLine.substr(6, 9);
  l_line.m_sModuleField = a_sLine.substr(16, 32);
  if (!AllDigits(l_line.m_sSequence) || !AllDigits(l_line.m_sTime)) return l_line;
  l_line.m_sModule = l_line.m_sModuleField;
  while (!l_line.m_sModule.empty() && l_line.m_sModule.back() == ' ') l_line.m_sModule.pop_back();
  std::size_t l_sizet = 49;
  if (!ReadNumber(a_sLine, l_sizet, l_line.m_lLine) || !ReadNumber(a_sLine, l_sizet, l_line.m_lError)) return l_line;
  if (l_sizet >= a_sLine.size() || a_sLine[l_sizet] != 'T') return l_line;
  const std::size_t l_sizetThreadEnd = a_sLine.find(' ', l_sizet);
  if (l_sizetThreadEnd == std::string::npos) return l_line;
  l_line.m_sThread = a_sLine.substr(l_sizet + 1, l_sizetThreadEnd - l_sizet - 1);
  if (!AllDigits(l_line.m_sThread) || l_line.m_sThread.size() < 4) return l_line;
  l_line.m_ullThread = std::strtoull(l_line.m_sThread.c_str(), nullptr, 10);
  l_sizet = l_sizetThreadEnd + 1;
  if (l_sizet >= a_sLine.size() || a_sLine[l_sizet] != 'S') return l_line;
  const std::size_t l_sizetStateEnd = a_sLine.find(' ', l_sizet);
  if (l_sizetStateEnd == std::string::npos) return l_line;
  const std::string l_sState = a_sLine.substr(l_sizet + 1, l_sizetStateEnd - l_sizet - 1);
  if (!AllDigits(l_sState)) return l_line;
  l_line.m_iState = std::atoi(l_sState.c_str());
  l_sizet = l_sizetStateEnd + 1;
  if (l_sizet + 1 >= a_sLine.size() || a_sLine[l_sizet] != 'V') return l_line;
  l_line.m_cMark = a_sLine[l_sizet + 1];
  // The blank after the mark is missing only when the message could not be formatted.
  if (l_sizet + 2 < a_sLine.size()) {
    if (a_sLine[l_sizet + 2] != ' ') return l_line;
    l_line.m_sText = a_sLine.substr(l_sizet + 3);
  }
  l_line.m_bValid = true;
  return l_line;
}

std::vector<OsTestLogLine> OsTestReadLog(const std::wstring& a_wsPath) {
  std::vector<OsTestLogLine> l_lines;
  for (const std::string& l_s : OsTestReadLines(a_wsPath)) l_lines.push_back(OsTestParseLogLine(l_s));
  return l_lines;
}

std::vector<OsTestLogLine> OsTestFindLines(const std::vector<OsTestLogLine>& a_lines, const std::string& a_sText) {
  std::vector<OsTestLogLine> l_found;
  for (const OsTestLogLine& l_line : a_lines)
    if (l_line.m_sText.find(a_sText) != std::string::npos) l_found.push_back(l_line);
  return l_found;
}
