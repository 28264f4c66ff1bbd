// The stored layouts of split streams and packages, the rules that decide
// what a package holds and how a file is coded, the name check of the
// extractor, the progress record and the dump text.
#include <cstdarg>
#include <cstring>
#include <initializer_list>

#include "os_cosfile_package_impl.h"
#include "os_cosstring.h"

namespace {

thread_local char s_szLastError[512];

bool Contains(const char* a_szText, const char* a_szPart) { return std::strstr(a_szText, a_szPart) != nullptr; }

void Lower(char* a_szDst, std::size_t a_sizetDst, const char* a_szSrc) {
  std::size_t l_sizet = 0;
  for (; a_szSrc[l_sizet] != '\0' && l_sizet + 1 < a_sizetDst; ++l_sizet) {
    const char l_c = a_szSrc[l_sizet];
    a_szDst[l_sizet] = l_c >= 'A' && l_c <= 'Z' ? static_cast<char>(l_c - 'A' + 'a') : l_c;
  }
  a_szDst[l_sizet] = '\0';
}

void PutTime(std::uint8_t* a_pu8, const OsTimeRecord& a_ostimerecord) {
  const std::uint16_t l_au16[8] = {a_ostimerecord.m_u16Year,      a_ostimerecord.m_u16Month,
                                   a_ostimerecord.m_u16DayOfWeek, a_ostimerecord.m_u16Day,
                                   a_ostimerecord.m_u16Hour,      a_ostimerecord.m_u16Minute,
                                   a_ostimerecord.m_u16Second,    a_ostimerecord.m_u16Millisecond};
  for (int l_i = 0; l_i < 8; ++l_i) {
    a_pu8[2 * l_i] = static_cast<std::uint8_t>(l_au16[l_i]);
    a_pu8[2 * l_i + 1] = static_cast<std::uint8_t>(l_au16[l_i] >> 8);
  }
}

void GetTime(const std::uint8_t* a_pu8, OsTimeRecord* a_postimerecord) {
  std::uint16_t l_au16[8];
  for (int l_i = 0; l_i < 8; ++l_i)
    l_au16[l_i] = static_cast<std::uint16_t>(a_pu8[2 * l_i] | (a_pu8[2 * l_i + 1] << 8));
  *a_postimerecord = {l_au16[0], l_au16[1], l_au16[2], l_au16[3], l_au16[4], l_au16[5], l_au16[6], l_au16[7]};
}

// Reads a_u32Length bytes of a layout into a cleared image of its full size.
template <std::uint32_t t_u32Size>
void Image(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, std::uint8_t (&a_au8)[t_u32Size]) {
  std::memset(a_au8, 0, t_u32Size);
  std::memcpy(a_au8, a_pu8, a_u32Length < t_u32Size ? a_u32Length : t_u32Size);
}

bool IsSeparator(char a_c) { return a_c == '\\' || a_c == '/'; }

// Names the system takes for devices in any folder, with or without an
// extension ("nul.txt"), whatever their case.
bool IsDeviceName(const char* a_szComponent, std::size_t a_sizetLength) {
  // The base name is what comes before the first dot, without the spaces
  // the system drops at its end ("CON   .txt" is CON).
  std::size_t l_sizet = 0;
  while (l_sizet < a_sizetLength && a_szComponent[l_sizet] != '.') ++l_sizet;
  while (l_sizet > 0 && a_szComponent[l_sizet - 1] == ' ') --l_sizet;
  if (l_sizet < 3 || l_sizet > 7) return false;
  char l_sz[8];
  for (std::size_t l_i = 0; l_i < l_sizet; ++l_i) {
    const char l_c = a_szComponent[l_i];
    l_sz[l_i] = l_c >= 'a' && l_c <= 'z' ? static_cast<char>(l_c - 'a' + 'A') : l_c;
  }
  l_sz[l_sizet] = '\0';
  for (const char* l_sz3 : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (std::strcmp(l_sz, l_sz3) == 0) return true;
  if (std::strncmp(l_sz, "COM", 3) == 0 || std::strncmp(l_sz, "LPT", 3) == 0) {
    // COM0..COM9, and the superscript digits (UTF-8 C2 B9, C2 B2, C2 B3).
    if (l_sizet == 4 && l_sz[3] >= '0' && l_sz[3] <= '9') return true;
    if (l_sizet == 5 && static_cast<unsigned char>(l_sz[3]) == 0xC2 &&
        (static_cast<unsigned char>(l_sz[4]) == 0xB9 || static_cast<unsigned char>(l_sz[4]) == 0xB2 ||
         static_cast<unsigned char>(l_sz[4]) == 0xB3))
      return true;
  }
  return false;
}

std::int64_t DaysFromCivil(std::int64_t a_i64Year, unsigned a_uMonth, unsigned a_uDay) {
  a_i64Year -= a_uMonth <= 2;
  const std::int64_t l_i64Era = (a_i64Year >= 0 ? a_i64Year : a_i64Year - 399) / 400;
  const unsigned l_uYoe = static_cast<unsigned>(a_i64Year - l_i64Era * 400);
  const unsigned l_uDoy = (153 * (a_uMonth + (a_uMonth > 2 ? -3 : 9)) + 2) / 5 + a_uDay - 1;
  const unsigned l_uDoe = l_uYoe * 365 + l_uYoe / 4 - l_uYoe / 100 + l_uDoy;
  return l_i64Era * 146097 + static_cast<std::int64_t>(l_uDoe) - 719468;
}

}  // namespace

// ---- layouts ----

void OsSplitHeaderEncode(const OsSplitHeader& a_ossplitheader, std::uint8_t (&a_au8)[OS_SPLIT_HEADER_SIZE]) {
  std::memcpy(a_au8, a_ossplitheader.m_au8Tag, 8);
  OsPkgPut32(a_au8 + 8, a_ossplitheader.m_u32HeaderSize);
  OsPkgPut32(a_au8 + 12, a_ossplitheader.m_u32PieceHeaderSize);
  OsPkgPut64(a_au8 + 16, a_ossplitheader.m_u64FileSize);
  OsPkgPut32(a_au8 + 24, a_ossplitheader.m_u32PieceSize);
}

void OsSplitHeaderDecode(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, OsSplitHeader* a_possplitheader) {
  std::uint8_t l_au8[OS_SPLIT_HEADER_SIZE];
  Image(a_pu8, a_u32Length, l_au8);
  std::memcpy(a_possplitheader->m_au8Tag, l_au8, 8);
  a_possplitheader->m_u32HeaderSize = OsPkgGet32(l_au8 + 8);
  a_possplitheader->m_u32PieceHeaderSize = OsPkgGet32(l_au8 + 12);
  a_possplitheader->m_u64FileSize = OsPkgGet64(l_au8 + 16);
  a_possplitheader->m_u32PieceSize = OsPkgGet32(l_au8 + 24);
}

void OsPackageHeaderEncode(const OsPackageHeader& a_ospackageheader, std::uint8_t (&a_au8)[OS_PACKAGE_HEADER_SIZE]) {
  std::memcpy(a_au8, a_ospackageheader.m_au8Tag, 8);
  OsPkgPut32(a_au8 + 8, a_ospackageheader.m_u32OsFilePackageHeader);
  OsPkgPut32(a_au8 + 12, a_ospackageheader.m_u32OsFilePackageChunk);
  OsPkgPut64(a_au8 + 16, a_ospackageheader.m_u64TotalOriginalBytes);
}

void OsPackageHeaderDecode(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, OsPackageHeader* a_pospackageheader) {
  std::uint8_t l_au8[OS_PACKAGE_HEADER_SIZE];
  Image(a_pu8, a_u32Length, l_au8);
  std::memcpy(a_pospackageheader->m_au8Tag, l_au8, 8);
  a_pospackageheader->m_u32OsFilePackageHeader = OsPkgGet32(l_au8 + 8);
  a_pospackageheader->m_u32OsFilePackageChunk = OsPkgGet32(l_au8 + 12);
  a_pospackageheader->m_u64TotalOriginalBytes = OsPkgGet64(l_au8 + 16);
}

void OsPackageRecordEncode(const OsPackageRecord& a_ospackagerecord, std::uint8_t (&a_au8)[OS_PACKAGE_RECORD_SIZE]) {
  OsPkgPut64(a_au8, a_ospackagerecord.m_u64Size);
  std::memcpy(a_au8 + 8, a_ospackagerecord.m_szFilename, OS_PACKAGE_NAME_SIZE);
  OsPkgPut32(a_au8 + 264, a_ospackagerecord.m_u32OsFileType);
  OsPkgPut32(a_au8 + 268, a_ospackagerecord.m_u32OsFileAccess);
  PutTime(a_au8 + 272, a_ospackagerecord.m_ostimerecordAccessed);
  PutTime(a_au8 + 288, a_ospackagerecord.m_ostimerecordModified);
}

void OsPackageRecordDecode(const std::uint8_t* a_pu8, std::uint32_t a_u32Length, OsPackageRecord* a_pospackagerecord) {
  std::uint8_t l_au8[OS_PACKAGE_RECORD_SIZE];
  Image(a_pu8, a_u32Length, l_au8);
  a_pospackagerecord->m_u64Size = OsPkgGet64(l_au8);
  std::memcpy(a_pospackagerecord->m_szFilename, l_au8 + 8, OS_PACKAGE_NAME_SIZE);
  a_pospackagerecord->m_u32OsFileType = OsPkgGet32(l_au8 + 264);
  a_pospackagerecord->m_u32OsFileAccess = OsPkgGet32(l_au8 + 268);
  GetTime(l_au8 + 272, &a_pospackagerecord->m_ostimerecordAccessed);
  GetTime(l_au8 + 288, &a_pospackagerecord->m_ostimerecordModified);
}

// ---- rules ----

EOSCOMPRESS OsSplitChooseMethod(const char* a_szPath, std::uint64_t a_u64Size, EOSCOMPRESS a_eoscompress) {
  if (a_eoscompress != OS_COMPRESS_AUTOMATIC) return a_eoscompress;
  char l_szLower[OS_PATH_SIZE * 2];
  Lower(l_szLower, sizeof(l_szLower), a_szPath);
  const char* const l_szDot = std::strrchr(l_szLower, '.');
  if (l_szDot == nullptr) return OS_COMPRESS_RLE;
  bool l_bText = false;
  for (const char* l_szExtension : {".ini", ".log", ".profile", ".txt", ".xml"})
    l_bText = l_bText || std::strcmp(l_szDot, l_szExtension) == 0;
  if (!l_bText) return OS_COMPRESS_RLE;
  if (std::strcmp(l_szDot, ".log") == 0 && (Contains(l_szLower, "trace_") || Contains(l_szLower, "dsp")))
    return OS_COMPRESS_RLE;
  return a_u64Size <= 0x8000000 ? OS_COMPRESS_BWT : OS_COMPRESS_RLE;
}

bool OsPackageSkipFile(const char* a_szName, const char* a_szFullPath, bool a_bImages) {
  char l_szLower[OS_PATH_SIZE * 2];
  Lower(l_szLower, sizeof(l_szLower), a_szName);
  if (std::strcmp(l_szLower, "thumbs.db") == 0 || Contains(a_szName, ".nolog")) return true;
  if (Contains(a_szFullPath, "pondo/tmp") || Contains(a_szFullPath, "pondo\\tmp")) return true;
  return !a_bImages && (Contains(l_szLower, ".jpg") || Contains(l_szLower, ".tif"));
}

bool OsPackageNoWait(const char* a_szFullPath) {
  for (const char* l_szMark : {".nolog", ".lock", ".socket", ".xml", "ui.log", "online"})
    if (Contains(a_szFullPath, l_szMark)) return true;
  return false;
}

const char* OsPackageNameRefusal(const std::uint8_t* a_pu8Name, bool a_bDirectory) {
  const void* const l_pvEnd = std::memchr(a_pu8Name, 0, OS_PACKAGE_NAME_SIZE);
  if (l_pvEnd == nullptr) return "the name is not terminated";
  const char* const l_szName = reinterpret_cast<const char*>(a_pu8Name);
  if (!a_bDirectory && OsPackageNameIsRoot(l_szName)) return "a file without a name";
  // A file's last part names the file: "a\." would be the folder a.
  const char* l_szLeaf = l_szName;
  for (const char* l_sz = l_szName; *l_sz != '\0'; ++l_sz)
    if (IsSeparator(*l_sz)) l_szLeaf = l_sz + 1;
  if (!a_bDirectory && (l_szLeaf[0] == '\0' || std::strcmp(l_szLeaf, ".") == 0)) return "a file without a name";
  if (l_szName[0] == '\0') return nullptr;
  if (IsSeparator(l_szName[0])) return "the name begins with a separator";
  for (const char* l_sz = l_szName; *l_sz != '\0'; ++l_sz) {
    const unsigned char l_uc = static_cast<unsigned char>(*l_sz);
    if (l_uc == ':') return "the name holds a drive or a stream";
    if (l_uc < 0x20 || std::strchr("<>\"|?*", l_uc) != nullptr) return "the name holds a character names cannot hold";
  }
  for (const char* l_szComponent = l_szName; *l_szComponent != '\0';) {
    std::size_t l_sizet = 0;
    while (l_szComponent[l_sizet] != '\0' && !IsSeparator(l_szComponent[l_sizet])) ++l_sizet;
    if (l_sizet == 2 && l_szComponent[0] == '.' && l_szComponent[1] == '.') return "the name climbs out with ..";
    // The system drops trailing dots and spaces (".. " is "..", " " is
    // nothing): a name that ends so is not the name that would be created.
    // Only "." itself stays, the directory it stands in.
    const bool l_bDot = l_sizet == 1 && l_szComponent[0] == '.';
    if (l_sizet > 0 && !l_bDot && (l_szComponent[l_sizet - 1] == '.' || l_szComponent[l_sizet - 1] == ' '))
      return "a part of the name ends with a dot or a space";
    if (l_sizet > 0 && IsDeviceName(l_szComponent, l_sizet)) return "the name is a device";
    l_szComponent += l_sizet;
    while (IsSeparator(*l_szComponent)) ++l_szComponent;
  }
  return nullptr;
}

bool OsPackageNameIsRoot(const char* a_szName) {
  for (const char* l_sz = a_szName; *l_sz != '\0'; ++l_sz)
    if (*l_sz != '.' && !IsSeparator(*l_sz)) return false;
  return true;
}

bool OsPackageRecordToUnix(const OsTimeRecord& a_ostimerecord, std::int64_t* a_pi64Seconds,
                           std::uint32_t* a_pu32Nanoseconds) {
  const OsTimeRecord& l_r = a_ostimerecord;
  static constexpr unsigned s_auDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (l_r.m_u16Year < 1601 || l_r.m_u16Month < 1 || l_r.m_u16Month > 12) return false;
  const unsigned l_uYear = l_r.m_u16Year;
  const bool l_bLeap = l_uYear % 4 == 0 && (l_uYear % 100 != 0 || l_uYear % 400 == 0);
  const unsigned l_uDays = s_auDays[l_r.m_u16Month - 1] + (l_r.m_u16Month == 2 && l_bLeap ? 1 : 0);
  if (l_r.m_u16Day < 1 || l_r.m_u16Day > l_uDays || l_r.m_u16Hour > 23 || l_r.m_u16Minute > 59 ||
      l_r.m_u16Second > 59 || l_r.m_u16Millisecond > 999)
    return false;
  const std::int64_t l_i64Days = DaysFromCivil(l_r.m_u16Year, l_r.m_u16Month, l_r.m_u16Day);
  *a_pi64Seconds = l_i64Days * 86400 + l_r.m_u16Hour * 3600 + l_r.m_u16Minute * 60 + l_r.m_u16Second;
  *a_pu32Nanoseconds = static_cast<std::uint32_t>(l_r.m_u16Millisecond) * 1000000u;
  return true;
}

// ---- progress and the last error ----

void OsFilePackageProgressInit(OsFilePackageProgress* a_posfilepackageprogress) {
  std::memset(a_posfilepackageprogress, 0, sizeof(*a_posfilepackageprogress));
  a_posfilepackageprogress->m_u32Size = sizeof(*a_posfilepackageprogress);
}

EOSSTS OsFilePackageNotify(OsFilePackageCallback a_pfncallback, OsFilePackageProgress* a_posfilepackageprogress,
                           const char* a_szName, std::uint64_t a_u64FileSize, std::uint64_t a_u64CurrentStep,
                           std::uint64_t a_u64Add) {
  if (a_pfncallback == nullptr || a_posfilepackageprogress == nullptr) return OS_STS_SUCCESS;
  OsFilePackageProgress* const l_p = a_posfilepackageprogress;
  SStrNcpy(l_p->m_szName, sizeof(l_p->m_szName), a_szName, sizeof(l_p->m_szName) - 1);
  l_p->m_u64FileSize = a_u64FileSize;
  l_p->m_u64CurrentStep = a_u64CurrentStep;
  l_p->m_u64RunningCount += a_u64Add;
  const EOSSTS l_eossts = a_pfncallback(l_p);
  if (l_eossts != OS_STS_SUCCESS) {
    OS_LOGX(OS_LOG_INFO, "Cancel requested...<%s>", a_szName);
    OsFilePackageNoteError("Cancel requested...<%s>", a_szName);
  }
  return l_eossts;
}

void OsFilePackageNoteError(const char* a_szFormat, ...) {
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  if (SStrVprintf(s_szLastError, sizeof(s_szLastError), a_szFormat, l_valist) < 0) s_szLastError[0] = '\0';
  va_end(l_valist);
}

const char* OsFilePackageLastError() { return s_szLastError; }
void OsFilePackageClearError() { s_szLastError[0] = '\0'; }

// ---- the dump ----

EOSSTS COsPackageDump::Print(const char* a_szFormat, ...) {
  char l_sz[1024];
  va_list l_valist;
  va_start(l_valist, a_szFormat);
  const int l_i = SStrVprintf(l_sz, sizeof(l_sz), a_szFormat, l_valist);
  va_end(l_valist);
  if (l_i < 0) return OS_STS_FAIL;
  return m_posbytesink->Write(l_sz, static_cast<std::uint32_t>(l_i));
}

EOSSTS COsPackageDump::Begin(const char* a_szPackage) { return Print("Package: %s\r\n\r\n", a_szPackage); }

EOSSTS COsPackageDump::Common(const OsPackageHeader& a_ospackageheader) {
  return Print(
      "Package Common Header\r\n au8Tag...................%8.8s\r\n u32OsFilePackageHeader...%u\r\n"
      " u32OsFilePackageChunk....%u\r\n",
      reinterpret_cast<const char*>(a_ospackageheader.m_au8Tag), a_ospackageheader.m_u32OsFilePackageHeader,
      a_ospackageheader.m_u32OsFilePackageChunk);
}

EOSSTS COsPackageDump::Header(const OsPackageHeader& a_ospackageheader) {
  return Print(
      "\r\nPackage Header\r\n au8Tag...................%8.8s\r\n u32OsFilePackageHeader...%u\r\n"
      " u32OsFilePackageChunk....%u\r\n u64TotalOriginalBytes....%llu\r\n",
      reinterpret_cast<const char*>(a_ospackageheader.m_au8Tag), a_ospackageheader.m_u32OsFilePackageHeader,
      a_ospackageheader.m_u32OsFilePackageChunk,
      static_cast<unsigned long long>(a_ospackageheader.m_u64TotalOriginalBytes));
}

EOSSTS COsPackageDump::Record(const OsPackageRecord& a_ospackagerecord, std::uint32_t a_u32Count,
                              std::uint64_t a_u64Offset) {
  const OsPackageRecord& l_r = a_ospackagerecord;
  // The name is shown as far as it is terminated inside its bytes.
  char l_szName[OS_PACKAGE_NAME_SIZE + 1];
  std::memcpy(l_szName, l_r.m_szFilename, OS_PACKAGE_NAME_SIZE);
  l_szName[OS_PACKAGE_NAME_SIZE] = '\0';
  EOSSTS l_eossts = Print(
      "\r\nPackage Chunk (count=%d offset=%llu)\r\n u64Size..................%llu\r\n"
      " szFilename...............%s\r\n u32OsFileType............%u (%s)\r\n"
      " u32OsFileAccess..........%u (%s)\r\n",
      static_cast<int>(a_u32Count), static_cast<unsigned long long>(a_u64Offset),
      static_cast<unsigned long long>(l_r.m_u64Size), l_szName, l_r.m_u32OsFileType,
      l_r.m_u32OsFileType == OS_FILE_TYPE_DIRECTORY ? "dir" : "file", l_r.m_u32OsFileAccess,
      l_r.m_u32OsFileAccess == OS_FILE_ACCESS_READ ? "readonly" : "readwrite");
  const OsTimeRecord& l_a = l_r.m_ostimerecordAccessed;
  const OsTimeRecord& l_m = l_r.m_ostimerecordModified;
  if (l_eossts == OS_STS_SUCCESS)
    l_eossts =
        Print(" ostimerecordAccessed.....%04d/%02d/%02d %02d:%02d:%02d.%03d (%d)\r\n", l_a.m_u16Year, l_a.m_u16Month,
              l_a.m_u16Day, l_a.m_u16Hour, l_a.m_u16Minute, l_a.m_u16Second, l_a.m_u16Millisecond, l_a.m_u16DayOfWeek);
  if (l_eossts == OS_STS_SUCCESS)
    l_eossts =
        Print(" ostimerecordModified.....%04d/%02d/%02d %02d:%02d:%02d.%03d (%d)\r\n", l_m.m_u16Year, l_m.m_u16Month,
              l_m.m_u16Day, l_m.m_u16Hour, l_m.m_u16Minute, l_m.m_u16Second, l_m.m_u16Millisecond, l_m.m_u16DayOfWeek);
  return l_eossts;
}

#ifdef _WINDOWS_
#error "format engines are platform-free"
#endif
