// Conversions between the current language's code page and UTF-16.
//
// The room rule: the system is given room for size - 1 characters and the
// terminated input is converted with its terminator, so a text of at most
// size - 2 characters fits and the destination's last character stays 0.
#include "os_coslocale_impl.h"
#include "os_cosmem.h"
#include "os_log.h"
#include "os_win.h"

namespace {

// Characters the system may write into a destination of a_sizet, or 0.
int Room(std::size_t a_sizet) {
  if (a_sizet < 2) return 0;
  return a_sizet - 1 > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(a_sizet - 1);
}

template <class T>
void Clear(T* a_p, std::size_t a_sizet) {
  if (a_p != nullptr && a_sizet != 0) {
    a_p[0] = 0;
    a_p[a_sizet - 1] = 0;
  }
}

int ToWide(unsigned a_uCodePage, wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc) {
  const int l_iRoom = Room(a_sizetDst);
  if (l_iRoom == 0 || a_szSrc == nullptr) return 0;
  const int l_i = MultiByteToWideChar(a_uCodePage, 0, a_szSrc, -1, a_wszDst, l_iRoom);
  if (l_i <= 0) a_wszDst[0] = 0;
  return l_i > 0 ? l_i : 0;
}

int FromWide(unsigned a_uCodePage, char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc) {
  const int l_iRoom = Room(a_sizetDst);
  if (l_iRoom == 0 || a_wszSrc == nullptr) return 0;
  const int l_i = WideCharToMultiByte(a_uCodePage, 0, a_wszSrc, -1, a_szDst, l_iRoom, nullptr, nullptr);
  if (l_i <= 0) a_szDst[0] = 0;
  return l_i > 0 ? l_i : 0;
}

// A temporary UTF-16 buffer of the destination's size, from the manager.
class CWideBuffer {
 public:
  explicit CWideBuffer(std::size_t a_sizet)
      : m_sizet(a_sizet),
        m_pwsz(a_sizet != 0 && a_sizet <= UINT32_MAX / sizeof(wchar_t)
                   ? static_cast<wchar_t*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(a_sizet * sizeof(wchar_t)), nullptr))
                   : nullptr) {}
  ~CWideBuffer() {
    if (m_pwsz != nullptr) OS_MEM_FREE(m_pwsz);
  }
  CWideBuffer(const CWideBuffer&) = delete;
  CWideBuffer& operator=(const CWideBuffer&) = delete;
  wchar_t* Get() const { return m_pwsz; }
  std::size_t Size() const { return m_sizet; }

 private:
  std::size_t m_sizet;
  wchar_t* m_pwsz;
};

}  // namespace

// A language without an ANSI code page exchanges its 8-bit text as UTF-8.
unsigned COsLocale::CodePage() const {
  const unsigned l_u = s_oslanguagelookup[m_eoslanguage].m_uCodePage;
  return l_u == OS_CODEPAGE_NONE ? CP_UTF8 : l_u;
}

int COsLocale::CopyUnicodeFromString(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc) {
  Clear(a_wszDst, a_sizetDst);
  if (a_wszDst == nullptr || a_szSrc == nullptr || a_szSrc[0] == 0) return 0;
  const int l_i = ToWide(CodePage(), a_wszDst, a_sizetDst, a_szSrc);
  if (l_i == 0) OS_LOGA("CopyUnicodeFromString failed <%s>", a_szSrc);
  return l_i;
}

int COsLocale::CopyStringFromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc) {
  Clear(a_szDst, a_sizetDst);
  if (a_szDst == nullptr || a_wszSrc == nullptr || a_wszSrc[0] == 0) return 0;
  const int l_i = FromWide(CodePage(), a_szDst, a_sizetDst, a_wszSrc);
  if (l_i == 0) OS_LOGE("CopyStringFromUnicode failed <%S>", a_wszSrc);
  return l_i;
}

int COsLocale::CopyUtf8FromString(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  Clear(a_szDst, a_sizetDst);
  if (a_szDst == nullptr || a_szSrc == nullptr || a_szSrc[0] == 0) return 0;
  CWideBuffer l_wide(a_sizetDst);
  OS_RETURN_IF_NULL(l_wide.Get(), OS_LOG_ASSERT, "calloc failed...", 0);
  int l_i = ToWide(CodePage(), l_wide.Get(), l_wide.Size(), a_szSrc);
  if (l_i != 0) l_i = FromWide(CP_UTF8, a_szDst, a_sizetDst, l_wide.Get());
  if (l_i == 0) OS_LOGA("WideCharToMultiByte overflow...<%s>", a_szSrc);
  return l_i;
}

int COsLocale::CopyStringFromUtf8String(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  Clear(a_szDst, a_sizetDst);
  if (a_szDst == nullptr || a_szSrc == nullptr || a_szSrc[0] == 0) return 0;
  CWideBuffer l_wide(a_sizetDst);
  OS_RETURN_IF_NULL(l_wide.Get(), OS_LOG_ASSERT, "calloc failed...", 0);
  int l_i = ToWide(CP_UTF8, l_wide.Get(), l_wide.Size(), a_szSrc);
  if (l_i != 0) l_i = FromWide(CodePage(), a_szDst, a_sizetDst, l_wide.Get());
  if (l_i == 0) OS_LOGA("MultiByteToWideChar overflow...<%s>", a_szSrc);
  return l_i;
}

int COsLocale::CopyMultibyteFromUnicode(char* a_szDst, std::size_t a_sizetDst, const wchar_t* a_wszSrc) {
  Clear(a_szDst, a_sizetDst);
  if (a_szDst == nullptr || a_wszSrc == nullptr) return 0;
  const int l_i = FromWide(CodePage(), a_szDst, a_sizetDst, a_wszSrc);
  if (l_i == 0) OS_LOGA("CopyMultibyteFromUnicode failed <%S>", a_wszSrc);
  return l_i;
}

int COsLocale::CopyUnicodeFromMultibyte(wchar_t* a_wszDst, std::size_t a_sizetDst, const char* a_szSrc) {
  Clear(a_wszDst, a_sizetDst);
  if (a_wszDst == nullptr || a_szSrc == nullptr) return 0;
  const int l_i = ToWide(CodePage(), a_wszDst, a_sizetDst, a_szSrc);
  if (l_i == 0) OS_LOGA("CopyUnicodeFromMultibyte failed <%s>", a_szSrc);
  return l_i;
}
