// Writing named data blocks into files: as raw-data resources of an
// executable, or as slots of the resource trailer behind a file's own bytes.
#include <cstring>

#include "os_cosfile.h"
#include "os_coslocale.h"
#include "os_cosmem.h"
#include "os_cosresource.h"
#include "os_cosresource_impl.h"
#include "os_cosresource_trailer.h"
#include "os_log.h"
#include "os_scoped.h"
#include "os_sysinfo.h"

namespace {

// ---- resource mode ----

// The certificate calls of Imagehlp.dll, from the system directory's copy
// (a copy beside the program could be anybody's), for one update.
struct OsResourceImagehlpApi {
  COsModule m_module;
  BOOL(WINAPI* m_pfnImageEnumerateCertificates)(HANDLE, WORD, PDWORD, PDWORD, DWORD) = nullptr;
  BOOL(WINAPI* m_pfnImageRemoveCertificate)(HANDLE, DWORD) = nullptr;
};

constexpr WORD OS_CERT_SECTION_TYPE_ANY = 0xFF;
constexpr DWORD OS_RESOURCE_CERTIFICATES = 32;

bool LoadImagehlp(OsResourceImagehlpApi* a_papi) {
  wchar_t l_wszPath[MAX_PATH];
  a_papi->m_module.Reset(OsSysLoadLibrary(L"Imagehlp.dll", l_wszPath));
  if (!a_papi->m_module) {
    OS_LOGE("LoadLibraryW failed...<%s>", "Imagehlp.dll");
    return false;
  }
  HMODULE const l_hmodule = a_papi->m_module.Get();
  const char* l_szMissing = nullptr;
  if (!OsSysResolve(l_hmodule, "ImageEnumerateCertificates", &a_papi->m_pfnImageEnumerateCertificates))
    l_szMissing = "ImageEnumerateCertificates";
  else if (!OsSysResolve(l_hmodule, "ImageRemoveCertificate", &a_papi->m_pfnImageRemoveCertificate))
    l_szMissing = "ImageRemoveCertificate";
  if (l_szMissing != nullptr) {
    OS_LOGE("GetProcAddress failed...<%s>", l_szMissing);
    return false;
  }
  return true;
}

// Removes every certificate of the file (up to 32), the last one first.
EOSSTS RemoveCertificates(const char* a_szFilename, const wchar_t* a_wszFilename) {
  COsHandle l_file(CreateFileW(a_wszFilename, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  OS_RETURN_IF(!l_file, OS_LOG_ERROR, "CreateFile failed...<%s>", OS_STS_FAIL, a_szFilename);
  OsResourceImagehlpApi l_api;
  if (!LoadImagehlp(&l_api)) return OS_STS_FAIL;
  DWORD l_dwCount = 0;
  DWORD l_adwIndex[OS_RESOURCE_CERTIFICATES] = {};
  OS_RETURN_IF(!l_api.m_pfnImageEnumerateCertificates(l_file.Get(), OS_CERT_SECTION_TYPE_ANY, &l_dwCount, l_adwIndex,
                                                      OS_RESOURCE_CERTIFICATES),
               OS_LOG_ERROR, "ImageEnumerateCertificates failed...<%s> %d", OS_STS_FAIL, a_szFilename,
               static_cast<int>(GetLastError()));
  for (DWORD l_dw = l_dwCount < OS_RESOURCE_CERTIFICATES ? l_dwCount : OS_RESOURCE_CERTIFICATES; l_dw > 0; --l_dw)
    OS_RETURN_IF(!l_api.m_pfnImageRemoveCertificate(l_file.Get(), l_adwIndex[l_dw - 1]), OS_LOG_ERROR,
                 "ImageRemoveCertificate failed...<%s> %d", OS_STS_FAIL, a_szFilename,
                 static_cast<int>(GetLastError()));
  FlushFileBuffers(l_file.Get());
  return OS_STS_SUCCESS;
}

EOSSTS UpdateAsResource(const char* a_szFilename, const char* a_szResourceName, std::uint32_t a_u32Size,
                        const void* a_pvBytes) {
  wchar_t l_wszFilename[OS_PATH_SIZE];
  wchar_t l_wszName[OS_RESOURCE_NAME_CHARS + 1];
  OS_RETURN_IF(CopyStringFromUtf8(l_wszFilename, OS_PATH_SIZE, a_szFilename) <= 0, OS_LOG_ERROR,
               "CreateFile failed...<%s>", OS_STS_FAIL, a_szFilename);
  OS_RETURN_IF(!OsResourceWideName(a_szResourceName, l_wszName), OS_LOG_ERROR, "UpdateResource failed...<%s>",
               OS_STS_FAIL, a_szResourceName);
  if (RemoveCertificates(a_szFilename, l_wszFilename) != OS_STS_SUCCESS) return OS_STS_FAIL;

  HANDLE const l_hUpdate = BeginUpdateResourceW(l_wszFilename, FALSE);
  if (l_hUpdate == nullptr) {
    OS_LOGI("BeginUpdateResource failed...<%s>", a_szFilename);
    return OS_STS_FAIL;
  }
  if (!UpdateResourceW(l_hUpdate, MAKEINTRESOURCEW(10) /* RT_RCDATA */, l_wszName,
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), const_cast<void*>(a_pvBytes), a_u32Size)) {
    OS_LOGI("UpdateResource failed...<%s>", a_szResourceName);
    EndUpdateResourceW(l_hUpdate, TRUE);
    return OS_STS_FAIL;
  }
  OS_RETURN_IF(!EndUpdateResourceW(l_hUpdate, FALSE), OS_LOG_ERROR, "::EndUpdateResource failed...%s", OS_STS_FAIL,
               a_szFilename);
  return OS_STS_SUCCESS;
}

// ---- trailer mode ----

// A tracked buffer of one update (none for 0 bytes); m_pu8 is null when it
// could not be had.
class COsTrailerBuffer {
 public:
  explicit COsTrailerBuffer(std::uint64_t a_u64Size) : m_u64Size(a_u64Size) {
    if (a_u64Size > 0 && a_u64Size <= OS_TRAILER_TAIL_MAX)
      m_pu8 = static_cast<std::uint8_t*>(OS_MEM_ALLOC(static_cast<std::uint32_t>(a_u64Size), "resource trailer"));
  }
  ~COsTrailerBuffer() {
    if (m_pu8 != nullptr) OS_MEM_FREE(m_pu8);
  }
  COsTrailerBuffer(const COsTrailerBuffer&) = delete;
  COsTrailerBuffer& operator=(const COsTrailerBuffer&) = delete;
  bool IsValid() const { return m_u64Size == 0 || m_pu8 != nullptr; }

  // The largest tail held in memory: one read or write of the file object.
  static constexpr std::uint64_t OS_TRAILER_TAIL_MAX = 0x7FFFFFFF;
  std::uint8_t* m_pu8 = nullptr;
  const std::uint64_t m_u64Size;
};

// The file object's positioning and truncation report no failure of their
// own: where it matters, the position or size reached is read back.
bool Seek(COsFile* a_posfile, std::uint64_t a_u64Offset) {
  std::uint64_t l_u64At = 0;
  return a_posfile->SetFilePointer64(OS_FILE_POINTER_BEGIN, static_cast<std::int64_t>(a_u64Offset)) == OS_STS_SUCCESS &&
         a_posfile->GetFilePointer64(&l_u64At) == OS_STS_SUCCESS && l_u64At == a_u64Offset;
}

bool ReadAt(COsFile* a_posfile, std::uint64_t a_u64Offset, std::uint8_t* a_pu8, std::uint64_t a_u64Bytes) {
  if (!Seek(a_posfile, a_u64Offset)) return false;
  for (std::uint64_t l_u64Done = 0; l_u64Done < a_u64Bytes;) {
    std::uint32_t l_u32Read = 0;
    if (a_posfile->Read(a_pu8 + l_u64Done, static_cast<std::uint32_t>(a_u64Bytes - l_u64Done), &l_u32Read) !=
            OS_STS_SUCCESS ||
        l_u32Read == 0)
      return false;
    l_u64Done += l_u32Read;
  }
  return true;
}

bool WriteAt(COsFile* a_posfile, std::uint64_t a_u64Offset, const std::uint8_t* a_pu8, std::uint64_t a_u64Bytes) {
  if (a_u64Bytes == 0) return true;
  std::uint32_t l_u32Written = 0;
  return Seek(a_posfile, a_u64Offset) &&
         a_posfile->Write(a_pu8, static_cast<std::uint32_t>(a_u64Bytes), &l_u32Written) == OS_STS_SUCCESS &&
         l_u32Written == a_u64Bytes;
}

bool CutAt(COsFile* a_posfile, std::uint64_t a_u64Length) {
  std::uint64_t l_u64Size = 0;
  return Seek(a_posfile, a_u64Length) && a_posfile->SetEndOfFile() == OS_STS_SUCCESS &&
         a_posfile->Size64(&l_u64Size) == OS_STS_SUCCESS && l_u64Size == a_u64Length;
}

// Replaces the file's tail behind a_u64Base (the old bytes a_old, the new
// a_new) from the first byte where they differ. A failure puts the old bytes
// and length back, so that the file is as it was.
EOSSTS ReplaceTail(COsFile* a_posfile, const char* a_szFilename, std::uint64_t a_u64Base, const COsTrailerBuffer& a_old,
                   const COsTrailerBuffer& a_new) {
  const std::uint64_t l_u64Common = a_old.m_u64Size < a_new.m_u64Size ? a_old.m_u64Size : a_new.m_u64Size;
  std::uint64_t l_u64From = 0;
  while (l_u64From < l_u64Common && a_old.m_pu8[l_u64From] == a_new.m_pu8[l_u64From]) ++l_u64From;
  if (l_u64From == a_old.m_u64Size && l_u64From == a_new.m_u64Size) return OS_STS_SUCCESS;
  if (WriteAt(a_posfile, a_u64Base + l_u64From, a_new.m_pu8 + l_u64From, a_new.m_u64Size - l_u64From) &&
      (a_new.m_u64Size >= a_old.m_u64Size || CutAt(a_posfile, a_u64Base + a_new.m_u64Size)))
    return OS_STS_SUCCESS;
  OS_LOGE("Write failed...<%s>", a_szFilename);
  if (!WriteAt(a_posfile, a_u64Base + l_u64From, a_old.m_pu8 + l_u64From, a_old.m_u64Size - l_u64From) ||
      !CutAt(a_posfile, a_u64Base + a_old.m_u64Size))
    OS_LOGE("The file could not be put back as it was...<%s>", a_szFilename);
  return OS_STS_FAIL;
}

EOSSTS UpdateInTrailer(const char* a_szFilename, const char* a_szResourceName, std::uint32_t a_u32Size,
                       const std::uint8_t* a_pu8Bytes) {
  COsFile l_osfileBinary;
  OS_RETURN_IF(l_osfileBinary.Open(a_szFilename, OS_FILE_OPEN_EXISTING, OS_FILE_ACCESS_READWRITE, OS_FILE_SHARE_READ) !=
                   OS_STS_SUCCESS,
               OS_LOG_ERROR, "osfileBinary.Open...<%s>", OS_STS_FAIL, a_szFilename);
  std::uint64_t l_u64FileSize = 0;
  OS_RETURN_IF(l_osfileBinary.Size64(&l_u64FileSize) != OS_STS_SUCCESS, OS_LOG_ERROR, "osfileBinary.Read failed...<%s>",
               OS_STS_FAIL, a_szFilename);

  // The trailer is judged before anything else is read or written.
  std::uint8_t l_au8Last[OS_TRAILER_SIZE];
  const std::uint32_t l_u32Last =
      l_u64FileSize < OS_TRAILER_SIZE ? static_cast<std::uint32_t>(l_u64FileSize) : OS_TRAILER_SIZE;
  OS_RETURN_IF(!ReadAt(&l_osfileBinary, l_u64FileSize - l_u32Last, l_au8Last, l_u32Last), OS_LOG_ERROR,
               "osfileBinary.Read failed...<%s>", OS_STS_FAIL, a_szFilename);
  OsResourceTrailer l_osresourcetrailer;
  OS_RETURN_IF(OsResourceTrailerParse(l_au8Last, l_u32Last, l_u64FileSize, &l_osresourcetrailer) != OS_STS_SUCCESS,
               OS_LOG_ERROR, "The resource trailer is damaged, the file stays as it is...<%s>", OS_STS_FAIL,
               a_szFilename);
  OsResourceTrailerPlan l_osresourcetrailerplan;
  if (OsResourceTrailerPlanUpdate(l_osresourcetrailer, a_szResourceName, a_u32Size, &l_osresourcetrailerplan) !=
      OS_STS_SUCCESS)
    return OS_STS_FAIL;

  // The blocks and the trailer behind the base body, as they are and as
  // they will be.
  const std::uint64_t l_u64Base = l_osresourcetrailer.m_u64Base;
  COsTrailerBuffer l_old(l_u64FileSize - l_u64Base);
  COsTrailerBuffer l_new(l_osresourcetrailerplan.m_u64TailSize);
  OS_RETURN_IF(!l_old.IsValid() || !l_new.IsValid(), OS_LOG_ERROR, "OsMemAlloc failed...<%s>", OS_STS_FAIL,
               a_szFilename);
  OS_RETURN_IF(!ReadAt(&l_osfileBinary, l_u64Base, l_old.m_pu8, l_old.m_u64Size), OS_LOG_ERROR,
               "osfileBinary.Read failed...<%s>", OS_STS_FAIL, a_szFilename);
  if (OsResourceTrailerBuildTail(l_osresourcetrailer, l_old.m_pu8, l_old.m_u64Size, l_osresourcetrailerplan, a_pu8Bytes,
                                 l_new.m_pu8, l_new.m_u64Size) != OS_STS_SUCCESS)
    return OS_STS_FAIL;
  return ReplaceTail(&l_osfileBinary, a_szFilename, l_u64Base, l_old, l_new);
}

}  // namespace

EOSSTS COsResource::Update(const char* a_szFilename, const char* a_szResourceName, int a_iType, std::uint32_t a_u32Size,
                           const void* a_pvBytes, bool a_bTrailerMode) {
  OS_RESOURCE_IMPL_OR_RETURN(OS_STS_FAIL);
  OS_RETURN_IF(a_szFilename == nullptr, OS_LOG_ASSERT, "a_szFilename is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_szResourceName == nullptr, OS_LOG_ASSERT, "a_szResourceName is NULL...", OS_STS_BADARG);
  OS_RETURN_IF(a_szResourceName[0] == 0, OS_LOG_ASSERT, "a_szResourceName is empty...", OS_STS_BADARG);
  // Checked first: a refused update must not have stripped the certificates.
  OS_RETURN_IF(a_iType != OS_RESOURCE_TYPE_RCDATA, OS_LOG_ERROR, "Unrecognized resource type: %d", OS_STS_FAIL,
               a_iType);
  // No bytes, or none of them, remove the block.
  const std::uint32_t l_u32Size = a_pvBytes != nullptr ? a_u32Size : 0;
  const void* const l_pvBytes = l_u32Size != 0 ? a_pvBytes : nullptr;
  if (a_bTrailerMode)
    return UpdateInTrailer(a_szFilename, a_szResourceName, l_u32Size, static_cast<const std::uint8_t*>(l_pvBytes));
  return UpdateAsResource(a_szFilename, a_szResourceName, l_u32Size, l_pvBytes);
}
