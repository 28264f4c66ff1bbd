// The suite's interface library: its reply to "interfaceopen", asked once
// and kept, and the "interfaceclose" it is told when the configuration ends.
#include <cstring>

#include "os_coscfg.h"
#include "os_coscfg_impl.h"
#include "os_cosfile.h"
#include "os_cosmem.h"
#include "os_cosstring.h"
#include "os_cosxmltask.h"
#include "os_log.h"
#include "os_memnew.h"

namespace {

constexpr std::uint32_t OS_CFG_INTERFACE_REPLY_SIZE = 2048;
constexpr char OS_CFG_INTERFACE_LIBRARY[] = "rarir";
constexpr char OS_CFG_INTERFACE_CLOSE[] = "<task><interfaceclose></interfaceclose></task>";

// The library's one entry: a task text in, a reply text out (owned by the library).
typedef const char* (*OsCfgInterfaceEntry)(const char* a_szTask);

// Loads the interface library from the first place that has it: the driver
// path, the system directory, the model directory, "lib", and then by name.
// A directory that is not known is not tried (an empty one would make the
// name root-relative).
bool LoadInterface(COsCfg* a_poscfg, COsFile* a_posfile) {
  const char* const l_aszDirectory[] = {
      a_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_DRIVERPATH),
      a_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_SYSTEMDIRECTORY),
      a_poscfg->GetItem(OS_CFGSECTION_MAIN, OS_CFGTAG_MODELDIRECTORY),
      "lib",
  };
  for (const char* const l_szDirectory : l_aszDirectory) {
    char l_szPath[OS_PATH_SIZE];
    if (l_szDirectory == nullptr || l_szDirectory[0] == 0 ||
        !OsFilePathJoin(l_szPath, sizeof(l_szPath), l_szDirectory, OS_CFG_INTERFACE_LIBRARY))
      continue;
    if (a_posfile->SharedLibraryLoad(l_szPath, OS_FILE_OPEN_CREATE, nullptr, 0) == OS_STS_SUCCESS) return true;
  }
  return a_posfile->SharedLibraryLoad(OS_CFG_INTERFACE_LIBRARY, OS_FILE_OPEN_CREATE, nullptr, 0) == OS_STS_SUCCESS;
}

// The "interfaceopen" task, sent to the library's entry; its reply is kept
// cut to the reply buffer (empty when the library answers nothing). False,
// with nothing sent, when the task cannot be built.
bool AskInterface(OsCfgInterfaceEntry a_pfnEntry, char* a_szReply) {
  COsXmlTask l_osxmltask(nullptr, 0);
  l_osxmltask.TaskBegin(0, 0, nullptr);
  l_osxmltask.ElementAdd("interfaceopen", "", true);
  l_osxmltask.TaskEnd();
  if (l_osxmltask.ErrorGet(false)) return false;
  const char* const l_szReply = a_pfnEntry(l_osxmltask.BufferGet());
  a_szReply[0] = 0;
  if (l_szReply != nullptr)
    SStrNcpy(a_szReply, OS_CFG_INTERFACE_REPLY_SIZE, l_szReply, OS_CFG_INTERFACE_REPLY_SIZE - 1);
  return true;
}

}  // namespace

const char* COsCfg::InterfaceInfo() {
  OS_RETURN_IF_NULL(m_poscfgimpl, OS_LOG_ASSERT, "m_poscfgimpl is null...", nullptr);
  COsCfgImpl& l_c = *m_poscfgimpl;
  if (l_c.m_szInterfaceInfo != nullptr) return l_c.m_szInterfaceInfo;

  char* const l_szReply = static_cast<char*>(OS_MEM_ALLOC(OS_CFG_INTERFACE_REPLY_SIZE, "interface reply"));
  OS_RETURN_IF_NULL(l_szReply, OS_LOG_ASSERT, "OsMemAlloc failed...", nullptr);
  COsFile* const l_posfile = OsMemNew(COsFile, "COsFile");
  // A file object without its implementation loads nothing: memory is
  // short, which is no answer that the library is absent.
  if (l_posfile == nullptr || l_posfile->m_posfileimpl == nullptr) {
    OsMemDelete(l_posfile);
    OS_MEM_FREE(l_szReply);
    return nullptr;
  }
  if (!LoadInterface(this, l_posfile)) {
    OsMemDelete(l_posfile);
    SStrCpy(l_szReply, OS_CFG_INTERFACE_REPLY_SIZE, OsXmlTaskStatusSuccess());
    l_c.m_szInterfaceInfo = l_szReply;
    return l_szReply;
  }
  void* const l_pfnEntry = l_posfile->SharedLibraryGetProc("RarirEntry", OsLibrarySelf(), OS_LIBPROC_PLAIN);
  if (l_pfnEntry == nullptr) {
    OS_LOGA("SharedLibraryGetProc failed...");
    OsMemDelete(l_posfile);
    OS_MEM_FREE(l_szReply);
    return nullptr;
  }
  if (!AskInterface(reinterpret_cast<OsCfgInterfaceEntry>(l_pfnEntry), l_szReply)) {
    // Not opened, so not to be closed: the next call asks again.
    OsMemDelete(l_posfile);
    OS_MEM_FREE(l_szReply);
    return nullptr;
  }
  l_c.m_posfileInterface = l_posfile;
  l_c.m_pfnInterfaceEntry = l_pfnEntry;
  l_c.m_szInterfaceInfo = l_szReply;
  return l_szReply;
}

void OsCfgInterfaceClose(COsCfgImpl* a_poscfgimpl) {
  if (a_poscfgimpl->m_pfnInterfaceEntry != nullptr)
    reinterpret_cast<OsCfgInterfaceEntry>(a_poscfgimpl->m_pfnInterfaceEntry)(OS_CFG_INTERFACE_CLOSE);
  OsMemDelete(a_poscfgimpl->m_posfileInterface);
  if (a_poscfgimpl->m_szInterfaceInfo != nullptr) OS_MEM_FREE(a_poscfgimpl->m_szInterfaceInfo);
  a_poscfgimpl->m_posfileInterface = nullptr;
  a_poscfgimpl->m_pfnInterfaceEntry = nullptr;
  a_poscfgimpl->m_szInterfaceInfo = nullptr;
}
