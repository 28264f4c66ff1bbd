// The one bounded-string function that asks the system.
#include "os_cosstring.h"
#include "os_log.h"
#include "os_win.h"

int StrUtf8WideLength(const char* a_szText) {
  if (a_szText == nullptr || a_szText[0] == 0) return 0;
  const int l_i = MultiByteToWideChar(CP_UTF8, 0, a_szText, -1, nullptr, 0);
  if (l_i <= 0) {
    OS_LOGA("MultiByteToWideChar failed <%s>", a_szText);
    return 0;
  }
  return l_i - 1;
}
