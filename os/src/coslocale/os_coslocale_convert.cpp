// The free UTF-8 / UTF-16 conversions: the ones every path handed to the
// system goes through. They read no language state.
#include <climits>
#include <cstring>

#include "os_coslocale.h"
#include "os_cosstring.h"
#include "os_log.h"
#include "os_win.h"

namespace {
// The system calls count in int; larger destinations are used up to INT_MAX.
int RoomOf(std::size_t a_sizetDst) {
  const std::size_t l_sizetRoom = a_sizetDst - 1;
  return l_sizetRoom > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(l_sizetRoom);
}
}  // namespace

int CopyUtf8FromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, int a_iSrcLength) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst < 2 || a_wszSrc == nullptr || a_iSrcLength < -1, OS_LOG_ASSERT,
               "CopyUtf8FromUnicode bad arg...%p %u %p %d", 0, static_cast<const void*>(a_szDst),
               static_cast<unsigned>(a_sizetDst), static_cast<const void*>(a_wszSrc), a_iSrcLength);
  std::memset(a_szDst, 0, a_sizetDst);
  if (a_iSrcLength == 0) return 1;
  // A terminated text converts with its terminator; a counted one gets its
  // terminator here, so it has one unit less of room.
  const int l_iRoom = a_iSrcLength == -1 ? RoomOf(a_sizetDst) : RoomOf(a_sizetDst) - 1;
  const int l_i =
      l_iRoom > 0 ? WideCharToMultiByte(CP_UTF8, 0, a_wszSrc, a_iSrcLength, a_szDst, l_iRoom, nullptr, nullptr) : 0;
  if (l_i <= 0) {
    a_szDst[0] = 0;
    OS_LOGA("WideCharToMultiByte failed...");
    return 0;
  }
  if (a_iSrcLength == -1) return l_i;
  a_szDst[l_i] = 0;
  return l_i + 1;
}

int CopyStringFromUtf8(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc) {
  OS_RETURN_IF(a_wszDst == nullptr || a_sizetDst < 2 || a_szSrc == nullptr, OS_LOG_ASSERT,
               "CopyStringFromUtf8 bad arg...%p %u %p", 0, static_cast<const void*>(a_wszDst),
               static_cast<unsigned>(a_sizetDst), static_cast<const void*>(a_szSrc));
  std::memset(a_wszDst, 0, a_sizetDst * sizeof(wchar_t));
  const int l_i = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, a_szSrc, -1, a_wszDst, RoomOf(a_sizetDst));
  if (l_i <= 0) {
    a_wszDst[0] = 0;
    OS_LOGA("CopyStringFromUtf8 failed <%s>", a_szSrc);
    return 0;
  }
  return l_i;
}

int CopyStringFromString(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  OS_RETURN_IF(a_szDst == nullptr || a_sizetDst < 2 || a_szSrc == nullptr, OS_LOG_ASSERT,
               "CopyStringFromString bad arg...%p %u %p", 0, static_cast<const void*>(a_szDst),
               static_cast<unsigned>(a_sizetDst), static_cast<const void*>(a_szSrc));
  std::memset(a_szDst, 0, a_sizetDst);
  // The same room as the conversions: the last byte stays 0.
  SStrCpy(a_szDst, a_sizetDst - 1, a_szSrc);
  if (a_szDst[0] == 0 && a_szSrc[0] != 0) return 0;
  return static_cast<int>(std::strlen(a_szDst)) + 1;
}
