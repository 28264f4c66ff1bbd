// Path and time conversions shared by the file module.
#include <cstring>

#include "os_coslocale.h"
#include "os_cosfile_impl.h"
#include "os_cosstring.h"
#include "os_log.h"

static_assert(sizeof(OsTimeRecord) == sizeof(SYSTEMTIME), "the time record has the system time's layout");

bool OsFileToWide(const char* a_szPath, wchar_t (&a_wsz)[OS_WPATH_SIZE]) {
  a_wsz[0] = 0;
  if (a_szPath == nullptr || SStrLen(a_szPath, OS_PATH_SIZE) < 0) return false;
  if (a_szPath[0] == 0) return true;
  return CopyStringFromUtf8(a_wsz, OS_WPATH_SIZE, a_szPath) > 0;
}

bool OsFileFromWide(const wchar_t* a_wsz, char* a_sz, std::size_t a_sizet) {
  if (a_sizet == 0) return false;
  a_sz[0] = 0;
  if (a_wsz[0] == 0) return true;
  // The room rule needs one byte more than the longest text.
  char l_sz[OS_PATH_SIZE + 1];
  if (CopyUtf8FromUnicode(l_sz, sizeof(l_sz), a_wsz, -1) <= 0) return false;
  SStrCpy(a_sz, a_sizet, l_sz);
  return a_sz[0] != 0;
}

void OsFileTimeToRecord(const FILETIME& a_filetime, OsTimeRecord* a_ptimerecord) {
  SYSTEMTIME l_st = {};
  FileTimeToSystemTime(&a_filetime, &l_st);
  std::memcpy(a_ptimerecord, &l_st, sizeof(l_st));
}

bool OsFileTimeFromRecord(const OsTimeRecord& a_timerecord, FILETIME* a_pfiletime) {
  SYSTEMTIME l_st;
  std::memcpy(&l_st, &a_timerecord, sizeof(l_st));
  return SystemTimeToFileTime(&l_st, a_pfiletime) != FALSE;
}
