// Wide (UTF-16) bounded strings; sizes are in 16-bit units.
#include <cwchar>

#include "os_cosstring.h"
#include "os_cosstring_impl.h"
#include "os_log.h"

using namespace os_cosstring;

namespace {
inline const void* Ptr(const void* a_p) { return a_p; }
inline unsigned Size(std::size_t a_sizet) { return static_cast<unsigned>(a_sizet); }
}  // namespace

int os_cosstring::FormatBounded(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszFormat,
                                va_list a_valist) {
#if defined(_WIN32)
  const int l_i = _vsnwprintf(a_wszDst, a_sizetDst, a_wszFormat, a_valist);
#else
  const int l_i = std::vswprintf(a_wszDst, a_sizetDst, a_wszFormat, a_valist);
#endif
  if (l_i < 0 || static_cast<std::size_t>(l_i) >= a_sizetDst) {
    a_wszDst[0] = 0;
    return -1;
  }
  return l_i;
}

void SWcsCpy(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc) {
  OS_RETURN_IF(a_wszDst == nullptr || a_sizetDst == 0 || a_wszSrc == nullptr, OS_LOG_ASSERT,
               "SWcsCpy failed...%p %u %p", , Ptr(a_wszDst), Size(a_sizetDst), Ptr(a_wszSrc));
  if (!CopyBounded(a_wszDst, a_sizetDst, a_wszSrc, UNBOUNDED)) OS_LOGA("SWcsCpy failed...<%S>", a_wszSrc);
}

void SWcsNcpy(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, std::size_t a_sizetCount) {
  OS_RETURN_IF(a_wszDst == nullptr || a_sizetDst == 0 || a_wszSrc == nullptr || a_sizetCount == 0, OS_LOG_ASSERT,
               "SWcsNcpy failed...%p %u %p %u", , Ptr(a_wszDst), Size(a_sizetDst), Ptr(a_wszSrc), Size(a_sizetCount));
  if (!CopyBounded(a_wszDst, a_sizetDst, a_wszSrc, a_sizetCount)) OS_LOGA("SWcsNcpy failed...<%S>", a_wszSrc);
}

void SWcsCat(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc) {
  OS_RETURN_IF(a_wszDst == nullptr || a_sizetDst == 0 || a_wszSrc == nullptr, OS_LOG_ASSERT,
               "SWcsCat failed...%p %u %p", , Ptr(a_wszDst), Size(a_sizetDst), Ptr(a_wszSrc));
  if (!AppendBounded(a_wszDst, a_sizetDst, a_wszSrc, UNBOUNDED)) OS_LOGA("SWcsCat failed...<%S>", a_wszSrc);
}

void SWcsNcat(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc, std::size_t a_sizetCount) {
  OS_RETURN_IF(a_wszDst == nullptr || a_sizetDst == 0 || a_wszSrc == nullptr || a_sizetCount == 0, OS_LOG_ASSERT,
               "SWcsNcat failed...%p %u %p %u", , Ptr(a_wszDst), Size(a_sizetDst), Ptr(a_wszSrc), Size(a_sizetCount));
  if (!AppendBounded(a_wszDst, a_sizetDst, a_wszSrc, a_sizetCount)) OS_LOGA("SWcsNcat failed...<%S>", a_wszSrc);
}

int SWcsPrintf(wchar_t* a_wszDst, std::size_t a_sizetDst, const wchar_t* a_wszFormat, ...) {
  OS_RETURN_IF(a_wszDst == nullptr || a_sizetDst == 0 || a_wszFormat == nullptr, OS_LOG_ASSERT,
               "SWcsPrintf failed...%p %u %p", -1, Ptr(a_wszDst), Size(a_sizetDst), Ptr(a_wszFormat));
  va_list l_valist;
  va_start(l_valist, a_wszFormat);
  const int l_i = FormatBounded(a_wszDst, a_sizetDst, a_wszFormat, l_valist);
  va_end(l_valist);
  // The format is wide text: %S shows it in the narrow log line.
  if (l_i < 0) OS_LOGA("SWcsPrintf failed...<%S>", a_wszFormat);
  return l_i;
}

wchar_t* SWcsTok(wchar_t* a_wszStr, const wchar_t* a_wszDelimiters, wchar_t** a_pwszContext) {
  if (a_wszDelimiters == nullptr || a_pwszContext == nullptr) {
    OS_LOGA("SStrTok failed...%p %p", Ptr(a_wszDelimiters), Ptr(a_pwszContext));
    return nullptr;
  }
  return Tokenize(a_wszStr, a_wszDelimiters, a_pwszContext);
}
