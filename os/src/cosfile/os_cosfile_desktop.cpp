// Desktop services: raw printing through the spooler, key input for the
// user, and the save from inside the browser's protected mode. Every
// library they need is looked up at run time in the system directory, so
// the library imports none of them. System sounds are kept apart, in
// os_cosfile_sound.cpp: shut-down releases their library, and a program
// must not get the copy's thread and window code with that call.
#include <atomic>

#include "os_cosfile.h"
#include "os_cosfile_impl.h"
#include "os_costhread.h"
#include "os_log.h"
#include "os_memnew.h"
#include "os_scoped.h"
#include "os_sysinfo.h"
#include "os_win.h"

// The spooler's record types (the lean Windows headers leave them out);
// nothing of winspool is linked.
#include <winspool.h>

#define OS_FILE_IMPL_OR_RETURN(a_ret) OS_RETURN_IF_NULL(m_posfileimpl, OS_LOG_ASSERT, "m_posfileimpl is null...", a_ret)

namespace {

// ---- raw printing ----

// The spooler calls, for one print job: the library goes when the job ends.
struct OsSpoolerApi {
  COsModule m_module;
  decltype(&OpenPrinterA) m_pfnOpenPrinterA = nullptr;
  decltype(&StartDocPrinterA) m_pfnStartDocPrinterA = nullptr;
  decltype(&ClosePrinter) m_pfnClosePrinter = nullptr;
  decltype(&StartPagePrinter) m_pfnStartPagePrinter = nullptr;
  decltype(&EndDocPrinter) m_pfnEndDocPrinter = nullptr;
  decltype(&WritePrinter) m_pfnWritePrinter = nullptr;
  decltype(&EndPagePrinter) m_pfnEndPagePrinter = nullptr;
};

bool LoadSpooler(OsSpoolerApi* a_papi) {
  wchar_t l_wszPath[MAX_PATH];
  a_papi->m_module.Reset(OsSysLoadLibrary(L"winspool.drv", l_wszPath));
  OS_RETURN_IF(!a_papi->m_module, OS_LOG_ERROR, "LoadLibrary failed...<%S>", false, l_wszPath);
  HMODULE const l_hmodule = a_papi->m_module.Get();
  const char* l_szMissing = nullptr;
  if (!OsSysResolve(l_hmodule, "OpenPrinterA", &a_papi->m_pfnOpenPrinterA)) l_szMissing = "OpenPrinterA";
  if (!OsSysResolve(l_hmodule, "StartDocPrinterA", &a_papi->m_pfnStartDocPrinterA)) l_szMissing = "StartDocPrinterA";
  if (!OsSysResolve(l_hmodule, "ClosePrinter", &a_papi->m_pfnClosePrinter)) l_szMissing = "ClosePrinter";
  if (!OsSysResolve(l_hmodule, "StartPagePrinter", &a_papi->m_pfnStartPagePrinter)) l_szMissing = "StartPagePrinter";
  if (!OsSysResolve(l_hmodule, "EndDocPrinter", &a_papi->m_pfnEndDocPrinter)) l_szMissing = "EndDocPrinter";
  if (!OsSysResolve(l_hmodule, "WritePrinter", &a_papi->m_pfnWritePrinter)) l_szMissing = "WritePrinter";
  if (!OsSysResolve(l_hmodule, "EndPagePrinter", &a_papi->m_pfnEndPagePrinter)) l_szMissing = "EndPagePrinter";
  OS_RETURN_IF(l_szMissing != nullptr, OS_LOG_ERROR, "GetProcAddress failed...<%s>", false, l_szMissing);
  return true;
}

// How far a print job got, for its undoing.
enum EOSPRINTSTEP {
  OS_PRINT_NONE,
  OS_PRINT_OPENED,
  OS_PRINT_DOCUMENT,
  OS_PRINT_PAGE,
};

// The step a_szCall failed: logged, and what was reached undone, the last first.
EOSSTS PrintFailed(const OsSpoolerApi& a_api, HANDLE a_hPrinter, EOSPRINTSTEP a_eosprintstep, const char* a_szCall,
                   const char* a_szPrinter) {
  OS_LOGE("PrintRaw failed...<%s> %d <%s>", a_szCall, static_cast<int>(GetLastError()), a_szPrinter);
  if (a_eosprintstep >= OS_PRINT_PAGE) a_api.m_pfnEndPagePrinter(a_hPrinter);
  if (a_eosprintstep >= OS_PRINT_DOCUMENT) a_api.m_pfnEndDocPrinter(a_hPrinter);
  if (a_eosprintstep >= OS_PRINT_OPENED) a_api.m_pfnClosePrinter(a_hPrinter);
  return OS_STS_FAIL;
}

// ---- the window and input calls ----

// user32, for key input and the copy's window. Loaded once and kept for the
// life of the process: the window system does not expect it to go away
// under the windows and the cursor it handed out.
struct OsUserApi {
  decltype(&SendInput) m_pfnSendInput = nullptr;
  decltype(&GetMessageExtraInfo) m_pfnGetMessageExtraInfo = nullptr;
  decltype(&RegisterClassExW) m_pfnRegisterClassExW = nullptr;
  decltype(&UnregisterClassW) m_pfnUnregisterClassW = nullptr;
  decltype(&LoadCursorW) m_pfnLoadCursorW = nullptr;
  decltype(&CreateWindowExW) m_pfnCreateWindowExW = nullptr;
  decltype(&DefWindowProcW) m_pfnDefWindowProcW = nullptr;
  decltype(&PostMessageW) m_pfnPostMessageW = nullptr;
  decltype(&DestroyWindow) m_pfnDestroyWindow = nullptr;
  decltype(&PostQuitMessage) m_pfnPostQuitMessage = nullptr;
  decltype(&GetMessageW) m_pfnGetMessageW = nullptr;
  decltype(&TranslateMessage) m_pfnTranslateMessage = nullptr;
  decltype(&DispatchMessageW) m_pfnDispatchMessageW = nullptr;
};

bool LoadUser(OsUserApi* a_papi) {
  wchar_t l_wszPath[MAX_PATH];
  HMODULE const l_hmodule = OsSysLoadLibrary(L"user32.dll", l_wszPath);
  OS_RETURN_IF_NULL(l_hmodule, OS_LOG_ERROR, "LoadLibrary failed...<%S>", false, l_wszPath);
  const char* l_szMissing = nullptr;
  if (!OsSysResolve(l_hmodule, "SendInput", &a_papi->m_pfnSendInput)) l_szMissing = "SendInput";
  if (!OsSysResolve(l_hmodule, "GetMessageExtraInfo", &a_papi->m_pfnGetMessageExtraInfo))
    l_szMissing = "GetMessageExtraInfo";
  if (!OsSysResolve(l_hmodule, "RegisterClassExW", &a_papi->m_pfnRegisterClassExW)) l_szMissing = "RegisterClassExW";
  if (!OsSysResolve(l_hmodule, "UnregisterClassW", &a_papi->m_pfnUnregisterClassW)) l_szMissing = "UnregisterClassW";
  if (!OsSysResolve(l_hmodule, "LoadCursorW", &a_papi->m_pfnLoadCursorW)) l_szMissing = "LoadCursorW";
  if (!OsSysResolve(l_hmodule, "CreateWindowExW", &a_papi->m_pfnCreateWindowExW)) l_szMissing = "CreateWindowExW";
  if (!OsSysResolve(l_hmodule, "DefWindowProcW", &a_papi->m_pfnDefWindowProcW)) l_szMissing = "DefWindowProcW";
  if (!OsSysResolve(l_hmodule, "PostMessageW", &a_papi->m_pfnPostMessageW)) l_szMissing = "PostMessageW";
  if (!OsSysResolve(l_hmodule, "DestroyWindow", &a_papi->m_pfnDestroyWindow)) l_szMissing = "DestroyWindow";
  if (!OsSysResolve(l_hmodule, "PostQuitMessage", &a_papi->m_pfnPostQuitMessage)) l_szMissing = "PostQuitMessage";
  if (!OsSysResolve(l_hmodule, "GetMessageW", &a_papi->m_pfnGetMessageW)) l_szMissing = "GetMessageW";
  if (!OsSysResolve(l_hmodule, "TranslateMessage", &a_papi->m_pfnTranslateMessage)) l_szMissing = "TranslateMessage";
  if (!OsSysResolve(l_hmodule, "DispatchMessageW", &a_papi->m_pfnDispatchMessageW)) l_szMissing = "DispatchMessageW";
  OS_RETURN_IF(l_szMissing != nullptr, OS_LOG_ERROR, "GetProcAddress failed...<%s>", false, l_szMissing);
  return true;
}

// Null when user32 or one of its calls cannot be had (said once).
const OsUserApi* UserApi() {
  static const OsUserApi s_api = [] {
    OsUserApi l_api;
    return LoadUser(&l_api) ? l_api : OsUserApi{};
  }();
  return s_api.m_pfnSendInput != nullptr ? &s_api : nullptr;
}

// ---- key input ----

// One keyboard event, carrying the current message's extra information as
// the user's own input would.
bool KeyEvent(const OsUserApi& a_api, WORD a_wVirtualKey, bool a_bUp) {
  INPUT l_input = {};
  l_input.type = INPUT_KEYBOARD;
  l_input.ki.wVk = a_wVirtualKey;
  l_input.ki.wScan = 0;
  l_input.ki.dwFlags = a_bUp ? KEYEVENTF_KEYUP : 0;
  l_input.ki.time = 0;
  l_input.ki.dwExtraInfo = static_cast<ULONG_PTR>(a_api.m_pfnGetMessageExtraInfo());
  return a_api.m_pfnSendInput(1, &l_input, sizeof(l_input)) == 1;
}

// ---- protected-mode copy ----

std::atomic<bool> s_bProtectedModeForced{false};

// What the calling thread hands its worker; lives on the caller's stack
// while it waits.
struct OsProtectedModeCopy {
  COsThread* m_posthread;
  char m_szSource[OS_PATH_SIZE];
  char m_szDestination[OS_PATH_SIZE];
  EOSSTS m_eosstsSave;  // OS_STS_NOTCREATED until the save has run
};

constexpr wchar_t s_wszCopyClass[] = L"OsFileProtectedModeCopy";
constexpr UINT OS_COPY_MESSAGE = 0x8000;     // WM_APP: the window's one job
constexpr DWORD OS_COPY_STYLE = 0x14C00300;  // visible, captioned, clipping siblings
constexpr int OS_COPY_POSITION = -100;       // off screen
constexpr int OS_COPY_SIZE = 100;
constexpr int OS_COPY_CREATE_TRIES = 3;

// The worker's state for its window procedure, which runs on the worker's
// own thread; some messages come before the window has any data of its own.
struct OsCopyWorker {
  const OsUserApi* m_papi;
  OsProtectedModeCopy* m_pcopyPending;  // cleared when the save starts: it runs once
};
thread_local OsCopyWorker* t_pworker = nullptr;

LRESULT CALLBACK CopyWindowProc(HWND a_hwnd, UINT a_uMessage, WPARAM a_wparam, LPARAM a_lparam) {
  OsCopyWorker* const l_pworker = t_pworker;
  // A window of this class made by another thread of the process is refused.
  if (l_pworker == nullptr) return 0;
  const OsUserApi& l_api = *l_pworker->m_papi;
  switch (a_uMessage) {
    case WM_CREATE: {
      // The save runs from the queue, once the window exists for the dialog
      // to belong to; without the message the loop would wait for ever.
      void* const l_pv = reinterpret_cast<const CREATESTRUCTW*>(a_lparam)->lpCreateParams;
      return l_api.m_pfnPostMessageW(a_hwnd, OS_COPY_MESSAGE, 0, reinterpret_cast<LPARAM>(l_pv)) ? 0 : -1;
    }
    case OS_COPY_MESSAGE: {
      // Only the record the window was made with: anybody may post to a window.
      OsProtectedModeCopy* const l_pcopy = l_pworker->m_pcopyPending;
      if (l_pcopy == nullptr || a_lparam != reinterpret_cast<LPARAM>(l_pcopy)) return 0;
      l_pworker->m_pcopyPending = nullptr;
      l_pcopy->m_eosstsSave = OsFileProtectedModeSave(l_pcopy->m_szDestination, l_pcopy->m_szSource, a_hwnd);
      if (l_pcopy->m_eosstsSave == OS_STS_SUCCESS) l_pcopy->m_posthread->UserValueSet(0);
      l_api.m_pfnDestroyWindow(a_hwnd);
      return 0;
    }
    case WM_DESTROY: l_api.m_pfnPostQuitMessage(0); return 0;
    default: return l_api.m_pfnDefWindowProcW(a_hwnd, a_uMessage, a_wparam, a_lparam);
  }
}

// Another copy running at the same time may hold the class already, and may
// unregister it between this thread's registration and its window: the
// class is then registered again.
HWND CreateCopyWindow(const OsUserApi& a_api, const WNDCLASSEXW& a_wndclass, OsProtectedModeCopy* a_pcopy) {
  for (int l_iTry = 0; l_iTry < OS_COPY_CREATE_TRIES; ++l_iTry) {
    OS_RETURN_IF(!a_api.m_pfnRegisterClassExW(&a_wndclass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS,
                 OS_LOG_ERROR, "RegisterClassExW failed...%d <%s> <%s>", nullptr, static_cast<int>(GetLastError()),
                 a_pcopy->m_szSource, a_pcopy->m_szDestination);
    HWND const l_hwnd =
        a_api.m_pfnCreateWindowExW(0, s_wszCopyClass, s_wszCopyClass, OS_COPY_STYLE, OS_COPY_POSITION, OS_COPY_POSITION,
                                   OS_COPY_SIZE, OS_COPY_SIZE, nullptr, nullptr, a_wndclass.hInstance, a_pcopy);
    if (l_hwnd != nullptr) return l_hwnd;
    if (GetLastError() != ERROR_CANNOT_FIND_WND_CLASS) break;
  }
  OS_LOGE("CreateWindowExW failed...%d <%s> <%s>", static_cast<int>(GetLastError()), a_pcopy->m_szSource,
          a_pcopy->m_szDestination);
  return nullptr;
}

EOSSTS __stdcall ProtectedModeWorker(COsThread* a_posthread) {
  OsProtectedModeCopy* const l_pcopy = static_cast<OsProtectedModeCopy*>(a_posthread->ArgGet());
  const OsUserApi* const l_papi = UserApi();
  if (l_papi == nullptr) return OS_STS_FAIL;
  WNDCLASSEXW l_wndclass = {};
  l_wndclass.cbSize = sizeof(l_wndclass);
  l_wndclass.lpfnWndProc = CopyWindowProc;
  l_wndclass.hInstance = OsSysLibraryModule();
  l_wndclass.hCursor = l_papi->m_pfnLoadCursorW(nullptr, IDC_ARROW);
  l_wndclass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  l_wndclass.lpszClassName = s_wszCopyClass;
  OsCopyWorker l_worker = {l_papi, l_pcopy};
  t_pworker = &l_worker;
  if (CreateCopyWindow(*l_papi, l_wndclass, l_pcopy) != nullptr) {
    MSG l_msg;
    while (l_papi->m_pfnGetMessageW(&l_msg, nullptr, 0, 0) > 0) {
      l_papi->m_pfnTranslateMessage(&l_msg);
      l_papi->m_pfnDispatchMessageW(&l_msg);
    }
  }
  t_pworker = nullptr;
  // A class left behind would outlive a library that is unloaded. Every
  // copy tries: it fails while another copy's window still uses the class,
  // so the last one out removes it.
  l_papi->m_pfnUnregisterClassW(s_wszCopyClass, l_wndclass.hInstance);
  return OS_STS_SUCCESS;
}

// The browser's save calls. The frame library is only looked up: it is the
// browser's, in the process the browser runs, never one to load here.
struct OsBrowserSaveApi {
  COsModule m_ole32;
  HRESULT(WINAPI* m_pfnIESaveFile)(HANDLE, LPCWSTR) = nullptr;
  HRESULT(WINAPI* m_pfnIECancelSaveFile)(HANDLE) = nullptr;
  HRESULT(WINAPI* m_pfnIEShowSaveFileDialog)
  (HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, DWORD, DWORD, LPWSTR*, HANDLE*) = nullptr;
  void(WINAPI* m_pfnCoTaskMemFree)(LPVOID) = nullptr;  // for the chosen path
};

bool LoadBrowserSave(OsBrowserSaveApi* a_papi, const char* a_szSource, const char* a_szDestination) {
  HMODULE const l_hmodule = GetModuleHandleW(L"IEFRAME.DLL");
  OS_RETURN_IF_NULL(l_hmodule, OS_LOG_ERROR, "GetModuleHandleW failed...<%s> <%s>", false, a_szSource, a_szDestination);
  wchar_t l_wszPath[MAX_PATH];
  a_papi->m_ole32.Reset(OsSysLoadLibrary(L"ole32.dll", l_wszPath));
  const bool l_bAll = OsSysResolve(l_hmodule, "IESaveFile", &a_papi->m_pfnIESaveFile) &&
                      OsSysResolve(l_hmodule, "IECancelSaveFile", &a_papi->m_pfnIECancelSaveFile) &&
                      OsSysResolve(l_hmodule, "IEShowSaveFileDialog", &a_papi->m_pfnIEShowSaveFileDialog) &&
                      OsSysResolve(a_papi->m_ole32.Get(), "CoTaskMemFree", &a_papi->m_pfnCoTaskMemFree);
  OS_RETURN_IF(!l_bAll, OS_LOG_ERROR, "GetProcAddress failed...<%s> <%s>", false, a_szSource, a_szDestination);
  return true;
}

}  // namespace

// ---- raw printing ----

EOSSTS COsFile::PrintRaw(const char* a_szPrinter, const void* a_pvData, std::uint32_t a_u32Bytes) {
  OS_FILE_IMPL_OR_RETURN(OS_STS_FAIL);
  OsSpoolerApi l_api;
  if (!LoadSpooler(&l_api)) return OS_STS_FAIL;
  char l_szDocument[] = "My Document";
  char l_szDatatype[] = "RAW";
  DOC_INFO_1A l_docinfo = {l_szDocument, nullptr, l_szDatatype};
  HANDLE l_hPrinter = nullptr;
  DWORD l_dwWritten = 0;
  if (!l_api.m_pfnOpenPrinterA(const_cast<char*>(a_szPrinter), &l_hPrinter, nullptr))
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_NONE, "OpenPrinterA", a_szPrinter);
  if (l_api.m_pfnStartDocPrinterA(l_hPrinter, 1, reinterpret_cast<BYTE*>(&l_docinfo)) == 0)
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_OPENED, "StartDocPrinterA", a_szPrinter);
  if (!l_api.m_pfnStartPagePrinter(l_hPrinter))
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_DOCUMENT, "StartPagePrinter", a_szPrinter);
  if (!l_api.m_pfnWritePrinter(l_hPrinter, const_cast<void*>(a_pvData), a_u32Bytes, &l_dwWritten))
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_PAGE, "WritePrinter", a_szPrinter);
  // A failed end is not tried again: what comes before it is undone.
  if (!l_api.m_pfnEndPagePrinter(l_hPrinter))
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_DOCUMENT, "EndPagePrinter", a_szPrinter);
  if (!l_api.m_pfnEndDocPrinter(l_hPrinter))
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_OPENED, "EndDocPrinter", a_szPrinter);
  if (!l_api.m_pfnClosePrinter(l_hPrinter))
    return PrintFailed(l_api, l_hPrinter, OS_PRINT_NONE, "ClosePrinter", a_szPrinter);
  return l_dwWritten == a_u32Bytes ? OS_STS_SUCCESS : OS_STS_FAIL;
}

// ---- key input ----

EOSSTS SendKey(EOSFILEKEY a_eosFileKey, bool a_bShift, bool a_bCtrl, bool a_bAlt) {
  OS_RETURN_IF(a_eosFileKey != OS_FILE_KEY_F11, OS_LOG_ERROR, "a_eosFileKey is bad...", OS_STS_FAIL);
  const int l_iKey = static_cast<int>(a_eosFileKey);
  const OsUserApi* const l_papi = UserApi();
  if (l_papi == nullptr) return OS_STS_FAIL;
  const OsUserApi& l_api = *l_papi;
  OS_RETURN_IF(a_bShift && !KeyEvent(l_api, VK_SHIFT, false), OS_LOG_ERROR, "SendInput(Shift key) failed...",
               OS_STS_FAIL);
  OS_RETURN_IF(a_bCtrl && !KeyEvent(l_api, VK_CONTROL, false), OS_LOG_ERROR, "SendInput(Ctrl key) failed...",
               OS_STS_FAIL);
  OS_RETURN_IF(a_bAlt && !KeyEvent(l_api, VK_MENU, false), OS_LOG_ERROR, "SendInput(Menu key) failed...", OS_STS_FAIL);
  OS_RETURN_IF(!KeyEvent(l_api, VK_F11, false), OS_LOG_ERROR, "SendInput(input key) failed...%d", OS_STS_FAIL, l_iKey);
  OS_RETURN_IF(!KeyEvent(l_api, VK_F11, true), OS_LOG_ERROR, "Key up(input key) failed...%d", OS_STS_FAIL, l_iKey);
  OS_RETURN_IF(a_bShift && !KeyEvent(l_api, VK_SHIFT, true), OS_LOG_ERROR, "Key up(Shift key) failed...", OS_STS_FAIL);
  OS_RETURN_IF(a_bCtrl && !KeyEvent(l_api, VK_CONTROL, true), OS_LOG_ERROR, "Key up(Ctrl key) failed...", OS_STS_FAIL);
  OS_RETURN_IF(a_bAlt && !KeyEvent(l_api, VK_MENU, true), OS_LOG_ERROR, "Key up(Menu key) failed...", OS_STS_FAIL);
  return OS_STS_SUCCESS;
}

// ---- protected-mode copy ----

void OsFileProtectedModeForce(bool a_bForce) { s_bProtectedModeForced.store(a_bForce); }

EOSSTS OsFileProtectedModeCopy(const char* a_szFilename, const char* a_szNewFilename) {
  OS_RETURN_IF_NULL(a_szFilename, OS_LOG_ASSERT, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szNewFilename, OS_LOG_ASSERT, "a_szNewFilename is NULL...", OS_STS_BADARG);
  // Below medium integrity in the browser's protected mode.
  if (!s_bProtectedModeForced.load() && OsProcessIntegrityGet() != 1) return OsFileCopy(a_szFilename, a_szNewFilename);

  OsProtectedModeCopy l_copy = {};
  l_copy.m_eosstsSave = OS_STS_NOTCREATED;
  // A path cut to fit would name another file: such a copy is left to
  // OsFileCopy, which refuses it.
  if (!OsFilePathCopy(l_copy.m_szSource, sizeof(l_copy.m_szSource), a_szFilename) ||
      !OsFilePathCopy(l_copy.m_szDestination, sizeof(l_copy.m_szDestination), a_szNewFilename))
    return OsFileCopy(a_szFilename, a_szNewFilename);
  l_copy.m_posthread = OsMemNew(COsThread, "COsThread");
  if (l_copy.m_posthread == nullptr) {
    OS_LOGE("OsMemNew failed...<%s> <%s>", a_szFilename, a_szNewFilename);
    return OsFileCopy(a_szFilename, a_szNewFilename);
  }
  // The worker clears the word once the file is saved.
  l_copy.m_posthread->UserValueSet(1);
  bool l_bWaited = false;
  if (l_copy.m_posthread->Start("protectedmodecopy", ProtectedModeWorker, &l_copy) != OS_STS_SUCCESS)
    OS_LOGE("Start failed...<%s> <%s>", a_szFilename, a_szNewFilename);
  else if (l_copy.m_posthread->WaitForExit(-1) != OS_STS_SUCCESS)  // the longest wait there is
    OS_LOGE("ThreadWait failed...<%s> <%s>", a_szFilename, a_szNewFilename);
  else
    l_bWaited = true;
  // A worker still running is stopped here, before the record it uses goes.
  OsMemDelete(l_copy.m_posthread);
  l_copy.m_posthread = nullptr;
  // The save's own answer: a cancelled or failed save is no copy.
  if (l_bWaited && l_copy.m_eosstsSave != OS_STS_NOTCREATED) return l_copy.m_eosstsSave;
  return OsFileCopy(a_szFilename, a_szNewFilename);
}

EOSSTS OsFileProtectedModeSave(const char* a_szDestination, const char* a_szSource, void* a_pvWindow) {
  OS_RETURN_IF_NULL(a_szSource, OS_LOG_ASSERT, "a_szFilename is null...", OS_STS_BADARG);
  OS_RETURN_IF_NULL(a_szDestination, OS_LOG_ASSERT, "a_szNewFilename is NULL...", OS_STS_BADARG);
  // Outside the browser there is nothing to go through: a plain copy.
  OsBrowserSaveApi l_api;
  if (!LoadBrowserSave(&l_api, a_szSource, a_szDestination)) return OsFileCopy(a_szSource, a_szDestination);

  char l_szSource[OS_PATH_SIZE];
  char* l_szName = nullptr;
  wchar_t l_wszSource[OS_WPATH_SIZE];
  wchar_t l_wszName[OS_WPATH_SIZE];
  wchar_t l_wszDestination[OS_WPATH_SIZE];
  if (!OsFilePathCopy(l_szSource, sizeof(l_szSource), a_szSource)) return OS_STS_FAIL;
  OsFilePathSplit(l_szSource, nullptr, &l_szName);
  if (!OsFileToWide(l_szSource, l_wszSource) || !OsFileToWide(l_szName, l_wszName) ||
      !OsFileToWide(a_szDestination, l_wszDestination))
    return OS_STS_FAIL;

  constexpr DWORD OS_SAVE_FILTER_INDEX = 1;
  constexpr DWORD OS_SAVE_FLAGS = 0x8002;  // OFN_NOREADONLYRETURN | OFN_OVERWRITEPROMPT
  LPWSTR l_wszChosen = nullptr;
  HANDLE l_hState = nullptr;
  const HRESULT l_hrDialog =
      l_api.m_pfnIEShowSaveFileDialog(static_cast<HWND>(a_pvWindow), l_wszName, l_wszDestination, L"|*.*|", nullptr,
                                      OS_SAVE_FILTER_INDEX, OS_SAVE_FLAGS, &l_wszChosen, &l_hState);
  OS_RETURN_IF(l_hrDialog != S_OK, OS_LOG_ERROR, "user cancelled IEShowSaveFileDialog...0x%x <%s> <%s>", OS_STS_FAIL,
               static_cast<unsigned>(l_hrDialog), a_szSource, a_szDestination);
  const bool l_bSame = l_wszChosen != nullptr && lstrcmpiW(l_wszChosen, l_wszSource) == 0;
  l_api.m_pfnCoTaskMemFree(l_wszChosen);
  if (l_bSame) {
    l_api.m_pfnIECancelSaveFile(l_hState);
    OS_LOGE("Source and destination are the same...<%s> <%s>", a_szSource, a_szDestination);
    return OS_STS_EXISTS;
  }
  const HRESULT l_hrSave = l_api.m_pfnIESaveFile(l_hState, l_wszSource);
  OS_RETURN_IF(l_hrSave != S_OK, OS_LOG_ERROR, "IESaveFile failed...0x%x <%s> <%s>", OS_STS_FAIL,
               static_cast<unsigned>(l_hrSave), a_szSource, a_szDestination);
  return OS_STS_SUCCESS;
}
