// Path text: separators, composition, splitting and extensions. Pure text
// operations on the caller's buffers.
#include <cstdint>
#include <cstring>

#include "os_cosfile.h"
#include "os_cosstring.h"
#include "os_log.h"

namespace {

inline bool IsSeparator(char a_c) { return a_c == '/' || a_c == '\\'; }

inline char LowerAscii(char a_c) { return (a_c >= 'A' && a_c <= 'Z') ? static_cast<char>(a_c - 'A' + 'a') : a_c; }

// a_szPath ends with a_szExtension (four characters), compared without case.
bool EndsWithExtension(const char* a_szPath, const char* a_szExtension) {
  const std::size_t l_n = std::strlen(a_szPath);
  if (l_n < 4) return false;
  for (std::size_t l_i = 0; l_i < 4; ++l_i)
    if (LowerAscii(a_szPath[l_n - 4 + l_i]) != a_szExtension[l_i]) return false;
  return true;
}

void AddExtension(char* a_szPath, std::size_t a_sizetPath, const char* a_szExtension) {
  if (!EndsWithExtension(a_szPath, a_szExtension)) SStrCat(a_szPath, a_sizetPath, a_szExtension);
  OsFilePathNormalize(a_szPath, '\\');
}

}  // namespace

char* OsFilePathNormalize(char* a_szPath, char a_cSeparator) {
  if (a_szPath == nullptr) return nullptr;
  std::size_t l_iRead = 0;
  std::size_t l_iWrite = 0;
  // A UNC prefix keeps its two backslashes.
  if (a_szPath[0] == '\\' && a_szPath[1] == '\\') {
    l_iRead = l_iWrite = 2;
    while (IsSeparator(a_szPath[l_iRead])) ++l_iRead;
  }
  while (a_szPath[l_iRead] != 0) {
    if (IsSeparator(a_szPath[l_iRead])) {
      while (IsSeparator(a_szPath[l_iRead])) ++l_iRead;
      a_szPath[l_iWrite++] = a_cSeparator;
    } else {
      a_szPath[l_iWrite++] = a_szPath[l_iRead++];
    }
  }
  a_szPath[l_iWrite] = 0;
  return a_szPath;
}

bool OsFilePathCopy(char* a_szDest, std::size_t a_sizetDest, const char* a_szSource) {
  if (a_szDest == nullptr || a_szSource == nullptr) {
    OS_LOGA("null argument...%p %d", static_cast<void*>(a_szDest),
            static_cast<int>(reinterpret_cast<std::intptr_t>(a_szSource)));
    return false;
  }
  const std::size_t l_n = std::strlen(a_szSource);
  if (a_sizetDest < l_n + 1) {
    OS_LOGA("buffer overflow...%u <%s>", static_cast<unsigned>(a_sizetDest), a_szSource);
    if (a_sizetDest != 0) a_szDest[0] = 0;
    return false;
  }
  std::memmove(a_szDest, a_szSource, l_n + 1);
  OsFilePathNormalize(a_szDest, '\\');
  return true;
}

bool OsFilePathAppend(char* a_szPath, std::size_t a_sizetPath, const char* a_szTail) {
  if (a_szPath == nullptr || a_szTail == nullptr) {
    OS_LOGA("null argument...%p %d", static_cast<void*>(a_szPath),
            static_cast<int>(reinterpret_cast<std::intptr_t>(a_szTail)));
    return false;
  }
  if (a_szTail[0] != 0 && a_szTail[1] == ':') {
    OS_LOGI("PathAppend stripping drive letter...<%s>", a_szTail);
    a_szTail += 2;
  }
  // The whole result must fit: a part of a path names another place. A
  // path that ends in a separator (a root), or none, takes the tail without
  // its leading separators: two of them would name a server.
  const std::size_t l_nPath = std::strlen(a_szPath);
  if (l_nPath == 0 || IsSeparator(a_szPath[l_nPath - 1]))
    while (IsSeparator(*a_szTail)) ++a_szTail;
  const std::size_t l_nTail = std::strlen(a_szTail);
  const std::size_t l_nSeparator = l_nPath > 0 && IsSeparator(a_szPath[l_nPath - 1]) ? 0 : 1;
  if (a_sizetPath < l_nPath + l_nSeparator + l_nTail + 1) {
    OS_LOGA("buffer overflow...%u <%s>", static_cast<unsigned>(a_sizetPath), a_szTail);
    if (a_sizetPath != 0) a_szPath[0] = 0;
    return false;
  }
  if (l_nSeparator != 0) a_szPath[l_nPath] = '\\';
  std::memcpy(a_szPath + l_nPath + l_nSeparator, a_szTail, l_nTail + 1);
  OsFilePathNormalize(a_szPath, '\\');
  return true;
}

bool OsFilePathJoin(char* a_szOut, std::size_t a_sizetOut, const char* a_szA, const char* a_szB) {
  char l_sz[OS_PATH_SIZE];
  // Nothing joined to a part is a path at the drive's root: refused.
  const bool l_bFits = a_szA != nullptr && a_szA[0] != 0 && OsFilePathCopy(l_sz, sizeof(l_sz), a_szA) &&
                       OsFilePathAppend(l_sz, sizeof(l_sz), a_szB) && OsFilePathCopy(a_szOut, a_sizetOut, l_sz);
  if (!l_bFits && a_szOut != nullptr && a_sizetOut != 0) a_szOut[0] = 0;
  return l_bFits;
}

void OsFilePathSplit(char* a_szPath, std::size_t* a_psizetSeparator, char** a_pszName) {
  if (a_szPath == nullptr) return;
  OsFilePathNormalize(a_szPath, '\\');
  char* const l_psz = std::strrchr(a_szPath, '\\');
  if (a_psizetSeparator != nullptr)
    *a_psizetSeparator = l_psz != nullptr ? static_cast<std::size_t>(l_psz - a_szPath) : 0;
  if (a_pszName != nullptr) *a_pszName = l_psz != nullptr ? l_psz + 1 : a_szPath;
}

std::size_t OsFilePathStripTrailing(char* a_szPath) {
  if (a_szPath == nullptr) return 0;
  OsFilePathNormalize(a_szPath, '\\');
  const std::size_t l_n = std::strlen(a_szPath);
  if (l_n > 0 && a_szPath[l_n - 1] == '\\') a_szPath[l_n - 1] = 0;
  return l_n;
}

void OsFileAddExeExtension(char* a_szPath, std::size_t a_sizetPath) {
  OS_RETURN_IF_NULL(a_szPath, OS_LOG_ASSERT, "a_szPath is null...", );
  AddExtension(a_szPath, a_sizetPath, ".exe");
}

void OsFileAddDllExtension(char* a_szPath, std::size_t a_sizetPath) {
  OS_RETURN_IF_NULL(a_szPath, OS_LOG_ASSERT, "a_szPath is null...", );
  AddExtension(a_szPath, a_sizetPath, ".dll");
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
